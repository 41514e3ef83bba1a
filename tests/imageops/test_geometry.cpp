// Free rotation and perspective: orientation and edge cases worked out by
// hand, and the fast forms against a per-pixel (rotation) or per-sample
// (perspective) form on odd sizes and many angles.

#include "imageops/geometry.h"
#include "imageops/resample.h"

#include "image_test_util.h"
#include "plain_forms.h"

#include <gtest/gtest.h>

#include <cmath>

using imageops_plain::PlainRotate;
using imageops_test::AwkwardSizes;
using imageops_test::RandomImage;
using imageops_test::SameImage;
using imageops_test::ThreadedSize;
using imageops_test::Uniform;
using imageops_test::WithBothKernelForms;

namespace {

// An exact fraction, so that the perspective's formulas below are evaluated
// without rounding: every quantity in them (a float k, whole sizes, half-pixel
// sample positions) is rational, and trunc of the exact value is what the
// formulas mean. Magnitudes stay far below the 128-bit range for the sizes
// and angles used here.
struct Exact {
    __int128 n = 0, d = 1; // d > 0, lowest terms

    static __int128 Gcd(__int128 a, __int128 b) {
        if (a < 0) a = -a;
        while (b != 0) {
            const __int128 t = a % b;
            a = b;
            b = t;
        }
        return a;
    }
    static Exact Make(__int128 n, __int128 d) {
        if (d < 0) n = -n, d = -d;
        const __int128 g = Gcd(n, d);
        return g > 1 ? Exact{n / g, d / g} : Exact{n, d};
    }
    Exact(__int128 whole = 0) : n(whole) {}
    Exact(__int128 num, __int128 den) : n(num), d(den) {}
    // The exact value of a float (k is stored as one).
    static Exact Of(float f) {
        int e = 0;
        const double m = std::frexp(double(f), &e); // f = m * 2^e, 0.5 <= |m| < 1
        const __int128 mant = __int128(std::ldexp(m, 24));
        EXPECT_GE(24 - e, 0);
        EXPECT_LT(24 - e, 100);
        return Make(mant, __int128(1) << (24 - e));
    }
    // Products and sums that would leave the 128-bit range fail the test
    // instead of wrapping.
    static __int128 Mul(__int128 a, __int128 b) {
        __int128 r = 0;
        if (__builtin_mul_overflow(a, b, &r)) ADD_FAILURE() << "exact arithmetic out of range";
        return r;
    }
    static __int128 Add(__int128 a, __int128 b) {
        __int128 r = 0;
        if (__builtin_add_overflow(a, b, &r)) ADD_FAILURE() << "exact arithmetic out of range";
        return r;
    }
    friend Exact operator+(Exact a, Exact b) {
        return Make(Add(Mul(a.n, b.d), Mul(b.n, a.d)), Mul(a.d, b.d));
    }
    friend Exact operator-(Exact a, Exact b) { return a + Exact(-b.n, b.d); }
    friend Exact operator*(Exact a, Exact b) { return Make(Mul(a.n, b.n), Mul(a.d, b.d)); }
    friend Exact operator/(Exact a, Exact b) { return Make(Mul(a.n, b.d), Mul(a.d, b.n)); }
    // Toward zero, as C++ integer division.
    int64_t Trunc() const { return int64_t(n / d); }
};

// The perspective from its formulas alone, sample by sample: S = 0.5 sin(angle
// in radians with pi as 3.14159) as a float, k = |S|; edge shortenings and
// positions a_first, a_last, p_first, p_last; samples u = 0, 0.5, ... below W
// (outer) and v = 0, 0.5, ... below H (inner); later samples overwrite earlier
// ones and writes outside the picture are dropped.
BMP_File PlainPerspective(const BMP_File& in, bool vertical, float degrees, CColor24 bg) {
    const int w = in.Width(), h = in.Height();
    const float S = float(0.5 * std::sin(degrees * 0.017453277777777776));
    const Exact k = Exact::Of(std::fabs(S));
    const Exact W(w), H(h), one(1), two(2);
    // The first edge is the top (vertical) or the left (horizontal) one.
    const Exact along = vertical ? H : W, across = vertical ? W : H;
    Exact aFirst, aLast, pFirst, pLast;
    if (degrees > 0) {
        aFirst = k * across, aLast = 0, pFirst = k * along, pLast = along;
    } else {
        aFirst = 0, aLast = k * across, pFirst = 0, pLast = along - k * along;
    }
    BMP_File out = Uniform(w, h, bg);
    for (int i = 0; i < 2 * w; ++i)
        for (int j = 0; j < 2 * h; ++j) {
            const Exact u(i, 2), v(j, 2);
            int64_t X, Y;
            if (vertical) {
                const Exact t = v / H;
                X = (W / two +
                     (W / two - (aFirst * (one - t) + aLast * t) / two) * (two * u / W - one))
                        .Trunc();
                Y = (pFirst * (one - t) + pLast * t).Trunc();
            } else {
                const Exact s = u / W;
                Y = (H / two +
                     (H / two - (aFirst * (one - s) + aLast * s) / two) * (two * v / H - one))
                        .Trunc();
                X = (pFirst * (one - s) + pLast * s).Trunc();
            }
            if (X >= 0 && X < w && Y >= 0 && Y < h)
                out.Pixel(int(X), int(Y)) = in.Pixel(i / 2, j / 2);
        }
    return out;
}

} // namespace

TEST(Rotate, ZeroDoesNothingAndQuarterIsClockwise) {
    const BMP_File in = RandomImage(9, 9, 1);
    BMP_File zero = in;
    RotateImage(zero, 0.0f, CColor24(1, 2, 3));
    EXPECT_TRUE(SameImage(zero, in));

    // On a square, +90 degrees lands every pixel where a clockwise quarter turn does.
    BMP_File quarter = in, turned = in;
    RotateImage(quarter, 90.0f, CColor24(1, 2, 3));
    QuarterTurn(turned);
    EXPECT_TRUE(SameImage(quarter, turned));
}

TEST(Rotate, HalfTurnEqualsBothFlips) {
    for (int n : {1, 2, 7, 10, 33}) {
        const BMP_File in = RandomImage(n, n, unsigned(n));
        BMP_File rotated = in, flipped = in;
        RotateImage(rotated, 180.0f, CColor24(0, 0, 0));
        FlipLeftRight(flipped);
        FlipTopBottom(flipped);
        EXPECT_TRUE(SameImage(rotated, flipped)) << n;
    }
}

TEST(Rotate, UncoveredCornersTakeTheBackground) {
    const CColor24 bg(10, 200, 30);
    BMP_File img = Uniform(40, 40, CColor24(255, 255, 255));
    RotateImage(img, 45.0f, bg);
    EXPECT_EQ(img.Pixel(0, 0), bg);
    EXPECT_EQ(img.Pixel(39, 0), bg);
    EXPECT_EQ(img.Pixel(0, 39), bg);
    EXPECT_EQ(img.Pixel(39, 39), bg);
    EXPECT_EQ(img.Pixel(20, 20), CColor24(255, 255, 255));
    EXPECT_EQ(img.Width(), 40);
}

TEST(Rotate, FastFormMatchesPlainForm) {
    const CColor24 bg(7, 77, 177);
    WithBothKernelForms([&] {
        unsigned seed = 10;
        for (float a : {1.0f, -13.5f, 33.3f, 90.0f, 127.0f, -179.0f, 271.25f})
            for (auto [w, h] : AwkwardSizes()) {
                const BMP_File in = RandomImage(w, h, ++seed);
                BMP_File out = in;
                RotateImage(out, a, bg);
                EXPECT_TRUE(SameImage(out, PlainRotate(in, a, bg))) << a << " " << w << "x" << h;
            }
        const auto [w, h] = ThreadedSize();
        const BMP_File in = RandomImage(w, h, 3);
        BMP_File out = in;
        RotateImage(out, 17.0f, bg);
        EXPECT_TRUE(SameImage(out, PlainRotate(in, 17.0f, bg)));
    });
}

TEST(Rotate, FastFormMatchesPlainFormAroundEveryVectorWidth) {
    // Rows one short of, equal to and one past each vector width (4, 8 and 16
    // lanes), so that whole groups, partial last groups and groups straddling
    // the picture's edge all occur; tiny angles put whole columns of samples
    // on the last pixel of a row, where the vector form must read nothing
    // beyond the picture.
    const CColor24 bg(250, 1, 128);
    WithBothKernelForms([&] {
        unsigned seed = 500;
        for (float a : {0.01f, -0.3f, 45.0f, 89.99f, -135.0f, 200.5f})
            for (int w : {3, 4, 5, 7, 8, 9, 15, 16, 17, 33, 49})
                for (int h : {2, 3, 16, 17}) {
                    const BMP_File in = RandomImage(w, h, ++seed);
                    BMP_File out = in;
                    RotateImage(out, a, bg);
                    ASSERT_TRUE(SameImage(out, PlainRotate(in, a, bg)))
                        << a << " " << w << "x" << h;
                }
    });
}

TEST(Perspective, AngleZeroRedrawsUnchanged) {
    // Whole-pixel samples must land on their own pixel for every size; the
    // arithmetic keeps that exact.
    for (int w = 1; w < 60; w += 1)
        for (int h : {1, 3, 18, 23, 47}) {
            const BMP_File in = RandomImage(w, h, unsigned(w * 100 + h));
            for (bool vertical : {true, false}) {
                BMP_File out = in;
                PerspectiveImage(out, vertical, 0.0f, CColor24(1, 2, 3));
                ASSERT_TRUE(SameImage(out, in)) << w << "x" << h << " vertical " << vertical;
            }
        }
}

TEST(Perspective, NinetyDegreesHalvesTheFarEdge) {
    const CColor24 bg(0, 0, 0), fg(200, 100, 50);
    const int W = 40, H = 20;
    auto span = [&](const BMP_File& img, int y, int& first, int& count) {
        first = -1;
        count = 0;
        for (int x = 0; x < W; ++x)
            if (img.Pixel(x, y) == fg) {
                if (first < 0) first = x;
                ++count;
            }
    };
    BMP_File up = Uniform(W, H, fg);
    PerspectiveImage(up, true, 90.0f, bg);
    int first, count;
    for (int y = 0; y < H / 2; ++y) {
        span(up, y, first, count);
        EXPECT_EQ(count, 0) << y;
    }
    // Top edge at H/2, half as wide and centred; the half-pixel samples of the
    // next source rows that land on the same row may widen it by a pixel a side.
    span(up, H / 2, first, count);
    EXPECT_GE(count, W / 2);
    EXPECT_LE(count, W / 2 + 2);
    EXPECT_GE(first, W / 4 - 1);
    EXPECT_LE(first, W / 4);
    span(up, H - 1, first, count); // bottom edge nearly full width
    EXPECT_GE(count, W - 2);

    BMP_File down = Uniform(W, H, fg);
    PerspectiveImage(down, true, -90.0f, bg);
    span(down, 0, first, count);
    EXPECT_EQ(count, W);
    span(down, H - 1, first, count);
    EXPECT_EQ(count, 0);

    // Horizontal: the left edge moves to W/2 and keeps half the height.
    BMP_File side = Uniform(W, H, fg);
    PerspectiveImage(side, false, 90.0f, bg);
    for (int x = 0; x < W / 2; ++x) EXPECT_EQ(side.Pixel(x, H / 2), bg) << x;
    int n = 0;
    for (int y = 0; y < H; ++y) n += side.Pixel(W / 2, y) == fg;
    EXPECT_GE(n, H / 2);
    EXPECT_LE(n, H / 2 + 2);
}

TEST(Perspective, FastFormMatchesPlainForm) {
    unsigned seed = 20;
    const CColor24 bg(9, 8, 7);
    for (float a : {90.0f, -90.0f, 33.0f, -12.5f, 71.0f, 3.0f, 0.0f, 45.0f, -60.0f, 17.3f, -1.0f,
                    0.01f, -0.01f})
        for (bool vertical : {true, false})
            for (auto [w, h] : AwkwardSizes()) {
                const BMP_File in = RandomImage(w, h, ++seed);
                BMP_File out = in;
                PerspectiveImage(out, vertical, a, bg);
                EXPECT_TRUE(SameImage(out, PlainPerspective(in, vertical, a, bg)))
                    << a << " " << vertical << " " << w << "x" << h;
            }
    const auto [w, h] = ThreadedSize();
    for (bool vertical : {true, false}) {
        const BMP_File in = RandomImage(w, h, 4);
        BMP_File out = in;
        PerspectiveImage(out, vertical, -41.0f, bg);
        EXPECT_TRUE(SameImage(out, PlainPerspective(in, vertical, -41.0f, bg)));
    }
}

TEST(Perspective, TinyAnglesMoveSamplesAsSmallOnesDo) {
    // Any angle small enough moves no sample by half a pixel, so only its sign
    // decides where whole-pixel samples land (just below their pixel, or on
    // it). A hand-edited 1e-30 must give what 1e-4 gives, without the exact
    // arithmetic leaving its range.
    const CColor24 bg(1, 2, 3);
    unsigned seed = 70;
    for (bool vertical : {true, false})
        for (float sign : {1.0f, -1.0f})
            for (auto [w, h] : {std::pair{7, 5}, std::pair{31, 23}, std::pair{64, 3}}) {
                const BMP_File in = RandomImage(w, h, ++seed);
                BMP_File out = in;
                PerspectiveImage(out, vertical, sign * 1e-30f, bg);
                EXPECT_TRUE(SameImage(out, PlainPerspective(in, vertical, sign * 1e-4f, bg)))
                    << sign << " " << vertical << " " << w << "x" << h;
            }
}

TEST(Resize, OwnSizeKeepsThePictureAndOthersFollowTheMaps) {
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, unsigned(w * 31 + h));
        BMP_File same = in;
        ResizeImage(same, w, h);
        EXPECT_TRUE(SameImage(same, in)) << w << "x" << h;

        // Larger in one direction, smaller in the other: every pixel is the
        // source pixel the two index maps name.
        const int tw = 2 * w + 1, th = std::max(h / 2, 1);
        BMP_File out = in;
        ResizeImage(out, tw, th);
        ASSERT_EQ(out.Width(), tw);
        ASSERT_EQ(out.Height(), th);
        std::vector<int> mx, my;
        ASSERT_TRUE(ResampleIndexMap(w, tw, mx));
        ASSERT_TRUE(ResampleIndexMap(h, th, my));
        bool samePixels = true;
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x)
                samePixels &= out.Pixel(x, y) == in.Pixel(mx[size_t(x)], my[size_t(y)]);
        EXPECT_TRUE(samePixels) << w << "x" << h << " to " << tw << "x" << th;
    }
    BMP_File kept = RandomImage(5, 4, 9);
    const BMP_File before = kept;
    EXPECT_TRUE(ResizeImage(kept, 0, 7));
    EXPECT_TRUE(ResizeImage(kept, 7, -1));
    EXPECT_TRUE(SameImage(kept, before)) << "sizes that cannot be made are skipped";
    // Sizes beyond what a picture may have fail, and say so.
    EXPECT_FALSE(ResizeImage(kept, 40000, 30000));
    EXPECT_FALSE(ResizeImage(kept, BMP_File::kMaxSide + 1, 1));
    EXPECT_TRUE(SameImage(kept, before));
    EXPECT_FALSE(CropImage(kept, -5, 0, BMP_File::kMaxSide, 2));
    EXPECT_TRUE(SameImage(kept, before));
    EXPECT_TRUE(CropImage(kept, 3, 3, 3, 9)) << "an empty rectangle leaves the image";
    EXPECT_TRUE(SameImage(kept, before));
}

TEST(Resize, FastFormsFollowTheMapsOnEveryTarget) {
    // Shrinking, enlarging (rows repeated, also across the bands of the
    // threads) and mixed, on odd sizes and on one that is split over threads;
    // the last pixel of the picture is always among the sources.
    auto check = [](const BMP_File& in, int tw, int th) {
        BMP_File out = in;
        ASSERT_TRUE(ResizeImage(out, tw, th));
        std::vector<int> mx, my;
        ASSERT_TRUE(ResampleIndexMap(in.Width(), tw, mx));
        ASSERT_TRUE(ResampleIndexMap(in.Height(), th, my));
        for (int y = 0; y < th; ++y)
            for (int x = 0; x < tw; ++x)
                ASSERT_EQ(out.Pixel(x, y), in.Pixel(mx[size_t(x)], my[size_t(y)]))
                    << in.Width() << "x" << in.Height() << " to " << tw << "x" << th << " at " << x
                    << "," << y;
    };
    WithBothKernelForms([&] {
        unsigned seed = 70;
        for (auto [w, h] : AwkwardSizes()) {
            const BMP_File in = RandomImage(w, h, ++seed);
            for (auto [tw, th] :
                 {std::pair{w + 16, h + 3}, std::pair{std::max(w / 3, 1), h},
                  std::pair{3 * w + 1, std::max(h / 2, 1)}, std::pair{17, 2 * h + 1}})
                check(in, tw, th);
        }
        const auto [w, h] = ThreadedSize();
        const BMP_File in = RandomImage(w, h, 7);
        check(in, 2 * w - 3, 2 * h + 5);
        check(in, w / 2 + 1, h / 3);
        check(in, 3 * w, h - 1);
    });
}

TEST(QuarterTurnAndFlips, ThreeByTwo) {
    // One turn of a 3 x 2 picture: 2 x 3, the old top-left now top-right.
    BMP_File img = RandomImage(3, 2, 5);
    const CColor24 topLeft = img.Pixel(0, 0), bottomLeft = img.Pixel(0, 1);
    QuarterTurn(img);
    ASSERT_EQ(img.Width(), 2);
    ASSERT_EQ(img.Height(), 3);
    EXPECT_EQ(img.Pixel(1, 0), topLeft);
    EXPECT_EQ(img.Pixel(0, 0), bottomLeft);
}

TEST(DamagedAngles, NonFiniteAnglesChangeNothing) {
    const BMP_File in = RandomImage(13, 8, 6);
    BMP_File rotated = in;
    RotateImage(rotated, std::nanf(""), CColor24(1, 1, 1));
    EXPECT_TRUE(SameImage(rotated, in));
    RotateImage(rotated, INFINITY, CColor24(1, 1, 1));
    EXPECT_TRUE(SameImage(rotated, in));
    BMP_File persp = in;
    PerspectiveImage(persp, true, std::nanf(""), CColor24(1, 1, 1));
    EXPECT_TRUE(SameImage(persp, in));
}
