// Choosing which processor-specific forms the codec runs in tests. Every such form is
// picked from the process-wide processor words when an engine is made, so lowering them
// forces the portable forms.
#pragma once

#include "codec/core/rvd_processor.h"

namespace codec_test {

// Sets the processor words for its lifetime and restores them however the scope ends.
class processor_form_guard {
public:
    explicit processor_form_guard(int mmx_level, bool cmov = rvd_pentium_cmov_exists)
        : saved_level(rvd_mmx_level), saved_cmov(rvd_pentium_cmov_exists)
    {
        rvd_mmx_level = mmx_level;
        rvd_pentium_cmov_exists = cmov;
    }
    ~processor_form_guard()
    {
        rvd_mmx_level = saved_level;
        rvd_pentium_cmov_exists = saved_cmov;
    }
    processor_form_guard(const processor_form_guard&) = delete;
    processor_form_guard& operator=(const processor_form_guard&) = delete;

private:
    int saved_level;
    bool saved_cmov;
};

// Applies ORBEL_CODEC_FORM once the start-up probes have run: "portable" forces the
// portable forms for the whole run, a number 0-4 forces that processor level (never above
// the probed one), "native" or no value keeps what the probes found.
void apply_form_from_environment();

} // namespace codec_test
