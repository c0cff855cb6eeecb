// The code-block states of a large precinct being read, made as packet headers reach
// them. A header may claim a precinct of millions of code-blocks while a few bytes
// include a handful: states are kept by band, tag-tree level and position, and a packet
// header passes over every run of blocks that its tag trees close without reading a bit,
// so that memory and time follow the header bits present.
#pragma once

#include "codec/core/rv_precinct_block.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class rv_precinct;

class rv_sparse_blocks {
public:
    explicit rv_sparse_blocks(uint8_t modes) : modes(modes) {}
    rv_sparse_blocks(const rv_sparse_blocks&) = delete;
    rv_sparse_blocks& operator=(const rv_sparse_blocks&) = delete;

    // The node at a band's tree level and position, or null while nothing reached it.
    rv_precinct_block* find(int band, int level, int y, int x) const
    {
        auto it = nodes.find(key(band, level, y, x));
        return it == nodes.end() ? nullptr : it->second;
    }
    // The node at a band's tree level and position, made under `parent` when missing.
    rv_precinct_block* make(int band, int level, int y, int x, rv_precinct_block* parent);

    // Memory held, for the codestream's structure count.
    size_t bytes() const { return held; }
    // Gives every block's buffer chain back.
    void release_chains(rv_buffer_server* server);

    // Blocks given body bytes by the packet being read, in header order.
    std::vector<rv_precinct_block*> packet_blocks;

private:
    static uint64_t key(int band, int level, int y, int x)
    {
        return (uint64_t(band) << 40) | (uint64_t(level) << 32) | (uint64_t(uint16_t(y)) << 16) |
               uint64_t(uint16_t(x));
    }
    rv_precinct_block* new_node(rv_precinct_block* parent);

    uint8_t modes;
    std::unordered_map<uint64_t, rv_precinct_block*> nodes;
    // Nodes come from chunks that double in size, from a few to a thousand.
    std::vector<std::unique_ptr<rv_precinct_block[]>> chunks;
    int chunk_size = 0, chunk_used = 0;
    size_t held = sizeof(rv_sparse_blocks);
};

// Parses the block entries of a packet header of a precinct held sparsely (every block's
// header in band and raster order, as for one held whole); returns the body bytes.
// The blocks given bytes are listed in its packet_blocks.
int64_t rv_parse_sparse_header(rv_precinct* p, rv_header_in& header, rv_buffer_server* server,
                               int layer);
