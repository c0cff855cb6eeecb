// The view of an input codestream and every geometry query answered through it: real
// geometry first, the appearance mapping last.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <string>

namespace {

void check_view_change(rv_codestream* st, const char* open_text, const char* persist_text)
{
    if (!st->tiles_accessed)
        return;
    if (st->num_open_tiles > 0)
        rv_raise_core_error(open_text);
    if (!st->persistent)
        rv_raise_core_error(persist_text);
}

// Ceiling division of both edges by the sub-sampling.
rvd_dims to_component_grid(const rvd_dims& d, rvd_coords subs)
{
    const int64_t y0 = rvd_ceil_ratio64(d.pos.y, subs.y);
    const int64_t x0 = rvd_ceil_ratio64(d.pos.x, subs.x);
    const int64_t y1 = rvd_ceil_ratio64(int64_t(d.pos.y) + d.size.y, subs.y);
    const int64_t x1 = rvd_ceil_ratio64(int64_t(d.pos.x) + d.size.x, subs.x);
    return rvd_dims(rvd_coords(int32_t(y0), int32_t(x0)),
                    rvd_coords(int32_t(y1 - y0), int32_t(x1 - x0)));
}

// Settles the geometry and finds the visible component `comp_idx` names, a negative index
// standing for the canvas itself (ci null). False without state, or where the index names
// no visible component: the query then answers empty.
bool open_view(rv_codestream* st, int comp_idx, bool want_output_comps, rv_comp_info*& ci)
{
    ci = nullptr;
    if (st == nullptr)
        return false;
    st->finalize_geometry();
    return comp_idx < 0 || (ci = st->visible_comp(comp_idx, want_output_comps)) != nullptr;
}

// As open_view, for queries that need a component: null where there is none.
rv_comp_info* open_component(rv_codestream* st, int comp_idx, bool want_output_comps)
{
    rv_comp_info* ci = nullptr;
    return open_view(st, comp_idx, want_output_comps, ci) ? ci : nullptr;
}

} // namespace

rv_comp_info* rv_codestream::visible_comp(int comp_idx, bool want_output_comps) const
{
    if (comp_idx < 0)
        return nullptr;
    if (want_output_comps && component_access_mode == 0) {
        if (comp_idx >= num_apparent_output_components)
            return nullptr;
        const int n = output_comp_info[static_cast<size_t>(comp_idx)].from_apparent;
        if (n < 0 || n >= num_output_components)
            return nullptr;
        return output_comp_info[static_cast<size_t>(n)].subsampling_ref;
    }
    if (comp_idx >= num_apparent_components)
        return nullptr;
    return comp_info[static_cast<size_t>(comp_idx)].from_apparent;
}

void rvd_codestream::apply_input_restrictions(int first_component, int max_components,
                                              int discard_levels, int max_layers,
                                              const rvd_dims* region_of_interest,
                                              rvd_component_access_mode access_mode)
{
    rv_codestream* st = state;
    if (st == nullptr)
        return;
    if (!st->in)
        rv_raise_core_error("The `rvd_codestream::apply_input_restrictions' function may not be "
                            "invoked on codestream objects opened for output (i.e. for "
                            "compression).");
    check_view_change(st,
                      "You may apply restrictions to the resolution or number of image "
                      "components only after closing all open tiles.",
                      "You may not apply restrictions to the resolution or number of image "
                      "components after the first tile access, unless the codestream object "
                      "is set up to be persistent.");
    // The exponent tables cover 0..32 discarded levels; anything else would read past them.
    if (discard_levels < 0 || discard_levels > RV_MAX_DISCARD_LEVELS)
        rv_raise_core_error("Illegal number of discarded resolution levels, " +
                            std::to_string(discard_levels) +
                            ", supplied to `rvd_codestream::apply_input_restrictions'.  Legal "
                            "range is 0 to 32.");
    st->finalize_geometry();
    st->discard_levels = discard_levels;
    st->max_apparent_layers = max_layers < 1 ? 0xFFFF : max_layers;
    st->region = st->canvas;
    if (region_of_interest != nullptr)
        st->region &= *region_of_interest;
    st->component_access_mode = access_mode;

    if (access_mode == RVD_WANT_CODESTREAM_COMPONENTS) {
        if (first_component < 0 || first_component >= st->num_components)
            rv_raise_core_error("The range of apparent image components supplied to "
                                "`rvd_codestream::apply_input_restrictions' is empty or "
                                "illegal!");
        st->num_apparent_output_components = 0;
        int n = st->num_components - first_component;
        if (max_components > 0 && max_components < n)
            n = max_components;
        st->num_apparent_components = n;
        for (int c = 0; c < st->num_components; c++) {
            rv_comp_info& ci = st->comp_info[static_cast<size_t>(c)];
            const int a = c - first_component;
            ci.apparent_idx = (a >= 0 && a < n) ? a : -1;
            ci.from_apparent = nullptr;
        }
        for (int k = 0; k < n; k++)
            st->comp_info[static_cast<size_t>(k)].from_apparent =
                &st->comp_info[static_cast<size_t>(first_component + k)];
    } else if (access_mode == RVD_WANT_OUTPUT_COMPONENTS) {
        st->num_apparent_components = st->num_components;
        for (int c = 0; c < st->num_components; c++) {
            st->comp_info[static_cast<size_t>(c)].apparent_idx = c;
            st->comp_info[static_cast<size_t>(c)].from_apparent =
                &st->comp_info[static_cast<size_t>(c)];
        }
        if (first_component < 0 || first_component >= st->num_output_components)
            rv_raise_core_error("The range of apparent output image components supplied to "
                                "`rvd_codestream::apply_input_restrictions' is empty or "
                                "illegal!");
        int n = st->num_output_components - first_component;
        if (max_components > 0 && max_components < n)
            n = max_components;
        st->num_apparent_output_components = n;
        for (int c = 0; c < st->num_output_components; c++) {
            rv_output_comp_info& oi = st->output_comp_info[static_cast<size_t>(c)];
            const int a = c - first_component;
            oi.apparent_idx = (a >= 0 && a < n) ? a : -1;
            oi.from_apparent = -1;
        }
        for (int k = 0; k < n; k++)
            st->output_comp_info[static_cast<size_t>(k)].from_apparent = first_component + k;
    }
}

void rvd_codestream::apply_input_restrictions(int num_indices, const int* component_indices,
                                              int discard_levels, int max_layers,
                                              const rvd_dims* region_of_interest,
                                              rvd_component_access_mode access_mode)
{
    apply_input_restrictions(0, 0, discard_levels, max_layers, region_of_interest, access_mode);
    rv_codestream* st = state;
    if (st == nullptr)
        return;
    if (component_indices == nullptr)
        num_indices = 0;
    if (access_mode == RVD_WANT_CODESTREAM_COMPONENTS) {
        for (rv_comp_info& ci : st->comp_info) {
            ci.apparent_idx = -1;
            ci.from_apparent = nullptr;
        }
        int count = 0;
        for (int i = 0; i < num_indices && i < st->num_components; i++) {
            const int c = component_indices[i];
            if (c < 0 || c >= st->num_components)
                continue;
            rv_comp_info& ci = st->comp_info[static_cast<size_t>(c)];
            if (ci.apparent_idx >= 0)
                continue;
            ci.apparent_idx = count;
            st->comp_info[static_cast<size_t>(count)].from_apparent = &ci;
            count++;
        }
        st->num_apparent_components = count;
    } else if (access_mode == RVD_WANT_OUTPUT_COMPONENTS) {
        for (rv_output_comp_info& oi : st->output_comp_info) {
            oi.apparent_idx = -1;
            oi.from_apparent = -1;
        }
        int count = 0;
        for (int i = 0; i < num_indices && i < st->num_output_components; i++) {
            const int c = component_indices[i];
            if (c < 0 || c >= st->num_output_components)
                continue;
            rv_output_comp_info& oi = st->output_comp_info[static_cast<size_t>(c)];
            if (oi.apparent_idx >= 0)
                continue;
            oi.apparent_idx = count;
            st->output_comp_info[static_cast<size_t>(count)].from_apparent = c;
            count++;
        }
        st->num_apparent_output_components = count;
    }
}

void rvd_codestream::change_appearance(bool transpose, bool vflip, bool hflip)
{
    if (state == nullptr)
        return;
    check_view_change(state,
                      "You may change the apparent geometry of the code-stream only after "
                      "closing all open tiles.",
                      "You may not change the apparent geometry of the code-stream after the "
                      "first tile access, unless the codestream object is set up to be "
                      "persistent.");
    state->transpose = transpose;
    state->vflip = vflip;
    state->hflip = hflip;
}

void rvd_codestream::set_block_truncation(int factor)
{
    if (state != nullptr)
        state->block_truncation_factor = std::max(0, factor);
}

void rvd_codestream::get_dims(int comp_idx, rvd_dims& dims, bool want_output_comps)
{
    dims = rvd_dims();
    rv_codestream* st = state;
    rv_comp_info* ci = nullptr;
    if (!open_view(st, comp_idx, want_output_comps, ci))
        return;
    dims = ci == nullptr ? st->region : to_component_grid(st->region, st->effective_subsampling(ci));
    dims.transpose_and_flip(st->transpose, st->vflip, st->hflip);
}

void rvd_codestream::get_tile_dims(rvd_coords tile_idx, int comp_idx, rvd_dims& dims,
                                   bool want_output_comps)
{
    dims = rvd_dims();
    rv_codestream* st = state;
    rv_comp_info* ci = nullptr;
    if (!open_view(st, comp_idx, want_output_comps, ci))
        return;
    tile_idx.from_apparent(st->transpose, st->vflip, st->hflip);
    rvd_dims d;
    d.pos.y = int32_t(std::clamp<int64_t>(
        st->tile_partition.pos.y + int64_t(tile_idx.y) * st->tile_partition.size.y, INT32_MIN,
        INT32_MAX));
    d.pos.x = int32_t(std::clamp<int64_t>(
        st->tile_partition.pos.x + int64_t(tile_idx.x) * st->tile_partition.size.x, INT32_MIN,
        INT32_MAX));
    d.size = st->tile_partition.size;
    d &= st->canvas;
    if (st->in)
        d &= st->region;
    if (ci != nullptr)
        d = to_component_grid(d, st->effective_subsampling(ci));
    d.transpose_and_flip(st->transpose, st->vflip, st->hflip);
    dims = d;
}

void rvd_codestream::get_subsampling(int comp_idx, rvd_coords& subs, bool want_output_comps)
{
    subs = rvd_coords(0, 0);
    rv_comp_info* ci = open_component(state, comp_idx, want_output_comps);
    if (ci == nullptr)
        return;
    subs = state->effective_subsampling(ci);
    if (state->transpose)
        subs.transpose();
}

void rvd_codestream::get_registration(int comp_idx, rvd_coords scale, rvd_coords& crg,
                                      bool want_output_comps)
{
    crg = rvd_coords(0, 0);
    rv_comp_info* ci = open_component(state, comp_idx, want_output_comps);
    if (ci == nullptr)
        return;
    if (state->transpose)
        scale.transpose();
    crg.y = int32_t(std::floor(double(ci->crg_y) * scale.y + 0.5));
    crg.x = int32_t(std::floor(double(ci->crg_x) * scale.x + 0.5));
    crg.to_apparent(state->transpose, state->vflip, state->hflip);
}

void rvd_codestream::map_region(int comp_idx, rvd_dims comp_region, rvd_dims& hires_region,
                                bool want_output_comps)
{
    hires_region = rvd_dims();
    rv_codestream* st = state;
    rv_comp_info* ci = nullptr;
    if (!open_view(st, comp_idx, want_output_comps, ci))
        return;
    comp_region.from_apparent(st->transpose, st->vflip, st->hflip);
    if (ci != nullptr) {
        const rvd_coords subs = st->effective_subsampling(ci);
        auto clamp32 = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
        const int64_t y0 = int64_t(comp_region.pos.y) * subs.y;
        const int64_t x0 = int64_t(comp_region.pos.x) * subs.x;
        const int64_t y1 = (int64_t(comp_region.pos.y) + comp_region.size.y) * subs.y;
        const int64_t x1 = (int64_t(comp_region.pos.x) + comp_region.size.x) * subs.x;
        // Clip in 64 bits before narrowing: the canvas bounds every answer.
        const int64_t cy0 = st->canvas.pos.y, cx0 = st->canvas.pos.x;
        const int64_t cy1 = cy0 + st->canvas.size.y, cx1 = cx0 + st->canvas.size.x;
        const int64_t ry0 = std::max(y0, cy0), rx0 = std::max(x0, cx0);
        const int64_t ry1 = std::min(y1, cy1), rx1 = std::min(x1, cx1);
        hires_region = rvd_dims(rvd_coords(clamp32(ry0), clamp32(rx0)),
                                rvd_coords(clamp32(std::max<int64_t>(0, ry1 - ry0)),
                                           clamp32(std::max<int64_t>(0, rx1 - rx0))));
        return;
    }
    hires_region = comp_region & st->canvas;
}

void rvd_codestream::get_valid_tiles(rvd_dims& indices)
{
    indices = rvd_dims();
    rv_codestream* st = state;
    if (st == nullptr)
        return;
    const rvd_dims& r = st->region;
    const rvd_dims& tp = st->tile_partition;
    if (st->out && st->wr.fragment_tiles_total > 0) {
        indices = st->wr.fragment_span; // a fragment writes only its own tiles
    } else {
    indices.pos.y = int32_t(rvd_floor_ratio64(int64_t(r.pos.y) - tp.pos.y, tp.size.y));
    indices.pos.x = int32_t(rvd_floor_ratio64(int64_t(r.pos.x) - tp.pos.x, tp.size.x));
    if (r.size.y > 0)
        indices.size.y = int32_t(
            rvd_ceil_ratio64(int64_t(r.pos.y) + r.size.y - tp.pos.y, tp.size.y) - indices.pos.y);
    if (r.size.x > 0)
        indices.size.x = int32_t(
            rvd_ceil_ratio64(int64_t(r.pos.x) + r.size.x - tp.pos.x, tp.size.x) - indices.pos.x);
    }
    if (st->transpose) {
        indices.pos.transpose();
        indices.size.transpose();
    }
    if (st->vflip)
        indices.pos.y = 1 - indices.pos.y - indices.size.y;
    if (st->hflip)
        indices.pos.x = 1 - indices.pos.x - indices.size.x;
}

bool rvd_codestream::find_tile(int comp_idx, rvd_coords loc, rvd_coords& tile_idx,
                               bool want_output_comps)
{
    rv_codestream* st = state;
    // A tile holding a location needs a component: no geometry is settled without one.
    rv_comp_info* ci = comp_idx < 0 ? nullptr : open_component(st, comp_idx, want_output_comps);
    if (ci == nullptr)
        return false;
    loc.from_apparent(st->transpose, st->vflip, st->hflip);
    const rvd_coords subs = st->effective_subsampling(ci);
    const int64_t y = int64_t(loc.y) * subs.y, x = int64_t(loc.x) * subs.x;
    const rvd_dims& r = st->region;
    if (y < r.pos.y || x < r.pos.x || y >= int64_t(r.pos.y) + r.size.y ||
        x >= int64_t(r.pos.x) + r.size.x)
        return false;
    const rvd_dims& tp = st->tile_partition;
    tile_idx.y = int32_t(rvd_floor_ratio64(y - tp.pos.y, tp.size.y));
    tile_idx.x = int32_t(rvd_floor_ratio64(x - tp.pos.x, tp.size.x));
    tile_idx.to_apparent(st->transpose, st->vflip, st->hflip);
    return true;
}

void rvd_codestream::get_tile_partition(rvd_dims& partition)
{
    partition = rvd_dims();
    rv_codestream* st = state;
    if (st == nullptr)
        return;
    rvd_dims grid;
    grid.pos = st->tile_partition.pos;
    grid.size.y = int32_t(std::min<int64_t>(int64_t(st->num_tiles.y) * st->tile_partition.size.y,
                                            INT32_MAX - int64_t(grid.pos.y)));
    grid.size.x = int32_t(std::min<int64_t>(int64_t(st->num_tiles.x) * st->tile_partition.size.x,
                                            INT32_MAX - int64_t(grid.pos.x)));
    grid.transpose_and_flip(st->transpose, st->vflip, st->hflip);
    partition.pos = grid.pos;
    partition.size = st->tile_partition.size;
    if (st->transpose)
        partition.size.transpose();
}

int rvd_codestream::get_num_components(bool want_output_comps)
{
    if (state == nullptr)
        return 0;
    if (want_output_comps && state->component_access_mode == 0)
        return state->num_apparent_output_components;
    return state->num_apparent_components;
}

int rvd_codestream::get_bit_depth(int comp_idx, bool want_output_comps)
{
    rv_codestream* st = state;
    if (st == nullptr || comp_idx < 0)
        return 0;
    if (want_output_comps && st->component_access_mode == 0) {
        if (comp_idx >= st->num_apparent_output_components)
            return 0;
        const int n = st->output_comp_info[static_cast<size_t>(comp_idx)].from_apparent;
        return n < 0 ? 0 : st->output_comp_info[static_cast<size_t>(n)].precision;
    }
    rv_comp_info* ci = st->visible_comp(comp_idx, false);
    return ci == nullptr ? 0 : ci->precision;
}

bool rvd_codestream::get_signed(int comp_idx, bool want_output_comps)
{
    rv_codestream* st = state;
    if (st == nullptr || comp_idx < 0)
        return false;
    if (want_output_comps && st->component_access_mode == 0) {
        if (comp_idx >= st->num_apparent_output_components)
            return false;
        const int n = st->output_comp_info[static_cast<size_t>(comp_idx)].from_apparent;
        return n >= 0 && st->output_comp_info[static_cast<size_t>(n)].is_signed;
    }
    rv_comp_info* ci = st->visible_comp(comp_idx, false);
    return ci != nullptr && ci->is_signed;
}

int rvd_codestream::get_min_dwt_levels()
{
    if (state == nullptr)
        return 0;
    if (state->min_dwt_levels > 32) {
        rvd_params* cod = state->siz->access_cluster("COD");
        int levels = 0;
        if (cod != nullptr && cod->get("Clevels", 0, 0, levels) && levels >= 0 &&
            levels < state->min_dwt_levels)
            state->min_dwt_levels = levels;
    }
    return std::min(state->min_dwt_levels, 32);
}

int rvd_codestream::get_max_tile_layers()
{
    return state == nullptr ? 0 : state->max_tile_layers;
}

bool rvd_codestream::can_flip(bool check_current_appearance_only)
{
    (void)check_current_appearance_only;
    if (state == nullptr || !state->flip_incompatible)
        return true;
    return !state->vflip && !state->hflip;
}

int64_t rvd_codestream::get_total_bytes(bool exclude_main_header)
{
    if (state == nullptr)
        return 0;
    if (state->out) {
        int64_t n = state->out->get_bytes_written();
        if (exclude_main_header)
            n -= state->main_header_length;
        return n;
    }
    if (!state->in)
        return 0;
    int64_t n = state->in->get_bytes_read() - state->in->get_suspended_bytes();
    if (exclude_main_header)
        n -= state->main_header_length;
    return n;
}

int rvd_codestream::get_num_tparts()
{
    return state == nullptr ? 0 : state->num_tparts;
}

int64_t rvd_codestream::get_compressed_data_memory(bool get_peak)
{
    if (state == nullptr || !state->buf_server)
        return 0;
    return (get_peak ? state->buf_server->get_peak_full_groups()
                     : state->buf_server->get_full_groups()) *
           RV_GROUP_PAYLOAD;
}

int64_t rvd_codestream::get_compressed_state_memory(bool get_peak)
{
    if (state == nullptr || !state->buf_server)
        return 0;
    return get_peak ? state->buf_server->get_peak_structure_bytes()
                    : state->buf_server->get_structure_bytes();
}

void rvd_codestream::collect_timing_stats(int num_coder_iterations)
{
    if (state == nullptr)
        return;
    state->coder_iterations = std::max(0, num_coder_iterations);
    state->restart_clock();
}

double rvd_codestream::get_timing_stats(int64_t* num_samples, bool coder_only)
{
    if (state == nullptr)
        return 0.0;
    const double coder_total = double(state->coder_nanoseconds.load()) * 1e-9;
    const int n = state->coder_iterations;
    // The time of one pass over the blocks; the repeats exist only to be measured.
    const double coder_once = n > 1 ? coder_total / n : coder_total;
    if (coder_only) {
        if (num_samples != nullptr)
            *num_samples = state->coder_samples.load();
        return coder_once;
    }
    const double elapsed = double(std::clock() - state->start_time) / CLOCKS_PER_SEC;
    if (num_samples != nullptr) {
        int64_t total = 0;
        for (int c = 0; c < state->num_apparent_components; c++) {
            rvd_dims d;
            get_dims(c, d);
            total += int64_t(d.size.y) * d.size.x;
        }
        *num_samples = total;
    }
    return elapsed - (coder_total - coder_once);
}
