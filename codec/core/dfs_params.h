// Part-2 downsampling factor styles (DFS marker segment); main header only.
#pragma once

#include "codec/core/rvd_params.h"

class dfs_params : public rvd_params {
public:
    dfs_params();
    rvd_params* new_object() override { return new dfs_params; }
    void copy_with_xforms(rvd_params*, int, int, bool, bool, bool) override {}
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    void finalize(bool after_reading = false) override;
};

// Split codes in ADS and DFS segments and the attribute values (X=0, H=1, V=2, B=3).
int rv_split_from_segment(int code);
int rv_split_to_segment(int value);
// Packs 2-bit values four to a byte, the first in the two most significant bits.
void rv_pack_splits(const int* values, int count, uint8_t* out);
