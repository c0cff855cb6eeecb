#include "tools/decode/tool_main.h"

#include <algorithm>

void print_run_times(const char* what, std::vector<double> seconds, double samples)
{
    if (seconds.empty())
        return;
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    std::printf("%s: %d runs, median %.3f ms, best %.3f ms, %.0f samples, %.2f MS/s\n", what,
                int(seconds.size()), median * 1e3, seconds.front() * 1e3, samples,
                median > 0 ? samples / median / 1e6 : 0.0);
}
