#include "codec/jp2/jp2_colour.h"

#include "codec/jp2/jp2_channels.h"
#include "codec/jp2/jp2_error.h"
#include "codec/jp2/jp2_input_box.h"

#include <cmath>
#include <cstring>

namespace {

uint32_t sig(const char* s)
{
    return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 | uint8_t(s[3]);
}

int colours_of_space(uint32_t cs)
{
    const char* three[] = {"XYZ ", "Lab ", "Luv ", "YCbr", "Yxy ", "RGB ", "HSV ", "HLS ", "CMY ", "3CLR"};
    for (const char* s : three)
        if (cs == sig(s))
            return 3;
    if (cs == sig("GRAY"))
        return 1;
    if (cs == sig("CMYK") || cs == sig("4CLR"))
        return 4;
    if (cs == sig("2CLR"))
        return 2;
    if ((cs & 0xFFFFFF) == (sig("xCLR") & 0xFFFFFF)) {
        int d = int(cs >> 24);
        if (d >= '5' && d <= '9')
            return d - '0';
        if (d >= 'A' && d <= 'F')
            return d - 'A' + 10;
    }
    jp2_raise("Unknown colour space signature found in embedded ICC profile within a JP2-family data source's colour "
              "description (colr) box.");
}

int enum_colours(uint32_t e)
{
    switch (e) {
    case 0:
    case 15:
    case 17:
        return 1;
    case 1:
    case 3:
    case 4:
    case 9:
    case 11:
    case 14:
    case 16:
    case 18:
    case 19:
    case 20:
    case 21:
    case 22:
    case 23:
    case 24:
        return 3;
    case 12:
    case 13:
        return 4;
    default:
        return 0;
    }
}

const char kTruncatedColr[] = "JP2-family data source terminated unexpectedly inside the colour specification (colr) box.";

} // namespace

uint32_t j2_icc_profile::word(uint32_t pos) const
{
    if (length < 4 || pos >= length - 3)
        return 0;
    const uint8_t* p = bytes.data() + pos;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void j2_icc_profile::parse(std::vector<uint8_t>&& block)
{
    bytes.swap(block);
    uint32_t declared = 0;
    if (bytes.size() >= 4)
        declared = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
    if (declared < 132)
        jp2_raise("Embedded ICC profile in JP2 colour description box does not have a complete header.");
    // Every read is bounded by the bytes really held, not only by what the profile claims.
    if (declared > bytes.size())
        jp2_raise("Embedded ICC profile in JP2 colour description box appears to have been truncated!");
    length = declared;
    const uint32_t cls = word(12);
    input = cls == sig("scnr");
    display = cls == sig("mntr");
    output = cls == sig("prtr");
    num_colours = colours_of_space(word(16));
    const uint32_t pcs = word(20);
    if (pcs != sig("XYZ ") && pcs != sig("Lab "))
        jp2_raise("Unknown PCS signature found in embedded ICC profile within a JP2-family data source's colour "
                  "description (colr) box.");
    pcs_is_xyz = pcs == sig("XYZ ");
    const uint32_t count = word(128);
    num_tags = int(count > 0x7FFFFFFF ? 0x7FFFFFFF : count);
    for (uint64_t i = 0; i < count; ++i) {
        const uint64_t entry = 132 + 12 * i;
        if (entry + 12 > uint64_t(length))
            jp2_raise("Embedded ICC profile in JP2 colour description box appears to have been truncated!");
        const uint32_t tag = word(uint32_t(entry)), off = word(uint32_t(entry + 4)), len = word(uint32_t(entry + 8));
        int curve = -1, col = -1;
        if (tag == sig("kTRC") || tag == sig("rTRC"))
            curve = 0;
        else if (tag == sig("gTRC"))
            curve = 1;
        else if (tag == sig("bTRC"))
            curve = 2;
        else if (tag == sig("rXYZ"))
            col = 0;
        else if (tag == sig("gXYZ"))
            col = 1;
        else if (tag == sig("bXYZ"))
            col = 2;
        if (curve >= 0) {
            if (uint64_t(off) + len > length)
                jp2_raise("Illegal tag offset or length value supplied in the JP2 embedded icc profile.");
            if (word(off) != sig("curv") || len < 12)
                jp2_raise("Did not find a valid `curv' data type in the embedded ICC profile's tone reproduction curve "
                          "tag.");
            if (uint64_t(len) != 12 + 2 * uint64_t(word(off + 8)))
                jp2_raise("The `curv' data type used to represent an embedded ICC profile's tone reproduction curve "
                          "appears to have been truncated.");
            trc[curve] = off + 8;
        } else if (col >= 0) {
            if (uint64_t(off) + len > length)
                jp2_raise("Illegal tag offset or length value supplied in JP2 embedded icc profile.");
            if (word(off) != sig("XYZ ") || len < 20)
                jp2_raise("Did not find a valid `XYZ ' data type in the embedded ICC profile's colorant description "
                          "tag.");
            colorant[col] = off + 8;
        }
    }
    for (int c = 0; c < num_colours; ++c) {
        if (c < 3 && trc[c] != 0)
            continue;
        if (input)
            not_simple = true;
        else if (display)
            jp2_raise("Embedded ICC profile in JP2 colour description box specifies a display profile, but does not "
                      "contain a complete set of tone reproduction curves!  This condition is not compatible with any "
                      "legal ICC profile.");
    }
    if (num_colours == 3)
        for (int c = 0; c < 3; ++c) {
            if (colorant[c] != 0)
                continue;
            if (input)
                not_simple = true;
            else if (display)
                jp2_raise("Embedded ICC profile in JP2 colour description box specifies a 3 colour display profile, but "
                          "does not contain a complete set of primary colorant specifications.");
        }
}

void j2_colour::process_colr(jp2_input_box& box)
{
    uint8_t meth = 0, prec = 0, approx = 0;
    if (!box.read_byte(meth) || !box.read_byte(prec) || !box.read_byte(approx) || meth < 1 || meth > 4 || approx > 4)
        jp2_raise("Malformed colour description (colr) box found in JP2-family data source.  Insufficient fields, or "
                  "illegal `approx' or `meth' field found in box.");
    precedence = int8_t(prec);
    for (int i = 0; i < 3; ++i)
        precision[i] = range[i] = offset[i] = -1;
    illuminant = 0;
    temperature = 0;
    if (meth == 1) {
        uint32_t e = 0;
        if (!box.read_word32(e))
            jp2_raise("Malformed colour description (colr) box found in JP2-family data source.  Box appears to "
                      "terminate prematurely.");
        const int colours = enum_colours(e);
        if (colours == 0) {
            box.close(); // unknown space: a later "colr" box may be understood
            return;
        }
        space = int(e);
        num_colours = colours;
        if (e == 14 || e == 19) {
            const int want = e == 14 ? 7 : 6;
            uint32_t ep[7] = {};
            int got = 0;
            while (got < want && box.read_word32(ep[got]))
                ++got;
            if (got > 0 && got < want)
                jp2_raise("JP2-family data source terminated unexpectedly; unable to read all EP parameter fields for "
                          "CIELab or CIEJab enumerated colour space.");
            if (got == want) {
                for (int i = 0; i < 3; ++i) {
                    range[i] = int(ep[2 * i]);
                    offset[i] = int(ep[2 * i + 1]);
                }
                if (e == 14) {
                    const uint32_t il = ep[6];
                    if ((il >> 16) == 0x4354) { // "CT"
                        illuminant = 0x43540000;
                        temperature = uint16_t(il);
                    } else {
                        illuminant = il;
                        temperature = il == 0x443530 ? 5000 : il == 0x443635 ? 6500 : il == 0x443735 ? 7500 : 0;
                    }
                }
            }
        }
    } else if (meth == 2 || meth == 3) {
        std::vector<uint8_t> block;
        const int64_t left = box.bytes_left();
        if (left >= 0) {
            if (left > 0x7FFFFFFF)
                jp2_raise(kTruncatedColr);
            block.resize(size_t(left));
            if (left > 0 && box.read(block.data(), int(left)) != int(left))
                jp2_raise(kTruncatedColr);
        } else {
            uint8_t buf[4096];
            for (int n; (n = box.read(buf, int(sizeof buf))) > 0;)
                block.insert(block.end(), buf, buf + n);
        }
        icc.reset(new j2_icc_profile);
        icc->parse(std::move(block));
        num_colours = icc->num_colours;
        space = meth == 3 ? 102 : num_colours == 1 ? 100 : 101;
    } else {
        space = 200;
        num_colours = 0;
        if (box.read(vendor_uuid, 16) != 16)
            jp2_raise(kTruncatedColr);
        uint8_t buf[4096];
        for (int n; (n = box.read(buf, int(sizeof buf))) > 0;)
            vendor_data.insert(vendor_data.end(), buf, buf + n);
    }
    initialized = true;
    if (!box.close())
        jp2_raise("Malformed JP2 colour description (colr) box found in JP2-family data source.  The box appears to be "
                  "too large.");
}

void j2_colour::finalize(const j2_channels& channels)
{
    if (!initialized)
        jp2_raise("No colour description found in JP2-family data source, or provided for generating a JP2-family "
                  "file!");
    if (num_colours == 0)
        num_colours = channels.num_colours;
    if (space == 14 || space == 19) {
        for (int c = 0; c < 3; ++c) {
            const int depth = c < int(channels.channels.size()) ? channels.channels[size_t(c)].bit_depth : -1;
            if (precision[c] == -1)
                precision[c] = depth;
            else if (precision[c] != depth)
                jp2_raise("The sample precisions specified when initializing a `jp2_colour' object to represent a CIE "
                          "Lab or Jab colour space do not agree with the actual precisions of the relevant codestream "
                          "image components or palette lookup tables.");
        }
        auto pow2 = [](int e) -> int {
            if (e < 0)
                return 0;
            return e >= 30 ? 0x40000000 : 1 << e;
        };
        if (range[0] < 0) {
            if (space == 14) {
                range[0] = 100, range[1] = 170, range[2] = 200;
                offset[0] = 0, offset[1] = pow2(precision[1] - 1);
                offset[2] = precision[2] >= 3 ? (precision[2] - 3 >= 29 ? 0x60000000 : 3 * pow2(precision[2] - 3))
                                              : (3 >> (3 - precision[2]));
            } else {
                range[0] = 0, range[1] = 255, range[2] = 255;
                offset[0] = 0, offset[1] = pow2(precision[1] - 1), offset[2] = pow2(precision[2] - 1);
            }
        }
        if (space == 14 && illuminant == 0 && temperature == 0)
            illuminant = 0x443530;
    }
}

bool jp2_colour::get_curve(int c, int k, float* out) const
{
    const j2_icc_profile* p = state->icc.get();
    if (!p || c < 0 || c > 2 || k < 1 || k > 20 || !(p->input || p->display) || !p->pcs_is_xyz || p->not_simple ||
        (p->num_colours != 1 && p->num_colours != 3) || p->trc[c] == 0)
        return false;
    const uint32_t at = p->trc[c];
    const uint32_t count = p->word(at);
    const int n = 1 << k;
    auto point = [&](uint32_t i) {
        const uint8_t* q = p->bytes.data() + at + 4 + 2 * i;
        return float(uint32_t(q[0]) << 8 | q[1]);
    };
    for (int i = 0; i < n; ++i) {
        const double x = double(i) / double(n - 1);
        if (count == 0)
            out[i] = float(x);
        else if (count == 1)
            out[i] = float(std::pow(x, double(point(0)) / 256.0));
        else {
            const double pos = x * double(count - 1);
            uint32_t lo = uint32_t(pos);
            if (lo >= count - 1)
                lo = count - 2;
            const double frac = pos - lo;
            out[i] = float((point(lo) * (1 - frac) + point(lo + 1) * frac) / 65535.0);
        }
    }
    return true;
}

bool jp2_colour::get_colorant_matrix(float* m) const
{
    const j2_icc_profile* p = state->icc.get();
    if (!p || p->num_colours != 3 || !(p->input || p->display) || !p->pcs_is_xyz || p->not_simple)
        return false;
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            m[3 * row + col] = float(int32_t(p->word(p->colorant[col] + 4 * uint32_t(row)))) / 65536.0f;
    return true;
}
