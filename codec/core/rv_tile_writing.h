// Writing state of a codestream beyond its parameters: the informative comments that
// flushing maintains.
#pragma once

#include <cstdint>

class rv_codestream;

struct rv_codestream_writing {
    int layer_info_reserved = 0; // segment length kept for the layer-information comment
    bool version_comment_added = false;
};

// Appends the version comment unless a comment already reads exactly so.
void rv_add_version_comment(rv_codestream* cs, rv_codestream_writing& w);
// Drops an earlier layer-information comment and reserves room for one of n layers.
void rv_reserve_layer_info_comment(rv_codestream* cs, rv_codestream_writing& w, int num_layers);
// Appends the layer-information comment, sized to the reserved length.
void rv_write_layer_info_comment(rv_codestream* cs, const rv_codestream_writing& w, int num_layers,
                                 const int64_t* layer_bytes, const uint16_t* thresholds);
