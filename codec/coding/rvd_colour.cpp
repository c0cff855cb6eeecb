#include "codec/coding/rvd_colour.h"

#include "codec/core/rvd_message.h"
#include "codec/core/rvd_processor.h"
#include "platform/ModuleStartup.h"

#include <algorithm>
#include <stdexcept>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

inline int16_t saturate16(int v)
{
    return static_cast<int16_t>(std::min(32767, std::max(-32768, v)));
}

alignas(16) int16_t colour_block[rv_colour_vector_count][8];

// The lanes as 16-bit words; the last three act as signed multipliers.
const uint16_t colour_words[rv_colour_vector_count] = {19595, 7471,  28551, 18791,
                                                      26345, 50594, 18734, 42983};

void record_vector(int which)
{
    rv_colour_vectors[which] = colour_block[which];
}

StartupRegistrar colour_block_step(10, 0, "colour transform constants",
                                   [] { rv_init_colour_transform_vectors(); }, nullptr);
StartupRegistrar colour_vec0(10, 1, "colour vector 0", [] { record_vector(0); }, nullptr);
StartupRegistrar colour_vec1(10, 2, "colour vector 1", [] { record_vector(1); }, nullptr);
StartupRegistrar colour_vec2(10, 3, "colour vector 2", [] { record_vector(2); }, nullptr);
StartupRegistrar colour_vec3(10, 4, "colour vector 3", [] { record_vector(3); }, nullptr);
StartupRegistrar colour_vec4(10, 5, "colour vector 4", [] { record_vector(4); }, nullptr);
StartupRegistrar colour_vec5(10, 6, "colour vector 5", [] { record_vector(5); }, nullptr);
StartupRegistrar colour_vec6(10, 7, "colour vector 6", [] { record_vector(6); }, nullptr);
StartupRegistrar colour_vec7(10, 8, "colour vector 7", [] { record_vector(7); }, nullptr);

// The three lines' common sample count, at most `width` when it is not negative.
int checked_width(const rvd_line_buf& a, const rvd_line_buf& b, const rvd_line_buf& c, int width)
{
    const bool storage = a.is_shorts() ? (a.get_buf16() && b.get_buf16() && c.get_buf16())
                                       : (a.get_buf32() && b.get_buf32() && c.get_buf32());
    if (!storage || b.get_flags() != a.get_flags() || c.get_flags() != a.get_flags()) {
        {
            rvd_error e("Ravade Core Error:\n");
            e << "Colour transform applied to lines that do not share one sample kind, or "
                 "that have no storage.";
        }
        throw std::logic_error("codec error handler returned");
    }
    int n = std::min(a.get_width(), std::min(b.get_width(), c.get_width()));
    if (width >= 0)
        n = std::min(n, width);
    return n;
}

} // namespace

void rvd_convert_rgb_to_ycc(rvd_line_buf& line1, rvd_line_buf& line2, rvd_line_buf& line3)
{
    const int n = checked_width(line1, line2, line3, -1);
    if (line1.is_shorts()) {
        if (line1.is_absolute())
            rv_rct_forward16(line1.get_buf16(), line2.get_buf16(), line3.get_buf16(), n);
        else
            rv_ict_forward16(line1.get_buf16(), line2.get_buf16(), line3.get_buf16(), n);
    } else if (line1.is_absolute()) {
        rv_rct_forward32(&line1.get_buf32()->ival, &line2.get_buf32()->ival, &line3.get_buf32()->ival, n);
    } else {
        rv_ict_forward_float(&line1.get_buf32()->fval, &line2.get_buf32()->fval, &line3.get_buf32()->fval, n);
    }
}

void rvd_convert_ycc_to_rgb(rvd_line_buf& line1, rvd_line_buf& line2, rvd_line_buf& line3, int width)
{
    if (width == 0)
        return;
    const int n = checked_width(line1, line2, line3, width);
    if (line1.is_shorts()) {
        if (line1.is_absolute())
            rv_rct_inverse16(line1.get_buf16(), line2.get_buf16(), line3.get_buf16(), n);
        else
            rv_ict_inverse16(line1.get_buf16(), line2.get_buf16(), line3.get_buf16(), n);
    } else if (line1.is_absolute()) {
        rv_rct_inverse32(&line1.get_buf32()->ival, &line2.get_buf32()->ival, &line3.get_buf32()->ival, n);
    } else {
        rv_ict_inverse_float(&line1.get_buf32()->fval, &line2.get_buf32()->fval, &line3.get_buf32()->fval, n);
    }
}

const int16_t* rv_colour_vectors[rv_colour_vector_count] = {};

const int16_t* rv_init_colour_transform_vectors()
{
    for (int v = 0; v < rv_colour_vector_count; ++v)
        for (int lane = 0; lane < 8; ++lane)
            colour_block[v][lane] = static_cast<int16_t>(colour_words[v]);
    return &colour_block[0][0];
}

void rv_rct_forward32(int32_t* __restrict x, int32_t* __restrict y, int32_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int64_t r = x[i], g = y[i], b = z[i];
        x[i] = static_cast<int32_t>((r + 2 * g + b) >> 2);
        y[i] = static_cast<int32_t>(b - g);
        z[i] = static_cast<int32_t>(r - g);
    }
}

void rv_rct_inverse32(int32_t* __restrict x, int32_t* __restrict y, int32_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int64_t cb = y[i], cr = z[i];
        const int64_t g = x[i] - ((cb + cr) >> 2);
        x[i] = static_cast<int32_t>(cr + g);
        y[i] = static_cast<int32_t>(g);
        z[i] = static_cast<int32_t>(cb + g);
    }
}

void rv_rct_forward16(int16_t* __restrict x, int16_t* __restrict y, int16_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int r = x[i], g = y[i], b = z[i];
        x[i] = static_cast<int16_t>((r + 2 * g + b) >> 2);
        y[i] = static_cast<int16_t>(b - g);
        z[i] = static_cast<int16_t>(r - g);
    }
}

void rv_rct_inverse16(int16_t* __restrict x, int16_t* __restrict y, int16_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int cb = y[i], cr = z[i];
        const int g = x[i] - ((cb + cr) >> 2);
        x[i] = static_cast<int16_t>(cr + g);
        y[i] = static_cast<int16_t>(g);
        z[i] = static_cast<int16_t>(cb + g);
    }
}

void rv_ict_forward_float(float* __restrict x, float* __restrict y, float* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const float r = x[i], g = y[i], b = z[i];
        const float lum = 0.299f * r + 0.587f * g + 0.114f * b;
        x[i] = lum;
        y[i] = 0.5643340857787811f * (b - lum);
        z[i] = 0.7132667617689015f * (r - lum);
    }
}

void rv_ict_inverse_float(float* __restrict x, float* __restrict y, float* __restrict z, int n)
{
    if (rvd_mmx_level >= 2 && ((rvd_avx_level >= 2 && rv_ict_inverse_float_avx512(x, y, z, n)) ||
                               (rvd_avx_level >= 1 && rv_ict_inverse_float_avx2(x, y, z, n))))
        return;
    int i = 0;
#ifdef __SSE2__
    // Four pixels at a time, the same operations in the same order as the loop below, so
    // the results are the same to the bit.
    if (rvd_mmx_level >= 2) {
        const __m128 red_cr = _mm_set1_ps(rv_ict::red_cr), green_cr = _mm_set1_ps(rv_ict::green_cr);
        const __m128 green_cb = _mm_set1_ps(rv_ict::green_cb), blue_cb = _mm_set1_ps(rv_ict::blue_cb);
        for (; i + 4 <= n; i += 4) {
            const __m128 lum = _mm_loadu_ps(x + i), cb = _mm_loadu_ps(y + i), cr = _mm_loadu_ps(z + i);
            _mm_storeu_ps(x + i, _mm_add_ps(lum, _mm_mul_ps(red_cr, cr)));
            _mm_storeu_ps(y + i, _mm_sub_ps(_mm_sub_ps(lum, _mm_mul_ps(green_cr, cr)), _mm_mul_ps(green_cb, cb)));
            _mm_storeu_ps(z + i, _mm_add_ps(lum, _mm_mul_ps(blue_cb, cb)));
        }
    }
#endif
    rv_ict::inverse_float_pixels(x, y, z, i, n);
}

void rv_ict_forward16(int16_t* __restrict x, int16_t* __restrict y, int16_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int r = x[i], g = y[i], b = z[i];
        const int lum = (9617 * g + 4899 * r + 1868 * b + 8192) >> 14;
        x[i] = static_cast<int16_t>(lum); // a weighted mean of 16-bit values fits
        y[i] = saturate16((9246 * (b - lum) + 8192) >> 14);
        z[i] = saturate16((11686 * (r - lum) + 8192) >> 14);
    }
}

void rv_ict_inverse16(int16_t* __restrict x, int16_t* __restrict y, int16_t* __restrict z, int n)
{
    for (int i = 0; i < n; ++i) {
        const int lum = x[i], cb = y[i], cr = z[i];
        x[i] = saturate16((16384 * lum + 22970 * cr + 8192) >> 14);
        y[i] = saturate16((16384 * lum - 5638 * cb - 11700 * cr + 8192) >> 14);
        z[i] = saturate16((16384 * lum + 29032 * cb + 8192) >> 14);
    }
}
