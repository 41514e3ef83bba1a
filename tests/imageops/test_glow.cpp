// The recursive Gaussian and the three effects built on it: Soft Glow, Neon
// and Cartoon.

#include "imageops/cpu_features.h"
#include "imageops/effect_table.h"
#include "imageops/glow.h"
#include "tests/imageops/bgra_util.h"
#include "tests/imageops/image_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

using imageops_test::Bgra;
using imageops_test::Fill;

namespace {

::testing::AssertionResult SameBytes(const Bgra& a, const Bgra& b) {
    for (size_t i = 0; i < a.px.size(); ++i)
        if (a.px[i] != b.px[i])
            return ::testing::AssertionFailure() << "first difference at byte " << i << ": "
                                                 << int(a.px[i]) << " vs " << int(b.px[i]);
    return ::testing::AssertionSuccess();
}

Bgra RunSoftGlow(const Bgra& in, double r, double b, double s) {
    Bgra out = in;
    SoftGlow(in.px.data(), out.px.data(), in.w, in.h, r, b, s);
    return out;
}
Bgra RunNeon(const Bgra& in, double r, double q) {
    Bgra out = in;
    Neon(in.px.data(), out.px.data(), in.w, in.h, r, q);
    return out;
}
Bgra RunCartoon(const Bgra& in) {
    Bgra out = in;
    Cartoon(in.px.data(), out.px.data(), in.w, in.h);
    return out;
}

// One impulse through the filter: `lanes` identical lines.
std::vector<float> Impulse(const glow::IirCoefficients& c, int n, int at, float height) {
    const int lanes = 3;
    std::vector<float> in(size_t(n) * lanes), out(in.size()), vp(in.size()), vm(in.size());
    for (int l = 0; l < lanes; ++l) in[size_t(at) * lanes + size_t(l)] = height;
    glow::FilterLines(in.data(), out.data(), vp.data(), vm.data(), n, lanes, c);
    std::vector<float> line(static_cast<size_t>(n));
    for (int t = 0; t < n; ++t) {
        line[size_t(t)] = out[size_t(t) * lanes + 1];
        EXPECT_EQ(out[size_t(t) * lanes], line[size_t(t)]);
    }
    return line;
}

// The plain forms of the blurs: one line at a time through FilterLines, the
// result clamped to 0..255 and truncated.
uint8_t PlainByte(float v) {
    if (!(v > 0.0f)) return 0;
    return v >= 255.0f ? 255 : uint8_t(int(v));
}
// Filters the n samples line[0], line[step], ... and returns the bytes.
std::vector<uint8_t> PlainLine(const uint8_t* line, size_t step, int n,
                               const glow::IirCoefficients& c) {
    std::vector<float> in(static_cast<size_t>(n)), out(in.size()), vp(in.size()), vm(in.size());
    for (int t = 0; t < n; ++t) in[size_t(t)] = line[size_t(t) * step];
    glow::FilterLines(in.data(), out.data(), vp.data(), vm.data(), n, 1, c);
    std::vector<uint8_t> bytes(in.size());
    for (int t = 0; t < n; ++t) bytes[size_t(t)] = PlainByte(out[size_t(t)]);
    return bytes;
}
void PlainBlurPlane(std::vector<uint8_t>& plane, int w, int h, const glow::IirCoefficients& c) {
    for (int x = 0; x < w; ++x) {
        const std::vector<uint8_t> col = PlainLine(plane.data() + x, size_t(w), h, c);
        for (int y = 0; y < h; ++y) plane[size_t(y) * size_t(w) + size_t(x)] = col[size_t(y)];
    }
    for (int y = 0; y < h; ++y) {
        const std::vector<uint8_t> row = PlainLine(plane.data() + size_t(y) * size_t(w), 1, w, c);
        std::copy(row.begin(), row.end(), plane.begin() + std::ptrdiff_t(y) * w);
    }
}
// Neon: every byte's column and row responses, combined as the length of the
// pair times the gain, rounded.
Bgra PlainNeon(const Bgra& in, double radius, double amount) {
    const glow::IirCoefficients c =
        glow::SecondDerivativeCoefficients(glow::SigmaForRadius(radius));
    Bgra out = in;
    const size_t stride = size_t(in.w) * 4;
    for (int x = 0; x < in.w; ++x)
        for (int b = 0; b < 4; ++b) {
            const std::vector<uint8_t> v = PlainLine(in.px.data() + 4 * x + b, stride, in.h, c);
            for (int y = 0; y < in.h; ++y)
                out.px[size_t(y) * stride + size_t(4 * x + b)] = v[size_t(y)];
        }
    for (int y = 0; y < in.h; ++y)
        for (int b = 0; b < 4; ++b) {
            const std::vector<uint8_t> hr =
                PlainLine(in.px.data() + size_t(y) * stride + size_t(b), 4, in.w, c);
            for (int x = 0; x < in.w; ++x) {
                uint8_t& o = out.px[size_t(y) * stride + size_t(4 * x + b)];
                const double m = std::sqrt(double(o) * o + double(hr[size_t(x)]) * hr[size_t(x)]) *
                                     (1.0 + 9.0 * amount) +
                                 0.5;
                o = m >= 255.0 ? 255 : uint8_t(int(m));
            }
        }
    return out;
}
// Cartoon's planes: the colour bytes' column responses give a lightness per
// pixel, whose rows are then blurred.
void PlainCartoonPlane(const Bgra& in, double radius, std::vector<uint8_t>& plane) {
    const glow::IirCoefficients c = glow::GaussianCoefficients(glow::SigmaForRadius(radius));
    const size_t stride = size_t(in.w) * 4;
    plane.assign(size_t(in.w) * size_t(in.h), 0);
    for (int x = 0; x < in.w; ++x) {
        std::vector<uint8_t> col[3];
        for (int b = 0; b < 3; ++b) col[b] = PlainLine(in.px.data() + 4 * x + b, stride, in.h, c);
        for (int y = 0; y < in.h; ++y) {
            const int mx = std::max({col[0][size_t(y)], col[1][size_t(y)], col[2][size_t(y)]});
            const int mn = std::min({col[0][size_t(y)], col[1][size_t(y)], col[2][size_t(y)]});
            plane[size_t(y) * size_t(in.w) + size_t(x)] = uint8_t(int((mx + mn) / 2.0 + 0.5));
        }
    }
    for (int y = 0; y < in.h; ++y) {
        const std::vector<uint8_t> row =
            PlainLine(plane.data() + size_t(y) * size_t(in.w), 1, in.w, c);
        std::copy(row.begin(), row.end(), plane.begin() + std::ptrdiff_t(y) * in.w);
    }
}

} // namespace

TEST(RecursiveGaussian, SigmaForRadiusOne) {
    // 2 / sqrt(2 ln 255)
    EXPECT_NEAR(glow::SigmaForRadius(1.0), 0.60077, 1e-5);
    EXPECT_NEAR(glow::SigmaForRadius(10.0), 3.30425, 1e-5);
}

TEST(RecursiveGaussian, ImpulseGivesTheGaussian) {
    for (double sigma : {2.0, 5.0, 12.0}) {
        SCOPED_TRACE(sigma);
        const int n = 401, at = 200;
        const std::vector<float> r = Impulse(glow::GaussianCoefficients(sigma), n, at, 1000.0f);
        const double peak = 1000.0 / (std::sqrt(2 * std::numbers::pi) * sigma);
        double sum = 0.0;
        for (int t = 0; t < n; ++t) {
            const double d = t - at;
            const double g = peak * std::exp(-d * d / (2 * sigma * sigma));
            EXPECT_NEAR(r[size_t(t)], g, 0.01 * peak) << t;
            sum += r[size_t(t)];
        }
        EXPECT_NEAR(sum, 1000.0, 2.0);
    }
}

TEST(RecursiveGaussian, NeonFilterIsOddAndIgnoresAConstant) {
    // With the anti-causal numerator of opposite sign the two halves cancel:
    // the response is odd about the impulse, apart from np0 = -0.0022 at the
    // centre, and a constant line gives (almost) nothing.
    const double sigma = glow::SigmaForRadius(5.0);
    const glow::IirCoefficients c = glow::SecondDerivativeCoefficients(sigma);
    EXPECT_NEAR(c.np[0], -0.0022, 1e-12);
    const std::vector<float> r = Impulse(c, 301, 150, 1000.0f);
    float largest = 0.0f;
    for (float v : r) largest = std::max(largest, std::fabs(v));
    EXPECT_GT(largest, 50.0f);
    EXPECT_NEAR(r[150], -2.2f, 0.01f);
    for (int d = 1; d < 60; ++d)
        EXPECT_NEAR(r[size_t(150 + d)], -r[size_t(150 - d)], 1e-3 * largest) << d;
    std::vector<float> in(200, 180.0f), out(200), vp(200), vm(200);
    glow::FilterLines(in.data(), out.data(), vp.data(), vm.data(), 200, 1, c);
    for (float v : out) EXPECT_LT(std::fabs(v), 1.0f);
}

TEST(SoftGlow, GlowLayerCurve) {
    // Mid-grey lightness 128 gives about 128 * brightness at any sharpness:
    // 255 / (1 + e^(-2 * 0.00196)) = 127.75 and 255 / (1 + e^(-22 * 0.00196)) = 130.25.
    const uint8_t grey[4] = {128, 128, 128, 255};
    uint8_t g = 0;
    glow::GlowLayer(grey, &g, 1, 1.0, 0.0);
    EXPECT_EQ(g, 127);
    glow::GlowLayer(grey, &g, 1, 0.5, 0.0);
    EXPECT_EQ(g, 63);
    glow::GlowLayer(grey, &g, 1, 1.0, 1.0);
    EXPECT_EQ(g, 130);
    glow::GlowLayer(grey, &g, 1, 0.5, 1.0);
    EXPECT_EQ(g, 65);
    // Lightness is (max + min) / 2 rounded: (255 + 0) / 2 = 127.5 -> 128.
    const uint8_t red[4] = {0, 0, 255, 255};
    glow::GlowLayer(red, &g, 1, 1.0, 0.0);
    EXPECT_EQ(g, 127);
    const uint8_t black[4] = {0, 0, 0, 255}, white[4] = {255, 255, 255, 255};
    glow::GlowLayer(black, &g, 1, 1.0, 1.0);
    EXPECT_EQ(g, 0); // 255 / (1 + e^11) = 0.004
    glow::GlowLayer(white, &g, 1, 1.0, 1.0);
    EXPECT_EQ(g, 254); // 255 / (1 + e^-11) = 254.996
}

TEST(SoftGlow, BrightnessZeroLeavesThePicture) {
    const Bgra in = imageops_test::RandomBgra(31, 17, 1);
    EXPECT_TRUE(SameBytes(RunSoftGlow(in, 10, 0.0, 0.85), in));
}

TEST(SoftGlow, WhiteStaysWhiteAndGlowOnlyBrightens) {
    const Bgra white = Fill(19, 23, 255, 255, 255);
    EXPECT_TRUE(SameBytes(RunSoftGlow(white, 10, 1.0, 1.0), white));
    const Bgra in = imageops_test::BlobBgra(45, 37, 3);
    const Bgra out = RunSoftGlow(in, 5, 0.75, 0.85);
    bool brighter = false;
    for (size_t i = 0; i < in.px.size(); ++i) {
        ASSERT_GE(out.px[i], in.px[i]) << i;
        brighter |= out.px[i] > in.px[i];
    }
    EXPECT_TRUE(brighter);
}

TEST(Neon, RadiusBelowOneLeavesThePicture) {
    const Bgra in = imageops_test::BlobBgra(33, 21, 2);
    // The setting is a hundredth of a pixel: 99 is 0.99.
    EXPECT_TRUE(SameBytes(RunNeon(in, 0.99, 0.0), in));
    EXPECT_FALSE(SameBytes(RunNeon(in, 1.0, 0.0), in));
}

TEST(Neon, OneColourTurnsBlack) {
    const Bgra in = Fill(29, 31, 40, 180, 230);
    for (double q : {0.0, 1.0}) {
        const Bgra out = RunNeon(in, 5.0, q);
        for (int y = 0; y < in.h; ++y)
            for (int x = 0; x < in.w; ++x)
                for (int c = 0; c < 3; ++c) ASSERT_EQ(out.At(x, y)[c], 0) << x << "," << y;
    }
}

TEST(Neon, AmountOneMultipliesTheResponseByTen) {
    const Bgra in = imageops_test::BlobBgra(41, 27, 4);
    const Bgra plain = RunNeon(in, 3.0, 0.0), strong = RunNeon(in, 3.0, 1.0);
    int lit = 0;
    for (size_t i = 0; i < in.px.size(); ++i) {
        // round(10 m) against 10 round(m): within the rounding of the latter.
        const int expected = std::min(255, 10 * plain.px[i]);
        ASSERT_NEAR(strong.px[i], expected, 5) << i;
        lit += plain.px[i] > 0;
    }
    EXPECT_GT(lit, 0);
}

TEST(Cartoon, GreyStaysGrey) {
    Bgra in = Fill(37, 29, 0, 0, 0);
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const uint8_t v = uint8_t(((x / 6 + y / 5) % 2) ? 210 : 30 + x * 3);
            std::memset(in.At(x, y), v, 3);
        }
    const Bgra out = RunCartoon(in);
    std::vector<uint8_t> d1, d2;
    glow::CartoonPlanes(in.px.data(), in.w, in.h, d1, d2);
    const double ramp = glow::CartoonRamp(d1.data(), d2.data(), d1.size());
    const std::vector<uint8_t> l = glow::CartoonLightness(d1.data(), d2.data(), d1.size(), ramp);
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const uint8_t* p = out.At(x, y);
            ASSERT_EQ(p[0], p[1]);
            ASSERT_EQ(p[1], p[2]);
            // A grey pixel has no saturation: it becomes grey of lightness L.
            ASSERT_EQ(p[0], l[size_t(y) * size_t(in.w) + size_t(x)]);
            ASSERT_EQ(p[3], 255);
        }
}

TEST(Cartoon, PixelsNotDarkerThanTheirSurroundingsKeepLightnessD1) {
    const Bgra in = imageops_test::BlobBgra(53, 41, 9);
    const Bgra out = RunCartoon(in);
    std::vector<uint8_t> d1, d2;
    glow::CartoonPlanes(in.px.data(), in.w, in.h, d1, d2);
    int checked = 0, darkened = 0;
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const size_t i = size_t(y) * size_t(in.w) + size_t(x);
            const uint8_t* p = out.At(x, y);
            const int mx = std::max({p[0], p[1], p[2]}), mn = std::min({p[0], p[1], p[2]});
            const double light = (mx + mn) / 2.0;
            if (d2[i] != 0 && d1[i] >= d2[i]) {
                // Rounding of the colour bytes moves the lightness by at most 1.
                ASSERT_NEAR(light, d1[i], 1.0) << x << "," << y;
                ++checked;
            } else if (d2[i] != 0) {
                ASSERT_LE(light, d1[i] + 1.0);
                darkened += light + 1.0 < d1[i];
            }
        }
    EXPECT_GT(checked, 100);
    EXPECT_GT(darkened, 0);
}

TEST(Cartoon, RampTurnsTheDarkestFifthBlack) {
    // Ten pixels darker than their surroundings, d = 0.05, 0.15, ..., 0.95
    // (bins 5, 15, ...); the running share passes 0.2 at the third (bin 25):
    // ramp = 1 - 25 / 100. Two more pixels are not darker and do not count.
    std::vector<uint8_t> d1, d2;
    for (int k = 0; k < 10; ++k) {
        d1.push_back(uint8_t(10 + 20 * k));
        d2.push_back(200);
    }
    d1.push_back(90);
    d2.push_back(90);
    d1.push_back(33);
    d2.push_back(0);
    const double ramp = glow::CartoonRamp(d1.data(), d2.data(), d1.size());
    EXPECT_DOUBLE_EQ(ramp, 0.75);
    const std::vector<uint8_t> l = glow::CartoonLightness(d1.data(), d2.data(), d1.size(), ramp);
    // 1 - d >= ramp turns black: d = 0.05, 0.15, 0.25.
    EXPECT_EQ(l[0], 0);
    EXPECT_EQ(l[2], 0);
    // d = 0.35: (0.75 - 0.65) / 0.75 * 70 = 9.33; d = 0.95: 0.7 / 0.75 * 190 = 177.33.
    EXPECT_EQ(l[3], 9);
    EXPECT_EQ(l[9], 177);
    EXPECT_EQ(l[10], 90); // d = 1: factor 1, lightness D1
    EXPECT_EQ(l[11], 33); // D2 = 0 keeps the factor of the pixel before (1)
    // No pixel darker than its surroundings: ramp 1.
    const uint8_t same[2] = {50, 60};
    EXPECT_DOUBLE_EQ(glow::CartoonRamp(same, same, 2), 1.0);
    // Before the first pixel with a ratio the factor is the ramp itself.
    const uint8_t a1[2] = {100, 40}, a2[2] = {0, 0};
    const std::vector<uint8_t> first = glow::CartoonLightness(a1, a2, 2, 0.75);
    EXPECT_EQ(first[0], 75);
    EXPECT_EQ(first[1], 30);
}

TEST(Cartoon, HslRoundTrip) {
    // Pure red on the 0..255 scales: hue 0, saturation 255, lightness 128.
    const glow::Hsl255 red = glow::ToHsl255(255, 0, 0);
    EXPECT_EQ(red.h, 0);
    EXPECT_EQ(red.s, 255);
    EXPECT_EQ(red.l, 128);
    const glow::Hsl255 grey = glow::ToHsl255(77, 77, 77);
    EXPECT_EQ(grey.s, 0);
    EXPECT_EQ(grey.l, 77);
    std::mt19937 rng(5);
    for (int i = 0; i < 2000; ++i) {
        const int c[3] = {int(rng() % 256), int(rng() % 256), int(rng() % 256)};
        uint8_t back[3];
        glow::FromHsl255(glow::ToHsl255(c[0], c[1], c[2]), back);
        for (int k = 0; k < 3; ++k)
            ASSERT_NEAR(back[k], c[k], 3) << c[0] << "," << c[1] << "," << c[2];
    }
}

TEST(GlowEffects, ThreadsGiveTheSameBytesAsOne) {
    const Bgra in = imageops_test::BlobBgra(523, 269, 12);
    auto both = [&](auto run) {
        const Bgra threaded = run();
        Bgra single;
        imageops_test::OnOneThread([&] { single = run(); });
        EXPECT_TRUE(SameBytes(threaded, single));
    };
    both([&] { return RunSoftGlow(in, 10, 0.75, 0.85); });
    both([&] { return RunNeon(in, 5, 0.3); });
    both([&] { return RunCartoon(in); });
}

TEST(GlowEffects, TableRowsPassTheirSettings) {
    BMP_File img;
    img.Create(30, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x * 8), 90, uint8_t(y * 12));
    const BMP_File original = img;
    ProcessingSettings s;
    s.m_nBrightnessSoftGlow = 0;
    ASSERT_TRUE(ApplyEffect(*FindEffect(28), img, s));
    EXPECT_TRUE(std::memcmp(img.Bytes(), original.Bytes(), original.PixelBytes()) == 0);
    s.m_nRadiusNeon = 99;
    ASSERT_TRUE(ApplyEffect(*FindEffect(30), img, s));
    EXPECT_TRUE(std::memcmp(img.Bytes(), original.Bytes(), original.PixelBytes()) == 0);
    s.m_nRadiusNeon = 100;
    ASSERT_TRUE(ApplyEffect(*FindEffect(30), img, s));
    EXPECT_FALSE(std::memcmp(img.Bytes(), original.Bytes(), original.PixelBytes()) == 0);
    img = original;
    ASSERT_TRUE(ApplyEffect(*FindEffect(23), img, s));
    EXPECT_FALSE(std::memcmp(img.Bytes(), original.Bytes(), original.PixelBytes()) == 0);
}

TEST(GlowEffects, StripsMatchThePlainLineByLineForm) {
    // The strip loops of every vector target this processor runs, and their
    // plain form, against one line at a time through FilterLines: sizes
    // around the strip width of 64 lines (whole strips, one line more, odd
    // remainders, rows moved in blocks of 16 with and without a rest), lines
    // shorter than, as long as and just past the four edge taps, and a
    // picture large enough to be shared among threads. Smooth
    // blobs and noise (noise puts sums near every byte boundary, where a
    // changed rounding shows), both blur radii, Neon's second derivative
    // (negative responses clamp to 0) and Cartoon's planes; each runs the
    // recursion both ways along columns and rows.
    const int sizes[][2] = {{1, 1},   {2, 3},    {5, 1},    {1, 6},    {4, 4},    {5, 5},
                            {33, 7},  {7, 33},   {64, 9},   {9, 64},   {65, 17},  {129, 3},
                            {3, 131}, {97, 130}, {191, 67}, {150, 50}, {47, 125}, {523, 269}};
    imageops_test::WithBothKernelForms([&] {
        for (const auto& wh : sizes) {
            const int w = wh[0], h = wh[1];
            for (bool noise : {false, true}) {
                SCOPED_TRACE(::testing::Message()
                             << w << "x" << h << (noise ? " noise" : " blobs"));
                const unsigned seed = unsigned(w * 7 + h);
                const Bgra in = noise ? imageops_test::RandomBgra(w, h, seed)
                                      : imageops_test::BlobBgra(w, h, seed);
                std::vector<uint8_t> plane(size_t(w) * size_t(h));
                for (size_t i = 0; i < plane.size(); ++i) plane[i] = in.px[4 * i + 2];
                for (double r : {1.0, 10.0}) {
                    const glow::IirCoefficients c =
                        glow::GaussianCoefficients(glow::SigmaForRadius(r));
                    std::vector<uint8_t> fast = plane, plain = plane;
                    glow::BlurPlane(fast.data(), w, h, c);
                    PlainBlurPlane(plain, w, h, c);
                    ASSERT_EQ(fast, plain) << r;
                }
                for (double q : {0.0, 0.4})
                    ASSERT_TRUE(SameBytes(RunNeon(in, 4.0, q), PlainNeon(in, 4.0, q)));
                std::vector<uint8_t> d1, d2, p1, p2;
                glow::CartoonPlanes(in.px.data(), w, h, d1, d2);
                PlainCartoonPlane(in, 1.0, p1);
                PlainCartoonPlane(in, 7.0, p2);
                ASSERT_EQ(d1, p1);
                ASSERT_EQ(d2, p2);
            }
        }
    });
}
