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

// Stripe rows -1 and 4 are the rows above and below the stripe, so sig(-1), sign(-1)
// and sig(4) name the neighbour bits kept for them; a column's left and right
// neighbours in row r sit just below and above sig(r).
const uint32_t below_sign = 1u << 31; // sign of the sample below row 3
const uint32_t magnitude_mask = 0x7FFFFFFF; // of a sample word; bit 31 is its sign
// Row r's neighbourhood lies in bits 3r to 3r + 8 (its own significance in the middle):
// shifted down by 3r, the significance-table index and the mask of the eight neighbours.
const uint32_t neighbourhood_index = 0x1FF;
const uint32_t neighbours = neighbourhood_index & ~sig(0);
// refine(r) == sig(r) << refine_shift.
const int refine_shift = 15;
static_assert((sig(2) << refine_shift) == refine(2), "refinement bits mirror significance bits");

inline uint32_t has(uint32_t w, uint32_t mask)
{
    return (w & mask) != 0 ? 1u : 0u;
}

// Index into the sign table for row r of a column word, with the column words beside it.
inline uint32_t sign_index(uint32_t w, uint32_t left, uint32_t right, int r)
{
    uint32_t lower_sign = r == 3 ? below_sign : sign(r + 1);
    return has(w, sig(r - 1)) | has(w, sign(r - 1)) << 1 | has(w, sig(r) >> 1) << 2 | has(left, sign(r)) << 3 |
           has(w, sig(r) << 1) << 4 | has(right, sign(r)) << 5 | has(w, sig(r + 1)) << 6 | has(w, lower_sign) << 7;
}

// Records that row r of the column at cp became significant, in its own word `w` and in
// the words of its eight neighbours, exactly as the decoder does.
inline void make_significant(uint32_t* cp, uint32_t& w, int r, uint32_t neg, bool causal, int stride)
{
    w |= sig(r) | (neg ? sign(r) : 0);
    cp[-1] |= sig(r) << 1; // the right neighbour of the column to the left
    cp[1] |= sig(r) >> 1;  // the left neighbour of the column to the right
    if (r == 0 && !causal) {
        uint32_t* up = cp - stride; // row 4 of the stripe above
        up[-1] |= sig(4) << 1;
        up[0] |= sig(4) | (neg ? below_sign : 0);
        up[1] |= sig(4) >> 1;
    } else if (r == 3) {
        uint32_t* down = cp + stride; // row -1 of the stripe below
        down[-1] |= sig(-1) << 1;
        down[0] |= sig(-1) | (neg ? sign(-1) : 0);
        down[1] |= sig(-1) >> 1;
    }
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
