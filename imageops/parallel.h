#pragma once
// Splits a row range over a few threads for operations whose result does not
// depend on the order in which rows are visited. Small images stay on the
// calling thread: starting threads costs more than the work.

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

namespace imageops {

// Below this many pixels an operation runs on the calling thread.
inline constexpr size_t kParallelMinPixels = size_t(1) << 17;

inline int WorkerCount(size_t pixels) {
    if (pixels < kParallelMinPixels) return 1;
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp(hw, 1u, 8u));
}

// Calls fn(rowBegin, rowEnd) on disjoint bands that together cover 0..rows-1.
template <class Fn> void ParallelRows(int rows, size_t pixels, Fn&& fn) {
    const int workers = std::min(WorkerCount(pixels), std::max(rows, 1));
    if (workers <= 1) {
        if (rows > 0) fn(0, rows);
        return;
    }
    std::vector<std::thread> threads;
    threads.reserve(size_t(workers - 1));
    const int band = (rows + workers - 1) / workers;
    for (int i = 1; i < workers; ++i) {
        const int b = i * band, e = std::min(rows, b + band);
        if (b < e) threads.emplace_back([&fn, b, e] { fn(b, e); });
    }
    fn(0, std::min(rows, band));
    for (std::thread& t : threads) t.join();
}

} // namespace imageops
