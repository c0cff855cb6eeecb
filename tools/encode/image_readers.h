// Image files the encode tool reads: PGM and PPM (8 and 16 bits), PGX (one component)
// and headerless big-endian raw samples described on the command line. Every size is
// checked against the bytes really present before anything is allocated.
#pragma once

#include "tools/encode/image_encoder.h"

#include <cstdint>
#include <string>
#include <vector>

// The raw layout: "w,h,c,bits,s|u" optionally followed by "@DYxDX:DYxDX..." (one
// sub-sampling per component).
struct raw_layout {
    int width = 0, height = 0, comps = 0, depth = 0;
    bool is_signed = false;
    std::vector<std::pair<int, int>> sampling; // (dy, dx) per component
};

raw_layout parse_raw_layout(const std::string& text);

std::vector<encode_component> parse_pnm(const std::vector<uint8_t>& bytes);
std::vector<encode_component> parse_raw(const std::vector<uint8_t>& bytes, const raw_layout& layout);
std::vector<encode_component> parse_pgx_component(const std::vector<uint8_t>& bytes);

// By the file's first bytes ("P5", "P6", "PG") unless a raw layout is given.
std::vector<encode_component> read_image(const std::string& path, const raw_layout* raw);
std::vector<encode_component> parse_image(const std::vector<uint8_t>& bytes, const raw_layout* raw);
