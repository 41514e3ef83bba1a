// The RGB to 4:2:0 conversion the AVI writer feeds most encoders with,
// against the BT.601 formulas in double precision, for both ranges, for odd
// sizes, and at the colours whose values every decoder agrees on.

#include "video/yuv_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

struct Planes {
    int w, h, cw, ch;
    std::vector<uint8_t> y, u, v;
    Planes(int width, int height)
        : w(width), h(height), cw((width + 1) / 2), ch((height + 1) / 2),
          // Strides wider than the rows, as an encoder's frames have them.
          y(size_t(w + 7) * h, 0xEE), u(size_t(cw + 5) * ch, 0xEE), v(size_t(cw + 5) * ch, 0xEE) {}
    YuvPlanes View() { return {y.data(), w + 7, u.data(), cw + 5, v.data(), cw + 5}; }
    int Y(int x, int yy) const { return y[size_t(yy) * (w + 7) + x]; }
    int U(int x, int yy) const { return u[size_t(yy) * (cw + 5) + x]; }
    int V(int x, int yy) const { return v[size_t(yy) * (cw + 5) + x]; }
};

double LumaOf(const CColor24& c) {
    return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
}

} // namespace

TEST(RgbToYuv420, MatchesTheFormulasForEveryRangeAndSize) {
    std::mt19937 random(11);
    for (bool full : {true, false}) {
        for (auto [w, h] : {std::pair{16, 8}, {17, 9}, {1, 1}, {2, 3}, {101, 60}, {3, 2}}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (full ? " full" : " video"));
            BMP_File img;
            ASSERT_TRUE(img.Create(w, h));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    img.Pixel(x, y) =
                        CColor24(uint8_t(random()), uint8_t(random()), uint8_t(random()));
            Planes p(w, h);
            RgbToYuv420(img, full, p.View());
            const double ys = full ? 1.0 : 219.0 / 255, yo = full ? 0 : 16;
            const double cs = full ? 1.0 : 224.0 / 255;
            int worst = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const double expected = yo + ys * LumaOf(img.Pixel(x, y));
                    worst = std::max(worst, int(std::abs(p.Y(x, y) - expected) + 0.5));
                }
            for (int cy = 0; cy < p.ch; ++cy)
                for (int cx = 0; cx < p.cw; ++cx) {
                    // The block's mean; a missing row or column repeats the last one.
                    double r = 0, g = 0, b = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx) {
                            const CColor24 c = img.Pixel(std::min(2 * cx + dx, w - 1),
                                                         std::min(2 * cy + dy, h - 1));
                            r += c.r / 4.0;
                            g += c.g / 4.0;
                            b += c.b / 4.0;
                        }
                    const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
                    const double cb = 128 + cs * 0.5 * (b - luma) / 0.886;
                    const double cr = 128 + cs * 0.5 * (r - luma) / 0.701;
                    worst = std::max(worst,
                                     int(std::abs(p.U(cx, cy) - std::clamp(cb, 0.0, 255.0)) + 0.5));
                    worst = std::max(worst,
                                     int(std::abs(p.V(cx, cy) - std::clamp(cr, 0.0, 255.0)) + 0.5));
                }
            EXPECT_LE(worst, 1);
            // Nothing is written past the rows.
            for (int y = 0; y < h; ++y)
                for (int x = w; x < w + 7; ++x) ASSERT_EQ(p.Y(x, y), 0xEE);
            for (int cy = 0; cy < p.ch; ++cy)
                for (int cx = p.cw; cx < p.cw + 5; ++cx) {
                    ASSERT_EQ(p.U(cx, cy), 0xEE);
                    ASSERT_EQ(p.V(cx, cy), 0xEE);
                }
        }
    }
}

TEST(RgbToYuv420, TheCornersOfTheColourCube) {
    struct Case {
        CColor24 c;
        int fullY, fullU, fullV, videoY, videoU, videoV;
    };
    const Case cases[] = {
        {CColor24(0, 0, 0), 0, 128, 128, 16, 128, 128},
        {CColor24(255, 255, 255), 255, 128, 128, 235, 128, 128},
        {CColor24(128, 128, 128), 128, 128, 128, 126, 128, 128},
        {CColor24(255, 0, 0), 76, 85, 255, 81, 90, 240},
        {CColor24(0, 255, 0), 150, 44, 21, 145, 54, 34},
        {CColor24(0, 0, 255), 29, 255, 107, 41, 240, 110},
    };
    for (const Case& k : cases) {
        BMP_File img;
        img.Create(4, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x) img.Pixel(x, y) = k.c;
        Planes full(4, 2), video(4, 2);
        RgbToYuv420(img, true, full.View());
        RgbToYuv420(img, false, video.View());
        SCOPED_TRACE(int(k.c.r) * 65536 + k.c.g * 256 + k.c.b);
        EXPECT_EQ(full.Y(3, 1), k.fullY);
        EXPECT_EQ(full.U(1, 0), k.fullU);
        EXPECT_EQ(full.V(1, 0), k.fullV);
        EXPECT_EQ(video.Y(3, 1), k.videoY);
        EXPECT_EQ(video.U(1, 0), k.videoU);
        EXPECT_EQ(video.V(1, 0), k.videoV);
    }
}
