#include "codec/coding/rv_block_passes_hand.h"

namespace {

using namespace rv_ctx;

// Row R of a column with something to refine. The context and the sample's update are
// formed without branches on the sample or on the decoded bit, and without shifts by the
// plane (the decision's renormalisation wants the shift register).
template <int R>
inline void refinement_row(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, uint32_t w, int32_t* sp,
                           int width, uint32_t bit_p, uint32_t bits_p_and_half)
{
    if ((w & refine(R)) == 0)
        return;
    uint32_t v = static_cast<uint32_t>(sp[R * width]);
    // First refinement (magnitude below 4 x 2^p): context 15, or 16 with a significant
    // neighbour; later ones context 17.
    int ctx = rv_first_refine_context + (((w >> (3 * R)) & rv_ctx::neighbours) != 0 ? 1 : 0);
    ctx = (v & rv_ctx::magnitude_mask) >= 4 * bit_p ? rv_first_refine_context + 2 : ctx;
    uint32_t bit = static_cast<uint32_t>(rv_mq_hand_decide(q, r, states[ctx]));
    // Bit p set and cleared again for a 0; the half step below it set.
    sp[R * width] = static_cast<int32_t>((v | bits_p_and_half) ^ (bit_p & (bit - 1)));
}

} // namespace

void rv_decode_refinement_pass_hand(rv_mq_decoder& coder, rv_mq_state* unpacked, int p, int32_t* samples,
                                    int32_t* contexts, int width, int num_stripes, int stride)
{
    // Only the refinement contexts are read or written.
    rv_mq_packed states[rv_num_contexts];
    rv_mq_pack_states(unpacked + rv_first_refine_context, states + rv_first_refine_context, 3);
    rv_mq_registers r;
    rv_mq_wide q;
    rv_mq_wide_check_out(coder, r, q);
#if defined(__x86_64__)
    rv_refine_pass_x64(q, r, states, p, samples, contexts, width, num_stripes, stride);
#else
    const uint32_t bit_p = 1u << p;
    const uint32_t bits_p_and_half = bit_p | (bit_p >> 1);
    for (int s = 0; s < num_stripes; s++) {
        const uint32_t* cp = reinterpret_cast<const uint32_t*>(contexts) + (s + 1) * stride + 1;
        int32_t* sp = samples + 4 * s * width;
        for (int c = 0; c < width; c++) {
            uint32_t w = cp[c];
            if ((w & refine_mask) == 0)
                continue;
            refinement_row<0>(q, r, states, w, sp + c, width, bit_p, bits_p_and_half);
            refinement_row<1>(q, r, states, w, sp + c, width, bit_p, bits_p_and_half);
            refinement_row<2>(q, r, states, w, sp + c, width, bit_p, bits_p_and_half);
            refinement_row<3>(q, r, states, w, sp + c, width, bit_p, bits_p_and_half);
        }
    }
#endif
    rv_mq_wide_check_in(coder, r, q);
    rv_mq_unpack_states(states + rv_first_refine_context, unpacked + rv_first_refine_context, 3);
}
