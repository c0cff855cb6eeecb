// The encode library's driver: an image held as components of samples becomes a
// codestream, tile by tile through the multi-component analysis, then flushed with the
// requested layers.
#pragma once

#include "codec/core/rvd_compressed_target.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/siz_params.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class encode_error : public std::runtime_error {
public:
    explicit encode_error(const std::string& what) : std::runtime_error(what) {}
};

// One image component: its samples row by row on its own grid.
struct encode_component {
    int width = 0, height = 0;
    int depth = 8; // bits per sample, 1..31
    bool is_signed = false;
    int dy = 1, dx = 1; // sub-sampling
    std::vector<int32_t> samples;
};

struct encode_roi {
    int comp = 0;
    rvd_dims rect; // component sample coordinates
};

struct encode_settings {
    // Attributes in the codec's text; they override the defaults.
    std::vector<std::string> attributes;
    std::vector<int64_t> layer_bytes;      // cumulative byte targets, or empty
    std::vector<uint16_t> layer_slopes;    // slope thresholds, or empty
    int threads = 0;                       // 0: no thread group
    bool double_buffer = false;
    int stripe = 1;
    bool precise = false;
    std::vector<encode_roi> rois;
};

// Builds the start-up tables once: those of decoding plus the distortion tables.
void encode_library_startup();

// The attributes the settings lead to for the image: the defaults (5 levels, 64 x 64
// blocks, one layer or one per target, reversible, LRCP, the colour transform when the
// first three components share their sub-sampling; irreversibly, a base step of one level
// of the deepest component), then the settings' own.
std::vector<std::string> encode_attributes(const std::vector<encode_component>& image,
                                           const encode_settings& settings);

// Creates `cs` for writing the image to `target` with the attributes (SIZ attributes go to
// `siz`, which must outlive the call, the others to the codestream) and finalises them.
void open_codestream(rvd_codestream& cs, siz_params& siz, const std::vector<encode_component>& image,
                     const std::vector<std::string>& attrs, rvd_compressed_target* target);

// Writes the codestream of `image` to `target`; returns the bytes written. Codec errors
// reach the caller as the installed error handler throws them.
int64_t encode_components(const std::vector<encode_component>& image,
                          const encode_settings& settings, rvd_compressed_target* target);
