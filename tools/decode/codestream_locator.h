// Where the codestream lies in an input file: the whole file for a raw codestream, or
// the body of the first contiguous-codestream box of a JP2-family file, found by walking
// the top-level boxes.
#pragma once

#include <cstdint>
#include <functional>

struct codestream_location {
    int64_t offset = 0;
    int64_t length = 0;
};

// Reads up to n bytes at pos into buf and returns how many were read.
using read_at_fn = std::function<int(int64_t pos, uint8_t* buf, int n)>;

// Throws decode_error when the file is neither a codestream nor a box sequence holding
// one, or when a box length runs past the end of the file.
codestream_location locate_codestream(const read_at_fn& read_at, int64_t file_size);
