#include "codec/encode/rv_block_encoder_passes.h"

#include "codec/coding/rv_block_passes.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/encode/rv_distortion_tables.h"

namespace {

using namespace rv_ctx;

// The five (significance) or six (refinement) magnitude bits from plane p down.
inline uint32_t low_bits(uint32_t mag, int p, uint32_t mask)
{
    return (p >= 5 ? (mag >> (p - 5)) : (mag << (5 - p))) & mask;
}

// Codes the sign of a newly significant sample and records it.
template <bool RAW>
inline void code_sign(rv_mq_encoder_regs& c, rv_mq_state* states, uint32_t* cp, uint32_t& w, int r, uint32_t neg,
                      bool causal, int stride)
{
    if (RAW) {
        c.put_raw(static_cast<int>(neg));
    } else {
        uint32_t e = rv_sign_lut[sign_index(w, cp[-1], cp[1], r)];
        c.encode_symbol(static_cast<int>(neg ^ (e & 1)), states[rv_first_sign_context + (e >> 1)]);
    }
    make_significant(cp, w, r, neg, causal, stride);
}

template <bool RAW>
inline int64_t significance_row(rv_mq_encoder_regs& c, rv_mq_state* states, const uint8_t* lut, uint32_t* cp,
                                uint32_t& w, const int32_t* sp, int r, int width, int p, bool causal, int stride,
                                const int32_t* dist)
{
    if ((w & (sig(r) | sign(r))) != 0 || ((w >> (3 * r)) & neighbours) == 0)
        return 0;
    uint32_t v = static_cast<uint32_t>(sp[r * width]);
    uint32_t mag = v & magnitude_mask;
    int bit = static_cast<int>((mag >> p) & 1);
    if (RAW)
        c.put_raw(bit);
    else
        c.encode_symbol(bit, states[lut[(w >> (3 * r)) & neighbourhood_index]]);
    w |= visited(r);
    if (!bit)
        return 0;
    code_sign<RAW>(c, states, cp, w, r, v >> 31, causal, stride);
    return dist[low_bits(mag, p, 31)];
}

template <bool RAW>
int64_t significance_pass(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                          rv_mq_state* states, int num_stripes, int width, int orientation, bool causal,
                          bool final_plane)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    const int32_t* dist = final_plane ? rv_significance_distortion_final : rv_significance_distortion_lossy;
    const int stride = width + 3;
    int64_t total = 0;
    rv_mq_encoder_regs c = coder.r;
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        const int32_t* sp = samples + 4 * s * width;
        for (int col = 0; col < width; col++) {
            uint32_t w = cp[col];
            if (w == 0) {
                // Zero words at col and col + 3 mean zero words between them.
                while (cp[col + 3] == 0)
                    col += 3;
                continue;
            }
            #pragma GCC unroll 4
            for (int r = 0; r < 4; r++)
                total += significance_row<RAW>(c, states, lut, cp + col, w, sp + col, r, width, p, causal, stride,
                                               dist);
            cp[col] = w;
        }
    }
    coder.r = c;
    return total;
}

template <bool RAW>
int64_t refinement_pass(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                        rv_mq_state* states, int num_stripes, int width, bool final_plane)
{
    const int32_t* dist = final_plane ? rv_refinement_distortion_final : rv_refinement_distortion_lossy;
    const int stride = width + 3;
    int64_t total = 0;
    rv_mq_encoder_regs c = coder.r;
    for (int s = 0; s < num_stripes; s++) {
        const uint32_t* cp = reinterpret_cast<const uint32_t*>(contexts) + (s + 1) * stride + 1;
        const int32_t* sp = samples + 4 * s * width;
        for (int col = 0; col < width; col++) {
            uint32_t w = cp[col];
            if ((w & refine_mask) == 0)
                continue;
            #pragma GCC unroll 4
            for (int r = 0; r < 4; r++) {
                if ((w & refine(r)) == 0)
                    continue;
                uint32_t mag = static_cast<uint32_t>(sp[r * width + col]) & magnitude_mask;
                int bit = static_cast<int>((mag >> p) & 1);
                if (RAW) {
                    c.put_raw(bit);
                } else {
                    int ctx;
                    if ((mag >> p) >= 4) // refined before: significant above plane p + 1
                        ctx = rv_first_refine_context + 2;
                    else
                        ctx = rv_first_refine_context + (((w >> (3 * r)) & neighbours) != 0 ? 1 : 0);
                    c.encode_symbol(bit, states[ctx]);
                }
                total += dist[low_bits(mag, p, 63)];
            }
        }
    }
    coder.r = c;
    return total;
}

} // namespace

int64_t sig_prop_pass_mq(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                         rv_mq_state* states, int num_stripes, int width, int orientation, bool causal,
                         bool final_plane)
{
    return significance_pass<false>(p, samples, contexts, coder, states, num_stripes, width, orientation, causal,
                                    final_plane);
}

int64_t sig_prop_pass_raw(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                          int num_stripes, int width, bool causal, bool final_plane)
{
    return significance_pass<true>(p, samples, contexts, coder, nullptr, num_stripes, width, 0, causal,
                                   final_plane);
}

int64_t mag_ref_pass_mq(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                        rv_mq_state* states, int num_stripes, int width, bool, bool final_plane)
{
    return refinement_pass<false>(p, samples, contexts, coder, states, num_stripes, width, final_plane);
}

int64_t mag_ref_pass_raw(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                         int num_stripes, int width, bool, bool final_plane)
{
    return refinement_pass<true>(p, samples, contexts, coder, nullptr, num_stripes, width, final_plane);
}

int64_t cleanup_pass(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                     rv_mq_state* states, int num_stripes, int width, int orientation, bool causal,
                     bool final_plane)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    const int32_t* dist = final_plane ? rv_significance_distortion_final : rv_significance_distortion_lossy;
    const int stride = width + 3;
    int64_t total = 0;
    rv_mq_encoder_regs c = coder.r;
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        const int32_t* sp = samples + 4 * s * width;
        for (int col = 0; col < width; col++) {
            uint32_t w = cp[col];
            int first_row = 0;
            if (w == 0) {
                // Run mode: one symbol for four insignificant samples without significant
                // neighbours, and the position of the first that becomes significant.
                int row = 4;
                #pragma GCC unroll 4
                for (int r = 0; r < 4; r++)
                    if ((static_cast<uint32_t>(sp[r * width + col]) >> p) & 1) {
                        row = r;
                        break;
                    }
                if (row == 4) {
                    c.encode_symbol(0, states[rv_run_context]);
                    continue;
                }
                c.encode_symbol(1, states[rv_run_context]);
                c.encode_run(row);
                uint32_t v = static_cast<uint32_t>(sp[row * width + col]);
                // No neighbour is significant: the first sign context, no prediction.
                c.encode_symbol(static_cast<int>(v >> 31), states[rv_first_sign_context]);
                make_significant(cp + col, w, row, v >> 31, causal, stride);
                total += dist[low_bits(v & magnitude_mask, p, 31)];
                first_row = row + 1;
            }
            for (int r = first_row; r < 4; r++) {
                if ((w & (sig(r) | visited(r) | sign(r))) != 0)
                    continue;
                uint32_t v = static_cast<uint32_t>(sp[r * width + col]);
                uint32_t mag = v & magnitude_mask;
                int bit = static_cast<int>((mag >> p) & 1);
                c.encode_symbol(bit, states[lut[(w >> (3 * r)) & neighbourhood_index]]);
                if (!bit)
                    continue;
                code_sign<false>(c, states, cp + col, w, r, v >> 31, causal, stride);
                total += dist[low_bits(mag, p, 31)];
            }
            // What is significant now is refined from the next plane on.
            cp[col] = (w & ~visited_mask) | ((w & sig_mask) << refine_shift);
        }
    }
    coder.r = c;
    return total;
}
