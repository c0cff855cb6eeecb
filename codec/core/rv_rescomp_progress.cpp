#include "codec/core/rv_rescomp_progress.h"

#include "codec/core/rv_codestream.h"

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
    // Ready precincts are closed by the packet reader's code once it exists; until then
    // the list is always empty.
    first_ready = last_ready = nullptr;
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
