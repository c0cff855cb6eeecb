// Textbook forward wavelet analysis (ISO/IEC 15444-1 Annex F) in double precision, in
// absolute coordinates with symmetric extension; a lone odd-position reversible sample
// doubles. Tests form subbands with it to check synthesis and to feed encoders.
#pragma once

#include "codec/core/rvd_dims.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace reference_dwt {

inline const double w97[4] = {-1.586134342059924, -0.052980118572961, 0.882911075530934,
                       0.443506852043971};

inline int mirror(int i, int first, int last)
{
    if (first == last)
        return first;
    while (i < first || i > last)
        i = (i < first) ? 2 * first - i : 2 * last - i;
    return i;
}

inline int ceil_half(int v) { return (v >= 0) ? (v + 1) / 2 : -((-v) / 2); }
inline int floor_half(int v) { return (v >= 0) ? v / 2 : -((-v + 1) / 2); }

// One-dimensional analysis of x at positions first..last. A lone odd sample doubles
// when reversible; irreversible high bands are normalised to a Nyquist gain of 1, which
// leaves it as it is.
inline void analyse(std::vector<double>& x, int first, int last, bool reversible)
{
    if (first == last) {
        if ((first & 1) && reversible)
            x[0] *= 2.0;
        return;
    }
    auto at = [&](int p) { return x[size_t(mirror(p, first, last) - first)]; };
    if (reversible) {
        for (int p = first; p <= last; p++)
            if (p & 1)
                x[size_t(p - first)] -= std::floor((at(p - 1) + at(p + 1)) / 2.0);
        for (int p = first; p <= last; p++)
            if (!(p & 1))
                x[size_t(p - first)] += std::floor((at(p - 1) + at(p + 1) + 2) / 4.0);
        return;
    }
    for (int k = 0; k < 4; k++)
        for (int p = first; p <= last; p++)
            if ((p & 1) == ((k & 1) == 0 ? 1 : 0))
                x[size_t(p - first)] += w97[k] * (at(p - 1) + at(p + 1));
}

struct plane {
    rvd_dims dims;
    std::vector<double> v;
    plane() = default;
    explicit plane(rvd_dims d) : dims(d), v(size_t(std::max(0, d.size.y * d.size.x)), 0.0) {}
    double& at(int y, int x) { return v[size_t((y - dims.pos.y) * dims.size.x + x - dims.pos.x)]; }
};

// Range of child indices holding positions of parity `high` within [first, first+size).
inline void child_range(int first, int size, bool high, int& pos, int& count)
{
    int last = first + size - 1;
    pos = high ? floor_half(first) : ceil_half(first);
    int end = high ? floor_half(last - 1) : floor_half(last);
    count = std::max(0, end - pos + 1);
}

struct bands {
    plane b[4];
};

// One level of analysis: columns then rows, as the synthesis undoes rows then columns;
// or rows first for a synthesis that takes columns first. `analyse1d(x, first, last)`
// transforms one column or row.
template <class F>
bands analyse2d_with(const plane& img, bool hsplit, bool vsplit, bool rows_first, F analyse1d)
{
    plane p = img;
    const rvd_dims& d = img.dims;
    auto columns = [&] {
        if (vsplit && d.size.y > 0)
            for (int x = d.pos.x; x < d.pos.x + d.size.x; x++) {
                std::vector<double> col;
                for (int y = d.pos.y; y < d.pos.y + d.size.y; y++)
                    col.push_back(p.at(y, x));
                analyse1d(col, d.pos.y, d.pos.y + d.size.y - 1);
                for (int y = d.pos.y; y < d.pos.y + d.size.y; y++)
                    p.at(y, x) = col[size_t(y - d.pos.y)];
            }
    };
    auto rows = [&] {
        if (hsplit && d.size.x > 0)
            for (int y = d.pos.y; y < d.pos.y + d.size.y; y++) {
                std::vector<double> row;
                for (int x = d.pos.x; x < d.pos.x + d.size.x; x++)
                    row.push_back(p.at(y, x));
                analyse1d(row, d.pos.x, d.pos.x + d.size.x - 1);
                for (int x = d.pos.x; x < d.pos.x + d.size.x; x++)
                    p.at(y, x) = row[size_t(x - d.pos.x)];
            }
    };
    if (rows_first) {
        rows();
        columns();
    } else {
        columns();
        rows();
    }
    bands out;
    for (int c = 0; c < 4; c++) {
        bool hx = (c & 1) != 0, hy = (c & 2) != 0;
        if ((hx && !hsplit) || (hy && !vsplit))
            continue;
        rvd_dims cd;
        if (vsplit)
            child_range(d.pos.y, d.size.y, hy, cd.pos.y, cd.size.y);
        else {
            cd.pos.y = d.pos.y;
            cd.size.y = d.size.y;
        }
        if (hsplit)
            child_range(d.pos.x, d.size.x, hx, cd.pos.x, cd.size.x);
        else {
            cd.pos.x = d.pos.x;
            cd.size.x = d.size.x;
        }
        plane& b = out.b[c];
        b = plane(cd);
        for (int y = cd.pos.y; y < cd.pos.y + cd.size.y; y++)
            for (int x = cd.pos.x; x < cd.pos.x + cd.size.x; x++)
                b.at(y, x) = p.at(vsplit ? 2 * y + (hy ? 1 : 0) : y, hsplit ? 2 * x + (hx ? 1 : 0) : x);
    }
    return out;
}

inline bands analyse2d(const plane& img, bool hsplit, bool vsplit, bool reversible, bool rows_first)
{
    return analyse2d_with(img, hsplit, vsplit, rows_first, [reversible](std::vector<double>& x, int first, int last) {
        analyse(x, first, last, reversible);
    });
}

// A lifting step as a kernel description gives it: `length` taps from `min`, reversible
// steps adding (sum of integer taps x sources + offset) >> downshift.
struct lifting_step {
    int length, min, downshift, offset;
    std::vector<double> taps;
};

// One-dimensional analysis by arbitrary lifting steps (step s updates the odd positions
// when s is even), extending each step's sources by mirroring or, without symmetric
// extension, with the nearest position of the same parity.
inline void analyse_steps(std::vector<double>& x, int first, int last, bool reversible,
                          const std::vector<lifting_step>& steps, bool symmetric)
{
    if (first == last) {
        if ((first & 1) && reversible)
            x[0] *= 2.0;
        return;
    }
    auto at = [&](int p) {
        if (p < first || p > last) {
            if (symmetric)
                p = mirror(p, first, last);
            else {
                const int edge = p < first ? first : last;
                p = ((edge ^ p) & 1) == 0 ? edge : (p < first ? edge + 1 : edge - 1);
            }
        }
        return x[size_t(p - first)];
    };
    for (size_t s = 0; s < steps.size(); s++) {
        const lifting_step& st = steps[s];
        const int parity = (s % 2 == 0) ? 1 : 0;
        for (int p = first; p <= last; p++) {
            if ((p & 1) != parity)
                continue;
            double sum = 0.0;
            for (int t = 0; t < st.length; t++) {
                const double tap = reversible ? std::floor(st.taps[size_t(t)] * std::ldexp(1.0, st.downshift) + 0.5)
                                              : st.taps[size_t(t)];
                sum += tap * at((p ^ 1) + 2 * (st.min + t));
            }
            x[size_t(p - first)] += reversible ? std::floor((sum + st.offset) / std::ldexp(1.0, st.downshift)) : sum;
        }
    }
}

} // namespace reference_dwt
