// Light regions and the two kinds of noise.

#include "imageops/overlays.h"
#include "test_overlays_common.h"

#include <cmath>
#include <cstdlib>

using overlays_test::Gradient;
using overlays_test::MakeImage;
using overlays_test::Solid;

namespace {

const ChannelInts kWhite{255, 255, 255};

// The rectangle (0, 0, 11, 11) has its centre at (5, 5) and half-axes 5.
TEST(LightRegion, CentreMovesBy200AndRimNotAtAll) {
    BMP_File img = Solid(11, 11, CColor24(0, 0, 0));
    ApplyLightRegion(img, IntRect{0, 0, 11, 11}, kWhite);
    EXPECT_EQ(img.Pixel(5, 5), CColor24(200, 200, 200));
    // (0, 5) lies on the ellipse: distance 1, amount 0.
    EXPECT_EQ(img.Pixel(0, 5), CColor24(0, 0, 0));
    // Corners are outside the ellipse.
    EXPECT_EQ(img.Pixel(0, 0), CColor24(0, 0, 0));
    EXPECT_EQ(img.Pixel(10, 10), CColor24(0, 0, 0));
    // (6, 6): 1/25 + 1/25, distance sqrt(0.08) = 0.2828, amount trunc(143.4) = 143.
    EXPECT_EQ(img.Pixel(6, 6), CColor24(143, 143, 143));
    EXPECT_EQ(img.Pixel(4, 4), CColor24(143, 143, 143));
    // (8, 8): sqrt(0.72) = 0.8485, amount trunc(30.29) = 30.
    EXPECT_EQ(img.Pixel(8, 8), CColor24(30, 30, 30));
    // (10, 5) is on the rim.
    EXPECT_EQ(img.Pixel(10, 5), CColor24(0, 0, 0));
}

TEST(LightRegion, ChannelsApproachTargetWithoutPassingIt) {
    BMP_File img = Solid(11, 11, CColor24(250, 100, 230));
    ApplyLightRegion(img, IntRect{0, 0, 11, 11}, ChannelInts{255, 50, 0});
    // Centre: amount 200 reaches every target.
    EXPECT_EQ(img.Pixel(5, 5), CColor24(255, 50, 30));
    // (6, 6): amount 143; red capped at 255, green stops at 50, blue 230 - 143.
    EXPECT_EQ(img.Pixel(6, 6), CColor24(255, 50, 87));
    // (8, 8): amount 30.
    EXPECT_EQ(img.Pixel(8, 8), CColor24(255, 70, 200));
}

TEST(LightRegion, TargetEqualToPixelChangesNothing) {
    BMP_File img = Solid(11, 11, CColor24(40, 80, 120));
    ApplyLightRegion(img, IntRect{0, 0, 11, 11}, ChannelInts{40, 80, 120});
    EXPECT_TRUE(img.SameAs(Solid(11, 11, CColor24(40, 80, 120))));
}

TEST(LightRegion, FlatOrEmptyRectanglesChangeNothing) {
    const BMP_File orig = Gradient(12, 9);
    for (const IntRect& r : {IntRect{3, 0, 4, 9}, IntRect{0, 4, 12, 5}, IntRect{5, 5, 5, 5},
                             IntRect{10, 8, 2, 1}, IntRect{-50, -50, -20, -20}}) {
        BMP_File img = orig;
        ApplyLightRegion(img, r, kWhite);
        EXPECT_TRUE(img.SameAs(orig))
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
    }
}

TEST(LightRegion, RectangleReachingOutsideKeepsItsCentre) {
    // Centre (0, 5), half-axes 10 and 5: the left half of the ellipse is off the
    // image and must not land anywhere.
    BMP_File img = Solid(11, 11, CColor24(0, 0, 0));
    ApplyLightRegion(img, IntRect{-10, 0, 10, 11}, kWhite);
    EXPECT_EQ(img.Pixel(0, 5), CColor24(200, 200, 200));
    // (5, 5): 25/100 -> distance 0.5 -> 100.
    EXPECT_EQ(img.Pixel(5, 5), CColor24(100, 100, 100));
    EXPECT_EQ(img.Pixel(10, 5), CColor24(0, 0, 0));
}

TEST(LightRegion, TargetOutsideByteRangeIsHeldToIt) {
    // A hand-edited configuration may hold 300; the pixel must end at 255, not
    // at 300 wrapped into a byte.
    BMP_File img = Solid(11, 11, CColor24(100, 100, 100));
    ApplyLightRegion(img, IntRect{0, 0, 11, 11}, ChannelInts{300, -40, 100});
    EXPECT_EQ(img.Pixel(5, 5), CColor24(255, 0, 100));
}

// ---------------------------------------------------------------------------

// The noise is defined for draws in 0..32767; a wider runtime rand() is cut
// down to its top 15 bits.
int Draw() {
    return int(std::rand() / ((double(RAND_MAX) + 1.0) / 32768.0));
}

int ExpectedOffset(int r, int strength) {
    return int(std::trunc((r / 32768.0 - 0.5) * 4.0 * strength));
}
uint8_t Clamped(int v) {
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

TEST(Noise, StrengthZeroLeavesImage) {
    const BMP_File orig = Gradient(9, 7);
    BMP_File img = orig;
    std::srand(7);
    ApplyNoise(img, 0);
    EXPECT_TRUE(img.SameAs(orig));
}

TEST(Noise, DrawsColumnByColumnAndAddsTheSameOffsetToEachChannel) {
    // Wider than tall and more columns than one strip, so a row-major or
    // strip-local order would show.
    const int W = 70, H = 3;
    const BMP_File orig = MakeImage(W, H, [](int x, int y) {
        return CColor24(uint8_t(60 + x), uint8_t(120 + y), uint8_t(200 - x));
    });
    BMP_File img = orig;
    std::srand(4242);
    ApplyNoise(img, 50);
    const int next = std::rand();

    std::srand(4242);
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) {
            const int n = ExpectedOffset(Draw(), 50);
            const CColor24 o = orig.Pixel(x, y);
            ASSERT_EQ(img.Pixel(x, y),
                      CColor24(Clamped(o.r + n), Clamped(o.g + n), Clamped(o.b + n)))
                << x << "," << y;
        }
    // Exactly one draw per pixel.
    EXPECT_EQ(next, std::rand());
}

TEST(Noise, StaysWithinTwiceTheStrengthAndUsesThatRange) {
    BMP_File img = Solid(64, 64, CColor24(128, 128, 128));
    std::srand(77);
    ApplyNoise(img, 10);
    int lo = 255, hi = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            lo = std::min<int>(lo, img.Pixel(x, y).r);
            hi = std::max<int>(hi, img.Pixel(x, y).r);
        }
    EXPECT_GE(lo, 108);
    EXPECT_LE(hi, 148);
    // 4096 draws spread over -20..19: both ends are reached.
    EXPECT_LE(lo, 110);
    EXPECT_GE(hi, 145);
}

TEST(Noise, ClampsAtBothEnds) {
    const BMP_File orig = MakeImage(
        4, 4, [](int x, int) { return x % 2 ? CColor24(255, 250, 5) : CColor24(0, 3, 252); });
    BMP_File img = orig;
    std::srand(99);
    ApplyNoise(img, 100);
    std::srand(99);
    int clampedSeen = 0;
    for (int x = 0; x < 4; ++x)
        for (int y = 0; y < 4; ++y) {
            const int n = ExpectedOffset(Draw(), 100);
            const CColor24 o = orig.Pixel(x, y);
            const CColor24 want(Clamped(o.r + n), Clamped(o.g + n), Clamped(o.b + n));
            EXPECT_EQ(img.Pixel(x, y), want);
            clampedSeen += (o.r + n < 0 || o.r + n > 255);
        }
    EXPECT_GT(clampedSeen, 0);
}

TEST(Noise, HugeStrengthSaturatesInsteadOfOverflowing) {
    BMP_File img = Solid(5, 5, CColor24(128, 128, 128));
    std::srand(3);
    ApplyNoise(img, 2000000000);
    std::srand(3);
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 5; ++y) {
            const int r = Draw();
            const uint8_t want = r < 16384 ? 0 : (r == 16384 ? 128 : 255);
            EXPECT_EQ(img.Pixel(x, y), CColor24(want, want, want));
        }
}

TEST(RGBNoise, ThreeDrawsPerPixelInRedGreenBlueOrder) {
    const int W = 67, H = 4;
    const BMP_File orig = Gradient(W, H);
    BMP_File img = orig;
    std::srand(1001);
    // Green has strength 0 but its draw is still taken.
    ApplyRGBNoise(img, 10, 0, 60);
    const int next = std::rand();

    std::srand(1001);
    for (int x = 0; x < W; ++x)
        for (int y = 0; y < H; ++y) {
            const int nr = ExpectedOffset(Draw(), 10);
            const int ng = ExpectedOffset(Draw(), 0);
            const int nb = ExpectedOffset(Draw(), 60);
            const CColor24 o = orig.Pixel(x, y);
            ASSERT_EQ(img.Pixel(x, y),
                      CColor24(Clamped(o.r + nr), Clamped(o.g + ng), Clamped(o.b + nb)))
                << x << "," << y;
        }
    EXPECT_EQ(next, std::rand());
}

TEST(RGBNoise, AllStrengthsZeroLeavesImage) {
    const BMP_File orig = Gradient(6, 5);
    BMP_File img = orig;
    ApplyRGBNoise(img, 0, 0, 0);
    EXPECT_TRUE(img.SameAs(orig));
}

TEST(Noise, EmptyImageDrawsNothing) {
    BMP_File img;
    std::srand(5);
    const int first = std::rand();
    std::srand(5);
    ApplyNoise(img, 50);
    ApplyRGBNoise(img, 50, 50, 50);
    EXPECT_EQ(first, std::rand());
}

} // namespace
