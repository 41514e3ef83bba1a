#include "imageops/geometry.h"

#include "imageops/resample.h"

#include <algorithm>
#include <cstring>

void CropImage(BMP_File& image, int x0, int y0, int x1, int y1) {
    const int64_t w64 = int64_t(x1) - x0, h64 = int64_t(y1) - y0;
    if (w64 <= 0 || h64 <= 0 || w64 > BMP_File::kMaxSide || h64 > BMP_File::kMaxSide) return;
    const int w = int(w64), h = int(h64);
    BMP_File out;
    if (!out.Create(w, h)) return;
    // Only the overlap with the old image is copied; the rest stays black.
    const int sx0 = std::max(x0, 0), sx1 = std::min(x1, image.Width());
    const int sy0 = std::max(y0, 0), sy1 = std::min(y1, image.Height());
    if (sx0 < sx1) {
        for (int y = sy0; y < sy1; ++y)
            std::memcpy(out.Row(y - y0) + (sx0 - x0), image.Row(y) + sx0,
                        size_t(sx1 - sx0) * sizeof(CColor24));
    }
    image = std::move(out);
}

void ResizeImage(BMP_File& image, int width, int height) {
    if (width <= 0 || height <= 0) return;
    if (width == image.Width() && height == image.Height()) return; // identity map
    ResampleNearest(image, width, height, image);
}

void QuarterTurn(BMP_File& image) {
    const int w = image.Width(), h = image.Height();
    if (image.Empty()) return;
    BMP_File out;
    if (!out.CreateUninitialized(h, w)) return;
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
