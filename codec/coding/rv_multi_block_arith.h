// Per-row arithmetic of the multi-component transform blocks, apart from their
// initialisation: each form holds the coefficients a block settles on and computes its
// lines for one row. Inputs are given as pointers, null for an absent input.
#pragma once

#include "codec/coding/rv_lifting_step.h"
#include "codec/coding/rv_multi_line_ops.h"

#include <cstdint>
#include <vector>

// 16-bit coefficients with a common downshift d: the largest magnitude m (at least
// m_floor) is doubled until it exceeds 16383, each coefficient is floor(c 2^d + 0.5)
// clipped to 16 bits; masked-out coefficients (mask[i] false) are 0 and do not count.
// m_floor 0 with all coefficients zero gives d = 0.
int rv_make_16bit_coefficients(const float* c, const bool* mask, int count, float m_floor,
                               int16_t* out);

// True when a coefficient cannot be held in the 16-bit form without clipping, so the
// block must run on 32-bit lines.
bool rv_coefficients_need_precise(const float* c, int count);

// Irreversible matrix block.
struct rv_matrix_arith {
    int num_inputs = 0;
    int num_outputs = 0;
    std::vector<float> coefficients; // num_outputs x num_inputs, row-major by output

    // Scales column i by 2^Bi and row j by 2^-Bj for every known depth; returns the
    // needs-precise verdict: any depth unset or any line already precise, or a
    // normalised coefficient beyond the 16-bit form.
    bool normalize(const rv_line_samples* const* inputs, const rv_line_samples* outputs);
    // Folds a constant input away: every output's real offset gains coefficient(j, i) x
    // the input's value, so the input costs nothing per row.
    void fold_constant_input(int i, float value, float* offsets) const;
    // One row of every output: offsets[j] is output j's real offset.
    void synthesize(const rv_line_samples* const* inputs, const rv_line_samples* outputs,
                    const float* offsets);
    // The least-squares inverse over the given outputs (rows) and present inputs (cols):
    // `inverse` maps those outputs back to those inputs. False when the normal equations
    // are near singular (a Cholesky pivot at or below 1e-13 of the largest diagonal entry).
    bool least_squares_inverse(const std::vector<int>& rows, const std::vector<int>& cols,
                               rv_matrix_arith& inverse) const;

    std::vector<int16_t> coeffs16; // made on first 16-bit row
    int downshift = 0;
    std::vector<int64_t> acc64;
    std::vector<int32_t> acc32;
};

// Reversible matrix block: N internal lines and N + 1 lifting-like steps.
struct rv_rxform_arith {
    int n = 0;
    std::vector<int> coefficients; // N rows x (N + 1) columns, row-major

    // True when a coefficient lies outside -32767..32767.
    bool needs_precise() const;
    // Runs every step over the internal lines (reversible, all of one sample width),
    // then adds offsets[t] to line t. Raises the divisor error.
    void synthesize(const rv_line_samples* const* inputs, const rv_line_samples* lines,
                    const int* offsets);
    // The exact inverse without the offsets: the steps undone last first over the lines,
    // which are then copied to the present inputs.
    void analyze(const rv_line_samples* lines, const rv_line_samples* const* inputs);

    std::vector<int64_t> acc;
};

// Dependency block: line r predicted from lines 0 .. r-1.
struct rv_dependency_arith {
    int n = 0;
    bool reversible = true;
    std::vector<int> int_coefficients;    // reversible: N x N lower triangle with diagonal
    std::vector<int> int_offsets;
    std::vector<float> real_coefficients; // irreversible: N x N strictly lower triangle
    std::vector<float> real_offsets;

    // Irreversible form: scales below-diagonal column r by 2^Br and row r (and its
    // offset) by 2^-Br for each output depth, filling unset output depths from the
    // inputs; returns the needs-precise verdict. Reversible form: the range check.
    bool normalize(const rv_line_samples* const* inputs, rv_line_samples* outputs);
    // Rows 0 .. N-1 in order. Raises the divisor error (reversible form).
    void synthesize(const rv_line_samples* const* inputs, const rv_line_samples* lines);
    // The inverse without the outputs' own offsets; the present inputs receive the lines
    // less the block's offsets. Exact for the reversible and the 16-bit forms, whose
    // predictions are recomputed from the same integers.
    void analyze(const rv_line_samples* lines, const rv_line_samples* const* inputs);

    std::vector<int16_t> coeffs16;
    int downshift = 0;
    bool have16 = false;
    std::vector<int64_t> acc;

private:
    void make_16bit_coefficients();
    // Irreversible row r's prediction from lines 0 .. r-1, added (sign 1) or removed (-1).
    void predict_real(const rv_line_samples* lines, int r, int sign);
};

// DWT block, one level: loading a subband line into its work line, and the inverse
// lifting across the level's work lines.
//
// Loads `src` (null: absent, giving zeros) into `work`. A reversible block copies the
// integers; an irreversible one scales by `gain` while converting units: 32-bit work
// lines by gain / 2^Bw (reversible source) or gain 2^Bs / 2^Bw (real source); 16-bit
// work lines by a 16-bit multiplier above 16383 and at most 32767 with a matching shift.
void rv_dwt_load(const rv_line_samples& work, const rv_line_samples* src, bool reversible, float gain);
// The inverse of rv_dwt_load for compression: `work` back into `src` (not null).
void rv_dwt_unload(const rv_line_samples& work, const rv_line_samples& src, bool reversible, float gain);
// Inverts the steps (last first) over the `count` work lines of one level, positions
// counted from the level's first line: even positions low-pass, odd high-pass; sources
// beyond the ends are mirrored (symmetric) or repeat the nearest same-parity line. A
// level of one line is left as loaded: its only position is low-pass. Every work line
// holds `width` samples.
void rv_dwt_synthesize_level(const rv_lifting_step* steps, int num_steps, bool symmetric,
                             rvd_line_buf* work, int count, int width);
