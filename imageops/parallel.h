#pragma once
// Splits a row range over a few threads for operations whose result does not
// depend on the order in which rows are visited. Small images stay on the
// calling thread: starting threads costs more than the work.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace imageops {

// Below this many pixels an operation runs on the calling thread.
inline constexpr size_t kParallelMinPixels = size_t(1) << 17;

// The most threads an operation may use (1 keeps all work on the calling
// thread; tests compare threaded results against that).
inline std::atomic<unsigned>& MaxWorkers() {
    static std::atomic<unsigned> limit{8};
    return limit;
}

inline int WorkerCount(size_t pixels) {
    if (pixels < kParallelMinPixels) return 1;
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp(hw, 1u, std::max(MaxWorkers().load(), 1u)));
}

// The bands ParallelRows hands out: boundaries 0 = b[0] < b[1] < ... = rows.
inline std::vector<int> RowBands(int rows, size_t pixels) {
    std::vector<int> bounds{0};
    if (rows <= 0) return bounds;
    const int workers = std::min(WorkerCount(pixels), rows);
    const int band = (rows + workers - 1) / workers;
    for (int b = band; b < rows; b += band) bounds.push_back(b);
    bounds.push_back(rows);
    return bounds;
}

// Calls fn(index, rowBegin, rowEnd) for each band of `bounds`, one thread per
// band, the first on the calling thread.
template <class Fn> void RunBands(const std::vector<int>& bounds, Fn&& fn) {
    const size_t bands = bounds.size() < 2 ? 0 : bounds.size() - 1;
    if (bands == 0) return;
    std::vector<std::thread> threads;
    threads.reserve(bands - 1);
    for (size_t i = 1; i < bands; ++i)
        threads.emplace_back([&fn, &bounds, i] { fn(i, bounds[i], bounds[i + 1]); });
    fn(size_t(0), bounds[0], bounds[1]);
    for (std::thread& t : threads) t.join();
}

// Calls fn(rowBegin, rowEnd) on disjoint bands that together cover 0..rows-1.
template <class Fn> void ParallelRows(int rows, size_t pixels, Fn&& fn) {
    RunBands(RowBands(rows, pixels), [&fn](size_t, int y0, int y1) { fn(y0, y1); });
}

} // namespace imageops
