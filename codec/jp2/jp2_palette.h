// Palette ("pclr") and component mapping ("cmap") descriptions of a JP2 header.
#pragma once

#include <cstdint>
#include <vector>

class jp2_input_box;
struct j2_dimensions;

struct j2_palette {
    bool initialized = false;
    int num_luts = 0;
    int num_entries = 0;
    std::vector<int> bit_depths;             // +n unsigned, -n signed, within -32..32
    std::vector<std::vector<int32_t>> luts;  // left-aligned, centred on 0

    void process_pclr(jp2_input_box& box);
    void finalize();
};

struct j2_cmap_channel {
    int component;
    int lut; // -1: the component is used directly
    int bit_depth;
    bool is_signed;
};

struct j2_component_map {
    bool initialized = false;
    bool from_box = false;
    const j2_dimensions* dimensions = nullptr;
    const j2_palette* palette = nullptr;
    std::vector<j2_cmap_channel> channels;

    void process_cmap(jp2_input_box& box);
    void finalize(const j2_dimensions* dims, const j2_palette* pal);
};

class jp2_palette {
public:
    explicit jp2_palette(const j2_palette* s = nullptr) : state(s) {}
    bool exists() const { return state != nullptr; }
    int get_num_luts() const { return state->num_luts; }
    int get_num_entries() const { return state->num_entries; }
    int get_bit_depth(int lut) const;
    bool get_signed(int lut) const;
    // Table lut as signed values with 13 fractional bits.
    std::vector<int16_t> get_lut(int lut) const;

private:
    const j2_palette* state;
};
