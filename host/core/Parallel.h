// The host's own work spread over the processors: a count of threads for the
// whole process, and a parallel loop over row bands. The caller's thread
// takes bands itself; the others run on threads the host keeps for the
// whole process, and every band is done before the loop returns. With one
// thread, or work too small to share, everything runs on the caller's
// thread, in order, and no thread is started.
#pragma once

#include <cstdint>
#include <functional>
#include <thread>

namespace parallel {

// Starts a thread running `body`, as std::thread does: throws
// std::system_error when the system cannot start one. Every thread the host
// starts for its own work comes from here.
std::thread StartThread(std::function<void()> body);

// For tests: while set, StartThread throws as when the system has no thread
// to give, so that the callers' way without threads can be checked.
void RefuseThreadsForTesting(bool refuse);

// The number of processors the system reports (at least 1).
int ProcessorCount();

// How many threads the host's work may use at once (1 until set; kept
// between 1 and 64).
void SetThreadCount(int threads);
int ThreadCount();

// The number of bands [0, rows) splits into for `threads` threads when no
// band may have fewer than `minimumRows` rows: at least 1, at most `threads`.
int BandCount(int64_t rows, int64_t minimumRows, int threads);

// Band i of `count` over [0, rows): rows [*begin, *end), the bands in
// order, their heights differing by at most one.
void Band(int64_t rows, int count, int i, int64_t *begin, int64_t *end);

// Runs work(i) for every i in [0, count), at most `threads` of them at
// once (the caller's thread among them), and returns when all are done.
void ForEach(int count, int threads, const std::function<void(int)> &work);

// Splits [0, rows) into BandCount(rows, minimumRows, threads) bands and runs
// band(begin, end, index) for each; returns the number of bands.
int ForBands(int64_t rows, int64_t minimumRows, int threads,
             const std::function<void(int64_t begin, int64_t end, int index)> &band);

} // namespace parallel
