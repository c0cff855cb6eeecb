// Which output channels the region decompressor produces and from what: per channel the
// codestream component, an optional palette lookup table and the natural precision and
// signedness; plus the conversion of the JP2 colour description into sRGB.
#pragma once

#include "codec/jp2/jp2_channels.h"
#include "codec/jp2/jp2_colour.h"
#include "codec/jp2/jp2_colour_conversion.h"
#include "codec/jp2/jp2_dimensions.h"
#include "codec/jp2/jp2_palette.h"

#include <cstdint>
#include <vector>

class jp2_source;
class rvd_codestream;

class rvd_channel_mapping {
public:
    rvd_channel_mapping() = default;
    ~rvd_channel_mapping() { clear(); }
    rvd_channel_mapping(const rvd_channel_mapping&) = delete;
    rvd_channel_mapping& operator=(const rvd_channel_mapping&) = delete;

    void clear();
    void set_num_channels(int n);

    // Straight from the codestream: 1 channel for fewer than 3 output components or
    // differing subsampling, else 3.
    bool configure(rvd_codestream codestream);
    // The JP2 form: false when the colour cannot be converted or a channel comes from
    // another codestream (or names a table or component the header does not describe).
    bool configure(jp2_colour colour, jp2_channels channels, int codestream_idx, jp2_palette palette,
                   jp2_dimensions dimensions);
    bool add_alpha_to_configuration(jp2_channels channels, int codestream_idx, jp2_palette palette,
                                    jp2_dimensions dimensions, bool ignore_premultiplied = true);
    // Codestream 0 of a source whose header has been read; raises when its colour cannot
    // be converted.
    bool configure(jp2_source* source, bool ignore_alpha);

    int num_channels = 0;
    int num_colour_channels = 0;
    std::vector<int> source_components;            // -1: not yet set
    std::vector<int> default_rendering_precision;  // 8: not yet set
    std::vector<bool> default_rendering_signed;
    int palette_bits = 0;                          // 0: no palette
    // Per channel: empty, or 2^palette_bits samples with 13 fraction bits.
    std::vector<std::vector<int16_t>> palette;
    jp2_colour_conversion colour_converter;

private:
    // Sets channel c from a component or a lookup table; false when either is unknown.
    bool set_channel(int c, int component, int lut, jp2_palette palette, jp2_dimensions dimensions);
};
