// Border bands, the three placements and the frame tiled from the picture.

#include "imageops/overlays.h"
#include "imageops/resample.h"
#include "test_overlays_common.h"

#include <cmath>

using overlays_test::Gradient;
using overlays_test::MakeImage;
using overlays_test::ScratchDir;
using overlays_test::Solid;

namespace {

const CColor24 kRed(255, 0, 0);
const CColor24 kOuter(250, 10, 10);
const CColor24 kInner(10, 10, 250);

bool InBand(int x, int y, int W, int H, int tx, int ty) {
    return x < tx || x >= W - tx || y < ty || y >= H - ty;
}

TEST(Border, BandWidthScalesThicknessByImageOverPictureSize) {
    // 20 * 400 / 256 = 31.25, 20 * 300 / 256 = 23.4.
    const BorderBand b = BorderBandFor(20, 400, 300, 256, 256);
    EXPECT_EQ(b.tx, 31);
    EXPECT_EQ(b.ty, 23);
    const BorderBand c = BorderBandFor(10, 100, 100, 100, 50);
    EXPECT_EQ(c.tx, 10);
    EXPECT_EQ(c.ty, 20);
    EXPECT_EQ(BorderBandFor(0, 100, 100, 10, 10).tx, 0);
    EXPECT_EQ(BorderBandFor(-4, 100, 100, 10, 10).ty, 0);
}

TEST(Border, AroundGrowsCanvasAndKeepsImageWhole) {
    const BMP_File orig = Gradient(100, 100);
    BMP_File img = orig;
    // Thickness 10 on a 100 x 100 picture: tx = ty = 10.
    ApplyBorder(img, Solid(100, 100, kRed), kBorderAround, 10);
    ASSERT_EQ(img.Width(), 120);
    ASSERT_EQ(img.Height(), 120);
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x) {
            if (InBand(x, y, 120, 120, 10, 10))
                ASSERT_EQ(img.Pixel(x, y), kRed) << x << "," << y;
            else
                ASSERT_EQ(img.Pixel(x, y), orig.Pixel(x - 10, y - 10)) << x << "," << y;
        }
}

TEST(Border, OnTopPaintsBandOfEqualWidthOnEverySide) {
    const BMP_File orig = Gradient(50, 40);
    BMP_File img = orig;
    // Picture 10 x 10, thickness 2: tx = 2 * 50 / 10 = 10, ty = 2 * 40 / 10 = 8.
    ApplyBorder(img, Solid(10, 10, kRed), kBorderOnTop, 2);
    ASSERT_EQ(img.Width(), 50);
    ASSERT_EQ(img.Height(), 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(img.Pixel(x, y), InBand(x, y, 50, 40, 10, 8) ? kRed : orig.Pixel(x, y))
                << x << "," << y;
}

TEST(Border, StretchShrinksImageIntoTheFrame) {
    const BMP_File orig = Gradient(40, 30);
    BMP_File img = orig;
    // Picture 8 x 6, thickness 1: tx = 40 / 8 = 5, ty = 30 / 6 = 5.
    ApplyBorder(img, Solid(8, 6, kRed), kBorderStretch, 1);
    ASSERT_EQ(img.Width(), 40);
    ASSERT_EQ(img.Height(), 30);
    BMP_File inner;
    ASSERT_TRUE(ResampleNearest(orig, 30, 20, inner));
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(img.Pixel(x, y),
                      InBand(x, y, 40, 30, 5, 5) ? kRed : inner.Pixel(x - 5, y - 5))
                << x << "," << y;
}

TEST(Border, BandCoveringEverythingLeavesOnlyFrame) {
    BMP_File img = Gradient(20, 20);
    // tx = 15 * 20 / 10 = 30: wider than half the image.
    ApplyBorder(img, Solid(10, 10, kRed), kBorderStretch, 15);
    EXPECT_TRUE(img.SameAs(Solid(20, 20, kRed)));
}

TEST(Border, ZeroThicknessEmptyPictureAndTooLargeCanvasLeaveImage) {
    const BMP_File orig = Gradient(30, 20);
    BMP_File img = orig;
    EXPECT_TRUE(ApplyBorder(img, Solid(10, 10, kRed), kBorderAround, 0)) << "nothing to make";
    EXPECT_TRUE(img.SameAs(orig));
    EXPECT_TRUE(ApplyBorder(img, BMP_File(), kBorderOnTop, 5));
    EXPECT_TRUE(img.SameAs(orig));
    // 100000 * 30 / 1 is far beyond the largest image side: a failure to say.
    EXPECT_FALSE(ApplyBorder(img, Solid(1, 1, kRed), kBorderAround, 100000));
    EXPECT_TRUE(img.SameAs(orig));
}

// The picture's top half is the outer side of the frame, its bottom half the
// inner side; its left half is one colour along the edge, the right half
// another.
BMP_File TwoByTwoPattern(int size, CColor24 tl, CColor24 tr, CColor24 bl, CColor24 br) {
    return MakeImage(size, size, [=](int x, int y) {
        if (y < size / 2) return x < size / 2 ? tl : tr;
        return x < size / 2 ? bl : br;
    });
}

int Dist(CColor24 a, CColor24 b) {
    return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

TEST(BorderFrame, OuterSideFacesOutwardOnEveryEdgeAtSeveralSizes) {
    const BMP_File pic = TwoByTwoPattern(32, kOuter, kOuter, kInner, kInner);
    for (auto [w, h] : {std::pair{64, 48}, {101, 37}, {300, 200}, {33, 90}}) {
        BMP_File img = Solid(w, h, CColor24(0, 0, 0));
        // Thickness 8 of 32: a quarter of the picture's size.
        ApplyBorder(img, pic, kBorderOnTop, 8);
        const BorderBand b = BorderBandFor(8, w, h, 32, 32);
        ASSERT_GE(b.tx, 8);
        ASSERT_GE(b.ty, 8);
        const int mx = w / 2, my = h / 2;
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        // Outermost and innermost line of each band, away from the corners.
        EXPECT_LE(Dist(img.Pixel(mx, 0), kOuter), 6);
        EXPECT_LE(Dist(img.Pixel(mx, b.ty - 1), kInner), 6);
        EXPECT_LE(Dist(img.Pixel(mx, h - 1), kOuter), 6);
        EXPECT_LE(Dist(img.Pixel(mx, h - b.ty), kInner), 6);
        EXPECT_LE(Dist(img.Pixel(0, my), kOuter), 6);
        EXPECT_LE(Dist(img.Pixel(b.tx - 1, my), kInner), 6);
        EXPECT_LE(Dist(img.Pixel(w - 1, my), kOuter), 6);
        EXPECT_LE(Dist(img.Pixel(w - b.tx, my), kInner), 6);
        // Just inside the band the image is untouched.
        EXPECT_EQ(img.Pixel(b.tx, my), CColor24(0, 0, 0));
        EXPECT_EQ(img.Pixel(w - b.tx - 1, my), CColor24(0, 0, 0));
        EXPECT_EQ(img.Pixel(mx, b.ty), CColor24(0, 0, 0));
        EXPECT_EQ(img.Pixel(mx, h - b.ty - 1), CColor24(0, 0, 0));
    }
}

TEST(BorderFrame, TilesRepeatAWholeNumberOfTimesAlongEachEdge) {
    const CColor24 a(200, 30, 30), b(30, 200, 30);
    // Left half a, right half b, the same across the thickness.
    const BMP_File pic = TwoByTwoPattern(20, a, b, a, b);
    for (int w : {97, 120, 143}) {
        BMP_File img = Solid(w, 60, CColor24(0, 0, 0));
        // Thickness 20 of 20: the band is as thick as... tx = w, so use 4:
        // tx = 4 * w / 20, ty = 4 * 60 / 20 = 12; a square tile is 12 long.
        ApplyBorder(img, pic, kBorderOnTop, 4);
        const int ty = 12;
        const double count = std::max(1.0, std::round(double(w) / ty));
        const double period = w / count;
        SCOPED_TRACE(w);
        const int tx = BorderBandFor(4, w, 60, 20, 20).tx;
        for (int k = 0; k < int(count); ++k) {
            // Middle row of the top band, quarter and three-quarter points of
            // each tile; tiles under the mitred corners are skipped.
            const int xa = int(k * period + period * 0.25), xb = int(k * period + period * 0.75);
            if (xa < tx + ty || xb >= w - tx - ty) continue;
            EXPECT_LE(Dist(img.Pixel(xa, ty / 2), a), 8) << k;
            EXPECT_LE(Dist(img.Pixel(xb, ty / 2), b), 8) << k;
        }
    }
}

TEST(BorderFrame, CornersAreCutAlongTheDiagonal) {
    const BMP_File pic = TwoByTwoPattern(16, kOuter, kOuter, kInner, kInner);
    BMP_File img = Solid(80, 80, CColor24(0, 0, 0));
    // tx = ty = 4 * 80 / 16 = 20.
    ApplyBorder(img, pic, kBorderOnTop, 4);
    // Near the top edge but deep in the left band: belongs to the top edge
    // (outer colour), not to the left edge's inner side.
    EXPECT_LE(Dist(img.Pixel(18, 1), kOuter), 6);
    EXPECT_LE(Dist(img.Pixel(1, 18), kOuter), 6);
    EXPECT_LE(Dist(img.Pixel(78, 61), kOuter), 6);
    EXPECT_LE(Dist(img.Pixel(61, 78), kOuter), 6);
    // Deep in both bands, the inner side meets itself.
    EXPECT_LE(Dist(img.Pixel(18, 18), kInner), 6);
    // On the diagonal the two edges meet at equal depth: the corner shows the
    // same colour as either edge at that depth, without a seam.
    for (int i = 0; i < 20; ++i) EXPECT_LE(Dist(img.Pixel(i, i), img.Pixel(40, i)), 3) << i;
}

TEST(BorderFile, MissingOrUnreadableBorderLeavesImage) {
    ScratchDir dir;
    const BMP_File orig = Gradient(30, 30);
    ProcessingSettings s;
    s.m_bSetBorder = 1;
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderAround;
    s.m_nBorderPlacement[kBorderPlacementThickness] = 5;
    for (const std::string& name : {dir.Path("nothing.png"), std::string("no-such-border.png")}) {
        s.m_sBorderName = name;
        BMP_File img = orig;
        EXPECT_FALSE(ApplyBorderFromSettings(img, s)) << name;
        EXPECT_TRUE(img.SameAs(orig));
    }
    ASSERT_TRUE(Solid(10, 10, kRed).SaveBMP(dir.Path("b.bmp")));
    s.m_sBorderName = dir.Path("b.bmp");
    BMP_File img = orig;
    EXPECT_TRUE(ApplyBorderFromSettings(img, s));
    EXPECT_EQ(img.Width(), 60); // 5 * 30 / 10 = 15 on each side
    EXPECT_EQ(img.Pixel(0, 0), kRed);
}

TEST(BorderFile, AFrameThatCannotBeMadeIsToldFromAMissingPicture) {
    ScratchDir dir;
    const BMP_File orig = Gradient(30, 30);
    ASSERT_TRUE(Solid(10, 10, kRed).SaveBMP(dir.Path("b.bmp")));
    ProcessingSettings s;
    s.m_bSetBorder = 1;
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderAround;
    s.m_nBorderPlacement[kBorderPlacementThickness] = 5;
    s.m_sBorderName = dir.Path("none.bmp");
    BMP_File img = orig;
    bool made = false;
    EXPECT_FALSE(ApplyBorderFromSettings(img, s, &made));
    EXPECT_TRUE(made) << "a missing picture is passed over, not a failure";
    int64_t w = 0, h = 0;
    BorderResultSize(s, 30, 30, w, h);
    EXPECT_EQ(w, 30);

    s.m_sBorderName = dir.Path("b.bmp");
    BorderResultSize(s, 30, 30, w, h);
    EXPECT_EQ(w, 60);
    EXPECT_EQ(h, 60);
    // Bands of 30 * 100000 / 10 stop at the largest side; the canvas is more.
    s.m_nBorderPlacement[kBorderPlacementThickness] = 100000;
    EXPECT_FALSE(ApplyBorderFromSettings(img, s, &made));
    EXPECT_FALSE(made);
    EXPECT_TRUE(img.SameAs(orig));
    BorderResultSize(s, 30, 30, w, h);
    EXPECT_EQ(w, 30 + 2 * int64_t(BMP_File::kMaxSide));
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderOnTop;
    BorderResultSize(s, 30, 30, w, h);
    EXPECT_EQ(w, 30) << "only framing around grows the picture";
}

} // namespace
