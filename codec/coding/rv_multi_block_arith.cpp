#include "codec/coding/rv_multi_block_arith.h"

#include "codec/core/rvd_message.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

namespace {

const char* const rxform_divisor_text =
    "Multi-component reversible decorrelation transforms must have exact positive powers of 2 "
    "for the divisors which are used to scale and round the update terms.  The offending "
    "divisor is ";
const char* const dependency_divisor_text =
    "Multi-component reversible dependency transforms must have exact positive powers of 2 on "
    "the diagonal of their triangular coefficient matrix; these are the divisors used to scale "
    "and round the prediction terms.  The offending divisor is ";

[[noreturn]] void divisor_error(const char* text, int divisor)
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << text << divisor << ".";
    }
    throw std::logic_error("codec error handler returned");
}

// log2 of an exact positive power of 2, or -1.
int exact_log2(int v)
{
    if (v <= 0 || (v & (v - 1)) != 0)
        return -1;
    int k = 0;
    while ((1 << k) != v)
        ++k;
    return k;
}

inline int16_t wrap16(int64_t v)
{
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(v)));
}

inline int32_t wrap32(int64_t v)
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
}

inline int64_t int_sample(const rv_line_samples& l, int i)
{
    return l.precise ? int64_t(static_cast<const int32_t*>(l.buf)[i])
                     : int64_t(static_cast<const int16_t*>(l.buf)[i]);
}

inline void store_int(const rv_line_samples& l, int i, int64_t v)
{
    if (l.precise)
        static_cast<int32_t*>(l.buf)[i] = wrap32(v);
    else
        static_cast<int16_t*>(l.buf)[i] = wrap16(v);
}

// Largest magnitude a line's samples can have.
inline double sample_bound(const rv_line_samples& l)
{
    return l.precise ? 2147483648.0 : 32768.0;
}

// Products summed modulo 2^64: exact whenever the true sum fits, defined otherwise.
inline uint64_t mul_wrap(int64_t a, int64_t b)
{
    return static_cast<uint64_t>(a) * static_cast<uint64_t>(b);
}

// Sums coefficient x line over every line but 'skip', onto the accumulator.
void accumulate_int(std::vector<int64_t>& acc, int width, const rv_line_samples* lines,
                    const int* coefs, int coef_stride, int count, int skip)
{
    for (int i = 0; i < count; ++i) {
        const int c = coefs[i * coef_stride];
        if (i == skip || c == 0)
            continue;
        for (int x = 0; x < width; ++x)
            acc[x] = static_cast<int64_t>(static_cast<uint64_t>(acc[x]) +
                                          mul_wrap(c, int_sample(lines[i], x)));
    }
}

// 16-bit synthesis of one matrix output: the terms are gathered first so the accumulator
// width can be chosen from their bound.
struct term16 {
    const rv_line_samples* in;
    int64_t h;
    int64_t mul; // 2^u
};

template <class Acc>
void matrix_row16(std::vector<Acc>& acc, const std::vector<term16>& terms,
                  const rv_line_samples& out)
{
    const int n = out.width;
    acc.assign(size_t(n), Acc(0));
    for (const term16& t : terms) {
        const int64_t f = t.h * t.mul;
        if (t.in->precise) {
            const int32_t* s = static_cast<const int32_t*>(t.in->buf);
            for (int x = 0; x < n; ++x)
                acc[x] += static_cast<Acc>(s[x] * f);
        } else {
            const int16_t* s = static_cast<const int16_t*>(t.in->buf);
            for (int x = 0; x < n; ++x)
                acc[x] += static_cast<Acc>(s[x] * f);
        }
    }
}

// The 16-bit multiplier and shift rv_dwt_load uses for a unit factor f: `mult` above
// 16383 and at most 32767 in magnitude with f = mult / 2^k; false when f has no scale.
bool dwt_multiplier(double f, int64_t& mult, int& k)
{
    if (!(std::fabs(f) > 0.0) || !std::isfinite(f))
        return false;
    const bool negative = f < 0;
    f = std::fabs(f);
    k = 0;
    while (f <= 16383.0) {
        f *= 2.0;
        ++k;
    }
    while (f > 32767.0) {
        f *= 0.5;
        --k;
    }
    mult = std::min<int64_t>(32767, int64_t(std::floor(f + 0.5)));
    if (negative)
        mult = -mult;
    return true;
}

} // namespace

int rv_make_16bit_coefficients(const float* c, const bool* mask, int count, float m_floor,
                               int16_t* out)
{
    double m = m_floor;
    for (int i = 0; i < count; ++i)
        if (mask == nullptr || mask[i])
            m = std::max(m, std::fabs(double(c[i])));
    int d = 0;
    double f = 1.0;
    // An all-zero set has no scale to reach; its coefficients are zero at any shift.
    if (m > 0.0 && m <= 16383.0)
        while (m * f <= 16383.0) {
            f *= 2.0;
            ++d;
        }
    for (int i = 0; i < count; ++i) {
        if (mask != nullptr && !mask[i]) {
            out[i] = 0;
            continue;
        }
        const double v = std::floor(double(c[i]) * f + 0.5);
        out[i] = static_cast<int16_t>(std::min(32767.0, std::max(-32768.0, v)));
    }
    return d;
}

bool rv_coefficients_need_precise(const float* c, int count)
{
    for (int i = 0; i < count; ++i)
        if (!(std::fabs(c[i]) <= 32767.0f)) // NaN counts too
            return true;
    return false;
}

bool rv_matrix_arith::normalize(const rv_line_samples* const* inputs, const rv_line_samples* outputs)
{
    bool precise = false;
    for (int i = 0; i < num_inputs; ++i) {
        const rv_line_samples* in = inputs[i];
        if (in == nullptr)
            continue;
        if (in->precise || in->bit_depth <= 0)
            precise = true;
        if (in->bit_depth > 0) {
            const float f = std::ldexp(1.0f, in->bit_depth);
            for (int j = 0; j < num_outputs; ++j)
                coefficients[size_t(j) * num_inputs + i] *= f;
        }
    }
    for (int j = 0; j < num_outputs; ++j) {
        if (outputs[j].precise || outputs[j].bit_depth <= 0)
            precise = true;
        if (outputs[j].bit_depth > 0) {
            const float f = std::ldexp(1.0f, -outputs[j].bit_depth);
            for (int i = 0; i < num_inputs; ++i)
                coefficients[size_t(j) * num_inputs + i] *= f;
        }
    }
    // The 16-bit form would clip such a coefficient and corrupt every sample it touches.
    return precise || rv_coefficients_need_precise(coefficients.data(), int(coefficients.size()));
}

void rv_matrix_arith::fold_constant_input(int i, float value, float* offsets) const
{
    for (int j = 0; j < num_outputs; ++j)
        offsets[j] += coefficients[size_t(j) * num_inputs + i] * value;
}

void rv_matrix_arith::synthesize(const rv_line_samples* const* inputs,
                                 const rv_line_samples* outputs, const float* offsets)
{
    for (int j = 0; j < num_outputs; ++j) {
        const rv_line_samples& out = outputs[j];
        const float* row = &coefficients[size_t(j) * num_inputs];
        const int n = out.width;
        if (out.precise) {
            float* d = out.f32();
            std::fill_n(d, n, offsets[j]);
            for (int i = 0; i < num_inputs; ++i) {
                const rv_line_samples* in = inputs[i];
                if (in == nullptr || row[i] == 0.0f)
                    continue;
                if (in->reversible) {
                    const float c = in->bit_depth > 0 ? std::ldexp(row[i], -in->bit_depth) : row[i];
                    for (int x = 0; x < n; ++x)
                        d[x] += c * float(int_sample(*in, x));
                } else if (in->precise) {
                    const float* s = in->f32();
                    for (int x = 0; x < n; ++x)
                        d[x] += row[i] * s[x];
                } else {
                    const float c = row[i] * (1.0f / 8192.0f);
                    const int16_t* s = in->s16();
                    for (int x = 0; x < n; ++x)
                        d[x] += c * float(s[x]);
                }
            }
            continue;
        }

        if (coeffs16.empty()) {
            std::unique_ptr<bool[]> m(new bool[coefficients.size()]);
            for (int jj = 0; jj < num_outputs; ++jj)
                for (int i = 0; i < num_inputs; ++i)
                    m[size_t(jj) * num_inputs + i] = inputs[i] != nullptr;
            coeffs16.resize(coefficients.size());
            downshift = rv_make_16bit_coefficients(coefficients.data(), m.get(),
                                                   int(coefficients.size()), 1e-5f, coeffs16.data());
        }
        const int d = downshift;
        const int64_t o = rv_fix16_offset(offsets[j]);
        const int64_t round = (int64_t(1) << d) / 2 + o * (int64_t(1) << d);
        std::vector<term16> terms;
        double bound = std::fabs(double(round));
        for (int i = 0; i < num_inputs; ++i) {
            const rv_line_samples* in = inputs[i];
            int64_t h = coeffs16[size_t(j) * num_inputs + i];
            if (in == nullptr || h == 0)
                continue;
            int64_t mul = 1;
            if (in->reversible) {
                const int u = 13 - in->bit_depth;
                if (u < 0) {
                    const int s = std::min(-u, 40);
                    h = (h + (int64_t(1) << (s - 1))) >> s;
                } else {
                    mul = int64_t(1) << u;
                }
            }
            terms.push_back({in, h, mul});
            bound += sample_bound(*in) * double(mul) * std::fabs(double(h));
        }
        int16_t* dst = out.s16();
        if (bound <= 2147483647.0) {
            matrix_row16(acc32, terms, out);
            const int32_t r = static_cast<int32_t>(round);
            for (int x = 0; x < n; ++x)
                dst[x] = wrap16((acc32[x] + r) >> d);
        } else {
            matrix_row16(acc64, terms, out);
            for (int x = 0; x < n; ++x)
                dst[x] = wrap16((acc64[x] + round) >> d);
        }
    }
}

bool rv_rxform_arith::needs_precise() const
{
    for (int c : coefficients)
        if (c < -32767 || c > 32767)
            return true;
    return false;
}

void rv_rxform_arith::synthesize(const rv_line_samples* const* inputs,
                                 const rv_line_samples* lines, const int* offsets)
{
    if (n <= 0)
        return;
    const int width = lines[0].width;
    for (int t = 0; t < n; ++t) {
        if (inputs[t] != nullptr)
            rv_line_copy(lines[t], *inputs[t], 0, 0.0f);
        else
            rv_line_fill(lines[t], 0, 0.0f);
    }
    const int cols = n + 1;
    acc.resize(size_t(width));
    for (int s = 0; s <= n; ++s) {
        const int t = n - 1 - (s % n);
        int v = coefficients[size_t(t) * cols + s];
        const bool negated = (s == n) && v < 0;
        if (negated)
            v = (v == -2147483647 - 1) ? 0 : -v; // no power of 2 fits; report it as 0
        const int k = exact_log2(v);
        if (k < 0)
            divisor_error(rxform_divisor_text, coefficients[size_t(t) * cols + s]);
        std::fill(acc.begin(), acc.end(), int64_t(v / 2));
        accumulate_int(acc, width, lines, &coefficients[s], cols, n, t);
        const rv_line_samples& target = lines[t];
        for (int x = 0; x < width; ++x) {
            const int64_t update = acc[x] >> k;
            const int64_t old = int_sample(target, x);
            store_int(target, x, negated ? update - old : old - update);
        }
    }
    for (int t = 0; t < n; ++t)
        rv_line_add_offset(lines[t], offsets[t], 0.0f);
}

void rv_rxform_arith::analyze(const rv_line_samples* lines, const rv_line_samples* const* inputs)
{
    if (n <= 0)
        return;
    const int width = lines[0].width;
    const int cols = n + 1;
    acc.resize(size_t(width));
    // The steps undone last first; each update reads only lines its step leaves alone.
    for (int s = n; s >= 0; --s) {
        const int t = n - 1 - (s % n);
        int v = coefficients[size_t(t) * cols + s];
        const bool negated = (s == n) && v < 0;
        if (negated)
            v = (v == -2147483647 - 1) ? 0 : -v;
        const int k = exact_log2(v);
        if (k < 0)
            divisor_error(rxform_divisor_text, coefficients[size_t(t) * cols + s]);
        std::fill(acc.begin(), acc.end(), int64_t(v / 2));
        accumulate_int(acc, width, lines, &coefficients[s], cols, n, t);
        const rv_line_samples& target = lines[t];
        for (int x = 0; x < width; ++x) {
            const int64_t update = acc[x] >> k;
            const int64_t cur = int_sample(target, x);
            store_int(target, x, negated ? update - cur : cur + update);
        }
    }
    for (int t = 0; t < n; ++t)
        if (inputs[t] != nullptr)
            rv_line_copy(*inputs[t], lines[t], 0, 0.0f);
}

bool rv_dependency_arith::normalize(const rv_line_samples* const* inputs, rv_line_samples* outputs)
{
    if (reversible) {
        for (int c : int_coefficients)
            if (c < -32767 || c > 32767)
                return true;
        return false;
    }
    bool precise = false;
    for (int r = 0; r < n; ++r) {
        const rv_line_samples* in = inputs[r];
        rv_line_samples& out = outputs[r];
        if (out.bit_depth <= 0) {
            if (in != nullptr)
                out.bit_depth = in->bit_depth;
            precise = true;
        }
        if (in != nullptr && in->bit_depth <= 0)
            precise = true;
        if (out.precise)
            precise = true;
        const int b = out.bit_depth;
        if (b > 0) {
            const float up = std::ldexp(1.0f, b), down = std::ldexp(1.0f, -b);
            for (int i = r + 1; i < n; ++i)
                real_coefficients[size_t(i) * n + r] *= up;
            for (int c = 0; c < r; ++c)
                real_coefficients[size_t(r) * n + c] *= down;
            real_offsets[r] *= down;
        }
    }
    return precise || rv_coefficients_need_precise(real_coefficients.data(), int(real_coefficients.size()));
}

void rv_dependency_arith::synthesize(const rv_line_samples* const* inputs,
                                     const rv_line_samples* lines)
{
    if (n <= 0)
        return;
    const int width = lines[0].width;
    acc.resize(size_t(width));
    if (!reversible && !have16 && !lines[0].precise)
        make_16bit_coefficients();
    for (int r = 0; r < n; ++r) {
        const rv_line_samples& line = lines[r];
        const int ioff = reversible ? int_offsets[r] : 0;
        const float roff = reversible ? 0.0f : real_offsets[r];
        if (inputs[r] != nullptr)
            rv_line_copy(line, *inputs[r], ioff, roff);
        else
            rv_line_fill(line, ioff, roff);
        if (r == 0)
            continue;
        if (reversible) {
            const int v = int_coefficients[size_t(r) * n + r];
            const int k = exact_log2(v);
            if (k < 0)
                divisor_error(dependency_divisor_text, v);
            std::fill(acc.begin(), acc.end(), int64_t(v / 2));
            accumulate_int(acc, width, lines, &int_coefficients[size_t(r) * n], 1, r, -1);
            for (int x = 0; x < width; ++x)
                store_int(line, x, int_sample(line, x) + (acc[x] >> k));
        } else {
            predict_real(lines, r, 1);
        }
    }
}

void rv_dependency_arith::make_16bit_coefficients()
{
    std::unique_ptr<bool[]> lower(new bool[size_t(n) * n]);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            lower[size_t(r) * n + c] = c < r;
    coeffs16.resize(size_t(n) * n);
    downshift = rv_make_16bit_coefficients(real_coefficients.data(), lower.get(), n * n, 0.0f,
                                           coeffs16.data());
    have16 = true;
}

void rv_dependency_arith::predict_real(const rv_line_samples* lines, int r, int sign)
{
    const rv_line_samples& line = lines[r];
    const int width = line.width;
    if (line.precise) {
        float* d = line.f32();
        for (int c = 0; c < r; ++c) {
            const float w = real_coefficients[size_t(r) * n + c] * float(sign);
            if (w == 0.0f)
                continue;
            const float* s = lines[c].f32();
            for (int x = 0; x < width; ++x)
                d[x] += w * s[x];
        }
        return;
    }
    const int d = downshift;
    std::fill(acc.begin(), acc.end(), (int64_t(1) << d) / 2);
    for (int c = 0; c < r; ++c) {
        const int64_t h = coeffs16[size_t(r) * n + c];
        if (h == 0)
            continue;
        const int16_t* s = lines[c].s16();
        for (int x = 0; x < width; ++x)
            acc[x] += h * s[x];
    }
    // The same rounded prediction either way, so removing it undoes adding it exactly.
    int16_t* dst = line.s16();
    for (int x = 0; x < width; ++x)
        dst[x] = wrap16(dst[x] + sign * (acc[x] >> d));
}

void rv_dwt_load(const rv_line_samples& work, const rv_line_samples* src, bool reversible, float gain)
{
    if (src == nullptr) {
        rv_line_fill(work, 0, 0.0f);
        return;
    }
    if (reversible) {
        rv_line_copy(work, *src, 0, 0.0f);
        return;
    }
    const int n = work.width;
    if (work.precise) {
        float* d = work.f32();
        if (src->reversible) {
            const float f = std::ldexp(gain, -work.bit_depth);
            for (int x = 0; x < n; ++x)
                d[x] = float(int_sample(*src, x)) * f;
        } else {
            const float f = std::ldexp(gain, src->bit_depth - work.bit_depth);
            if (src->precise) {
                const float* s = src->f32();
                for (int x = 0; x < n; ++x)
                    d[x] = s[x] * f;
            } else {
                const int16_t* s = src->s16();
                for (int x = 0; x < n; ++x)
                    d[x] = float(s[x]) * (f / 8192.0f);
            }
        }
        return;
    }
    const double f = std::ldexp(double(gain), -work.bit_depth) *
                     (src->reversible ? 8192.0 : std::ldexp(1.0, src->bit_depth));
    int16_t* d = work.s16();
    int64_t mult = 0;
    int k = 0;
    if (!dwt_multiplier(f, mult, k)) { // nothing to scale to a multiplier
        std::fill_n(d, n, int16_t(0));
        return;
    }
    if (k >= 0) {
        const int64_t half = k > 0 ? (int64_t(1) << (k - 1)) : 0;
        const int kk = std::min(k, 62);
        for (int x = 0; x < n; ++x)
            d[x] = wrap16((int_sample(*src, x) * mult + half) >> kk);
    } else {
        // Only the low 16 bits are kept, so a shift of 16 or more leaves zeros.
        const int64_t up = int64_t(1) << std::min(-k, 16);
        for (int x = 0; x < n; ++x)
            d[x] = wrap16(int_sample(*src, x) * mult * up);
    }
}

void rv_dwt_synthesize_level(const rv_lifting_step* steps, int num_steps, bool symmetric,
                             rvd_line_buf* work, int count, int width)
{
    if (count < 2)
        return;
    const int last = count - 1;
    std::vector<const rvd_line_buf*> src;
    for (int s = num_steps - 1; s >= 0; --s) {
        const rv_lifting_step& st = steps[s];
        // Even steps update the high-pass (odd) positions, odd steps the low-pass ones.
        const int parity = (st.step_idx & 1) == 0 ? 1 : 0;
        src.resize(st.support_length);
        for (int t = parity; t <= last; t += 2) {
            for (int k = 0; k < st.support_length; ++k) {
                const int i = (t ^ 1) + 2 * (st.support_min + k);
                src[size_t(k)] = &work[rv_extend_index(i, 0, last, symmetric)];
            }
            rv_vertical_step(st, work[t], src.data(), width);
        }
    }
}

void rv_dependency_arith::analyze(const rv_line_samples* lines, const rv_line_samples* const* inputs)
{
    if (n <= 0)
        return;
    const int width = lines[0].width;
    acc.resize(size_t(width));
    if (!reversible) {
        if (!have16 && !lines[0].precise)
            make_16bit_coefficients();
        for (int r = n - 1; r >= 1; --r)
            predict_real(lines, r, -1);
        for (int r = 0; r < n; ++r) {
            if (inputs[r] == nullptr)
                continue;
            rv_line_add_offset(lines[r], 0, -real_offsets[r]);
            rv_line_copy(*inputs[r], lines[r], 0, 0.0f);
        }
        return;
    }
    // Predictions removed from the last row up, each from rows its own removal leaves.
    for (int r = n - 1; r >= 1; --r) {
        const int v = int_coefficients[size_t(r) * n + r];
        const int k = exact_log2(v);
        if (k < 0)
            divisor_error(dependency_divisor_text, v);
        std::fill(acc.begin(), acc.end(), int64_t(v / 2));
        accumulate_int(acc, width, lines, &int_coefficients[size_t(r) * n], 1, r, -1);
        const rv_line_samples& line = lines[r];
        for (int x = 0; x < width; ++x)
            store_int(line, x, int_sample(line, x) - (acc[x] >> k));
    }
    for (int r = 0; r < n; ++r)
        if (inputs[r] != nullptr)
            rv_line_copy(*inputs[r], lines[r], -int_offsets[r], 0.0f);
}

bool rv_matrix_arith::least_squares_inverse(const std::vector<int>& rows, const std::vector<int>& cols,
                                            rv_matrix_arith& inverse) const
{
    const size_t m = rows.size(), p = cols.size();
    auto a = [&](size_t r, size_t c) {
        return double(coefficients[size_t(rows[r]) * size_t(num_inputs) + size_t(cols[c])]);
    };
    // Normal equations A'A, factorised as L L'.
    std::vector<double> l(p * p, 0.0);
    double largest = 0.0;
    for (size_t i = 0; i < p; ++i)
        for (size_t j = 0; j <= i; ++j) {
            double v = 0.0;
            for (size_t r = 0; r < m; ++r)
                v += a(r, i) * a(r, j);
            l[i * p + j] = v;
            if (i == j)
                largest = std::max(largest, v);
        }
    for (size_t k = 0; k < p; ++k) {
        double d = l[k * p + k];
        for (size_t j = 0; j < k; ++j)
            d -= l[k * p + j] * l[k * p + j];
        if (!(d > 1e-13 * largest))
            return false;
        d = std::sqrt(d);
        l[k * p + k] = d;
        for (size_t i = k + 1; i < p; ++i) {
            double v = l[i * p + k];
            for (size_t j = 0; j < k; ++j)
                v -= l[i * p + j] * l[k * p + j];
            l[i * p + k] = v / d;
        }
    }
    // Column r of the inverse solves L L' x = (row r of A)'.
    inverse.num_inputs = int(m);
    inverse.num_outputs = int(p);
    inverse.coefficients.assign(m * p, 0.0f);
    inverse.coeffs16.clear();
    std::vector<double> x(p);
    for (size_t r = 0; r < m; ++r) {
        for (size_t i = 0; i < p; ++i) {
            double v = a(r, i);
            for (size_t j = 0; j < i; ++j)
                v -= l[i * p + j] * x[j];
            x[i] = v / l[i * p + i];
        }
        for (size_t i = p; i-- > 0;) {
            double v = x[i];
            for (size_t j = i + 1; j < p; ++j)
                v -= l[j * p + i] * x[j];
            x[i] = v / l[i * p + i];
        }
        for (size_t i = 0; i < p; ++i)
            inverse.coefficients[i * m + r] = float(x[i]);
    }
    return true;
}


void rv_dwt_unload(const rv_line_samples& work, const rv_line_samples& src, bool reversible, float gain)
{
    if (reversible) {
        rv_line_copy(src, work, 0, 0.0f);
        return;
    }
    const int n = work.width;
    if (work.precise) {
        const float* s = work.f32();
        if (src.reversible) { // refused by the block's inversion; kept whole for safety
            const float f = std::ldexp(1.0f, work.bit_depth) / gain;
            for (int x = 0; x < n; ++x)
                store_int(src, x, int64_t(std::floor(double(s[x] * f) + 0.5)));
            return;
        }
        const float f = std::ldexp(1.0f, work.bit_depth - src.bit_depth) / gain;
        if (src.precise) {
            float* d = src.f32();
            for (int x = 0; x < n; ++x)
                d[x] = s[x] * f;
        } else {
            int16_t* d = src.s16();
            for (int x = 0; x < n; ++x)
                d[x] = wrap16(int64_t(std::floor(double(s[x] * f * 8192.0f) + 0.5)));
        }
        return;
    }
    const double f = std::ldexp(double(gain), -work.bit_depth) *
                     (src.reversible ? 8192.0 : std::ldexp(1.0, src.bit_depth));
    int64_t mult = 0;
    int k = 0;
    const int16_t* s = work.s16();
    if (!dwt_multiplier(f, mult, k)) {
        for (int x = 0; x < n; ++x)
            store_int(src, x, 0);
        return;
    }
    // The loaded sample was about source x mult / 2^k; divide it back out.
    const double back = std::ldexp(1.0, k) / double(mult);
    for (int x = 0; x < n; ++x)
        store_int(src, x, int64_t(std::floor(double(s[x]) * back + 0.5)));
}
