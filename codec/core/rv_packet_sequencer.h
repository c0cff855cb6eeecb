// Decides which precinct's packet comes next in a tile's codestream order: one of the
// five progression orders, or the tile's progression records taken across tile-parts.
#pragma once

#include "codec/core/rv_sparse_words.h"
#include "codec/core/rv_tile_comp.h"
#include "codec/core/rvd_coords.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

class rv_tile;
class rv_resolution;
class rvd_params;

// Packets of `precincts` precincts in `layers` layers, or their sum with `more`, held at
// the 64-bit limit: a header may claim more than any stream carries, and these counts are
// only compared with packets really read.
inline int64_t rv_packet_count(int64_t precincts, int64_t layers, int64_t more = 0)
{
    const int64_t lim = std::numeric_limits<int64_t>::max();
    const int64_t n = layers > 0 && precincts > lim / layers ? lim : precincts * layers;
    return n > lim - more ? lim : n + more;
}

class rv_packet_sequencer {
public:
    explicit rv_packet_sequencer(rv_tile* tile);

    // Prepares the walk for the tile; the result of the first next_progression.
    bool start();
    // True when a new progression has been set up, false when there is none (yet).
    bool next_progression();
    // The reference of the precinct whose packet comes next, or null when none can be
    // sequenced now. The packet counts as sequenced: the precinct's layer count advances.
    uint64_t* next_packet(rv_resolution*& res_out, rvd_coords& idx_out);
    // Takes back the packet last returned, which could not be read after all (its
    // tile-part ended first): it is returned again by the next call.
    void unsequence_last();
    void save_state();
    void restore_state();

    // Tile-parts of the tile seen so far: a progression record set of a later tile-part
    // header (instance k) applies only once more than k tile-parts have been seen.
    void set_tparts_seen(int n) { tparts_seen = n; }
    int get_tparts_seen() const { return tparts_seen; }
    // Packets are left that the tile-parts read so far did not reach (their progression
    // records or packet lengths ran out): more tile-parts may bring them, whatever count
    // the tile's SOTs announce.
    bool packets_left() const { return sequenced_packets < total_packets; }
    int64_t get_total_packets() const { return total_packets; }
    int64_t get_sequenced_packets() const { return sequenced_packets; }
    // Packets of the given precinct already sequenced.
    int get_next_layer(int comp, int res, rvd_coords idx) const;

private:
    struct pos64 {
        int64_t y = 0, x = 0;
    };
    struct res_state {
        rvd_coords next_prec, saved_next_prec;
        rv_sparse_words<int> next_layer, saved_next_layer;
    };
    struct progression {
        int order = 0;
        int res_min = 0, comp_min = 0;
        int layer_lim = 0, res_lim = 0, comp_lim = 0;
        int layer = 0, comp = 0, res = 0;
        rvd_coords prec_idx;
        pos64 grid_min, grid_inc, pos;
        rvd_params* poc = nullptr;
        int poc_record = 0;
    };

    uint64_t* walk(rv_resolution*& res_out, rvd_coords& idx_out);
    uint64_t* next_lrcp(rv_resolution*& res_out, rvd_coords& idx_out);
    uint64_t* next_rlcp(rv_resolution*& res_out, rvd_coords& idx_out);
    uint64_t* next_rpcl(rv_resolution*& res_out, rvd_coords& idx_out);
    uint64_t* next_pcrl(rv_resolution*& res_out, rvd_coords& idx_out);
    uint64_t* next_cprl(rv_resolution*& res_out, rvd_coords& idx_out);
    // Layer-major: from the current precinct of (comp, res) on, the first whose next
    // packet is the current layer; the counters are left at it.
    uint64_t* layer_major_at(rv_resolution*& res_out, rvd_coords& idx_out);
    // Position-major: the next precinct of (comp, res) at the current position; sets
    // `skip` when the resolution's next precinct was passed over.
    uint64_t* spatial_at(int c, int r, rv_resolution*& res_out, rvd_coords& idx_out);
    bool passed_over(const uint64_t& ref) const { return ref != 0 && (ref & 1) != 0; }
    // A component's states are made when it is first reached; until then every word reads 0.
    res_state& state_of(int c, int r)
    {
        if (states[size_t(c)].empty())
            make_states(c);
        return states[size_t(c)][size_t(r)];
    }
    void make_states(int c);
    // Precincts of a level, counted without building the component.
    rvd_coords precinct_counts(int c, int r) const;
    // True when precinct `p` of a level starts at the current position.
    bool at_position(const rv_tile_comp& tc, const rvd_dims& indices, const rvd_dims& partition,
                     int vd, int hd, rvd_coords p) const;

    rv_tile* tile;
    int max_dwt_levels = 0;
    bool power_of_2_subsampling = true;
    pos64 tile_lim;
    bool state_saved = false;
    bool poc_looked_up = false;
    progression cur, saved;
    std::vector<pos64> comp_grid_min, comp_grid_inc;
    std::vector<std::vector<res_state>> states; // [component][resolution]
    std::vector<rv_level_shape> shapes;         // scratch for start()
    int tparts_seen = 1;
    int64_t total_packets = 0;
    int64_t sequenced_packets = 0, saved_sequenced_packets = 0;
    int* last_next_layer = nullptr;
};
