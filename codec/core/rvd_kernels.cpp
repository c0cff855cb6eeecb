#include "codec/core/rvd_kernels.h"

#include "codec/core/rvd_params.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace {
const float w9x7_taps[4] = {-1.5861343f, -0.052980117f, 0.8829111f, 0.44350687f};

// Sequences over integer positions, kept as a map-free offset vector.
struct seq {
    int first = 0;                // position of values[0]
    std::vector<double> values;
    double at(int n) const
    {
        int k = n - first;
        return (k >= 0 && k < int(values.size())) ? values[size_t(k)] : 0.0;
    }
    void add(int n, double v)
    {
        if (values.empty()) {
            first = n;
            values.push_back(v);
            return;
        }
        if (n < first) {
            values.insert(values.begin(), size_t(first - n), 0.0);
            first = n;
        }
        if (n >= first + int(values.size()))
            values.resize(size_t(n - first + 1), 0.0);
        values[size_t(n - first)] += v;
    }
    int last() const { return first + int(values.size()) - 1; }
};

int cache_index(int num_extra, const bool* extra_is_high)
{
    if (num_extra > 3)
        return -1;
    int idx = (1 << num_extra) - 1;
    for (int i = 0; i < num_extra; i++)
        if (extra_is_high[i])
            idx += 1 << i;
    return idx;
}
} // namespace

void rvd_kernels::clear()
{
    kernel_id = -1;
    reversible = symmetric = symmetric_extension = false;
    num_steps = max_step_length = 0;
    steps.clear();
    coefficients.clear();
    for (auto& r : responses)
        r = response();
    low_scale = high_scale = 1.0f;
    bibo_step_gains.clear();
    exact_levels = 4;
    for (int i = 0; i < 15; i++)
        energy_cache[i] = bibo_cache[i] = cache_entry();
}

void rvd_kernels::init(int id, bool rev)
{
    clear();
    if (id == 0 && rev)
        rv_raise_core_error("The W9X7 kernel may not be used for reversible compression!");
    if (id != 0 && id != 1)
        rv_raise_core_error("Illegal DWT kernel ID used to construct a `rvd_kernels' object.");
    kernel_id = id;
    reversible = rev;
    symmetric = symmetric_extension = true;
    num_steps = (id == 1) ? 2 : 4;
    max_step_length = 2;
    steps.assign(size_t(num_steps), rvd_kernel_step_info());
    coefficients.assign(size_t(2 * num_steps), 0.0f);
    for (int s = 0; s < num_steps; s++) {
        steps[size_t(s)].support_length = 2;
        steps[size_t(s)].support_min = -(((s % 2) + 2 - 1) / 2);
        float tap = (id == 1) ? ((s == 0) ? -0.5f : 0.25f) : w9x7_taps[s];
        coefficients[size_t(s)] = coefficients[size_t(num_steps + s)] = tap;
        if (id == 1 && rev) {
            steps[size_t(s)].downshift = (s == 0) ? 1 : 2;
            steps[size_t(s)].rounding_offset = (s == 0) ? 1 : 2;
        }
    }
    derive();
}

void rvd_kernels::init(int n, const rvd_kernel_step_info* step_info, const float* coeffs,
                       bool sym, bool sym_ext, bool rev)
{
    clear();
    reversible = rev;
    symmetric = sym;
    symmetric_extension = sym_ext;
    num_steps = std::max(0, n);
    steps.assign(step_info, step_info + num_steps);
    for (auto& s : steps)
        max_step_length = std::max(max_step_length, std::max(0, s.support_length));
    coefficients.assign(size_t(max_step_length) * size_t(num_steps), 0.0f);
    const float* cp = coeffs;
    for (int s = 0; s < num_steps; s++)
        for (int t = 0; t < std::max(0, steps[size_t(s)].support_length); t++)
            coefficients[size_t(t * num_steps + s)] = *(cp++);
    derive();
}

void rvd_kernels::derive()
{
    // Synthesis responses: a unit impulse in one band through the lifting steps in
    // reverse, subtracting; even steps update the high band from the low band.
    for (int b = 0; b < 2; b++) {
        seq bands[2];
        bands[b].add(0, 1.0);
        for (int s = num_steps - 1; s >= 0; s--) {
            const seq& src = bands[(s % 2 == 0) ? 0 : 1];
            seq& dst = bands[(s % 2 == 0) ? 1 : 0];
            if (src.values.empty())
                continue;
            const rvd_kernel_step_info& st = steps[size_t(s)];
            int lo = src.first - st.support_min - st.support_length + 1;
            int hi = src.last() - st.support_min;
            std::vector<std::pair<int, double>> updates;
            for (int n = lo; n <= hi; n++) {
                double sum = 0.0;
                for (int t = 0; t < st.support_length; t++)
                    sum += double(coeff(s, t)) * src.at(n + st.support_min + t);
                if (sum != 0.0)
                    updates.emplace_back(n, -sum);
            }
            for (auto& u : updates)
                dst.add(u.first, u.second);
        }
        // Interleave: low samples at even, high at odd positions, centred on the impulse.
        std::map<int, double> x;
        for (int k = 0; k < 2; k++)
            for (size_t i = 0; i < bands[k].values.size(); i++)
                if (bands[k].values[i] != 0.0)
                    x[2 * (bands[k].first + int(i)) + k - b] += bands[k].values[i];
        int smin = 0, smax = 0;
        bool any = false;
        for (auto& e : x)
            if (e.second != 0.0) {
                smin = any ? std::min(smin, e.first) : e.first;
                smax = any ? std::max(smax, e.first) : e.first;
                any = true;
            }
        response& syn = responses[2 + b];
        syn.half_length = std::max(-smin, smax);
        syn.support_min = smin;
        syn.support_max = smax;
        syn.taps.assign(size_t(2 * syn.half_length + 1), 0.0f);
        for (auto& e : x)
            if (e.first >= -syn.half_length && e.first <= syn.half_length)
                syn.taps[size_t(e.first + syn.half_length)] = float(e.second);
        // The analysis response of the other band: odd taps negated.
        response& ana = responses[1 - b];
        ana = syn;
        for (int k = -ana.half_length; k <= ana.half_length; k++)
            if (k % 2 != 0)
                ana.taps[size_t(k + ana.half_length)] = -ana.taps[size_t(k + ana.half_length)];
    }
    if (!reversible) {
        double dc = 0.0, nyq = 0.0;
        for (int k = -responses[0].half_length; k <= responses[0].half_length; k++)
            dc += responses[0].taps[size_t(k + responses[0].half_length)];
        for (int k = -responses[1].half_length; k <= responses[1].half_length; k++)
            nyq += ((k % 2 == 0) ? 1.0 : -1.0) * responses[1].taps[size_t(k + responses[1].half_length)];
        if (dc != 0.0 && nyq != 0.0) {
            low_scale = float(1.0 / dc);
            high_scale = float(1.0 / nyq);
            for (auto& t : responses[0].taps)
                t = float(t / dc);
            for (auto& t : responses[2].taps)
                t = float(t * dc);
            for (auto& t : responses[1].taps)
                t = float(t / nyq);
            for (auto& t : responses[3].taps)
                t = float(t * nyq);
        }
    }
}

const float* rvd_kernels::get_impulse_response(int which, int& half_length, int* support_min,
                                               int* support_max)
{
    if (which < 0 || which > 3 || responses[which].taps.empty())
        return nullptr;
    response& r = responses[which];
    half_length = r.half_length;
    if (support_min != nullptr)
        *support_min = r.support_min;
    if (support_max != nullptr)
        *support_max = r.support_max;
    return r.taps.data() + r.half_length;
}

double rvd_kernels::get_energy_gain(int num_levels, int num_extra, const bool* extra_is_high)
{
    if (num_levels < 0)
        num_levels = 0;
    if (num_extra < 0)
        num_extra = 0;
    double factor = 1.0;
    while (num_levels > exact_levels) {
        num_levels--;
        factor *= 2.0;
    }
    int idx = cache_index(num_extra, extra_is_high);
    if (idx >= 0 && energy_cache[idx].levels == num_levels)
        return energy_cache[idx].gain * factor;
    std::vector<double> g(1, 1.0);
    auto stage = [&](const response& h) {
        std::vector<double> up(2 * g.size() - 1, 0.0);
        for (size_t i = 0; i < g.size(); i++)
            up[2 * i] = g[i];
        std::vector<double> out(up.size() + h.taps.size() - 1, 0.0);
        for (size_t i = 0; i < up.size(); i++)
            if (up[i] != 0.0)
                for (size_t j = 0; j < h.taps.size(); j++)
                    out[i + j] += up[i] * h.taps[j];
        g.swap(out);
    };
    for (int i = num_extra - 1; i >= 0; i--)
        stage(responses[(extra_is_high != nullptr && extra_is_high[i]) ? 3 : 2]);
    for (int l = 0; l < num_levels; l++)
        stage(responses[2]);
    double gain = 0.0;
    for (double v : g)
        gain += v * v;
    if (idx >= 0 && energy_cache[idx].levels < num_levels) {
        energy_cache[idx].levels = num_levels;
        energy_cache[idx].gain = gain;
    }
    return gain * factor;
}

// Runs the analysis lifting network on responses over the input: the responses of
// sample 0 of the low and high sequences are tracked; a neighbour's response is the
// same one shifted by the stage's sample spacing.
void rvd_kernels::analysis_path(const std::vector<bool>& highs, std::vector<double>& low,
                                std::vector<double>& high)
{
    auto add_shifted = [](seq& acc, const seq& r, int shift, double w) {
        for (std::size_t i = 0; i < r.values.size(); i++)
            if (r.values[i] != 0.0)
                acc.add(r.first + int(i) + shift, w * r.values[i]);
    };
    seq in;
    in.add(0, 1.0);
    int spacing = 1; // input positions between consecutive samples of the stage input
    bibo_step_gains.assign(std::size_t(num_steps), 0.0);
    for (std::size_t stage = 0; stage < highs.size(); stage++) {
        bool last = (stage + 1 == highs.size());
        seq s, d;
        add_shifted(s, in, 0, 1.0);
        add_shifted(d, in, spacing, 1.0);
        for (int st = 0; st < num_steps; st++) {
            const rvd_kernel_step_info& info = steps[std::size_t(st)];
            bool update_high = (st % 2 == 0);
            seq src = update_high ? s : d;
            seq& dst = update_high ? d : s;
            for (int t = 0; t < info.support_length; t++)
                add_shifted(dst, src, 2 * spacing * (info.support_min + t), double(coeff(st, t)));
            if (last) {
                double sum = 0.0;
                for (double v : dst.values)
                    sum += std::fabs(v);
                bibo_step_gains[std::size_t(st)] = sum;
            }
        }
        if (last) {
            low = s.values;
            high = d.values;
            return;
        }
        in = highs[stage] ? d : s;
        spacing *= 2;
    }
}

const double* rvd_kernels::get_bibo_gains(int num_levels, int num_extra, const bool* extra_is_high,
                                          double& low_gain, double& high_gain)
{
    num_levels = std::max(0, std::min(num_levels, exact_levels));
    std::vector<bool> highs(size_t(num_levels), false);
    for (int i = 0; i < num_extra; i++)
        highs.push_back(extra_is_high != nullptr && extra_is_high[i]);
    // The final stage is the one whose outputs are reported.
    highs.push_back(false);
    std::vector<double> low, high;
    analysis_path(highs, low, high);
    low_gain = high_gain = 0.0;
    for (double v : low)
        low_gain += std::fabs(v);
    for (double v : high)
        high_gain += std::fabs(v);
    low_gain *= low_scale;
    high_gain *= high_scale;
    return bibo_step_gains.data();
}

double rvd_kernels::get_bibo_gain(int num_levels, int num_extra, const bool* extra_is_high)
{
    if (num_levels < 0)
        num_levels = 0;
    if (num_extra <= 0 && num_levels == 0)
        return 1.0;
    if (num_levels > exact_levels)
        num_levels = exact_levels;
    int idx = cache_index(std::max(0, num_extra), extra_is_high);
    if (idx >= 0 && bibo_cache[idx].levels == num_levels)
        return bibo_cache[idx].gain;
    double low_gain = 0.0, high_gain = 0.0, gain = 0.0;
    if (num_extra > 0) {
        get_bibo_gains(num_levels, num_extra - 1, extra_is_high, low_gain, high_gain);
        gain = extra_is_high[num_extra - 1] ? high_gain : low_gain;
    } else {
        get_bibo_gains(num_levels - 1, 0, nullptr, low_gain, high_gain);
        gain = low_gain;
    }
    if (idx >= 0 && bibo_cache[idx].levels < num_levels) {
        bibo_cache[idx].levels = num_levels;
        bibo_cache[idx].gain = gain;
    }
    return gain;
}
