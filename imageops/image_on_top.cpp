#include "imageops/image_on_top.h"

#include "imageops/parallel.h"
#include "imageops/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

double ClampTransparency(float transparency) {
    if (std::isnan(transparency)) return 0.0;
    return std::clamp(double(transparency), 0.0, 100.0);
}

// The blend formula split into its two products. Each product is computed here
// exactly as the formula computes it (same operands, same order), and the sum of
// two doubles is one correctly rounded addition either way, so Mix(o, p) is
// bit-identical to trunc(o * t / 100 + p * (1 - t / 100)) while costing two
// loads and an add per channel. (This holds as long as the compiler does not
// fuse the multiply into the add, which ISO C++ mode does not do.)
struct BlendTable {
    double over[256];
    double below[256];
    bool replace; // T = 100: every result is the overlay value itself
    bool keep;    // T = 0: every result is the image value itself

    explicit BlendTable(float transparency) {
        const double t = ClampTransparency(transparency);
        const double rest = 1.0 - t / 100.0;
        for (int v = 0; v < 256; ++v) {
            over[v] = double(v) * t / 100.0;
            below[v] = double(v) * rest;
        }
        // o * 100 / 100 is exactly o and p * 0 is 0; 0 * 0 / 100 is 0 and p * 1
        // is p: the shortcuts give what the formula gives.
        replace = t == 100.0;
        keep = t == 0.0;
    }
    uint8_t Mix(uint8_t o, uint8_t p) const {
        // The sum lies in 0..255 (a weighted mean of two bytes, up to rounding
        // that truncation absorbs), so the int conversion is the truncation.
        return uint8_t(int(over[o] + below[p]));
    }
};

// Destination pixel layouts: byte offsets of red, green, blue and the pixel
// step.
struct RgbLayout {
    static constexpr int kStep = 3, kR = 0, kG = 1, kB = 2;
};
struct BgraLayout {
    static constexpr int kStep = 4, kR = 2, kG = 1, kB = 0;
};

template <class L>
void BlendSpan(uint8_t* d, const CColor24* srcRow, const int* mapX, int count,
               const BlendTable& t) {
    if (t.replace) {
        for (int i = 0; i < count; ++i, d += L::kStep) {
            const CColor24 o = srcRow[mapX[i]];
            d[L::kR] = o.r;
            d[L::kG] = o.g;
            d[L::kB] = o.b;
        }
        return;
    }
    for (int i = 0; i < count; ++i, d += L::kStep) {
        const CColor24 o = srcRow[mapX[i]];
        d[L::kR] = t.Mix(o.r, d[L::kR]);
        d[L::kG] = t.Mix(o.g, d[L::kG]);
        d[L::kB] = t.Mix(o.b, d[L::kB]);
    }
}

IntRect Normalised(IntRect r) {
    if (r.right < r.left) std::swap(r.left, r.right);
    if (r.bottom < r.top) std::swap(r.top, r.bottom);
    return r;
}

// Blends src resized to `rect` onto a destination of dstW x dstH pixels whose
// row y starts at rowStart(y), in layout L.
template <class L, class RowStart>
bool BlendScaled(int dstW, int dstH, RowStart rowStart, const BMP_File& src, IntRect rect,
                 float transparency) {
    if (dstW <= 0 || dstH <= 0 || src.Empty()) return false;
    rect = Normalised(rect);
    const int64_t w = int64_t(rect.right) - rect.left;
    const int64_t h = int64_t(rect.bottom) - rect.top;
    if (w <= 0 || h <= 0 || w > BMP_File::kMaxSide || h > BMP_File::kMaxSide) return false;
    const BlendTable table(transparency);
    if (table.keep) return true;

    // The part of the rectangle that lies inside the destination.
    const int64_t i0 = std::max<int64_t>(0, -int64_t(rect.left));
    const int64_t i1 = std::min<int64_t>(w, int64_t(dstW) - rect.left);
    const int64_t j0 = std::max<int64_t>(0, -int64_t(rect.top));
    const int64_t j1 = std::min<int64_t>(h, int64_t(dstH) - rect.top);
    if (i0 >= i1 || j0 >= j1) return true;

    std::vector<int> mapX, mapY;
    if (!ResampleIndexMap(src.Width(), int(w), mapX) ||
        !ResampleIndexMap(src.Height(), int(h), mapY))
        return false;

    const int count = int(i1 - i0);
    const int x0 = int(rect.left + i0);
    const int* mx = mapX.data() + i0;
    const int rows = int(j1 - j0);
    imageops::ParallelRows(rows, size_t(rows) * size_t(count), [&](int b, int e) {
        for (int r = b; r < e; ++r) {
            const int64_t j = j0 + r;
            uint8_t* d = rowStart(int(rect.top + j)) + size_t(x0) * L::kStep;
            BlendSpan<L>(d, src.Row(mapY[size_t(j)]), mx, count, table);
        }
    });
    return true;
}

int32_t TruncToInt32(double v) {
    v = std::trunc(v);
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (v > 2147483647.0) return INT32_MAX;
    return int32_t(v);
}

} // namespace

uint8_t BlendChannel(uint8_t overlay, uint8_t below, float transparency) {
    // The plain formula, for single values; the image loops use BlendTable.
    const double t = ClampTransparency(transparency);
    return uint8_t(int(double(overlay) * t / 100.0 + double(below) * (1.0 - t / 100.0)));
}

bool BlendScaledInto(BMP_File& dst, const BMP_File& src, IntRect rect, float transparency) {
    if (dst.Empty()) return false;
    uint8_t* base = dst.Bytes();
    const size_t stride = size_t(dst.Width()) * 3;
    return BlendScaled<RgbLayout>(
        dst.Width(), dst.Height(), [&](int y) { return base + size_t(y) * stride; }, src, rect,
        transparency);
}

bool BlendScaledIntoBGRA(uint8_t* dst, int width, int height, size_t stride, const BMP_File& src,
                         IntRect rect, float transparency) {
    if (!dst || stride < size_t(std::max(width, 0)) * 4) return false;
    return BlendScaled<BgraLayout>(
        width, height, [&](int y) { return dst + size_t(y) * stride; }, src, rect, transparency);
}

bool BlendInto(BMP_File& dst, const BMP_File& src, int x, int y, float transparency) {
    if (dst.Empty() || src.Empty()) return false;
    // Only the part inside dst matters, so a picture placed far out (where x +
    // width would leave the int range) simply blends nothing.
    const int64_t right = int64_t(x) + src.Width();
    const int64_t bottom = int64_t(y) + src.Height();
    if (right <= 0 || bottom <= 0 || x >= dst.Width() || y >= dst.Height()) return true;
    // Same size in and out: the index maps are the identity.
    return BlendScaledInto(dst, src, IntRect{x, y, int32_t(right), int32_t(bottom)}, transparency);
}

bool ViewFrameToImage(const IntRect& frameInView, int viewClientWidth, int viewClientHeight,
                      int imageWidth, int imageHeight, IntRect& imageRect) {
    if (viewClientWidth <= 0 || viewClientHeight <= 0) return false;
    const IntRect f = Normalised(frameInView);
    const double sx = double(imageWidth) / double(viewClientWidth);
    const double sy = double(imageHeight) / double(viewClientHeight);
    imageRect = IntRect{TruncToInt32(f.left * sx), TruncToInt32(f.top * sy),
                        TruncToInt32(f.right * sx), TruncToInt32(f.bottom * sy)};
    return true;
}

bool PutImageOnTop(BMP_File& original, const BMP_File& overlay, const IntRect& frameInView,
                   int viewClientWidth, int viewClientHeight, float transparency) {
    if (original.Empty() || overlay.Empty()) return false;
    IntRect r;
    if (!ViewFrameToImage(frameInView, viewClientWidth, viewClientHeight, original.Width(),
                          original.Height(), r))
        return false;
    return BlendScaledInto(original, overlay, r, transparency);
}
