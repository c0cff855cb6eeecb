#include "codec/core/ads_params.h"

#include "codec/core/cod_params.h"
#include "codec/core/dfs_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_output.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
const char* const ads_name = "ADS";
const uint16_t ADS_CODE = 0xFF73;

// Reads `count` packed 2-bit values.
std::vector<int> read_packed(const uint8_t*& bp, const uint8_t* end, int count)
{
    if (end - bp < (count + 3) / 4)
        throw rv_short_body{bp};
    std::vector<int> out;
    int byte = 0;
    for (int i = 0; i < count; i++) {
        if (i % 4 == 0)
            byte = static_cast<int>(rv_read_big(bp, end, 1));
        out.push_back((byte >> (6 - 2 * (i % 4))) & 3);
    }
    return out;
}

bool valid_group(int group)
{
    int split = group & 3;
    if (split == 0)
        return (group >> 2) == 0;
    if (split == 1 || split == 2)
        return (group >> 6) == 0;
    return true;
}

bool valid_decomp(int val)
{
    uint32_t v = static_cast<uint32_t>(val);
    int primary = v & 3;
    if (primary == 0)
        return (v >> 2) == 0;
    int groups = (primary == 3) ? 3 : 1;
    if (groups == 1 && (v >> 12) != 0)
        return false;
    for (int g = 0; g < groups; g++)
        if (!valid_group(static_cast<int>((v >> (2 + 10 * g)) & 0x3FF)))
            return false;
    return true;
}
} // namespace

ads_params::ads_params() : rvd_params(ads_name, true, false, true, false, true)
{
    define_attribute("Ddecomp", "One decomposition code per DWT level.", "C", RVD_MULTI_RECORD);
    define_attribute("DOads", "Number of sub-levels in each successive DWT level from the highest.",
                     "I", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("DSads", "Splitting instructions in order.", "(X=0,H=1,V=2,B=3)",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
}

void ads_params::custom_textualize_field(rvd_message& output, const char* name, int field_idx,
                                         int value)
{
    if (std::strcmp(name, "Ddecomp") != 0 || field_idx != 0)
        return;
    char buf[24];
    cod_params::textualize_decomp(buf, value);
    output.put_text(buf);
}

bool ads_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != ADS_CODE || num_bytes < 1)
        return false;
    c_idx = bytes[0];
    return c_idx >= 1 && c_idx <= 127;
}

bool ads_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != ADS_CODE || num_bytes < 2 || bytes[0] != inst_idx)
        return false;
    const uint8_t* bp = bytes + 1;
    const uint8_t* end = bytes + num_bytes;
    try {
        int nads = static_cast<int>(rv_read_big(bp, end, 1));
        std::vector<int> doads = read_packed(bp, end, nads);
        int nsplits = static_cast<int>(rv_read_big(bp, end, 1));
        std::vector<int> dsads = read_packed(bp, end, nsplits);
        for (int i = 0; i < nads; i++)
            set("DOads", i, 0, doads[size_t(i)]);
        for (int i = 0; i < nsplits; i++)
            set("DSads", i, 0, rv_split_from_segment(dsads[size_t(i)]));
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed ADS marker segment encountered. Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed ADS marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void ads_params::finalize(bool after_reading)
{
    if (after_reading)
        return;
    int v = 0;
    int next_split = 0;
    for (int r = 0; get("Ddecomp", r, 0, v, false, false); r++) {
        if (inst_idx < 1 || inst_idx > 127)
            rv_raise_core_error("The `Ddecomp' attribute may be defined only for index values in "
                                "the range 1 to 127.  Perhaps your decomposition structure "
                                "requires too many distinct ADS marker segments.");
        if (!valid_decomp(v)) {
            char hex[16];
            std::snprintf(hex, sizeof(hex), "%x", static_cast<unsigned>(v));
            rv_raise_core_error(std::string("Encountered invalid `Ddecomp' attribute value, 0x") +
                                hex);
        }
        if (r == 0) {
            delete_unparsed_attribute("DOads");
            delete_unparsed_attribute("DSads");
        }
        int primary = v & 3;
        int groups = (primary == 3) ? 3 : (primary == 0 ? 0 : 1);
        int any_split = 0, any_child = 0;
        for (int g = 0; g < groups; g++) {
            int group = (v >> (2 + 10 * g)) & 0x3FF;
            any_split |= group & 3;
            any_child |= group >> 2;
        }
        int doads = (any_split == 0) ? 1 : (any_child == 0 ? 2 : 3);
        set("DOads", r, 0, doads);
        if (doads == 1)
            continue;
        for (int g = groups - 1; g >= 0; g--) {
            int group = (v >> (2 + 10 * g)) & 0x3FF;
            int split = group & 3;
            set("DSads", next_split++, 0, split);
            if (doads == 3 && split != 0) {
                int kids = (split == 3) ? 4 : 2;
                for (int k = kids - 1; k >= 0; k--)
                    set("DSads", next_split++, 0, (group >> (2 + 2 * k)) & 3);
            }
        }
    }
}

int ads_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    if (inst_idx < 1 || inst_idx > 127 || tpart_idx != 0 || comp_idx >= 0)
        return 0;
    auto lists = [](rvd_params* obj, std::vector<int>& doads, std::vector<int>& dsads) {
        int v = 0;
        for (int r = 0; obj->get("DOads", r, 0, v, false, false); r++)
            doads.push_back(v);
        for (int r = 0; obj->get("DSads", r, 0, v, false, false); r++)
            dsads.push_back(v);
    };
    std::vector<int> doads, dsads;
    lists(this, doads, dsads);
    if (doads.empty() && dsads.empty())
        return 0;
    if (ref != nullptr) {
        std::vector<int> rdo, rds;
        lists(ref, rdo, rds);
        if (rdo == doads && rds == dsads)
            return 0;
    }
    int a = static_cast<int>(doads.size()), b = static_cast<int>(dsads.size());
    if (a > 255 || b > 255)
        return 0;
    int size = (a + 3) / 4 + (b + 3) / 4 + 7;
    if (out == nullptr)
        return size;
    std::vector<int> codes;
    for (int s : dsads)
        codes.push_back(rv_split_to_segment(s));
    std::vector<uint8_t> pa(static_cast<size_t>((a + 3) / 4)), pb(static_cast<size_t>((b + 3) / 4));
    rv_pack_splits(doads.data(), a, pa.data());
    rv_pack_splits(codes.data(), b, pb.data());
    out->put(ADS_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->put(static_cast<uint8_t>(inst_idx));
    out->put(static_cast<uint8_t>(a));
    out->write(pa.data(), static_cast<int>(pa.size()));
    out->put(static_cast<uint8_t>(b));
    out->write(pb.data(), static_cast<int>(pb.size()));
    return size;
}
