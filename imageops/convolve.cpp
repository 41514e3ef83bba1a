#include "imageops/convolve.h"

#include "imageops/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr Kernel3 kContour = {-1, -1, -1, -1, 8, -1, -1, -1, -1};
constexpr Kernel3 kContrast = {0, -1, 0, -1, 5, -1, 0, -1, 0};
constexpr Kernel3 kHighContrast = {-1, -1, -1, -1, 9, -1, -1, -1, -1};
constexpr Kernel3 kPrewitt = {-1, -1, -1, 0, 0, 0, 1, 1, 1};
constexpr Kernel3 kSobel = {-1, 0, 1, -2, 0, 2, -1, 0, 1};
constexpr Kernel3 kLaplas = {0, 1, 0, 1, -4, 1, 0, 1, 0};

inline int Clamp8(int v) {
    return std::clamp(v, 0, 255);
}

inline uint8_t Post(int v, bool invert) {
    return uint8_t(invert ? std::max(200 - v, 0) : v);
}

constexpr int KernelSum(const Kernel3& k) {
    int s = 0;
    for (int e : k) s += e;
    return s;
}

// Channel bytes begin..end-1 of an inner row: a, b and c are the rows above,
// at and below, d the output row. Neighbours are 3 bytes apart. Written in
// fixed blocks over unaliased rows so that the compiler turns it into vector
// code.
template <Kernel3 K, bool Invert>
void FilterSpan(const uint8_t* __restrict a, const uint8_t* __restrict b,
                const uint8_t* __restrict c, uint8_t* __restrict d, int begin, int end) {
    constexpr int ksum = KernelSum(K);
    constexpr int kBlock = 16;
    int i = begin;
    for (; i + kBlock <= end; i += kBlock) {
        for (int j = 0; j < kBlock; ++j) {
            const int k = i + j;
            if constexpr (ksum == 0 || ksum == 1) {
                // With weights of at most 9 the sum of nine bytes stays within
                // 16 bits, which lets the loop run on twice as many lanes.
                const int16_t s = int16_t(
                    K[0] * int16_t(a[k - 3]) + K[1] * int16_t(a[k]) + K[2] * int16_t(a[k + 3]) +
                    K[3] * int16_t(b[k - 3]) + K[4] * int16_t(b[k]) + K[5] * int16_t(b[k + 3]) +
                    K[6] * int16_t(c[k - 3]) + K[7] * int16_t(c[k]) + K[8] * int16_t(c[k + 3]));
                const int16_t clamped = std::min<int16_t>(std::max<int16_t>(s, 0), 255);
                if constexpr (Invert)
                    d[k] = uint8_t(std::max<int16_t>(int16_t(200 - clamped), 0));
                else
                    d[k] = uint8_t(clamped);
            } else {
                int s = K[0] * a[k - 3] + K[1] * a[k] + K[2] * a[k + 3] + K[3] * b[k - 3] +
                        K[4] * b[k] + K[5] * b[k + 3] + K[6] * c[k - 3] + K[7] * c[k] +
                        K[8] * c[k + 3];
                s /= ksum;
                d[k] = Post(Clamp8(s), Invert);
            }
        }
    }
    for (; i < end; ++i) {
        int s = K[0] * a[i - 3] + K[1] * a[i] + K[2] * a[i + 3] + K[3] * b[i - 3] + K[4] * b[i] +
                K[5] * b[i + 3] + K[6] * c[i - 3] + K[7] * c[i] + K[8] * c[i + 3];
        if constexpr (ksum != 0 && ksum != 1) s /= ksum;
        d[i] = Post(Clamp8(s), Invert);
    }
}

// The kernel laid on the window of column x cut to the image, over the
// window's n rows (top first, each a row of channel bytes): ConvolvePixel on
// row pointers, so the in-place filters can hand it copies of rows.
CColor24 ConvolveWindow(const uint8_t* const* rows, int n, int x, int w, const Kernel3& kernel,
                        float factor) {
    const int x0 = std::max(x - 1, 0), x1 = std::min(x + 1, w - 1);
    int sum[3] = {0, 0, 0};
    int ksum = 0;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i <= x1 - x0; ++i) {
            const int e = kernel[size_t(i + 3 * j)];
            const uint8_t* p = rows[j] + size_t(x0 + i) * 3;
            for (int c = 0; c < 3; ++c) sum[c] += p[c] * e;
            ksum += e;
        }
    uint8_t out[3];
    for (int c = 0; c < 3; ++c) {
        const double scaled = std::trunc(double(sum[c]) * double(factor));
        int v = int(std::clamp(scaled, -1.0e9, 1.0e9));
        if (ksum != 0) v /= ksum;
        out[c] = uint8_t(Clamp8(v));
    }
    return CColor24(out[0], out[1], out[2]);
}

template <Kernel3 K, bool Invert>
void EdgePixel(const uint8_t* const* rows, int n, int x, int w, uint8_t* d) {
    const CColor24 c = ConvolveWindow(rows, n, x, w, K, 1.0f);
    uint8_t* out = d + size_t(x) * 3;
    out[0] = Post(c.r, Invert);
    out[1] = Post(c.g, Invert);
    out[2] = Post(c.b, Invert);
}

// One output row d from its window's n rows (top first), none of which is d.
// On inner rows the window is the ordinary centred one except in the first and
// last column, so everything between runs as a straight loop over channel
// bytes; on the first and last row the window is cut and the kernel shifted.
template <Kernel3 K, bool Invert>
void FilterRow(const uint8_t* const* rows, int n, bool innerRow, int w, uint8_t* d) {
    if (!innerRow || w < 3) {
        for (int x = 0; x < w; ++x) EdgePixel<K, Invert>(rows, n, x, w, d);
        return;
    }
    EdgePixel<K, Invert>(rows, 3, 0, w, d);
    EdgePixel<K, Invert>(rows, 3, w - 1, w, d);
    // From the second pixel's first byte to the last-but-one pixel's last.
    FilterSpan<K, Invert>(rows[0], rows[1], rows[2], d, 3, 3 * (w - 1));
}

// Filters the image in place. Every output pixel reads the unchanged picture:
// a band keeps a copy of the source row above the one it writes, and the rows
// just outside each band, which neighbouring bands overwrite, are copied
// before any band starts. No second picture is allocated, which on large
// pictures cost more in page faults than the filtering itself.
template <Kernel3 K, bool Invert> void RunFilter(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    const size_t rowBytes = size_t(w) * 3;
    uint8_t* bytes = image.Bytes();
    auto row = [&](int y) { return bytes + size_t(y) * rowBytes; };
    const std::vector<int> bounds = imageops::RowBands(h, image.PixelCount());
    const size_t bands = bounds.size() - 1;
    std::vector<std::vector<uint8_t>> above(bands), below(bands);
    for (size_t i = 0; i < bands; ++i) {
        if (bounds[i] > 0) above[i].assign(row(bounds[i] - 1), row(bounds[i] - 1) + rowBytes);
        if (bounds[i + 1] < h) below[i].assign(row(bounds[i + 1]), row(bounds[i + 1]) + rowBytes);
    }
    imageops::RunBands(bounds, [&](size_t band, int y0, int y1) {
        std::vector<uint8_t> prev(rowBytes), cur(rowBytes);
        const uint8_t* up = above[band].data(); // the source row above y
        for (int y = y0; y < y1; ++y) {
            uint8_t* d = row(y);
            std::memcpy(cur.data(), d, rowBytes);
            const uint8_t* down = y + 1 >= h    ? nullptr
                                  : y + 1 == y1 ? below[band].data()
                                                : row(y + 1);
            const uint8_t* window[3];
            int n = 0;
            if (y > 0) window[n++] = up;
            window[n++] = cur.data();
            if (down) window[n++] = down;
            FilterRow<K, Invert>(window, n, y > 0 && down, w, d);
            std::swap(prev, cur);
            up = prev.data();
        }
    });
}

// Exact unsigned division by a divisor fixed for a stretch of pixels: for
// 32-bit numerators and divisors, floor(n / d) = (M * n) >> 64 with
// M = floor((2^64 - 1) / d) + 1.
struct FastDivisor {
    uint64_t m = 0;
    uint32_t d = 1;
    void Set(uint32_t divisor) {
        d = divisor;
        m = divisor > 1 ? ~uint64_t(0) / divisor + 1 : 0;
    }
    uint32_t Divide(uint32_t n) const {
        return d == 1 ? n : uint32_t((static_cast<unsigned __int128>(m) * n) >> 64);
    }
};

} // namespace

CColor24 ConvolvePixel(int x, int y, const Kernel3& kernel, const BMP_File& image, float factor) {
    const int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, image.Height() - 1);
    const uint8_t* rows[3];
    for (int j = 0; j <= y1 - y0; ++j)
        rows[j] = reinterpret_cast<const uint8_t*>(image.Row(y0 + j));
    return ConvolveWindow(rows, y1 - y0 + 1, x, image.Width(), kernel, factor);
}

const Kernel3& FilterKernel(KernelFilter f) {
    switch (f) {
    case KernelFilter::Contour:
        return kContour;
    case KernelFilter::ContrastFilter:
        return kContrast;
    case KernelFilter::HighContrastFilter:
        return kHighContrast;
    case KernelFilter::Prewitt:
        return kPrewitt;
    case KernelFilter::Sobel:
        return kSobel;
    case KernelFilter::Laplas:
        break;
    }
    return kLaplas;
}

bool FilterInverts(KernelFilter f) {
    return f != KernelFilter::ContrastFilter && f != KernelFilter::HighContrastFilter;
}

void ApplyKernelFilter(BMP_File& image, KernelFilter f) {
    if (image.Empty()) return;
    switch (f) {
    case KernelFilter::Contour:
        return RunFilter<kContour, true>(image);
    case KernelFilter::ContrastFilter:
        return RunFilter<kContrast, false>(image);
    case KernelFilter::HighContrastFilter:
        return RunFilter<kHighContrast, false>(image);
    case KernelFilter::Prewitt:
        return RunFilter<kPrewitt, true>(image);
    case KernelFilter::Sobel:
        return RunFilter<kSobel, true>(image);
    case KernelFilter::Laplas:
        return RunFilter<kLaplas, true>(image);
    }
}

void Blur(BMP_File& image, int size) {
    // A negative size from an edited file would give an empty window (and a
    // division by zero); it blurs nothing, like the sizes 1 and 2.
    int r = (size - 1) / 2;
    const int w = image.Width(), h = image.Height();
    if (r <= 0 || image.Empty()) return;
    r = std::min(r, std::max(w, h)); // larger radii cover the same windows

    // Column sums over the rows of the current window, kept equal to the
    // image's present values: rows above hold blurred pixels, and each pixel
    // blurred in the current row is folded back in as it is written.
    std::vector<int32_t> col(size_t(w) * 3, 0);
    uint8_t* bytes = image.Bytes();
    const size_t rowBytes = size_t(w) * 3;
    auto addRow = [&](int y, int sign) {
        const uint8_t* p = bytes + size_t(y) * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) col[i] += sign * int32_t(p[i]);
    };
    for (int y = 0; y <= std::min(r, h - 1); ++y) addRow(y, +1);

    FastDivisor div;
    for (int y = 0; y < h; ++y) {
        if (y > 0) {
            if (y - 1 - r >= 0) addRow(y - 1 - r, -1);
            if (y + r < h) addRow(y + r, +1);
        }
        const int rows = std::min(y + r, h - 1) - std::max(y - r, 0) + 1;
        int64_t ws[3] = {0, 0, 0};
        for (int x = 0; x <= std::min(r, w - 1); ++x)
            for (int c = 0; c < 3; ++c) ws[c] += col[size_t(x) * 3 + size_t(c)];
        uint8_t* p = bytes + size_t(y) * rowBytes;
        int x = 0;
        // Near the left and right ends the window is cut and its size changes.
        auto cutWindow = [&](int xEnd) {
            int64_t lastCount = -1;
            bool fast = false;
            for (; x < xEnd; ++x) {
                const int64_t count =
                    int64_t(std::min(x + r, w - 1) - std::max(x - r, 0) + 1) * rows;
                if (count != lastCount) {
                    lastCount = count;
                    fast = count * 255 < (int64_t(1) << 32);
                    if (fast) div.Set(uint32_t(count));
                }
                int32_t* cs = &col[size_t(x) * 3];
                uint8_t* px = p + size_t(x) * 3;
                for (int c = 0; c < 3; ++c) {
                    const int v = fast ? int(div.Divide(uint32_t(ws[c]))) : int(ws[c] / count);
                    const int delta = v - px[c];
                    px[c] = uint8_t(v);
                    cs[c] += delta;
                    ws[c] += delta;
                }
                if (x - r >= 0)
                    for (int c = 0; c < 3; ++c) ws[c] -= col[size_t(x - r) * 3 + size_t(c)];
                if (x + 1 + r < w)
                    for (int c = 0; c < 3; ++c) ws[c] += col[size_t(x + 1 + r) * 3 + size_t(c)];
            }
        };
        // In between, a column leaves and a column enters at every step and the
        // window keeps its size.
        const int inner0 = r, inner1 = w - 1 - r;
        const int64_t innerCount = int64_t(2 * r + 1) * rows;
        if (inner0 < inner1 && innerCount * 255 < (int64_t(1) << 32)) {
            cutWindow(inner0);
            div.Set(uint32_t(innerCount));
            for (; x < inner1; ++x) {
                int32_t* cs = &col[size_t(x) * 3];
                const int32_t* leaving = &col[size_t(x - r) * 3];
                const int32_t* entering = &col[size_t(x + 1 + r) * 3];
                uint8_t* px = p + size_t(x) * 3;
                for (int c = 0; c < 3; ++c) {
                    const int v = int(div.Divide(uint32_t(ws[c])));
                    const int delta = v - px[c];
                    px[c] = uint8_t(v);
                    cs[c] += delta;
                    ws[c] += delta - leaving[c] + entering[c];
                }
            }
        }
        cutWindow(w);
    }
}

namespace {

void SharpenSpan(uint8_t* __restrict p, const uint8_t* __restrict q, size_t count) {
    constexpr size_t kBlock = 16;
    size_t i = 0;
    for (; i + kBlock <= count; i += kBlock)
        for (size_t j = 0; j < kBlock; ++j)
            p[i + j] = uint8_t(Clamp8((6 * int(p[i + j]) - int(q[i + j])) / 2));
    for (; i < count; ++i) p[i] = uint8_t(Clamp8((6 * int(p[i]) - int(q[i])) / 2));
}

} // namespace

void Sharpen(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    if (w < 3 || h < 3) return;
    // Each pixel reads itself and the pixel below, and the row below is only
    // written after this one, so every value read is still the original.
    for (int y = 1; y < h - 1; ++y) {
        SharpenSpan(reinterpret_cast<uint8_t*>(image.Row(y)) + 3,
                    reinterpret_cast<const uint8_t*>(image.Row(y + 1)) + 3, size_t(w - 2) * 3);
    }
}

void Emboss(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    if (image.Empty()) return;
    std::vector<uint8_t> lum(image.PixelCount());
    imageops::ParallelRows(h, image.PixelCount(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const CColor24* s = image.Row(y);
            uint8_t* l = &lum[size_t(y) * size_t(w)];
            for (int x = 0; x < w; ++x)
                l[x] = uint8_t(int(0.3 * s[x].r + 0.59 * s[x].g + 0.11 * s[x].b));
        }
    });
    imageops::ParallelRows(h, image.PixelCount(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* l = &lum[size_t(y) * size_t(w)];
            const uint8_t* la = &lum[size_t(std::max(y - 3, 0)) * size_t(w)];
            uint8_t* d = reinterpret_cast<uint8_t*>(image.Row(y));
            for (int x = 0; x < w; ++x) {
                const uint8_t g = uint8_t((int(l[x]) - int(la[std::max(x - 3, 0)]) + 255) / 2);
                d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = g;
            }
        }
    });
}

void Erode(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    if (image.Empty()) return;
    BMP_File out;
    // Effects report memory they cannot have as the containers do.
    if (!out.CreateUninitialized(w, h)) throw std::bad_alloc();
    imageops::ParallelRows(h, image.PixelCount(), [&](int y0, int y1) {
        // Intensities of the three source rows in use, each computed once per band.
        std::vector<int32_t> store(size_t(w) * 3);
        int cached[3] = {-1, -1, -1};
        auto intensities = [&](int row) -> const int32_t* {
            int slot = 0;
            for (int i = 0; i < 3; ++i) {
                if (cached[i] == row) return &store[size_t(i) * size_t(w)];
                if (cached[i] < cached[slot]) slot = i;
            }
            int32_t* f = &store[size_t(slot) * size_t(w)];
            const CColor24* p = image.Row(row);
            for (int x = 0; x < w; ++x) f[x] = p[x].r * p[x].r + p[x].g * p[x].g + p[x].b * p[x].b;
            cached[slot] = row;
            return f;
        };
        for (int y = y0; y < y1; ++y) {
            const int ra = std::max(y - 2, 0), rc = std::max(y - 1, 0), rb = y;
            const int32_t* fa = intensities(ra);
            const int32_t* fc = intensities(rc);
            const int32_t* fb = intensities(rb);
            const CColor24* pa = image.Row(ra);
            const CColor24* pc = image.Row(rc);
            const CColor24* pb = image.Row(rb);
            CColor24* d = out.Row(y);
            for (int x = 0; x < w; ++x) {
                const int xl = x > 0 ? x - 1 : 0, xr = x + 1 < w ? x + 1 : w - 1;
                const CColor24* best = &pc[x];
                int32_t bf = fc[x];
                auto tryPixel = [&](const int32_t* f, const CColor24* p, int i) {
                    if (f[i] > bf) {
                        bf = f[i];
                        best = &p[i];
                    }
                };
                tryPixel(fa, pa, xl);
                tryPixel(fa, pa, x);
                tryPixel(fa, pa, xr);
                tryPixel(fc, pc, xl);
                tryPixel(fc, pc, xr);
                tryPixel(fb, pb, xl);
                tryPixel(fb, pb, x);
                tryPixel(fb, pb, xr);
                d[x] = *best;
            }
        }
    });
    image = std::move(out);
}
