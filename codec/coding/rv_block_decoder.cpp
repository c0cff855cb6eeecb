#include "codec/coding/rv_block_decoder.h"

#include "codec/coding/rv_block_passes.h"
#include "codec/coding/rv_block_passes_hand.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_processor.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>

namespace {

enum pass_type { cleanup_pass, significance_pass, refinement_pass };

// Pass 0 is a cleanup; then significance, refinement and cleanup take turns.
pass_type type_of(int z)
{
    if (z == 0)
        return cleanup_pass;
    static const pass_type cycle[3] = {significance_pass, refinement_pass, cleanup_pass};
    return cycle[(z - 1) % 3];
}

void reset_states(rv_mq_state* states)
{
    for (int n = 0; n < rv_num_contexts; n++)
        states[n] = rv_mq_decoder_state(0, 0);
    states[0] = rv_mq_decoder_state(4, 0);
    states[rv_run_context] = rv_mq_decoder_state(3, 0);
}

// Zeroes samples and context words and marks what no pass may code: rows of the last
// stripe beyond the block, and the three extra words of every stripe row (so that no
// skip runs past a row's end).
void prepare(rvd_block* block, int num_stripes)
{
    int width = block->size.x;
    int stride = width + 3;
    std::memset(block->sample_buffer, 0, sizeof(int32_t) * static_cast<size_t>(4 * num_stripes * width));
    uint32_t* ctx = reinterpret_cast<uint32_t*>(block->context_buffer);
    std::memset(ctx, 0, sizeof(uint32_t) * static_cast<size_t>((num_stripes + 2) * stride + 1));
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* row = ctx + (s + 1) * stride + 1;
        row[width] = row[width + 1] = row[width + 2] = rv_ctx::sign_mask;
    }
    int valid = block->size.y - 4 * (num_stripes - 1);
    uint32_t outside = 0;
    for (int r = valid; r < 4; r++)
        outside |= rv_ctx::sign(r);
    if (outside != 0) {
        uint32_t* row = ctx + num_stripes * stride + 1;
        for (int c = 0; c < width; c++)
            row[c] = outside;
    }
}

} // namespace

rv_block_decoder::rv_block_decoder() : use_hand_passes(rvd_mmx_level > 0 && rvd_pentium_cmov_exists) {}

int rv_block_decoder::decode_once(rvd_block* block, int num_stripes)
{
    prepare(block, num_stripes);
    int msbs = block->missing_msbs;
    int modes = block->modes;
    if (msbs < 0 || block->num_passes < 1)
        return -1;
    // Wide arithmetic: the plane counts come from the record unchecked.
    int64_t possible64 = 3 * (static_cast<int64_t>(block->magnitude_planes) - msbs) - 2;
    int64_t planes_limit = 3 * (30 - static_cast<int64_t>(msbs)) - 2;
    if (possible64 < 1 || planes_limit < 1)
        return -1;
    int possible = static_cast<int>(std::min<int64_t>(possible64, INT_MAX));
    int passes = static_cast<int>(std::min<int64_t>(block->num_passes, planes_limit));
    passes = std::min(passes, block->max_passes);

    // Passes whose bytes, with the two fence bytes behind their segment, do not lie
    // wholly inside the buffer are absent.
    int64_t bytes = 0;
    for (int z = 0; z < passes; z++) {
        int32_t len = block->pass_lengths[z];
        bytes += len;
        if (len < 0 || bytes + 2 > block->max_bytes) {
            passes = z;
            break;
        }
    }
    if (passes < 1)
        return -1;

    int width = block->size.x;
    int stride = width + 3;
    int32_t* samples = block->sample_buffer;
    int32_t* contexts = block->context_buffer;
    bool causal = (modes & rvd_block_causal) != 0;
    bool check_termination = (modes & rvd_block_erterm) && (block->resilient || block->fussy);
    bool check_segmark = (modes & rvd_block_segmark) && (block->resilient || block->fussy);

    rv_mq_state states[rv_num_contexts];
    rv_mq_decoder coder;
    int p = 30 - msbs;
    int pos = 0;
    int seg_start = 0, seg_end = 0;
    bool truncated = false;
    for (int z = 0; z < passes; z++) {
        pass_type type = type_of(z);
        if (type == significance_pass)
            p--;
        if (z == seg_end) {
            int n;
            if (modes & rvd_block_restart)
                n = 1;
            else if (modes & rvd_block_bypass)
                n = z < 10 ? 10 - z : (type == cleanup_pass ? 1 : 2);
            else
                n = possible;
            seg_start = z;
            truncated = false;
            if (static_cast<int64_t>(z) + n > passes) {
                seg_end = passes;
                truncated = passes < possible;
            } else {
                seg_end = z + n;
            }
            int length = 0;
            for (int k = seg_start; k < seg_end; k++)
                length += block->pass_lengths[k];
            bool mq = !((modes & rvd_block_bypass) && z >= 10 && type != cleanup_pass);
            coder.start(block->byte_buffer + pos, length, mq);
            pos += length;
        }
        if (z == 0 || (modes & rvd_block_reset))
            reset_states(states);
        // The one dispatch point between the portable and the hand-written MQ passes;
        // bypass segments always take the portable raw forms.
        bool raw = !coder.is_mq();
        bool hand = use_hand_passes && !raw;
        switch (type) {
        case significance_pass:
            if (raw)
                rv_decode_significance_pass_raw(coder, p, causal, samples, contexts, width, num_stripes, stride);
            else if (hand)
                rv_decode_significance_pass_hand(coder, states, p, causal, block->orientation, samples, contexts,
                                                 width, num_stripes, stride);
            else
                rv_decode_significance_pass(coder, states, p, causal, block->orientation, samples, contexts,
                                            width, num_stripes, stride);
            break;
        case refinement_pass:
            if (raw)
                rv_decode_refinement_pass_raw(coder, p, samples, contexts, width, num_stripes, stride);
            else if (hand)
                rv_decode_refinement_pass_hand(coder, states, p, samples, contexts, width, num_stripes, stride);
            else
                rv_decode_refinement_pass(coder, states, p, samples, contexts, width, num_stripes, stride);
            break;
        case cleanup_pass:
            if (hand)
                rv_decode_cleanup_pass_hand(coder, states, p, causal, block->orientation, samples, contexts,
                                            width, num_stripes, stride);
            else
                rv_decode_cleanup_pass(coder, states, p, causal, block->orientation, samples, contexts, width,
                                       num_stripes, stride);
            break;
        }
        if (type == cleanup_pass && (modes & rvd_block_segmark)) {
            int first, second;
            coder.decode_run(first);
            coder.decode_run(second);
            if (check_segmark && 4 * first + second != 10) {
                int lowered = z <= 2 ? 0 : z - 2;
                if (check_termination && seg_start > lowered)
                    lowered = seg_start;
                coder.finish(false);
                return lowered;
            }
        }
        if (z + 1 == seg_end) {
            if (!coder.finish(check_termination && !truncated)) {
                int lowered = seg_start;
                if (modes & rvd_block_segmark) {
                    int plane_start = z == 0 ? 0 : 3 * ((z + 2) / 3) - 2;
                    lowered = std::max(lowered, plane_start);
                }
                return lowered;
            }
        }
    }
    return -1;
}

void rv_block_decoder::decode(rvd_block* block)
{
    int height = block->size.y, width = block->size.x;
    if (height < 1 || width < 1)
        return;
    // Code-blocks hold at most 4096 samples and 1024 on a side; anything larger is a
    // corrupt record, which must not make the buffers grow without bound.
    if (width > 1024 || height > 1024 || width * height > 4096) {
        rvd_error e("Ravade Core Error:\n");
        e << "Code-block of " << height << " x " << width
          << " samples exceeds the block decoder's limit of 4096 samples and 1024 on a side.";
    }
    int num_stripes = (height + 3) / 4;
    int num_samples = 4 * num_stripes * width;
    int num_contexts = (num_stripes + 2) * (width + 3) + 1;
    if (block->max_samples < num_samples)
        block->set_max_samples(std::max(num_samples, 4096));
    if (block->max_contexts < num_contexts)
        block->set_max_contexts(std::max(num_contexts, 1600));

    int repeats = block->timing_repeats > 0 ? block->timing_repeats : 1;
    if (block->timing_repeats > 0)
        block->timing_start = rv_coder_clock();
    for (int n = 0; n < repeats; n++) {
        int decoding = block->num_passes;
        int lowered;
        while ((lowered = decode_once(block, num_stripes)) >= 0) {
            if (block->fussy) {
                rvd_error e("Ravade Core Error:\n");
                e << "Encountered incorrectly terminated codeword segment, or invalid SEGMARK symbol in "
                     "code-block bit-stream.  You may like to use the \"resilient\" mode to recover from and "
                     "conceal such errors.";
            }
            if (!block->errors_reported) {
                block->errors_reported = true;
                rvd_warning w("Ravade Core Warning:\n");
                w << "One or more corrupted block bit-streams detected.\n";
            }
            // Each decode must see fewer passes than the one before, so no input loops.
            block->num_passes = lowered < decoding ? lowered : 0;
            decoding = block->num_passes;
        }
    }
    if (block->timing_repeats > 0) {
        block->timing_total += rv_coder_clock() - block->timing_start;
        block->timed_samples += static_cast<int64_t>(width) * height;
    }
}

rvd_block_decoder::rvd_block_decoder() : state(new rv_block_decoder) {}

rvd_block_decoder::~rvd_block_decoder() { delete state; }

void rvd_block_decoder::decode(rvd_block* block) { state->decode(block); }
