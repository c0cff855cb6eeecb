// Large precincts keep their code-block states sparsely and pass over every run of
// blocks their tag trees close. Random packet headers, read that way and block by
// block through whole trees, must consume the same bits, raise the same errors and
// leave every block in the same state; a precinct of 67 million blocks costs what its
// header bits reach.
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_precinct.h"
#include "codec/core/rv_sparse_blocks.h"
#include "tests/codec/support/test_sources.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct header_reader {
    explicit header_reader(std::vector<uint8_t> bytes) : src(std::move(bytes)), input(&src), in(&input) {}
    codec_test::memory_source src;
    rv_compressed_input input;
    rv_header_in in;
};

// What reading one packet header gave: the error (0 none, 1 the header ran out, else
// the code), the body bytes and the blocks owed them in order, and the bits after it.
struct outcome {
    int error = 0;
    int64_t body = 0;
    std::vector<std::tuple<int, int, int, int>> owed; // band, y, x, bytes
    uint32_t next_bits = 0;
    bool operator==(const outcome& o) const
    {
        return error == o.error && body == o.body && owed == o.owed && next_bits == o.next_bits;
    }
};

template <class Parse>
outcome read_packet(const std::vector<uint8_t>& bytes, Parse parse)
{
    header_reader r(bytes);
    outcome o;
    try {
        o.body = parse(r.in, o.owed);
        r.in.finish();
        for (int k = 0; k < 4; k++) {
            uint8_t next = 0;
            r.input.get(next);
            o.next_bits = (o.next_bits << 8) | next;
        }
    } catch (rv_header_in*) {
        o.error = 1;
    } catch (uint16_t code) {
        o.error = code;
    }
    if (o.error != 0)
        o.owed.clear(); // a header that raises reaches no body
    return o;
}

// Every band's tree whole, read block by block as small precincts are.
struct whole_trees {
    whole_trees(const std::vector<rvd_coords>& sizes) : sizes(sizes)
    {
        for (const rvd_coords& s : sizes) {
            nodes.emplace_back(size_t(rv_tag_tree_nodes(s.y, s.x)));
            rv_precinct_block* cursor = nodes.back().data();
            rv_precinct_block::build_tree(s.x, s.y, cursor);
        }
    }
    rv_precinct_block& leaf(int b, int y, int x) { return nodes[size_t(b)][size_t(y * sizes[size_t(b)].x + x)]; }
    int64_t parse(rv_header_in& in, rv_buffer_server* server, int layer,
                  std::vector<std::tuple<int, int, int, int>>& owed)
    {
        int64_t body = 0;
        for (int b = 0; b < int(sizes.size()); b++)
            for (int y = 0; y < sizes[size_t(b)].y; y++)
                for (int x = 0; x < sizes[size_t(b)].x; x++) {
                    const int n = leaf(b, y, x).parse_packet_header(in, server, layer);
                    if (n > 0)
                        owed.emplace_back(b, y, x, n);
                    body += n;
                }
        return body;
    }
    void release(rv_buffer_server* server)
    {
        for (auto& v : nodes)
            for (rv_precinct_block& n : v)
                n.release_chain(server);
    }
    std::vector<rvd_coords> sizes;
    std::vector<std::vector<rv_precinct_block>> nodes;
};

// The same bands held sparsely in a bare precinct record.
struct sparse_trees {
    sparse_trees(const std::vector<rvd_coords>& sizes) : bands(sizes.size())
    {
        for (size_t b = 0; b < sizes.size(); b++)
            bands[b].block_indices = rvd_dims(rvd_coords(0, 0), sizes[b]);
        p.num_bands = int(sizes.size());
        p.bands = bands.data();
        p.held_sparsely = true;
        p.sparse = new rv_sparse_blocks(0);
    }
    ~sparse_trees() { delete p.sparse; }
    int64_t parse(rv_header_in& in, rv_buffer_server* server, int layer,
                  std::vector<std::tuple<int, int, int, int>>& owed)
    {
        const int64_t body = rv_parse_sparse_header(&p, in, server, layer);
        for (rv_precinct_block* blk : p.sparse->packet_blocks)
            owed.push_back(where(blk));
        return body;
    }
    // A listed block's place, found by search: the store keeps no back-links.
    std::tuple<int, int, int, int> where(rv_precinct_block* blk) const
    {
        for (int b = 0; b < p.num_bands; b++)
            for (int y = 0; y < bands[size_t(b)].block_indices.size.y; y++)
                for (int x = 0; x < bands[size_t(b)].block_indices.size.x; x++)
                    if (p.sparse->find(b, 0, y, x) == blk)
                        return {b, y, x, blk->packet_bytes};
        return {-1, -1, -1, -1};
    }
    std::vector<rv_precinct_band> bands;
    rv_precinct p;
};

// Header bytes whose bits are ones with probability `ones`.
std::vector<uint8_t> random_header(std::mt19937& rng, double ones, size_t n)
{
    std::bernoulli_distribution bit(ones);
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        for (int k = 0; k < 8; k++)
            b = uint8_t((b << 1) | (bit(rng) ? 1 : 0));
    return v;
}

} // namespace

TEST(SparseBlocks, RandomHeadersReadAsWholeTreesRead)
{
    std::mt19937 rng(77);
    const double ones[] = {0.02, 0.1, 0.3, 0.6, 0.9};
    int skipped_some = 0, included_some = 0;
    for (int trial = 0; trial < 300; trial++) {
        std::uniform_int_distribution<int> side(1, trial % 3 == 0 ? 70 : 12);
        std::vector<rvd_coords> sizes(size_t(1 + trial % 4));
        for (rvd_coords& s : sizes)
            s = rvd_coords(side(rng), side(rng));
        const int modes = trial % 5 == 0 ? 1 : 0; // some with the bypass mode's segments
        rv_buffer_server server;
        whole_trees whole(sizes);
        sparse_trees sparse(sizes);
        for (auto& v : whole.nodes)
            for (rv_precinct_block& n : v)
                n.modes = uint8_t(modes);
        delete sparse.p.sparse;
        sparse.p.sparse = new rv_sparse_blocks(uint8_t(modes));
        const double p1 = ones[trial % 5];
        for (int layer = 0; layer < 6; layer++) {
            SCOPED_TRACE("trial " + std::to_string(trial) + ", layer " + std::to_string(layer));
            const std::vector<uint8_t> bytes = random_header(rng, p1, 400);
            const outcome a = read_packet(bytes, [&](rv_header_in& in, auto& owed) {
                return whole.parse(in, &server, layer, owed);
            });
            const outcome b = read_packet(bytes, [&](rv_header_in& in, auto& owed) {
                return sparse.parse(in, &server, layer, owed);
            });
            ASSERT_TRUE(a == b) << "errors " << a.error << " / " << b.error << ", bodies " << a.body
                                << " / " << b.body;
            included_some += a.owed.empty() ? 0 : 1;
        }
        // Every block as the whole trees left it.
        size_t leaves = 0;
        for (int bi = 0; bi < int(sizes.size()); bi++)
            for (int y = 0; y < sizes[size_t(bi)].y; y++)
                for (int x = 0; x < sizes[size_t(bi)].x; x++) {
                    const rv_precinct_block& w = whole.leaf(bi, y, x);
                    const rv_precinct_block* s = sparse.p.sparse->find(bi, 0, y, x);
                    leaves++;
                    ASSERT_EQ(w.is_included(), s != nullptr && s->is_included())
                        << "trial " << trial << " band " << bi << " at " << y << "," << x;
                    if (!w.is_included())
                        continue;
                    EXPECT_EQ(w.passes_parsed, s->passes_parsed);
                    EXPECT_EQ(w.passes_kept, s->passes_kept);
                    EXPECT_EQ(w.msbs_value, s->msbs_value);
                    EXPECT_EQ(w.msbs_bound, s->msbs_bound);
                    EXPECT_EQ(w.inclusion_value, s->inclusion_value);
                }
        size_t made = 0;
        for (int bi = 0; bi < int(sizes.size()); bi++)
            for (int y = 0; y < sizes[size_t(bi)].y; y++)
                for (int x = 0; x < sizes[size_t(bi)].x; x++)
                    made += sparse.p.sparse->find(bi, 0, y, x) != nullptr ? 1 : 0;
        skipped_some += made < leaves ? 1 : 0;
        whole.release(&server);
        sparse.p.sparse->release_chains(&server);
    }
    // The headers reached both kinds of run: blocks included and blocks passed over.
    EXPECT_GT(included_some, 100);
    EXPECT_GT(skipped_some, 100);
}

TEST(SparseBlocks, MillionsOfBlocksCostTheBitsThatReachThem)
{
    // Three bands of 8192 x 8192 blocks, as a 2^15 precinct of 4 x 4 blocks has. Layer
    // 0: each root read as beyond the layer, three bits in all.
    const std::vector<rvd_coords> sizes(3, rvd_coords(8192, 8192));
    rv_buffer_server server;
    sparse_trees sparse(sizes);
    {
        header_reader r(std::vector<uint8_t>{0x00, 0xAB});
        EXPECT_EQ(rv_parse_sparse_header(&sparse.p, r.in, &server, 0), 0);
        r.in.finish();
        uint8_t next = 0;
        EXPECT_TRUE(r.input.get(next));
        EXPECT_EQ(next, 0xAB); // three bits, then the next byte
    }
    EXPECT_LT(server.get_structure_bytes(), 4096);

    // Later layers: header bits of mostly zeros open some nodes and close the rest;
    // whatever they include or refuse, the states made follow the bits read.
    std::mt19937 rng(5);
    for (int layer = 1; layer < 8; layer++) {
        SCOPED_TRACE("layer " + std::to_string(layer));
        header_reader r(random_header(rng, 0.3, 512));
        try {
            rv_parse_sparse_header(&sparse.p, r.in, &server, layer);
        } catch (...) {
        }
        EXPECT_LT(server.get_structure_bytes(), int64_t(layer) * 512 * 8 * 100 + 65536);
    }
    sparse.p.sparse->release_chains(&server);
}
