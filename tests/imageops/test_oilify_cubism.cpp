// Oilify: worked cases and the sliding-window form against a plain per-pixel
// form that rebuilds every histogram. Cubism: tiles, tile counts and seeding.

#include "imageops/effect_table.h"
#include "imageops/oilify_cubism.h"
#include "imageops/overlays.h"
#include "tests/imageops/bgra_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>

using imageops_test::Bgra;
using imageops_test::Fill;

namespace {

// ---------------------------------------------------------------------------
// The plain form: every pixel's window counted from scratch, every bin of
// every histogram visited.

float PlainWeight(int count, int hmax, float e) {
    const float ratio = float(count) / float(hmax);
    if (e - std::floor(e) < 0.001f && e <= 255.0f) {
        int k = int(e);
        float r = 1.0f, b = ratio;
        for (; k > 0; k >>= 1) {
            if (k & 1) r *= b;
            b *= b;
        }
        return r;
    }
    return std::pow(ratio, e);
}

uint8_t PlainByte(float v) {
    if (!(v > 0.0f)) return 0;
    return v >= 255.0f ? 255 : uint8_t(int(v));
}

Bgra PlainOilify(const Bgra& in, const OilifyValues& v) {
    const int W = in.w, H = in.h;
    Bgra out = in;
    auto lum = [&](int x, int y) {
        const uint8_t* p = in.At(x, y);
        return 0.2126 * p[2] + 0.7152 * p[1] + 0.0722 * p[0];
    };
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const float m = std::max(float(lum(x, y)), 1.0f);
            const int n = v.use_mask_size_map
                              ? int(std::trunc(std::floor(0.5 + (m / 255.0f) * v.mask_size * 0.5)))
                              : int(std::trunc(v.mask_size)) / 2;
            const float e =
                v.use_exponent_map ? (m / 255.0f) * float(v.exponent) : float(v.exponent);
            const int x1 = std::clamp(x - n, 0, W - 1), y1 = std::clamp(y - n, 0, H - 1);
            const int x2 = std::clamp(x + n + 1, 0, W - 1), y2 = std::clamp(y + n + 1, 0, H - 1);
            int hist[4][256] = {};
            int64_t sum[4][256] = {};
            int counted = 0;
            for (int yy = y1; yy < y2; ++yy)
                for (int xx = x1; xx < x2; ++xx) {
                    if ((xx - x) * (xx - x) + (yy - y) * (yy - y) > n * n) continue;
                    ++counted;
                    const uint8_t* p = in.At(xx, yy);
                    if (v.mode != 0) {
                        const int i = int(lum(xx, yy));
                        ++hist[0][i];
                        for (int ch = 0; ch < 4; ++ch) sum[ch][i] += p[ch];
                    } else {
                        for (int ch = 0; ch < 4; ++ch) ++hist[ch][p[ch]];
                    }
                }
            uint8_t* o = out.At(x, y);
            if (counted == 0) continue; // nothing to weigh: the pixel stays
            auto hmaxOf = [](const int* h) { return std::max(1, *std::max_element(h, h + 256)); };
            if (v.mode != 0) {
                const int hmax = hmaxOf(hist[0]);
                float div = 0.000001f, color[4] = {0, 0, 0, 0};
                for (int i = 0; i < 256; ++i) {
                    const float w = PlainWeight(hist[0][i], hmax, e);
                    div += w;
                    if (hist[0][i] > 0)
                        for (int ch = 0; ch < 4; ++ch)
                            color[ch] += w / float(hist[0][i]) * float(sum[ch][i]);
                }
                for (int ch = 0; ch < 4; ++ch) o[ch] = PlainByte(color[ch] / div);
            } else {
                for (int ch = 0; ch < 4; ++ch) {
                    const int hmax = hmaxOf(hist[ch]);
                    float div = 0.000001f, acc = 0.0f;
                    for (int i = 0; i < 256; ++i) {
                        const float w = PlainWeight(hist[ch][i], hmax, e);
                        acc += w * float(i);
                        div += w;
                    }
                    o[ch] = PlainByte(acc / div);
                }
            }
        }
    return out;
}

Bgra RunOilify(const Bgra& in, const OilifyValues& v) {
    Bgra out = in;
    Oilify(in.px.data(), out.px.data(), in.w, in.h, v);
    return out;
}

::testing::AssertionResult SameBytes(const Bgra& a, const Bgra& b) {
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x)
            for (int c = 0; c < 4; ++c)
                if (a.At(x, y)[c] != b.At(x, y)[c])
                    return ::testing::AssertionFailure()
                           << "first difference at (" << x << ", " << y << ") byte " << c << ": "
                           << int(a.At(x, y)[c]) << " vs " << int(b.At(x, y)[c]) << " of " << a.w
                           << "x" << a.h;
    return ::testing::AssertionSuccess();
}

OilifyValues Oil(double mask, double exponent, int mode, bool sizeMap = false,
                 bool exponentMap = false) {
    OilifyValues v;
    v.mask_size = mask;
    v.exponent = exponent;
    v.mode = mode;
    v.use_mask_size_map = sizeMap;
    v.use_exponent_map = exponentMap;
    return v;
}

} // namespace

TEST(Oilify, OneColourLosesOneOnEveryNonZeroByte) {
    // The single full bin weighs 1: value / (1 + 0.000001) truncates to value - 1.
    const Bgra in = Fill(9, 7, 37, 0, 200);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        const Bgra out = RunOilify(in, Oil(8, 8, mode));
        for (int y = 0; y < in.h; ++y)
            for (int x = 0; x < in.w; ++x) {
                const uint8_t* p = out.At(x, y);
                ASSERT_EQ(p[0], 36);
                ASSERT_EQ(p[1], 0);
                ASSERT_EQ(p[2], 199);
                ASSERT_EQ(p[3], 254);
            }
    }
}

TEST(Oilify, MaskThreeSeesThePixelAndItsFourNeighbours) {
    // One grey pixel of 200 in black, exponent 1: a window holding it weighs
    // the black bin (4 pixels) 1 and the grey bin (1 pixel) 1/4, so the grey
    // bytes become 0.25 * 200 / 1.250001 = 39.99... -> 39.
    Bgra in = Fill(9, 9, 0, 0, 0);
    std::memset(in.At(4, 4), 200, 3);
    const Bgra out = RunOilify(in, Oil(3, 1, 1));
    for (auto [x, y] : {std::pair{4, 4}, {3, 4}, {5, 4}, {4, 3}, {4, 5}}) {
        SCOPED_TRACE(::testing::Message() << x << "," << y);
        EXPECT_EQ(out.At(x, y)[0], 39);
        EXPECT_EQ(out.At(x, y)[2], 39);
        EXPECT_EQ(out.At(x, y)[3], 254);
    }
    for (auto [x, y] : {std::pair{3, 3}, {5, 5}, {3, 5}, {5, 3}, {4, 6}, {2, 4}}) {
        SCOPED_TRACE(::testing::Message() << x << "," << y);
        EXPECT_EQ(out.At(x, y)[0], 0);
    }
}

TEST(Oilify, TheLastColumnAndRowNeverEnterAWindow) {
    // Column 5 (the last) is grey, the rest black: no window holds a grey
    // pixel, so the whole picture turns black, the last column included.
    Bgra in = Fill(6, 5, 0, 0, 0);
    for (int y = 0; y < in.h; ++y) std::memset(in.At(5, y), 200, 3);
    Bgra out = RunOilify(in, Oil(3, 1, 1));
    for (int y = 0; y + 1 < in.h; ++y) EXPECT_EQ(out.At(5, y)[1], 0) << y;
    // The corner's window (radius 1) would hold only its diagonal neighbour,
    // which the circle leaves out: with nothing to weigh it keeps its colour.
    EXPECT_EQ(out.At(5, 4)[1], 200);
    // The same with the last row.
    in = Fill(5, 6, 0, 0, 0);
    for (int x = 0; x < in.w; ++x) std::memset(in.At(x, 5), 200, 3);
    out = RunOilify(in, Oil(5, 1, 0));
    for (int x = 0; x < in.w; ++x) EXPECT_EQ(out.At(x, 5)[1], 0) << x;
}

TEST(Oilify, IntensityAndPerChannelModesOnATwoColourEdge) {
    // A = red 100, B = green 30: both have intensity 21 (21.26 and 21.456), so
    // intensity mode puts them in one bin and averages their colours, while the
    // per-channel mode weighs each byte value on its own. Mask 3, exponent 2.
    Bgra in = Fill(8, 5, 0, 0, 100);
    for (int y = 0; y < in.h; ++y)
        for (int x = 4; x < 8; ++x) {
            in.At(x, y)[1] = 30;
            in.At(x, y)[2] = 0;
        }
    // Pixel (3, 2) sees A four times and B once, (4, 2) the other way round.
    const Bgra intensity = RunOilify(in, Oil(3, 2, 1));
    // One bin of five: red 400 / 5 = 80, green 30 / 5 = 6, over 1.000001.
    EXPECT_EQ(intensity.At(3, 2)[2], 79);
    EXPECT_EQ(intensity.At(3, 2)[1], 5);
    EXPECT_EQ(intensity.At(3, 2)[0], 0);
    EXPECT_EQ(intensity.At(3, 2)[3], 254);
    EXPECT_EQ(intensity.At(4, 2)[2], 19); // 100 / 5
    EXPECT_EQ(intensity.At(4, 2)[1], 23); // 120 / 5

    const Bgra channel = RunOilify(in, Oil(3, 2, 0));
    // Red at (3, 2): 100 four times (weight 1), 0 once (weight 1/16):
    // 100 / 1.062501 = 94.1; green: 30 * 0.0625 / 1.062501 = 1.76.
    EXPECT_EQ(channel.At(3, 2)[2], 94);
    EXPECT_EQ(channel.At(3, 2)[1], 1);
    EXPECT_EQ(channel.At(3, 2)[0], 0);
    EXPECT_EQ(channel.At(3, 2)[3], 254);
    EXPECT_EQ(channel.At(4, 2)[2], 5);  // 100 * 0.0625 / 1.062501
    EXPECT_EQ(channel.At(4, 2)[1], 28); // 30 / 1.062501
    // Far from the edge both modes give the colour less one.
    EXPECT_EQ(channel.At(0, 2)[2], 99);
    EXPECT_EQ(intensity.At(7, 0)[1], 29);
}

TEST(Oilify, RadiusAndExponentFromTheMaps) {
    // Without the map the radius is trunc(mask) / 2 in whole numbers.
    Bgra big = Fill(40, 40, 128, 128, 128);
    EXPECT_EQ(OilifyParamsAt(big.px.data(), 40, 40, 3, 3, Oil(8, 8, 1)).radius, 4);
    EXPECT_EQ(OilifyParamsAt(big.px.data(), 40, 40, 3, 3, Oil(9.9, 8, 1)).radius, 4);
    EXPECT_EQ(OilifyParamsAt(big.px.data(), 40, 40, 3, 3, Oil(3.7, 8, 1)).radius, 1);
    // With it: floor(0.5 + m / 255 * mask / 2), m at least 1.
    Bgra w = Fill(40, 40, 255, 255, 255), b = Fill(40, 40, 0, 0, 0);
    EXPECT_EQ(OilifyParamsAt(w.px.data(), 40, 40, 0, 0, Oil(8, 8, 1, true)).radius, 4);
    EXPECT_EQ(OilifyParamsAt(big.px.data(), 40, 40, 0, 0, Oil(8, 8, 1, true)).radius, 2);
    EXPECT_EQ(OilifyParamsAt(b.px.data(), 40, 40, 0, 0, Oil(50, 8, 1, true)).radius, 0);
    // On a black pixel the exponent map gives exponent / 255.
    EXPECT_NEAR(OilifyParamsAt(b.px.data(), 40, 40, 0, 0, Oil(8, 8, 1, false, true)).exponent,
                8.0 / 255.0, 1e-7);
    EXPECT_NEAR(OilifyParamsAt(w.px.data(), 40, 40, 0, 0, Oil(8, 8, 1, false, true)).exponent, 8.0,
                1e-5);
}

TEST(Oilify, WeightsByRepeatedSquaringOrPower) {
    EXPECT_FLOAT_EQ(OilifyWeight(2, 4, 3.0f), 0.125f);
    EXPECT_FLOAT_EQ(OilifyWeight(3, 3, 8.0f), 1.0f);
    EXPECT_FLOAT_EQ(OilifyWeight(1, 4, 0.5f), 0.5f);       // the power function
    EXPECT_FLOAT_EQ(OilifyWeight(0, 0, 1.0f), 0.0f);       // an empty histogram weighs 0
    EXPECT_FLOAT_EQ(OilifyWeight(1, 4, 2.0004f), 0.0625f); // within 0.001 of whole
}

TEST(Oilify, PixelsWithoutAWindowKeepTheirColour) {
    // A picture one pixel wide: the window would end before it starts.
    Bgra in = imageops_test::RandomBgra(1, 9, 3);
    EXPECT_TRUE(SameBytes(RunOilify(in, Oil(8, 8, 1)), in));
    in = imageops_test::RandomBgra(7, 1, 4);
    EXPECT_TRUE(SameBytes(RunOilify(in, Oil(8, 8, 0)), in));
    // Hand-edited settings far outside the sliders neither crash nor hang.
    in = imageops_test::RandomBgra(13, 11, 5);
    for (double mask : {-4.0, 0.0, 1e12, std::nan("")}) {
        SCOPED_TRACE(mask);
        const Bgra out = RunOilify(in, Oil(mask, 8, 1));
        // Beyond the picture the window no longer grows.
        const double held = std::isfinite(mask) ? std::clamp(mask, 0.0, 48.0) : 0.0;
        EXPECT_TRUE(SameBytes(out, PlainOilify(in, Oil(held, 8, 1))));
    }
    for (double e : {-3.0, -2.5, 0.0, 1e9}) {
        SCOPED_TRACE(e);
        EXPECT_TRUE(SameBytes(RunOilify(in, Oil(5, e, 0)), PlainOilify(in, Oil(5, e, 0))));
        EXPECT_TRUE(SameBytes(RunOilify(in, Oil(5, e, 1)), PlainOilify(in, Oil(5, e, 1))));
    }
}

// The sliding histograms against rebuilding every window, on random and on
// smooth pictures of odd sizes, for several masks, both maps and both modes.
TEST(Oilify, SlidingFormMatchesThePlainForm) {
    const std::pair<int, int> sizes[] = {{37, 29}, {23, 41}, {2, 3}, {3, 2}, {1, 5}, {61, 7}};
    unsigned seed = 10;
    for (auto [w, h] : sizes)
        for (int kind = 0; kind < 2; ++kind) {
            const Bgra in = kind == 0 ? imageops_test::RandomBgra(w, h, ++seed)
                                      : imageops_test::BlobBgra(w, h, ++seed);
            for (double mask : {3.0, 5.0, 8.0, 13.0, 21.0, 50.0})
                for (int maps = 0; maps < 4; ++maps)
                    for (int mode : {0, 1})
                        for (double e : {8.0, 2.5}) {
                            const OilifyValues v = Oil(mask, e, mode, maps & 1, maps & 2);
                            SCOPED_TRACE(::testing::Message()
                                         << w << "x" << h << " kind " << kind << " mask " << mask
                                         << " maps " << maps << " mode " << mode << " exponent "
                                         << e);
                            ASSERT_TRUE(SameBytes(RunOilify(in, v), PlainOilify(in, v)));
                        }
        }
}

// Windows of more than 8224 pixels (hand-edited mask sizes) keep their sums
// in wider counters than small ones; both agree with the plain form.
TEST(Oilify, WideWindowsMatchThePlainForm) {
    const Bgra in = imageops_test::BlobBgra(101, 97, 31);
    for (int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        const OilifyValues v = Oil(220, 8, mode);
        ASSERT_TRUE(SameBytes(RunOilify(in, v), PlainOilify(in, v)));
    }
}

TEST(Oilify, ThreadsGiveTheSameBytesAsOne) {
    // Large enough for the rows to be shared among threads, odd in both sides.
    const Bgra in = imageops_test::BlobBgra(517, 263, 77);
    for (const OilifyValues& v : {Oil(9, 8, 1), Oil(11, 3, 0, true, true)}) {
        const Bgra threaded = RunOilify(in, v);
        Bgra single;
        imageops_test::OnOneThread([&] { single = RunOilify(in, v); });
        EXPECT_TRUE(SameBytes(threaded, single));
    }
    // And the plain form agrees on a band of it.
    Bgra part{517, 40, std::vector<uint8_t>(in.px.begin(), in.px.begin() + 517 * 40 * 4)};
    EXPECT_TRUE(SameBytes(RunOilify(part, Oil(9, 8, 1)), PlainOilify(part, Oil(9, 8, 1))));
}

// ---------------------------------------------------------------------------
// Cubism

namespace {

Bgra RunCubism(const Bgra& in, float size, float strength, unsigned seed) {
    Bgra out = in;
    std::srand(seed);
    Cubism(in.px.data(), out.px.data(), in.w, in.h, size, strength);
    return out;
}

} // namespace

TEST(Cubism, OneColourGivesTilesOfThatColourOnBlack) {
    const Bgra in = Fill(61, 47, 0, 200, 0);
    const Bgra out = RunCubism(in, 6.0f, 0.6f, 11);
    int black = 0, strong = 0;
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const uint8_t* p = out.At(x, y);
            ASSERT_EQ(p[0], 0);
            ASSERT_EQ(p[2], 0);
            ASSERT_LE(p[1], 200);
            black += p[1] == 0;
            strong += p[1] >= 150;
        }
    // Small tiles leave gaps of the black ground; the tiles themselves are
    // shaded from a fifth of the colour up to nearly all of it.
    EXPECT_GT(black, 0);
    EXPECT_GT(strong, 0);
}

TEST(Cubism, StrengthZeroOrSizeZeroLeavesBlack) {
    const Bgra in = imageops_test::RandomBgra(23, 19, 2);
    for (auto [size, strength] : {std::pair{10.0f, 0.0f}, {0.0f, 2.5f}, {-3.0f, 2.5f}}) {
        const Bgra out = RunCubism(in, size, strength, 5);
        EXPECT_TRUE(std::all_of(out.px.begin(), out.px.end(), [](uint8_t b) { return b == 0; }));
    }
    // A size of 0 has no tiles to count and draws nothing from the generator.
    std::srand(9);
    const int expected = RuntimeRand15();
    RunCubism(in, 0.0f, 2.5f, 9);
    EXPECT_EQ(RuntimeRand15(), expected);
}

TEST(Cubism, TenByTenWithSizeTenUsesFourTiles) {
    // cols = rows = trunc(19 / 10) = 1, so (1 + 1) * (1 + 1) = 4 tiles:
    // 5 * 4 swaps of two draws each, then five draws per tile, 60 in all.
    const Bgra in = imageops_test::RandomBgra(10, 10, 8);
    RunCubism(in, 10.0f, 2.5f, 21);
    const int next = RuntimeRand15();
    std::srand(21);
    for (int i = 0; i < 60; ++i) RuntimeRand15();
    EXPECT_EQ(next, RuntimeRand15());
}

TEST(Cubism, SameGeneratorStateSameTiles) {
    const Bgra in = imageops_test::BlobBgra(45, 33, 6);
    const Bgra a = RunCubism(in, 10.0f, 2.5f, 100);
    const Bgra b = RunCubism(in, 10.0f, 2.5f, 100);
    const Bgra c = RunCubism(in, 10.0f, 2.5f, 101);
    EXPECT_TRUE(SameBytes(a, b));
    EXPECT_FALSE(SameBytes(a, c));
}

TEST(Cubism, OddTilesStayCentred) {
    // Half sizes are real: a tile 3 wide reaches 1.5 to either side.
    const auto c = CubismCorners(10.0, 20.0, 3, 5, 0.0);
    EXPECT_DOUBLE_EQ(c[0][0], 8.5);
    EXPECT_DOUBLE_EQ(c[1][0], 11.5);
    EXPECT_DOUBLE_EQ(c[2][1], 22.5);
    EXPECT_DOUBLE_EQ(c[3][1], 22.5);
    EXPECT_DOUBLE_EQ(c[0][1], 17.5);
    // A quarter turn: (w/2, -h/2) goes to (h/2, w/2).
    const auto r = CubismCorners(0.0, 0.0, 4, 2, std::numbers::pi / 2);
    EXPECT_NEAR(r[1][0], 1.0, 1e-12);
    EXPECT_NEAR(r[1][1], 2.0, 1e-12);
}

TEST(Cubism, TheEffectRowDrawsTiles) {
    const EffectRow* row = FindEffect(25);
    ASSERT_TRUE(row && row->Available());
    BMP_File img;
    img.Create(40, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) img.Pixel(x, y) = CColor24(90, 140, 30);
    ProcessingSettings s;
    std::srand(3);
    ASSERT_TRUE(ApplyEffect(*row, img, s));
    bool changed = false;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x) {
            const CColor24 p = img.Pixel(x, y);
            EXPECT_LE(p.r, 90);
            EXPECT_LE(p.g, 140);
            changed |= !(p == CColor24(90, 140, 30));
        }
    EXPECT_TRUE(changed);
}
