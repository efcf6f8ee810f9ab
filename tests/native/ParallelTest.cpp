// The host's parallel loop: every item once, bands that cover the rows in
// order, and a failure passed on to the caller (once the items under way have ended).
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "host/core/Parallel.h"

TEST(Parallel, BandsCoverTheRowsInOrderAndAreNeverTooShort)
{
    for (int64_t rows : {0, 1, 2, 9, 63, 64, 127, 128, 1000, 4097})
        for (int threads : {1, 2, 3, 8})
            for (int64_t minimum : {1, 10, 64}) {
                const int count = parallel::BandCount(rows, minimum, threads);
                ASSERT_GE(count, 1);
                ASSERT_LE(count, threads);
                if (count > 1) {
                    ASSERT_GE(rows / count, minimum) << rows << " rows, " << threads << " threads";
                }
                int64_t expected = 0;
                for (int i = 0; i < count; ++i) {
                    int64_t begin = 0, end = 0;
                    parallel::Band(rows, count, i, &begin, &end);
                    ASSERT_EQ(begin, expected);
                    ASSERT_GE(end, begin);
                    expected = end;
                }
                ASSERT_EQ(expected, rows);
            }
    EXPECT_EQ(parallel::BandCount(10, 64, 4), 1);  // no thread for a short band
    EXPECT_EQ(parallel::BandCount(1000, 64, 4), 4);
}

TEST(Parallel, EveryItemRunsOnceWhateverTheThreads)
{
    for (int threads : {1, 2, 3, 7})
        for (int count : {0, 1, 2, 5, 40}) {
            std::vector<std::atomic<int>> runs(static_cast<size_t>(count));
            for (int repeat = 0; repeat < 20; ++repeat)
                parallel::ForEach(count, threads, [&](int i) { ++runs[size_t(i)]; });
            for (int i = 0; i < count; ++i)
                ASSERT_EQ(runs[size_t(i)].load(), 20) << "item " << i << ", " << threads << " threads";
        }
}

TEST(Parallel, AFailingItemIsPassedOnToTheCaller)
{
    for (int threads : {1, 3}) {
        std::atomic<int> ran{0};
        EXPECT_THROW(parallel::ForEach(6, threads,
                                       [&](int i) {
                                           ++ran;
                                           if (i == 2)
                                               throw std::runtime_error("item 2");
                                       }),
                     std::runtime_error);
        EXPECT_EQ(ran.load(), threads == 1 ? 3 : 6);
        // The loop serves the next call as before.
        std::atomic<int> after{0};
        parallel::ForEach(4, threads, [&](int) { ++after; });
        EXPECT_EQ(after.load(), 4);
    }
}

TEST(Parallel, NoMoreItemsRunAtOnceThanThreadsAskedFor)
{
    parallel::ForEach(8, 8, [](int) {});  // the kept threads grow to seven
    for (int threads : {1, 2, 3}) {
        std::atomic<int> running{0}, most{0};
        parallel::ForEach(64, threads, [&](int) {
            const int now = ++running;
            for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            volatile uint64_t sum = 0;
            for (int i = 0; i < 20000; ++i)
                sum = sum + uint64_t(i);
            --running;
        });
        EXPECT_LE(most.load(), threads);
        EXPECT_GE(most.load(), 1);
    }
}

// Threads started for a call serve that call: sixteen items that each wait
// for all sixteen to have begun can only end when sixteen threads run them
// at once, more than any call before asked for.
TEST(Parallel, ThreadsStartedForACallServeIt)
{
    const int kItems = 16;
    std::mutex lock;
    std::condition_variable all;
    int begun = 0;
    parallel::ForEach(kItems, kItems, [&](int) {
        std::unique_lock<std::mutex> hold(lock);
        if (++begun == kItems)
            all.notify_all();
        all.wait(hold, [&] { return begun == kItems; });
    });
    EXPECT_EQ(begun, kItems);
}

// When the system gives no thread, every item still runs once, on the
// caller's thread if the pool has none of its own.
TEST(Parallel, EveryItemRunsOnceWhenNoThreadCanStart)
{
    parallel::RefuseThreadsForTesting(true);
    EXPECT_THROW(parallel::StartThread([] {}), std::system_error);
    std::vector<std::atomic<int>> runs(64);
    EXPECT_NO_THROW(parallel::ForEach(int(runs.size()), 64, [&](int i) { ++runs[size_t(i)]; }));
    parallel::RefuseThreadsForTesting(false);
    for (size_t i = 0; i < runs.size(); ++i)
        EXPECT_EQ(runs[i], 1) << i;
}
