#include "codec/coding/rv_lifting_sse2.h"

#ifdef __SSE2__
#include <emmintrin.h>

bool rv_lift_floats_sym2_sse2(float* y, const float* a, const float* b, float k, int count)
{
    const __m128 vk = _mm_set1_ps(k);
    int n = 0;
    for (; n + 4 <= count; n += 4) {
        __m128 sum = _mm_add_ps(_mm_loadu_ps(a + n), _mm_loadu_ps(b + n));
        _mm_storeu_ps(y + n, _mm_sub_ps(_mm_loadu_ps(y + n), _mm_mul_ps(vk, sum)));
    }
    for (; n < count; n++)
        y[n] -= k * (a[n] + b[n]);
    return true;
}

#else

bool rv_lift_floats_sym2_sse2(float*, const float*, const float*, float, int) { return false; }

#endif
