// The frame model: frame count, per-frame settings and bitmaps.
#include "gif.h"

#include <algorithm>
#include <cstring>

namespace zembra {
namespace {

uint16_t clampScreen(int64_t v) {
    return uint16_t(std::clamp<int64_t>(v, 0, 65535));
}

BitmapPtr cloneBitmap(const ZBitmap& b) {
    BitmapPtr c = createBitmap(b.width, b.height, b.bitsPerPixel);
    if (b.bits && c->bits) {
        int32_t n = std::min(c->stride, b.stride);
        for (int32_t y = 0; y < b.height; ++y)
            std::memcpy(c->bits + size_t(y) * size_t(c->stride),
                        b.bits + size_t(y) * size_t(b.stride), size_t(n));
    }
    c->palette = b.palette;
    return c;
}

} // namespace

void Animation::clear() {
    header = Header{};
    frames.clear();
    current = -1;
    screenWidth = screenHeight = 0;
    background = kNoColor;
    repeat = 1;
    looping = false;
    version = 0;
    corrupted = false;
}

void Animation::reset() {
    clear();
    looping = true;
    setRepeat(65535);
}

void Animation::setFrameCount(int32_t count) {
    if (count < 0) return; // nothing sensible to remove below index 0
    while (int32_t(frames.size()) < count) {
        frames.push_back(std::make_unique<Frame>());
        current = int32_t(frames.size()) - 1;
        raiseVersion(1);
        if (frames.size() > 1) raiseVersion(2);
    }
    while (int32_t(frames.size()) > count) {
        frames.pop_back();
        recomputeScreen();
        if (current >= int32_t(frames.size())) --current;
    }
}

void Animation::recomputeScreen() {
    int64_t w = 0, h = 0;
    for (const auto& f : frames) {
        w = std::max<int64_t>(w, int64_t(f->left) + f->width());
        h = std::max<int64_t>(h, int64_t(f->top) + f->height());
    }
    screenWidth = clampScreen(w);
    screenHeight = clampScreen(h);
}

void Animation::setDelay(int32_t index, int32_t hundredths) {
    Frame& f = *frames[size_t(index)];
    uint32_t ms = uint32_t(hundredths & 0xFFFF) * 10u;
    if (f.delayMs == ms) return;
    f.delayMs = ms;
    if (ms) raiseVersion(2);
}

void Animation::setTransparent(int32_t index, uint32_t color) {
    Frame& f = *frames[size_t(index)];
    if (f.transparent == color) return;
    f.transparent = color;
    if (color != kNoColor) raiseVersion(2);
}

void Animation::setDisposal(int32_t index, int32_t flag) {
    Frame& f = *frames[size_t(index)];
    uint8_t d = flag ? 2 : 1;
    if (f.disposal == d) return;
    f.disposal = d;
    raiseVersion(2);
}

void Animation::setOrigin(int32_t index, int32_t left, int32_t top) {
    Frame& f = *frames[size_t(index)];
    f.left = left;
    f.top = top;
    screenWidth = std::max(screenWidth, clampScreen(int64_t(left) + f.enc.width));
    screenHeight = std::max(screenHeight, clampScreen(int64_t(top) + f.enc.height));
}

void Animation::setFrameData(int32_t index, int32_t width, int32_t height, const uint8_t* bits,
                             int32_t bpp) {
    if (width < 0 || height < 0) return;
    if (!bits && width > 0 && height > 0) return;
    Frame& f = *frames[size_t(index)];
    int32_t depth;
    if (bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32)
        depth = bpp;
    else if (f.bitmap)
        depth = f.bitmap->bitsPerPixel;
    else
        depth = 32;
    BitmapPtr b = createBitmap(width, height, depth);
    // Rows are copied at the caller's row size, never past either row.
    int64_t srcRow = bpp > 0 ? (int64_t(width) * bpp + 31) / 32 * 4 : 0;
    size_t n = size_t(std::min<int64_t>(srcRow, b->stride));
    if (n > 0)
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(b->bits + size_t(y) * size_t(b->stride), bits + size_t(y) * size_t(srcRow),
                        n);
    uint32_t transparent = f.transparent;
    f = Frame{};
    f.transparent = transparent;
    f.bitmap = std::move(b);
}

void Animation::setFrameBitmap(int32_t index, ZBitmap* bitmap) {
    Frame& f = *frames[size_t(index)];
    if (f.bitmap.get() == bitmap) return;
    // A bitmap that another frame owns is copied rather than owned twice.
    for (const auto& other : frames) {
        if (other->bitmap.get() == bitmap && bitmap) {
            f.bitmap = cloneBitmap(*bitmap);
            return;
        }
    }
    f.bitmap.reset(bitmap);
}

ZBitmap* Animation::frameBitmap(int32_t index) {
    Frame& f = *frames[size_t(index)];
    decodeFrame(f);
    return f.bitmap.get();
}

} // namespace zembra
