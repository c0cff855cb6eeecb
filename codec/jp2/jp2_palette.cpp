#include "codec/jp2/jp2_palette.h"

#include "codec/jp2/jp2_dimensions.h"
#include "codec/jp2/jp2_error.h"
#include "codec/jp2/jp2_input_box.h"

#include <cstdlib>

void j2_palette::process_pclr(jp2_input_box& box)
{
    if (num_luts > 0)
        jp2_raise("Attempting to read a JP2 palette box (pclr) into a `jp2_palette' object which has already been "
                  "initialized.");
    initialized = true;
    uint16_t ne = 0;
    uint8_t npc = 0;
    if (!box.read_word16(ne) || !box.read_byte(npc) || ne < 1 || ne > 1024 || npc == 0)
        jp2_raise("Malformed palette (pclr) box found in JP2-family data source.  Insufficient or illegal fields "
                  "encountered.");
    std::vector<int> depths(npc);
    for (auto& d : depths) {
        uint8_t b;
        if (!box.read_byte(b))
            jp2_raise("Malformed palette (pclr) box found in JP2-family data source.  The box contains insufficient "
                      "bit-depth specifiers.");
        if ((b & 0x7F) >= 38)
            jp2_raise("Malformed palette (pclr) box found in JP2-family data. source.  The box contains an illegal "
                      "bit-depth specifier.  Bit depths may not exceed 38 bits per sample.");
        d = (b & 0x80) ? -((b & 0x7F) + 1) : (b & 0x7F) + 1;
    }
    std::vector<std::vector<int32_t>> tables(npc, std::vector<int32_t>(ne));
    for (int e = 0; e < ne; ++e)
        for (int t = 0; t < npc; ++t) {
            const int n = std::abs(depths[size_t(t)]);
            uint64_t v = 0;
            for (int k = 0; k < (n + 7) / 8; ++k) {
                uint8_t b;
                if (!box.read_byte(b))
                    jp2_raise("Malformed palette (pclr) box found in JP2-family data source.  The box contains "
                              "insufficient palette entries.");
                v = (v << 8) | b;
            }
            uint32_t aligned = n > 32 ? uint32_t(v >> (n - 32)) : uint32_t(v << (32 - n));
            if (depths[size_t(t)] > 0)
                aligned ^= 0x80000000u; // unsigned values are centred on 0
            tables[size_t(t)][size_t(e)] = int32_t(aligned);
        }
    for (auto& d : depths)
        d = d > 32 ? 32 : d < -32 ? -32 : d;
    num_luts = npc;
    num_entries = ne;
    bit_depths.swap(depths);
    luts.swap(tables);
    if (!box.close())
        jp2_raise("Malformed palette (pclr) box encountered in JP2-family data source.  Box appears to be too long.");
}

void j2_palette::finalize()
{
    if (num_luts == 0)
        return;
    bool ok = num_luts >= 1 && num_luts <= 255 && num_entries >= 1 && num_entries <= 1024;
    for (int d : bit_depths)
        ok = ok && d != 0 && d >= -32 && d <= 32;
    if (!ok)
        jp2_raise("Incomplete or invalid information provided when initializing a `jp2_palette' object.");
}

void j2_component_map::process_cmap(jp2_input_box& box)
{
    initialized = true;
    if (!channels.empty())
        jp2_raise("Attempting to initialize a `j2_component_map' object multiple times.  Problem encountered while "
                  "parsing a JP2 Component Mapping (cmap) box!");
    from_box = true;
    const int64_t body = box.bytes_left();
    if (body >= 0 && body < 4)
        jp2_raise("Malformed component mapping (cmap) box encountered in JP2-family data source.  The body of the box "
                  "does not appear to contain any channel mappings.");
    if (body < 0 || body % 4 != 0)
        jp2_raise("Malformed component mapping (cmap) box encountered in JP2-family data source.  The body of any such "
                  "box must contain exactly four bytes for each cmap-channel and there must be at least one "
                  "cmap-channel.");
    for (int64_t i = 0; i < body / 4; ++i) {
        uint16_t cmp = 0;
        uint8_t mtyp = 0, pcol = 0;
        if (!box.read_word16(cmp) || !box.read_byte(mtyp) || !box.read_byte(pcol) || mtyp >= 2)
            jp2_raise("Malformed component mapping (cmap) box encountered in JP2-family data source.  Invalid or "
                      "truncated mapping specs.");
        channels.push_back({cmp, mtyp == 1 ? pcol : -1, -1, false});
    }
    box.close();
}

void j2_component_map::finalize(const j2_dimensions* dims, const j2_palette* pal)
{
    dimensions = dims;
    palette = pal;
    const char* one_to_one = "JP2-family data source appears to contain a Component Mapping (cmap) box without any "
                             "matching Palette (pclr) box.  Palette and Component Mapping boxes must be in one-to-one "
                             "correspondence.";
    if (pal->num_luts == 0) {
        if (from_box)
            jp2_raise(one_to_one);
        channels.clear();
        for (int c = 0; c < dims->num_components; ++c) {
            int d = dims->bit_depths[size_t(c)];
            channels.push_back({c, -1, std::abs(d), d < 0});
        }
        return;
    }
    initialized = true;
    // A palette whose channels no "cmap" box maps can never be resolved.
    if (!from_box)
        jp2_raise(one_to_one);
    for (auto& ch : channels) {
        const bool bad_component = ch.component < 0 || ch.component >= dims->num_components;
        const bool bad_lut = ch.lut >= 0 && ch.lut >= pal->num_luts;
        if (bad_component || bad_lut)
            jp2_raise("JP2-family data source appears to contain an illegal Component Mapping (cmap) box, one of whose "
                      "channels refers to a non-existent image component or palette lookup table.");
        int d = ch.lut < 0 ? dims->bit_depths[size_t(ch.component)] : pal->bit_depths[size_t(ch.lut)];
        ch.bit_depth = std::abs(d);
        ch.is_signed = d < 0;
    }
}

int jp2_palette::get_bit_depth(int lut) const
{
    return std::abs(state->bit_depths.at(size_t(lut)));
}

bool jp2_palette::get_signed(int lut) const
{
    return state->bit_depths.at(size_t(lut)) < 0;
}

std::vector<int16_t> jp2_palette::get_lut(int lut) const
{
    const auto& t = state->luts.at(size_t(lut));
    std::vector<int16_t> out(t.size());
    for (size_t i = 0; i < t.size(); ++i)
        out[i] = int16_t((int64_t(t[i]) + 0x40000) >> 19);
    return out;
}
