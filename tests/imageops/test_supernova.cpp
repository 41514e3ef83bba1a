// Super Nova: the spokes, the star far from and at its centre, and seeding.

#include "imageops/effect_table.h"
#include "imageops/overlays.h"
#include "imageops/supernova.h"
#include "tests/imageops/bgra_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

using imageops_test::Bgra;
using imageops_test::Fill;

namespace {

Bgra RunNova(const Bgra& in, const SuperNovaValues& v, unsigned seed) {
    Bgra out = in;
    SuperNovaSeeded(in.px.data(), out.px.data(), in.w, in.h, v, seed);
    return out;
}

bool Same(const Bgra& a, const Bgra& b) {
    return a.px == b.px;
}

SuperNovaValues Nova(int xc, int yc, int radius, int spokes, int hue = 0) {
    SuperNovaValues v;
    v.xcenter = xc;
    v.ycenter = yc;
    v.radius = radius;
    v.nspoke = spokes;
    v.randomhue = hue;
    return v;
}

} // namespace

TEST(SuperNova, SpokesDrawSevenValuesEachAndKeepTheColourWithoutHue) {
    std::srand(5);
    const NovaSpokes s = DrawNovaSpokes(Nova(0, 0, 20, 3));
    ASSERT_EQ(s.length.size(), 3u);
    // Six draws for the length and one for the hue per spoke.
    const int next = RuntimeRand15();
    std::srand(5);
    for (int i = 0; i < 21; ++i) RuntimeRand15();
    EXPECT_EQ(next, RuntimeRand15());
    // Without random hue every spoke has the chosen colour (through hue,
    // saturation and value and back).
    for (const auto& c : s.color) {
        EXPECT_NEAR(c[0], 1.0f, 1e-6);
        EXPECT_NEAR(c[1], 0.39f, 1e-6);
        EXPECT_NEAR(c[2], 0.35f, 1e-6);
    }
    for (double l : s.length) {
        EXPECT_GE(l, 0.0);
        EXPECT_LT(l, 1.0);
    }
}

TEST(SuperNova, RandomHueIsAShareOfTheFullTurn) {
    // 180 degrees is half a turn (not 180 / 360 = 0 in whole numbers): the
    // spokes' hues wander, each step at most a quarter turn.
    std::srand(17);
    const NovaSpokes s = DrawNovaSpokes(Nova(0, 0, 20, 200, 180));
    int differ = 0;
    for (size_t i = 0; i < s.color.size(); ++i) {
        const auto& c = s.color[i];
        // Saturation and value stay: the largest component is 1 and the smallest 0.35.
        EXPECT_NEAR(std::max({c[0], c[1], c[2]}), 1.0f, 1e-5);
        EXPECT_NEAR(std::min({c[0], c[1], c[2]}), 0.35f, 1e-5);
        differ += std::fabs(c[1] - 0.39f) > 0.05f || std::fabs(c[2] - 0.35f) > 0.05f;
    }
    EXPECT_GT(differ, 50);
}

TEST(SuperNova, CentrePixelIsWhite) {
    // u = v = 0: w = 0.9 / 0.001 = 900, so each component is spoke * 900
    // clamped to 1, plus the glow: white.
    const Bgra in = imageops_test::RandomBgra(101, 81, 3);
    const Bgra out = RunNova(in, Nova(50, 40, 20, 100), 7);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(out.At(50, 40)[c], 255) << c;
}

TEST(SuperNova, FarFromTheCentreThePixelKeepsItsColourPlusAFaintGlow) {
    // One spoke: every direction has spoke colour C and length L. A pixel at
    // distance l (in radii) with alpha 255 gets
    //   byte / 255 * (1 - w) + C * w + min(L^2 * w, 1),  w = 0.9 / (l + 0.001).
    const Bgra in = Fill(301, 41, 100, 60, 20);
    const SuperNovaValues v = Nova(150, 20, 2, 1);
    const Bgra out = RunNova(in, v, 33);
    std::srand(33);
    const NovaSpokes s = DrawNovaSpokes(v);
    for (int x : {0, 30, 100, 140, 160, 300}) {
        const double l = std::fabs(x - 150) / 2.0;
        const double w = 0.9 / (l + 0.001);
        const double glow = std::min(s.length[0] * s.length[0] * w, 1.0);
        for (int c = 0; c < 3; ++c) {
            const double col = in.At(x, 20)[c] / 255.0 * (1 - w) + s.color[0][size_t(c)] * w + glow;
            const double expected = std::clamp(std::floor(col * 255.0 + 0.5), 0.0, 255.0);
            EXPECT_NEAR(out.At(x, 20)[c], expected, 1.0) << x << " byte " << c;
        }
        EXPECT_EQ(out.At(x, 20)[3], 255);
    }
    // At 75 radii the pixel moves by at most 255 * 2 * 0.012 = 6.
    for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(out.At(0, 20)[c] - in.At(0, 20)[c]), 6);
}

TEST(SuperNova, OneSpokeLooksTheSameInEveryDirection) {
    const Bgra in = Fill(61, 61, 30, 90, 150);
    const Bgra one = RunNova(in, Nova(30, 30, 10, 1), 4);
    const Bgra many = RunNova(in, Nova(30, 30, 10, 100), 4);
    int manyDiffer = 0;
    for (int d = 1; d <= 30; ++d) {
        const uint8_t* e = one.At(30 + d, 30);
        for (const uint8_t* p : {one.At(30 - d, 30), one.At(30, 30 + d), one.At(30, 30 - d)})
            for (int c = 0; c < 4; ++c) ASSERT_EQ(p[c], e[c]) << d;
        manyDiffer += many.At(30 + d, 30)[1] != many.At(30, 30 - d)[1];
    }
    EXPECT_GT(manyDiffer, 0);
}

TEST(SuperNova, SeedDecidesTheStar) {
    const Bgra in = imageops_test::BlobBgra(71, 53, 2);
    const SuperNovaValues v = Nova(20, 30, 15, 64, 90);
    EXPECT_TRUE(Same(RunNova(in, v, 1000), RunNova(in, v, 1000)));
    EXPECT_FALSE(Same(RunNova(in, v, 1000), RunNova(in, v, 1001)));
}

TEST(SuperNova, TwoRunsInTheSameSecondPaintTheSameStar) {
    // The effect reseeds with the time in seconds. Retry when a second
    // boundary falls between the two runs.
    BMP_File img;
    img.Create(90, 70);
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 90; ++x) img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), 40);
    ProcessingSettings s;
    s.m_nvals.xcenter = 40;
    s.m_nvals.ycenter = 30;
    s.m_nvals.randomhue = 120;
    const EffectRow& row = *FindEffect(32);
    ASSERT_TRUE(row.Available());
    bool compared = false;
    for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
        BMP_File a = img, b = img;
        const std::time_t t0 = std::time(nullptr);
        ASSERT_TRUE(ApplyEffect(row, a, s));
        std::rand(); // the generator moved on between the runs
        ASSERT_TRUE(ApplyEffect(row, b, s));
        if (std::time(nullptr) != t0) continue;
        compared = true;
        EXPECT_EQ(std::memcmp(a.Bytes(), b.Bytes(), a.PixelBytes()), 0);
        EXPECT_NE(std::memcmp(a.Bytes(), img.Bytes(), a.PixelBytes()), 0);
    }
    EXPECT_TRUE(compared);
}

TEST(SuperNova, HandEditedSettingsStayUsable) {
    const Bgra in = imageops_test::RandomBgra(17, 13, 1);
    for (const SuperNovaValues& v : {Nova(5, 5, 0, 0), Nova(-100, 1 << 30, -4, -7, 100000)}) {
        const Bgra out = RunNova(in, v, 3);
        EXPECT_EQ(out.px.size(), in.px.size());
    }
}

TEST(SuperNova, ChosenColourWritesBothSettings) {
    // The default packed colour 0xFF6359 is red 89, green 99, blue 255; its
    // components drive bytes 0, 1, 2 (blue, green, red): 1, 0.39, 0.35.
    ProcessingSettings s;
    s.m_nvals.color = NovaColor{0, 0, 0, 1};
    SetNovaColor(s, 89, 99, 255);
    EXPECT_EQ(s.m_NovaColor, 16737113);
    EXPECT_NEAR(s.m_nvals.color.r, 1.0f, 1e-6);
    EXPECT_NEAR(s.m_nvals.color.g, 0.39f, 0.005);
    EXPECT_NEAR(s.m_nvals.color.b, 0.35f, 0.005);
    EXPECT_EQ(s.m_nvals.color.a, 1.0f);
    SetNovaColor(s, 255, 0, 10);
    EXPECT_EQ(s.m_NovaColor, 0x0A00FF);
    EXPECT_NEAR(s.m_nvals.color.b, 1.0f, 1e-6);
    EXPECT_NEAR(s.m_nvals.color.r, 10 / 255.0f, 1e-6);
}
