// Whole images decoded through the decode tool's library against opj_decompress's
// decodes of the same streams (tools/make_test_streams.py, group "decode"), and against
// our own full decodes for regions and transposed or flipped views.
#include "codec/core/rvd_processor.h"
#include "tests/codec/support/decode_cases.h"
#include "tests/codec/support/processor_form.h"
#include "tools/decode/image_decoder.h"
#include "tests/support/TestTools.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>

namespace {

using namespace codec_test;

const std::vector<decode_case>& cases()
{
    static const std::vector<decode_case> all = load_decode_cases();
    return all;
}

struct decode_failed {};

// Decodes the stream's one component. A failure is reported for the stream, so that one
// faulty case does not hide the others, and throws decode_failed to skip the case.
pgx_image decode_one(const std::string& stream, const decode_settings& s)
{
    const std::string what = stream.substr(stream.find_last_of('/') + 1) + " reduce " +
                             std::to_string(s.reduce) + (s.has_region ? " with a region" : "") +
                             (s.precise ? " (32-bit lines)" : " (16-bit lines)");
    std::vector<pgx_image> images;
    try {
        images = decode_file(stream, s);
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": " << e.what();
        throw decode_failed();
    }
    if (images.size() != 1) {
        ADD_FAILURE() << what << ": " << images.size() << " components";
        throw decode_failed();
    }
    return images[0];
}

const char* lines_of(bool precise)
{
    return precise ? " (32-bit lines): " : " (16-bit lines): ";
}

// Forces the general (level 0) forms of every processor-specific step while alive.
struct plain_kernels {
    bool started = (decode_library_startup(), true); // a later start-up must not undo the switch
    codec_test::processor_form_guard portable{0};
};

void expect_exact(const char* kind)
{
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.kind != kind)
            continue;
        const pgx_image ref = read_pgx(c.reference);
        for (bool precise : {false, true})
            try {
                image_diff d = compare_images(ref, decode_one(c.stream, settings_for(c, precise)));
                EXPECT_TRUE(d.same_size && d.peak == 0) << c.name() << lines_of(precise) << describe(d);
                checked++;
            } catch (const decode_failed&) {
            }
    }
    EXPECT_GT(checked, 0);
}

TEST(DecodeCompare, ReversibleStreamsMatchTheReferenceDecoderExactly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    expect_exact("rev");
}

TEST(DecodeCompare, RoiUpShiftedStreamsDecodeExactly)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    expect_exact("roi");
}

std::vector<int32_t> source_samples(const std::string& stream)
{
    std::ifstream in(stream.substr(0, stream.size() - 4) + ".samples");
    return std::vector<int32_t>(std::istream_iterator<int32_t>(in), std::istream_iterator<int32_t>());
}

// Where our decode and the reference decoder's differ by more than `limit`, ours must be
// the nearer to the source (the reference decoder's own float path strays at 16 bits).
void expect_near_or_nearer(const decode_case& c, const pgx_image& ref, const pgx_image& ours,
                           int64_t limit)
{
    const std::vector<int32_t> src = source_samples(c.stream);
    const bool whole = !c.has_region && c.reduce == 0 && src.size() == ours.samples.size();
    int64_t strays = 0;
    for (size_t i = 0; i < ours.samples.size(); i++) {
        const int64_t d = std::abs(int64_t(ours.samples[i]) - ref.samples[i]);
        if (d <= limit)
            continue;
        if (whole && std::abs(int64_t(ours.samples[i]) - src[i]) <= std::abs(int64_t(ref.samples[i]) - src[i]))
            continue;
        strays++;
    }
    EXPECT_EQ(strays, 0) << c.name() << ": samples off by more than " << limit
                         << " and no nearer the source";
}

TEST(DecodeCompare, IrreversibleStreamsStayWithinTolerance)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // 8 bits: within 1 on 32-bit lines and 2 on 16-bit lines, PSNR at least 50 dB;
    // 12 and 16 bits on 32-bit lines: within 1.
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.kind != "irr")
            continue;
        const pgx_image ref = read_pgx(c.reference);
        for (bool precise : {true, false}) {
            if (!precise && c.depth != 8)
                continue;
            try {
                const pgx_image ours = decode_one(c.stream, settings_for(c, precise));
                const image_diff d = compare_images(ref, ours);
                if (!d.same_size) {
                    ADD_FAILURE() << c.name() << lines_of(precise) << describe(d);
                    continue;
                }
                expect_near_or_nearer(c, ref, ours, precise ? 1 : 2);
                if (c.depth == 8) {
                    EXPECT_GE(d.psnr(8), 50.0) << c.name() << lines_of(precise) << describe(d);
                }
                checked++;
            } catch (const decode_failed&) {
            }
        }
    }
    EXPECT_GT(checked, 10);
}

TEST(DecodeCompare, GeneralStepFormsAgreeWithTheVectorForms)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Reversible: identical. Irreversible 16-bit lines: the general integer steps stay
    // within 2 of the 16-bit 9/7 form.
    std::set<std::string> seen;
    int checked = 0;
    for (const decode_case& c : cases()) {
        if (c.has_region || c.reduce != 0 || !seen.insert(c.stream).second)
            continue;
        const bool reversible = c.kind != "irr";
        for (bool precise : {false, true}) {
            if (!reversible && precise)
                continue;
            try {
                const decode_settings s = settings_for(c, precise);
                const pgx_image vector_form = decode_one(c.stream, s);
                pgx_image general;
                {
                    plain_kernels force;
                    general = decode_one(c.stream, s);
                }
                image_diff d = compare_images(vector_form, general);
                EXPECT_TRUE(d.same_size && d.peak <= (reversible ? 0 : 2))
                    << c.name() << lines_of(precise) << describe(d);
                checked++;
            } catch (const decode_failed&) {
            }
        }
    }
    EXPECT_GT(checked, 10);
}

pgx_image crop(const pgx_image& full, const pgx_image& part)
{
    pgx_image out = part;
    for (int y = 0; y < part.height; y++)
        for (int x = 0; x < part.width; x++) {
            const int fy = part.y0 - full.y0 + y, fx = part.x0 - full.x0 + x;
            out.samples[size_t(y) * part.width + x] =
                (fy >= 0 && fy < full.height && fx >= 0 && fx < full.width)
                    ? full.samples[size_t(fy) * full.width + fx]
                    : INT32_MIN; // outside the full decode: never equal
        }
    return out;
}

TEST(DecodeCompare, RegionsAreCropsOfTheFullDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    // Every region of the case list, plus two random ones per stream, in both line
    // widths, reversible and irreversible.
    std::mt19937 rng(17);
    std::map<std::string, std::vector<decode_case>> regions;
    std::map<std::string, decode_case> whole;
    for (const decode_case& c : cases()) {
        if (c.has_region)
            regions[c.stream].push_back(c);
        else if (c.reduce == 0)
            whole[c.stream] = c;
    }
    int checked = 0;
    std::map<std::string, pgx_image> full_decodes; // by stream, reduce and line width
    for (auto& [stream, list] : regions) {
        auto w = whole.find(stream);
        if (w != whole.end()) {
            // Random regions within the image, whose position on the canvas our own
            // whole decode gives (the streams with an image offset are not sub-sampled).
            const pgx_image full = read_pgx(w->second.reference);
            pgx_image ours;
            try {
                ours = decode_one(stream, settings_for(w->second, true));
            } catch (const decode_failed&) {
                continue;
            }
            for (int k = 0; k < 2; k++) {
                const int x0 = int(rng() % unsigned(full.width));
                const int y0 = int(rng() % unsigned(full.height));
                const int w1 = 1 + int(rng() % unsigned(full.width - x0));
                const int h1 = 1 + int(rng() % unsigned(full.height - y0));
                decode_case extra = w->second;
                extra.has_region = true;
                extra.region = rvd_dims(rvd_coords(ours.y0 + y0, ours.x0 + x0), rvd_coords(h1, w1));
                list.push_back(extra);
            }
        }
        for (const decode_case& c : list)
            for (bool precise : {false, true})
                try {
                    decode_settings s = settings_for(c, precise);
                    const pgx_image part = decode_one(stream, s);
                    s.has_region = false;
                    const std::string key = stream + " " + std::to_string(s.reduce) + (precise ? " 32" : " 16");
                    auto f = full_decodes.find(key);
                    if (f == full_decodes.end())
                        f = full_decodes.emplace(key, decode_one(stream, s)).first;
                    const pgx_image& full = f->second;
                    image_diff d = compare_images(crop(full, part), part);
                    EXPECT_TRUE(d.same_size && d.peak == 0) << c.name() << lines_of(precise) << describe(d);
                    checked++;
                } catch (const decode_failed&) {
                }
    }
    EXPECT_GT(checked, 50);
}

// The sample of the identity view that apparent sample (y, x) of the view shows.
int32_t identity_sample(const pgx_image& id, const pgx_image& view, int y, int x, bool t, bool v,
                        bool h)
{
    rvd_coords p(view.y0 + y, view.x0 + x);
    p.from_apparent(t, v, h);
    const int iy = p.y - id.y0, ix = p.x - id.x0;
    if (iy < 0 || iy >= id.height || ix < 0 || ix >= id.width)
        return INT32_MIN;
    return id.samples[size_t(iy) * id.width + ix];
}

TEST(DecodeCompare, TransposedAndFlippedViewsRearrangeTheIdentityDecode)
{
    ORBEL_REQUIRE_TOOL("opj_compress", "libopenjp2-tools");
    std::set<std::string> seen;
    int views_checked = 0;
    for (const decode_case& c : cases()) {
        // Every third lossless stream: whole, reduced by one level, and one region.
        if (c.kind != "rev" || !seen.insert(c.stream).second || seen.size() % 3 != 1)
            continue;
        std::vector<decode_settings> views;
        views.push_back(settings_for(c, false));
        bool reduced = false, region = false;
        for (const decode_case& r : cases()) {
            if (r.stream != c.stream)
                continue;
            if (!reduced && !r.has_region && r.reduce == 1) {
                views.push_back(settings_for(r, true));
                reduced = true;
            } else if (!region && r.has_region) {
                views.push_back(settings_for(r, false));
                region = true;
            }
        }
        for (const decode_settings& base : views)
            try {
                const pgx_image id = decode_one(c.stream, base);
                for (int combo = 1; combo < 8; combo++) {
                    decode_settings s = base;
                    s.transpose = (combo & 1) != 0;
                    s.vflip = (combo & 2) != 0;
                    s.hflip = (combo & 4) != 0;
                    const pgx_image view = decode_one(c.stream, s);
                    const std::string what = c.name() + " reduce " + std::to_string(s.reduce) +
                                             (s.has_region ? " region" : "") + " transpose " +
                                             std::to_string(s.transpose) + " vflip " +
                                             std::to_string(s.vflip) + " hflip " + std::to_string(s.hflip);
                    if (view.width != (s.transpose ? id.height : id.width) ||
                        view.height != (s.transpose ? id.width : id.height)) {
                        ADD_FAILURE() << what << ": size differs";
                        continue;
                    }
                    int64_t wrong = 0, peak = 0;
                    for (int y = 0; y < view.height; y++)
                        for (int x = 0; x < view.width; x++) {
                            const int64_t e = int64_t(view.samples[size_t(y) * view.width + x]) -
                                              identity_sample(id, view, y, x, s.transpose, s.vflip, s.hflip);
                            wrong += e != 0;
                            peak = std::max(peak, std::abs(e));
                        }
                    EXPECT_EQ(wrong, 0) << what << ": peak difference " << peak;
                    views_checked++;
                }
            } catch (const decode_failed&) {
            }
    }
    EXPECT_GE(views_checked, 50);
}

} // namespace
