#include "codec/core/rv_rescomp_progress.h"

#include "codec/core/rv_codestream.h"
#include "codec/core/rv_precinct.h"

#include <algorithm>

int64_t rv_extent_at_depth(int64_t a, int64_t b, int s, int d)
{
    const int64_t hi = rvd_ceil_ratio64(b, s), lo = rvd_ceil_ratio64(a, s);
    return rvd_ceil_ratio64(hi, int64_t(1) << d) - rvd_ceil_ratio64(lo, int64_t(1) << d);
}

int64_t rv_rescomp_progress::area_of(const rvd_dims& r) const
{
    if (r.is_empty())
        return 0;
    const rv_comp_info& ci = codestream->comp_info[static_cast<size_t>(comp_idx)];
    const int64_t ey = rv_extent_at_depth(r.pos.y, int64_t(r.pos.y) + r.size.y,
                                          ci.sub_sampling.y, ci.vert_depth[depth]);
    const int64_t ex = rv_extent_at_depth(r.pos.x, int64_t(r.pos.x) + r.size.x,
                                          ci.sub_sampling.x, ci.hor_depth[depth]);
    return ey * ex;
}

void rv_rescomp_progress::initialize(rv_codestream* cs, int d, int c)
{
    close_all();
    codestream = cs;
    depth = d;
    comp_idx = c;
    total_area = area_of(cs->region);
    remaining_area = total_area;
    used_area = seen_area = ready_area = 0;
    ready_fraction = reciprocal_fraction = -1.0;
}

void rv_rescomp_progress::notify_tile_status(const rvd_dims& tile_dims, bool tile_has_resolution)
{
    const int64_t a = area_of(tile_dims & codestream->region);
    seen_area += a;
    if (tile_has_resolution)
        used_area += a;
    else
        remaining_area -= a;
    ready_fraction = reciprocal_fraction = -1.0;
}

rv_rescomp_progress* rv_progress_of(const rv_resolution* res)
{
    rv_codestream* cs = res->codestream;
    const rv_tile_comp* tc = res->tile_comp;
    const size_t depth = size_t(tc->dwt_levels - res->res_level);
    const size_t k = depth * size_t(cs->num_components) + size_t(tc->cnum);
    return k < cs->rescomp.size() ? &cs->rescomp[k] : nullptr;
}

int64_t rv_rescomp_progress::precinct_area(const rv_precinct* p)
{
    const rv_resolution* res = p->resolution;
    const rvd_dims& part = res->precinct_partition;
    rvd_dims cell;
    cell.pos.y = part.pos.y + (res->precinct_indices.pos.y + p->idx.y) * part.size.y;
    cell.pos.x = part.pos.x + (res->precinct_indices.pos.x + p->idx.x) * part.size.x;
    cell.size = part.size;
    cell &= res->dims;
    return cell.is_empty() ? 0 : int64_t(cell.size.y) * cell.size.x;
}

void rv_rescomp_progress::add_ready_precinct(rv_precinct* p)
{
    if (p->ready)
        return;
    p->ready = true;
    p->ready_next = nullptr;
    p->ready_prev = last_ready;
    (last_ready == nullptr ? first_ready : last_ready->ready_next) = p;
    last_ready = p;
    ready_area += precinct_area(p);
    ready_fraction = reciprocal_fraction = -1.0;
}

void rv_rescomp_progress::unlink(rv_precinct* p)
{
    if (!p->ready)
        return;
    (p->ready_prev == nullptr ? first_ready : p->ready_prev->ready_next) = p->ready_next;
    (p->ready_next == nullptr ? last_ready : p->ready_next->ready_prev) = p->ready_prev;
    p->ready_prev = p->ready_next = nullptr;
    p->ready = false;
    ready_area -= precinct_area(p);
    ready_fraction = reciprocal_fraction = -1.0;
}

void rv_rescomp_progress::close_ready_precinct(rv_precinct* p)
{
    remaining_area -= precinct_area(p);
    unlink(p);
    rv_release_precinct(p);
}

void rv_rescomp_progress::close_all()
{
    while (first_ready != nullptr) {
        rv_precinct* p = first_ready;
        unlink(p);
        rv_release_precinct(p);
    }
}

double rv_rescomp_progress::get_ready_fraction()
{
    if (ready_fraction > 0.0)
        return ready_fraction;
    double projected = double(remaining_area);
    const int64_t unseen = total_area - seen_area;
    if (unseen > 0 && seen_area > 0)
        projected = double(remaining_area - unseen) + double(used_area) * double(unseen) / double(seen_area);
    double f = 1.0;
    if (ready_area < remaining_area && projected > 0.0)
        f = std::min(1.0, double(ready_area) / projected);
    if (!(f > 0.0))
        f = 1.0; // nothing ready: nothing is sized, so no scaling is needed
    ready_fraction = f;
    reciprocal_fraction = 1.0 / f;
    return f;
}
