// Hand-written forms of the three MQ coding passes, one file each. They take the same
// arguments and give the same samples and context words as the portable forms of
// rv_block_passes.h; the block decoder chooses between them at its one dispatch point.
#pragma once

#include "codec/coding/rv_block_passes.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_hand.h"

void rv_decode_significance_pass_hand(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                      int orientation, int32_t* samples, int32_t* contexts, int width,
                                      int num_stripes, int stride);
void rv_decode_refinement_pass_hand(rv_mq_decoder& coder, rv_mq_state* states, int p, int32_t* samples,
                                    int32_t* contexts, int width, int num_stripes, int stride);
void rv_decode_cleanup_pass_hand(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                 int orientation, int32_t* samples, int32_t* contexts, int width,
                                 int num_stripes, int stride);

namespace rv_hand {

// The refinement pass's stripe walk as the x86-64 form runs it (rv_refinement_pass_x64.cpp):
// the wide registers and the three refinement contexts' states go in and come back through
// the record, which the walk reads by fixed offsets.
struct refine_walk {
    uint64_t A;
    uint64_t C;
    int64_t D;
    int64_t t;
    rv_mq_registers* r;
    uint64_t states[3];       // contexts 15-17, packed
    const uint32_t* contexts; // stripe 0, column 0
    int32_t* samples;
    int64_t width;
    int64_t num_stripes;
    int64_t stride;
    uint64_t bit_p;
    uint64_t bits_p_and_half;
};

// The significance propagation pass's stripe walk (rv_significance_pass_x64.cpp), the
// same way.
struct significance_walk {
    uint64_t A;
    uint64_t C;
    int64_t D;
    int64_t t;
    rv_mq_registers* r;
    rv_mq_packed* states;     // all contexts
    uint32_t* contexts;       // stripe 0, column 0
    int32_t* samples;
    int64_t width;
    int64_t num_stripes;
    int64_t stride;
    const uint8_t* lut;       // the orientation's significance table
    const uint8_t* sign_lut;  // rv_sign_lut
    int64_t one_and_half;     // a new sample's magnitude
    int64_t causal;
};

} // namespace rv_hand

#if defined(__x86_64__)
extern "C" __attribute__((visibility("hidden"))) void rv_significance_walk_x64(rv_hand::significance_walk* walk);
extern "C" __attribute__((visibility("hidden"))) void rv_refine_walk_x64(rv_hand::refine_walk* walk);
// The same walks with LZCNT and SHLX, A and C whole, and the significance walk's decisions
// flat (rvd_lzcnt_shlx_exists).
extern "C" __attribute__((visibility("hidden"))) void rv_significance_walk_x64_lz(rv_hand::significance_walk* walk);
extern "C" __attribute__((visibility("hidden"))) void rv_refine_walk_x64_lz(rv_hand::refine_walk* walk);
// The refinement and significance passes on checked-out registers and packed states
// through the walks above.
void rv_refine_pass_x64(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, int p, int32_t* samples,
                        int32_t* contexts, int width, int num_stripes, int stride);
void rv_significance_pass_x64(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, int p, bool causal,
                              int orientation, int32_t* samples, int32_t* contexts, int width, int num_stripes,
                              int stride);
#endif

namespace rv_hand {

// Sign-table index for row R of a column word, with the column words beside it. The four
// neighbour significance bits sit two apart from sig_pos(R - 1), the signs above and below
// six apart from sign_pos(R - 1) (the one below row 3 is below_sign_pos).
template <int R>
inline uint32_t sign_index(uint32_t w, uint32_t left, uint32_t right)
{
    using namespace rv_ctx;
    uint32_t below_above;
    if (R < 3)
        below_above = ((w >> sign_pos(R - 1)) & 0x41) << 1;
    else
        below_above = (bit_at(w, sign_pos(R - 1)) << 1) | ((w >> below_sign_pos) << 7);
    return ((w >> sig_pos(R - 1)) & 0x55) | below_above | (bit_at(left, sign_pos(R)) << 3) |
           (bit_at(right, sign_pos(R)) << 5);
}

// Significance and sign of row R once its significance symbol is to be decoded; returns
// whether it became significant. `lut` is the orientation's significance table.
// FLAT takes rv_mq_hand_decide_flat for both decisions, on whole registers.
template <int R, bool FLAT = false>
inline void code_row(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, const uint8_t* lut, uint32_t* cp,
                     uint32_t& w, int32_t* sp, int width, int32_t one_and_half, bool causal, int stride)
{
    auto decide = [&q, &r](rv_mq_packed& state) {
#if defined(__x86_64__)
        if (FLAT)
            return rv_mq_hand_decide_flat(q, r, state);
#endif
        return rv_mq_hand_decide(q, r, state);
    };
    if (!decide(states[lut[(w >> (3 * R)) & rv_ctx::neighbourhood_index]]))
        return;
    uint32_t e = rv_sign_lut[sign_index<R>(w, cp[-1], cp[1])];
    uint32_t neg = static_cast<uint32_t>(decide(states[rv_first_sign_context + (e >> 1)])) ^ (e & 1);
    rv_ctx::make_significant(cp, w, R, neg, causal, stride);
    sp[R * width] = static_cast<int32_t>((neg << 31) | static_cast<uint32_t>(one_and_half));
}

} // namespace rv_hand
