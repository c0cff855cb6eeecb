// Packet-reading state of a tile and of a codestream.
#pragma once

#include "codec/core/rvd_block.h"
#include "codec/core/rv_packet_sequencer.h"
#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_pph_input.h"
#include "codec/core/rv_precinct_pointer_server.h"

#include <cstdint>
#include <memory>
#include <vector>

class rv_tile;
class rv_precinct;
class rv_resolution;
class rv_tile_comp;

struct rv_tile_reading {
    std::unique_ptr<rv_packet_sequencer> sequencer;
    int num_tparts_read = 0;
    int num_tparts_announced = 0;     // tile-parts that close the tile; 0 = not known
    int tnsot = 0;                    // the non-zero TNsot its SOTs give, 0 = none yet
    std::unique_ptr<rv_pph_input> packed_headers;
    std::unique_ptr<rv_pp_markers> ppt_markers;
    rv_precinct_pointer_server plt;   // precinct addresses of the current tile-part
    bool plt_in_use = false;
    int sequence_idx = 0;             // the next packet's number, and the SOP expected
    bool sop_pending = false;
    uint16_t pending_sop = 0;
    int num_relevant_layers = 1;
    int64_t relevant_packets_read = 0;
    int64_t total_relevant_packets = 0;
    int64_t relevant_precincts = 0;   // components not yet built count every precinct
    int64_t total_precincts = 0;
    int64_t total_packets = 0;
    bool finished = false;            // no more packets will come
    bool headers_exhausted = false;   // no further tile-part header can be found
    bool no_header = false;           // the first header was not found
    bool use_sop = false, use_eph = false;
    bool sequenced = false;
    bool sequencer_started = false;   // started on the first packet, not at initialisation
    int64_t tpart_end = -1;           // end of the current tile-part body; -1 unknown           // the packet being read was taken from the sequencer
    std::vector<int> comp_modes;      // "Cmodes" per component
};

class rv_codestream;

// Reading operations; all run on the thread that drives the codestream.
struct rv_packet_reader {
    // Makes the tile current with a fresh tile-part; false when none can be found.
    static bool read_tile_part_header(rv_tile* t);
    // Consumes the remaining packets of the codestream's current tile-part.
    static void finish_current_tpart(rv_codestream* cs);
    static bool read_packet(rv_precinct* p);
    static bool read_and_count(rv_precinct* p);
    static void load_by_address(rv_precinct* p);
    // Marks the tile's data exhausted; true when that destroyed the tile.
    static bool tile_finished(rv_tile* t);
    // Reads packets until the precinct has its wanted layers (open_block step 3).
    static void read_precinct(rv_precinct* p);
    // Records an address that the packet-length index gave for a whole precinct.
    static bool set_precinct_address(rv_tile* t, uint64_t* ref, rv_resolution* res,
                                     int64_t address);
    // Sets up a freshly initialised tile: sequencer and counters.
    static void start_tile(rv_tile* t);
    // Tile close, step 4: parks or releases the precincts of the tile.
    static void close_tile_precincts(rv_tile* t);
    static void open_tile_precincts(rv_tile* t);
    // Destroys a tile closed for good whose data is all read.
    static void destroy_tile(rv_tile* t);
    // Whether packet bodies stay in the source's memory, chains holding pointers to them.
    static bool bodies_by_pointer(rv_codestream* cs);
    // Reads the first tile-part header of a tile being initialised (non-cached sources).
    static void read_first_header(rv_tile* t);
    // Relevant layers and packets after the view changed.
    static void update_relevance(rv_tile* t);
    // A component built after the tile's reading started: its exact share replaces the
    // bound it was counted with.
    static void component_built(rv_tile* t, rv_tile_comp& tc);
    // Frees the tile's precincts and reading state (tree release, destruction).
    static void release_tile(rv_tile* t);
    // A codestream restart forgets every position.
    static void reset_codestream(rv_codestream* cs);
};

#include "codec/core/rv_precinct.h"

struct rv_codestream_reading {
    rv_tile* current_tile = nullptr;
    bool started = false;
    bool have_sot = false;       // the marker reader holds an SOT not yet parsed
    int64_t have_sot_address = 0;
    int64_t next_sot = 0;        // sequential: position of the next SOT; -1 none; 0 unset
    int64_t frontier = 0;        // indexed: the first SOT not yet walked; -1 none
    int64_t last_sot_walked = -1;
    bool warned_tnsot_short = false; // the short-TNsot warning is given once
    int64_t num_headers_read = 0;
    rvd_block block;             // handed out by open_block
    rv_precinct* block_precinct = nullptr; // the open block's precinct and state
    rv_precinct_block* block_state = nullptr;
    rv_precinct* opening = nullptr;  // not released while its packets are read for it
    rv_precinct* loading = nullptr;  // loaded by address: SOP numbers are not checked
    int by_pointer = -1;             // bodies kept in the source's memory; -1 undecided
    // An SOT met while walking for another tile, left for the initialisation it causes.
    bool have_pending_sot = false;
    int pending_isot = 0, pending_tpsot = 0, pending_tnsot = 0;
    int64_t pending_psot = 0, pending_sot_address = 0;
    rv_precinct_pool pool;
};
