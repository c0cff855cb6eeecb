#include "codec/core/qcd_params.h"

#include "codec/core/rvd_kernels.h"
#include "codec/core/cod_params.h"
#include "codec/core/rgn_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rv_kernel_description.h"
#include "codec/core/rvd_output.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace {
const char* const qcd_name = "QCD";
const uint16_t QCD_CODE = 0xFF5C;
const uint16_t QCC_CODE = 0xFF5D;

rvd_params* cod_for(rvd_params* qcd)
{
    rvd_params* cod = qcd->access_cluster("COD");
    if (cod == nullptr)
        return nullptr;
    return cod->access_relation(qcd->get_tile_idx(), qcd->get_comp_idx(), 0, true);
}

// Whether a QCD/QCC object is written in the reversible (ranges) style: by what the
// object holds when it holds only one kind of value, else by its coding style. Default
// segments of the main header can disagree with the main coding style when every
// component overrides one or the other, and must still be rewritten as they were read.
bool effective_reversible(rvd_params* qcd, bool cod_reversible)
{
    int v = 0;
    float f = 0.0f;
    bool ranges = qcd->get("Qabs_ranges", 0, 0, v, false);
    bool steps = qcd->get("Qabs_steps", 0, 0, f, false);
    if (ranges && !steps)
        return true;
    if (steps && !ranges)
        return false;
    return cod_reversible;
}

// Number of values a tile-component needs: 1 when derived, else one per subband.
int subband_count(rvd_params* cod, int levels)
{
    std::vector<rv_band_stages> bands;
    if (!rv_band_stage_list(cod, levels, bands))
        return -1;
    return static_cast<int>(bands.size());
}
} // namespace

bool rv_band_stage_list(rvd_params* cod, int levels, std::vector<rv_band_stages>& bands)
{
    bands.clear();
    if (cod == nullptr || levels < 0 || levels > 32)
        return false;
    std::vector<int> decomp(static_cast<size_t>(levels), 3);
    for (int d = 0; d < levels; d++)
        if (!cod->get("Cdecomp", d, 0, decomp[size_t(d)]))
            decomp[size_t(d)] = 3;
    // Low-pass stages of the finer levels (record d is level d + 1, the finest first).
    std::vector<int> h_before(size_t(levels) + 1, 0), v_before(size_t(levels) + 1, 0);
    for (int d = 0; d < levels; d++) {
        h_before[size_t(d) + 1] = h_before[size_t(d)] + (decomp[size_t(d)] & 1);
        v_before[size_t(d) + 1] = v_before[size_t(d)] + ((decomp[size_t(d)] >> 1) & 1);
    }
    rv_band_stages ll;
    ll.h_low = h_before[size_t(levels)];
    ll.v_low = v_before[size_t(levels)];
    bands.push_back(ll);
    for (int d = levels - 1; d >= 0; d--) {
        int16_t desc[64];
        int n = cod_params::expand_decomp_bands(decomp[size_t(d)], desc);
        for (int b = 1; b < n; b++) {
            rv_band_stages s;
            s.h_low = h_before[size_t(d)];
            s.v_low = v_before[size_t(d)];
            int hc = desc[b] & 3, hidx = (desc[b] >> 2) & 0x3F;
            int vc = (desc[b] >> 8) & 3, vidx = (desc[b] >> 10) & 0x3F;
            for (int i = 0; i < hc; i++)
                s.h_extra.push_back(((hidx >> i) & 1) != 0);
            for (int i = 0; i < vc; i++)
                s.v_extra.push_back(((vidx >> i) & 1) != 0);
            bands.push_back(s);
        }
    }
    return true;
}

int qcd_params::encode_step(float step)
{
    if (!(step > 0.0f))
        rv_raise_core_error("Absolute quantization step sizes must be strictly positive.");
    double s = step;
    int exponent = 0;
    while (s < 1.0 && exponent < 64) {
        s *= 2.0;
        exponent++;
    }
    double m = std::floor((s - 1.0) * 2048.0 + 0.5);
    int mantissa = (m > 4096.0) ? 4096 : static_cast<int>(m);
    if (mantissa >= 2048) {
        mantissa = 0;
        exponent--;
    }
    if (exponent > 31) {
        exponent = 31;
        mantissa = 0;
    } else if (exponent < 0) {
        exponent = 0;
        mantissa = 2047;
    }
    return (exponent << 11) | mantissa;
}

float qcd_params::decode_step(int word)
{
    int exponent = (word >> 11) & 0x1F, mantissa = word & 0x7FF;
    return static_cast<float>((1.0 + mantissa / 2048.0) / std::ldexp(1.0, exponent));
}

qcd_params::qcd_params() : rvd_params(qcd_name, true, true, false, false, false)
{
    add_dependency("COD");
    add_dependency("ADS");
    define_attribute("Qguard", "Number of guard bits (0 to 7).", "I");
    define_attribute("Qderived",
                     "Irreversible step sizes derived from the LL band's; not allowed with "
                     "reversible compression.",
                     "B");
    define_attribute("Qstep", "Base step size from which all irreversible steps are derived.", "F");
    define_attribute("Qabs_steps", "Absolute step size per subband, as a fraction of the band's "
                                   "nominal range.",
                     "F", RVD_MULTI_RECORD);
    define_attribute("Qabs_ranges", "Reversible range bits per subband.", "I", RVD_MULTI_RECORD);
}

bool qcd_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code == QCD_CODE) {
        c_idx = -1;
        return true;
    }
    if (code != QCC_CODE || num_bytes < 2)
        return false;
    c_idx = rv_segment_component(this, bytes);
    return true;
}

void qcd_params::profile_warning() { rv_warn_tile_segment_in_profile0(this, "QCD/QCC"); }

bool qcd_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0)
        return false;
    if ((comp_idx < 0 && code != QCD_CODE) || (comp_idx >= 0 && code != QCC_CODE))
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    try {
        if (code == QCC_CODE) {
            int width = (rv_tree_components(this) > 256) ? 2 : 1;
            if (static_cast<int>(rv_read_big(bp, end, width)) != comp_idx)
                return false;
        }
        profile_warning();
        int sqcd = static_cast<int>(rv_read_big(bp, end, 1));
        set("Qguard", 0, 0, sqcd >> 5);
        int style = sqcd & 0x1F;
        if (style == 0) {
            if (bp == end)
                throw rv_short_body{bp};
            for (int r = 0; bp < end; r++)
                set("Qabs_ranges", r, 0, static_cast<int>(rv_read_big(bp, end, 1)) >> 3);
        } else if (style == 1 || style == 2) {
            set("Qderived", 0, 0, style == 1);
            if (bp == end)
                throw rv_short_body{bp};
            for (int r = 0; bp < end; r++)
                set("Qabs_steps", r, 0,
                    static_cast<double>(decode_step(static_cast<int>(rv_read_big(bp, end, 2)))));
        } else {
            rv_raise_core_error("Undefined style byte found in QCD/QCC marker segment!");
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed QCD/QCC marker segment encountered. Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed QCD/QCC marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

int qcd_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    // An object without values of its own (a companion made for a coding-style object)
    // means what the segments in force already say; writing it would only repeat them.
    if (tpart_idx != 0 || empty)
        return 0;
    rvd_params* cod = cod_for(this);
    int levels = 0;
    bool rev = false;
    if (cod == nullptr || !cod->get("Clevels", 0, 0, levels) ||
        !cod->get("Creversible", 0, 0, rev))
        rv_raise_core_error("Cannot write QCD/QCC marker segment without first completing relevant "
                            "COD/COC information!");
    rev = effective_reversible(this, rev);
    int guard = 0;
    if (!get("Qguard", 0, 0, guard))
        rv_raise_core_error("Cannot write QCD/QCC marker segment yet! No info on guard bits.");
    bool derived = false;
    if (!rev && !get("Qderived", 0, 0, derived))
        rv_raise_core_error("Cannot write QCD/QCC marker segment yet!  Not clear whether quant "
                            "steps are derived from the LL band step size.");
    int count = derived ? 1 : subband_count(cod, levels);
    if (count < 1)
        rv_raise_core_error("Cannot write QCD/QCC marker segment without first completing relevant "
                            "COD/COC information!");
    if (ref != nullptr) {
        rvd_params* rcod = cod_for(ref);
        int rlevels = 0, rguard = 0;
        bool rrev = false, rderived = false;
        if (rcod == nullptr || !rcod->get("Clevels", 0, 0, rlevels) ||
            !rcod->get("Creversible", 0, 0, rrev))
            rv_raise_core_error("Cannot write QCD/QCC marker segment without first completing all "
                                "relevant COD/COC information!");
        rrev = effective_reversible(ref, rrev);
        bool same = rrev == rev && rlevels == levels && ref->get("Qguard", 0, 0, rguard) &&
                    rguard == guard;
        if (same && !rev)
            same = ref->get("Qderived", 0, 0, rderived) && rderived == derived;
        for (int n = 0; n < count && same; n++) {
            if (rev) {
                int a = 0, b = 0;
                if (!get("Qabs_ranges", n, 0, a))
                    rv_raise_core_error("Cannot write QCD/QCC marker segment yet!  Absolute "
                                        "reversible ranging information not available.");
                same = ref->get("Qabs_ranges", n, 0, b) && a == b;
            } else {
                float a = 0, b = 0;
                if (!get("Qabs_steps", n, 0, a))
                    rv_raise_core_error("Cannot write QCD/QCC marker segment yet!  Absolute step "
                                        "size information not available.");
                same = ref->get("Qabs_steps", n, 0, b) && a == b;
            }
        }
        if (same)
            return 0;
    }
    if (guard < 0 || guard > 7)
        rv_raise_core_error("Illegal number of guard bits, " + std::to_string(guard) +
                            ". Legal range is from 0 to 7.");
    bool wide = rv_tree_components(this) > 256;
    int size = ((comp_idx < 0) ? 5 : (wide ? 7 : 6)) + count * (rev ? 1 : 2);
    if (out == nullptr)
        return size;
    profile_warning();
    std::vector<uint8_t> values;
    for (int n = 0; n < count; n++) {
        if (rev) {
            int r = 0;
            if (!get("Qabs_ranges", n, 0, r))
                rv_raise_core_error("Insufficient absolute ranging parameters available for "
                                    "writing QCD/QCC marker segment");
            if (r < 0 || r > 31)
                rv_raise_core_error("Absolute ranging parameters for reversibly compressed "
                                    "subbands must be non-negative, no larger than 31!");
            values.push_back(static_cast<uint8_t>(r << 3));
        } else {
            float step = 0;
            if (!get("Qabs_steps", n, 0, step))
                rv_raise_core_error("Insufficient absolute quantization step size parameters "
                                    "available for writing QCD/QCC marker segment.");
            int word = encode_step(step);
            values.push_back(static_cast<uint8_t>(word >> 8));
            values.push_back(static_cast<uint8_t>(word));
        }
    }
    out->put(static_cast<uint16_t>((comp_idx < 0) ? QCD_CODE : QCC_CODE));
    out->put(static_cast<uint16_t>(size - 2));
    if (comp_idx >= 0) {
        if (wide)
            out->put(static_cast<uint16_t>(comp_idx));
        else
            out->put(static_cast<uint8_t>(comp_idx));
    }
    out->put(static_cast<uint8_t>(guard * 32 + (rev ? 0 : (derived ? 1 : 2))));
    out->write(values.data(), static_cast<int>(values.size()));
    return size;
}

void qcd_params::finalize(bool after_reading)
{
    if (after_reading) {
        // Values visible here must cover every subband of each tile-component that uses
        // them; a header cut before its quantisation segment (a partly cached stream) is
        // no error. A tile or main object is held against the coding style of each
        // component it serves, not against its own, which no component may use.
        int v = 0;
        float f = 0.0f;
        bool any_ranges = get("Qabs_ranges", 0, 0, v);
        bool any_steps = get("Qabs_steps", 0, 0, f);
        if (!(any_ranges || any_steps))
            return;
        std::vector<rvd_params*> styles;
        rvd_params* cod_head = access_cluster("COD");
        if (cod_head == nullptr)
            return;
        if (comp_idx >= 0 || num_comps == 0) {
            styles.push_back(cod_for(this));
        } else {
            // Components with a coding-style object of their own are checked one by one;
            // all the others share one style, checked once. The cost follows the objects,
            // not the number of components.
            std::vector<int> special = cod_head->owned_components(tile_idx);
            std::vector<int> main_special = cod_head->owned_components(-1);
            special.insert(special.end(), main_special.begin(), main_special.end());
            std::sort(special.begin(), special.end());
            special.erase(std::unique(special.begin(), special.end()), special.end());
            for (int c : special)
                if (access_relation(tile_idx, c, 0, true) == this)
                    styles.push_back(cod_head->access_relation(tile_idx, c, 0, true));
            for (int c = 0, k = 0; c < num_comps; c++) {
                while (k < int(special.size()) && special[size_t(k)] < c)
                    k++;
                if (k < int(special.size()) && special[size_t(k)] == c)
                    continue;
                if (access_relation(tile_idx, c, 0, true) != this)
                    continue; // a component object of this tile takes its own values
                styles.push_back(cod_head->access_relation(tile_idx, c, 0, true));
                break;
            }
        }
        for (rvd_params* style : styles) {
            int levels = 0;
            bool derived = false, rev = false;
            if (style == nullptr || !style->get("Clevels", 0, 0, levels))
                continue;
            style->get("Creversible", 0, 0, rev);
            if (any_ranges != any_steps)
                rev = any_ranges; // what the segments carry decides, as for writing
            get("Qderived", 0, 0, derived);
            int needed = (derived && !rev) ? 1 : subband_count(style, levels);
            int have = 0;
            if (rev)
                while (get("Qabs_ranges", have, 0, v))
                    have++;
            else
                while (get("Qabs_steps", have, 0, f))
                    have++;
            if (have < needed)
                rv_raise_core_error("Insufficient quantization parameters found in QCD/QCC marker "
                                    "segments for the number of subbands in some tile-component.");
        }
        return;
    }

    rvd_params* cod = cod_for(this);
    int guard = 1;
    if (!get("Qguard", 0, 0, guard)) {
        guard = 1;
        set("Qguard", 0, 0, 1);
    }
    int levels = 0, kernel_id = 0, atk = 0;
    bool rev = false;
    if (cod == nullptr || !cod->get("Clevels", 0, 0, levels) || !cod->get("Creversible", 0, 0, rev))
        return;
    cod->get("Ckernels", 0, 0, kernel_id);
    cod->get("Catk", 0, 0, atk);
    bool krev = false, sym = false, sym_ext = false;
    int nsteps = 0;
    rvd_kernel_step_info* steps = nullptr;
    float* coeffs = nullptr;
    rv_create_kernel_description((atk != 0) ? -1 : kernel_id, atk, access_cluster(nullptr),
                                 tile_idx, krev, sym, sym_ext, nsteps, steps, coeffs);
    std::unique_ptr<rvd_kernel_step_info[]> own_steps(steps);
    std::unique_ptr<float[]> own_coeffs(coeffs);
    rvd_kernels kernels;
    if (atk == 0)
        kernels.init(kernel_id, rev);
    else
        kernels.init(nsteps, steps, coeffs, sym, sym_ext, rev);
    std::vector<rv_band_stages> bands;
    rv_band_stage_list(cod, levels, bands);
    int num_bands = static_cast<int>(bands.size());
    auto extra_ptr = [](const std::vector<bool>& v, std::unique_ptr<bool[]>& store) {
        store.reset(new bool[v.size() + 1]);
        for (size_t i = 0; i < v.size(); i++)
            store[i] = v[i];
        return static_cast<const bool*>(store.get());
    };
    int v = 0;
    float f = 0.0f;
    int num_ranges = 0, num_steps = 0;
    while (get("Qabs_ranges", num_ranges, 0, v))
        num_ranges++;
    while (get("Qabs_steps", num_steps, 0, f))
        num_steps++;

    if (rev) {
        set("Qderived", 0, 0, false);
        if (num_ranges == num_bands)
            return;
        rvd_params* siz = access_cluster("SIZ");
        int c0 = (comp_idx < 0) ? 0 : comp_idx;
        int precision = 0;
        if (siz == nullptr || !siz->get("Sprecision", c0, 0, precision))
            rv_raise_core_error("Trying to finalize quantization parameter attributes without first "
                                "providing any information about the image component bit-depths "
                                "(i.e. \"Sprecision\").");
        int comps = rv_tree_components(this);
        if (comp_idx < 0)
            for (int c = 1; c < comps; c++) {
                int p = 0;
                if (siz->get("Sprecision", c, 0, p) && p != precision)
                    access_relation(tile_idx, c, 0, false);
            }
        int b = precision + ((comps >= 3) ? 1 : 0);
        if (b < 5)
            b++;
        std::unique_ptr<bool[]> hs, vs;
        for (int n = 0; n < num_bands; n++) {
            const rv_band_stages& s = bands[size_t(n)];
            double gain = kernels.get_bibo_gain(s.h_low, int(s.h_extra.size()), extra_ptr(s.h_extra, hs)) *
                          kernels.get_bibo_gain(s.v_low, int(s.v_extra.size()), extra_ptr(s.v_extra, vs));
            int range = b - guard;
            while (gain > 0.9) {
                gain *= 0.5;
                range++;
            }
            set("Qabs_ranges", n, 0, range);
        }
        set_derived("Qabs_ranges");
        return;
    }

    bool derived = false;
    float qstep = 0.0f;
    bool have_qstep = get("Qstep", 0, 0, qstep);
    if (!have_qstep) {
        if (num_steps < num_bands) {
            if (num_steps == 1) {
                set("Qderived", 0, 0, true);
            } else {
                if (!get("Qderived", 0, 0, derived))
                    set("Qderived", 0, 0, false);
                qstep = 1.0f / 256.0f;
                set("Qstep", 0, 0, double(qstep));
                have_qstep = true;
            }
        } else {
            set("Qderived", 0, 0, false);
        }
    } else if (get("Qabs_steps", 0, 0, f, false)) {
        rv_issue_core_warning("Some absolute step sizes which you have supplied will be ignored, "
                              "since `Qstep' has been used or a default value for `Qstep' has been "
                              "forced.  If you want to specify explicit absolute step sizes, you "
                              "must not use `Qstep' anywhere in the inheritance path of the "
                              "relevant tile-component.");
    }
    if (have_qstep) {
        if (!get("Qderived", 0, 0, derived)) {
            derived = false;
            set("Qderived", 0, 0, false);
        }
        std::unique_ptr<bool[]> hs, vs;
        int produce = derived ? 1 : num_bands;
        delete_unparsed_attribute("Qabs_steps");
        for (int n = 0; n < produce; n++) {
            const rv_band_stages& s = bands[size_t(n)];
            double gain = kernels.get_energy_gain(s.h_low, int(s.h_extra.size()), extra_ptr(s.h_extra, hs)) *
                          kernels.get_energy_gain(s.v_low, int(s.v_extra.size()), extra_ptr(s.v_extra, vs));
            set("Qabs_steps", n, 0, double(qstep) / std::sqrt(gain));
        }
        set_derived("Qabs_steps");
    }
    // Every step replaced by the value its exponent/mantissa form represents.
    get("Qderived", 0, 0, derived);
    int count = derived ? 1 : num_bands;
    bool own = get("Qabs_steps", 0, 0, f, false);
    for (int n = 0; n < count; n++) {
        if (!get("Qabs_steps", n, 0, f))
            break;
        set("Qabs_steps", n, 0, double(decode_step(encode_step(f))));
    }
    if (!own)
        set_derived("Qabs_steps");
}

void qcd_params::copy_with_xforms(rvd_params* source, int, int discard_levels, bool transpose,
                                  bool, bool)
{
    int v = 0;
    bool b = false;
    if (source->get("Qguard", 0, 0, v, false))
        set("Qguard", 0, 0, v);
    if (source->get("Qderived", 0, 0, b, false))
        set("Qderived", 0, 0, b);
    rvd_params* scod = cod_for(source);
    int levels = 0;
    bool rev = false;
    if (scod == nullptr || !scod->get("Clevels", 0, 0, levels) || !scod->get("Creversible", 0, 0, rev) ||
        discard_levels > levels)
        return;
    // Source bands by level (from the lowest resolution) with their descriptors.
    std::vector<int> decomp(size_t(levels), 3);
    for (int d = 0; d < levels; d++)
        if (!scod->get("Cdecomp", d, 0, decomp[size_t(d)]))
            decomp[size_t(d)] = 3;
    const char* name = rev ? "Qabs_ranges" : "Qabs_steps";
    auto value_at = [&](int idx, double& out) {
        if (rev) {
            int iv = 0;
            if (!source->get(name, idx, 0, iv))
                return false;
            out = iv;
            return true;
        }
        float fv = 0.0f;
        if (!source->get(name, idx, 0, fv))
            return false;
        out = fv;
        return true;
    };
    std::vector<double> values;
    double x = 0.0;
    if (!value_at(0, x))
        return;
    values.push_back(x);
    bool derived = false;
    source->get("Qderived", 0, 0, derived);
    int src_idx = 1;
    for (int d = levels - 1; d >= 0 && !(derived && !rev); d--) {
        int16_t desc[64], tdesc[64];
        int n = cod_params::expand_decomp_bands(decomp[size_t(d)], desc);
        bool kept = d >= discard_levels;
        if (kept && transpose) {
            cod_params::expand_decomp_bands(cod_params::transpose_decomp(decomp[size_t(d)]), tdesc);
            for (int bnd = 1; bnd < n; bnd++) {
                int16_t want = tdesc[bnd];
                int16_t swapped = static_cast<int16_t>(((want & 0xFF) << 8) | ((want >> 8) & 0xFF));
                for (int k = 1; k < n; k++)
                    if (desc[k] == swapped && value_at(src_idx + k - 1, x))
                        values.push_back(x);
            }
        } else if (kept) {
            for (int bnd = 1; bnd < n; bnd++)
                if (value_at(src_idx + bnd - 1, x))
                    values.push_back(x);
        }
        src_idx += n - 1;
    }
    for (size_t i = 0; i < values.size(); i++) {
        if (rev)
            set(name, int(i), 0, static_cast<int>(values[i]));
        else
            set(name, int(i), 0, values[i]);
    }
}
