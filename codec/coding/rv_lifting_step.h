// One lifting step of a wavelet kernel in the forms the synthesis works with, and the
// line arithmetic that applies it: 32-bit floats, 32-bit reversible integers and 16-bit
// samples (general integer form, or the exact 16-bit W9X7 form on vector-capable
// processors). Vertical and horizontal synthesis both reduce to "update a target run
// of samples from the step's source runs"; the callers line the sources up.
#pragma once

#include "codec/core/rv_kernel_description.h"
#include "codec/core/rvd_line_buf.h"

#include <cstdint>
#include <vector>

struct rv_lifting_step {
    std::uint8_t step_idx = 0;
    std::uint8_t support_length = 0;
    std::uint8_t downshift = 0;
    std::uint8_t extend = 0;        // samples of extension the source half needs at each end
    std::int16_t support_min = 0;
    std::int32_t lift_offset = 0;   // 32 bits: reversible offsets may exceed 16 bits
    std::vector<float> coefficients;
    std::vector<int> icoeffs;
    bool vector_form = false;
    bool reversible = false;
    std::uint8_t kernel_id = 2;     // 0 W9X7, 1 W5X3, other explicit kernels

    // Builds the fixed-point form from a kernel's step description and the step's taps.
    // Irreversible steps choose their own downshift from the largest tap; reversible
    // steps keep the description's downshift and offset. Raises a codec error for a step
    // that cannot be applied (no taps, more than 255, or a downshift above 31).
    void init(int step_idx, const rvd_kernel_step_info& info, const float* taps,
              bool reversible, int kernel_id);
};

// Multipliers and offsets of the exact 16-bit W9X7 steps, built at module start-up; one
// set for synthesis and an identical one for the analysis of the compression side.
struct rv_w97_consts {
    std::int16_t m[4];
    std::int16_t o[4];
};
extern rv_w97_consts rv_w97_synthesis_consts;
extern rv_w97_consts rv_w97_analysis_consts;
void rv_init_w97_consts();

// Synthesis update of `count` target samples: y[n] -= lift(src[0][n], ..., src[L-1][n])
// where L is the step's support length. 16-bit updates take the exact W9X7 form when the
// step belongs to W9X7 and rvd_mmx_level is at least 1, the general form otherwise.
void rv_lift_floats(const rv_lifting_step& step, float* target, const float* const* src, int count);
void rv_lift_ints(const rv_lifting_step& step, std::int32_t* target, const std::int32_t* const* src,
                  int count);
void rv_lift_shorts(const rv_lifting_step& step, std::int16_t* target,
                    const std::int16_t* const* src, int count);

// The row (or column) that stands for index `i` outside [first, last]: a whole-sample
// mirror, repeated until inside, or without symmetric extension the nearest index inside
// with the same parity.
int rv_extend_index(int i, int first, int last, bool symmetric);

// Fills `extend` samples beyond each end of one half of an interleaved line whose
// region covers columns first..last (inclusive) and whose halves are the even (low) and
// odd (high) columns. Symmetric extension mirrors about the region's first and last
// columns; otherwise the half's end samples repeat. The half needs at least one sample
// and extensions of `extend` samples.
void rv_extend_half(rvd_line_buf& half, bool high, int first, int last, int extend, bool symmetric);

// Runs the steps (analysis order 0..num_steps-1, applied last first) over the two halves
// of one interleaved line covering columns first..last (both halves non-empty), each
// step extending its source half first.
void rv_horizontal_synthesis(const rv_lifting_step* steps, int num_steps, bool symmetric,
                             rvd_line_buf& low, rvd_line_buf& high, int first, int last);

// One vertical step over whole lines: `target` from the support_length source lines,
// already chosen by the caller with rv_extend_index.
void rv_vertical_step(const rv_lifting_step& step, rvd_line_buf& target,
                      const rvd_line_buf* const* src, int width);

// Interleaves the halves of a line covering columns first..last into `out` from sample
// `offset`, shifting 16-bit samples left by `upshift`. A reversible line of a single odd
// column has its sample halved.
void rv_interleave(const rvd_line_buf& low, const rvd_line_buf& high, int first, int last,
                   rvd_line_buf& out, int offset, int upshift, bool reversible);

// Halves `width` samples from `offset` (arithmetic shift right by one): a reversible
// node of a single odd row delivers its row this way.
void rv_halve_samples(rvd_line_buf& line, int offset, int width);

// The node's headroom up-shift on 16-bit lines: expected peaks of every step of the
// horizontal then the vertical direction (normalisation times the BIBO gains, entry 0 the
// input of a direction and k + 1 the output of step k, chained from one direction into
// the next; a vector-form step also counting twice the preceding value) are halved,
// with `normalization`, until none exceeds 7.6. Null gains mean no such direction.
int rv_headroom_upshift(float& normalization, const double* horz_gains,
                        const rv_lifting_step* horz_steps, int horz_num_steps,
                        const double* vert_gains, const rv_lifting_step* vert_steps,
                        int vert_num_steps);
