// Finding, creating and unloading tile records.
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_codestream.h"

rv_tile::rv_tile(rv_codestream* cs, rv_tile_ref* ref, rvd_coords idx, rvd_dims d)
    : codestream(cs), tile_ref(ref), t_idx(idx), t_num(cs->tnum_of(idx)), dims(d)
{
}

rv_tile::~rv_tile()
{
    rv_packet_reader::release_tile(this);
}

void rv_tile::reinitialize(rv_tile_ref* ref, rvd_coords idx, rvd_dims d)
{
    tile_ref = ref;
    t_idx = idx;
    t_num = codestream->tnum_of(idx);
    dims = d;
    rv_packet_reader::release_tile(this);
    is_open = closed = needs_reinitialization = has_header = false;
    is_unloadable = is_in_output_list = false;
    unloadable_prev = unloadable_next = output_prev = output_next = next_recycled = nullptr;
}

void rv_tile::add_to_unloadable_list()
{
    if (is_unloadable)
        return;
    rv_codestream* cs = codestream;
    unloadable_prev = cs->unloadable_tail;
    unloadable_next = nullptr;
    (cs->unloadable_tail == nullptr ? cs->unloadable_head : cs->unloadable_tail->unloadable_next) =
        this;
    cs->unloadable_tail = this;
    cs->num_unloadable_tiles++;
    is_unloadable = true;
    if (cs->unloadable_scan == nullptr && !dims.intersects(cs->region))
        cs->unloadable_scan = this;
}

void rv_tile::remove_from_unloadable_list()
{
    if (!is_unloadable)
        return;
    rv_codestream* cs = codestream;
    (unloadable_prev == nullptr ? cs->unloadable_head : unloadable_prev->unloadable_next) =
        unloadable_next;
    (unloadable_next == nullptr ? cs->unloadable_tail : unloadable_next->unloadable_prev) =
        unloadable_prev;
    if (cs->unloadable_scan == this)
        cs->unloadable_scan = unloadable_next;
    unloadable_prev = unloadable_next = nullptr;
    is_unloadable = false;
    cs->num_unloadable_tiles--;
}

void rv_tile::remove_from_output_list()
{
    if (!is_in_output_list)
        return;
    rv_codestream* cs = codestream;
    (output_prev == nullptr ? cs->output_head : output_prev->output_next) = output_next;
    (output_next == nullptr ? cs->output_tail : output_next->output_prev) = output_prev;
    output_prev = output_next = nullptr;
    is_in_output_list = false;
    cs->num_output_tiles--;
}

void rv_tile::unload() { destroy(true); }

rv_tile* rv_codestream::create_tile(rvd_coords idx)
{
    rv_tile_ref* ref = ref_of(idx);
    if (ref == nullptr)
        return nullptr;
    const rvd_dims d = tile_region(idx);
    const rvd_dims& fs = wr.fragment_span;
    const bool outside_fragment =
        out && wr.fragment_tiles_total > 0 &&
        (idx.y < fs.pos.y || idx.x < fs.pos.x || idx.y >= fs.pos.y + fs.size.y ||
         idx.x >= fs.pos.x + fs.size.x);
    if ((in && !persistent && !allow_restart && !d.intersects(region)) || outside_fragment) {
        ref->tile = rv_tile_expired();
        return ref->tile;
    }
    rv_tile* t;
    if (recycled_tiles != nullptr) {
        t = recycled_tiles;
        recycled_tiles = t->next_recycled;
        t->reinitialize(ref, idx, d);
    } else {
        t = new rv_tile(this, ref, idx, d);
    }
    ref->tile = t;
    try {
        t->recycle();
    } catch (...) {
        // Never leave a half-built tile linked: the reference is left empty, so the tile
        // is tried again when next touched.
        ref->tile = nullptr;
        t->release_tree();
        t->tile_ref = nullptr;
        t->next_recycled = recycled_tiles;
        recycled_tiles = t;
        throw;
    }
    if (out)
        add_to_output_list(t);
    return t;
}

void rv_codestream::unload_tiles_to_cache_threshold()
{
    while (num_unloadable_tiles > 0) {
        if (num_unloadable_tiles <= max_unloadable_tiles) {
            const int64_t memory = buf_server->get_full_groups() * RV_GROUP_PAYLOAD +
                                   buf_server->get_structure_bytes();
            if (memory <= buf_server->augment_cache_threshold(0))
                break;
        }
        while (unloadable_scan != nullptr && unloadable_scan->dims.intersects(region))
            unloadable_scan = unloadable_scan->unloadable_next;
        rv_tile* victim = unloadable_scan != nullptr ? unloadable_scan : unloadable_head;
        victim->unload();
    }
}

// ---------------------------------------------------------------------------------------
// Opening and closing; the tile tree itself is built when a tile is initialised.

rvd_tile rvd_codestream::open_tile(rvd_coords tile_idx, rvd_thread_env* env)
{
    rv_env_lock lock(env);
    rv_codestream* st = state;
    if (st == nullptr)
        return rvd_tile();
    st->tiles_accessed = true;
    tile_idx.from_apparent(st->transpose, st->vflip, st->hflip);
    rv_tile_ref* ref = st->ref_of(tile_idx);
    if (ref == nullptr)
        rv_raise_core_error("Attempting to access a tile which has already been discarded or "
                            "closed!");
    rv_tile* t = ref->tile;
    if (t == nullptr)
        t = st->create_tile(tile_idx);
    if (t == rv_tile_expired() || t->closed)
        rv_raise_core_error("Attempting to access a tile which has already been discarded or "
                            "closed!");
    if (t->is_open)
        rv_raise_core_error("You must close a tile before you can re-open it.");
    // A tile built without its header (not yet in the cache) asks the source again; a
    // tile whose earlier initialisation failed is tried again.
    if (!t->initialized || t->needs_reinitialization)
        t->initialize();
    if (st->persistent)
        t->apply_restrictions();
    if (st->in)
        rv_packet_reader::open_tile_precincts(t);
    t->remove_from_unloadable_list();
    t->is_open = true;
    st->num_open_tiles++;
    return rvd_tile(t);
}

void rvd_tile::close(rvd_thread_env* env)
{
    rv_env_lock lock(env);
    if (state == nullptr || !state->is_open)
        return;
    rv_codestream* cs = state->codestream;
    state->is_open = false;
    cs->num_open_tiles--;
    // In a persistent codestream only precincts that cannot be re-read stay; an
    // addressable one of a cached source is released so that later data is decoded.
    if (cs->in)
        rv_packet_reader::close_tile_precincts(state);
    rv_tile* t = state;
    state = nullptr;
    if (cs->persistent) {
        // Only a tile whose data can be read again may leave memory.
        const bool rereadable = !cs->in || cs->cached_source || cs->tpart_ptr_server;
        if (rereadable && cs->rd.current_tile != t) {
            t->add_to_unloadable_list();
            cs->unload_tiles_to_cache_threshold();
        }
    } else {
        t->closed = true;
        // Destroyed once all its packets are read; a tile that never had a header stays
        // closed, so that opening it again is refused.
        if (cs->in && t->rd.finished && t->has_header)
            rv_packet_reader::destroy_tile(t);
        else if (cs->in && !t->has_header && !cs->cached_source && !cs->allow_restart &&
                 cs->rd.current_tile != t) {
            // Nothing of it was read and its tile-parts met later are skipped: only the
            // refusal to open it again need stay, not a tree for each of up to 65535
            // tiles a header may claim.
            rv_tile_ref* ref = t->tile_ref;
            t->destroy(false);
            ref->tile = rv_tile_expired();
        }
    }
}

rvd_coords rvd_tile::get_tile_idx() const
{
    if (state == nullptr)
        return rvd_coords();
    rvd_coords idx = state->t_idx;
    const rv_codestream* cs = state->codestream;
    idx.to_apparent(cs->transpose, cs->vflip, cs->hflip);
    return idx;
}

int rvd_tile::get_tnum() const
{
    return state == nullptr ? -1 : state->t_num;
}
