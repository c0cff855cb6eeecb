// Packet progression sequencing over a tile's record tree.
#include "codec/core/rv_packet_sequencer.h"

#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

enum { LRCP = 0, RLCP = 1, RPCL = 2, PCRL = 3, CPRL = 4 };

bool is_power_of_2(int v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

int64_t floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        q--;
    return q;
}

// Shifted steps beyond the canvas are clamped: they only ever compare as "past the end".
const int64_t step_cap = int64_t(1) << 40;

int64_t shifted(int64_t v, int s)
{
    // Negative for a first precinct before a partition anchor of 1.
    for (; s > 0 && v < step_cap && v > -step_cap; s--)
        v *= 2;
    return std::max(-step_cap, std::min(v, step_cap));
}

} // namespace

rv_packet_sequencer::rv_packet_sequencer(rv_tile* t) : tile(t) {}

bool rv_packet_sequencer::start()
{
    const int num_comps = int(tile->comps.size());
    max_dwt_levels = 0;
    power_of_2_subsampling = true;
    comp_grid_min.assign(size_t(num_comps), pos64());
    comp_grid_inc.assign(size_t(num_comps), pos64());
    // Each component's states are made when it is first reached.
    states.clear();
    states.resize(size_t(num_comps));
    total_packets = 0;
    const int layers = std::max(1, tile->num_layers);
    for (int c = 0; c < num_comps; c++) {
        rv_tile_comp& tc = tile->comps[size_t(c)];
        max_dwt_levels = std::max(max_dwt_levels, tc.dwt_levels);
        if (!is_power_of_2(tc.sub_sampling.x) || !is_power_of_2(tc.sub_sampling.y))
            power_of_2_subsampling = false;
        pos64 inc, origin;
        tc.level_shapes(shapes);
        for (int r = 0; r <= tc.dwt_levels; r++) {
            const rv_level_shape& sh = shapes[size_t(r)];
            const int64_t sy = shifted(sh.precinct_partition.size.y, sh.vert_depth) * tc.sub_sampling.y;
            const int64_t sx = shifted(sh.precinct_partition.size.x, sh.hor_depth) * tc.sub_sampling.x;
            if (r == 0 || sy < inc.y)
                inc.y = sy;
            if (r == 0 || sx < inc.x)
                inc.x = sx;
            if (r == 0) {
                origin.y = sh.precinct_partition.pos.y;
                origin.x = sh.precinct_partition.pos.x;
            }
            const uint64_t count =
                uint64_t(sh.precinct_indices.size.y) * uint64_t(sh.precinct_indices.size.x);
            if (tc.tree_built()) {
                rv_resolution& res = tc.resolutions[size_t(r)];
                if (res.precinct_refs.size() != count)
                    res.precinct_refs.assign(count, &tile->codestream->dense_words);
            }
            total_packets = rv_packet_count(int64_t(count), layers, total_packets);
        }
        comp_grid_inc[size_t(c)] = inc;
        comp_grid_min[size_t(c)].y =
            floor_div(tile->dims.pos.y - origin.y, inc.y) * inc.y + origin.y;
        comp_grid_min[size_t(c)].x =
            floor_div(tile->dims.pos.x - origin.x, inc.x) * inc.x + origin.x;
    }
    tile_lim.y = int64_t(tile->dims.pos.y) + tile->dims.size.y;
    tile_lim.x = int64_t(tile->dims.pos.x) + tile->dims.size.x;
    cur = progression();
    saved = progression();
    poc_looked_up = false;
    state_saved = false;
    sequenced_packets = saved_sequenced_packets = 0;
    last_next_layer = nullptr;
    return next_progression();
}

bool rv_packet_sequencer::next_progression()
{
    rv_codestream* cs = tile->codestream;
    if (!poc_looked_up) {
        poc_looked_up = true;
        rvd_params* head = cs->siz->access_cluster("POC");
        rvd_params* obj = head == nullptr ? nullptr : head->access_relation(tile->t_num, -1, 0, true);
        int v = 0;
        cur.poc = (obj != nullptr && obj->get("Porder", 0, 0, v)) ? obj : nullptr;
        cur.poc_record = 0;
    }
    const int num_comps = int(tile->comps.size());
    const int num_layers = std::max(1, tile->num_layers);
    if (cur.poc != nullptr) {
        if (!cur.poc->get("Porder", cur.poc_record, 0, cur.res_min)) {
            rvd_params* next = cur.poc->access_next_inst();
            int v = 0;
            if (next == nullptr || !next->get("Porder", 0, 0, v, false))
                return false; // the packets left lie in tile-parts not yet seen
            if (next->get_instance() >= tparts_seen)
                return false;
            cur.poc = next;
            cur.poc_record = 0;
            cur.poc->get("Porder", 0, 0, cur.res_min);
        }
        cur.poc->get("Porder", cur.poc_record, 1, cur.comp_min);
        cur.poc->get("Porder", cur.poc_record, 2, cur.layer_lim);
        cur.poc->get("Porder", cur.poc_record, 3, cur.res_lim);
        cur.poc->get("Porder", cur.poc_record, 4, cur.comp_lim);
        cur.poc->get("Porder", cur.poc_record, 5, cur.order);
        if ((cur.comp_min != 0 || cur.res_min != 0) && cur.poc_record == 0 &&
            cur.poc->get_instance() == 0 && cs->profile == 0) {
            rv_issue_core_warning(
                "Profile violation detected (code-stream is technically illegal).  In a "
                "Profile-0 code-stream, the first progression specification found in the "
                "first POC marker segment of the main or any tile header may not describe a "
                "progression which starts from resolution or component indices other than 0.");
            cs->profile = 2;
        }
        cur.poc_record++;
    } else {
        rvd_params* head = cs->siz->access_cluster("COD");
        rvd_params* cod = head == nullptr ? nullptr : head->access_relation(tile->t_num, -1, 0, true);
        cur.order = LRCP;
        if (cod != nullptr)
            cod->get("Corder", 0, 0, cur.order);
        cur.res_min = cur.comp_min = 0;
        cur.layer_lim = num_layers;
        cur.comp_lim = num_comps;
        cur.res_lim = max_dwt_levels + 1;
    }
    cur.layer_lim = std::min(cur.layer_lim, num_layers);
    cur.comp_lim = std::min(cur.comp_lim, num_comps);
    if (cur.res_lim > max_dwt_levels)
        cur.res_lim = max_dwt_levels + 1;
    cur.layer = 0;
    cur.comp = cur.comp_min;
    cur.res = cur.res_min;
    cur.prec_idx = rvd_coords(0, 0);
    if (cur.order == RPCL || cur.order == PCRL) {
        if (!power_of_2_subsampling)
            rv_raise_core_error(
                "Attempting to use a spatially progressive packet sequence where position "
                "order dominates component order. This is illegal when the component "
                "sub-sampling factors are not exact powers of 2!");
        for (int c = 0; c < num_comps; c++) {
            const pos64& inc = comp_grid_inc[size_t(c)];
            if (c == 0 || inc.y < cur.grid_inc.y) {
                cur.grid_inc.y = inc.y;
                cur.grid_min.y = comp_grid_min[size_t(c)].y;
            }
            if (c == 0 || inc.x < cur.grid_inc.x) {
                cur.grid_inc.x = inc.x;
                cur.grid_min.x = comp_grid_min[size_t(c)].x;
            }
        }
    } else if (cur.order == CPRL && cur.comp < cur.comp_lim) {
        cur.grid_min = comp_grid_min[size_t(cur.comp)];
        cur.grid_inc = comp_grid_inc[size_t(cur.comp)];
    } else {
        return true;
    }
    cur.pos = cur.grid_min;
    for (auto& comp_states : states)
        for (auto& s : comp_states)
            s.next_prec = rvd_coords(0, 0);
    return true;
}

uint64_t* rv_packet_sequencer::walk(rv_resolution*& res_out, rvd_coords& idx_out)
{
    switch (cur.order) {
    case LRCP: return next_lrcp(res_out, idx_out);
    case RLCP: return next_rlcp(res_out, idx_out);
    case RPCL: return next_rpcl(res_out, idx_out);
    case PCRL: return next_pcrl(res_out, idx_out);
    case CPRL: return next_cprl(res_out, idx_out);
    default: return nullptr;
    }
}

uint64_t* rv_packet_sequencer::next_packet(rv_resolution*& res_out, rvd_coords& idx_out)
{
    last_next_layer = nullptr;
    if (sequenced_packets >= total_packets)
        return nullptr;
    uint64_t* ref = walk(res_out, idx_out);
    // With records, each further progression consumes one, so this ends. Without them the
    // tile's own order restarts; when that finds nothing either (precincts passed over),
    // nothing can be sequenced now, rather than restarting for ever.
    bool restarted = false;
    while (ref == nullptr) {
        if ((cur.poc == nullptr && restarted) || !next_progression())
            return nullptr;
        restarted = cur.poc == nullptr;
        ref = walk(res_out, idx_out);
    }
    const rv_tile_comp& tc = *res_out->tile_comp;
    res_state& s = state_of(tc.cnum, res_out->res_level);
    int& next_layer =
        s.next_layer[size_t(idx_out.y) * size_t(res_out->precinct_indices.size.x) + size_t(idx_out.x)];
    if (tile->codestream->in && tile->rd.plt_in_use &&
        !(rv_precinct::ref_in_memory(*ref) && next_layer > 0)) {
        // Packet lengths step over the whole precinct: its address is recorded instead.
        const int64_t address = tile->rd.plt.get_precinct_address();
        if (address < 0)
            return nullptr;
        if (address > 0) {
            const int layers = std::max(1, tile->num_layers);
            if (!rv_packet_reader::set_precinct_address(tile, ref, res_out, address))
                return nullptr;
            sequenced_packets += layers - next_layer;
            next_layer = layers;
            return ref;
        }
    }
    next_layer++;
    sequenced_packets++;
    last_next_layer = &next_layer;
    return ref;
}

inline rvd_coords rv_packet_sequencer::precinct_counts(int c, int r) const
{
    const rv_tile_comp& tc = tile->comps[size_t(c)];
    if (tc.tree_built())
        return tc.resolutions[size_t(r)].precinct_indices.size;
    return tc.level_shape(r).precinct_indices.size;
}

void rv_packet_sequencer::make_states(int c)
{
    const rv_tile_comp& tc = tile->comps[size_t(c)];
    std::vector<res_state>& v = states[size_t(c)];
    v.resize(size_t(tc.dwt_levels) + 1);
    for (int r = 0; r <= tc.dwt_levels; r++) {
        const rvd_coords n = precinct_counts(c, r);
        // The saved copy is made by the first save_state after this; until then a restore
        // zeroes the layers: nothing of the component had been sequenced.
        v[size_t(r)].next_layer.assign(uint64_t(n.y) * uint64_t(n.x),
                                       &tile->codestream->dense_words);
    }
}

bool rv_packet_sequencer::at_position(const rv_tile_comp& tc, const rvd_dims& indices,
                                      const rvd_dims& partition, int vd, int hd,
                                      rvd_coords p) const
{
    const int64_t ay = shifted((int64_t(indices.pos.y) + p.y) * partition.size.y, vd) *
                           tc.sub_sampling.y + partition.pos.y;
    const int64_t ax = shifted((int64_t(indices.pos.x) + p.x) * partition.size.x, hd) *
                           tc.sub_sampling.x + partition.pos.x;
    return (ay < cur.grid_min.y || ay == cur.pos.y) && (ax < cur.grid_min.x || ax == cur.pos.x);
}

uint64_t* rv_packet_sequencer::layer_major_at(rv_resolution*& res_out, rvd_coords& idx_out)
{
    const rvd_coords n = precinct_counts(cur.comp, cur.res);
    if (cur.prec_idx.y >= n.y || n.x <= 0)
        return nullptr;
    rv_tile_comp& tc = tile->comps[size_t(cur.comp)];
    if (!tc.tree_built()) {
        // Nothing of it sequenced yet: only a first-layer packet can come next.
        if (cur.layer != 0)
            return nullptr;
        tile->build_component(tc);
    }
    rv_resolution& res = tc.resolutions[size_t(cur.res)];
    rv_sparse_words<int>& layers = state_of(cur.comp, cur.res).next_layer;
    uint64_t* const refs = res.precinct_refs.array();
    const int* const next = layers.array();
    // Every precinct is looked at once per layer: read the arrays directly when held whole.
    for (; cur.prec_idx.y < n.y; cur.prec_idx.y++, cur.prec_idx.x = 0)
        for (; cur.prec_idx.x < n.x; cur.prec_idx.x++) {
            const size_t i = size_t(cur.prec_idx.y) * size_t(n.x) + size_t(cur.prec_idx.x);
            const uint64_t ref = refs != nullptr ? refs[i] : res.precinct_refs.get(i);
            if (passed_over(ref) || (next != nullptr ? next[i] : layers.get(i)) != cur.layer)
                continue;
            res_out = &res;
            idx_out = cur.prec_idx;
            return refs != nullptr ? &refs[i] : &res.precinct_refs[i];
        }
    return nullptr;
}

uint64_t* rv_packet_sequencer::next_lrcp(rv_resolution*& res_out, rvd_coords& idx_out)
{
    for (; cur.layer < cur.layer_lim; cur.layer++, cur.res = cur.res_min,
                                      cur.comp = cur.comp_min, cur.prec_idx = rvd_coords()) {
        for (; cur.res < cur.res_lim;
             cur.res++, cur.comp = cur.comp_min, cur.prec_idx = rvd_coords()) {
            for (; cur.comp < cur.comp_lim; cur.comp++, cur.prec_idx = rvd_coords()) {
                const rv_tile_comp& tc = tile->comps[size_t(cur.comp)];
                // A component not reached yet has no packet beyond the first layer.
                if (cur.res > tc.dwt_levels || (cur.layer != 0 && !tc.tree_built()))
                    continue;
                if (uint64_t* ref = layer_major_at(res_out, idx_out))
                    return ref;
            }
        }
    }
    return nullptr;
}

uint64_t* rv_packet_sequencer::next_rlcp(rv_resolution*& res_out, rvd_coords& idx_out)
{
    for (; cur.res < cur.res_lim;
         cur.res++, cur.layer = 0, cur.comp = cur.comp_min, cur.prec_idx = rvd_coords()) {
        for (; cur.layer < cur.layer_lim;
             cur.layer++, cur.comp = cur.comp_min, cur.prec_idx = rvd_coords()) {
            for (; cur.comp < cur.comp_lim; cur.comp++, cur.prec_idx = rvd_coords()) {
                const rv_tile_comp& tc = tile->comps[size_t(cur.comp)];
                // A component not reached yet has no packet beyond the first layer.
                if (cur.res > tc.dwt_levels || (cur.layer != 0 && !tc.tree_built()))
                    continue;
                if (uint64_t* ref = layer_major_at(res_out, idx_out))
                    return ref;
            }
        }
    }
    return nullptr;
}

uint64_t* rv_packet_sequencer::spatial_at(int c, int r, rv_resolution*& res_out,
                                          rvd_coords& idx_out)
{
    rv_tile_comp& tc = tile->comps[size_t(c)];
    if (!tc.tree_built()) {
        // Nothing of it sequenced yet: its first precinct is next when it sits here.
        const rv_level_shape sh = tc.level_shape(r);
        if (sh.precinct_indices.size.y <= 0 || sh.precinct_indices.size.x <= 0 ||
            !at_position(tc, sh.precinct_indices, sh.precinct_partition, sh.vert_depth,
                         sh.hor_depth, rvd_coords(0, 0)))
            return nullptr;
        tile->build_component(tc);
    }
    rv_resolution& res = tc.resolutions[size_t(r)];
    res_state& s = state_of(c, r);
    const rvd_coords n = res.precinct_indices.size;
    rvd_coords& p = s.next_prec;
    if (p.y >= n.y || p.x >= n.x)
        return nullptr;
    const size_t i = size_t(p.y) * size_t(n.x) + size_t(p.x);
    uint64_t& ref = res.precinct_refs[i];
    if (passed_over(ref) || s.next_layer[i] >= cur.layer_lim) {
        if (++p.x >= n.x) {
            p.x = 0;
            p.y++;
        }
        return nullptr;
    }
    if (at_position(tc, res.precinct_indices, res.precinct_partition, res.vert_depth,
                    res.hor_depth, p)) {
        res_out = &res;
        idx_out = p;
        return &ref;
    }
    return nullptr;
}

uint64_t* rv_packet_sequencer::next_rpcl(rv_resolution*& res_out, rvd_coords& idx_out)
{
    if (cur.layer_lim < 1)
        return nullptr;
    for (; cur.res < cur.res_lim; cur.res++, cur.pos = cur.grid_min, cur.comp = cur.comp_min)
        for (; cur.pos.y < tile_lim.y;
             cur.pos.y += cur.grid_inc.y, cur.pos.x = cur.grid_min.x, cur.comp = cur.comp_min)
            for (; cur.pos.x < tile_lim.x; cur.pos.x += cur.grid_inc.x, cur.comp = cur.comp_min)
                for (; cur.comp < cur.comp_lim; cur.comp++) {
                    if (cur.res > tile->comps[size_t(cur.comp)].dwt_levels)
                        continue;
                    if (uint64_t* ref = spatial_at(cur.comp, cur.res, res_out, idx_out))
                        return ref;
                }
    return nullptr;
}

uint64_t* rv_packet_sequencer::next_pcrl(rv_resolution*& res_out, rvd_coords& idx_out)
{
    if (cur.layer_lim < 1)
        return nullptr;
    for (; cur.pos.y < tile_lim.y; cur.pos.y += cur.grid_inc.y, cur.pos.x = cur.grid_min.x,
                                   cur.comp = cur.comp_min, cur.res = cur.res_min)
        for (; cur.pos.x < tile_lim.x;
             cur.pos.x += cur.grid_inc.x, cur.comp = cur.comp_min, cur.res = cur.res_min)
            for (; cur.comp < cur.comp_lim; cur.comp++, cur.res = cur.res_min)
                for (; cur.res < cur.res_lim &&
                       cur.res <= tile->comps[size_t(cur.comp)].dwt_levels;
                     cur.res++)
                    if (uint64_t* ref = spatial_at(cur.comp, cur.res, res_out, idx_out))
                        return ref;
    return nullptr;
}

uint64_t* rv_packet_sequencer::next_cprl(rv_resolution*& res_out, rvd_coords& idx_out)
{
    if (cur.layer_lim < 1)
        return nullptr;
    while (cur.comp < cur.comp_lim) {
        for (; cur.pos.y < tile_lim.y;
             cur.pos.y += cur.grid_inc.y, cur.pos.x = cur.grid_min.x, cur.res = cur.res_min)
            for (; cur.pos.x < tile_lim.x; cur.pos.x += cur.grid_inc.x, cur.res = cur.res_min)
                for (; cur.res < cur.res_lim &&
                       cur.res <= tile->comps[size_t(cur.comp)].dwt_levels;
                     cur.res++)
                    if (uint64_t* ref = spatial_at(cur.comp, cur.res, res_out, idx_out))
                        return ref;
        cur.comp++;
        cur.res = cur.res_min;
        if (cur.comp < cur.comp_lim) {
            cur.grid_min = comp_grid_min[size_t(cur.comp)];
            cur.grid_inc = comp_grid_inc[size_t(cur.comp)];
            cur.pos = cur.grid_min;
        }
    }
    return nullptr;
}

void rv_packet_sequencer::unsequence_last()
{
    if (last_next_layer == nullptr)
        return;
    (*last_next_layer)--;
    sequenced_packets--;
    last_next_layer = nullptr;
}

void rv_packet_sequencer::save_state()
{
    saved = cur;
    saved_sequenced_packets = sequenced_packets;
    for (auto& comp_states : states)
        for (auto& s : comp_states) {
            s.saved_next_prec = s.next_prec;
            if (s.saved_next_layer.size() != s.next_layer.size())
                s.saved_next_layer.assign(s.next_layer.size(), &tile->codestream->dense_words);
            s.saved_next_layer.copy_words(s.next_layer);
        }
    state_saved = true;
}

void rv_packet_sequencer::restore_state()
{
    cur = saved;
    sequenced_packets = saved_sequenced_packets;
    last_next_layer = nullptr;
    for (auto& comp_states : states)
        for (auto& s : comp_states) {
            s.next_prec = s.saved_next_prec;
            if (s.saved_next_layer.size() == s.next_layer.size())
                s.next_layer.copy_words(s.saved_next_layer);
            else
                s.next_layer.zero();
        }
}

int rv_packet_sequencer::get_next_layer(int comp, int res, rvd_coords idx) const
{
    if (comp < 0 || size_t(comp) >= states.size() || res < 0 ||
        res > tile->comps[size_t(comp)].dwt_levels)
        throw std::out_of_range("rv_packet_sequencer::get_next_layer");
    const rvd_coords n = precinct_counts(comp, res);
    const uint64_t i = uint64_t(idx.y) * uint64_t(n.x) + uint64_t(idx.x);
    if (idx.y < 0 || idx.x < 0 || idx.x >= n.x || i >= uint64_t(n.y) * uint64_t(n.x))
        throw std::out_of_range("rv_packet_sequencer::get_next_layer");
    const std::vector<res_state>& v = states[size_t(comp)];
    return v.empty() ? 0 : v[size_t(res)].next_layer.get(i);
}
