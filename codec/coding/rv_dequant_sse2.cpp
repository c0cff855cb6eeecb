#include "codec/coding/rv_dequant_sse2.h"

#ifdef __SSE2__
#include <emmintrin.h>

bool rv_dequant_sse2_built() { return true; }

namespace {

// Sign-magnitude words to two's complement: (magnitude ^ s) - s with s all ones for
// negative words.
inline __m128i signed_of(__m128i w, __m128i magnitude)
{
    __m128i s = _mm_srai_epi32(w, 31);
    return _mm_sub_epi32(_mm_xor_si128(magnitude, s), s);
}

} // namespace

void rv_dequant_rev16_sse2(const std::uint32_t* sp, std::int16_t* dp, int n, int shift)
{
    const __m128i mask = _mm_set1_epi32(0x7FFFFFFF);
    const __m128i count = _mm_cvtsi32_si128(shift);
    for (int j = 0; j < n; j += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + j));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + j + 4));
        __m128i va = signed_of(a, _mm_srl_epi32(_mm_and_si128(a, mask), count));
        __m128i vb = signed_of(b, _mm_srl_epi32(_mm_and_si128(b, mask), count));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + j), _mm_packs_epi32(va, vb));
    }
}

void rv_dequant_irr16_sse2(const std::uint32_t* sp, std::int16_t* dp, int n, float scale)
{
    const __m128i mask = _mm_set1_epi32(0x7FFFFFFF);
    const __m128 s = _mm_set1_ps(scale);
    // Clamping first keeps the conversion in range; _mm_max_ps gives its second operand
    // for a NaN, so NaN goes to the low end as in the portable form.
    const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
    for (int j = 0; j < n; j += 8) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + j));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + j + 4));
        __m128 fa = _mm_mul_ps(_mm_cvtepi32_ps(signed_of(a, _mm_and_si128(a, mask))), s);
        __m128 fb = _mm_mul_ps(_mm_cvtepi32_ps(signed_of(b, _mm_and_si128(b, mask))), s);
        fa = _mm_min_ps(_mm_max_ps(fa, lo), hi);
        fb = _mm_min_ps(_mm_max_ps(fb, lo), hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + j),
                         _mm_packs_epi32(_mm_cvtps_epi32(fa), _mm_cvtps_epi32(fb)));
    }
}

void rv_dequant_irr32_sse2(const std::uint32_t* sp, float* dp, int n, float scale)
{
    const __m128i mask = _mm_set1_epi32(0x7FFFFFFF);
    const __m128 s = _mm_set1_ps(scale);
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + j));
        _mm_storeu_ps(dp + j, _mm_mul_ps(_mm_cvtepi32_ps(signed_of(a, _mm_and_si128(a, mask))), s));
    }
    for (; j < n; j++) {
        std::int32_t v = std::int32_t(sp[j] & 0x7FFFFFFFu);
        dp[j] = float((sp[j] & 0x80000000u) ? -v : v) * scale;
    }
}

#else

bool rv_dequant_sse2_built() { return false; }
void rv_dequant_rev16_sse2(const std::uint32_t*, std::int16_t*, int, int) {}
void rv_dequant_irr16_sse2(const std::uint32_t*, std::int16_t*, int, float) {}
void rv_dequant_irr32_sse2(const std::uint32_t*, float*, int, float) {}

#endif
