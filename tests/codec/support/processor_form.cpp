#include "tests/codec/support/processor_form.h"

#include "tools/decode/image_decoder.h"

#include <algorithm>
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
        rvd_avx_level = 0;
        rvd_lzcnt_shlx_exists = false;
        return;
    }
    if (form == "avx2") {
        rvd_avx_level = std::min(rvd_avx_level, 1);
        return;
    }
    if (form.size() == 1 && form[0] >= '0' && form[0] <= '4') {
        int level = form[0] - '0';
        if (level < rvd_mmx_level)
            rvd_mmx_level = level;
        rvd_avx_level = 0;
        rvd_lzcnt_shlx_exists = false;
        return;
    }
    throw std::invalid_argument("ORBEL_CODEC_FORM must be native, portable, avx2 or a level 0-4, not " +
                                form);
}

std::vector<vector_form> vector_forms()
{
    std::vector<vector_form> forms{{"portable", 0, 0}};
    if (rvd_mmx_level >= 2)
        forms.push_back({"SSE2", rvd_mmx_level, 0});
    if (rvd_mmx_level >= 2 && rvd_avx_level >= 1)
        forms.push_back({"AVX2", rvd_mmx_level, 1});
    if (rvd_mmx_level >= 2 && rvd_avx_level >= 2)
        forms.push_back({"AVX-512", rvd_mmx_level, 2});
    return forms;
}

} // namespace codec_test
