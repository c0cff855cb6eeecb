// Affine warp of a source rectangle into a destination rectangle through a 2x3 matrix,
// with nearest, linear or cubic interpolation and optional smoothing of slanted edges.
//
// Statuses: 0 done; -8 null pointer; -6 size, origin or rectangle end out of range; -14 row
// step; -22 interpolation; -56 singular coefficients or bad quadrangle; -57 source
// rectangle under 2 pixels; 29 source rectangle outside the image; 30 nothing to write.
// Format code: layout (0 grey, 1 RGB, 2 RGB + kept fourth, 3 three planes, 4 RGBA, 5 four
// planes) + 8 x sample type (0 8-bit, 1 float, 2 16-bit). Interpolation word: 1 nearest,
// 2 linear, 4 cubic; bit 31 asks for the smooth-edge pass.
#pragma once

#include "image/WarpKernels.h"

#include <cstddef>
#include <cstdint>

// Processor variant of the entry points: 0 generic, 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3. Read and
// written only through warp_variant_index() and warp_store_variant_index() (WarpVariants.h).
extern int cpu_variant_index;

enum warp_layout {
    warp_layout_gray = 0,
    warp_layout_rgb = 1,
    warp_layout_rgbx = 2, // RGB plus a fourth sample that is kept
    warp_layout_planar3 = 3,
    warp_layout_rgba = 4,
    warp_layout_planar4 = 5,
};

enum warp_sample_type {
    warp_sample_8u = 0,
    warp_sample_32f = 1,
    warp_sample_16u = 2,
};

// Format code: layout + 8 x sample type.
enum warp_format {
    warp_gray8 = 0,
    warp_rgb8 = 1,
    warp_rgbx8 = 2,
    warp_planar3_8 = 3,
    warp_rgba8 = 4,
    warp_planar4_8 = 5,
    warp_gray32f = 8,
    warp_rgb32f = 9,
    warp_rgbx32f = 10,
    warp_planar3_32f = 11,
    warp_rgba32f = 12,
    warp_planar4_32f = 13,
    warp_gray16 = 16,
    warp_rgb16 = 17,
    warp_rgbx16 = 18,
    warp_planar3_16 = 19,
    warp_rgba16 = 20,
    warp_planar4_16 = 21,
};

enum warp_interpolation {
    warp_nearest = 1,
    warp_linear = 2,
    warp_cubic = 4,
};

constexpr int warp_format_code(int layout, int type) { return layout + 8 * type; }
// Kernel slot of a format and interpolation in every kernel table.
constexpr int warp_kernel_slot(int format, int interpolation)
{
    return ((format & 7) + 6 * (format >> 3)) * 3 + interpolation / 2;
}

constexpr int warp_ok = 0;
constexpr int warp_null_pointer = -8;
constexpr int warp_bad_size = -6;
constexpr int warp_bad_step = -14;
constexpr int warp_bad_interpolation = -22;
constexpr int warp_bad_coefficients = -56;
constexpr int warp_source_too_small = -57;
constexpr int warp_source_outside = 29;
constexpr int warp_nothing_to_do = 30;
constexpr int warp_smooth_edges_bit = static_cast<int>(0x80000000u);

// Entry points. Source: origin, full width and height, row step, rectangle (x, y, w, h).
// Destination: origin, row step, rectangle. Forward coefficients X = c0 x + c1 y + c2,
// Y = c3 x + c4 y + c5.
typedef int (*warp_entry)(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                          int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs,
                          int interpolation);

int warp_affine_gray8(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,
                      void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs,
                      int interpolation);
int warp_affine_rgb8(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,
                     void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs,
                     int interpolation);
int warp_affine_rgbx8(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh,
                      void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs,
                      int interpolation);
int warp_affine_gray16(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                       int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, const double* coeffs,
                       int interpolation);

int warp_affine_gray8_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                              int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh,
                              const double* coeffs, int interpolation);
int warp_affine_rgb8_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                             int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh,
                             const double* coeffs, int interpolation);
int warp_affine_rgbx8_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                              int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh,
                              const double* coeffs, int interpolation);
int warp_affine_gray16_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy,
                               int sw, int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh,
                               const double* coeffs, int interpolation);

// Any of the 18 formats. For layouts 3 and 5, src and dst are arrays of plane pointers.
int warp_affine_generic(const void* src, int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw,
                        int sh, void* dst, int dstStep, int dx, int dy, int dw, int dh, int format,
                        const double* coeffs, int interpolation);

// The driver behind warp_affine_generic, shared by the processor-specific variants: their
// kernel table, and whether cubic kernels get a coordinate buffer (8 bytes per pixel of the
// widest span) as their last argument. Without it, or for other interpolations, they get null.
int warp_affine_with_kernels(const warp_kernel_table& kernels, bool coordinateBuffer, const void* src,
                             int srcWidth, int srcHeight, int srcStep, int sx, int sy, int sw, int sh, void* dst,
                             int dstStep, int dx, int dy, int dw, int dh, int format, const double* coeffs,
                             int interpolation);

// Set-up routines, in calling order.

// Corners (x0, y0), (x1, y0), (x1, y1), (x0, y1) mapped forward: quad = x, y pairs.
void warp_map_rect_corners(const double* coeffs, double x0, double y0, double x1, double y1, double quad[8]);
// Maps the inclusive source bounds and checks the quadrangle: warp_check_quadrangle's result,
// or -5 when a corner is not finite or lies beyond 2^30.
int warp_map_source_roi(const double* coeffs, int x0, int y0, int x1, int y1, double quad[8]);
// -5 degenerate, -4 not convex, 1 positive orientation, 0 negative.
int warp_check_quadrangle(const double quad[8]);
// Inverse coefficients (direction 0) or forward ones (direction 1) of the three first
// corners against the inclusive source bounds; returns the orientation flag.
int warp_inverse_from_quadrangle(const double quad[8], int x0, int y0, int x1, int y1, int direction,
                                 double out[6]);

// Room of a polygon work array: the clip passes never need more.
constexpr int warp_max_vertices = 64;

// Clip passes over a polygon of x, y pairs; each returns the new vertex count.
int warp_clip_min_y(const double* in, int n, double* out, double bound);
int warp_clip_max_y(const double* in, int n, double* out, double bound);
int warp_clip_min_x(const double* in, int n, double* out, double bound);
int warp_clip_max_x(const double* in, int n, double* out, double bound);
// Clips poly (room for warp_max_vertices) in place to the inclusive bounds; updates count.
void warp_clip_quadrangle(double* poly, int* count, int X0, int Y0, int X1, int Y1);

// 32-byte aligned block of count 4-byte words; null when count < 1, on overflow or failure.
void* warp_alloc_aligned(ptrdiff_t count);
// The same with the count in bytes; null when count < 1 or on failure.
void* warp_alloc_aligned_bytes(size_t count);
void warp_free_aligned(void* block);

// Test seam of the two allocations above: counts blocks handed out and released, and makes
// the failNext-th allocation from now fail (0: none). Off unless a test sets it.
struct warp_alloc_seam {
    int allocations;
    int releases;
    int failNext;
};
extern warp_alloc_seam warp_alloc_counters;

// Span table: first and last column per row from firstRow to lastRow, owned.
struct warp_span_table {
    int32_t* spans = nullptr;
    int firstRow = 0;
    int lastRow = -1;
    warp_span_table() = default;
    warp_span_table(const warp_span_table&) = delete;
    warp_span_table& operator=(const warp_span_table&) = delete;
    ~warp_span_table() { warp_free_aligned(spans); }
};

// Fills rowCount entries from firstRow for a convex polygon; columns kept inside X0..X1.
void warp_fill_spans(const double* poly, int n, int orientation, int firstRow, int rowCount, int X0, int X1,
                     int32_t* table);
// False when the quadrangle leaves no whole row and column in the bounds or allocation fails.
bool warp_build_spans(const double quad[8], int orientation, int X0, int Y0, int X1, int Y1,
                      warp_span_table& out);

// The destination pixels a warp with these arguments (and valid pointers, steps, format and
// interpolation) fills: warp_ok with each row's span in `out`, or the status that warp
// returns having written nothing. Every processor variant fills each span whole and writes
// nothing outside the spans but the smooth-edge blends.
int warp_affine_spans(int srcWidth, int srcHeight, int sx, int sy, int sw, int sh, int dx, int dy, int dw, int dh,
                      const double* coeffs, warp_span_table& out);

// Blends every channel of pixel (tx, ty) with pixel (nx, ny): target = t wt + n wn.
void warp_blend_pixel(void* dst, int dstStep, int format, int tx, int ty, double wt, int nx, int ny, double wn);
// Softens the slanted edges of the warped area inside the inclusive bounds.
void warp_smooth_edges(void* dst, int dstStep, int format, const double quad[8], int X0, int Y0, int X1, int Y1,
                       int orientation);
