#include "imageops/oilify_cubism.h"

#include "imageops/overlays.h"
#include "imageops/parallel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>
#include <vector>

// ---------------------------------------------------------------------------
// Oilify

namespace {

inline double Luminance(const uint8_t* p) {
    return 0.2126 * p[2] + 0.7152 * p[1] + 0.0722 * p[0];
}

// A quotient as a byte: truncated and clamped to 0..255 (not a number: 0).
inline uint8_t ClampTrunc(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 255.0f) return 255;
    return uint8_t(int(v));
}

// Largest r with r * r <= v.
int IntSqrt(int64_t v) {
    if (v <= 0) return 0;
    int64_t r = int64_t(std::sqrt(double(v)));
    while (r * r > v) --r;
    while ((r + 1) * (r + 1) <= v) ++r;
    return int(r);
}

// Half-widths of the circular window: row offset dy of a window of radius n
// reaches floor(sqrt(n^2 - dy^2)) columns either side. Radii up to kTabled
// come from a table, larger ones (hand-edited settings) are computed.
class Reach {
public:
    static constexpr int kTabled = 128;
    Reach() {
        offsets_.resize(kTabled + 2);
        for (int n = 0; n <= kTabled; ++n) {
            offsets_[size_t(n)] = values_.size();
            for (int dy = 0; dy <= n; ++dy)
                values_.push_back(IntSqrt(int64_t(n) * n - int64_t(dy) * dy));
        }
    }
    int operator()(int n, int dy) const {
        if (n <= kTabled) return values_[offsets_[size_t(n)] + size_t(dy)];
        return IntSqrt(int64_t(n) * n - int64_t(dy) * dy);
    }

private:
    std::vector<size_t> offsets_;
    std::vector<int> values_;
};

const Reach& Reaches() {
    static const Reach r;
    return r;
}

// Which of 256 bins hold pixels, updated without branches as counts cross 0.
struct Used {
    uint64_t bits[4];
    void Clear() { std::memset(bits, 0, sizeof bits); }
    bool Empty() const { return (bits[0] | bits[1] | bits[2] | bits[3]) == 0; }
    void Mark(int b, bool on) { bits[b >> 6] |= uint64_t(on) << (b & 63); }
    void Unmark(int b, bool off) { bits[b >> 6] &= ~(uint64_t(off) << (b & 63)); }
    // Calls fn(bin) for every used bin in ascending order.
    template <class Fn> void ForEach(Fn&& fn) const {
        for (int w = 0; w < 4; ++w)
            for (uint64_t word = bits[w]; word != 0; word &= word - 1)
                fn(w * 64 + std::countr_zero(word));
    }
};

// Per bin of the intensity histogram, when no bin can reach 8224 pixels: the
// count and the alpha sum in one word, the blue, green and red sums in
// another, 21 bits each, so that a pixel enters or leaves with two additions.
constexpr int kPackedBits = 21;
constexpr uint64_t kPackedMask = (uint64_t(1) << kPackedBits) - 1;
constexpr size_t kPackedMaxCount = kPackedMask / 255;

inline uint64_t PackColour(const uint8_t* p) {
    return uint64_t(p[0]) | uint64_t(p[1]) << kPackedBits | uint64_t(p[2]) << (2 * kPackedBits);
}
inline uint64_t PackCount(const uint8_t* p) {
    return 1 | uint64_t(p[3]) << kPackedBits;
}

// Bin weights of one pixel, remembered per count while the fullest count and
// the exponent stay the same (a window holds few distinct counts).
class WeightMemo {
public:
    void Resize(size_t maxCount) {
        weight_.assign(maxCount + 1, 0.0f);
        stamp_.assign(maxCount + 1, 0);
        stampNow_ = 0;
        hmax_ = -1;
    }
    void Start(int hmax, float exponent) {
        if (hmax != hmax_ || !(std::memcmp(&exponent, &exponent_, sizeof exponent) == 0)) {
            hmax_ = hmax;
            exponent_ = exponent;
            if (++stampNow_ == 0) { // wrapped: forget everything
                std::fill(stamp_.begin(), stamp_.end(), 0);
                stampNow_ = 1;
            }
        }
    }
    float operator()(int count) {
        if (stamp_[size_t(count)] != stampNow_) {
            stamp_[size_t(count)] = stampNow_;
            weight_[size_t(count)] = OilifyWeight(count, std::max(hmax_, 1), exponent_);
        }
        return weight_[size_t(count)];
    }

private:
    std::vector<float> weight_;
    std::vector<uint32_t> stamp_;
    uint32_t stampNow_ = 0;
    int hmax_ = -1;
    float exponent_ = 0.0f;
};

// The sliding window of one thread: the histograms of the current pixel's
// window, moved to the next pixel by adding and removing only the pixels in
// which the two windows differ (two per row when the radius stays).
template <bool Packed> class OilifyWindow {
public:
    OilifyWindow(const uint8_t* src, const uint8_t* intensity, int w, int h, bool intensityMode,
                 size_t maxCount)
        : src_(src), intensity_(intensity), w_(w), h_(h), intensityMode_(intensityMode) {
        for (WeightMemo& m : memo_) m.Resize(maxCount);
        StartRow();
    }

    void StartRow() {
        for (auto& copy : used_)
            for (Used& u : copy) u.Clear();
        std::memset(count_, 0, sizeof count_);
        std::memset(colour_, 0, sizeof colour_);
        std::memset(countAlpha_, 0, sizeof countAlpha_);
        if (!Packed) sum_.assign(256 * 4, 0);
    }

    // Moves from the window of (xOld, y) with radius nOld (nOld < 0: none) to
    // the window of (xNew, y) with radius nNew.
    void Move(int y, int xOld, int nOld, int xNew, int nNew) {
        const Reach& reach = Reaches();
        if (nOld == nNew && xNew == xOld + 1 && xOld - nOld >= 0 && xNew + nNew <= w_ - 2) {
            // Every row of both windows lies inside the columns that count:
            // its leftmost pixel leaves and the one after its rightmost enters.
            const int yFirst = std::max(y - nNew, 0), yLast = std::min(y + nNew, h_ - 2);
            for (int yy = yFirst; yy <= yLast; ++yy) {
                const int r = reach(nNew, std::abs(yy - y));
                const size_t row = size_t(yy) * size_t(w_);
                Remove(row + size_t(xOld - r), yy);
                Add(row + size_t(xNew + r), yy);
            }
            return;
        }
        const int m = std::max(nOld, nNew);
        const int yFirst = std::max(y - m, 0), yLast = std::min(y + m, h_ - 2);
        for (int yy = yFirst; yy <= yLast; ++yy) {
            const int dy = std::abs(yy - y);
            int a0 = 0, a1 = -1, b0 = 0, b1 = -1;
            if (nOld >= 0 && dy <= nOld) {
                const int r = reach(nOld, dy);
                a0 = std::max(xOld - r, 0);
                a1 = std::min(xOld + r, w_ - 2);
            }
            if (dy <= nNew) {
                const int r = reach(nNew, dy);
                b0 = std::max(xNew - r, 0);
                b1 = std::min(xNew + r, w_ - 2);
            }
            const size_t row = size_t(yy) * size_t(w_);
            if (a0 > a1) {
                for (int x = b0; x <= b1; ++x) Add(row + size_t(x), yy);
                continue;
            }
            if (b0 > b1) {
                for (int x = a0; x <= a1; ++x) Remove(row + size_t(x), yy);
                continue;
            }
            for (int x = a0; x <= std::min(a1, b0 - 1); ++x) Remove(row + size_t(x), yy);
            for (int x = std::max(a0, b1 + 1); x <= a1; ++x) Remove(row + size_t(x), yy);
            for (int x = b0; x <= std::min(b1, a0 - 1); ++x) Add(row + size_t(x), yy);
            for (int x = std::max(b0, a1 + 1); x <= b1; ++x) Add(row + size_t(x), yy);
        }
    }

    // Writes the weighted colour of the current window; an empty window
    // leaves the source pixel.
    void Output(size_t pixel, float exponent, uint8_t* dst) {
        uint8_t* out = dst + 4 * pixel;
        for (int ch = 0; ch < (intensityMode_ ? 1 : 4); ++ch)
            for (int w = 0; w < 4; ++w) {
                uint64_t bits = 0;
                for (const auto& copy : used_) bits |= copy[ch].bits[w];
                all_[ch].bits[w] = bits;
            }
        if (all_[0].Empty()) {
            std::memcpy(out, src_ + 4 * pixel, 4);
            return;
        }
        if (intensityMode_)
            OutputIntensity(exponent, out);
        else
            for (int ch = 0; ch < 4; ++ch) out[ch] = OutputChannel(ch, exponent);
    }

private:
    // Pixels of neighbouring rows go to different copies of the histograms:
    // updates that meet the same bin one after the other then do not wait
    // for each other. The copies are added up at output.
    void Add(size_t pixel, int yy) {
        const uint8_t* p = src_ + 4 * pixel;
        const int k = yy & (kCopies - 1);
        if (intensityMode_) {
            const int b = intensity_[pixel];
            if (Packed) {
                const uint64_t before = countAlpha_[k][b];
                countAlpha_[k][b] = before + PackCount(p);
                colour_[k][b] += PackColour(p);
                used_[k][0].Mark(b, (before & kPackedMask) == 0);
            } else {
                used_[k][0].Mark(b, count_[k][0][b]++ == 0);
                for (int ch = 0; ch < 4; ++ch) sum_[size_t(b) * 4 + size_t(ch)] += p[ch];
            }
        } else {
            for (int ch = 0; ch < 4; ++ch) used_[k][ch].Mark(p[ch], count_[k][ch][p[ch]]++ == 0);
        }
    }
    void Remove(size_t pixel, int yy) {
        const uint8_t* p = src_ + 4 * pixel;
        const int k = yy & (kCopies - 1);
        if (intensityMode_) {
            const int b = intensity_[pixel];
            if (Packed) {
                const uint64_t after = countAlpha_[k][b] - PackCount(p);
                countAlpha_[k][b] = after;
                colour_[k][b] -= PackColour(p);
                used_[k][0].Unmark(b, (after & kPackedMask) == 0);
            } else {
                used_[k][0].Unmark(b, --count_[k][0][b] == 0);
                for (int ch = 0; ch < 4; ++ch) sum_[size_t(b) * 4 + size_t(ch)] -= p[ch];
            }
        } else {
            for (int ch = 0; ch < 4; ++ch) used_[k][ch].Unmark(p[ch], --count_[k][ch][p[ch]] == 0);
        }
    }

    // Totals over the copies. Packed words add up field by field: no field
    // of a total overflows.
    uint64_t CountAlpha(int i) const {
        uint64_t t = 0;
        for (int k = 0; k < kCopies; ++k) t += countAlpha_[k][i];
        return t;
    }
    uint64_t Colour(int i) const {
        uint64_t t = 0;
        for (int k = 0; k < kCopies; ++k) t += colour_[k][i];
        return t;
    }
    int ChannelCount(int ch, int i) const {
        uint32_t t = 0;
        for (int k = 0; k < kCopies; ++k) t += count_[k][ch][i];
        return int(t);
    }

    // Bins in ascending order: only the used ones when an empty bin weighs 0
    // (adding 0 changes no sum), else all 256. The used bins' totals over the
    // copies are formed once, while the fullest count is sought, and handed
    // to fn(bin, count, word) with word = wordOf(bin) (what the caller needs
    // besides the count).
    template <class WordOf, class CountOfWord, class Fn>
    void ForBins(const Used& used, WeightMemo& memo, float exponent, WordOf&& wordOf,
                 CountOfWord&& countOfWord, Fn&& fn) {
        int hmax = 0, n = 0;
        used.ForEach([&](int i) {
            const uint64_t word = wordOf(i);
            const int c = countOfWord(word);
            bins_[n] = uint8_t(i);
            counts_[n] = c;
            words_[n] = word;
            ++n;
            hmax = std::max(hmax, c);
        });
        memo.Start(hmax, exponent);
        if (memo(0) == 0.0f) {
            for (int k = 0; k < n; ++k) fn(int(bins_[k]), counts_[k], words_[k]);
        } else {
            for (int i = 0; i < 256; ++i) {
                const uint64_t word = wordOf(i);
                fn(i, countOfWord(word), word);
            }
        }
    }

    void OutputIntensity(float exponent, uint8_t* out) {
        float div = 0.000001f;
        float color[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        WeightMemo& memo = memo_[0];
        auto fn = [&](int i, int c, uint64_t word) {
            const float w = memo(c);
            div += w;
            if (c == 0) return;
            // The bin's weight shared among its pixels, times their sum.
            const float perPixel = w / float(c);
            if (Packed) {
                const uint64_t bgr = Colour(i);
                color[0] += perPixel * float(bgr & kPackedMask);
                color[1] += perPixel * float((bgr >> kPackedBits) & kPackedMask);
                color[2] += perPixel * float(bgr >> (2 * kPackedBits));
                color[3] += perPixel * float(word >> kPackedBits);
            } else {
                for (int ch = 0; ch < 4; ++ch)
                    color[ch] += perPixel * float(sum_[size_t(i) * 4 + size_t(ch)]);
            }
        };
        if (Packed)
            ForBins(
                all_[0], memo, exponent, [&](int i) { return CountAlpha(i); },
                [](uint64_t word) { return int(word & kPackedMask); }, fn);
        else
            ForBins(
                all_[0], memo, exponent, [&](int i) { return uint64_t(ChannelCount(0, i)); },
                [](uint64_t word) { return int(word); }, fn);
        for (int ch = 0; ch < 4; ++ch) out[ch] = ClampTrunc(color[ch] / div);
    }

    uint8_t OutputChannel(int ch, float exponent) {
        float div = 0.000001f, acc = 0.0f;
        WeightMemo& memo = memo_[ch];
        ForBins(
            all_[ch], memo, exponent, [&](int i) { return uint64_t(ChannelCount(ch, i)); },
            [](uint64_t word) { return int(word); },
            [&](int i, int c, uint64_t) {
                const float w = memo(c);
                acc += w * float(i);
                div += w;
            });
        return ClampTrunc(acc / div);
    }

    const uint8_t* src_;
    const uint8_t* intensity_;
    int w_, h_;
    bool intensityMode_;
    static constexpr int kCopies = 4;
    Used used_[kCopies][4];
    Used all_[4]; // used in any copy
    WeightMemo memo_[4];
    uint32_t count_[kCopies][4][256];
    uint64_t colour_[kCopies][256];
    uint64_t countAlpha_[kCopies][256];
    std::vector<int64_t> sum_;
    // The used bins of the histogram being output, with their totals.
    uint8_t bins_[256];
    int counts_[256];
    uint64_t words_[256];
};

} // namespace

float OilifyWeight(int count, int hmax, float exponent) {
    const float ratio = float(count) / float(std::max(hmax, 1));
    if (exponent - std::floor(exponent) < 0.001f && exponent <= 255.0f) {
        int k = int(exponent);
        float result = 1.0f, base = ratio;
        while (k > 0) {
            if (k & 1) result *= base;
            base *= base;
            k >>= 1;
        }
        return result;
    }
    return std::pow(ratio, exponent);
}

OilifyPixelParams OilifyParamsAt(const uint8_t* src, int width, int height, int x, int y,
                                 const OilifyValues& v) {
    const double limit = double(width) + double(height);
    float m = 1.0f;
    if (v.use_mask_size_map || v.use_exponent_map)
        m = std::max(float(Luminance(src + 4 * (size_t(y) * size_t(width) + size_t(x)))), 1.0f);
    double n;
    if (v.use_mask_size_map)
        n = std::floor(0.5 + double(m / 255.0f) * v.mask_size * 0.5);
    else
        n = std::floor(std::clamp(std::trunc(v.mask_size), 0.0, 2.0 * limit) / 2.0);
    // Not a number, negative or beyond the picture: the window no longer
    // changes past width + height.
    n = n >= 0.0 ? std::min(n, limit) : 0.0;
    const float e = v.use_exponent_map ? (m / 255.0f) * float(v.exponent) : float(v.exponent);
    return OilifyPixelParams{int(n), e};
}

void Oilify(const uint8_t* src, uint8_t* dst, int width, int height, const OilifyValues& v) {
    if (width <= 0 || height <= 0) return;
    const size_t pixels = size_t(width) * size_t(height);
    const bool intensityMode = v.mode != 0;
    std::vector<uint8_t> intensity;
    if (intensityMode) {
        intensity.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) intensity[i] = uint8_t(int(Luminance(src + 4 * i)));
    }
    // The largest radius any pixel can have: with the map, a white pixel's.
    int maxRadius = OilifyParamsAt(src, width, height, 0, 0, v).radius;
    if (v.use_mask_size_map) {
        const double n = std::floor(0.5 + v.mask_size * 0.5);
        maxRadius = int(n >= 0.0 ? std::min(n, double(width) + double(height)) : 0.0);
    }
    const int64_t side = 2 * int64_t(maxRadius) + 1;
    const int64_t inside = int64_t(width - 1) * int64_t(height - 1);
    const size_t maxCount = size_t(std::max<int64_t>(std::min(side * side, inside), 0));
    const bool maps = v.use_mask_size_map || v.use_exponent_map;
    const OilifyPixelParams fixed = OilifyParamsAt(src, width, height, 0, 0, v);
    // The weighting of a pixel does not depend on any other output, so rows
    // are shared among threads; each slides its own window along its rows.
    auto run = [&](auto window) {
        imageops::ParallelRows(
            height, pixels * size_t(std::min(maxRadius + 1, 64)), [&](int y0, int y1) {
                auto w = window;
                for (int y = y0; y < y1; ++y) {
                    w.StartRow();
                    int nPrev = -1;
                    for (int x = 0; x < width; ++x) {
                        const OilifyPixelParams p =
                            maps ? OilifyParamsAt(src, width, height, x, y, v) : fixed;
                        w.Move(y, x - 1, nPrev, x, p.radius);
                        nPrev = p.radius;
                        w.Output(size_t(y) * size_t(width) + size_t(x), p.exponent, dst);
                    }
                }
            });
    };
    if (maxCount <= kPackedMaxCount)
        run(OilifyWindow<true>(src, intensity.data(), width, height, intensityMode, maxCount));
    else
        run(OilifyWindow<false>(src, intensity.data(), width, height, intensityMode, maxCount));
}

// ---------------------------------------------------------------------------
// Cubism

std::array<std::array<double, 2>, 4> CubismCorners(double cx, double cy, int w, int h,
                                                   double theta) {
    // Half sizes as reals: an odd-sized tile stays centred on its point.
    const double hw = w / 2.0, hh = h / 2.0;
    const double c = std::cos(theta), s = std::sin(theta);
    const double local[4][2] = {{-hw, -hh}, {hw, -hh}, {hw, hh}, {-hw, hh}};
    std::array<std::array<double, 2>, 4> out{};
    for (int i = 0; i < 4; ++i) {
        const double x = local[i][0], y = local[i][1];
        out[size_t(i)] = {x * c - y * s + cx, y * c + x * s + cy};
    }
    return out;
}

namespace {

// Coordinates far beyond any picture are held where they still convert to an
// integer; a tile reaching that far covers the same pixels either way.
inline int TruncInt(double v) {
    constexpr double kLimit = double(1 << 24);
    return int(std::trunc(std::clamp(v, -kLimit, kLimit)));
}

inline int FloorDiv4(int v) {
    return v >= 0 ? v / 4 : -((-v + 3) / 4);
}

// Draws one tile with 4 x 4 supersampling, shaded along its first edge.
void FillTile(uint8_t* dst, int width, int height, const std::array<std::array<double, 2>, 4>& p,
              const uint8_t color[4]) {
    const double ex0 = p[1][0] - p[0][0], ey0 = p[1][1] - p[0][1];
    const double d = std::sqrt(ex0 * ex0 + ey0 * ey0);
    const double ex = d == 0.0 ? 0.0 : ex0 / d, ey = d == 0.0 ? 0.0 : ey0 / d;
    const double inv = d == 0.0 ? 0.0 : 1.0 / d;

    double fx0 = p[0][0], fx1 = p[0][0], fy0 = p[0][1], fy1 = p[0][1];
    for (const auto& c : p) {
        fx0 = std::min(fx0, c[0]);
        fx1 = std::max(fx1, c[0]);
        fy0 = std::min(fy0, c[1]);
        fy1 = std::max(fy1, c[1]);
    }
    const int minX = TruncInt(fx0), maxX = TruncInt(fx1);
    const int minY = TruncInt(fy0), maxY = TruncInt(fy1);
    if (maxX <= minX || maxY <= minY) return;
    const int subRows = (maxY - minY) * 4;
    std::vector<int> left(size_t(subRows), maxX * 4), right(size_t(subRows), minX * 4);

    for (int i = 0; i < 4; ++i) {
        const auto& a = p[size_t((i + 3) % 4)];
        const auto& b = p[size_t(i)];
        int x1 = TruncInt(a[0]) * 4, y1 = TruncInt(a[1]) * 4;
        int x2 = TruncInt(b[0]) * 4, y2 = TruncInt(b[1]) * 4;
        if (y1 > y2) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
        if (y1 == y2) continue;
        const double xinc = double(x2 - x1) / double(y2 - y1);
        double xs = x1 + 0.5 * xinc;
        for (int s = y1; s < y2; ++s) {
            const size_t k = size_t(s - minY * 4);
            if (left[k] > xs) left[k] = TruncInt(xs);
            if (right[k] < xs) right[k] = TruncInt(xs);
            xs += xinc;
        }
    }

    // Covered sub-samples per pixel of one pixel row: partial pixels at both
    // ends of each sub-row directly, whole pixels between them through a
    // running difference.
    const int pixelsWide = maxX - minX;
    std::vector<int> cover(size_t(pixelsWide) + 1), diff(size_t(pixelsWide) + 2);
    const int xFirst = std::max(minX, 0), xEnd = std::min(maxX, width);
    for (int row = 0; row < maxY - minY; ++row) {
        const int py = minY + row;
        if (py < 0 || py >= height || xFirst >= xEnd) continue;
        std::fill(cover.begin(), cover.end(), 0);
        std::fill(diff.begin(), diff.end(), 0);
        for (int sub = 0; sub < 4; ++sub) {
            const size_t k = size_t(row * 4 + sub);
            const int l = left[k], r = right[k];
            if (l >= r) continue;
            const int pl = FloorDiv4(l) - minX, pr = FloorDiv4(r - 1) - minX;
            if (pl == pr) {
                cover[size_t(pl)] += r - l;
                continue;
            }
            cover[size_t(pl)] += 4 * (pl + minX + 1) - l;
            cover[size_t(pr)] += r - 4 * (pr + minX);
            diff[size_t(pl + 1)] += 4;
            diff[size_t(pr)] -= 4;
        }
        int run = 0;
        uint8_t* out = dst + size_t(py) * size_t(width) * 4;
        for (int i = 0; i < pixelsWide; ++i) {
            run += diff[size_t(i)];
            const int px = minX + i;
            if (px < xFirst || px >= xEnd) continue;
            const int covered = cover[size_t(i)] + run;
            // Each covered sub-sample counts 255; the 16 of a pixel average.
            const int v = int(255 * covered * 0.0625);
            if (v <= 0) continue;
            double rr = 1.0;
            if (inv != 0.0) {
                rr = (ex * (px - p[0][0]) + ey * (py + 0.75 - p[0][1])) * inv;
                rr = std::clamp(rr, 0.2, 1.0);
            }
            const int alpha = int(v * rr);
            uint8_t* q = out + size_t(px) * 4;
            for (int ch = 0; ch < 4; ++ch)
                q[ch] = uint8_t((color[ch] * alpha + q[ch] * (255 - alpha)) / 255);
        }
    }
}

} // namespace

void Cubism(const uint8_t* src, uint8_t* dst, int width, int height, float size, float strength) {
    if (width <= 0 || height <= 0) return;
    std::memset(dst, 0, size_t(width) * size_t(height) * 4);
    // A tile size of 0 (the slider allows it) has no tiles to count: the
    // ground stays black. So does a size so small that the tiles would
    // outnumber what memory can list.
    if (!(size > 0.0f) || !std::isfinite(size)) return;
    const double z = size;
    const double g = std::isfinite(strength) ? double(strength) : 0.0;
    const double cols = std::trunc((width + z - 1.0) / z);
    const double rows = std::trunc((height + z - 1.0) / z);
    constexpr double kMaxTiles = double(1 << 28);
    if ((cols + 1.0) * (rows + 1.0) > kMaxTiles) return;
    const int across = int(cols) + 1;
    const int n = across * (int(rows) + 1);

    std::vector<int> order(static_cast<size_t>(n));
    std::iota(order.begin(), order.end(), 0);
    const float nf = float(n);
    auto pick = [&] {
        const float u = float(RuntimeRand15()) / 32768.0f;
        return std::min(int(u * nf), n - 1);
    };
    for (int64_t k = 0; k < 5 * int64_t(n); ++k) {
        const int a = pick();
        const int b = pick();
        std::swap(order[size_t(a)], order[size_t(b)]);
    }

    // Tiles far larger than the picture cover it the same whatever their
    // exact size; the limit keeps their corners within integer range.
    const double maxSide = double(1 << 22);
    for (int t : order) {
        const int ix = t % across, iy = t / across;
        const double u1 = RuntimeRand15() / 32768.0;
        const double u2 = RuntimeRand15() / 32768.0;
        const double u3 = RuntimeRand15() / 32768.0;
        const double u4 = RuntimeRand15() / 32768.0;
        const double u5 = RuntimeRand15() / 32768.0;
        const double cx = z * ix + z * 0.25 - u1 * z * 0.5;
        const double cy = z * iy + z * 0.25 - u2 * z * 0.5;
        const int w = int(std::trunc(std::clamp((z + u3 * z * 0.125) * g, -maxSide, maxSide)));
        const int h =
            int(std::trunc(std::clamp((z + u4 * z * 0.25 - z * 0.125) * g, -maxSide, maxSide)));
        const double theta = u5 * 2.0 * 3.14159265;
        const auto corners = CubismCorners(cx, cy, w, h, theta);
        const int sx = int(std::clamp(cx, 0.0, double(width - 1)));
        const int sy = int(std::clamp(cy, 0.0, double(height - 1)));
        const uint8_t* color = src + 4 * (size_t(sy) * size_t(width) + size_t(sx));
        FillTile(dst, width, height, corners, color);
    }
}
