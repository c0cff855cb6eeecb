#include "codec/coding/rv_strip_synthesis.h"

#include "codec/coding/rv_decoder.h"
#include "codec/coding/rv_synthesis.h"
#include "codec/core/rv_codestream.h"
#include "codec/core/rvd_resolution.h"
#include "codec/core/rvd_subband.h"
#include "codec/core/rvd_thread_env.h"

#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const int stripe_rows = 32;      // rows a strip synthesises in one job
const int stripes_held = 3;      // stripes being filled or waiting for the caller
// Narrower strips spend more on their edges and per-row work than they gain.
std::atomic<int> min_strip_width{1024};
const int strip_align = 32;      // strip edges on whole cache lines of every sample size
// Rows by which a strip's pulls from a band may lead another's beyond the stripes
// themselves: what the vertical steps of every level read ahead.
const int band_rows_slack = 16;

int floor_half(int v)
{
    return v >= 0 ? v / 2 : -((1 - v) / 2);
}

int ceil_half(int v)
{
    return -floor_half(-v);
}

// Node positions that a sample cut off at a strip's edge can spoil through the lifting
// steps of one direction (the strip reaches this far beyond its own columns).
int horizontal_reach(const rv_synthesis_direction& d)
{
    int reach = 2;
    for (const rvd_kernel_step_info& s : d.steps)
        reach += 2 * std::max(std::abs(s.support_min),
                              std::abs(s.support_min + s.support_length - 1)) + 1;
    return reach;
}

// A run of columns: the first and how many.
struct span {
    int first = 0, count = 0;
    int last() const { return first + count - 1; }
};

span clip(const span& s, int first, int last)
{
    const int a = std::max(s.first, first), b = std::min(s.last(), last);
    return b < a ? span{} : span{a, b - a + 1};
}

// The columns of the first of two children that has samples.
span child_columns(const rv_synthesis_shape& shape, int a, int b)
{
    for (int c : {a, b})
        if (shape.child_exists[c] && !shape.child_dims[c].is_empty())
            return span{shape.child_dims[c].pos.x, shape.child_dims[c].size.x};
    return span{};
}

// A strip's view of a band shared by every strip: its own columns of each line.
class band_view : public rvd_pull_ifc_base {
public:
    band_view(rv_decoder* decoder, int reader, int first_col, int count)
        : decoder(decoder), reader(reader), first_col(first_col), count(count)
    {
    }
    void start(rvd_thread_env* env) override { decoder->start(env); }
    void pull(rvd_line_buf& line, rvd_thread_env* env) override
    {
        decoder->pull_columns(reader, line, first_col, count, env);
    }

private:
    rv_decoder* decoder;
    int reader, first_col, count;
};

class strip_synthesis : public rvd_pull_ifc_base {
public:
    strip_synthesis(rvd_node node, int strips, rvd_sample_allocator* allocator, bool use_shorts,
                    float normalization, int pull_offset, rvd_thread_env* env,
                    rvd_thread_queue* env_queue);
    void start(rvd_thread_env* env) override;
    void pull(rvd_line_buf& line, rvd_thread_env* env) override;

private:
    // The jobs of one strip whose stripes use one buffer slot: job j is stripe
    // slot + j * stripes_held.
    struct strip_worker : rvd_worker {
        strip_synthesis* owner = nullptr;
        int strip = 0, slot = 0;
        rvd_thread_queue* queue = nullptr;
        void do_job(rvd_thread_env* env, int job_idx) override
        {
            owner->run(strip, slot + job_idx * stripes_held, env);
        }
    };

    rvd_pull_ifc_base* build(rvd_node node, const span& cols, float normalization,
                             int pull_offset, int strip, int row_halvings,
                             const std::string& path);
    rv_decoder* shared_band(rvd_subband band, float normalization, int row_halvings,
                            const std::string& path);
    void run(int strip, int stripe, rvd_thread_env* env);
    // Adds strip's job for `stripe` (the strip's lock held).
    void queue_stripe(int strip, int stripe, rvd_thread_env* env);
    rvd_line_buf& stripe_line(int stripe, int row)
    {
        return lines[size_t((stripe % stripes_held) * stripe_rows + row)];
    }

    rvd_sample_allocator* allocator;
    bool use_shorts;
    int num_strips;
    int pull_offset;
    rvd_thread_env* creator_env;
    rvd_thread_queue* env_queue;
    rvd_dims region;
    int rank_shift = 0;
    std::map<std::string, std::unique_ptr<rv_decoder>> bands; // outlive the strips' engines
    std::map<std::string, float> band_norms;
    std::vector<rvd_pull_ifc> roots;
    std::unique_ptr<strip_worker[]> workers; // strip * stripes_held + slot
    rvd_thread_queue* slot_queues[stripes_held] = {};
    std::unique_ptr<rvd_line_buf[]> lines;   // stripes_held stripes of full rows
    int num_stripes = 0;
    bool started = false;
    int next_row = 0;
    // Guarded by `lock`: each strip's next stripe, whether its job is queued or running,
    // and the stripes the caller has finished with.
    boost::mutex lock;
    std::vector<int> next_stripe;
    std::vector<char> queued;
    int stripes_freed = 0;
};

strip_synthesis::strip_synthesis(rvd_node node, int strips, rvd_sample_allocator* allocator,
                                 bool use_shorts, float normalization, int pull_offset,
                                 rvd_thread_env* env, rvd_thread_queue* env_queue)
    : allocator(allocator), use_shorts(use_shorts), num_strips(strips),
      pull_offset(pull_offset), creator_env(env), env_queue(env_queue)
{
    if (allocator == nullptr || env == nullptr || strips < 2 || pull_offset < 0)
        rv_raise_core_error("Invalid arguments given to the inverse wavelet transform.");
    node.get_dims(region);
    rank_shift = std::max(0, node.access_resolution().get_dwt_level());
    const rv_synthesis_shape shape = rv_synthesis_shape_of(node);
    const bool reversible = shape.reversible;
    num_stripes = (region.size.y + stripe_rows - 1) / stripe_rows;
    rvd_thread_queue* parent = env->add_queue(nullptr, env_queue, "strip synthesis");
    for (int b = 0; b < stripes_held; b++)
        slot_queues[b] = env->add_queue(nullptr, parent, "stripe");
    workers.reset(new strip_worker[size_t(strips * stripes_held)]);
    for (int s = 0; s < strips; s++) {
        // Edges on aligned columns of the region, widths as even as that allows.
        auto edge = [&](int k) {
            const int64_t x = int64_t(region.size.x) * k / strips;
            return k == strips ? region.size.x : int(x - x % strip_align);
        };
        const int a = edge(s), b = edge(s + 1);
        if (b <= a)
            rv_raise_core_error("Invalid arguments given to the inverse wavelet transform.");
        roots.emplace_back(build(node, span{region.pos.x + a, b - a}, normalization,
                                 pull_offset + a, s, 0, std::string()));
        for (int slot = 0; slot < stripes_held; slot++) {
            strip_worker& w = workers[size_t(s * stripes_held + slot)];
            w.owner = this;
            w.strip = s;
            w.slot = slot;
            w.queue = env->add_queue(&w, slot_queues[slot], "strip");
            if (slot >= num_stripes)
                env->add_jobs(w.queue, 0, true);
        }
    }
    lines.reset(new rvd_line_buf[size_t(stripes_held * stripe_rows)]);
    for (int i = 0; i < stripes_held * stripe_rows; i++)
        lines[size_t(i)].pre_create(allocator, pull_offset + region.size.x, reversible,
                                    use_shorts, 0, 0);
    next_stripe.assign(size_t(strips), 0);
    queued.assign(size_t(strips), 0);
}

// Strip `strip`'s engine for node columns `cols`, its children cut to the columns the
// horizontal steps reach from there.
rvd_pull_ifc_base* strip_synthesis::build(rvd_node node, const span& cols, float normalization,
                                          int offset, int strip, int row_halvings,
                                          const std::string& path)
{
    const rv_synthesis_shape full = rv_synthesis_shape_of(node);
    rv_synthesis_shape shape = full;
    shape.region.pos.x = cols.first;
    shape.region.size.x = cols.count;
    const bool hor_split = full.child_exists[1];
    const span low_full = child_columns(full, 0, 2), high_full = child_columns(full, 1, 3);
    span low = clip(low_full, cols.first, cols.last()), high;
    if (hor_split) {
        const int reach = horizontal_reach(full.horz);
        const int q0 = cols.first - reach, q1 = cols.last() + reach;
        low = clip(low_full, ceil_half(q0), floor_half(q1));
        high = clip(high_full, ceil_half(q0 - 1), floor_half(q1 - 1));
        // A cut leaving one half without samples would change the node's kind of
        // transform: such a node is narrow, and runs whole in every strip.
        if ((low.count == 0) != (low_full.count == 0) || (high.count == 0) != (high_full.count == 0)) {
            low = low_full;
            high = high_full;
        }
    }
    for (int c = 0; c < 4; c++) {
        if (!shape.child_exists[c] || shape.child_dims[c].is_empty())
            continue;
        const span& s = (c & 1) ? high : low;
        shape.child_dims[c].pos.x = s.first;
        shape.child_dims[c].size.x = s.count;
    }
    const int child_halvings = row_halvings + (full.child_exists[2] ? 1 : 0);
    auto maker = [&](int c, float norm) -> rvd_pull_ifc_base* {
        rvd_node child = node.access_child(c);
        const span& s = (c & 1) ? high : low;
        const std::string child_path = path + char('0' + c);
        rvd_subband band = child.access_subband();
        if (band.exists()) {
            rv_decoder* dec = shared_band(band, norm, child_halvings, child_path);
            return new band_view(dec, strip, s.first - full.child_dims[c].pos.x, s.count);
        }
        return build(child, s, norm, 0, strip, child_halvings, child_path);
    };
    return new rv_synthesis(shape, maker, allocator, use_shorts, normalization, offset);
}

// The band's decoder, made by the first strip that reaches it; it keeps enough block rows
// in flight for strips that lead others by every held stripe.
rv_decoder* strip_synthesis::shared_band(rvd_subband band, float normalization,
                                         int row_halvings, const std::string& path)
{
    auto found = bands.find(path);
    if (found != bands.end()) {
        if (band_norms[path] != normalization)
            rv_raise_core_error("Inconsistent subband regions found while building the "
                                "inverse wavelet transform of a tile-component.");
        return found->second.get();
    }
    rv_band_shape shape = rv_band_shape_of(band);
    const int block_height = std::max(1, shape.block_size.y);
    const int rows_apart =
        ((stripes_held * stripe_rows) >> std::min(row_halvings, 30)) + band_rows_slack;
    const int min_depth = (rows_apart + block_height - 1) / block_height + 3;
    rv_decoder* dec = rv_make_shared_decoder(band, allocator, use_shorts, normalization,
                                             creator_env, env_queue, num_strips, min_depth);
    bands[path].reset(dec);
    band_norms[path] = normalization;
    return dec;
}

void strip_synthesis::start(rvd_thread_env* env)
{
    if (started)
        return;
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    {
        // The allocator is shared by the tile's engines.
        rv_env_lock guard(e);
        for (int i = 0; i < stripes_held * stripe_rows; i++)
            lines[size_t(i)].create();
        started = true;
    }
    for (rvd_pull_ifc& root : roots)
        root.start(e);
    boost::lock_guard<boost::mutex> guard(lock);
    for (int s = 0; s < num_strips && num_stripes > 0; s++)
        queue_stripe(s, 0, e);
}

void strip_synthesis::queue_stripe(int strip, int stripe, rvd_thread_env* env)
{
    // Ranked as the block rows of the node's own bands where the stripe begins.
    const std::uint64_t need = (std::uint64_t(stripe) * stripe_rows / 2) << std::min(rank_shift, 31);
    const std::uint32_t seq = std::uint32_t(1 + std::min<std::uint64_t>(need, 0x7FFFFFFFu));
    queued[size_t(strip)] = 1;
    env->add_jobs(workers[size_t(strip * stripes_held + stripe % stripes_held)].queue, 1,
                  stripe + stripes_held >= num_stripes, seq);
}

void strip_synthesis::run(int strip, int stripe, rvd_thread_env* env)
{
    const int first = stripe * stripe_rows;
    const int rows = std::min(stripe_rows, region.size.y - first);
    for (int i = 0; i < rows; i++)
        roots[size_t(strip)].pull(stripe_line(stripe, i), env);
    boost::lock_guard<boost::mutex> guard(lock);
    next_stripe[size_t(strip)] = stripe + 1;
    queued[size_t(strip)] = 0;
    if (stripe + 1 < num_stripes && stripe + 1 < stripes_freed + stripes_held)
        queue_stripe(strip, stripe + 1, env);
}

void strip_synthesis::pull(rvd_line_buf& line, rvd_thread_env* env)
{
    if (!started)
        start(env);
    if (line.get_width() <= pull_offset)
        return;
    if (next_row >= region.size.y)
        rv_raise_core_error("Attempting to pull more lines from the inverse wavelet transform "
                            "than its node has.");
    if (line.is_shorts() != use_shorts ||
        (use_shorts ? line.get_buf16() == nullptr : line.get_buf32() == nullptr))
        rv_raise_core_error("Line given to the inverse wavelet transform has the wrong sample "
                            "size or no storage.");
    rvd_thread_env* e = env != nullptr ? env : creator_env;
    const int stripe = next_row / stripe_rows, row = next_row % stripe_rows;
    if (row == 0) {
        if (stripe > 0) {
            // The previous stripe's slot takes a later stripe: strips waiting for it go on.
            boost::lock_guard<boost::mutex> guard(lock);
            stripes_freed = stripe;
            for (int s = 0; s < num_strips; s++) {
                const int next = next_stripe[size_t(s)];
                if (!queued[size_t(s)] && next < num_stripes && next < stripes_freed + stripes_held)
                    queue_stripe(s, next, e);
            }
        }
        // Every strip's job for this stripe has been added by now: each strip finished
        // the stripe before, whose slot was free.
        e->process_jobs(slot_queues[stripe % stripes_held], false, true);
    }
    const rvd_line_buf& from = stripe_line(stripe, row);
    const int n = std::min(region.size.x, line.get_width() - pull_offset);
    if (use_shorts)
        std::memcpy(line.get_buf16() + pull_offset, from.get_buf16() + pull_offset, size_t(n) * 2);
    else
        std::memcpy(line.get_buf32() + pull_offset, from.get_buf32() + pull_offset, size_t(n) * 4);
    next_row++;
}

} // namespace

int rv_synthesis_strips(int width, rvd_thread_env* env)
{
    if (env == nullptr || env->get_num_threads() < 2)
        return 1;
    return std::max(1, std::min(env->get_num_threads(), width / min_strip_width.load()));
}

int rv_set_min_strip_width(int columns)
{
    return min_strip_width.exchange(std::max(strip_align, columns));
}

rvd_pull_ifc_base* rv_make_strip_synthesis(rvd_node node, int strips,
                                           rvd_sample_allocator* allocator, bool use_shorts,
                                           float normalization, int pull_offset,
                                           rvd_thread_env* env, rvd_thread_queue* env_queue)
{
    return new strip_synthesis(node, strips, allocator, use_shorts, normalization, pull_offset,
                               env, env_queue);
}
