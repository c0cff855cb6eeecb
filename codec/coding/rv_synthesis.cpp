#include "codec/coding/rv_synthesis.h"

#include "codec/core/rvd_thread_env.h"

#include "codec/coding/rv_decoder.h"
#include "codec/coding/rv_lifting_sse2.h"
#include "codec/coding/rv_strip_synthesis.h"
#include "codec/coding/rvd_synthesis.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_params.h"
#include "codec/core/rvd_processor.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

[[noreturn]] void inconsistent()
{
    rv_raise_core_error("Inconsistent subband regions found while building the inverse "
                        "wavelet transform of a tile-component.");
}

// Range of node positions covered by a child sequence of `count` samples starting at
// child index `start`: low samples sit at even, high samples at odd positions.
void sequence_range(int start, int count, bool high, int& lo, int& hi)
{
    lo = 2 * start + (high ? 1 : 0);
    hi = lo + 2 * (count - 1);
}

// Working range of one direction from its low and high sequences; false when they do
// not interleave into one run of positions.
bool working_range(int low_start, int low_count, int high_start, int high_count, int& first,
                   int& last)
{
    int l0 = 0, l1 = -1, h0 = 0, h1 = -1;
    if (low_count > 0)
        sequence_range(low_start, low_count, false, l0, l1);
    if (high_count > 0)
        sequence_range(high_start, high_count, true, h0, h1);
    if (low_count <= 0 && high_count <= 0)
        return false;
    first = (low_count <= 0) ? h0 : (high_count <= 0) ? l0 : std::min(l0, h0);
    last = (low_count <= 0) ? h1 : (high_count <= 0) ? l1 : std::max(l1, h1);
    int evens = (last >> 1) - ((first + 1) >> 1) + 1;
    if (first > last || evens != std::max(0, low_count) ||
        (last - first + 1) - evens != std::max(0, high_count))
        return false;
    return true;
}

template <class T>
void copy_out(bool hor_split, int col_first, int low_col0, int high_col0, const T* low,
              const T* high, int x0, int n, T* out)
{
    if (n <= 0)
        return;
    if (!hor_split) {
        std::memcpy(out, low + (x0 - col_first), size_t(n) * sizeof(T));
        return;
    }
    int j = 0;
    if (x0 & 1)
        out[j++] = high[(x0 - high_col0) >> 1];
    if (j >= n)
        return;
    const T* lp = low + ((x0 + j - low_col0) >> 1);
    const T* hp = (n - j >= 2) ? high + ((x0 + j + 1 - high_col0) >> 1) : nullptr;
    const int pairs = (n - j) / 2;
    if (sizeof(T) == 4 && pairs > 0 && rvd_mmx_level >= 2 &&
        ((rvd_avx_level >= 2 && rv_interleave32_avx512(lp, hp, pairs, out + j)) ||
         (rvd_avx_level >= 1 && rv_interleave32_avx2(lp, hp, pairs, out + j)))) {
        j += 2 * pairs;
        lp += pairs;
    }
    for (; j + 1 < n; j += 2) {
        out[j] = *lp++;
        out[j + 1] = *hp++;
    }
    if (j < n)
        out[j] = *lp;
}

rv_synthesis_direction direction_of(rvd_node node, bool vertical, bool reversible)
{
    rv_synthesis_direction d;
    float low_scale = 1.0f, high_scale = 1.0f;
    bool symmetric = true, symmetric_extension = true;
    int lmin = 0, lmax = 0, hmin = 0, hmax = 0;
    const rvd_kernel_step_info* steps =
        node.get_kernel_info(d.num_steps, low_scale, high_scale, symmetric, symmetric_extension,
                             lmin, lmax, hmin, hmax, vertical);
    const float* coefficients = node.get_kernel_coefficients(vertical);
    d.low_gain = low_scale;
    d.high_gain = high_scale;
    d.symmetric_extension = symmetric_extension;
    size_t taps = 0;
    for (int s = 0; s < d.num_steps; s++) {
        d.steps.push_back(steps[s]);
        taps += size_t(std::max(0, steps[s].support_length));
    }
    if (taps > 0)
        d.coefficients.assign(coefficients, coefficients + taps);
    if (!reversible && d.num_steps > 0) {
        int count = 0;
        const float* g = node.get_bibo_gains(count, vertical);
        // Entry 0 the node's input, then one entry per step.
        if (g != nullptr && count >= d.num_steps)
            d.bibo_gains.assign(g, g + d.num_steps + 1);
    }
    return d;
}

} // namespace

namespace {

// The view flags live with the codestream, which the node's record reaches.
class node_record : public rvd_node {
public:
    explicit node_record(const rvd_node& n) : rvd_node(n) {}
    bool transposed() const { return state->resolution->codestream->transpose; }
};

} // namespace

rv_synthesis_shape rv_synthesis_shape_of(rvd_node node)
{
    rv_synthesis_shape shape;
    shape.vertical_first = node_record(node).transposed();
    node.get_dims(shape.region);
    rvd_resolution res = node.access_resolution();
    int min_band = 0;
    res.get_valid_band_indices(min_band);
    shape.reversible = res.access_subband(min_band).get_reversible();
    for (int c = 0; c < 4; c++) {
        rvd_node child = node.access_child(c);
        shape.child_exists[c] = child.exists();
        if (child.exists())
            child.get_dims(shape.child_dims[c]);
    }
    shape.horz = direction_of(node, false, shape.reversible);
    shape.vert = direction_of(node, true, shape.reversible);
    shape.kernel_id = node.get_kernel_id();
    return shape;
}

std::vector<rv_lifting_step> rv_make_lifting_steps(const rv_synthesis_direction& d, bool reversible,
                                        int kernel_id)
{
    std::vector<rv_lifting_step> steps(size_t(std::max(0, d.num_steps)));
    size_t at = 0;
    for (int k = 0; k < d.num_steps; k++) {
        const rvd_kernel_step_info& info = d.steps[size_t(k)];
        if (info.support_length < 1 || at + size_t(info.support_length) > d.coefficients.size())
            rv_raise_core_error("Unusable lifting step in wavelet kernel description.");
        steps[size_t(k)].init(k, info, &d.coefficients[at], reversible, kernel_id);
        at += size_t(info.support_length);
    }
    return steps;
}

void rv_child_normalizations(const rv_synthesis_shape& shape, bool many_rows, bool many_cols,
                             float normalization, float child_norm[4])
{
    for (int c = 0; c < 4; c++) {
        child_norm[c] = normalization;
        if (shape.reversible)
            continue;
        if (many_rows)
            child_norm[c] /= (c & 2) ? shape.vert.high_gain : shape.vert.low_gain;
        if (many_cols)
            child_norm[c] /= (c & 1) ? shape.horz.high_gain : shape.horz.low_gain;
    }
}

rv_synthesis::rv_synthesis(const rv_synthesis_shape& shape, const rv_child_maker& make_child,
                           rvd_sample_allocator* allocator, bool use_shorts,
                           float normalization, int pull_offset)
    : reversible(shape.reversible), use_shorts(use_shorts), pull_offset(pull_offset),
      region(shape.region), vertical_first(shape.vertical_first)
{
    if (allocator == nullptr || pull_offset < 0)
        rv_raise_core_error("Invalid arguments given to the inverse wavelet transform.");
    if (region.is_empty())
        return;
    if (!shape.child_exists[0])
        inconsistent();
    vert_split = shape.child_exists[2];
    hor_split = shape.child_exists[1];
    const rvd_dims* cd = shape.child_dims;
    // One sequence of a direction from the children that carry it; a child without
    // samples may report no extent at all, so only children with samples count.
    auto sequence = [&](int a, int b, bool vertical, int& start, int& count) {
        bool found = false;
        start = count = 0;
        for (int c : {a, b}) {
            if (c < 0 || !shape.child_exists[c] || cd[c].is_empty())
                continue;
            int s = vertical ? cd[c].pos.y : cd[c].pos.x;
            int n = vertical ? cd[c].size.y : cd[c].size.x;
            if (found && (s != start || n != count))
                inconsistent();
            start = s;
            count = n;
            found = true;
        }
    };
    int lo_start = 0, lo_count = 0, hi_start = 0, hi_count = 0;
    sequence(0, 1, true, lo_start, lo_count);
    if (vert_split) {
        sequence(2, 3, true, hi_start, hi_count);
        if (!working_range(lo_start, lo_count, hi_start, hi_count, row_first, row_last))
            inconsistent();
    } else {
        row_first = lo_start;
        row_last = lo_start + lo_count - 1;
    }
    sequence(0, 2, false, lo_start, lo_count);
    low_cols = lo_count;
    if (hor_split) {
        sequence(1, 3, false, hi_start, hi_count);
        high_cols = hi_count;
        low_col0 = 2 * lo_start;
        high_col0 = 2 * hi_start + 1;
        if (!working_range(lo_start, lo_count, hi_start, hi_count, col_first, col_last))
            inconsistent();
    } else {
        col_first = low_col0 = lo_start;
        col_last = col_first + low_cols - 1;
    }
    if (region.pos.y < row_first || region.pos.y + region.size.y - 1 > row_last ||
        region.pos.x < col_first || region.pos.x + region.size.x - 1 > col_last)
        inconsistent();

    const bool many_rows = vert_split && row_last > row_first;
    const bool many_cols = hor_split && col_last > col_first;
    if (many_cols) {
        hsteps = rv_make_lifting_steps(shape.horz, reversible, shape.kernel_id);
        hsymmetric = shape.horz.symmetric_extension;
    }
    if (many_rows) {
        vsteps = rv_make_lifting_steps(shape.vert, reversible, shape.kernel_id);
        vsymmetric = shape.vert.symmetric_extension;
    }

    // Children deliver their samples divided by the gains of the synthesis that follows,
    // so that every node works on values of the image's nominal range.
    rv_child_normalizations(shape, many_rows, many_cols, normalization, child_norm);
    if (!reversible) {
        if (use_shorts) {
            const bool hg = many_cols && shape.horz.bibo_gains.size() == hsteps.size() + 1;
            const bool vg = many_rows && shape.vert.bibo_gains.size() == vsteps.size() + 1;
            float n = normalization;
            upshift = rv_headroom_upshift(n, hg ? shape.horz.bibo_gains.data() : nullptr,
                                          hsteps.data(), int(hsteps.size()),
                                          vg ? shape.vert.bibo_gains.data() : nullptr,
                                          vsteps.data(), int(vsteps.size()));
            for (int c = 0; c < 4; c++)
                child_norm[c] = std::ldexp(child_norm[c], -upshift);
        }
    }

    int num_records = 1;
    if (vert_split) {
        queue.init(row_first, row_last, vsteps.data(), int(vsteps.size()), vsymmetric);
        num_records = queue.dry_run(region.pos.y, region.pos.y + region.size.y - 1);
    }
    int ext = 0;
    for (const rv_lifting_step& s : hsteps)
        ext = std::max(ext, s.extend + 2);
    ext = std::min(ext, 255);
    records.resize(size_t(std::max(1, num_records)));
    auto reserve = [&](rv_dwt_line& r) {
        if (hor_split) {
            if (low_cols > 0)
                r.halves[0].pre_create(allocator, low_cols, reversible, use_shorts, ext, ext);
            if (high_cols > 0)
                r.halves[1].pre_create(allocator, high_cols, reversible, use_shorts, ext, ext);
        } else {
            r.halves[0].pre_create(allocator, low_cols, reversible, use_shorts, 0, 0);
        }
    };
    for (rv_dwt_line& r : records)
        reserve(r);
    if (!hor_split)
        vertical_first = false; // nothing to do across columns
    if (vertical_first)
        reserve(scratch);
    for (int c = 0; c < 4; c++)
        if (shape.child_exists[c] && !shape.child_dims[c].is_empty())
            children[c] = rvd_pull_ifc(make_child(c, child_norm[c]));
    empty = false;
}

rv_synthesis::~rv_synthesis()
{
    for (rvd_pull_ifc& c : children)
        c.destroy();
}

void rv_synthesis::start(rvd_thread_env* env)
{
    if (started)
        return;
    {
        // The allocator is shared by the tile's engines.
        rv_env_lock lock(env);
        for (rv_dwt_line& r : records) {
            r.halves[0].create();
            r.halves[1].create();
        }
        scratch.halves[0].create();
        scratch.halves[1].create();
        started = true;
    }
    for (rvd_pull_ifc& c : children)
        if (c.exists())
            c.start(env);
    if (vert_split && !empty)
        queue.set_records(&records);
}

void rv_synthesis::load_row(int row, rv_dwt_line& line, rvd_thread_env* env)
{
    int a = 0, b = 1;
    if (vert_split && (row & 1)) {
        a = 2;
        b = 3;
    }
    if (line.halves[0].get_width() > 0) {
        if (!children[a].exists())
            inconsistent();
        children[a].pull(line.halves[0], env);
    }
    if (line.halves[1].get_width() > 0) {
        if (!children[b].exists())
            inconsistent();
        children[b].pull(line.halves[1], env);
    }
    if (!vertical_first)
        horizontal_stage(line);
}

void rv_synthesis::horizontal_stage(rv_dwt_line& line)
{
    if (!hsteps.empty())
        rv_horizontal_synthesis(hsteps.data(), int(hsteps.size()), hsymmetric, line.halves[0],
                                line.halves[1], col_first, col_last);
    else if (reversible && hor_split && col_first == col_last && (col_first & 1)) {
        // The reversible analysis doubled a lone odd column (irreversible bands carry
        // that factor in their step size).
        rvd_line_buf& h = line.halves[1];
        if (h.is_shorts())
            h.get_buf16()[0] = std::int16_t(h.get_buf16()[0] >> 1);
        else
            h.get_buf32()[0].ival >>= 1;
    }
}

void rv_synthesis::deliver(const rv_dwt_line& finished, int row, rvd_line_buf& out)
{
    int n = std::min(region.size.x, out.get_width() - pull_offset);
    int x0 = region.pos.x;
    // A lone odd row, doubled by the reversible analysis.
    int halvings = 0;
    if (reversible && vert_split && row_first == row_last && (row & 1))
        halvings++;
    const rv_dwt_line* src = &finished;
    if (vertical_first) {
        // The held row may still feed other rows' vertical steps: work on a copy.
        for (int h = 0; h < 2; h++) {
            const rvd_line_buf& from = finished.halves[h];
            rvd_line_buf& to = scratch.halves[h];
            int w = from.get_width();
            if (w <= 0)
                continue;
            if (use_shorts)
                std::memcpy(to.get_buf16(), from.get_buf16(), size_t(w) * 2);
            else
                std::memcpy(to.get_buf32(), from.get_buf32(), size_t(w) * 4);
            for (int k = 0; halvings > 0 && k < w; k++) {
                if (use_shorts)
                    to.get_buf16()[k] = std::int16_t(to.get_buf16()[k] >> 1);
                else
                    to.get_buf32()[k].ival >>= 1;
            }
        }
        halvings = 0;
        horizontal_stage(scratch);
        src = &scratch;
    }
    const rv_dwt_line& line = *src;
    if (use_shorts) {
        std::int16_t* o = out.get_buf16() + pull_offset;
        copy_out<std::int16_t>(hor_split, col_first, low_col0, high_col0,
                               line.halves[0].get_buf16(), line.halves[1].get_buf16(), x0, n, o);
        int shift = upshift - halvings;
        if (shift > 0) {
            for (int j = 0; j < n; j++)
                o[j] = std::int16_t(std::uint16_t(std::uint32_t(std::int32_t(o[j])) << shift));
        } else if (shift < 0) {
            for (int j = 0; j < n; j++)
                o[j] = std::int16_t(o[j] >> -shift);
        }
    } else if (reversible) {
        std::int32_t* o = &out.get_buf32()->ival + pull_offset;
        const rvd_sample32* lo = line.halves[0].get_buf32();
        const rvd_sample32* hi = line.halves[1].get_buf32();
        copy_out<std::int32_t>(hor_split, col_first, low_col0, high_col0,
                               lo ? &lo->ival : nullptr, hi ? &hi->ival : nullptr, x0, n, o);
        for (int j = 0; halvings > 0 && j < n; j++)
            o[j] >>= halvings;
    } else {
        float* o = &out.get_buf32()->fval + pull_offset;
        const rvd_sample32* lo = line.halves[0].get_buf32();
        const rvd_sample32* hi = line.halves[1].get_buf32();
        copy_out<float>(hor_split, col_first, low_col0, high_col0,
                        lo ? &lo->fval : nullptr, hi ? &hi->fval : nullptr, x0, n, o);
    }
}

void rv_synthesis::pull(rvd_line_buf& line, rvd_thread_env* env)
{
    if (!started)
        start(env);
    if (empty || line.get_width() <= pull_offset)
        return;
    if (next_row >= region.size.y)
        rv_raise_core_error("Attempting to pull more lines from the inverse wavelet transform "
                            "than its node has.");
    if (line.is_shorts() != use_shorts || (use_shorts ? line.get_buf16() == nullptr
                                                      : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the inverse wavelet transform has the wrong sample "
                            "size or no storage.");
    int row = region.pos.y + next_row;
    if (vert_split) {
        rv_dwt_line& rec = queue.get_row(row, [this, env](int r, rv_dwt_line& l) { load_row(r, l, env); });
        deliver(rec, row, line);
    } else {
        // One record: rows before the region (grown children) are pulled and dropped.
        rv_dwt_line& rec = records[0];
        for (int r = (next_row == 0 ? row_first : row); r <= row; r++)
            load_row(r, rec, env);
        deliver(rec, row, line);
    }
    next_row++;
}

// rvd_synthesis ---------------------------------------------------------------------------

namespace {

rvd_pull_ifc_base* make_node_engine(rvd_node node, rvd_sample_allocator* allocator,
                                    bool use_shorts, float normalization, int pull_offset,
                                    rvd_thread_env* env, rvd_thread_queue* env_queue)
{
    rv_synthesis_shape shape = rv_synthesis_shape_of(node);
    auto maker = [node, allocator, use_shorts, env, env_queue](int idx,
                                                               float norm) -> rvd_pull_ifc_base* {
        rvd_node child = node.access_child(idx);
        rvd_subband band = child.access_subband();
        if (band.exists())
            return rv_make_decoder(band, allocator, use_shorts, norm, 0, env, env_queue);
        return make_node_engine(child, allocator, use_shorts, norm, 0, env, env_queue);
    };
    return new rv_synthesis(shape, maker, allocator, use_shorts, normalization, pull_offset);
}

} // namespace

rvd_synthesis::rvd_synthesis(rvd_node node, rvd_sample_allocator* allocator, bool use_shorts,
                             float normalization, int pull_offset, rvd_thread_env* env,
                             rvd_thread_queue* env_queue)
{
    if (!node.exists())
        rv_raise_core_error("Inverse wavelet transform requested for a missing node.");
    rvd_dims dims;
    node.get_dims(dims);
    // Wide nodes synthesise in column strips on the pool; a lone chain of engines on the
    // pulling thread would be the whole decode's bottleneck.
    const int strips = rv_synthesis_strips(dims.size.x, env);
    if (strips >= 2 && node.access_child(1).exists()) {
        state = rv_make_strip_synthesis(node, strips, allocator, use_shorts, normalization,
                                        pull_offset, env, env_queue);
        return;
    }
    state = make_node_engine(node, allocator, use_shorts, normalization, pull_offset, env,
                             env_queue);
}

rvd_synthesis::rvd_synthesis(rvd_resolution resolution, rvd_sample_allocator* allocator,
                             bool use_shorts, float normalization, rvd_thread_env* env,
                             rvd_thread_queue* env_queue)
    : rvd_synthesis(resolution.access_node(), allocator, use_shorts, normalization, 0, env,
                    env_queue)
{
}
