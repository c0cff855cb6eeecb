// A precinct of an input codestream: the state of its code-blocks (tag trees and buffer
// chains) and its place in the reading life cycle. Each resolution keeps one 64-bit
// reference per precinct: 0 untouched, an even value the record in memory, an odd value
// other than 3 a re-readable address (2 x address + 1), 3 released for good.
// A large precinct being read holds its code-block states sparsely, made as packet
// headers reach them (rv_sparse_blocks): a header may claim precincts of millions of
// blocks that no byte ever reaches. A block nothing reached reads as empty.
#pragma once

#include "codec/core/rv_precinct_block.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

class rv_codestream;
class rv_resolution;
class rv_sparse_blocks;
class rv_subband;
class rv_tile;
struct rv_precinct_server;

enum : uint64_t { RV_PRECINCT_RELEASED_FOR_GOOD = 3 };

// The precinct's share of one subband.
struct rv_precinct_band {
    rv_subband* subband;
    rvd_dims block_indices;     // the precinct's code-blocks, in the band's block indices
    rv_precinct_block* blocks;  // leaves in raster order, then the upper tag-tree levels
};

class rv_precinct {
public:
    // Reference word of a record in memory.
    uint64_t as_ref() const { return uint64_t(reinterpret_cast<uintptr_t>(this)); }
    static bool ref_in_memory(uint64_t ref) { return ref != 0 && (ref & 1) == 0; }
    static rv_precinct* from_ref(uint64_t ref)
    {
        return reinterpret_cast<rv_precinct*>(uintptr_t(ref));
    }

    rv_tile* tile() const;
    rv_codestream* codestream() const;
    int num_blocks() const;
    // The block at a band's real block index; null outside the precinct.
    rv_precinct_block* find_block(int band_idx, rvd_coords block_idx) const;
    // The block to read from: its state, or a cleared empty one where a sparse
    // precinct has none yet; null outside the precinct.
    rv_precinct_block* block_to_read(int band_idx, rvd_coords block_idx);

    rv_resolution* resolution;
    uint64_t* ref;            // back-link to the reference word
    rvd_coords idx;           // relative to the resolution's first precinct
    bool corrupted, fully_read, addressable, released, inactive, relevant;
    int required_layers;      // layers wanted
    int num_packets_read;     // counted by sequential reading
    int num_layers_parsed;    // packets parsed; -1 when no data will ever come
    int num_outstanding_blocks;
    int64_t unique_address;   // source position, or the complement of the unique id
    int num_bands;
    rv_precinct_band* bands;
    // Held sparsely (its tag trees are too large to keep whole in the record), and the
    // states made so far (null until a packet includes something).
    bool held_sparsely = false;
    uint8_t block_modes = 0; // the component's block coding modes, for every block
    rv_sparse_blocks* sparse = nullptr;
    // Handed out for a block a sparse precinct has no state for, cleared at each opening:
    // the one node its record has room for (null in a precinct held whole, whose records
    // would otherwise all carry it).
    rv_precinct_block* empty_block = nullptr;
    rv_precinct* prev;        // inactive list
    rv_precinct* next;
    rv_precinct_server* server;
    // Writing: each layer's packet size once simulated for good, the layers so
    // simulated (their passes count as sent for the next layer's sizing) and the
    // packets written.
    std::vector<int64_t> packet_bytes;
    int sim_layers = 0;
    int layers_written = 0;
    // Writing: the final flush may let a layer's packet take passes below the layer's
    // threshold to fill the layer's budget: down to `threshold` for every code-block, or,
    // when `leaf_thresholds` is not empty, down to its entry for each (counted band by
    // band).
    struct layer_fill {
        int layer = -1;
        uint16_t threshold = 0;
        std::vector<uint16_t> leaf_thresholds;
    };
    std::vector<layer_fill> fills;
    const layer_fill* fill_of(int layer) const
    {
        for (const layer_fill& f : fills)
            if (f.layer == layer)
                return &f;
        return nullptr;
    }
    // Writing: complete and waiting on its (depth, component) ready list.
    bool ready = false;
    rv_precinct* ready_prev = nullptr;
    rv_precinct* ready_next = nullptr;
    // Interchange: packets and bytes sized or generated so far, whether any was not
    // empty, and whether packets are being generated (not sized).
    int ic_packets = 0;
    int64_t ic_bytes = 0;
    bool ic_significant = false;
    bool ic_output = false;
};

// One size class: records holding a number of subbands and up to max_nodes block states.
struct rv_precinct_server {
    int num_bands = 0;
    int max_nodes = 0;
    size_t record_bytes = 0;
    void* free_list = nullptr;
};

// All classes of a codestream, and its inactive list.
class rv_precinct_pool {
public:
    rv_precinct_pool() = default;
    ~rv_precinct_pool();
    rv_precinct_pool(const rv_precinct_pool&) = delete;
    rv_precinct_pool& operator=(const rv_precinct_pool&) = delete;

    rv_precinct_server* server_for(int num_bands, int max_nodes);

    rv_precinct* inactive_head = nullptr;
    rv_precinct* inactive_tail = nullptr;

private:
    std::map<std::pair<int, int>, rv_precinct_server> servers;
};

// Tag-tree nodes (all levels) for a grid of rows x cols leaves.
int rv_tag_tree_nodes(int rows, int cols);

// Life cycle (rv_precinct.cpp).
// Creates the precinct of the reference at (row, col) of the resolution's precinct range.
rv_precinct* rv_create_precinct(rv_resolution* res, uint64_t* ref);
// Starts the block states of a precinct held sparsely (no-op once started, or when
// held whole).
void rv_make_precinct_blocks(rv_precinct* p);
// Brings a parked or released record back into use.
void rv_activate_precinct(rv_precinct* p);
// Writing: all its code-blocks are coded; it joins its pair's ready list.
void rv_precinct_ready(rv_precinct* p);
// Returns the record to its class; the reference becomes its address or 3.
void rv_release_precinct(rv_precinct* p);
// Appends a fully read, addressable precinct to the inactive list.
void rv_park_precinct(rv_precinct* p);
void rv_unlink_inactive(rv_precinct* p);
// Blocks to be closed when the precinct is (re)activated in an open tile.
int rv_count_blocks_to_close(const rv_precinct* p);
// Releases every precinct of a tile (tile destruction or unloading).
void rv_release_tile_precincts(rv_tile* t);
