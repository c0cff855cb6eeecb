// Quantisation of the image, a tile, a component or a tile-component (QCD and QCC
// marker segments), with the derivation of ranges and step sizes from the kernels.
#pragma once

#include "codec/core/rvd_params.h"

#include <vector>

class qcd_params : public rvd_params {
public:
    qcd_params();
    rvd_params* new_object() override { return new qcd_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;

    // 16-bit exponent/mantissa form of a step size (exponent in the top 5 bits), and back.
    static int encode_step(float step);
    static float decode_step(int word);

private:
    void profile_warning();
};

// Stage patterns of every subband of a tile-component, in quantisation order (LL first,
// then each level from the lowest resolution up, its bands as the decomposition lists
// them): horizontal and vertical low-pass stage counts of the finer levels, and the
// band's own splits flagged high or low.
struct rv_band_stages {
    int h_low = 0, v_low = 0;
    std::vector<bool> h_extra, v_extra;
};
// False when the coding style is not available for (tile, component).
bool rv_band_stage_list(rvd_params* cod, int levels, std::vector<rv_band_stages>& bands);
