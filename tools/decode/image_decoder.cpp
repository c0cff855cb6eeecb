#include "tools/decode/image_decoder.h"

#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_multi_synthesis.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_processor.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_line_buf.h"
#include "codec/core/rvd_sample_allocator.h"
#include "codec/core/rvd_worker.h"
#include "tools/decode/decode_error.h"
#include "tools/decode/float_line_conversion.h"

#include <boost/thread/condition_variable.hpp>
#include <boost/thread/locks.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/once.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <unistd.h>
#include <limits>
#include <memory>

namespace {

// Rows per component job when the settings leave it to the tile: at least 16, more for a
// narrow tile, so that a job holds some 32K samples (at most 1,024 rows).
constexpr int64_t default_stripe = 16;
constexpr int64_t default_job_samples = 32768;
constexpr int64_t default_max_stripe = 1024;

// The widest of the tile-components (at least 1).
int64_t widest(const std::vector<rvd_dims>& td)
{
    int64_t w = 1;
    for (const rvd_dims& d : td)
        w = std::max<int64_t>(w, d.size.x);
    return w;
}

// Rows of `row_samples` samples that hold `samples`, and at least `at_least`.
int64_t rows_holding(int64_t samples, int64_t row_samples, int64_t at_least)
{
    return std::max(at_least, (samples + row_samples - 1) / row_samples);
}

// The thread environment, when asked for, and the codestream: the codestream goes first,
// then the environment, however the decode ends.
struct codestream_guard {
    std::unique_ptr<rvd_thread_env> env;
    rvd_codestream cs;
    ~codestream_guard()
    {
        if (cs.exists())
            cs.destroy();
        env.reset();
    }
};

// The tile's queue, terminated with everything under it however the tile's decode ends.
struct tile_queue_guard {
    rvd_thread_env* env;
    rvd_thread_queue* queue;
    ~tile_queue_guard()
    {
        if (queue != nullptr)
            env->terminate(queue, false);
    }
};

// Maps one output line of the network to samples: zero-centred values (fixed point or
// float for real lines) scaled to the output's bit depth, re-centred when unsigned and
// clipped to its range.
struct line_converter {
    int depth;
    int64_t lo, hi, offset;
    float_line_conversion floats; // for real samples on float lines

    line_converter(int depth, bool is_signed) : depth(depth)
    {
        offset = is_signed ? 0 : int64_t(1) << (depth - 1);
        lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
        hi = is_signed ? (int64_t(1) << (depth - 1)) - 1 : (int64_t(1) << depth) - 1;
        floats = {std::ldexp(1.0, depth), double(lo - offset), double(hi - offset), int32_t(offset)};
    }

    int32_t clip(int64_t v) const { return int32_t(std::clamp(v + offset, lo, hi)); }

    void convert(const rvd_line_buf& line, int width, int32_t* out) const
    {
        if (line.is_shorts()) {
            const rvd_sample16* sp = line.get_buf16();
            if (depth <= 16) {
                // The same arithmetic in 32 bits, which the compiler turns into vector
                // code: 16-bit samples shifted by at most 16 bits cannot overflow.
                const int32_t o = int32_t(offset), l = int32_t(lo), h = int32_t(hi);
                if (line.is_absolute())
                    for (int i = 0; i < width; i++)
                        out[i] = std::clamp(int32_t(sp[i]) + o, l, h);
                else
                    for (int i = 0; i < width; i++)
                        out[i] = std::clamp(((int32_t(sp[i]) * (1 << depth) + 4096) >> 13) + o, l, h);
                return;
            }
            if (line.is_absolute())
                for (int i = 0; i < width; i++)
                    out[i] = clip(sp[i]);
            else
                for (int i = 0; i < width; i++)
                    out[i] = clip((int64_t(sp[i]) * (int64_t(1) << depth) + 4096) >> 13);
            return;
        }
        const rvd_sample32* sp = line.get_buf32();
        if (line.is_absolute()) {
            for (int i = 0; i < width; i++)
                out[i] = clip(sp[i].ival);
            return;
        }
        floats.convert(&sp->fval, width, out);
    }
};

// Destroys the tile's network however the tile's decode ends.
struct network_guard {
    rvd_multi_synthesis net;
    ~network_guard()
    {
        if (net.exists())
            net.destroy();
    }
};

// Where one tile-component's rows go: straight to the receiver when the tile spans the
// component's width, else into the band that gathers the tile row.
struct row_target {
    int64_t first_row = 0; // the tile-component's first row in the component
    int64_t col = 0;       // its first column
    int32_t* band = nullptr;
    int64_t band_width = 0;
};

// With worker threads, rows of a tile that spans its components are converted by pool
// jobs, a stripe at a time split across the threads, while the caller pulls the next
// stripes from the network. Several stripes may be in the pool at once, each in its own
// slot with its own queue; they reach the receiver in order: the job that finishes a
// stripe's conversion hands it over when every earlier stripe has gone, and then hands
// over the later stripes already converted.
class output_stripes {
public:
    output_stripes(rvd_thread_env* env, rvd_thread_queue* parent, rvd_multi_synthesis& net,
                   const std::vector<line_converter>& conv, const std::vector<row_target>& targets,
                   const std::vector<rvd_dims>& td, int rows, decoded_rows& out)
        : env(env), conv(conv), targets(targets), td(td), rows(rows), out(out)
    {
        const size_t n = td.size();
        const int64_t width = widest(td);
        // Every slot's rows of every component, within a few megabytes however wide; a
        // narrow image takes more rows, so that a stripe is worth the jobs it wakes.
        const int64_t row_samples = width * int64_t(n);
        const int64_t fit = max_bytes / (num_slots * 4 * row_samples);
        stripe = int(std::clamp<int64_t>(fit, 1, rows_holding(stripe_samples, row_samples, max_stripe)));
        row_width = size_t(width);
        for (slot& s : slots) {
            s.owner = this;
            s.lines.reset(new rvd_line_buf[size_t(stripe) * n]);
            s.have.assign(size_t(stripe) * n, false);
            for (int k = 0; k < stripe; k++)
                for (size_t c = 0; c < n; c++)
                    s.lines[size_t(k) * n + c].pre_create(
                        &allocator, std::max(1, td[c].size.x), net.is_line_absolute(int(c)),
                        !net.is_line_precise(int(c)), 0, 0);
        }
        allocator.finalize();
        // A receiver that takes formatted rows gets them formatted by the jobs too, each
        // component's rows of a stripe side by side, so that they go out in one piece.
        formatted = true;
        size_t bytes = 0;
        for (size_t c = 0; c < n; c++) {
            row_bytes.push_back(out.formatted_row_bytes(int(c)));
            byte_offset.push_back(bytes);
            bytes += size_t(stripe) * row_bytes.back();
            formatted = formatted && row_bytes.back() > 0;
        }
        for (slot& s : slots) {
            for (size_t i = 0; i < size_t(stripe) * n; i++)
                s.lines[i].create();
            s.samples.resize(size_t(stripe) * n * row_width);
            if (formatted)
                s.bytes.resize(bytes);
            s.queue = env->add_queue(&s, parent, "output rows");
        }
        jobs_per_stripe = int(std::max<int64_t>(
            1, std::min<int64_t>({stripe, env->get_num_threads(), stripe * row_samples / job_samples})));
    }

    // Keeps component c's line of the row being gathered.
    void keep(int c, const rvd_line_buf& line)
    {
        slot& s = slots[size_t(gathering % num_slots)];
        const size_t i = size_t(filled) * td.size() + size_t(c);
        rvd_line_buf& to = s.lines[i];
        if (line.is_shorts() != to.is_shorts() || line.is_absolute() != to.is_absolute())
            throw decode_error("an output line changed its sample format");
        const size_t w = size_t(td[size_t(c)].size.x);
        if (to.is_shorts())
            std::copy(line.get_buf16(), line.get_buf16() + w, to.get_buf16());
        else
            std::copy(line.get_buf32(), line.get_buf32() + w, to.get_buf32());
        s.have[i] = true;
    }

    // The row is complete; a full stripe, or the tile's last, goes to the pool.
    void row_done()
    {
        filled++;
        if (filled < stripe && first + filled < rows)
            return;
        slot& s = slots[size_t(gathering % num_slots)];
        s.first = first;
        s.rows = filled;
        s.job_count = std::min(jobs_per_stripe, filled);
        s.jobs_done.store(0);
        first += filled;
        env->add_jobs(s.queue, s.job_count, false, rank);
        gathering++;
        filled = 0;
        // The next slot's stripe must have reached the receiver before it is refilled.
        if (gathering >= num_slots)
            wait_handed_over(gathering - num_slots);
        slot& next = slots[size_t(gathering % num_slots)];
        std::fill(next.have.begin(), next.have.end(), false);
    }

    // Waits for the last stripe's rows to reach the receiver.
    void finish()
    {
        if (gathering > 0)
            wait_handed_over(gathering - 1);
    }

private:
    struct slot : rvd_worker {
        output_stripes* owner = nullptr;
        rvd_thread_queue* queue = nullptr;
        std::unique_ptr<rvd_line_buf[]> lines;
        std::vector<bool> have;
        std::vector<int32_t> samples; // the stripe, converted
        std::vector<uint8_t> bytes;   // and formatted, component by component
        int first = 0, rows = 0, job_count = 0;
        std::atomic<int> jobs_done{0};
        bool converted = false; // guarded by the owner's order lock
        void do_job(rvd_thread_env*, int job_idx) override { owner->convert(*this, job_idx); }
    };

    void convert(slot& s, int job_idx)
    {
        const size_t n = td.size();
        const int j = job_idx % s.job_count;
        for (int k = j; k < s.rows; k += s.job_count)
            for (size_t c = 0; c < n; c++) {
                const size_t i = size_t(k) * n + c;
                if (!s.have[i])
                    continue;
                conv[c].convert(s.lines[i], td[c].size.x, &s.samples[i * row_width]);
                if (formatted)
                    out.format(int(c), &s.samples[i * row_width], &s.bytes[byte_offset[c] + size_t(k) * row_bytes[c]]);
            }
        if (s.jobs_done.fetch_add(1) + 1 == s.job_count)
            hand_over(s);
    }

    // The stripe in `s` is converted: hands over every stripe whose turn has come, unless
    // another thread already is.
    void hand_over(slot& s)
    {
        boost::unique_lock<boost::mutex> lk(order);
        s.converted = true;
        if (handing || failed)
            return;
        handing = true;
        try {
            for (;;) {
                slot& next = slots[size_t(handed % num_slots)];
                // The slot holds the stripe whose turn it is, or one not yet converted.
                if (!next.converted)
                    break;
                lk.unlock();
                put_rows(next);
                lk.lock();
                next.converted = false;
                handed++;
                handed_cv.notify_all();
            }
        } catch (...) {
            if (!lk.owns_lock())
                lk.lock();
            failed = true;
            handing = false;
            handed_cv.notify_all();
            throw;
        }
        handing = false;
    }

    void put_rows(const slot& s)
    {
        const size_t n = td.size();
        if (formatted) {
            // Each component's runs of rows (a component may end before the others).
            for (size_t c = 0; c < n; c++)
                for (int k = 0; k < s.rows;) {
                    if (!s.have[size_t(k) * n + c]) {
                        k++;
                        continue;
                    }
                    int end = k + 1;
                    while (end < s.rows && s.have[size_t(end) * n + c])
                        end++;
                    out.put_bytes(int(c), targets[c].first_row + s.first + k, end - k,
                                  &s.bytes[byte_offset[c] + size_t(k) * row_bytes[c]]);
                    k = end;
                }
            return;
        }
        for (int k = 0; k < s.rows; k++)
            for (size_t c = 0; c < n; c++) {
                const size_t i = size_t(k) * n + c;
                if (s.have[i])
                    out.put(int(c), targets[c].first_row + s.first + k, &s.samples[i * row_width]);
            }
    }

    void wait_handed_over(int stripe_no)
    {
        // Its conversion jobs first (the caller may run them), then its turn at the
        // receiver, which a thread already handing over stripes gives it without waiting
        // on anything else.
        env->process_jobs(slots[size_t(stripe_no % num_slots)].queue, false, true);
        boost::unique_lock<boost::mutex> lk(order);
        while (handed <= stripe_no && !failed)
            handed_cv.wait(lk);
        if (failed) {
            lk.unlock();
            // The failing job's exception, once the group has recorded it.
            for (slot& s : slots)
                env->process_jobs(s.queue, false, true);
            throw decode_error("the output rows could not be written");
        }
    }

    static constexpr int num_slots = 4;
    static constexpr int64_t max_bytes = int64_t(8) << 20;
    static constexpr int64_t max_stripe = 16;          // rows, unless the image is narrow
    static constexpr int64_t stripe_samples = 65536;   // samples a stripe aims at
    static constexpr int64_t job_samples = 4096;       // the fewest a conversion job takes
    static constexpr std::uint32_t rank = 1; // ahead of block rows: the caller waits on it
    rvd_thread_env* env;
    const std::vector<line_converter>& conv;
    const std::vector<row_target>& targets;
    const std::vector<rvd_dims>& td;
    int rows;
    decoded_rows& out;
    rvd_sample_allocator allocator;
    int stripe = 1;
    size_t row_width = 0;
    int jobs_per_stripe = 1;
    bool formatted = false;
    std::vector<size_t> row_bytes, byte_offset; // per component, when formatted
    slot slots[num_slots];
    int gathering = 0, filled = 0, first = 0; // the stripe being gathered: number, rows, first row
    boost::mutex order;
    boost::condition_variable handed_cv;
    int handed = 0; // stripes that reached the receiver
    bool handing = false, failed = false;
};

// One open tile through its multi-component network: row by row, outputs 0 to n-1 in
// turn, so that outputs sharing a transform never wait on each other.
void decode_tile(rvd_codestream& cs, rvd_tile tile, const std::vector<rvd_dims>& comp_dims,
                 const std::vector<pgx_image>& shapes, const decode_settings& settings,
                 std::vector<std::vector<int32_t>>& bands, bool direct, decoded_rows& out,
                 rvd_thread_env* env)
{
    // The network would ask for a resolution that does not exist; say why instead.
    const int num_codestream_components = cs.get_num_components(false);
    bool irreversible = false;
    for (int c = 0; c < num_codestream_components; c++) {
        rvd_tile_comp tc = tile.access_component(c);
        if (tc.exists() && tc.get_num_resolutions() < 1)
            throw decode_error("more resolution levels discarded than a tile-component has");
        if (tc.exists() && !tc.get_reversible())
            irreversible = true;
    }
    const rvd_coords idx = tile.get_tile_idx();
    const int n = int(shapes.size());
    std::vector<rvd_dims> td(static_cast<size_t>(n));
    std::vector<line_converter> conv;
    std::vector<row_target> targets(static_cast<size_t>(n));
    conv.reserve(size_t(n));
    int rows = 0;
    for (int c = 0; c < n; c++) {
        rvd_dims& d = td[size_t(c)];
        cs.get_tile_dims(idx, c, d, true);
        const pgx_image& img = shapes[size_t(c)];
        const int64_t y0 = int64_t(d.pos.y) - comp_dims[size_t(c)].pos.y;
        const int64_t x0 = int64_t(d.pos.x) - comp_dims[size_t(c)].pos.x;
        if (!d.is_empty() &&
            (y0 < 0 || x0 < 0 || y0 + d.size.y > img.height || x0 + d.size.x > img.width))
            throw decode_error("tile-component region lies outside the component");
        if (direct && !d.is_empty() && (x0 != 0 || d.size.x != img.width))
            throw decode_error("a tile does not span the component it alone covers");
        conv.emplace_back(img.depth, img.is_signed);
        row_target& t = targets[size_t(c)];
        t.first_row = y0;
        t.col = x0;
        if (!direct) {
            t.band_width = img.width;
            const size_t need = size_t(std::max(0, d.size.y)) * size_t(img.width);
            if (bands[size_t(c)].size() < need)
                bands[size_t(c)].resize(need);
            t.band = bands[size_t(c)].data();
        }
        if (!d.is_empty())
            rows = std::max(rows, d.size.y);
    }

    std::vector<int32_t> row_buf;
    if (direct)
        for (const pgx_image& img : shapes)
            row_buf.resize(std::max(row_buf.size(), size_t(img.width)));
    // Outlives the tile's queue, whose termination waits for its last job.
    std::unique_ptr<output_stripes> stage;
    tile_queue_guard tq{env, env != nullptr ? env->add_queue(nullptr, nullptr, "tile") : nullptr};
    network_guard guard;
    rvd_multi_synthesis& net = guard.net;
    // 16-bit lines carry irreversible samples with too little precision for the
    // conformance limits on some streams, so only --fastest takes them there; reversible
    // ones are exact on 16-bit lines wherever the network chooses them.
    const bool precise = settings.precise || (irreversible && !settings.fastest);
    const int stripe = settings.stripe > 0
                           ? settings.stripe
                           : int(std::min(rows_holding(default_job_samples, widest(td), default_stripe),
                                          default_max_stripe));
    net.create(cs, tile, precise, false, settings.fastest && !settings.precise, stripe, env,
               tq.queue, settings.double_buffer);
    if (direct && env != nullptr && env->get_num_threads() >= 2)
        stage.reset(new output_stripes(env, tq.queue, net, conv, targets, td, rows, out));
    for (int y = 0; y < rows; y++) {
        for (int c = 0; c < n; c++) {
            const rvd_dims& d = td[size_t(c)];
            if (d.is_empty() || y >= d.size.y)
                continue;
            const rvd_line_buf* line = net.get_line(c, env);
            if (line == nullptr || line->get_width() != d.size.x)
                throw decode_error("the multi-component synthesis gave no line for an output component");
            const row_target& t = targets[size_t(c)];
            if (stage) {
                stage->keep(c, *line);
            } else if (direct) {
                conv[size_t(c)].convert(*line, d.size.x, row_buf.data());
                out.put(c, t.first_row + y, row_buf.data());
            } else {
                conv[size_t(c)].convert(*line, d.size.x, t.band + int64_t(y) * t.band_width + t.col);
            }
        }
        if (stage)
            stage->row_done();
    }
    if (stage)
        stage->finish();
    // Destroying the network terminates its component queues; the guard then terminates
    // the tile's queue, after which every thread has settled its closings.
}

// Gathers the rows into whole images.
class image_rows : public decoded_rows {
public:
    explicit image_rows(std::vector<pgx_image>& images) : images(images) {}
    void start(const std::vector<pgx_image>& shapes) override
    {
        images = shapes;
        for (pgx_image& img : images)
            img.samples.assign(size_t(img.width) * size_t(img.height), 0);
    }
    void put(int c, int64_t row, const int32_t* samples) override
    {
        pgx_image& img = images[size_t(c)];
        std::copy(samples, samples + img.width, img.samples.begin() + row * int64_t(img.width));
    }

private:
    std::vector<pgx_image>& images;
};

// Rows are decoded whole: a row of every component in the output, and a few lines of
// each at every level of the synthesis. A header claiming rows of billions of samples
// is refused here rather than after seconds of growing towards exhaustion.
void refuse_rows_beyond_memory(const std::vector<rvd_dims>& comp_dims)
{
    const double bytes_per_row_sample = 64; // 32-bit samples: output row and synthesis lines
    double need = 0;
    for (const rvd_dims& d : comp_dims)
        need += double(std::max(0, d.size.x)) * bytes_per_row_sample;
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0)
        return;
    const double have = double(pages) * double(page);
    if (need > have) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "the image needs %.0f bytes to decode its rows; the machine has %.0f", need,
                      have);
        throw decode_error(text);
    }
}

} // namespace

void decode_library_startup()
{
    static boost::once_flag once = BOOST_ONCE_INIT;
    boost::call_once(once, [] {
        rv_init_processor_words();
        rv_init_w97_consts();
        rv_init_context_tables();
        rv_init_mq_tables();
    });
}

void decode_components(rvd_compressed_source* source, const decode_settings& settings, decoded_rows& out)
{
    decode_library_startup();
    codestream_guard guard;
    rvd_thread_env* env = nullptr;
    if (settings.threads > 0) {
        guard.env.reset(new rvd_thread_env);
        env = guard.env.get();
        env->create();
        for (int i = 1; i < settings.threads; i++)
            if (!env->add_thread())
                throw decode_error("a worker thread could not be started");
    }
    rvd_codestream& cs = guard.cs;
    cs.create(source, env);
    if (settings.mode == decode_parse_mode::resilient)
        cs.set_resilient();
    else if (settings.mode == decode_parse_mode::fussy)
        cs.set_fussy();
    cs.apply_input_restrictions(0, 0, settings.reduce, settings.layers,
                                settings.has_region ? &settings.region : nullptr);
    cs.change_appearance(settings.transpose, settings.vflip, settings.hflip);

    const int num_components = cs.get_num_components(true);
    std::vector<pgx_image> shapes(size_t(std::max(0, num_components)));
    std::vector<rvd_dims> comp_dims(shapes.size());
    int64_t total = 0; // held at the 64-bit limit: components near 2^31 square overflow it
    for (int c = 0; c < num_components; c++) {
        cs.get_dims(c, comp_dims[size_t(c)], true);
        const int64_t n =
            int64_t(std::max(0, comp_dims[size_t(c)].size.x)) * std::max(0, comp_dims[size_t(c)].size.y);
        total = total > std::numeric_limits<int64_t>::max() - n ? std::numeric_limits<int64_t>::max()
                                                                : total + n;
    }
    if (settings.max_samples > 0 && total > settings.max_samples)
        throw decode_error("image larger than the sample limit");
    if (settings.has_region && total == 0)
        throw decode_error("the region does not meet the image");
    refuse_rows_beyond_memory(comp_dims);
    for (int c = 0; c < num_components; c++) {
        pgx_image& img = shapes[size_t(c)];
        img.depth = cs.get_bit_depth(c, true);
        img.is_signed = cs.get_signed(c, true);
        if (img.depth < 1 || img.depth > 31)
            throw decode_error("component bit depth outside 1..31");
        img.y0 = comp_dims[size_t(c)].pos.y;
        img.x0 = comp_dims[size_t(c)].pos.x;
        img.width = std::max(0, comp_dims[size_t(c)].size.x);
        img.height = std::max(0, comp_dims[size_t(c)].size.y);
    }
    out.start(shapes);

    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    // With one tile across, every pulled row is whole and goes out at once; otherwise a
    // tile row is gathered in bands first.
    const bool direct = tiles.size.x == 1;
    std::vector<std::vector<int32_t>> bands(shapes.size());
    for (int ty = 0; ty < tiles.size.y; ty++) {
        std::vector<int64_t> first_rows(shapes.size(), -1), band_rows(shapes.size(), 0);
        for (int tx = 0; tx < tiles.size.x; tx++) {
            const rvd_coords idx(tiles.pos.y + ty, tiles.pos.x + tx);
            if (!direct)
                for (int c = 0; c < num_components; c++) {
                    rvd_dims d;
                    cs.get_tile_dims(idx, c, d, true);
                    if (d.is_empty())
                        continue;
                    const int64_t y0 = int64_t(d.pos.y) - comp_dims[size_t(c)].pos.y;
                    // Tiles of one row share their rows; the band starts at the first.
                    if (first_rows[size_t(c)] < 0) {
                        first_rows[size_t(c)] = y0;
                        band_rows[size_t(c)] = d.size.y;
                    } else if (first_rows[size_t(c)] != y0 || band_rows[size_t(c)] != d.size.y) {
                        throw decode_error("tiles of one row cover different rows");
                    }
                }
            rvd_tile tile = cs.open_tile(idx, env);
            decode_tile(cs, tile, comp_dims, shapes, settings, bands, direct, out, env);
            tile.close(env);
        }
        if (!direct)
            for (int c = 0; c < num_components; c++)
                for (int64_t y = 0; y < band_rows[size_t(c)]; y++)
                    out.put(c, first_rows[size_t(c)] + y, bands[size_t(c)].data() + y * shapes[size_t(c)].width);
    }
}

std::vector<pgx_image> decode_components(rvd_compressed_source* source,
                                         const decode_settings& settings)
{
    std::vector<pgx_image> images;
    image_rows rows(images);
    decode_components(source, settings, rows);
    return images;
}
