#include "tools/encode/image_encoder.h"

#include "codec/coding/rvd_multi_analysis.h"
#include "codec/core/rvd_codestream.h"
#include "codec/core/rvd_thread_env.h"
#include "codec/core/rvd_tile.h"
#include "codec/core/siz_params.h"
#include "codec/encode/rv_distortion_tables.h"
#include "codec/encode/rvd_roi_rectangles.h"
#include "tools/decode/image_decoder.h"

#include <boost/thread/once.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace {

// Attributes of the SIZ cluster: the canvas, the codestream and the output components.
bool siz_attribute(const std::string& a)
{
    return (!a.empty() && a[0] == 'S') || a.compare(0, 11, "Mcomponents") == 0 ||
           a.compare(0, 10, "Mprecision") == 0 || a.compare(0, 7, "Msigned") == 0;
}

// Whether the attributes ask for irreversible coding of every component.
bool irreversible(const std::vector<std::string>& attrs)
{
    bool found = false;
    for (const std::string& a : attrs)
        if (a.rfind("Creversible=", 0) == 0) {
            const std::string v = a.substr(12);
            found = v == "no" || v == "false" || v == "0";
        }
    return found;
}

bool has_attribute(const std::vector<std::string>& attrs, const std::string& name)
{
    for (const std::string& a : attrs) {
        const size_t end = a.find_first_of("=:");
        if (a.compare(0, end, name) == 0)
            return true;
    }
    return false;
}

// The codestream and the thread group, ended in order whatever happens.
struct codestream_guard {
    rvd_codestream cs;
    std::unique_ptr<rvd_thread_env> env;
    ~codestream_guard()
    {
        if (env)
            env->destroy();
        if (cs.exists())
            cs.destroy();
    }
};

void check_image(const std::vector<encode_component>& image)
{
    if (image.empty() || image.size() > 16384)
        throw encode_error("the image needs 1 to 16384 components");
    for (const encode_component& c : image) {
        if (c.width < 1 || c.height < 1 || c.depth < 1 || c.depth > 31 || c.dy < 1 || c.dx < 1 ||
            c.dy > 255 || c.dx > 255)
            throw encode_error("component shape out of range");
        if (c.samples.size() != size_t(c.width) * size_t(c.height))
            throw encode_error("component samples do not match its size");
    }
}

// Zero-centred line samples: integers on absolute lines, normalised reals otherwise.
void fill_line(rvd_line_buf& line, const int32_t* src, int n, const encode_component& c)
{
    const int64_t shift = c.is_signed ? 0 : int64_t(1) << (c.depth - 1);
    const double scale = std::ldexp(1.0, -c.depth);
    if (line.is_absolute()) {
        if (line.is_shorts())
            for (int x = 0; x < n; x++)
                line.get_buf16()[x] = int16_t(src[x] - shift);
        else
            for (int x = 0; x < n; x++)
                line.get_buf32()[x].ival = int32_t(src[x] - shift);
    } else if (line.is_shorts()) {
        for (int x = 0; x < n; x++)
            line.get_buf16()[x] =
                int16_t(std::max(-32768.0, std::min(32767.0, std::floor(double(src[x] - shift) *
                                                                         scale * 8192.0 + 0.5))));
    } else {
        for (int x = 0; x < n; x++)
            line.get_buf32()[x].fval = float(double(src[x] - shift) * scale);
    }
}

void encode_tile(rvd_codestream& cs, rvd_coords idx, const std::vector<encode_component>& image,
                 const std::vector<rvd_dims>& comp_dims, const encode_settings& settings,
                 rvd_roi_image* roi, rvd_thread_env* env)
{
    rvd_tile tile = cs.open_tile(idx, env);
    const int n = int(image.size());
    std::vector<rvd_dims> td(static_cast<size_t>(n));
    int top = INT32_MAX, bottom = INT32_MIN;
    for (int c = 0; c < n; c++) {
        cs.get_tile_dims(idx, c, td[size_t(c)], true);
        const rvd_dims& d = td[size_t(c)];
        if (d.is_empty())
            continue;
        top = std::min(top, d.pos.y * image[size_t(c)].dy);
        bottom = std::max(bottom, (d.pos.y + d.size.y) * image[size_t(c)].dy);
    }
    rvd_multi_analysis analysis;
    try {
        analysis.create(cs, tile, settings.precise, roi, false, settings.stripe, env, nullptr,
                        settings.double_buffer);
        
        // Components take their rows in canvas order, so rows transformed together meet.
        for (int y = top; y < bottom; y++)
            for (int c = 0; c < n; c++) {
                const encode_component& ec = image[size_t(c)];
                const rvd_dims& d = td[size_t(c)];
                if (d.is_empty() || y % ec.dy != 0 || y / ec.dy < d.pos.y ||
                    y / ec.dy >= d.pos.y + d.size.y)
                    continue;
                rvd_line_buf* line = analysis.exchange_line(c, false, env);
                if (line == nullptr)
                    throw encode_error("the multi-component transform holds a line it should take");
                const rvd_dims& cd = comp_dims[size_t(c)];
                const int64_t row = int64_t(y / ec.dy - cd.pos.y);
                fill_line(*line, ec.samples.data() + row * ec.width + (d.pos.x - cd.pos.x),
                          d.size.x, ec);
                analysis.exchange_line(c, true, env);
            }
        analysis.destroy(env);
    } catch (...) {
        analysis.destroy(env); // also waits for queued block coding
        throw;
    }
    tile.close(env);
}

} // namespace

void encode_library_startup()
{
    decode_library_startup();
    static boost::once_flag once = BOOST_ONCE_INIT;
    boost::call_once(once, [] {
        rv_init_significance_distortion_luts();
        rv_init_refinement_distortion_luts();
    });
}

std::vector<std::string> encode_attributes(const std::vector<encode_component>& image,
                                           const encode_settings& settings)
{
    const std::vector<std::string>& user = settings.attributes;
    std::vector<std::string> out;
    auto fallback = [&](const char* name, const std::string& value) {
        if (!has_attribute(user, name))
            out.push_back(std::string(name) + "=" + value);
    };
    fallback("Clevels", "5");
    fallback("Cblk", "{64,64}");
    const size_t layers = std::max(settings.layer_bytes.size(), settings.layer_slopes.size());
    fallback("Clayers", std::to_string(std::max<size_t>(1, layers)));
    fallback("Creversible", "yes");
    fallback("Corder", "LRCP");
    // The codec's default base step suits 8-bit samples; deeper ones would have their
    // quality capped far below what their bytes allow. One step per sample level instead.
    if (irreversible(user) && !has_attribute(user, "Qstep") && !has_attribute(user, "Qabs_steps")) {
        int depth = 1;
        for (const encode_component& c : image)
            depth = std::max(depth, c.depth);
        char step[32];
        std::snprintf(step, sizeof step, "%.9g", std::ldexp(1.0, -depth));
        fallback("Qstep", step);
    }
    const bool ycc = image.size() >= 3 && image[0].dy == image[1].dy && image[0].dy == image[2].dy &&
                     image[0].dx == image[1].dx && image[0].dx == image[2].dx &&
                     image[0].depth == image[1].depth && image[0].depth == image[2].depth;
    if (!has_attribute(user, "Mcomponents") && !has_attribute(user, "Cmct"))
        fallback("Cycc", ycc ? "yes" : "no");
    out.insert(out.end(), user.begin(), user.end());
    return out;
}

namespace {

void finish_codestream(rvd_codestream& cs, siz_params& siz, const std::vector<std::string>& attrs,
                       rvd_compressed_target* target)
{
    // The output components and the extension flags are fixed when the codestream is made.
    siz.finalize();
    cs.create(&siz, target, nullptr);
    for (const std::string& a : attrs)
        if (!siz_attribute(a) && !cs.access_siz()->parse_string(a.c_str()))
            throw encode_error("attribute not understood: " + a);
    cs.access_siz()->finalize_all();
}

} // namespace

void open_codestream(rvd_codestream& cs, siz_params& siz, const std::vector<encode_component>& image,
                     const std::vector<std::string>& attrs, rvd_compressed_target* target)
{
    check_image(image);
    const int n = int(image.size());
    siz.set("Scomponents", 0, 0, n);
    for (int c = 0; c < n; c++) {
        const encode_component& ec = image[size_t(c)];
        siz.set("Sprecision", c, 0, ec.depth);
        siz.set("Ssigned", c, 0, ec.is_signed);
        siz.set("Ssampling", c, 0, ec.dy);
        siz.set("Ssampling", c, 1, ec.dx);
    }
    for (const std::string& a : attrs)
        if (siz_attribute(a) && !siz.parse_string(a.c_str()))
            throw encode_error("attribute not understood: " + a);
    int oy = 0, ox = 0;
    siz.get("Sorigin", 0, 0, oy);
    siz.get("Sorigin", 0, 1, ox);
    if (oy < 0 || ox < 0)
        throw encode_error("negative image origin");
    // The smallest canvas giving component 0 its rows and columns, unless one is given
    // (with sub-sampling, other components may need a particular one).
    if (has_attribute(attrs, "Ssize")) {
        finish_codestream(cs, siz, attrs, target);
        return;
    }
    const encode_component& c0 = image[0];
    const int64_t sy = int64_t(c0.dy) * ((int64_t(oy) + c0.dy - 1) / c0.dy + c0.height - 1) + 1;
    const int64_t sx = int64_t(c0.dx) * ((int64_t(ox) + c0.dx - 1) / c0.dx + c0.width - 1) + 1;
    if (sy > INT32_MAX || sx > INT32_MAX)
        throw encode_error("image too large for the canvas");
    siz.set("Ssize", 0, 0, int(sy));
    siz.set("Ssize", 0, 1, int(sx));
    finish_codestream(cs, siz, attrs, target);
}

int64_t encode_components(const std::vector<encode_component>& image,
                          const encode_settings& settings, rvd_compressed_target* target)
{
    encode_library_startup();
    const std::vector<std::string> attrs = encode_attributes(image, settings);
    siz_params siz; // outlives the codestream
    codestream_guard guard;
    rvd_thread_env* env = nullptr;
    if (settings.threads > 0) {
        guard.env.reset(new rvd_thread_env);
        env = guard.env.get();
        env->create();
        for (int i = 1; i < settings.threads; i++)
            if (!env->add_thread())
                throw encode_error("a worker thread could not be started");
    }
    rvd_codestream& cs = guard.cs;
    open_codestream(cs, siz, image, attrs, target);
    const int n = int(image.size());
    std::vector<rvd_dims> comp_dims(static_cast<size_t>(n));
    for (int c = 0; c < n; c++) {
        cs.get_dims(c, comp_dims[size_t(c)], true);
        const encode_component& ec = image[size_t(c)];
        if (comp_dims[size_t(c)].size != rvd_coords(ec.height, ec.width))
            throw encode_error("component " + std::to_string(c) +
                               " does not match the canvas its sub-sampling gives");
    }
    std::unique_ptr<rvd_roi_rectangles> roi;
    if (!settings.rois.empty()) {
        roi.reset(new rvd_roi_rectangles);
        for (const encode_roi& r : settings.rois)
            roi->add_rectangle(r.comp, r.rect);
    }
    rvd_dims tiles;
    cs.get_valid_tiles(tiles);
    for (int ty = 0; ty < tiles.size.y; ty++)
        for (int tx = 0; tx < tiles.size.x; tx++)
            encode_tile(cs, rvd_coords(tiles.pos.y + ty, tiles.pos.x + tx), image, comp_dims,
                        settings, roi.get(), env);
    const int layers = int(std::max<size_t>(1, std::max(settings.layer_bytes.size(),
                                                        settings.layer_slopes.size())));
    std::vector<int64_t> bytes = settings.layer_bytes;
    bytes.resize(size_t(layers), 0);
    std::vector<uint16_t> slopes = settings.layer_slopes;
    const bool by_slope = !slopes.empty();
    slopes.resize(size_t(layers), 0);
    // No layer-information comment: the budget goes to the image (nothing reads it).
    cs.flush(bytes.data(), layers, by_slope ? slopes.data() : nullptr, true, false, 0.0, env);
    return cs.get_total_bytes();
}
