// Work spread over threads (private to the library).
#pragma once
#include <algorithm>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace quelbo {
namespace util {

// Runs work(i) for i in [0, count) on up to `threads` threads; the first
// failure is rethrown once all are done.
template <class F>
void parallelFor(size_t count, size_t threads, F&& work)
{
    if (threads <= 1 || count <= 1) {
        for (size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    threads = std::min(threads, count);
    std::mutex guard;
    std::exception_ptr failed;
    size_t next = 0;
    auto worker = [&] {
        for (;;) {
            size_t i;
            {
                std::lock_guard<std::mutex> g(guard);
                if (failed || next == count)
                    return;
                i = next++;
            }
            try {
                work(i);
            } catch (...) {
                std::lock_guard<std::mutex> g(guard);
                if (!failed)
                    failed = std::current_exception();
            }
        }
    };
    std::vector<std::thread> pool;
    try {
        for (size_t t = 1; t < threads; ++t)
            pool.emplace_back(worker);
    } catch (...) {
        // Fewer threads than asked: the calling thread still does the rest.
    }
    worker();
    for (auto& t : pool)
        t.join();
    if (failed)
        std::rethrow_exception(failed);
}

// The number of threads the machine runs at once (at least 1).
inline size_t machineThreads()
{
    unsigned const n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

} // namespace util
} // namespace quelbo
