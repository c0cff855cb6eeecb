// The state behind an rvd_codestream handle: parameters, geometry, view, modes, tile
// references and the bookkeeping of tiles that may leave memory.
#pragma once

#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_codestream_comment.h"
#include "codec/core/rv_compressed_input.h"
#include "codec/core/rv_compressed_output.h"
#include "codec/core/rv_mct_stage.h"
#include "codec/core/rv_marker.h"
#include "codec/core/rv_pp_markers.h"
#include "codec/core/rv_rescomp_progress.h"
#include "codec/core/rv_sparse_words.h"
#include "codec/core/rv_tile.h"
#include "codec/core/rv_tile_ref.h"
#include "codec/core/rv_tile_reading.h"
#include "codec/core/rv_tile_writing.h"
#include "codec/core/rv_tpart_pointer_server.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/siz_params.h"

#include <boost/shared_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <ctime>
#include <memory>
#include <vector>

class rvd_message;

enum : int { RV_MAX_DISCARD_LEVELS = 32 };

struct rv_comp_info {
    rvd_coords sub_sampling;
    float crg_x = 0.0f, crg_y = 0.0f; // registration offsets, horizontal then vertical
    int precision = 0;
    bool is_signed = false;
    // Accumulated sub-sampling exponents for 0..32 discarded levels.
    uint8_t hor_depth[RV_MAX_DISCARD_LEVELS + 1] = {};
    uint8_t vert_depth[RV_MAX_DISCARD_LEVELS + 1] = {};
    int apparent_idx = 0;
    rv_comp_info* from_apparent = nullptr;
};

struct rv_output_comp_info {
    int precision = 0;
    bool is_signed = false;
    rv_comp_info* subsampling_ref = nullptr;
    int apparent_idx = 0;
    int from_apparent = 0; // real output component at this apparent position
    int block_comp_idx = 0, block_idx = 0, ss_tmp = 0; // multi-component transform use
};

class rv_codestream {
public:
    // Detaches the thread stores still on the buffer server; the caller must belong to
    // their thread group.
    void leave_thread_stores();
    rv_codestream();
    ~rv_codestream();
    rv_codestream(const rv_codestream&) = delete;
    rv_codestream& operator=(const rv_codestream&) = delete;

    // Reads SOC and SIZ from the source and builds everything (input form).
    void create_for_input(rvd_compressed_source* source);
    // SOC, then the SIZ segment's body; the codec errors of creation otherwise.
    static void read_soc_and_siz(rv_marker& reader, std::vector<uint8_t>& siz_body);
    void create_from_siz(std::unique_ptr<rv_compressed_input> input,
                         std::unique_ptr<rv_marker> reader, const std::vector<uint8_t>& siz_body);
    // Output (with a target) and interchange (without) forms: parameters copied.
    void create_for_output(siz_params* params, rvd_compressed_target* target);
    void restart_output(rvd_compressed_target* target);
    // Raises unless restarting is enabled, the machinery was created in the given form
    // ("input" or "output", which right_form says it was), and no tile is open.
    void check_restart(bool right_form, const char* form);
    // Re-reads the main header over a new input whose SIZ equals the current one.
    void restart_input(std::unique_ptr<rv_compressed_input> input,
                       std::unique_ptr<rv_marker> reader);

    rv_tile* create_tile(rvd_coords idx);
    void unload_tiles_to_cache_threshold();
    void finalize_geometry();
    // (Re)starts the per-(depth, component) progress records over the current region.
    void init_progress();

    // Effective sub-sampling of a component, discarded levels folded in.
    rvd_coords effective_subsampling(const rv_comp_info* ci) const;
    // The visible component (or output component's component) at an apparent index.
    rv_comp_info* visible_comp(int comp_idx, bool want_output_comps) const;
    rv_tile_ref* ref_of(rvd_coords real_idx);
    // Raster index of a real tile index within the partition.
    int tnum_of(rvd_coords real_idx) const
    {
        return (real_idx.y - tile_span.pos.y) * num_tiles.x + (real_idx.x - tile_span.pos.x);
    }
    // A tile's region on the canvas (before any restriction to the region).
    rvd_dims tile_region(rvd_coords real_idx) const;

    // Objects owned.
    std::unique_ptr<rv_compressed_input> in;
    std::unique_ptr<rv_marker> marker;
    std::unique_ptr<rv_compressed_output> out;
    bool interchange = false;
    std::unique_ptr<siz_params> siz;
    std::vector<uint8_t> siz_segment; // body of the SIZ read, to compare on restart
    std::unique_ptr<rv_pp_markers> ppm_markers;
    boost::shared_ptr<rv_buffer_server> buf_server;
    std::unique_ptr<rv_tpart_pointer_server> tpart_ptr_server;
    rv_codestream_comment* comhead = nullptr;
    rv_codestream_comment* comtail = nullptr;

    // From SIZ.
    int profile = 0;
    int num_components = 0;
    int num_apparent_components = 0;
    int num_output_components = 0;
    int num_apparent_output_components = 0;
    bool uses_mct = false;
    // The main header's multi-component transform (null without one); the chain is freed
    // with its first stage.
    std::unique_ptr<rv_mct_stage> mct_head;
    rv_mct_stage* mct_tail = nullptr;
    rvd_dims canvas;
    rvd_dims tile_partition;
    rvd_coords num_tiles;
    rvd_dims tile_span;
    std::vector<rv_tile_ref> tile_refs;
    std::vector<rv_comp_info> comp_info;
    std::vector<rv_output_comp_info> output_comp_info;
    std::vector<rv_rescomp_progress> rescomp; // 33 depths x components, component-minor

    // View.
    int discard_levels = 0;
    int max_apparent_layers = 0xFFFF;
    int component_access_mode = 0;
    rvd_dims region;
    bool transpose = false, vflip = false, hflip = false;

    // Modes.
    bool persistent = false;
    bool resilient = false;
    bool expect_ubiquitous_sops = false;
    bool fussy = false;
    bool allow_restart = false;
    bool cached_source = false;
    bool in_memory_source = false;
    // Plain arrays of precinct words beyond the small counts, bounded by the bytes after
    // the main header where the source's length is known for certain (none otherwise: a
    // cache, a pipe, a writer).
    rv_dense_allowance dense_words;
    bool tiles_accessed = false;
    int num_open_tiles = 0;
    bool geometry_finalized = false;
    bool main_header_done = false;
    bool output_comps_ready = false;
    rvd_message* textualizer = nullptr;
    uint16_t min_slope_threshold = 0;
    int min_dwt_levels = 100;
    int max_tile_layers = 1;
    bool flip_incompatible = false;
    int block_truncation_factor = 0;
    int num_tparts = 0;
    int64_t main_header_length = 0;
    bool tlm_seen = false;
    bool simulate_parsing = false; // set_max_bytes on input: unwanted packets not counted
    std::clock_t start_time = 0;
    // Timing statistics: how often each block is decoded (0: once, untimed), and the coder's
    // time and samples gathered from the blocks as they close, from any thread.
    int coder_iterations = 0;
    std::atomic<int64_t> coder_nanoseconds{0};
    std::atomic<int64_t> coder_samples{0};

    // Unloadable closed tiles; the scan position runs past tiles that meet the region.
    rv_tile* unloadable_head = nullptr;
    rv_tile* unloadable_tail = nullptr;
    rv_tile* unloadable_scan = nullptr;
    int num_unloadable_tiles = 0;
    int max_unloadable_tiles = 64;
    rv_tile* output_head = nullptr;
    rv_tile* output_tail = nullptr;
    int num_output_tiles = 0;
    rv_tile* recycled_tiles = nullptr;
    rv_codestream_reading rd; // packet reading and precincts
    rv_codestream_writing wr; // tile-parts, rate control and comments when writing
    // Starts the statistics clock again; the coder's time gathered so far goes with it.
    void restart_clock()
    {
        start_time = std::clock();
        coder_nanoseconds = 0;
        coder_samples = 0;
    }
    // Adds a newly created output tile to the end of the output list.
    void add_to_output_list(rv_tile* t);

private:
    void construct_common();
    void set_dense_allowance(bool sot_seen);
    void read_main_header();
    void setup_output_comps();
    void build_main_mct_stages();
    void release_tiles();
    void free_comments();
    void destroy_buffer_server();
};
