#include "codec/jp2/jp2_dimensions.h"

#include "codec/jp2/jp2_error.h"
#include "codec/jp2/jp2_input_box.h"

#include <cmath>
#include <cstdlib>

namespace {

int decode_depth(uint8_t b)
{
    int depth = (b & 0x7F) + 1;
    return (b & 0x80) ? -depth : depth;
}

} // namespace

void j2_dimensions::process_ihdr(jp2_input_box& box)
{
    if (num_components > 0)
        jp2_raise("Attempting to read a JP2 image header box (ihdr) into a `jp2_dimensions' object which has previously "
                  "been initialized!");
    uint32_t h = 0, w = 0;
    uint16_t nc = 0;
    uint8_t bpc = 0, c = 0, unk = 0, ip = 0;
    if (!box.read_word32(h) || !box.read_word32(w) || !box.read_word16(nc) || !box.read_byte(bpc) ||
        !box.read_byte(c) || !box.read_byte(unk) || !box.read_byte(ip))
        jp2_raise("Malformed image header box (ihdr) found in JP2-family data source.  Not all fields were present.");
    if (!box.close())
        jp2_raise("Malformed image header box (ihdr) found in JP2-family data source.  The box appears to be too long.");
    if (nc < 1 || nc > 16384 || c > 9 || unk > 1 || ip > 1 || (bpc != 255 && (bpc & 0x7F) > 37))
        jp2_raise("Malformed image header box (ihdr) found in JP2-family data source.  The box contains fields which do "
                  "not conform to their legal range.");
    if ((h | w) & 0x80000000u)
        jp2_raise("Sorry: Cannot process JP2-family data sources whose image header box contains height or width "
                  "values larger than 2^{31}-1.");
    height = h;
    width = w;
    num_components = nc;
    compression_type = c;
    unknown_space = unk;
    ipr = ip;
    bit_depths.assign(nc, bpc == 255 ? 0 : decode_depth(bpc));
}

void j2_dimensions::process_bpcc(jp2_input_box& box)
{
    for (int c = 0; c < num_components; ++c) {
        uint8_t b;
        if (!box.read_byte(b))
            jp2_raise("Malformed bits per component (bpcc) box found in JP2-family data source.  The box contains "
                      "insufficient bit-depth specifiers.");
        if ((b & 0x7F) > 37)
            jp2_raise("Malformed bits per component (bpcc) box found in JP2-family data source.  The box contains an "
                      "illegal bit-depth specifier.  Bit depths may not exceed 38 bits per sample.");
        bit_depths[size_t(c)] = decode_depth(b);
    }
    if (!box.close())
        jp2_raise("Malformed bits per component (bpcc) box found in JP2-family data source.  The box appears to be too "
                  "long.");
}

void j2_dimensions::finalize()
{
    bool ok = num_components >= 1 && num_components <= 16384;
    for (int d : bit_depths)
        ok = ok && d != 0 && d >= -38 && d <= 38;
    if (!ok)
        jp2_raise("Incomplete or invalid dimensional information provided when initializing a `jp2_dimensions' object.");
    if (compression_type < 0 || compression_type > 9)
        jp2_raise("Invalid compression type value provided when initializing a `jp2_dimensions' object.");
}

int jp2_dimensions::get_bit_depth(int c) const
{
    return std::abs(state->bit_depths.at(size_t(c)));
}

bool jp2_dimensions::get_signed(int c) const
{
    return state->bit_depths.at(size_t(c)) < 0;
}

bool j2_resolution::process_res(jp2_input_box& box)
{
    if (display_ratio > 0)
        jp2_raise("JP2-family data source contains multiple instances of the resolution (res) box within the same JP2 "
                  "header box or compositing layer header box!");
    jp2_input_box sub;
    while (sub.open(&box)) {
        if (!sub.contents_available()) {
            sub.close();
            box.seek(0);
            return false;
        }
        if (sub.get_box_type() == jp2_capture_resolution_4cc)
            process_sub(sub, true);
        else if (sub.get_box_type() == jp2_display_resolution_4cc)
            process_sub(sub, false);
        else
            sub.close();
    }
    if (!(capture_res > 0) && !(display_res > 0))
        jp2_raise("The JP2 resolution box must contain at least one of the capture or display resolution sub-boxes.");
    if (!box.close())
        jp2_raise("Malformed resolution box found in JP2-family data source.  Box appears to be too long.");
    return true;
}

void j2_resolution::process_sub(jp2_input_box& sub, bool capture)
{
    uint16_t vn = 0, vd = 0, hn = 0, hd = 0;
    uint8_t ve = 0, he = 0;
    if (!sub.read_word16(vn) || !sub.read_word16(vd) || !sub.read_word16(hn) || !sub.read_word16(hd) ||
        !sub.read_byte(ve) || !sub.read_byte(he) || !vn || !vd || !hn || !hd)
        jp2_raise("Malformed capture or display resolution sub-box found in JP2-family data source.  Insufficient or "
                  "illegal data fields.");
    auto scaled = [](uint16_t n, uint16_t d, uint8_t e) {
        float v = float(n) / float(d);
        int exp = int8_t(e);
        for (; exp > 0; --exp)
            v *= 10.0f;
        for (; exp < 0; ++exp)
            v *= 0.1f;
        return v;
    };
    const float vertical = scaled(vn, vd, ve);
    const float ratio = scaled(hn, hd, he) / vertical;
    if (capture) {
        capture_ratio = ratio;
        capture_res = vertical;
        if (!(display_res > 0))
            display_ratio = ratio;
    } else {
        display_ratio = ratio;
        display_res = vertical;
        if (!(capture_res > 0))
            capture_ratio = ratio;
    }
    if (!sub.close())
        jp2_raise("Malformed capture or display resolution sub-box found in JP2-family data source.  Box appears to be "
                  "too long.");
}

void j2_resolution::finalize()
{
    // Extreme exponents overflow the float: such a ratio is as unusable as a negative one.
    if (!(display_ratio > 0) || !std::isfinite(display_ratio))
        display_ratio = 1;
    if (!(capture_ratio > 0) || !std::isfinite(capture_ratio))
        capture_ratio = 1;
}
