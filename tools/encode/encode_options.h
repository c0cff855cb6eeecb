// The encode tool's command line.
#pragma once

#include "tools/encode/image_encoder.h"
#include "tools/encode/image_readers.h"

#include <string>
#include <vector>

struct encode_command {
    encode_settings settings;
    std::vector<double> bpp; // bits per sample targets, turned into bytes once the image is known
    bool has_raw = false;
    raw_layout raw;
    int repeat = 0;
    std::string input, output;
};

extern const char* const encode_usage;

// Throws encode_error on anything malformed.
encode_command parse_encode_command(const std::vector<std::string>& args);
