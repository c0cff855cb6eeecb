// Colour description ("colr"): an enumerated space, an embedded ICC profile or vendor
// data, finished against the channels.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class jp2_input_box;
struct j2_channels;

struct j2_icc_profile {
    std::vector<uint8_t> bytes;
    uint32_t length = 0; // the declared length, never more than the bytes held
    int num_colours = 0;
    int num_tags = 0;
    bool pcs_is_xyz = false;
    bool not_simple = false;
    bool input = false, display = false, output = false;
    uint32_t trc[3] = {0, 0, 0};      // offsets of each curve's count field
    uint32_t colorant[3] = {0, 0, 0}; // offsets of each colorant's XYZ numbers

    void parse(std::vector<uint8_t>&& block);
    uint32_t word(uint32_t pos) const;
};

struct j2_colour {
    bool initialized = false;
    int space = 0;
    int num_colours = 0;
    int precision[3] = {-1, -1, -1};
    std::unique_ptr<j2_icc_profile> icc;
    uint8_t vendor_uuid[16] = {};
    std::vector<uint8_t> vendor_data;
    int range[3] = {-1, -1, -1};
    int offset[3] = {-1, -1, -1};
    uint32_t illuminant = 0;
    uint16_t temperature = 0;
    int precedence = 0;

    void process_colr(jp2_input_box& box);
    void finalize(const j2_channels& channels);
};

class jp2_colour {
public:
    explicit jp2_colour(const j2_colour* s = nullptr) : state(s) {}
    bool exists() const { return state != nullptr; }
    int get_space() const { return state->space; }
    int get_num_colours() const { return state->num_colours; }
    int get_precision(int c) const { return state->precision[c]; }
    int get_range(int c) const { return state->range[c]; }
    int get_offset(int c) const { return state->offset[c]; }
    uint32_t get_illuminant() const { return state->illuminant; }
    uint16_t get_temperature() const { return state->temperature; }
    const j2_icc_profile* get_icc_profile() const { return state->icc.get(); }
    // 2^k samples of colour c's tone reproduction curve; false when there is none to use.
    bool get_curve(int c, int k, float* out) const;
    // Rows X, Y, Z by columns r, g, b; false unless a simple three-colour XYZ profile.
    bool get_colorant_matrix(float* m) const;

private:
    const j2_colour* state;
};
