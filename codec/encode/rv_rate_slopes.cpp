#include "codec/encode/rv_rate_slopes.h"

#include <algorithm>
#include <cmath>

uint16_t slope_to_log(double slope)
{
    if (!(slope > 0.0))
        return 2;
    double v = 256.0 * std::log2(std::min(slope / 4294967296.0, 1.0)) + 65536.0;
    if (v > 65535.0)
        return 65535;
    if (v < 2.0)
        return 2;
    return static_cast<uint16_t>(v);
}

double log_to_slope(uint16_t log_slope)
{
    return 4294967296.0 * std::exp2((static_cast<double>(log_slope) - 65536.0) / 256.0);
}

void compute_hull_slopes(const double* distortions, const int32_t* bytes, int count, uint16_t* slopes)
{
    // Runs of up to ten passes ending at each pass: the smallest distortion per byte
    // among them is the slope at which that pass would still be chosen.
    for (int i = 0; i < count; i++) {
        double D = 0.0, R = 0.0, candidate = -1.0;
        bool none = true;
        int low = std::max(0, i - 9);
        for (int j = i; j >= low; j--) {
            D += distortions[j];
            R += bytes[j];
            if (D <= 0.0) {
                candidate = -1.0;
                none = true;
                break;
            }
            if (R > 0.0 && (none || D < R * candidate)) {
                candidate = D / R;
                none = false;
            }
        }
        slopes[i] = (!none && candidate > 0.0) ? slope_to_log(candidate) : 0;
    }
    // A pass whose slope is not above that of some later pass is not on the hull.
    uint16_t later_max = 0;
    for (int i = count - 1; i >= 0; i--) {
        uint16_t own = slopes[i];
        if (own <= later_max)
            slopes[i] = 0;
        later_max = std::max(later_max, own);
    }
}
