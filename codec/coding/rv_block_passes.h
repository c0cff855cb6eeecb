// The three coding passes of the block decoder, in MQ and raw (bypass) forms. They walk
// stripes of four rows column by column over packed context words: one 32-bit word per
// stripe column, (width + 3) words per stripe row, one extra stripe row above and below
// and one extra word in front; stripe s, column c is word (s + 1) x stride + 1 + c.
//
// Context word bits, for stripe rows r = 0..3:
//   3k .. 3k+2   significance of the left, this and the right column at stripe row k - 1
//                (k = 0 the row above the stripe, k = 5 the row below)
//   18           sign of this column's sample in the row above the stripe
//   19 + 3r      row r was significant at the end of the previous cleanup (to refine)
//   20 + 3r      row r was coded in this bit-plane's significance propagation pass
//   21 + 3r      sign of row r; set without the significance bit it marks a sample
//                outside the block
//   31           sign of this column's sample in the row below the stripe
// The decoder's and the encoder's passes name these bits through rv_ctx, so both read and
// write the same layout.
#pragma once

#include "codec/coding/rv_mq_decoder.h"

#include <cstdint>

namespace rv_ctx {
// Bit positions, for stripe rows r = -1..4 where they exist: row -1 is the row above the
// stripe and row 4 the row below; a column's left and right neighbours in row r sit just
// below and above sig(r).
inline constexpr int sig_pos(int r) { return 4 + 3 * r; }
inline constexpr int sign_pos(int r) { return 21 + 3 * r; }
inline constexpr uint32_t sig(int r) { return 1u << sig_pos(r); }
inline constexpr uint32_t refine(int r) { return 1u << (19 + 3 * r); }
inline constexpr uint32_t visited(int r) { return 1u << (20 + 3 * r); }
inline constexpr uint32_t sign(int r) { return 1u << sign_pos(r); }
const uint32_t sig_mask = sig(0) | sig(1) | sig(2) | sig(3);
const uint32_t refine_mask = refine(0) | refine(1) | refine(2) | refine(3);
const uint32_t visited_mask = visited(0) | visited(1) | visited(2) | visited(3);
const uint32_t sign_mask = sign(0) | sign(1) | sign(2) | sign(3);
// The sign of the sample below row 3 (row 4 has no sign bit of its own).
const int below_sign_pos = 31;
const uint32_t below_sign = 1u << below_sign_pos;
const uint32_t magnitude_mask = 0x7FFFFFFF; // of a sample word; bit 31 is its sign
// Row r's neighbourhood lies in bits 3r to 3r + 8 (its own significance in the middle):
// shifted down by 3r, the significance-table index and the mask of the eight neighbours.
const uint32_t neighbourhood_index = 0x1FF;
const uint32_t neighbours = neighbourhood_index & ~sig(0);
// refine(r) == sig(r) << refine_shift: a cleanup's significance becomes the next
// plane's refinement.
const int refine_shift = 15;
static_assert((sig(2) << refine_shift) == refine(2), "refinement bits mirror significance bits");

inline uint32_t bit_at(uint32_t w, int pos) { return (w >> pos) & 1; }

// Index into the sign table for row r of a column word, with the column words beside it.
inline uint32_t sign_index(uint32_t w, uint32_t left, uint32_t right, int r)
{
    uint32_t lower_neg = r == 3 ? bit_at(w, below_sign_pos) : bit_at(w, sign_pos(r + 1));
    return bit_at(w, sig_pos(r - 1)) | (bit_at(w, sign_pos(r - 1)) << 1) | (bit_at(w, sig_pos(r) - 1) << 2) |
           (bit_at(left, sign_pos(r)) << 3) | (bit_at(w, sig_pos(r) + 1) << 4) | (bit_at(right, sign_pos(r)) << 5) |
           (bit_at(w, sig_pos(r + 1)) << 6) | (lower_neg << 7);
}

// Records that row r of the column at cp became significant with sign `neg` (0 or 1): in
// the caller's copy `w` of the column's word and in place in its eight neighbours' words
// (rows 4 of the stripe above and -1 of the stripe below).
inline void make_significant(uint32_t* cp, uint32_t& w, int r, uint32_t neg, bool causal, int stride)
{
    w |= sig(r) | (neg << sign_pos(r));
    cp[-1] |= sig(r) << 1; // the right neighbour of the column to the left
    cp[1] |= sig(r) >> 1;  // the left neighbour of the column to the right
    if (r == 0 && !causal) {
        uint32_t* up = cp - stride;
        up[-1] |= sig(4) << 1;
        up[0] |= sig(4) | (neg << below_sign_pos);
        up[1] |= sig(4) >> 1;
    } else if (r == 3) {
        uint32_t* down = cp + stride;
        down[-1] |= sig(-1) << 1;
        down[0] |= sig(-1) | (neg << sign_pos(-1));
        down[1] |= sig(-1) >> 1;
    }
}
} // namespace rv_ctx

// Context numbers of the 18 states a block decoder keeps.
const int rv_run_context = 9;
const int rv_first_sign_context = 10;
const int rv_first_refine_context = 15;
const int rv_num_contexts = 18;

void rv_decode_significance_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                 int orientation, int32_t* samples, int32_t* contexts, int width,
                                 int num_stripes, int stride);
void rv_decode_significance_pass_raw(rv_mq_decoder& coder, int p, bool causal, int32_t* samples,
                                     int32_t* contexts, int width, int num_stripes, int stride);
void rv_decode_refinement_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, int32_t* samples,
                               int32_t* contexts, int width, int num_stripes, int stride);
void rv_decode_refinement_pass_raw(rv_mq_decoder& coder, int p, int32_t* samples, int32_t* contexts,
                                   int width, int num_stripes, int stride);
void rv_decode_cleanup_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                            int orientation, int32_t* samples, int32_t* contexts, int width,
                            int num_stripes, int stride);
