// Wind and Van Gogh: the streaks they draw, their random draws in order, the
// edge rules and the corners where their arithmetic could break.

#include "imageops/cpu_features.h"
#include "imageops/effect_table.h"
#include "imageops/overlays.h"
#include "imageops/wind_vangogh.h"
#include "tests/imageops/bgra_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

using namespace bgra_test;

namespace {

Picture Wind(const Picture& in, const WindParams& p, unsigned seed, bool garbage = false) {
    std::srand(seed);
    return RunEffect(
        in, [&](const uint8_t* s, uint8_t* d, int w, int h) { ApplyWind(s, d, w, h, p); }, garbage);
}

Picture VanGogh(const Picture& in, const VanGoghParams& p, unsigned seed, bool garbage = false) {
    std::srand(seed);
    return RunEffect(
        in, [&](const uint8_t* s, uint8_t* d, int w, int h) { ApplyVanGogh(s, d, w, h, p); },
        garbage);
}

WindParams WindWith(int algorithm, int direction, int edge, int threshold = 50, int strength = 20) {
    WindParams p;
    p.algorithm = algorithm;
    p.direction = direction;
    p.edge = edge;
    p.threshold = threshold;
    p.strength = strength;
    return p;
}

// A picture of rows that change from `left` to `right` at column `at`.
Picture Step(int w, int h, int at, Bgra left, Bgra right) {
    Picture p(w, h, left);
    for (int y = 0; y < h; ++y)
        for (int x = at; x < w; ++x) p.Set(x, y, right);
    return p;
}

} // namespace

TEST(Wind, EdgeValueCountsAllFourBytes) {
    const uint8_t black[4] = {0, 0, 0, 255}, white[4] = {255, 255, 255, 255};
    const uint8_t grey100[4] = {100, 100, 100, 255}, grey140[4] = {140, 140, 140, 255};
    EXPECT_EQ(WindEdgeValue(black, white, 0), 191); // 765 / 4, alpha adds 0
    EXPECT_EQ(WindEdgeValue(white, black, 0), 191);
    EXPECT_EQ(WindEdgeValue(grey100, grey140, 0), 30);
    // Leading counts brighter-to-darker, Trailing the opposite; toward zero.
    EXPECT_EQ(WindEdgeValue(white, black, 1), 191);
    EXPECT_EQ(WindEdgeValue(black, white, 1), -191);
    EXPECT_EQ(WindEdgeValue(black, white, 2), 191);
    const uint8_t a[4] = {0, 0, 0, 0}, b[4] = {1, 1, 1, 0};
    EXPECT_EQ(WindEdgeValue(b, a, 2), 0); // -3 / 4 is 0, not -1
}

TEST(Wind, OneColourPictureIsUnchangedInEveryMode) {
    const Picture flat(23, 9, {37, 140, 201, 255});
    for (int algorithm : {0, 1})
        for (int direction : {0, 1})
            for (int edge : {0, 1, 2})
                for (int threshold : {0, 20, 50}) {
                    SCOPED_TRACE(testing::Message() << algorithm << direction << edge << threshold);
                    EXPECT_TRUE(
                        Same(Wind(flat, WindWith(algorithm, direction, edge, threshold), 7, true),
                             flat));
                }
}

TEST(Wind, PicturesNarrowerThanFourPixelsAreUnchanged) {
    for (int w : {1, 2, 3}) {
        const Picture in = RandomPicture(w, 6, unsigned(w));
        for (int algorithm : {0, 1})
            for (int direction : {0, 1})
                // A threshold below every edge value would start a streak anywhere.
                EXPECT_TRUE(Same(Wind(in, WindWith(algorithm, direction, 0, -1000), 3, true), in))
                    << w;
    }
    // Empty pictures are left alone.
    ApplyWind(nullptr, nullptr, 0, 5, WindParams{});
    ApplyWind(nullptr, nullptr, 5, 0, WindParams{});
}

// Threshold 50: a black-to-white step (edge value 191) streaks, a step of 40
// grey levels (edge value 30) never does.
TEST(Wind, ThresholdRuleOnAStepEdge) {
    const Picture strong = Step(40, 24, 10, Grey(0), Grey(255));
    const Picture weak = Step(40, 24, 10, Grey(100), Grey(140));
    for (unsigned seed : {1u, 2u, 3u}) {
        for (int algorithm : {0, 1}) {
            EXPECT_TRUE(Same(Wind(weak, WindWith(algorithm, 0, 0, 50), seed), weak));
            EXPECT_FALSE(Same(Wind(strong, WindWith(algorithm, 0, 0, 50), seed), strong));
        }
        // Soft streaks carry the dark side into the white one: the dark side
        // stays as it was and white pixels only get darker.
        const Picture out = Wind(strong, WindWith(0, 0, 0, 50), seed);
        for (int y = 0; y < out.h; ++y) {
            for (int x = 0; x < 10; ++x) EXPECT_EQ(out.Get(x, y), Grey(0));
            for (int x = 10; x < out.w; ++x) {
                const Bgra p = out.Get(x, y);
                EXPECT_TRUE(p.b == p.g && p.g == p.r);
                EXPECT_EQ(p.a, 255);
            }
            // The last three pixels are never part of a streak.
            for (int x = out.w - 3; x < out.w; ++x) EXPECT_EQ(out.Get(x, y), Grey(255));
        }
    }
}

// One streak of one pixel: on a row of 7 (black, black, black, white x 4) only
// the start j = 0 reaches a pixel (i = 3; the streak stops before W - 3 = 4).
// Its length comes from the first two draws: r picks the scale (4 x strength
// when r mod 4 = 3) and n = 1 + trunc(r' / 32768 * scale). The pixel becomes
// (255 + 2 v) / 3 with v = trunc(0 + n * 255 * 2 / (n (n + 1))).
TEST(Wind, FirstStreakPixelFollowsTheFirstTwoDraws) {
    const Picture row = Step(7, 1, 3, Grey(0), Grey(255));
    int changed = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::srand(seed);
        const int r = RuntimeRand15();
        const double scale = r % 4 == 3 ? 80.0 : 20.0;
        const int n = 1 + int(std::trunc(RuntimeRand15() / 32768.0 * scale));
        const int v = int(std::trunc(double(n * 255) * (2.0 / (double(n) * (n + 1.0)))));
        const int expected = (255 + 2 * v) / 3;
        const Picture out = Wind(row, WindWith(0, 0, 0, 50, 20), seed);
        SCOPED_TRACE(testing::Message() << "seed " << seed << " n " << n);
        EXPECT_EQ(out.Get(3, 0), Grey(uint8_t(expected)));
        for (int x : {0, 1, 2}) EXPECT_EQ(out.Get(x, 0), Grey(0));
        for (int x : {4, 5, 6}) EXPECT_EQ(out.Get(x, 0), Grey(255));
        changed += expected != 255;
    }
    EXPECT_GT(changed, 30); // n = 1 (no change) is rare at strength 20
}

// Blast with a strength longer than the row copies the start pixel up to the
// last three pixels, whatever the draws: worked rows for every edge mode and
// both directions (a dark-to-bright step at column 5 of 16).
TEST(Wind, BlastEdgeModesAndDirections) {
    const Picture row = Step(16, 1, 5, Grey(0), Grey(255));
    auto blast = [&](int direction, int edge) {
        return Wind(row, WindWith(1, direction, edge, 50, 100), 11);
    };
    // Left: the black pixel 4 is copied over 4..12.
    const Picture streaked = Step(16, 1, 13, Grey(0), Grey(255));
    EXPECT_TRUE(Same(blast(0, 0), streaked));
    EXPECT_TRUE(Same(blast(0, 2), streaked)); // darker to brighter counts
    EXPECT_TRUE(Same(blast(0, 1), row));      // Leading: only brighter to darker
    // Right: the row is walked from its right end, so the step is bright to
    // dark there; the white pixel 5 is copied over 5..3 (three from the left
    // end are never streaked).
    const Picture back = Step(16, 1, 3, Grey(0), Grey(255));
    EXPECT_TRUE(Same(blast(1, 0), back));
    EXPECT_TRUE(Same(blast(1, 1), back));
    EXPECT_TRUE(Same(blast(1, 2), row));

    // The same for soft streaks, which depend on the draws: they appear or not.
    for (unsigned seed : {5u, 6u}) {
        const Picture tall = Step(30, 12, 12, Grey(0), Grey(255));
        auto wind = [&](int direction, int edge) {
            return Wind(tall, WindWith(0, direction, edge, 50, 20), seed);
        };
        EXPECT_FALSE(Same(wind(0, 0), tall));
        EXPECT_FALSE(Same(wind(0, 2), tall));
        EXPECT_TRUE(Same(wind(0, 1), tall));
        EXPECT_FALSE(Same(wind(1, 0), tall));
        EXPECT_FALSE(Same(wind(1, 1), tall));
        EXPECT_TRUE(Same(wind(1, 2), tall));
        // Going right the streaks run from the step toward decreasing x: the
        // white side is untouched and the dark side only brightens.
        const Picture out = wind(1, 0);
        for (int y = 0; y < out.h; ++y) {
            for (int x = 12; x < 30; ++x) EXPECT_EQ(out.Get(x, y), Grey(255));
            for (int x = 0; x < 3; ++x) EXPECT_EQ(out.Get(x, y), Grey(0));
        }
    }
}

// Direction 1 is direction 0 on the mirrored picture, draw for draw.
TEST(Wind, RightIsLeftMirrored) {
    const Picture in = RandomPicture(37, 11, 4);
    for (int algorithm : {0, 1})
        for (int edge : {0, 1, 2}) {
            SCOPED_TRACE(testing::Message() << algorithm << edge);
            const WindParams right = WindWith(algorithm, 1, edge, 10, 7);
            const WindParams left = WindWith(algorithm, 0, edge, 10, 7);
            const Picture a = Wind(in, right, 21);
            EXPECT_FALSE(Same(a, in));
            EXPECT_TRUE(Same(a, Wind(in.Mirrored(), left, 21).Mirrored()));
        }
}

// Blast's draws in order: per streak the length factor (r1 mod 10: above 5
// gives 2, 4 or 5 gives 3, else 4), the length ((r2 mod f + 1) x strength) and
// the skip (r3 mod 10 above 7); after a row asking for a skip one more draw
// says how many rows (1 + r mod 2) stay as they are. Rows of 12 that step from
// black to white at column 3 get one streak each, from pixel 2.
TEST(Wind, BlastDrawsAndSkippedRows) {
    const int w = 12, h = 30;
    const Picture in = Step(w, h, 3, Grey(0), Grey(255));
    int skipped = 0;
    for (unsigned seed : {1u, 9u, 77u}) {
        std::srand(seed);
        Picture expected = in;
        for (int y = 0; y < h; ++y) {
            const int r1 = RuntimeRand15() % 10;
            const int f = r1 > 5 ? 2 : (r1 >= 4 ? 3 : 4);
            const int length = RuntimeRand15() % f + 1; // strength 1
            const int end = std::min(2 + length, w - 3);
            for (int x = 3; x < end; ++x) expected.Set(x, y, Grey(0));
            if (RuntimeRand15() % 10 > 7) {
                const int rows = 1 + RuntimeRand15() % 2;
                y += rows;
                skipped += rows;
            }
        }
        EXPECT_TRUE(Same(Wind(in, WindWith(1, 0, 0, 50, 1), seed), expected)) << seed;
    }
    EXPECT_GT(skipped, 0);
}

// A hand-edited strength of 0 or less would give streaks of no length, and
// Blast would never get past its first edge; such strengths act as 1.
TEST(Wind, StrengthBelowOneActsAsOne) {
    const Picture in = RandomPicture(29, 13, 8);
    for (int algorithm : {0, 1})
        for (int strength : {0, -5}) {
            EXPECT_TRUE(Same(Wind(in, WindWith(algorithm, 0, 0, 10, strength), 3),
                             Wind(in, WindWith(algorithm, 0, 0, 10, 1), 3)));
        }
    // Unknown edge modes count as the default, Leading.
    EXPECT_TRUE(Same(Wind(in, WindWith(0, 0, 7, 10), 3), Wind(in, WindWith(0, 0, 1, 10), 3)));
}

TEST(Wind, EffectTableRowReadsTheSettings) {
    const EffectRow* row = FindEffect(21);
    ASSERT_TRUE(row && row->Available());
    ProcessingSettings s;
    s.m_nThresholdWind = 5;
    s.m_nStrengthWind = 9;
    s.m_nAlgorithmWind = 1;
    s.m_nDirectionWind = 1;
    s.m_nEdgeWind = 0;
    const Picture in = RandomPicture(31, 17, 2);
    std::srand(4);
    const Picture viaRow = RunEffect(
        in, [&](const uint8_t* a, uint8_t* b, int w, int h) { row->bgra(a, b, w, h, s); });
    EXPECT_TRUE(Same(viaRow, Wind(in, WindWith(1, 1, 0, 5, 9), 4)));
}

// ---------------------------------------------------------------------------
// Van Gogh

namespace {

VanGoghParams VanGoghWith(int convolve, int steps, int length = 5) {
    VanGoghParams p;
    p.convolve = convolve;
    p.integrationSteps = steps;
    p.filterLength = length;
    return p;
}

} // namespace

// With an even number of steps the tent's peak is a sample and its weights add
// up to l, so a one-colour picture comes back unchanged, for every length
// (0 stands for 0.1) and at every size, however the picture wraps.
TEST(VanGogh, OneColourKeepsItsColourWithEvenSteps) {
    const Bgra colours[] = {{13, 200, 254, 255}, {255, 255, 255, 255}, {1, 2, 3, 255}};
    for (const Bgra& c : colours)
        for (int steps : {2, 4, 6, 10, 24, 40})
            for (int length : {0, 1, 5, 17, 64})
                for (int op : {0, 1}) {
                    const Picture flat(9, 7, c);
                    VanGoghParams p = VanGoghWith(1, steps, length);
                    p.op = op;
                    SCOPED_TRACE(testing::Message() << steps << " " << length << " " << op);
                    ASSERT_TRUE(Same(VanGogh(flat, p, 3, true), flat));
                }
    for (auto [w, h] : {std::pair{1, 1}, {1, 6}, {6, 1}, {2, 2}, {3, 5}}) {
        const Picture flat(w, h, {90, 30, 250, 255});
        EXPECT_TRUE(Same(VanGogh(flat, VanGoghWith(1, 8, 64), 1, true), flat)) << w << "x" << h;
    }
}

// With an odd number the peak falls between two samples and the trapezoid sum
// is l (1 - 1/n^2): at the default 25 steps every byte from 1 to 625 loses one
// level; at 3 steps a byte c becomes trunc(8c / 9).
TEST(VanGogh, OneColourFallsShortWithOddSteps) {
    const Picture flat(8, 5, {200, 100, 255, 255});
    const Picture out25 = VanGogh(flat, VanGoghWith(1, 25), 2, true);
    const Picture out3 = VanGogh(flat, VanGoghWith(1, 3), 2, true);
    for (int y = 0; y < flat.h; ++y)
        for (int x = 0; x < flat.w; ++x) {
            EXPECT_EQ(out25.Get(x, y), (Bgra{199, 99, 254, 254}));
            EXPECT_EQ(out3.Get(x, y), (Bgra{177, 88, 226, 226}));
        }
}

// One step would sample the tent only where its weight is 0 and return black;
// it smears as two steps do (which keep a flat colour).
TEST(VanGogh, OneStepActsAsTwo) {
    const Picture flat(6, 6, {40, 50, 60, 255});
    EXPECT_TRUE(Same(VanGogh(flat, VanGoghWith(1, 1), 5), flat));
    const Picture in = RandomPicture(15, 9, 3);
    EXPECT_TRUE(Same(VanGogh(in, VanGoghWith(1, 1), 5), VanGogh(in, VanGoghWith(1, 2), 5)));
    EXPECT_TRUE(Same(VanGogh(in, VanGoghWith(0, 0), 5), VanGogh(in, VanGoghWith(0, 2), 5)));
}

// Filter length 0 integrates over a tenth of a pixel either side: a
// checkerboard hardly changes, where length 1 already blurs it well toward
// grey. Negative lengths from a hand-edited file act as 0.
TEST(VanGogh, FilterLengthZeroUsesATenthOfAPixel) {
    Picture board(12, 10);
    for (int y = 0; y < board.h; ++y)
        for (int x = 0; x < board.w; ++x) board.Set(x, y, Grey((x + y) % 2 ? 255 : 0));
    const Picture tenth = VanGogh(board, VanGoghWith(1, 4, 0), 6);
    const Picture one = VanGogh(board, VanGoghWith(1, 4, 1), 6);
    int blurred = 0;
    for (int y = 0; y < board.h; ++y)
        for (int x = 0; x < board.w; ++x) {
            const bool white = (x + y) % 2;
            const int v = tenth.Get(x, y).g;
            if (white)
                EXPECT_GE(v, 240) << x << "," << y;
            else
                EXPECT_LE(v, 15) << x << "," << y;
            blurred += white ? one.Get(x, y).g <= 220 : one.Get(x, y).g >= 35;
        }
    EXPECT_GT(blurred, board.w * board.h / 2);
    EXPECT_TRUE(Same(VanGogh(board, VanGoghWith(1, 4, -3), 6), tenth));
}

// Samples left of column 0 read the last column: positions are wrapped by
// floor, so -0.5 lies halfway between columns W - 1 and 0 (a truncated index
// would read columns 0 and 1). Columns 0 and 6 of this picture (only column 7
// white) flow horizontally; with l = 1 and 4 steps their samples at +-0.5
// weigh 2/16 each, and the one on column 7's side reads 127.5: 31.
TEST(VanGogh, SamplesWrapAroundThePictureEdges) {
    Picture in(8, 5, Grey(0));
    for (int y = 0; y < in.h; ++y) in.Set(7, y, Grey(255));
    VanGoghParams p = VanGoghWith(1, 4, 1);
    p.op = 0; // along the gradient: across the white column
    for (unsigned seed : {1u, 2u, 3u}) {
        const Picture out = VanGogh(in, p, seed);
        for (int y = 0; y < in.h; ++y) {
            EXPECT_EQ(out.Get(0, y), (Bgra{31, 31, 31, 255})) << y;
            EXPECT_EQ(out.Get(6, y), (Bgra{31, 31, 31, 255})) << y;
            for (int x = 1; x < 6; ++x) EXPECT_EQ(out.Get(x, y), Grey(0)) << x << "," << y;
        }
    }
}

// With white noise the picture is scaled by 0.5..1 per pixel: each byte is
// the source byte times a common factor, and no byte grows. An empty noise
// range (minimum = maximum) gives factors of exactly 0.5 or 1.
TEST(VanGogh, WhiteNoiseScalesEachPixel) {
    const Picture in = RandomPicture(33, 21, 5);
    for (auto [minv, maxv] : {std::pair{-25, 25}, {0, 0}, {-100, 100}, {30, -30}}) {
        VanGoghParams p = VanGoghWith(0, 25);
        p.minValue = minv;
        p.maxValue = maxv;
        p.noiseMagnitude = 3;
        const Picture out = VanGogh(in, p, 8, true);
        for (int y = 0; y < in.h; ++y)
            for (int x = 0; x < in.w; ++x) {
                const Bgra s = in.Get(x, y), o = out.Get(x, y);
                EXPECT_LE(o.b, s.b);
                EXPECT_GE(o.b, s.b / 2);
                EXPECT_GE(o.a, 127);
                if (minv == maxv) {
                    const bool half = o.a == 127;
                    EXPECT_TRUE(half || o.a == 255);
                    EXPECT_EQ(o.r, half ? s.r / 2 : s.r);
                }
            }
    }
    // A noise cell size of 0 would divide by zero; it acts as 1.
    VanGoghParams zero = VanGoghWith(0, 10), one = VanGoghWith(0, 10);
    zero.noiseMagnitude = 0;
    one.noiseMagnitude = 1;
    EXPECT_TRUE(Same(VanGogh(in, zero, 2), VanGogh(in, one, 2)));
}

// The smearing draws nothing and is split over threads; the result is the
// one-thread result, byte for byte, on an odd size.
TEST(VanGogh, ThreadsGiveTheOneThreadResult) {
    const Picture in = RandomPicture(kThreadedW, kThreadedH, 12);
    for (int convolve : {0, 1}) {
        VanGoghParams p = VanGoghWith(convolve, 9, 7);
        p.channel = convolve; // hue with noise, saturation with the picture
        const Picture split = VanGogh(in, p, 31);
        Picture single;
        {
            OneThread one;
            single = VanGogh(in, p, 31);
        }
        EXPECT_TRUE(Same(split, single)) << convolve;
        EXPECT_FALSE(Same(split, in));
    }
}

// The picture's samples are summed in vector registers on every vector target
// the processor has; each gives the bytes of the plain sum, on pictures
// smaller than a vector and with flow lines longer than the picture, whose
// samples wrap round it more than once.
TEST(VanGogh, VectorAndPortableSumsAgree) {
    for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {37, 29}}) {
        const Picture in = RandomPicture(w, h, unsigned(w));
        for (auto [steps, length] : {std::pair{2, 9}, {7, 9}, {25, 9}, {40, 64}}) {
            const VanGoghParams p = VanGoghWith(1, steps, length);
            imageops::UseVectorKernels(false);
            const Picture portable = VanGogh(in, p, 4);
            imageops::UseVectorKernels(true);
            for (const int64_t target : imageops::VectorTargets()) {
                imageops::PinVectorTarget(target);
                EXPECT_TRUE(Same(VanGogh(in, p, 4), portable))
                    << imageops::VectorTargetName(target) << " " << w << "x" << h << " " << steps
                    << " steps, length " << length;
            }
            imageops::PinVectorTarget(0);
        }
    }
}

// The scalar field is dithered by one draw per pixel: the same seed gives the
// same picture, another seed (almost surely) another one.
TEST(VanGogh, DrawsFollowTheRuntimeSeed) {
    const Picture in = RandomPicture(40, 30, 1);
    const VanGoghParams p = VanGoghWith(0, 25);
    EXPECT_TRUE(Same(VanGogh(in, p, 17), VanGogh(in, p, 17)));
    EXPECT_FALSE(Same(VanGogh(in, p, 17), VanGogh(in, p, 18)));
}

TEST(VanGogh, EffectTableRowReadsTheSettings) {
    const EffectRow* row = FindEffect(26);
    ASSERT_TRUE(row && row->Available());
    ProcessingSettings s;
    s.m_nfiltlenVangogh = 3;
    s.m_nnoisemagVangogh = 4;
    s.m_nintstepsVangogh = 12;
    s.m_nminvVangogh = -40;
    s.m_nmaxvVangogh = 10;
    s.m_n_channelVangogh = 1;
    s.m_n_operatorVangogh = 0;
    s.m_n_convolveVangogh = 0;
    VanGoghParams p;
    p.filterLength = 3;
    p.noiseMagnitude = 4;
    p.integrationSteps = 12;
    p.minValue = -40;
    p.maxValue = 10;
    p.channel = 1;
    p.op = 0;
    p.convolve = 0;
    const Picture in = RandomPicture(19, 14, 6);
    std::srand(9);
    const Picture viaRow = RunEffect(
        in, [&](const uint8_t* a, uint8_t* b, int w, int h) { row->bgra(a, b, w, h, s); });
    EXPECT_TRUE(Same(viaRow, VanGogh(in, p, 9)));
}
