// Reads one marker or marker segment at a time from an rv_input and decides what counts
// as a marker. Also prints marker codes into codec messages.
#pragma once

#include "codec/core/rv_input.h"

#include <cstdint>
#include <vector>

class rvd_message;

enum : uint16_t {
    RV_SOC = 0xFF4F, RV_SOT = 0xFF90, RV_SOD = 0xFF93, RV_SOP = 0xFF91, RV_EPH = 0xFF92,
    RV_EOC = 0xFFD9, RV_SIZ = 0xFF51, RV_CBD = 0xFF78, RV_MCT = 0xFF74, RV_MCC = 0xFF75,
    RV_MCO = 0xFF77, RV_COD = 0xFF52, RV_COC = 0xFF53, RV_ADS = 0xFF73, RV_DFS = 0xFF72,
    RV_ATK = 0xFF79, RV_QCD = 0xFF5C, RV_QCC = 0xFF5D, RV_RGN = 0xFF5E, RV_POC = 0xFF5F,
    RV_CRG = 0xFF63, RV_COM = 0xFF64, RV_TLM = 0xFF55, RV_PLM = 0xFF57, RV_PLT = 0xFF58,
    RV_PPM = 0xFF60, RV_PPT = 0xFF61
};

// Name of one of the 27 known codes, or null.
const char* rv_marker_name(uint16_t code);
// Writes "<NAME>" for a known code, else "0x" and the code in lower-case hexadecimal.
void rv_print_marker_code(uint16_t code, rvd_message& out);

class rv_marker {
public:
    explicit rv_marker(rv_input* src = nullptr) : source(src) {}
    // A copy keeps code, length and a private body, and reads nothing.
    rv_marker(const rv_marker& other);
    rv_marker& operator=(const rv_marker&) = delete;

    void set_source(rv_input* src) { source = src; }
    // In resilient mode an EOC followed by more bytes is passed over with a warning.
    void set_resilient(bool on) { resilient = on; }

    // Reads the next marker or marker segment; false (code and length 0) on failure.
    bool read(bool exclude_stuff_bytes = false, bool skip_to_marker = false);

    uint16_t get_code() const { return code; }
    int get_length() const { return length; }
    const uint8_t* get_bytes() const { return buf.data(); }

private:
    bool fail()
    {
        code = 0;
        length = 0;
        return false;
    }

    rv_input* source;
    bool resilient = false;
    uint16_t code = 0;
    int length = 0;
    int max_length = 0;
    std::vector<uint8_t> buf;
    bool encountered_skip_code = false;
};
