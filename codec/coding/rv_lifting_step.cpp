#include "codec/coding/rv_lifting_step.h"

#include "codec/coding/rv_lifting_sse2.h"

#include "codec/core/rvd_params.h"
#include "codec/core/rvd_processor.h"
#include "platform/ModuleStartup.h"

#include <algorithm>
#include <cmath>

rv_w97_consts rv_w97_synthesis_consts;
rv_w97_consts rv_w97_analysis_consts;

namespace {

// The fixed-point W9X7 factors: multipliers and offsets for the steps in analysis order.
const double w97_multipliers[4] = {27123.6015625, -27776.33984375, -7673.0390625,
                                   29066.166015625};
const double w97_offsets[4] = {1.7081214209404634, 0.0, -3.7702590985865587,
                               1.627378260741891};

void build_w97(rv_w97_consts& c)
{
    for (int k = 0; k < 4; k++) {
        c.m[k] = std::int16_t(std::floor(w97_multipliers[k]));
        c.o[k] = std::int16_t(std::floor(w97_offsets[k]));
    }
}

StartupRegistrar w97_consts_step(11, 5, "16-bit W9X7 lifting multipliers",
                                 [] { rv_init_w97_consts(); }, nullptr);

inline std::int16_t wrap16(std::int32_t v) { return std::int16_t(std::uint16_t(std::uint32_t(v))); }
inline std::int32_t wrap32(std::int64_t v) { return std::int32_t(std::uint32_t(std::uint64_t(v))); }
// Upper half of the signed 16x16-bit product.
inline std::int32_t mulhi(std::int16_t x, std::int16_t m) { return (std::int32_t(x) * m) >> 16; }

void w97_shorts(int step_idx, std::int16_t* y, const std::int16_t* a, const std::int16_t* b, int count)
{
    const std::int16_t m = rv_w97_synthesis_consts.m[step_idx];
    const std::int16_t o = rv_w97_synthesis_consts.o[step_idx];
    switch (step_idx) {
    case 0:
        for (int n = 0; n < count; n++) {
            std::int16_t s = wrap16(a[n] + b[n]);
            y[n] = wrap16(y[n] + 2 * s - mulhi(wrap16(s + o), m));
        }
        break;
    case 1:
        for (int n = 0; n < count; n++) {
            std::int16_t t = wrap16(mulhi(b[n], m) - mulhi(wrap16(-a[n]), m) + 4);
            y[n] = wrap16(y[n] - (t >> 3));
        }
        break;
    case 2:
        for (int n = 0; n < count; n++) {
            std::int16_t s = wrap16(a[n] + b[n]);
            y[n] = wrap16(y[n] - s - mulhi(wrap16(s + o), m));
        }
        break;
    default:
        for (int n = 0; n < count; n++) {
            std::int16_t s = wrap16(a[n] + b[n]);
            y[n] = wrap16(y[n] - mulhi(wrap16(s + o), m));
        }
        break;
    }
}

template <class T>
T* samples(const rvd_line_buf& line);
template <>
float* samples<float>(const rvd_line_buf& line)
{
    return &line.get_buf32()->fval;
}
template <>
std::int32_t* samples<std::int32_t>(const rvd_line_buf& line)
{
    return &line.get_buf32()->ival;
}
template <>
std::int16_t* samples<std::int16_t>(const rvd_line_buf& line)
{
    return line.get_buf16();
}

int reflect(int x, int first, int last)
{
    int span = last - first;
    if (span <= 0)
        return first;
    int period = 2 * span;
    int d = (x - first) % period;
    if (d < 0)
        d += period;
    if (d > span)
        d = period - d;
    return first + d;
}

template <class T>
void extend_half(T* buf, int count, bool high, int first, int last, int extend, bool symmetric)
{
    if (count <= 0 || extend <= 0)
        return;
    if (!symmetric) {
        for (int j = 1; j <= extend; j++) {
            buf[-j] = buf[0];
            buf[count - 1 + j] = buf[count - 1];
        }
        return;
    }
    // Position of sample 0 in interleaved coordinates; mirroring keeps the parity.
    int pos0 = first + ((first & 1) != int(high) ? 1 : 0);
    for (int j = 1; j <= extend; j++) {
        int left = reflect(pos0 - 2 * j, first, last);
        int right = reflect(pos0 + 2 * (count - 1 + j), first, last);
        buf[-j] = buf[(left - pos0) >> 1];
        buf[count - 1 + j] = buf[(right - pos0) >> 1];
    }
}

template <class T>
void lift(const rv_lifting_step& step, T* target, const T* const* src, int count);

template <>
void lift<float>(const rv_lifting_step& step, float* target, const float* const* src, int count)
{
    rv_lift_floats(step, target, src, count);
}
template <>
void lift<std::int32_t>(const rv_lifting_step& step, std::int32_t* target,
                        const std::int32_t* const* src, int count)
{
    rv_lift_ints(step, target, src, count);
}
template <>
void lift<std::int16_t>(const rv_lifting_step& step, std::int16_t* target,
                        const std::int16_t* const* src, int count)
{
    rv_lift_shorts(step, target, src, count);
}

template <class T>
void horizontal(const rv_lifting_step* steps, int num_steps, bool symmetric, rvd_line_buf& low_line,
                rvd_line_buf& high_line, int first, int last)
{
    T* low = samples<T>(low_line);
    T* high = samples<T>(high_line);
    int low_count = low_line.get_width(), high_count = high_line.get_width();
    bool odd_first = (first & 1) != 0;
    const T* src[256];
    for (int s = num_steps - 1; s >= 0; s--) {
        const rv_lifting_step& step = steps[s];
        bool to_high = (step.step_idx & 1) == 0;
        T* target = to_high ? high : low;
        T* source = to_high ? low : high;
        int target_count = to_high ? high_count : low_count;
        int source_count = to_high ? low_count : high_count;
        // Source sample of tap 0 for target 0: the neighbour on the other parity, moved
        // by support_min; a region starting on an odd column shifts the halves by one.
        int base = step.support_min + (odd_first ? (to_high ? -1 : 1) : 0);
        // The step's reach, with that shift, must stay inside the source's extensions.
        int need = std::max({int(step.extend), -base,
                             (target_count - 1) + base + step.support_length - source_count});
        const rvd_line_buf& src_line = to_high ? low_line : high_line;
        if (need > src_line.get_left_extension() || need > src_line.get_right_extension())
            rv_raise_core_error("Sample line extensions too small for the wavelet kernel's "
                                "lifting steps.");
        extend_half(source, source_count, !to_high, first, last, need, symmetric);
        for (int t = 0; t < step.support_length; t++)
            src[t] = source + base + t;
        lift<T>(step, target, src, target_count);
    }
}

template <class T>
void interleave(const rvd_line_buf& low_line, const rvd_line_buf& high_line, int first, int last,
                T* out, int upshift, bool reversible)
{
    const T* low = (low_line.get_width() > 0) ? samples<T>(low_line) : nullptr;
    const T* high = (high_line.get_width() > 0) ? samples<T>(high_line) : nullptr;
    int width = last - first + 1;
    if (width == 1) {
        T v = (first & 1) ? high[0] : low[0];
        if (reversible && (first & 1))
            v = T(std::int64_t(v) >> 1);
        out[0] = v;
    } else {
        const T* even = low;
        const T* odd = high;
        int n = 0;
        if (first & 1)
            out[n++] = *odd++;
        for (; n + 1 < width; n += 2) {
            out[n] = *even++;
            out[n + 1] = *odd++;
        }
        if (n < width)
            out[n] = *even;
    }
    if (upshift > 0)
        for (int n = 0; n < width; n++)
            out[n] = T(std::int64_t(out[n]) * (std::int64_t(1) << upshift));
}

} // namespace

void rv_init_w97_consts()
{
    build_w97(rv_w97_synthesis_consts);
    build_w97(rv_w97_analysis_consts);
}

void rv_lifting_step::init(int step_idx, const rvd_kernel_step_info& info, const float* taps,
                           bool reversible, int kernel_id)
{
    if (info.support_length < 1 || info.support_length > 255 || taps == nullptr ||
        info.support_min < -32768 || info.support_min + info.support_length > 32767 ||
        step_idx < 0 || step_idx > 255)
        rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
    this->step_idx = std::uint8_t(step_idx);
    support_length = std::uint8_t(info.support_length);
    support_min = std::int16_t(info.support_min);
    int reach = std::max({0, -info.support_min, info.support_min + info.support_length - 1});
    if (reach > 255)
        rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
    extend = std::uint8_t(reach);
    this->reversible = reversible;
    this->kernel_id = std::uint8_t(kernel_id < 0 || kernel_id > 1 ? 2 : kernel_id);
    coefficients.assign(taps, taps + info.support_length);
    vector_form = (kernel_id == 0 && step_idx != 1 &&
                   (rvd_mmx_level > 0 || rvd_sparcvis_exists || rvd_altivec_exists));
    int shift;
    if (reversible) {
        if (info.downshift < 0 || info.downshift > 31)
            rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
        shift = info.downshift;
        lift_offset = info.rounding_offset;
    } else {
        float m = 0.4f;
        for (float c : coefficients)
            m = std::max(m, std::fabs(c));
        if (!(m < 1.0e4f))
            rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
        shift = 16;
        for (; m >= 0.499f && shift > 0; m *= 0.5f)
            shift--;
        lift_offset = (shift == 16) ? 0x7FFF : (1 << (shift - 1));
    }
    downshift = std::uint8_t(shift);
    icoeffs.resize(coefficients.size());
    for (std::size_t t = 0; t < coefficients.size(); t++) {
        double v = std::floor(double(coefficients[t]) * double(std::int64_t(1) << shift) + 0.5);
        if (!(std::fabs(v) < 2147483648.0))
            rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
        icoeffs[t] = int(v);
    }
}

void rv_lift_floats(const rv_lifting_step& step, float* y, const float* const* src, int count)
{
    int len = step.support_length;
    const float* c = step.coefficients.data();
    if (len == 2 && c[0] == c[1]) {
        const float* a = src[0];
        const float* b = src[1];
        float k = c[0];
        if (rvd_mmx_level >= 2 &&
            ((rvd_avx_level >= 2 && rv_lift_floats_sym2_avx512(y, a, b, k, count)) ||
             (rvd_avx_level >= 1 && rv_lift_floats_sym2_avx2(y, a, b, k, count)) ||
             rv_lift_floats_sym2_sse2(y, a, b, k, count)))
            return;
        for (int n = 0; n < count; n++)
            y[n] -= k * (a[n] + b[n]);
        return;
    }
    for (int n = 0; n < count; n++) {
        float sum = 0.0f;
        for (int t = 0; t < len; t++)
            sum += c[t] * src[t][n];
        y[n] -= sum;
    }
}

void rv_lift_ints(const rv_lifting_step& step, std::int32_t* y, const std::int32_t* const* src,
                  int count)
{
    // 64-bit sums: corrupt data must not overflow; results wrap to 32 bits.
    int len = step.support_length;
    const int* c = step.icoeffs.data();
    const std::int64_t off = step.lift_offset;
    const int shift = step.downshift;
    if (len == 2 && c[0] == c[1]) {
        const std::int32_t* a = src[0];
        const std::int32_t* b = src[1];
        const std::int64_t k = c[0];
        if (k == 1) {
            for (int n = 0; n < count; n++)
                y[n] = wrap32(std::int64_t(y[n]) - ((std::int64_t(a[n]) + b[n] + off) >> shift));
        } else if (k == -1) {
            for (int n = 0; n < count; n++)
                y[n] = wrap32(std::int64_t(y[n]) - ((off - a[n] - std::int64_t(b[n])) >> shift));
        } else {
            for (int n = 0; n < count; n++)
                y[n] = wrap32(std::int64_t(y[n]) -
                              ((k * (std::int64_t(a[n]) + b[n]) + off) >> shift));
        }
        return;
    }
    for (int n = 0; n < count; n++) {
        std::int64_t sum = off;
        for (int t = 0; t < len; t++)
            sum += std::int64_t(c[t]) * src[t][n];
        y[n] = wrap32(std::int64_t(y[n]) - (sum >> shift));
    }
}

void rv_lift_shorts(const rv_lifting_step& step, std::int16_t* y, const std::int16_t* const* src,
                    int count)
{
    int len = step.support_length;
    if (step.kernel_id == 0 && len == 2 && step.step_idx < 4 && rvd_mmx_level >= 1) {
        w97_shorts(step.step_idx, y, src[0], src[1], count);
        return;
    }
    const int* c = step.icoeffs.data();
    const std::int32_t off = step.lift_offset;
    const int shift = step.downshift;
    if (len == 2 && c[0] == c[1] && c[0] >= -32768 && c[0] <= 32767 && off >= -32768 &&
        off <= 32768) {
        // |k (a + b)| stays below 2^31 - 2^16: 32-bit arithmetic is exact.
        const std::int16_t* a = src[0];
        const std::int16_t* b = src[1];
        const std::int32_t k = c[0];
        if (k == 1) {
            for (int n = 0; n < count; n++)
                y[n] = wrap16(y[n] - ((a[n] + b[n] + off) >> shift));
        } else if (k == -1) {
            for (int n = 0; n < count; n++)
                y[n] = wrap16(y[n] - ((off - a[n] - b[n]) >> shift));
        } else {
            for (int n = 0; n < count; n++)
                y[n] = wrap16(y[n] - ((k * (a[n] + b[n]) + off) >> shift));
        }
        return;
    }
    for (int n = 0; n < count; n++) {
        std::int64_t sum = off;
        for (int t = 0; t < len; t++)
            sum += std::int64_t(c[t]) * src[t][n];
        y[n] = wrap16(std::int32_t(wrap32(std::int64_t(y[n]) - (sum >> shift))));
    }
}

int rv_extend_index(int i, int first, int last, bool symmetric)
{
    if (i >= first && i <= last)
        return i;
    if (symmetric)
        return reflect(i, first, last);
    int edge = (i < first) ? first : last;
    if (((edge ^ i) & 1) == 0 || first == last)
        return edge;
    return (i < first) ? edge + 1 : edge - 1;
}

void rv_extend_half(rvd_line_buf& half, bool high, int first, int last, int extend, bool symmetric)
{
    if (half.is_shorts())
        extend_half(half.get_buf16(), half.get_width(), high, first, last, extend, symmetric);
    else
        extend_half(&half.get_buf32()->ival, half.get_width(), high, first, last, extend,
                    symmetric);
}

void rv_horizontal_synthesis(const rv_lifting_step* steps, int num_steps, bool symmetric,
                             rvd_line_buf& low, rvd_line_buf& high, int first, int last)
{
    int width = last - first + 1;
    int num_low = (width + 1 - (first & 1)) / 2;
    if (low.get_width() <= 0 || high.get_width() <= 0 || low.get_width() != num_low ||
        high.get_width() != width - num_low || low.is_shorts() != high.is_shorts())
        return;
    if (low.is_shorts())
        horizontal<std::int16_t>(steps, num_steps, symmetric, low, high, first, last);
    else if (steps != nullptr && num_steps > 0 && steps[0].reversible)
        horizontal<std::int32_t>(steps, num_steps, symmetric, low, high, first, last);
    else
        horizontal<float>(steps, num_steps, symmetric, low, high, first, last);
}

void rv_vertical_step(const rv_lifting_step& step, rvd_line_buf& target,
                      const rvd_line_buf* const* src, int width)
{
    if (target.is_shorts()) {
        const std::int16_t* p[256];
        for (int t = 0; t < step.support_length; t++)
            p[t] = src[t]->get_buf16();
        rv_lift_shorts(step, target.get_buf16(), p, width);
    } else if (step.reversible) {
        const std::int32_t* p[256];
        for (int t = 0; t < step.support_length; t++)
            p[t] = &src[t]->get_buf32()->ival;
        rv_lift_ints(step, &target.get_buf32()->ival, p, width);
    } else {
        const float* p[256];
        for (int t = 0; t < step.support_length; t++)
            p[t] = &src[t]->get_buf32()->fval;
        rv_lift_floats(step, &target.get_buf32()->fval, p, width);
    }
}

void rv_interleave(const rvd_line_buf& low, const rvd_line_buf& high, int first, int last,
                   rvd_line_buf& out, int offset, int upshift, bool reversible)
{
    int width = last - first + 1;
    int num_low = (width + 1 - (first & 1)) / 2;
    if (last < first || offset < 0 || out.get_width() - offset < width ||
        low.get_width() != num_low || high.get_width() != width - num_low)
        return;
    if (out.is_shorts())
        interleave(low, high, first, last, out.get_buf16() + offset, upshift, reversible);
    else if (reversible)
        interleave(low, high, first, last, &out.get_buf32()->ival + offset, 0, reversible);
    else
        interleave(low, high, first, last, &out.get_buf32()->fval + offset, 0, false);
}

void rv_halve_samples(rvd_line_buf& line, int offset, int width)
{
    if (offset < 0 || width <= 0 || offset + width > line.get_width())
        return;
    if (line.is_shorts()) {
        std::int16_t* p = line.get_buf16() + offset;
        for (int n = 0; n < width; n++)
            p[n] = std::int16_t(p[n] >> 1);
    } else {
        std::int32_t* p = &line.get_buf32()->ival + offset;
        for (int n = 0; n < width; n++)
            p[n] >>= 1;
    }
}

int rv_headroom_upshift(float& normalization, const double* horz_gains,
                        const rv_lifting_step* horz_steps, int horz_num_steps,
                        const double* vert_gains, const rv_lifting_step* vert_steps,
                        int vert_num_steps)
{
    double peak = 0.0;
    double chain = 1.0; // gain carried from the horizontal into the vertical direction
    auto scan = [&](const double* gains, const rv_lifting_step* steps, int num) {
        if (gains == nullptr)
            return;
        for (int k = 0; k < num; k++) {
            double v = chain * gains[k + 1];
            if (steps[k].vector_form)
                v += 2.0 * chain * gains[k];
            peak = std::max(peak, v);
        }
        chain *= std::max(1.0, gains[num]);
    };
    scan(horz_gains, horz_steps, horz_num_steps);
    scan(vert_gains, vert_steps, vert_num_steps);
    peak *= std::fabs(double(normalization));
    int upshift = 0;
    while (peak > 7.6 && upshift < 15) {
        peak *= 0.5;
        normalization *= 0.5f;
        upshift++;
    }
    return upshift;
}
