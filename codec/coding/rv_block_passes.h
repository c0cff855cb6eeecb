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
#pragma once

#include "codec/coding/rv_mq_decoder.h"

#include <cstdint>

namespace rv_ctx {
inline constexpr uint32_t sig(int r) { return 1u << (4 + 3 * r); }
inline constexpr uint32_t refine(int r) { return 1u << (19 + 3 * r); }
inline constexpr uint32_t visited(int r) { return 1u << (20 + 3 * r); }
inline constexpr uint32_t sign(int r) { return 1u << (21 + 3 * r); }
const uint32_t sig_mask = sig(0) | sig(1) | sig(2) | sig(3);
const uint32_t refine_mask = refine(0) | refine(1) | refine(2) | refine(3);
const uint32_t visited_mask = visited(0) | visited(1) | visited(2) | visited(3);
const uint32_t sign_mask = sign(0) | sign(1) | sign(2) | sign(3);
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
