// The subband decoder's engine. What it needs of the subband is gathered into a shape,
// and code-blocks are reached through an access object, so the engine does not depend
// on how the codestream holds them.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/coding/rvd_pull_ifc.h"
#include "codec/core/rvd_worker.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_subband.h"

#include <boost/scoped_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct rv_band_shape {
    rvd_dims dims;               // the band's region (apparent)
    rvd_dims valid_blocks;       // code-block indices (apparent)
    rvd_coords block_size;       // nominal (apparent)
    rvd_coords first_block_size; // the first valid block clipped to the region (apparent)
    int K_max = 0, K_max_prime = 0;
    bool reversible = false;
    float delta = 0.0f;
    // The view runs the real partition backwards: the first apparent block row (column) is
    // the real last one.
    bool rows_reversed = false, cols_reversed = false;
    int band_idx = 0;  // decides whether a threaded encoder double-buffers its rows
    int dwt_level = 0; // ranks the band's jobs (band rows scale to tile-component rows)
};

rv_band_shape rv_band_shape_of(rvd_subband band);

// Where the decoder's code-blocks come from.
class rv_block_access {
public:
    virtual ~rv_block_access() = default;
    virtual rvd_block* open_block(rvd_coords idx, rvd_thread_env* env) = 0;
    virtual void close_block(rvd_block* block, rvd_thread_env* env) = 0;
    // Decodes the opened block's passes into its sample buffer; false when it has none
    // (the block's samples are then all zero).
    virtual bool decode(rvd_block_decoder& decoder, rvd_block* block);
};

// Sample 0 of each line of a block row, in the form the line format needs.
struct rv_line_ptrs {
    std::int16_t* const* s16 = nullptr;
    std::int32_t* const* i32 = nullptr;
    float* const* f32 = nullptr;
};

// How sign-magnitude block samples become line samples.
struct rv_dequantizer {
    int K_max = 0, K_max_prime = 0;
    bool reversible = false;
    bool use_shorts = false;
    float delta = 0.0f;       // step size times the normalisation
    bool allow_fast = true;   // the 8-at-a-time form where the block's layout allows it

    // Raises the codec's error for a reversible band deeper than 31 bit-planes.
    void check() const;
    // Converts the block's region into `lines` (the member for the line format) from
    // column `x_off`, honouring the block's transpose and flips. The lines hold the
    // region's apparent rows: its height, or width when transposed.
    void convert(const rvd_block& block, const rv_line_ptrs& lines, int x_off) const;
    // Zeros where the block's region goes.
    void zero(const rvd_block& block, const rv_line_ptrs& lines, int x_off) const;
};

class rv_decoder : public rvd_pull_ifc_base, public rvd_worker {
public:
    // `access` is owned by the decoder, also when construction fails.
    // With an environment, block rows are decoded as jobs of a "block decoder" queue
    // under `env_queue`.
    // With `readers` > 1 (threaded only) the band is read by that many column strips,
    // each through pull_columns, and at least `min_depth` block rows stay in flight.
    rv_decoder(const rv_band_shape& shape, rv_block_access* access,
               rvd_sample_allocator* allocator, bool use_shorts, float normalization,
               int pull_offset, rvd_thread_env* env = nullptr,
               rvd_thread_queue* env_queue = nullptr, int readers = 1, int min_depth = 0);
    ~rv_decoder() override;
    void start(rvd_thread_env* env) override;
    void pull(rvd_line_buf& line, rvd_thread_env* env) override;
    void do_job(rvd_thread_env* env, int job_idx) override;
    // Reader `reader`'s next line: `count` samples from band column `first_col`, written
    // from the line's sample 0. Readers may run on different threads at once; a block
    // row's slot is decoded again once every reader has passed it.
    void pull_columns(int reader, rvd_line_buf& line, int first_col, int count,
                      rvd_thread_env* env);

    int get_buffer_lines() const { return buffer_lines; }
    int get_align_offset() const { return align_offset; }
    int get_jobs_per_row() const { return jobs_per_row; }
    bool works_ahead() const { return depth > 1; }
    int get_depth() const { return depth; }

private:
    // One block-row slot of the buffer: its own queue, so that a pull waits for the one
    // block row it needs while later rows decode in the other slots.
    struct row_slot : rvd_worker {
        rv_decoder* owner = nullptr;
        int index = 0;
        rvd_thread_queue* queue = nullptr;
        std::atomic<int> row{-1};     // the block row last scheduled into the slot
        std::atomic<int> readers_done{0};
        void do_job(rvd_thread_env* env, int job_idx) override;
    };
    // Where one reader of a shared band stands.
    struct reader_place {
        int next_line = 0, lines_ready = 0, rows_fetched = 0, rows_left = 0;
    };

    rvd_block_decoder block_decoder;
    boost::scoped_ptr<rv_block_access> access;
    rv_dequantizer dq;
    bool started = false;
    int align_offset = 0;
    int jobs_per_row = 1;
    rvd_dims valid_blocks;
    int rows_left = 0;
    int width = 0;
    int first_block_width = 0, block_width = 0, first_block_height = 0, block_height = 0;
    int buffer_lines = 0;
    int next_line = 0, lines_ready = 0;
    int rows_fetched = 0;
    int row_height = 0; // lines of the block row decoded last (unthreaded)
    // Threaded: the band's queue, its slots (block row r goes to slot r % depth, at line
    // slot * block_height) and the block rows whose jobs were added.
    rvd_thread_queue* queue = nullptr;
    rvd_thread_env* creator_env = nullptr;
    int depth = 1;
    std::unique_ptr<row_slot[]> slots;
    int rows_scheduled = 0;
    int dwt_level = 0;
    int band_height = 0;
    int lead_height = 0, lead_width = 0; // the first apparent block row's height, column's width
    int row_lines(int row) const; // lines of block row `row`
    int row_start(int row) const; // the band line where block row `row` begins
    void schedule_row(rvd_thread_env* env);
    void schedule_row_at(int row, rvd_thread_env* env);
    int num_readers = 1;
    std::unique_ptr<reader_place[]> places;
    void decode_columns(rvd_thread_env* env, int row, int job);
    std::uint64_t line_bytes = 0;
    rvd_sample_allocator* allocator = nullptr;
    std::vector<std::int16_t*> lines16; // sample 0 of each buffer line
    std::vector<std::int32_t*> lines_i32;
    std::vector<float*> lines_f32;
    rv_line_ptrs lines;
    int pull_offset = 0;
};

// The engine a leaf of the synthesis tree gets.
rvd_pull_ifc_base* rv_make_decoder(rvd_subband band, rvd_sample_allocator* allocator,
                                   bool use_shorts, float normalization, int pull_offset,
                                   rvd_thread_env* env = nullptr,
                                   rvd_thread_queue* env_queue = nullptr);

// A decoder of `band` read by `readers` column strips at once (pull_columns), keeping at
// least `min_depth` block rows in flight; needs an environment of two threads or more.
rv_decoder* rv_make_shared_decoder(rvd_subband band, rvd_sample_allocator* allocator,
                                   bool use_shorts, float normalization, rvd_thread_env* env,
                                   rvd_thread_queue* env_queue, int readers, int min_depth);
