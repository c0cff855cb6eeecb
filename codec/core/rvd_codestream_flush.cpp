// Flushing a written codestream: the informative comments.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_tile_writing.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_thread_env.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <queue>
#include <string>
#include <vector>

namespace {

const char version_text[] = "Ravade-v6.0";
const char layer_info_head[] = "Rvd-Layer-Info: log_2{Delta-D(MSE)/[2^16*Delta-L(bytes)]}, L(bytes)\n";

rv_codestream_comment* append_comment(rv_codestream* cs)
{
    auto* com = new rv_codestream_comment;
    if (cs->comtail == nullptr)
        cs->comhead = cs->comtail = com;
    else
        cs->comtail = cs->comtail->next = com;
    return com;
}

} // namespace

void rv_add_version_comment(rv_codestream* cs, rv_codestream_writing& w)
{
    if (w.version_comment_added)
        return;
    w.version_comment_added = true;
    for (rv_codestream_comment* c = cs->comhead; c != nullptr; c = c->next)
        if (c->text != nullptr && std::strcmp(c->text, version_text) == 0)
            return;
    rv_codestream_comment* com = append_comment(cs);
    com->put_text(version_text);
    com->readonly = true;
}

void rv_reserve_layer_info_comment(rv_codestream* cs, rv_codestream_writing& w, int num_layers)
{
    const size_t head_len = std::strlen("Rvd-Layer-Info: ");
    rv_codestream_comment* prev = nullptr;
    for (rv_codestream_comment* c = cs->comhead; c != nullptr; prev = c, c = c->next) {
        if (c->text == nullptr || std::strncmp(c->text, layer_info_head, head_len) != 0)
            continue;
        (prev == nullptr ? cs->comhead : prev->next) = c->next;
        if (cs->comtail == c)
            cs->comtail = prev;
        delete c;
        break;
    }
    // The header line (68 characters), 17 per layer line and the segment's 6 bytes.
    w.layer_info_reserved = 17 * num_layers + 74;
}

void rv_write_layer_info_comment(rv_codestream* cs, const rv_codestream_writing& w, int num_layers,
                                 const int64_t* layer_bytes, const uint16_t* thresholds)
{
    rv_codestream_comment* com = append_comment(cs);
    com->put_text(layer_info_head);
    const double size_normaliser = 1.0;
    for (int l = 0; l < num_layers; l++) {
        char line[64];
        std::snprintf(line, sizeof line, "%6.1f, %8.1e\n", (double(thresholds[l]) - 65536.0) / 256.0,
                      double(layer_bytes[l]) * size_normaliser);
        com->put_text(line);
    }
    com->forced_length = w.layer_info_reserved;
    com->readonly = true;
}

// ---------------------------------------------------------------------------------------
// Simulation, rate control and flushing.

namespace {

const int64_t no_limit = int64_t(1) << 62;

int iplt_size(int64_t length)
{
    int n = 1;
    for (; length >= 128; length >>= 7)
        n++;
    return n;
}

int requested_tlm_tparts(rv_codestream* cs)
{
    int m = 0;
    rvd_params* org = cs->siz->access_cluster("ORG");
    if (org == nullptr || !org->get("ORGgen_tlm", 0, 0, m) || m <= 0)
        return 0;
    return std::min(m, 255);
}

// Bytes of the main header as it will be written: SOC, segments, comments, the
// reserved layer-information comment and reserved TLMs.
int64_t main_header_bytes(rv_codestream* cs)
{
    rv_codestream_writing& w = cs->wr;
    if (w.header_generated || !w.emit_header)
        return 0;
    rv_add_version_comment(cs, w);
    int64_t n = 2 + int64_t(rv_tpart_generator::main_segments(cs).size());
    for (rv_codestream_comment* c = cs->comhead; c != nullptr; c = c->next)
        n += c->write_marker(nullptr);
    n += w.layer_info_reserved;
    const int m = requested_tlm_tparts(cs);
    if (m > 0) {
        rv_tlm_generator g;
        if (g.init(w.fragment_tiles_total > 0 ? w.fragment_tiles_total : w.tiles_total, m))
            n += g.get_tlm_bytes();
    }
    return n;
}

// Header bytes of a tile not yet started: its first tile-part's header, the padding
// tile-parts of a fixed count, and a PLT segment header.
int64_t tile_header_bytes(rv_tile* t)
{
    if (t->wr.tparts_written > 0)
        return 0;
    int64_t n = int64_t(rv_tpart_generator::tpart_segments(t, 0).size()) + 14;
    const int m = t->codestream->wr.fixed_tparts > 0 ? t->codestream->wr.fixed_tparts
                                                      : requested_tlm_tparts(t->codestream);
    const int parts = std::max(m, rv_tpart_generator::count_tparts(t));
    n += 14 * int64_t(parts - 1);
    if (t->wr.gen_plt)
        n += 5 * int64_t(rv_tpart_generator::count_tparts(t));
    return n;
}

int64_t tile_precinct_count(const rv_tile* t)
{
    return t->rd.total_precincts;
}

// The empty packets (and their length entries) of a tile's layers after `layer`, written
// when `layer` is the last one to carry data.
int64_t empty_tail_bytes(const rv_tile* t, int layer)
{
    if (t->num_layers <= layer + 1)
        return 0;
    return int64_t(t->num_layers - layer - 1) *
           (rv_tpart_generator::empty_packet_bytes(t) + (t->wr.gen_plt ? 1 : 0)) * tile_precinct_count(t);
}

void complete_structures(rv_codestream* cs)
{
    if (!cs->geometry_finalized)
        cs->finalize_geometry();
}

} // namespace

namespace {

// A packet's bytes with its length entry when PLT segments are written.
int64_t packet_cost(rv_precinct* p, int layer, uint16_t threshold, int64_t limit, bool finalize)
{
    int64_t n = rv_tpart_generator::simulate_packet(p, layer, threshold, limit, finalize);
    if (p->tile()->wr.gen_plt)
        n += iplt_size(n);
    return n;
}

} // namespace

int64_t rv_simulate_output(rv_codestream* cs, int layer, uint16_t threshold, bool finalize,
                           bool last_layer, int64_t limit)
{
    int64_t total = layer == 0 ? main_header_bytes(cs) : 0;
    for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next)
        if (t->initialized) {
            rv_tpart_generator::instantiate_precincts(t);
            if (layer == 0)
                total += tile_header_bytes(t);
            if (last_layer)
                total += empty_tail_bytes(t, layer);
        }
    if (!finalize && total > limit)
        return total;
    // Pair by pair, lowest resolutions first. A pair of which only part is ready stands
    // for all it has still to write: its share of the limit and its bytes scale by the
    // ready fraction, so that an incremental flush spends the budget by area.
    const int nc = cs->num_components;
    for (int d = RV_MAX_DISCARD_LEVELS; d >= 0; d--)
        for (int c = 0; c < nc; c++) {
            rv_rescomp_progress& rec = cs->rescomp[size_t(d * nc + c)];
            if (rec.first_ready == nullptr)
                continue;
            const double f = rec.get_ready_fraction();
            const bool scaled = f < 1.0;
            int64_t pair_limit = limit - total;
            if (scaled && pair_limit > 0)
                pair_limit = int64_t(double(pair_limit) * f);
            int64_t pair_bytes = 0;
            for (rv_precinct* p = rec.first_ready; p != nullptr; p = p->ready_next) {
                rv_tile* t = p->tile();
                if (!t->initialized || layer >= t->num_layers)
                    continue;
                pair_bytes += packet_cost(p, layer, threshold, pair_limit - pair_bytes, finalize);
                if (!finalize && pair_bytes > pair_limit)
                    break;
            }
            total += scaled ? int64_t(double(pair_bytes) * rec.reciprocal_fraction) + 1 : pair_bytes;
            if (!finalize && total > limit)
                return total;
        }
    return total;
}

void rv_trim_compressed_data(rv_codestream* cs, int threshold)
{
    if (threshold < 2)
        return;
    for (rv_rescomp_progress& rec : cs->rescomp)
        for (rv_precinct* p = rec.first_ready; p != nullptr; p = p->ready_next) {
            if (p->layers_written > 0)
                continue;
            for (int b = 0; b < p->num_bands; b++) {
                const rv_precinct_band& pb = p->bands[b];
                const int n = pb.block_indices.size.y * pb.block_indices.size.x;
                for (int k = 0; k < n && pb.block_indices.size.x > 0; k++)
                    pb.blocks[k].trim_data(uint16_t(threshold), cs->buf_server.get());
            }
        }
}

namespace {

// Per-layer and fixed overheads of headers and empty packets.
void estimate_header_overheads(rv_codestream* cs)
{
    rv_codestream_writing& w = cs->wr;
    int64_t fixed = main_header_bytes(cs), per_layer = 0;
    for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next) {
        if (!t->initialized)
            continue;
        fixed += tile_header_bytes(t);
        per_layer += tile_precinct_count(t) * rv_tpart_generator::empty_packet_bytes(t);
    }
    w.fixed_overhead = fixed;
    w.layer_overhead = per_layer;
}

// Every pair has all it still has to write ready: the final flush.
bool all_ready(rv_codestream* cs)
{
    for (const rv_rescomp_progress& rec : cs->rescomp)
        if (rec.ready_area < rec.remaining_area)
            return false;
    return true;
}

// Leaves (code-blocks) of a precinct, in the order the fill's entries count them.
std::vector<rv_precinct_block*> precinct_leaves(const rv_precinct* p)
{
    std::vector<rv_precinct_block*> leaves;
    for (int b = 0; b < p->num_bands; b++) {
        const rvd_coords& size = p->bands[b].block_indices.size;
        if (size.y > 0 && size.x > 0)
            for (int k = 0; k < size.y * size.x; k++)
                leaves.push_back(&p->bands[b].blocks[k]);
    }
    return leaves;
}

// Sizing a packet visits each of its leaves, so trying a pass in a large precinct is
// dear: the fill gives up once refusals in a row have cost this many leaf visits (the
// slack is then mostly below what a block's header bits alone add) or all its tries this
// many, so that its work cannot grow with the square of the precinct size.
const int64_t fill_refusal_visits = int64_t(1) << 20;
const int64_t fill_visit_limit = int64_t(1) << 23;

// One code-block's next truncation point below what the fill gives it so far.
struct fill_candidate {
    uint16_t slope;
    uint32_t bytes; // body bytes it adds
    size_t precinct;
    int leaf;
    bool operator<(const fill_candidate& o) const
    {
        // Highest slope first; ties in sizing order.
        if (slope != o.slope)
            return slope < o.slope;
        if (precinct != o.precinct)
            return precinct > o.precinct;
        return leaf > o.leaf;
    }
};

// The last layer, sized at `best`, leaves `slack` bytes below its limit. After earlier
// flushes (not `deep`) precincts in sizing order take, whole, the passes one threshold
// step lower as far as they fit, since the overheads of written precincts are only
// estimates. Otherwise code-blocks take their next truncation points below `best` in
// order of falling slope, each where its packet's exact growth (header and body) fits:
// the budget goes where it lowers distortion most, block by block, rather than to whole
// precincts or runs of blocks.
void fill_last_layer(rv_codestream* cs, int layer, uint16_t best, int64_t slack, bool deep)
{
    if (best <= 1 || slack <= 0)
        return;
    const int nc = cs->num_components;
    std::vector<rv_precinct*> ready;
    for (int d = RV_MAX_DISCARD_LEVELS; d >= 0; d--)
        for (int c = 0; c < nc; c++)
            for (rv_precinct* p = cs->rescomp[size_t(d * nc + c)].first_ready; p != nullptr;
                 p = p->ready_next) {
                rv_tile* t = p->tile();
                if (t->initialized && layer < t->num_layers && p->fill_of(layer) == nullptr)
                    ready.push_back(p);
            }
    std::vector<int64_t> cost(ready.size());
    for (size_t k = 0; k < ready.size(); k++)
        cost[k] = packet_cost(ready[k], layer, best, no_limit, false);
    if (!deep) {
        for (size_t k = 0; k < ready.size() && slack > 0; k++) {
            ready[k]->fills.push_back({layer, uint16_t(best - 1), {}});
            const int64_t c = packet_cost(ready[k], layer, best, no_limit, false);
            if (c - cost[k] <= slack)
                slack -= c - cost[k];
            else
                ready[k]->fills.pop_back();
        }
        return;
    }

    std::vector<std::vector<rv_precinct_block*>> leaves(ready.size());
    std::priority_queue<fill_candidate> queue;
    auto offer = [&](size_t k, int leaf, uint16_t threshold) {
        uint32_t bytes = 0;
        const uint16_t slope = leaves[k][size_t(leaf)]->next_truncation(threshold, bytes);
        if (slope > 1 && int64_t(bytes) <= slack)
            queue.push({slope, bytes, k, leaf});
    };
    for (size_t k = 0; k < ready.size(); k++) {
        leaves[k] = precinct_leaves(ready[k]);
        for (int j = 0; j < int(leaves[k].size()); j++)
            offer(k, j, best);
    }
    std::vector<bool> changed(ready.size(), false);
    for (size_t k = 0; k < ready.size(); k++)
        ready[k]->fills.push_back({layer, best, std::vector<uint16_t>(leaves[k].size(), best)});
    int64_t visits = 0;
    int64_t refused = 0; // visits of the refusals since the last pass taken
    while (!queue.empty() && slack > 0 && visits < fill_visit_limit && refused < fill_refusal_visits) {
        const fill_candidate c = queue.top();
        queue.pop();
        if (int64_t(c.bytes) > slack)
            continue; // its later points are larger still
        uint16_t& own = ready[c.precinct]->fills.back().leaf_thresholds[size_t(c.leaf)];
        const uint16_t before = own;
        own = uint16_t(c.slope - 1);
        const int64_t grown = packet_cost(ready[c.precinct], layer, best, no_limit, false);
        const int64_t visited = int64_t(leaves[c.precinct].size());
        visits += visited;
        if (grown - cost[c.precinct] > slack) {
            own = before;
            refused += visited;
            continue;
        }
        refused = 0;
        slack -= grown - cost[c.precinct];
        cost[c.precinct] = grown;
        changed[c.precinct] = true;
        offer(c.precinct, c.leaf, own);
    }
    for (size_t k = 0; k < ready.size(); k++)
        if (!changed[k])
            ready[k]->fills.pop_back();
}

void pcrd_opt(rv_codestream* cs, bool trim_to_rate, double tolerance)
{
    rv_codestream_writing& w = cs->wr;
    const int n = w.num_layer_specs;
    const double t = std::min(tolerance, 0.5);
    estimate_header_overheads(cs);
    const int64_t fixed = w.fixed_overhead, per = w.layer_overhead;
    const int64_t eoc = w.emit_eoc ? 2 : 0;

    std::vector<int64_t> targets(w.layer_targets);
    std::vector<bool> was_zero(static_cast<size_t>(n), false);
    for (int l = 0; l < n; l++)
        was_zero[size_t(l)] = targets[size_t(l)] == 0;
    int64_t end_total = targets[size_t(n - 1)];
    if (end_total == 0)
        end_total = rv_simulate_output(cs, 0, 0, false, true, no_limit) + eoc;

    // Unspecified targets between specified ones: log-linear between the neighbours.
    bool any_zero_inside = false;
    for (int l = 0; l + 1 < n; l++)
        any_zero_inside = any_zero_inside || targets[size_t(l)] == 0;
    if (any_zero_inside) {
        // Targets are whole codestream sizes: the specified ones stay as they are (raising
        // them by the overheads would overshoot), the filled ones carry the overheads.
        int z = 0;
        while (z < n - 1) {
            if (targets[size_t(z)] != 0) {
                z++;
                continue;
            }
            int m = z;
            while (m < n - 1 && targets[size_t(m)] == 0)
                m++;
            const int64_t next = targets[size_t(m)] != 0 ? targets[size_t(m)] : end_total;
            const double B = std::max<double>(double(next - int64_t(m + 1) * per - fixed), 1.0);
            const int p = z - 1;
            double A;
            if (p >= 0)
                A = std::max<double>(double(targets[size_t(p)] - int64_t(p + 1) * per - fixed), 1.0);
            else
                A = B * std::pow(2.0, -double(m - p) / 2.0);
            for (int k = z; k < m; k++) {
                const double f = double(k - p) / double(m - p);
                targets[size_t(k)] = int64_t(std::exp((1.0 - f) * std::log(A) + f * std::log(B))) +
                                     int64_t(k + 1) * per + fixed;
            }
            z = m;
        }
    }

    int64_t committed = 0;
    int64_t earlier = 0; // bytes of earlier flushes for layers 0..l
    for (int l = 0; l < n; l++) {
        earlier += w.layer_sizes[size_t(l)];
        const bool last = l == n - 1;
        const int64_t T = targets[size_t(l)];
        uint16_t best = 0;
        if (T != 0) {
            const int64_t limit = T - eoc - earlier - committed;
            int64_t minimum = limit;
            if (t > 0.0) {
                double O = double(per + (l == 0 ? fixed : 0));
                if (earlier > 0 && earlier < T)
                    O -= std::floor(O * double(earlier) / double(T));
                if (double(limit) > std::floor(O))
                    minimum = limit - int64_t(std::floor(t * (double(limit) - O)));
            }
            int lo = 0, hi = l == 0 ? 65536 : int(w.layer_thresholds[size_t(l - 1)]) + 1;
            best = uint16_t(hi - 1);
            while (hi > lo) {
                const int mid = (lo + hi) >> 1;
                const int64_t size = rv_simulate_output(cs, l, uint16_t(mid), false, last, limit);
                if (size > limit) {
                    lo = mid + 1;
                } else {
                    best = uint16_t(mid);
                    hi = mid;
                    if (size >= minimum)
                        break;
                }
            }
        }
        w.layer_thresholds[size_t(l)] = best;
        if (last && trim_to_rate && T != 0) {
            const int64_t limit = T - eoc - earlier - committed;
            // After earlier flushes, the written precincts' overheads are estimates: one
            // step for whole precincts only, as those estimates allow.
            fill_last_layer(cs, l, best, limit - rv_simulate_output(cs, l, best, false, true, no_limit),
                            earlier == 0);
        }
        committed += rv_simulate_output(cs, l, best, true, last, no_limit);
        w.layer_reached[size_t(l)] = earlier + committed;
        if (was_zero[size_t(l)])
            w.layer_targets[size_t(l)] = earlier + committed + eoc;
    }
}

} // namespace

void rvd_codestream::flush(int64_t* layer_bytes, int num_layer_specs, uint16_t* layer_thresholds,
                           bool trim_to_rate, bool record_in_comseg, double tolerance,
                           rvd_thread_env* env)
{
    rv_env_lock lock(env);
    rv_codestream* cs = state;
    if (cs == nullptr || !cs->out)
        return;
    complete_structures(cs);
    rv_codestream_writing& w = cs->wr;
    const int n = std::max(1, num_layer_specs);
    if (w.num_layer_specs == 0) {
        w.num_layer_specs = n;
        w.layer_sizes.assign(size_t(n), 0);
        w.layer_targets.assign(size_t(n), 0);
        w.layer_thresholds.assign(size_t(n), 0);
        w.layer_reached.assign(size_t(n), 0);
        for (int l = 0; l < num_layer_specs; l++) {
            if (layer_bytes != nullptr)
                w.layer_targets[size_t(l)] = layer_bytes[l];
            if (layer_thresholds != nullptr)
                w.layer_thresholds[size_t(l)] = layer_thresholds[l];
        }
    } else {
        if (n != w.num_layer_specs)
            rv_raise_core_error(
                "When generating code-stream output incrementally, each call to "
                "`rvd_codestream::flush' must provide the same number of quality layer "
                "specifications.");
        if (layer_thresholds != nullptr && w.layer_thresholds[0] != 0)
            for (int l = 0; l < n; l++)
                if (layer_thresholds[l] != 0)
                    w.layer_thresholds[size_t(l)] = layer_thresholds[l];
    }
    const bool threshold_mode = w.layer_thresholds[0] != 0;
    const bool open_last = !threshold_mode && w.layer_targets[size_t(n - 1)] == 0;
    rv_add_version_comment(cs, w);
    if (record_in_comseg && !w.header_generated)
        rv_reserve_layer_info_comment(cs, w, n);

    if (threshold_mode) {
        int64_t cumulative = 0;
        for (int l = 0; l < n; l++) {
            cumulative += w.layer_sizes[size_t(l)];
            cumulative += rv_simulate_output(cs, l, w.layer_thresholds[size_t(l)], true,
                                             l == n - 1, no_limit);
            w.layer_targets[size_t(l)] = w.layer_reached[size_t(l)] = cumulative;
        }
    } else {
        // Filling the last layer to the byte is for the flush that writes what remains.
        pcrd_opt(cs, trim_to_rate && all_ready(cs), tolerance);
    }

    if (w.layer_info_reserved > 0 && !w.header_generated) {
        // The sizes the layers will reach, as simulated.
        rv_write_layer_info_comment(cs, w, n, w.layer_reached.data(), w.layer_thresholds.data());
    }
    rv_generate_codestream(cs, n);

    int64_t cumulative = 0;
    for (int l = 0; l < n; l++) {
        cumulative += w.layer_sizes[size_t(l)];
        if (layer_bytes != nullptr && l < num_layer_specs)
            layer_bytes[l] = cumulative;
        if (layer_thresholds != nullptr && l < num_layer_specs)
            layer_thresholds[l] = w.layer_thresholds[size_t(l)];
    }
    if (!threshold_mode)
        std::fill(w.layer_thresholds.begin(), w.layer_thresholds.end(), uint16_t(0));
    if (open_last)
        w.layer_targets[size_t(n - 1)] = 0;
}

void rvd_codestream::set_max_bytes(int64_t max_bytes, bool simulate_parsing, bool allow_shorts)
{
    rv_codestream* cs = state;
    if (cs == nullptr)
        return;
    if (cs->in) {
        cs->simulate_parsing = simulate_parsing;
        if (max_bytes < cs->main_header_length)
            rv_raise_core_error("Attempting to impose too small a limit on the number of "
                                "code-stream bytes. " +
                                std::to_string(max_bytes) +
                                " bytes is insufficient to accomodate even the main header!");
        cs->in->set_max_bytes(max_bytes);
        return;
    }
    if (!cs->out)
        return;
    if (cs->wr.stats)
        rv_raise_core_error("\"rvd_codestream::set_max_bytes\" may not be called multiple "
                            "times.");
    int64_t samples = 0;
    for (const rv_comp_info& ci : cs->comp_info) {
        const int64_t h = rv_extent_at_depth(cs->canvas.pos.y, int64_t(cs->canvas.pos.y) + cs->canvas.size.y,
                                             ci.sub_sampling.y, 0);
        const int64_t wdt = rv_extent_at_depth(cs->canvas.pos.x, int64_t(cs->canvas.pos.x) + cs->canvas.size.x,
                                               ci.sub_sampling.x, 0);
        samples += h * wdt;
    }
    cs->wr.stats.reset(new rv_rate_stats);
    cs->wr.stats->init(max_bytes, samples, allow_shorts);
}

bool rvd_codestream::ready_for_flush(rvd_thread_env* env)
{
    rv_env_lock lock(env);
    rv_codestream* cs = state;
    if (cs == nullptr || !cs->out)
        return false;
    for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next) {
        rv_packet_sequencer* seq = t->rd.sequencer.get();
        if (!t->initialized || seq == nullptr || t->wr.complete)
            continue;
        seq->save_state();
        rv_resolution* res = nullptr;
        rvd_coords idx;
        uint64_t* ref = seq->next_packet(res, idx);
        bool ready = false;
        if (ref != nullptr) {
            if (*ref == 0)
                rv_create_precinct(res, ref);
            ready = rv_precinct::ref_in_memory(*ref) &&
                    rv_precinct::from_ref(*ref)->num_outstanding_blocks == 0;
        }
        seq->restore_state();
        if (ready)
            return true;
    }
    return false;
}

namespace {

// Bytes that every choice of layers writes: the main header and each tile's first header.
int64_t header_floor(rv_codestream* cs)
{
    int64_t n = main_header_bytes(cs);
    for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next)
        if (t->initialized) {
            rv_tpart_generator::instantiate_precincts(t);
            n += tile_header_bytes(t);
        }
    return n;
}

int64_t empty_tail_bytes(rv_codestream* cs, int layer)
{
    int64_t n = 0;
    for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next)
        if (t->initialized)
            n += empty_tail_bytes(t, layer);
    return n;
}

// Sizes layers 0 to count - 1 at their thresholds for writing, the empty packets after
// them left out; `cumulative[l]` receives the bytes up to layer l. Sizing starts afresh at
// layer 0 (packet lengths and every block's coding state), so a layer's bytes do not
// depend on how many layers follow it: these sums serve every count up to `count`.
void size_layers(rv_codestream* cs, const std::vector<uint16_t>& thresholds, int count,
                 std::vector<int64_t>& cumulative)
{
    cumulative.assign(size_t(count), 0);
    int64_t total = 0;
    for (int l = 0; l < count; l++) {
        total += rv_simulate_output(cs, l, thresholds[size_t(l)], true, false, no_limit);
        cumulative[size_t(l)] = total;
    }
}

// The most layers that fit `usable` bytes, with the empty packets of those after them;
// 0 when not one does.
int most_layers_within(rv_codestream* cs, const std::vector<int64_t>& cumulative, int64_t usable)
{
    for (int L = int(cumulative.size()); L >= 1; L--)
        if (cumulative[size_t(L - 1)] + empty_tail_bytes(cs, L - 1) <= usable)
            return L;
    return 0;
}

} // namespace

int rvd_codestream::trans_out(int64_t max_bytes, int64_t* layer_bytes, int layer_bytes_entries,
                              bool record_in_comseg, rvd_thread_env* env)
{
    rv_env_lock lock(env);
    rv_codestream* cs = state;
    if (cs == nullptr || !cs->out)
        return 0;
    complete_structures(cs);
    rv_codestream_writing& w = cs->wr;
    if (w.num_layer_specs == 0) {
        int n = 1;
        for (rv_tile* t = cs->output_head; t != nullptr; t = t->output_next)
            if (t->initialized)
                n = std::max(n, t->num_layers);
        w.num_layer_specs = n;
        w.layer_sizes.assign(size_t(n), 0);
        w.layer_targets.assign(size_t(n), 0);
        w.layer_reached.assign(size_t(n), 0);
        w.layer_thresholds.assign(size_t(n), 0);
        for (int l = 0; l < n; l++)
            w.layer_thresholds[size_t(l)] = uint16_t(65534 - std::min(l, 65534));
        w.layer_targets[size_t(n - 1)] = max_bytes > 0 ? max_bytes : (int64_t(1) << 52);
    }
    const int n = w.num_layer_specs;
    const int64_t budget = w.layer_targets[size_t(n - 1)];
    rv_add_version_comment(cs, w);
    if (record_in_comseg && !w.header_generated)
        rv_reserve_layer_info_comment(cs, w, n);
    int64_t usable = budget - (w.emit_eoc ? 2 : 0);
    for (int l = 0; l < n; l++)
        usable -= w.layer_sizes[size_t(l)];

    // The most layers whose packets (with the remaining ones left empty) fit. No choice
    // writes less than the headers, so a budget below them is refused without sizing.
    std::vector<uint16_t> original(w.layer_thresholds);
    std::vector<int64_t> reached;
    int chosen = 0;
    if (header_floor(cs) <= usable) {
        size_layers(cs, original, n, reached);
        chosen = most_layers_within(cs, reached, usable);
    }
    if (chosen == 0)
        rv_raise_core_error("You have set the byte limit too low.  All compressed data would have "
                            "to be discarded in the call to `rvd_codestream::trans_out'!");
    if (chosen < n) // the packets of the layers left out go back to empty ones
        size_layers(cs, original, chosen, reached);
    reached[size_t(chosen - 1)] += empty_tail_bytes(cs, chosen - 1);
    std::copy(reached.begin(), reached.begin() + chosen, w.layer_reached.begin());
    // Layers beyond the chosen ones repeat the last threshold: their packets are empty.
    for (int l = chosen; l < n; l++) {
        w.layer_thresholds[size_t(l)] = original[size_t(chosen - 1)];
        w.layer_reached[size_t(l)] = w.layer_reached[size_t(chosen - 1)];
    }
    if (w.layer_info_reserved > 0 && !w.header_generated)
        rv_write_layer_info_comment(cs, w, n, w.layer_reached.data(), w.layer_thresholds.data());
    rv_generate_codestream(cs, n);
    w.layer_thresholds = original;
    w.layer_targets[size_t(n - 1)] = budget;
    int64_t cumulative = 0, total = 0;
    for (int l = 0; l < n; l++)
        total += w.layer_sizes[size_t(l)];
    for (int l = 0; l < layer_bytes_entries && layer_bytes != nullptr; l++) {
        if (l < n)
            cumulative += w.layer_sizes[size_t(l)];
        layer_bytes[l] = l + 1 >= chosen ? total : cumulative;
    }
    return chosen;
}
