// The light region and the mask run as vector code over per-byte buffers; here
// they are checked against the formulas written out plainly, pixel by pixel,
// on random pictures and rectangles (also reaching outside the picture).

#include "imageops/overlays.h"
#include "imageops/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

BMP_File Random(int w, int h, std::mt19937& rng) {
    BMP_File img;
    img.Create(w, h);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    return img;
}

void PlainLight(BMP_File& img, const IntRect& r, const ChannelInts& t) {
    const int x0 = r.left, x1 = r.right, y0 = r.top, y1 = r.bottom;
    const int cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, ax = (x1 - x0) / 2, ay = (y1 - y0) / 2;
    if (ax == 0 || ay == 0) return;
    const int target[3] = {t.r, t.g, t.b};
    for (int x = x0; x < x1; ++x)
        for (int y = y0; y < y1; ++y) {
            if (x < 0 || y < 0 || x >= img.Width() || y >= img.Height()) continue;
            const double q = double(x - cx) * double(x - cx) / double(ax * ax);
            const float r2 = float((y - cy) * (y - cy)) / float(ay * ay);
            const float d = std::sqrt(float(r2 + float(q)));
            const int amount = int(std::trunc((1.0f - d) * 200.0));
            if (amount < 0) continue;
            uint8_t* p = &img.Pixel(x, y).r;
            for (int c = 0; c < 3; ++c) {
                const int v = p[c];
                p[c] = uint8_t(v <= target[c] ? std::min(v + amount, target[c])
                                              : std::max(v - amount, target[c]));
            }
        }
}

void PlainMask(BMP_File& img, const BMP_File& mask, const MaskParams& m) {
    std::vector<int> mx, my;
    ASSERT_TRUE(ResampleIndexMap(mask.Width(), img.Width(), mx));
    ASSERT_TRUE(ResampleIndexMap(mask.Height(), img.Height(), my));
    const int colour[3] = {m.color.r, m.color.g, m.color.b};
    for (int x = 0; x < img.Width(); ++x)
        for (int y = 0; y < img.Height(); ++y) {
            const CColor24 mp = mask.Pixel(mx[size_t(x)], my[size_t(y)]);
            float a = float((mp.r + mp.g + mp.b) / 765.0);
            if (m.invert) a = 1.0f - a;
            if (a < m.opacity) a = m.opacity;
            uint8_t* p = &img.Pixel(x, y).r;
            for (int c = 0; c < 3; ++c)
                p[c] = uint8_t(int(float(p[c]) * a + float(colour[c]) * (1.0f - a)));
        }
}

} // namespace

TEST(FastForms, LightRegionMatchesThePlainFormula) {
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        const int w = 1 + int(rng() % 97), h = 1 + int(rng() % 83);
        const BMP_File img = Random(w, h, rng);
        const int l = int(rng() % (w + 20)) - 10, t = int(rng() % (h + 20)) - 10;
        const IntRect r{l, t, l + 1 + int(rng() % (w + 10)), t + 1 + int(rng() % (h + 10))};
        const ChannelInts target{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        BMP_File fast = img, plain = img;
        ApplyLightRegion(fast, r, target);
        PlainLight(plain, r, target);
        ASSERT_TRUE(fast.SameAs(plain)) << w << "x" << h << " rect " << r.left << "," << r.top
                                        << "," << r.right << "," << r.bottom;
    }
    // Large enough for the row bands to run on several threads.
    const BMP_File big = Random(701, 463, rng);
    BMP_File fast = big, plain = big;
    ApplyLightRegion(fast, IntRect{-30, 20, 650, 480}, ChannelInts{250, 10, 128});
    PlainLight(plain, IntRect{-30, 20, 650, 480}, ChannelInts{250, 10, 128});
    EXPECT_TRUE(fast.SameAs(plain));
}

TEST(FastForms, MaskMatchesThePlainFormula) {
    std::mt19937 rng(12);
    for (int round = 0; round < 30; ++round) {
        const int w = 1 + int(rng() % 120), h = 1 + int(rng() % 90);
        const BMP_File img = Random(w, h, rng);
        const BMP_File mask = Random(1 + int(rng() % 40), 1 + int(rng() % 40), rng);
        MaskParams m;
        m.invert = rng() % 2 == 0;
        m.opacity = float(rng() % 101) / 100.0f;
        m.color = ChannelInts{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        BMP_File fast = img, plain = img;
        ApplyMask(fast, mask, m);
        PlainMask(plain, mask, m);
        ASSERT_TRUE(fast.SameAs(plain)) << w << "x" << h << " round " << round;
    }
    const BMP_File big = Random(655, 401, rng);
    const BMP_File mask = Random(64, 48, rng);
    MaskParams m;
    m.opacity = 0.2f;
    m.color = ChannelInts{10, 200, 90};
    BMP_File fast = big, plain = big;
    ApplyMask(fast, mask, m);
    PlainMask(plain, mask, m);
    EXPECT_TRUE(fast.SameAs(plain));
}
