#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/core/rv_precinct_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_header_out.h"
#include "tests/codec/support/block_streams.h"
#include "tests/codec/support/test_clusters.h"
#include "tests/codec/support/test_sources.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Bytes of a finished header written through rv_header_out.
class header_writer {
public:
    header_writer() : hout(&out) {}
    void bits(uint32_t v, int n) { hout.put_bits(v, n); }
    void ones(int n) { bits(0xFFFFFFFFu >> (32 - n), n); }
    void zeros(int n)
    {
        for (int i = 0; i < n; i++)
            hout.put_bit(0);
    }
    // Number of new passes as the packet header codes it.
    void passes(int n)
    {
        if (n == 1)
            bits(0, 1);
        else if (n == 2)
            bits(2, 2);
        else if (n <= 5)
            bits(0xC | uint32_t(n - 3), 4);
        else if (n <= 36)
            bits((0xFu << 5) | uint32_t(n - 6), 9);
        else
            bits((0x1FFu << 7) | uint32_t(n - 37), 16);
    }
    std::vector<uint8_t> finish()
    {
        hout.finish();
        return out.finish();
    }

private:
    codec_test::vector_output out;
    rv_header_out hout;
};

struct header_reader {
    explicit header_reader(std::vector<uint8_t> bytes)
        : src(std::move(bytes)), input(&src), in(&input)
    {
    }
    codec_test::memory_source src;
    rv_compressed_input input;
    rv_header_in in;
};

// A tag tree over w x h leaves, root last; leaves in raster order first.
struct tag_tree {
    tag_tree(int w, int h)
    {
        std::vector<std::pair<int, int>> dims;
        int n = 0;
        for (int lw = w, lh = h;; lw = (lw + 1) / 2, lh = (lh + 1) / 2) {
            dims.emplace_back(lw, lh);
            n += lw * lh;
            if (lw == 1 && lh == 1)
                break;
        }
        nodes.assign(size_t(n), rv_precinct_block());
        size_t base = 0;
        for (size_t lev = 0; lev + 1 < dims.size(); lev++) {
            size_t up = base + size_t(dims[lev].first * dims[lev].second);
            for (int y = 0; y < dims[lev].second; y++)
                for (int x = 0; x < dims[lev].first; x++)
                    nodes[base + size_t(y * dims[lev].first + x)].parent =
                        &nodes[up + size_t((y / 2) * dims[lev + 1].first + x / 2)];
            base = up;
        }
    }
    rv_precinct_block& leaf(int i) { return nodes[size_t(i)]; }
    void set_modes(int m)
    {
        for (auto& n : nodes)
            n.modes = uint8_t(m);
    }
    void release(rv_buffer_server& server)
    {
        for (auto& n : nodes)
            n.release_chain(&server);
    }
    std::vector<rv_precinct_block> nodes;
};

uint16_t parse_code(rv_precinct_block& b, rv_header_in& in, rv_buffer_server& server, int layer)
{
    try {
        b.parse_packet_header(in, &server, layer);
    } catch (uint16_t code) {
        return code;
    }
    return 0;
}

std::vector<int32_t> lengths_of(const rvd_block& b)
{
    return std::vector<int32_t>(b.pass_lengths, b.pass_lengths + b.num_passes);
}

// Random fields of 1-32 bits, runs of ones among them to provoke 0xFF bytes, read back
// bit for bit; no byte after 0xFF may have its top bit set.
TEST(HeaderWriter, RandomRoundTripsWithStuffing)
{
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; trial++) {
        header_writer w;
        std::vector<std::pair<uint32_t, int>> fields;
        int count = int(rng() % 60) + 1;
        for (int i = 0; i < count; i++) {
            int n = int(rng() % 32) + 1;
            uint32_t v = (rng() % 3 == 0) ? 0xFFFFFFFFu : uint32_t(rng());
            v &= 0xFFFFFFFFu >> (32 - n);
            fields.emplace_back(v, n);
            w.bits(v, n);
        }
        std::vector<uint8_t> bytes = w.finish();
        for (size_t i = 0; i + 1 < bytes.size(); i++) {
            if (bytes[i] == 0xFF) {
                ASSERT_LT(bytes[i + 1], 0x80) << "trial " << trial;
            }
        }
        bytes.push_back(0xAB); // what follows the header
        header_reader r(bytes);
        for (auto& f : fields)
            ASSERT_EQ(r.in.get_bits(f.second), f.first) << "trial " << trial;
        r.in.finish();
        uint8_t next = 0;
        ASSERT_TRUE(r.input.get(next));
        EXPECT_EQ(next, 0xAB) << "trial " << trial;
    }
}

class PrecinctBlock : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (auto* t : trees)
            t->release(server);
    }
    tag_tree& tree(int w, int h, int modes)
    {
        owned.emplace_back(new tag_tree(w, h));
        owned.back()->set_modes(modes);
        trees.push_back(owned.back().get());
        return *owned.back();
    }
    // Appends body bytes 0, 1, 2, ... as packet reading would.
    void body(rv_precinct_block& b, int n, int seed = 0)
    {
        std::vector<uint8_t> bytes(static_cast<size_t>(n));
        for (int i = 0; i < n; i++)
            bytes[size_t(i)] = uint8_t(seed + i);
        b.put_bytes(bytes.data(), n, &server);
        b.augment_bytes_stored(n);
    }
    rv_buffer_server server;
    std::vector<std::unique_ptr<tag_tree>> owned;
    std::vector<tag_tree*> trees;
};

// One leaf first included in layer 0 with 2 missing MSBs and 25 passes; the segment
// lengths are chosen to need exactly their bit counts (Lblock 3 + floor(log2 passes)).
TEST_F(PrecinctBlock, SegmentRulesForBypassRestartAndPlain)
{
    struct mode_case {
        int modes;
        std::vector<int> segments;
    };
    const mode_case cases[] = {
        {rvd_block_bypass, {10, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1}},
        {rvd_block_restart, std::vector<int>(25, 1)},
        {rvd_block_restart | rvd_block_bypass, std::vector<int>(25, 1)},
        {0, {25}},
    };
    for (const mode_case& c : cases) {
        SCOPED_TRACE("modes " + std::to_string(c.modes));
        tag_tree& t = tree(1, 1, c.modes);
        header_writer w;
        w.bits(1, 1);       // included (threshold 1, value 0)
        w.bits(1, 3);       // zero bit-planes: 0, 0, 1 -> 2
        w.passes(25);
        w.bits(0, 1);       // no Lblock increment
        std::vector<int32_t> expect(25, 0);
        int first = 0, total = 0;
        for (int n : c.segments) {
            int bits = 3;
            for (int k = n; k > 1; k >>= 1)
                bits++;
            int len = (1 << (bits - 1)) + first % (1 << (bits - 1)); // top bit set: all bits needed
            w.bits(uint32_t(len), bits);
            expect[size_t(first)] = len;
            first += n;
            total += len;
        }
        header_reader r(w.finish());
        rv_precinct_block& b = t.leaf(0);
        ASSERT_EQ(b.parse_packet_header(r.in, &server, 0), total);
        EXPECT_EQ(b.msbs_value, 2);
        EXPECT_EQ(b.passes_parsed, 25);
        EXPECT_EQ(b.passes_kept, 25);
        EXPECT_EQ(b.msbs_bound, 3); // lblock
        body(b, total);

        rvd_block blk;
        b.retrieve_data(&blk, 1, 0, false);
        EXPECT_EQ(blk.missing_msbs, 2);
        ASSERT_EQ(blk.num_passes, 25);
        EXPECT_EQ(lengths_of(blk), expect);
        EXPECT_EQ(blk.pass_slopes[24], 0xFFFF);
        for (int i = 0; i < total; i++)
            ASSERT_EQ(blk.byte_buffer[i], uint8_t(i));
        // Leaving out the last 20 passes keeps the first 5.
        b.retrieve_data(&blk, 1, 20, false);
        EXPECT_EQ(blk.num_passes, 5);
    }
}

// 164 passes: the value 37 is followed by 7 more bits; one segment of 3 + 7 bits.
// A second packet adding any pass goes past 254 and raises 13.
TEST_F(PrecinctBlock, LargestPassCountAndCounterLimits)
{
    rv_precinct_block& b = tree(1, 1, 0).leaf(0);
    header_writer w;
    w.bits(1, 1);
    w.bits(1, 1);
    w.passes(164);
    w.bits(0, 1);
    w.bits(1000, 10);
    // Second packet: included, 164 passes again.
    w.bits(1, 1);
    w.passes(164);
    w.bits(0, 1);
    w.bits(5, 10);
    header_reader r(w.finish());
    ASSERT_EQ(b.parse_packet_header(r.in, &server, 0), 1000);
    EXPECT_EQ(b.passes_parsed, 164);
    EXPECT_EQ(parse_code(b, r.in, server, 1), RV_PACKET_OVERSIZED);
    EXPECT_EQ(b.passes_parsed, 164); // the failed header changed nothing

    // Stored bytes stay within 16 bits: 65534 stored, 2 more raise 13.
    rv_precinct_block& c = tree(1, 1, rvd_block_restart).leaf(0);
    header_writer w2;
    w2.bits(1, 1);
    w2.bits(1, 1);
    w2.passes(2);
    w2.ones(12);
    w2.bits(0, 1); // Lblock 15
    w2.bits(32767, 15);
    w2.bits(32767, 15);
    w2.bits(1, 1);
    w2.passes(1);
    w2.bits(0, 1);
    w2.bits(2, 15);
    header_reader r2(w2.finish());
    ASSERT_EQ(c.parse_packet_header(r2.in, &server, 0), 65534);
    c.augment_bytes_stored(65534);
    EXPECT_EQ(parse_code(c, r2.in, server, 1), RV_PACKET_OVERSIZED);

    // A segment length of 32768 or more.
    rv_precinct_block& d = tree(1, 1, 0).leaf(0);
    header_writer w3;
    w3.bits(1, 1);
    w3.bits(1, 1);
    w3.passes(1);
    w3.ones(13);
    w3.bits(0, 1);
    w3.bits(32768, 16);
    header_reader r3(w3.finish());
    EXPECT_EQ(parse_code(d, r3.in, server, 0), RV_PACKET_OVERSIZED);
}

TEST_F(PrecinctBlock, CorruptTagTrees)
{
    // The tree says layer 0, the packet is layer 1's.
    rv_precinct_block& a = tree(1, 1, 0).leaf(0);
    header_writer w;
    w.bits(1, 1);
    header_reader r(w.finish());
    EXPECT_EQ(parse_code(a, r.in, server, 1), RV_PACKET_BAD_INCLUSION);

    // 75 missing MSBs.
    rv_precinct_block& b = tree(1, 1, 0).leaf(0);
    header_writer w2;
    w2.bits(1, 1);
    w2.zeros(75);
    w2.bits(1, 1);
    header_reader r2(w2.finish());
    EXPECT_EQ(parse_code(b, r2.in, server, 0), RV_PACKET_BAD_MSBS);
    EXPECT_EQ(b.msbs_bound, 0);
    EXPECT_EQ(b.passes_kept, 0);
    EXPECT_EQ(b.first_buf, nullptr);

    // 74 is still legal.
    rv_precinct_block& c = tree(1, 1, 0).leaf(0);
    header_writer w3;
    w3.bits(1, 1);
    w3.zeros(74);
    w3.bits(1, 1);
    w3.passes(1);
    w3.bits(0, 1);
    w3.bits(3, 3);
    header_reader r3(w3.finish());
    EXPECT_EQ(c.parse_packet_header(r3.in, &server, 0), 3);
    EXPECT_EQ(c.msbs_value, 74);

    // A header cut short throws the reader and records nothing.
    rv_precinct_block& d = tree(1, 1, 0).leaf(0);
    header_reader r4(std::vector<uint8_t>{0xE0});
    EXPECT_THROW(d.parse_packet_header(r4.in, &server, 0), rv_header_in*);
    EXPECT_EQ(d.first_buf, nullptr);
}

// Real code-blocks: a 64 x 64 image in 16 blocks of 16 x 16, one precinct, three layers,
// no wavelet levels. Every packet header is parsed block by block, the bodies follow,
// and each block, retrieved and decoded, gives the source samples back.
TEST_F(PrecinctBlock, RealBlocksFromEncodedLayersDecodeExactly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    rv_init_mq_tables();
    rv_init_context_tables();
    std::unique_ptr<block_test::scoped_handlers> handlers(new block_test::scoped_handlers);
    std::string dir = block_test::block_stream_dir();
    std::vector<int> samples = block_test::read_samples(dir + "/blk_u8_64x64.samples");
    ASSERT_EQ(samples.size(), 64u * 64u);
    std::string pgm = dir + "/pk_u8_64x64.pgm";
    {
        std::ofstream f(pgm, std::ios::binary);
        f << "P5\n64 64\n255\n";
        for (int s : samples)
            f.put(char(s));
    }
    for (int modes : {0, rvd_block_bypass, rvd_block_restart | rvd_block_erterm, 0x3F}) {
        SCOPED_TRACE("modes " + std::to_string(modes));
        std::string out = dir + "/pk_u8_64x64_m" + std::to_string(modes) + ".j2k";
        std::string cmd = "opj_compress -i '" + pgm + "' -o '" + out + "' -n 1 -b 16,16 -r 20,10,1 -M " +
                          std::to_string(modes) + " > /dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::vector<uint8_t> data = codec_test::read_file(out);
        // SOD and the quantisation exponent of the only band.
        size_t sod = 0;
        int kmax = 0;
        for (size_t i = 0; i + 5 < data.size(); i++) {
            if (kmax == 0 && data[i] == 0xFF && data[i + 1] == 0x5C)
                kmax = (data[i + 4] >> 5) + (data[i + 5] >> 3) - 1;
            if (data[i] == 0xFF && data[i + 1] == 0x93) {
                sod = i + 2;
                break;
            }
        }
        ASSERT_NE(sod, 0u);
        ASSERT_EQ(kmax, 9);

        for (bool in_memory : {false, true}) {
            tag_tree& t = tree(4, 4, modes);
            codec_test::memory_source src(data);
            ASSERT_TRUE(src.seek(int64_t(sod)));
            rv_compressed_input input(&src);
            for (int layer = 0; layer < 3; layer++) {
                rv_header_in hin(&input);
                ASSERT_EQ(hin.get_bit(), 1); // packet not empty
                int lens[16];
                for (int i = 0; i < 16; i++)
                    lens[i] = t.leaf(i).parse_packet_header(hin, &server, layer);
                hin.finish();
                for (int i = 0; i < 16; i++) {
                    rv_precinct_block& b = t.leaf(i);
                    if (lens[i] == 0)
                        continue;
                    if (in_memory) {
                        b.put_pointer(data.data() + input.get_offset(), &server);
                        ASSERT_EQ(input.ignore(lens[i]), lens[i]);
                    } else {
                        int pos = b.buf_pos;
                        ASSERT_EQ(input.read_to_chain(b.current_buf, pos, &server, lens[i]), lens[i]);
                        b.buf_pos = uint8_t(pos);
                    }
                    b.augment_bytes_stored(lens[i]);
                }
            }
            rvd_block blk;
            rvd_block_decoder dec;
            for (int i = 0; i < 16; i++) {
                t.leaf(i).retrieve_data(&blk, 3, 0, in_memory);
                ASSERT_GT(blk.num_passes, 0);
                blk.size = rvd_coords(16, 16);
                blk.modes = modes;
                blk.orientation = 0;
                blk.resilient = false;
                blk.fussy = true;
                blk.magnitude_planes = kmax;
                blk.timing_repeats = 0;
                dec.decode(&blk);
                int bx = (i % 4) * 16, by = (i / 4) * 16;
                for (int y = 0; y < 16; y++)
                    for (int x = 0; x < 16; x++)
                        ASSERT_EQ(block_test::word_value(blk.sample_buffer[y * 16 + x], kmax) + 128,
                                  samples[size_t((by + y) * 64 + bx + x)])
                            << "block " << i << " at " << y << "," << x;
            }
        }
    }
}

} // namespace
