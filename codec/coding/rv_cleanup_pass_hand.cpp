#include "codec/coding/rv_block_passes_hand.h"
#include "codec/coding/rv_context_tables.h"
#include "codec/core/rvd_processor.h"

namespace {

using namespace rv_ctx;

template <int R, bool FLAT>
inline void cleanup_row(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, const uint8_t* lut, uint32_t* cp,
                        uint32_t& w, int32_t* sp, int width, int32_t one_and_half, bool causal, int stride)
{
    if ((w & (sig(R) | visited(R) | sign(R))) != 0)
        return;
    rv_hand::code_row<R, FLAT>(q, r, states, lut, cp, w, sp, width, one_and_half, causal, stride);
}

// Causal mode as a constant: one register and one test fewer in the loop. FLAT (with
// LZCNT and BMI2) codes the rows' significance and signs with branch-free decisions; the
// run symbols, mostly MPS, keep the branch; A and C stay whole through the pass.
template <bool CAUSAL, bool FLAT>
void cleanup_pass(rv_mq_decoder& coder, rv_mq_state* unpacked, int p, int orientation, int32_t* samples,
                  int32_t* contexts, int width, int num_stripes, int stride)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    const int32_t one_and_half = static_cast<int32_t>(3u << (p - 1));
    rv_mq_packed states[rv_num_contexts];
    rv_mq_pack_states(unpacked, states, rv_num_contexts);
    rv_mq_packed& run = states[rv_run_context];
    rv_mq_registers r;
    rv_mq_wide q;
    rv_mq_wide_check_out(coder, r, q);
    if (FLAT)
        rv_mq_wide_whole(q);
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        uint32_t* end = cp + width;
        int32_t* sp = samples + 4 * s * width;
        for (; cp < end; cp++, sp++) {
            uint32_t w = *cp;
            int first_row = 0;
            if (w == 0) {
                if ((run & 1) == 0 && cp[3] == 0) {
                    // Four zero columns whose run symbols all fit in the distance: each
                    // would be an MPS that leaves the state as it is.
                    int64_t four = static_cast<int64_t>(4 * (run & ~rv_mq_packed_index));
                    if (q.D >= four) {
                        q.D -= four;
                        if (FLAT) {
                            q.A -= static_cast<uint64_t>(four);
                            q.C -= static_cast<uint64_t>(four);
                        }
                        cp += 3;
                        sp += 3;
                        continue;
                    }
                }
                if (rv_mq_hand_decide<FLAT>(q, r, run) == 0)
                    continue;
                int row = rv_mq_hand_run<FLAT>(q, r);
                // No neighbour is significant: the first sign context, no prediction.
                uint32_t neg = static_cast<uint32_t>(rv_mq_hand_decide<FLAT>(q, r, states[rv_first_sign_context]));
                switch (row) {
                case 0:
                    make_significant(cp, w, 0, neg, CAUSAL, stride);
                    break;
                case 1:
                    make_significant(cp, w, 1, neg, CAUSAL, stride);
                    break;
                case 2:
                    make_significant(cp, w, 2, neg, CAUSAL, stride);
                    break;
                default:
                    make_significant(cp, w, 3, neg, CAUSAL, stride);
                    break;
                }
                sp[row * width] = static_cast<int32_t>((neg << 31) | static_cast<uint32_t>(one_and_half));
                first_row = row + 1;
            }
            switch (first_row) {
            case 0:
                cleanup_row<0, FLAT>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
                // fall through
            case 1:
                cleanup_row<1, FLAT>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
                // fall through
            case 2:
                cleanup_row<2, FLAT>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
                // fall through
            case 3:
                cleanup_row<3, FLAT>(q, r, states, lut, cp, w, sp, width, one_and_half, CAUSAL, stride);
                break;
            default:
                break;
            }
            *cp = (w & ~visited_mask) | ((w & sig_mask) << refine_shift);
        }
    }
    if (FLAT)
        rv_mq_wide_held(q);
    rv_mq_wide_check_in(coder, r, q);
    rv_mq_unpack_states(states, unpacked, rv_num_contexts);
}

} // namespace

void rv_decode_cleanup_pass_hand(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                 int orientation, int32_t* samples, int32_t* contexts, int width,
                                 int num_stripes, int stride)
{
#if defined(__x86_64__)
    if (rvd_lzcnt_shlx_exists) {
        if (causal)
            cleanup_pass<true, true>(coder, states, p, orientation, samples, contexts, width, num_stripes, stride);
        else
            cleanup_pass<false, true>(coder, states, p, orientation, samples, contexts, width, num_stripes, stride);
        return;
    }
#endif
    if (causal)
        cleanup_pass<true, false>(coder, states, p, orientation, samples, contexts, width, num_stripes, stride);
    else
        cleanup_pass<false, false>(coder, states, p, orientation, samples, contexts, width, num_stripes, stride);
}
