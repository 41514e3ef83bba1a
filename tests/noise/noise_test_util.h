#pragma once
// Pictures and expected results for the noise-reduction tests. The expected
// pictures come from libsarnel called directly through its C interface, with
// the bitmap exchange written out here, not taken from the dialog's code.

#include "app/bmp_file.h"
#include "sarnel/sarnel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

namespace noise_test {

// A picture of pseudo-random colours: every filter changes it.
inline BMP_File NoisyPicture(int w, int h, uint32_t seed = 1) {
    BMP_File img;
    img.Create(w, h);
    uint32_t s = seed;
    auto next = [&s] {
        s = s * 1664525u + 1013904223u;
        return uint8_t(s >> 24);
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t r = next(), g = next(), b = next();
            img.Pixel(x, y) = CColor24(r, g, b);
        }
    return img;
}

// Loads `picture` into a handle, runs `ops` on it and renders the result.
inline BMP_File Expected(const BMP_File& picture, const std::function<void(SR_Image*)>& ops) {
    SR_Bitmap* in = SR_CreateBitmap(picture.Width(), picture.Height());
    EXPECT_NE(in, nullptr);
    if (!in) return {};
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            uint8_t* p = in->pixels + size_t(y) * size_t(in->stride) + 4 * size_t(x);
            const CColor24 c = picture.Pixel(x, y);
            p[0] = c.b;
            p[1] = c.g;
            p[2] = c.r;
            p[3] = 255;
        }
    SR_Image* image = SR_LoadBitmap(in);
    SR_DeleteBitmap(in);
    EXPECT_NE(image, nullptr);
    if (!image) return {};
    SR_ConvertSRB(image, SR_MODE_RGB);
    ops(image);
    SR_Bitmap* out = SR_GetBitmap(image);
    SR_UnloadBitmap(image);
    BMP_File result;
    result.Create(out->width, out->height);
    for (int y = 0; y < out->height; ++y)
        for (int x = 0; x < out->width; ++x) {
            const uint8_t* p = out->pixels + size_t(y) * size_t(out->stride) + 4 * size_t(x);
            result.Pixel(x, y) = CColor24(p[2], p[1], p[0]);
        }
    SR_DeleteBitmap(out);
    return result;
}

inline void OnChannels(SR_Image* image, int first, const std::function<void(SR_Image*, int)>& f) {
    for (int c = first; c < first + 3; ++c) f(image, c);
}

// Handles events until `done` holds; false after `ms` milliseconds without.
inline bool WaitFor(const std::function<bool()>& done, int ms = 120000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms) return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace noise_test
