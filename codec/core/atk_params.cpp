#include "codec/core/atk_params.h"

#include "codec/core/rvd_kernels.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {
const char* const atk_name = "ATK";
const uint16_t ATK_CODE = 0xFF79;

const char* const too_many_coefficients =
    "Malformed ATK marker segment encountered.  The lifting steps hold too many coefficients to "
    "be processed.";

struct step_record {
    int ls = 0, ns = 0, ds = 0, rs = 0;
    std::vector<float> block; // in step position order
};

int32_t read_signed(const uint8_t*& bp, const uint8_t* end, int nbytes)
{
    uint32_t raw = rv_read_big(bp, end, nbytes);
    if (nbytes == 1)
        return static_cast<int8_t>(raw);
    return static_cast<int16_t>(raw);
}

double read_coefficient(const uint8_t*& bp, const uint8_t* end, int nbytes)
{
    if (nbytes <= 2)
        return read_signed(bp, end, nbytes);
    if (nbytes == 4)
        return rv_read_float(bp, end);
    return rv_read_double(bp, end);
}
} // namespace

atk_params::atk_params() : rvd_params(atk_name, true, false, true, false, true)
{
    define_attribute("Kreversible", "How `Ksteps' and `Kcoeffs' are treated.", "B");
    define_attribute("Ksymmetric", "The kernel belongs to the whole-sample symmetric class.", "B");
    define_attribute("Kextension", "Boundary extension in each lifting step.", "(CON=0,SYM=1)");
    define_attribute("Ksteps",
                     "One record per lifting step: {length, index of the first coefficient, "
                     "downshift, offset added before the downshift}.",
                     "IIII", RVD_MULTI_RECORD);
    define_attribute("Kcoeffs", "The lifting coefficients, step 0's first.", "F",
                     RVD_MULTI_RECORD);
}

bool atk_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != ATK_CODE || num_bytes < 2)
        return false;
    c_idx = bytes[1];
    return c_idx >= 2;
}

bool atk_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != ATK_CODE || num_bytes < 2 || bytes[1] != inst_idx)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    try {
        int satk = static_cast<int>(rv_read_big(bp, end, 2));
        int nbytes = 1 << ((satk >> 8) & 7);
        bool sym = (satk & 0x0800) != 0, rev = (satk & 0x1000) != 0;
        int parity = (satk >> 13) & 1;
        bool ext_sym = (satk & 0x4000) != 0;
        if (nbytes > 8)
            rv_raise_core_error("Cannot process ATK marker segment which uses more than 8 bytes to "
                                "represent each lifting step coefficient.");
        if (sym && !ext_sym)
            rv_raise_core_error("Malformed ATK marker segment encountered.  Transform kernels "
                                "identified as whole-sample symmetric must also use the symmetric "
                                "boundary extension method.");
        if (rev && nbytes >= 4)
            rv_raise_core_error("Cannot process ATK marker segment describing a reversible "
                                "transform kernel with floating-point coefficient values.");
        if (!rev)
            read_coefficient(bp, end, nbytes); // the K factor is not needed for decoding
        int natk = static_cast<int>(rv_read_big(bp, end, 1));
        bool shifted = (parity != (natk & 1));
        int num_records = shifted ? natk + 1 : natk;
        std::vector<step_record> records(static_cast<size_t>(num_records));
        int total = 0;
        for (int n = 0; n < natk; n++) {
            int s = shifted ? natk - n : natk - 1 - n;
            step_record& rec = records[size_t(s)];
            if (!sym)
                rec.ns = read_signed(bp, end, 1);
            if (rev) {
                rec.ds = static_cast<int>(rv_read_big(bp, end, 1));
                rec.rs = read_signed(bp, end, nbytes);
            }
            int latk = static_cast<int>(rv_read_big(bp, end, 1));
            rec.ls = sym ? 2 * latk : latk;
            if (sym)
                rec.ns = -(((s & 1) + rec.ls - 1) >> 1);
            total += rec.ls;
            if (total > max_total_coefficients)
                rv_raise_core_error(too_many_coefficients);
            rec.block.assign(size_t(rec.ls), 0.0f);
            double scale = rev ? std::ldexp(1.0, -rec.ds) : 1.0;
            int middle = rec.ls / 2;
            for (int i = 0; i < latk; i++) {
                float c = static_cast<float>(read_coefficient(bp, end, nbytes) * scale);
                if (sym) {
                    rec.block[size_t(middle - 1 - i)] = c;
                    rec.block[size_t(middle + i)] = c;
                } else {
                    rec.block[size_t(i)] = c;
                }
            }
        }
        set("Kreversible", 0, 0, rev);
        set("Ksymmetric", 0, 0, sym);
        set("Kextension", 0, 0, ext_sym ? 1 : 0);
        int next = 0;
        for (int s = 0; s < num_records; s++) {
            const step_record& rec = records[size_t(s)];
            set("Ksteps", s, 0, rec.ls);
            set("Ksteps", s, 1, rec.ns);
            set("Ksteps", s, 2, rec.ds);
            set("Ksteps", s, 3, rec.rs);
            for (float c : rec.block)
                set("Kcoeffs", next++, 0, static_cast<double>(c));
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed ATK marker segment encountered.  Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed ATK marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void atk_params::finalize(bool)
{
    bool rev = false;
    int v = 0;
    float f = 0.0f;
    if (!get("Kreversible", 0, 0, rev)) {
        if (get("Ksteps", 0, 0, v) || get("Kcoeffs", 0, 0, f))
            rv_raise_core_error("You cannot provide custom transform kernel data via `Ksteps' or "
                                "`Kcoeffs' without also providing a value for the `Kreversible' "
                                "attribute.");
        return;
    }
    bool symmetric = true;
    double g2 = 1.0, g1 = 1.0; // g(s-2), g(s-1)
    int next = 0, num_steps = 0;
    for (int s = 0; get("Ksteps", s, 0, v, true, false); s++, num_steps++) {
        int rec[4];
        for (int k = 0; k < 4; k++)
            if (!get("Ksteps", s, k, rec[k], true, false))
                rv_raise_core_error("Incomplete `Ksteps' record (need 4 fields in each record) "
                                    "found while in `atk_params::finalize'.");
        int ls = rec[0], ns = rec[1], ds = rec[2], rs = rec[3];
        if (ds < 0 || ds > 24)
            rv_raise_core_error("Invalid downshifting value (3'rd field) found while checking "
                                "supplied `Ksteps' attributes.  Values must be in the range 0 to "
                                "24.");
        if (!rev && (ds != 0 || rs != 0))
            rv_raise_core_error("For irreversible transforms (`Kreversible' = false), the third and "
                                "fourth fields in each record of the `Ksteps' attribute must both "
                                "be 0.");
        if (ls < 0 || next + ls > max_total_coefficients)
            rv_raise_core_error(too_many_coefficients);
        if ((ls & 1) || ns != -(((s & 1) + ls - 1) >> 1))
            symmetric = false;
        double sigma = 0.0;
        std::vector<float> block(size_t(ls), 0.0f);
        for (int i = 0; i < ls; i++) {
            if (!get("Kcoeffs", next + i, 0, block[size_t(i)], true, false))
                rv_raise_core_error("Insufficient `Kcoeffs' records found while in "
                                    "`atk_params::finalize'.  The number of coefficients must be "
                                    "equal to the sum of the lifting step lengths recorded in the "
                                    "`Ksteps' attribute.");
            sigma += block[size_t(i)];
        }
        for (int i = 0; i < ls; i++)
            if (block[size_t(i)] != block[size_t(ls - 1 - i)])
                symmetric = false;
        next += ls;
        double g = sigma * g1 + g2;
        g2 = g1;
        g1 = g;
    }
    if (get("Kcoeffs", next, 0, f, true, false))
        rv_raise_core_error("Too many `Kcoeffs' records found while in `atk_params::finalize'.  The "
                            "number of coefficients must be equal to the sum of the lifting step "
                            "lengths recorded in the `Ksteps' attribute.");
    // g1 is g(S-1) and g2 is g(S-2) after the last step.
    double low_gain = (num_steps & 1) ? g2 : g1;
    if (rev && !(low_gain >= 0.999 && low_gain <= 1.001))
        rv_raise_core_error("Reversible lifting steps defined by `Ksteps' and `Kcoeffs' produce a "
                            "low-pass analysis filter whose DC gain is not equal to 1.");
    int ext = 0;
    if (!get("Kextension", 0, 0, ext)) {
        ext = symmetric ? 1 : 0;
        set("Kextension", 0, 0, ext);
    }
    if (ext != 1)
        symmetric = false;
    bool given = false;
    if (!get("Ksymmetric", 0, 0, given))
        set("Ksymmetric", 0, 0, symmetric);
    else if (given && !symmetric)
        rv_raise_core_error("Invalid `Ksymmetric' value found while in `atk_params::finalize'.  The "
                            "lifting step alignment and coefficients are not compatible with the "
                            "whole-sample symmetric class of wavelet kernels defined by Part-2 of "
                            "the JPEG2000 standard.");
}

int atk_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    if (tpart_idx != 0 || inst_idx < 2 || inst_idx > 255 || comp_idx >= 0)
        return 0;
    bool rev = false, sym = false;
    int ext = 0, v = 0;
    if (!get("Kreversible", 0, 0, rev) || !get("Ksymmetric", 0, 0, sym) ||
        !get("Kextension", 0, 0, ext) || !get("Ksteps", 0, 0, v))
        rv_raise_core_error("Unable to write ATK marker segment yet! Some info missing.");
    std::vector<std::vector<int>> steps;
    std::vector<float> coeffs;
    for (int s = 0; get("Ksteps", s, 0, v, true, false); s++) {
        std::vector<int> rec(4, 0);
        for (int k = 0; k < 4; k++)
            get("Ksteps", s, k, rec[size_t(k)], true, false);
        steps.push_back(rec);
    }
    float f = 0.0f;
    for (int i = 0; get("Kcoeffs", i, 0, f, true, false); i++)
        coeffs.push_back(f);
    if (ref != nullptr) {
        bool rrev = false, rsym = false;
        int rext = 0;
        bool same = ref->get("Kreversible", 0, 0, rrev) && rrev == rev &&
                    ref->get("Ksymmetric", 0, 0, rsym) && rsym == sym &&
                    ref->get("Kextension", 0, 0, rext) && rext == ext;
        int s = 0;
        for (; same && s < int(steps.size()); s++)
            for (int k = 0; k < 4 && same; k++)
                same = ref->get("Ksteps", s, k, v, true, false) && v == steps[size_t(s)][size_t(k)];
        same = same && !ref->get("Ksteps", s, 0, v, true, false);
        int i = 0;
        for (; same && i < int(coeffs.size()); i++)
            same = ref->get("Kcoeffs", i, 0, f, true, false) && f == coeffs[size_t(i)];
        same = same && !ref->get("Kcoeffs", i, 0, f, true, false);
        if (same)
            return 0;
    }
    int n = static_cast<int>(steps.size());
    if (n > 255)
        rv_raise_core_error("Cannot write ATK (arbitrary transform kernel) marker segment with" +
                            std::to_string(n) +
                            "lifting steps.  Maximum number of lifting steps is 255.");
    int size = rev ? 7 : 11;
    std::vector<int> offsets;
    int total = 0;
    for (auto& rec : steps) {
        int ls = rec[0], ns = rec[1];
        if (!sym && (ns > 255 || ls > 255))
            rv_raise_core_error("Cannot write ATK (arbitrary transform kernel) marker segment with a "
                                "non-symmetric wavelet kernel whose Ns or Ls value (see `Ksteps') is "
                                "greater than 255.");
        if (sym && ls > 510)
            rv_raise_core_error("Cannot write ATK (arbitrary transform kernel) marker segment with a "
                                "symmetric wavelet kernel whose Ls value (see `Ksteps') is greater "
                                "than 510.");
        offsets.push_back(total);
        total += ls;
        int written = sym ? ls / 2 : ls;
        size += 1 + (sym ? 0 : 1) + written * (rev ? 2 : 4) + (rev ? 3 : 0);
    }
    if (total > int(coeffs.size()))
        rv_raise_core_error("Unable to write ATK marker segment yet! Some info missing.");
    if (out == nullptr)
        return size;
    int satk = inst_idx + (sym ? 2048 : 0) + (rev ? 4096 : 0) + ((n & 1) ? 8192 : 0) +
               (ext == 1 ? 16384 : 0) + (rev ? 256 : 512);
    out->put(ATK_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->put(static_cast<uint16_t>(satk));
    if (!rev) {
        // K: the low band's normalisation, the DC gain of the unscaled lifting network.
        rvd_kernels k;
        std::vector<rvd_kernel_step_info> info(steps.size());
        for (size_t s = 0; s < steps.size(); s++) {
            info[s].support_length = steps[s][0];
            info[s].support_min = steps[s][1];
        }
        k.init(n, info.data(), coeffs.data(), sym, ext == 1, false);
        float kval = (k.get_low_scale() != 0.0f) ? 1.0f / k.get_low_scale() : 1.0f;
        uint32_t bits;
        std::memcpy(&bits, &kval, sizeof(bits));
        out->put(bits);
    }
    out->put(static_cast<uint8_t>(n));
    for (int s = n - 1; s >= 0; s--) {
        const std::vector<int>& rec = steps[size_t(s)];
        int ls = rec[0], ns = rec[1], ds = rec[2], rs = rec[3];
        if (!sym)
            out->put(static_cast<uint8_t>(ns));
        if (rev) {
            out->put(static_cast<uint8_t>(ds));
            out->put(static_cast<uint16_t>(rs));
        }
        out->put(static_cast<uint8_t>(sym ? ls / 2 : ls));
        for (int i = sym ? ls / 2 : 0; i < ls; i++) {
            float c = coeffs[size_t(offsets[size_t(s)] + i)];
            if (rev) {
                out->put(static_cast<uint16_t>(
                    static_cast<int16_t>(std::floor(double(c) * std::ldexp(1.0, ds) + 0.5))));
            } else {
                uint32_t bits;
                std::memcpy(&bits, &c, sizeof(bits));
                out->put(bits);
            }
        }
    }
    return size;
}

void atk_params::copy_with_xforms(rvd_params* source, int, int, bool, bool vflip, bool hflip)
{
    bool rev = false, sym = false;
    if (!source->get("Kreversible", 0, 0, rev, false))
        return;
    if (!source->get("Ksymmetric", 0, 0, sym, false)) {
        source->finalize(false);
        if (!source->get("Ksymmetric", 0, 0, sym, false))
            return;
    }
    bool reverse = (vflip || hflip) && !sym;
    if (reverse && !(vflip && hflip))
        rv_raise_core_error("Cannot transpose ATK marker segment information to a new codestream "
                            "which has flippped geometry unless the transform filters are "
                            "whole-sample symmetric, or flipping is to be applied in both the "
                            "vertical and horizontal directions.  The reason for this is that the "
                            "same transform kernels must be used in both directions, only one of "
                            "which requires reversal of the lifting coefficients.");
    set("Kreversible", 0, 0, rev);
    set("Ksymmetric", 0, 0, sym);
    int ext = 0;
    if (source->get("Kextension", 0, 0, ext, false))
        set("Kextension", 0, 0, ext);
    int v = 0, next = 0;
    for (int s = 0; source->get("Ksteps", s, 0, v, false, false); s++) {
        int rec[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4; k++)
            source->get("Ksteps", s, k, rec[k], false, false);
        int ls = rec[0];
        if (reverse)
            rec[1] = 2 - 2 * (s & 1) - rec[1] - ls;
        for (int k = 0; k < 4; k++)
            set("Ksteps", s, k, rec[k]);
        for (int i = 0; i < ls; i++) {
            float c = 0.0f;
            source->get("Kcoeffs", next + (reverse ? ls - 1 - i : i), 0, c, false, false);
            set("Kcoeffs", next + i, 0, double(c));
        }
        next += (ls > 0) ? ls : 0;
    }
}
