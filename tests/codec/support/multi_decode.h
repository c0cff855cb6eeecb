// Whole codestreams decoded through the multi-component network, with the tool's sample
// conversion, for comparison with opj_decompress.
#pragma once

#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_multi_synthesis.h"
#include "codec/core/rvd_codestream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace multi_test {

struct plane {
    int width = 0, height = 0;
    std::vector<int32_t> samples;
};

// Destroys the codestream however the test leaves it.
struct codestream_guard {
    rvd_codestream cs;
    codestream_guard() = default;
    codestream_guard(const codestream_guard&) = delete;
    codestream_guard& operator=(const codestream_guard&) = delete;
    ~codestream_guard()
    {
        if (cs.exists())
            cs.destroy();
    }
};

struct network_options {
    bool force_precise = false;
    bool want_fastest = false;
    int stripe = 1;
};

// A zero-centred output line as the component's sample values: absolute lines
// plus 2^(B-1) when unsigned; 32-bit real lines round(v 2^B); 16-bit real lines
// (v 2^B + 4096) >> 13; then clipped to the component's range.
inline void convert_line(const rvd_line_buf& line, int depth, bool is_signed, int32_t* out)
{
    const int64_t offset = is_signed ? 0 : int64_t(1) << (depth - 1);
    const int64_t lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
    const int64_t hi = is_signed ? (int64_t(1) << (depth - 1)) - 1 : (int64_t(1) << depth) - 1;
    for (int x = 0; x < line.get_width(); ++x) {
        int64_t v;
        if (line.is_absolute())
            v = line.is_shorts() ? line.get_buf16()[x] : line.get_buf32()[x].ival;
        else if (line.is_shorts())
            v = (int64_t(line.get_buf16()[x]) * (int64_t(1) << depth) + 4096) >> 13;
        else
            v = std::llround(std::ldexp(double(line.get_buf32()[x].fval), depth));
        out[x] = int32_t(std::min(hi, std::max(lo, v + offset)));
    }
}

// Start-up tables, as module start-up builds them: once, before any thread decodes.
inline void ensure_decoding_tables()
{
    static const bool tables_ready = (rv_init_mq_tables(), rv_init_context_tables(), true);
    (void)tables_ready;
}

// Every tile, and in it every row of every output component in turn.
inline std::vector<plane> decode_through_network(rvd_codestream& cs, const network_options& opt)
{
    ensure_decoding_tables();
    const int n = cs.get_num_components(true);
    std::vector<plane> planes(static_cast<std::size_t>(n));
    std::vector<rvd_dims> dims(static_cast<std::size_t>(n));
    for (int c = 0; c < n; ++c) {
        cs.get_dims(c, dims[std::size_t(c)], true);
        planes[std::size_t(c)].width = dims[std::size_t(c)].size.x;
        planes[std::size_t(c)].height = dims[std::size_t(c)].size.y;
        planes[std::size_t(c)].samples.assign(
            std::size_t(dims[std::size_t(c)].size.x) * std::size_t(dims[std::size_t(c)].size.y), -1);
    }
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ++ty)
        for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; ++tx) {
            const rvd_coords idx(ty, tx);
            rvd_tile tile = cs.open_tile(idx);
            struct net_guard {
                rvd_multi_synthesis net;
                ~net_guard() { net.destroy(); }
            } ng;
            rvd_multi_synthesis& net = ng.net;
            net.create(cs, tile, opt.force_precise, false, opt.want_fastest, opt.stripe);
            std::vector<rvd_dims> td(static_cast<std::size_t>(n));
            int rows = 0;
            for (int c = 0; c < n; ++c) {
                cs.get_tile_dims(idx, c, td[std::size_t(c)], true);
                rows = std::max(rows, td[std::size_t(c)].size.y);
            }
            for (int y = 0; y < rows; ++y)
                for (int c = 0; c < n; ++c) {
                    const rvd_dims& d = td[std::size_t(c)];
                    if (y >= d.size.y)
                        continue;
                    rvd_line_buf* line = net.get_line(c, nullptr);
                    if (line == nullptr || line->get_width() != d.size.x)
                        return {};
                    plane& p = planes[std::size_t(c)];
                    const rvd_dims& whole = dims[std::size_t(c)];
                    convert_line(*line, cs.get_bit_depth(c, true), cs.get_signed(c, true),
                                 &p.samples[std::size_t(d.pos.y - whole.pos.y + y) * std::size_t(p.width) +
                                            std::size_t(d.pos.x - whole.pos.x)]);
                }
            net.destroy();
            tile.close();
        }
    return planes;
}

// A reference plane written by the stream generator: width, height, samples (32-bit LE).
inline plane read_samples(const std::string& path)
{
    plane p;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return p;
    auto word = [f](int32_t& v) {
        unsigned char b[4];
        if (std::fread(b, 1, 4, f) != 4)
            return false;
        v = int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
        return true;
    };
    int32_t w = 0, h = 0;
    if (word(w) && word(h) && w >= 0 && h >= 0 && int64_t(w) * h <= (int64_t(1) << 24)) {
        p.samples.resize(std::size_t(w) * std::size_t(h));
        bool ok = true;
        for (int32_t& v : p.samples)
            ok = ok && word(v);
        if (ok) {
            p.width = w;
            p.height = h;
        } else {
            p.samples.clear();
        }
    }
    std::fclose(f);
    return p;
}

} // namespace multi_test
