// A wavelet kernel as lifting steps, with its impulse responses, band scale factors,
// energy gains of synthesis paths and BIBO gains of the lifting network.
#pragma once

#include "codec/core/rv_kernel_description.h"

#include <cstddef>
#include <vector>

class rvd_kernels {
public:
    rvd_kernels() { clear(); }
    void clear();

    // Standard kernels: 0 = W9X7 (irreversible only), 1 = W5X3.
    void init(int kernel_id, bool reversible);
    // Explicit steps; the coefficients come step after step, each step's taps in order.
    void init(int num_steps, const rvd_kernel_step_info* steps, const float* coefficients,
              bool symmetric, bool symmetric_extension, bool reversible);

    // which: 0 low-pass analysis, 1 high-pass analysis, 2 low-pass synthesis, 3 high-pass
    // synthesis. The result is indexable from -half_length to half_length; null for any
    // other `which`.
    const float* get_impulse_response(int which, int& half_length, int* support_min = nullptr,
                                      int* support_max = nullptr);
    // Energy gain of the synthesis path of num_levels low-pass stages followed by
    // num_extra stages (high where the flag says so).
    double get_energy_gain(int num_levels, int num_extra = 0, const bool* extra_is_high = nullptr);
    const double* get_bibo_gains(int num_levels, int num_extra, const bool* extra_is_high,
                                 double& low_gain, double& high_gain);
    double get_bibo_gain(int num_levels, int num_extra = 0, const bool* extra_is_high = nullptr);

    int get_kernel_id() const { return kernel_id; }
    bool is_reversible() const { return reversible; }
    bool is_symmetric() const { return symmetric; }
    bool is_symmetric_extension() const { return symmetric_extension; }
    int get_num_steps() const { return num_steps; }
    int get_max_step_length() const { return max_step_length; }
    const rvd_kernel_step_info* get_steps() const { return steps.data(); }
    // Tap t of step s at t * num_steps + s.
    const float* get_coefficients() const { return coefficients.data(); }
    float get_low_scale() const { return low_scale; }
    float get_high_scale() const { return high_scale; }

private:
    struct response {
        int half_length = 0, support_min = 0, support_max = 0;
        std::vector<float> taps; // index k + half_length
    };
    struct cache_entry {
        int levels = -1;
        double gain = 0.0;
    };
    void derive();
    float coeff(int s, int t) const { return coefficients[std::size_t(t * num_steps + s)]; }
    // Response (over the input) of the last stage's output for the path.
    void analysis_path(const std::vector<bool>& highs, std::vector<double>& low,
                       std::vector<double>& high);

    int kernel_id;
    bool reversible, symmetric, symmetric_extension;
    int num_steps, max_step_length;
    std::vector<rvd_kernel_step_info> steps;
    std::vector<float> coefficients;
    response responses[4];
    float low_scale, high_scale;
    std::vector<double> bibo_step_gains;
    int exact_levels;
    cache_entry energy_cache[15], bibo_cache[15];
};
