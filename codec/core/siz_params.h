// Image and tile geometry of a codestream (SIZ and CBD marker segments); the root of
// every parameter tree.
#pragma once

#include "codec/core/rvd_params.h"

// Part-2 feature flags of `Sextensions`.
enum : int {
    RVD_SIZ_EXT_DC = 1,
    RVD_SIZ_EXT_VARQ = 2,
    RVD_SIZ_EXT_TCQ = 4,
    RVD_SIZ_EXT_VIS = 8,
    RVD_SIZ_EXT_SSO = 16,
    RVD_SIZ_EXT_DECOMP = 32,
    RVD_SIZ_EXT_ANY_KNL = 64,
    RVD_SIZ_EXT_SYM_KNL = 128,
    RVD_SIZ_EXT_MCT = 256,
    RVD_SIZ_EXT_CURVE = 512,
    RVD_SIZ_EXT_ROI = 1024,
    RVD_SIZ_EXT_PRECQ = 2048
};

class siz_params : public rvd_params {
public:
    siz_params();
    rvd_params* new_object() override { return nullptr; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;

private:
    std::string attributes_text();
    [[noreturn]] void fail_with_attributes(const std::string& text);
};
