// Channel definitions ("cdef"): which channel carries each colour's intensity, opacity
// or pre-multiplied opacity, resolved against the component map.
#pragma once

#include <cstdint>
#include <vector>

class jp2_input_box;
struct j2_component_map;

struct j2_channel {
    // Per reproduction function: colour intensity, opacity, pre-multiplied opacity.
    int channel_idx[3] = {-1, -1, -1};
    int codestream_idx[3] = {-1, -1, -1};
    int component_idx[3] = {-1, -1, -1};
    int lut_idx[3] = {-1, -1, -1};
    int bit_depth = -1;
    bool is_signed = false;
    bool whole_image[3] = {false, false, false};
};

struct j2_channels {
    std::vector<j2_channel> channels; // size() is the capacity
    int num_colours = 0;
    int assigned = 0;
    bool defined_any = false;

    void process_cdef(jp2_input_box& box);
    void finalize(int colours);
    void add_cmap_channels(const j2_component_map& map, int codestream_idx);
};

class jp2_channels {
public:
    explicit jp2_channels(const j2_channels* s = nullptr) : state(s) {}
    bool exists() const { return state != nullptr; }
    int get_num_colours() const { return state->num_colours; }
    bool get_colour_mapping(int c, int& component, int& lut, int& codestream) const { return get(c, 0, component, lut, codestream); }
    bool get_opacity_mapping(int c, int& component, int& lut, int& codestream) const { return get(c, 1, component, lut, codestream); }
    bool get_premult_mapping(int c, int& component, int& lut, int& codestream) const { return get(c, 2, component, lut, codestream); }

private:
    bool get(int c, int f, int& component, int& lut, int& codestream) const;
    const j2_channels* state;
};
