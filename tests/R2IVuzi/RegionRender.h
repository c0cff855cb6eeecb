// The decode step's call pattern, shared by the rendering tests: the whole image at a
// resolution level, packed 32-bit for colour and 8-bit for grey, 1,000,000 samples per
// call, until process returns false.
#pragma once

#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/jp2/rvd_region_decompressor.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct rendering {
    std::vector<uint32_t> pixels; // packed, or grey samples
    rvd_dims region;
    int calls = 0;
    bool ended = false;
    bool finished = false;
};

inline rendering render_level(rvd_codestream cs, rvd_channel_mapping& mapping, rvd_region_decompressor& d,
                              int discard_levels, int max_calls = 1000)
{
    rendering r;
    cs.apply_input_restrictions(0, 0, discard_levels, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    cs.get_dims(mapping.source_components[0], r.region, true);
    const size_t n = size_t(r.region.size.y) * size_t(r.region.size.x);
    if (!d.start(cs, &mapping, -1, discard_levels, 0, r.region, rvd_coords(1, 1)))
        return r;
    std::vector<uint8_t> grey(mapping.num_channels > 1 ? 0 : n);
    r.pixels.assign(n, 0);
    const int offsets[1] = {0};
    rvd_dims incomplete = r.region, fresh;
    while (r.calls < max_calls) {
        r.calls++;
        const bool more = mapping.num_channels > 1
                              ? d.process(r.pixels.data(), r.region.pos, r.region.size.x, 1000000, int(n), incomplete,
                                          fresh)
                              : d.process(grey.data(), offsets, 1, r.region.pos, r.region.size.x, 1000000, int(n),
                                          incomplete, fresh, 0, true);
        if (!more) {
            r.ended = true;
            break;
        }
    }
    r.finished = d.finish();
    if (!grey.empty())
        std::copy(grey.begin(), grey.end(), r.pixels.begin());
    return r;
}

// Channel c of packed pixels: 0 red (bits 16-23), 1 green, 2 blue, 3 alpha (bits 24-31).
inline int channel_of(uint32_t px, int c)
{
    static const int shift[4] = {16, 8, 0, 24};
    return int((px >> shift[c]) & 0xFF);
}
