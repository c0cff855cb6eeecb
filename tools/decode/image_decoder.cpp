#include "tools/decode/image_decoder.h"

#include "codec/coding/rv_context_tables.h"
#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_mq_decoder.h"
#include "codec/coding/rvd_decoder.h"
#include "codec/coding/rvd_synthesis.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_processor.h"
#include "codec/jp2/rvd_line_buf.h"
#include "codec/jp2/rvd_sample_allocator.h"
#include "tools/decode/decode_error.h"

#include <boost/thread/once.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Destroys the codestream however the decode ends.
struct codestream_guard {
    rvd_codestream cs;
    ~codestream_guard()
    {
        if (cs.exists())
            cs.destroy();
    }
};

// Maps one pulled line to output samples: the line's fixed-point or float values are
// scaled to the component's bit depth, re-centred when unsigned and clipped.
struct line_converter {
    int depth;
    bool is_signed;
    bool reversible;
    bool shorts;
    int64_t lo, hi, offset;

    line_converter(int depth, bool is_signed, bool reversible, bool shorts)
        : depth(depth), is_signed(is_signed), reversible(reversible), shorts(shorts)
    {
        offset = is_signed ? 0 : int64_t(1) << (depth - 1);
        lo = is_signed ? -(int64_t(1) << (depth - 1)) : 0;
        hi = is_signed ? (int64_t(1) << (depth - 1)) - 1 : (int64_t(1) << depth) - 1;
    }

    int32_t clip(int64_t v) const { return int32_t(std::clamp(v + offset, lo, hi)); }

    void convert(const rvd_line_buf& line, int width, int32_t* out) const
    {
        if (shorts) {
            const rvd_sample16* sp = line.get_buf16();
            if (reversible)
                for (int i = 0; i < width; i++)
                    out[i] = clip(sp[i]);
            else
                for (int i = 0; i < width; i++)
                    out[i] = clip((int64_t(sp[i]) * (int64_t(1) << depth) + 4096) >> 13);
            return;
        }
        const rvd_sample32* sp = line.get_buf32();
        if (reversible) {
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

void decode_tile_component(rvd_tile_comp tc, const rvd_dims& comp_dims, pgx_image& img,
                           bool precise, rvd_sample_allocator& allocator)
{
    if (tc.get_num_resolutions() < 1)
        throw decode_error("more resolution levels discarded than a tile-component has");
    rvd_resolution res = tc.access_resolution();
    rvd_dims rd;
    res.get_dims(rd);
    if (rd.is_empty())
        return;
    const int64_t y0 = int64_t(rd.pos.y) - comp_dims.pos.y;
    const int64_t x0 = int64_t(rd.pos.x) - comp_dims.pos.x;
    if (y0 < 0 || x0 < 0 || y0 + rd.size.y > img.height || x0 + rd.size.x > img.width)
        throw decode_error("tile-component region lies outside the component");
    const bool reversible = tc.get_reversible();
    const bool shorts = !precise && tc.get_bit_depth(true) < 17;

    allocator.restart();
    rvd_pull_ifc engine;
    if (res.get_res_level() == 0)
        engine = rvd_decoder(res.access_subband(0), &allocator, shorts, 1.0f, 0, nullptr, nullptr);
    else
        engine = rvd_synthesis(res, &allocator, shorts, 1.0f, nullptr, nullptr);
    rvd_line_buf line;
    line.pre_create(&allocator, rd.size.x, reversible, shorts, 0, 0);
    allocator.finalize();
    line.create();
    engine.start(nullptr);

    const line_converter conv(img.depth, img.is_signed, reversible, shorts);
    for (int y = 0; y < rd.size.y; y++) {
        engine.pull(line, nullptr);
        conv.convert(line, rd.size.x, img.samples.data() + (y0 + y) * int64_t(img.width) + x0);
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

std::vector<pgx_image> decode_components(rvd_compressed_source* source,
                                         const decode_settings& settings)
{
    decode_library_startup();
    codestream_guard guard;
    rvd_codestream& cs = guard.cs;
    cs.create(source);
    if (settings.mode == decode_parse_mode::resilient)
        cs.set_resilient();
    else if (settings.mode == decode_parse_mode::fussy)
        cs.set_fussy();
    cs.apply_input_restrictions(0, 0, settings.reduce, settings.layers,
                                settings.has_region ? &settings.region : nullptr);
    cs.change_appearance(settings.transpose, settings.vflip, settings.hflip);

    const int num_components = cs.get_num_components();
    std::vector<pgx_image> images(size_t(std::max(0, num_components)));
    std::vector<rvd_dims> comp_dims(images.size());
    int64_t total = 0;
    for (int c = 0; c < num_components; c++) {
        cs.get_dims(c, comp_dims[size_t(c)]);
        total += int64_t(std::max(0, comp_dims[size_t(c)].size.x)) * std::max(0, comp_dims[size_t(c)].size.y);
    }
    if (settings.max_samples > 0 && total > settings.max_samples)
        throw decode_error("image larger than the sample limit");
    if (settings.has_region && total == 0)
        throw decode_error("the region does not meet the image");
    for (int c = 0; c < num_components; c++) {
        pgx_image& img = images[size_t(c)];
        img.depth = cs.get_bit_depth(c);
        img.is_signed = cs.get_signed(c);
        if (img.depth < 1 || img.depth > 31)
            throw decode_error("component bit depth outside 1..31");
        img.y0 = comp_dims[size_t(c)].pos.y;
        img.x0 = comp_dims[size_t(c)].pos.x;
        img.width = std::max(0, comp_dims[size_t(c)].size.x);
        img.height = std::max(0, comp_dims[size_t(c)].size.y);
        img.samples.assign(size_t(img.width) * size_t(img.height), 0);
    }

    rvd_sample_allocator allocator;
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++) {
            rvd_tile tile = cs.open_tile(rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx));
            for (int c = 0; c < num_components; c++) {
                rvd_tile_comp tc = tile.access_component(c);
                if (tc.exists())
                    decode_tile_component(tc, comp_dims[size_t(c)], images[size_t(c)],
                                          settings.precise, allocator);
            }
            tile.close();
        }
    return images;
}
