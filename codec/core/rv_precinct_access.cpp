// Code-block and precinct access through the tile-tree handles.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_precinct.h"
#include "codec/core/rv_tile_reading.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_precinct.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_output.h"

namespace {

int floor_div(int64_t a, int64_t b)
{
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0)))
        q--;
    return int(q);
}

// The first resolution sample that reaches band sample u through the band's splits:
// a split at branch b maps u to 2u + b. Precinct k starts at a band sample u exactly
// when this position is at least its start, P0 + k S.
void to_resolution(const rv_subband* band, int64_t& y, int64_t& x)
{
    const rv_node* top = &band->resolution->node;
    for (const rv_node* n = band; n != nullptr && n != top; n = n->parent) {
        if (n->branch_y != 2)
            y = 2 * y + n->branch_y;
        if (n->branch_x != 2)
            x = 2 * x + n->branch_x;
    }
}

// The reference of the precinct holding a real block index; null outside the tile.
uint64_t* precinct_ref_of(rv_subband* band, rvd_coords block_idx)
{
    rv_resolution* res = band->resolution;
    const rvd_dims& bp = band->block_partition;
    rvd_dims cell(rvd_coords(bp.pos.y + block_idx.y * bp.size.y, bp.pos.x + block_idx.x * bp.size.x),
                  bp.size);
    cell &= band->dims;
    if (cell.is_empty())
        return nullptr;
    const rvd_dims& pp = res->precinct_partition;
    int64_t y = cell.pos.y, x = cell.pos.x;
    to_resolution(band, y, x);
    const int py = floor_div(y - pp.pos.y, pp.size.y) - res->precinct_indices.pos.y;
    const int px = floor_div(x - pp.pos.x, pp.size.x) - res->precinct_indices.pos.x;
    if (py < 0 || px < 0 || py >= res->precinct_indices.size.y || px >= res->precinct_indices.size.x)
        return nullptr;
    return &res->precinct_refs[size_t(py) * size_t(res->precinct_indices.size.x) + size_t(px)];
}

rv_precinct* precinct_for_open(rv_resolution* res, uint64_t* ref)
{
    const uint64_t v = *ref;
    if (rv_precinct::ref_in_memory(v)) {
        rv_precinct* p = rv_precinct::from_ref(v);
        if (p->inactive || p->released)
            rv_activate_precinct(p);
        return p;
    }
    if (v == RV_PRECINCT_RELEASED_FOR_GOOD)
        rv_raise_core_error("You are permitted to open each code-block only once from an open "
                            "tile before closing that tile.  If the codestream object is marked "
                            "as persistent, you may re-open code-blocks only after re-opening "
                            "their containing tiles.");
    return rv_create_precinct(res, ref);
}

// Reads what the precinct still lacks (open_block step 3).
void bring_up_to_date(rv_precinct* p)
{
    rv_codestream* cs = p->codestream();
    rv_tile* t = p->tile();
    if (cs->cached_source && t->needs_reinitialization)
        return; // the tile header is not in the cache yet: no packets
    if (p->num_layers_parsed >= p->required_layers)
        return;
    cs->rd.opening = p;
    try {
        rv_packet_reader::read_precinct(p);
    } catch (...) {
        cs->rd.opening = nullptr;
        throw;
    }
    cs->rd.opening = nullptr;
}

} // namespace

namespace {

// Opening steps 1 to 6 into `out`; the caller holds lock 0 when threads are involved.
rvd_block* open_into(rv_subband* band, rvd_coords block_idx, int* return_tpart, rvd_block* out,
                     rv_precinct*& p_out, rv_precinct_block*& state_out)
{
    rv_resolution* res = band->resolution;
    rv_tile_comp* tc = res->tile_comp;
    rv_tile* t = tc->tile;
    rv_codestream* cs = res->codestream;
    block_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    uint64_t* ref = precinct_ref_of(band, block_idx);
    if (ref == nullptr)
        rv_raise_core_error("Attempting to open a code-block which lies outside its subband.");
    rv_precinct* p = precinct_for_open(res, ref);
    bring_up_to_date(p);
    const int band_idx = int(band - res->subbands.data());
    rv_precinct_block* blk = p->block_to_read(band_idx, block_idx);
    if (blk == nullptr)
        rv_raise_core_error("Attempting to open a code-block which lies outside its subband.");

    const rvd_dims& bp = band->block_partition;
    rvd_dims cell(rvd_coords(bp.pos.y + block_idx.y * bp.size.y, bp.pos.x + block_idx.x * bp.size.x),
                  bp.size);
    cell &= band->dims;
    rvd_dims roi = cell & band->region;
    roi.pos.y -= cell.pos.y;
    roi.pos.x -= cell.pos.x;
    if (roi.is_empty())
        roi = rvd_dims(rvd_coords(0, 0), rvd_coords(0, 0));
    out->size = cell.size;
    out->region = roi;
    out->modes = t->rd.comp_modes.empty() ? 0 : t->rd.comp_modes[size_t(tc->cnum)];
    out->orientation = (band->branch_x == 1 ? 1 : 0) + (band->branch_y == 1 ? 2 : 0);
    if (res->res_level == 0)
        out->orientation = 0;
    out->magnitude_planes = band->K_max_prime;
    out->transpose = cs->transpose;
    out->vflip = cs->vflip;
    out->hflip = cs->hflip;
    out->resilient = cs->resilient;
    out->fussy = cs->fussy;
    out->timing_repeats = cs->coder_iterations;
    const int tf = cs->block_truncation_factor;
    int left_out = 0;
    if (tf > 0) {
        left_out = tf / 256;
        if ((res->res_level + res->dwt_level) * (tf % 256) > 256 * res->dwt_level)
            left_out++;
    }
    // Copied under the lock too: another thread's sequential reading may still append
    // later layers to the chains of this precinct.
    blk->retrieve_data(out, p->required_layers, left_out, rv_packet_reader::bodies_by_pointer(cs));
    p_out = p;
    state_out = blk;
    if (return_tpart != nullptr)
        *return_tpart = t->rd.num_tparts_read - 1;
    return out;
}

// Output: the precinct's block at a real band and block index, its record empty for
// the encoder to fill.
rvd_block* open_output_block(rv_precinct* p, int band_idx, rvd_coords block_idx, rvd_block* out,
                             rv_precinct_block*& state_out)
{
    rv_resolution* res = p->resolution;
    rv_tile_comp* tc = res->tile_comp;
    rv_tile* t = tc->tile;
    rv_codestream* cs = res->codestream;
    rv_precinct_block* blk = p->find_block(band_idx, block_idx);
    if (blk == nullptr)
        rv_raise_core_error("Attempting to open a code-block which lies outside its subband.");
    if (blk->first_buf != nullptr)
        rv_raise_core_error("Attempting to open the same code-block more than once for writing!");
    const rv_subband* band = &res->subbands[size_t(band_idx)];
    const rvd_dims& bp = band->block_partition;
    rvd_dims cell(rvd_coords(bp.pos.y + block_idx.y * bp.size.y, bp.pos.x + block_idx.x * bp.size.x),
                  bp.size);
    cell &= band->dims;
    out->size = cell.size;
    out->region = rvd_dims(rvd_coords(0, 0), cell.size);
    out->modes = t->rd.comp_modes.empty() ? 0 : t->rd.comp_modes[size_t(tc->cnum)];
    out->orientation = res->res_level == 0
                           ? 0
                           : (band->branch_x == 1 ? 1 : 0) + (band->branch_y == 1 ? 2 : 0);
    out->magnitude_planes = band->K_max_prime;
    out->missing_msbs = 0;
    out->num_passes = 0;
    out->transpose = cs->transpose;
    out->vflip = cs->vflip;
    out->hflip = cs->hflip;
    out->resilient = out->fussy = false;
    state_out = blk;
    return out;
}

rvd_block* open_for_output(rv_subband* band, rvd_coords block_idx, rvd_block* out,
                           rv_precinct*& p_out, rv_precinct_block*& state_out)
{
    rv_resolution* res = band->resolution;
    rv_codestream* cs = res->codestream;
    block_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    uint64_t* ref = precinct_ref_of(band, block_idx);
    if (ref == nullptr)
        rv_raise_core_error("Attempting to open a code-block which lies outside its subband.");
    rv_precinct* p = precinct_for_open(res, ref);
    p_out = p;
    return open_output_block(p, int(band - res->subbands.data()), block_idx, out, state_out);
}

// Output: the coded passes go into the precinct; rate statistics learn of them.
void close_for_output(rv_codestream* cs, rv_precinct* p, rv_precinct_block* blk,
                      const rvd_block* block)
{
    blk->store_data(block, cs->buf_server.get());
    rv_complete_output_closing(p);
    rv_rate_stats* stats = cs->wr.stats.get();
    if (stats == nullptr)
        return;
    const bool trim = stats->update(block);
    stats->find_thresholds();
    if (trim)
        rv_trim_compressed_data(cs, stats->trimming_threshold());
}

} // namespace

void rv_complete_output_closing(rv_precinct* p)
{
    if (p->num_outstanding_blocks > 0 && --p->num_outstanding_blocks == 0)
        rv_precinct_ready(p);
}

rvd_block* rvd_subband::open_block(rvd_coords block_idx, int* return_tpart,
                                   rvd_thread_env* env) const
{
    rv_codestream* cs = state->resolution->codestream;
    if (!cs->in) {
        if (return_tpart != nullptr)
            *return_tpart = 0;
        if (env == nullptr)
            return open_for_output(state, block_idx, &cs->rd.block, cs->rd.block_precinct,
                                   cs->rd.block_state);
        rv_thread_codestream_state* st = env->get_state();
        rv_env_lock lock(env);
        st->use_codestream(cs);
        return open_for_output(state, block_idx, &st->block, st->open_precinct, st->open_state);
    }
    if (env == nullptr)
        return open_into(state, block_idx, return_tpart, &cs->rd.block, cs->rd.block_precinct,
                         cs->rd.block_state);
    rv_thread_codestream_state* st = env->get_state();
    rv_env_lock lock(env);
    st->use_codestream(cs);
    return open_into(state, block_idx, return_tpart, &st->block, st->open_precinct,
                     st->open_state);
}

void rv_complete_block_closing(rv_precinct* p, rv_precinct_block* blk)
{
    rv_codestream* cs = p->codestream();
    if (!cs->persistent) {
        // Later packets of the block are still parsed, to stay in step, but not kept.
        blk->release_chain(cs->buf_server.get());
        blk->passes_kept = 255;
    }
    if (p->num_outstanding_blocks > 0)
        p->num_outstanding_blocks--;
    if (p->num_outstanding_blocks == 0 && p->fully_read) {
        if (!p->addressable) {
            if (!cs->persistent)
                rv_release_precinct(p);
        } else {
            const bool all_or_none =
                p->num_layers_parsed <= 0 || p->num_layers_parsed >= p->tile()->num_layers;
            if (all_or_none && !cs->cached_source)
                rv_park_precinct(p);
            else
                rv_release_precinct(p);
        }
    }
}

void rvd_subband::close_block(rvd_block* block, rvd_thread_env* env) const
{
    rv_codestream* cs = state->resolution->codestream;
    if (block != nullptr && block->timing_total + block->timed_samples != 0) {
        // Gathered here rather than read from the records later: each thread has its own.
        cs->coder_nanoseconds += block->timing_total;
        cs->coder_samples += block->timed_samples;
        block->timing_total = 0;
        block->timed_samples = 0;
    }
    if (!cs->in) {
        rv_precinct*& pr = env == nullptr ? cs->rd.block_precinct : env->get_state()->open_precinct;
        rv_precinct_block*& bs = env == nullptr ? cs->rd.block_state : env->get_state()->open_state;
        rvd_block* mine = env == nullptr ? &cs->rd.block : &env->get_state()->block;
        if (block != mine || pr == nullptr)
            return;
        rv_precinct* p = pr;
        rv_precinct_block* blk = bs;
        pr = nullptr;
        bs = nullptr;
        if (env == nullptr)
            close_for_output(cs, p, blk, block);
        else
            env->get_state()->close_output_block(p, blk, block);
        return;
    }
    if (env != nullptr) {
        // The precinct bookkeeping waits in one of the thread's slots.
        rv_thread_codestream_state* st = env->get_state();
        rv_precinct* p = st->open_precinct;
        if (block != &st->block || p == nullptr)
            return;
        rv_precinct_block* blk = st->open_state;
        st->open_precinct = nullptr;
        st->open_state = nullptr;
        st->defer_closing(p, blk);
        return;
    }
    rv_precinct* p = cs->rd.block_precinct;
    rv_precinct_block* blk = cs->rd.block_state;
    if (block != &cs->rd.block || p == nullptr)
        return;
    cs->rd.block_precinct = nullptr;
    cs->rd.block_state = nullptr;
    rv_complete_block_closing(p, blk);
}

int rvd_resolution::get_precinct_packets(rvd_coords p_idx, bool parse_if_necessary) const
{
    rv_resolution* res = state;
    rv_codestream* cs = res->codestream;
    rv_tile* t = res->tile_comp->tile;
    if (!cs->in)
        return t->num_layers;
    p_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    const int py = p_idx.y - res->precinct_indices.pos.y, px = p_idx.x - res->precinct_indices.pos.x;
    if (py < 0 || px < 0 || py >= res->precinct_indices.size.y || px >= res->precinct_indices.size.x)
        return 0;
    uint64_t* ref = &res->precinct_refs[size_t(py) * size_t(res->precinct_indices.size.x) + size_t(px)];
    if (rv_precinct::ref_in_memory(*ref) && !parse_if_necessary)
        return std::max(0, rv_precinct::from_ref(*ref)->num_layers_parsed);
    if (!parse_if_necessary)
        return 0;
    if (*ref == RV_PRECINCT_RELEASED_FOR_GOOD)
        rv_raise_core_error("The precinct you are trying to access via "
                            "`rvd_resolution::get_precinct_packets' is no longer available, "
                            "probably because you already fully accessed its visible contents, "
                            "causing it to be recycled.");
    rv_precinct* p = precinct_for_open(res, ref);
    bring_up_to_date(p);
    const int n = std::max(0, p->num_layers_parsed);
    if (p->num_outstanding_blocks == 0 && p->fully_read && !p->inactive) {
        if (p->addressable && !cs->cached_source)
            rv_park_precinct(p);
        else if (p->addressable || !cs->persistent)
            rv_release_precinct(p);
    }
    return n;
}


// ---------------------------------------------------------------------------------------
// Precincts of interchange codestreams.

rvd_precinct rvd_resolution::open_precinct(rvd_coords p_idx) const
{
    rv_resolution* res = state;
    rv_codestream* cs = res->codestream;
    if (cs->in || cs->out)
        rv_raise_core_error("Calls to `rvd_resolution::open_precinct' are permitted only with "
                            "interchange codestream objects (i.e., those which have neither a "
                            "compressed data source nor a compressed data target).");
    p_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    const int py = p_idx.y - res->precinct_indices.pos.y, px = p_idx.x - res->precinct_indices.pos.x;
    if (py < 0 || px < 0 || py >= res->precinct_indices.size.y || px >= res->precinct_indices.size.x)
        return rvd_precinct();
    uint64_t* ref = &res->precinct_refs[size_t(py) * size_t(res->precinct_indices.size.x) + size_t(px)];
    return rvd_precinct(precinct_for_open(res, ref));
}

int64_t rvd_precinct::get_unique_id() const
{
    if (state == nullptr)
        return -1;
    rv_resolution* res = state->resolution;
    rvd_coords idx(res->precinct_indices.pos.y + state->idx.y, res->precinct_indices.pos.x + state->idx.x);
    const rv_codestream* cs = res->codestream;
    idx.to_apparent(cs->transpose, cs->vflip, cs->hflip);
    return rvd_resolution(res).get_precinct_id(idx);
}

bool rvd_precinct::check_loaded() const
{
    return state != nullptr && state->num_outstanding_blocks == 0;
}

namespace {

// The real band of an apparent band index: numbered from 1 above level 0, swapped with
// its partner in a transposed view.
int real_band(const rv_precinct* p, int band_idx)
{
    const rv_resolution* res = p->resolution;
    int b = res->res_level == 0 ? band_idx : band_idx - 1;
    if (b < 0 || b >= p->num_bands)
        return -1;
    if (res->codestream->transpose)
        b = res->subbands[size_t(b)].transpose_band_idx;
    return b;
}

} // namespace

bool rvd_precinct::get_valid_blocks(int band_idx, rvd_dims& indices) const
{
    const int b = state == nullptr ? -1 : real_band(state, band_idx);
    if (b < 0)
        return false;
    indices = state->bands[b].block_indices;
    const rv_codestream* cs = state->resolution->codestream;
    indices.transpose_and_flip(cs->transpose, cs->vflip, cs->hflip);
    return !indices.is_empty();
}

rvd_block* rvd_precinct::open_block(int band_idx, rvd_coords block_idx, rvd_thread_env* env)
{
    const int b = state == nullptr ? -1 : real_band(state, band_idx);
    if (b < 0)
        rv_raise_core_error("Attempting to open a code-block which lies outside its subband.");
    rv_codestream* cs = state->resolution->codestream;
    block_idx.from_apparent(cs->transpose, cs->vflip, cs->hflip);
    if (env == nullptr) {
        cs->rd.block_precinct = state;
        return open_output_block(state, b, block_idx, &cs->rd.block, cs->rd.block_state);
    }
    rv_thread_codestream_state* st = env->get_state();
    rv_env_lock lock(env);
    st->use_codestream(cs);
    st->open_precinct = state;
    return open_output_block(state, b, block_idx, &st->block, st->open_state);
}

void rvd_precinct::close_block(rvd_block* block, rvd_thread_env* env)
{
    if (state == nullptr)
        return;
    rvd_subband(&state->resolution->subbands[0]).close_block(block, env);
}

void rvd_precinct::close()
{
    if (state != nullptr && state->num_outstanding_blocks == 0)
        rv_release_precinct(state);
    state = nullptr;
}

bool rvd_precinct::size_packets(int& cumulative_packets, int& cumulative_bytes, bool& is_significant)
{
    return state != nullptr &&
           rv_tpart_generator::size_packets(state, cumulative_packets, cumulative_bytes,
                                            is_significant);
}

bool rvd_precinct::get_packets(int leading_skip_packets, int leading_skip_bytes,
                               int& cumulative_packets, int& cumulative_bytes, rvd_output* out)
{
    return state != nullptr &&
           rv_tpart_generator::get_packets(state, leading_skip_packets, leading_skip_bytes,
                                           cumulative_packets, cumulative_bytes, out);
}

void rvd_precinct::restart()
{
    if (state != nullptr && state->num_outstanding_blocks == 0) {
        state->ic_packets = 0;
        state->ic_bytes = 0;
        state->ic_significant = false;
        state->ic_output = false;
        state->sim_layers = 0;
    }
}
