#include "codec/core/rgn_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <string>

namespace {
const char* const rgn_name = "RGN";
const uint16_t RGN_CODE = 0xFF5E;
} // namespace

int rv_tree_components(rvd_params* any_object)
{
    rvd_params* siz = any_object->access_cluster("SIZ");
    int comps = 0;
    if (siz == nullptr || !siz->get("Scomponents", 0, 0, comps))
        return 0;
    return comps;
}

int rv_segment_component(rvd_params* any_object, const uint8_t* bytes)
{
    return (rv_tree_components(any_object) > 256) ? ((bytes[0] << 8) | bytes[1]) : bytes[0];
}

void rv_warn_tile_segment_in_profile0(rvd_params* obj, const char* kinds)
{
    if (obj->get_tile_idx() < 0)
        return;
    int profile = 2;
    rvd_params* siz = obj->access_cluster("SIZ");
    if (siz != nullptr && !siz->get("Sprofile", 0, 0, profile))
        profile = 2;
    if (profile == 0)
        rv_issue_core_warning(std::string("Profile violation detected (code-stream is technically illegal).  ") +
                              kinds + " marker segments may only appear in the main header of a "
                              "Profile-0 code-stream.  You should set \"Sprofile\" to 1 or 2.  "
                              "Problem detected in tile " +
                              std::to_string(obj->get_tile_idx()) + ".");
}

rgn_params::rgn_params() : rvd_params(rgn_name, true, true, false, true, false)
{
    define_attribute("Rshift",
                     "Up-shift applied to every subband sample that contributes to the "
                     "foreground of the region of interest; must be large enough for the "
                     "decoder to separate foreground from background by amplitude.",
                     "I");
    define_attribute("Rlevels",
                     "Number of highest-frequency DWT levels through which the region geometry "
                     "is propagated; lower levels count as foreground entirely.",
                     "I");
    define_attribute("Rweight",
                     "Weight whose square scales the distortion of code-blocks that touch the "
                     "foreground, for rate allocation.",
                     "F");
}

bool rgn_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != RGN_CODE || num_bytes < 2)
        return false;
    c_idx = rv_segment_component(this, bytes);
    return true;
}

bool rgn_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != RGN_CODE || comp_idx < 0)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    int width = (rv_tree_components(this) > 256) ? 2 : 1;
    if (static_cast<int>(rv_read_big(bp, end, width)) != comp_idx)
        return false;
    if (rv_read_big(bp, end, 1) != 0)
        rv_raise_core_error("Encountered non-Part1 RGN marker segment!");
    set("Rshift", 0, 0, static_cast<int>(rv_read_big(bp, end, 1)));
    if (bp != end)
        rv_raise_core_error("Malformed RGN marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

int rgn_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    if (tpart_idx != 0 || comp_idx < 0)
        return 0;
    int shift = 0;
    if (!get("Rshift", 0, 0, shift))
        shift = 0;
    if (ref != nullptr) {
        int ref_shift = 0;
        if (!ref->get("Rshift", 0, 0, ref_shift))
            ref_shift = 0;
        if (ref_shift == shift)
            return 0;
    } else if (shift == 0) {
        return 0;
    }
    if (shift < 0 || shift > 255)
        rv_raise_core_error("Illegal ROI up-shift, " + std::to_string(shift) +
                            ". Legal range is from 0 to 255!");
    bool wide = rv_tree_components(this) > 256;
    int size = wide ? 8 : 7;
    if (out != nullptr) {
        out->put(RGN_CODE);
        out->put(static_cast<uint16_t>(size - 2));
        if (wide)
            out->put(static_cast<uint16_t>(comp_idx));
        else
            out->put(static_cast<uint8_t>(comp_idx));
        out->put(static_cast<uint8_t>(0));
        out->put(static_cast<uint8_t>(shift));
    }
    return size;
}

void rgn_params::finalize(bool after_reading)
{
    if (after_reading)
        return;
    int v = 0;
    if (!get("Rlevels", 0, 0, v))
        set("Rlevels", 0, 0, 4);
    if (get("Rshift", 0, 0, v, false) && v > 37)
        rv_issue_core_warning("Up-shift values in the RGN marker segment should not need to "
                              "exceed 37 under any circumstances.  The use of a larger value, " +
                              std::to_string(v) + " in this case, may cause problems.");
}

void rgn_params::copy_with_xforms(rvd_params* source, int, int, bool, bool, bool)
{
    int v = 0;
    if (source->get("Rshift", 0, 0, v, false))
        set("Rshift", 0, 0, v);
}
