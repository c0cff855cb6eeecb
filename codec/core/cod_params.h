// Coding style of the image, a tile, a component or a tile-component (COD and COC
// marker segments), with the codec for `Cdecomp` decomposition structures.
#pragma once

#include "codec/core/rvd_params.h"

class cod_params : public rvd_params {
public:
    cod_params();
    rvd_params* new_object() override { return new cod_params; }
    void copy_with_xforms(rvd_params* source, int skip_components, int discard_levels,
                          bool transpose, bool vflip, bool hflip) override;
    int write_marker_segment(rvd_output* out, rvd_params* last_marked, int tpart_idx) override;
    bool check_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                              int& c_idx) override;
    bool read_marker_segment(uint16_t code, int num_bytes, const uint8_t* bytes,
                             int tpart_idx) override;
    int custom_parse_field(const char* string, const char* name, int field_idx,
                           int& value) override;
    void custom_textualize_field(rvd_message& output, const char* name, int field_idx,
                                 int value) override;
    void finalize(bool after_reading = false) override;

    // Writes the text form of a `Cdecomp` value (at most 20 characters and a zero).
    static void textualize_decomp(char buf[], int val);
    static int transpose_decomp(int val);
    static void get_max_decomp_levels(int val, int& horizontal, int& vertical);
    // Fills one 16-bit descriptor per subband of the level (at most 49) and returns their
    // number, the low-pass band included.
    static int expand_decomp_bands(int val, int16_t descriptors[]);
    static bool is_valid_decomp_terminator(int val);
    // Parses the text form; 0 characters consumed on any syntax error.
    static int parse_decomp(const char* text, int& val);

private:
    void profile_warning();
};
