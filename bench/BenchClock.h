// The benchmarks' clock: the least time of a few runs of some work, which
// is the figure least disturbed by whatever else the machine is doing.
#pragma once

#include <chrono>
#include <functional>

inline double BestSeconds(int runs, const std::function<void()> &work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = s < best ? s : best;
    }
    return best;
}
