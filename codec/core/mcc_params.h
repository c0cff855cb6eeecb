// Multi-component transform stages (MCC marker segment): one object per tile and stage
// index, listing the stage's input and output components and its transform blocks.
#pragma once

#include "codec/core/rvd_params.h"

// Transform kinds of the first `Mstage_xforms` field.
enum : int {
    Mxform_DEP = 0,
    Mxform_DWT = 3,
    Mxform_MATRIX = 9,
    Mxform_MAT = 1000 // reversible matrix in the older, transposed coefficient order
};

class mcc_params : public rvd_params {
public:
    mcc_params();
    rvd_params* new_object() override { return new mcc_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;

    // Component indices allowed in `Mstage_inputs` and `Mstage_outputs`.
    static constexpr int max_component_index = 16383;
};
