// Image dimensions ("ihdr", "bpcc") and resolution ("res ") descriptions of a JP2 header.
#pragma once

#include <cstdint>
#include <vector>

class jp2_input_box;

struct j2_dimensions {
    uint32_t height = 0;
    uint32_t width = 0;
    int compression_type = -1;
    int num_components = 0; // 0: not yet initialised
    uint8_t unknown_space = 0;
    uint8_t ipr = 0;
    std::vector<int> bit_depths; // +n unsigned, -n signed, 0 while a "bpcc" box must supply it

    void process_ihdr(jp2_input_box& box);
    void process_bpcc(jp2_input_box& box);
    void finalize();
};

struct j2_resolution {
    float display_ratio = 0;
    float capture_ratio = 0;
    float display_res = 0;
    float capture_res = 0;

    // False when a sub-box has not fully arrived; the box is then rewound for a retry.
    bool process_res(jp2_input_box& box);
    void finalize();

private:
    void process_sub(jp2_input_box& sub, bool capture);
};

class jp2_dimensions {
public:
    explicit jp2_dimensions(const j2_dimensions* s = nullptr) : state(s) {}
    bool exists() const { return state != nullptr; }
    uint32_t get_height() const { return state->height; }
    uint32_t get_width() const { return state->width; }
    int get_num_components() const { return state->num_components; }
    int get_compression_type() const { return state->compression_type; }
    int get_bit_depth(int c) const;
    bool get_signed(int c) const;

private:
    const j2_dimensions* state;
};

class jp2_resolution {
public:
    explicit jp2_resolution(const j2_resolution* s = nullptr) : state(s) {}
    bool exists() const { return state != nullptr; }
    float get_aspect_ratio(bool for_display) const { return for_display ? state->display_ratio : state->capture_ratio; }
    float get_resolution(bool for_display) const { return for_display ? state->display_res : state->capture_res; }

private:
    const j2_resolution* state;
};
