#include "codec/core/cod_params.h"

#include "codec/core/mcc_params.h"
#include "codec/core/rgn_params.h"
#include "codec/core/rv_field_reader.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_output.h"

#include <algorithm>
#include <cstring>
#include <vector>
#include <string>

namespace {

// The kinds of multi-component transform block the tile's MCO and MCC objects describe
// (ARRAY 2 for dependency and matrix blocks, DWT 4), or -1 when there is no transform.
int described_mct_kinds(rvd_params* cod, int tile_idx)
{
    rvd_params* siz = cod->access_cluster("SIZ");
    int mcomps = 0;
    if (siz == nullptr || !siz->get("Mcomponents", 0, 0, mcomps) || mcomps <= 0)
        return -1;
    rvd_params* mco_cluster = cod->access_cluster("MCO");
    rvd_params* mco =
        mco_cluster == nullptr ? nullptr : mco_cluster->access_relation(tile_idx, -1, 0, true);
    int stages = 0;
    if (mco == nullptr || !mco->get("Mnum_stages", 0, 0, stages) || stages <= 0)
        return -1;
    rvd_params* mcc_cluster = cod->access_cluster("MCC");
    int kinds = 0;
    for (int s = 0; s < stages; s++) {
        int inst = 0;
        if (mcc_cluster == nullptr || !mco->get("Mstages", s, 0, inst, true, false))
            continue;
        rvd_params* mcc = mcc_cluster->access_relation(tile_idx, -1, inst, true);
        int type = 0;
        for (int b = 0; mcc != nullptr && mcc->get("Mstage_xforms", b, 0, type, true, false); b++) {
            if (type == Mxform_DEP || type == Mxform_MATRIX || type == Mxform_MAT)
                kinds |= 2;
            else if (type == Mxform_DWT)
                kinds |= 4;
        }
    }
    return kinds;
}
const char* const cod_name = "COD";
const uint16_t COD_CODE = 0xFF52;
const uint16_t COC_CODE = 0xFF53;
const char decomp_chars[4] = {'-', 'H', 'V', 'B'};

int code_at(int val, int k, int j)
{
    return (val >> (2 + 10 * k + 2 * j)) & 3;
}

int detail_count(int primary)
{
    static const int counts[4] = {0, 1, 1, 3};
    return counts[primary & 3];
}

// Codes beyond the first that a sub-string's first code allows.
int child_count(int first)
{
    return (first == 3) ? 4 : ((first == 0) ? 0 : 2);
}

int char_code(char ch)
{
    for (int c = 0; c < 4; c++)
        if (decomp_chars[c] == ch)
            return c;
    return -1;
}

struct band {
    int hcount, hidx, vcount, vidx;
};

int16_t descriptor(const band& b)
{
    return static_cast<int16_t>(b.hcount | (b.hidx << 2) | (b.vcount << 8) | (b.vidx << 10));
}

// The children of a band split by `code`, in the order vertical-low/horizontal-low,
// vertical-low/horizontal-high, vertical-high/horizontal-low, vertical-high/horizontal-high.
int split_band(const band& b, int code, band out[4])
{
    int n = 0;
    int hs = (code & 1) ? 2 : 1, vs = (code & 2) ? 2 : 1;
    for (int v = 0; v < vs; v++)
        for (int h = 0; h < hs; h++) {
            band c = b;
            if (code & 1) {
                c.hidx |= h << c.hcount;
                c.hcount++;
            }
            if (code & 2) {
                c.vidx |= v << c.vcount;
                c.vcount++;
            }
            out[n++] = c;
        }
    return n;
}
} // namespace

cod_params::cod_params() : rvd_params(cod_name, true, true, false, false, false)
{
    add_dependency("QCD");
    define_attribute("Cycc", "Colour transform of the first three components.", "B",
                     RVD_ALL_COMPONENTS);
    define_attribute("Cmct", "Part-2 multi-component transform blocks present.", "[ARRAY=2|DWT=4]",
                     RVD_ALL_COMPONENTS);
    define_attribute("Clayers", "Number of quality layers.", "I", RVD_ALL_COMPONENTS);
    define_attribute("Cuse_sop", "SOP marker before each packet.", "B", RVD_ALL_COMPONENTS);
    define_attribute("Cuse_eph", "EPH marker after each packet header.", "B", RVD_ALL_COMPONENTS);
    define_attribute("Corder", "Default progression order.",
                     "(LRCP=0,RLCP=1,RPCL=2,PCRL=3,CPRL=4)", RVD_ALL_COMPONENTS);
    define_attribute("Calign_blk_last",
                     "Code-block partition alignment, vertical then horizontal: yes puts the "
                     "last sample of each nominal block on a multiple of the block size.",
                     "BB", RVD_ALL_COMPONENTS);
    define_attribute("Clevels", "Number of DWT levels.", "I");
    define_attribute("Cads", "Index of the ADS information used, 0 for none.", "I");
    define_attribute("Cdfs", "Index of the DFS information used, 0 for none.", "I");
    define_attribute("Cdecomp",
                     "Decomposition structure, one record per DWT level from the highest "
                     "frequency down, e.g. B(-:-:-) for the usual split.",
                     "C", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Creversible", "Reversible compression.", "B");
    define_attribute("Ckernels", "Wavelet kernel.", "(W9X7=0,W5X3=1,ATK=-1)");
    define_attribute("Catk", "0, or the ATK instance index whose attributes define the kernel.",
                     "I");
    define_attribute("Cuse_precincts", "Precinct dimensions are explicit.", "B");
    define_attribute("Cprecincts",
                     "Precinct height, width (powers of 2); first record for the highest "
                     "resolution level, the last repeats for lower levels.",
                     "II", RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Cblk", "Nominal code-block height, width.", "II");
    define_attribute("Cmodes", "Block coder mode switches.",
                     "[BYPASS=1|RESET=2|RESTART=4|CAUSAL=8|ERTERM=16|SEGMARK=32]");
    define_attribute("Cweight", "Multiplier of all subband weights (rate control only).", "F");
    define_attribute("Clev_weights", "Weight per resolution level from the highest down.", "F",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
    define_attribute("Cband_weights", "Weight per subband HH1, LH1, HL1, HH2, ...", "F",
                     RVD_MULTI_RECORD | RVD_CAN_EXTRAPOLATE);
}

/* ------------------------------------------------------------------------------------ */
/*                                 decomposition codes                                   */
/* ------------------------------------------------------------------------------------ */

void cod_params::textualize_decomp(char buf[], int val)
{
    char* cp = buf;
    int primary = val & 3;
    *(cp++) = decomp_chars[primary];
    *(cp++) = '(';
    for (int k = 0; k < detail_count(primary); k++) {
        if (k > 0)
            *(cp++) = ':';
        int first = code_at(val, k, 0);
        *(cp++) = decomp_chars[first];
        for (int j = 1; j <= child_count(first); j++)
            *(cp++) = decomp_chars[code_at(val, k, j)];
    }
    *(cp++) = ')';
    *cp = '\0';
}

int cod_params::parse_decomp(const char* text, int& val)
{
    val = 0;
    const char* cp = text;
    int primary = char_code(*cp);
    if (primary < 0 || cp[1] != '(')
        return 0;
    int result = primary;
    cp += 2;
    for (int k = 0; k < detail_count(primary); k++) {
        if (k > 0) {
            if (*cp != ':' && *cp != ',')
                return 0;
            cp++;
        }
        int first = char_code(*cp);
        if (first < 0)
            return 0;
        result |= first << (2 + 10 * k);
        cp++;
        if (*cp == ':' || *cp == ',' || *cp == ')')
            continue;
        int more = child_count(first);
        if (more == 0)
            return 0;
        for (int j = 1; j <= more; j++) {
            int c = char_code(*cp);
            if (c < 0)
                return 0;
            result |= c << (2 + 10 * k + 2 * j);
            cp++;
        }
    }
    if (*cp != ')')
        return 0;
    val = result;
    return static_cast<int>(cp + 1 - text);
}

int cod_params::transpose_decomp(int val)
{
    uint32_t v = static_cast<uint32_t>(val);
    if ((v & 3) == 3) {
        uint32_t f0 = (v >> 2) & 0x3FF, f1 = (v >> 12) & 0x3FF;
        v = (v & ~(uint32_t(0xFFFFF) << 2)) | (f1 << 2) | (f0 << 12);
    }
    for (int k = 0; k < 3; k++) {
        int base = 2 + 10 * k;
        if (((v >> base) & 3) == 3) {
            uint32_t c2 = (v >> (base + 4)) & 3, c3 = (v >> (base + 6)) & 3;
            v &= ~((uint32_t(3) << (base + 4)) | (uint32_t(3) << (base + 6)));
            v |= (c3 << (base + 4)) | (c2 << (base + 6));
        }
    }
    v = ((v & 0x55555555u) << 1) | ((v >> 1) & 0x55555555u);
    return static_cast<int>(v);
}

void cod_params::get_max_decomp_levels(int val, int& horizontal, int& vertical)
{
    int primary = val & 3;
    horizontal = vertical = 0;
    for (int k = 0; k < detail_count(primary); k++) {
        int first = code_at(val, k, 0);
        int h = first & 1, v = (first >> 1) & 1, hm = 0, vm = 0;
        for (int j = 1; j <= child_count(first); j++) {
            int c = code_at(val, k, j);
            hm = std::max(hm, c & 1);
            vm = std::max(vm, (c >> 1) & 1);
        }
        horizontal = std::max(horizontal, h + hm);
        vertical = std::max(vertical, v + vm);
    }
    horizontal += primary & 1;
    vertical += (primary >> 1) & 1;
}

int cod_params::expand_decomp_bands(int val, int16_t descriptors[])
{
    int primary = val & 3;
    band root{0, 0, 0, 0};
    // Zeroed: an optimising build cannot see that split_band fills every entry it counts.
    band prim[4] = {};
    int np = split_band(root, primary, prim);
    int n = 0;
    descriptors[n++] = descriptor(prim[0]);
    for (int k = 0; k < detail_count(primary); k++) {
        const band& b = prim[k + 1];
        int first = code_at(val, k, 0);
        if (first == 0) {
            descriptors[n++] = descriptor(b);
            continue;
        }
        band kids[4] = {};
        int nk = split_band(b, first, kids);
        for (int j = 0; j < nk; j++) {
            int code = code_at(val, k, j + 1);
            if (code == 0) {
                descriptors[n++] = descriptor(kids[j]);
                continue;
            }
            band grand[4] = {};
            int ng = split_band(kids[j], code, grand);
            for (int g = 0; g < ng; g++)
                descriptors[n++] = descriptor(grand[g]);
        }
    }
    (void)np;
    return n;
}

bool cod_params::is_valid_decomp_terminator(int val)
{
    int primary = val & 3;
    if (primary == 3) {
        int f0 = (val >> 2) & 0x3FF;
        if (((val >> 12) & 0x3FF) != f0 || ((val >> 22) & 0x3FF) != f0)
            return false;
    }
    if (detail_count(primary) == 0)
        return true;
    int first = code_at(val, 0, 0);
    bool any_more = false, all_same = true;
    for (int j = 1; j <= 4; j++) {
        int c = code_at(val, 0, j);
        any_more = any_more || c != 0;
        if (j <= child_count(first) && c != first)
            all_same = false;
        if (j > child_count(first) && c != 0)
            all_same = false;
    }
    return !any_more || all_same || first == 0;
}

int cod_params::custom_parse_field(const char* string, const char* name, int field_idx,
                                   int& value)
{
    if (std::strcmp(name, "Cdecomp") != 0 || field_idx != 0)
        return 0;
    return parse_decomp(string, value);
}

void cod_params::custom_textualize_field(rvd_message& output, const char* name, int field_idx,
                                         int value)
{
    if (std::strcmp(name, "Cdecomp") != 0 || field_idx != 0)
        return;
    char buf[24];
    textualize_decomp(buf, value);
    output.put_text(buf);
}

/* ------------------------------------------------------------------------------------ */
/*                                   marker segments                                     */
/* ------------------------------------------------------------------------------------ */

bool cod_params::check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                      int& c_idx)
{
    if (code == COD_CODE) {
        c_idx = -1;
        return true;
    }
    if (code != COC_CODE || num_bytes < 2)
        return false;
    c_idx = rv_segment_component(this, bytes);
    return true;
}

void cod_params::profile_warning() { rv_warn_tile_segment_in_profile0(this, "COD/COC"); }

bool cod_params::read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                                     int tpart_idx)
{
    if (tpart_idx != 0)
        return false;
    if ((comp_idx < 0 && code != COD_CODE) || (comp_idx >= 0 && code != COC_CODE))
        return false;
    const uint8_t* bp = bytes;
    const uint8_t* end = bytes + num_bytes;
    bool use_precincts = false;
    if (code == COD_CODE) {
        try {
            int scod = static_cast<int>(rv_read_big(bp, end, 1));
            if (scod & ~0x1F)
                rv_raise_core_error("Malformed COD marker segment encountered. Invalid \"Scod\" "
                                    "value!");
            int order = static_cast<int>(rv_read_big(bp, end, 1));
            int layers = static_cast<int>(rv_read_big(bp, end, 2));
            int mct = static_cast<int>(rv_read_big(bp, end, 1));
            use_precincts = (scod & 1) != 0;
            set("Cuse_precincts", 0, 0, use_precincts);
            set("Cuse_sop", 0, 0, (scod & 2) != 0);
            set("Cuse_eph", 0, 0, (scod & 4) != 0);
            set("Calign_blk_last", 0, 1, (scod & 8) != 0);
            set("Calign_blk_last", 0, 0, (scod & 16) != 0);
            set("Corder", 0, 0, order);
            if (layers == 0)
                rv_raise_core_error("Illegal number of quality layers, 0");
            set("Clayers", 0, 0, layers);
            set("Cycc", 0, 0, (mct & 1) != 0);
            set("Cmct", 0, 0, (mct & 1) ? 0 : (mct & 6));
        } catch (const rv_short_body&) {
            rv_raise_core_error("Malformed COD marker segment encountered. Marker segment is too "
                                "small.");
        }
    } else {
        try {
            int width = (rv_tree_components(this) > 256) ? 2 : 1;
            if (static_cast<int>(rv_read_big(bp, end, width)) != comp_idx)
                return false;
            int scoc = static_cast<int>(rv_read_big(bp, end, 1));
            if (scoc & ~1)
                rv_raise_core_error("Malformed COC marker segment. Invalid \"Scoc\" value!");
            use_precincts = (scoc & 1) != 0;
            set("Cuse_precincts", 0, 0, use_precincts);
        } catch (const rv_short_body&) {
            rv_raise_core_error("Malformed COC marker segment encountered. Marker segment is too "
                                "small.");
        }
    }
    profile_warning();
    try {
        int lbyte = static_cast<int>(rv_read_big(bp, end, 1));
        int levels = 0;
        if (!(lbyte & 0x80)) {
            if (lbyte > 32)
                rv_raise_core_error("Illegal number of DWT levels, " + std::to_string(lbyte) +
                                    ". Legal range is 0 to 32!");
            set("Cads", 0, 0, 0);
            if (tile_idx < 0)
                set("Cdfs", 0, 0, 0);
            set("Clevels", 0, 0, lbyte);
            levels = lbyte;
        } else {
            if (tile_idx < 0) {
                set("Cdfs", 0, 0, lbyte & 0x7F);
                set("Cads", 0, 0, 0);
            } else {
                set("Cads", 0, 0, lbyte & 0x7F);
            }
            if (!get("Clevels", 0, 0, levels))
                rv_raise_core_error("Malformed COD/COC marker segment encountered. A "
                                    "decomposition style index is given where no number of DWT "
                                    "levels is known.");
        }
        int xcb = static_cast<int>(rv_read_big(bp, end, 1));
        int ycb = static_cast<int>(rv_read_big(bp, end, 1));
        if (xcb + ycb > 8)
            rv_raise_core_error("Maximum code-block dimensions must be no less than 4 and the "
                                "maximum code-block area must not exceed 4096 samples!");
        set("Cblk", 0, 1, 1 << (xcb + 2));
        set("Cblk", 0, 0, 1 << (ycb + 2));
        set("Cmodes", 0, 0, static_cast<int>(rv_read_big(bp, end, 1)));
        int xform = static_cast<int>(rv_read_big(bp, end, 1));
        if (xform < 2) {
            set("Catk", 0, 0, 0);
            set("Creversible", 0, 0, xform == 1);
            set("Ckernels", 0, 0, xform);
        } else {
            set("Catk", 0, 0, xform);
            set("Ckernels", 0, 0, -1);
        }
        if (use_precincts) {
            if (end - bp < levels + 1)
                throw rv_short_body{bp};
            for (int i = 0; i <= levels; i++) {
                int b = static_cast<int>(rv_read_big(bp, end, 1));
                set("Cprecincts", levels - i, 0, 1 << (b >> 4));
                set("Cprecincts", levels - i, 1, 1 << (b & 15));
            }
        }
    } catch (const rv_short_body&) {
        rv_raise_core_error("Malformed COD/COC marker segment encountered. Marker segment is too "
                            "small.");
    }
    if (bp != end)
        rv_raise_core_error("Malformed COD/COC marker segment encountered. The final " +
                            std::to_string(end - bp) + " bytes were not consumed!");
    return true;
}

int cod_params::write_marker_segment(rvd_output* out, rvd_params* ref, int tpart_idx)
{
    if (tpart_idx != 0)
        return 0;
    static const char* const int_names[] = {"Cmct", "Clayers", "Corder", "Clevels", "Cdfs",
                                            "Cads", "Ckernels", "Catk", "Cmodes"};
    static const char* const bool_names[] = {"Cycc", "Cuse_sop", "Cuse_eph", "Creversible",
                                             "Cuse_precincts"};
    int iv[9];
    bool bv[5], align[2];
    int blk[2];
    bool ok = true;
    for (int n = 0; n < 9; n++)
        ok = ok && get(int_names[n], 0, 0, iv[n]);
    for (int n = 0; n < 5; n++)
        ok = ok && get(bool_names[n], 0, 0, bv[n]);
    ok = ok && get("Calign_blk_last", 0, 0, align[0]) && get("Calign_blk_last", 0, 1, align[1]) &&
         get("Cblk", 0, 0, blk[0]) && get("Cblk", 0, 1, blk[1]);
    if (!ok)
        rv_raise_core_error("Unable to write COD marker segment yet! Some info missing.  Perhaps "
                            "you forgot to call `rvd_params::finalize_all'.");
    int mct = iv[0], layers = iv[1], order = iv[2], levels = iv[3], dfs = iv[4], ads = iv[5],
        kernels = iv[6], atk = iv[7], modes = iv[8];
    bool ycc = bv[0], sop = bv[1], eph = bv[2], rev = bv[3], use_precincts = bv[4];

    if (ref != nullptr) {
        bool same = true;
        int rv = 0;
        bool rb = false;
        for (int n = 0; n < 9 && same; n++)
            same = ref->get(int_names[n], 0, 0, rv) && rv == iv[n];
        for (int n = 0; n < 5 && same; n++)
            same = ref->get(bool_names[n], 0, 0, rb) && rb == bv[n];
        for (int f = 0; f < 2 && same; f++)
            same = ref->get("Calign_blk_last", 0, f, rb) && rb == align[f] &&
                   ref->get("Cblk", 0, f, rv) && rv == blk[f];
        if (same && use_precincts)
            for (int r = 0; r <= levels && same; r++)
                for (int f = 0; f < 2 && same; f++) {
                    int mine = 0;
                    same = get("Cprecincts", r, f, mine) && ref->get("Cprecincts", r, f, rv) &&
                           rv == mine;
                }
        if (same && !(ads != 0 && ref->get_tile_idx() < 0) && !(dfs != 0 && tile_idx < 0))
            return 0;
    }
    int ref_levels = -1;
    if (ref != nullptr)
        ref->get("Clevels", 0, 0, ref_levels);
    if (tile_idx >= 0 && ads != 0 && ref_levels != levels)
        rv_raise_core_error("Illegal combination of `Clevels' and `Cads' values detected.  The "
                            "ADS index replaces `Clevels' in a tile-specific COD or COC marker "
                            "segment, so `Clevels' cannot differ from the value it inherits.");
    if (tile_idx < 0 && comp_idx >= 0 && dfs != 0 && ref_levels != levels)
        rv_raise_core_error("Illegal combination of `Clevels' and `Cdfs' values detected.  The "
                            "DFS index replaces `Clevels' in a main-header COC marker segment, so "
                            "`Clevels' cannot differ from the value it inherits.");
    if (layers < 1 || layers > 65535)
        rv_raise_core_error("Illegal number of quality layers, " + std::to_string(layers));
    if (levels < 0 || levels > 32)
        rv_raise_core_error("Illegal number of DWT levels, " + std::to_string(levels) +
                            ". Legal range is 0 to 32!");
    bool wide = rv_tree_components(this) > 256;
    int size = (comp_idx < 0) ? 14 : (wide ? 12 : 11);
    if (use_precincts)
        size += levels + 1;
    if (comp_idx < 0 && ycc) {
        if (mct != 0)
            rv_raise_core_error("You cannot use a Part-1 colour transform (`Cycc=yes') at the same "
                                "time as a Part-2 multi-component transform (`Cmct != 0').");
        rvd_params* siz = access_cluster("SIZ");
        int comps = rv_tree_components(this);
        int p0 = 0;
        bool r0 = false;
        rvd_params* c0 = access_relation(tile_idx, 0, 0, true);
        bool known = c0 != nullptr && c0->get("Creversible", 0, 0, r0) && siz != nullptr &&
                     siz->get("Sprecision", 0, 0, p0);
        for (int c = 1; c < 3 && c < comps && known; c++) {
            int p = 0;
            bool r = false;
            rvd_params* cc = access_relation(tile_idx, c, 0, true);
            if (cc == nullptr || !cc->get("Creversible", 0, 0, r) ||
                !siz->get("Sprecision", c, 0, p) || r != r0 || p != p0)
                rv_raise_core_error("You cannot use a colour transform unless the first 3 image "
                                    "components have identical bit-depths and are either all "
                                    "reversible or all irreversible.");
        }
    }
    if (out == nullptr)
        return size;
    profile_warning();
    if (atk == 0 && ((rev && kernels != 1) || (!rev && kernels != 0)))
        rv_raise_core_error("Illegal `Ckernels' value found when preparing to generate COD/COC "
                            "marker segment.  Reversible processes must use the W5X3 kernel, "
                            "while irreversible processes must use the W9X7 kernel, unless you "
                            "have explicitly identified a different (Part-2) kernel, via the "
                            "`Catk' attribute.");
    if (atk != 0 && (atk < 2 || atk > 255))
        rv_raise_core_error("Illegal ATK instance index found when preparing to generate COD/COC "
                            "marker segment.  Legal values are in the range 2 to 255.");
    int exps[2];
    for (int f = 0; f < 2; f++) {
        exps[f] = rv_int_log2(blk[f]);
        if (blk[f] <= 0 || (1 << exps[f]) != blk[f])
            rv_raise_core_error("Maximum code-block dimensions must be powers of 2!");
    }
    if (exps[0] < 2 || exps[1] < 2 || exps[0] + exps[1] > 12)
        rv_raise_core_error("Maximum code-block dimensions must be no less than 4 and the maximum "
                            "code-block area must not exceed 4096 samples!");
    std::vector<uint8_t> precinct_bytes;
    if (use_precincts)
        for (int i = 0; i <= levels; i++) {
            int p[2];
            if (!(get("Cprecincts", levels - i, 0, p[0]) && get("Cprecincts", levels - i, 1, p[1])))
                rv_raise_core_error("No precinct dimensions supplied for COD/COC!");
            int e[2];
            for (int f = 0; f < 2; f++) {
                e[f] = rv_int_log2(p[f]);
                if (p[f] <= 0 || (1 << e[f]) != p[f])
                    rv_raise_core_error("Precinct dimensions must be exact powers of 2!");
                if (e[f] > 15)
                    rv_raise_core_error("Precinct dimensions may not exceed 2^15!");
            }
            precinct_bytes.push_back(static_cast<uint8_t>((e[0] << 4) | e[1]));
        }
    if (comp_idx < 0) {
        out->put(COD_CODE);
        out->put(static_cast<uint16_t>(size - 2));
        out->put(static_cast<uint8_t>((use_precincts ? 1 : 0) | (sop ? 2 : 0) | (eph ? 4 : 0) |
                                      (align[1] ? 8 : 0) | (align[0] ? 16 : 0)));
        out->put(static_cast<uint8_t>(order));
        out->put(static_cast<uint16_t>(layers));
        out->put(static_cast<uint8_t>((ycc ? 1 : 0) | mct));
    } else {
        out->put(COC_CODE);
        out->put(static_cast<uint16_t>(size - 2));
        if (wide)
            out->put(static_cast<uint16_t>(comp_idx));
        else
            out->put(static_cast<uint8_t>(comp_idx));
        out->put(static_cast<uint8_t>(use_precincts ? 1 : 0));
    }
    int lbyte = levels;
    if (tile_idx < 0 && comp_idx >= 0 && dfs != 0)
        lbyte = dfs | 0x80;
    else if (tile_idx >= 0 && ads != 0)
        lbyte = ads | 0x80;
    out->put(static_cast<uint8_t>(lbyte));
    out->put(static_cast<uint8_t>(exps[1] - 2));
    out->put(static_cast<uint8_t>(exps[0] - 2));
    out->put(static_cast<uint8_t>(modes));
    out->put(static_cast<uint8_t>((atk != 0) ? atk : kernels));
    out->write(precinct_bytes.data(), static_cast<int>(precinct_bytes.size()));
    return size;
}

/* ------------------------------------------------------------------------------------ */
/*                                finalizing and copying                                 */
/* ------------------------------------------------------------------------------------ */

namespace {
std::vector<int> own_records(rvd_params* obj, const char* name)
{
    std::vector<int> out;
    int v = 0;
    for (int r = 0; obj != nullptr && obj->get(name, r, 0, v, false, false); r++)
        out.push_back(v);
    return out;
}

// Records compared one by one while either list still has one; a missing record counts
// as 3 when it is the first, otherwise as the last value read. `mask` picks the bits
// compared (3 for primary codes only).
bool same_records(const std::vector<int>& a, const std::vector<int>& b, int mask)
{
    size_t n = std::max(a.size(), b.size());
    int la = 3, lb = 3;
    for (size_t i = 0; i < n; i++) {
        if (i < a.size())
            la = a[i];
        if (i < b.size())
            lb = b[i];
        if ((la & mask) != (lb & mask))
            return false;
    }
    return true;
}

// Cdecomp rebuilt from the DFS list and, when given, the ADS lists.
std::vector<int> rebuild_decomp(const std::vector<int>& dsdfs, const std::vector<int>* doads,
                                const std::vector<int>* dsads)
{
    std::vector<int> out;
    if (doads == nullptr) {
        for (int v : dsdfs)
            out.push_back(v & 3);
        return out;
    }
    size_t idfs = 0, ido = 0, ids = 0;
    int cur_dfs = 3, cur_do = 1, cur_ds = 0;
    bool dfs_done = dsdfs.empty(), do_done = doads->empty(), ds_done = dsads->empty();
    auto next_ds = [&]() {
        if (ids < dsads->size())
            cur_ds = (*dsads)[ids++];
        if (ids >= dsads->size())
            ds_done = true;
        return cur_ds;
    };
    for (int level = 0; level < 64; level++) {
        if (idfs < dsdfs.size())
            cur_dfs = dsdfs[idfs++];
        if (idfs >= dsdfs.size())
            dfs_done = true;
        if (ido < doads->size())
            cur_do = (*doads)[ido++];
        if (ido >= doads->size()) {
            do_done = true;
            if (cur_do < 2)
                ds_done = true;
        }
        int primary = cur_dfs & 3;
        int val = primary;
        int groups = (primary == 3) ? 3 : (primary == 0 ? 0 : 1);
        for (int g = groups - 1; g >= 0; g--) {
            if (cur_do == 1)
                continue;
            int split = next_ds() & 3;
            int field = split;
            if (split != 0 && cur_do != 2) {
                int kids = (split == 3) ? 4 : 2;
                for (int k = kids - 1; k >= 0; k--)
                    field |= (next_ds() & 3) << (2 + 2 * k);
            }
            val |= field << (2 + 10 * g);
        }
        out.push_back(val);
        if (dfs_done && do_done && ds_done && cod_params::is_valid_decomp_terminator(val))
            break;
    }
    return out;
}
} // namespace

void cod_params::finalize(bool after_reading)
{
    int v = 0;
    bool b = false;
    if (!after_reading) {
        if (comp_idx < 0) {
            if (!get("Clayers", 0, 0, v))
                set("Clayers", 0, 0, 1);
            else if (v < 1 || v > 16384)
                rv_raise_core_error("Illegal number of quality layers, " + std::to_string(v) +
                                    ", detected by coding parameter sub-system; legal code-streams "
                                    "may have no more than 16384 quality layers.");
            if (!get("Cuse_sop", 0, 0, b))
                set("Cuse_sop", 0, 0, false);
            if (!get("Cuse_eph", 0, 0, b))
                set("Cuse_eph", 0, 0, false);
            if (!get("Corder", 0, 0, v))
                set("Corder", 0, 0, 0);
            for (int f = 0; f < 2; f++)
                if (!get("Calign_blk_last", 0, f, b))
                    set("Calign_blk_last", 0, f, false);
        }
        if (!get("Clevels", 0, 0, v))
            set("Clevels", 0, 0, 5);
        else if (v < 0 || v > 32)
            rv_raise_core_error("Illegal number of DWT levels, " + std::to_string(v) +
                                ", detected by coding parameter sub-system; legal code-streams "
                                "may have no more than 32 DWT levels in any given "
                                "tile-component.");
    }
    std::vector<int> decomp = own_records(this, "Cdecomp");
    if (!after_reading && !decomp.empty()) {
        bool need_dfs = false, need_ads = false;
        for (int d : decomp) {
            need_dfs = need_dfs || (d & 3) != 3;
            need_ads = need_ads || (d >> 2) != 0;
        }
        int dfs = 0;
        if (!need_dfs) {
            set("Cdfs", 0, 0, 0);
        } else if (!get("Cdfs", 0, 0, dfs, false) || dfs == 0) {
            if (tile_idx >= 0) {
                rvd_params* main_c = access_relation(-1, comp_idx, 0, true);
                if (main_c == nullptr || !main_c->get("Cdfs", 0, 0, dfs) || dfs == 0)
                    rv_raise_core_error(
                        "You are attempting to define a decomposition structure within a tile, "
                        "which involves a different downsampling structure (different primary "
                        "subband decomposition -- first character code of each record in "
                        "`Cdecomp' attribute) to that defined (implicitly or explicitly) for the "
                        "main codestream header.  This is illegal.");
            } else {
                int last = 0;
                dfs = 0;
                for (int c = -1; c < comp_idx && dfs == 0; c++) {
                    rvd_params* other = access_unique(-1, c, 0);
                    int od = 0;
                    if (other == nullptr || !other->get("Cdfs", 0, 0, od, false) || od == 0)
                        continue;
                    last = od;
                    if (same_records(own_records(other, "Cdecomp"), decomp, 3))
                        dfs = od;
                }
                if (dfs == 0) {
                    dfs = last + 1;
                    rvd_params* h = access_cluster("DFS");
                    if (h != nullptr)
                        h->access_relation(-1, -1, dfs, false);
                }
            }
            set("Cdfs", 0, 0, dfs);
        }
        int ads = 0;
        if (!need_ads) {
            set("Cads", 0, 0, 0);
        } else if (!get("Cads", 0, 0, ads, false) || ads == 0) {
            rvd_params* h = access_cluster("ADS");
            int largest = 0;
            ads = 0;
            for (int t : {tile_idx, -1}) {
                if (h == nullptr || ads != 0 || (t == -1 && tile_idx == -1 && t != tile_idx))
                    break;
                for (rvd_params* a = h->access_unique(t, -1, 0); a != nullptr && ads == 0;
                     a = a->access_next_inst()) {
                    std::vector<int> dd = own_records(a, "Ddecomp");
                    bool holds = !dd.empty() || !own_records(a, "DOads").empty() ||
                                 !own_records(a, "DSads").empty();
                    if (!holds || a->get_instance() <= largest)
                        continue;
                    largest = a->get_instance();
                    if (same_records(dd, decomp, -1))
                        ads = largest;
                }
                if (t == -1)
                    break;
            }
            if (ads == 0) {
                ads = largest + 1;
                if (h != nullptr)
                    h->access_relation(tile_idx, -1, ads, false);
            }
            set("Cads", 0, 0, ads);
        }
    }
    if (after_reading) {
        int ads = 0, dfs = 0;
        get("Cads", 0, 0, ads);
        get("Cdfs", 0, 0, dfs);
        rvd_params* ads_obj = nullptr;
        rvd_params* dfs_obj = nullptr;
        if (ads != 0) {
            rvd_params* h = access_cluster("ADS");
            ads_obj = (h != nullptr) ? h->access_relation(tile_idx, -1, ads, true) : nullptr;
            if (ads_obj == nullptr)
                rv_raise_core_error("ADS table index encountered while finalizing COD/COD marker "
                                    "segment information does not refer to accessible ADS "
                                    "(Arbitrary Decomposition Styles) information.");
        }
        if (dfs != 0) {
            rvd_params* h = access_cluster("DFS");
            dfs_obj = (h != nullptr) ? h->access_relation(-1, -1, dfs, true) : nullptr;
            if (dfs_obj == nullptr)
                rv_raise_core_error("DFS table index encountered while finalizing COD/COD marker "
                                    "segment information does not refer to accessible DFS "
                                    "(Downsampling Factor Styles) information.");
        }
        bool skip = false;
        if (ads != 0 && tile_idx >= 0 && comp_idx < 0) {
            skip = true;
            for (int c = 0; c < num_comps && skip; c++)
                skip = access_unique(tile_idx, c, 0) != nullptr;
        }
        if ((ads != 0 || dfs != 0) && !skip) {
            std::vector<int> dsdfs = own_records(dfs_obj, "DSdfs");
            std::vector<int> doads = own_records(ads_obj, "DOads");
            std::vector<int> dsads = own_records(ads_obj, "DSads");
            if (dfs_obj == nullptr)
                dsdfs.assign(1, 3);
            std::vector<int> rebuilt =
                rebuild_decomp(dsdfs, ads_obj ? &doads : nullptr, ads_obj ? &dsads : nullptr);
            delete_unparsed_attribute("Cdecomp");
            for (size_t r = 0; r < rebuilt.size(); r++)
                set("Cdecomp", int(r), 0, rebuilt[r]);
            decomp = rebuilt;
        }
    }
    if (!get("Cdecomp", 0, 0, v))
        set("Cdecomp", 0, 0, 3);
    if (!after_reading) {
        if (!get("Cads", 0, 0, v))
            set("Cads", 0, 0, 0);
        if (!get("Cdfs", 0, 0, v))
            set("Cdfs", 0, 0, 0);
    }

    // The styles named here carry this object's decomposition.
    {
        int dfs = 0, ads = 0;
        get("Cdfs", 0, 0, dfs);
        get("Cads", 0, 0, ads);
        std::vector<int> records;
        for (int r = 0; get("Cdecomp", r, 0, v, true, false); r++)
            records.push_back(v);
        if (records.empty())
            records.assign(1, 3);
        if (dfs != 0 && !(tile_idx >= 0 && !get("Cdfs", 0, 0, v, false))) {
            rvd_params* h = access_cluster("DFS");
            rvd_params* d = (h != nullptr) ? h->access_relation(-1, -1, dfs, false) : nullptr;
            if (d != nullptr) {
                std::vector<int> have = own_records(d, "DSdfs");
                if (have.empty()) {
                    for (size_t r = 0; r < records.size(); r++)
                        d->set("DSdfs", int(r), 0, records[r] & 3);
                } else {
                    for (size_t r = 0; r < records.size() && r < have.size(); r++)
                        if (have[r] != (records[r] & 3))
                            rv_raise_core_error("Incompatible `DSdfs' and `Cdecomp' values seem to "
                                                "have been created.  Should not be possible.");
                }
            }
        }
        if (ads != 0 && get("Cads", 0, 0, v, false)) {
            rvd_params* h = access_cluster("ADS");
            rvd_params* a = (h != nullptr) ? h->access_relation(tile_idx, -1, ads, false) : nullptr;
            if (a != nullptr) {
                std::vector<int> have = own_records(a, "Ddecomp");
                if (have.empty()) {
                    for (size_t r = 0; r < records.size(); r++)
                        a->set("Ddecomp", int(r), 0, records[r]);
                } else if (!same_records(have, records, -1)) {
                    rv_raise_core_error("Unacceptable interaction between ADS (Arbitrary "
                                        "Decomposition Style) and DFS (Downsampling Factor Styles) "
                                        "information in Part-2 codestream.  One ADS table cannot "
                                        "serve tile-components with different downsampling "
                                        "styles.");
                }
                if (!is_valid_decomp_terminator(records.back())) {
                    char buf[24];
                    textualize_decomp(buf, records.back());
                    rv_raise_core_error(std::string("Encountered invalid terminal `Cdecomp' attribute "
                                                    "value \"") +
                                        buf +
                                        "\".  Terminal styles need identical sub-strings of "
                                        "identical codes (one split in the same direction is "
                                        "enough), because ADS and DFS information is extrapolated "
                                        "to further levels.");
                }
            }
        }
        if (!after_reading && tile_idx < 0 && comp_idx < 0 && dfs != 0)
            for (int c = 0; c < num_comps; c++)
                access_relation(-1, c, 0, false);
        if (!after_reading && tile_idx < 0 && ads != 0 && comp_idx >= 0)
            for (int t = 0; t < num_tiles; t++)
                access_relation(t, comp_idx, 0, false);
    }

    // Kernels and reversibility.
    if (!get("Catk", 0, 0, v))
        set("Catk", 0, 0, 0);
    int own_atk = 0, own_kernels = 0;
    bool has_own_atk = get("Catk", 0, 0, own_atk, false);
    bool has_own_kernels = get("Ckernels", 0, 0, own_kernels, false);
    bool own_rev = false;
    if (has_own_atk && own_atk != 0) {
        if (has_own_kernels && own_kernels != -1)
            set("Ckernels", 0, 0, -1);
    } else if (has_own_kernels && own_kernels != -1) {
        if (!has_own_atk || own_atk != 0)
            set("Catk", 0, 0, 0);
        set("Creversible", 0, 0, own_kernels == 1);
    } else if (get("Creversible", 0, 0, own_rev, false)) {
        int atk = 0;
        get("Catk", 0, 0, atk);
        int want = own_rev ? 1 : 0;
        if (atk == 0 && (!get("Ckernels", 0, 0, v) || v != want))
            set("Ckernels", 0, 0, want);
    }
    int atk = 0;
    get("Catk", 0, 0, atk);
    if (atk != 0) {
        rvd_params* h = access_cluster("ATK");
        rvd_params* k = (h != nullptr) ? h->access_relation(tile_idx, -1, atk, true) : nullptr;
        bool krev = false;
        if (k == nullptr || !k->get("Kreversible", 0, 0, krev))
            rv_raise_core_error("Unable to access the `Kreversible' attribute associated with the "
                                "`Catk' index found while finalizing a COD/COC marker segment.  "
                                "The value of the `Catk' index is " +
                                std::to_string(atk));
        if (!get("Creversible", 0, 0, b) || b != krev)
            set("Creversible", 0, 0, krev);
    }
    if (!after_reading) {
        if (!get("Creversible", 0, 0, b))
            set("Creversible", 0, 0, false);
        if (!get("Ckernels", 0, 0, v))
            set("Ckernels", 0, 0, 0);
    }
    bool rev = false;
    int kernels = 0;
    if (get("Creversible", 0, 0, rev) && get("Ckernels", 0, 0, kernels) && atk == 0 &&
        ((rev && kernels != 1) || (!rev && kernels != 0)))
        rv_raise_core_error("Illegal `Ckernels' value found while finalizing a COD/COC marker "
                            "segment.  Reversible processes must use the W5X3 kernel, while "
                            "irreversible processes must use the W9X7 kernel, unless you have "
                            "explicitly identified a different (Part-2) kernel, via the `Catk' "
                            "attribute.");
    if (atk != 0 && (atk < 2 || atk > 255))
        rv_raise_core_error("Illegal ATK instance index found when finalizing a COD/COC marker "
                            "segment.  Legal values are in the range 2 to 255.");
    if (after_reading)
        return;

    if (!get("Cblk", 0, 0, v)) {
        set("Cblk", 0, 0, 64);
        set("Cblk", 0, 1, 64);
    }
    if (!get("Cmodes", 0, 0, v))
        set("Cmodes", 0, 0, 0);
    if (comp_idx < 0) {
        int mct = 0;
        if (!get("Cmct", 0, 0, mct)) {
            mct = 0;
            set("Cmct", 0, 0, 0);
        }
        // Written codestreams flag the transform blocks their description holds.
        const int kinds = described_mct_kinds(this, tile_idx);
        if (kinds >= 0 && kinds != mct) {
            mct = kinds;
            set("Cmct", 0, 0, mct);
        }
        int comps = rv_tree_components(this);
        if (!get("Cycc", 0, 0, b)) {
            bool agree = comps > 2 && mct == 0;
            rvd_params* siz = access_cluster("SIZ");
            int ref[4] = {0, 0, 0, 0};
            for (int c = 0; c < 3 && agree; c++) {
                int vals[4] = {0, 0, 0, 0};
                bool r = false;
                rvd_params* cc = access_relation(tile_idx, c, 0, true);
                agree = cc != nullptr && siz != nullptr && cc->get("Creversible", 0, 0, r) &&
                        siz->get("Sprecision", c, 0, vals[1]) &&
                        siz->get("Ssampling", c, 0, vals[2]) && siz->get("Ssampling", c, 1, vals[3]);
                vals[0] = r ? 1 : 0;
                if (agree && c == 0)
                    std::memcpy(ref, vals, sizeof(ref));
                else if (agree)
                    agree = std::memcmp(ref, vals, sizeof(ref)) == 0;
            }
            set("Cycc", 0, 0, agree);
        } else if (b && (comps < 3 || mct != 0)) {
            set("Cycc", 0, 0, false);
        }
    }
    if (get("Cprecincts", 0, 0, v, false))
        set("Cuse_precincts", 0, 0, true);
    else if (!get("Cuse_precincts", 0, 0, b))
        set("Cuse_precincts", 0, 0, false);
}

void cod_params::copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                                  bool transpose, bool vflip, bool hflip)
{
    int v = 0;
    bool b = false;
    float f = 0.0f;
    if (comp_idx < 0) {
        if (source->get("Cycc", 0, 0, b, false))
            set("Cycc", 0, 0, b && skip_components == 0);
        for (const char* name : {"Cmct", "Clayers", "Corder"})
            if (source->get(name, 0, 0, v, false))
                set(name, 0, 0, v);
        for (const char* name : {"Cuse_sop", "Cuse_eph"})
            if (source->get(name, 0, 0, b, false))
                set(name, 0, 0, b);
        bool al[2];
        if (source->get("Calign_blk_last", 0, transpose ? 1 : 0, al[0], false) &&
            source->get("Calign_blk_last", 0, transpose ? 0 : 1, al[1], false)) {
            set("Calign_blk_last", 0, 0, al[0] != vflip);
            set("Calign_blk_last", 0, 1, al[1] != hflip);
        }
    }
    if (source->get("Clevels", 0, 0, v, false)) {
        if (v < discard_levels)
            rv_raise_core_error("Attempting to discard too many resolution levels!  Cannot discard "
                                "more resolution levels than there are DWT levels.");
        set("Clevels", 0, 0, v - discard_levels);
    }
    if (source->get("Cdfs", 0, 0, v, false))
        set("Cdfs", 0, 0, v);
    int records = 0;
    while (source->get("Cdecomp", records, 0, v, false, false))
        records++;
    if (records > 0) {
        int first = (records > discard_levels) ? discard_levels : records - 1;
        for (int r = first; r < records; r++) {
            source->get("Cdecomp", r, 0, v, false, false);
            set("Cdecomp", r - first, 0, transpose ? transpose_decomp(v) : v);
        }
    }
    if (source->get("Creversible", 0, 0, b, false))
        set("Creversible", 0, 0, b);
    for (const char* name : {"Ckernels", "Catk", "Cmodes"})
        if (source->get(name, 0, 0, v, false))
            set(name, 0, 0, v);
    if (source->get("Cuse_precincts", 0, 0, b, false))
        set("Cuse_precincts", 0, 0, b);
    int blk[2];
    if (source->get("Cblk", 0, 0, blk[0], false) && source->get("Cblk", 0, 1, blk[1], false)) {
        set("Cblk", 0, 0, blk[transpose ? 1 : 0]);
        set("Cblk", 0, 1, blk[transpose ? 0 : 1]);
    }
    int precincts = 0;
    while (source->get("Cprecincts", precincts, 0, v, false, false))
        precincts++;
    if (precincts > 0)
        for (int r = discard_levels, dst = 0; r < std::max(precincts, discard_levels + 1);
             r++, dst++) {
            int p[2];
            source->get("Cprecincts", r, 0, p[0], false, true);
            source->get("Cprecincts", r, 1, p[1], false, true);
            set("Cprecincts", dst, 0, p[transpose ? 1 : 0]);
            set("Cprecincts", dst, 1, p[transpose ? 0 : 1]);
        }
    if (source->get("Cweight", 0, 0, f, false))
        set("Cweight", 0, 0, double(f));
    for (const char* name : {"Clev_weights", "Cband_weights"})
        for (int r = 0; source->get(name, r, 0, f, false, false); r++)
            set(name, r, 0, double(f));
}
