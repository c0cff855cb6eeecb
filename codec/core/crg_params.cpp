#include "codec/core/crg_params.h"

#include "codec/core/rgn_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {
const char* const crg_name = "CRG";
const uint16_t CRG_CODE = 0xFF63;

std::string float_text(float v)
{
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%f", static_cast<double>(v));
    return buf;
}
} // namespace

crg_params::crg_params() : rvd_params(crg_name, false, false, false, false, false)
{
    define_attribute("CRGoffset",
                     "Per component: vertical then horizontal registration offset, each in "
                     "[0,1), as a fraction of the component's sub-sampling factor; the last "
                     "record repeats for further components.",
                     "FF", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
}

bool crg_params::check_marker_segment(uint16_t code, int, const uint8_t*, int& c_idx)
{
    c_idx = -1;
    return code == CRG_CODE;
}

bool crg_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != CRG_CODE || comp_idx >= 0)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    int comps = rv_tree_components(this);
    if (end - bp < 4 * static_cast<int64_t>(comps))
        throw rv_short_body{bp};
    for (int c = 0; c < comps; c++) {
        double x = rv_read_big(bp, end, 2) / 65536.0;
        double y = rv_read_big(bp, end, 2) / 65536.0;
        set("CRGoffset", c, 1, x);
        set("CRGoffset", c, 0, y);
    }
    if (bp != end)
        rv_raise_core_error("Malformed CRG marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

int crg_params::write_marker_segment(rvd_output* out, rvd_params*, int tpart_idx)
{
    float f = 0.0f;
    if (tpart_idx != 0 || comp_idx >= 0 || !get("CRGoffset", 0, 0, f))
        return 0;
    int comps = rv_tree_components(this);
    int size = 4 + 4 * comps;
    if (out == nullptr)
        return size;
    std::vector<uint8_t> bytes;
    for (int c = 0; c < comps; c++) {
        float y = 0.0f, x = 0.0f;
        if (!(get("CRGoffset", c, 0, y) && get("CRGoffset", c, 1, x)))
            rv_raise_core_error("Component registration information incomplete!");
        if (!(y >= 0.0f && y < 1.0f && x >= 0.0f && x < 1.0f))
            rv_raise_core_error("Illegal component registration offsets, {" + float_text(y) +
                                "," + float_text(x) +
                                "}.  Legal range is from 0.0 to 1.0 (exclusive).");
        for (float v : {x, y}) {
            // Offsets within 2^-17 of 1 would round to 65536, which the field cannot hold.
            double scaled = std::floor(static_cast<double>(v) * 65536.0 + 0.5);
            int word = (scaled > 65535.0) ? 65535 : static_cast<int>(scaled);
            bytes.push_back(static_cast<uint8_t>(word >> 8));
            bytes.push_back(static_cast<uint8_t>(word));
        }
    }
    out->put(CRG_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->write(bytes.data(), static_cast<int>(bytes.size()));
    return size;
}

void crg_params::copy_with_xforms(rvd_params* source, int skip_components, int, bool transpose,
                                  bool vflip, bool hflip)
{
    if (vflip || hflip) {
        delete_unparsed_attribute("CRGoffset");
        return;
    }
    // Extent ratios of the offset's own direction: source extent over new extent.
    rvd_params* src_siz = source->access_cluster("SIZ");
    rvd_params* new_siz = access_cluster("SIZ");
    int ratio[2] = {1, 1};
    for (int d = 0; d < 2; d++) {
        int sd = transpose ? 1 - d : d;
        int ss = 0, so = 0, ns = 0, no = 0;
        if (src_siz != nullptr && new_siz != nullptr && src_siz->get("Ssize", 0, sd, ss) &&
            src_siz->get("Sorigin", 0, sd, so) && new_siz->get("Ssize", 0, d, ns) &&
            new_siz->get("Sorigin", 0, d, no) && ns - no > 0 && (ss - so) / (ns - no) > 0)
            ratio[d] = (ss - so) / (ns - no);
    }
    float v = 0.0f;
    int records = 0;
    while (source->get("CRGoffset", records, 0, v, false, false))
        records++;
    if (records == 0)
        return;
    int first = (records > skip_components) ? skip_components : records - 1;
    for (int r = first, dst = 0; r < records; r++, dst++)
        for (int d = 0; d < 2; d++) {
            int sd = transpose ? 1 - d : d;
            float off = 0.0f;
            if (source->get("CRGoffset", r, sd, off, false, false))
                set("CRGoffset", dst, d, static_cast<double>(off) / ratio[d]);
        }
}
