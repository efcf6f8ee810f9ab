#include "host/core/Parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace parallel {
namespace {

std::atomic<int> gThreads{1};

} // namespace

int ProcessorCount()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(std::min(n, 64u));
}

void SetThreadCount(int threads)
{
    gThreads = std::max(1, std::min(threads, 64));
}

int ThreadCount()
{
    return gThreads;
}

int BandCount(int64_t rows, int64_t minimumRows, int threads)
{
    if (rows <= 0 || threads <= 1)
        return 1;
    const int64_t most = rows / std::max<int64_t>(1, minimumRows);
    return int(std::max<int64_t>(1, std::min<int64_t>(threads, most)));
}

void Band(int64_t rows, int count, int i, int64_t *begin, int64_t *end)
{
    const int64_t base = rows / count, extra = rows % count;
    *begin = i * base + std::min<int64_t>(i, extra);
    *end = *begin + base + (i < extra ? 1 : 0);
}

void ForEach(int count, int threads, const std::function<void(int)> &work)
{
    const int helpers = std::min(count, std::max(1, threads)) - 1;
    if (helpers <= 0) {
        for (int i = 0; i < count; ++i)
            work(i);
        return;
    }
    // Items are handed out in order to whichever thread is free; the first
    // failure is passed on to the caller once every thread has ended.
    std::atomic<int> next{0};
    std::mutex lock;
    std::exception_ptr failure;
    auto run = [&]() {
        for (int i; (i = next++) < count;) {
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> hold(lock);
                if (!failure)
                    failure = std::current_exception();
            }
        }
    };
    std::vector<std::thread> started;
    started.reserve(size_t(helpers));
    try {
        for (int t = 0; t < helpers; ++t)
            started.emplace_back(run);
    } catch (...) {
        // Fewer threads than asked for: those that started, and this one,
        // do the work.
    }
    run();
    for (std::thread &t : started)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

int ForBands(int64_t rows, int64_t minimumRows, int threads,
             const std::function<void(int64_t begin, int64_t end, int index)> &band)
{
    const int count = BandCount(rows, minimumRows, threads);
    ForEach(count, threads, [&](int i) {
        int64_t begin = 0, end = 0;
        Band(rows, count, i, &begin, &end);
        band(begin, end, i);
    });
    return count;
}

} // namespace parallel
