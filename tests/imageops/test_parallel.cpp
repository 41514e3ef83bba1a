// The row bands that the threaded operations hand to their threads.

#include "imageops/parallel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// Restores the default worker count when a test ends, whatever it set.
struct Workers {
    explicit Workers(int n) { imageops::SetMaxWorkers(n); }
    ~Workers() { imageops::SetMaxWorkers(0); }
};

} // namespace

TEST(RowBands, EveryWorkerGetsAnEvenShare) {
    const size_t big = imageops::kParallelMinPixels;
    for (int workers : {2, 3, 5, 8}) {
        Workers limit(workers);
        for (int rows : {1, 2, 7, 9, 10, 17, 1001, 3000}) {
            const std::vector<int> b = imageops::RowBands(rows, big);
            ASSERT_EQ(int(b.size()) - 1, std::min(workers, rows)) << workers << " " << rows;
            ASSERT_EQ(b.front(), 0);
            ASSERT_EQ(b.back(), rows);
            int least = rows, most = 0;
            for (size_t i = 1; i < b.size(); ++i) {
                least = std::min(least, b[i] - b[i - 1]);
                most = std::max(most, b[i] - b[i - 1]);
            }
            EXPECT_GE(least, 1) << workers << " " << rows;
            EXPECT_LE(most - least, 1) << workers << " workers, " << rows << " rows";
        }
    }
    // Small pictures stay on the calling thread.
    Workers limit(8);
    EXPECT_EQ(imageops::RowBands(100, big - 1), (std::vector<int>{0, 100}));
}

TEST(RowBands, ParallelRowsVisitsEveryRowOnceAndSharesTopAndBottom) {
    for (int workers : {1, 2, 3, 8})
        for (int rows : {1, 5, 13, 1000}) {
            Workers limit(workers);
            std::vector<std::atomic<int>> visits(static_cast<size_t>(rows));
            std::mutex m;
            std::map<std::thread::id, std::vector<int>> rowsOf;
            imageops::ParallelRows(rows, imageops::kParallelMinPixels, [&](int y0, int y1) {
                ASSERT_LT(y0, y1);
                for (int y = y0; y < y1; ++y) visits[size_t(y)].fetch_add(1);
                std::lock_guard<std::mutex> lock(m);
                for (int y = y0; y < y1; ++y) rowsOf[std::this_thread::get_id()].push_back(y);
            });
            for (size_t y = 0; y < visits.size(); ++y)
                ASSERT_EQ(visits[y].load(), 1) << y << " of " << rows << ", " << workers;
            ASSERT_EQ(int(rowsOf.size()), std::min(workers, rows));
            // With enough rows every thread works both in the top and in the
            // bottom half of the picture, and all get near-equal counts.
            if (rows < 8 * workers) continue;
            for (const auto& [id, list] : rowsOf) {
                EXPECT_TRUE(
                    std::any_of(list.begin(), list.end(), [&](int y) { return y < rows / 2; }));
                EXPECT_TRUE(
                    std::any_of(list.begin(), list.end(), [&](int y) { return y >= rows / 2; }));
                EXPECT_NEAR(double(list.size()), double(rows) / workers, 4.0);
            }
        }
}
