#include "codec/coding/rv_block_decoder.h"

#include "codec/coding/rvd_block.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_processor.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace {

// Context word bits (one word per stripe column); row r of the stripe:
//   3r..3r+8   significance of the 3x3 neighbourhood, own bit 4 + 3r
//   18, 31     sign of the sample above / below the stripe in this column
//   19 + 3r    to be refined;  20 + 3r  coded in this plane's propagation pass
//   21 + 3r    sign (with the significance bit), or outside the block (without it)
const uint32_t SIG_MASK = 0x2490u;          // bits 4, 7, 10, 13
const uint32_t REFINE_MASK = SIG_MASK << 15; // bits 19, 22, 25, 28
const uint32_t PROP_MASK = SIG_MASK << 16;   // bits 20, 23, 26, 29
const uint32_t SIGN_MASK = SIG_MASK << 17;   // bits 21, 24, 27, 30
const uint32_t NBR_MASK = 0x1EFu;            // neighbourhood without the sample itself

enum { CTX_RUN = 9, CTX_SIGN = 10, CTX_REFINE = 15 };

struct pass_args {
    uint32_t* ctx;     // word of column 0, stripe 0
    uint32_t* samples; // row 0
    int width, stripes, stride;
    int p;
    bool causal;
    const uint8_t* sig_table;
};

inline int sign_index(uint32_t w, uint32_t wl, uint32_t wr, int r)
{
    int s = 3 * r;
    uint32_t down_sign = (r == 3) ? (w >> 31) : (w >> (24 + s));
    return int(((w >> (s + 1)) & 1) | (((w >> (18 + s)) & 1) << 1) | (((w >> (s + 3)) & 1) << 2) |
               (((wl >> (21 + s)) & 1) << 3) | (((w >> (s + 5)) & 1) << 4) |
               (((wr >> (21 + s)) & 1) << 5) | (((w >> (s + 7)) & 1) << 6) | ((down_sign & 1) << 7));
}

// Marks row r of the column at cw significant with the given sign, in its own word (w,
// written back by the caller) and in the neighbouring words.
inline void set_significant(uint32_t& w, uint32_t* cw, int r, uint32_t neg, const pass_args& a)
{
    int s = 3 * r;
    w |= (1u << (4 + s)) | (neg << (21 + s));
    cw[-1] |= 1u << (s + 5);
    cw[1] |= 1u << (s + 3);
    if (r == 0 && !a.causal) {
        uint32_t* up = cw - a.stride;
        up[-1] |= 1u << 17;
        up[0] |= (1u << 16) | (neg << 31);
        up[1] |= 1u << 15;
    } else if (r == 3) {
        uint32_t* dn = cw + a.stride;
        dn[-1] |= 1u << 2;
        dn[0] |= (1u << 1) | (neg << 18);
        dn[1] |= 1u;
    }
}

// Decodes the sign of a sample that has just become significant and records it.
template <bool RAW>
inline void code_sign(rv_mq_regs& mq, rv_mq_state* states, uint32_t& w, uint32_t* cw, int r,
                      uint32_t* sample, const pass_args& a)
{
    uint32_t neg;
    if (RAW)
        neg = uint32_t(rv_raw_bit(mq));
    else {
        int k = rv_sign_contexts[sign_index(w, cw[-1], cw[1], r)];
        neg = uint32_t(rv_mq_decode(mq, states[CTX_SIGN + (k >> 1)]) ^ (k & 1));
    }
    *sample = (neg << 31) | (3u << (a.p - 1));
    set_significant(w, cw, r, neg, a);
}

template <bool RAW>
void significance_pass(rv_mq_regs& mq, rv_mq_state* states, const pass_args& a)
{
    for (int s = 0; s < a.stripes; s++) {
        uint32_t* cp = a.ctx + s * a.stride;
        uint32_t* sp = a.samples + 4 * s * a.width;
        for (int c = 0; c < a.width;) {
            uint32_t w = cp[c];
            if (w == 0) {
                // Zero words at c and c + 3 mean zero words between them.
                c += (cp[c + 3] == 0) ? 3 : 1;
                continue;
            }
            for (int r = 0; r < 4; r++) {
                int sh = 3 * r;
                if (((w >> sh) & NBR_MASK) == 0 || (w & ((0x10u << sh) | (1u << (21 + sh)))))
                    continue;
                int sym = RAW ? rv_raw_bit(mq)
                              : rv_mq_decode(mq, states[a.sig_table[(w >> sh) & 0x1FF]]);
                w |= 1u << (20 + sh);
                if (sym)
                    code_sign<RAW>(mq, states, w, cp + c, r, sp + r * a.width + c, a);
            }
            cp[c] |= w;
            c++;
        }
    }
}

template <bool RAW>
void refinement_pass(rv_mq_regs& mq, rv_mq_state* states, const pass_args& a)
{
    const uint32_t half = 1u << (a.p - 1), bit = 1u << a.p;
    for (int s = 0; s < a.stripes; s++) {
        uint32_t* cp = a.ctx + s * a.stride;
        uint32_t* sp = a.samples + 4 * s * a.width;
        for (int c = 0; c < a.width;) {
            uint32_t w = cp[c];
            if ((w & REFINE_MASK) == 0) {
                // A zero word two columns on: nothing significant in between either.
                c += (cp[c + 2] == 0) ? 2 : 1;
                continue;
            }
            for (int r = 0; r < 4; r++) {
                int sh = 3 * r;
                if (!(w & (1u << (19 + sh))))
                    continue;
                uint32_t* sample = sp + r * a.width + c;
                uint32_t v = *sample;
                int b;
                if (RAW)
                    b = rv_raw_bit(mq);
                else {
                    int ctx = CTX_REFINE + 2;
                    if (((v & 0x7FFFFFFFu) >> a.p) < 4)
                        ctx = CTX_REFINE + ((((w >> sh) & NBR_MASK) != 0) ? 1 : 0);
                    b = rv_mq_decode(mq, states[ctx]);
                }
                *sample = (v & ~bit) | (b ? bit : 0) | half;
            }
            c++;
        }
    }
}

void cleanup_pass(rv_mq_regs& mq, rv_mq_state* states, const pass_args& a)
{
    rv_mq_state uniform;
    uniform.init(46, 0);
    rv_mq_state& run = states[CTX_RUN];
    for (int s = 0; s < a.stripes; s++) {
        uint32_t* cp = a.ctx + s * a.stride;
        uint32_t* sp = a.samples + 4 * s * a.width;
        for (int c = 0; c < a.width;) {
            uint32_t w = cp[c];
            int r = 0;
            if (w == 0) {
                // Four columns of MPS run symbols at once while the distance allows.
                if (cp[c + 3] == 0 && (run.p_mps & 1) == 0) {
                    int32_t four = int32_t(run.p_mps & ~1u) << 2;
                    if (mq.D >= four) {
                        mq.D -= four;
                        c += 4;
                        continue;
                    }
                }
                if (!rv_mq_decode(mq, run)) {
                    c++;
                    continue;
                }
                r = rv_mq_decode(mq, uniform) << 1;
                r |= rv_mq_decode(mq, uniform);
                code_sign<false>(mq, states, w, cp + c, r, sp + r * a.width + c, a);
                r++;
            }
            for (; r < 4; r++) {
                int sh = 3 * r;
                if (w & ((0x10u << sh) | (1u << (20 + sh)) | (1u << (21 + sh))))
                    continue;
                if (rv_mq_decode(mq, states[a.sig_table[(w >> sh) & 0x1FF]]))
                    code_sign<false>(mq, states, w, cp + c, r, sp + r * a.width + c, a);
            }
            w |= cp[c];
            w &= ~(PROP_MASK | REFINE_MASK);
            w |= (w & SIG_MASK) << 15;
            cp[c] = w;
            c++;
        }
    }
}

// Pass z: 0 the first cleanup, then significance, refinement, cleanup per bit-plane.
inline int pass_type(int z)
{
    return z == 0 ? 2 : (z - 1) % 3;
}

inline int plane_start(int z)
{
    return z == 0 ? 0 : 1 + 3 * ((z - 1) / 3);
}

} // namespace

rv_block_decoder::rv_block_decoder()
    : use_hand_passes(rvd_mmx_level > 0 && rvd_pentium_cmov_exists)
{
    rv_init_block_coding_tables();
}

void rv_block_decoder::decode(rvd_block* blk)
{
    const int width = blk->size.x, height = blk->size.y;
    if (width <= 0 || height <= 0)
        return;
    const int stripes = (height + 3) / 4, stride = width + 3;
    const int64_t need_samples = int64_t(4) * stripes * width;
    const int64_t need_contexts = int64_t(stripes + 2) * stride + 1;
    if (blk->max_samples < need_samples)
        blk->set_max_samples(int(std::max<int64_t>(need_samples, 4096)));
    if (blk->max_contexts < need_contexts)
        blk->set_max_contexts(int(std::max<int64_t>(need_contexts, 1600)));
    int repeats = 1;
    if (blk->timing_repeats > 0) {
        repeats = blk->timing_repeats;
        blk->timing_start = int64_t(std::clock());
    }
    for (int rep = 0; rep < repeats; rep++) {
        int num = blk->num_passes;
        for (;;) {
            int lowered = decode_passes(blk, num);
            if (lowered < 0)
                break;
            if (blk->fussy) {
                rvd_error e("Ravade Core Error:\n");
                e << "Encountered incorrectly terminated codeword segment, or invalid SEGMARK "
                     "symbol in code-block bit-stream.  You may like to use the \"resilient\" "
                     "mode to recover from and conceal such errors.";
            }
            if (!blk->errors_reported) {
                blk->errors_reported = true;
                rvd_warning w("Ravade Core Warning:\n");
                w << "One or more corrupted block bit-streams detected.\n";
            }
            // Each repeat must decode fewer passes, so no input can loop.
            num = (lowered < num) ? lowered : 0;
            blk->num_passes = num;
        }
    }
    if (blk->timing_repeats > 0) {
        int64_t ticks = int64_t(std::clock()) - blk->timing_start;
        blk->timing_total += ticks * 1000 / CLOCKS_PER_SEC;
        blk->timed_samples += int64_t(width) * height * repeats;
    }
}

int rv_block_decoder::decode_passes(rvd_block* blk, int num_passes)
{
    const int width = blk->size.x, height = blk->size.y;
    const int stripes = (height + 3) / 4, stride = width + 3;
    uint32_t* ctx_base = reinterpret_cast<uint32_t*>(blk->context_buffer);
    uint32_t* samples = reinterpret_cast<uint32_t*>(blk->sample_buffer);
    std::memset(samples, 0, sizeof(uint32_t) * size_t(4 * stripes * width));
    std::memset(ctx_base, 0, sizeof(uint32_t) * size_t((stripes + 2) * stride + 1));
    uint32_t* ctx = ctx_base + stride + 1;
    // Rows beyond the block and the three words after each stripe row carry sign bits
    // without significance: no pass codes them and no skip runs past them.
    for (int s = 0; s < stripes; s++) {
        uint32_t* cp = ctx + s * stride;
        cp[width] = cp[width + 1] = cp[width + 2] = SIGN_MASK;
    }
    int valid = height - 4 * (stripes - 1);
    if (valid < 4) {
        uint32_t outside = 0;
        for (int r = valid; r < 4; r++)
            outside |= 1u << (21 + 3 * r);
        uint32_t* cp = ctx + (stripes - 1) * stride;
        for (int c = 0; c < width; c++)
            cp[c] = outside;
    }

    // Plane counts in 64 bits: the fields of a hostile record may be anything.
    const int64_t possible64 = 3 * (int64_t(blk->magnitude_planes) - blk->missing_msbs) - 2;
    if (possible64 < 1 || blk->missing_msbs < 0 || blk->missing_msbs > 29)
        return -1;
    const int possible = int(std::min<int64_t>(possible64, 1 << 20));
    const int p0 = 30 - blk->missing_msbs;
    const int planes_limit = 3 * p0 - 2;
    int n = std::min(num_passes, planes_limit);
    n = std::min(n, blk->max_passes);
    // Passes whose bytes, with the two fence bytes, do not lie inside the buffer are
    // treated as absent.
    int64_t total = 0;
    for (int z = 0; z < n; z++) {
        int len = blk->pass_lengths[z];
        if (len < 0 || total + len + 2 > blk->max_bytes) {
            n = z;
            break;
        }
        total += len;
    }
    if (n <= 0)
        return -1;

    const int modes = blk->modes;
    const bool check_term = (modes & RVD_MODE_ERTERM) && (blk->resilient || blk->fussy);
    const bool check_segmark = (modes & RVD_MODE_SEGMARK) && (blk->resilient || blk->fussy);
    pass_args a{ctx, samples, width, stripes, stride, p0, (modes & RVD_MODE_CAUSAL) != 0,
                rv_sig_tables[blk->orientation & 3]};
    rv_mq_decoder mq;
    int seg_start = 0, seg_end = 0;
    bool truncated = false;
    int64_t pos = 0;
    for (int z = 0; z < n; z++) {
        const int type = pass_type(z);
        if (z == seg_end) {
            seg_start = z;
            int count = possible;
            if (modes & RVD_MODE_RESTART)
                count = 1;
            else if (modes & RVD_MODE_BYPASS)
                count = (z < 10) ? 10 - z : (type == 2 ? 1 : 2);
            seg_end = z + count;
            truncated = false;
            if (seg_end > n) {
                seg_end = n;
                truncated = (n < possible);
            }
            int64_t len = 0;
            for (int k = seg_start; k < seg_end; k++)
                len += blk->pass_lengths[k];
            bool raw = (modes & RVD_MODE_BYPASS) && z >= 10 && type != 2;
            mq.start(blk->byte_buffer + pos, int(len), !raw);
            pos += len;
        }
        if (z == 0 || (modes & RVD_MODE_RESET)) {
            for (rv_mq_state& st : states)
                st.init(0, 0);
            states[0].init(4, 0);
            states[CTX_RUN].init(3, 0);
        }
        a.p = p0 - (z + 2) / 3;
        const bool raw = (modes & RVD_MODE_BYPASS) && z >= 10 && type != 2;
        rv_mq_regs r;
        mq.check_out(r);
        if (type == 0)
            raw ? significance_pass<true>(r, states, a) : significance_pass<false>(r, states, a);
        else if (type == 1)
            raw ? refinement_pass<true>(r, states, a) : refinement_pass<false>(r, states, a);
        else
            cleanup_pass(r, states, a);
        mq.check_in(r);
        if (type == 2 && (modes & RVD_MODE_SEGMARK)) {
            int v = mq.decode_run() << 2;
            v |= mq.decode_run();
            if (v != 10 && check_segmark) {
                int lowered = (z <= 2) ? 0 : z - 2;
                if (check_term && seg_start > lowered)
                    lowered = seg_start;
                mq.finish(false);
                return lowered;
            }
        }
        if (z == seg_end - 1) {
            if (!mq.finish(check_term && !truncated)) {
                int lowered = seg_start;
                if (modes & RVD_MODE_SEGMARK)
                    lowered = std::max(lowered, plane_start(z));
                return lowered;
            }
        }
    }
    if (mq.is_active())
        mq.finish(false);
    return -1;
}

rvd_block_decoder::rvd_block_decoder() : state(new rv_block_decoder) {}

rvd_block_decoder::~rvd_block_decoder()
{
    delete state;
}

void rvd_block_decoder::decode(rvd_block* block)
{
    state->decode(block);
}
