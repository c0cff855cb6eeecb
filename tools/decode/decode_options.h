// What to decode and how: the decode tool's command line and the settings the decode
// loop takes (tests and benchmarks fill the settings directly).
#pragma once

#include "codec/core/rvd_dims.h"

#include <cstdint>

#include <string>
#include <vector>

enum class decode_source_kind { memory, seekable, sequential };
enum class decode_parse_mode { fast, resilient, fussy };

struct decode_settings {
    int reduce = 0;          // resolution levels discarded
    int layers = 0;          // quality layers kept; 0 keeps all
    bool has_region = false; // region on the full-resolution canvas
    rvd_dims region;
    bool precise = false;    // 32-bit lines for every component
    bool fastest = false;    // 16-bit lines wherever the depth allows, irreversible data included
                             // (the default keeps irreversible data on 32-bit lines)
    decode_parse_mode mode = decode_parse_mode::fast;
    bool transpose = false, vflip = false, hflip = false; // view of the codestream
    int64_t max_samples = 0; // refuse larger images (all components); 0: no limit
    int threads = 0;         // threads of a thread environment; 0: no environment
    bool double_buffer = false; // component jobs fill one stripe while the other is read
    int stripe = 1;          // rows per component job; 0: by the tile's width (16 or more)
};

struct decode_command {
    decode_settings settings;
    decode_source_kind source = decode_source_kind::memory;
    int repeat = 0; // 0: decode once without timing
    std::string input;
    std::string output; // components go to OUTPUT_0.pgx, OUTPUT_1.pgx, ...
};

extern const char* const decode_usage;

// Parses the arguments after the program name; throws decode_error on anything not
// understood, out of range or missing.
decode_command parse_decode_command(const std::vector<std::string>& args);

// OUT_k.pgx for OUT given as "OUT" or "OUT.pgx".
std::string component_file_name(const std::string& output, int component);
