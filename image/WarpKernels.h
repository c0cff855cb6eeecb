// Row kernels of the affine warp: one per sample type, layout and interpolation, all
// instantiated from one template, and the cubic point routines they use.
#pragma once

#include <cstddef>
#include <cstdint>

// Every row kernel: source (origin, or the address of the plane-pointer array), destination
// at the first row (likewise), source step, destination step (bytes), first and last row,
// span table, inverse coefficients, source width - 1, source height - 1, and an auxiliary
// word (a coordinate buffer for processor-specific kernels; the generic ones ignore it).
typedef void (*warp_row_kernel)(const void* src, void* dst, int srcStep, int dstStep, int firstRow,
                                int lastRow, const int32_t* spans, const double* inv, int xmax, int ymax,
                                const void* aux);

#define WARP_KERNEL_DECL(name)                                                                          \
    void name(const void* src, void* dst, int srcStep, int dstStep, int firstRow, int lastRow,          \
              const int32_t* spans, const double* inv, int xmax, int ymax, const void* aux);

#define WARP_KERNEL_FAMILY(X, suffix) \
    X(warp_row_nearest_##suffix)      \
    X(warp_row_linear_##suffix)       \
    X(warp_row_cubic_##suffix)

// Order of the table: (layout + 6 x sample type) x 3 + interpolation / 2.
#define WARP_KERNEL_LIST(X)           \
    WARP_KERNEL_FAMILY(X, gray8)      \
    WARP_KERNEL_FAMILY(X, rgb8)       \
    WARP_KERNEL_FAMILY(X, rgbx8)      \
    WARP_KERNEL_FAMILY(X, planar3_8)  \
    WARP_KERNEL_FAMILY(X, rgba8)      \
    WARP_KERNEL_FAMILY(X, planar4_8)  \
    WARP_KERNEL_FAMILY(X, gray32f)    \
    WARP_KERNEL_FAMILY(X, rgb32f)     \
    WARP_KERNEL_FAMILY(X, rgbx32f)    \
    WARP_KERNEL_FAMILY(X, planar3_32f) \
    WARP_KERNEL_FAMILY(X, rgba32f)    \
    WARP_KERNEL_FAMILY(X, planar4_32f) \
    WARP_KERNEL_FAMILY(X, gray16)     \
    WARP_KERNEL_FAMILY(X, rgb16)      \
    WARP_KERNEL_FAMILY(X, rgbx16)     \
    WARP_KERNEL_FAMILY(X, planar3_16) \
    WARP_KERNEL_FAMILY(X, rgba16)     \
    WARP_KERNEL_FAMILY(X, planar4_16)

WARP_KERNEL_LIST(WARP_KERNEL_DECL)

#define WARP_KERNEL_MEMBER(name) warp_row_kernel name;

// The 54 kernels of one processor variant, in slot order.
struct warp_kernel_table {
    WARP_KERNEL_LIST(WARP_KERNEL_MEMBER)
};

constexpr int warp_kernel_count = 54;

// The generic kernels.
extern const warp_kernel_table warp_generic_kernels;

// The generic kernels built for processor level `level` (0 portable, 1 AVX2, 2 AVX-512): the
// same results bit for bit, faster; null where this processor or build lacks the level.
const warp_kernel_table* warp_generic_kernels_at(int level);

// The fastest of them on this processor. The warp entry points use these.
const warp_kernel_table& warp_generic_kernels_native();

// Slot (layout + 6 x type) x 3 + interpolation / 2 of a table; null for a slot out of range.
warp_row_kernel warp_kernel_at(const warp_kernel_table& table, int slot);

// Cubic value of one pixel: the 4x4 window starting at `window` (interleaved samples,
// `pixelStride` samples per pixel), `channels` channels written to `out`, fractions tx, ty.
void warp_cubic_point_8(const uint8_t* window, int srcStep, int pixelStride, uint8_t* out, int channels,
                        float tx, float ty);
void warp_cubic_point_16(const uint16_t* window, int srcStep, int pixelStride, uint16_t* out, int channels,
                         float tx, float ty);
void warp_cubic_point_32f(const float* window, int srcStep, int pixelStride, float* out, int channels,
                          float tx, float ty);
// The same over planes: window offset in bytes from each plane's origin, destination
// planes and the sample offset written in each.
void warp_cubic_point_planar_8(const uint8_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                               uint8_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                               float ty);
void warp_cubic_point_planar_16(const uint16_t* const* planes, int srcStep, ptrdiff_t windowOffset,
                                uint16_t* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                float ty);
void warp_cubic_point_planar_32f(const float* const* planes, int srcStep, ptrdiff_t windowOffset,
                                 float* const* dstPlanes, ptrdiff_t dstOffset, int planeCount, float tx,
                                 float ty);
