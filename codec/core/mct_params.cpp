#include "codec/core/mct_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {
const char* const mct_name = "MCT";
const uint16_t MCT_CODE = 0xFF74;

// Kind k of the Imct field: 0 triangular, 1 matrix, 2 vector.
const char* const size_names[3] = {"Mtriang_size", "Mmatrix_size", "Mvector_size"};
const char* const coeff_names[3] = {"Mtriang_coeffs", "Mmatrix_coeffs", "Mvector_coeffs"};

const char* const too_small =
    "Malformed MCT marker segment encountered.  Marker segment is too small.";
const char* const count_mismatch =
    "The number of `Mmatrix_coeffs', `Mvector_coeffs' or `Mtriang_coeffs' entries found while "
    "finalizing MCT transform coefficients does not match the corresponding `Mmatrix_size', "
    "`Mvector_size' or `Mtriang_size' value.";

// Zmct and Ymct are 16-bit fields, so one series holds at most this many elements.
const int64_t max_series_elements = int64_t(mct_params::max_elements_per_segment) * 65536;
} // namespace

mct_params::mct_params() : rvd_params(mct_name, true, false, true, false, true)
{
    define_attribute("Mmatrix_size", "Number of matrix elements held by this instance.", "I");
    define_attribute("Mmatrix_coeffs",
                     "Matrix coefficients in row-major order (one row per output); integers "
                     "for reversible transforms.",
                     "F", RVD_MULTI_RECORD);
    define_attribute("Mvector_size", "Number of offset-vector elements.", "I");
    define_attribute("Mvector_coeffs",
                     "Offsets added to the outputs after inverse transformation; the last "
                     "record repeats for further outputs.",
                     "F", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Mtriang_size",
                     "Number of sub-triangular (dependency transform) elements: M(M-1)/2 for "
                     "irreversible and M(M+1)/2-1 for reversible transforms of M components.",
                     "I");
    define_attribute("Mtriang_coeffs",
                     "Sub-triangular coefficients in row-major order, starting from the second "
                     "row; reversible transforms also hold every diagonal entry but the first.",
                     "F", RVD_MULTI_RECORD);
}

bool mct_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != MCT_CODE || num_bytes < 4)
        return false;
    c_idx = bytes[3];
    int kind = bytes[2] & 3;
    return c_idx != 0 && kind != 3;
}

bool mct_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != MCT_CODE || num_bytes < 4 || inst_idx == 0)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    try {
        int zmct = static_cast<int>(rv_read_big(bp, end, 2));
        int imct = static_cast<int>(rv_read_big(bp, end, 2));
        int kind = (imct >> 8) & 3;
        int elt_type = (imct >> 10) & 3;
        if ((imct & 0xFF) != inst_idx || kind == 3)
            return false;
        if (zmct == 0)
            highest_zmct[kind] = static_cast<int>(rv_read_big(bp, end, 2));
        if (zmct > highest_zmct[kind] || zmct < segments_read[kind])
            rv_raise_core_error(
                "Encountered repeat or out-of-range `Zmct' field while parsing an MCT marker "
                "segment.  The `Zmct' field is used to enumerate marker segments which belong to "
                "a common series, but the value encountered is inconsistent with the rest of the "
                "series.  This is a malformed codestream.");
        if (zmct > segments_read[kind])
            rv_raise_core_error(
                "Encountered out-of-order `Zmct' field while parsing MCT marker segments "
                "belonging to a series.  While this is not strictly illegal, it makes no sense "
                "for a content creator to write MCT marker segments out of order.  Ravade does "
                "not currently support reordering of these optional Part-2 marker segments.");
        segments_read[kind]++;
        static const int elt_bytes[4] = {2, 4, 4, 8};
        int bytes_per = elt_bytes[elt_type];
        int n = static_cast<int>((end - bp) / bytes_per);
        int previous = 0;
        if (!get(size_names[kind], 0, 0, previous, false, false))
            previous = 0;
        set(size_names[kind], 0, 0, previous + n);
        for (int i = 0; i < n; i++) {
            double val = 0.0;
            if (elt_type == 0)
                val = static_cast<int16_t>(rv_read_big(bp, end, 2));
            else if (elt_type == 1)
                val = static_cast<int32_t>(rv_read_big(bp, end, 4));
            else if (elt_type == 2)
                val = rv_read_float(bp, end);
            else
                val = static_cast<float>(rv_read_double(bp, end));
            set(coeff_names[kind], previous + i, 0, static_cast<double>(static_cast<float>(val)));
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error(too_small);
    }
    if (bp != end)
        rv_raise_core_error("Malformed MCT marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void mct_params::finalize(bool after_reading)
{
    if (after_reading) {
        for (int k = 0; k < 3; k++)
            if (highest_zmct[k] >= 0 && segments_read[k] <= highest_zmct[k])
                rv_raise_core_error(
                    "Failed to read all MCT marker segments in a series associated with a given "
                    "`Imct' index within a main or initial tile-part header.  Codestream is not "
                    "correctly constructed.");
        return;
    }
    for (int k = 0; k < 3; k++) {
        int size = 0;
        if (!get(size_names[k], 0, 0, size, false))
            continue;
        if (size <= 0)
            rv_raise_core_error("Illegal value (anything <= 0) found for `Mmatrix_size', "
                                "`Mvector_size' or `Mtriang_size' attribute while finalizing the "
                                "MCT transform coefficients.");
        if (inst_idx == 0)
            rv_raise_core_error(
                "It is illegal to supply `Mvector_size', `Mtriang_size' or `Mvector_size' "
                "attributes with zero-valued instance indices (equivalently, with missing "
                "instance indices).  Use the \":I=...\" suffix when providing MCT transform "
                "coefficients.");
        float f = 0.0f;
        if (!get(coeff_names[k], size - 1, 0, f))
            rv_raise_core_error(count_mismatch);
    }
}

int mct_params::write_marker_segment(rvd_output* out, rvd_params*, int tpart_idx)
{
    if (inst_idx < 1 || inst_idx > 255 || tpart_idx != 0 || comp_idx >= 0)
        return 0;
    int total = 0;
    for (int k = 0; k < 3; k++) {
        int n = 0;
        if (!get(size_names[k], 0, 0, n) || n <= 0)
            continue;
        if (n > max_series_elements)
            rv_raise_core_error("Unable to write MCT marker segments: the `" +
                                std::string(size_names[k]) +
                                "' value exceeds the number of elements one series of MCT "
                                "marker segments can hold.");
        int segments = (n - 1) / max_elements_per_segment + 1;
        total += 4 * n + 8 * segments + 2;
        if (out == nullptr)
            continue;
        std::vector<float> coeffs(static_cast<size_t>(n));
        bool integers = true;
        for (int i = 0; i < n; i++) {
            float& f = coeffs[size_t(i)];
            if (!get(coeff_names[k], i, 0, f))
                rv_raise_core_error(count_mismatch);
            double nearest = std::floor(double(f) + 0.5);
            // Values beyond the 32-bit range could not be written as integers.
            if (!(std::fabs(double(f) - nearest) <= 0.0001) || nearest < -2147483648.0 ||
                nearest > 2147483647.0)
                integers = false;
        }
        int elt_type = integers ? 1 : 2;
        for (int s = 0; s < segments; s++) {
            int first = s * max_elements_per_segment;
            int count = std::min(max_elements_per_segment, n - first);
            out->put(MCT_CODE);
            out->put(static_cast<uint16_t>(4 * count + 6 + (s == 0 ? 2 : 0)));
            out->put(static_cast<uint16_t>(s));
            out->put(static_cast<uint16_t>(inst_idx | (k << 8) | (elt_type << 10)));
            if (s == 0)
                out->put(static_cast<uint16_t>(segments - 1));
            for (int i = first; i < first + count; i++) {
                float f = coeffs[size_t(i)];
                uint32_t bits;
                if (integers) {
                    bits = static_cast<uint32_t>(
                        static_cast<int32_t>(std::floor(double(f) + 0.5)));
                } else {
                    std::memcpy(&bits, &f, sizeof(bits));
                }
                out->put(bits);
            }
        }
    }
    return total;
}

void mct_params::copy_with_xforms(rvd_params* source, int, int, bool, bool, bool)
{
    for (int k = 0; k < 3; k++) {
        int size = 0;
        if (!source->get(size_names[k], 0, 0, size, false) || size <= 0)
            continue;
        set(size_names[k], 0, 0, size);
        float f = 0.0f;
        for (int i = 0; i < size && source->get(coeff_names[k], i, 0, f, false, false); i++)
            set(coeff_names[k], i, 0, double(f));
    }
}
