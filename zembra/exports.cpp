// The C exports. Each one works on the single animation of the library and
// catches everything: no exception may cross into a C caller.
#include "gif.h"

using zembra::Animation;

namespace {

constexpr int32_t kTrue = -1;
constexpr int32_t kFalse = 0;

// Created when the library is loaded, destroyed when it is unloaded.
Animation g_animation;

} // namespace

extern "C" {

ZEMBRA_API ZBitmap* ZCreateBitmap(int32_t width, int32_t height, int32_t bitsPerPixel) {
    try {
        return zembra::createBitmap(width, height, bitsPerPixel).release();
    } catch (...) {
        return nullptr;
    }
}

ZEMBRA_API void ZDeleteBitmap(ZBitmap* bitmap) {
    zembra::BitmapDeleter{}(bitmap);
}

ZEMBRA_API void Reset(void) {
    g_animation.reset();
}

ZEMBRA_API int32_t Load(const char* path) {
    try {
        g_animation.loadFile(path);
        return kTrue;
    } catch (...) {
        return kFalse;
    }
}

ZEMBRA_API int32_t Save(const char* path) {
    try {
        g_animation.saveFile(path);
        return kTrue;
    } catch (...) {
        return kFalse;
    }
}

ZEMBRA_API int32_t GetFrameCount(void) {
    return int32_t(g_animation.frames.size());
}

ZEMBRA_API void SetFrameCount(int32_t count) {
    try {
        g_animation.setFrameCount(count);
    } catch (...) {
    }
}

ZEMBRA_API int32_t GetFrameTimeDelay(int32_t index) {
    if (!g_animation.valid(index)) return 0;
    return int32_t(g_animation.frames[size_t(index)]->delayMs / 10);
}

ZEMBRA_API void SetFrameTimeDelay(int32_t index, int32_t delay) {
    if (g_animation.valid(index)) g_animation.setDelay(index, delay);
}

ZEMBRA_API int32_t GetFrameData(int32_t index, int32_t* width, int32_t* height, uint8_t** bits,
                                int32_t* bitsPerPixel) {
    if (!g_animation.valid(index)) return kFalse;
    try {
        const ZBitmap* b = g_animation.frameBitmap(index);
        if (!b) return kFalse;
        if (width) *width = b->width;
        if (height) *height = b->height;
        if (!b->bits) return kFalse;
        if (bits) *bits = b->bits;
        // The depth of the block handed out, so the caller can walk its rows;
        // for frames decoded from a file this is 8 above 16 colours, 4 above 2,
        // else 1.
        if (bitsPerPixel) *bitsPerPixel = b->bitsPerPixel;
        return kTrue;
    } catch (...) {
        return kFalse;
    }
}

ZEMBRA_API void SetFrameData(int32_t index, int32_t width, int32_t height, const uint8_t* bits,
                             int32_t bitsPerPixel) {
    if (!g_animation.valid(index)) return;
    try {
        g_animation.setFrameData(index, width, height, bits, bitsPerPixel);
    } catch (...) {
    }
}

ZEMBRA_API ZBitmap* GetFrameBitmap(int32_t index) {
    if (!g_animation.valid(index)) return nullptr;
    try {
        return g_animation.frameBitmap(index);
    } catch (...) {
        return nullptr;
    }
}

ZEMBRA_API void SetFrameBitmap(int32_t index, ZBitmap* bitmap) {
    if (!g_animation.valid(index)) return;
    try {
        g_animation.setFrameBitmap(index, bitmap);
    } catch (...) {
    }
}

ZEMBRA_API ZPalette* GetFramePalette(int32_t index) {
    if (!g_animation.valid(index)) return nullptr;
    try {
        ZBitmap* b = g_animation.frameBitmap(index);
        return b ? &b->palette : nullptr;
    } catch (...) {
        return nullptr;
    }
}

ZEMBRA_API void GetOrigin(int32_t index, int32_t* left, int32_t* top) {
    if (!g_animation.valid(index)) return;
    const zembra::Frame& f = *g_animation.frames[size_t(index)];
    if (left) *left = f.left;
    if (top) *top = f.top;
}

ZEMBRA_API void SetOrigin(int32_t index, int32_t left, int32_t top) {
    if (g_animation.valid(index)) g_animation.setOrigin(index, left, top);
}

ZEMBRA_API uint32_t GetFrameTransparentColor(int32_t index) {
    if (!g_animation.valid(index)) return 0xFFFFFF;
    return g_animation.frames[size_t(index)]->transparent;
}

ZEMBRA_API void SetFrameTransparentColor(int32_t index, uint32_t color) {
    if (g_animation.valid(index)) g_animation.setTransparent(index, color);
}

ZEMBRA_API int32_t GetFrameDisposalMethod(int32_t index) {
    if (!g_animation.valid(index)) return kFalse;
    return g_animation.frames[size_t(index)]->disposal == 2 ? kTrue : kFalse;
}

ZEMBRA_API void SetFrameDisposalMethod(int32_t index, int32_t restoreToBackground) {
    if (g_animation.valid(index)) g_animation.setDisposal(index, restoreToBackground);
}

} // extern "C"
