#include "codec/core/siz_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_output.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {
const char* const siz_name = "SIZ";
const uint16_t SIZ_CODE = 0xFF51;
const uint16_t CBD_CODE = 0xFF78;

// Exact ceiling for positive numerators, truncation for zero or negative ones.
int64_t ceil_div(int64_t num, int64_t den)
{
    return (num > 0) ? (num + den - 1) / den : num / den;
}

int64_t extent(int64_t size, int64_t origin, int64_t s)
{
    return ceil_div(size, s) - ceil_div(origin, s);
}

class text_collector : public rvd_message {
public:
    void put_text(const char* t) override { text += t; }
    std::string text;
};

// Least common multiple; 0 when it does not fit comfortably in 62 bits.
int64_t lcm_checked(int64_t a, int64_t b)
{
    if (a <= 0 || b <= 0)
        return 0;
    int64_t x = a, y = b;
    while (y != 0) {
        int64_t r = x % y;
        x = y;
        y = r;
    }
    int64_t q = a / x;
    if (q > (INT64_C(1) << 62) / b)
        return 0;
    return q * b;
}

bool fits_int32(int64_t v)
{
    return v >= 0 && v <= std::numeric_limits<int32_t>::max();
}
} // namespace

siz_params::siz_params() : rvd_params(siz_name, false, false, false, false, false)
{
    define_attribute("Sprofile",
                     "Profile to which the code-stream conforms; 3 (PART2) is set automatically "
                     "when Part-2 features are found to be needed, otherwise the profile is not "
                     "adjusted; the cinema profiles are not verified.",
                     "(PROFILE0=0,PROFILE1=1,PROFILE2=2,PART2=3,CINEMA2K=4,CINEMA4K=5)");
    define_attribute("Scap", "A capabilities marker segment defines capabilities beyond Parts 1 "
                             "and 2.",
                     "B");
    define_attribute("Sextensions", "Logical OR of the Part-2 features used.",
                     "[DC=1|VARQ=2|TCQ=4|PRECQ=2048|VIS=8|SSO=16|DECOMP=32|ANY_KNL=64|"
                     "SYM_KNL=128|MCT=256|CURVE=512|ROI=1024]");
    define_attribute("Ssize", "Canvas extent, vertical first.", "II");
    define_attribute("Sorigin", "Image origin on the canvas, vertical first.", "II");
    define_attribute("Stiles", "Tile partition size, vertical first.", "II");
    define_attribute("Stile_origin", "Tile partition origin, vertical first.", "II");
    define_attribute("Scomponents", "Number of code-stream image components.", "I");
    define_attribute("Ssigned", "Per code-stream component: signed samples.", "B",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Sprecision", "Per code-stream component: bit depth.", "I",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Ssampling", "Per component: sub-sampling factors, vertical first.", "II",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Sdims", "Per component: dimensions, vertical first.", "II",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Mcomponents",
                     "Number of MCT output components (the components of the image files); 0 "
                     "or absent means no multi-component transform.  May be larger or smaller "
                     "than `Scomponents'; for compression with a multi-component transform it "
                     "must be at least `Scomponents'.",
                     "I");
    define_attribute("Msigned", "Per MCT output component: signed.", "B",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Mprecision", "Per MCT output component: bit depth.", "I",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
}

std::string siz_params::attributes_text()
{
    text_collector out;
    try {
        textualize_attributes(out, false);
    } catch (...) {
        // A partly set attribute cannot be listed; the error being reported matters more.
    }
    return out.text;
}

void siz_params::fail_with_attributes(const std::string& text)
{
    rv_raise_core_error(text + attributes_text());
}

bool siz_params::check_marker_segment(uint16_t code, int, const uint8_t*, int& c_idx)
{
    c_idx = -1;
    if (code == SIZ_CODE)
        return true;
    if (code == CBD_CODE) {
        int m = 0;
        if (!get("Mcomponents", 0, 0, m))
            marked = false; // the CBD belongs to the SIZ already read
        return true;
    }
    return false;
}

bool siz_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || (code != SIZ_CODE && code != CBD_CODE))
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    if (code == SIZ_CODE) {
        try {
            int rsiz = static_cast<int>(rv_read_big(bp, end, 2));
            set("Scap", 0, 0, (rsiz & 0x4000) != 0);
            if (rsiz & 0x8000) {
                set("Sextensions", 0, 0, rsiz & 0x3FFF);
                set("Sprofile", 0, 0, 3);
            } else {
                set("Sextensions", 0, 0, 0);
                int v = rsiz & ~0x4000;
                static const int profiles[5] = {2, 0, 1, 4, 5};
                if (v > 4)
                    rv_raise_core_error("Invalid SIZ marker segment encountered!");
                set("Sprofile", 0, 0, profiles[v]);
            }
            int64_t vals[8];
            for (auto& v : vals)
                v = rv_read_big(bp, end, 4);
            // Order: Xsiz, Ysiz, XOsiz, YOsiz, XTsiz, YTsiz, XTOsiz, YTOsiz.
            for (int n : {0, 1, 2, 3, 6, 7})
                if (vals[n] > INT32_MAX)
                    rv_raise_core_error("Invalid SIZ marker segment encountered!");
            if (vals[4] > INT32_MAX)
                vals[4] = vals[0]; // negative tile width: one tile spans the canvas
            if (vals[5] > INT32_MAX)
                vals[5] = vals[1];
            if (vals[2] >= vals[0] || vals[3] >= vals[1])
                rv_raise_core_error("Invalid SIZ marker segment encountered!");
            set("Ssize", 0, 0, static_cast<int>(vals[1]));
            set("Ssize", 0, 1, static_cast<int>(vals[0]));
            set("Sorigin", 0, 0, static_cast<int>(vals[3]));
            set("Sorigin", 0, 1, static_cast<int>(vals[2]));
            set("Stiles", 0, 0, static_cast<int>(vals[5]));
            set("Stiles", 0, 1, static_cast<int>(vals[4]));
            set("Stile_origin", 0, 0, static_cast<int>(vals[7]));
            set("Stile_origin", 0, 1, static_cast<int>(vals[6]));
            int csiz = static_cast<int>(rv_read_big(bp, end, 2));
            if (csiz < 1 || csiz > 16384)
                rv_raise_core_error(
                    "Illegal number of image components! Must be in the range 1 to 16384.");
            // The whole component table must be present before anything is stored for it.
            if (end - bp < 3 * csiz)
                throw rv_short_body{bp};
            set("Scomponents", 0, 0, csiz);
            for (int c = 0; c < csiz; c++) {
                int ssiz = static_cast<int>(rv_read_big(bp, end, 1));
                int precision = (ssiz & 0x7F) + 1;
                if (precision > 38)
                    rv_raise_core_error("Illegal image sample bit-depth, " +
                                        std::to_string(precision) +
                                        ". Legal range is from 1 to 38 bits per sample.");
                set("Ssigned", c, 0, (ssiz & 0x80) != 0);
                set("Sprecision", c, 0, precision);
                set("Ssampling", c, 1, static_cast<int>(rv_read_big(bp, end, 1)));
                set("Ssampling", c, 0, static_cast<int>(rv_read_big(bp, end, 1)));
            }
        } catch (const rv_short_body&) {
            rv_raise_core_error("Malformed SIZ marker segment encountered. Marker segment is too "
                                "small.");
        }
        if (bp != end)
            rv_raise_core_error("Malformed SIZ marker segment encountered. The final " +
                                std::to_string(end - bp) + " bytes were not consumed!");
        return true;
    }

    try {
        int ncbd = static_cast<int>(rv_read_big(bp, end, 2));
        int m = ncbd & 0x7FFF;
        if (m > 16384)
            rv_raise_core_error("Illegal number of MCT output components, `Mcomponents'! Must be "
                                "in the range 0 to 16384.");
        int count = (ncbd & 0x8000) ? 1 : m;
        if (end - bp < count)
            throw rv_short_body{bp};
        set("Mcomponents", 0, 0, m);
        for (int c = 0; c < count; c++) {
            int byte = static_cast<int>(rv_read_big(bp, end, 1));
            int precision = (byte & 0x7F) + 1;
            if (precision > 38)
                rv_raise_core_error("Illegal precision for MCT output component, " +
                                    std::to_string(precision) +
                                    ". Legal range is from 1 to 38 bits per sample.");
            set("Msigned", c, 0, (byte & 0x80) != 0);
            set("Mprecision", c, 0, precision);
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed CBD marker segment encountered. Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed CBD marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void siz_params::finalize(bool after_reading)
{
    int num_comps = 0;
    bool have_comps = get("Scomponents", 0, 0, num_comps);
    int tmp = 0;
    bool have_sampling = get("Ssampling", 0, 0, tmp);
    bool have_dims = get("Sdims", 0, 0, tmp);
    int size[2] = {0, 0}, origin[2] = {0, 0};
    bool have_size = get("Ssize", 0, 0, size[0]) && get("Ssize", 0, 1, size[1]);
    if (!(get("Sorigin", 0, 0, origin[0]) && get("Sorigin", 0, 1, origin[1]))) {
        origin[0] = origin[1] = 0;
        set("Sorigin", 0, 0, 0);
        set("Sorigin", 0, 1, 0);
    }

    if (!have_comps) {
        num_comps = 0;
        if (have_sampling)
            while (get("Ssampling", num_comps, 0, tmp, false, false) &&
                   get("Ssampling", num_comps, 1, tmp, false, false))
                num_comps++;
        else if (have_dims)
            while (get("Sdims", num_comps, 0, tmp, false, false) &&
                   get("Sdims", num_comps, 1, tmp, false, false))
                num_comps++;
        if (num_comps == 0)
            fail_with_attributes(
                "Problem trying to finalize SIZ information. Insufficient data supplied to "
                "determine the number of image components! Available information is as "
                "follows:\n\n");
    }
    if (num_comps < 1 || num_comps > 16384)
        rv_raise_core_error("Illegal number of image components! Must be in the range 1 to 16384.");
    if (!have_comps)
        set("Scomponents", 0, 0, num_comps); // the writer and readers of the tree need it

    std::vector<int64_t> dims(static_cast<size_t>(2 * num_comps), 0);
    std::vector<int64_t> factors(static_cast<size_t>(2 * num_comps), 0);
    auto dim = [&](int c, int d) -> int64_t& { return dims[static_cast<size_t>(2 * c + d)]; };
    auto fac = [&](int c, int d) -> int64_t& { return factors[static_cast<size_t>(2 * c + d)]; };
    if (have_dims)
        for (int c = 0; c < num_comps; c++)
            for (int d = 0; d < 2; d++) {
                int v = 0;
                if (!get("Sdims", c, d, v))
                    rv_raise_core_error("Problem trying to finalize SIZ information. Component "
                                        "dimensions are only partially available!");
                dim(c, d) = v;
            }
    if (have_sampling) {
        for (int c = 0; c < num_comps; c++)
            for (int d = 0; d < 2; d++) {
                int v = 0;
                if (!get("Ssampling", c, d, v))
                    rv_raise_core_error("Problem trying to finalize SIZ information Component "
                                        "sub-sampling factors are only partially available!");
                if (v < 1)
                    rv_raise_core_error(
                        "Image component sub-sampling factors must be strictly positive!");
                fac(c, d) = v;
            }
        if (!have_dims) {
            if (!have_size)
                fail_with_attributes("Problem trying to finalize SIZ information. Must have "
                                     "either the image component dimensions or the canvas size! "
                                     "Available information is as follows:\n\n");
            for (int c = 0; c < num_comps; c++)
                for (int d = 0; d < 2; d++) {
                    dim(c, d) = extent(size[d], origin[d], fac(c, d));
                    set("Sdims", c, d, static_cast<int>(dim(c, d)));
                }
            have_dims = true;
        }
    } else if (!have_dims) {
        rv_raise_core_error("Problem trying to finalize SIZ information. Must have either the "
                            "individual component dimensions or the component sub-sampling "
                            "factors.");
    }

    if (!have_size && have_sampling) {
        for (int d = 0; d < 2; d++) {
            int64_t low = std::numeric_limits<int64_t>::min();
            int64_t high = std::numeric_limits<int64_t>::max();
            for (int c = 0; c < num_comps; c++) {
                int64_t s = fac(c, d);
                int64_t h = (ceil_div(origin[d], s) + dim(c, d)) * s;
                low = std::max(low, h - s + 1);
                high = std::min(high, h);
            }
            if (low > high)
                fail_with_attributes(
                    d == 1 ? "Problem trying to finalize SIZ information. Horizontal component "
                             "dimensions and sub-sampling factors are incompatible. Available "
                             "information is as follows:\n\n"
                           : "Problem trying to finalize SIZ information. Vertical component "
                             "dimensions and sub-sampling factors are incompatible. Available "
                             "information is as follows:\n\n");
            if (!fits_int32(low))
                fail_with_attributes("Problem trying to finalize SIZ information. Dimensions are "
                                     "inconsistent.  Available information is as follows:\n\n");
            size[d] = static_cast<int>(low);
            set("Ssize", 0, d, size[d]);
        }
        have_size = true;
    } else if (!have_size) {
        // Dimensions only: the smallest canvas extent that some legal factor fits for
        // every component.
        for (int d = 0; d < 2; d++) {
            int64_t dmax = 0;
            for (int c = 0; c < num_comps; c++)
                dmax = std::max(dmax, dim(c, d));
            bool found = false;
            for (int t = 1; t <= 255 && !found; t++) {
                int64_t h = (ceil_div(origin[d], t) + dmax) * t;
                for (int64_t e = h - t + 1; e <= h && !found; e++) {
                    bool all = true;
                    for (int c = 0; c < num_comps && all; c++) {
                        bool fits = false;
                        for (int s = 1; s <= 255 && !fits; s++)
                            fits = (extent(e, origin[d], s) == dim(c, d));
                        all = fits;
                    }
                    if (all && fits_int32(e)) {
                        found = true;
                        size[d] = static_cast<int>(e);
                    }
                }
            }
            if (!found)
                fail_with_attributes("Problem trying to finalize SIZ information Component "
                                     "dimensions are not consistent with a legal set of "
                                     "sub-sampling factors. Available information is as "
                                     "follows:\n\n");
            set("Ssize", 0, d, size[d]);
        }
        have_size = true;
    }
    if (!have_sampling) {
        for (int c = 0; c < num_comps; c++)
            for (int d = 0; d < 2; d++) {
                int64_t e = int64_t(size[d]) - origin[d];
                int64_t s = (dim(c, d) > 0) ? e / dim(c, d) : 1;
                if (s <= 0)
                    s = 1;
                else
                    while (s > 1 && extent(size[d], origin[d], s) < dim(c, d))
                        s--;
                while (extent(size[d], origin[d], s) > dim(c, d) && s < 256)
                    s++;
                if (extent(size[d], origin[d], s) != dim(c, d))
                    fail_with_attributes(
                        d == 1 ? "Problem trying to finalize SIZ information. Horizontal canvas "
                                 "and image component dimensions are not compatible.  Available "
                                 "information is as follows:\n\n"
                               : "Problem trying to finalize SIZ information. Vertical canvas "
                                 "and image component dimensions are not compatible.  Available "
                                 "information is as follows:\n\n");
                fac(c, d) = s;
                set("Ssampling", c, d, static_cast<int>(s));
            }
    }
    for (int c = 0; c < num_comps; c++)
        for (int d = 0; d < 2; d++)
            if (extent(size[d], origin[d], fac(c, d)) != dim(c, d))
                fail_with_attributes("Problem trying to finalize SIZ information. Dimensions are "
                                     "inconsistent.  Available information is as follows:\n\n");

    int tiles[2], tile_origin[2];
    if (!(get("Stile_origin", 0, 0, tile_origin[0]) && get("Stile_origin", 0, 1, tile_origin[1]))) {
        tile_origin[0] = origin[0];
        tile_origin[1] = origin[1];
        set("Stile_origin", 0, 0, tile_origin[0]);
        set("Stile_origin", 0, 1, tile_origin[1]);
    }
    if (!(get("Stiles", 0, 0, tiles[0]) && get("Stiles", 0, 1, tiles[1]))) {
        for (int d = 0; d < 2; d++) {
            tiles[d] = size[d] - tile_origin[d];
            set("Stiles", 0, d, tiles[d]);
        }
    }
    for (int d = 0; d < 2; d++)
        if (!(tile_origin[d] <= origin[d] &&
              int64_t(origin[d]) < int64_t(tile_origin[d]) + tiles[d]))
            fail_with_attributes("Problems trying to finalize SIZ information. Illegal tile "
                                 "origin coordinates.  The first tile must have a non-empty "
                                 "intersection with the image region on the canvas. Available "
                                 "information is as follows:\n\n");

    bool cap = false;
    if (!get("Scap", 0, 0, cap))
        set("Scap", 0, 0, false);
    int ext = 0, profile = 2;
    if (!get("Sextensions", 0, 0, ext))
        set("Sextensions", 0, 0, 0);
    if (!get("Sprofile", 0, 0, profile))
        set("Sprofile", 0, 0, 2);
    if (profile < 0 || profile > 5)
        rv_raise_core_error(
            "Illegal profile index.  \"Sprofile\" must be in the range 0 to 5: Profile-0 is the "
            "most restrictive original Part-1 profile; Profile-2 is the unrestricted Part-1 "
            "profile; 3 means that the codestream conforms to Part-2 of the standard; 4 and 5 "
            "are for the restrictive Digital Cinema profiles, added by an ammendment to Part-1 "
            "of the standard.");
    if (after_reading)
        return;

    int new_ext = ext, new_profile = profile;
    if (new_ext != 0)
        new_profile = 3;
    int mcomps = 0;
    if (get("Mcomponents", 0, 0, mcomps) && mcomps >= 1) {
        new_ext |= RVD_SIZ_EXT_MCT;
        new_profile = 3;
    } else {
        new_ext &= ~RVD_SIZ_EXT_MCT;
    }
    rvd_params* cod = access_cluster("COD");
    rvd_params* atk = access_cluster("ATK");
    if (cod != nullptr) {
        for (rvd_params* obj : cod->owned_objects()) {
            int v = 0;
            bool b = false;
            if ((obj->get("Cads", 0, 0, v, false) && v != 0) ||
                (obj->get_tile_idx() < 0 && obj->get("Cdfs", 0, 0, v, false) && v != 0)) {
                new_ext |= RVD_SIZ_EXT_DECOMP;
                new_profile = 3;
            }
            for (int r = 0; obj->get("Cdecomp", r, 0, v, false, false); r++)
                if (v != 3) {
                    new_ext |= RVD_SIZ_EXT_DECOMP;
                    new_profile = 3;
                    break;
                }
            if (obj->get("Catk", 0, 0, v, false) && v != 0) {
                new_profile = 3;
                rvd_params* kernel =
                    (atk != nullptr) ? atk->access_relation(obj->get_tile_idx(), -1, v, true)
                                     : nullptr;
                if (kernel != nullptr && kernel->get("Ksymmetric", 0, 0, b) && b)
                    new_ext |= RVD_SIZ_EXT_SYM_KNL;
                else
                    new_ext |= RVD_SIZ_EXT_ANY_KNL;
            }
            for (int f = 0; f < 2; f++)
                if (obj->get("Calign_blk_last", 0, f, b, false) && b)
                    new_profile = 3;
        }
    }
    if (new_profile != profile)
        set("Sprofile", 0, 0, new_profile);
    if (new_ext != ext)
        set("Sextensions", 0, 0, new_ext);
}

int siz_params::write_marker_segment(rvd_output* out, rvd_params*, int tpart_idx)
{
    if (tpart_idx != 0)
        return 0;
    int size[2], origin[2], tiles[2], tile_origin[2];
    int profile = 0, ext = 0, num_comps = 0;
    bool cap = false;
    bool ok = true;
    for (int d = 0; d < 2; d++)
        ok = ok && get("Ssize", 0, d, size[d]) && get("Sorigin", 0, d, origin[d]) &&
             get("Stiles", 0, d, tiles[d]) && get("Stile_origin", 0, d, tile_origin[d]);
    ok = ok && get("Sprofile", 0, 0, profile) && get("Scap", 0, 0, cap) &&
         get("Sextensions", 0, 0, ext) && get("Scomponents", 0, 0, num_comps);
    if (!ok)
        rv_raise_core_error("Unable to write SIZ marker segment yet!");
    if (num_comps < 1 || num_comps > 16384)
        rv_raise_core_error("Illegal number of image components! Must be in the range 1 to 16384.");
    int total = 3 * num_comps + 40;
    int mcomps = 0;
    if (!get("Mcomponents", 0, 0, mcomps))
        mcomps = 0;
    if (mcomps < 0 || mcomps > 16384)
        rv_raise_core_error("Illegal number of MCT output components, `Mcomponents'! Must be in "
                            "the range 0 to 16384.");
    if (mcomps > 0)
        total += mcomps + 6;
    if (out == nullptr)
        return total;

    int64_t cs[2], co[2], ct[2], cto[2];
    for (int d = 0; d < 2; d++) {
        cs[d] = size[d];
        co[d] = origin[d];
        ct[d] = tiles[d];
        cto[d] = tile_origin[d];
    }
    if (cto[0] < 0 || cto[1] < 0) {
        // A flipped copy: move everything into the non-negative range by a shift that
        // keeps every tile and precinct boundary where it is relative to the others.
        rvd_params* cod = access_cluster("COD");
        if (cod == nullptr)
            rv_raise_core_error("Attempting to write geometrically transformed SIZ marker "
                                "information without attaching and finalizing all "
                                "tile-component COD marker information.  This is essential to "
                                "establish canvas coordinate equivalence relationships.");
        std::vector<int> tiles_with_objects{-1};
        for (rvd_params* obj : cod->owned_objects())
            if (obj->get_tile_idx() >= 0 && (tiles_with_objects.back() != obj->get_tile_idx()))
                tiles_with_objects.push_back(obj->get_tile_idx());
        for (int d = 0; d < 2; d++) {
            int64_t period = ct[d];
            if (ct[d] >= cs[d] - co[d]) {
                period = 1;
                cto[d] = co[d];
            }
            if (cto[d] >= 0)
                continue;
            for (int t : tiles_with_objects)
                for (int c = 0; c < num_comps; c++) {
                    rvd_params* obj = cod->access_relation(t, c, 0, true);
                    int levels = 0, factor = 1;
                    bool use_precincts = false;
                    if (obj == nullptr || !obj->get("Clevels", 0, 0, levels) ||
                        !get("Ssampling", c, d, factor))
                        rv_raise_core_error(
                            "Attempting to write geometrically transformed SIZ marker "
                            "information without attaching and finalizing all tile-component "
                            "COD marker information.  This is essential to establish canvas "
                            "coordinate equivalence relationships.");
                    obj->get("Cuse_precincts", 0, 0, use_precincts);
                    for (int r = levels; r >= 0; r--) {
                        int exponent = 15, psize = 0;
                        if (use_precincts && obj->get("Cprecincts", r, d, psize))
                            exponent = rv_int_log2(psize);
                        int64_t p = (exponent + r < 62) ? (int64_t(factor) << (exponent + r)) : 0;
                        period = (p > 0) ? lcm_checked(period, p) : 0;
                        if (period <= 0)
                            rv_raise_core_error(
                                "Error attempting to convert geometrically transformed canvas "
                                "coordinates to legal marker ranges.  Try using a smaller "
                                "precinct size (you can use the transcoding utility to achieve "
                                "this at the same time as geometric transformations.");
                    }
                }
            int64_t shift = ((-cto[d] + period - 1) / period) * period;
            cs[d] += shift;
            co[d] += shift;
            cto[d] += shift;
        }
    }
    for (int d = 0; d < 2; d++)
        if (!(cto[d] <= co[d] && co[d] < cto[d] + ct[d] && co[d] < cs[d]) || !fits_int32(cs[d]) ||
            !fits_int32(ct[d]))
            rv_raise_core_error("Cannot write SIZ marker with illegal canvas coordinates.  The "
                                "first tile is required to have a non-empty intersection with "
                                "the image region on the canvas.");
    int rsiz;
    if (profile == 3)
        rsiz = ext | 0x8000;
    else if (ext != 0 || profile < 0 || profile > 5)
        rv_raise_core_error("Illegal profile index.  \"Sprofile\" must be set in the range 0 to "
                            "5; 3 is required if Part 2 features are to be used.");
    else if (profile == 2)
        rsiz = 0;
    else if (profile < 2)
        rsiz = profile + 1;
    else
        rsiz = profile - 1;
    if (cap)
        rsiz |= 0x4000;

    std::vector<uint8_t> comp_bytes;
    comp_bytes.reserve(static_cast<size_t>(3 * num_comps));
    for (int c = 0; c < num_comps; c++) {
        int precision = 0, sy = 0, sx = 0;
        bool is_signed = false;
        if (!(get("Sprecision", c, 0, precision) && get("Ssigned", c, 0, is_signed) &&
              get("Ssampling", c, 0, sy) && get("Ssampling", c, 1, sx)))
            rv_raise_core_error("Unable to write SIZ marker segment! Precision or sub-sampling "
                                "information missing for at least one component.");
        if (precision < 1 || precision > 38)
            rv_raise_core_error("Illegal image sample bit-depth, " + std::to_string(precision) +
                                ". Legal range is from 1 to 38 bits per sample.");
        if (sy < 1 || sy > 255 || sx < 1 || sx > 255)
            rv_raise_core_error("Illegal component sub-sampling factors, {" + std::to_string(sy) +
                                "," + std::to_string(sx) + "}. Legal range is from 1 to 255.");
        comp_bytes.push_back(static_cast<uint8_t>((is_signed ? 128 : 0) + precision - 1));
        comp_bytes.push_back(static_cast<uint8_t>(sx));
        comp_bytes.push_back(static_cast<uint8_t>(sy));
    }
    std::vector<uint8_t> cbd_bytes;
    for (int c = 0; c < mcomps; c++) {
        int precision = 0;
        bool is_signed = false;
        if (!(get("Mprecision", c, 0, precision) && get("Msigned", c, 0, is_signed)))
            rv_raise_core_error("Unable to write CBD marker segment! Precision or signed/unsigned "
                                "information missing for at least one MCT output component.");
        if (precision < 1 || precision > 38)
            rv_raise_core_error("Illegal precision for MCT output component, " +
                                std::to_string(precision) +
                                ". Legal range is from 1 to 38 bits per sample.");
        cbd_bytes.push_back(static_cast<uint8_t>((is_signed ? 128 : 0) + precision - 1));
    }

    out->put(SIZ_CODE);
    out->put(static_cast<uint16_t>(3 * num_comps + 38));
    out->put(static_cast<uint16_t>(rsiz));
    out->put(static_cast<uint32_t>(cs[1]));
    out->put(static_cast<uint32_t>(cs[0]));
    out->put(static_cast<uint32_t>(co[1]));
    out->put(static_cast<uint32_t>(co[0]));
    out->put(static_cast<uint32_t>(ct[1]));
    out->put(static_cast<uint32_t>(ct[0]));
    out->put(static_cast<uint32_t>(cto[1]));
    out->put(static_cast<uint32_t>(cto[0]));
    out->put(static_cast<uint16_t>(num_comps));
    out->write(comp_bytes.data(), static_cast<int>(comp_bytes.size()));
    if (mcomps > 0) {
        out->put(CBD_CODE);
        out->put(static_cast<uint16_t>(mcomps + 4));
        out->put(static_cast<uint16_t>(mcomps));
        out->write(cbd_bytes.data(), static_cast<int>(cbd_bytes.size()));
    }
    return total;
}

namespace {
// Horizontal (dir 1) or vertical (dir 0) splits of the primary decompositions among the
// first `levels` records of a main-header component's `Cdecomp`.
int primary_splits(rvd_params* cod, int c, int levels, int dir)
{
    int count = 0;
    rvd_params* obj = (cod != nullptr) ? cod->access_relation(-1, c, 0, true) : nullptr;
    for (int r = 0; r < levels; r++) {
        int v = 3;
        if (obj != nullptr)
            obj->get("Cdecomp", r, 0, v);
        int bit = (dir == 1) ? 1 : 2; // code 1 splits horizontally, 2 vertically
        if (v & bit)
            count++;
    }
    return count;
}
} // namespace

void siz_params::copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                                  bool transpose, bool vflip, bool hflip)
{
    int sz[2], org[2], tls[2], tor[2];
    int profile = 0, ext = 0;
    bool cap = false;
    bool ok = source->get("Sprofile", 0, 0, profile) && source->get("Scap", 0, 0, cap) &&
              source->get("Sextensions", 0, 0, ext);
    // Destination direction d reads source direction sd.
    for (int d = 0; d < 2; d++) {
        int sd = transpose ? 1 - d : d;
        ok = ok && source->get("Ssize", 0, sd, sz[d]) && source->get("Sorigin", 0, sd, org[d]) &&
             source->get("Stiles", 0, sd, tls[d]) && source->get("Stile_origin", 0, sd, tor[d]);
    }
    if (!ok)
        rv_raise_core_error("Unable to copy SIZ parameters, unless all canvas coordinates are "
                            "available.  Try using `siz_params::finalize' before attempting the "
                            "copy.");
    if (vflip || hflip)
        profile = 3;
    set("Sprofile", 0, 0, profile);
    set("Scap", 0, 0, cap);
    set("Sextensions", 0, 0, ext);
    int src_comps = 0;
    source->get("Scomponents", 0, 0, src_comps);
    if (src_comps <= skip_components)
        rv_raise_core_error("Attempting to discard all of the components from an existing "
                            "code-stream!");
    int num_comps = src_comps - skip_components;
    set("Scomponents", 0, 0, num_comps);
    int mcomps = 0;
    if (source->get("Mcomponents", 0, 0, mcomps))
        set("Mcomponents", 0, 0, mcomps);

    rvd_params* cod = source->access_cluster("COD");
    bool decomp = (ext & RVD_SIZ_EXT_DECOMP) != 0 && cod != nullptr;
    int removed[2];
    for (int d = 0; d < 2; d++) {
        int sd = transpose ? 1 - d : d;
        int levels = discard_levels;
        if (decomp) {
            levels = 64;
            for (int c = skip_components; c < src_comps; c++)
                levels = std::min(levels, primary_splits(cod, c, discard_levels, sd));
        }
        uint32_t bits = static_cast<uint32_t>(sz[d]) | static_cast<uint32_t>(org[d]) |
                        static_cast<uint32_t>(tls[d]) | static_cast<uint32_t>(tor[d]);
        int zeros = 0;
        while (zeros < 31 && !(bits & (1u << zeros)))
            zeros++;
        levels = std::max(0, std::min(levels, zeros));
        removed[d] = levels;
        sz[d] >>= levels;
        org[d] >>= levels;
        tls[d] >>= levels;
        tor[d] >>= levels;
    }
    bool flip[2] = {vflip, hflip};
    for (int d = 0; d < 2; d++)
        if (flip[d]) {
            int64_t new_origin = 1 - int64_t(sz[d]);
            int64_t new_size = 1 - int64_t(org[d]);
            int64_t new_tor = 1 - int64_t(tor[d]);
            if (tls[d] > 0)
                while (new_tor > new_origin)
                    new_tor -= tls[d];
            org[d] = static_cast<int>(new_origin);
            sz[d] = static_cast<int>(new_size);
            tor[d] = static_cast<int>(new_tor);
        }
    for (int d = 0; d < 2; d++) {
        set("Ssize", 0, d, sz[d]);
        set("Sorigin", 0, d, org[d]);
        set("Stiles", 0, d, tls[d]);
        set("Stile_origin", 0, d, tor[d]);
    }
    for (int c = skip_components; c < src_comps; c++) {
        int dst = c - skip_components;
        int precision = 0;
        bool is_signed = false;
        if (source->get("Sprecision", c, 0, precision))
            set("Sprecision", dst, 0, precision);
        if (source->get("Ssigned", c, 0, is_signed))
            set("Ssigned", dst, 0, is_signed);
        int f[2];
        if (source->get("Ssampling", c, 0, f[0]) && source->get("Ssampling", c, 1, f[1])) {
            for (int d = 0; d < 2; d++) {
                int sd = transpose ? 1 - d : d;
                int own = decomp ? primary_splits(cod, c, discard_levels, sd) : discard_levels;
                int64_t v = f[sd];
                int shift = own - removed[d];
                v = (shift >= 0) ? (shift < 16 ? v << shift : INT64_MAX) : (v >> -shift);
                if (v > 255 || v < 1)
                    rv_raise_core_error(
                        "Cannot apply requested resolution reduction without creating a SIZ "
                        "marker segment with illegal component sub-sampling factors.  For the "
                        "current code-stream, sub-sampling factors would be required which "
                        "exceed the legal range of 1 to 255.");
                set("Ssampling", dst, d, static_cast<int>(v));
            }
        }
    }
    for (int c = 0; c < mcomps; c++) {
        int precision = 0;
        bool is_signed = false;
        if (!source->get("Mprecision", c, 0, precision, false, false))
            break;
        set("Mprecision", c, 0, precision);
        if (source->get("Msigned", c, 0, is_signed, false, false))
            set("Msigned", c, 0, is_signed);
    }
}
