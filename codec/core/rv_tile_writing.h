// Writing state of a tile and of the codestream beyond their parameters: tile-part
// division, the layer tables of rate control, TLM reservation and the informative
// comments that flushing maintains.
#pragma once

#include "codec/core/rv_rate_stats.h"
#include "codec/core/rv_tlm_generator.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_output.h"

#include <cstdint>
#include <memory>
#include <vector>

class rv_codestream;
class rv_precinct;
class rv_tile;

// Marker segments gathered in memory: generating them marks the parameter objects
// written, so each header is generated once and its bytes kept for sizing and writing.
class rv_bytes_output : public rvd_output {
public:
    std::vector<uint8_t> bytes;
    const std::vector<uint8_t>& finish()
    {
        flush_buf();
        return bytes;
    }

protected:
    int flush_buf() override
    {
        const int n = int(next_buf - buffer);
        bytes.insert(bytes.end(), buffer, next_buf);
        next_buf = buffer;
        return n;
    }
};

enum : int { RV_TPARTS_BY_RESOLUTION = 1, RV_TPARTS_BY_LAYER = 2, RV_TPARTS_BY_COMPONENT = 4 };

struct rv_tile_writing {
    int tparts_written = 0;
    int64_t packets_written = 0;
    int64_t total_packets = 0;
    int tpart_flags = 0; // "ORGtparts"
    bool gen_plt = false;
    int sequence_idx = 0; // SOP number of the next packet
    bool complete = false;
    // Header segments of the next tile-part, generated once (-1: none yet).
    int header_tpart = -1;
    std::vector<uint8_t> header_bytes;
};

struct rv_codestream_writing {
    int layer_info_reserved = 0; // segment length kept for the layer-information comment
    bool version_comment_added = false;

    bool header_generated = false;
    bool emit_header = true; // false for fragments after the first
    bool emit_eoc = true;    // false for fragments before the last
    int next_first_tpart_tile = 0; // profile 0: tile whose first tile-part is due; -1 none
    int fixed_tparts = 0;          // "ORGgen_tlm": tile-parts per tile, 0 when not fixed
    rv_tlm_generator tlm;
    int64_t header_end = 0; // bytes written up to the end of the main header
    bool main_segments_ready = false;
    std::vector<uint8_t> main_segments; // main-header marker segments, SOC and COM aside
    int tiles_total = 0;    // tiles this codestream (or fragment) writes
    int tiles_complete = 0;
    int max_layers = 0;     // layers written by the current generation
    bool final_written = false;
    // Fragments: tiles and tile bytes of earlier fragments, tiles of the whole image.
    int fragment_tiles_before = 0;
    int64_t fragment_bytes_before = 0;
    int fragment_tiles_total = 0;
    rvd_dims fragment_span; // tile indices of this fragment

    int num_layer_specs = 0;
    std::vector<int64_t> layer_sizes;   // bytes generated per layer (entry 0 has headers)
    std::vector<int64_t> layer_targets; // cumulative byte targets
    std::vector<uint16_t> layer_thresholds;
    std::vector<int64_t> layer_reached; // cumulative sizes rate control arrived at
    int64_t fixed_overhead = -1, layer_overhead = 0;

    std::unique_ptr<rv_rate_stats> stats; // from set_max_bytes
};

// Appends the version comment unless a comment already reads exactly so.
void rv_add_version_comment(rv_codestream* cs, rv_codestream_writing& w);
// Drops an earlier layer-information comment and reserves room for one of n layers.
void rv_reserve_layer_info_comment(rv_codestream* cs, rv_codestream_writing& w, int num_layers);
// Appends the layer-information comment, sized to the reserved length.
void rv_write_layer_info_comment(rv_codestream* cs, const rv_codestream_writing& w, int num_layers,
                                 const int64_t* layer_bytes, const uint16_t* thresholds);

// Tile-part generation and packet output.
struct rv_tpart_generator {
    // Output initialisation of a tile: division flags, PLT, packet counts.
    static void start_tile(rv_tile* t);
    // Writes the tile's next tile-part; its length, or 0 when nothing could be written.
    static int64_t generate_tpart(rv_tile* t);
    // The size of the precinct's packet for `layer` at the threshold; with `finalize`
    // the size is recorded and the layer's passes count as sent for later layers.
    // Without it the sizing stops once `limit` is passed.
    static int64_t simulate_packet(rv_precinct* p, int layer, uint16_t threshold, int64_t limit,
                                   bool finalize);
    // Writes the precinct's next packet; its byte count.
    static int64_t write_packet(rv_precinct* p, int layer, uint16_t threshold, rvd_output* out);
    // Interchange packets of a precinct (rvd_precinct::size_packets, get_packets).
    static bool size_packets(rv_precinct* p, int& cumulative_packets, int& cumulative_bytes,
                             bool& is_significant);
    static bool get_packets(rv_precinct* p, int skip_packets, int skip_bytes,
                            int& cumulative_packets, int& cumulative_bytes, rvd_output* out);
    // Every precinct of the tile as a record (created when missing).
    static void instantiate_precincts(rv_tile* t);
    // The main header's and a tile-part's marker segments (generated on first use).
    static const std::vector<uint8_t>& main_segments(rv_codestream* cs);
    static const std::vector<uint8_t>& tpart_segments(rv_tile* t, int tpart_idx);
    // Tile-parts the division flags will cut the tile's whole packet sequence into.
    static int count_tparts(rv_tile* t);
    // Refuses a tile-part too long for Psot's 32 bits (before any of it is written).
    static void check_tpart_length(int64_t length);
    // Bytes of an empty packet under the tile's SOP/EPH use.
    static int empty_packet_bytes(const rv_tile* t);
};

// The bytes layer `layer` would add to the codestream at the threshold: headers with
// layer 0, empty packets of the tiles' further layers with `last_layer`. With
// `finalize` the sizes are recorded for writing; otherwise sizing stops past `limit`.
int64_t rv_simulate_output(rv_codestream* cs, int layer, uint16_t threshold, bool finalize,
                           bool last_layer, int64_t limit);
// Drops stored passes of the waiting precincts with slopes at or below the threshold
// (from the statistics of set_max_bytes; below 2 nothing goes).
void rv_trim_compressed_data(rv_codestream* cs, int threshold);

// Main header on the first call, then every tile-part that can be written, then (when
// every tile is complete) the final TLMs and EOC. True once every tile is written.
bool rv_generate_codestream(rv_codestream* cs, int max_layers);
