// The C interface. Every export validates its handle and bitmap arguments against
// the sets of live objects (so a null, foreign or released pointer is refused
// without being dereferenced) and lets no exception escape.
#include "sarnel/internal.h"

#include <cstdlib>
#include <mutex>
#include <new>
#include <unordered_set>

// Two exported names for one entry point. GCC also copies the target's attributes so
// that the alias does not look less restrictive; clang has no such check.
#if defined(__clang__)
#define SR_ALIAS_OF(name) __attribute__((alias(#name)))
#else
#define SR_ALIAS_OF(name) __attribute__((alias(#name), copy(name)))
#endif

namespace {

// Pictures at or above 2^29 samples would overflow the transform's byte counts.
constexpr int64_t kMaxSamples = int64_t(1) << 29;

struct Registry {
    std::mutex lock;
    std::unordered_set<const void*> images;
    std::unordered_set<const void*> bitmaps;
};

Registry& registry() {
    static Registry* r = new Registry; // never destroyed: exports may run during exit
    return *r;
}

bool isLive(const std::unordered_set<const void*>& set, const void* p) {
    std::lock_guard<std::mutex> guard(registry().lock);
    return p != nullptr && set.count(p) != 0;
}

bool liveImage(const SR_Image* image) {
    return isLive(registry().images, image);
}

bool validBitmap(const SR_Bitmap* bm) {
    if (bm == nullptr || bm->pixels == nullptr || bm->width <= 0 || bm->height <= 0) return false;
    if (int64_t(bm->stride) < 4 * int64_t(bm->width)) return false;
    return int64_t(bm->width) * bm->height < kMaxSamples;
}

SR_Bitmap* newBitmap(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || int64_t(width) * height >= kMaxSamples) return nullptr;
    const size_t bytes = 4 * size_t(width) * size_t(height);
    // One block: the record followed by its pixels, so that the pixel pointer
    // needs no separate ownership.
    void* block = std::calloc(1, sizeof(SR_Bitmap) + bytes);
    if (block == nullptr) return nullptr;
    auto* bm = static_cast<SR_Bitmap*>(block);
    bm->width = width;
    bm->height = height;
    bm->stride = 4 * width;
    bm->pixels = static_cast<uint8_t*>(block) + sizeof(SR_Bitmap);
    try {
        std::lock_guard<std::mutex> guard(registry().lock);
        registry().bitmaps.insert(bm);
    } catch (...) {
        std::free(block);
        return nullptr;
    }
    return bm;
}

// Runs a filter on the named plane when the handle is live, the channel exists and
// its plane holds samples (a plane of another colour space is empty: nothing to do).
template <typename Fn> void withPlane(SR_Image* image, SR_FilterType channel, Fn&& fn) {
    try {
        if (channel < 0 || channel >= sarnel::kChannelCount || !liveImage(image)) return;
        sarnel::Plane& plane = image->planes[size_t(channel)];
        if (!plane.usable()) return;
        fn(plane, int(channel));
    } catch (...) {
    }
}

} // namespace

extern "C" {

SR_Bitmap* SR_CreateBitmap(int32_t width, int32_t height) {
    try {
        return newBitmap(width, height);
    } catch (...) {
        return nullptr;
    }
}

void SR_DeleteBitmap(SR_Bitmap* bitmap) {
    try {
        if (bitmap == nullptr) return;
        {
            std::lock_guard<std::mutex> guard(registry().lock);
            if (registry().bitmaps.erase(bitmap) == 0) return;
        }
        std::free(bitmap);
    } catch (...) {
    }
}

void SR_InitMath(void) {}
void SR_TerminateMath(void) SR_ALIAS_OF(SR_InitMath);

SR_Image* SR_LoadBitmap(const SR_Bitmap* bitmap) {
    SR_Image* image = nullptr;
    try {
        if (!validBitmap(bitmap)) return nullptr;
        image = new (std::nothrow) SR_Image;
        if (image == nullptr) return nullptr;
        sarnel::loadImage(*image, *bitmap);
        std::lock_guard<std::mutex> guard(registry().lock);
        registry().images.insert(image);
        return image;
    } catch (...) {
        delete image;
        return nullptr;
    }
}

SR_Bitmap* SR_GetBitmap(SR_Image* image) {
    SR_Bitmap* out = nullptr;
    try {
        if (!liveImage(image)) return nullptr;
        out = newBitmap(image->width, image->height);
        if (out == nullptr) return nullptr;
        sarnel::renderImage(*image, *out);
        return out;
    } catch (...) {
        SR_DeleteBitmap(out);
        return nullptr;
    }
}

void SR_UnloadBitmap(SR_Image* image) {
    try {
        if (image == nullptr) return;
        {
            std::lock_guard<std::mutex> guard(registry().lock);
            if (registry().images.erase(image) == 0) return;
        }
        delete image;
    } catch (...) {
    }
}

void SR_ConvertSRB(SR_Image* image, int32_t mode) {
    try {
        if (!liveImage(image)) return;
        sarnel::convertAndClamp(*image, mode);
    } catch (...) {
    }
}

void SR_NormalFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int) { sarnel::normalFilter(p, width, height); });
}

void SR_NormalGeomFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int) { sarnel::geometricFilter(p, width, height); });
}

void SR_NormalGarmonicFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                             int32_t height) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int) { sarnel::harmonicFilter(p, width, height); });
}

void SR_NormalContrGarmonicFilter(SR_Image* image, SR_FilterType channel, int32_t width,
                                  int32_t height, double order) {
    withPlane(image, channel, [&](sarnel::Plane& p, int) {
        sarnel::contraharmonicFilter(p, width, height, order);
    });
}

void SR_MinFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel, [&](sarnel::Plane& p, int) { sarnel::minFilter(p, width, height); });
}

void SR_MedianFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int) { sarnel::medianFilter(p, width, height); });
}

void SR_MaxFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel, [&](sarnel::Plane& p, int) { sarnel::maxFilter(p, width, height); });
}

void SR_MidPointFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int) { sarnel::midPointFilter(p, width, height); });
}

void SR_TrimmedMeanFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height,
                          int32_t truncation) {
    withPlane(image, channel, [&](sarnel::Plane& p, int) {
        sarnel::trimmedMeanFilter(p, width, height, truncation);
    });
}

void SR_AdaptiveLocalFilter(SR_Image* image, SR_FilterType channel, int32_t width, int32_t height,
                            double noiseVariance) {
    withPlane(image, channel, [&](sarnel::Plane& p, int c) {
        sarnel::adaptiveLocalFilter(p, c, width, height, noiseVariance);
    });
}

void SR_AdaptiveMedianFilter(SR_Image* image, SR_FilterType channel, int32_t minAperture,
                             int32_t maxAperture) {
    withPlane(image, channel, [&](sarnel::Plane& p, int) {
        sarnel::adaptiveMedianFilter(p, minAperture, maxAperture);
    });
}

void SR_ButterworthFilter(SR_Image* image, SR_FilterType channel, double d0, double w,
                          int32_t order) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int c) { sarnel::butterworthBandReject(p, c, d0, w, order); });
}

void SR_GaussFilter(SR_Image* image, SR_FilterType channel, double d0, double w) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int c) { sarnel::gaussBandReject(p, c, d0, w); });
}

void SR_NbButterworthFilter(SR_Image* image, SR_FilterType channel, double d0, double u0, double v0,
                            int32_t order) {
    withPlane(image, channel, [&](sarnel::Plane& p, int c) {
        sarnel::butterworthNotchReject(p, c, d0, u0, v0, order);
    });
}

// The application offers the notch filter under both names; they are one function.
void SR_NbGaussFilter(SR_Image* image, SR_FilterType channel, double d0, double u0, double v0,
                      int32_t order) SR_ALIAS_OF(SR_NbButterworthFilter);

void SR_WienerFilterTurb(SR_Image* image, SR_FilterType channel, double k, double noiseFactor) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int c) { sarnel::wienerTurbulence(p, c, k, noiseFactor); });
}

void SR_WienerFilterMoving(SR_Image* image, SR_FilterType channel, double t, double a, double b,
                           double noiseFactor) {
    withPlane(image, channel,
              [&](sarnel::Plane& p, int c) { sarnel::wienerMotion(p, c, t, a, b, noiseFactor); });
}

} // extern "C"
