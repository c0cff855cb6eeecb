// Multi-component transform stage descriptions from arbitrary segments: the records are
// translated as in fuzz_mct_segments, finalized as read, and then the main header's and
// every tile's stages are built, restricted to one output and asked for component gains.
// Rejections must arrive through the codec's error sink.
//
// Input: byte 0 selects the component count (bit 0: 3 or 300) and the output component
// count (bit 1: as many, or two more); then records of code (2 bytes), tile (1 byte,
// 255 = main header), tile-part (1 byte), body length (2 bytes) and the body.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_mct_stage.h"
#include "codec/core/rvd_message.h"
#include "tests/codec/support/mct_tree.h"
#include "fuzz/fuzz_support.h"

#include <cstdint>
#include <vector>

namespace {
throwing_handler handler;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    rvd_customize_errors(&handler);
    rvd_customize_warnings(nullptr);
    if (size < 1)
        return 0;
    const int comps = (data[0] & 1) ? 300 : 3;
    const int outs = comps + ((data[0] & 2) ? 2 : 0);
    std::unique_ptr<siz_params> root = codec_test::make_mct_tree(4, comps);
    try {
        codec_test::set_simple_siz(root.get(), comps);
    } catch (const fuzz_codec_error&) {
    }
    translate_records(root.get(), data, size, 1, 4);
    try {
        root->finalize_all(true);
    } catch (const fuzz_codec_error&) {
    }
    std::vector<rv_comp_info> comp_info(static_cast<size_t>(comps));
    std::vector<rv_output_comp_info> out_info(static_cast<size_t>(outs));
    for (int c = 0; c < comps; c++)
        comp_info[size_t(c)].precision = 8;
    for (int o = 0; o < outs; o++) {
        out_info[size_t(o)].precision = 8;
        out_info[size_t(o)].apparent_idx = o;
        out_info[size_t(o)].from_apparent = o;
    }
    for (int t = -1; t < 4; t++) {
        std::unique_ptr<rv_mct_stage> chain;
        try {
            rv_mct_stage *first = nullptr, *last = nullptr;
            rv_mct_stage::create_stages(first, last, root.get(), t, comps, comp_info.data(),
                                        outs, out_info.data());
            chain.reset(first);
            if (last == nullptr)
                continue;
            const int wanted = outs - 1;
            last->apply_output_restrictions(out_info.data(), 1, &wanted);
            for (int c = 0; c < comps && c < 4; c++)
                (void)rv_mct_component_gain(first, c, 8, comps, 0, out_info.data(), outs,
                                            (c & 1) != 0);
        } catch (const fuzz_codec_error&) {
        }
    }
    return 0;
}
