// Reusing a parked tile record for the next tile. Most tiles share the main header's
// coding parameters, so the tree (kernels, decomposition nodes, gains, partitions) stays
// and only what depends on the tile's position is computed again.
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rvd_params.h"

#include <cmath>
#include <cstdint>
#include <string>

namespace {

rvd_params* tile_relation(rv_codestream* cs, const char* cluster, int tnum, int cnum)
{
    rvd_params* head = cs->siz->access_cluster(cluster);
    return head == nullptr ? nullptr : head->access_relation(tnum, cnum, 0, true);
}

template <typename T>
T attribute(rvd_params* p, const char* name, int rec, int field, T dflt)
{
    T v = dflt;
    return p != nullptr && p->get(name, rec, field, v) ? v : dflt;
}

void warn_profile(rv_codestream* cs, const char* text)
{
    rv_issue_core_warning(
        std::string("Profile violation detected (code-stream is technically illegal).  ") + text);
    cs->profile = 2;
}

// Regions of the inner nodes and subbands below `node`, whose own region is set. The
// level's own node leaves child 0, the next lower level, to that level.
void place_children(rv_node& node, bool top)
{
    for (int c = top ? 1 : 0; c < 4; c++) {
        rv_node* ch = node.children[c];
        if (ch == nullptr)
            continue;
        ch->dims = ch->region = rv_get_child_dims(node.dims, ch->branch_x, ch->branch_y);
        if (ch->is_leaf) {
            rv_subband& band = *static_cast<rv_subband*>(ch);
            band.block_indices = rv_get_partition_indices(band.block_partition, band.dims);
        } else {
            place_children(*ch, false);
        }
    }
}

// Geometry of one resolution at region `d`; the precinct references are reallocated only
// when their count changes (they were emptied when the record was parked).
void place_resolution(rv_codestream* cs, const rv_tile_comp& tc, rv_resolution& res,
                      const rvd_dims& d)
{
    res.dims = res.region = res.relevance_region = d;
    res.node.dims = res.node.region = d;
    res.precinct_indices = rv_get_partition_indices(res.precinct_partition, d);
    res.region_indices = res.precinct_indices;
    const uint64_t count = uint64_t(res.precinct_indices.size.y) * uint64_t(res.precinct_indices.size.x);
    if (count != res.precinct_refs.size())
        res.precinct_refs.assign(count, &cs->dense_words);
    if (res.res_level == 0 && tc.cnum < 4 && (cs->profile == 0 || cs->profile == 1) &&
        (d.size.y > 128 || d.size.x > 128))
        warn_profile(cs, "Profile-0 and Profile-1 code-streams must have sufficient DWT levels "
                         "to permit extraction of a low resolution image which is no larger "
                         "than 128x128.   Try setting a larger value for \"Clevels\" or else set "
                         "\"Sprofile\" to 2.");
    if (cs->profile == 0 && d.size.y <= 128 && d.size.x <= 128 && count >= 2)
        warn_profile(cs, "Profile-0 code-streams may have multiple precincts only in those "
                         "tile-component resolutions whose dimensions are greater than 128x128.");
    if (res.res_level == 0) {
        rv_subband& ll = res.subbands[0];
        ll.dims = ll.region = d;
        ll.block_indices = rv_get_partition_indices(ll.block_partition, d);
    } else {
        place_children(res.node, true);
    }
}

// Quantisation and ROI attributes of every band of a tile-component, read again for a
// tile whose QCD or RGN differ from those the record was built with.
void reread_quantisation(rv_codestream* cs, int tnum, rv_tile_comp& tc)
{
    rvd_params* qcd = tile_relation(cs, "QCD", tnum, tc.cnum);
    rvd_params* rgn = tile_relation(cs, "RGN", tnum, tc.cnum);
    const bool derived = attribute(qcd, "Qderived", 0, 0, false);
    float any_step = 0.0f;
    if (!tc.reversible && !derived && (qcd == nullptr || !qcd->get("Qabs_steps", 0, 0, any_step)))
        rv_raise_core_error(
            "Tile-components which are compressed using the irreversible processing path "
            "must have quantization parameters specified in the QCD/QCC marker segments, "
            "either explicitly, or through implicit derivation from the quantization "
            "parameters for the LL subband, as explained in the JPEG2000 standard, ISO/IEC "
            "15444-1.  The present set of code-stream parameters is not legal.");
    const int guard = attribute(qcd, "Qguard", 0, 0, 1);
    const int rshift = attribute(rgn, "Rshift", 0, 0, 0);
    if (rshift > 37 && cs->profile < 2)
        warn_profile(cs, "The \"Rshift\" attribute may not exceed 37, except in Profile-2 (the "
                         "unrestricted profile).");
    const float rweight = attribute(rgn, "Rweight", 0, 0, -1.0f);
    const int precision = tc.comp_info->precision;
    const int ll_depth = tc.resolutions[0].hor_depth + tc.resolutions[0].vert_depth;
    int band_counter = 0;
    float ll_step = 0.0f;
    for (rv_resolution& res : tc.resolutions)
        for (rv_subband& band : res.subbands) {
            int epsilon = 0;
            const int depth = res.hor_depth + (band.descriptor & 3) + res.vert_depth +
                              ((band.descriptor >> 8) & 3) - ll_depth;
            rv_band_quantisation(qcd, tc.reversible, derived, band_counter, depth, precision,
                                 ll_step, band.delta, epsilon);
            band.K_max = guard + epsilon - 1;
            band.roi_weight = rweight;
            band.K_max_prime = band.K_max + rshift;
            band_counter++;
        }
}

} // namespace

void rv_tile::record_typical_flags()
{
    rvd_params* root = codestream->siz.get();
    typical = root->check_typical_tile(t_num, nullptr);
    typical_except_quant = typical || root->check_typical_tile(t_num, "QCD:RGN");
}

void rv_tile::release_for_recycling()
{
    // Only input trees are reused: an output tile's tree carries its rate-control state.
    if (codestream->in && typical_except_quant && initialized && !comps.empty()) {
        rv_packet_reader::release_tile(this);
        // Transform stages point into parameter objects, which may go with this tile.
        mct_head.reset();
        mct_tail = nullptr;
    } else {
        release_tree();
    }
}

void rv_tile::recycle()
{
    rv_codestream* cs = codestream;
    if (!initialized || comps.empty() || !cs->in || !typical_except_quant) {
        initialize();
        return;
    }
    initialized = false;
    if (!read_cached_header())
        rv_packet_reader::read_first_header(this);

    // The record's tree holds main-header quantisation only while `typical` stays set, so
    // that flag is never set again here, only cleared. Tested even without a header: the
    // parameters a full initialisation would use may be left from an earlier reading.
    rvd_params* root = cs->siz.get();
    if (typical && !root->check_typical_tile(t_num, nullptr))
        typical = false;
    if (!typical && typical_except_quant)
        typical_except_quant = root->check_typical_tile(t_num, "QCD:RGN");
    if (!typical_except_quant) {
        comps.clear();
        initialize(true);
        return;
    }

    build_mct_stages();

    restricted = false;
    for (rv_tile_comp& tc : comps) {
        const rvd_coords sub = tc.sub_sampling;
        tc.dims.pos = rvd_coords(rvd_ceil_ratio(dims.pos.y, sub.y), rvd_ceil_ratio(dims.pos.x, sub.x));
        tc.dims.size =
            rvd_coords(rvd_ceil_ratio(dims.pos.y + dims.size.y, sub.y) - tc.dims.pos.y,
                       rvd_ceil_ratio(dims.pos.x + dims.size.x, sub.x) - tc.dims.pos.x);
        tc.region = tc.dims;
        tc.apparent_dwt_levels = tc.dwt_levels;
        tc.enabled = tc.is_of_interest = true;
        // Components not built for the last tile are checked and counted from their
        // geometry and built when reached, as at a full initialisation.
        check_levels(tc);
        if (!tc.tree_built())
            continue;
        rvd_dims d = tc.dims;
        for (int r = tc.dwt_levels; r >= 0; r--) {
            rv_resolution& res = tc.resolutions[size_t(r)];
            place_resolution(cs, tc, res, d);
            d = rv_get_child_dims(d, res.hor_split ? 0 : 2, res.vert_split ? 0 : 2);
        }
        if (!typical)
            reread_quantisation(cs, t_num, tc);
    }
    initialized = true;
    if (!cs->persistent)
        apply_restrictions();
    rv_packet_reader::start_tile(this);
}
