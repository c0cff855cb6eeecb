// A persistent codestream serves any view, any number of times: each decode through it
// equals the decode of a fresh codestream given the same view, whatever the source.
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/rvd_region_decompressor.h"
#include "platform/ModuleStartup.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/multi_decode.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace codec_test;

namespace {

// Output components [first, first + count), discarded levels, layer limit, region, and
// the appearance (bit 0 transpose, bit 1 vertical flip, bit 2 horizontal flip).
struct view {
    int first, count, discard, layers;
    bool has_region;
    rvd_dims region;
    int appearance;
};

view comps(int first, int count, int discard = 0, int layers = 0)
{
    return view{first, count, discard, layers, false, rvd_dims(), 0};
}

view cropped(int first, int count, int discard, rvd_dims region, int layers = 0)
{
    return view{first, count, discard, layers, true, region, 0};
}

view turned(view v, int appearance)
{
    v.appearance = appearance;
    return v;
}

std::vector<multi_test::plane> decode_view(rvd_codestream& cs, const view& v)
{
    // The list form, as the region decompressor restricts.
    cs.change_appearance((v.appearance & 1) != 0, (v.appearance & 2) != 0, (v.appearance & 4) != 0);
    std::vector<int> list;
    for (int c = v.first; c < v.first + v.count; ++c)
        list.push_back(c);
    cs.apply_input_restrictions(int(list.size()), list.data(), v.discard, v.layers,
                                v.has_region ? &v.region : nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    return multi_test::decode_through_network(cs, multi_test::network_options());
}

// The same view on a codestream of its own.
std::vector<multi_test::plane> fresh_decode(const std::vector<uint8_t>& bytes, const view& v)
{
    memory_source src(bytes);
    multi_test::codestream_guard g;
    g.cs.create(&src);
    return decode_view(g.cs, v);
}

bool same(const std::vector<multi_test::plane>& a, const std::vector<multi_test::plane>& b)
{
    if (a.size() != b.size() || a.empty())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].width != b[i].width || a[i].height != b[i].height || a[i].samples != b[i].samples)
            return false;
    return true;
}

// MEMORY_KEPT: closed tiles stay in memory (a cache threshold above the stream), where
// otherwise a re-readable tile is unloaded as soon as it closes.
enum source_kind { MEMORY, MEMORY_KEPT, FILE_SEEKABLE, SEQUENTIAL, CACHE };
const char* const kind_names[] = {"memory", "memory, tiles kept", "file", "sequential", "cache"};

std::unique_ptr<rvd_compressed_source> make_source(source_kind kind, const std::string& path,
                                                   const std::vector<uint8_t>& bytes)
{
    switch (kind) {
    case MEMORY:
    case MEMORY_KEPT:
        return std::unique_ptr<rvd_compressed_source>(new memory_source(bytes));
    case FILE_SEEKABLE:
        return std::unique_ptr<rvd_compressed_source>(new file_source(path));
    case SEQUENTIAL:
        return std::unique_ptr<rvd_compressed_source>(new sequential_source(bytes, 97));
    case CACHE: {
        std::unique_ptr<fake_cache_source> src(new fake_cache_source);
        split_into_databins(parse_layout(bytes), *src);
        return std::unique_ptr<rvd_compressed_source>(src.release());
    }
    }
    return nullptr;
}

// Every view twice over, in order, on one persistent codestream per source kind.
void check_views(const std::string& path, const std::vector<view>& views,
                 const std::vector<source_kind>& kinds)
{
    SCOPED_TRACE(path);
    const std::vector<uint8_t> bytes = read_file(path);
    std::vector<std::vector<multi_test::plane>> want;
    for (const view& v : views) {
        SCOPED_TRACE("fresh view " + std::to_string(want.size()));
        want.emplace_back();
        EXPECT_NO_THROW(want.back() = fresh_decode(bytes, v));
    }
    for (const auto& w : want)
        ASSERT_FALSE(w.empty());
    for (source_kind kind : kinds) {
        SCOPED_TRACE(kind_names[kind]);
        std::unique_ptr<rvd_compressed_source> src = make_source(kind, path, bytes);
        multi_test::codestream_guard g;
        g.cs.create(src.get());
        g.cs.set_persistent();
        if (kind == MEMORY_KEPT)
            g.cs.augment_cache_threshold(int(bytes.size()) * 4 + (1 << 20));
        for (int round = 0; round < 2; ++round)
            for (size_t i = 0; i < views.size(); ++i) {
                SCOPED_TRACE("view " + std::to_string(i) + ", round " + std::to_string(round));
                EXPECT_NO_THROW(EXPECT_TRUE(same(decode_view(g.cs, views[i]), want[i])));
            }
    }
}

// One component rendered whole through the region decompressor at native precision (8
// bits or less), as the decode step calls it.
std::vector<uint8_t> render(rvd_codestream cs, int comp, int discard, bool& finished)
{
    static const bool tables = StartupRegistry::global().load();
    EXPECT_TRUE(tables);
    cs.apply_input_restrictions(0, 0, discard, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
    rvd_dims full;
    cs.get_dims(comp, full, true);
    rvd_region_decompressor d;
    std::vector<uint8_t> out(size_t(full.size.y) * size_t(full.size.x));
    finished = false;
    if (!d.start(cs, nullptr, comp, discard, 0, full, rvd_coords(1, 1)))
        return out;
    const int offsets[1] = {0};
    rvd_dims incomplete = full, fresh;
    for (int calls = 0; calls < 10000; ++calls)
        if (!d.process(out.data(), offsets, 1, full.pos, full.size.x, 1000000, int(out.size()),
                       incomplete, fresh, 0, true) &&
            incomplete.is_empty())
            break;
    finished = d.finish();
    return out;
}

} // namespace

// A large single tile whose components have different level counts and sub-sampling:
// the packets of the components not in view are read on the way and kept.
TEST(PersistentViews, RegionRenderingsChangeComponentOnOneCodestream)
{
    const std::string path = conformance_dir() + "/p1_03.j2k";
    const std::vector<uint8_t> bytes = read_file(path);
    const int order[] = {1, 0, 3, 1};
    std::vector<uint8_t> want[4];
    bool ok = false;
    for (int c : {0, 1, 3}) {
        memory_source src(bytes);
        multi_test::codestream_guard g;
        g.cs.create(&src);
        g.cs.set_persistent();
        want[c] = render(g.cs, c, 0, ok);
        EXPECT_TRUE(ok);
    }
    for (source_kind kind : {MEMORY, MEMORY_KEPT, FILE_SEEKABLE}) {
        SCOPED_TRACE(kind_names[kind]);
        std::unique_ptr<rvd_compressed_source> src = make_source(kind, path, bytes);
        multi_test::codestream_guard g;
        g.cs.create(src.get());
        g.cs.set_persistent();
        if (kind == MEMORY_KEPT)
            g.cs.augment_cache_threshold(int(bytes.size()) * 4 + (1 << 20));
        for (int c : order) {
            EXPECT_TRUE(render(g.cs, c, 0, ok) == want[c]) << "component " << c;
            EXPECT_TRUE(ok);
        }
    }
}

TEST(PersistentViews, ConformanceViewsChangeBetweenDecodes)
{
    const rvd_dims centre(rvd_coords(37, 29), rvd_coords(150, 170));
    const rvd_dims corner(rvd_coords(0, 0), rvd_coords(64, 96));
    const std::vector<source_kind> kinds = {MEMORY, MEMORY_KEPT, FILE_SEEKABLE, SEQUENTIAL};
    // Tiles, three components, two layers.
    check_views(conformance_dir() + "/p0_10.j2k",
                {comps(1, 1), comps(0, 1), cropped(0, 1, 1, centre), comps(0, 3, 2, 1),
                 cropped(2, 1, 0, corner), comps(0, 3)},
                kinds);
    // Tiles of 3x3 samples, sub-sampled components.
    check_views(conformance_dir() + "/p1_06.j2k",
                {comps(2, 1), comps(0, 3, 1), cropped(0, 1, 0, rvd_dims(rvd_coords(3, 2), rvd_coords(5, 6))),
                 comps(0, 3)},
                kinds);
    // Progression changes within tiles.
    check_views(conformance_dir() + "/p0_03.j2k",
                {cropped(0, 1, 0, corner), comps(0, 1, 1, 3), cropped(0, 1, 0, centre), comps(0, 1)},
                kinds);
}

TEST(PersistentViews, GeneratedViewsChangeOnEverySourceKind)
{
    const std::string dir = stream_dir("views");
    const rvd_dims middle(rvd_coords(21, 30), rvd_coords(30, 40));
    const rvd_dims one_tile(rvd_coords(41, 49), rvd_coords(20, 20));
    const std::vector<view> views = {comps(1, 1),           cropped(0, 1, 0, middle),
                                     comps(0, 3, 1, 2),     cropped(2, 1, 2, one_tile),
                                     comps(0, 1, 0, 1),     cropped(0, 3, 0, one_tile, 2),
                                     turned(comps(1, 2, 1), 5), turned(cropped(0, 1, 0, middle), 2),
                                     comps(0, 3)};
    check_views(dir + "/pv_rpcl.j2k", views, {MEMORY, MEMORY_KEPT, FILE_SEEKABLE, SEQUENTIAL, CACHE});
    check_views(dir + "/pv_pcrl_sub.j2k", views, {MEMORY, MEMORY_KEPT, FILE_SEEKABLE, SEQUENTIAL, CACHE});
    check_views(dir + "/pv_lrcp_tp.j2k", views, {MEMORY, MEMORY_KEPT, FILE_SEEKABLE, SEQUENTIAL});
}
