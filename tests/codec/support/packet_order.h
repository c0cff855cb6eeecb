// An independent packet-order model for codec tests: the order of (layer, resolution,
// component, precinct) packets of one tile, computed from the canvas geometry with
// ceil/floor formulas and a literal walk over canvas positions, not from the codec's
// grids. Used by the sequencer tests and by the test-side data-bin splitter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

namespace codec_test {

// One progression: first resolution, first component, layer end, resolution end,
// component end (ends exclusive) and the order (0 LRCP .. 4 CPRL).
struct progression_record {
    int rs = 0, cs = 0, lye = 1, re = 1, ce = 1, order = 0;
};

struct order_component {
    int levels = 0;
    int64_t xr = 1, yr = 1;  // sub-sampling
    std::vector<int> ppx;    // precinct exponents per resolution, lowest first
    std::vector<int> ppy;
};

using packet_id = std::tuple<int, int, int, int>; // layer, resolution, component, precinct

inline int64_t order_cdiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

struct packet_order_model {
    std::vector<order_component> comps;
    int layers = 1;
    int64_t tx0, ty0, tx1, ty1; // tile region on the canvas, exclusive ends
    // next[c][r][k]: packets of the precinct already emitted.
    std::vector<std::vector<std::vector<int>>> next;
    std::vector<packet_id> out;

    packet_order_model(std::vector<order_component> c, int num_layers, int64_t x0, int64_t y0,
                       int64_t x1, int64_t y1)
        : comps(std::move(c)), layers(num_layers), tx0(x0), ty0(y0), tx1(x1), ty1(y1)
    {
        next.resize(comps.size());
        for (size_t ci = 0; ci < comps.size(); ci++)
            for (int r = 0; r <= comps[ci].levels; r++)
                next[ci].push_back(
                    std::vector<int>(size_t(cols(int(ci), r) * rows(int(ci), r)), 0));
    }
    int nc() const { return int(comps.size()); }
    int nl(int c) const { return comps[size_t(c)].levels; }
    int max_levels() const
    {
        int m = 0;
        for (const auto& c : comps)
            m = std::max(m, c.levels);
        return m;
    }
    int64_t xr(int c) const { return comps[size_t(c)].xr; }
    int64_t yr(int c) const { return comps[size_t(c)].yr; }
    int64_t trx0(int c, int r) const { return order_cdiv(tx0, xr(c) << (nl(c) - r)); }
    int64_t trx1(int c, int r) const { return order_cdiv(tx1, xr(c) << (nl(c) - r)); }
    int64_t try0(int c, int r) const { return order_cdiv(ty0, yr(c) << (nl(c) - r)); }
    int64_t try1(int c, int r) const { return order_cdiv(ty1, yr(c) << (nl(c) - r)); }
    int px(int c, int r) const { return comps[size_t(c)].ppx[size_t(r)]; }
    int py(int c, int r) const { return comps[size_t(c)].ppy[size_t(r)]; }
    int64_t cols(int c, int r) const
    {
        if (trx1(c, r) <= trx0(c, r))
            return 0;
        return order_cdiv(trx1(c, r), int64_t(1) << px(c, r)) - (trx0(c, r) >> px(c, r));
    }
    int64_t rows(int c, int r) const
    {
        if (try1(c, r) <= try0(c, r))
            return 0;
        return order_cdiv(try1(c, r), int64_t(1) << py(c, r)) - (try0(c, r) >> py(c, r));
    }
    int64_t total_packets() const
    {
        int64_t n = 0;
        for (int c = 0; c < nc(); c++)
            for (int r = 0; r <= nl(c); r++)
                n += cols(c, r) * rows(c, r) * layers;
        return n;
    }
    void offer(int l, int r, int c, int k)
    {
        int& n = next[size_t(c)][size_t(r)][size_t(k)];
        if (l == n) {
            out.emplace_back(l, r, c, k);
            n++;
        }
    }
    // Precinct of (c, r) starting at canvas position (y, x), or -1.
    int at(int c, int r, int64_t y, int64_t x) const
    {
        if (cols(c, r) == 0 || rows(c, r) == 0)
            return -1;
        const int d = nl(c) - r;
        const int64_t sy = yr(c) << (py(c, r) + d), sx = xr(c) << (px(c, r) + d);
        const bool yok =
            y % sy == 0 || (y == ty0 && (try0(c, r) << d) % (int64_t(1) << (py(c, r) + d)) != 0);
        const bool xok =
            x % sx == 0 || (x == tx0 && (trx0(c, r) << d) % (int64_t(1) << (px(c, r) + d)) != 0);
        if (!yok || !xok)
            return -1;
        const int64_t kx = (order_cdiv(x, xr(c) << d) >> px(c, r)) - (trx0(c, r) >> px(c, r));
        const int64_t ky = (order_cdiv(y, yr(c) << d) >> py(c, r)) - (try0(c, r) >> py(c, r));
        return int(kx + cols(c, r) * ky);
    }
    void spatial(int c, int r, int64_t y, int64_t x, int lye)
    {
        if (r > nl(c))
            return;
        const int k = at(c, r, y, x);
        if (k >= 0)
            for (int l = 0; l < lye; l++)
                offer(l, r, c, k);
    }
    void run(const progression_record& p)
    {
        const int ce = std::min(p.ce, nc()), lye = std::min(p.lye, layers);
        auto prec = [&](int l, int r, int c) {
            if (r <= nl(c))
                for (int k = 0; k < cols(c, r) * rows(c, r); k++)
                    offer(l, r, c, k);
        };
        if (p.order == 0) {
            for (int l = 0; l < lye; l++)
                for (int r = p.rs; r < p.re; r++)
                    for (int c = p.cs; c < ce; c++)
                        prec(l, r, c);
        } else if (p.order == 1) {
            for (int r = p.rs; r < p.re; r++)
                for (int l = 0; l < lye; l++)
                    for (int c = p.cs; c < ce; c++)
                        prec(l, r, c);
        } else if (p.order == 2) {
            for (int r = p.rs; r < p.re; r++)
                for (int64_t y = ty0; y < ty1; y++)
                    for (int64_t x = tx0; x < tx1; x++)
                        for (int c = p.cs; c < ce; c++)
                            spatial(c, r, y, x, lye);
        } else if (p.order == 3) {
            for (int64_t y = ty0; y < ty1; y++)
                for (int64_t x = tx0; x < tx1; x++)
                    for (int c = p.cs; c < ce; c++)
                        for (int r = p.rs; r < p.re; r++)
                            spatial(c, r, y, x, lye);
        } else {
            for (int c = p.cs; c < ce; c++)
                for (int64_t y = ty0; y < ty1; y++)
                    for (int64_t x = tx0; x < tx1; x++)
                        for (int r = p.rs; r < p.re; r++)
                            spatial(c, r, y, x, lye);
        }
    }
    // The progression of a tile without POC records.
    progression_record whole(int order) const
    {
        return {0, 0, layers, max_levels() + 1, nc(), order};
    }
};

} // namespace codec_test
