// Precinct records: size-class pools, creation, activation, parking and release.
#include "codec/core/rv_precinct.h"

#include "codec/core/rv_codestream.h"
#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rv_sparse_blocks.h"
#include "codec/core/rvd_params.h"

#include <algorithm>
#include <new>

namespace {

size_t round8(size_t n)
{
    return (n + 7) & ~size_t(7);
}

// The precinct's cell at its resolution, clipped to the resolution.
rvd_dims precinct_cell(const rv_resolution* res, rvd_coords idx)
{
    const rvd_dims& part = res->precinct_partition;
    rvd_dims cell;
    cell.pos.y = part.pos.y + (res->precinct_indices.pos.y + idx.y) * part.size.y;
    cell.pos.x = part.pos.x + (res->precinct_indices.pos.x + idx.x) * part.size.x;
    cell.size = part.size;
    return cell & res->dims;
}

// The precinct's code-blocks within one band: the cell taken down every split between
// the resolution's node and the band.
rvd_dims band_blocks(const rv_resolution* res, const rv_subband& band, const rvd_dims& cell)
{
    const rv_node* path[32];
    int depth = 0;
    for (const rv_node* n = &band; n != nullptr && n != &res->node && depth < 32; n = n->parent)
        path[depth++] = n;
    rvd_dims reg = cell;
    while (depth > 0) {
        const rv_node* n = path[--depth];
        reg = rv_get_child_dims(reg, n->branch_x, n->branch_y);
    }
    reg &= band.dims;
    if (reg.is_empty())
        return rvd_dims(band.dims.pos, rvd_coords());
    return rv_get_partition_indices(band.block_partition, reg);
}

int nodes_of(const rv_resolution* res, rvd_coords idx)
{
    const rvd_dims cell = precinct_cell(res, idx);
    int n = 0;
    for (const rv_subband& band : res->subbands) {
        const rvd_dims b = band_blocks(res, band, cell);
        n += rv_tag_tree_nodes(b.size.y, b.size.x);
    }
    return n;
}

// The largest state any precinct of the level needs: the top-left precincts are the
// only ones that can be cut differently from the rest.
int max_nodes_of(const rv_resolution* res)
{
    const rvd_coords n = res->precinct_indices.size;
    int most = 0;
    for (int y = 0; y < std::min(2, n.y); y++)
        for (int x = 0; x < std::min(2, n.x); x++)
            most = std::max(most, nodes_of(res, rvd_coords(y, x)));
    return most;
}

int64_t unique_id(const rv_resolution* res, rvd_coords idx)
{
    const rv_tile_comp* tc = res->tile_comp;
    const rv_tile* t = tc->tile;
    const rv_codestream* cs = res->codestream;
    int64_t p = int64_t(idx.y) * res->precinct_indices.size.x + idx.x;
    for (int r = 0; r < res->res_level; r++) {
        const rvd_coords n = tc->resolutions[size_t(r)].precinct_indices.size;
        p += int64_t(n.y) * n.x;
    }
    const int64_t num_tiles = int64_t(cs->num_tiles.y) * cs->num_tiles.x;
    return (p * int64_t(t->comps.size()) + tc->cnum) * num_tiles + t->t_num;
}

bool is_accessible(const rv_resolution* res)
{
    const rv_tile_comp* tc = res->tile_comp;
    return tc->enabled && res->res_level <= tc->apparent_dwt_levels;
}

// Releases parked precincts, oldest first, while memory is above the cache threshold.
void trim_inactive(rv_codestream* cs)
{
    rv_buffer_server* bs = cs->buf_server.get();
    while (cs->rd.pool.inactive_head != nullptr) {
        const int64_t memory = bs->get_full_groups() * RV_GROUP_PAYLOAD + bs->get_structure_bytes();
        if (memory <= bs->augment_cache_threshold(0))
            break;
        rv_release_precinct(cs->rd.pool.inactive_head);
    }
}

// Precincts needing more block states than this are held sparsely when read.
const int sparse_threshold = 64;

// Lays the bands' tag trees out from `nodes`, each node carrying the precinct's modes.
void build_blocks(rv_precinct* p, rv_precinct_block* nodes)
{
    for (int b = 0; b < p->num_bands; b++) {
        rv_precinct_band& pb = p->bands[b];
        pb.blocks = nodes;
        const int rows = pb.block_indices.size.y, cols = pb.block_indices.size.x;
        if (rows < 1 || cols < 1)
            continue;
        rv_precinct_block* first = rv_precinct_block::build_tree(cols, rows, nodes);
        for (rv_precinct_block* n = first; n != nodes; n++)
            n->modes = p->block_modes;
    }
}

// A record from the server's free list, or a new one; counted in the codestream's structure bytes.
void* take_record(rv_codestream* cs, rv_precinct_server* srv)
{
    void* mem = srv->free_list;
    if (mem != nullptr)
        srv->free_list = *static_cast<void**>(mem);
    else {
        mem = ::operator new(srv->record_bytes, std::nothrow);
        if (mem == nullptr)
            rv_raise_core_error("Heap exhausted.  Unable to allocate sufficient memory for "
                                "code-block state information.");
    }
    cs->buf_server->augment_structure_bytes(int64_t(srv->record_bytes));
    return mem;
}

} // namespace

int rv_tag_tree_nodes(int rows, int cols)
{
    if (rows < 1 || cols < 1)
        return 0;
    int n = 0;
    for (;;) {
        n += rows * cols;
        if (rows == 1 && cols == 1)
            return n;
        rows = (rows + 1) / 2;
        cols = (cols + 1) / 2;
    }
}

rv_precinct_pool::~rv_precinct_pool()
{
    for (auto& kv : servers)
        while (kv.second.free_list != nullptr) {
            void* rec = kv.second.free_list;
            kv.second.free_list = *static_cast<void**>(rec);
            ::operator delete(rec);
        }
}

rv_precinct_server* rv_precinct_pool::server_for(int num_bands, int max_nodes)
{
    rv_precinct_server& s = servers[std::make_pair(num_bands, max_nodes)];
    if (s.record_bytes == 0) {
        s.num_bands = num_bands;
        s.max_nodes = max_nodes;
        s.record_bytes = round8(sizeof(rv_precinct)) + round8(sizeof(rv_precinct_band) * size_t(num_bands)) +
                         sizeof(rv_precinct_block) * size_t(max_nodes);
    }
    return &s;
}

rv_tile* rv_precinct::tile() const
{
    return resolution->tile_comp->tile;
}

rv_codestream* rv_precinct::codestream() const
{
    return resolution->codestream;
}

int rv_precinct::num_blocks() const
{
    int n = 0;
    for (int b = 0; b < num_bands; b++)
        n += bands[b].block_indices.size.y * bands[b].block_indices.size.x;
    return n;
}

rv_precinct_block* rv_precinct::find_block(int band_idx, rvd_coords block_idx) const
{
    if (band_idx < 0 || band_idx >= num_bands)
        return nullptr;
    const rv_precinct_band& pb = bands[band_idx];
    const int y = block_idx.y - pb.block_indices.pos.y, x = block_idx.x - pb.block_indices.pos.x;
    if (y < 0 || x < 0 || y >= pb.block_indices.size.y || x >= pb.block_indices.size.x)
        return nullptr;
    return pb.blocks + y * pb.block_indices.size.x + x;
}

rv_precinct_block* rv_precinct::block_to_read(int band_idx, rvd_coords block_idx)
{
    if (!held_sparsely)
        return find_block(band_idx, block_idx);
    if (band_idx < 0 || band_idx >= num_bands)
        return nullptr;
    const rvd_dims& d = bands[band_idx].block_indices;
    const int y = block_idx.y - d.pos.y, x = block_idx.x - d.pos.x;
    if (y < 0 || x < 0 || y >= d.size.y || x >= d.size.x)
        return nullptr;
    if (sparse != nullptr)
        if (rv_precinct_block* blk = sparse->find(band_idx, 0, y, x))
            return blk;
    empty_block->reset();
    empty_block->modes = block_modes;
    return empty_block;
}

int rv_count_blocks_to_close(const rv_precinct* p)
{
    if (!is_accessible(p->resolution) || p->tile()->closed)
        return 0;
    int n = 0;
    for (int b = 0; b < p->num_bands; b++) {
        const rvd_dims d = p->bands[b].block_indices & p->bands[b].subband->block_indices;
        if (!d.is_empty() && !p->bands[b].subband->region.is_empty())
            n += d.size.y * d.size.x;
    }
    return n;
}

rv_precinct* rv_create_precinct(rv_resolution* res, uint64_t* ref)
{
    rv_codestream* cs = res->codestream;
    rv_tile* t = res->tile_comp->tile;
    const uint64_t old = *ref;
    const uint64_t i = res->precinct_refs.index_of(ref);
    const int cols = res->precinct_indices.size.x;
    const rvd_coords idx(int(i / size_t(cols)), int(i % size_t(cols)));
    const int num_bands = int(res->subbands.size());
    const int need = nodes_of(res, idx);
    // Read precincts of more than a few blocks make their states when data arrives.
    const bool sparse_held = cs->in != nullptr && need > sparse_threshold;
    rv_precinct_server* srv = cs->rd.pool.server_for(
        num_bands, sparse_held ? 1 : std::max(need, max_nodes_of(res)));

    trim_inactive(cs);
    void* mem = take_record(cs, srv);

    uint8_t* base = static_cast<uint8_t*>(mem);
    rv_precinct* p = new (base) rv_precinct();
    p->server = srv;
    p->bands = reinterpret_cast<rv_precinct_band*>(base + round8(sizeof(rv_precinct)));
    rv_precinct_block* nodes = reinterpret_cast<rv_precinct_block*>(
        base + round8(sizeof(rv_precinct)) + round8(sizeof(rv_precinct_band) * size_t(num_bands)));
    p->resolution = res;
    p->ref = ref;
    p->idx = idx;
    p->corrupted = p->fully_read = p->addressable = p->released = p->inactive = false;
    p->relevant = true;
    if (!cs->persistent) {
        const rvd_coords abs(res->precinct_indices.pos.y + idx.y, res->precinct_indices.pos.x + idx.x);
        const rvd_dims& v = res->region_indices;
        if (!is_accessible(res) || abs.y < v.pos.y || abs.x < v.pos.x ||
            abs.y >= v.pos.y + v.size.y || abs.x >= v.pos.x + v.size.x)
            p->relevant = false;
    }
    p->required_layers = t->rd.num_relevant_layers;
    p->num_packets_read = 0;
    p->num_layers_parsed = 0;
    p->unique_address = 0;
    p->prev = p->next = nullptr;
    p->num_bands = num_bands;

    const int modes = t->rd.comp_modes.empty() ? 0 : t->rd.comp_modes[size_t(res->tile_comp->cnum)];
    const rvd_dims cell = precinct_cell(res, idx);
    for (int b = 0; b < num_bands; b++) {
        rv_precinct_band& pb = p->bands[b];
        pb.subband = &res->subbands[size_t(b)];
        pb.block_indices = band_blocks(res, *pb.subband, cell);
        pb.blocks = nullptr;
    }
    p->block_modes = uint8_t(modes);
    if (sparse_held) {
        p->held_sparsely = true;
        p->empty_block = new (nodes) rv_precinct_block();
    } else {
        build_blocks(p, nodes);
    }

    if (old != 0 && (old & 1) != 0 && old != RV_PRECINCT_RELEASED_FOR_GOOD) {
        p->addressable = true;
        p->unique_address = int64_t(old) >> 1; // complemented ids are negative
        p->fully_read = true;
        p->num_packets_read = t->num_layers;
    } else if (cs->cached_source) {
        p->addressable = true;
        p->unique_address = ~unique_id(res, idx);
        p->fully_read = true;
        p->num_packets_read = t->num_layers;
    }
    p->num_outstanding_blocks = p->relevant ? rv_count_blocks_to_close(p) : 0;
    *ref = p->as_ref();
    if (cs->out && p->num_outstanding_blocks == 0)
        rv_precinct_ready(p); // nothing to code: waits for output at once
    return p;
}

void rv_make_precinct_blocks(rv_precinct* p)
{
    if (!p->held_sparsely || p->sparse != nullptr)
        return;
    p->sparse = new (std::nothrow) rv_sparse_blocks(p->block_modes);
    if (p->sparse == nullptr)
        rv_raise_core_error("Heap exhausted.  Unable to allocate sufficient memory for "
                            "code-block state information.");
    p->codestream()->buf_server->augment_structure_bytes(int64_t(p->sparse->bytes()));
}

void rv_unlink_inactive(rv_precinct* p)
{
    if (!p->inactive)
        return;
    rv_precinct_pool& pool = p->codestream()->rd.pool;
    (p->prev == nullptr ? pool.inactive_head : p->prev->next) = p->next;
    (p->next == nullptr ? pool.inactive_tail : p->next->prev) = p->prev;
    p->prev = p->next = nullptr;
    p->inactive = false;
}

void rv_park_precinct(rv_precinct* p)
{
    if (p->inactive)
        return;
    rv_precinct_pool& pool = p->codestream()->rd.pool;
    p->prev = pool.inactive_tail;
    p->next = nullptr;
    (pool.inactive_tail == nullptr ? pool.inactive_head : pool.inactive_tail->next) = p;
    pool.inactive_tail = p;
    p->inactive = true;
}

void rv_activate_precinct(rv_precinct* p)
{
    const bool was_parked = p->inactive;
    rv_unlink_inactive(p);
    if (was_parked || p->released) {
        p->released = false;
        p->required_layers = p->tile()->rd.num_relevant_layers;
        p->num_outstanding_blocks = rv_count_blocks_to_close(p);
    }
}

void rv_precinct_ready(rv_precinct* p)
{
    if (rv_rescomp_progress* rec = rv_progress_of(p->resolution))
        rec->add_ready_precinct(p);
}

void rv_release_precinct(rv_precinct* p)
{
    rv_codestream* cs = p->codestream();
    rv_unlink_inactive(p);
    if (p->ready)
        if (rv_rescomp_progress* rec = rv_progress_of(p->resolution))
            rec->unlink(p);
    rv_buffer_server* bs = cs->buf_server.get();
    for (int b = 0; b < p->num_bands && !p->held_sparsely; b++) {
        rv_precinct_band& pb = p->bands[b];
        const int n = pb.block_indices.size.y * pb.block_indices.size.x;
        for (int k = 0; k < n && pb.block_indices.size.x > 0; k++)
            pb.blocks[k].release_chain(bs);
    }
    if (p->sparse != nullptr) {
        p->sparse->release_chains(bs);
        bs->augment_structure_bytes(-int64_t(p->sparse->bytes()));
        delete p->sparse;
        p->sparse = nullptr;
    }
    if (p->ref != nullptr) {
        if (p->addressable) {
            // Addresses are positions past SOC and SIZ, or complemented ids: never the
            // word that means "released for good".
            const uint64_t r = (uint64_t(p->unique_address) << 1) | 1;
            *p->ref = r == RV_PRECINCT_RELEASED_FOR_GOOD ? uint64_t(1) : r;
        } else {
            *p->ref = RV_PRECINCT_RELEASED_FOR_GOOD;
        }
        p->ref = nullptr;
    }
    rv_precinct_server* srv = p->server;
    bs->augment_structure_bytes(-int64_t(srv->record_bytes));
    p->~rv_precinct();
    void* mem = p;
    *static_cast<void**>(mem) = srv->free_list;
    srv->free_list = mem;
}

void rv_release_tile_precincts(rv_tile* t)
{
    for (rv_tile_comp& tc : t->comps)
        for (rv_resolution& res : tc.resolutions)
            for (uint64_t& ref : res.precinct_refs) {
                if (rv_precinct::ref_in_memory(ref))
                    rv_release_precinct(rv_precinct::from_ref(ref));
                ref = 0;
            }
}
