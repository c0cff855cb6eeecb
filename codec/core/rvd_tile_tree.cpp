// The tile-tree handles: thin views of the records, in apparent geometry.
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_tile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

const rv_codestream* cs_of(const rv_resolution* r) { return r->codestream; }

rvd_dims to_apparent(rvd_dims d, const rv_codestream* cs)
{
    d.transpose_and_flip(cs->transpose, cs->vflip, cs->hflip);
    return d;
}

} // namespace

// rvd_tile -------------------------------------------------------------------------------

int rvd_tile::get_num_components() const
{
    return state == nullptr ? 0 : state->codestream->num_apparent_components;
}

int rvd_tile::get_num_layers() const { return state == nullptr ? 0 : state->num_layers; }

bool rvd_tile::get_ycc() const
{
    if (state == nullptr || !state->ycc || state->comps.size() < 3)
        return false;
    for (int c = 0; c < 3; c++)
        if (!state->comps[size_t(c)].enabled)
            return false;
    return true;
}

rvd_tile_comp rvd_tile::access_component(int comp_idx) const
{
    if (state == nullptr)
        return rvd_tile_comp();
    rv_codestream* cs = state->codestream;
    rv_comp_info* ci = cs->visible_comp(comp_idx, false);
    if (ci == nullptr)
        return rvd_tile_comp();
    const size_t c = static_cast<size_t>(ci - cs->comp_info.data());
    if (c >= state->comps.size() || !state->comps[c].enabled)
        return rvd_tile_comp();
    // Reached by a request: its levels are built now, on the requesting thread, before
    // any engine built on them can start reading.
    state->build_component(state->comps[c]);
    return rvd_tile_comp(&state->comps[c]);
}

// rvd_tile_comp --------------------------------------------------------------------------

bool rvd_tile_comp::get_reversible() const { return state->reversible; }

void rvd_tile_comp::get_subsampling(rvd_coords& factors) const
{
    const rv_codestream* cs = state->codestream;
    factors = cs->effective_subsampling(state->comp_info);
    if (cs->transpose)
        factors.transpose();
}

int rvd_tile_comp::get_bit_depth(bool internal) const
{
    return state->comp_info->precision + (internal ? state->recommended_extra_bits : 0);
}

bool rvd_tile_comp::get_signed() const { return state->comp_info->is_signed; }

void rvd_tile_comp::get_dims(rvd_dims& dims) const
{
    dims = to_apparent(state->region, state->codestream);
}

int rvd_tile_comp::get_num_resolutions() const
{
    return state->apparent_dwt_levels < 0 ? 0 : state->apparent_dwt_levels + 1;
}

rvd_resolution rvd_tile_comp::access_resolution(int res_level) const
{
    if (res_level < 0 || res_level > state->apparent_dwt_levels)
        rv_raise_core_error("Attempting to access a non-existent resolution level within some "
                            "tile-component.  Problem almost certainly caused by trying to "
                            "discard more resolution levels than the number of DWT levels used "
                            "to compress a tile-component.");
    state->tile->build_component(*state);
    rv_resolution* res = &state->resolutions[static_cast<size_t>(res_level)];
    const rv_codestream* cs = state->codestream;
    if (!res->flip_compatible && (cs->vflip || cs->hflip))
        rv_raise_core_error("Attempting to access a resolution level within some tile-component, "
                            "while the codestream is in a geometrically flipped viewing "
                            "condition, where a packet wavelet transform has been found to be "
                            "incompatible with flipping.  This condition can be identified by "
                            "calling `rvd_codestream::can_flip' first.");
    return rvd_resolution(res);
}

rvd_resolution rvd_tile_comp::access_resolution() const
{
    return access_resolution(state->apparent_dwt_levels);
}

// rvd_resolution -------------------------------------------------------------------------

int rvd_resolution::get_res_level() const { return state->res_level; }
int rvd_resolution::get_dwt_level() const { return state->dwt_level; }
bool rvd_resolution::propagate_roi() const { return state->propagate_roi; }
bool rvd_resolution::get_reversible() const { return state->tile_comp->reversible; }

rvd_resolution rvd_resolution::access_next() const
{
    if (state->res_level == 0)
        return rvd_resolution();
    return rvd_resolution(state - 1);
}

rvd_node rvd_resolution::access_node() const { return rvd_node(&state->node); }

int rvd_resolution::get_valid_band_indices(int& min_idx) const
{
    min_idx = state->res_level == 0 ? 0 : 1;
    return static_cast<int>(state->subbands.size());
}

rvd_subband rvd_resolution::access_subband(int band_idx) const
{
    int b = state->res_level == 0 ? band_idx : band_idx - 1;
    if (b < 0 || b >= static_cast<int>(state->subbands.size()))
        return rvd_subband();
    if (cs_of(state)->transpose)
        b = state->subbands[size_t(b)].transpose_band_idx;
    return rvd_subband(&state->subbands[static_cast<size_t>(b)]);
}

void rvd_resolution::get_dims(rvd_dims& dims) const
{
    dims = to_apparent(state->region, cs_of(state));
}

void rvd_resolution::get_valid_precincts(rvd_dims& indices) const
{
    indices = to_apparent(state->region_indices, cs_of(state));
}

int64_t rvd_resolution::get_precinct_id(rvd_coords p_idx) const
{
    const rv_codestream* cs = cs_of(state);
    p_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    const rvd_dims& all = state->precinct_indices;
    int64_t p = int64_t(p_idx.y - all.pos.y) * all.size.x + (p_idx.x - all.pos.x);
    for (const rv_resolution* r = state - state->res_level; r != state; r++)
        p += int64_t(r->precinct_indices.size.y) * r->precinct_indices.size.x;
    const int64_t num_tiles = int64_t(cs->num_tiles.y) * cs->num_tiles.x;
    return (p * cs->num_components + state->tile_comp->cnum) * num_tiles +
           state->tile_comp->tile->t_num;
}

namespace {

rvd_dims precinct_cell(const rv_resolution* r, rvd_coords p_idx)
{
    const rv_codestream* cs = r->codestream;
    p_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    const rvd_dims& part = r->precinct_partition;
    rvd_dims cell;
    cell.pos.y = part.pos.y + p_idx.y * part.size.y;
    cell.pos.x = part.pos.x + p_idx.x * part.size.x;
    cell.size = part.size;
    return cell & r->dims;
}

int64_t area(const rvd_dims& d) { return d.is_empty() ? 0 : int64_t(d.size.y) * d.size.x; }

} // namespace

double rvd_resolution::get_precinct_relevance(rvd_coords p_idx) const
{
    const rvd_dims cell = precinct_cell(state, p_idx);
    const int64_t a = area(cell);
    if (a == 0)
        return 0.0;
    return double(area(cell & state->relevance_region)) / double(a);
}

int64_t rvd_resolution::get_precinct_samples(rvd_coords p_idx) const
{
    rvd_dims cell = precinct_cell(state, p_idx);
    const int64_t n = area(cell);
    if (n == 0)
        return 0;
    rvd_coords end(cell.pos.y + cell.size.y, cell.pos.x + cell.size.x);
    if (state->vert_split) {
        cell.pos.y = rvd_floor_ratio(cell.pos.y + 1, 2);
        end.y = rvd_floor_ratio(end.y + 1, 2);
    }
    if (state->hor_split) {
        cell.pos.x = rvd_floor_ratio(cell.pos.x + 1, 2);
        end.x = rvd_floor_ratio(end.x + 1, 2);
    }
    cell.size = rvd_coords(end.y - cell.pos.y, end.x - cell.pos.x);
    return n - area(cell);
}

// rvd_node -------------------------------------------------------------------------------

rvd_node rvd_node::access_child(int child_idx) const
{
    if (state->is_leaf || child_idx < 0 || child_idx > 3)
        return rvd_node();
    if (state->resolution->codestream->transpose)
        child_idx = ((child_idx & 1) << 1) | (child_idx >> 1);
    rv_node* child = state->children[child_idx];
    if (child != nullptr && !child->is_leaf && child->resolution->res_level == 0)
        child = child->children[0];
    return rvd_node(child);
}

void rvd_node::get_num_descendants(int& num_nodes, int& num_subbands) const
{
    num_nodes = state->num_descendant_nodes;
    num_subbands = state->num_descendant_subbands;
}

rvd_subband rvd_node::access_subband() const
{
    return state->is_leaf ? rvd_subband(static_cast<rv_subband*>(state)) : rvd_subband();
}

rvd_resolution rvd_node::access_resolution() const { return rvd_resolution(state->resolution); }

void rvd_node::get_dims(rvd_dims& dims) const
{
    const rv_codestream* cs = state->resolution->codestream;
    dims = to_apparent(state->region, cs);
    bool high_y = false, high_x = false;
    for (const rv_node* n = state; n != nullptr; n = n->parent) {
        high_y = high_y || n->branch_y == 1;
        high_x = high_x || n->branch_x == 1;
    }
    if (cs->transpose)
        std::swap(high_y, high_x);
    if (cs->vflip && high_y)
        dims.pos.y--;
    if (cs->hflip && high_x)
        dims.pos.x--;
}

// rvd_subband ----------------------------------------------------------------------------

int rvd_subband::get_band_idx() const
{
    return state->band_idx + (state->resolution->res_level > 0 ? 1 : 0);
}
rvd_resolution rvd_subband::access_resolution() const { return rvd_resolution(state->resolution); }
int rvd_subband::get_K_max() const { return state->K_max; }
int rvd_subband::get_K_max_prime() const { return state->K_max_prime; }
bool rvd_subband::get_reversible() const { return state->resolution->tile_comp->reversible; }
float rvd_subband::get_delta() const { return get_reversible() ? 0.0f : state->delta; }

bool rvd_subband::get_roi_weight(float& energy_weight) const
{
    if (!(state->roi_weight > 0.0f))
        return false;
    energy_weight = state->roi_weight * state->roi_weight;
    return true;
}

double rvd_subband::get_msb_wmse() const
{
    const rv_codestream* cs = state->resolution->codestream;
    if (cs->in)
        return 1.0;
    double wmse = std::ldexp(double(state->delta), state->K_max_prime - 1);
    wmse *= wmse * double(state->energy_weight);
    // How much the component's errors weigh in the output components (colour or
    // multi-component transform), as the tile cached it when it was initialised.
    const rv_tile_comp* tc = state->resolution->tile_comp;
    const std::vector<float>& gains = tc->tile->gain_all;
    if (size_t(tc->cnum) < gains.size() && gains[size_t(tc->cnum)] > 0.0f)
        wmse *= double(gains[size_t(tc->cnum)]);
    wmse *= double(state->visual_weight) * double(state->visual_weight);
    return wmse;
}

int rvd_subband::get_conservative_slope_threshold() const
{
    // Rate statistics exist only while a codestream is written with a byte budget;
    // otherwise every pass is kept. Worked as an int and clamped before narrowing.
    const rv_codestream* cs = state->resolution->codestream;
    int threshold = 1;
    if (cs->out && cs->wr.stats)
        threshold = std::max(1, 16 * cs->wr.stats->published_conservative_bin.load(
                                         std::memory_order_relaxed) - 1);
    return std::min(0xFFFF, std::max(threshold, int(cs->min_slope_threshold)));
}

void rvd_subband::get_dims(rvd_dims& dims) const { rvd_node(state).get_dims(dims); }

void rvd_subband::get_valid_blocks(rvd_dims& indices) const
{
    indices = to_apparent(state->block_indices, state->resolution->codestream);
}

void rvd_subband::get_block_size(rvd_coords& nominal_size, rvd_coords& first_size) const
{
    nominal_size = state->block_partition.size;
    rvd_dims first;
    first.pos.y = state->block_partition.pos.y + state->block_indices.pos.y * nominal_size.y;
    first.pos.x = state->block_partition.pos.x + state->block_indices.pos.x * nominal_size.x;
    first.size = nominal_size;
    first &= state->region;
    first_size = first.size;
    if (state->resolution->codestream->transpose) {
        nominal_size.transpose();
        first_size.transpose();
    }
}

const rvd_kernel_step_info* rvd_node::get_kernel_info(int& num_steps, float& low_scale,
                                                      float& high_scale, bool& symmetric,
                                                      bool& symmetric_extension, int& low_min,
                                                      int& low_max, int& high_min,
                                                      int& high_max, bool vertical) const
{
    const rv_tile_comp* tc = state->resolution->tile_comp;
    const rv_codestream* cs = state->resolution->codestream;
    const bool flipped = vertical ? cs->vflip : cs->hflip;
    num_steps = int(tc->kernel_steps.size());
    low_scale = tc->low_scale;
    high_scale = tc->high_scale;
    symmetric = tc->kernel_symmetric;
    symmetric_extension = tc->kernel_symmetric_extension;
    if (flipped) {
        low_min = -tc->low_support_max;
        low_max = -tc->low_support_min;
        high_min = -tc->high_support_max;
        high_max = -tc->high_support_min;
        return tc->mirrored_steps.data();
    }
    low_min = tc->low_support_min;
    low_max = tc->low_support_max;
    high_min = tc->high_support_min;
    high_max = tc->high_support_max;
    return tc->kernel_steps.data();
}

const float* rvd_node::get_kernel_coefficients(bool vertical) const
{
    const rv_tile_comp* tc = state->resolution->tile_comp;
    const rv_codestream* cs = state->resolution->codestream;
    return (vertical ? cs->vflip : cs->hflip) ? tc->mirrored_coefficients.data()
                                              : tc->kernel_coefficients.data();
}

int rvd_node::get_kernel_id() const { return state->resolution->tile_comp->kernel_id; }

const float* rvd_node::get_bibo_gains(int& num_steps, bool vertical) const
{
    if (state->resolution->codestream->transpose)
        vertical = !vertical;
    const rv_node* n = state->is_leaf ? state->parent : state;
    num_steps = 0;
    if (n == nullptr || n->bibo_gains.empty())
        return nullptr;
    const int count = vertical ? n->num_vert_gains : n->num_hor_gains;
    const float* base = n->bibo_gains.data() + (vertical ? n->num_hor_gains + 1 : 0);
    if (state->is_leaf)
        return base + (count & ~1);
    num_steps = count;
    return base;
}
