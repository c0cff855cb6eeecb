#include "codec/encode/rv_analysis_lifting_sse2.h"

#include "codec/core/rvd_processor.h"

#ifdef __SSE2__
#include <emmintrin.h>

#include <cstring>

namespace {

// Lanes per register: 8 samples of 16 bits, 4 of 32.
template <class T>
constexpr int lanes = 16 / int(sizeof(T));

inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }

// Runs `op(in, a, b)` over n0..n1, whole registers first; the last partial register goes
// through zero-padded copies, so every sample takes the same arithmetic.
template <class T, class Op>
void run_step(const Op& op, const T* a, const T* b, const T* in, T* out, int n0, int n1)
{
    constexpr int L = lanes<T>;
    int n = n0;
    for (; n + L <= n1; n += L)
        store(out + n, op(load(in + n), load(a + n), load(b + n)));
    if (n < n1) {
        const size_t bytes = size_t(n1 - n) * sizeof(T);
        alignas(16) T ta[L] = {}, tb[L] = {}, ti[L] = {}, to[L];
        std::memcpy(ta, a + n, bytes);
        std::memcpy(tb, b + n, bytes);
        std::memcpy(ti, in + n, bytes);
        store(to, op(load(ti), load(ta), load(tb)));
        std::memcpy(out + n, to, bytes);
    }
}

// The exact 16-bit W9X7 steps (every addition wraps in 16 bits; mulhi is the upper half
// of the signed product, as the plain form's (x m) >> 16), one type per step so that the
// loop holds no branch.
template <int STEP>
struct w97_op {
    __m128i m, o;
    __m128i operator()(__m128i in, __m128i a, __m128i b) const
    {
        if (STEP == 1) {
            // in + ((h(b) - h(-a) + 4) >> 3): the small step keeps three more bits
            const __m128i neg_a = _mm_sub_epi16(_mm_setzero_si128(), a);
            __m128i t = _mm_sub_epi16(_mm_mulhi_epi16(b, m), _mm_mulhi_epi16(neg_a, m));
            t = _mm_srai_epi16(_mm_add_epi16(t, _mm_set1_epi16(4)), 3);
            return _mm_add_epi16(in, t);
        }
        const __m128i s = _mm_add_epi16(a, b);
        const __m128i h = _mm_mulhi_epi16(_mm_add_epi16(s, o), m);
        if (STEP == 0)
            return _mm_add_epi16(_mm_sub_epi16(_mm_sub_epi16(in, s), s), h); // in - 2s + h
        if (STEP == 2)
            return _mm_add_epi16(_mm_add_epi16(in, s), h); // in + s + h
        return _mm_add_epi16(in, h);                       // in + h
    }
};

template <int STEP>
void run_w97(const std::int16_t* const* src, const std::int16_t* in, std::int16_t* out, int n0,
             int n1)
{
    const w97_op<STEP> op{_mm_set1_epi16(rv_w97_analysis_consts.m[STEP]),
                          _mm_set1_epi16(rv_w97_analysis_consts.o[STEP])};
    run_step(op, src[0], src[1], in, out, n0, n1);
}

// Taps of +1 (or -1): in + floor((a + b + off) / 2^k) (or floor((off - a - b) / 2^k)),
// which the plain routine forms in 64 bits and wraps to the line's size. Without the
// wide sum: every term splits exactly into its part above bit k and its low k bits,
// floor(x / 2^k) = (x >> k) + ((x & m) summed over the terms) >> k, and -x = ~x + 1
// moves the -1 taps' ones into the offset. The low parts' sum, three terms below 2^k,
// fits unsigned lanes for k <= 14 (16-bit) and k <= 30 (32-bit); everything else adds
// modulo the lane size as the plain result wraps.
template <bool WIDE>
struct unit_taps_op {
    bool negative;
    __m128i shift;     // k
    __m128i low_mask;  // 2^k - 1
    __m128i off_high;  // off' >> k, modulo the lane size
    __m128i off_low;   // off' & (2^k - 1)
    __m128i operator()(__m128i in, __m128i a, __m128i b) const
    {
        if (negative) {
            const __m128i ones = _mm_set1_epi32(-1);
            a = _mm_xor_si128(a, ones);
            b = _mm_xor_si128(b, ones);
        }
        const __m128i la = _mm_and_si128(a, low_mask), lb = _mm_and_si128(b, low_mask);
        if (WIDE) {
            __m128i low = _mm_add_epi32(_mm_add_epi32(la, lb), off_low);
            low = _mm_srl_epi32(low, shift);
            const __m128i high = _mm_add_epi32(_mm_sra_epi32(a, shift), _mm_sra_epi32(b, shift));
            return _mm_add_epi32(in, _mm_add_epi32(_mm_add_epi32(high, off_high), low));
        }
        __m128i low = _mm_add_epi16(_mm_add_epi16(la, lb), off_low);
        low = _mm_srl_epi16(low, shift);
        const __m128i high = _mm_add_epi16(_mm_sra_epi16(a, shift), _mm_sra_epi16(b, shift));
        return _mm_add_epi16(in, _mm_add_epi16(_mm_add_epi16(high, off_high), low));
    }
};

// The unit-tap form's constants for shift k: the -1 taps' offset gains the two ones of
// ~a + ~b; the offset's parts are taken in 64 bits.
template <bool WIDE>
unit_taps_op<WIDE> unit_taps(const rv_lifting_step& step, bool negative)
{
    const int k = step.downshift;
    const std::int64_t off = std::int64_t(step.lift_offset) + (negative ? 2 : 0);
    const std::int64_t mask = (std::int64_t(1) << k) - 1;
    const std::int64_t high = off >> k;
    unit_taps_op<WIDE> op;
    op.negative = negative;
    op.shift = _mm_cvtsi32_si128(k);
    if (WIDE) {
        op.low_mask = _mm_set1_epi32(std::int32_t(mask));
        op.off_high = _mm_set1_epi32(std::int32_t(std::uint32_t(std::uint64_t(high))));
        op.off_low = _mm_set1_epi32(std::int32_t(off & mask));
    } else {
        op.low_mask = _mm_set1_epi16(std::int16_t(mask));
        op.off_high = _mm_set1_epi16(std::int16_t(std::uint16_t(std::uint64_t(high))));
        op.off_low = _mm_set1_epi16(std::int16_t(off & mask));
    }
    return op;
}

// Irreversible two-tap step on floats, in the plain routine's order:
// in + ((0 + c0 a) + c1 b).
struct float_op {
    __m128 c0, c1;
    __m128i operator()(__m128i in, __m128i a, __m128i b) const
    {
        __m128 sum = _mm_add_ps(_mm_setzero_ps(), _mm_mul_ps(c0, _mm_castsi128_ps(a)));
        sum = _mm_add_ps(sum, _mm_mul_ps(c1, _mm_castsi128_ps(b)));
        return _mm_castps_si128(_mm_add_ps(_mm_castsi128_ps(in), sum));
    }
};

// Taps of +1 or -1 on both sides: 1 or -1; otherwise 0.
int unit_tap(const rv_lifting_step& step)
{
    const int* c = step.icoeffs.data();
    return (c[0] == c[1] && (c[0] == 1 || c[0] == -1)) ? c[0] : 0;
}

} // namespace

bool rv_analysis_lift16_sse2(const rv_lifting_step& step, const std::int16_t* const* src,
                             const std::int16_t* in, std::int16_t* out, int n0, int n1)
{
    if (rvd_mmx_level < 2 || step.support_length != 2)
        return false;
    if (step.kernel_id == 0 && step.step_idx < 4) {
        switch (step.step_idx) {
        case 0: run_w97<0>(src, in, out, n0, n1); break;
        case 1: run_w97<1>(src, in, out, n0, n1); break;
        case 2: run_w97<2>(src, in, out, n0, n1); break;
        default: run_w97<3>(src, in, out, n0, n1); break;
        }
        return true;
    }
    const int tap = unit_tap(step);
    if (tap == 0 || step.downshift > 14)
        return false;
    run_step(unit_taps<false>(step, tap < 0), src[0], src[1], in, out, n0, n1);
    return true;
}

bool rv_analysis_lift32_sse2(const rv_lifting_step& step, const rvd_sample32* const* src,
                             const rvd_sample32* in, rvd_sample32* out, int n0, int n1)
{
    static_assert(sizeof(rvd_sample32) == 4, "32-bit samples are packed four to a register");
    if (rvd_mmx_level < 2 || step.support_length != 2)
        return false;
    const std::int32_t* a = &src[0]->ival;
    const std::int32_t* b = &src[1]->ival;
    if (!step.reversible) {
        const float_op op{_mm_set1_ps(step.coefficients[0]), _mm_set1_ps(step.coefficients[1])};
        run_step(op, a, b, &in->ival, &out->ival, n0, n1);
        return true;
    }
    const int tap = unit_tap(step);
    if (tap == 0 || step.downshift > 30)
        return false;
    run_step(unit_taps<true>(step, tap < 0), a, b, &in->ival, &out->ival, n0, n1);
    return true;
}

namespace {

// (v + 2^(s-1)) >> s without leaving 16 bits: (v >> s) + (((v & (2^s - 1)) + 2^(s-1)) >> s),
// the second sum below 2^16 in unsigned lanes for s <= 15.
struct round_down {
    __m128i shift, mask, half;
    explicit round_down(int s)
        : shift(_mm_cvtsi32_si128(s)), mask(_mm_set1_epi16(std::int16_t((1 << s) - 1))),
          half(_mm_set1_epi16(std::int16_t(s > 0 ? 1 << (s - 1) : 0)))
    {
    }
    __m128i operator()(__m128i v) const
    {
        const __m128i low = _mm_srl_epi16(_mm_add_epi16(_mm_and_si128(v, mask), half), shift);
        return _mm_add_epi16(_mm_sra_epi16(v, shift), low);
    }
};

// Even and odd samples of 2 * count samples: 16-bit pairs read as 32-bit lanes hold the
// even sample in the low half.
void deinterleave16(const std::int16_t* in, int count, std::int16_t* low, std::int16_t* high,
                    const round_down& scale, bool scaled)
{
    for (int k = 0; k < count; k += 8) {
        __m128i p = load(in + 2 * k), q = load(in + 2 * k + 8);
        if (scaled) {
            p = scale(p);
            q = scale(q);
        }
        const __m128i ev = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(p, 16), 16),
                                           _mm_srai_epi32(_mm_slli_epi32(q, 16), 16));
        const __m128i od = _mm_packs_epi32(_mm_srai_epi32(p, 16), _mm_srai_epi32(q, 16));
        store(low + k, ev);
        store(high + k, od);
    }
}

void deinterleave32(const std::int32_t* in, int count, std::int32_t* low, std::int32_t* high)
{
    for (int k = 0; k < count; k += 4) {
        const __m128 p = _mm_castsi128_ps(load(in + 2 * k));
        const __m128 q = _mm_castsi128_ps(load(in + 2 * k + 4));
        store(low + k, _mm_castps_si128(_mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0))));
        store(high + k, _mm_castps_si128(_mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1))));
    }
}

// Splits through zero-padded copies of the whole run: the lead-in odd sample, whole
// blocks straight from the line, the rest through the copies.
template <class T, class Blocks>
void split(const T* in, int n, int x0, T* low, T* high, const Blocks& blocks)
{
    constexpr int B = 2 * lanes<T>; // samples of one block: a register of each parity
    int k = 0;
    if (x0 & 1) {
        T lone[B] = {}, even[B / 2], odd[B / 2];
        lone[1] = in[0]; // an odd column
        blocks(lone, B / 2, even, odd);
        *high++ = odd[0];
        k = 1;
    }
    const int whole = (n - k) / B * B;
    blocks(in + k, whole / 2, low, high);
    k += whole;
    if (k < n) {
        alignas(16) T rest[B] = {}, even[B / 2], odd[B / 2];
        std::memcpy(rest, in + k, size_t(n - k) * sizeof(T));
        blocks(rest, B / 2, even, odd);
        const int pairs = whole / 2, evens = (n - k + 1) / 2, odds = (n - k) / 2;
        std::memcpy(low + pairs, even, size_t(evens) * sizeof(T));
        if (odds > 0) // a line of one sample has no high half
            std::memcpy(high + pairs, odd, size_t(odds) * sizeof(T));
    }
}

} // namespace

bool rv_split_line16_sse2(const std::int16_t* in, int n, int x0, std::int16_t* low,
                          std::int16_t* high, int shift)
{
    if (rvd_mmx_level < 2 || shift < 0 || shift > 15)
        return false;
    const round_down scale(shift);
    split(in, n, x0, low, high, [&](const std::int16_t* i, int c, std::int16_t* l, std::int16_t* h) {
        deinterleave16(i, c, l, h, scale, shift > 0);
    });
    return true;
}

bool rv_split_line32_sse2(const std::int32_t* in, int n, int x0, std::int32_t* low,
                          std::int32_t* high)
{
    if (rvd_mmx_level < 2)
        return false;
    split(in, n, x0, low, high, deinterleave32);
    return true;
}

#else

bool rv_analysis_lift16_sse2(const rv_lifting_step&, const std::int16_t* const*,
                             const std::int16_t*, std::int16_t*, int, int)
{
    return false;
}
bool rv_analysis_lift32_sse2(const rv_lifting_step&, const rvd_sample32* const*,
                             const rvd_sample32*, rvd_sample32*, int, int)
{
    return false;
}
bool rv_split_line16_sse2(const std::int16_t*, int, int, std::int16_t*, std::int16_t*, int)
{
    return false;
}
bool rv_split_line32_sse2(const std::int32_t*, int, int, std::int32_t*, std::int32_t*)
{
    return false;
}

#endif
