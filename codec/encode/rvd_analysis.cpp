#include "codec/encode/rvd_analysis.h"
#include "codec/encode/rv_analysis_lifting_sse2.h"

#include "codec/core/rvd_params.h"
#include "codec/core/rvd_thread_env.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int floor_half(int v) { return (v >= 0) ? v / 2 : -((1 - v) / 2); }

[[noreturn]] void inconsistent()
{
    rv_raise_core_error("Inconsistent subband regions found while building the forward "
                        "wavelet transform of a tile-component.");
}

// Rows (or columns) of parity `high` among first..last.
int count_of_parity(int first, int last, int high)
{
    return (high ? floor_half(last + 1) - floor_half(first)
                 : floor_half(last + 2) - floor_half(first + 1));
}

template <class T>
void split_row(const T* in, int n, int x0, bool hor_split, T* low, T* high, int shift)
{
    auto scaled = [shift](T v) {
        if (shift <= 0)
            return v;
        return T((std::int32_t(v) + (1 << (shift - 1))) >> shift);
    };
    if (!hor_split) {
        for (int k = 0; k < n; k++)
            low[k] = scaled(in[k]);
        return;
    }
    int k = 0;
    if (x0 & 1)
        *high++ = scaled(in[k++]);
    for (; k + 1 < n; k += 2) {
        *low++ = scaled(in[k]);
        *high++ = scaled(in[k + 1]);
    }
    if (k < n)
        *low = scaled(in[k]);
}

// The 32-bit samples of a line, null for a half without samples.
std::int32_t* ints(const rvd_line_buf& line)
{
    rvd_sample32* b = line.get_buf32();
    return b == nullptr ? nullptr : &b->ival;
}

void double_samples(rvd_line_buf& line, bool shorts)
{
    for (int k = 0; k < line.get_width(); k++) {
        if (shorts)
            line.get_buf16()[k] = std::int16_t(std::uint16_t(line.get_buf16()[k]) << 1);
        else
            line.get_buf32()[k].ival = std::int32_t(std::uint32_t(line.get_buf32()[k].ival) << 1);
    }
}

} // namespace

rv_analysis::rv_analysis(const rv_synthesis_shape& shape, const rv_analysis_child_maker& make_child,
                         rvd_sample_allocator* allocator, bool use_shorts, float normalization,
                         std::unique_ptr<rv_roi_level> roi_level)
    : reversible(shape.reversible), use_shorts(use_shorts), roi(std::move(roi_level))
{
    if (allocator == nullptr)
        rv_raise_core_error("Invalid arguments given to the forward wavelet transform.");
    const rvd_dims& r = shape.region;
    y0 = r.pos.y;
    y1 = r.pos.y + r.size.y - 1;
    x0 = r.pos.x;
    x1 = r.pos.x + r.size.x - 1;
    if (r.is_empty())
        return; // accepts pushes, produces nothing; the mask source goes with `roi`
    if (!shape.child_exists[0])
        inconsistent();
    vert_split = shape.child_exists[2];
    hor_split = shape.child_exists[1];
    many_rows = vert_split && y1 > y0;
    many_cols = hor_split && x1 > x0;
    horizontal_first = shape.vertical_first && hor_split;
    if (hor_split) {
        widths[0] = count_of_parity(x0, x1, 0);
        widths[1] = count_of_parity(x0, x1, 1);
    } else {
        widths[0] = x1 - x0 + 1;
    }
    for (int c = 0; c < 4; c++) {
        if (!shape.child_exists[c])
            continue;
        const rvd_dims& cd = shape.child_dims[c];
        const int rows = vert_split ? count_of_parity(y0, y1, c >> 1) : y1 - y0 + 1;
        if (std::max(0, cd.size.x) != widths[c & 1] || std::max(0, cd.size.y) != rows)
            if (!(cd.is_empty() && (widths[c & 1] == 0 || rows == 0)))
                inconsistent();
    }
    if (many_cols) {
        hsteps = rv_make_lifting_steps(shape.horz, reversible, shape.kernel_id);
        hsymmetric = shape.horz.symmetric_extension;
    }
    if (many_rows) {
        vsteps = rv_make_lifting_steps(shape.vert, reversible, shape.kernel_id);
        vsymmetric = shape.vert.symmetric_extension;
    }

    // Children take their samples divided by the gains of the analysis above them.
    rv_child_normalizations(shape, many_rows, many_cols, normalization, child_norm);
    if (!reversible) {
        if (use_shorts) {
            const bool hg = many_cols && shape.horz.bibo_gains.size() == hsteps.size() + 1;
            const bool vg = many_rows && shape.vert.bibo_gains.size() == vsteps.size() + 1;
            const double* hgains = hg ? shape.horz.bibo_gains.data() : nullptr;
            const double* vgains = vg ? shape.vert.bibo_gains.data() : nullptr;
            float n = normalization;
            if (horizontal_first)
                extra_shift = rv_headroom_upshift(n, hgains, hsteps.data(), int(hsteps.size()),
                                                  vgains, vsteps.data(), int(vsteps.size()));
            else
                extra_shift = rv_headroom_upshift(n, vgains, vsteps.data(), int(vsteps.size()),
                                                  hgains, hsteps.data(), int(hsteps.size()));
            for (int c = 0; c < 4; c++)
                child_norm[c] = std::ldexp(child_norm[c], -extra_shift);
        }
    }

    int num_buffers = 1;
    if (many_rows && !vsteps.empty())
        num_buffers = plan_vertical();
    set_up_horizontal(allocator, num_buffers);

    for (int c = 0; c < 4; c++) {
        if (!shape.child_exists[c])
            continue;
        rvd_roi_node* child_roi = roi ? roi->get_child(c) : nullptr;
        if (shape.child_dims[c].is_empty()) {
            if (child_roi != nullptr) {
                child_roi->release();
                delete child_roi;
            }
            continue;
        }
        children[c] = rvd_push_ifc(make_child(c, child_norm[c], child_roi));
    }
    empty = false;
}

rv_analysis::~rv_analysis()
{
    // Children first: they own and delete the mask nodes `roi` handed out.
    for (rvd_push_ifc& c : children)
        c.destroy();
    roi.reset();
}

void rv_analysis::set_up_horizontal(rvd_sample_allocator* allocator, int num_buffers)
{
    int ext = 0;
    for (const rv_lifting_step& s : hsteps)
        ext = std::max(ext, s.extend + 2);
    ext = std::min(ext, 255);
    rows.resize(size_t(num_buffers));
    for (rv_analysis_row& row : rows)
        for (int h = 0; h < 2; h++)
            if (widths[h] > 0)
                row.halves[h].pre_create(allocator, widths[h], reversible, use_shorts, ext, ext);
}

void rv_analysis::set_up_vertical()
{
    const int V = int(vsteps.size());
    queues.assign(size_t(V + 1), rv_analysis_queue());
    next_target.assign(size_t(V + 1), 0);
    for (int q = 0; q <= V; q++)
        queues[size_t(q)].init(y0, y1, vsymmetric, q - 1);
    // Queue 0 (pushed odd rows) is read by no step as sources.
    queues[0].finish_sources(nullptr);
    for (int s = 0; s < V; s++) {
        const rv_lifting_step& step = vsteps[size_t(s)];
        const int parity = 1 - (s & 1);
        next_target[size_t(s)] = y0 + ((y0 & 1) != parity ? 1 : 0);
        // Sources that the last targets mirror back from beyond y1 must stay: keep from
        // the lowest of them (at most y1 - 1). Working it out from the targets themselves
        // also covers kernels whose reach is not centred on the target.
        int keep = y1 - 1;
        int t = y1 - ((y1 & 1) != parity ? 1 : 0);
        for (; t >= y0; t -= 2) {
            const int first_src = (t ^ 1) + 2 * step.support_min;
            if (first_src + 2 * (step.support_length - 1) <= y1)
                break;
            for (int j = 0; j < step.support_length; j++)
                if (first_src + 2 * j > y1)
                    keep = std::min(keep, rv_extend_index(first_src + 2 * j, y0, y1, vsymmetric));
        }
        queues[size_t(s + 1)].set_keep_from(keep);
    }
    const int emit_parity = (V - 1) & 1;
    next_target[size_t(V)] = y0 + ((y0 & 1) != emit_parity ? 1 : 0);
    limit = 0;
}

int rv_analysis::plan_vertical()
{
    rv_analysis_pool plan(true);
    set_up_vertical();
    for (int y = y0; y <= y1; y++)
        enter_row(plan.take(), y, plan, true, nullptr);
    const int peak = plan.get_peak();
    set_up_vertical();
    return std::max(1, peak);
}

bool rv_analysis::is_drained() const
{
    for (const rv_analysis_queue& q : queues)
        if (!q.is_empty())
            return false;
    return true;
}

void rv_analysis::load_row(const rvd_line_buf& line, rv_analysis_row& row)
{
    const int n = x1 - x0 + 1;
    if (use_shorts) {
        std::int16_t* low = row.halves[0].get_buf16();
        std::int16_t* high = row.halves[1].get_buf16();
        if (!hor_split || !rv_split_line16_sse2(line.get_buf16(), n, x0, low, high, extra_shift))
            split_row(line.get_buf16(), n, x0, hor_split, low, high, extra_shift);
    } else {
        std::int32_t* low = ints(row.halves[0]);
        std::int32_t* high = ints(row.halves[1]);
        if (!hor_split || !rv_split_line32_sse2(&line.get_buf32()->ival, n, x0, low, high))
            split_row(&line.get_buf32()->ival, n, x0, hor_split, low, high, 0);
    }
}

void rv_analysis::horizontal(rv_analysis_row& row)
{
    if (many_cols && !hsteps.empty())
        rv_horizontal_analysis(hsteps.data(), int(hsteps.size()), hsymmetric, row.halves[0],
                               row.halves[1], x0, x1);
    else if (reversible && hor_split && x0 == x1 && (x0 & 1))
        double_samples(row.halves[1], use_shorts); // a lone odd column forms the high band
}

void rv_analysis::to_children(rv_analysis_row& row, int y, rvd_thread_env* env)
{
    const int p = vert_split ? (y & 1) : 0;
    // A lone odd row forms the high band; the vertical stage comes before the horizontal
    // one unless the view is transposed.
    if (reversible && vert_split && y0 == y1 && (y & 1))
        for (int h = 0; h < 2; h++)
            double_samples(row.halves[h], use_shorts);
    if (!horizontal_first)
        horizontal(row);
    for (int h = 0; h < 2; h++)
        if (widths[h] > 0 && children[2 * p + h].exists())
            children[2 * p + h].push(row.halves[h], env);
}

void rv_analysis::enter_row(rv_analysis_row* row, int y, rv_analysis_pool& p, bool planning,
                            rvd_thread_env* env)
{
    if (!many_rows || vsteps.empty()) {
        if (!planning)
            to_children(*row, y, env);
        p.give(row);
        return;
    }
    queues[(y & 1) ? 0 : 1].add_line(y, row, p);
    limit = (y & 1) ? 0 : 1;
    run_schedule(p, planning, env);
}

void rv_analysis::run_schedule(rv_analysis_pool& p, bool planning, rvd_thread_env* env)
{
    const int V = int(vsteps.size());
    bool progress = true;
    while (progress) {
        progress = false;
        for (int s = 0; s <= limit && s < V; s++)
            if (fire(s, p, planning, env)) {
                progress = true;
                limit = std::max(limit, s + 2);
            }
        if (emit(p, planning, env))
            progress = true;
    }
}

bool rv_analysis::fire(int s, rv_analysis_pool& p, bool planning, rvd_thread_env* env)
{
    const int V = int(vsteps.size());
    const rv_lifting_step& step = vsteps[size_t(s)];
    const int t = next_target[size_t(s)];
    rv_analysis_queue& targets = queues[size_t(s)];
    rv_analysis_queue& sources = queues[size_t(s + 1)];
    if (t > y1 || !targets.holds(t))
        return false;
    const int first_src = (t ^ 1) + 2 * step.support_min;
    if (!sources.sources_held(first_src, step.support_length)) {
        sources.set_needed_from(first_src);
        return false;
    }
    // The result's buffer is taken before the step's own rows can be released.
    rv_analysis_row* out = p.take();
    rv_analysis_row* src[256];
    sources.get_source_lines(first_src, step.support_length, src, p);
    rv_analysis_row* in = targets.get_line(t, p);
    if (!planning)
        for (int h = 0; h < 2; h++) {
            if (widths[h] <= 0)
                continue;
            const rvd_line_buf* lines[256];
            for (int j = 0; j < step.support_length; j++)
                lines[j] = &src[j]->halves[h];
            rv_analysis_vertical_step(step, lines, in->halves[h], out->halves[h]);
        }
    next_target[size_t(s)] = t + 2;
    if (t + 2 > y1)
        sources.finish_sources(&p);
    if (s < V - 1) {
        queues[size_t(s + 2)].add_line(t, out, p);
    } else {
        if (!planning)
            to_children(*out, t, env);
        p.give(out);
    }
    return true;
}

bool rv_analysis::emit(rv_analysis_pool& p, bool planning, rvd_thread_env* env)
{
    const int V = int(vsteps.size());
    const int t = next_target[size_t(V)];
    rv_analysis_queue& q = queues[size_t(V)];
    if (t > y1 || !q.holds(t) || t >= q.get_needed_from() || t >= q.get_keep_from())
        return false;
    rv_analysis_row* row = q.get_line(t, p); // released at once; used before any take
    if (!planning)
        to_children(*row, t, env);
    next_target[size_t(V)] = t + 2;
    return true;
}

void rv_analysis::push(rvd_line_buf& line, rvd_thread_env* env)
{
    if (!started) {
        {
            // The allocator is shared by the tile's engines.
            rv_env_lock lock(env);
            for (rv_analysis_row& r : rows) {
                r.halves[0].create();
                r.halves[1].create();
            }
        }
        for (rv_analysis_row& r : rows)
            pool.add(&r);
        started = true;
    }
    if (empty)
        return;
    if (next_row > y1 - y0)
        rv_raise_core_error("Attempting to push more lines into the forward wavelet transform "
                            "than its node has.");
    if (line.is_shorts() != use_shorts || line.get_width() < x1 - x0 + 1 ||
        (use_shorts ? line.get_buf16() == nullptr : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the forward wavelet transform has the wrong sample "
                            "size, too few samples or no storage.");
    const int y = y0 + next_row++;
    rv_analysis_row* row = pool.take();
    load_row(line, *row);
    if (horizontal_first)
        horizontal(*row);
    enter_row(row, y, pool, false, env);
}

// rvd_analysis -------------------------------------------------------------------------------

namespace {

// Releases and deletes a mask node that nobody took over.
struct roi_guard {
    rvd_roi_node* node;
    ~roi_guard()
    {
        if (node != nullptr) {
            node->release();
            delete node;
        }
    }
    rvd_roi_node* take()
    {
        rvd_roi_node* n = node;
        node = nullptr;
        return n;
    }
};

rvd_push_ifc_base* make_node_engine(rvd_node node, rvd_sample_allocator* allocator,
                                    bool use_shorts, float normalization, rvd_roi_node* roi,
                                    rvd_thread_env* env, rvd_thread_queue* env_queue,
                                    const rv_band_encoder_maker& make_band)
{
    roi_guard guard{roi};
    std::unique_ptr<rv_roi_level> level;
    if (roi != nullptr && node.access_resolution().propagate_roi()) {
        level.reset(new rv_roi_level);
        level->init(node, guard.take());
    }
    auto maker = [node, allocator, use_shorts, env, env_queue,
                  &make_band](int idx, float norm, rvd_roi_node* child_roi) -> rvd_push_ifc_base* {
        rvd_node child = node.access_child(idx);
        rvd_subband band = child.access_subband();
        if (!band.exists())
            return make_node_engine(child, allocator, use_shorts, norm, child_roi, env,
                                    env_queue, make_band);
        if (make_band)
            return make_band(band, allocator, use_shorts, norm, child_roi, env, env_queue);
        return rv_create_subband_encoder(band, allocator, use_shorts, norm, child_roi, env,
                                         env_queue);
    };
    return new rv_analysis(rv_synthesis_shape_of(node), maker, allocator, use_shorts,
                           normalization, std::move(level));
}

} // namespace

rvd_analysis::rvd_analysis(rvd_node node, rvd_sample_allocator* allocator, bool use_shorts,
                           float normalization, rvd_roi_node* roi, rvd_thread_env* env,
                           rvd_thread_queue* env_queue, const rv_band_encoder_maker& make_band)
{
    if (!node.exists()) {
        roi_guard guard{roi}; // released as the error leaves
        rv_raise_core_error("Forward wavelet transform requested for a missing node.");
    }
    state = make_node_engine(node, allocator, use_shorts, normalization, roi, env, env_queue,
                             make_band);
}

rvd_analysis::rvd_analysis(rvd_resolution resolution, rvd_sample_allocator* allocator,
                           bool use_shorts, float normalization, rvd_roi_node* roi,
                           rvd_thread_env* env, rvd_thread_queue* env_queue,
                           const rv_band_encoder_maker& make_band)
    : rvd_analysis(resolution.access_node(), allocator, use_shorts, normalization, roi, env,
                   env_queue, make_band)
{
}
