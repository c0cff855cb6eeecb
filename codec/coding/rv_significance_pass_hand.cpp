#include "codec/coding/rv_block_passes_hand.h"
#include "codec/coding/rv_context_tables.h"

namespace {

using namespace rv_ctx;

template <int R>
inline void significance_row(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, const uint8_t* lut,
                             uint32_t* cp, uint32_t& w, int32_t* sp, int width, int32_t one_and_half,
                             bool causal, int stride)
{
    // Coded when some neighbour is significant and the row is neither significant nor
    // outside the block; coded rows are marked whatever their symbol.
    if ((w & (sig(R) | sign(R))) != 0 || ((w >> (3 * R)) & neighbours) == 0)
        return;
    w |= visited(R);
    rv_hand::code_row<R>(q, r, states, lut, cp, w, sp, width, one_and_half, causal, stride);
}

// Causal mode as a constant: one register and one test fewer in the loop.
template <bool CAUSAL>
void significance_pass(rv_mq_decoder& coder, rv_mq_packed* states, int p, int orientation, int32_t* samples,
                       int32_t* contexts, int width, int num_stripes, int stride)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    const int32_t one_and_half = static_cast<int32_t>(3u << (p - 1));
    rv_mq_registers r;
    rv_mq_wide q;
    rv_mq_wide_check_out(coder, r, q);
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        uint32_t* end = cp + width;
        int32_t* sp = samples + 4 * s * width;
        for (; cp < end; cp++, sp++) {
            uint32_t w = *cp;
            if (w == 0) {
                // Zero words at c and c + 3 mean zero words between them; the extra words
                // behind the row are never zero, so no skip runs past it.
                while (cp[3] == 0) {
                    cp += 3;
                    sp += 3;
                }
                continue;
            }
            significance_row<0>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
            significance_row<1>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
            significance_row<2>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
            significance_row<3>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
            *cp = w;
        }
    }
    rv_mq_wide_check_in(coder, r, q);
}

} // namespace

void rv_decode_significance_pass_hand(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                      int orientation, int32_t* samples, int32_t* contexts, int width,
                                      int num_stripes, int stride)
{
    rv_mq_packed packed[rv_num_contexts];
    rv_mq_pack_states(states, packed, rv_num_contexts);
#if defined(__x86_64__)
    rv_mq_registers r;
    rv_mq_wide q;
    rv_mq_wide_check_out(coder, r, q);
    rv_significance_pass_x64(q, r, packed, p, causal, orientation, samples, contexts, width, num_stripes, stride);
    rv_mq_wide_check_in(coder, r, q);
#else
    if (causal)
        significance_pass<true>(coder, packed, p, orientation, samples, contexts, width, num_stripes, stride);
    else
        significance_pass<false>(coder, packed, p, orientation, samples, contexts, width, num_stripes, stride);
#endif
    rv_mq_unpack_states(packed, states, rv_num_contexts);
}
