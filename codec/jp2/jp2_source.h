// The top of a JP2 file read from the data-bin cache as it arrives: signature, file
// type and JP2 header boxes, then the codestream box, which the codestream core reads.
// read_header returns false while something it needs is missing and resumes where it
// stopped on the next call.
#pragma once

#include "codec/jp2/jp2_channels.h"
#include "codec/jp2/jp2_colour.h"
#include "codec/jp2/jp2_dimensions.h"
#include "codec/jp2/jp2_input_box.h"
#include "codec/jp2/jp2_palette.h"

#include <memory>

struct j2_header_state {
    jp2_input_box sub;                  // reads the JP2 header box's sub-boxes
    jp2_input_box* jp2h = nullptr;
    j2_dimensions dimensions;
    j2_colour colour;
    j2_palette palette;
    j2_component_map component_map;
    j2_channels channels;
    j2_resolution resolution;

    // False while a sub-box has not fully arrived.
    bool walk(jp2_input_box* header_box);
};

class jp2_source : public jp2_input_box {
public:
    jp2_source();
    ~jp2_source() override;

    bool open(jp2_input_box* super_box) override; // never a sub-box: false
    bool open(jp2_family_src* src, jp2_locator loc) override;
    bool read_header();

    jp2_dimensions get_dimensions() const;
    jp2_colour get_colour() const;
    jp2_palette get_palette() const;
    jp2_channels get_channels() const;
    jp2_resolution get_resolution() const;
    int64_t get_header_bytes() const { return header_bytes; }

private:
    bool signature_done = false;
    bool file_type_done = false;
    bool header_box_done = false;
    bool codestream_reached = false;
    bool header_complete = false;
    std::unique_ptr<j2_header_state> header;
    int64_t header_bytes = 0;
    jp2_family_src* last_src = nullptr;
    int last_src_id = 0;
};
