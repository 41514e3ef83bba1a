// Spatial filters: means, order statistics and adaptive filters over a rectangular
// window that shrinks at the plane's borders.
//
// Every filter reads a copy of the plane and writes the plane, so a pass never sees
// its own results; rows are therefore independent and split across threads.
// Means use running sums along rows and columns. Order statistics use histograms over
// the plane's value range (one sliding along the row for short windows, one per
// column for tall ones), and minimum and maximum use running block extremes; no
// window is sorted per pixel, and the cost per pixel hardly grows with the aperture.
#include "sarnel/histogram.h"
#include "sarnel/internal.h"
#include "sarnel/parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace sarnel {

namespace {

// Half-sizes of an aperture: (a - 1) / 2, so even apertures act like the next smaller
// odd one. Apertures below 1 act as 1 and half-sizes beyond the plane are cut to it,
// which selects the same windows and keeps the index arithmetic in range.
int halfSize(int aperture, int extent) {
    const int64_t h = (int64_t(aperture) - 1) / 2;
    return int(std::clamp<int64_t>(h, 0, extent - 1));
}

struct Geometry {
    int w, h, rx, ry;
    int rowGrain() const { return std::max(1, 32768 / std::max(1, w)); }
    int firstRow(int y) const { return std::max(0, y - ry); }
    int lastRow(int y) const { return std::min(h - 1, y + ry); }
    int firstCol(int x) const { return std::max(0, x - rx); }
    int lastCol(int x) const { return std::min(w - 1, x + rx); }
};

Geometry geometry(const Plane& p, int aw, int ah) {
    return {p.width, p.height, halfSize(aw, p.width), halfSize(ah, p.height)};
}

struct ValueRange {
    int lo, hi;
    int bins() const { return hi - lo + 1; }
};

ValueRange valueRange(const std::vector<int16_t>& s) {
    auto [mn, mx] = std::minmax_element(s.begin(), s.end());
    return {*mn, *mx};
}

// ---------------------------------------------------------------------------
// Exact integer box sums. Map gives K integer terms of type T per sample (through a
// table over the value range); out(x, y, n, sums) receives the window's sums. Column
// sums are kept per row band and updated by one row in and one row out; the row sum
// slides by one column in and one out. Integer arithmetic makes the running sums exact.

template <int K, typename T, typename Out>
void boxSums(const std::vector<int16_t>& src, const Geometry& g, const ValueRange& vr,
             const std::vector<std::array<T, K>>& table, Out&& out) {
    parallelFor(g.h, g.rowGrain(), [&](int yBegin, int yEnd) {
        const int W = g.w;
        std::vector<std::array<T, K>> col(size_t(W), std::array<T, K>{});
        auto addRow = [&](int r, int sign) {
            const int16_t* row = src.data() + size_t(r) * size_t(W);
            for (int x = 0; x < W; ++x) {
                const auto& t = table[size_t(row[x] - vr.lo)];
                for (int k = 0; k < K; ++k) col[size_t(x)][k] += sign * t[k];
            }
        };
        for (int r = g.firstRow(yBegin); r <= g.lastRow(yBegin); ++r) addRow(r, 1);
        for (int y = yBegin; y < yEnd; ++y) {
            if (y > yBegin) {
                if (y - g.ry - 1 >= 0) addRow(y - g.ry - 1, -1);
                if (y + g.ry < g.h) addRow(y + g.ry, 1);
            }
            const int64_t rows = g.lastRow(y) - g.firstRow(y) + 1;
            std::array<T, K> s{};
            for (int c = 0; c <= g.lastCol(0); ++c)
                for (int k = 0; k < K; ++k) s[k] += col[size_t(c)][k];
            for (int x = 0; x < W; ++x) {
                const int64_t n = rows * (g.lastCol(x) - g.firstCol(x) + 1);
                out(x, y, n, s);
                if (x - g.rx >= 0)
                    for (int k = 0; k < K; ++k) s[k] -= col[size_t(x - g.rx)][k];
                if (x + g.rx + 1 < W)
                    for (int k = 0; k < K; ++k) s[k] += col[size_t(x + g.rx + 1)][k];
            }
        }
    });
}

// ---------------------------------------------------------------------------
// Real-valued window sums of two terms per sample, for the harmonic and
// contraharmonic means. Floating-point running sums would drift (and never recover
// from an infinite term), so each window sum is recomputed: first the column sums of
// the window's rows, then the row sum of the window's columns, a + b additions per
// pixel instead of a * b. Every addition also keeps its rounding error (Knuth's
// two-sum), so a window sum is within about one ulp of the exact sum of its terms
// however large the window: the mean of a constant window then lies within a few
// ulps of the sample, where the storage rule takes it as whole, while a mean a hair
// below a whole number is not pulled up to it. Where samples of both signs make a sum
// cancel to nearly nothing the quotient is ill-conditioned in any order.

// Adds x to the sum hi and the rounding error of that addition to lo. An infinite
// term leaves a NaN in lo, and the quotient then stores 0, as a plain sum's infinite
// or NaN quotient (or a finite one over an infinite sum) does.
inline void addCompensated(double& hi, double& lo, double x) {
    const double t = hi + x;
    const double z = t - hi;
    lo += (hi - (t - z)) + (x - z);
    hi = t;
}

// Sums kept as separate arrays of high parts and error parts, one per column, so
// that the loops over a row run through independent lanes.
struct CompensatedRow {
    std::vector<double> hi, lo;
    explicit CompensatedRow(int w) : hi(size_t(w)), lo(size_t(w)) {}
    void clear() {
        std::fill(hi.begin(), hi.end(), 0.0);
        std::fill(lo.begin(), lo.end(), 0.0);
    }
};

void ratioMeans(Plane& p, int aw, int ah, const std::vector<double>& numTable,
                const std::vector<double>& denTable, int lo) {
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> src = p.samples;
    int16_t* dst = p.samples.data();
    const int W = g.w;
    parallelFor(g.h, g.rowGrain(), [&](int yBegin, int yEnd) {
        CompensatedRow colNum(W), colDen(W), num(W), den(W);
        for (int y = yBegin; y < yEnd; ++y) {
            colNum.clear();
            colDen.clear();
            for (int r = g.firstRow(y); r <= g.lastRow(y); ++r) {
                const int16_t* row = src.data() + size_t(r) * size_t(W);
                for (size_t x = 0; x < size_t(W); ++x) {
                    const size_t v = size_t(row[x] - lo);
                    addCompensated(colNum.hi[x], colNum.lo[x], numTable[v]);
                    addCompensated(colDen.hi[x], colDen.lo[x], denTable[v]);
                }
            }
            // The window of column x takes the column sums x - rx .. x + rx that exist:
            // offset d adds column x + d to every x for which that column is inside.
            num.clear();
            den.clear();
            for (int d = -g.rx; d <= g.rx; ++d) {
                const size_t x0 = size_t(std::max(0, -d)), x1 = size_t(std::min(W, W - d));
                for (size_t x = x0; x < x1; ++x) {
                    const size_t c = x + size_t(ptrdiff_t(d));
                    addCompensated(num.hi[x], num.lo[x], colNum.hi[c]);
                    num.lo[x] += colNum.lo[c];
                    addCompensated(den.hi[x], den.lo[x], colDen.hi[c]);
                    den.lo[x] += colDen.lo[c];
                }
            }
            int16_t* out = dst + size_t(y) * size_t(W);
            for (size_t x = 0; x < size_t(W); ++x)
                out[x] = storeMean((num.hi[x] + num.lo[x]) / (den.hi[x] + den.lo[x]));
        }
    });
}

// ---------------------------------------------------------------------------
// Order statistics over a window sliding along each row: one column of samples
// leaves and one enters per step. Stat(hist, n, own sample) gives the result.

template <int Cursors, bool Sums, typename Stat>
void rankFilter(Plane& p, int aw, int ah, Stat&& stat) {
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> src = p.samples;
    const ValueRange vr = valueRange(src);
    int16_t* dst = p.samples.data();
    const int W = g.w;
    parallelFor(g.h, g.rowGrain(), [&](int yBegin, int yEnd) {
        RankHistogram<Cursors, Sums> hist(vr.bins(), vr.lo);
        for (int y = yBegin; y < yEnd; ++y) {
            const int y0 = g.firstRow(y);
            const int rows = g.lastRow(y) - y0 + 1;
            const int16_t* top = src.data() + size_t(y0) * size_t(W);
            auto addColumn = [&](int c) {
                const int16_t* s = top + c;
                for (int r = 0; r < rows; ++r, s += W) hist.add(*s - vr.lo);
            };
            auto removeColumn = [&](int c) {
                const int16_t* s = top + c;
                for (int r = 0; r < rows; ++r, s += W) hist.remove(*s - vr.lo);
            };
            for (int c = 0; c <= g.lastCol(0); ++c) addColumn(c);
            const int16_t* own = src.data() + size_t(y) * size_t(W);
            int16_t* out = dst + size_t(y) * size_t(W);
            for (int x = 0; x < W; ++x) {
                const int32_t n = rows * (g.lastCol(x) - g.firstCol(x) + 1);
                out[x] = stat(hist, n, own[x]);
                if (x - g.rx >= 0) removeColumn(x - g.rx);
                if (x + g.rx + 1 < W) addColumn(x + g.rx + 1);
            }
            for (int c = std::max(0, W - g.rx); c < W; ++c) removeColumn(c);
        }
    });
}

// Rank queries for tall windows, from one histogram per column of the plane. Moving
// down a row changes each column histogram by one sample out and one in; moving along
// the row changes the window by adding one column histogram and removing another,
// which for the coarse level (16 bins per bucket) costs a few vector operations, and
// the fine bins of a bucket are brought up to date only when a query lands in it. A
// query walks the coarse buckets and then 16 fine bins, so the cost per pixel does not
// grow with the aperture. Column counts are 8-bit, which halves the memory the row
// updates stream through and bounds a column to 255 samples; window counts are
// 16-bit, bounding the window to 65535 samples.
// With Sums, each coarse bucket also carries the sum of its samples, for the sum of the
// r smallest samples of the window.
template <bool Sums> class ColumnRanker {
public:
    static bool suits(const Geometry& g, const ValueRange& vr) {
        const int64_t n = int64_t(2 * g.rx + 1) * int64_t(2 * g.ry + 1);
        return g.ry >= 3 && g.ry <= 127 && vr.bins() <= 1024 && n <= 65535;
    }

    ColumnRanker(const int16_t* src, const Geometry& g, const ValueRange& vr)
        : src_(src), g_(g), lo_(vr.lo), bins_((vr.bins() + 15) & ~15), buckets_(bins_ / 16),
          colFine_(size_t(g.w) * size_t(bins_), 0), colCoarse_(size_t(g.w) * size_t(buckets_), 0),
          kFine_(size_t(bins_), 0), kCoarse_(size_t(buckets_), 0), fineAt_(size_t(buckets_), -1) {
        if constexpr (Sums) {
            colSum_.assign(size_t(g.w) * size_t(buckets_), 0);
            kSum_.assign(size_t(buckets_), 0);
        }
    }

    // Column histograms to rows firstRow(y)..lastRow(y); window at x = 0.
    void startRow(int y) {
        if (row_ < 0) {
            for (int r = g_.firstRow(y); r <= g_.lastRow(y); ++r) changeRow(r, 1);
        } else {
            while (row_ < y) {
                ++row_;
                if (row_ - g_.ry - 1 >= 0) changeRow(row_ - g_.ry - 1, -1);
                if (row_ + g_.ry < g_.h) changeRow(row_ + g_.ry, 1);
            }
        }
        row_ = y;
        std::fill(kCoarse_.begin(), kCoarse_.end(), uint16_t(0));
        if constexpr (Sums) std::fill(kSum_.begin(), kSum_.end(), int64_t(0));
        for (int c = 0; c <= g_.lastCol(0); ++c) enter(c);
        std::fill(fineAt_.begin(), fineAt_.end(), -1);
        x_ = 0;
    }

    // Window one column further right.
    void next() {
        ++x_;
        if (x_ + g_.rx < g_.w) enter(x_ + g_.rx);
        if (x_ - g_.rx - 1 >= 0) leave(x_ - g_.rx - 1);
    }

    int rank(int32_t k) {
        int32_t acc = 0;
        int c = 0;
        while (acc + kCoarse_[size_t(c)] <= k) acc += kCoarse_[size_t(c++)];
        const uint16_t* f = fine(c);
        int b = 0;
        while (acc + f[b] <= k) acc += f[b++];
        return c * 16 + b + lo_;
    }

    // Sum of the r smallest samples of the window, 0 <= r <= window size (Sums only).
    int64_t sumSmallest(int32_t r) {
        int32_t acc = 0;
        int64_t sum = 0;
        int c = 0;
        while (acc < r && acc + kCoarse_[size_t(c)] <= r) {
            acc += kCoarse_[size_t(c)];
            sum += kSum_[size_t(c)];
            ++c;
        }
        if (acc < r) {
            const uint16_t* f = fine(c);
            for (int b = 0; acc < r; ++b) {
                const int32_t take = std::min<int32_t>(f[b], r - acc);
                sum += int64_t(take) * (c * 16 + b + lo_);
                acc += take;
            }
        }
        return sum;
    }

private:
    void enter(int col) {
        addTo(kCoarse_.data(), coarse(col), buckets_, 1);
        if constexpr (Sums) {
            const int32_t* cs = colSum_.data() + size_t(col) * size_t(buckets_);
            for (int i = 0; i < buckets_; ++i) kSum_[size_t(i)] += cs[i];
        }
    }

    void leave(int col) {
        addTo(kCoarse_.data(), coarse(col), buckets_, -1);
        if constexpr (Sums) {
            const int32_t* cs = colSum_.data() + size_t(col) * size_t(buckets_);
            for (int i = 0; i < buckets_; ++i) kSum_[size_t(i)] -= cs[i];
        }
    }

    const uint8_t* coarse(int col) const {
        return colCoarse_.data() + size_t(col) * size_t(buckets_);
    }

    static void addTo(uint16_t* dst, const uint8_t* src, int count, int sign) {
        if (sign > 0)
            for (int i = 0; i < count; ++i) dst[i] = uint16_t(dst[i] + src[i]);
        else
            for (int i = 0; i < count; ++i) dst[i] = uint16_t(dst[i] - src[i]);
    }

    void changeRow(int r, int sign) {
        const int16_t* s = src_ + size_t(r) * size_t(g_.w);
        for (int x = 0; x < g_.w; ++x) {
            const int b = s[x] - lo_;
            colFine_[size_t(x) * size_t(bins_) + size_t(b)] += uint8_t(sign);
            colCoarse_[size_t(x) * size_t(buckets_) + size_t(b >> 4)] += uint8_t(sign);
            if constexpr (Sums)
                colSum_[size_t(x) * size_t(buckets_) + size_t(b >> 4)] += sign * int32_t(s[x]);
        }
    }

    // The window's fine bins of bucket c, brought up to the current column.
    const uint16_t* fine(int c) {
        uint16_t* f = kFine_.data() + size_t(c) * 16;
        const size_t offset = size_t(c) * 16;
        int at = fineAt_[size_t(c)];
        if (at < 0 || x_ - at > 2 * g_.rx + 1) {
            std::fill(f, f + 16, uint16_t(0));
            for (int col = g_.firstCol(x_); col <= g_.lastCol(x_); ++col)
                addTo(f, colFine_.data() + size_t(col) * size_t(bins_) + offset, 16, 1);
        } else {
            for (int xx = at + 1; xx <= x_; ++xx) {
                if (xx + g_.rx < g_.w)
                    addTo(f, colFine_.data() + size_t(xx + g_.rx) * size_t(bins_) + offset, 16, 1);
                if (xx - g_.rx - 1 >= 0)
                    addTo(f, colFine_.data() + size_t(xx - g_.rx - 1) * size_t(bins_) + offset, 16,
                          -1);
            }
        }
        fineAt_[size_t(c)] = x_;
        return f;
    }

    const int16_t* src_;
    Geometry g_;
    int lo_, bins_, buckets_;
    std::vector<uint8_t> colFine_, colCoarse_; // a column holds at most 2 * 127 + 1 samples
    std::vector<uint16_t> kFine_, kCoarse_;
    std::vector<int32_t> colSum_; // per column and bucket (Sums only)
    std::vector<int64_t> kSum_;   // per bucket of the window (Sums only)
    std::vector<int> fineAt_;
    int row_ = -1, x_ = 0;
};

// Minimum or maximum of the clipped window, in a few comparisons per pixel whatever
// the aperture: the extreme of a rectangle is the extreme of its row extremes, and
// along one line the window of length k = 2r + 1 spans at most two aligned blocks of
// k values, so it is the extreme of a block suffix and a block prefix, both kept as
// running extremes. Samples beyond the border are padding that never wins, which is
// the same as clipping the window.
template <bool Max> struct Extreme {
    static constexpr int16_t pad = Max ? INT16_MIN : INT16_MAX;
    static int16_t pick(int16_t a, int16_t b) { return Max ? std::max(a, b) : std::min(a, b); }
};

template <bool Max>
std::vector<int16_t> extremeFilter(const std::vector<int16_t>& src, const Geometry& g) {
    using E = Extreme<Max>;
    const int W = g.w, H = g.h;
    std::vector<int16_t> rows(src.size()), out(src.size());
    // Along rows.
    parallelFor(H, g.rowGrain(), [&](int y0, int y1) {
        const int k = 2 * g.rx + 1, len = W + 2 * g.rx;
        std::vector<int16_t> pre(static_cast<size_t>(len)), suf(static_cast<size_t>(len));
        std::vector<int16_t> line(static_cast<size_t>(len), E::pad);
        for (int y = y0; y < y1; ++y) {
            std::copy_n(src.data() + size_t(y) * size_t(W), W, line.data() + g.rx);
            for (int b = 0; b < len; b += k) {
                const int e = std::min(b + k, len);
                pre[size_t(b)] = line[size_t(b)];
                for (int i = b + 1; i < e; ++i)
                    pre[size_t(i)] = E::pick(pre[size_t(i - 1)], line[size_t(i)]);
                suf[size_t(e - 1)] = line[size_t(e - 1)];
                for (int i = e - 2; i >= b; --i)
                    suf[size_t(i)] = E::pick(suf[size_t(i + 1)], line[size_t(i)]);
            }
            int16_t* o = rows.data() + size_t(y) * size_t(W);
            for (int x = 0; x < W; ++x) o[x] = E::pick(suf[size_t(x)], pre[size_t(x + k - 1)]);
        }
    });
    // Along columns, a strip of columns at a time so that each step is a row of values.
    constexpr int kStrip = 256;
    const int strips = (W + kStrip - 1) / kStrip;
    parallelFor(strips, 1, [&](int s0, int s1) {
        const int k = 2 * g.ry + 1, len = H + 2 * g.ry;
        std::vector<int16_t> pre(size_t(len) * kStrip), suf(size_t(len) * kStrip);
        for (int s = s0; s < s1; ++s) {
            const int c0 = s * kStrip, n = std::min(kStrip, W - c0);
            auto at = [&](int i) -> const int16_t* {
                return (i < g.ry || i >= g.ry + H)
                           ? nullptr
                           : rows.data() + size_t(i - g.ry) * size_t(W) + size_t(c0);
            };
            for (int i = 0; i < len; ++i) {
                const int16_t* v = at(i);
                int16_t* p = pre.data() + size_t(i) * kStrip;
                const int16_t* prev = p - kStrip;
                for (int c = 0; c < n; ++c) {
                    const int16_t x = v ? v[c] : E::pad;
                    p[c] = i % k == 0 ? x : E::pick(prev[c], x);
                }
            }
            for (int i = len - 1; i >= 0; --i) {
                const int16_t* v = at(i);
                int16_t* q = suf.data() + size_t(i) * kStrip;
                const int16_t* next = q + kStrip;
                const bool start = i % k == k - 1 || i == len - 1;
                for (int c = 0; c < n; ++c) {
                    const int16_t x = v ? v[c] : E::pad;
                    q[c] = start ? x : E::pick(next[c], x);
                }
            }
            for (int y = 0; y < H; ++y) {
                const int16_t* a = suf.data() + size_t(y) * kStrip;
                const int16_t* b = pre.data() + size_t(y + k - 1) * kStrip;
                int16_t* o = out.data() + size_t(y) * size_t(W) + size_t(c0);
                for (int c = 0; c < n; ++c) o[c] = E::pick(a[c], b[c]);
            }
        }
    });
    return out;
}

// Runs a column ranker over every window of the plane: value(ranker, n)
// gives the new sample of the window it stands on, n being the window's size.
template <bool Sums, typename Value>
void sweepColumnRanker(Plane& p, const Geometry& g, const ValueRange& vr, Value&& value) {
    const std::vector<int16_t> src = p.samples;
    int16_t* dst = p.samples.data();
    parallelFor(g.h, g.rowGrain(), [&](int yBegin, int yEnd) {
        ColumnRanker<Sums> ranker(src.data(), g, vr);
        for (int y = yBegin; y < yEnd; ++y) {
            ranker.startRow(y);
            const int32_t rows = g.lastRow(y) - g.firstRow(y) + 1;
            int16_t* out = dst + size_t(y) * size_t(g.w);
            for (int x = 0; x < g.w; ++x) {
                if (x > 0) ranker.next();
                out[x] = value(ranker, rows * (g.lastCol(x) - g.firstCol(x) + 1));
            }
        }
    });
}

// Pure rank filters: pick(rank, n) returns the result from rank queries. Tall windows
// use the column histograms, short ones the row-sliding histogram.
template <typename Pick> void pureRankFilter(Plane& p, int aw, int ah, Pick&& pick) {
    const Geometry g = geometry(p, aw, ah);
    const ValueRange vr = valueRange(p.samples);
    if (!ColumnRanker<false>::suits(g, vr)) {
        rankFilter<2, false>(p, aw, ah, [&](auto& h, int32_t n, int16_t) {
            int cursor = 0;
            return int16_t(pick([&](int32_t k) { return h.rankValue(cursor++, k); }, n));
        });
        return;
    }
    sweepColumnRanker<false>(p, g, vr, [&](ColumnRanker<false>& ranker, int32_t n) {
        return int16_t(pick([&](int32_t k) { return ranker.rank(k); }, n));
    });
}

// Rank of the median: ceil(n / 2) - 1, the lower middle sample for an even n.
inline int32_t medianRank(int32_t n) {
    return (n + 1) / 2 - 1;
}

} // namespace

// ---------------------------------------------------------------------------
// Means

void normalFilter(Plane& p, int aw, int ah) {
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> src = p.samples;
    const ValueRange vr = valueRange(src);
    std::vector<std::array<int64_t, 1>> table(size_t(vr.bins()));
    for (int v = vr.lo; v <= vr.hi; ++v) table[size_t(v - vr.lo)] = {v};
    int16_t* dst = p.samples.data();
    // The quotient of exact integers is correctly rounded; when it is not whole it
    // lies at least 1/n from every whole number, far beyond its rounding, so plain
    // truncation is exact.
    boxSums<1>(src, g, vr, table, [&](int x, int y, int64_t n, const std::array<int64_t, 1>& s) {
        dst[size_t(y) * size_t(g.w) + size_t(x)] = storeTrunc(double(s[0]) / double(n));
    });
}

void geometricFilter(Plane& p, int aw, int ah) {
    // The product of a 21 x 21 window of 255s overflows a double, so the window's
    // product is kept as a sum of logarithms of the magnitudes, in 60-bit fixed point
    // so that the running sums are exact (128-bit sums leave room for any window), with
    // counts of zero and negative samples for the sign. The mean is then taken relative
    // to a whole magnitude k from the table, k * exp((sum - n log k) / n): first k is
    // the pixel's own sample, then the whole number nearest that estimate, so that the
    // last exponential is of a small argument and the result is within an ulp or two.
    // A constant window gives exp(0) and exactly its sample.
    using Wide = __int128;
    constexpr int kFractionBits = 60;
    const double scale = std::ldexp(1.0, kFractionBits);
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> src = p.samples;
    const ValueRange vr = valueRange(src);
    const int maxMagnitude = std::max(std::abs(vr.lo), std::abs(vr.hi));
    std::vector<Wide> logOf(size_t(maxMagnitude) + 1, 0);
    for (int m = 1; m <= maxMagnitude; ++m)
        logOf[size_t(m)] = Wide(std::nearbyint(std::log(static_cast<long double>(m)) *
                                               std::ldexp(1.0L, kFractionBits)));
    std::vector<std::array<Wide, 3>> table(size_t(vr.bins()));
    for (int v = vr.lo; v <= vr.hi; ++v)
        table[size_t(v - vr.lo)] = {logOf[size_t(std::abs(v))], v == 0 ? 1 : 0, v < 0 ? 1 : 0};
    int16_t* dst = p.samples.data();
    boxSums<3>(src, g, vr, table, [&](int x, int y, int64_t n, const std::array<Wide, 3>& s) {
        const size_t i = size_t(y) * size_t(g.w) + size_t(x);
        double r = 0.0;
        if (s[1] == 0 && s[2] % 2 == 0) {
            // mean = k * exp(log ratio), for any k with a logarithm in the table.
            auto relativeTo = [&](int k) {
                const Wide excess = s[0] - Wide(n) * logOf[size_t(k)];
                return k * std::exp(double(excess) / double(n) / scale);
            };
            // The own sample is in the window, so it is not 0 here; the mean lies
            // between the window's smallest and largest magnitudes.
            const double estimate = relativeTo(std::abs(int(src[i])));
            r = relativeTo(std::clamp(int(std::nearbyint(estimate)), 1, maxMagnitude));
        }
        dst[i] = storeMean(r);
    });
}

void harmonicFilter(Plane& p, int aw, int ah) {
    const ValueRange vr = valueRange(p.samples);
    std::vector<double> num(size_t(vr.bins()), 1.0), den(size_t(vr.bins()));
    for (int v = vr.lo; v <= vr.hi; ++v) den[size_t(v - vr.lo)] = 1.0 / double(v);
    ratioMeans(p, aw, ah, num, den, vr.lo);
}

void contraharmonicFilter(Plane& p, int aw, int ah, double q) {
    const ValueRange vr = valueRange(p.samples);
    std::vector<double> num(size_t(vr.bins())), den(size_t(vr.bins()));
    for (int v = vr.lo; v <= vr.hi; ++v) {
        num[size_t(v - vr.lo)] = std::pow(double(v), q + 1.0);
        den[size_t(v - vr.lo)] = std::pow(double(v), q);
    }
    ratioMeans(p, aw, ah, num, den, vr.lo);
}

// ---------------------------------------------------------------------------
// Order statistics

void minFilter(Plane& p, int aw, int ah) {
    p.samples = extremeFilter<false>(p.samples, geometry(p, aw, ah));
}

void maxFilter(Plane& p, int aw, int ah) {
    p.samples = extremeFilter<true>(p.samples, geometry(p, aw, ah));
}

void medianFilter(Plane& p, int aw, int ah) {
    pureRankFilter(p, aw, ah, [](auto&& rank, int32_t n) { return rank(medianRank(n)); });
}

void midPointFilter(Plane& p, int aw, int ah) {
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> lo = extremeFilter<false>(p.samples, g);
    const std::vector<int16_t> hi = extremeFilter<true>(p.samples, g);
    // Integer division truncates toward zero: the mid-point of -3 and 0 is -1.
    for (size_t i = 0; i < p.samples.size(); ++i) p.samples[i] = int16_t((lo[i] + hi[i]) / 2);
}

void trimmedMeanFilter(Plane& p, int aw, int ah, int d) {
    // At most n - 3 may be trimmed, half from each end; a truncation of 1 trims nothing.
    // The mean of what is kept is the sum of the n - k smallest less that of the k
    // smallest, in exact integers.
    auto result = [d](auto&& sumSmallest, int32_t n) {
        int32_t k = std::min(d, n - 3) / 2;
        if (k < 0) k = 0;
        const int64_t kept = sumSmallest(n - k) - (k > 0 ? sumSmallest(k) : 0);
        // A quotient of exact integers: truncation is exact (see normalFilter).
        return storeTrunc(double(kept) / double(n - 2 * k));
    };
    const Geometry g = geometry(p, aw, ah);
    const ValueRange vr = valueRange(p.samples);
    if (!ColumnRanker<true>::suits(g, vr)) {
        rankFilter<2, true>(p, aw, ah, [&](auto& h, int32_t n, int16_t) {
            // Cursor 0 serves the k smallest, cursor 1 the n - k smallest.
            return result(
                [&](int32_t r) { return r >= n ? h.sum() : h.sumSmallest(r <= n / 2 ? 0 : 1, r); },
                n);
        });
        return;
    }
    sweepColumnRanker<true>(p, g, vr, [&](ColumnRanker<true>& ranker, int32_t n) {
        return result([&](int32_t r) { return ranker.sumSmallest(r); }, n);
    });
}

// ---------------------------------------------------------------------------
// Adaptive filters

void adaptiveLocalFilter(Plane& p, int channel, int aw, int ah, double noiseVariance) {
    const Geometry g = geometry(p, aw, ah);
    const std::vector<int16_t> src = p.samples;
    const ValueRange vr = valueRange(src);
    std::vector<std::array<int64_t, 2>> table(size_t(vr.bins()));
    for (int v = vr.lo; v <= vr.hi; ++v) table[size_t(v - vr.lo)] = {v, int64_t(v) * v};
    int16_t* dst = p.samples.data();
    boxSums<2>(src, g, vr, table, [&](int x, int y, int64_t n, const std::array<int64_t, 2>& s) {
        const size_t i = size_t(y) * size_t(g.w) + size_t(x);
        const double m = double(s[0]) / double(n);
        // Population variance from exact integer sums: (n * sum(s^2) - sum(s)^2) / n^2.
        const __int128 spread = __int128(n) * s[1] - __int128(s[0]) * s[0];
        const double variance = double(spread) / (double(n) * double(n));
        double r = noiseVariance / variance;
        if (!(r < 1.0)) r = 1.0; // also a zero local variance
        // The rounding of m, the variance, r and the products is a few ulps of g and m.
        const double gv = src[i];
        dst[i] = storeMean(gv - r * (gv - m), std::max(std::fabs(gv), std::fabs(m)));
    });
    if (channel >= 4 && channel <= 8) clampPlane(p, channel);
}

void adaptiveMedianFilter(Plane& p, int sMin, int sMax) {
    // Window sizes s = sMin .. sMax - 1 with half-size s / 2. Half-sizes below 1 give
    // a single sample, which never resolves (its minimum, median and maximum agree),
    // and half-sizes that already span the plane repeat the same window, so only the
    // distinct useful half-sizes are tried, in increasing order: the same outcome as
    // trying every s, without a loop over a huge or negative range.
    const int W = p.width, H = p.height;
    const int64_t sLast = int64_t(sMax) - 1;
    const int64_t hFirst = std::max<int64_t>(1, int64_t(sMin) / 2);
    const int64_t hLast = std::min<int64_t>(sLast / 2, std::max(W, H) - 1);
    if (sLast < int64_t(sMin) || hLast < hFirst) return;

    // Every pixel starts unresolved, keeping its own sample. Each size is then tried on
    // the pixels still unresolved: while they are many, the window's minimum, median
    // and maximum are computed for the whole plane by the fast filters; once few are
    // left (flat areas, where more than half of each window shares its extreme value),
    // only their windows are visited, with a histogram sliding along each row.
    const std::vector<int16_t> src = p.samples;
    const ValueRange vr = valueRange(src);
    const size_t total = src.size();
    int16_t* dst = p.samples.data();
    std::vector<uint8_t> pending(total, 1);
    size_t pendingCount = total;

    auto decide = [&](size_t i, int zmin, int zmed, int zmax) {
        if (!(zmin < zmed && zmed < zmax)) return;
        const int z = src[i];
        dst[i] = int16_t((zmin < z && z < zmax) ? z : zmed);
        pending[i] = 0;
    };

    // Where even the largest window holds a single value, so does every smaller one
    // inside it: such pixels keep their sample without trying any size.
    if (hLast > hFirst) {
        const Geometry g{W, H, int(std::min<int64_t>(hLast, W - 1)),
                         int(std::min<int64_t>(hLast, H - 1))};
        const std::vector<int16_t> lo = extremeFilter<false>(src, g);
        const std::vector<int16_t> hi = extremeFilter<true>(src, g);
        for (size_t i = 0; i < total; ++i)
            if (lo[i] == hi[i]) pending[i] = 0;
        pendingCount = size_t(std::count(pending.begin(), pending.end(), uint8_t(1)));
    }

    for (int64_t h64 = hFirst; h64 <= hLast && pendingCount > 0; ++h64) {
        const int h = int(h64);
        const Geometry g{W, H, std::min(h, W - 1), std::min(h, H - 1)};
        if (pendingCount * 4 >= total) {
            Plane median{W, H, src};
            medianFilter(median, 2 * h + 1, 2 * h + 1);
            const std::vector<int16_t> lo = extremeFilter<false>(src, g);
            const std::vector<int16_t> hi = extremeFilter<true>(src, g);
            parallelFor(H, g.rowGrain(), [&](int y0, int y1) {
                for (size_t i = size_t(y0) * size_t(W), e = size_t(y1) * size_t(W); i < e; ++i)
                    if (pending[i]) decide(i, lo[i], median.samples[i], hi[i]);
            });
        } else {
            parallelFor(H, g.rowGrain(), [&](int y0, int y1) {
                RankHistogram<3, false> hist(vr.bins(), vr.lo);
                for (int y = y0; y < y1; ++y) {
                    const int r0 = g.firstRow(y), rows = g.lastRow(y) - r0 + 1;
                    const int16_t* top = src.data() + size_t(r0) * size_t(W);
                    auto column = [&](int c, bool add) {
                        const int16_t* s = top + c;
                        for (int r = 0; r < rows; ++r, s += W)
                            add ? hist.add(*s - vr.lo) : hist.remove(*s - vr.lo);
                    };
                    int at = -1; // centre column of the window the histogram holds
                    for (int x = 0; x < W; ++x) {
                        const size_t i = size_t(y) * size_t(W) + size_t(x);
                        if (!pending[i]) continue;
                        if (at >= 0 && x - at <= 2 * g.rx) {
                            for (int cx = at; cx < x; ++cx) {
                                if (cx - g.rx >= 0) column(cx - g.rx, false);
                                if (cx + g.rx + 1 < W) column(cx + g.rx + 1, true);
                            }
                        } else {
                            if (at >= 0)
                                for (int c = g.firstCol(at); c <= g.lastCol(at); ++c)
                                    column(c, false);
                            for (int c = g.firstCol(x); c <= g.lastCol(x); ++c) column(c, true);
                        }
                        at = x;
                        const int32_t n = hist.total();
                        decide(i, hist.rankValue(0, 0), hist.rankValue(1, medianRank(n)),
                               hist.rankValue(2, n - 1));
                    }
                    if (at >= 0)
                        for (int c = g.firstCol(at); c <= g.lastCol(at); ++c) column(c, false);
                }
            });
        }
        pendingCount = size_t(std::count(pending.begin(), pending.end(), uint8_t(1)));
    }
}

} // namespace sarnel
