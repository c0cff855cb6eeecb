// Packet contributions of compressed code-blocks, read back through the packet-header
// parser of the reading side.
#include "codec/core/rv_precinct_block.h"
#include "codec/coding/rvd_block_decoder.h"
#include "codec/core/rv_compressed_input.h"
#include "tests/codec/support/test_clusters.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <random>

using namespace codec_test;

namespace {

struct source_block {
    int missing = 0;
    std::vector<uint16_t> slopes;
    std::vector<int32_t> lengths;
    std::vector<uint8_t> bytes;
};

source_block random_block(std::mt19937& rng, int max_passes, int max_len)
{
    source_block b;
    b.missing = static_cast<int>(rng() % 75);
    int n = static_cast<int>(rng() % static_cast<unsigned>(max_passes + 1));
    int slope = 60000;
    for (int z = 0; z < n; z++) {
        slope -= 1 + static_cast<int>(rng() % 900);
        b.slopes.push_back(rng() % 4 == 0 ? 0 : static_cast<uint16_t>(std::max(slope, 1)));
        b.lengths.push_back(static_cast<int32_t>(rng() % static_cast<unsigned>(max_len + 1)));
        for (int k = 0; k < b.lengths.back(); k++)
            b.bytes.push_back(static_cast<uint8_t>(rng()));
    }
    return b;
}

void store(rv_precinct_block& pb, const source_block& s, rv_buffer_server* server)
{
    rvd_block b;
    int n = static_cast<int>(s.slopes.size());
    b.set_max_passes(n + 1);
    b.set_max_bytes(static_cast<int>(s.bytes.size()) + 1);
    b.num_passes = n;
    b.missing_msbs = s.missing;
    std::copy(s.slopes.begin(), s.slopes.end(), b.pass_slopes);
    std::copy(s.lengths.begin(), s.lengths.end(), b.pass_lengths);
    std::copy(s.bytes.begin(), s.bytes.end(), b.byte_buffer);
    pb.store_data(&b, server);
}

int tree_size(int w, int h)
{
    int n = 0;
    for (;; w = (w + 1) / 2, h = (h + 1) / 2) {
        n += w * h;
        if (w == 1 && h == 1)
            return n;
    }
}

// The segment a pass opens, as the modes split passes (first pass of a packet: index z0).
int segment_passes(int modes, int z, int end)
{
    int k = (modes & rvd_block_restart) ? 1
            : (modes & rvd_block_bypass) ? (z < 10 ? 10 - z : ((z - 10) % 3 == 0 ? 2 : 1))
                                         : end - z;
    return std::min(k, end - z);
}

} // namespace

TEST(PacketWrite, HeadersParseBackThroughTheReader)
{
    std::mt19937 rng(105);
    const int mode_choices[] = {0, 1, 4, 5, 16, 63, 2, 9};
    for (int trial = 0; trial < 60; trial++) {
        const int w = 1 + static_cast<int>(rng() % 9), h = 1 + static_cast<int>(rng() % 7);
        const int modes = mode_choices[trial % 8];
        const int layers = 1 + static_cast<int>(rng() % 10);
        SCOPED_TRACE(testing::Message() << "trial " << trial << " grid " << w << "x" << h << " modes " << modes);
        rv_buffer_server out_server, in_server;
        std::vector<rv_precinct_block> enc(static_cast<size_t>(tree_size(w, h)) + 1);
        std::vector<rv_precinct_block> dec(enc.size());
        rv_precinct_block* cursor = enc.data();
        rv_precinct_block* leaves = rv_precinct_block::build_tree(w, h, cursor);
        ASSERT_EQ(tree_size(w, h), cursor - enc.data());
        rv_precinct_block* dcursor = dec.data();
        rv_precinct_block* dleaves = rv_precinct_block::build_tree(w, h, dcursor);
        if (w == 1 && h == 1) {
            EXPECT_EQ(nullptr, leaves->parent) << "a single block is its own root";
        }
        std::vector<source_block> src;
        for (int k = 0; k < w * h; k++) {
            src.push_back(random_block(rng, trial % 3 == 0 ? 90 : 30, trial % 5 == 0 ? 600 : 120));
            leaves[k].modes = dleaves[k].modes = static_cast<uint8_t>(modes);
            store(leaves[k], src.back(), &out_server);
        }
        rv_precinct_block::reset_output_tree(leaves, w, h);

        std::vector<uint16_t> thresholds;
        for (int l = 0, t = 62000; l < layers; l++) {
            t -= static_cast<int>(rng() % 9000);
            thresholds.push_back(static_cast<uint16_t>(l + 1 == layers && trial % 2 ? 0 : std::max(t, 0)));
        }
        std::vector<int> sent(static_cast<size_t>(w * h), 0);
        std::vector<int> first_layer(static_cast<size_t>(w * h), -1);
        std::vector<std::vector<int32_t>> expect_lengths(static_cast<size_t>(w * h));
        for (int l = 0; l < layers; l++) {
            for (int k = 0; k < w * h; k++)
                leaves[k].start_packet(l, thresholds[size_t(l)]);
            // Sizing first must change nothing in the real header.
            rv_precinct_block::save_output_tree(leaves, w, h);
            rv_header_out sizing;
            for (int k = 0; k < w * h; k++)
                leaves[k].write_packet_header(sizing, l, true);
            int sized = sizing.finish();
            rv_precinct_block::restore_output_tree(leaves, w, h);

            vector_output hbytes, body;
            rv_header_out hout(&hbytes);
            std::vector<uint32_t> adds;
            for (int k = 0; k < w * h; k++) {
                adds.push_back(leaves[k].layer_bytes);
                int before = leaves[k].passes_parsed;
                int n = leaves[k].layer_passes;
                leaves[k].write_packet_header(hout, l, false);
                if (n > 0 && first_layer[size_t(k)] < 0)
                    first_layer[size_t(k)] = l;
                for (int z = before; z < before + n;) {
                    int seg = segment_passes(modes, z, before + n);
                    int32_t sum = 0;
                    for (int j = z; j < z + seg; j++)
                        sum += src[size_t(k)].lengths[size_t(j)];
                    expect_lengths[size_t(k)].push_back(sum);
                    for (int j = 1; j < seg; j++)
                        expect_lengths[size_t(k)].push_back(0);
                    z += seg;
                }
                sent[size_t(k)] += n;
            }
            ASSERT_EQ(sized, hout.finish()) << "layer " << l;
            for (int k = 0; k < w * h; k++)
                leaves[k].write_body_bytes(&body);
            std::vector<uint8_t> header = hbytes.finish();
            std::vector<uint8_t> bodies = body.finish();

            memory_source msrc(header);
            rv_compressed_input input(&msrc);
            rv_header_in in(&input);
            size_t at = 0;
            for (int k = 0; k < w * h; k++) {
                uint16_t n = 0;
                try {
                    n = dleaves[k].parse_packet_header(in, &in_server, l);
                } catch (uint16_t code) {
                    FAIL() << "code " << code << " block " << k << " layer " << l;
                } catch (rv_header_in*) {
                    FAIL() << "header ends early, block " << k << " layer " << l;
                }
                ASSERT_EQ(adds[size_t(k)], n) << "block " << k << " layer " << l;
                ASSERT_LE(at + n, bodies.size());
                dleaves[k].put_bytes(bodies.data() + at, n, &in_server);
                dleaves[k].augment_bytes_stored(n);
                at += n;
            }
            EXPECT_EQ(bodies.size(), at);
        }
        for (int k = 0; k < w * h; k++) {
            SCOPED_TRACE(testing::Message() << "block " << k);
            const source_block& s = src[size_t(k)];
            if (s.slopes.empty()) {
                EXPECT_EQ(255, leaves[k].msbs_value) << "a block without passes";
            }
            if (first_layer[size_t(k)] < 0) {
                EXPECT_FALSE(dleaves[k].is_included());
                continue;
            }
            EXPECT_EQ(first_layer[size_t(k)], dleaves[k].inclusion_value);
            EXPECT_EQ(s.missing, dleaves[k].msbs_value);
            EXPECT_EQ(sent[size_t(k)], dleaves[k].passes_parsed);
            rvd_block rb;
            dleaves[k].retrieve_data(&rb, 0xFFFF, 0, false);
            ASSERT_EQ(sent[size_t(k)], rb.num_passes);
            EXPECT_EQ(expect_lengths[size_t(k)], std::vector<int32_t>(rb.pass_lengths, rb.pass_lengths + rb.num_passes));
            size_t total = 0;
            for (int z = 0; z < rb.num_passes; z++)
                total += size_t(s.lengths[size_t(z)]);
            EXPECT_TRUE(std::equal(s.bytes.begin(), s.bytes.begin() + long(total), rb.byte_buffer));
        }
        for (int k = 0; k < w * h; k++) {
            leaves[k].release_chain(&out_server);
            dleaves[k].release_chain(&in_server);
        }
        EXPECT_EQ(0, out_server.get_full_groups());
    }
}

TEST(PacketWrite, OnlyTruncationPointsEndALayer)
{
    rv_buffer_server server;
    rv_precinct_block node;
    rv_precinct_block* cursor = &node;
    rv_precinct_block* leaf = rv_precinct_block::build_tree(1, 1, cursor);
    source_block s;
    s.slopes = {40000, 0};
    s.lengths = {5, 7};
    s.bytes.assign(12, 0x33);
    store(*leaf, s, &server);
    rv_precinct_block::reset_output_tree(leaf, 1, 1);
    EXPECT_EQ(0u, leaf->start_packet(0, 50000)); // not admitted yet
    EXPECT_EQ(5u, leaf->start_packet(1, 30000));
    EXPECT_EQ(1, leaf->layer_passes);
    leaf->release_chain(&server);
}

TEST(PacketWrite, ChainsKeepRecordsAndBytesAndTrimmingFreesBuffers)
{
    std::mt19937 rng(6);
    for (int passes : {1, 14, 15, 29, 91})
        for (int bytes : {0, 1, 57, 1000, 5000}) {
            SCOPED_TRACE(testing::Message() << passes << " passes, " << bytes << " bytes");
            rv_buffer_server server;
            source_block s;
            for (int z = 0; z < passes; z++) {
                s.slopes.push_back(static_cast<uint16_t>(60000 - 500 * z));
                s.lengths.push_back(bytes / passes + (z < bytes % passes ? 1 : 0));
            }
            for (int k = 0; k < bytes; k++)
                s.bytes.push_back(static_cast<uint8_t>(rng()));
            rv_precinct_block node;
            rv_precinct_block* cursor = &node;
            rv_precinct_block* leaf = rv_precinct_block::build_tree(1, 1, cursor);
            store(*leaf, s, &server);
            // Records at even positions, 29 words to a buffer, then the bytes.
            auto word = [&](int w) {
                rv_buffer* rb = leaf->first_buf;
                for (int k = 0; k < w / 29; k++)
                    rb = rb->next;
                const uint8_t* p = rb->data() + 2 * (w % 29);
                return (p[0] << 8) | p[1];
            };
            for (int z = 0; z < passes; z++) {
                ASSERT_EQ(s.slopes[size_t(z)], word(2 * z));
                ASSERT_EQ(s.lengths[size_t(z)], word(2 * z + 1));
            }
            EXPECT_FALSE(leaf->trim_data(0, &server)) << "every pass kept";
            int64_t groups_before = server.get_full_groups();

            // Trimming at a threshold that keeps the first half of the passes.
            int keep = passes / 2;
            uint16_t threshold = keep == 0 ? 65535 : static_cast<uint16_t>(s.slopes[size_t(keep)]);
            EXPECT_TRUE(leaf->trim_data(threshold, &server));
            EXPECT_FALSE(leaf->trim_data(0, &server)) << "nothing left to drop";
            int kept_bytes = 0;
            for (int z = 0; z < keep; z++)
                kept_bytes += s.lengths[size_t(z)];
            int64_t kept_buffers = std::max<int64_t>((4 * passes + kept_bytes - 1) / RV_BUFFER_PAYLOAD + 1,
                                                     (4 * passes - 1) / RV_BUFFER_PAYLOAD + 1);
            int64_t chain = 0;
            for (rv_buffer* c = leaf->first_buf; c != nullptr; c = c->next)
                chain++;
            EXPECT_EQ(kept_buffers, chain);
            EXPECT_LE(server.get_full_groups(), groups_before);

            // Every layer after trimming still sends the kept bytes unchanged.
            rv_precinct_block::reset_output_tree(leaf, 1, 1);
            vector_output body;
            for (int l = 0; l < 3; l++) {
                leaf->start_packet(l, l == 2 ? 0 : static_cast<uint16_t>(s.slopes[size_t(keep / 2)]));
                rv_header_out h;
                leaf->write_packet_header(h, l, false);
                leaf->write_body_bytes(&body);
            }
            EXPECT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + kept_bytes), body.finish());
            leaf->release_chain(&server);
            EXPECT_EQ(0, server.get_full_groups());
        }
}
