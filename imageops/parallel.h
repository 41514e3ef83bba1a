#pragma once
// Splits a row range over a few threads for operations whose result does not
// depend on the order in which rows are visited. Small images stay on the
// calling thread: starting threads costs more than the work.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

namespace imageops {

// Below this many pixels an operation runs on the calling thread.
inline constexpr size_t kParallelMinPixels = size_t(1) << 17;

// The most threads one operation uses; 0 (the default) means one per core,
// up to 8. For callers that run several pictures side by side, and for
// measurements on one core.
inline std::atomic<int> g_maxWorkers{0};
inline void SetMaxWorkers(int n) {
    g_maxWorkers.store(std::max(n, 0), std::memory_order_relaxed);
}
// The same limit, for tests that lower it to 1 and put back what was there.
inline std::atomic<int>& WorkerLimit() {
    return g_maxWorkers;
}

inline int WorkerCount(size_t pixels) {
    if (pixels < kParallelMinPixels) return 1;
    const int limit = g_maxWorkers.load(std::memory_order_relaxed);
    if (limit > 0) return std::min(limit, 8);
    const unsigned hw = std::thread::hardware_concurrency();
    return int(std::clamp(hw, 1u, 8u));
}

// The bands ParallelRows hands out: boundaries 0 = b[0] < b[1] < ... = rows,
// one band per worker, their sizes differing by at most one row.
inline std::vector<int> RowBands(int rows, size_t pixels) {
    std::vector<int> bounds{0};
    if (rows <= 0) return bounds;
    const int workers = std::min(WorkerCount(pixels), rows);
    for (int i = 1; i <= workers; ++i) bounds.push_back(int(int64_t(rows) * i / workers));
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
// Each worker takes every n-th of 4n slices (n workers), so that costs that
// change from top to bottom (the background corners of a rotation, the rows
// an ellipse crosses) fall on every worker alike.
template <class Fn> void ParallelRows(int rows, size_t pixels, Fn&& fn) {
    if (rows <= 0) return;
    const int workers = std::min(WorkerCount(pixels), rows);
    if (workers == 1) {
        fn(0, rows);
        return;
    }
    const int slices = std::min(rows, 4 * workers);
    auto edge = [rows, slices](int i) { return int(int64_t(rows) * i / slices); };
    std::vector<int> ids(size_t(workers) + 1);
    for (int i = 0; i <= workers; ++i) ids[size_t(i)] = i;
    RunBands(ids, [&](size_t, int worker, int) {
        for (int i = worker; i < slices; i += workers) fn(edge(i), edge(i + 1));
    });
}

} // namespace imageops
