// One record per tile of the tile partition, held by the codestream in raster order.
#pragma once

#include <cstdint>

class rv_tile;

// A tile-part's source position, linked into its tile's list.
struct rv_tpart_addr {
    int64_t address = 0;
    rv_tpart_addr* next = nullptr;
};

struct rv_tile_ref {
    // Tile-part addresses; a head without a tail marks a list completed from TLM data,
    // which addresses met later while parsing must not extend.
    rv_tpart_addr* tpart_head = nullptr;
    rv_tpart_addr* tpart_tail = nullptr;
    // Null before first use, rv_tile_expired() once discarded for good, else the record.
    rv_tile* tile = nullptr;
};

inline rv_tile* rv_tile_expired()
{
    return reinterpret_cast<rv_tile*>(~uintptr_t(0));
}
