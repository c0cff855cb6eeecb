#include "codec/encode/rv_distortion_tables.h"

#include "platform/ModuleStartup.h"

#include <cmath>

int32_t rv_significance_distortion_lossy[32];
int32_t rv_significance_distortion_final[32];
int32_t rv_refinement_distortion_lossy[64];
int32_t rv_refinement_distortion_final[64];

namespace {

int32_t fixed(double v)
{
    return static_cast<int32_t>(std::floor(65536.0 * v + 0.5));
}

StartupRegistrar distortion_tables_step(13, 1, "Block encoder distortion tables",
                                        [] {
                                            rv_init_significance_distortion_luts();
                                            rv_init_refinement_distortion_luts();
                                        },
                                        nullptr);

} // namespace

void rv_init_significance_distortion_luts()
{
    // Before: reconstructed as 0; after: at the middle of the new bit's interval (1.5),
    // or exactly on the final plane of a reversible block.
    for (int i = 0; i < 32; i++) {
        double x = (i + 32) / 32.0;
        rv_significance_distortion_lossy[i] = fixed(x * x - (x - 1.5) * (x - 1.5));
        rv_significance_distortion_final[i] = fixed(x * x);
    }
}

void rv_init_refinement_distortion_luts()
{
    // Before: the middle of the two-step interval (1); after: the middle of the half
    // the refined bit selects (0.5 or 1.5), or exact on the final plane.
    for (int i = 0; i < 64; i++) {
        double x = i / 32.0;
        double after = i < 32 ? x - 0.5 : x - 1.5;
        rv_refinement_distortion_lossy[i] = fixed((x - 1) * (x - 1) - after * after);
        rv_refinement_distortion_final[i] = fixed((x - 1) * (x - 1));
    }
}
