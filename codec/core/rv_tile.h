// The record of one tile: its place in the partition, its state and its links into the
// codestream's unloadable list. The tile tree hangs from it once the tile is initialised.
#pragma once

#include "codec/core/rv_mct_stage.h"
#include "codec/core/rv_tile_ref.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rv_tile_comp.h"
#include "codec/core/rv_tile_reading.h"
#include "codec/core/rv_tile_writing.h"

#include <memory>
#include <vector>

class rv_codestream;
class rvd_params;

class rv_tile {
public:
    rv_tile(rv_codestream* cs, rv_tile_ref* ref, rvd_coords idx, rvd_dims dims);
    ~rv_tile();
    rv_tile(const rv_tile&) = delete;
    rv_tile& operator=(const rv_tile&) = delete;

    // Re-targets a recycled record at another reference, index and region.
    void reinitialize(rv_tile_ref* ref, rvd_coords idx, rvd_dims dims);
    // Makes a re-targeted record describe its new tile: the tree is kept and only its
    // geometry (and, where only QCD/RGN differ, its quantisation) recomputed when the
    // parameters allow; otherwise, or for a record without a tree, a full initialisation.
    void recycle();
    // Typical and typical-except-quantisation flags, from the tile's parameters.
    void record_typical_flags();
    // Frees the tree, or only the precincts and reading state of a record that may keep
    // its tree for the next tile.
    void release_for_recycling();

    void add_to_unloadable_list();
    void remove_from_unloadable_list();
    void remove_from_output_list();
    // Drops the tile from memory: off the lists, out of its reference, and its record
    // parked for recycling. It is created again when next opened.
    void unload();
    // Ends the tile: its attributes go to the textualisation sink, its own parameter
    // objects are deleted (unless it may be built again), its reference is emptied
    // (`unloading`, or a tile that never had a header) or discarded, and the record is
    // parked for recycling.
    void destroy(bool unloading);
    // Keeps the record but marks it to be built again from the next header it meets; its
    // attributes are textualised and its precinct state dropped.
    void restart();
    // Builds the record tree from the parameters in force for this tile. With `header_read`
    // the tree and precincts are already released and the first header read.
    void initialize(bool header_read = false);
    // Fits the tree to the codestream's view: components, discarded levels, region.
    void apply_restrictions();
    // Builds a component's levels when it is first reached, fitted to the view in force.
    void build_component(rv_tile_comp& tc);
    // Refuses, from a component's geometry and parameters alone, what building its levels
    // would refuse, raises the profile where they break it, and counts its precincts.
    void check_levels(rv_tile_comp& tc);
    // Fits a built component's levels to its region and apparent levels.
    void restrict_levels(rv_tile_comp& tc);
    void release_tree();
    // Reads the tile's header bin from a cached source into the parameter database. False
    // when the source is not cached or the bin is not complete yet: the tile is then built
    // from the main header and marked for re-initialisation.
    bool read_cached_header();
    // The tile's multi-component transform (its own segments, else the main header's).
    void build_mct_stages();
    // Every output component of interest, components the transform needs enabled, gains
    // of interest forgotten.
    void apply_mct_restrictions();

    rv_codestream* codestream;
    rv_tile_ref* tile_ref;
    rvd_coords t_idx; // real tile index
    int t_num;        // raster index within the partition
    rvd_dims dims;    // region on the canvas

    bool is_open = false;
    bool closed = false;             // closed for good (non-persistent codestream)
    bool needs_reinitialization = false;
    bool has_header = false; // its own header has been read into the parameters
    bool is_unloadable = false;
    rv_tile* unloadable_prev = nullptr;
    rv_tile* unloadable_next = nullptr;
    bool is_in_output_list = false;
    rv_tile* output_prev = nullptr;
    rv_tile* output_next = nullptr;
    rv_tile* next_recycled = nullptr;

    bool initialized = false;
    // Parameters equal the main header's: in every cluster, and with QCD and RGN ignored.
    bool typical = false;
    bool typical_except_quant = false;
    bool restricted = false; // fitted to the view since initialised
    bool ycc = false;
    int num_layers = 1;
    rvd_dims region; // the part of dims within the region of interest
    std::vector<rv_tile_comp> comps;
    // Multi-component transform (null without one); freed with its first stage.
    std::unique_ptr<rv_mct_stage> mct_head;
    rv_mct_stage* mct_tail = nullptr;
    // Per component, -1 until computed: gain on all output components, on those of interest.
    std::vector<float> gain_all, gain_of_interest;
    rv_tile_reading rd; // tile-parts, packets and the sequencer
    rv_tile_writing wr; // tile-parts written
};

// Step size `delta` and magnitude bit-planes less guard bits `epsilon` of the band that is
// `band_counter`-th in its tile-component, `depth_below_ll` levels below the LL band;
// `ll_step` carries the LL step to the bands derived from it.
void rv_band_quantisation(rvd_params* qcd, bool reversible, bool derived, int band_counter,
                          int depth_below_ll, int precision, float& ll_step, float& delta,
                          int& epsilon);
