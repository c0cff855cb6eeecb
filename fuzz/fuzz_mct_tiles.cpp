// Multi-component transform segments behind a valid Part-2 main header, on a cached
// source: fuzzed segments go into the main header or into the header bins of the two
// tiles; every tile is opened, its transform walked through the queries the synthesis
// network makes, restricted to one output and asked for component gains, then closed.
// Rejections must arrive through the codec's error sink.
//
// Input: byte 0: bit 0 five components (else three), bit 1 persistent, bit 2 codestream
// components exposed, bit 3 only output 1 visible; then records of code (2 bytes), tile
// (1 byte: 0 or 1, anything else the main header), body length (2 bytes) and the body.
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_compressed_source.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_tile.h"
#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// SOC, a Part-2 SIZ (64x48 in two 32x48 tiles), COD without levels, QCD.
std::vector<uint8_t> main_header(int comps)
{
    std::vector<uint8_t> v = {0xFF, 0x4F, 0xFF, 0x51};
    put16(v, size_t(38 + 3 * comps));
    put16(v, 0x8100);
    put32(v, 64), put32(v, 48), put32(v, 0), put32(v, 0);
    put32(v, 32), put32(v, 48), put32(v, 0), put32(v, 0);
    put16(v, size_t(comps));
    for (int c = 0; c < comps; c++) {
        v.push_back(7);
        v.push_back(1);
        v.push_back(1);
    }
    const uint8_t cod[] = {0xFF, 0x52, 0, 12, 0, 0, 0, 1, 2, 0, 4, 4, 0, 1};
    v.insert(v.end(), cod, cod + sizeof(cod));
    const uint8_t qcd[] = {0xFF, 0x5C, 0, 4, 0x20, 9 << 3};
    v.insert(v.end(), qcd, qcd + sizeof(qcd));
    return v;
}

// The network's walk: block counts and indices, then the first kind that answers.
void walk(rvd_tile t)
{
    std::vector<int> ints(1 << 16);
    std::vector<float> floats(1 << 16);
    for (int s = 0; s < 256; s++) {
        int si = 0, so = 0, bi = 0, bo = 0;
        if (!t.get_mct_block_info(s, 0, si, so, bi, bo))
            break;
        for (int b = 0; b < 256; b++) {
            if (!t.get_mct_block_info(s, b, si, so, bi, bo))
                break;
            const size_t need = size_t(std::max({si, so, bi, bo, 1}));
            if (need > 16384)
                __builtin_trap(); // more than a segment can describe
            std::vector<int> in(need), out(need), rev(need), stage(need);
            std::vector<float> irrev(need);
            t.get_mct_block_info(s, b, si, so, bi, bo, in.data(), out.data(), irrev.data(),
                                 rev.data(), stage.data());
            for (int k = 0; k < bi; k++)
                if (in[size_t(k)] < 0 || in[size_t(k)] >= si)
                    __builtin_trap();
            for (int k = 0; k < bo; k++)
                if (out[size_t(k)] < 0 || out[size_t(k)] >= so)
                    __builtin_trap();
            if (size_t(bi) * size_t(bo) <= floats.size() && t.get_mct_matrix_info(s, b))
                t.get_mct_matrix_info(s, b, floats.data());
            if (size_t(bi) * size_t(bi + 1) <= ints.size() && t.get_mct_rxform_info(s, b))
                t.get_mct_rxform_info(s, b, ints.data(), out.data());
            bool rev_dep = false;
            if (size_t(bi) * size_t(bi + 1) <= ints.size() &&
                t.get_mct_dependency_info(s, b, rev_dep))
                t.get_mct_dependency_info(s, b, rev_dep, floats.data(), irrev.data(),
                                          ints.data(), rev.data(), out.data());
            bool r = false, sym = false, ext = false;
            int levels = 0, lo = 0, hi = 0, steps = 0;
            const float* coeffs = nullptr;
            t.get_mct_dwt_info(s, b, r, levels, lo, hi, steps, sym, ext, coeffs, in.data(),
                               out.data());
        }
    }
    for (int c = -1; c <= 5; c++) {
        (void)t.find_component_gain_info(c, false);
        (void)t.find_component_gain_info(c, true);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    install_quiet_sinks();
    if (size < 1)
        return 0;
    const int flags = data[0];
    fuzz_cache_source src(2);
    src.header = main_header((flags & 1) ? 5 : 3);
    size_t pos = 1;
    while (pos + 5 <= size) {
        const size_t code = (size_t(data[pos]) << 8) | data[pos + 1];
        const int tile = data[pos + 2];
        size_t len = (size_t(data[pos + 3]) << 8) | data[pos + 4];
        pos += 5;
        len = std::min({len, size - pos, size_t(0xFFFD)});
        std::vector<uint8_t>& dst = (tile < 2) ? src.bins[tile] : src.header;
        put16(dst, code);
        put16(dst, len + 2);
        dst.insert(dst.end(), data + pos, data + pos + len);
        pos += len;
    }
    rvd_codestream cs;
    try {
        cs.create(&src);
    } catch (const fuzz_codec_error&) {
        return 0;
    }
    try {
        if (flags & 2)
            cs.set_persistent();
        if (flags & 12)
            cs.apply_input_restrictions((flags & 8) ? 1 : 0, (flags & 8) ? 1 : 0, 0, 0, nullptr,
                                        (flags & 4) ? RVD_WANT_CODESTREAM_COMPONENTS
                                                    : RVD_WANT_OUTPUT_COMPONENTS);
    } catch (const fuzz_codec_error&) {
    }
    for (int t = 0; t < 2; t++) {
        try {
            rvd_tile tile = cs.open_tile(rvd_coords(0, t));
            walk(tile);
            const int one[] = {0};
            tile.set_components_of_interest(1, one);
            walk(tile);
            tile.set_components_of_interest(0, nullptr);
            walk(tile);
            tile.close();
        } catch (const fuzz_codec_error&) {
        }
    }
    cs.destroy();
    return 0;
}
