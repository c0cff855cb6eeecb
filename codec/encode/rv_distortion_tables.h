// Start-up tables of the block encoder's distortion estimate: the reduction in squared
// error that coding one bit of a sample brings, in units of 1/65536 of the squared
// bit-plane step, indexed by the sample's magnitude bits just below the coded one.
#pragma once

#include <cstdint>

// A sample becoming significant; index: the five magnitude bits below the new one.
extern int32_t rv_significance_distortion_lossy[32];
extern int32_t rv_significance_distortion_final[32];
// A refinement bit; index: the refined bit (bit 5) and the five bits below it.
extern int32_t rv_refinement_distortion_lossy[64];
extern int32_t rv_refinement_distortion_final[64];

// Each fills its pair of tables; idempotent. Start-up slot 13.
void rv_init_significance_distortion_luts();
void rv_init_refinement_distortion_luts();
