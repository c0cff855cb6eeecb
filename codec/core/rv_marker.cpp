#include "codec/core/rv_marker.h"

#include "codec/core/rvd_message.h"

#include <cstdio>

namespace {

struct marker_name {
    uint16_t code;
    const char* name;
};

const marker_name known_markers[27] = {
    {RV_SOC, "SOC"}, {RV_SOT, "SOT"}, {RV_SOD, "SOD"}, {RV_SOP, "SOP"}, {RV_EPH, "EPH"},
    {RV_EOC, "EOC"}, {RV_SIZ, "SIZ"}, {RV_CBD, "CBD"}, {RV_MCT, "MCT"}, {RV_MCC, "MCC"},
    {RV_MCO, "MCO"}, {RV_COD, "COD"}, {RV_COC, "COC"}, {RV_ADS, "ADS"}, {RV_DFS, "DFS"},
    {RV_ATK, "ATK"}, {RV_QCD, "QCD"}, {RV_QCC, "QCC"}, {RV_RGN, "RGN"}, {RV_POC, "POC"},
    {RV_CRG, "CRG"}, {RV_COM, "COM"}, {RV_TLM, "TLM"}, {RV_PLM, "PLM"}, {RV_PLT, "PLT"},
    {RV_PPM, "PPM"}, {RV_PPT, "PPT"}};

} // namespace

const char* rv_marker_name(uint16_t code)
{
    for (const marker_name& m : known_markers)
        if (m.code == code)
            return m.name;
    return nullptr;
}

void rv_print_marker_code(uint16_t code, rvd_message& out)
{
    const char* name = rv_marker_name(code);
    if (name != nullptr) {
        out << "<" << name << ">";
        return;
    }
    bool old_hex = out.get_hex_mode();
    out.set_hex_mode(true);
    out << "0x" << int(code);
    out.set_hex_mode(old_hex);
}

rv_marker::rv_marker(const rv_marker& other)
    : source(nullptr), resilient(other.resilient), code(other.code), length(other.length),
      max_length(other.length),
      buf(other.buf.begin(), other.buf.begin() + (other.length > 0 ? other.length : 0))
{
}

bool rv_marker::read(bool exclude_stuff_bytes, bool skip_to_marker)
{
    source->disable_marker_throwing();
    code = 0;
    length = 0;
    uint8_t byte;
    for (;;) {
        if (!source->get(byte))
            return fail();
        if (byte != 0xFF) {
            if (!skip_to_marker) {
                source->putback_byte(byte);
                return fail();
            }
            continue;
        }
        uint8_t b;
        if (!source->get(b))
            return fail();
        uint16_t c = uint16_t(0xFF00 | b);
        bool candidate = !exclude_stuff_bytes || b > 0x8F;
        int seg_length = -1; // the length field, once read

        if (candidate && (c == RV_SOP || c == RV_SOT)) {
            uint8_t l1, l2;
            if (!source->get(l1))
                return fail();
            if (!source->get(l2)) {
                source->putback_byte(l1);
                return fail();
            }
            seg_length = (l1 << 8) | l2;
            int expected = (c == RV_SOP) ? 4 : 10;
            if (seg_length != expected) {
                source->putback(uint16_t(seg_length));
                rvd_warning w("Ravade Core Warning:\n");
                w << ((c == RV_SOP) ? "Skipping over corrupt SOP marker code!"
                                    : "Skipping over corrupt SOT marker code!");
                candidate = false;
            }
        } else if (candidate && c >= 0xFF30 && c <= 0xFF3F) {
            if (!encountered_skip_code) {
                encountered_skip_code = true;
                rvd_warning w("Ravade Core Warning:\n");
                w << "Encountered one or more marker codes in the range 0xFF30 to 0xFF3F.  "
                     "These are to be ignored.";
            }
            continue;
        } else if (candidate && c == RV_EOC) {
            uint8_t next;
            if (!source->get(next))
                return fail();
            source->putback_byte(next);
            if (!resilient) {
                source->set_exhausted();
                return fail();
            }
            rvd_warning w("Ravade Core Warning:\n");
            w << "Disregarding non-terminal EOC marker.";
            candidate = false;
        }

        if (!candidate) {
            if (!skip_to_marker) {
                source->putback(c);
                return fail();
            }
            continue;
        }

        code = c;
        if (c == RV_SOC || c == RV_SOD || c == RV_EOC || c == RV_EPH) {
            length = 0;
            return true;
        }
        if (rv_marker_name(c) == nullptr) {
            rvd_warning w("Ravade Core Warning:\n");
            w << "Unrecognized/unimplemented marker code, ";
            rv_print_marker_code(c, w);
            w << ", found in code-stream.";
        }
        if (seg_length < 0) {
            uint8_t l1, l2;
            if (!source->get(l1) || !source->get(l2))
                return fail();
            seg_length = (l1 << 8) | l2;
        }
        int body = seg_length - 2;
        if (body < 0)
            return fail();
        if (body > max_length) {
            max_length = 2 * body;
            buf.resize(size_t(max_length));
        }
        if (source->read(buf.data(), body) != body)
            return fail();
        length = body;
        return true;
    }
}
