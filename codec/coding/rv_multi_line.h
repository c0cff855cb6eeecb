// One line-valued node of the multi-component network: a codestream component, a block
// output or a constant output, with the flags that decide how its samples are held.
#pragma once

#include "codec/coding/rv_multi_line_ops.h"
#include "codec/core/rvd_coords.h"
#include "codec/core/rvd_line_buf.h"

class rv_multi_block;

struct rv_multi_line {
    rvd_line_buf line;
    rvd_coords size;            // (0, 0) until known
    int row_idx = -1;           // row the buffer holds
    int num_consumers = 0;      // blocks and output slots reading the line
    int outstanding_consumers = 0;
    bool reversible = false;         // exact integers
    bool need_irreversible = false;  // some producer or consumer treats it as real
    bool need_precise = false;       // 32-bit samples
    bool is_constant = false;        // holds only its offsets
    int bit_depth = 0;               // 0 until known
    int rev_offset = 0;              // sample units
    float irrev_offset = 0.0f;       // normalised units once the network is normalised
    rv_multi_line* bypass = nullptr; // the line standing for this one after simplification
    rv_multi_block* block = nullptr; // producer; null for codestream and constant lines
    int collection_idx = -1;         // codestream component position, else -1

    // The line's samples for the block arithmetic.
    rv_line_samples samples() const { return rv_samples_of(line, bit_depth); }
    // The line at the end of the bypass chain.
    rv_multi_line* resolve()
    {
        rv_multi_line* l = this;
        while (l->bypass != nullptr)
            l = l->bypass;
        return l;
    }
};
