// The subband encoder: takes one subband's lines from the top down, gathers them into
// rows of code-blocks, quantises each block into sign-magnitude words (with the
// region-of-interest up-shift), codes it and closes it into the codestream.
//
// With a thread environment, block rows are coded as jobs of a "block encoder" queue;
// the queue's owner terminates it (or waits for it) before destroying the encoder.
#pragma once

#include "codec/coding/rv_decoder.h"
#include "codec/coding/rvd_push_ifc.h"
#include "codec/core/rvd_worker.h"
#include "codec/core/rvd_subband.h"
#include "codec/encode/rvd_block_encoder.h"
#include "codec/encode/rvd_roi_node.h"

#include <boost/scoped_ptr.hpp>

#include <cstdint>
#include <vector>

// What the encoder needs of a subband beyond what the decoder needs.
struct rv_encoder_shape {
    rv_band_shape band;
    double msb_wmse = 0.0;
    bool has_roi_weight = false;
    float roi_weight = 1.0f; // energy weight, 1 without one
    int slope_threshold = 1;
};

rv_encoder_shape rv_encoder_shape_of(rvd_subband band);

// Where coded blocks go: the codestream, or a test's recorder.
class rv_block_sink {
public:
    virtual ~rv_block_sink() = default;
    virtual rvd_block* open_block(rvd_coords idx, rvd_thread_env* env) = 0;
    virtual void close_block(rvd_block* block, rvd_thread_env* env) = 0;
    virtual void encode(rvd_block_encoder& encoder, rvd_block* block, bool reversible,
                        double weight, int slope_threshold);
};

// Quantisation of one line sample into a sign-magnitude word (bit 31 the sign, the
// band's top magnitude plane at bit 30); magnitudes beyond bit 30 saturate and set
// `clipped`.
struct rv_quantizer {
    int K_max = 0;
    bool reversible = false;
    bool use_shorts = false;
    double step = 1.0; // step size times the normalisation
    // Raises the codec's error when a reversible band needs more than 31 planes.
    void check() const;
    double factor() const; // magnitude word per line unit (irreversible)
};

class rv_encoder : public rvd_push_ifc_base, public rvd_worker {
public:
    // `sink` and `roi` are owned by the encoder, also when construction fails.
    rv_encoder(const rv_encoder_shape& shape, rv_block_sink* sink,
               rvd_sample_allocator* allocator, bool use_shorts, float normalization,
               rvd_roi_node* roi, rvd_thread_env* env = nullptr,
               rvd_thread_queue* env_queue = nullptr);
    ~rv_encoder() override;
    void push(rvd_line_buf& line, rvd_thread_env* env) override;
    void do_job(rvd_thread_env* env, int job_idx) override;

    int get_buffer_lines() const { return buffer_lines; }
    int get_jobs_per_row() const { return jobs_per_row; }
    bool is_double_buffered() const { return double_buffer; }
    bool keeps_mask() const { return roi.node != nullptr; }

private:
    void start(rvd_thread_env* env);
    int row_lines(int row) const; // lines of block row `row`
    void code_columns(rvd_thread_env* env, int row, int job);
    void code_block(rvd_thread_env* env, rvd_block* block, int half, int x_off);
    void warn_clipped(rvd_thread_env* env);
    void warn_large_shift(rvd_thread_env* env);

    // Releases and deletes the node when it goes, also from a failed constructor.
    struct roi_owner {
        rvd_roi_node* node = nullptr;
        explicit roi_owner(rvd_roi_node* n) : node(n) {}
        ~roi_owner() { reset(); }
        void reset();
    };

    roi_owner roi;
    boost::scoped_ptr<rv_block_sink> sink;
    rvd_block_encoder block_encoder;
    rv_quantizer q;
    int K_max_prime = 0;
    double msb_wmse = 0.0;
    float roi_weight = 1.0f;
    bool has_roi_weight = false;
    int slope_threshold = 1;
    rvd_dims valid_blocks;
    int width = 0, band_height = 0, rows_left = 0;
    int block_width = 0, block_height = 0;
    int lead_width = 0, lead_height = 0; // the first apparent block column's width, row's height
    int pad = 0;                         // samples before column 0 in each buffer row
    int buffer_lines = 0;
    bool double_buffer = false;
    int jobs_per_row = 1;
    std::uint32_t bank = 0;
    rvd_thread_queue* queue = nullptr;
    rvd_thread_env* creator_env = nullptr;
    rvd_sample_allocator* allocator = nullptr;
    std::uint64_t line_bytes = 0, mask_bytes = 0;
    bool started = false;
    int fill_row = 0, fill_end = 0;
    int rows_handed = 0; // block rows handed to the coder
    std::vector<std::uint8_t*> lines; // sample 0 of each buffer row
    std::vector<std::uint8_t*> masks;
    // Set once, possibly from several jobs: read and written under the group's lock.
    bool clip_warned = false, shift_warned = false;
};

class rvd_encoder : public rvd_push_ifc {
public:
    rvd_encoder() = default;
    // Reserves the band's line buffer in `allocator` (still pre-creating). `roi` (may be
    // null) becomes the encoder's, also when construction fails.
    rvd_encoder(rvd_subband band, rvd_sample_allocator* allocator, bool use_shorts,
                float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                rvd_thread_queue* env_queue);
};
