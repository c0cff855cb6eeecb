// Scalar model of the processor-specific row kernels, written from their arithmetic rules
// with plain float and double operations. Nearest and linear: positions as running sums
// (single precision for the SSE table, double for the others), truncated indices with the
// edge rule and the bounds, 14-bit fixed point for 8-bit samples, single precision
// otherwise. Cubic: points rounded to single precision, the 4 x 4 window with its start held
// to the source, table weights at 1/512 pixel for 8-bit samples, single-precision weight
// polynomials otherwise.
#pragma once

#include <cstdint>

namespace warpmodel {

// One row kernel call, arguments as the real kernels take them. interpolation 1, 2 or 4.
void RowKernel(bool singlePrecision, int format, int interpolation, const void* src, void* dst, int srcStep,
               int dstStep, int firstRow, int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax);

// A whole warp: the shared set-up routines, then RowKernel. Only for arguments that pass
// every check; returns 0, or 30 when nothing is written.
int Warp(bool singlePrecision, const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
         int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs,
         int interpolation);

} // namespace warpmodel
