// Conversion of decoded colour lines into sRGB display samples, built from a JP2 colour
// description. Lines are 16-bit fixed point with 13 fraction bits, centred on 0
// (nominal range -4096..4095).
#pragma once

#include "codec/jp2/jp2_colour.h"
#include "codec/core/rvd_line_buf.h"

#include <cstdint>
#include <memory>
#include <vector>

struct j2_colour_conversion {
    bool wide = false;
    int precision = 13;     // table precision: tables have 2^precision entries
    int num_colours = 0;    // 0: conversion impossible
    bool source_not_rgb = false;
    bool identity = true;   // no first-matrix stage
    bool apply_ycc = false; // standard inverse irreversible colour transform
    bool subtract_k = false;
    float offset[3] = {0, 0, 0};
    int ioffset[3] = {0, 0, 0};
    float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    int imatrix[9] = {4096, 0, 0, 0, 4096, 0, 0, 0, 4096};
    bool no_tone_curves = true;
    std::vector<int16_t> tone_in[3];
    bool tone_in_linear = false; // input tables hold linear light, not the final encoding
    bool matrix2_identity = true;
    float matrix2[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    int imatrix2[9] = {4096, 0, 0, 0, 4096, 0, 0, 0, 4096};
    std::vector<int16_t> tone_out;
    std::vector<int16_t> lum;

    void init(const jp2_colour& colour, bool keep_ycc);
};

class jp2_colour_conversion {
public:
    jp2_colour_conversion() = default;
    jp2_colour_conversion(const jp2_colour_conversion&) = delete;
    jp2_colour_conversion& operator=(const jp2_colour_conversion&) = delete;

    // Builds the conversion; false (and no state) when the description cannot be converted.
    bool init(const jp2_colour& colour, bool wide, bool keep_ycc);
    void clear() { state.reset(); }
    bool is_non_trivial() const;

    // In place on 16-bit lines; width below 0 means the whole line, and the count never
    // runs past any line. False when the state does not have the needed colour count.
    // Lines without 16-bit storage raise a codec error.
    bool convert_lum(rvd_line_buf& line, int width = -1);
    bool convert_rgb(rvd_line_buf& red, rvd_line_buf& green, rvd_line_buf& blue, int width = -1);
    bool convert_rgb4(rvd_line_buf& red, rvd_line_buf& green, rvd_line_buf& blue, rvd_line_buf& fourth,
                      int width = -1);

    const j2_colour_conversion* get_state() const { return state.get(); }

private:
    std::unique_ptr<j2_colour_conversion> state;
};
