#include "codec/coding/rv_block_passes.h"

#include "codec/coding/rv_context_tables.h"

namespace {

using namespace rv_ctx;

inline int32_t new_sample(uint32_t neg, int p)
{
    return static_cast<int32_t>((neg << 31) | (3u << (p - 1)));
}

inline void refine_sample(int32_t& sample, int bit, int p)
{
    uint32_t v = static_cast<uint32_t>(sample);
    v = (v & ~(1u << p)) | (static_cast<uint32_t>(bit) << p) | (1u << (p - 1));
    sample = static_cast<int32_t>(v);
}

// Row R of one column in the significance propagation pass.
template <bool RAW, int R>
inline void significance_row(rv_mq_registers& r, rv_mq_state* states, const uint8_t* lut, uint32_t* cp,
                             uint32_t& w, int32_t* sp, int width, int p, bool causal, int stride)
{
    if ((w & (sig(R) | sign(R))) != 0 || ((w >> (3 * R)) & neighbours) == 0)
        return;
    int bit = RAW ? rv_mq_raw_bit(r) : rv_mq_decode_checked(r, states[lut[(w >> (3 * R)) & neighbourhood_index]]);
    w |= visited(R);
    if (!bit)
        return;
    uint32_t neg;
    if (RAW) {
        neg = static_cast<uint32_t>(rv_mq_raw_bit(r));
    } else {
        uint32_t e = rv_sign_lut[sign_index(w, cp[-1], cp[1], R)];
        neg = static_cast<uint32_t>(rv_mq_decode_checked(r, states[rv_first_sign_context + (e >> 1)])) ^ (e & 1);
    }
    make_significant(cp, w, R, neg, causal, stride);
    sp[R * width] = new_sample(neg, p);
}

template <bool RAW>
void significance_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal, int orientation,
                       int32_t* samples, int32_t* contexts, int width, int num_stripes, int stride)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    rv_mq_registers r;
    coder.check_out(r);
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        int32_t* sp = samples + 4 * s * width;
        for (int c = 0; c < width; c++) {
            uint32_t w = cp[c];
            if (w == 0) {
                // Zero words at c and c + 3 mean zero words between them.
                while (cp[c + 3] == 0)
                    c += 3;
                continue;
            }
            significance_row<RAW, 0>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
            significance_row<RAW, 1>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
            significance_row<RAW, 2>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
            significance_row<RAW, 3>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
            cp[c] = w;
        }
    }
    coder.check_in(r);
}

// Row R of one column in the magnitude refinement pass.
template <bool RAW, int R>
inline void refinement_row(rv_mq_registers& r, rv_mq_state* states, uint32_t w, int32_t* sp, int width, int p)
{
    if ((w & refine(R)) == 0)
        return;
    int32_t& sample = sp[R * width];
    int bit;
    if (RAW) {
        bit = rv_mq_raw_bit(r);
    } else {
        int ctx;
        if (((static_cast<uint32_t>(sample) & magnitude_mask) >> p) >= 4)
            ctx = rv_first_refine_context + 2;
        else
            ctx = rv_first_refine_context + (((w >> (3 * R)) & neighbours) != 0 ? 1 : 0);
        bit = rv_mq_decode_checked(r, states[ctx]);
    }
    refine_sample(sample, bit, p);
}

template <bool RAW>
void refinement_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, int32_t* samples, int32_t* contexts,
                     int width, int num_stripes, int stride)
{
    rv_mq_registers r;
    coder.check_out(r);
    for (int s = 0; s < num_stripes; s++) {
        const uint32_t* cp = reinterpret_cast<const uint32_t*>(contexts) + (s + 1) * stride + 1;
        int32_t* sp = samples + 4 * s * width;
        for (int c = 0; c < width; c++) {
            uint32_t w = cp[c];
            if ((w & refine_mask) == 0)
                continue;
            refinement_row<RAW, 0>(r, states, w, sp + c, width, p);
            refinement_row<RAW, 1>(r, states, w, sp + c, width, p);
            refinement_row<RAW, 2>(r, states, w, sp + c, width, p);
            refinement_row<RAW, 3>(r, states, w, sp + c, width, p);
        }
    }
    coder.check_in(r);
}

// Row R of one column in the cleanup pass, outside run mode.
template <int R>
inline void cleanup_row(rv_mq_registers& r, rv_mq_state* states, const uint8_t* lut, uint32_t* cp, uint32_t& w,
                        int32_t* sp, int width, int p, bool causal, int stride)
{
    if ((w & (sig(R) | visited(R) | sign(R))) != 0)
        return;
    if (!rv_mq_decode_checked(r, states[lut[(w >> (3 * R)) & neighbourhood_index]]))
        return;
    uint32_t e = rv_sign_lut[sign_index(w, cp[-1], cp[1], R)];
    uint32_t neg =
        static_cast<uint32_t>(rv_mq_decode_checked(r, states[rv_first_sign_context + (e >> 1)])) ^ (e & 1);
    make_significant(cp, w, R, neg, causal, stride);
    sp[R * width] = new_sample(neg, p);
}

} // namespace

void rv_decode_significance_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                                 int orientation, int32_t* samples, int32_t* contexts, int width,
                                 int num_stripes, int stride)
{
    significance_pass<false>(coder, states, p, causal, orientation, samples, contexts, width, num_stripes,
                             stride);
}

void rv_decode_significance_pass_raw(rv_mq_decoder& coder, int p, bool causal, int32_t* samples,
                                     int32_t* contexts, int width, int num_stripes, int stride)
{
    significance_pass<true>(coder, nullptr, p, causal, 0, samples, contexts, width, num_stripes, stride);
}

void rv_decode_refinement_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, int32_t* samples,
                               int32_t* contexts, int width, int num_stripes, int stride)
{
    refinement_pass<false>(coder, states, p, samples, contexts, width, num_stripes, stride);
}

void rv_decode_refinement_pass_raw(rv_mq_decoder& coder, int p, int32_t* samples, int32_t* contexts,
                                   int width, int num_stripes, int stride)
{
    refinement_pass<true>(coder, nullptr, p, samples, contexts, width, num_stripes, stride);
}

void rv_decode_cleanup_pass(rv_mq_decoder& coder, rv_mq_state* states, int p, bool causal,
                            int orientation, int32_t* samples, int32_t* contexts, int width,
                            int num_stripes, int stride)
{
    const uint8_t* lut = rv_significance_lut[orientation & 3];
    rv_mq_state& run = states[rv_run_context];
    rv_mq_registers r;
    coder.check_out(r);
    for (int s = 0; s < num_stripes; s++) {
        uint32_t* cp = reinterpret_cast<uint32_t*>(contexts) + (s + 1) * stride + 1;
        int32_t* sp = samples + 4 * s * width;
        for (int c = 0; c < width; c++) {
            uint32_t w = cp[c];
            int first_row = 0;
            if (w == 0) {
                if ((run.p_mps & 1) == 0 && cp[c + 3] == 0) {
                    // Four zero columns whose run symbols all fit in the distance: each
                    // would be an MPS that leaves the state as it is.
                    int32_t four = 4 * (run.p_mps & ~1);
                    if (r.D >= four) {
                        r.D -= four;
                        c += 3;
                        continue;
                    }
                }
                if (rv_mq_decode_checked(r, run) == 0)
                    continue;
                int row = rv_mq_decode_run_checked(r);
                // No neighbour is significant: the first sign context, no prediction.
                uint32_t neg = static_cast<uint32_t>(rv_mq_decode_checked(r, states[rv_first_sign_context]));
                make_significant(cp + c, w, row, neg, causal, stride);
                sp[row * width + c] = new_sample(neg, p);
                first_row = row + 1;
            }
            switch (first_row) {
            case 0:
                cleanup_row<0>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
                // fall through
            case 1:
                cleanup_row<1>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
                // fall through
            case 2:
                cleanup_row<2>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
                // fall through
            case 3:
                cleanup_row<3>(r, states, lut, cp + c, w, sp + c, width, p, causal, stride);
                break;
            default:
                break;
            }
            cp[c] = (w & ~visited_mask) | ((w & sig_mask) << refine_shift);
        }
    }
    coder.check_in(r);
}
