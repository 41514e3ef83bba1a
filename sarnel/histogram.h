// A histogram over the integer range of one plane, for order statistics of a window
// that slides one column at a time. Rank queries walk from the answer of the previous
// query, which is close by for neighbouring windows, and skip whole coarse buckets of
// 16 bins when it is not; so a query costs a few steps whatever the window's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sarnel {

template <int Cursors, bool TrackSums> class RankHistogram {
public:
    RankHistogram(int bins, int minValue)
        : minValue_(minValue), fine_(size_t((bins + 15) & ~15), 0), coarse_(fine_.size() / 16, 0) {
        if constexpr (TrackSums) coarseSum_.assign(coarse_.size(), 0);
        resetCursors();
    }

    void add(int bin) {
        ++fine_[size_t(bin)];
        ++coarse_[size_t(bin >> 4)];
        ++total_;
        if constexpr (TrackSums) {
            const int64_t v = value(bin);
            coarseSum_[size_t(bin >> 4)] += v;
            sum_ += v;
        }
        for (Cursor& c : cursors_) {
            if (bin < c.bin) {
                ++c.below;
                if constexpr (TrackSums) c.sumBelow += value(bin);
            }
        }
    }

    void remove(int bin) {
        --fine_[size_t(bin)];
        --coarse_[size_t(bin >> 4)];
        --total_;
        if constexpr (TrackSums) {
            const int64_t v = value(bin);
            coarseSum_[size_t(bin >> 4)] -= v;
            sum_ -= v;
        }
        for (Cursor& c : cursors_) {
            if (bin < c.bin) {
                --c.below;
                if constexpr (TrackSums) c.sumBelow -= value(bin);
            }
        }
        if (total_ == 0) resetCursors();
    }

    int32_t total() const { return total_; }
    int64_t sum() const { return sum_; }
    int value(int bin) const { return bin + minValue_; }

    // The value of rank k (0 = smallest), 0 <= k < total(), found by cursor c.
    int rankValue(int c, int32_t k) { return value(seek(cursors_[c], k)); }

    // Sum of the r smallest samples, 0 < r < total(), found by cursor c.
    int64_t sumSmallest(int c, int32_t r) {
        Cursor& cur = cursors_[c];
        const int bin = seek(cur, r);
        return cur.sumBelow + int64_t(r - cur.below) * value(bin);
    }

private:
    struct Cursor {
        int bin = 0;
        int32_t below = 0;    // samples in bins < bin
        int64_t sumBelow = 0; // their sum (TrackSums only)
    };

    void resetCursors() {
        for (Cursor& c : cursors_) c = Cursor{};
    }

    // Moves the cursor to the bin holding rank k: below <= k < below + fine[bin].
    int seek(Cursor& c, int32_t k) {
        while (c.below > k) {
            if ((c.bin & 15) == 0) {
                const size_t cb = size_t(c.bin >> 4) - 1;
                if (c.below - coarse_[cb] > k) {
                    c.below -= coarse_[cb];
                    if constexpr (TrackSums) c.sumBelow -= coarseSum_[cb];
                    c.bin -= 16;
                    continue;
                }
            }
            --c.bin;
            c.below -= fine_[size_t(c.bin)];
            if constexpr (TrackSums) c.sumBelow -= int64_t(fine_[size_t(c.bin)]) * value(c.bin);
        }
        while (c.below + fine_[size_t(c.bin)] <= k) {
            c.below += fine_[size_t(c.bin)];
            if constexpr (TrackSums) c.sumBelow += int64_t(fine_[size_t(c.bin)]) * value(c.bin);
            ++c.bin;
            if ((c.bin & 15) == 0) {
                while (c.below + coarse_[size_t(c.bin >> 4)] <= k) {
                    c.below += coarse_[size_t(c.bin >> 4)];
                    if constexpr (TrackSums) c.sumBelow += coarseSum_[size_t(c.bin >> 4)];
                    c.bin += 16;
                }
            }
        }
        return c.bin;
    }

    int minValue_;
    std::vector<int32_t> fine_;
    std::vector<int32_t> coarse_;
    std::vector<int64_t> coarseSum_;
    int32_t total_ = 0;
    int64_t sum_ = 0;
    Cursor cursors_[Cursors];
};

} // namespace sarnel
