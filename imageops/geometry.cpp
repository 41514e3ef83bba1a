#include "imageops/geometry.h"

#include "imageops/cpu_features.h"
#include "imageops/parallel.h"
#include "imageops/resample.h"
#include "imageops/vector_kernels.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

bool CropImage(BMP_File& image, int x0, int y0, int x1, int y1) {
    const int64_t w64 = int64_t(x1) - x0, h64 = int64_t(y1) - y0;
    if (w64 <= 0 || h64 <= 0) return true;
    if (!BMP_File::SizeAllowed(w64, h64)) return false;
    const int w = int(w64), h = int(h64);
    BMP_File out;
    if (!out.Create(w, h)) return false;
    // Only the overlap with the old image is copied; the rest stays black.
    const int sx0 = std::max(x0, 0), sx1 = std::min(x1, image.Width());
    const int sy0 = std::max(y0, 0), sy1 = std::min(y1, image.Height());
    if (sx0 < sx1) {
        for (int y = sy0; y < sy1; ++y)
            std::memcpy(out.Row(y - y0) + (sx0 - x0), image.Row(y) + sx0,
                        size_t(sx1 - sx0) * sizeof(CColor24));
    }
    image = std::move(out);
    return true;
}

bool ResizeImage(BMP_File& image, int width, int height) {
    if (width <= 0 || height <= 0) return true;
    if (width == image.Width() && height == image.Height()) return true; // identity map
    // An empty image has nothing to resize.
    return image.Empty() || ResampleNearest(image, width, height, image);
}

bool QuarterTurn(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    if (image.Empty()) return true;
    BMP_File out;
    if (!out.CreateUninitialized(h, w)) return false;
    // new(h - 1 - y, x) = old(x, y); done in tiles so both sides stay in cache.
    constexpr int kTile = 64;
    const CColor24* src = image.Data();
    CColor24* dst = out.Data();
    for (int ty = 0; ty < h; ty += kTile) {
        const int yEnd = std::min(ty + kTile, h);
        for (int tx = 0; tx < w; tx += kTile) {
            const int xEnd = std::min(tx + kTile, w);
            for (int y = ty; y < yEnd; ++y) {
                const CColor24* s = src + size_t(y) * size_t(w);
                const int nx = h - 1 - y;
                for (int x = tx; x < xEnd; ++x) dst[size_t(x) * size_t(h) + size_t(nx)] = s[x];
            }
        }
    }
    image = std::move(out);
    return true;
}

void FlipLeftRight(BMP_File& image) {
    const int w = image.Width();
    for (int y = 0; y < image.Height(); ++y) std::reverse(image.Row(y), image.Row(y) + w);
}

void FlipTopBottom(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    for (int y = 0; y < h / 2; ++y)
        std::swap_ranges(image.Row(y), image.Row(y) + w, image.Row(h - 1 - y));
}

namespace {

// dst (height x width of src) = src transposed; tiled so both sides stay in
// cache. False when dst cannot be made.
bool Transpose(const BMP_File& src, BMP_File& dst) {
    const int w = src.Width(), h = src.Height();
    if (!dst.CreateUninitialized(h, w)) return false;
    constexpr int kTile = 64;
    imageops::ParallelRows(h, src.PixelCount(), [&](int yb, int ye) {
        for (int ty = yb; ty < ye; ty += kTile) {
            const int yEnd = std::min(ty + kTile, ye);
            for (int tx = 0; tx < w; tx += kTile) {
                const int xEnd = std::min(tx + kTile, w);
                for (int y = ty; y < yEnd; ++y) {
                    const CColor24* s = src.Row(y);
                    for (int x = tx; x < xEnd; ++x) dst.Row(x)[y] = s[x];
                }
            }
        }
    });
    return true;
}

inline CColor24 Blend(const CColor24& a, const CColor24& b, const CColor24& c, const CColor24& d,
                      int wx, int wy) {
    const int w00 = (256 - wx) * (256 - wy), w10 = wx * (256 - wy);
    const int w01 = (256 - wx) * wy, w11 = wx * wy;
    auto mix = [&](int pa, int pb, int pc, int pd) {
        return uint8_t((w00 * pa + w10 * pb + w01 * pc + w11 * pd + 32768) >> 16);
    };
    return CColor24(mix(a.r, b.r, c.r, d.r), mix(a.g, b.g, c.g, d.g), mix(a.b, b.b, c.b, d.b));
}

} // namespace

RotationSampler::RotationSampler(int width, int height, float degrees) {
    const double rad = double(degrees) * (3.14159265358979323846 / 180.0);
    const double c = std::cos(rad), s = std::sin(rad);
    // The destination is the source turned clockwise on the screen (y down)
    // about the centre, so a destination offset (dx, dy) from the centre comes
    // from the source offset (c dx + s dy, c dy - s dx).
    const double cx = width / 2.0, cy = height / 2.0;
    const double dx = 0.5 - cx, dy = 0.5 - cy;
    const double one = std::ldexp(1.0, kFractionBits);
    auto fixed = [one](double v) { return int64_t(std::llround(v * one)); };
    originX = fixed(c * dx + s * dy + cx - 0.5);
    originY = fixed(c * dy - s * dx + cy - 0.5);
    colStepX = fixed(c);
    colStepY = fixed(-s);
    rowStepX = fixed(s);
    rowStepY = fixed(c);
}

namespace {

// Where a destination pixel samples: the 2 x 2 source block whose top-left
// pixel is (x0, y0), and the weights of its right column and bottom row.
struct BlockSample {
    int64_t x0, y0;
    int wx, wy;
    BlockSample(int64_t px, int64_t py) {
        const int64_t fx = RotationSampler::ToSubpixel(px);
        const int64_t fy = RotationSampler::ToSubpixel(py);
        x0 = fx >> 8;
        y0 = fy >> 8;
        wx = int(fx & 255);
        wy = int(fy & 255);
    }
    bool Inside(int w, int h) const {
        return uint64_t(x0) < uint64_t(w - 1) && uint64_t(y0) < uint64_t(h - 1);
    }
};

// The blend of a block, with the background for the pixels outside the picture.
inline CColor24 BlendAtEdge(const BMP_File& src, CColor24 background, const BlockSample& b) {
    const int w = src.Width(), h = src.Height();
    auto fetch = [&](int64_t x, int64_t y) -> CColor24 {
        return uint64_t(x) < uint64_t(w) && uint64_t(y) < uint64_t(h) ? src.Row(int(y))[x]
                                                                      : background;
    };
    return Blend(fetch(b.x0, b.y0), fetch(b.x0 + 1, b.y0), fetch(b.x0, b.y0 + 1),
                 fetch(b.x0 + 1, b.y0 + 1), b.wx, b.wy);
}

void RotateRow(const RotationSampler& rs, const BMP_File& src, CColor24 background, int y,
               CColor24* d) {
    const int w = src.Width(), h = src.Height();
    int64_t px = rs.PositionX(0, y), py = rs.PositionY(0, y);
    for (int x = 0; x < w; ++x, px += rs.colStepX, py += rs.colStepY) {
        const BlockSample b(px, py);
        if (b.Inside(w, h)) {
            const CColor24* r0 = src.Row(int(b.y0)) + b.x0;
            const CColor24* r1 = r0 + w;
            d[x] = Blend(r0[0], r0[1], r1[0], r1[1], b.wx, b.wy);
        } else {
            d[x] = BlendAtEdge(src, background, b);
        }
    }
}

} // namespace

bool RotateImage(BMP_File& image, float degrees, CColor24 background) {
    // A non-finite angle can only come from a damaged file; it rotates nothing.
    if (degrees == 0.0f || !std::isfinite(degrees) || image.Empty()) return true;
    const int w = image.Width(), h = image.Height();
    const RotationSampler rs(w, h, degrees);
    BMP_File out;
    if (!out.CreateUninitialized(w, h)) return false;
    // The vector form reads four bytes per tap through 32-bit byte offsets.
    const bool vector = imageops::VectorKernelsOn() && image.PixelCount() >= 2 &&
                        image.PixelBytes() + 3 * size_t(w) + 8 < size_t(INT32_MAX);
    const imageops::kernels::RotationRows rows{
        image.Bytes(), out.Bytes(), w,           h,           rs.originX,         rs.originY,
        rs.colStepX,   rs.colStepY, rs.rowStepX, rs.rowStepY, background.Packed()};
    imageops::ParallelRows(h, image.PixelCount(), [&](int y0, int y1) {
        if (vector && imageops::kernels::RotateRows(rows, y0, y1)) return;
        for (int y = y0; y < y1; ++y) RotateRow(rs, image, background, y, out.Row(y));
    });
    image = std::move(out);
    return true;
}

namespace {

// The perspective's forward mapping, in exact integer arithmetic. With the
// axis along which one coordinate depends on one sample position only ("along":
// v and the rows in vertical mode, u and the columns in horizontal mode) of
// length L and the other ("across") of length C, sample j / 2 along lands on
//     position = p_first (1 - t) + p_last t,              t = j / 2L,
// and sample i / 2 across on
//     C/2 + (C/2 - (a_first (1 - t) + a_last t) / 2) (i / C - 1),
// both truncated. The half sine k is a float, k = K / 2^m exactly, so both are
// fractions of integers: position = (E + F j) / 2^(m+1) and across =
// (B + N i) / D. Computed that way no sample lands just below a whole pixel
// through rounding (which in floating point happened for whole-pixel results,
// e.g. at 90 degrees, where k is 1/2). Both values are never negative, so
// truncation is the integer quotient.
#if !defined(__SIZEOF_INT128__)
#error "the perspective needs a 128-bit integer type"
#endif
using Wide = __int128;

class PerspectiveMapping {
public:
    PerspectiveMapping(int width, int height, bool vertical, float degrees)
        : along_(vertical ? height : width), across_(vertical ? width : height),
          positive_(degrees > 0.0f) {
        // Degrees to radians with pi taken as 3.14159; the half sine is kept in
        // single precision.
        const float S = float(0.5 * std::sin(degrees * 0.017453277777777776));
        const float k = std::fabs(S); // at most 1/2
        if (k > 0.0f) {
            int e = 0;
            const double frac = std::frexp(double(k), &e); // k = frac * 2^e
            int64_t K = int64_t(std::ldexp(frac, 24));
            int m = 24 - e;
            while (m > 0 && (K & 1) == 0) K >>= 1, --m;
            // Below 2^-36 (only a hand-edited angle gets there) k moves no
            // sample by as much as half a pixel on pictures of up to 2^18
            // pixels a side, so only its sign decides where a sample lands,
            // and 2^-60 decides the same; it keeps the numbers in range.
            if (m > kMaxShift) K = 1, m = kMaxShift;
            K_ = K;
            m_ = m;
        }
    }

    // Destination row (vertical) or column (horizontal) of along sample j / 2.
    int Position(int j) const {
        const Wide L = along_, F = (Wide(1) << m_) - K_;
        const Wide E = positive_ ? 2 * Wide(K_) * L : Wide(0);
        return int((E + F * j) >> (m_ + 1));
    }

    // The across coordinates of the samples i / 2 = 0, 1/2, 1, ... at along
    // sample j / 2, one per Next(). Each step adds N / D < 1, so the quotient
    // and remainder are carried from step to step.
    class Walk {
    public:
        int Next() {
            const int v = at_;
            rest_ += step_;
            if (rest_ >= den_) rest_ -= den_, ++at_;
            return v;
        }

    private:
        friend class PerspectiveMapping;
        Walk(Wide start, Wide step, Wide den)
            : rest_(start % den), step_(step), den_(den), at_(int(start / den)) {}
        Wide rest_, step_, den_;
        int at_;
    };
    Walk Across(int j) const {
        const Wide L = along_, C = across_;
        // The shortening at this sample is k C P / 2L.
        const Wide P = positive_ ? 2 * L - j : Wide(j);
        const Wide D = Wide(1) << (m_ + 2);
        return Walk(C * K_ * P, (D / 2) * L - K_ * P, D * L);
    }

private:
    static constexpr int kMaxShift = 60;
    int64_t along_, across_;
    bool positive_;
    int64_t K_ = 0;
    int m_ = 0;
};

} // namespace

bool PerspectiveImage(BMP_File& image, bool vertical, float degrees, CColor24 background) {
    if (image.Empty()) return true;
    if (!std::isfinite(degrees)) degrees = 0.0f; // only a damaged file holds one
    const int w = image.Width(), h = image.Height();
    const PerspectiveMapping m(w, h, vertical, degrees);
    // Samples along the axis where one coordinate depends on one position only.
    const int nAlong = vertical ? 2 * h : 2 * w, nAcross = vertical ? 2 * w : 2 * h;
    const int alongLimit = vertical ? h : w, acrossLimit = vertical ? w : h;
    std::vector<int> pos(static_cast<size_t>(nAlong));
    for (int j = 0; j < nAlong; ++j) pos[size_t(j)] = m.Position(j);
    // Runs of samples that land on the same destination row (vertical) or
    // column (horizontal). Positions never decrease (the step is 1 - k > 0),
    // so different runs never touch the same pixels.
    std::vector<int> runs;
    for (int j = 0; j < nAlong; ++j)
        if (j == 0 || pos[size_t(j)] != pos[size_t(j - 1)]) runs.push_back(j);
    runs.push_back(nAlong);
    const int nRuns = int(runs.size()) - 1;

    if (!vertical) {
        // u (along) is the outer loop of the mapping and every u writes one
        // destination column, so the columns are built as rows of a transposed
        // canvas, in exactly the mapping's order within each column.
        BMP_File src, dst;
        if (!Transpose(image, src) || !dst.CreateUninitialized(h, w)) return false;
        std::fill(dst.Data(), dst.Data() + dst.PixelCount(), background);
        imageops::ParallelRows(nRuns, image.PixelCount(), [&](int r0, int r1) {
            for (int i = runs[size_t(r0)]; i < runs[size_t(r1)]; ++i) {
                const int X = pos[size_t(i)];
                if (unsigned(X) >= unsigned(alongLimit)) continue;
                CColor24* d = dst.Row(X);
                const CColor24* s = src.Row(i >> 1);
                PerspectiveMapping::Walk walk = m.Across(i);
                for (int j = 0; j < nAcross; ++j) {
                    const int Y = walk.Next();
                    if (unsigned(Y) < unsigned(acrossLimit)) d[Y] = s[j >> 1];
                }
            }
        });
        Transpose(dst, image);
        return true;
    }

    BMP_File out;
    if (!out.CreateUninitialized(w, h)) return false;
    std::fill(out.Data(), out.Data() + out.PixelCount(), background);
    // Vertical mode: v fixes the destination row, so the samples are taken row
    // run by row run. The mapping visits u in the outer loop, so the sample that
    // stays on a pixel is the one with the largest u, and among those the
    // largest v: visiting v in order and letting a sample win when its u is at
    // least the best so far gives the same pixel.
    imageops::ParallelRows(nRuns, image.PixelCount(), [&](int r0, int r1) {
        std::vector<int> bestU(static_cast<size_t>(w), -1);
        std::vector<CColor24> value(static_cast<size_t>(w));
        for (int r = r0; r < r1; ++r) {
            const int Y = pos[size_t(runs[size_t(r)])];
            if (unsigned(Y) >= unsigned(h)) continue;
            for (int j = runs[size_t(r)]; j < runs[size_t(r + 1)]; ++j) {
                const CColor24* s = image.Row(j >> 1);
                PerspectiveMapping::Walk walk = m.Across(j);
                for (int i = 0; i < nAcross; ++i) {
                    const int X = walk.Next();
                    if (unsigned(X) < unsigned(w) && i >= bestU[size_t(X)]) {
                        bestU[size_t(X)] = i;
                        value[size_t(X)] = s[i >> 1];
                    }
                }
            }
            CColor24* d = out.Row(Y);
            for (int x = 0; x < w; ++x) {
                if (bestU[size_t(x)] >= 0) d[x] = value[size_t(x)];
                bestU[size_t(x)] = -1;
            }
        }
    });
    image = std::move(out);
    return true;
}
