// Constant weights of the processor-specific cubic kernels: 1,537 pairs of 1.14 fixed-point
// Lagrange weights for 8-bit samples at distances k / 512 from the window's first sample,
// then the single-precision vectors of the 16-bit and float kernels.
#pragma once

#include <cstdint>

struct warp_cubic_weights {
    // Entry k: {round(16384 L0(t)), round(16384 L1(t))}, t = k / 512, with
    // L0(t) = -(t - 1)(t - 2)(t - 3) / 6 and L1(t) = t (t - 2)(t - 3) / 2. Entry 1536 - k holds
    // the same point's (L3, L2).
    int16_t pairs[1537][2];
    alignas(16) float scale[4]; // 512 x 4
    alignas(16) float unit[4];  // 1 x 4
    // Rows C0 to C3 of the weight polynomials, taps in the order 3, 2, 1, 0: the weight of
    // tap j at fraction f is (C3j f^3 + C2j f^2) + (C1j f + C0j).
    alignas(16) float poly[4][4];
};

extern const warp_cubic_weights cubic_weight_block;
