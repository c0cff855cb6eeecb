// Whole-image decoding for the image-level tests: decodes through the decode tool's
// library and compares components with reference images.
#pragma once

#include "tools/decode/decode_options.h"
#include "tools/decode/pgx_image.h"

#include <cstdint>
#include <string>
#include <vector>

namespace codec_test {

std::vector<pgx_image> decode_file(const std::string& path, const decode_settings& settings);

struct image_diff {
    bool same_size = false;
    int64_t peak = 0; // largest absolute difference
    double mse = 0;
    double psnr(int depth) const; // against the full range of `depth` bits
};
image_diff compare_images(const pgx_image& reference, const pgx_image& decoded);
std::string describe(const image_diff& d);

// One line of decode_cases.txt (tools/make_test_streams.py, group "decode").
struct decode_case {
    std::string kind;   // "rev", "irr" or "roi"
    std::string stream; // path of the codestream
    int depth = 0;
    int reduce = 0;
    bool has_region = false;
    rvd_dims region; // on the canvas
    std::string reference; // path of opj_decompress's decode
    std::string name() const;
};
std::vector<decode_case> load_decode_cases();

// The settings a case is decoded with.
decode_settings settings_for(const decode_case& c, bool precise);

} // namespace codec_test
