// A stand-in for a tile's synthesis engine: it serves, for every output component of the
// tile, rows of a known pattern in the chosen line kind, so that rendering geometry can be
// checked sample by sample without decoding. Like the real engine it refuses a row of
// one of the first three components before the others have taken the previous one.
#pragma once

#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_line_buf.h"
#include "codec/jp2/rvd_region_decompressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace codec_test {

enum class line_kind { abs16, abs32, fix16, float32 };

struct region_pattern {
    line_kind kind = line_kind::abs16;
    bool lock_first_three = true; // refuse out-of-turn rows of components 0..2
    int fail_after_rows = -1;     // >= 0: null lines once this many rows were served
    // Zero-centred integer of component k at component position (y, x), depth bits.
    std::function<int64_t(int k, int64_t y, int64_t x, int depth)> value =
        [](int k, int64_t y, int64_t x, int depth) {
            const int64_t range = int64_t(1) << depth;
            return ((y * 31 + x * 17 + k * 101) % range + range) % range - range / 2;
        };
};

class pattern_line_source : public rv_region_line_source {
public:
    pattern_line_source(rvd_codestream cs, rvd_tile tile, const region_pattern& p) : pattern(p)
    {
        const rvd_coords idx = tile.get_tile_idx();
        const int n = cs.get_num_components(true);
        dims.resize(size_t(n));
        // The pattern follows the codestream's own component, as a real engine would.
        const rv_codestream* st = cs.get_state();
        for (int k = 0; k < n; ++k)
            comp_id.push_back(st->component_access_mode == RVD_WANT_OUTPUT_COMPONENTS
                                  ? st->output_comp_info[size_t(k)].from_apparent
                                  : k);
        depth.resize(size_t(n));
        rows.assign(size_t(n), 0);
        lines.resize(size_t(n));
        const bool shorts = p.kind == line_kind::abs16 || p.kind == line_kind::fix16;
        const bool absolute = p.kind == line_kind::abs16 || p.kind == line_kind::abs32;
        for (int k = 0; k < n; ++k) {
            cs.get_tile_dims(idx, k, dims[size_t(k)], true);
            depth[size_t(k)] = cs.get_bit_depth(k, true);
            lines[size_t(k)].pre_create(&alloc, dims[size_t(k)].size.x, absolute, shorts, 0, 0);
        }
        alloc.finalize();
        for (rvd_line_buf& l : lines)
            l.create();
    }

    rvd_line_buf* get_line(int k) override
    {
        if (k < 0 || k >= int(lines.size()))
            return nullptr;
        const rvd_dims& d = dims[size_t(k)];
        if (rows[size_t(k)] >= d.size.y)
            return nullptr;
        if (pattern.lock_first_three && k < 3 && lines.size() >= 3)
            for (int j = 0; j < 3; ++j)
                if (rows[size_t(j)] < rows[size_t(k)])
                    return nullptr;
        if (pattern.fail_after_rows >= 0 && served >= pattern.fail_after_rows)
            return nullptr;
        const int64_t y = int64_t(d.pos.y) + rows[size_t(k)];
        const int b = depth[size_t(k)];
        rvd_line_buf& l = lines[size_t(k)];
        for (int i = 0; i < d.size.x; ++i) {
            const int64_t v = pattern.value(comp_id[size_t(k)], y, int64_t(d.pos.x) + i, b);
            switch (pattern.kind) {
            case line_kind::abs16:
                l.get_buf16()[i] = int16_t(v);
                break;
            case line_kind::abs32:
                l.get_buf32()[i].ival = int32_t(v);
                break;
            case line_kind::fix16:
                l.get_buf16()[i] = int16_t(std::ldexp(double(v), 13 - b));
                break;
            case line_kind::float32:
                l.get_buf32()[i].fval = float(std::ldexp(double(v), -b));
                break;
            }
        }
        rows[size_t(k)]++;
        served++;
        return &l;
    }
    bool is_line_precise(int) override
    {
        return pattern.kind == line_kind::abs32 || pattern.kind == line_kind::float32;
    }
    bool is_line_absolute(int) override
    {
        return pattern.kind == line_kind::abs16 || pattern.kind == line_kind::abs32;
    }

private:
    region_pattern pattern;
    rvd_sample_allocator alloc;
    std::vector<rvd_dims> dims;
    std::vector<int> depth, rows, comp_id;
    std::vector<rvd_line_buf> lines;
    int served = 0;
};

// Every sample of the region lies in exactly one band.
inline ::testing::AssertionResult covers_once(const rvd_dims& region, const std::vector<rvd_dims>& bands)
{
    std::vector<int> count(size_t(region.size.y) * size_t(region.size.x), 0);
    for (const rvd_dims& b : bands) {
        if (b.pos.y < region.pos.y || b.pos.x < region.pos.x ||
            b.pos.y + b.size.y > region.pos.y + region.size.y ||
            b.pos.x + b.size.x > region.pos.x + region.size.x)
            return ::testing::AssertionFailure() << "band outside the region";
        for (int y = 0; y < b.size.y; ++y)
            for (int x = 0; x < b.size.x; ++x)
                count[size_t(b.pos.y - region.pos.y + y) * size_t(region.size.x) +
                      size_t(b.pos.x - region.pos.x + x)]++;
    }
    for (size_t i = 0; i < count.size(); ++i)
        if (count[i] != 1)
            return ::testing::AssertionFailure() << "sample " << i << " written " << count[i] << " times";
    return ::testing::AssertionSuccess();
}

// A region decompressor whose banks draw their lines from pattern sources.
class pattern_region_decompressor : public rvd_region_decompressor {
public:
    region_pattern pattern;
    int sources_made = 0;

protected:
    std::unique_ptr<rv_region_line_source> create_line_source(rvd_codestream cs, rvd_tile tile,
                                                              bool, bool) override
    {
        sources_made++;
        return std::make_unique<pattern_line_source>(cs, tile, pattern);
    }
};

} // namespace codec_test
