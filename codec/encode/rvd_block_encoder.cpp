#include "codec/encode/rvd_block_encoder.h"

#include "codec/coding/rv_block_passes.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rvd_message.h"
#include "codec/encode/rv_block_encoder_passes.h"
#include "codec/encode/rv_rate_slopes.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace {

const int kMaxPasses = 91;
const int kMinFreeBytes = 4096;
const int kGrowBytes = 8192;

enum pass_type { cleanup_type, significance_type, refinement_type };

// Pass 0 is a cleanup; then significance, refinement and cleanup take turns.
pass_type type_of(int z)
{
    if (z == 0)
        return cleanup_type;
    static const pass_type cycle[3] = {significance_type, refinement_type, cleanup_type};
    return cycle[(z - 1) % 3];
}

void reset_states(rv_mq_state* states)
{
    for (int n = 0; n < rv_num_contexts; n++)
        states[n] = rv_mq_encoder_states[0];
    states[0] = rv_mq_encoder_states[2 * 4];
    states[rv_run_context] = rv_mq_encoder_states[2 * 3];
}

// Zeroes the context words and marks what no pass may code: rows of the last stripe
// beyond the block, and the three extra words of every stripe row.
void prepare_contexts(int32_t* contexts, int height, int width, int num_stripes)
{
    const int stride = width + 3;
    uint32_t* ctx = reinterpret_cast<uint32_t*>(contexts);
    std::memset(ctx, 0, sizeof(uint32_t) * static_cast<size_t>((num_stripes + 2) * stride + 1));
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* row = ctx + (s + 1) * stride + 1;
        row[width] = row[width + 1] = row[width + 2] = rv_ctx::sign_mask;
    }
    int valid = height - 4 * (num_stripes - 1);
    uint32_t outside = 0;
    for (int r = valid; r < 4; r++)
        outside |= rv_ctx::sign(r);
    if (outside != 0) {
        uint32_t* row = ctx + num_stripes * stride + 1;
        for (int c = 0; c < width; c++)
            row[c] = outside;
    }
}

struct block_coding {
    rvd_block* block;
    bool reversible;
    double msb_wmse;
    double threshold; // slope below which no pass will be kept; -1 without early stop
    int passes;       // passes to code

    rv_mq_encoder recs[kMaxPasses];
    double dist[kMaxPasses];

    int run();
    void ensure_room(uint8_t*& pos, int z);
    bool stop_after(int z) const;
    void settle_lengths();
};

// Grows the byte buffer when fewer than kMinFreeBytes remain behind the write position;
// every live byte address moves with it.
void block_coding::ensure_room(uint8_t*& pos, int z)
{
    uint8_t* base = block->byte_buffer;
    uint8_t* at = pos;
    if (z > 0 && recs[z - 1].active)
        at = std::max(at, recs[z - 1].r.next);
    if (base != nullptr && block->max_bytes - (at - base) >= kMinFreeBytes)
        return;
    ptrdiff_t pos_offset = base == nullptr ? 0 : pos - base;
    block->set_max_bytes(block->max_bytes + kGrowBytes, true);
    uint8_t* fresh = block->byte_buffer;
    if (base != nullptr && fresh != base)
        for (int k = 0; k < z; k++)
            recs[k].relocate(base, fresh);
    pos = fresh + pos_offset;
}

// Early stop: the last passes' best distortion per byte lies so far below the threshold,
// and keeps falling, that no later pass could survive it.
bool block_coding::stop_after(int z) const
{
    const int32_t* len = block->pass_lengths;
    int counted = 0;
    double last_d = 0.0, last_r = 0.0;
    int e = z;
    for (; e >= 0; e--) {
        int k = z - e;
        double best_d = dist[e], best_r = len[e];
        double d = 0.0, r = 0.0;
        for (int j = e; j >= std::max(0, e - 6); j--) {
            d += dist[j];
            r += len[j];
            if (j == e)
                continue;
            if (d * best_r < best_d * r) {
                best_d = d;
                best_r = r;
            }
        }
        int m = k <= 2 ? 0 : (k - 3) / 3 + 1;
        if (best_d > best_r * threshold * std::pow(3.0, m))
            return false;
        if (best_d > 0.0 && best_r > 0.0 && (counted == 0 || last_d * best_r < last_r * best_d)) {
            counted++;
            last_d = best_d;
            last_r = best_r;
        }
        if (counted == 3)
            break;
    }
    if (e < 0)
        e = 0;
    return counted >= 2 && z - e >= 2;
}

// Final lengths: each pass's end no earlier than the one before and no later than its
// segment's end, so the counts add up to the bytes written.
void block_coding::settle_lengths()
{
    uint8_t* prev_end = nullptr;
    uint8_t* seg_end = nullptr;
    for (int z = 0; z < block->num_passes; z++) {
        rv_mq_encoder& r = recs[z];
        if (r.prev == nullptr) {
            prev_end = r.seg_start;
            rv_mq_encoder* last = &r;
            while (last->next_pass != nullptr && last->next_pass - recs < block->num_passes)
                last = last->next_pass;
            seg_end = last->end;
        }
        uint8_t* e = std::min(std::max(r.end, prev_end), seg_end);
        block->pass_lengths[z] = static_cast<int32_t>(e - prev_end);
        prev_end = e;
    }
}

int block_coding::run()
{
    const int height = block->size.y, width = block->size.x;
    const int num_stripes = (height + 3) / 4;
    const int modes = block->modes;
    const int K = block->missing_msbs;
    const bool causal = (modes & rvd_block_causal) != 0;
    prepare_contexts(block->context_buffer, height, width, num_stripes);
    for (int z = 0; z < kMaxPasses; z++)
        recs[z].reset();

    rv_mq_state states[rv_num_contexts];
    double scale = std::ldexp(msb_wmse, -32 - 2 * K);
    int p = 30 - K;
    int seg_end = 0;
    int first_open = 0;
    int num = passes;
    uint8_t* pos = block->byte_buffer;
    const int final_plane = 31 - block->magnitude_planes;
    for (int z = 0; z < num; z++) {
        pass_type type = type_of(z);
        if (type == significance_type) {
            p--;
            scale *= 0.25;
        }
        ensure_room(pos, z);
        rv_mq_encoder& c = recs[z];
        if (z == seg_end) {
            int n;
            if (modes & rvd_block_restart)
                n = 1;
            else if (modes & rvd_block_bypass)
                n = z < 10 ? 10 - z : (type == cleanup_type ? 1 : 2);
            else
                n = num - z;
            seg_end = std::min(z + n, num);
            bool mq = !((modes & rvd_block_bypass) && z >= 10 && type != cleanup_type);
            c.start(pos, mq);
        } else {
            c.continue_from(&recs[z - 1]);
        }
        if (z == 0 || (modes & rvd_block_reset))
            reset_states(states);
        const bool fin = reversible && p == final_plane;
        const int32_t* samples = block->sample_buffer;
        int32_t* contexts = block->context_buffer;
        int64_t sum = 0;
        switch (type) {
        case significance_type:
            sum = c.mq ? sig_prop_pass_mq(p, samples, contexts, c, states, num_stripes, width, block->orientation,
                                          causal, fin)
                       : sig_prop_pass_raw(p, samples, contexts, c, num_stripes, width, causal, fin);
            break;
        case refinement_type:
            sum = c.mq ? mag_ref_pass_mq(p, samples, contexts, c, states, num_stripes, width, causal, fin)
                       : mag_ref_pass_raw(p, samples, contexts, c, num_stripes, width, causal, fin);
            break;
        case cleanup_type:
            sum = cleanup_pass(p, samples, contexts, c, states, num_stripes, width, block->orientation, causal, fin);
            if (modes & rvd_block_segmark) {
                c.encode_run(2);
                c.encode_run(2);
            }
            break;
        }
        dist[z] = static_cast<double>(sum) * scale;
        if (z + 1 == seg_end)
            pos = c.terminate((modes & rvd_block_erterm) == 0);
        assert(c.r.next <= block->byte_buffer + block->max_bytes);

        for (int j = first_open; j <= z; j++) {
            bool settled = false;
            block->pass_lengths[j] = recs[j].segment_length(settled);
            if (settled && j == first_open)
                first_open++;
        }
        if (threshold > 0.0 && z + 1 < num && stop_after(z)) {
            num = z + 1;
            if (!c.finished)
                pos = c.terminate((modes & rvd_block_erterm) == 0);
            break;
        }
    }
    block->num_passes = num;
    settle_lengths();
    return num;
}

} // namespace

void rv_block_encoder::encode(rvd_block* block, bool reversible, double msb_wmse, uint16_t estimated_slope_threshold)
{
    const int height = block->size.y, width = block->size.x;
    const int requested = block->num_passes;
    block->num_passes = 0;
    if (height < 1 || width < 1)
        return;
    // Code-blocks hold at most 4096 samples and 1024 on a side.
    if (width > 1024 || height > 1024 || width * height > 4096) {
        rvd_error e("Ravade Core Error:\n");
        e << "Code-block of " << height << " x " << width
          << " samples exceeds the block encoder's limit of 4096 samples and 1024 on a side.";
    }
    const int K = block->missing_msbs;
    int passes = (K < 0 || K > 30) ? 0 : std::min(requested, kMaxPasses - 3 * K);
    if (passes <= 0)
        return;

    const int num_stripes = (height + 3) / 4;
    const int num_contexts = std::max(1600, (num_stripes + 2) * (width + 3) + 1);
    if (block->max_contexts < num_contexts)
        block->set_max_contexts(num_contexts);
    if (block->max_passes < passes)
        block->set_max_passes(passes + 10);

    // Well over a kilobyte of state: on the heap, so that worker threads with small
    // stacks can code blocks too.
    std::unique_ptr<block_coding> coding(new block_coding);
    coding->block = block;
    coding->reversible = reversible;
    coding->msb_wmse = msb_wmse;
    coding->threshold = (estimated_slope_threshold > 1 && msb_wmse > 0.0 && block->orientation != 0)
                            ? log_to_slope(estimated_slope_threshold)
                            : -1.0;
    coding->passes = passes;

    int repeats = block->timing_repeats > 0 ? block->timing_repeats : 1;
    if (block->timing_repeats > 0)
        block->timing_start = rv_coder_clock();
    int num = 0;
    for (int n = 0; n < repeats; n++)
        num = coding->run();
    if (block->timing_repeats > 0) {
        block->timing_total += rv_coder_clock() - block->timing_start;
        block->timed_samples += static_cast<int64_t>(width) * height;
    }

    if (msb_wmse > 0.0) {
        compute_hull_slopes(coding->dist, block->pass_lengths, num, block->pass_slopes);
        // A fully coded reversible block always offers its last pass as a truncation point.
        if (reversible && num == passes && block->pass_slopes[num - 1] == 0)
            block->pass_slopes[num - 1] = 1;
    }
}

rvd_block_encoder::rvd_block_encoder() : state(new rv_block_encoder) {}

rvd_block_encoder::~rvd_block_encoder()
{
    delete state;
}

void rvd_block_encoder::encode(rvd_block* block, bool reversible, double msb_wmse,
                               uint16_t estimated_slope_threshold)
{
    state->encode(block, reversible, msb_wmse, estimated_slope_threshold);
}
