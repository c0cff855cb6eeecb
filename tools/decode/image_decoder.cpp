#include "tools/decode/image_decoder.h"

#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_multi_synthesis.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_processor.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/jp2/rvd_line_buf.h"
#include "tools/decode/decode_error.h"

#include <boost/thread/once.hpp>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

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

    line_converter(int depth, bool is_signed) : depth(depth)
    {
        offset = is_signed ? 0 : int64_t(1) << (depth - 1);
        lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
        hi = is_signed ? (int64_t(1) << (depth - 1)) - 1 : (int64_t(1) << depth) - 1;
    }

    int32_t clip(int64_t v) const { return int32_t(std::clamp(v + offset, lo, hi)); }

    void convert(const rvd_line_buf& line, int width, int32_t* out) const
    {
        if (line.is_shorts()) {
            const rvd_sample16* sp = line.get_buf16();
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
        const double scale = std::ldexp(1.0, depth);
        // Clipped as floating point first: a corrupt stream may give values whose
        // conversion to an integer would overflow.
        const double flo = double(lo - offset), fhi = double(hi - offset);
        for (int i = 0; i < width; i++) {
            double v = std::floor(double(sp[i].fval) * scale + 0.5);
            if (!(v >= flo)) // also catches NaN
                v = flo;
            else if (v > fhi)
                v = fhi;
            out[i] = clip(int64_t(v));
        }
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

// One open tile through its multi-component network: row by row, outputs 0 to n-1 in
// turn, so that outputs sharing a transform never wait on each other.
void decode_tile(rvd_codestream& cs, rvd_tile tile, const std::vector<rvd_dims>& comp_dims,
                 std::vector<pgx_image>& images, const decode_settings& settings,
                 rvd_thread_env* env)
{
    // The network would ask for a resolution that does not exist; say why instead.
    const int num_codestream_components = cs.get_num_components(false);
    for (int c = 0; c < num_codestream_components; c++) {
        rvd_tile_comp tc = tile.access_component(c);
        if (tc.exists() && tc.get_num_resolutions() < 1)
            throw decode_error("more resolution levels discarded than a tile-component has");
    }
    const rvd_coords idx = tile.get_tile_idx();
    const int n = int(images.size());
    std::vector<rvd_dims> td(static_cast<size_t>(n));
    std::vector<line_converter> conv;
    conv.reserve(size_t(n));
    int rows = 0;
    for (int c = 0; c < n; c++) {
        rvd_dims& d = td[size_t(c)];
        cs.get_tile_dims(idx, c, d, true);
        const pgx_image& img = images[size_t(c)];
        const int64_t y0 = int64_t(d.pos.y) - comp_dims[size_t(c)].pos.y;
        const int64_t x0 = int64_t(d.pos.x) - comp_dims[size_t(c)].pos.x;
        if (!d.is_empty() &&
            (y0 < 0 || x0 < 0 || y0 + d.size.y > img.height || x0 + d.size.x > img.width))
            throw decode_error("tile-component region lies outside the component");
        conv.emplace_back(img.depth, img.is_signed);
        if (!d.is_empty())
            rows = std::max(rows, d.size.y);
    }

    tile_queue_guard tq{env, env != nullptr ? env->add_queue(nullptr, nullptr, "tile") : nullptr};
    network_guard guard;
    rvd_multi_synthesis& net = guard.net;
    net.create(cs, tile, settings.precise, false, settings.fastest && !settings.precise,
               settings.stripe, env, tq.queue, settings.double_buffer);
    for (int y = 0; y < rows; y++)
        for (int c = 0; c < n; c++) {
            const rvd_dims& d = td[size_t(c)];
            if (d.is_empty() || y >= d.size.y)
                continue;
            const rvd_line_buf* line = net.get_line(c, env);
            if (line == nullptr || line->get_width() != d.size.x)
                throw decode_error("the multi-component synthesis gave no line for an output component");
            pgx_image& img = images[size_t(c)];
            const int64_t row = int64_t(d.pos.y) - comp_dims[size_t(c)].pos.y + y;
            const int64_t col = int64_t(d.pos.x) - comp_dims[size_t(c)].pos.x;
            conv[size_t(c)].convert(*line, d.size.x, img.samples.data() + row * int64_t(img.width) + col);
        }
    // Destroying the network terminates its component queues; the guard then terminates
    // the tile's queue, after which every thread has settled its closings.
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

std::vector<pgx_image> decode_components(rvd_compressed_source* source,
                                         const decode_settings& settings)
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
    std::vector<pgx_image> images(size_t(std::max(0, num_components)));
    std::vector<rvd_dims> comp_dims(images.size());
    int64_t total = 0;
    for (int c = 0; c < num_components; c++) {
        cs.get_dims(c, comp_dims[size_t(c)], true);
        total += int64_t(std::max(0, comp_dims[size_t(c)].size.x)) * std::max(0, comp_dims[size_t(c)].size.y);
    }
    if (settings.max_samples > 0 && total > settings.max_samples)
        throw decode_error("image larger than the sample limit");
    if (settings.has_region && total == 0)
        throw decode_error("the region does not meet the image");
    for (int c = 0; c < num_components; c++) {
        pgx_image& img = images[size_t(c)];
        img.depth = cs.get_bit_depth(c, true);
        img.is_signed = cs.get_signed(c, true);
        if (img.depth < 1 || img.depth > 31)
            throw decode_error("component bit depth outside 1..31");
        img.y0 = comp_dims[size_t(c)].pos.y;
        img.x0 = comp_dims[size_t(c)].pos.x;
        img.width = std::max(0, comp_dims[size_t(c)].size.x);
        img.height = std::max(0, comp_dims[size_t(c)].size.y);
        img.samples.assign(size_t(img.width) * size_t(img.height), 0);
    }

    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++) {
            rvd_tile tile = cs.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx), env);
            decode_tile(cs, tile, comp_dims, images, settings, env);
            tile.close(env);
        }
    return images;
}
