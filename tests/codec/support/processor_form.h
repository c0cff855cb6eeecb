// Choosing which processor-specific forms the codec runs in tests. Every such form is
// picked from the process-wide processor words when an engine is made, so lowering them
// forces the portable forms.
#pragma once

#include "codec/core/rvd_processor.h"

#include <vector>

namespace codec_test {

// Sets the processor words for its lifetime and restores them however the scope ends. The
// wide-vector level keeps its value unless given, and drops to 0 below SSE2.
class processor_form_guard {
public:
    explicit processor_form_guard(int mmx_level, bool cmov = rvd_pentium_cmov_exists,
                                  int avx_level = rvd_avx_level)
        : saved_level(rvd_mmx_level), saved_cmov(rvd_pentium_cmov_exists),
          saved_avx(rvd_avx_level), saved_lzcnt(rvd_lzcnt_shlx_exists)
    {
        rvd_mmx_level = mmx_level;
        rvd_pentium_cmov_exists = cmov;
        rvd_avx_level = mmx_level >= 2 ? avx_level : 0;
    }
    ~processor_form_guard()
    {
        rvd_mmx_level = saved_level;
        rvd_pentium_cmov_exists = saved_cmov;
        rvd_avx_level = saved_avx;
        rvd_lzcnt_shlx_exists = saved_lzcnt;
    }
    processor_form_guard(const processor_form_guard&) = delete;
    processor_form_guard& operator=(const processor_form_guard&) = delete;

private:
    int saved_level;
    bool saved_cmov;
    int saved_avx;
    bool saved_lzcnt;
};

// A vector form the processor runs: an SSE level and a wide-vector level.
struct vector_form {
    const char* name;
    int mmx_level, avx_level;
};

// The portable form, then SSE2, AVX2 and AVX-512 as far as the probes found them: a test
// compares each with the portable one.
std::vector<vector_form> vector_forms();

// Applies ORBEL_CODEC_FORM once the start-up probes have run: "portable" forces the
// portable forms for the whole run, a number 0-4 forces that processor level (never above
// the probed one) without wide vectors or LZCNT, "avx2" keeps AVX2 at most, "native" or no value
// keeps what the probes found.
void apply_form_from_environment();

} // namespace codec_test
