#include "codec/core/poc_params.h"

#include "codec/core/rgn_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <string>
#include <vector>

namespace {
const char* const poc_name = "POC";
const uint16_t POC_CODE = 0xFF5F;

// Every record of `Porder` visible to the object, six fields each; false when a field
// of some record is missing.
bool all_records(rvd_params* obj, std::vector<int>& vals, bool own_only)
{
    vals.clear();
    int v = 0;
    for (int r = 0; obj->get("Porder", r, 0, v, !own_only, false); r++)
        for (int f = 0; f < 6; f++) {
            if (!obj->get("Porder", r, f, v, !own_only, false))
                return false;
            vals.push_back(v);
        }
    return true;
}
} // namespace

poc_params::poc_params() : rvd_params(poc_name, true, false, true, false, false)
{
    define_attribute("Porder",
                     "One record per progression: resolution start (inclusive), component "
                     "start (inclusive), layer end (exclusive), resolution end (exclusive), "
                     "component end (exclusive), progression order.  A record orders only the "
                     "packets that earlier records and instances have not yet sequenced.",
                     "IIIII(LRCP=0,RLCP=1,RPCL=2,PCRL=3,CPRL=4)", RVD_MULTI_RECORD);
}

bool poc_params::check_marker_segment(uint16_t code, int, const uint8_t*, int& c_idx)
{
    c_idx = -1;
    return code == POC_CODE;
}

bool poc_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int)
{
    if (code != POC_CODE)
        return false;
    int width = (rv_tree_components(this) > 256) ? 2 : 1;
    int rec_size = 5 + 2 * width;
    int records = num_bytes / rec_size;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    if (records < 1)
        throw rv_short_body{bp};
    for (int r = 0; r < records; r++) {
        int rs = static_cast<int>(rv_read_big(bp, end, 1));
        int cs = static_cast<int>(rv_read_big(bp, end, width));
        int lye = static_cast<int>(rv_read_big(bp, end, 2));
        int re = static_cast<int>(rv_read_big(bp, end, 1));
        int ce = static_cast<int>(rv_read_big(bp, end, width));
        int order = static_cast<int>(rv_read_big(bp, end, 1));
        if (ce == 0 && width == 1)
            ce = 256;
        set("Porder", r, 0, rs);
        set("Porder", r, 1, cs);
        set("Porder", r, 2, lye);
        set("Porder", r, 3, re);
        set("Porder", r, 4, ce);
        set("Porder", r, 5, order); // an order above 4 is refused by the enumeration
    }
    if (bp != end)
        rv_raise_core_error("Malformed POC marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

int poc_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    if (inst_idx != tpart_idx)
        return 0;
    std::vector<int> mine;
    int v = 0;
    if (!get("Porder", 0, 0, v, false, false))
        return 0;
    bool complete = all_records(this, mine, true);
    int records = 0;
    while (get("Porder", records, 0, v, false, false))
        records++;
    if (ref != nullptr && ref->get_tile_idx() != tile_idx && complete) {
        rvd_params* second = access_relation(tile_idx, -1, 1, true);
        bool has_second = second != nullptr && second->get_tile_idx() == tile_idx &&
                          second->get("Porder", 0, 0, v, false, false);
        std::vector<int> theirs;
        if (!has_second && all_records(ref, theirs, false) && theirs == mine)
            return 0;
    }
    int comps = rv_tree_components(this);
    int width = (comps > 256) ? 2 : 1;
    int size = 4 + records * (5 + 2 * width);
    if (out == nullptr)
        return size;
    if (!complete)
        rv_raise_core_error("Information required to write POC marker segment is not currently "
                            "complete!");
    std::vector<uint8_t> bytes;
    for (int r = 0; r < records; r++) {
        const int* rec = &mine[static_cast<size_t>(6 * r)];
        int rs = rec[0], cs = rec[1], lye = rec[2], re = rec[3], ce = rec[4], order = rec[5];
        if (rs < 0 || rs > 32)
            rv_raise_core_error("Illegal lower bound, " + std::to_string(rs) +
                                ", for resolution level indices in progression order change "
                                "attribute.  Legal range is from 0 to 32.");
        if (re <= rs || re > 33)
            rv_raise_core_error("Illegal upper bound (exclusive), " + std::to_string(re) +
                                ", for resolution level indices in progression order change "
                                "attribute.  Legal range is from the lower bound + 1 to 33.");
        if (cs < 0 || cs > comps - 1)
            rv_raise_core_error("Illegal lower bound, " + std::to_string(cs) +
                                ", for component indices in progression order change attribute. "
                                " Legal range is from 0 to " +
                                std::to_string(comps - 1) + ".");
        // One-byte fields read CEpoc 0 as 256: taking it back keeps read-then-write stable.
        const int ce_limit = width == 1 ? 256 : comps;
        if (ce <= cs || ce > ce_limit)
            rv_raise_core_error("Illegal upper bound (exclusive), " + std::to_string(ce) +
                                ", for component indices in progression order change attribute. "
                                " Legal range is from the lower bound + 1 to " +
                                std::to_string(ce_limit) + ".");
        if (lye < 0 || lye > 65535)
            rv_raise_core_error("Illegal upper bound (exclusive), " + std::to_string(lye) +
                                ", for layer indices in progression order change attribute.  "
                                "Legal range is from 0 to 65535.");
        // A range through the last component is written as the component count: 0 stands
        // for 256 too, but other readers take it as no component at all. Only with exactly
        // 256 components is 0 the one byte that says so.
        if (width == 1 && ce == 256)
            ce = comps < 256 ? comps : 0;
        auto put_field = [&](int value, int nbytes) {
            for (int b = nbytes - 1; b >= 0; b--)
                bytes.push_back(static_cast<uint8_t>(value >> (8 * b)));
        };
        put_field(rs, 1);
        put_field(cs, width);
        put_field(lye, 2);
        put_field(re, 1);
        put_field(ce, width);
        put_field(order, 1);
    }
    out->put(POC_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->write(bytes.data(), static_cast<int>(bytes.size()));
    return size;
}

void poc_params::copy_with_xforms(rvd_params* source, int skip_components, int, bool, bool,
                                  bool)
{
    int v = 0;
    for (int r = 0; source->get("Porder", r, 0, v, false, false); r++) {
        int f[6] = {0, 0, 0, 0, 0, 0};
        for (int k = 0; k < 6; k++)
            source->get("Porder", r, k, f[k], false, false);
        f[1] = (f[1] > skip_components) ? f[1] - skip_components : 0;
        f[4] -= skip_components;
        if (f[4] < 1) {
            f[4] = 1;
            f[2] = 0; // orders no packets
        }
        for (int k = 0; k < 6; k++)
            set("Porder", r, k, f[k]);
    }
}
