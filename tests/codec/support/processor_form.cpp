#include "tests/codec/support/processor_form.h"

#include "tools/decode/image_decoder.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace codec_test {

void apply_form_from_environment()
{
    decode_library_startup(); // a later start-up must not undo the choice
    const char* value = std::getenv("ORBEL_CODEC_FORM");
    std::string form = value ? value : "";
    if (form.empty() || form == "native")
        return;
    if (form == "portable") {
        rvd_mmx_level = 0;
        rvd_pentium_cmov_exists = false;
        return;
    }
    if (form.size() == 1 && form[0] >= '0' && form[0] <= '4') {
        int level = form[0] - '0';
        if (level < rvd_mmx_level)
            rvd_mmx_level = level;
        return;
    }
    throw std::invalid_argument("ORBEL_CODEC_FORM must be native, portable or a level 0-4, not " + form);
}

} // namespace codec_test
