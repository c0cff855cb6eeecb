// Marker segments from arbitrary bytes: records of (code, tile, tile-part, body) are
// translated into a parameter tree with the real SIZ, COD, RGN, POC, CRG and ORG classes, the
// tree is finalized, the kernels of the coding styles are analysed and the tree printed. Rejections must arrive through the codec's error sink.
//
// Input: byte 0 selects the component count the tree is linked with (3 or 300); then
// records of code (2 bytes), tile (1 byte, 255 = main header), tile-part (1 byte), body
// length (2 bytes) and the body.
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_kernels.h"
#include "codec/core/rv_kernel_description.h"
#include "tests/codec/support/param_tree.h"
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
    std::unique_ptr<siz_params> root = codec_test::make_param_tree(4, comps, true);
    translate_records(root.get(), data, size, 1, 8);
    try {
        root->finalize_all(true);
        // The kernel of every coding-style object, described and analysed.
        for (rvd_params* obj : root->access_cluster("COD")->owned_objects()) {
            int id = 0, atk = 0;
            if (!obj->get("Ckernels", 0, 0, id))
                continue;
            obj->get("Catk", 0, 0, atk);
            bool rev = false, sym = false, sym_ext = false;
            int n = 0;
            rvd_kernel_step_info* steps = nullptr;
            float* coeffs = nullptr;
            rv_create_kernel_description(id, atk, root.get(), obj->get_tile_idx(), rev, sym,
                                         sym_ext, n, steps, coeffs);
            std::unique_ptr<rvd_kernel_step_info[]> own_steps(steps);
            std::unique_ptr<float[]> own_coeffs(coeffs);
            if (n > 0) {
                rvd_kernels k;
                k.init(n, steps, coeffs, sym, sym_ext, rev);
                bool high = true;
                k.get_energy_gain(2, 1, &high);
                k.get_bibo_gain(2, 1, &high);
            }
        }
    } catch (const fuzz_codec_error&) {
    }
    try {
        sink.text.clear();
        root->textualize_attributes(sink, -1, 3, false);
    } catch (const fuzz_codec_error&) {
    }
    return 0;
}
