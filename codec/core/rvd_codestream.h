// Handle of one codestream: a single pointer to its state, copied freely by value; a
// null pointer stands for no codestream.
#pragma once

#include "codec/core/rv_codestream_comment.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_dims.h"
#include "codec/core/rvd_tile.h"

#include <cstdint>

class rv_codestream;
class rvd_compressed_source;
class rvd_compressed_target;
class rvd_message;
class rvd_thread_env;
class siz_params;

enum rvd_component_access_mode {
    RVD_WANT_OUTPUT_COMPONENTS = 0,
    RVD_WANT_CODESTREAM_COMPONENTS = 1
};

const char* rvd_get_core_version();

class rvd_codestream {
public:
    rvd_codestream() = default;
    bool exists() const { return state != nullptr; }
    bool operator!() const { return state == nullptr; }

    void create(rvd_compressed_source* source, rvd_thread_env* env = nullptr);
    // Output form: parameters copied from `siz`; the codestream is written to `target`.
    // With a fragment region only those whole tiles are written here, after
    // `fragment_tiles_generated` tiles of `fragment_tile_bytes_generated` bytes that
    // earlier fragments wrote.
    void create(siz_params* siz, rvd_compressed_target* target, rvd_dims* fragment_region,
                int fragment_tiles_generated = 0, int64_t fragment_tile_bytes_generated = 0);
    // Interchange form: parameters only, neither source nor target.
    void create(siz_params* siz);
    void restart(rvd_compressed_source* source, rvd_thread_env* env = nullptr);
    void restart(rvd_compressed_target* target);
    void destroy();
    siz_params* access_siz();

    void set_persistent();
    void set_resilient(bool expect_ubiquitous_sops = false);
    void set_fussy();
    void set_fast();
    void enable_restart();
    void set_textualization(rvd_message* output);
    void set_min_slope_threshold(uint16_t threshold);
    int set_tile_unloading_threshold(int max_tiles_on_list);
    int64_t augment_cache_threshold(int extra_bytes);
    bool is_last_fragment();

    void apply_input_restrictions(int first_component, int max_components, int discard_levels,
                                  int max_layers, const rvd_dims* region_of_interest,
                                  rvd_component_access_mode access_mode =
                                      RVD_WANT_OUTPUT_COMPONENTS);
    void apply_input_restrictions(int num_indices, const int* component_indices,
                                  int discard_levels, int max_layers,
                                  const rvd_dims* region_of_interest,
                                  rvd_component_access_mode access_mode =
                                      RVD_WANT_OUTPUT_COMPONENTS);
    void change_appearance(bool transpose, bool vflip, bool hflip);
    void set_block_truncation(int factor);

    void get_dims(int comp_idx, rvd_dims& dims, bool want_output_comps = false);
    void get_tile_dims(rvd_coords tile_idx, int comp_idx, rvd_dims& dims,
                       bool want_output_comps = false);
    void get_subsampling(int comp_idx, rvd_coords& subs, bool want_output_comps = false);
    void get_registration(int comp_idx, rvd_coords scale, rvd_coords& crg,
                          bool want_output_comps = false);
    void map_region(int comp_idx, rvd_dims comp_region, rvd_dims& hires_region,
                    bool want_output_comps = false);
    void get_valid_tiles(rvd_dims& indices);
    bool find_tile(int comp_idx, rvd_coords loc, rvd_coords& tile_idx,
                   bool want_output_comps = false);
    void get_tile_partition(rvd_dims& partition);
    rvd_tile open_tile(rvd_coords tile_idx, rvd_thread_env* env = nullptr);
    int get_num_components(bool want_output_comps = false);
    int get_bit_depth(int comp_idx, bool want_output_comps = false);
    bool get_signed(int comp_idx, bool want_output_comps = false);
    int get_min_dwt_levels();
    int get_max_tile_layers();
    bool can_flip(bool check_current_appearance_only);

    // Writing. Cumulative byte targets per layer (0 where rate control chooses), or
    // slope thresholds (first non-zero selects them); both arrays receive what was
    // used: sizes generated and thresholds.
    void flush(int64_t* layer_bytes, int num_layer_specs, uint16_t* layer_thresholds = nullptr,
               bool trim_to_rate = true, bool record_in_comseg = true, double tolerance = 0.0,
               rvd_thread_env* env = nullptr);
    // Writing an input codestream's layers again (blocks copied with slopes 0xFFFF - layer
    // on each layer's last pass) within `max_bytes` (0: no limit): as many whole layers as
    // fit. `layer_bytes` receives the cumulative sizes; returns the layers written.
    int trans_out(int64_t max_bytes = 0, int64_t* layer_bytes = nullptr, int layer_bytes_entries = 0,
                  bool record_in_comseg = false, rvd_thread_env* env = nullptr);
    // Writing: whether a flush now would write something.
    bool ready_for_flush(rvd_thread_env* env = nullptr);
    // Writing: byte budget statistics for early trimming.
    void set_max_bytes(int64_t max_bytes, bool simulate_parsing = false, bool allow_shorts = true);

    int64_t get_total_bytes(bool exclude_main_header = false);
    int get_num_tparts();
    int64_t get_compressed_data_memory(bool get_peak = true);
    int64_t get_compressed_state_memory(bool get_peak = true);
    void collect_timing_stats(int num_coder_iterations);
    double get_timing_stats(int64_t* num_samples, bool coder_only = false);
    rvd_codestream_comment get_comment(rvd_codestream_comment prev);
    rvd_codestream_comment add_comment();
    void share_buffering(rvd_codestream existing);

    rv_codestream* get_state() const { return state; }

private:
    rv_codestream* state = nullptr;
};
