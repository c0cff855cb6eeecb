#include "codec/core/rv_sparse_blocks.h"

#include "codec/core/rv_precinct.h"

#include <algorithm>

namespace {

// What an entry of the node index costs beside its node, roughly: the hash node and
// its share of the buckets.
const size_t index_entry_bytes = 40;

// The tree level holding the single top node of a grid of rows x cols leaves.
int top_level_of(int rows, int cols)
{
    int t = 0;
    while (((rows - 1) >> t) > 0 || ((cols - 1) >> t) > 0)
        t++;
    return t;
}

} // namespace

rv_precinct_block* rv_sparse_blocks::new_node(rv_precinct_block* parent)
{
    if (chunk_used == chunk_size) {
        const int size = chunk_size == 0 ? 16 : std::min(2 * chunk_size, 1024);
        chunks.emplace_back(new rv_precinct_block[size_t(size)]);
        chunk_size = size;
        chunk_used = 0;
        held += sizeof(rv_precinct_block) * size_t(size);
    }
    rv_precinct_block* n = &chunks.back()[size_t(chunk_used++)];
    n->reset();
    n->modes = modes;
    n->parent = parent;
    return n;
}

rv_precinct_block* rv_sparse_blocks::make(int band, int level, int y, int x, rv_precinct_block* parent)
{
    const uint64_t k = key(band, level, y, x);
    auto it = nodes.find(k);
    if (it == nodes.end()) {
        rv_precinct_block* n = new_node(parent);
        it = nodes.emplace(k, n).first;
        held += index_entry_bytes;
    }
    return it->second;
}

void rv_sparse_blocks::release_chains(rv_buffer_server* server)
{
    for (auto& kv : nodes)
        kv.second->release_chain(server);
}

int64_t rv_parse_sparse_header(rv_precinct* p, rv_header_in& header, rv_buffer_server* server,
                               int layer)
{
    rv_sparse_blocks& s = *p->sparse;
    // The store's growth is counted however the header ends.
    struct counted {
        rv_sparse_blocks& s;
        rv_buffer_server* server;
        size_t before;
        ~counted() { server->augment_structure_bytes(int64_t(s.bytes()) - int64_t(before)); }
    } count{s, server, s.bytes()};

    s.packet_blocks.clear();
    // Layer indices are 16-bit, and so must the inclusion threshold be (as a block's
    // own reading checks).
    if (layer < 0 || layer > 0xFFFE)
        throw uint16_t(RV_PACKET_OVERSIZED);
    const int threshold = layer + 1;
    int64_t body = 0;
    for (int b = 0; b < p->num_bands; b++) {
        const rvd_coords n = p->bands[b].block_indices.size;
        if (n.y < 1 || n.x < 1)
            continue;
        if (n.y > 0x10000 || n.x > 0x10000)
            throw uint16_t(RV_PACKET_OVERSIZED); // beyond any precinct's reach
        const int top = top_level_of(n.y, n.x);
        // The node last looked up at each level: runs of leaves share their upper nodes.
        int cached_y[34], cached_x[34];
        rv_precinct_block* cached[34];
        std::fill(cached_y, cached_y + 34, -1);
        cached[top + 1] = nullptr;
        for (int y = 0; y < n.y; y++) {
            // A row whose blocks all stay out is passed with every row its closing
            // nodes also cover: none of them can read a bit or change.
            int lowest_closing = top;
            bool any_reached = false;
            int x = 0;
            while (x < n.x) {
                // The block's inclusion, read down its tag tree from the top as a whole
                // tree is read, but with each node lifted to its parent's value only
                // when reached: the first node whose value reaches the threshold closes
                // every block beneath it, and only nodes whose bits are read are made.
                int parent_value = 0, l = top;
                bool reached = false;
                for (; l >= 0; l--) {
                    const int ny = y >> l, nx = x >> l;
                    if (cached_y[l] != ny || cached_x[l] != nx) {
                        cached[l] = s.find(b, l, ny, nx);
                        cached_y[l] = ny;
                        cached_x[l] = nx;
                    }
                    rv_precinct_block* node = cached[l];
                    if (l == 0 && node != nullptr && node->is_included()) {
                        reached = true;
                        break;
                    }
                    int value = node == nullptr ? 0 : node->inclusion_value;
                    int bound = node == nullptr ? 0 : node->inclusion_bound;
                    if (bound < parent_value)
                        value = bound = parent_value;
                    if (value >= threshold)
                        break;
                    if (bound <= value) {
                        // Still open below the threshold: its bits come next.
                        if (node == nullptr)
                            node = cached[l] = s.make(b, l, ny, nx, cached[l + 1]);
                        node->inclusion_value = uint16_t(value);
                        node->inclusion_bound = uint16_t(bound);
                        while (node->inclusion_bound <= node->inclusion_value &&
                               node->inclusion_bound < threshold) {
                            node->inclusion_bound++;
                            if (header.get_bit() == 0)
                                node->inclusion_value++;
                        }
                        if (node->inclusion_value >= threshold)
                            break;
                        value = node->inclusion_value;
                    }
                    if (l == 0) {
                        reached = true; // known below the threshold: its header follows
                        break;
                    }
                    parent_value = value;
                }
                if (!reached) {
                    // Closed at level l: its leaves in this row.
                    lowest_closing = std::min(lowest_closing, l);
                    x = ((x >> l) + 1) << l;
                    continue;
                }
                any_reached = true;
                rv_precinct_block* leaf = cached[0];
                const int got = leaf->parse_packet_header(header, server, layer);
                if (got > 0) {
                    body += got;
                    s.packet_blocks.push_back(leaf);
                }
                x++;
            }
            if (!any_reached)
                y = std::min(n.y, ((y >> lowest_closing) + 1) << lowest_closing) - 1;
        }
    }
    return body;
}
