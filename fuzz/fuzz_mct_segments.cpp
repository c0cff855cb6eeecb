// Multi-component transform segments from arbitrary bytes: records of (code, tile,
// tile-part, body) are translated into a parameter tree with every real marker class, the
// tree is finalized as read, written back, finalized as for writing and printed. Rejections
// must arrive through the codec's error sink.
//
// Input: byte 0 selects the component count (3 or 300); then records of code (2 bytes),
// tile (1 byte, 255 = main header), tile-part (1 byte), body length (2 bytes) and the body.
#include "codec/core/rvd_message.h"
#include "tests/codec/support/mct_tree.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <string>

namespace {
throwing_handler handler;
codec_test::string_message sink;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rvd_customize_errors(&handler);
    rvd_customize_warnings(nullptr);
    if (size < 1)
        return 0;
    int comps = (data[0] & 1) ? 300 : 3;
    std::unique_ptr<siz_params> root = codec_test::make_mct_tree(4, comps);
    try {
        codec_test::set_simple_siz(root.get(), comps);
    } catch (const fuzz_codec_error&) {
    }
    translate_records(root.get(), data, size, 1, 8);
    try {
        root->finalize_all(true);
        // What was read is written again, one header after another.
        for (int t = -1; t < 4; t++) {
            root->clear_marks();
            int sized = root->generate_marker_segments(nullptr, t, 0);
            root->clear_marks();
            codec_test::vector_output out;
            int written = root->generate_marker_segments(&out, t, 0);
            if (sized != written || out.finish().size() != size_t(written))
                __builtin_trap();
        }
    } catch (const fuzz_codec_error&) {
    }
    try {
        root->finalize_all(false);
    } catch (const fuzz_codec_error&) {
    }
    try {
        sink.text.clear();
        root->textualize_attributes(sink, -1, 3, false);
    } catch (const fuzz_codec_error&) {
    }
    return 0;
}
