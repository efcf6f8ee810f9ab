#include "host/core/Parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace parallel {
namespace {

std::atomic<int> gThreads{1};
std::atomic<bool> gRefuseThreads{false};

// Threads kept for the whole process, waiting for work: the host shares
// hundreds of small calls a run (a blur of one tile takes a fraction of a
// millisecond), and a thread started for each would cost more than it
// saves. One call at a time uses them; another that comes meanwhile (from
// another thread) runs on its own thread alone. The threads are never
// stopped: they wait until the process ends.
class Pool {
public:
    static Pool &Get()
    {
        static Pool *pool = new Pool;
        return *pool;
    }

    // Runs work(0 .. count - 1) on this thread and up to `others` of the
    // pool's; false, having run nothing, when the pool is busy or no
    // thread can be started.
    bool Run(int count, int others, const std::function<void(int)> &work)
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (busy_)
            return false;
        try {
            while (int(threads_) < others) {
                // It serves the call about to be handed out, too.
                const uint64_t seen = generation_;
                StartThread([this, seen] { Serve(seen); }).detach();
                ++threads_;
            }
        } catch (...) {
            if (threads_ == 0)
                return false;
        }
        busy_ = true;
        work_ = &work;
        count_ = count;
        next_ = 0;
        completed_ = 0;
        allowed_ = others;
        joined_ = 0;
        failure_ = nullptr;
        ++generation_;
        if (sleeping_ > 0)
            wake_.notify_all();
        // This thread takes items too, and then waits for those under way:
        // briefly by looking, then asleep.
        for (int i; (i = Take()) >= 0;)
            RunItem(hold, i);
        for (int look = 0; look < kLooks && completed_ != count_; ++look) {
            hold.unlock();
            std::this_thread::yield();
            hold.lock();
        }
        finished_.wait(hold, [&] { return completed_ == count_; });
        busy_ = false;
        work_ = nullptr;
        const std::exception_ptr failure = failure_;
        failure_ = nullptr;
        hold.unlock();
        if (failure)
            std::rethrow_exception(failure);
        return true;
    }

private:
    // The next item, or -1 (the lock held).
    int Take() { return work_ != nullptr && next_ < count_ ? next_++ : -1; }

    // Runs item i without the lock, then counts it done.
    void RunItem(std::unique_lock<std::mutex> &hold, int i)
    {
        const std::function<void(int)> *work = work_;
        hold.unlock();
        std::exception_ptr failure;
        try {
            (*work)(i);
        } catch (...) {
            failure = std::current_exception();
        }
        hold.lock();
        if (failure && !failure_)
            failure_ = failure;
        if (++completed_ == count_)
            finished_.notify_all();
    }

    // Between calls a thread looks for the next one for a while before it
    // sleeps: the calls of a run come a fraction of a millisecond apart,
    // and waking a thread costs about as much.
    void Serve(uint64_t seen)
    {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            for (int look = 0; look < kLooks && generation_ == seen; ++look) {
                hold.unlock();
                std::this_thread::yield();
                hold.lock();
            }
            ++sleeping_;
            wake_.wait(hold, [&] { return generation_ != seen; });
            --sleeping_;
            seen = generation_;
            // No more of the pool's threads than the call asked for.
            if (joined_ >= allowed_)
                continue;
            ++joined_;
            for (int i; (i = Take()) >= 0;)
                RunItem(hold, i);
        }
    }

    static const int kLooks = 2000;

    std::mutex lock_;
    std::condition_variable wake_, finished_;
    size_t threads_ = 0;
    int sleeping_ = 0;
    bool busy_ = false;
    const std::function<void(int)> *work_ = nullptr;
    int count_ = 0, next_ = 0, completed_ = 0;
    int allowed_ = 0, joined_ = 0;  // the pool's threads the call may use, and those that came
    uint64_t generation_ = 0;
    std::exception_ptr failure_;
};

} // namespace

std::thread StartThread(std::function<void()> body)
{
    if (gRefuseThreads)
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "no thread can be started");
    return std::thread(std::move(body));
}

void RefuseThreadsForTesting(bool refuse)
{
    gRefuseThreads = refuse;
}

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
    const int others = std::min(count, std::max(1, threads)) - 1;
    if (others <= 0 || !Pool::Get().Run(count, others, work))
        for (int i = 0; i < count; ++i)
            work(i);
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
