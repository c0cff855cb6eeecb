// Packet reading on whole streams of the option matrix and the conformance set: exact
// images from streams without wavelet levels, every packet read at every level count,
// layer limits against opj_decompress, block truncation, sources that must agree, packed
// headers, and progressive refinement on the fake data-bin cache.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile.h"
#include "codec/core/rv_tile_reading.h"
#include "codec/core/rvd_codestream.h"
#include "tests/codec/support/block_extract.h"
#include "tests/codec/support/codec_messages.h"
#include "tests/codec/support/databin_blocks.h"
#include "tests/codec/support/databin_split.h"
#include "tests/codec/support/databin_streams.h"
#include "tests/codec/support/packed_headers.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

using namespace codec_test;

namespace {

// A codestream over a source it owns.
struct opened {
    std::unique_ptr<rvd_compressed_source> src;
    rvd_codestream cs;
    explicit opened(rvd_compressed_source* s) : src(s) { cs.create(src.get()); }
    explicit opened(const std::vector<uint8_t>& bytes) : opened(new memory_source(bytes)) {}
    ~opened()
    {
        if (cs.exists())
            cs.destroy();
    }
};

// Runs one case of a loop over streams; a codec error fails the case, not the loop.
template <class F>
void each_case(const std::string& what, F&& f)
{
    try {
        f();
    } catch (const codec_error& e) {
        ADD_FAILURE() << what << ": " << e.what();
    }
}

// The decoded sample of a word, level-shifted for unsigned components.
int sample_value(int32_t word, int kmax, int depth, bool is_signed)
{
    return block_test::word_value(word, kmax) + (is_signed ? 0 : 1 << (depth - 1));
}

// Decodes every block of a codestream without wavelet levels into component planes,
// in the components' own coordinates; `seen` counts the writes of each sample.
struct planes {
    std::vector<rvd_dims> dims;
    std::vector<std::vector<int>> values, seen;
};

planes decode_planes(rvd_codestream& cs)
{
    planes p;
    const int nc = cs.get_num_components(false);
    for (int c = 0; c < nc; c++) {
        rvd_dims d;
        cs.get_dims(c, d);
        p.dims.push_back(d);
        p.values.emplace_back(size_t(d.size.y) * size_t(d.size.x), 0);
        p.seen.emplace_back(size_t(d.size.y) * size_t(d.size.x), 0);
    }
    init_block_coding_tables();
    rvd_block_decoder dec;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ty++)
        for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; tx++) {
            rvd_tile t = cs.open_tile(rvd_coords(ty, tx));
            visit_tile_blocks(t, [&](const block_place& at, const rvd_subband& sb, rvd_block* blk) {
                dec.decode(blk);
                rvd_tile_comp tc = t.access_component(at.comp);
                const int depth = tc.get_bit_depth(), kmax = sb.get_K_max();
                const rvd_dims& d = p.dims[size_t(at.comp)];
                for (int y = 0; y < at.cell.size.y; y++)
                    for (int x = 0; x < at.cell.size.x; x++) {
                        const int cy = at.cell.pos.y + y - d.pos.y, cx = at.cell.pos.x + x - d.pos.x;
                        if (cy < 0 || cx < 0 || cy >= d.size.y || cx >= d.size.x)
                            continue;
                        const size_t i = size_t(cy) * size_t(d.size.x) + size_t(cx);
                        p.values[size_t(at.comp)][i] = sample_value(
                            blk->sample_buffer[y * blk->size.x + x], kmax, depth, tc.get_signed());
                        p.seen[size_t(at.comp)][i]++;
                    }
            });
            t.close();
        }
    return p;
}

TEST(PacketStreamsWhole, StreamsWithoutWaveletLevelsDecodeToTheSourceExactly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (const auto& s : matrix_streams()) {
        if (s.levels != 1)
            continue;
        SCOPED_TRACE(s.name + ": " + s.options);
        for (int memory = 0; memory < 2; memory++)
            each_case(s.name + (memory ? " in memory" : " sequentially"), [&] {
                const auto source = matrix_samples(s.image);
                const auto bytes = read_file(s.path);
                opened o(memory ? static_cast<rvd_compressed_source*>(new memory_source(bytes))
                                : new sequential_source(bytes, 7));
                const planes got = decode_planes(o.cs);
                ASSERT_EQ(got.dims.size(), source.size());
                for (size_t c = 0; c < source.size(); c++) {
                    ASSERT_EQ(got.dims[c].size, rvd_coords(source[c].height, source[c].width)) << c;
                    int wrong = 0, first = -1;
                    for (size_t i = 0; i < source[c].samples.size(); i++) {
                        EXPECT_EQ(got.seen[c][i], 1) << "component " << c << " sample " << i;
                        if (got.values[c][i] != source[c].samples[i] && wrong++ == 0)
                            first = int(i);
                        if (got.seen[c][i] != 1)
                            break;
                    }
                    EXPECT_EQ(wrong, 0) << "component " << c << ", first at " << first;
                }
            });
        checked++;
    }
    EXPECT_GE(checked, 60);
}

// Reads every precinct's packets of every tile, then opens, decodes and closes every
// block: every precinct has all the tile's layers. The codestream is made persistent, so
// that precincts read on the way to others stay to be asked.
void read_every_packet(rvd_codestream& cs, const std::string& what)
{
    cs.set_persistent();
    init_block_coding_tables();
    rvd_block_decoder dec;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = tiles.pos.y; ty < tiles.pos.y + tiles.size.y; ty++)
        for (int tx = tiles.pos.x; tx < tiles.pos.x + tiles.size.x; tx++) {
            rvd_tile t = cs.open_tile(rvd_coords(ty, tx));
            const int layers = t.get_num_layers();
            for (int c = 0; c < t.get_num_components(); c++) {
                rvd_tile_comp tc = t.access_component(c);
                for (int r = 0; tc.exists() && r < tc.get_num_resolutions(); r++) {
                    rvd_resolution res = tc.access_resolution(r);
                    rvd_dims valid;
                    res.get_valid_precincts(valid);
                    for (int y = valid.pos.y; y < valid.pos.y + valid.size.y; y++)
                        for (int x = valid.pos.x; x < valid.pos.x + valid.size.x; x++)
                            ASSERT_EQ(res.get_precinct_packets(rvd_coords(y, x), true), layers)
                                << what << " tile " << t.get_tnum() << " c" << c << " r" << r
                                << " precinct " << y << "," << x;
                }
            }
            // Every packet of the tile has been read, so the tile knows it is finished.
            EXPECT_TRUE(t.get_state()->rd.finished) << what << " tile " << t.get_tnum();
            visit_tile_blocks(t, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
                dec.decode(blk);
            });
            t.close();
        }
}

TEST(PacketStreamsWhole, EveryPacketOfEveryTileIsRead)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (const auto& s : matrix_streams()) {
        if (s.levels == 1)
            continue;
        SCOPED_TRACE(s.name + ": " + s.options);
        each_case(s.name, [&] {
            opened o(new sequential_source(read_file(s.path), 9));
            read_every_packet(o.cs, s.name);
        });
        checked++;
    }
    EXPECT_GE(checked, 60);
    for (const std::string& n : conformance_names()) {
        SCOPED_TRACE(n);
        for (int memory = 0; memory < 2; memory++)
            each_case(n, [&] {
                const auto bytes = read_file(conformance_dir() + "/" + n + ".j2k");
                opened o(memory ? static_cast<rvd_compressed_source*>(new memory_source(bytes))
                                : new sequential_source(bytes, 64));
                read_every_packet(o.cs, n + (memory ? " in memory" : " sequentially"));
            });
    }
}

TEST(PacketStreamsWhole, ResilientReadingOfTerminatedConformanceStreamsFindsNoCorruption)
{
    for (const char* n : {"p0_02", "p0_11", "p0_13", "p1_01", "p1_05", "p1_06"}) {
        SCOPED_TRACE(n);
        clear_captured_warnings();
        each_case(n, [&] {
            opened o(new sequential_source(read_file(conformance_dir() + "/" + n + ".j2k")));
            o.cs.set_resilient();
            read_every_packet(o.cs, n);
        });
        EXPECT_EQ(warning_count("corrupted"), 0);
    }
}

// ---------------------------------------------------------------------------------------
// Layer limits against opj_decompress -l.

// Component planes of opj_decompress output (PGX files), "" on failure.
std::vector<std::vector<int>> opj_planes(const std::string& path, int ncomps,
                                         const std::string& extra)
{
    const std::string base = std::string(ORBEL_BINARY_DIR) + "/pkw_" + std::to_string(::getpid());
    const std::string cmd =
        "opj_decompress -i " + path + " -o " + base + ".pgx " + extra + " >/dev/null 2>&1";
    std::vector<std::vector<int>> out;
    if (std::system(cmd.c_str()) != 0)
        return out;
    for (int c = 0; c < ncomps; c++) {
        const std::string f = ncomps == 1 ? base + ".pgx" : base + "_" + std::to_string(c) + ".pgx";
        std::ifstream in(f, std::ios::binary);
        std::string magic, order, sign;
        int depth = 0, w = 0, h = 0;
        in >> magic >> order;
        in >> std::ws;
        if (in.peek() == '+' || in.peek() == '-')
            sign = std::string(1, char(in.get()));
        in >> depth >> w >> h;
        in.get();
        const int nbytes = depth <= 8 ? 1 : depth <= 16 ? 2 : 4;
        std::vector<int> v;
        for (int i = 0; i < w * h; i++) {
            uint32_t x = 0;
            for (int b = 0; b < nbytes; b++) {
                const uint32_t byte = uint32_t(uint8_t(in.get()));
                x = order == "ML" ? (x << 8) | byte : x | (byte << (8 * b));
            }
            int value = int(x);
            if (sign == "-" && (x >> (8 * nbytes - 1)) != 0)
                value = int(x) - (1 << (8 * nbytes - 1)) * 2;
            v.push_back(value);
        }
        out.push_back(v);
        std::remove(f.c_str());
    }
    return out;
}

TEST(PacketStreamsWhole, LayerLimitsMatchOpjDecompress)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0, clipped = 0, lossy = 0;
    for (const auto& s : matrix_streams()) {
        if (s.levels != 1 || !s.has("20,10,1") || s.image == "sub")
            continue;
        SCOPED_TRACE(s.name + ": " + s.options);
        const auto source = matrix_samples(s.image);
        for (int layers : {1, 2}) {
            SCOPED_TRACE(layers);
            const auto expected =
                opj_planes(s.path, int(source.size()), "-l " + std::to_string(layers));
            ASSERT_EQ(expected.size(), source.size());
            planes got;
            each_case(s.name, [&] {
                opened o(new sequential_source(read_file(s.path)));
                o.cs.apply_input_restrictions(0, 0, 0, layers, nullptr,
                                              RVD_WANT_CODESTREAM_COMPONENTS);
                got = decode_planes(o.cs);
            });
            if (got.values.size() != source.size())
                continue;
            for (size_t c = 0; c < source.size(); c++) {
                const int lo = source[c].is_signed ? -(1 << (source[c].depth - 1)) : 0;
                const int hi = lo + (1 << source[c].depth) - 1;
                int differ = 0, off_by_one = 0;
                for (size_t i = 0; i < expected[c].size(); i++) {
                    const int v = std::clamp(got.values[c][i], lo, hi);
                    clipped += v != got.values[c][i];
                    if (v != expected[c][i]) {
                        differ++;
                        off_by_one += std::abs(v - expected[c][i]) == 1;
                    }
                }
                EXPECT_EQ(differ, 0) << "component " << c << ": " << off_by_one << " off by one";
                for (size_t i = 0; i < expected[c].size(); i++)
                    lossy += expected[c][i] != source[c].samples[i];
            }
        }
        checked++;
    }
    EXPECT_GE(checked, 4);
    // Fewer layers really lose something, so the limits were applied.
    EXPECT_GT(lossy, 1000);
    RecordProperty("clipped_samples", clipped);
}

TEST(PacketStreamsWhole, BlockTruncationDropsPassesAsComputedByHand)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Three resolutions (two levels): resolution r belongs to DWT level 2, 2, 1. With
    // t = 384 every block loses 384 / 256 = 1 pass, and one more where
    // (r + level) x 128 > 256 x level: only resolution 2 (3 x 128 > 256).
    const auto streams = matrix_streams();
    auto it = std::find_if(streams.begin(), streams.end(), [](const matrix_stream& s) {
        return s.levels == 3 && s.has("-POC") && s.image == "rgb";
    });
    ASSERT_NE(it, streams.end());
    opened whole(read_file(it->path)), cut(read_file(it->path)), probe(read_file(it->path));
    cut.cs.set_block_truncation(384);
    const auto full = all_block_data(whole.cs);
    std::vector<int> levels;
    rvd_tile t = probe.cs.open_tile(rvd_coords(0, 0));
    for (int r = 0; r < 3; r++)
        levels.push_back(t.access_component(0).access_resolution(r).get_dwt_level());
    t.close();
    EXPECT_EQ(levels, (std::vector<int>{2, 2, 1}));
    const auto less = all_block_data(cut.cs);
    ASSERT_EQ(full.size(), less.size());
    const int drop[3] = {1, 1, 2};
    int with_passes = 0;
    for (size_t i = 0; i < full.size(); i++) {
        const int expected = std::max(0, full[i].num_passes - drop[full[i].at.res]);
        EXPECT_EQ(less[i].num_passes, expected) << full[i];
        with_passes += expected > 0;
        // The passes kept are the same passes.
        for (int p = 0; p < std::min(expected, less[i].num_passes); p++)
            EXPECT_EQ(less[i].lengths[size_t(p)], full[i].lengths[size_t(p)]);
    }
    EXPECT_GT(with_passes, 10);
    // 256 x 3 drops three passes everywhere, with no extra pass.
    opened three(read_file(it->path));
    three.cs.set_block_truncation(768);
    const auto fewer = all_block_data(three.cs);
    for (size_t i = 0; i < full.size(); i++)
        EXPECT_EQ(fewer[i].num_passes, std::max(0, full[i].num_passes - 3)) << full[i];
}

// ---------------------------------------------------------------------------------------
// Sources, packed headers, the data-bin cache.

// A seekable source (no memory access) that counts the bytes it hands out.
class counting_source : public rvd_compressed_source {
public:
    explicit counting_source(std::vector<uint8_t> b) : data(std::move(b)) {}
    int get_capabilities() override { return RVD_SOURCE_CAP_SEEKABLE; }
    int read(uint8_t* buf, int n) override
    {
        const int64_t k = std::min<int64_t>(n, int64_t(data.size()) - pos);
        if (k <= 0)
            return 0;
        std::copy(data.begin() + long(pos), data.begin() + long(pos + k), buf);
        pos += k;
        bytes_read += k;
        return int(k);
    }
    bool seek(int64_t offset) override
    {
        pos = std::clamp<int64_t>(offset, 0, int64_t(data.size()));
        return true;
    }
    int64_t get_pos() override { return pos; }
    std::vector<uint8_t> data;
    int64_t pos = 0, bytes_read = 0;
};

// Block data read through a source (taken over), or nothing after a codec error, which
// fails the test naming the source.
std::vector<block_data> blocks_via(rvd_compressed_source* src, const std::string& what,
                                   int max_layers = 0)
{
    std::vector<block_data> out;
    each_case(what, [&] {
        opened o(src);
        if (max_layers > 0)
            o.cs.apply_input_restrictions(0, 0, 0, max_layers, nullptr,
                                          RVD_WANT_CODESTREAM_COMPONENTS);
        out = all_block_data(o.cs);
    });
    return out;
}

fake_cache_source* cache_of(const std::vector<uint8_t>& bytes, const split_options& opt = {})
{
    auto* src = new fake_cache_source;
    split_into_databins(parse_layout(bytes), *src, opt);
    return src;
}

// Matrix streams whose reading differs most between sources: tile-parts, progression
// records, SOP markers, packet lengths.
std::vector<matrix_stream> source_streams(bool with_plt)
{
    std::vector<matrix_stream> out;
    for (const auto& s : matrix_streams())
        if (s.has("-PLT") == with_plt &&
            (with_plt || s.has("-TP") || s.has("-POC") || s.has("-SOP") || s.has("20,10,1")))
            out.push_back(s);
    return out;
}

TEST(PacketStreamsSources, SequentialSeekableAndCachedSourcesGiveTheSameBlocks)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (bool plt : {false, true})
        for (const auto& s : source_streams(plt)) {
            SCOPED_TRACE(s.name + ": " + s.options);
            const auto bytes = read_file(s.path);
            const auto expected = blocks_via(new sequential_source(bytes), "sequential");
            if (expected.empty())
                continue;
            EXPECT_EQ(blocks_via(new sequential_source(bytes, 13), "sequential in pieces"),
                      expected);
            if (plt) {
                EXPECT_EQ(blocks_via(cache_of(bytes), "cache"), expected);
                split_options bare;
                bare.keep_sop = false;
                EXPECT_EQ(blocks_via(cache_of(bytes, bare), "cache without SOP"), expected);
            } else {
                EXPECT_EQ(blocks_via(new file_source(s.path), "file"), expected);
                EXPECT_EQ(blocks_via(new counting_source(bytes), "seekable"), expected);
            }
            checked++;
        }
    EXPECT_GE(checked, 40);
}

TEST(PacketStreamsSources, PackedHeadersGiveTheSameBlocksAndAreRefusedOnTheCache)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    int checked = 0;
    for (const auto& s : matrix_streams()) {
        if (!s.has("-EPH") || !s.has("-PLT"))
            continue;
        SCOPED_TRACE(s.name);
        const auto bytes = read_file(s.path);
        const stream_layout L = parse_layout(bytes);
        const auto expected = blocks_via(new sequential_source(bytes), "plain");
        ASSERT_FALSE(expected.empty());
        for (packed_kind kind : {packed_kind::ppt, packed_kind::ppm}) {
            SCOPED_TRACE(kind == packed_kind::ppt ? "PPT" : "PPM");
            const auto packed = pack_headers(L, kind);
            EXPECT_EQ(blocks_via(new sequential_source(packed, 11), "sequential"), expected);
            EXPECT_EQ(blocks_via(new counting_source(packed), "seekable"), expected);
            // On the cache the packed headers travel in the header bins.
            const std::string text = error_text([&] {
                auto* src = new fake_cache_source;
                split_into_cache(packed, *src);
                opened cache(src);
                all_block_data(cache.cs);
            });
            EXPECT_NE(text.find("You cannot use PPM or PPT marker segments (packed packet "
                                "headers) with cached compressed data sources."),
                      std::string::npos)
                << text;
        }
        checked++;
    }
    EXPECT_GE(checked, 6);
}

// A layered PLT stream for the cache tests.
std::vector<uint8_t> layered_plt_stream()
{
    return read_file(stream_dir("input") + "/plt_lrcp.j2k");
}

TEST(PacketStreamsCache, ABinCutInsideAPacketBodyGivesOnlyTheCompletePasses)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    const auto bytes = layered_plt_stream();
    const stream_layout L = parse_layout(bytes);
    const auto expected = blocks_via(new sequential_source(bytes), "sequential");
    ASSERT_FALSE(expected.empty());
    // Precincts of tile 0 with a second packet carrying body bytes: cut the bin in the
    // middle of that packet.
    const auto packets = tile_packets(L, 0);
    std::vector<layout_packet> later;
    for (const auto& pk : packets)
        if (pk.layer >= 1)
            later.push_back(pk);
    std::sort(later.begin(), later.end(),
              [](const layout_packet& a, const layout_packet& b) { return a.length > b.length; });
    ASSERT_GE(later.size(), 3u);
    ASSERT_GE(later[2].length, 12u);
    int cuts = 0;
    for (const auto& pk : later) {
        size_t before = 0;
        for (const auto& q : packets)
            if (q.id == pk.id && q.layer < pk.layer)
                before += q.length;
        split_options opt;
        opt.cut_id = pk.id;
        opt.cut_bytes = before + pk.length - pk.length / 3;
        opened cache(cache_of(bytes, opt));
        const auto got = all_block_data(cache.cs);
        ASSERT_EQ(got.size(), expected.size());
        int shorter = 0;
        for (size_t i = 0; i < got.size(); i++) {
            ASSERT_LE(got[i].num_passes, expected[i].num_passes) << got[i];
            if (got[i].num_passes < expected[i].num_passes)
                shorter++;
            // What is kept is a prefix of the full block data.
            ASSERT_LE(got[i].bytes.size(), expected[i].bytes.size());
            EXPECT_TRUE(std::equal(got[i].bytes.begin(), got[i].bytes.end(),
                                   expected[i].bytes.begin()))
                << got[i];
        }
        EXPECT_GT(shorter, 0);
        if (++cuts == 3)
            break;
    }
    EXPECT_EQ(cuts, 3);
}

TEST(PacketStreamsCache, AMissingTileHeaderBinGivesEmptyBlocksUntilItArrives)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // The tile's own coding style is in its header bin only: the main header claims
    // another code-block style (a codeword segment per pass), under which the packet
    // headers read differently, so the tile reads right only once its bin has arrived.
    const auto bytes = layered_plt_stream();
    const stream_layout L = parse_layout(bytes);
    const auto expected = blocks_via(new sequential_source(bytes), "sequential");
    ASSERT_FALSE(expected.empty());
    auto* src = cache_of(bytes);
    std::vector<uint8_t> cod;
    size_t cod_at = 0;
    for (size_t p = 2; p < L.main_end; p += 2 + layout_detail::be(bytes, p + 2, 2))
        if (layout_detail::be(bytes, p, 2) == 0xFF52) {
            cod_at = p;
            cod.assign(bytes.begin() + long(p), bytes.begin() + long(p + 2 + layout_detail::be(bytes, p + 2, 2)));
        }
    ASSERT_FALSE(cod.empty());
    src->main_header.bytes[cod_at + 12] = uint8_t(cod[12] ^ 0x04);
    std::map<int, fake_cache_source::bin> bins;
    for (auto& kv : src->tile_headers) {
        kv.second.bytes = cod;
        bins[kv.first] = kv.second;
    }
    src->tile_headers.erase(0);
    opened cache(src);
    cache.cs.set_persistent();
    rvd_tile t = cache.cs.open_tile(rvd_coords(0, 0));
    int blocks = 0;
    visit_tile_blocks(t, [&](const block_place&, const rvd_subband&, rvd_block* blk) {
        EXPECT_EQ(blk->num_passes, 0);
        blocks++;
    });
    t.close();
    EXPECT_GT(blocks, 0);
    src->tile_headers = bins;
    EXPECT_EQ(all_block_data(cache.cs), expected);
}

} // namespace

namespace {

} // namespace
