#include "image/WarpCubicWeights.h"

namespace {

// 16384 p / q rounded to the nearest integer; no entry of the table is a tie.
constexpr int16_t Rounded(int64_t p, int64_t q)
{
    return static_cast<int16_t>(p >= 0 ? (2 * 16384 * p + q) / (2 * q) : -((2 * 16384 * -p + q) / (2 * q)));
}

constexpr warp_cubic_weights Build()
{
    warp_cubic_weights w{};
    // With t = k / 512: L0 = -(k - 512)(k - 1024)(k - 1536) / (6 x 512^3),
    // L1 = k (k - 1024)(k - 1536) / (2 x 512^3); exact in 64-bit integers.
    const int64_t cube = int64_t{512} * 512 * 512;
    for (int64_t k = 0; k <= 1536; ++k) {
        w.pairs[k][0] = Rounded(-(k - 512) * (k - 1024) * (k - 1536), 6 * cube);
        w.pairs[k][1] = Rounded(k * (k - 1024) * (k - 1536), 2 * cube);
    }
    for (int i = 0; i < 4; ++i) {
        w.scale[i] = 512.0f;
        w.unit[i] = 1.0f;
    }
    const float poly[4][4] = {{0.0f, 0.0f, 1.0f, 0.0f},
                              {-1.0f / 6.0f, 1.0f, -0.5f, -1.0f / 3.0f},
                              {0.0f, 0.5f, -1.0f, 0.5f},
                              {1.0f / 6.0f, -0.5f, 0.5f, -1.0f / 6.0f}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            w.poly[r][c] = poly[r][c];
    return w;
}

} // namespace

alignas(16) const warp_cubic_weights cubic_weight_block = Build();
