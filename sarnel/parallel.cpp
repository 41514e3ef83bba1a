#include "sarnel/parallel.h"

#include "sarnel/internal.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace sarnel {

namespace {
std::atomic<int> g_maxThreads{0};
}

void setMaxThreads(int n) {
    g_maxThreads.store(n < 0 ? 0 : n);
}

int maxThreads() {
    int n = g_maxThreads.load();
    if (n > 0) return n;
    unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : int(std::min(hw, 16u));
}

void parallelFor(int count, int grain, const std::function<void(int, int)>& fn) {
    if (count <= 0) return;
    grain = std::max(grain, 1);
    int threads = std::min(maxThreads(), std::max(1, count / grain));
    if (threads <= 1) {
        fn(0, count);
        return;
    }
    std::exception_ptr error;
    std::mutex errorLock;
    auto run = [&](int begin, int end) {
        try {
            fn(begin, end);
        } catch (...) {
            std::lock_guard<std::mutex> lock(errorLock);
            if (!error) error = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    workers.reserve(size_t(threads - 1));
    auto bound = [&](int i) { return int(int64_t(count) * i / threads); };
    try {
        for (int i = 1; i < threads; ++i) workers.emplace_back(run, bound(i), bound(i + 1));
    } catch (...) {
        // Could not start a thread: do the remaining ranges here.
        for (int i = int(workers.size()) + 1; i < threads; ++i) run(bound(i), bound(i + 1));
    }
    run(0, bound(1));
    for (auto& t : workers) t.join();
    if (error) std::rethrow_exception(error);
}

} // namespace sarnel
