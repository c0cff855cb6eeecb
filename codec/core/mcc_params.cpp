#include "codec/core/mcc_params.h"

#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_output.h"

#include <string>
#include <vector>

namespace {
const char* const mcc_name = "MCC";
const uint16_t MCC_CODE = 0xFF75;

const char* const too_small =
    "Malformed MCC marker segment encountered.  Marker segment is too small.";
const char* const bad_collection =
    "Malformed MCC marker segment encountered.  Invalid component collection dimensions, "
    "transform type or number of DWT levels.";
const char* const too_large =
    "Unable to write MCC (Multi-component transform Component Collection) marker segment, "
    "since the amount of information is too large to fit within a single marker segment.  The "
    "codestream syntax for this Part-2 marker segment allows the information to be split "
    "across multiple marker segments, but this feature is not yet implemented in Ravade -- it "
    "is a rare application indeed that should need this.";
const char* const blocks_must_cover =
    "Malformed `Mstage_blocks' attribute encountered in `mcc_params::finalize'.  The transform "
    "blocks must together consume all input components defined by `Mstage_inputs' (no more "
    "and no less) and produce all output components defined by `Mstage_outputs' (no more and "
    "no less).";

std::string bad_range_text(const char* name)
{
    return std::string("Illegal parameters supplied for `") + name +
           "' attribute.  Component index ranges must have lower bounds which do not exceed "
           "their corresponding upper bounds, both of which must be in the range 0 to 16383.";
}

// Reads one list of component indices, folding runs of consecutive indices into the
// attribute's range records; `rec` is the index of the open record, -1 for none.
void read_indices(rvd_params* obj, const char* name, int count, int index_bytes,
                  const uint8_t*& bp, const uint8_t* end, int& rec, int& last)
{
    for (int i = 0; i < count; i++) {
        int idx = static_cast<int>(rv_read_big(bp, end, index_bytes));
        if (idx > mcc_params::max_component_index)
            rv_raise_core_error(bad_collection);
        if (rec >= 0 && idx == last + 1) {
            obj->set(name, rec, 1, idx);
        } else {
            rec++;
            obj->set(name, rec, 0, idx);
            obj->set(name, rec, 1, idx);
        }
        last = idx;
    }
}

// Walks the component indices listed by a range attribute, in order.
class range_walker {
public:
    range_walker(rvd_params* obj, const char* name) : obj(obj), name(name) {}
    bool next(int& idx)
    {
        while (!in_range) {
            if (!obj->get(name, rec, 0, cur) || !obj->get(name, rec, 1, last))
                return false;
            rec++;
            in_range = cur <= last;
        }
        idx = cur;
        if (cur++ == last)
            in_range = false;
        return true;
    }

private:
    rvd_params* obj;
    const char* name;
    int rec = 0;
    int cur = 0;
    int last = -1;
    bool in_range = false;
};
} // namespace

mcc_params::mcc_params() : rvd_params(mcc_name, true, false, true, false, true)
{
    define_attribute("Mstage_inputs",
                     "Ranges {first, last} of component indices whose concatenation is the "
                     "stage's list of input components; indices may repeat.",
                     "II", RVD_MULTI_RECORD);
    define_attribute("Mstage_outputs",
                     "Ranges {first, last} of component indices whose concatenation is the "
                     "stage's list of output components; no index may repeat, and components "
                     "left out are produced as zero.",
                     "II", RVD_MULTI_RECORD);
    define_attribute("Mstage_collections",
                     "Per transform block: {number of inputs, number of outputs}, both "
                     "strictly positive; the blocks take the listed inputs and outputs in "
                     "order.",
                     "II", RVD_MULTI_RECORD);
    define_attribute("Mstage_xforms",
                     "Per transform block: {kind, coefficient or kernel index, offset-vector "
                     "index (0 for none), reversible flag or number of DWT levels, DWT origin}. "
                     "DEP and MATRIX name `Mtriang_coeffs' and `Mmatrix_coeffs' instances; DWT "
                     "names the kernel (0 for 9/7, 1 for 5/3, else an ATK instance). MAT is the "
                     "reversible matrix of codestreams written before reversible coefficients "
                     "were stored in the standard's order (recognised by a missing `Cmct'); it "
                     "is read but never written.",
                     "(DEP=0,MATRIX=9,DWT=3,MAT=1000)IIII", RVD_MULTI_RECORD);
}

bool mcc_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code != MCC_CODE || num_bytes < 3)
        return false;
    c_idx = bytes[2];
    return true;
}

bool mcc_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0 || code != MCC_CODE || num_bytes < 3 || bytes[2] != inst_idx)
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    try {
        int zmcc = static_cast<int>(rv_read_big(bp, end, 2));
        bp++; // Imcc, checked above
        int ymcc = (zmcc == 0) ? static_cast<int>(rv_read_big(bp, end, 2)) : 0;
        if (zmcc != 0 || ymcc != 0)
            rv_raise_core_error(
                "Encountered MCC (Multi-component transform Component Collection) information "
                "which has been split across multiple marker segments.  While this is not "
                "illegal, Ravade does not currently support such massive multi-component "
                "transform descriptions.  It is a rare application indeed that would need "
                "multiple marker segments.");
        int qmcc = static_cast<int>(rv_read_big(bp, end, 2));
        int in_rec = -1, in_last = -1, out_rec = -1, out_last = -1;
        for (int q = 0; q < qmcc; q++) {
            int xmcc = static_cast<int>(rv_read_big(bp, end, 1));
            int kind = -1;
            if (xmcc == 0)
                kind = Mxform_DEP;
            else if (xmcc == 1)
                kind = Mxform_MATRIX;
            else if (xmcc == 3)
                kind = Mxform_DWT;
            int nmcc = static_cast<int>(rv_read_big(bp, end, 2));
            int num_inputs = nmcc & 0x7FFF;
            if (kind < 0 || num_inputs < 1)
                rv_raise_core_error(bad_collection);
            read_indices(this, "Mstage_inputs", num_inputs, (nmcc & 0x8000) ? 2 : 1, bp, end,
                         in_rec, in_last);
            int mmcc = static_cast<int>(rv_read_big(bp, end, 2));
            int num_outputs = mmcc & 0x7FFF;
            if (num_outputs < 1 || (kind != Mxform_MATRIX && num_outputs != num_inputs))
                rv_raise_core_error(bad_collection);
            read_indices(this, "Mstage_outputs", num_outputs, (mmcc & 0x8000) ? 2 : 1, bp, end,
                         out_rec, out_last);
            set("Mstage_collections", q, 0, num_inputs);
            set("Mstage_collections", q, 1, num_outputs);
            int tmcc = static_cast<int>(rv_read_big(bp, end, 3));
            int fourth = 0, origin = 0;
            if (kind == Mxform_DWT) {
                fourth = (tmcc >> 16) & 0x3F;
                if (fourth > 32)
                    rv_raise_core_error(bad_collection);
                origin = static_cast<int>(rv_read_big(bp, end, 4));
            } else {
                fourth = (tmcc >> 16) & 1;
            }
            set("Mstage_xforms", q, 0, kind);
            set("Mstage_xforms", q, 1, tmcc & 0xFF);
            set("Mstage_xforms", q, 2, (tmcc >> 8) & 0xFF);
            set("Mstage_xforms", q, 3, fourth);
            set("Mstage_xforms", q, 4, origin);
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error(too_small);
    }
    if (bp != end)
        rv_raise_core_error("Malformed MCC marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

void mcc_params::finalize(bool after_reading)
{
    if (after_reading)
        return;
    int64_t totals[2] = {0, 0};
    const char* const range_names[2] = {"Mstage_inputs", "Mstage_outputs"};
    for (int d = 0; d < 2; d++) {
        int first = 0, last = 0;
        for (int r = 0; get(range_names[d], r, 0, first, false, false); r++) {
            if (!get(range_names[d], r, 1, last, false, false) || first < 0 || first > last ||
                last > max_component_index)
                rv_raise_core_error(bad_range_text(range_names[d]));
            totals[d] += last - first + 1;
        }
    }
    int64_t sums[2] = {0, 0};
    int num_blocks = 0;
    for (int ins = 0; get("Mstage_collections", num_blocks, 0, ins, false, false); num_blocks++) {
        int outs = 0;
        if (!get("Mstage_collections", num_blocks, 1, outs, false, false) || ins < 1 || outs < 1)
            rv_raise_core_error(
                "Malformed `Mstage_blocks' attribute encountered in `mcc_params::finalize'.  "
                "Each transform block must be assigned a strictly positive number of input and "
                "output components.");
        sums[0] += ins;
        sums[1] += outs;
    }
    if (sums[0] != totals[0] || sums[1] != totals[1])
        rv_raise_core_error(blocks_must_cover);
    int num_xforms = 0;
    for (int kind = 0; get("Mstage_xforms", num_xforms, 0, kind, false, false); num_xforms++) {
        int f[5] = {kind, 0, 0, 0, 0};
        bool complete = true;
        for (int k = 1; k < 5; k++)
            complete = get("Mstage_xforms", num_xforms, k, f[k], false, false) && complete;
        if (!complete || f[1] < 0 || f[1] > 255 || f[2] < 0 || f[2] > 255)
            rv_raise_core_error(
                "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  "
                "Each record must have 5 fields, the second and third of which must lie in the "
                "range 0 to 255.");
        if (kind == Mxform_DWT) {
            if (f[3] < 0 || f[3] > 32)
                rv_raise_core_error(
                    "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  "
                    "The fourth field in a DWT record must contain a number of DWT levels in "
                    "the range 0 to 32.");
        } else if ((f[3] != 0 && f[3] != 1) || f[4] != 0) {
            rv_raise_core_error(
                "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  The "
                "fourth field in a DEP or MATRIX record must hold one of the values 0 "
                "(irreversible) or 1 (reversible), with the fifth field equal to zero.");
        }
    }
    if (num_xforms != num_blocks)
        rv_raise_core_error(
            "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  The "
            "number of records in this attribute must be identical to the number of records in "
            "`Mstage_blocks'.");
}

int mcc_params::write_marker_segment(rvd_output* out, rvd_params*, int tpart_idx)
{
    int kind = 0;
    if (inst_idx > 255 || tpart_idx != 0 || comp_idx >= 0 || !get("Mstage_xforms", 0, 0, kind))
        return 0;
    // Index width and the number of listed components.
    bool wide = false;
    int64_t listed[2] = {0, 0};
    const char* const range_names[2] = {"Mstage_inputs", "Mstage_outputs"};
    for (int d = 0; d < 2; d++) {
        int first = 0, last = 0;
        for (int r = 0; get(range_names[d], r, 0, first); r++) {
            if (!get(range_names[d], r, 1, last) || first < 0 || first > last ||
                last > max_component_index)
                rv_raise_core_error(bad_range_text(range_names[d]));
            wide = wide || last > 255;
            listed[d] += last - first + 1;
        }
    }
    int index_bytes = wide ? 2 : 1;
    std::vector<int> ins, outs, xforms;
    int n_in = 0, n_out = 0;
    for (int q = 0; get("Mstage_collections", q, 0, n_in); q++) {
        if (!get("Mstage_collections", q, 1, n_out) || n_in < 1 || n_out < 1)
            rv_raise_core_error(
                "Malformed `Mstage_blocks' attribute encountered in `mcc_params::finalize'.  "
                "Each transform block must be assigned a strictly positive number of input and "
                "output components.");
        // The counts share their 16-bit fields with the index-width flag.
        if (n_in > 0x7FFF || n_out > 0x7FFF)
            rv_raise_core_error(too_large);
        ins.push_back(n_in);
        outs.push_back(n_out);
        listed[0] -= n_in;
        listed[1] -= n_out;
    }
    // The blocks must take exactly the listed components, or the length would be wrong.
    if (listed[0] != 0 || listed[1] != 0)
        rv_raise_core_error(blocks_must_cover);
    int64_t size = 11 + 8 * int64_t(ins.size());
    for (size_t q = 0; q < ins.size(); q++)
        size += int64_t(ins[q] + outs[q]) * index_bytes;
    for (size_t q = 0; q < ins.size(); q++) {
        int f[5] = {0, 0, 0, 0, 0};
        for (int k = 0; k < 5; k++)
            if (!get("Mstage_xforms", int(q), k, f[k]))
                rv_raise_core_error(
                    "Malformed `Mstage_xforms' attribute encountered in `mcc_params::finalize'.  "
                    "The number of records in this attribute must be identical to the number of "
                    "records in `Mstage_blocks'.");
        if (f[0] == Mxform_MAT)
            rv_raise_core_error(
                "You can no longer generate a codestream which uses the `MAT' (`Mxform_MAT' in "
                "source code) option for the `Mstage_xforms' parameter attribute.  Reversible "
                "matrix coefficients are now stored in the order the standard requires; users "
                "of irreversible matrix transforms need only name the kind `MATRIX' instead.");
        if (f[0] != Mxform_DEP && f[0] != Mxform_MATRIX && f[0] != Mxform_DWT)
            rv_raise_core_error("Unable to write MCC marker segment: unknown transform kind in "
                                "an `Mstage_xforms' record.");
        if (f[0] == Mxform_DWT)
            size += 4;
        xforms.insert(xforms.end(), f, f + 5);
    }
    if (size > 65537)
        rv_raise_core_error(too_large);
    if (out == nullptr)
        return static_cast<int>(size);
    out->put(MCC_CODE);
    out->put(static_cast<uint16_t>(size - 2));
    out->put(static_cast<uint16_t>(0));
    out->put(static_cast<uint8_t>(inst_idx));
    out->put(static_cast<uint16_t>(0));
    out->put(static_cast<uint16_t>(ins.size()));
    range_walker in_walk(this, "Mstage_inputs"), out_walk(this, "Mstage_outputs");
    for (size_t q = 0; q < ins.size(); q++) {
        const int* f = &xforms[5 * q];
        out->put(static_cast<uint8_t>(f[0] == Mxform_DEP ? 0 : (f[0] == Mxform_MATRIX ? 1 : 3)));
        for (int d = 0; d < 2; d++) {
            int count = (d == 0) ? ins[q] : outs[q];
            range_walker& walk = (d == 0) ? in_walk : out_walk;
            out->put(static_cast<uint16_t>((index_bytes - 1) * 0x8000 + count));
            for (int i = 0; i < count; i++) {
                int idx = 0;
                if (!walk.next(idx))
                    rv_raise_core_error(blocks_must_cover);
                if (wide)
                    out->put(static_cast<uint16_t>(idx));
                else
                    out->put(static_cast<uint8_t>(idx));
            }
        }
        uint32_t tmcc = uint32_t(f[3]) * 65536u + uint32_t(f[2] & 0xFF) * 256u +
                        uint32_t(f[1] & 0xFF);
        out->put(static_cast<uint8_t>(tmcc >> 16));
        out->put(static_cast<uint16_t>(tmcc));
        if (f[0] == Mxform_DWT)
            out->put(static_cast<uint32_t>(f[4]));
    }
    return static_cast<int>(size);
}

void mcc_params::copy_with_xforms(rvd_params* source, int, int, bool, bool, bool)
{
    static const char* const names[4] = {"Mstage_inputs", "Mstage_outputs", "Mstage_collections",
                                         "Mstage_xforms"};
    static const int fields[4] = {2, 2, 2, 5};
    for (int a = 0; a < 4; a++) {
        int v = 0;
        for (int r = 0; source->get(names[a], r, 0, v, false, false); r++)
            for (int f = 0; f < fields[a]; f++)
                if (source->get(names[a], r, f, v, false, false))
                    set(names[a], r, f, v);
    }
}
