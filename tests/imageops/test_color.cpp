// Colour and tone point operations: hand-worked values, and the table-driven
// and threaded forms against a per-pixel form written from the formulas.

#include "imageops/color.h"
#include "imageops/hls.h"

#include "image_test_util.h"
#include "plain_forms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using imageops_plain::Clamp;
using imageops_plain::PerPixel;
using imageops_plain::PlainBrightness;
using imageops_test::AwkwardSizes;
using imageops_test::RandomImage;
using imageops_test::SameImage;
using imageops_test::ThreadedSize;
using imageops_test::Uniform;
using imageops_test::WithBothKernelForms;

namespace {

BMP_File PlainContrast(const BMP_File& in, int cr, int cg, int cb) {
    auto k = [](int c) { return float(((c / 100.0) - 0.5) * 2.0 + 1.0); };
    const float kk[3] = {k(cr), k(cg), k(cb)};
    auto ch = [](int v, float f) {
        return uint8_t(Clamp(int(std::trunc((v - 128) * double(f))) + 128));
    };
    return PerPixel(
        in, [&](CColor24 p) { return CColor24(ch(p.r, kk[0]), ch(p.g, kk[1]), ch(p.b, kk[2])); });
}

BMP_File PlainHsb(const BMP_File& in, int hue, int sat, int lum) {
    const float h = float(hue / 100.0), s = float(sat / 100.0), l = float(lum / 100.0);
    auto scale = [](int c, float f, int top) {
        if (f < 0.5) return int(std::trunc(c * (f * 2.0)));
        return c + int(std::trunc((top - c) * ((f - 0.5) * 2.0)));
    };
    return PerPixel(in, [&](CColor24 p) {
        const HlsColor c = RgbToHls(p);
        return HlsToRgb(uint16_t(scale(c.h, h, 360)), uint16_t(scale(c.l, l, 240)),
                        uint16_t(scale(c.s, s, 240)));
    });
}

BMP_File PlainFilter(const BMP_File& in, const ColorFilterSettings& f) {
    auto inside = [](int v, int a, int b) { return std::min(a, b) <= v && v <= std::max(a, b); };
    return PerPixel(in, [&](CColor24 p) {
        const bool ir = inside(p.r, f.m_nRMin, f.m_nRMax), ig = inside(p.g, f.m_nGMin, f.m_nGMax),
                   ib = inside(p.b, f.m_nBMin, f.m_nBMax);
        const bool keep = f.ftype == 0 ? (ir && ig && ib) : (!ir && !ig && !ib);
        return keep ? p : CColor24(255, 255, 255);
    });
}

} // namespace

TEST(Brightness, OffsetsFollowTheDoubleEvaluation) {
    EXPECT_EQ(BrightnessOffset(50), 0);
    EXPECT_EQ(BrightnessOffset(0), -150);
    EXPECT_EQ(BrightnessOffset(100), 150);
    // One below 3B - 150 where the product falls just short of a whole number.
    EXPECT_EQ(BrightnessOffset(41), -28);
    EXPECT_EQ(BrightnessOffset(57), 20);
    EXPECT_EQ(BrightnessOffset(69), 56);
    EXPECT_EQ(BrightnessOffset(82), 95);
    EXPECT_EQ(BrightnessOffset(60), 30);
}

TEST(Brightness, NeutralDarkestAndAgainstPlainForm) {
    const BMP_File img = RandomImage(37, 11, 1);
    BMP_File same = img;
    AdjustBrightness(same, 50, 50, 50);
    EXPECT_TRUE(SameImage(same, img));

    BMP_File dark = Uniform(3, 2, CColor24(200, 150, 10));
    AdjustBrightness(dark, 0, 0, 0);
    EXPECT_EQ(dark.Pixel(2, 1), CColor24(50, 0, 0));

    unsigned seed = 10;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, ++seed);
        const int r = int(seed * 7 % 101), g = int(seed * 13 % 101), b = int(seed * 29 % 101);
        BMP_File out = in;
        AdjustBrightness(out, r, g, b);
        EXPECT_TRUE(SameImage(out, PlainBrightness(in, r, g, b))) << r << " " << g << " " << b;
    }
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 99);
    BMP_File out = in;
    AdjustBrightness(out, 41, 82, 69);
    EXPECT_TRUE(SameImage(out, PlainBrightness(in, 41, 82, 69)));
}

TEST(Contrast, EndsAndAgainstPlainForm) {
    EXPECT_EQ(ContrastFactor(0), 0.0f);
    EXPECT_EQ(ContrastFactor(50), 1.0f);
    EXPECT_EQ(ContrastFactor(100), 2.0f);

    BMP_File flat = RandomImage(9, 4, 2);
    AdjustContrast(flat, 0, 0, 0);
    EXPECT_TRUE(SameImage(flat, Uniform(9, 4, CColor24(128, 128, 128))));

    BMP_File steep;
    steep.Create(3, 1);
    steep.Pixel(0, 0) = CColor24(0, 0, 0);
    steep.Pixel(1, 0) = CColor24(255, 255, 255);
    steep.Pixel(2, 0) = CColor24(100, 130, 129);
    AdjustContrast(steep, 100, 100, 100);
    EXPECT_EQ(steep.Pixel(0, 0), CColor24(0, 0, 0));       // -128 before clamping
    EXPECT_EQ(steep.Pixel(1, 0), CColor24(255, 255, 255)); // 382 before clamping
    EXPECT_EQ(steep.Pixel(2, 0), CColor24(72, 132, 130));

    BMP_File same = RandomImage(13, 7, 3);
    const BMP_File orig = same;
    AdjustContrast(same, 50, 50, 50);
    EXPECT_TRUE(SameImage(same, orig));

    WithBothKernelForms([] {
        unsigned seed = 20;
        for (auto [w, h] : AwkwardSizes()) {
            const BMP_File in = RandomImage(w, h, ++seed);
            const int r = int(seed * 11 % 101), g = int(seed * 3 % 101), b = int(seed * 17 % 101);
            BMP_File out = in;
            AdjustContrast(out, r, g, b);
            EXPECT_TRUE(SameImage(out, PlainContrast(in, r, g, b))) << r << " " << g << " " << b;
        }
    });
}

// Every channel value at every byte position of a 16-pixel block, so that
// each value meets each channel in the vector forms and in their scalar tails.
BMP_File EveryValueEverywhere() {
    BMP_File img;
    img.Create(16 * 3 + 5, 256 / 16 * 3);
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            const int v = (y * img.Width() + x) * 7;
            img.Pixel(x, y) = CColor24(uint8_t(v), uint8_t(v + 85), uint8_t(v + 170));
        }
    return img;
}

TEST(Contrast, EverySliderAndValueAgainstPlainForm) {
    // Factors such as 1.3 (slider 65) held in single precision put products a
    // hair below a whole number: only the exact product truncates them right.
    const BMP_File in = EveryValueEverywhere();
    WithBothKernelForms([&] {
        for (int s = 0; s <= 100; ++s) {
            BMP_File out = in;
            AdjustContrast(out, s, 100 - s, (s * 37) % 101);
            ASSERT_TRUE(SameImage(out, PlainContrast(in, s, 100 - s, (s * 37) % 101))) << s;
        }
        BMP_File wild = in;
        AdjustContrast(wild, 65, -3, 240);
        EXPECT_TRUE(SameImage(wild, PlainContrast(in, 65, -3, 240)));
    });
}

TEST(AdjustHsb, NeutralIsTheRoundTripAndTopHueIs360) {
    const BMP_File in = RandomImage(23, 17, 4);
    BMP_File out = in;
    AdjustHSB(out, 50, 50, 50);
    const BMP_File roundTrip = PerPixel(in, [](CColor24 p) {
        const HlsColor c = RgbToHls(p);
        return HlsToRgb(uint16_t(c.h), uint16_t(c.l), uint16_t(c.s));
    });
    EXPECT_TRUE(SameImage(out, roundTrip));

    // Hue 100: every hue becomes 360, which the conversion treats as 120 (cyan).
    BMP_File red = Uniform(2, 2, CColor24(255, 0, 0));
    AdjustHSB(red, 100, 50, 50);
    EXPECT_EQ(red.Pixel(1, 1), CColor24(0, 255, 255));
    // Saturation 0 gives greys; brightness 0 gives black, 100 white.
    BMP_File grey = RandomImage(5, 5, 5);
    AdjustHSB(grey, 50, 0, 50);
    for (int i = 0; i < 25; ++i) {
        const CColor24 p = grey.Data()[i];
        EXPECT_TRUE(p.r == p.g && p.g == p.b);
    }
    BMP_File black = RandomImage(5, 5, 6), white = black;
    AdjustHSB(black, 50, 50, 0);
    AdjustHSB(white, 50, 50, 100);
    EXPECT_TRUE(SameImage(black, Uniform(5, 5, CColor24(0, 0, 0))));
    EXPECT_TRUE(SameImage(white, Uniform(5, 5, CColor24(255, 255, 255))));
}

TEST(AdjustHsb, AgainstPlainForm) {
    unsigned seed = 30;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, ++seed);
        const int hu = int(seed * 7 % 101), sa = int(seed * 19 % 101), lu = int(seed * 5 % 101);
        BMP_File out = in;
        AdjustHSB(out, hu, sa, lu);
        EXPECT_TRUE(SameImage(out, PlainHsb(in, hu, sa, lu))) << hu << " " << sa << " " << lu;
    }
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 98);
    BMP_File out = in;
    AdjustHSB(out, 91, 33, 62);
    EXPECT_TRUE(SameImage(out, PlainHsb(in, 91, 33, 62)));

    // Few distinct colours, so that most pixels repeat an earlier colour.
    BMP_File few = RandomImage(w, h, 97);
    for (size_t i = 0; i < few.PixelBytes(); ++i) few.Bytes()[i] &= 0xE0;
    BMP_File fewOut = few;
    AdjustHSB(fewOut, 12, 88, 47);
    EXPECT_TRUE(SameImage(fewOut, PlainHsb(few, 12, 88, 47)));
}

TEST(AdjustHsb, SlidersFromDamagedFilesAreHeldToTheirRange) {
    const BMP_File in = RandomImage(7, 5, 7);
    BMP_File wild = in, edge = in;
    AdjustHSB(wild, -400, 1000, 150);
    AdjustHSB(edge, 0, 100, 100);
    EXPECT_TRUE(SameImage(wild, edge));
}

TEST(ChannelOps, InvertSwapAndGrey) {
    BMP_File img;
    img.Create(2, 1);
    img.Pixel(0, 0) = CColor24(10, 20, 30);
    img.Pixel(1, 0) = CColor24(255, 255, 254);

    BMP_File a = img;
    InvertChannel(a, Channel::Red);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(245, 20, 30));
    a = img;
    InvertChannel(a, Channel::Green);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(10, 235, 30));
    a = img;
    InvertChannel(a, Channel::Blue);
    EXPECT_EQ(a.Pixel(1, 0), CColor24(255, 255, 1));

    a = img;
    SwapChannels(a, Channel::Red, Channel::Blue);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(30, 20, 10));
    a = img;
    SwapChannels(a, Channel::Red, Channel::Green);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(20, 10, 30));
    a = img;
    SwapChannels(a, Channel::Blue, Channel::Green);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(10, 30, 20));

    a = img;
    GreyScale(a);
    EXPECT_EQ(a.Pixel(0, 0), CColor24(20, 20, 20));
    EXPECT_EQ(a.Pixel(1, 0), CColor24(254, 254, 254)); // 764 / 3 truncated

    const auto [w, h] = ThreadedSize();
    const BMP_File big = RandomImage(w, h, 8);
    // Every channel sum 0..765 (r + 0, r + 255, r + 510), at every position.
    BMP_File sums;
    sums.Create(1024 + 7, 1);
    for (int x = 0; x < sums.Width(); ++x)
        sums.Pixel(x, 0) = CColor24(uint8_t(x / 4), x % 4 >= 2 ? 255 : 0, x % 2 ? 255 : 0);
    auto plainGrey = [](CColor24 p) {
        const uint8_t g = uint8_t((p.r + p.g + p.b) / 3);
        return CColor24(g, g, g);
    };
    WithBothKernelForms([&] {
        for (const BMP_File* in : {&big, static_cast<const BMP_File*>(&sums)}) {
            BMP_File grey = *in;
            GreyScale(grey);
            EXPECT_TRUE(SameImage(grey, PerPixel(*in, plainGrey)));
        }
    });

    BMP_File twice = big;
    InvertChannel(twice, Channel::Green);
    InvertChannel(twice, Channel::Green);
    EXPECT_TRUE(SameImage(twice, big));
}

TEST(ChannelOps, BlockFormsMatchThePlainSwapsAndInverts) {
    auto swapped = [](CColor24 p, Channel a, Channel b) {
        uint8_t c[3] = {p.r, p.g, p.b};
        std::swap(c[int(a)], c[int(b)]);
        return CColor24(c[0], c[1], c[2]);
    };
    const std::pair<Channel, Channel> pairs[] = {{Channel::Red, Channel::Blue},
                                                 {Channel::Green, Channel::Red},
                                                 {Channel::Blue, Channel::Green}};
    std::vector<std::pair<int, int>> sizes = AwkwardSizes();
    sizes.push_back(ThreadedSize());
    WithBothKernelForms([&] {
        unsigned seed = 70;
        for (auto [w, h] : sizes) {
            const BMP_File in = RandomImage(w, h, ++seed);
            for (auto [a, b] : pairs) {
                BMP_File out = in;
                SwapChannels(out, a, b);
                EXPECT_TRUE(
                    SameImage(out, PerPixel(in, [&](CColor24 p) { return swapped(p, a, b); })))
                    << w << "x" << h << " swap " << int(a) << int(b);
            }
            for (Channel c : {Channel::Red, Channel::Green, Channel::Blue}) {
                BMP_File out = in;
                InvertChannel(out, c);
                EXPECT_TRUE(SameImage(out, PerPixel(in,
                                                    [&](CColor24 p) {
                                                        uint8_t v[3] = {p.r, p.g, p.b};
                                                        v[int(c)] = uint8_t(255 - v[int(c)]);
                                                        return CColor24(v[0], v[1], v[2]);
                                                    })))
                    << w << "x" << h << " invert " << int(c);
            }
        }
    });
}

TEST(ColorFilter, IntervalsModesAndPlainForm) {
    const BMP_File in = RandomImage(19, 13, 9);
    ColorFilterSettings f; // 0..255 on every channel
    BMP_File keep = in;
    ColorFilter(keep, f);
    EXPECT_TRUE(SameImage(keep, in));
    f.ftype = 1;
    BMP_File erase = in;
    ColorFilter(erase, f);
    EXPECT_TRUE(SameImage(erase, Uniform(19, 13, CColor24(255, 255, 255))));

    // Bounds in either order mean the same interval.
    ColorFilterSettings a, b;
    a.m_nRMin = 200;
    a.m_nRMax = 100;
    b.m_nRMin = 100;
    b.m_nRMax = 200;
    a.m_nGMin = b.m_nGMin = 30;
    BMP_File fa = in, fb = in;
    ColorFilter(fa, a);
    ColorFilter(fb, b);
    EXPECT_TRUE(SameImage(fa, fb));

    BMP_File px;
    px.Create(3, 1);
    px.Pixel(0, 0) = CColor24(150, 40, 0); // all inside
    px.Pixel(1, 0) = CColor24(150, 20, 0); // green outside
    px.Pixel(2, 0) = CColor24(250, 20, 0); // red and green outside, blue inside
    BMP_File k = px;
    ColorFilter(k, b);
    EXPECT_EQ(k.Pixel(0, 0), CColor24(150, 40, 0));
    EXPECT_EQ(k.Pixel(1, 0), CColor24(255, 255, 255));
    b.ftype = 1;
    b.m_nBMin = 10; // now blue 0 is outside as well
    BMP_File e = px;
    ColorFilter(e, b);
    EXPECT_EQ(e.Pixel(0, 0), CColor24(255, 255, 255));
    EXPECT_EQ(e.Pixel(2, 0), CColor24(250, 20, 0));

    unsigned seed = 40;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File r = RandomImage(w, h, ++seed);
        ColorFilterSettings s;
        s.m_nRMin = int(seed * 37 % 256);
        s.m_nRMax = int(seed * 91 % 256);
        s.m_nGMin = int(seed * 13 % 256);
        s.m_nBMax = int(seed * 53 % 256);
        s.ftype = int(seed % 2);
        BMP_File out = r;
        ColorFilter(out, s);
        EXPECT_TRUE(SameImage(out, PlainFilter(r, s)));
    }
}

TEST(ReplaceColor, OnlyExactMatches) {
    BMP_File img = RandomImage(8, 8, 10);
    img.Pixel(3, 4) = CColor24(1, 2, 3);
    img.Pixel(7, 0) = CColor24(1, 2, 3);
    img.Pixel(0, 0) = CColor24(1, 2, 4);
    BMP_File expected = img;
    expected.Pixel(3, 4) = expected.Pixel(7, 0) = CColor24(9, 9, 9);
    ReplaceColor(img, CColor24(1, 2, 3), CColor24(9, 9, 9));
    EXPECT_TRUE(SameImage(img, expected));

    const BMP_File none = Uniform(4, 4, CColor24(5, 5, 5));
    BMP_File out = none;
    ReplaceColor(out, CColor24(5, 5, 6), CColor24(0, 0, 0));
    EXPECT_TRUE(SameImage(out, none));
}

TEST(AdjustColor, DefaultsChangeNothing) {
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 11);
    BMP_File out = in;
    AdjustColor(out, ColorAdjustment{});
    EXPECT_TRUE(SameImage(out, in));
    ColorAdjustment d65;
    d65.caIlluminantIndex = 6; // the white point of the screen itself
    AdjustColor(out, d65);
    EXPECT_TRUE(SameImage(out, in));
}

TEST(AdjustColor, EachFieldDoesWhatItSays) {
    const BMP_File ramp = [] {
        BMP_File r;
        r.Create(256, 1);
        for (int x = 0; x < 256; ++x) r.Pixel(x, 0) = CColor24(uint8_t(x), uint8_t(x), uint8_t(x));
        return r;
    }();
    auto run = [&](auto edit) {
        ColorAdjustment ca;
        edit(ca);
        BMP_File out = ramp;
        AdjustColor(out, ca);
        return out;
    };

    const BMP_File neg = run([](ColorAdjustment& c) { c.caFlags = 1; });
    for (int x = 0; x < 256; ++x) EXPECT_EQ(neg.Pixel(x, 0).g, 255 - x);

    const BMP_File flat = run([](ColorAdjustment& c) { c.caContrast = -100; });
    EXPECT_TRUE(SameImage(flat, Uniform(256, 1, CColor24(128, 128, 128))));

    // Reference black 0.2 and white 0.8: 51 and below are black, 204 and up white.
    const BMP_File lv = run([](ColorAdjustment& c) {
        c.caReferenceBlack = 2000;
        c.caReferenceWhite = 8000;
    });
    EXPECT_EQ(lv.Pixel(51, 0).r, 0);
    EXPECT_EQ(lv.Pixel(204, 0).r, 255);
    EXPECT_EQ(lv.Pixel(128, 0).r, 128); // (0.502 - 0.2) / 0.6 * 255 = 128.3

    // Gamma above 10000 lifts the middle and keeps the ends.
    const BMP_File gm = run([](ColorAdjustment& c) { c.caRedGamma = 20000; });
    EXPECT_EQ(gm.Pixel(64, 0).r, 128); // sqrt(64 / 255) * 255 = 127.75
    EXPECT_EQ(gm.Pixel(64, 0).g, 64);
    EXPECT_EQ(gm.Pixel(0, 0).r, 0);
    EXPECT_EQ(gm.Pixel(255, 0).r, 255);

    const BMP_File br = run([](ColorAdjustment& c) { c.caBrightness = 100; });
    EXPECT_EQ(br.Pixel(0, 0).r, 128); // + 0.5
    EXPECT_EQ(br.Pixel(200, 0).r, 255);

    const BMP_File lg = run([](ColorAdjustment& c) { c.caFlags = 2; });
    EXPECT_EQ(lg.Pixel(0, 0).r, 0);
    EXPECT_EQ(lg.Pixel(255, 0).r, 255);
    EXPECT_EQ(lg.Pixel(26, 0).r, 72); // log10(1 + 9 * 26 / 255) * 255 = 72.1
    for (int x = 1; x < 256; ++x) EXPECT_LE(lg.Pixel(x - 1, 0).r, lg.Pixel(x, 0).r);

    BMP_File colour = RandomImage(31, 7, 12);
    ColorAdjustment dull;
    dull.caColorfulness = -100;
    AdjustColor(colour, dull);
    for (size_t i = 0; i < colour.PixelCount(); ++i) {
        const CColor24 p = colour.Data()[i];
        EXPECT_TRUE(p.r == p.g && p.g == p.b);
    }

    const BMP_File red = run([](ColorAdjustment& c) { c.caRedGreenTint = 100; });
    EXPECT_EQ(red.Pixel(200, 0), CColor24(250, 150, 200));
    const BMP_File green = run([](ColorAdjustment& c) { c.caRedGreenTint = -100; });
    EXPECT_EQ(green.Pixel(200, 0), CColor24(150, 250, 200));

    // Tungsten light warms a grey: red above green above blue.
    const BMP_File warm = run([](ColorAdjustment& c) { c.caIlluminantIndex = 1; });
    const CColor24 p = warm.Pixel(180, 0);
    EXPECT_EQ(p.r, 180);
    EXPECT_GT(p.r, p.g);
    EXPECT_GT(p.g, p.b);
}

TEST(AdjustColor, FieldsOutsideTheirRangesAreHeldInside) {
    // A gamma of 0 would divide by zero; it acts as the smallest gamma.
    const BMP_File in = RandomImage(17, 5, 13);
    ColorAdjustment zero, least;
    zero.caRedGamma = 0;
    least.caRedGamma = 2500;
    zero.caContrast = 30000;
    least.caContrast = 100;
    BMP_File a = in, b = in;
    AdjustColor(a, zero);
    AdjustColor(b, least);
    EXPECT_TRUE(SameImage(a, b));
}

TEST(ColorFilterRange, ButtonsOnTheBounds) {
    ColorFilterSettings f;
    f.m_nRMin = 5, f.m_nRMax = 250;
    f.m_nGMin = 100, f.m_nGMax = 115; // narrower than 2 x 10
    f.m_nBMin = 40, f.m_nBMax = 60;
    NarrowColorFilter(f, 10);
    EXPECT_EQ(f.m_nRMin, 15);
    EXPECT_EQ(f.m_nRMax, 240);
    EXPECT_EQ(f.m_nGMin, 107); // 100 + 15 / 2
    EXPECT_EQ(f.m_nGMax, 107);
    EXPECT_EQ(f.m_nBMin, 50); // exactly 2 x 10 wide: plain narrowing
    EXPECT_EQ(f.m_nBMax, 50);
    WidenColorFilter(f, 10);
    EXPECT_EQ(f.m_nRMin, 5);
    EXPECT_EQ(f.m_nRMax, 250);
    WidenColorFilter(f, 10);
    EXPECT_EQ(f.m_nRMin, 0); // held inside 0..255
    EXPECT_EQ(f.m_nRMax, 255);

    SetColorFilterToColor(f, CColor24(10, 20, 30));
    EXPECT_EQ(f.m_nRMin, 10);
    EXPECT_EQ(f.m_nRMax, 10);
    EXPECT_EQ(f.m_nBMin, 30);
    EXPECT_EQ(f.m_nBMax, 30);
}

TEST(ColorFilterRange, ReversedBoundsNarrowAndWidenTheSameInterval) {
    // Min 200, Max 100 is the interval 100..200; the buttons act on it as on
    // Min 100, Max 200, keeping the bounds in their fields.
    ColorFilterSettings f;
    f.m_nRMin = 200, f.m_nRMax = 100;
    NarrowColorFilter(f, 10);
    EXPECT_EQ(f.m_nRMin, 190);
    EXPECT_EQ(f.m_nRMax, 110);
    WidenColorFilter(f, 5);
    EXPECT_EQ(f.m_nRMin, 195);
    EXPECT_EQ(f.m_nRMax, 105);
}

TEST(ColorFilterRange, SynchronousMoves) {
    ColorFilterSettings f;
    MoveColorFilterBound(f, 1, false, 30);
    EXPECT_EQ(f.m_nGMin, 30);
    EXPECT_EQ(f.m_nRMin, 0);
    f.m_bSynchro = 1;
    f.m_nBMin = 240;
    MoveColorFilterBound(f, 1, false, 50); // +20
    EXPECT_EQ(f.m_nRMin, 20);
    EXPECT_EQ(f.m_nBMin, 255);             // 260 held at 255
    MoveColorFilterBound(f, 0, true, 200); // -55 on every max
    EXPECT_EQ(f.m_nGMax, 200);
    EXPECT_EQ(f.m_nBMax, 200);
    EXPECT_EQ(f.m_nGMin, 50);
}

TEST(Brightness, SlidersFarOutsideTheirRangeSaturate) {
    const BMP_File in = RandomImage(9, 3, 14);
    BMP_File up = in, down = in, flat = in;
    AdjustBrightness(up, 2147483647, 2147483647, 2147483647);
    AdjustBrightness(down, -2147483647 - 1, -2147483647 - 1, -2147483647 - 1);
    AdjustContrast(flat, -2147483647 - 1, 2147483647, 50);
    EXPECT_TRUE(SameImage(up, Uniform(9, 3, CColor24(255, 255, 255))));
    EXPECT_TRUE(SameImage(down, Uniform(9, 3, CColor24(0, 0, 0))));
    for (size_t i = 0; i < flat.PixelCount(); ++i) {
        const CColor24 p = flat.Data()[i], q = in.Data()[i];
        // A huge negative factor flips every channel to an end; a huge positive one
        // pushes it to the end on its side of 128; 50 keeps the channel.
        EXPECT_EQ(p.r, q.r > 128 ? 0 : q.r < 128 ? 255 : 128);
        EXPECT_EQ(p.g, q.g > 128 ? 255 : q.g < 128 ? 0 : 128);
        EXPECT_EQ(p.b, q.b);
    }
}
