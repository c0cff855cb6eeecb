// The one form in which lifting kernels travel: step records plus the taps of every
// step, step after step.
#pragma once

class rvd_params;

struct rvd_kernel_step_info {
    int support_length = 0;  // number of taps
    int support_min = 0;     // offset of the first tap
    int downshift = 0;       // reversible steps add (sum + rounding_offset) >> downshift
    int rounding_offset = 0;
};

// Kernel id 0 is W9X7, 1 is W5X3, -1 an ATK kernel named by `atk_instance` in the
// tree's "ATK" cluster for `tile_idx`. Arrays are allocated here (new[]) and owned by
// the caller; both stay null when the kernel has no steps.
void rv_create_kernel_description(int kernel_id, int atk_instance, rvd_params* root, int tile_idx,
                                  bool& is_reversible, bool& is_symmetric,
                                  bool& is_symmetric_extension, int& num_steps,
                                  rvd_kernel_step_info*& steps, float*& coefficients);
