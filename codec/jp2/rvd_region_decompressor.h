// Renders a rectangular region of an open codestream, at a rational expansion of one
// reference component, into caller buffers a little at a time: start, then process until
// it reports the region done, then finish. Tiles are opened one bank (part of a tile row)
// at a time, so memory stays bounded by the increment.
#pragma once

#include "codec/coding/rvd_multi_synthesis.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_tile.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "codec/core/rvd_line_buf.h"
#include "codec/core/rvd_sample_allocator.h"

#include <cstdint>
#include <memory>
#include <vector>

class jp2_colour_conversion;
class rvd_thread_env;
class rvd_thread_queue;

// A component's expansion ratio n/d in usable terms: (n / d, 1) when d divides n, else
// reduced by common factors until both fit 32 bits; false when they cannot.
bool rv_region_reduce_ratio(std::int64_t& n, std::int64_t& d);
// Component start and end on one axis to rendering-canvas start and end at ratio num/den.
void rv_region_render_axis(std::int64_t start, std::int64_t end, std::int64_t num,
                           std::int64_t den, std::int32_t& canvas_start, std::int32_t& canvas_end);

// Where the lines of one bank tile come from: the tile's synthesis engine, or a stand-in
// that tests substitute to check the rendering geometry on their own samples.
class rv_region_line_source {
public:
    virtual ~rv_region_line_source() noexcept(false) {}
    // The tile's next row of output component comp_idx, or null when none is available.
    virtual rvd_line_buf* get_line(int comp_idx) = 0;
    virtual bool is_line_precise(int comp_idx) = 0;
    virtual bool is_line_absolute(int comp_idx) = 0;
};

// Tiles of one bank: consecutive tiles of one tile row, with one synthesis engine each.
struct rv_tile_bank {
    int num_tiles = 0;
    rvd_dims tile_indices;          // the tiles covered
    std::vector<rvd_tile> tiles;
    std::vector<std::unique_ptr<rv_region_line_source>> engines;
    rvd_dims dims;                  // region in the reference component
    bool fresh = false;             // opened, and no rows produced from it yet
    rvd_thread_queue* queue = nullptr;

    bool is_empty() const { return num_tiles == 0; }
    // Destroys the engines and, unless the codestream failed, closes the tiles.
    void close(bool codestream_failed);
};

struct rv_region_component {
    int rel_comp_idx = 0;      // apparent index after the input restrictions
    int codestream_idx = 0;    // as the mapping names it
    int bit_depth = 0;
    bool is_signed = false;
    int palette_bits = 0;      // 0, or the width of the indices its palette channels use
    int num_direct_channels = 0;
    rvd_dims dims;             // within the current bank
    rvd_coords expand_num, expand_den;
    rvd_coords reg_offset;     // registration against the reference, in 1/expand_den samples
    // Line state of one bank.
    bool precise = false;      // 32-bit working line
    rvd_line_buf line;         // decoded samples in working form
    rvd_line_buf indices;      // palette indices
    int next_row = 0;          // next component row to pull
    std::vector<int> tile_x;   // per bank tile: offset and width of its piece of the line
    std::vector<int> tile_w;
};

struct rv_region_channel {
    int comp = 0;                           // index of the source component record
    const std::vector<std::int16_t>* lut = nullptr;
    int native_precision = 0;
    bool native_signed = false;
    // Line state of one bank: horizontally expanded lines for the current and previous
    // component rows, and the row finally written when it differs from both.
    bool precise = false;
    bool aliased = false;                   // current line is the component's own line
    rvd_line_buf cur_line, prev_line, out_line;
    int cur_row = 0;                        // component row held by cur_line
    bool have_prev = false;
};

class rvd_region_decompressor {
public:
    rvd_region_decompressor();
    virtual ~rvd_region_decompressor();
    rvd_region_decompressor(const rvd_region_decompressor&) = delete;
    rvd_region_decompressor& operator=(const rvd_region_decompressor&) = delete;

    bool start(rvd_codestream codestream, rvd_channel_mapping* mapping, int single_component,
               int discard_levels, int max_layers, rvd_dims region, rvd_coords expand_numerator,
               rvd_coords expand_denominator = rvd_coords(1, 1), bool precise = false,
               rvd_component_access_mode access_mode = RVD_WANT_OUTPUT_COMPONENTS,
               bool fastest = false, rvd_thread_env* env = nullptr,
               rvd_thread_queue* env_queue = nullptr);

    // 8-bit and 16-bit forms: channel c is written at buffer + channel_offsets[c].
    bool process(std::uint8_t* buffer, const int* channel_offsets, int pixel_gap,
                 rvd_coords buffer_origin, int row_gap, int suggested_increment,
                 int max_region_pixels, rvd_dims& incomplete_region, rvd_dims& new_region,
                 int precision_bits = 8, bool row_gap_in_pixels = true);
    bool process(std::uint16_t* buffer, const int* channel_offsets, int pixel_gap,
                 rvd_coords buffer_origin, int row_gap, int suggested_increment,
                 int max_region_pixels, rvd_dims& incomplete_region, rvd_dims& new_region,
                 int precision_bits = 16, bool row_gap_in_pixels = true);
    // Packed form: channels 0, 1, 2 in bits 16-23, 8-15, 0-7 and alpha in bits 24-31.
    bool process(std::uint32_t* buffer, rvd_coords buffer_origin, int row_gap,
                 int suggested_increment, int max_region_pixels, rvd_dims& incomplete_region,
                 rvd_dims& new_region);

    // False when the region ended in a failure since start.
    bool finish();

protected:
    // The engine of one bank tile.
    virtual std::unique_ptr<rv_region_line_source> create_line_source(rvd_codestream codestream,
                                                                      rvd_tile tile,
                                                                      bool precise, bool fastest);

private:
    struct out_buffer {
        void* base = nullptr;  // sample address of the buffer origin
        int channel = 0;
    };

    bool process_generic(int sample_bytes, int pixel_gap, rvd_coords buffer_origin, int row_gap,
                         int suggested_increment, int max_region_pixels,
                         rvd_dims& incomplete_region, rvd_dims& new_region, int precision_bits,
                         bool fill_alpha);
    bool process_call(int sample_bytes, int pixel_gap, rvd_coords buffer_origin, int row_gap,
                      int suggested_increment, int max_region_pixels, rvd_dims& incomplete_region,
                      rvd_dims& new_region, int precision_bits, bool fill_alpha);
    int add_component(int codestream_idx);
    bool open_bank(const rvd_dims& incomplete_region, int suggested_increment);
    void setup_bank();
    void close_banks();
    // Pulls the next row of component k from every tile of the bank into its line.
    void pull_component_row(rv_region_component& comp);
    void make_channel_line(rv_region_channel& chan, bool shift_prev);
    void write_row(const rv_region_channel& chan, const rvd_line_buf& line, int bank_x,
                   int width, void* dst, int sample_bytes, int pixel_gap, int precision_bits);
    const rvd_line_buf& final_line(rv_region_channel& chan, int canvas_row);
    // Colour conversion of the colour channels' current lines, or of their final lines
    // when conversion waits for vertical alignment.
    void convert_channels(bool finals_only);
    // The packed form's row in whole pixels, when every line it takes is 16-bit.
    bool packed_pixels(const std::vector<const rvd_line_buf*>& finals, int bank_x, int width,
                       std::uint8_t* first_out, const out_buffer& first);

    bool precise = false;
    bool fastest = false;
    rvd_thread_env* env = nullptr;
    rvd_thread_queue* env_queue = nullptr;
    rv_tile_bank banks[2];
    rv_tile_bank* current_bank = nullptr;
    rv_tile_bank* background_bank = nullptr;
    rvd_codestream codestream;
    bool codestream_failure = false;
    int discard_levels = 0;
    rvd_dims valid_tiles;
    rvd_coords next_tile_idx;
    rvd_sample_allocator allocator;
    rvd_dims full_dims;
    rvd_dims bank_dims;           // current bank on the rendering canvas
    int next_canvas_row = 0;      // next canvas row of the current bank
    int num_channels = 0;
    int num_colour_channels = 0;
    std::vector<rv_region_channel> channels;
    jp2_colour_conversion* colour_converter = nullptr;
    bool convert_colour = false;
    bool defer_conversion = false; // convert after vertical interpolation
    int num_components = 0;
    std::vector<rv_region_component> components;
    std::vector<int> component_indices;
    std::vector<out_buffer> channel_bufs;
    std::uint32_t* packed_base = nullptr; // the packed form's buffer, for whole-pixel writes
};

// Owned by each image loader beside the region decompressor; never started.
class rvd_stripe_decompressor {
public:
    rvd_stripe_decompressor() = default;
    virtual ~rvd_stripe_decompressor() { finish(); }
    rvd_stripe_decompressor(const rvd_stripe_decompressor&) = delete;
    rvd_stripe_decompressor& operator=(const rvd_stripe_decompressor&) = delete;

    // Releases whatever it holds and returns its status.
    bool finish();

private:
    rvd_codestream codestream;
    bool status = true;
};
