#include "codec/core/dfs_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <string>
#include <vector>

namespace {
const char* const dfs_name = "DFS";
const uint16_t DFS_CODE = 0xFF72;
} // namespace

int rv_split_from_segment(int code)
{
    static const int map[4] = {0, 3, 1, 2};
    return map[code & 3];
}

int rv_split_to_segment(int value)
{
    static const int map[4] = {0, 2, 3, 1};
    return map[value & 3];
}

void rv_pack_splits(const int* values, int count, uint8_t* out)
{
    for (int i = 0; i < (count + 3) / 4; i++)
        out[i] = 0;
    for (int i = 0; i < count; i++)
        out[i / 4] = static_cast<uint8_t>(out[i / 4] | ((values[i] & 3) << (6 - 2 * (i % 4))));
}

dfs_params::dfs_params() : rvd_params(dfs_name, false, false, true, false, true)
{
    define_attribute("DSdfs",
                     "Primary split of each DWT level from the highest; fixes the downsampling "
                     "between successive resolutions.",
                     "(X=0,H=1,V=2,B=3)", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
}

bool dfs_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != DFS_CODE || num_bytes < 2)
        return false;
    c_idx = bytes[1];
    return c_idx >= 1 && c_idx <= 127;
}

bool dfs_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != DFS_CODE || tile_idx >= 0 || comp_idx >= 0 || num_bytes < 2 ||
        bytes[1] != inst_idx)
        return false;
    const uint8_t* bp = bytes + 2;
    const uint8_t* end = bytes + num_bytes;
    try {
        int ids = static_cast<int>(rv_read_big(bp, end, 1));
        if (end - bp < (ids + 3) / 4)
            throw rv_short_body{bp};
        int byte = 0;
        for (int i = 0; i < ids; i++) {
            if (i % 4 == 0)
                byte = static_cast<int>(rv_read_big(bp, end, 1));
            set("DSdfs", i, 0, rv_split_from_segment(byte >> (6 - 2 * (i % 4))));
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed DFS marker segment encountered. Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed DFS marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void dfs_params::finalize(bool after_reading)
{
    if (after_reading)
        return;
    int v = 0;
    for (int r = 0; get("DSdfs", r, 0, v, false, false); r++) {
        if (inst_idx < 1 || inst_idx > 127)
            rv_raise_core_error("The `DSdfs' attribute may be defined only for index values in the "
                                "range 1 to 127.  Perhaps your decomposition structure requires "
                                "too many distinct DFS marker segments.");
        if (v < 0 || v > 3)
            rv_raise_core_error("Illegal `DSdfs' attribute value encountered.  Legal values must "
                                "be in the range 0 to 3.");
    }
}

int dfs_params::write_marker_segment(rvd_output* out, rvd_params*, int tpart_idx)
{
    if (inst_idx < 1 || inst_idx > 127 || tpart_idx != 0 || tile_idx >= 0 || comp_idx >= 0)
        return 0;
    std::vector<int> codes;
    int v = 0;
    for (int r = 0; get("DSdfs", r, 0, v, false, false); r++)
        codes.push_back(rv_split_to_segment(v));
    int n = static_cast<int>(codes.size());
    if (n == 0 || n > 255)
        return 0;
    int size = (n + 3) / 4 + 7;
    if (out == nullptr)
        return size;
    std::vector<uint8_t> packed(static_cast<size_t>((n + 3) / 4));
    rv_pack_splits(codes.data(), n, packed.data());
    out->put(DFS_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->put(static_cast<uint16_t>(inst_idx));
    out->put(static_cast<uint8_t>(n));
    out->write(packed.data(), static_cast<int>(packed.size()));
    return size;
}
