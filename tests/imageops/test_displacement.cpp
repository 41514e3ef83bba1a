// Wave, Ripple and Whirl & Pinch: cases worked by hand, the picture's edges,
// the corners where the bare formulas would go wrong, the plain forms byte for
// byte (vector and baseline loops), and threads that do not change a byte.

#include "app/bmp_file.h"
#include "image_test_util.h"
#include "imageops/displacement.h"
#include "imageops/effect_table.h"
#include "plain_displacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

using plain_displacement::Buffer;

// A random picture of width x height BGRA pixels; alpha 255 as the pipeline
// hands it, or random to reach the alpha-weighted arithmetic.
Buffer RandomBgra(int w, int h, unsigned seed, bool opaque = true) {
    std::mt19937 rng(seed);
    Buffer b(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = (i % 4 == 3 && opaque) ? 255 : uint8_t(rng() & 0xFF);
    return b;
}

// Alpha in patches of 0, 255 and in-between values, so that blends meet two
// transparent samples (the pixel must come out transparent black), one
// transparent and one opaque, and general weights.
Buffer PatchyAlphaBgra(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    Buffer b = RandomBgra(w, h, seed, false);
    const uint8_t choices[] = {0, 0, 255, 1, 128};
    int left = 0;
    uint8_t alpha = 0;
    for (size_t i = 3; i < b.size(); i += 4) {
        if (left-- <= 0) {
            left = int(rng() % 9);
            alpha = choices[rng() % 5];
        }
        b[i] = alpha == 128 ? uint8_t(rng()) : alpha;
    }
    return b;
}

// Pictures for the comparisons of the vector and plain forms: widths up to
// `maxW` (several tiles of pixels), opaque, with random alpha or with alpha
// in patches.
Buffer MatchPicture(std::mt19937& rng, int round, int& w, int& h, int maxW, int maxH) {
    w = 1 + int(rng() % unsigned(maxW));
    h = 1 + int(rng() % unsigned(maxH));
    const unsigned seed = rng();
    if (round % 3 == 2) return PatchyAlphaBgra(w, h, seed);
    return RandomBgra(w, h, seed, round % 3 == 0);
}

Buffer UniformBgra(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
    Buffer out(size_t(w) * size_t(h) * 4);
    for (size_t i = 0; i < out.size(); i += 4) {
        out[i] = b;
        out[i + 1] = g;
        out[i + 2] = r;
        out[i + 3] = 255;
    }
    return out;
}

const uint8_t* Px(const Buffer& b, int w, int x, int y) {
    return &b[(size_t(y) * size_t(w) + size_t(x)) * 4];
}

::testing::AssertionResult SamePixel(const uint8_t* a, const uint8_t* b) {
    if (std::equal(a, a + 4, b)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "(" << int(a[0]) << "," << int(a[1]) << "," << int(a[2]) << "," << int(a[3])
           << ") vs (" << int(b[0]) << "," << int(b[1]) << "," << int(b[2]) << "," << int(b[3])
           << ")";
}

::testing::AssertionResult SameBuffer(const Buffer& a, const Buffer& b, int w) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < a.size(); i += 4)
        if (!std::equal(&a[i], &a[i] + 4, &b[i])) {
            const size_t p = i / 4;
            return ::testing::AssertionFailure()
                   << "first difference at (" << p % size_t(w) << ", " << p / size_t(w)
                   << "): " << SamePixel(&a[i], &b[i]).message();
        }
    return ::testing::AssertionSuccess();
}

// A destination full of a pattern no effect writes by chance, so that a pixel
// an effect leaves unwritten shows up.
Buffer Garbage(const Buffer& src) {
    return Buffer(src.size(), 0xA5);
}

Buffer RunWave(const Buffer& src, int w, int h, const WaveParams& p, int threads = 0) {
    Buffer dst = Garbage(src);
    Wave(src.data(), dst.data(), w, h, p, threads);
    return dst;
}
Buffer RunRipple(const Buffer& src, int w, int h, const RippleParams& p, int threads = 0) {
    Buffer dst = Garbage(src);
    Ripple(src.data(), dst.data(), w, h, p, threads);
    return dst;
}
Buffer RunWhirl(const Buffer& src, int w, int h, const WhirlPinchParams& p, int threads = 0) {
    Buffer dst = Garbage(src);
    WhirlPinch(src.data(), dst.data(), w, h, p, threads);
    return dst;
}

// Sizes that meet every symmetry case: odd and even, wide and tall, one pixel.
const std::vector<std::pair<int, int>> kSizes = {{1, 1}, {1, 6}, {7, 1},  {2, 2},   {3, 3},
                                                 {4, 3}, {3, 4}, {17, 9}, {16, 22}, {31, 23}};

} // namespace

// ---------------------------------------------------------------- Wave

TEST(Wave, AmplitudeZeroLeavesEveryPixelIncludingTheLastRowAndColumn) {
    for (auto [w, h] : kSizes)
        for (bool smear : {true, false})
            for (int phase : {0, 90, 180, 333}) {
                SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + " smear " +
                             std::to_string(smear) + " phase " + std::to_string(phase));
                const Buffer src = RandomBgra(w, h, unsigned(w * 100 + h));
                WaveParams p;
                p.amplitude = 0;
                p.phase = phase;
                p.smear = smear;
                EXPECT_TRUE(SameBuffer(RunWave(src, w, h, p), src, w));
            }
}

TEST(Wave, ReflectiveAmplitudeZeroTakesTheCentreColourEverywhere) {
    // On every vector target: the halves below are where the rounding of each
    // form shows.
    imageops_test::WithBothKernelForms([] {
        // Even sizes: the centre (W/2, H/2) is a pixel, taken whole.
        const Buffer src = RandomBgra(6, 4, 5);
        WaveParams p;
        p.amplitude = 0;
        p.reflective = true;
        for (bool smear : {true, false}) {
            p.smear = smear;
            const Buffer out = RunWave(src, 6, 4, p);
            for (int y = 0; y < 4; ++y)
                for (int x = 0; x < 6; ++x)
                    EXPECT_TRUE(SamePixel(Px(out, 6, x, y), Px(src, 6, 3, 2)));
        }
        // Odd sizes: the centre (1.5, 1.5) of a 3 x 3 picture lies between four
        // pixels, each weighing a quarter, and the halves round to even:
        // blue (2+3+2+3)/4 = 2.5 -> 2, green 1.5 -> 2, red 4.5 -> 4, and
        // 3.5 -> 4 for alpha.
        Buffer odd(3 * 3 * 4, 0);
        const uint8_t left[4] = {2, 1, 4, 3}, right[4] = {3, 2, 5, 4};
        for (int y = 1; y <= 2; ++y) {
            std::copy(left, left + 4, &odd[(size_t(y) * 3 + 1) * 4]);
            std::copy(right, right + 4, &odd[(size_t(y) * 3 + 2) * 4]);
        }
        const uint8_t expected[4] = {2, 2, 4, 4};
        for (bool smear : {true, false}) {
            p.smear = smear;
            const Buffer out = RunWave(odd, 3, 3, p);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 3; ++x) EXPECT_TRUE(SamePixel(Px(out, 3, x, y), expected));
        }
    });
}

TEST(Wave, TransparencyFadesTowardBlackWhereTheSampleLeavesThePicture) {
    // A white picture: where a sample position lies between the transparent
    // black column left of the picture and column 0 (rows fully inside), the
    // pixel is the white share, 255 * (nx + 1). Truncating nx toward zero
    // would blend columns 0 and 1 instead and stay white.
    const int w = 90, h = 60;
    const Buffer src = UniformBgra(w, h, 255, 255, 255);
    WaveParams p;
    p.amplitude = 40;
    p.wavelength = 11;
    p.phase = 30;
    p.smear = false;
    const Buffer out = RunWave(src, w, h, p);
    const double cx = w / 2.0, cy = h / 2.0, sy = cx / cy;
    int checked = 0, black = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x - cx, dy = (y - cy) * sy;
            const double s =
                std::sin(std::sqrt(dx * dx + dy * dy) / 22.0 * 6.2831853 + 30 * 3.14159265 / 180);
            const double nx = dx + s * 40 + cx, ny = (dy + s * 40) / sy + cy;
            if (nx < -1.0 || nx >= w || ny < -1.0 || ny >= h) {
                const uint8_t none[4] = {0, 0, 0, 0};
                EXPECT_TRUE(SamePixel(Px(out, w, x, y), none));
                ++black;
            } else if (nx > -0.95 && nx < -0.05 && ny >= 0 && ny <= h - 2) {
                const double share = 255 * (nx + 1);
                EXPECT_NEAR(Px(out, w, x, y)[1], share, 1.0) << x << "," << y;
                EXPECT_NEAR(Px(out, w, x, y)[3], share, 1.0) << x << "," << y;
                ++checked;
            }
        }
    EXPECT_GT(checked, 3);
    EXPECT_GT(black, 20);
    // Smear holds the samples on the picture: all stays white.
    p.smear = true;
    EXPECT_TRUE(SameBuffer(RunWave(src, w, h, p), src, w));
}

TEST(Wave, WavelengthZeroLeavesThePicture) {
    const Buffer src = RandomBgra(13, 8, 9);
    WaveParams p;
    p.wavelength = 0;
    for (bool reflective : {false, true}) {
        p.reflective = reflective;
        EXPECT_TRUE(SameBuffer(RunWave(src, 13, 8, p), src, 13));
    }
}

TEST(Wave, MatchesThePlainFormByteForByte) {
    imageops_test::WithBothKernelForms([] {
        std::mt19937 rng(17);
        for (int round = 0; round < 60; ++round) {
            int w, h;
            const Buffer src = MatchPicture(rng, round, w, h, 150, 50);
            WaveParams p;
            p.amplitude = int(rng() % 101);
            p.wavelength = int(rng() % 51);
            p.phase = int(rng() % 361);
            p.smear = rng() % 2 == 0;
            p.reflective = rng() % 3 == 0;
            ASSERT_TRUE(
                SameBuffer(RunWave(src, w, h, p),
                           plain_displacement::PlainWave(src, w, h, p.amplitude, p.wavelength,
                                                         p.phase, p.smear, p.reflective),
                           w))
                << w << "x" << h << " A " << p.amplitude << " wavelength " << p.wavelength
                << " phase " << p.phase << " smear " << p.smear << " reflective " << p.reflective;
        }
    });
}

// ---------------------------------------------------------------- Ripple

TEST(Ripple, AmplitudeZeroLeavesThePictureInEveryMode) {
    for (auto [w, h] : kSizes)
        for (int edges : {0, 1, 2})
            for (bool vertical : {false, true})
                for (bool aa : {false, true})
                    for (bool sine : {false, true}) {
                        RippleParams p;
                        p.amplitude = 0;
                        p.period = 7;
                        p.edges = RippleEdges(edges);
                        p.vertical = vertical;
                        p.antialias = aa;
                        p.sine = sine;
                        const Buffer src = RandomBgra(w, h, unsigned(w + 31 * h));
                        EXPECT_TRUE(SameBuffer(RunRipple(src, w, h, p), src, w))
                            << w << "x" << h << " edges " << edges << " vertical " << vertical
                            << " antialias " << aa << " sine " << sine;
                    }
}

// Sawtooth at t = 0: with phase 180, r = -P/2 + P = P/2 and the amount is
// (|2 - 2| - 1) * A = -A; with phase 0, r = 0 and the amount is
// (|0 - 2| - 1) * A = +A. The first row (first column) moves by that much,
// and each edge mode fills what comes from beyond the border its own way.
TEST(Ripple, SawtoothAtZeroMovesTheFirstLineByTheAmplitudeWithEachEdgeMode) {
    const int w = 23, h = 17, A = 5;
    const Buffer src = RandomBgra(w, h, 3);
    const uint8_t black[4] = {0, 0, 0, 0};
    for (bool vertical : {false, true})
        for (int phase : {180, 0})
            for (int edges : {0, 1, 2})
                for (bool aa : {false, true}) {
                    SCOPED_TRACE(std::string(vertical ? "vertical" : "horizontal") + " phase " +
                                 std::to_string(phase) + " edges " + std::to_string(edges) +
                                 " antialias " + std::to_string(aa));
                    RippleParams p;
                    p.amplitude = A;
                    p.period = 100;
                    p.phaseShift = phase;
                    p.vertical = vertical;
                    p.edges = RippleEdges(edges);
                    p.antialias = aa;
                    const Buffer out = RunRipple(src, w, h, p);
                    const int shift = phase == 180 ? -A : A;
                    const int len = vertical ? h : w;
                    for (int k = 0; k < len; ++k) {
                        const int from = k + shift;
                        const uint8_t* got = vertical ? Px(out, w, 0, k) : Px(out, w, k, 0);
                        auto source = [&](int i) {
                            return vertical ? Px(src, w, 0, i) : Px(src, w, i, 0);
                        };
                        const uint8_t* want;
                        if (from >= 0 && from < len)
                            want = source(from);
                        else if (edges == 1)
                            want = source((from + len) % len);
                        else if (edges == 0)
                            want = source(from < 0 ? 0 : len - 1);
                        else
                            want = black;
                        EXPECT_TRUE(SamePixel(got, want)) << "at " << k;
                    }
                }
}

TEST(Ripple, TilingOnA640WidePictureUsesPeriod106AndWraps) {
    RippleParams p;
    p.period = 100;
    p.retainTiling = true;
    EXPECT_EQ(RippleEffectivePeriod(p, 640, 480), 106); // 640 / (640 / 100) = 640 / 6
    p.vertical = true;
    EXPECT_EQ(RippleEffectivePeriod(p, 640, 480), 120); // 480 / 4
    // A period longer than the picture: one period, the picture's length.
    p.vertical = false;
    p.period = 200;
    EXPECT_EQ(RippleEffectivePeriod(p, 150, 480), 150);
    p.retainTiling = false;
    p.period = 0;
    EXPECT_EQ(RippleEffectivePeriod(p, 150, 480), 1);

    // Tiling is the plain effect at period 106 with wrapped edges.
    const Buffer src = RandomBgra(640, 40, 8);
    RippleParams tiled;
    tiled.amplitude = 37;
    tiled.period = 100;
    tiled.retainTiling = true;
    tiled.edges = RippleEdges::Smear;
    tiled.antialias = true;
    tiled.sine = true;
    RippleParams direct = tiled;
    direct.retainTiling = false;
    direct.period = 106;
    direct.edges = RippleEdges::Wrap;
    EXPECT_TRUE(SameBuffer(RunRipple(src, 640, 40, tiled), RunRipple(src, 640, 40, direct), 640));
    direct.period = 100;
    EXPECT_FALSE(SameBuffer(RunRipple(src, 640, 40, tiled), RunRipple(src, 640, 40, direct), 640));

    // Narrower than one period: no division by zero, one period of 30.
    const Buffer narrow = RandomBgra(30, 12, 2);
    RippleParams wide = tiled;
    wide.period = 200;
    RippleParams thirty = direct;
    thirty.period = 30;
    EXPECT_TRUE(SameBuffer(RunRipple(narrow, 30, 12, wide), RunRipple(narrow, 30, 12, thirty), 30));
}

// Period 3, phase 0, amplitude 3: row 0 moves by (|0 - 2| - 1) * 3 = 3, rows
// 1 and 2 by (|4/3 - 2| - 1) * 3 = (|8/3 - 2| - 1) * 3 = -1, and so on with
// period 3. In double precision row 2 comes out at -1.0000000000000004, whose
// floor would take the pixel two to the left at the start of the row.
TEST(Ripple, WholeNumberShiftsMoveWholeRows) {
    const int w = 40, h = 9;
    const Buffer src = RandomBgra(w, h, 21);
    RippleParams p;
    p.amplitude = 3;
    p.period = 3;
    p.phaseShift = 0;
    p.edges = RippleEdges::Wrap;
    for (bool aa : {false, true}) {
        p.antialias = aa;
        const Buffer out = RunRipple(src, w, h, p);
        for (int y = 0; y < h; ++y) {
            const int shift = y % 3 == 0 ? 3 : -1;
            for (int x = 0; x < w; ++x)
                EXPECT_TRUE(SamePixel(Px(out, w, x, y), Px(src, w, (x + shift + w) % w, y)))
                    << "antialias " << aa << " at " << x << "," << y;
        }
    }
}

// A blend of a colour with itself is that colour: the truncated alpha-weighted
// mean must not lose one where double precision lands a hair below.
TEST(Ripple, AntialiasingKeepsAOneColourPictureOneColour) {
    for (int edges : {0, 1})
        for (bool vertical : {false, true})
            for (bool sine : {false, true}) {
                const Buffer src = UniformBgra(61, 47, 201, 77, 254);
                RippleParams p;
                p.amplitude = 13;
                p.period = 37;
                p.phaseShift = 100;
                p.antialias = true;
                p.edges = RippleEdges(edges);
                p.vertical = vertical;
                p.sine = sine;
                EXPECT_TRUE(SameBuffer(RunRipple(src, 61, 47, p), src, 61))
                    << "edges " << edges << " vertical " << vertical << " sine " << sine;
            }
}

TEST(Ripple, BlankMarginStaysBlankWithAntialiasing) {
    // Phase 180 moves row 0 by -A: its first A pixels come from beyond the
    // left border and are transparent black, not the unmoved source.
    const int w = 20, h = 3;
    const Buffer src = RandomBgra(w, h, 4);
    RippleParams p;
    p.amplitude = 6;
    p.period = 50;
    p.phaseShift = 180;
    p.edges = RippleEdges::Blank;
    p.antialias = true;
    const Buffer out = RunRipple(src, w, h, p);
    const uint8_t black[4] = {0, 0, 0, 0};
    for (int x = 0; x < 6; ++x) EXPECT_TRUE(SamePixel(Px(out, w, x, 0), black)) << x;
    EXPECT_TRUE(SamePixel(Px(out, w, 6, 0), Px(src, w, 0, 0)));
}

TEST(Ripple, MatchesThePlainFormByteForByte) {
    imageops_test::WithBothKernelForms([] {
        std::mt19937 rng(23);
        for (int round = 0; round < 120; ++round) {
            // Some wider than one strip of moved columns.
            const int w = 1 + int(rng() % (round % 4 == 0 ? 220 : 60)), h = 1 + int(rng() % 45);
            RippleParams p;
            p.amplitude = int(rng() % 201);
            p.period = 1 + int(rng() % 200);
            p.phaseShift = int(rng() % 361);
            p.antialias = rng() % 2 == 0;
            p.retainTiling = rng() % 4 == 0;
            p.vertical = rng() % 2 == 0;
            p.edges = RippleEdges(rng() % 3);
            p.sine = rng() % 2 == 0;
            const Buffer src = RandomBgra(w, h, rng(), round % 2 == 0);
            ASSERT_TRUE(SameBuffer(RunRipple(src, w, h, p),
                                   plain_displacement::PlainRipple(
                                       src, w, h, p.amplitude, p.period, p.phaseShift, p.vertical,
                                       int(p.edges), p.sine, p.antialias, p.retainTiling),
                                   w))
                << w << "x" << h << " round " << round << " A " << p.amplitude << " P " << p.period
                << " phase " << p.phaseShift << " aa " << p.antialias << " tile " << p.retainTiling
                << " vertical " << p.vertical << " edges " << int(p.edges) << " sine " << p.sine;
        }
    });
}

// The antialiased blend across whole rows (and the columns of a row) against
// the per-pixel formula, on every vector target and the plain loops: sizes
// that leave partial vectors at the right edge, shifts that carry samples
// over each edge, periods from one pixel up, both waveforms.
TEST(Ripple, BlendMatchesThePlainFormOnEveryEdgeOrientationAndAlpha) {
    const std::vector<std::pair<int, int>> sizes = {
        {1, 1}, {2, 5}, {5, 2}, {3, 64}, {64, 3}, {17, 9}, {31, 23}, {67, 53}, {9, 130}, {133, 41}};
    imageops_test::WithBothKernelForms([&] {
        std::mt19937 rng(41);
        for (auto [w, h] : sizes)
            for (bool vertical : {false, true})
                for (int edges : {0, 1, 2})
                    for (int round = 0; round < 4; ++round) {
                        RippleParams p;
                        p.antialias = true;
                        p.vertical = vertical;
                        p.edges = RippleEdges(edges);
                        const int len = vertical ? h : w;
                        // Small shifts keep most samples inside; the others
                        // reach over the edges, some beyond the whole length.
                        const int amplitudes[] = {1, 3, std::max(len / 2, 1), 2 * len + 5};
                        p.amplitude = std::min(amplitudes[round], 200);
                        const int periods[] = {1, 3, 7, 37, 100, 200};
                        p.period = periods[rng() % 6];
                        p.phaseShift = int(rng() % 361);
                        p.sine = rng() % 2 == 0;
                        p.retainTiling = edges == 1 && round == 3;
                        const Buffer src = PatchyAlphaBgra(w, h, rng());
                        ASSERT_TRUE(SameBuffer(
                            RunRipple(src, w, h, p),
                            plain_displacement::PlainRipple(src, w, h, p.amplitude, p.period,
                                                            p.phaseShift, p.vertical, int(p.edges),
                                                            p.sine, true, p.retainTiling),
                            w))
                            << w << "x" << h << " vertical " << vertical << " edges " << edges
                            << " A " << p.amplitude << " P " << p.period << " phase "
                            << p.phaseShift << " sine " << p.sine << " tile " << p.retainTiling;
                    }
    });
}

// Where both samples of a blend are transparent the pixel is transparent
// black, whatever colour those samples carry; where one is, the other's
// colour comes through unweighted.
TEST(Ripple, TransparentSamplesBlendToTransparentBlackOrTheOtherColour) {
    const int w = 45, h = 38;
    for (bool vertical : {false, true}) {
        SCOPED_TRACE(vertical ? "vertical" : "horizontal");
        // Opaque colour (10, 20, 30) in the first half along the moved axis,
        // transparent (200, 100, 50) in the second.
        Buffer src(size_t(w) * size_t(h) * 4);
        const int len = vertical ? h : w;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* q = &src[(size_t(y) * size_t(w) + size_t(x)) * 4];
                const bool opaque = (vertical ? y : x) < len / 2;
                q[0] = opaque ? 10 : 200;
                q[1] = opaque ? 20 : 100;
                q[2] = opaque ? 30 : 50;
                q[3] = opaque ? 255 : 0;
            }
        RippleParams p;
        p.antialias = true;
        p.vertical = vertical;
        p.edges = RippleEdges::Smear;
        p.amplitude = 5;
        p.period = 23; // shifts of all sorts of fractions
        p.phaseShift = 0;
        p.sine = true;
        imageops_test::WithBothKernelForms([&] {
            const Buffer out = RunRipple(src, w, h, p);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const uint8_t* q = Px(out, w, x, y);
                    const int k = vertical ? y : x, t = vertical ? x : y;
                    const double amount = std::sin(double(t) / 23 * 6.2831853) * 5;
                    const double n = std::clamp(k + amount, 0.0, len - 1.0);
                    const int i = int(std::floor(n));
                    const double f = n - i;
                    if (i >= len / 2) {
                        // Both samples transparent.
                        const uint8_t black[4] = {0, 0, 0, 0};
                        EXPECT_TRUE(SamePixel(q, black)) << x << "," << y;
                    } else if (i + 1 < len / 2 || f == 0) {
                        // Both opaque, or the transparent one has no weight.
                        const uint8_t colour[4] = {10, 20, 30, 255};
                        EXPECT_TRUE(SamePixel(q, colour)) << x << "," << y;
                    } else {
                        // Straddling the boundary: the opaque colour with the
                        // alpha it is weighted by, never the transparent one.
                        EXPECT_EQ(q[0], 10) << x << "," << y;
                        EXPECT_EQ(q[1], 20) << x << "," << y;
                        EXPECT_EQ(q[2], 30) << x << "," << y;
                        EXPECT_NEAR(q[3], (1 - f) * 255, 1.0) << x << "," << y;
                    }
                }
        });
    }
}

// ---------------------------------------------------------------- Whirl & Pinch

TEST(WhirlPinch, NoWhirlAndNoPinchLeavesThePicture) {
    for (auto [w, h] : kSizes)
        for (int radius : {50, 100, 200}) {
            const Buffer src = RandomBgra(w, h, unsigned(7 * w + h));
            WhirlPinchParams p;
            p.whirl = 0;
            p.pinch = 0;
            p.radius = radius;
            EXPECT_TRUE(SameBuffer(RunWhirl(src, w, h, p), src, w))
                << w << "x" << h << " radius " << radius;
        }
}

TEST(WhirlPinch, RadiusZeroLeavesEveryPixelOutsideTheEffect) {
    for (auto [w, h] : kSizes) {
        const Buffer src = RandomBgra(w, h, unsigned(w * h + 1));
        WhirlPinchParams p;
        p.radius = 0;
        p.whirl = 720;
        p.pinch = 60;
        EXPECT_TRUE(SameBuffer(RunWhirl(src, w, h, p), src, w)) << w << "x" << h;
    }
}

TEST(WhirlPinch, SingleRowsAndColumnsStay) {
    // One row has no 2 x 2 cell to sample (and its aspect scale would divide
    // by a zero half height).
    for (auto [w, h] : {std::pair{9, 1}, std::pair{1, 9}, std::pair{1, 1}}) {
        const Buffer src = RandomBgra(w, h, 12);
        EXPECT_TRUE(SameBuffer(RunWhirl(src, w, h, WhirlPinchParams{200, 100, -720}), src, w));
    }
}

TEST(WhirlPinch, CentrePixelStaysWithAPositivePinch) {
    // 21 x 15: the centre (10, 7) is a pixel, at distance 0.
    const Buffer src = RandomBgra(21, 15, 13);
    for (int pinch : {1, 50, 100}) {
        const Buffer out = RunWhirl(src, 21, 15, WhirlPinchParams{100, pinch, 90});
        EXPECT_TRUE(SamePixel(Px(out, 21, 10, 7), Px(src, 21, 10, 7))) << pinch;
    }
}

// Where a pixel's sample falls off the cells of the picture (0..W-2 x 0..H-2),
// the pixel keeps its source colour; a strong whirl with a radius beyond the
// picture sends the corners' samples out.
TEST(WhirlPinch, SamplesOffThePictureLeaveTheSourcePixel) {
    const int w = 41, h = 29;
    const Buffer src = RandomBgra(w, h, 14);
    const WhirlPinchParams p{200, 0, 300};
    const Buffer out = RunWhirl(src, w, h, p);
    const double cx = 20, cy = 14, sy = cx / cy, R = 20, r = 2.0;
    int off = 0;
    for (int y = 0; y <= (h - 1) / 2; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x - cx, dy = (y - cy) * sy, d = dx * dx + dy * dy;
            if (d >= R * R * r) continue;
            const double dist = std::sqrt(d / r) / R;
            const double ang = 300 * 3.14159265 / 180 * (1 - dist) * (1 - dist);
            const double ux = std::cos(ang) * dx - std::sin(ang) * dy + cx;
            const double uy = (std::sin(ang) * dx + std::cos(ang) * dy) / sy + cy;
            if (ux < -0.5 || ux > w - 0.5 || uy < -0.5 || uy > h - 0.5) {
                EXPECT_TRUE(SamePixel(Px(out, w, x, y), Px(src, w, x, y))) << x << "," << y;
                ++off;
            }
        }
    EXPECT_GT(off, 10);
}

TEST(WhirlPinch, MatchesThePlainFormByteForByte) {
    imageops_test::WithBothKernelForms([] {
        std::mt19937 rng(29);
        for (int round = 0; round < 60; ++round) {
            int w, h;
            const Buffer src = MatchPicture(rng, round, w, h, 150, 45);
            WhirlPinchParams p;
            p.radius = int(rng() % 201);
            p.pinch = int(rng() % 201) - 100;
            p.whirl = int(rng() % 1441) - 720;
            ASSERT_TRUE(SameBuffer(
                RunWhirl(src, w, h, p),
                plain_displacement::PlainWhirlPinch(src, w, h, p.radius, p.pinch, p.whirl), w))
                << w << "x" << h << " radius " << p.radius << " pinch " << p.pinch << " whirl "
                << p.whirl;
        }
    });
}

// ---------------------------------------------------------------- all three

TEST(Displacement, ThreadsDoNotChangeAByteOnAnOddSize) {
    imageops_test::WithBothKernelForms([] {
        const int w = 521, h = 263; // odd both ways: a middle row and a middle column
        for (bool opaque : {true, false}) {
            const Buffer src = RandomBgra(w, h, 31, opaque);
            const WaveParams wave{50, 25, 180, false, false};
            const Buffer waveOne = RunWave(src, w, h, wave, 1);
            for (int t : {2, 3, 7})
                EXPECT_TRUE(SameBuffer(RunWave(src, w, h, wave, t), waveOne, w));
            EXPECT_TRUE(SameBuffer(RunWave(src, w, h, wave), waveOne, w));
            EXPECT_TRUE(SameBuffer(
                waveOne, plain_displacement::PlainWave(src, w, h, 50, 25, 180, false, false), w));

            RippleParams ripple;
            ripple.amplitude = 33;
            ripple.vertical = true;
            ripple.antialias = true;
            ripple.sine = true;
            const Buffer rippleOne = RunRipple(src, w, h, ripple, 1);
            for (int t : {2, 3, 7})
                EXPECT_TRUE(SameBuffer(RunRipple(src, w, h, ripple, t), rippleOne, w));

            const WhirlPinchParams whirl{150, 40, -400};
            const Buffer whirlOne = RunWhirl(src, w, h, whirl, 1);
            for (int t : {2, 3, 7})
                EXPECT_TRUE(SameBuffer(RunWhirl(src, w, h, whirl, t), whirlOne, w));
            EXPECT_TRUE(SameBuffer(RunWhirl(src, w, h, whirl), whirlOne, w));
            // And all of it is still the plain form.
            EXPECT_TRUE(SameBuffer(
                whirlOne, plain_displacement::PlainWhirlPinch(src, w, h, 150, 40, -400), w));
        }
    });
}

// The effect table's rows read their settings and run through the pipeline's
// buffers.
TEST(Displacement, EffectRowsApplyTheirSettings) {
    ProcessingSettings s;
    s.m_nAmplitudeWave = 20, s.m_nWavelengthWave = 9, s.m_nPhaseWave = 45;
    s.m_bSmearWave = 0, s.m_bReflectiveWave = 1;
    s.m_nAmplitudeRipple = 11, s.m_nPeriodRipple = 19, s.m_nPShiftRipple = 30;
    s.m_bAntialiasingRipple = 1, s.m_nHorizontalRipple = 1, s.m_nEdgesRipple = 2;
    s.m_nSawtoothRipple = 1;
    s.m_nRadiusWhirlPinch = 140, s.m_nPinchWhirlPinch = -30, s.m_nWhirlWhirlPinch = 200;
    const int w = 37, h = 26;
    BMP_File img;
    img.Create(w, h);
    std::mt19937 rng(5);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    Buffer bgra(size_t(w) * size_t(h) * 4);
    img.ToBGRA(bgra.data());

    auto viaRow = [&](int id) {
        BMP_File out = img;
        EXPECT_TRUE(ApplyEffect(*FindEffect(id), out, s));
        Buffer b(bgra.size());
        out.ToBGRA(b.data());
        return b;
    };
    auto opaque = [](Buffer b) {
        for (size_t i = 3; i < b.size(); i += 4) b[i] = 255;
        return b;
    };
    using namespace plain_displacement;
    EXPECT_TRUE(SameBuffer(viaRow(19), opaque(PlainWave(bgra, w, h, 20, 9, 45, false, true)), w));
    EXPECT_TRUE(SameBuffer(
        viaRow(20), opaque(PlainRipple(bgra, w, h, 11, 19, 30, true, 2, true, true, false)), w));
    EXPECT_TRUE(SameBuffer(viaRow(29), opaque(PlainWhirlPinch(bgra, w, h, 140, -30, 200)), w));
    for (int id : {19, 20, 29}) EXPECT_TRUE(FindEffect(id)->Available());
}

// Settings come from configuration files too, where any number may stand:
// the effects stay defined and agree with their plain forms.
TEST(Displacement, ExtremeSettingsStayDefined) {
    const int w = 19, h = 11;
    const Buffer src = RandomBgra(w, h, 41);
    const int big = std::numeric_limits<int>::max(), small = std::numeric_limits<int>::min();
    for (int v : {big, small, -1, 100000}) {
        SCOPED_TRACE(v);
        for (bool smear : {true, false})
            for (bool reflective : {true, false}) {
                const WaveParams wave{v, v == big ? 3 : v % 97, v, smear, reflective};
                EXPECT_TRUE(SameBuffer(RunWave(src, w, h, wave),
                                       plain_displacement::PlainWave(src, w, h, wave.amplitude,
                                                                     wave.wavelength, wave.phase,
                                                                     smear, reflective),
                                       w));
            }
        for (int edges : {0, 1, 2})
            for (bool aa : {true, false}) {
                RippleParams r;
                r.amplitude = v;
                r.period = v;
                r.phaseShift = v % 1000;
                r.edges = RippleEdges(edges);
                r.antialias = aa;
                r.vertical = edges == 1;
                EXPECT_TRUE(SameBuffer(
                    RunRipple(src, w, h, r),
                    plain_displacement::PlainRipple(src, w, h, r.amplitude, r.period, r.phaseShift,
                                                    r.vertical, edges, false, aa, false),
                    w));
            }
        const WhirlPinchParams whirl{v == small ? 150 : v, v % 5000, v};
        EXPECT_TRUE(SameBuffer(
            RunWhirl(src, w, h, whirl),
            plain_displacement::PlainWhirlPinch(src, w, h, whirl.radius, whirl.pinch, whirl.whirl),
            w));
    }
}
