// RGB <-> HLS on the 0..240 scale: known colours, the exact integer rounding
// of the conversion checked against a division-by-division form over every
// colour, and how close a round trip comes back.

#include "imageops/hls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The forward conversion spelled out with plain integer divisions.
HlsColor PlainRgbToHls(int r, int g, int b) {
    const int mx = std::max({r, g, b}), mn = std::min({r, g, b});
    HlsColor c;
    c.l = ((mx + mn) * 240 + 255) / 510;
    if (mx == mn) {
        c.h = 160;
        c.s = 0;
        return c;
    }
    if (c.l <= 120)
        c.s = ((mx - mn) * 240 + (mx + mn) / 2) / (mx + mn);
    else
        c.s = ((mx - mn) * 240 + (510 - mx - mn) / 2) / (510 - mx - mn);
    const int rd = ((mx - r) * 40 + (mx - mn) / 2) / (mx - mn);
    const int gd = ((mx - g) * 40 + (mx - mn) / 2) / (mx - mn);
    const int bd = ((mx - b) * 40 + (mx - mn) / 2) / (mx - mn);
    if (r == mx)
        c.h = bd - gd;
    else if (g == mx)
        c.h = 80 + rd - bd;
    else
        c.h = 160 + gd - rd;
    if (c.h < 0) c.h += 240;
    if (c.h > 240) c.h -= 240;
    return c;
}

HlsColor Hls(int r, int g, int b) {
    return RgbToHls(CColor24(uint8_t(r), uint8_t(g), uint8_t(b)));
}

} // namespace

TEST(Hls, KnownColours) {
    EXPECT_EQ(Hls(255, 0, 0), (HlsColor{0, 120, 240}));
    EXPECT_EQ(Hls(255, 255, 0), (HlsColor{40, 120, 240}));
    EXPECT_EQ(Hls(0, 255, 0), (HlsColor{80, 120, 240}));
    EXPECT_EQ(Hls(0, 255, 255), (HlsColor{120, 120, 240}));
    EXPECT_EQ(Hls(0, 0, 255), (HlsColor{160, 120, 240}));
    EXPECT_EQ(Hls(255, 0, 255), (HlsColor{200, 120, 240}));
    // Greys have no hue; the conversion reports 160 for them.
    EXPECT_EQ(Hls(0, 0, 0), (HlsColor{160, 0, 0}));
    EXPECT_EQ(Hls(255, 255, 255), (HlsColor{160, 240, 0}));
    EXPECT_EQ(Hls(128, 128, 128), (HlsColor{160, 120, 0})); // 61695 / 510 = 120.97
    // Half-bright red: L = (128 * 240 + 255) / 510 = 60, S = (128 * 240 + 64) / 128 = 240.
    EXPECT_EQ(Hls(128, 0, 0), (HlsColor{0, 60, 240}));

    EXPECT_EQ(HlsToRgb(0, 120, 240), CColor24(255, 0, 0));
    EXPECT_EQ(HlsToRgb(80, 120, 240), CColor24(0, 255, 0));
    EXPECT_EQ(HlsToRgb(160, 120, 240), CColor24(0, 0, 255));
    EXPECT_EQ(HlsToRgb(40, 120, 240), CColor24(255, 255, 0));
    EXPECT_EQ(HlsToRgb(77, 240, 0), CColor24(255, 255, 255));
    EXPECT_EQ(HlsToRgb(77, 0, 0), CColor24(0, 0, 0));
    EXPECT_EQ(HlsToRgb(0, 120, 0), CColor24(127, 127, 127)); // 120 * 255 / 240 = 127.5
}

TEST(Hls, HuesAboveTheScaleWrapAround) {
    // Adjust HSB can push a hue up to 360; it comes back as hue - 240.
    for (int l : {30, 120, 200})
        for (int s : {60, 240}) {
            EXPECT_EQ(HlsToRgb(360, uint16_t(l), uint16_t(s)),
                      HlsToRgb(120, uint16_t(l), uint16_t(s)));
            EXPECT_EQ(HlsToRgb(300, uint16_t(l), uint16_t(s)),
                      HlsToRgb(60, uint16_t(l), uint16_t(s)));
        }
}

TEST(Hls, ForwardConversionMatchesPlainDivisionForEveryColour) {
    int mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const HlsColor fast = Hls(r, g, b), plain = PlainRgbToHls(r, g, b);
                if (!(fast == plain) && ++mismatches <= 5)
                    ADD_FAILURE() << r << "," << g << "," << b << ": " << fast.h << "/" << fast.l
                                  << "/" << fast.s << " vs " << plain.h << "/" << plain.l << "/"
                                  << plain.s;
            }
    EXPECT_EQ(mismatches, 0);
}

TEST(Hls, RoundTripComesBackClose) {
    // The 0..240 scale is coarser than 0..255, so a round trip may move a
    // channel by a few steps, never more; primaries and greys come back exactly.
    int worst = 0;
    for (int r = 0; r < 256; r += 3)
        for (int g = 0; g < 256; g += 5)
            for (int b = 0; b < 256; b += 7) {
                const HlsColor c = Hls(r, g, b);
                const CColor24 back = HlsToRgb(uint16_t(c.h), uint16_t(c.l), uint16_t(c.s));
                worst = std::max(
                    {worst, std::abs(back.r - r), std::abs(back.g - g), std::abs(back.b - b)});
            }
    EXPECT_LE(worst, 4);
    for (CColor24 c : {CColor24(255, 0, 0), CColor24(0, 255, 0), CColor24(0, 0, 255),
                       CColor24(255, 255, 0), CColor24(0, 0, 0), CColor24(255, 255, 255)}) {
        const HlsColor h = RgbToHls(c);
        EXPECT_EQ(HlsToRgb(uint16_t(h.h), uint16_t(h.l), uint16_t(h.s)), c);
    }
}
