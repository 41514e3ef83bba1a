// Advanced Emboss and Red Eye Removal: worked pixels, the picture's outermost
// rows and columns, tiny pictures and the split over threads.

#include "imageops/effect_table.h"
#include "imageops/emboss_redeye.h"
#include "tests/imageops/bgra_buffer.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>

using namespace bgra_test;

namespace {

Picture Emboss(const Picture& in, const EmbossParams& p, bool garbage = true) {
    return RunEffect(
        in, [&](const uint8_t* s, uint8_t* d, int w, int h) { ApplyAdvancedEmboss(s, d, w, h, p); },
        garbage);
}

EmbossParams EmbossWith(float azimuth, float elevation, float depth, int emboss) {
    EmbossParams p;
    p.azimuth = azimuth;
    p.elevation = elevation;
    p.depth = depth;
    p.emboss = emboss;
    return p;
}

// The shading written out pixel by pixel from its description, with the
// outermost lines taking the window of their inner neighbour (the missing line
// replaced by that neighbour) and lines of pictures under 3 pixels seeing
// themselves three times.
Picture PlainEmboss(const Picture& in, const EmbossParams& p) {
    auto lines = [](int i, int n) -> std::array<int, 3> {
        if (n < 3) return {i, i, i};
        if (i == 0) return {1, 1, 2};
        if (i == n - 1) return {n - 3, n - 2, n - 2};
        return {i - 1, i, i + 1};
    };
    const double az = p.azimuth * 0.0174532925, el = p.elevation * 0.0174532925;
    const double lx = std::cos(az) * std::cos(el) * 255.9;
    const double ly = std::sin(az) * std::cos(el) * 255.9;
    const double lz = std::sin(el) * 255.9;
    const int nz = 1530 / std::max(int(p.depth), 1);
    Picture out(in.w, in.h);
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x) {
            const auto r = lines(y, in.h), c = lines(x, in.w);
            double m[3][3];
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    const Bgra q = in.Get(c[size_t(j)], r[size_t(i)]);
                    m[i][j] = q.b * double(q.a) / 255.0 + q.g * double(q.a) / 255.0 +
                              q.r * double(q.a) / 255.0;
                }
            const int nx =
                int(std::trunc(m[0][0] + m[1][0] + m[2][0] - m[0][2] - m[1][2] - m[2][2]));
            const int ny =
                int(std::trunc(m[2][0] + m[2][1] + m[2][2] - m[0][0] - m[0][1] - m[0][2]));
            int shade;
            if (nx == 0 && ny == 0) {
                shade = int(std::trunc(lz));
            } else {
                const double d = nx * lx + ny * ly + nz * lz;
                shade = int(std::trunc(d)) < 0
                            ? 0
                            : int(std::trunc(std::trunc(d) / std::sqrt(double(nx * nx + ny * ny) +
                                                                       double(nz * nz))));
            }
            const Bgra centre = in.Get(c[1], r[1]);
            Bgra o;
            if (p.emboss == 1) {
                o = {uint8_t(shade), uint8_t(shade), uint8_t(shade), centre.a};
            } else {
                o = {uint8_t((centre.b * shade) >> 8), uint8_t((centre.g * shade) >> 8),
                     uint8_t((centre.r * shade) >> 8), centre.a};
            }
            out.Set(x, y, o);
        }
    return out;
}

} // namespace

// A flat picture has no slope: every pixel, the outermost ones included, gets
// the background shade trunc(Lz) = trunc(sin(elevation) x 255.9).
TEST(AdvancedEmboss, FlatPictureGivesTheBackgroundShade) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 2}, {3, 3}, {1, 5}, {17, 9}}) {
        const Picture flat(w, h, {30, 140, 220, 255});
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        EXPECT_TRUE(Same(Emboss(flat, EmbossWith(0, 90, 1, 1)), Picture(w, h, Grey(255))));
        EXPECT_TRUE(Same(Emboss(flat, EmbossWith(45, 30, 7, 1)), Picture(w, h, Grey(127))));
        EXPECT_TRUE(Same(Emboss(flat, EmbossWith(200, 0, 100, 1)), Picture(w, h, Grey(0))));
        // BumpMap at elevation 90 darkens by 255/256: (b * 255) >> 8.
        EXPECT_TRUE(
            Same(Emboss(flat, EmbossWith(0, 90, 1, 0)), Picture(w, h, {29, 139, 219, 255})));
    }
}

// A vertical step from grey 100 (columns 0..2) to 0 (columns 3..5), lit from
// azimuth 0 at elevation 0: the two pixels whose window spans the step have
// Nx = 9 x 100 = 900 and Ny = 0, so d = 900 x 255.9 = 230310 and the shade is
// trunc(230310 / sqrt(900^2 + Nz^2)): 129 at depth 1 (Nz = 1530, nearly flat)
// and 255 at depth 100 (Nz = 15). Flat windows get trunc(Lz) = 0, as do slopes
// facing away from the light.
TEST(AdvancedEmboss, DepthOneAndHundredOnAStep) {
    Picture step(6, 5, Grey(100));
    for (int y = 0; y < step.h; ++y)
        for (int x = 3; x < 6; ++x) step.Set(x, y, Grey(0));
    for (auto [depth, shade] : {std::pair{1.0f, 129}, {100.0f, 255}, {100.9f, 255}}) {
        const Picture out = Emboss(step, EmbossWith(0, 0, depth, 1));
        for (int y = 0; y < step.h; ++y)
            for (int x = 0; x < step.w; ++x)
                EXPECT_EQ(out.Get(x, y), Grey(uint8_t(x == 2 || x == 3 ? shade : 0)))
                    << depth << " " << x << "," << y;
    }
    // From the other side the slope faces away: all 0, and BumpMap keeps the
    // colours of the lit pixels scaled by shade / 256.
    EXPECT_TRUE(Same(Emboss(step, EmbossWith(180, 0, 100, 1)), Picture(6, 5, Grey(0))));
    const Picture bump = Emboss(step, EmbossWith(0, 0, 1, 0));
    EXPECT_EQ(bump.Get(2, 2), Grey(uint8_t(100 * 129 >> 8)));
    EXPECT_EQ(bump.Get(3, 2), Grey(0)); // the centre is black
}

// The first and last pixel of each row are shaded (not left unwritten or
// copied): from the window of their inner neighbour with the missing column
// replaced by that neighbour, taking its colour. The same holds for the first
// and last row, and the whole picture agrees with the pixel-by-pixel form.
TEST(AdvancedEmboss, OutermostPixelsAgreeWithThePlainForm) {
    int seed = 0;
    for (auto [w, h] :
         {std::pair{1, 1}, {2, 1}, {1, 3}, {2, 2}, {3, 3}, {4, 2}, {5, 7}, {31, 23}}) {
        const Picture in = RandomPicture(w, h, unsigned(++seed));
        for (int emboss : {0, 1})
            for (auto [az, el, depth] : {std::tuple{0.0f, 0.0f, 1.0f},
                                         {135.0f, 45.0f, 20.0f},
                                         {300.5f, 80.0f, 100.0f},
                                         {90.0f, 180.0f, 3.7f}}) {
                const EmbossParams p = EmbossWith(az, el, depth, emboss);
                EXPECT_TRUE(Same(Emboss(in, p), PlainEmboss(in, p)))
                    << w << "x" << h << " " << emboss << " " << az << " " << el;
            }
    }
    // Alpha weighs the colour into the slope and is taken from the centre.
    Picture translucent = RandomPicture(9, 6, 40);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x) translucent.At(x, y)[3] = uint8_t(x * 30 + y);
    const EmbossParams p = EmbossWith(60, 35, 4, 0);
    EXPECT_TRUE(Same(Emboss(translucent, p), PlainEmboss(translucent, p)));
}

// Hand-edited values: depths below 1 (or not numbers) act as 1, huge depths as
// a flat normal, and a light from below the picture plane leaves flat areas
// black instead of wrapping a negative shade into the low 8 bits.
TEST(AdvancedEmboss, OutOfRangeSettingsStayDefined) {
    const Picture in = RandomPicture(12, 8, 3);
    EXPECT_TRUE(Same(Emboss(in, EmbossWith(10, 20, 0, 1)), Emboss(in, EmbossWith(10, 20, 1, 1))));
    EXPECT_TRUE(Same(Emboss(in, EmbossWith(10, 20, -50, 0)), Emboss(in, EmbossWith(10, 20, 1, 0))));
    EXPECT_TRUE(Same(Emboss(in, EmbossWith(10, 20, NAN, 0)), Emboss(in, EmbossWith(10, 20, 1, 0))));
    EXPECT_TRUE(
        Same(Emboss(in, EmbossWith(10, 20, 1e30f, 1)), Emboss(in, EmbossWith(10, 20, 2000, 1))));
    const Picture flat(5, 5, Grey(90));
    EXPECT_TRUE(Same(Emboss(flat, EmbossWith(0, 270, 1, 1)), Picture(5, 5, Grey(0))));
    EXPECT_TRUE(Same(Emboss(flat, EmbossWith(0, 270, 1, 0)), Picture(5, 5, Grey(0))));
    EXPECT_TRUE(Same(Emboss(flat, EmbossWith(NAN, INFINITY, 1, 1)), Picture(5, 5, Grey(0))));
}

TEST(AdvancedEmboss, ThreadsGiveTheOneThreadResult) {
    const Picture in = RandomPicture(kThreadedW, kThreadedH, 5);
    const EmbossParams p = EmbossWith(123, 34, 12, 0);
    const Picture split = Emboss(in, p);
    Picture single;
    {
        OneThread one;
        single = Emboss(in, p);
    }
    EXPECT_TRUE(Same(split, single));
    EXPECT_TRUE(Same(split, PlainEmboss(in, p)));
}

TEST(AdvancedEmboss, EffectTableRowReadsTheSettings) {
    const EffectRow* row = FindEffect(27);
    ASSERT_TRUE(row && row->Available());
    ProcessingSettings s;
    s.m_fAzimuthEmboss = 75.5f;
    s.m_fElevationEmboss = 22.0f;
    s.m_fDepthEmboss = 9.9f; // used as 9
    s.m_bRadioEmboss = 1;
    const Picture in = RandomPicture(14, 9, 8);
    const Picture viaRow = RunEffect(
        in, [&](const uint8_t* a, uint8_t* b, int w, int h) { row->bgra(a, b, w, h, s); });
    EXPECT_TRUE(Same(viaRow, PlainEmboss(in, EmbossWith(75.5f, 22.0f, 9.0f, 1))));
}

// ---------------------------------------------------------------------------
// Red Eye Removal

namespace {

Picture RedEye(const Picture& in, int threshold) {
    return RunEffect(
        in,
        [&](const uint8_t* s, uint8_t* d, int w, int h) {
            ApplyRedEyeRemoval(s, d, w, h, threshold);
        },
        true);
}

Bgra Rgb(uint8_t r, uint8_t g, uint8_t b, uint8_t a = 255) {
    return {b, g, r, a};
}

Bgra RedEyeOf(Bgra p, int threshold) {
    Picture one(1, 1, p);
    return RedEye(one, threshold).Get(0, 0);
}

} // namespace

// ar = trunc(red x 0.5133333), ab = trunc(blue x 0.1933333), at = 100 - 2t; a
// pixel with ar >= green + at and ar >= ab + at gets red trunc((ab + green) /
// 1.0266666).
TEST(RedEyeRemoval, WorkedPixelsAtThresholdsZeroFiftyHundred) {
    // Threshold 50 (at = 0): 255 -> ar 130, blue 40 -> ab 7: trunc(67 / 1.0266666).
    EXPECT_EQ(RedEyeOf(Rgb(255, 60, 40), 50), Rgb(65, 60, 40));
    EXPECT_EQ(RedEyeOf(Rgb(100, 60, 40), 50), Rgb(100, 60, 40)); // ar 51 < 60
    // Threshold 0 (at = 100): only strongly dominant red.
    EXPECT_EQ(RedEyeOf(Rgb(255, 60, 40), 0), Rgb(255, 60, 40)); // 130 < 160
    EXPECT_EQ(RedEyeOf(Rgb(255, 20, 0), 0), Rgb(19, 20, 0));    // 130 >= 120 and >= 100
    EXPECT_EQ(RedEyeOf(Rgb(255, 31, 0), 0), Rgb(255, 31, 0));   // 130 < 131
    // Threshold 100 (at = -100): almost every pixel, even raising red.
    EXPECT_EQ(RedEyeOf(Rgb(0, 60, 40), 100), Rgb(65, 60, 40));
    EXPECT_EQ(RedEyeOf(Rgb(255, 60, 40), 100), Rgb(65, 60, 40));
    EXPECT_EQ(RedEyeOf(Rgb(100, 60, 40), 100), Rgb(65, 60, 40)); // 51 >= -40
    EXPECT_EQ(RedEyeOf(Rgb(100, 60, 40), 0), Rgb(100, 60, 40));
    EXPECT_EQ(RedEyeOf(Rgb(200, 200, 200, 77), 100), Rgb(231, 200, 200, 77)); // 38 + 200
    EXPECT_EQ(RedEyeOf(Rgb(10, 255, 255), 100), Rgb(10, 255, 255));           // 5 < 155
    // A hand-edited threshold may push the new red past 255: it is clamped,
    // and thresholds at the ends of the int range do not overflow.
    EXPECT_EQ(RedEyeOf(Rgb(0, 255, 255), 200), Rgb(255, 255, 255)); // 304 / 1.0266666
    EXPECT_EQ(RedEyeOf(Rgb(0, 255, 255), INT_MAX), Rgb(255, 255, 255));
    EXPECT_EQ(RedEyeOf(Rgb(255, 0, 0), INT_MIN), Rgb(255, 0, 0));
}

TEST(RedEyeRemoval, ThresholdsChangeFewToAlmostAllPixels) {
    const Picture in = RandomPicture(64, 64, 2);
    auto changed = [&](int t) {
        const Picture out = RedEye(in, t);
        int n = 0;
        for (int y = 0; y < in.h; ++y)
            for (int x = 0; x < in.w; ++x) {
                const Bgra a = in.Get(x, y), b = out.Get(x, y);
                EXPECT_EQ(a.b, b.b);
                EXPECT_EQ(a.g, b.g);
                EXPECT_EQ(a.a, b.a);
                n += a.r != b.r;
            }
        return n;
    };
    const int few = changed(0), half = changed(50), most = changed(100);
    EXPECT_LT(few, half);
    EXPECT_LT(half, most);
    EXPECT_LT(few, 64 * 64 / 50);
    EXPECT_GT(most, 64 * 64 / 2);
}

TEST(RedEyeRemoval, ThreadsAndTableRow) {
    const Picture in = RandomPicture(kThreadedW, kThreadedH, 6);
    const Picture split = RedEye(in, 73);
    Picture single;
    {
        OneThread one;
        single = RedEye(in, 73);
    }
    EXPECT_TRUE(Same(split, single));
    for (int y = 0; y < in.h; y += 37)
        for (int x = 0; x < in.w; x += 11) EXPECT_EQ(split.Get(x, y), RedEyeOf(in.Get(x, y), 73));

    const EffectRow* row = FindEffect(22);
    ASSERT_TRUE(row && row->Available());
    ProcessingSettings s;
    s.m_nRedEyeThreshold = 73;
    const Picture viaRow = RunEffect(
        in, [&](const uint8_t* a, uint8_t* b, int w, int h) { row->bgra(a, b, w, h, s); });
    EXPECT_TRUE(Same(viaRow, split));
}
