// Image on top: the blend formula and its table, "Put Image" with the frame
// converted from view to image pixels, clipping at the image edges, and the
// 32-bit variant the view draws with.

#include "imageops/image_on_top.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

BMP_File Filled(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

BMP_File Noise(int w, int h, unsigned seed) {
    BMP_File img;
    img.Create(w, h);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    return img;
}

// Every pixel of the w x h grid: a distinct colour per position.
BMP_File Numbered(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), 7);
    return img;
}

bool Inside(int x, int y, int l, int t, int r, int b) {
    return x >= l && x < r && y >= t && y < b;
}

} // namespace

TEST(Blend, KnownValues) {
    // Half and half: (200 + 100) / 2.
    EXPECT_EQ(BlendChannel(200, 100, 50.0f), 150);
    // A quarter of 200 over black, three quarters of 200 under black.
    EXPECT_EQ(BlendChannel(200, 0, 25.0f), 50);
    EXPECT_EQ(BlendChannel(0, 200, 25.0f), 150);
    // 10 * 0.75 + 3 * 0.25 = 8.25 and 8.25 truncates to 8, not rounds.
    EXPECT_EQ(BlendChannel(10, 3, 75.0f), 8);
    EXPECT_EQ(BlendChannel(77, 13, 100.0f), 77);
    EXPECT_EQ(BlendChannel(77, 13, 0.0f), 13);
    // Double precision, truncated: 100 * 34 / 100 is exactly 34, but 34 / 100
    // is stored a little above 0.34, so 1 - 0.34 falls a little below 0.66 and
    // 100 times it a little below 66: the sum truncates to 99. Preview and
    // stamp must agree on exactly this arithmetic.
    EXPECT_EQ(BlendChannel(100, 100, 34.0f), 99);
    // Out of range weights are clamped instead of wrapping past 0..255.
    EXPECT_EQ(BlendChannel(200, 100, 150.0f), 200);
    EXPECT_EQ(BlendChannel(200, 100, -20.0f), 100);
    EXPECT_EQ(BlendChannel(200, 100, NAN), 100);
}

TEST(Blend, ImageBlendMatchesThePlainFormulaForEveryPair) {
    // 256 x 256 pictures whose channels meet every (overlay, below) pair: red
    // overlay x over y, green overlay y over x, blue overlay 255 - x over y.
    BMP_File over, below;
    over.Create(256, 256);
    below.Create(256, 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            over.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), uint8_t(255 - x));
            below.Pixel(x, y) = CColor24(uint8_t(y), uint8_t(x), uint8_t(y));
        }
    for (float T : {1.0f, 12.5f, 30.0f, 33.3f, 50.0f, 66.6667f, 99.9f}) {
        const double t = T;
        auto mix = [t](int o, int p) { return int(std::trunc(o * t / 100 + p * (1 - t / 100))); };
        BMP_File img = below;
        ASSERT_TRUE(BlendInto(img, over, 0, 0, T));
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const CColor24 p = img.Pixel(x, y);
                ASSERT_EQ(
                    p, CColor24(uint8_t(mix(x, y)), uint8_t(mix(y, x)), uint8_t(mix(255 - x, y))))
                    << "T " << T << " at " << x << "," << y;
                ASSERT_EQ(int(BlendChannel(uint8_t(x), uint8_t(y), T)), mix(x, y));
            }
    }
}

TEST(PutImage, FullWeightReplacesAndZeroWeightKeeps) {
    const BMP_File overlay = Noise(6, 4, 1);
    const BMP_File before = Noise(20, 10, 2);
    // View of the image's own size: the frame is already in image pixels.
    BMP_File img = before;
    ASSERT_TRUE(PutImageOnTop(img, overlay, IntRect{3, 2, 9, 6}, 20, 10, 100.0f));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            const CColor24 want =
                Inside(x, y, 3, 2, 9, 6) ? overlay.Pixel(x - 3, y - 2) : before.Pixel(x, y);
            ASSERT_EQ(img.Pixel(x, y), want) << x << "," << y;
        }

    img = before;
    PutImageOnTop(img, overlay, IntRect{3, 2, 9, 6}, 20, 10, 0.0f);
    EXPECT_TRUE(img.SameAs(before));
}

TEST(PutImage, FrameScalesFromViewToImage) {
    // Image 250 x 150 shown in a 100 x 100 view: x scales by 2.5, y by 1.5.
    // (3, 3)-(9, 11) becomes (7.5, 4.5)-(22.5, 16.5), truncated (7, 4)-(22, 16).
    IntRect r;
    ASSERT_TRUE(ViewFrameToImage(IntRect{3, 3, 9, 11}, 100, 100, 250, 150, r));
    EXPECT_EQ(r, (IntRect{7, 4, 22, 16}));
    // An inside-out frame is the same rectangle.
    ASSERT_TRUE(ViewFrameToImage(IntRect{9, 11, 3, 3}, 100, 100, 250, 150, r));
    EXPECT_EQ(r, (IntRect{7, 4, 22, 16}));
    EXPECT_FALSE(ViewFrameToImage(IntRect{0, 0, 5, 5}, 0, 100, 250, 150, r));

    // The same conversion drives the blend: a 16 x 12 picture into the 15 x 12
    // rectangle at (7, 4) drops one column; with the identity in y the rows
    // stay, and the whole rectangle and nothing else is covered.
    BMP_File img = Filled(250, 150, CColor24(1, 2, 3));
    const BMP_File overlay = Numbered(16, 12);
    ASSERT_TRUE(PutImageOnTop(img, overlay, IntRect{3, 3, 9, 11}, 100, 100, 100.0f));
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 250; ++x) {
            const CColor24 p = img.Pixel(x, y);
            if (Inside(x, y, 7, 4, 22, 16)) {
                ASSERT_EQ(p.g, y - 4) << x << "," << y;
                ASSERT_EQ(p.b, 7);
            } else {
                ASSERT_EQ(p, CColor24(1, 2, 3)) << x << "," << y;
            }
        }
}

TEST(PutImage, OverlayIsResampledNearestNeighbour) {
    // An 8 x 8 picture into a 4 x 4 rectangle takes columns and rows 0 2 4 7.
    BMP_File img = Filled(10, 10, CColor24());
    ASSERT_TRUE(PutImageOnTop(img, Numbered(8, 8), IntRect{1, 1, 3, 3}, 5, 5, 100.0f));
    const int pick[4] = {0, 2, 4, 7};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(img.Pixel(2 + i, 2 + j), CColor24(uint8_t(pick[i]), uint8_t(pick[j]), 7));
}

TEST(PutImage, PixelsOutsideTheImageAreSkipped) {
    const CColor24 bg(10, 20, 30), top(250, 240, 230);
    // Hanging over the top-left corner: only (0..2, 0..1) is inside.
    BMP_File img = Filled(6, 5, bg);
    ASSERT_TRUE(PutImageOnTop(img, Filled(5, 4, top), IntRect{-2, -2, 3, 2}, 6, 5, 100.0f));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(img.Pixel(x, y), Inside(x, y, 0, 0, 3, 2) ? top : bg) << x << "," << y;
    EXPECT_EQ(img.SparePixel(), CColor24());

    // Hanging over the bottom-right corner.
    img = Filled(6, 5, bg);
    ASSERT_TRUE(PutImageOnTop(img, Filled(5, 4, top), IntRect{4, 3, 9, 7}, 6, 5, 100.0f));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            ASSERT_EQ(img.Pixel(x, y), Inside(x, y, 4, 3, 6, 5) ? top : bg) << x << "," << y;

    // Wholly outside, or far larger than the image: nothing breaks, and the huge
    // frame covers the whole image.
    img = Filled(6, 5, bg);
    PutImageOnTop(img, Filled(5, 4, top), IntRect{100, 100, 120, 130}, 6, 5, 100.0f);
    PutImageOnTop(img, Filled(5, 4, top), IntRect{-50, -50, -10, -10}, 6, 5, 100.0f);
    EXPECT_TRUE(img.SameAs(Filled(6, 5, bg)));
    ASSERT_TRUE(
        PutImageOnTop(img, Filled(5, 4, top), IntRect{-90000, -90000, 90000, 90000}, 6, 5, 100.0f));
    EXPECT_TRUE(img.SameAs(Filled(6, 5, top)));
}

TEST(PutImage, NothingToBlendLeavesTheOriginal) {
    const BMP_File before = Noise(6, 5, 3);
    BMP_File img = before;
    const BMP_File overlay = Filled(2, 2, CColor24(9, 9, 9));
    EXPECT_FALSE(PutImageOnTop(img, BMP_File(), IntRect{0, 0, 3, 3}, 6, 5, 100.0f));
    EXPECT_FALSE(PutImageOnTop(img, overlay, IntRect{2, 2, 2, 4}, 6, 5, 100.0f));
    EXPECT_FALSE(PutImageOnTop(img, overlay, IntRect{0, 0, 3, 3}, 0, 0, 100.0f));
    // A frame of one view pixel in a view much larger than the image converts
    // to less than one image pixel.
    EXPECT_FALSE(PutImageOnTop(img, overlay, IntRect{1, 1, 2, 2}, 600, 500, 100.0f));
    EXPECT_TRUE(img.SameAs(before));
    BMP_File empty;
    EXPECT_FALSE(PutImageOnTop(empty, overlay, IntRect{0, 0, 3, 3}, 6, 5, 100.0f));
}

TEST(ViewPreview, BgraBufferGetsTheSameBlendAndKeepsAlpha) {
    const BMP_File below = Noise(9, 7, 4);
    const BMP_File overlay = Noise(5, 3, 5);
    const IntRect rect{-1, 2, 7, 9};
    BMP_File rgb = below;
    ASSERT_TRUE(BlendScaledInto(rgb, overlay, rect, 37.5f));

    const size_t stride = 9 * 4 + 8; // rows with a gap, as a QImage may have
    std::vector<uint8_t> bgra(stride * 7, 0xEE);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            uint8_t* d = &bgra[y * stride + x * 4];
            d[0] = below.Pixel(x, y).b;
            d[1] = below.Pixel(x, y).g;
            d[2] = below.Pixel(x, y).r;
            d[3] = uint8_t(x + y);
        }
    ASSERT_TRUE(BlendScaledIntoBGRA(bgra.data(), 9, 7, stride, overlay, rect, 37.5f));
    for (int y = 0; y < 7; ++y) {
        for (int x = 0; x < 9; ++x) {
            const uint8_t* d = &bgra[y * stride + x * 4];
            ASSERT_EQ(CColor24(d[2], d[1], d[0]), rgb.Pixel(x, y)) << x << "," << y;
            ASSERT_EQ(d[3], x + y);
        }
        for (size_t k = 9 * 4; k < stride; ++k) ASSERT_EQ(bgra[y * stride + k], 0xEE);
    }
    EXPECT_FALSE(BlendScaledIntoBGRA(bgra.data(), 9, 7, 9 * 4 - 1, overlay, rect, 50.0f));
}

TEST(ViewPreview, BlendIntoPlacesAtTheOffset) {
    BMP_File dst = Filled(5, 5, CColor24(0, 0, 0));
    const BMP_File src = Numbered(3, 3);
    ASSERT_TRUE(BlendInto(dst, src, -1, 3, 100.0f));
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const CColor24 want = Inside(x, y, 0, 3, 2, 5)
                                      ? CColor24(uint8_t(x + 1), uint8_t(y - 3), 7)
                                      : CColor24(0, 0, 0);
            ASSERT_EQ(dst.Pixel(x, y), want) << x << "," << y;
        }
    // Far off the int range's edge: nothing to do, nothing overflows.
    EXPECT_TRUE(BlendInto(dst, src, 2147483646, 0, 100.0f));
    EXPECT_TRUE(BlendInto(dst, src, -2147483647, -2147483647, 100.0f));
}
