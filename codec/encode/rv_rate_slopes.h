// Rate-distortion slopes in their 16-bit logarithmic form: 256 log2(slope / 2^32) + 65536,
// limited to 2..65535; 0 marks a pass that is no truncation point.
#pragma once

#include <cstdint>

uint16_t slope_to_log(double slope);
double log_to_slope(uint16_t log_slope);

// Slopes of the lower convex hull of the (bytes, distortion) curve of `count` passes:
// passes off the hull get 0, so the non-zero slopes strictly decrease.
void compute_hull_slopes(const double* distortions, const int32_t* bytes, int count, uint16_t* slopes);
