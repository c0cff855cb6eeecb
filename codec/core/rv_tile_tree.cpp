// Building a tile's record tree from its coding parameters, fitting it to the view, and
// the handles that walk it.
#include "codec/core/rvd_kernels.h"
#include "codec/core/cod_params.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rv_kernel_description.h"
#include "codec/core/rv_node_tree.h"
#include "codec/core/rv_partition_geometry.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_tile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

namespace {

rvd_params* relation(rv_codestream* cs, const char* cluster, int tnum, int cnum)
{
    rvd_params* head = cs->siz->access_cluster(cluster);
    return head == nullptr ? nullptr : head->access_relation(tnum, cnum, 0, true);
}

int get_int(rvd_params* p, const char* name, int rec, int field, int dflt)
{
    int v = dflt;
    if (p == nullptr || !p->get(name, rec, field, v))
        return dflt;
    return v;
}

bool get_bool(rvd_params* p, const char* name, int rec, int field, bool dflt)
{
    bool v = dflt;
    if (p == nullptr || !p->get(name, rec, field, v))
        return dflt;
    return v;
}

// Tile-component region on the component's sample grid: both edges divided, rounded up.
rvd_dims divide_region(const rvd_dims& d, rvd_coords sub)
{
    rvd_dims r;
    r.pos.y = rvd_ceil_ratio(d.pos.y, sub.y);
    r.pos.x = rvd_ceil_ratio(d.pos.x, sub.x);
    r.size.y = rvd_ceil_ratio(d.pos.y + d.size.y, sub.y) - r.pos.y;
    r.size.x = rvd_ceil_ratio(d.pos.x + d.size.x, sub.x) - r.pos.x;
    return r;
}

// Child samples at branch b (0 low, 1 high) that reach any of the parent samples
// [start, start + size): child n sits at 2n + b and reaches 2n + b + [smin, smax].
// Worked in 64 bits: a region ending near 2^31 with a support reaching beyond it would
// overflow; halved, the bounds fit again.
void support_range(int& start, int& size, int b, int smin, int smax)
{
    const int64_t lo = int64_t(start) - b - smax;
    const int64_t hi = int64_t(start) + size - 1 - b - smin;
    const int64_t first = rvd_ceil_ratio64(lo, 2);
    const int64_t last = rvd_floor_ratio64(hi, 2);
    start = int(first);
    size = int(std::max<int64_t>(0, last - first + 1));
}

// Child region of a region of interest, grown by the kernel's synthesis supports so that
// the levels above have every sample they need.
rvd_dims grown_child(const rvd_dims& region, int bx, int by, const rv_tile_comp& tc)
{
    if (region.is_empty())
        return rv_get_child_dims(region, bx, by);
    rvd_dims c = region;
    if (bx != 2)
        support_range(c.pos.x, c.size.x, bx, bx ? tc.high_support_min : tc.low_support_min,
                      bx ? tc.high_support_max : tc.low_support_max);
    if (by != 2)
        support_range(c.pos.y, c.size.y, by, by ? tc.high_support_min : tc.low_support_min,
                      by ? tc.high_support_max : tc.low_support_max);
    return c;
}

// Looks up the tile-component's kernel and, with `record`, keeps its steps and synthesis
// supports in the component.
void set_kernel_supports(rv_tile_comp& tc, rvd_kernels& k, rvd_params* root, rvd_params* cod,
                         int tnum, bool record = true)
{
    bool reversible = tc.reversible, symmetric = true, symmetric_extension = true;
    int num_steps = 0;
    rvd_kernel_step_info* steps = nullptr;
    float* coefficients = nullptr;
    rv_create_kernel_description(tc.kernel_id, get_int(cod, "Catk", 0, 0, 0), root, tnum,
                                 reversible, symmetric, symmetric_extension, num_steps, steps,
                                 coefficients);
    std::unique_ptr<rvd_kernel_step_info[]> own_steps(steps);
    std::unique_ptr<float[]> own_coefficients(coefficients);
    k.init(num_steps, steps, coefficients, symmetric, symmetric_extension, reversible);
    if (!record)
        return;
    tc.kernel_symmetric = symmetric;
    tc.kernel_symmetric_extension = symmetric_extension;
    tc.low_scale = k.get_low_scale();
    tc.high_scale = k.get_high_scale();
    tc.kernel_steps.assign(steps, steps + num_steps);
    size_t num_taps = 0;
    for (int s = 0; s < num_steps; s++)
        num_taps += size_t(std::max(0, steps[s].support_length));
    tc.kernel_coefficients.assign(coefficients, coefficients + num_taps);
    tc.mirrored_steps = tc.kernel_steps;
    tc.mirrored_coefficients = tc.kernel_coefficients;
    if (!symmetric) {
        // A flipped line runs the steps over reversed taps: step s reaches from
        // 2 - 2 (s mod 2) - min - length.
        size_t at = 0;
        for (int s = 0; s < num_steps; s++) {
            rvd_kernel_step_info& m = tc.mirrored_steps[size_t(s)];
            m.support_min = 2 - 2 * (s % 2) - steps[s].support_min - steps[s].support_length;
            const size_t n = size_t(std::max(0, steps[s].support_length));
            std::reverse(tc.mirrored_coefficients.begin() + long(at),
                         tc.mirrored_coefficients.begin() + long(at + n));
            at += n;
        }
    }
    int half = 0;
    k.get_impulse_response(2, half, &tc.low_support_min, &tc.low_support_max);
    k.get_impulse_response(3, half, &tc.high_support_min, &tc.high_support_max);
}

void profile_violation(int& profile, int raised_to, const char* text)
{
    rv_issue_core_warning(std::string("Profile violation detected (code-stream is technically "
                                      "illegal).  ") +
                          text);
    profile = raised_to;
}

// Code-block coder rules; the profile value is raised on a violation so that a codestream
// warns once of each kind.
void check_block_profile(int& profile, int cblk_y, int cblk_x, int modes, bool align)
{
    if (profile == 1 && (cblk_y > 64 || cblk_x > 64))
        profile_violation(profile, 2,
                          "Profile-1 code-streams may not have code-block dimensions larger "
                          "than 64.  You should set \"Sprofile\" to 2.");
    if (profile == 0) {
        if (cblk_y != cblk_x || (cblk_y != 32 && cblk_y != 64))
            profile_violation(profile, 2,
                              "Profile-0 code-streams must have nominally square code-block "
                              "dimensions, measuring 32x32 or 64x64.  You should set "
                              "\"Sprofile\" to 1 or 2.");
        else if ((modes & (1 | 2 | 8)) != 0)
            profile_violation(profile, 2,
                              "Profile-0 code-streams may not use the BYPASS, RESET or CAUSAL "
                              "block coder mode switches.  You should set \"Sprofile\" to 1 "
                              "or 2.");
    }
    if (align && profile != 3)
        profile_violation(profile, 3,
                          "Part-1 code-streams must have their coding origin (anchor point) "
                          "set to 0.  A non-zero coding origin is legal only in JPEG2000 Part "
                          "2; set `Sprofile=PART2' to avoid this warning message.");
}

// [a, a + n) at branch b becomes [2a + b, 2(a + n) + b - 1). Levels end below 2^31 and
// the result is cut to its level afterwards, so an end mapped beyond is cut there.
void map_up_axis(int& pos, int& size, int branch)
{
    const int64_t lim = std::numeric_limits<int>::max();
    const int64_t start = std::min(2 * int64_t(pos) + branch, lim);
    const int64_t end = std::min(start + 2 * int64_t(size) - 1, lim);
    pos = int(start);
    size = int(end - start);
}

// A band region in the coordinates of its level.
rvd_dims mapped_up(const rvd_dims& band_region, const rv_node& band)
{
    rvd_dims d = band_region;
    if (band.branch_x != 2)
        map_up_axis(d.pos.x, d.size.x, band.branch_x);
    if (band.branch_y != 2)
        map_up_axis(d.pos.y, d.size.y, band.branch_y);
    return d;
}

rvd_dims bounding_box(const rvd_dims& a, const rvd_dims& b)
{
    if (a.is_empty())
        return b;
    const int y0 = std::min(a.pos.y, b.pos.y), x0 = std::min(a.pos.x, b.pos.x);
    const int y1 = std::max(a.pos.y + a.size.y, b.pos.y + b.size.y);
    const int x1 = std::max(a.pos.x + a.size.x, b.pos.x + b.size.x);
    return rvd_dims(rvd_coords(y0, x0), rvd_coords(y1 - y0, x1 - x0));
}

const char* const insufficient_quant =
    "Insufficient quantization parameters found in QCD/QCC marker segments for the number of "
    "subbands in some tile-component.";

// Precinct identifiers number every precinct of every tile-component of the codestream
// in one 62-bit space (the rest of the 64-bit reference word marks its kind); a tile whose
// precinct counts overflow it cannot be addressed, so it is refused before anything is
// sized from them.
const uint64_t max_precinct_ids = uint64_t(1) << 62;

void check_precinct_count(const rv_codestream* cs, uint64_t comp_precincts)
{
    const uint64_t tiles = uint64_t(cs->num_tiles.y) * uint64_t(cs->num_tiles.x);
    const uint64_t per_comp = max_precinct_ids / (std::max<uint64_t>(1, tiles) *
                                                  uint64_t(std::max(1, cs->num_components)));
    if (comp_precincts > per_comp)
        rv_raise_core_error("A tile-component has " + std::to_string(comp_precincts) +
                            " precincts; with " + std::to_string(cs->num_components) +
                            " components and " + std::to_string(tiles) +
                            " tiles, precinct identifiers can address at most " +
                            std::to_string(per_comp) + " per tile-component.");
}

// Precinct exponents of each resolution: from "Cprecincts" when `cod` is given, else
// the maximum (one precinct spanning the level).
void set_precinct_exponents(rv_tile_comp& tc, rvd_params* cod)
{
    const int levels = tc.dwt_levels;
    tc.precinct_exps.assign(size_t(2 * (levels + 1)), 15);
    for (int r = 0; cod != nullptr && r <= levels; r++) {
        const int sy = get_int(cod, "Cprecincts", levels - r, 0, 32768);
        const int sx = get_int(cod, "Cprecincts", levels - r, 1, 32768);
        rv_check_coding_partition(0, 0, sy, sx);
        uint8_t ppy = 0, ppx = 0;
        while ((1 << ppy) < sy)
            ppy++;
        while ((1 << ppx) < sx)
            ppx++;
        tc.precinct_exps[size_t(2 * r)] = ppy;
        tc.precinct_exps[size_t(2 * r + 1)] = ppx;
    }
}

// Code-block size in a band split `vc` times vertically and `hc` times horizontally
// within its level: the nominal size, limited by the precinct cell as seen in the band.
rvd_coords band_block_size(int cblk_y, int cblk_x, int ppy, int ppx, int vc, int hc)
{
    const int by = std::min(cblk_y << vc, 1 << ppy) >> vc;
    const int bx = std::min(cblk_x << hc, 1 << ppx) >> hc;
    if (by < 1 || bx < 1)
        rv_raise_core_error(
            "Precinct partition dimensions too small!  Must not be so small that "
            "the induced code-block partition becomes smaller than 1 sample wide "
            "or 1 sample high within any subband.");
    return rvd_coords(by, bx);
}

// A band whose path splits a high-pass branch again in the same direction has no
// sample-aligned flipped view.
bool descriptor_flip_compatible(int desc)
{
    const int hc = desc & 3, hidx = (desc >> 2) & 0x3F;
    const int vc = (desc >> 8) & 3, vidx = (desc >> 10) & 0x3F;
    return !(hc >= 2 && (hidx & ((1 << (hc - 1)) - 1)) != 0) &&
           !(vc >= 2 && (vidx & ((1 << (vc - 1)) - 1)) != 0);
}

// The band descriptors of resolution `r` in band order.
int level_band_descriptors(const rv_tile_comp& tc, int r, int16_t* out)
{
    if (r == 0) {
        out[0] = 0;
        return 1;
    }
    int16_t desc[64];
    const int n = cod_params::expand_decomp_bands(tc.decomp[size_t(tc.dwt_levels - r)], desc);
    for (int i = 1; i < n; i++)
        out[i - 1] = desc[i];
    return std::max(0, n - 1);
}

// Hands `f` each level of `tc` from the highest down with its geometry, worked out from
// the component's region, decomposition codes and precinct exponents alone; stops when
// `f` returns false.
template <class F>
void walk_levels(const rv_tile_comp& tc, F f)
{
    rv_level_shape s;
    rvd_dims d = tc.dims;
    for (int r = tc.dwt_levels; r >= 0; r--) {
        const int split = r > 0 ? tc.decomp[size_t(tc.dwt_levels - r)] & 3 : 0;
        s.dims = d;
        s.hor_split = (split & 1) != 0;
        s.vert_split = (split & 2) != 0;
        s.precinct_partition =
            rvd_dims(tc.precinct_origin, rvd_coords(1 << tc.precinct_exps[size_t(2 * r)],
                                                    1 << tc.precinct_exps[size_t(2 * r + 1)]));
        s.precinct_indices = rv_get_partition_indices(s.precinct_partition, d);
        if (!f(r, s))
            return;
        s.hor_depth += split & 1;
        s.vert_depth += split >> 1;
        d = rv_get_child_dims(d, s.hor_split ? 0 : 2, s.vert_split ? 0 : 2);
    }
}

} // namespace

rv_level_shape rv_tile_comp::level_shape(int r) const
{
    rv_level_shape out;
    walk_levels(*this, [&](int level, const rv_level_shape& s) {
        if (level != r)
            return true;
        out = s;
        return false;
    });
    return out;
}

void rv_tile_comp::level_shapes(std::vector<rv_level_shape>& out) const
{
    out.resize(size_t(dwt_levels + 1));
    walk_levels(*this, [&](int r, const rv_level_shape& s) {
        out[size_t(r)] = s;
        return true;
    });
}

int64_t rv_tile_comp::count_precincts(int max_r) const
{
    int64_t n = 0;
    walk_levels(*this, [&](int r, const rv_level_shape& s) {
        if (r <= max_r)
            n += int64_t(s.precinct_indices.size.y) * s.precinct_indices.size.x;
        return true;
    });
    return n;
}

void rv_band_quantisation(rvd_params* qcd, bool reversible, bool derived, int band_counter,
                          int depth_below_ll, int precision, float& ll_step, float& delta,
                          int& epsilon)
{
    epsilon = 0;
    if (reversible) {
        if (qcd == nullptr || !qcd->get("Qabs_ranges", band_counter, 0, epsilon, true, false))
            rv_raise_core_error(insufficient_quant);
        delta = std::ldexp(1.0f, -precision);
        return;
    }
    float step = 0.0f;
    if (!derived || band_counter == 0) {
        if (qcd == nullptr ||
            !qcd->get("Qabs_steps", derived ? 0 : band_counter, 0, step, true, false))
            rv_raise_core_error(insufficient_quant);
        if (derived)
            ll_step = step;
    } else {
        // Only whole powers of two are applied: an odd depth difference takes one square
        // root of two into the LL step.
        int e = depth_below_ll;
        double base = ll_step;
        if (e & 1) {
            base *= std::sqrt(2.0);
            e++;
        }
        step = float(std::ldexp(base, -e / 2));
    }
    if (!(step > 0.0f))
        rv_raise_core_error(insufficient_quant);
    delta = step;
    for (double s = step; s < 1.0 && epsilon < 255; s *= 2.0)
        epsilon++;
}

void rv_tile::release_tree()
{
    rv_packet_reader::release_tile(this);
    comps.clear();
    mct_head.reset();
    mct_tail = nullptr;
    initialized = false;
}

bool rv_tile::read_cached_header()
{
    rv_codestream* cs = codestream;
    if (!cs->cached_source || !cs->in || !cs->marker)
        return false;
    if (!cs->in->set_tileheader_scope(t_num, cs->num_tiles.y * cs->num_tiles.x)) {
        // Not frozen with main-header parameters: asked again at the next open.
        needs_reinitialization = true;
        return false;
    }
    needs_reinitialization = false;
    has_header = true;
    // The bin is complete: objects left by an earlier reading (a tile unloaded or
    // restarted) would refuse the segments again or gain duplicate instances.
    cs->siz->remove_tile(t_num);
    for (;;) {
        if (!cs->marker->read()) {
            if (cs->in->is_exhausted())
                break;
            rv_raise_core_error("Found non-marker code while parsing tile header marker "
                                "segments.  Chances are that a marker segment length field is "
                                "incorrect!");
        }
        const uint16_t code = cs->marker->get_code();
        if (code == RV_SOD || code == RV_SOT)
            break;
        if (code == RV_PPT)
            rv_raise_core_error("You cannot use PPM or PPT marker segments (packed packet "
                                "headers) with cached compressed data sources.");
        cs->siz->translate_marker_segment(code, cs->marker->get_length(),
                                          cs->marker->get_bytes(), t_num, 0);
    }
    cs->siz->finalize_all(t_num, true);
    return true;
}

void rv_tile::initialize(bool header_read)
{
    if (!header_read)
        release_tree();
    rv_codestream* cs = codestream;
    if (!read_cached_header())
        rv_packet_reader::read_first_header(this);
    rvd_params* tcod = relation(cs, "COD", t_num, -1);
    num_layers = std::max(1, get_int(tcod, "Clayers", 0, 0, 1));
    cs->max_tile_layers = std::max(cs->max_tile_layers, num_layers);
    ycc = get_bool(tcod, "Cycc", 0, 0, false);
    const bool align_y = get_bool(tcod, "Calign_blk_last", 0, 0, false);
    const bool align_x = get_bool(tcod, "Calign_blk_last", 0, 1, false);
    const rvd_coords origin(align_y ? 1 : 0, align_x ? 1 : 0);
    build_mct_stages();

    restricted = false;
    // Sized once: the records link to each other by address.
    std::vector<rv_tile_comp> built(static_cast<size_t>(cs->num_components));
    for (int c = 0; c < cs->num_components; c++) {
        rv_tile_comp& tc = built[static_cast<size_t>(c)];
        rv_comp_info& ci = cs->comp_info[static_cast<size_t>(c)];
        rvd_params* cod = relation(cs, "COD", t_num, c);
        rvd_params* qcd = relation(cs, "QCD", t_num, c);
        rvd_params* rgn = relation(cs, "RGN", t_num, c);
        tc.codestream = cs;
        tc.tile = this;
        tc.comp_info = &ci;
        tc.cnum = c;
        tc.sub_sampling = ci.sub_sampling;
        tc.dims = divide_region(dims, ci.sub_sampling);
        tc.region = tc.dims;
        const int levels = get_int(cod, "Clevels", 0, 0, 5);
        if (levels < 0 || levels > 32)
            rv_raise_core_error("Illegal number of DWT levels in some tile-component.");
        tc.dwt_levels = levels;
        tc.apparent_dwt_levels = levels;
        cs->min_dwt_levels = std::min(cs->min_dwt_levels, levels);
        tc.reversible = get_bool(cod, "Creversible", 0, 0, false);
        tc.kernel_id = get_int(cod, "Ckernels", 0, 0, tc.reversible ? 1 : 0);
        rvd_kernels kernels;
        set_kernel_supports(tc, kernels, cs->siz.get(), cod, t_num);
        tc.recommended_extra_bits = tc.reversible ? (ycc ? 5 : 4) : 7;
        const bool use_precincts = get_bool(cod, "Cuse_precincts", 0, 0, false);
        float any_step = 0.0f;
        if (!tc.reversible && !get_bool(qcd, "Qderived", 0, 0, false) &&
            (qcd == nullptr || !qcd->get("Qabs_steps", 0, 0, any_step)))
            rv_raise_core_error(
                "Tile-components which are compressed using the irreversible processing path "
                "must have quantization parameters specified in the QCD/QCC marker segments, "
                "either explicitly, or through implicit derivation from the quantization "
                "parameters for the LL subband, as explained in the JPEG2000 standard, ISO/IEC "
                "15444-1.  The present set of code-stream parameters is not legal.");
        check_block_profile(cs->profile, get_int(cod, "Cblk", 0, 0, 64),
                            get_int(cod, "Cblk", 0, 1, 64), get_int(cod, "Cmodes", 0, 0, 0),
                            align_y || align_x);
        if (get_int(rgn, "Rshift", 0, 0, 0) > 37 && cs->profile < 2)
            profile_violation(cs->profile, 2,
                              "The \"Rshift\" attribute may not exceed 37, except in Profile-2 "
                              "(the unrestricted profile).");
        tc.precinct_origin = origin;
        tc.decomp.assign(static_cast<size_t>(levels), 3);
        for (int d = 0; d < levels; d++)
            tc.decomp[size_t(d)] = get_int(cod, "Cdecomp", d, 0, 3);
        set_precinct_exponents(tc, use_precincts ? cod : nullptr);
        check_levels(tc);
    }
    if (ycc) {
        bool ok = cs->num_components >= 3;
        for (int c = 1; ok && c < 3; c++)
            ok = built[size_t(c)].reversible == built[0].reversible &&
                 built[size_t(c)].sub_sampling == built[0].sub_sampling;
        if (!ok)
            rv_raise_core_error("Illegal colour transform specified when image has insufficient "
                                "or incompatible colour components.");
    }
    comps.swap(built);
    // A codestream being written codes every component.
    if (cs->out)
        for (rv_tile_comp& tc : comps)
            build_component(tc);
    initialized = true;
    if (!cs->persistent)
        apply_restrictions();
    rv_packet_reader::start_tile(this);
    if (cs->out)
        rv_tpart_generator::start_tile(this);
    record_typical_flags();
}

void rv_tile::check_levels(rv_tile_comp& tc)
{
    rv_codestream* cs = codestream;
    rvd_params* cod = relation(cs, "COD", t_num, tc.cnum);
    rvd_params* qcd = relation(cs, "QCD", t_num, tc.cnum);
    const int cblk_y = get_int(cod, "Cblk", 0, 0, 64);
    const int cblk_x = get_int(cod, "Cblk", 0, 1, 64);
    const bool derived = get_bool(qcd, "Qderived", 0, 0, false);
    const int levels = tc.dwt_levels;
    std::vector<rv_level_shape> shapes;
    tc.level_shapes(shapes);
    uint64_t comp_precincts = 0;
    const int ll_depth = shapes[0].hor_depth + shapes[0].vert_depth;
    int band_counter = 0;
    float ll_step = 0.0f;
    for (int r = 0; r <= levels; r++) {
        const rv_level_shape& s = shapes[size_t(r)];
        const rvd_dims& rd = s.dims;
        const uint64_t count =
            uint64_t(s.precinct_indices.size.y) * uint64_t(s.precinct_indices.size.x);
        comp_precincts += count;
        check_precinct_count(cs, comp_precincts);
        if (r == 0 && tc.cnum < 4 && (cs->profile == 0 || cs->profile == 1) &&
            (rd.size.y > 128 || rd.size.x > 128))
            profile_violation(cs->profile, 2,
                              "Profile-0 and Profile-1 code-streams must have sufficient "
                              "DWT levels to permit extraction of a low resolution image "
                              "which is no larger than 128x128.   Try setting a larger "
                              "value for \"Clevels\" or else set \"Sprofile\" to 2.");
        if (cs->profile == 0 && rd.size.y <= 128 && rd.size.x <= 128 && count >= 2)
            profile_violation(cs->profile, 2,
                              "Profile-0 code-streams may have multiple precincts only in "
                              "those tile-component resolutions whose dimensions are "
                              "greater than 128x128.");
        int16_t desc[64];
        const int num_bands = level_band_descriptors(tc, r, desc);
        for (int b = 0; b < num_bands; b++) {
            const int hc = desc[b] & 3, vc = (desc[b] >> 8) & 3;
            float delta = 0.0f;
            int epsilon = 0;
            rv_band_quantisation(qcd, tc.reversible, derived, band_counter,
                                 s.hor_depth + hc + s.vert_depth + vc - ll_depth,
                                 tc.comp_info->precision, ll_step, delta, epsilon);
            band_block_size(cblk_y, cblk_x, tc.precinct_exps[size_t(2 * r)],
                            tc.precinct_exps[size_t(2 * r + 1)], vc, hc);
            if (!descriptor_flip_compatible(desc[b]))
                cs->flip_incompatible = true;
            band_counter++;
        }
    }
    tc.num_precincts = int64_t(comp_precincts);
}

void rv_tile::build_component(rv_tile_comp& tc)
{
    if (tc.tree_built())
        return;
    rv_codestream* cs = codestream;
    const int c = tc.cnum;
    rvd_params* cod = relation(cs, "COD", t_num, c);
    rvd_params* qcd = relation(cs, "QCD", t_num, c);
    rvd_params* rgn = relation(cs, "RGN", t_num, c);
    rvd_kernels kernels;
    set_kernel_supports(tc, kernels, cs->siz.get(), cod, t_num, false);
    const int cblk_y = get_int(cod, "Cblk", 0, 0, 64);
    const int cblk_x = get_int(cod, "Cblk", 0, 1, 64);
    const int guard = get_int(qcd, "Qguard", 0, 0, 1);
    const bool derived = get_bool(qcd, "Qderived", 0, 0, false);
    const int rshift = get_int(rgn, "Rshift", 0, 0, 0);
    const int roi_levels = get_int(rgn, "Rlevels", 0, 0, 0);
    float rweight = -1.0f;
    if (rgn != nullptr && !rgn->get("Rweight", 0, 0, rweight))
        rweight = -1.0f;
    const int levels = tc.dwt_levels;
    // Built aside and moved in whole: the records link to each other by address, which a
    // vector's move keeps, and a failure leaves the component unbuilt.
    std::vector<rv_resolution> levels_built(static_cast<size_t>(levels + 1));
    walk_levels(tc, [&](int r, const rv_level_shape& s) {
        rv_resolution& res = levels_built[static_cast<size_t>(r)];
        res.codestream = cs;
        res.tile_comp = &tc;
        res.res_level = r;
        res.dwt_level = r == 0 ? levels : levels - r + 1;
        res.propagate_roi = !cs->in && res.dwt_level <= roi_levels;
        res.hor_depth = s.hor_depth;
        res.vert_depth = s.vert_depth;
        res.dims = res.region = res.relevance_region = s.dims;
        res.node.resolution = &res;
        res.node.dims = res.node.region = s.dims;
        res.precinct_partition = s.precinct_partition;
        res.precinct_indices = res.region_indices = s.precinct_indices;
        res.precinct_refs.assign(uint64_t(s.precinct_indices.size.y) *
                                     uint64_t(s.precinct_indices.size.x),
                                 &cs->dense_words);
        return true;
    });
    for (int r = 1; r <= levels; r++) {
        rv_resolution& res = levels_built[static_cast<size_t>(r)];
        rv_build_node_tree(res, tc.decomp[size_t(levels - r)],
                           &levels_built[static_cast<size_t>(r - 1)].node, kernels,
                           res.hor_depth, res.vert_depth);
        // A level below a flip-incompatible one cannot be flipped either.
        if (!levels_built[static_cast<size_t>(r - 1)].flip_compatible)
            res.flip_compatible = false;
        if (!res.flip_compatible)
            cs->flip_incompatible = true;
    }
    {
        rv_resolution& res0 = levels_built[0];
        res0.hor_split = res0.vert_split = false;
        res0.subbands.assign(1, rv_subband());
        rv_subband& ll = res0.subbands[0];
        ll.parent = &res0.node;
        ll.resolution = &res0;
        ll.is_leaf = true;
        ll.dims = ll.region = res0.dims;
        res0.node.children[0] = &ll;
        res0.node.num_descendant_nodes = 1;
        res0.node.num_descendant_subbands = 1;
    }
    const int ll_depth = levels_built[0].hor_depth + levels_built[0].vert_depth;

    int band_counter = 0;
    float ll_step = 0.0f;
    for (int r = 0; r <= levels; r++) {
        rv_resolution& res = levels_built[static_cast<size_t>(r)];
        const int ppy = tc.precinct_exps[size_t(2 * r)], ppx = tc.precinct_exps[size_t(2 * r + 1)];
        for (rv_subband& band : res.subbands) {
            const int hc = band.descriptor & 3, hidx = (band.descriptor >> 2) & 0x3F;
            const int vc = (band.descriptor >> 8) & 3, vidx = (band.descriptor >> 10) & 0x3F;

            int epsilon = 0;
            rv_band_quantisation(qcd, tc.reversible, derived, band_counter,
                                 res.hor_depth + hc + res.vert_depth + vc - ll_depth,
                                 tc.comp_info->precision, ll_step, band.delta, epsilon);
            band.K_max = guard + epsilon - 1;
            band.roi_weight = rweight;
            band.K_max_prime = band.K_max + rshift;
            // Rate-control weights exist only for codestreams being written.
            band.energy_weight = cs->in ? 0.0f : float(rv_band_energy_gain(kernels, band));
            band.visual_weight = 0.0f;
            if (!cs->in) {
                // Visual weights steer rate control only: "Cweight" for the component,
                // times the level's and the band's entries above the lowest level.
                float cw = 1.0f, lw = 1.0f, bw = 1.0f;
                if (cod == nullptr || !cod->get("Cweight", 0, 0, cw))
                    cw = 1.0f;
                if (r > 0) {
                    const int orient = (band.branch_x == 1 ? 1 : 0) + (band.branch_y == 1 ? 2 : 0);
                    if (cod == nullptr || !cod->get("Clev_weights", res.dwt_level - 1, 0, lw))
                        lw = 1.0f;
                    if (orient == 0 ||
                        !cod->get("Cband_weights", 3 * res.dwt_level - orient, 0, bw))
                        bw = 1.0f;
                }
                band.visual_weight = cw * lw * bw;
            }

            rvd_coords anchor = tc.precinct_origin;
            if (vidx != 0)
                anchor.y = 0;
            if (hidx != 0)
                anchor.x = 0;
            band.block_partition =
                rvd_dims(anchor, band_block_size(cblk_y, cblk_x, ppy, ppx, vc, hc));
            band.block_indices = rv_get_partition_indices(band.block_partition, band.dims);
            band_counter++;
        }
    }
    tc.resolutions.swap(levels_built);
    if (restricted)
        restrict_levels(tc);
    if (initialized && cs->in)
        rv_packet_reader::component_built(this, tc);
}

namespace {

// Regions of interest of the nodes and bands below `node`, grown by the kernel supports,
// and the relevance box of the level: each band's region mapped up through its splits.
void restrict_below(rv_node& node, const rv_tile_comp& tc, rvd_dims& relevance)
{
    const bool top = &node == &node.resolution->node;
    for (int c = top ? 1 : 0; c < 4; c++) {
        rv_node* ch = node.children[c];
        if (ch == nullptr)
            continue;
        rvd_dims reg;
        if (!node.region.is_empty())
            reg = grown_child(node.region, ch->branch_x, ch->branch_y, tc) & ch->dims;
        if (reg.is_empty())
            reg = rvd_dims(ch->dims.pos, rvd_coords());
        ch->region = reg;
        if (!ch->is_leaf) {
            restrict_below(*ch, tc, relevance);
            continue;
        }
        rv_subband& band = *static_cast<rv_subband*>(ch);
        band.block_indices = reg.is_empty()
                                 ? rvd_dims(band.block_indices.pos, rvd_coords())
                                 : rv_get_partition_indices(band.block_partition, reg);
        if (reg.is_empty())
            continue;
        rvd_dims up = reg;
        for (const rv_node* n = ch; n != &n->resolution->node; n = n->parent)
            up = mapped_up(up, *n);
        relevance = bounding_box(relevance, up);
    }
}

rvd_dims low_child(const rvd_dims& d, const rv_resolution& res)
{
    return rv_get_child_dims(d, res.hor_split ? 0 : 2, res.vert_split ? 0 : 2);
}

} // namespace

void rv_tile::restrict_levels(rv_tile_comp& tc)
{
    const int top = tc.apparent_dwt_levels;
    for (int r = tc.dwt_levels; r >= 0; r--) {
        rv_resolution& res = tc.resolutions[static_cast<size_t>(r)];
        rvd_dims reg;
        if (r == top) {
            reg = tc.region;
            for (int k = tc.dwt_levels; k > r; k--)
                reg = low_child(reg, tc.resolutions[size_t(k)]);
        } else if (r < top) {
            const rv_resolution& above = tc.resolutions[size_t(r + 1)];
            reg = grown_child(above.region, above.hor_split ? 0 : 2, above.vert_split ? 0 : 2,
                              tc);
        }
        if (r > top || !tc.enabled) {
            reg = rvd_dims(res.dims.pos, rvd_coords());
        }
        res.region = reg & res.dims;
        res.node.region = res.region;
        rvd_dims relevance(res.dims.pos, rvd_coords());
        if (r == 0) {
            rv_subband& ll = res.subbands[0];
            ll.region = res.region;
            ll.block_indices = ll.region.is_empty()
                                   ? rvd_dims(ll.block_indices.pos, rvd_coords())
                                   : rv_get_partition_indices(ll.block_partition, ll.region);
            if (!ll.region.is_empty())
                relevance = ll.region;
        } else {
            restrict_below(res.node, tc, relevance);
        }
        res.relevance_region = relevance;
        // The bands' regions, grown by the kernel supports, reach past the level's own
        // region: precincts holding any of their blocks must stay valid, or a block
        // would be opened in a precinct that is released for good.
        rvd_dims needed = res.region;
        if (!relevance.is_empty())
            needed = bounding_box(needed, relevance) & res.dims;
        res.region_indices = needed.is_empty()
                                 ? rvd_dims(res.precinct_indices.pos, rvd_coords())
                                 : rv_get_partition_indices(res.precinct_partition, needed);
    }
}

void rv_tile::apply_restrictions()
{
    rv_codestream* cs = codestream;
    apply_mct_restrictions();
    region = dims & cs->region;
    for (rv_tile_comp& tc : comps) {
        tc.is_of_interest = true;
        tc.region = divide_region(region, tc.sub_sampling);
        tc.region &= tc.dims;
        tc.apparent_dwt_levels = tc.dwt_levels - cs->discard_levels;
        // Components not built yet are fitted when they are.
        if (tc.tree_built())
            restrict_levels(tc);
    }
    restricted = true;
}
