#include "codec/core/mco_params.h"

#include "codec/core/mcc_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <string>
#include <vector>

namespace {
const char* const mco_name = "MCO";
const uint16_t MCO_CODE = 0xFF77;

std::vector<int> stages_of(rvd_params* obj, int num_stages, bool allow_inherit = true)
{
    std::vector<int> stages;
    int v = 0;
    for (int s = 0; s < num_stages && obj->get("Mstages", s, 0, v, allow_inherit, false); s++)
        stages.push_back(v);
    return stages;
}

int components_of(rvd_params* any_object)
{
    rvd_params* siz = any_object->access_cluster("SIZ");
    int comps = 0;
    if (siz == nullptr || !siz->get("Scomponents", 0, 0, comps))
        return 0;
    return comps;
}
} // namespace

mco_params::mco_params() : rvd_params(mco_name, true, false, false, false, false)
{
    define_attribute("Mnum_stages",
                     "Number of multi-component transform stages (the main header's value is "
                     "the default); 0 maps the codestream components straight to the output "
                     "components.",
                     "I");
    define_attribute("Mstages",
                     "Per stage, in order of inverse application, the index (0 to 255) of the "
                     "`Mstage_...' (MCC) instance describing it; the last stage produces the "
                     "final output components.",
                     "I", RVD_MULTI_RECORD);
}

bool mco_params::check_marker_segment(uint16_t code, int, const uint8_t*, int& c_idx)
{
    c_idx = -1;
    return code == MCO_CODE;
}

bool mco_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != MCO_CODE)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    try {
        int n = static_cast<int>(rv_read_big(bp, end, 1));
        set("Mnum_stages", 0, 0, n);
        for (int s = 0; s < n; s++)
            set("Mstages", s, 0, static_cast<int>(rv_read_big(bp, end, 1)));
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed MCO marker segment encountered. Marker segment is too small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed MCO marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void mco_params::finalize(bool after_reading)
{
    if (after_reading)
        return;
    int mcomps = 0;
    rvd_params* siz = access_cluster("SIZ");
    if (siz == nullptr || !siz->get("Mcomponents", 0, 0, mcomps))
        mcomps = 0;
    int n = 0;
    if (!get("Mnum_stages", 0, 0, n)) {
        if (mcomps > 0)
            set("Mnum_stages", 0, 0, 0);
        return;
    }
    if (mcomps <= 0)
        rv_raise_core_error("You may not provide a value for the `Mnum_stages' attribute without "
                            "also supplying a non-zero number of MCT output components via the "
                            "`Mcomponents' attribute.");
    int v = 0;
    if (n > 0 && !get("Mstages", n - 1, 0, v, true, false))
        rv_raise_core_error("The number of records supplied for the `Mstages' attribute must "
                            "match the value identified by `Mnum_stages'.");
}

int mco_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    int n = 0;
    if (inst_idx != 0 || comp_idx >= 0 || tpart_idx != 0 || !get("Mnum_stages", 0, 0, n))
        return 0;
    if (n > 255)
        rv_raise_core_error("Cannot write MCO marker segment; `Mnum_stages' value exceeds the "
                            "limit of 255.");
    if (n < 0)
        n = 0;
    std::vector<int> stages = stages_of(this, n);
    if (int(stages.size()) != n)
        rv_raise_core_error("The number of records supplied for the `Mstages' attribute must "
                            "match the value identified by `Mnum_stages'.");
    for (int s : stages)
        if (s < 0 || s > 255)
            rv_raise_core_error("Cannot write MCO marker segment; each `Mstages' record must "
                                "name an MCC instance index in the range 0 to 255.");
    int ref_n = 0;
    if (ref != nullptr && ref->get("Mnum_stages", 0, 0, ref_n) && ref_n == n &&
        stages_of(ref, n) == stages)
        return 0;
    int size = n + 5;
    if (out == nullptr)
        return size;
    out->put(MCO_CODE);
    out->put(static_cast<uint16_t>(n + 3));
    out->put(static_cast<uint8_t>(n));
    for (int s : stages)
        out->put(static_cast<uint8_t>(s));
    return size;
}

void mco_params::copy_with_xforms(rvd_params* source, int skip_components, int, bool, bool,
                                  bool)
{
    int n = 0;
    if (!source->get("Mnum_stages", 0, 0, n, false))
        return;
    std::vector<int> stages = stages_of(source, n, false);
    int src_comps = components_of(source);
    int dst_comps = components_of(this);
    if (skip_components > 0 || dst_comps != src_comps) {
        // A matrix stage without coefficients hands the D remaining codestream components
        // to the positions they held among the source's S, leaving the others empty.
        rvd_params* mcc = access_cluster("MCC");
        int t = 1;
        int v = 0;
        for (; mcc != nullptr && t <= 255; t++) {
            rvd_params* existing = mcc->access_relation(tile_idx, -1, t, true);
            if (existing == nullptr || !existing->get("Mstage_inputs", 0, 0, v))
                break;
        }
        if (mcc == nullptr || t > 255)
            rv_raise_core_error(
                "Unable to modify the existing multi-component transform to work with a reduced "
                "number of codestream image components during transcoding.  Cannot create a "
                "taylored null transform to interface the components, since all allowed MCC "
                "marker segment instance indices have been used up already.");
        int k = skip_components, d = dst_comps, s = src_comps;
        if (d < 1 || k < 0 || k + d > s)
            rv_raise_core_error(
                "Unable to modify the existing multi-component transform to work with a reduced "
                "number of codestream image components during transcoding.  The remaining "
                "components do not lie within the source codestream's components.");
        rvd_params* null_stage = mcc->access_relation(tile_idx, -1, t, false);
        null_stage->set("Mstage_inputs", 0, 0, 0);
        null_stage->set("Mstage_inputs", 0, 1, d - 1);
        int r = 0;
        null_stage->set("Mstage_outputs", r, 0, k);
        null_stage->set("Mstage_outputs", r++, 1, k + d - 1);
        if (k > 0) {
            null_stage->set("Mstage_outputs", r, 0, 0);
            null_stage->set("Mstage_outputs", r++, 1, k - 1);
        }
        if (k + d < s) {
            null_stage->set("Mstage_outputs", r, 0, k + d);
            null_stage->set("Mstage_outputs", r++, 1, s - 1);
        }
        null_stage->set("Mstage_collections", 0, 0, d);
        null_stage->set("Mstage_collections", 0, 1, s);
        const int rec[5] = {Mxform_MATRIX, 0, 0, 0, 0};
        for (int f = 0; f < 5; f++)
            null_stage->set("Mstage_xforms", 0, f, rec[f]);
        stages.insert(stages.begin(), t);
        n++;
    }
    set("Mnum_stages", 0, 0, n);
    for (size_t i = 0; i < stages.size(); i++)
        set("Mstages", int(i), 0, stages[i]);
}
