// Forward lifting: each step adds its update to the target samples, the exact inverse of
// the synthesis's subtraction (rv_lift_floats, rv_lift_ints, rv_lift_shorts) for the same
// step record, so that a reversible round trip is exact on every line size.
#include "codec/encode/rvd_analysis.h"
#include "codec/encode/rv_analysis_lifting_sse2.h"

#include "codec/core/rvd_params.h"
#include "codec/core/rvd_processor.h"

#include <algorithm>

namespace {

inline std::int16_t wrap16(std::int32_t v) { return std::int16_t(std::uint16_t(std::uint32_t(v))); }
inline std::int32_t wrap32(std::int64_t v) { return std::int32_t(std::uint32_t(std::uint64_t(v))); }
// Upper half of the signed 16x16-bit product.
inline std::int32_t mulhi(std::int16_t x, std::int16_t m) { return (std::int32_t(x) * m) >> 16; }

// The exact 16-bit W9X7 steps: each adds what the synthesis's form subtracts.
void w97_shorts(int step_idx, const std::int16_t* const* src, const std::int16_t* in,
                std::int16_t* out, int n0, int n1)
{
    const std::int16_t m = rv_w97_analysis_consts.m[step_idx];
    const std::int16_t o = rv_w97_analysis_consts.o[step_idx];
    const std::int16_t* a = src[0];
    const std::int16_t* b = src[1];
    for (int n = n0; n < n1; n++) {
        const std::int16_t s = wrap16(a[n] + b[n]);
        switch (step_idx) {
        case 0: out[n] = wrap16(in[n] - 2 * s + mulhi(wrap16(s + o), m)); break;
        case 1: out[n] = wrap16(in[n] + (wrap16(mulhi(b[n], m) - mulhi(wrap16(-a[n]), m) + 4) >> 3)); break;
        case 2: out[n] = wrap16(in[n] + s + mulhi(wrap16(s + o), m)); break;
        default: out[n] = wrap16(in[n] + mulhi(wrap16(s + o), m)); break;
        }
    }
}

// Integer steps (reversible 32-bit lines, all 16-bit lines): in + ((sum + offset) >> shift),
// summed in 64 bits and wrapped to the line's size.
template <class T>
void lift_ints(const rv_lifting_step& step, const T* const* src, const T* in, T* out, int n0,
               int n1)
{
    const int len = step.support_length;
    const int* c = step.icoeffs.data();
    const std::int64_t off = step.lift_offset;
    const int shift = step.downshift;
    auto store = [](std::int64_t v) { return T(sizeof(T) == 2 ? wrap16(wrap32(v)) : wrap32(v)); };
    if (len == 2 && c[0] == c[1] && (c[0] == 1 || c[0] == -1)) {
        const T* a = src[0];
        const T* b = src[1];
        if (c[0] == 1)
            for (int n = n0; n < n1; n++)
                out[n] = store(std::int64_t(in[n]) + ((std::int64_t(a[n]) + b[n] + off) >> shift));
        else
            for (int n = n0; n < n1; n++)
                out[n] = store(std::int64_t(in[n]) + ((off - a[n] - std::int64_t(b[n])) >> shift));
        return;
    }
    for (int n = n0; n < n1; n++) {
        std::int64_t sum = off;
        for (int t = 0; t < len; t++)
            sum += std::int64_t(c[t]) * src[t][n];
        out[n] = store(std::int64_t(in[n]) + (sum >> shift));
    }
}

void lift_floats(const rv_lifting_step& step, const float* const* src, const float* in,
                 float* out, int n0, int n1)
{
    const int len = step.support_length;
    const float* c = step.coefficients.data();
    for (int n = n0; n < n1; n++) {
        float sum = 0.0f;
        for (int t = 0; t < len; t++)
            sum += c[t] * src[t][n];
        out[n] = in[n] + sum;
    }
}

} // namespace

void perform_analysis_lifting_step_32(const rv_lifting_step& step, const rvd_sample32* const* src,
                                      const rvd_sample32* in, rvd_sample32* out, int count,
                                      int first)
{
    const int n0 = first, n1 = first + count;
    if (rv_analysis_lift32_sse2(step, src, in, out, n0, n1))
        return;
    if (step.reversible) {
        const std::int32_t* s[256];
        for (int t = 0; t < step.support_length; t++)
            s[t] = &src[t]->ival;
        lift_ints<std::int32_t>(step, s, &in->ival, &out->ival, n0, n1);
    } else {
        const float* s[256];
        for (int t = 0; t < step.support_length; t++)
            s[t] = &src[t]->fval;
        lift_floats(step, s, &in->fval, &out->fval, n0, n1);
    }
}

void perform_analysis_lifting_step_16(const rv_lifting_step& step, const std::int16_t* const* src,
                                      const std::int16_t* in, std::int16_t* out, int count,
                                      int first)
{
    if (rv_analysis_lift16_sse2(step, src, in, out, first, first + count))
        return;
    // The same choice of form as rv_lift_shorts makes when decoding, so that the synthesis
    // undoes every step exactly: the W9X7 form serves all four steps, step 1 included,
    // although only the others count as vector steps in the headroom rule (step 1 forms
    // no sum of two samples).
    if (step.kernel_id == 0 && step.support_length == 2 && step.step_idx < 4 && rvd_mmx_level >= 1)
        w97_shorts(step.step_idx, src, in, out, first, first + count);
    else
        lift_ints<std::int16_t>(step, src, in, out, first, first + count);
}

void rv_analysis_vertical_step(const rv_lifting_step& step, const rvd_line_buf* const* src,
                               const rvd_line_buf& in, rvd_line_buf& out)
{
    const int width = in.get_width();
    if (width <= 0)
        return;
    if (in.is_shorts()) {
        const std::int16_t* s[256];
        for (int t = 0; t < step.support_length; t++)
            s[t] = src[t]->get_buf16();
        perform_analysis_lifting_step_16(step, s, in.get_buf16(), out.get_buf16(), width, 0);
    } else {
        const rvd_sample32* s[256];
        for (int t = 0; t < step.support_length; t++)
            s[t] = src[t]->get_buf32();
        perform_analysis_lifting_step_32(step, s, in.get_buf32(), out.get_buf32(), width, 0);
    }
}

void rv_horizontal_analysis(const rv_lifting_step* steps, int num_steps, bool symmetric,
                            rvd_line_buf& low, rvd_line_buf& high, int first, int last)
{
    const int low_count = low.get_width(), high_count = high.get_width();
    const bool odd_first = (first & 1) != 0;
    for (int s = 0; s < num_steps; s++) {
        const rv_lifting_step& step = steps[s];
        const bool to_high = (step.step_idx & 1) == 0;
        rvd_line_buf& target = to_high ? high : low;
        rvd_line_buf& source = to_high ? low : high;
        const int target_count = to_high ? high_count : low_count;
        const int source_count = to_high ? low_count : high_count;
        // Source sample of tap 0 for target 0: the neighbour on the other parity, moved by
        // support_min; a region starting on an odd column shifts the halves by one.
        const int base = step.support_min + (odd_first ? (to_high ? -1 : 1) : 0);
        const int need = std::max({int(step.extend), -base,
                                   (target_count - 1) + base + step.support_length - source_count});
        if (need > source.get_left_extension() || need > source.get_right_extension())
            rv_raise_core_error("Sample line extensions too small for the wavelet kernel's "
                                "lifting steps.");
        rv_extend_half(source, !to_high, first, last, need, symmetric);
        if (target.is_shorts()) {
            const std::int16_t* p[256];
            for (int t = 0; t < step.support_length; t++)
                p[t] = source.get_buf16() + base + t;
            perform_analysis_lifting_step_16(step, p, target.get_buf16(), target.get_buf16(),
                                             target_count, 0);
        } else {
            const rvd_sample32* p[256];
            for (int t = 0; t < step.support_length; t++)
                p[t] = source.get_buf32() + base + t;
            perform_analysis_lifting_step_32(step, p, target.get_buf32(), target.get_buf32(),
                                             target_count, 0);
        }
    }
}
