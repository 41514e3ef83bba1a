// Spatial filters against plain window-by-window references, and the documented
// edge cases.
#include "reference.h"

#include <gtest/gtest.h>

#include <climits>

using namespace sarnel_test;
using sarnel::Plane;

namespace {

struct Range {
    int channel, lo, hi;
};
// Every channel's range, plus a wide signed one that no colour space produces but a
// contraharmonic pass can leave behind.
const Range kRanges[] = {{0, 0, 255},    {3, 0, 360},    {4, 0, 100},      {6, 0, 100},
                         {7, -128, 127}, {8, -128, 127}, {-1, -3000, 2500}};

struct Aperture {
    int w, h;
};
const Aperture kApertures[] = {{1, 1}, {3, 3}, {4, 6}, {5, 3}, {1, 9}, {7, 1}, {21, 21}};

// Exact equality; pixels flagged in `skip` (ill-conditioned windows) are not compared.
void expectSamePlane(const Plane& expected, const Plane& actual, const std::string& what,
                     const std::vector<bool>& skip = {}) {
    ASSERT_EQ(expected.samples.size(), actual.samples.size()) << what;
    int mismatches = 0;
    for (size_t i = 0; i < expected.samples.size(); ++i) {
        if (!skip.empty() && skip[i]) continue;
        if (expected.samples[i] != actual.samples[i] && ++mismatches <= 3)
            ADD_FAILURE() << what << " at x=" << i % size_t(expected.width)
                          << " y=" << i / size_t(expected.width) << ": expected "
                          << expected.samples[i] << ", got " << actual.samples[i];
    }
    EXPECT_EQ(mismatches, 0) << what;
}

std::string label(const char* filter, const Range& r, const Aperture& a) {
    return std::string(filter) + " range " + std::to_string(r.lo) + ".." + std::to_string(r.hi) +
           " aperture " + std::to_string(a.w) + "x" + std::to_string(a.h);
}

} // namespace

// The histogram-based order statistics must give exactly what sorting each window gives.
TEST(SarnelOrderStatistics, MatchSortingOnRandomPlanes) {
    uint32_t seed = 1;
    for (const Range& r : kRanges)
        for (const Aperture& a : kApertures) {
            const Plane src = randomPlane(29, 23, r.lo, r.hi, seed++);
            Plane p = src;
            sarnel::minFilter(p, a.w, a.h);
            expectSamePlane(refRank(src, a.w, a.h, [](auto& s) { return s.front(); }), p,
                            label("min", r, a));
            p = src;
            sarnel::maxFilter(p, a.w, a.h);
            expectSamePlane(refRank(src, a.w, a.h, [](auto& s) { return s.back(); }), p,
                            label("max", r, a));
            p = src;
            sarnel::medianFilter(p, a.w, a.h);
            expectSamePlane(refRank(src, a.w, a.h, medianOf), p, label("median", r, a));
            p = src;
            sarnel::midPointFilter(p, a.w, a.h);
            expectSamePlane(
                refRank(src, a.w, a.h, [](auto& s) { return (s.front() + s.back()) / 2; }), p,
                label("midpoint", r, a));
            for (int d : {-4, 0, 1, 2, 5, 8, 30, 500}) {
                p = src;
                sarnel::trimmedMeanFilter(p, a.w, a.h, d);
                expectSamePlane(refTrimmed(src, a.w, a.h, d), p,
                                label("trimmed", r, a) + " d=" + std::to_string(d));
            }
        }
}

// Planes with few distinct values make long runs of equal samples, where a sliding
// rank cursor is most easily off by one.
TEST(SarnelOrderStatistics, MatchSortingOnPlanesWithFewValues) {
    for (uint32_t seed = 100; seed < 104; ++seed) {
        const Plane src = randomPlane(31, 17, 3, 5, seed);
        for (const Aperture& a : kApertures) {
            Plane p = src;
            sarnel::medianFilter(p, a.w, a.h);
            expectSamePlane(refRank(src, a.w, a.h, medianOf), p, "median few values");
            p = src;
            sarnel::trimmedMeanFilter(p, a.w, a.h, 6);
            expectSamePlane(refTrimmed(src, a.w, a.h, 6), p, "trimmed few values");
        }
    }
}

TEST(SarnelOrderStatistics, AdaptiveMedianMatchesReference) {
    uint32_t seed = 500;
    const std::pair<int, int> sizes[] = {{3, 5}, {3, 3}, {2, 9}, {5, 12}, {0, 4}, {3, 30}};
    for (const Range& r : kRanges)
        for (auto [sMin, sMax] : sizes) {
            // Salt-and-pepper on a smooth field, so that windows of every size resolve.
            Plane src = randomPlane(27, 19, r.lo, r.hi, seed++);
            for (size_t i = 0; i < src.samples.size(); ++i)
                if (i % 3 != 0) src.samples[i] = int16_t(r.lo + (r.hi - r.lo) / 2);
            Plane p = src;
            sarnel::adaptiveMedianFilter(p, sMin, sMax);
            expectSamePlane(refAdaptiveMedian(src, sMin, sMax), p,
                            "adaptive median " + std::to_string(sMin) + "," + std::to_string(sMax));
        }
}

// Flat areas leave pixels unresolved at every size: some planes with a small flat
// block (few pixels go on to the larger sizes) and some with a large one (most do).
TEST(SarnelOrderStatistics, AdaptiveMedianMatchesReferenceAroundFlatAreas) {
    for (int flatPercent : {10, 30, 70}) {
        Plane src = randomPlane(40, 30, 0, 255, uint32_t(flatPercent));
        const int flatRows = 30 * flatPercent / 100;
        for (int y = 0; y < flatRows; ++y)
            for (int x = 0; x < 40; ++x) src.samples[size_t(y * 40 + x)] = 200;
        Plane p = src;
        sarnel::adaptiveMedianFilter(p, 3, 14);
        expectSamePlane(refAdaptiveMedian(src, 3, 14), p,
                        "adaptive median, flat " + std::to_string(flatPercent) + "%");
    }
}

// Running sums: same results as summing each window, on every range.
TEST(SarnelMeans, RunningSumsMatchDirectSums) {
    uint32_t seed = 900;
    for (const Range& r : kRanges)
        for (const Aperture& a : kApertures) {
            const Plane src = randomPlane(26, 21, r.lo, r.hi, seed++);
            Plane p = src;
            sarnel::normalFilter(p, a.w, a.h);
            expectSamePlane(refContraharmonic(src, a.w, a.h, 0.0), p, label("arithmetic", r, a));
            p = src;
            sarnel::geometricFilter(p, a.w, a.h);
            expectSamePlane(refGeometric(src, a.w, a.h), p, label("geometric", r, a));
            std::vector<bool> ill;
            p = src;
            sarnel::harmonicFilter(p, a.w, a.h);
            Plane expected = refHarmonic(src, a.w, a.h, &ill);
            expectSamePlane(expected, p, label("harmonic", r, a), ill);
            for (double q : {-2.0, -1.0, 0.5, 1.0, 2.5}) {
                p = src;
                sarnel::contraharmonicFilter(p, a.w, a.h, q);
                expected = refContraharmonic(src, a.w, a.h, q, &ill);
                expectSamePlane(expected, p,
                                label("contraharmonic", r, a) + " q=" + std::to_string(q), ill);
                if (r.lo >= 0) {
                    EXPECT_EQ(std::count(ill.begin(), ill.end(), true), 0);
                }
            }
            for (double noise : {0.0, 10.0, 400.0, 1e6}) {
                p = src;
                sarnel::adaptiveLocalFilter(p, -1, a.w, a.h, noise);
                expectSamePlane(refAdaptiveLocal(src, a.w, a.h, noise), p,
                                label("adaptive local", r, a) + " noise=" + std::to_string(noise));
            }
        }
}

TEST(SarnelMeans, ZeroSampleMakesGeometricAndHarmonicZero) {
    Plane p = constantPlane(5, 5, 200);
    p.samples[12] = 0; // centre
    Plane g = p, h = p;
    sarnel::geometricFilter(g, 3, 3);
    sarnel::harmonicFilter(h, 3, 3);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool seesZero = std::abs(x - 2) <= 1 && std::abs(y - 2) <= 1;
            EXPECT_EQ(g.samples[size_t(y * 5 + x)], seesZero ? 0 : 200) << x << "," << y;
            EXPECT_EQ(h.samples[size_t(y * 5 + x)], seesZero ? 0 : 200) << x << "," << y;
        }
}

TEST(SarnelMeans, GeometricMeanOfLargeWindowDoesNotOverflow) {
    // 255^441 is far beyond a double; the mean must still be 255.
    Plane p = constantPlane(30, 30, 255);
    p.samples[0] = 1;
    sarnel::geometricFilter(p, 21, 21);
    EXPECT_EQ(p.samples[size_t(29 * 30 + 29)], 255);
    // The corner window of 11 x 11 holds one 1: (255^120)^(1/121) = 243.9...
    EXPECT_EQ(p.samples[0], int(std::exp(120.0 * std::log(255.0) / 121.0)));
}

TEST(SarnelSpatial, ConstantPlaneUnchangedByEveryFilter) {
    for (int value : {0, 1, 37, 100, 255}) {
        const Plane src = constantPlane(13, 9, value);
        const std::vector<std::pair<const char*, std::function<void(Plane&)>>> filters = {
            {"normal", [](Plane& p) { sarnel::normalFilter(p, 5, 3); }},
            {"geometric", [](Plane& p) { sarnel::geometricFilter(p, 21, 21); }},
            {"harmonic", [](Plane& p) { sarnel::harmonicFilter(p, 7, 7); }},
            {"contraharmonic 1.5", [](Plane& p) { sarnel::contraharmonicFilter(p, 3, 3, 1.5); }},
            {"contraharmonic -2", [](Plane& p) { sarnel::contraharmonicFilter(p, 9, 5, -2.0); }},
            {"min", [](Plane& p) { sarnel::minFilter(p, 3, 3); }},
            {"median", [](Plane& p) { sarnel::medianFilter(p, 21, 21); }},
            {"max", [](Plane& p) { sarnel::maxFilter(p, 3, 5); }},
            {"midpoint", [](Plane& p) { sarnel::midPointFilter(p, 3, 3); }},
            {"trimmed", [](Plane& p) { sarnel::trimmedMeanFilter(p, 5, 5, 8); }},
            {"adaptive local", [](Plane& p) { sarnel::adaptiveLocalFilter(p, 0, 3, 3, 1000); }},
            {"adaptive median", [](Plane& p) { sarnel::adaptiveMedianFilter(p, 3, 9); }},
        };
        for (const auto& [name, run] : filters) {
            if (value == 0 && std::string(name).rfind("contraharmonic -2", 0) == 0) continue;
            Plane p = src;
            run(p);
            EXPECT_EQ(p.samples, src.samples) << name << " on constant " << value;
        }
    }
}

TEST(SarnelMeans, ConstantWindowsOfAnySizeGiveTheirSample) {
    // Sums over large windows must not drift so far that the mean of a constant
    // window falls below its sample: every value of every channel, windows of 1600
    // samples, and orders whose powers are inexact.
    std::vector<int> values;
    for (int v = -128; v <= 360; ++v) values.push_back(v);
    for (int v : {1000, 4097, 9999, 32767, -32768}) values.push_back(v);
    for (int value : values) {
        const Plane src = constantPlane(40, 40, value);
        auto check = [&](const char* name, Plane p) {
            EXPECT_EQ(p.samples, src.samples) << name << " on constant " << value;
        };
        // Every window is the whole plane: 1600 samples, an even count of negatives
        // (and 32768 saturates).
        Plane p = src;
        sarnel::geometricFilter(p, 200, 200);
        EXPECT_EQ(p.samples, constantPlane(40, 40, std::min(std::abs(value), 32767)).samples)
            << "geometric on constant " << value;
        if (value <= 0) continue; // zeros and fractional powers of negatives store 0
        p = src;
        sarnel::harmonicFilter(p, INT_MAX, INT_MAX);
        check("harmonic", p);
        for (double q : {-2.0, 0.5, 1.5, 3.0}) {
            p = src;
            sarnel::contraharmonicFilter(p, 81, 81, q);
            check("contraharmonic", p);
        }
        p = src;
        sarnel::adaptiveLocalFilter(p, -1, 81, 81, 1e-3);
        check("adaptive local", p);
    }
    // Negative constants: the geometric mean of an even count of negatives is their
    // magnitude, of an odd count 0; integer orders keep the sign.
    Plane p = constantPlane(3, 2, -77);
    sarnel::geometricFilter(p, 3, 1); // windows of 2 and 3 samples
    EXPECT_EQ(p.samples, (std::vector<int16_t>{77, 0, 77, 77, 0, 77}));
    p = constantPlane(40, 40, -77);
    sarnel::contraharmonicFilter(p, 41, 41, 2.0);
    EXPECT_EQ(p.samples, constantPlane(40, 40, -77).samples);
}

TEST(SarnelSpatial, OneByOneApertureLeavesPlaneUnchanged) {
    const Plane src = randomPlane(17, 11, 1, 255, 7);
    const std::vector<std::pair<const char*, std::function<void(Plane&)>>> filters = {
        {"normal", [](Plane& p) { sarnel::normalFilter(p, 1, 1); }},
        {"geometric", [](Plane& p) { sarnel::geometricFilter(p, 1, 1); }},
        {"harmonic", [](Plane& p) { sarnel::harmonicFilter(p, 1, 1); }},
        {"contraharmonic", [](Plane& p) { sarnel::contraharmonicFilter(p, 1, 1, 2.0); }},
        {"min", [](Plane& p) { sarnel::minFilter(p, 1, 1); }},
        {"median", [](Plane& p) { sarnel::medianFilter(p, 2, 2); }}, // even acts as odd below
        {"max", [](Plane& p) { sarnel::maxFilter(p, 1, 1); }},
        {"midpoint", [](Plane& p) { sarnel::midPointFilter(p, 1, 1); }},
        {"trimmed", [](Plane& p) { sarnel::trimmedMeanFilter(p, 1, 1, 5); }},
    };
    for (const auto& [name, run] : filters) {
        Plane p = src;
        run(p);
        EXPECT_EQ(p.samples, src.samples) << name;
    }
}

TEST(SarnelSpatial, CornerMedianUsesTwoByTwoWindowAndLowerMiddle) {
    Plane p = constantPlane(4, 4, 0);
    // Corner window of a 3 x 3 aperture: (0,0) (1,0) (0,1) (1,1).
    p.samples[0] = 40;
    p.samples[1] = 10;
    p.samples[4] = 30;
    p.samples[5] = 20;
    for (size_t i : {2u, 3u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u}) p.samples[i] = 99;
    sarnel::medianFilter(p, 3, 3);
    EXPECT_EQ(p.samples[0], 20); // sorted 10 20 30 40: the second smallest
}

TEST(SarnelSpatial, TrimmedMeanLimitsTruncationToWindowSizeMinusThree) {
    // One 3 x 3 window: 1 2 3 50 60 70 100 200 255 around the centre of a 3 x 3 plane.
    const int values[9] = {200, 1, 60, 3, 70, 255, 50, 2, 100};
    auto centreAfter = [&](int d) {
        Plane p = constantPlane(3, 3, 0);
        for (int i = 0; i < 9; ++i) p.samples[size_t(i)] = int16_t(values[i]);
        sarnel::trimmedMeanFilter(p, 3, 3, d);
        return int(p.samples[4]);
    };
    EXPECT_EQ(centreAfter(6), 60); // drop 3 smallest and 3 largest: (50 + 60 + 70) / 3
    EXPECT_EQ(centreAfter(7), 60); // limited to 6
    EXPECT_EQ(centreAfter(100), 60);
    EXPECT_EQ(centreAfter(1), 741 / 9); // trims nothing
    EXPECT_EQ(centreAfter(2), 485 / 7); // drops 1 and 255
    EXPECT_EQ(centreAfter(3), 485 / 7);
}

TEST(SarnelSpatial, MidPointTruncatesTowardZero) {
    Plane p = constantPlane(2, 1, 0);
    p.samples[0] = -3;
    sarnel::midPointFilter(p, 3, 3);
    EXPECT_EQ(p.samples[0], -1);
    EXPECT_EQ(p.samples[1], -1);
}

TEST(SarnelSpatial, AdaptiveLocalFilterLimits) {
    const Plane src = randomPlane(15, 12, 0, 255, 21);
    Plane p = src;
    sarnel::adaptiveLocalFilter(p, 0, 5, 5, 0.0);
    EXPECT_EQ(p.samples, src.samples) << "zero noise variance keeps every sample";

    // A noise variance at least the largest local variance writes the local mean.
    p = src;
    sarnel::adaptiveLocalFilter(p, 0, 5, 5, 1e9);
    Plane mean = src;
    sarnel::normalFilter(mean, 5, 5);
    const Plane direct = mapWindows(src, 5, 5, [](std::vector<int>& w, int) {
        int64_t sum = 0;
        for (int s : w) sum += s;
        return int(sum / int64_t(w.size()));
    });
    EXPECT_EQ(p.samples, direct.samples);
    EXPECT_EQ(mean.samples, direct.samples);
}

TEST(SarnelSpatial, AdaptiveLocalFilterClampsHsvAndLabChannels) {
    // A negative noise variance pushes results away from the mean, beyond the range.
    Plane p = constantPlane(3, 1, 0);
    p.samples = {0, 100, 0};
    sarnel::adaptiveLocalFilter(p, 4, 3, 1, -1e4);
    for (int16_t s : p.samples) EXPECT_TRUE(s >= 0 && s <= 100) << s;
    p.samples = {0, 100, 0};
    sarnel::adaptiveLocalFilter(p, 0, 3, 1, -1e4); // RGB: not clamped by this filter
    EXPECT_GT(p.samples[1], 100);
}

TEST(SarnelSpatial, AdaptiveMedianReplacesImpulseAndWindowMinimum) {
    // A field of 99..101 with one impulse: the impulse is the window's maximum, so it
    // takes the window's median; the field itself lies strictly inside its windows
    // where they resolve and is kept.
    const Plane field = randomPlane(9, 9, 99, 101, 3);
    Plane p = field;
    p.samples[4 * 9 + 4] = 255;
    sarnel::adaptiveMedianFilter(p, 3, 5);
    std::vector<int> w = window(field, 4, 4, 1, 1);
    w[4] = 255;
    std::sort(w.begin(), w.end());
    EXPECT_EQ(p.samples[4 * 9 + 4], medianOf(w));
    EXPECT_LE(std::abs(p.samples[4 * 9 + 4] - 100), 1);
    for (size_t i = 0; i < p.samples.size(); ++i) EXPECT_LE(std::abs(p.samples[i] - 100), 1) << i;

    // Centre equals the minimum of a resolving window: it takes the median.
    Plane q = constantPlane(3, 3, 0);
    q.samples = {10, 50, 90, 20, 10, 80, 30, 70, 60};
    sarnel::adaptiveMedianFilter(q, 3, 4);
    EXPECT_EQ(q.samples[4], 50); // sorted 10 10 20 30 50 60 70 80 90
}

TEST(SarnelSpatial, AdaptiveMedianTriesOnlySizesBelowMaximum) {
    // The centre sits in a 3 x 3 block of zeros: the 3 x 3 window does not resolve
    // (zmin = zmed = zmax), the 5 x 5 window does, and the centre is its minimum.
    Plane p = randomPlane(7, 7, 20, 220, 5);
    for (int y = 2; y <= 4; ++y)
        for (int x = 2; x <= 4; ++x) p.samples[size_t(y * 7 + x)] = 0;
    Plane smallOnly = p;
    sarnel::adaptiveMedianFilter(smallOnly, 3, 4); // only s = 3
    Plane withFive = p;
    sarnel::adaptiveMedianFilter(withFive, 3, 5); // s = 3, then s = 4 (5 x 5)
    EXPECT_EQ(smallOnly.samples[3 * 7 + 3], 0);
    std::vector<int> w = window(p, 3, 3, 2, 2);
    std::sort(w.begin(), w.end());
    EXPECT_EQ(withFive.samples[3 * 7 + 3], medianOf(w));
    EXPECT_GT(withFive.samples[3 * 7 + 3], 0);
}

TEST(SarnelSpatial, OutOfRangeAperturesAreSafe) {
    const Plane src = randomPlane(12, 8, 0, 255, 33);
    // Apertures below 1 behave as 1.
    for (int a : {0, -1, -7, INT_MIN}) {
        Plane p = src;
        sarnel::medianFilter(p, a, a);
        EXPECT_EQ(p.samples, src.samples) << a;
        p = src;
        sarnel::normalFilter(p, a, 1);
        EXPECT_EQ(p.samples, src.samples) << a;
    }
    // A huge aperture is the whole plane, as any aperture covering it.
    Plane huge = src, cover = src;
    sarnel::medianFilter(huge, INT_MAX, INT_MAX);
    sarnel::medianFilter(cover, 25, 17);
    EXPECT_EQ(huge.samples, cover.samples);
    huge = src;
    cover = src;
    sarnel::normalFilter(huge, INT_MAX, INT_MAX);
    sarnel::normalFilter(cover, 25, 17);
    EXPECT_EQ(huge.samples, cover.samples);
    // The adaptive median's size loop must not run over the whole int range.
    Plane am = src;
    sarnel::adaptiveMedianFilter(am, INT_MIN, INT_MAX);
    EXPECT_EQ(am.samples, refAdaptiveMedian(src, 0, 27).samples);
}

TEST(SarnelSpatial, ResultsDoNotDependOnThreadCount) {
    const Plane src = randomPlane(300, 600, 0, 360, 44);
    auto runAll = [&](int threads) {
        sarnel::setMaxThreads(threads);
        std::vector<Plane> out(4, src);
        sarnel::medianFilter(out[0], 9, 7);
        sarnel::geometricFilter(out[1], 5, 5);
        sarnel::adaptiveMedianFilter(out[2], 3, 9);
        sarnel::contraharmonicFilter(out[3], 7, 3, 1.5);
        sarnel::setMaxThreads(0);
        return out;
    };
    const auto one = runAll(1), four = runAll(4);
    for (size_t i = 0; i < one.size(); ++i) EXPECT_EQ(one[i].samples, four[i].samples) << i;
}

TEST(SarnelMeans, ResultsBeyondSampleRangeSaturate) {
    // Contraharmonic of order 1 on samples whose sum is +-1: sum of squares / +-1 is
    // 63759 in magnitude, beyond a 16-bit sample; it saturates instead of wrapping.
    Plane p = constantPlane(4, 1, 0);
    p.samples = {-127, 127, 126, -125};
    sarnel::contraharmonicFilter(p, 9, 1, 1.0);
    EXPECT_EQ(p.samples, (std::vector<int16_t>{32767, 32767, 32767, 32767}));
    p.samples = {127, -127, -126, 125};
    sarnel::contraharmonicFilter(p, 9, 1, 1.0);
    EXPECT_EQ(p.samples, (std::vector<int16_t>{-32768, -32768, -32768, -32768}));
    // And the wide plane that leaves stays usable by the order statistics.
    sarnel::medianFilter(p, 3, 3);
    EXPECT_EQ(p.samples[0], -32768);
}

// Results a hair below a whole number truncate to the number below: only rounding
// noise of the computation itself may be taken as the whole number. The expected
// values are worked out here in exact integers or in long double.
TEST(SarnelMeans, ResultsJustBelowWholeNumbersTruncate) {
    // Contraharmonic of order 5 on 1s around a 255: every window holds the 255, and
    // (k + 255^6) / (k + 255^5) is 255 - 254 k / (k + 255^5), about 255 - 2e-9.
    Plane p = constantPlane(3, 3, 1);
    p.samples[4] = 255;
    const Plane src = p;
    sarnel::contraharmonicFilter(p, 3, 3, 5.0);
    const Plane expected = mapWindows(src, 3, 3, [](std::vector<int>& w, int) {
        __int128 num = 0, den = 0;
        for (int s : w) {
            __int128 p5 = 1;
            for (int i = 0; i < 5; ++i) p5 *= s;
            num += p5 * s;
            den += p5;
        }
        return int(num / den);
    });
    for (int16_t s : expected.samples) ASSERT_EQ(s, 254);
    EXPECT_EQ(p.samples, expected.samples);

    // Adaptive local filter on [255, 0] with a noise variance of 1e-5: r is about
    // 6e-10, so 255 moves to 254.99999992 and 0 to 0.00000008.
    Plane q = constantPlane(2, 1, 0);
    q.samples = {255, 0};
    const double noise = 1e-5;
    sarnel::adaptiveLocalFilter(q, 0, 3, 3, noise);
    const long double m = (255.0L + 0.0L) / 2, var = ((255 - m) * (255 - m) + m * m) / 2;
    const long double r = noise / var;
    ASSERT_LT(r, 1.0L);
    EXPECT_EQ(q.samples[0], int(255 - r * (255 - m)));
    EXPECT_EQ(q.samples[1], int(0 - r * (0 - m)));
    EXPECT_EQ(q.samples[0], 254);
}

TEST(SarnelMeans, WholeMeansOfMixedWindowsStayWhole) {
    // Means that are whole in exact arithmetic but pass through logarithms,
    // reciprocals or inexact powers: rounding a few ulps low must not cost a unit.
    auto run = [](std::vector<int16_t> samples, auto filter) {
        Plane p = constantPlane(int(samples.size()), 1, 0);
        p.samples = std::move(samples);
        filter(p);
        return p.samples;
    };
    using V = std::vector<int16_t>;
    auto geometric = [](Plane& p) { sarnel::geometricFilter(p, 3, 1); };
    auto harmonic = [](Plane& p) { sarnel::harmonicFilter(p, 3, 1); };
    // Windows {a, b}, {a, b, c}, {b, c}: sqrt(1 * 4) = 2, cbrt(1 * 4 * 16) = 4,
    // sqrt(4 * 16) = 8; sqrt(4 * 9) = 6, cbrt(1296) = 10.9, sqrt(9 * 36) = 18;
    // sqrt(27 * 243) = 81, cbrt(19683) = 27, sqrt(729) = 27.
    EXPECT_EQ(run({1, 4, 16}, geometric), (V{2, 4, 8}));
    EXPECT_EQ(run({4, 9, 36}, geometric), (V{6, 10, 18}));
    EXPECT_EQ(run({27, 243, 3}, geometric), (V{81, 27, 27}));
    // Two negatives: sqrt(16) = 4, cbrt(80) = 4.3; one negative: 0.
    EXPECT_EQ(run({-2, -8, 5}, geometric), (V{4, 4, 0}));
    // 2 / (1/3 + 1/6) = 4; 3 / (1/3 + 1/6 + 1/2) = 3; 2 / (1/6 + 1/2) = 3;
    // 2 / (1/10 + 1/15) = 12, 3 / (1/10 + 1/15 + 1/6) = 9, 2 / (1/15 + 1/6) = 8.57.
    EXPECT_EQ(run({3, 6, 2}, harmonic), (V{4, 3, 3}));
    EXPECT_EQ(run({10, 15, 6}, harmonic), (V{12, 9, 8}));
    // Order 0.5: (9^1.5 + 16^1.5) / (9^0.5 + 16^0.5) = (27 + 64) / (3 + 4) = 13.
    EXPECT_EQ(run({9, 16}, [](Plane& p) { sarnel::contraharmonicFilter(p, 3, 1, 0.5); }),
              (V{13, 13}));
    // Order -0.5: (3 + 4) / (1/3 + 1/4) = 12.
    EXPECT_EQ(run({9, 16}, [](Plane& p) { sarnel::contraharmonicFilter(p, 3, 1, -0.5); }),
              (V{12, 12}));
}
