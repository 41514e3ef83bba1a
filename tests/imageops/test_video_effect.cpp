// Video: the nine patterns laid plain and rotated, additive doubling, tiny
// pictures, and the red-blue byte swaps around the effect in the table row.

#include "imageops/effect_table.h"
#include "imageops/video_effect.h"
#include "tests/imageops/bgra_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace bgra_test;

namespace {

struct PatternRows {
    const char* name;
    std::vector<std::string> rows; // top to bottom, one digit per cell
};

// The patterns as listed for the "Pattern" radio buttons, in order.
const PatternRows kTable[] = {
    {"Staggered", {"01", "02", "12", "10", "20", "21"}},
    {"Large Staggered",
     {"0011", "0011", "0022", "0022", "1122", "1122", "1100", "1100", "2200", "2200", "2211",
      "2211"}},
    {"Striped", {"0", "1", "2"}},
    {"Wide-Striped", {"0", "0", "1", "1", "2", "2"}},
    {"Long-staggered", {"01", "01", "02", "02", "12", "12", "10", "10", "20", "20", "21", "21"}},
    {"3 x 3", {"012", "201", "120"}},
    {"Large 3 x 3", {"001122", "001122", "220011", "220011", "112200", "112200"}},
    {"Dots",
     {"220000", "222002", "222222", "222112", "221111", "111111", "001111", "000110", "000000",
      "000220", "002222", "222222", "112222", "111221", "111111", "111001", "110000", "000000"}},
    {"Hex",
     {"01200", "11120", "01222", "00120", "01112", "20122", "00012", "20111", "22012", "20001",
      "12011", "22201", "12000", "11201", "12220"}},
};

int Cell(const PatternRows& p, bool rotated, int x, int y) {
    const int h = int(p.rows.size()), w = int(p.rows[0].size());
    const int row = rotated ? x % h : y % h, col = rotated ? y % w : x % w;
    return p.rows[size_t(row)][size_t(col)] - '0';
}

// Through the effect table's row: blue-green-red-alpha buffers.
Picture VideoRow(const Picture& in, int pattern, int additive, int rotated) {
    const EffectRow* row = FindEffect(31);
    EXPECT_TRUE(row && row->Available());
    ProcessingSettings s;
    s.m_vvals.pattern_number = pattern;
    s.m_vvals.additive = additive;
    s.m_vvals.rotated = rotated;
    return RunEffect(
        in, [&](const uint8_t* a, uint8_t* b, int w, int h) { row->bgra(a, b, w, h, s); }, true);
}

// Keeps component v (0 red, 1 green, 2 blue) of a blue-green-red-alpha pixel.
Bgra Keep(Bgra p, int v) {
    return {v == 2 ? p.b : uint8_t(0), v == 1 ? p.g : uint8_t(0), v == 0 ? p.r : uint8_t(0), p.a};
}

} // namespace

TEST(Video, StripedOnWhiteGivesRowsOfRedGreenBlue) {
    const Picture white(7, 9, Grey(255));
    const Bgra red{0, 0, 255, 255}, green{0, 255, 0, 255}, blue{255, 0, 0, 255};
    const Bgra cycle[3] = {red, green, blue};
    const Picture plain = VideoRow(white, 2, 0, 0);
    const Picture rotated = VideoRow(white, 2, 0, 1);
    for (int y = 0; y < white.h; ++y)
        for (int x = 0; x < white.w; ++x) {
            EXPECT_EQ(plain.Get(x, y), cycle[y % 3]) << x << "," << y;
            EXPECT_EQ(rotated.Get(x, y), cycle[x % 3]) << x << "," << y;
        }
}

TEST(Video, EveryPatternPlainAndRotated) {
    // Distinct components and an alpha that must be copied as it is.
    Picture in(23, 41);
    for (int y = 0; y < in.h; ++y)
        for (int x = 0; x < in.w; ++x)
            in.Set(x, y, {uint8_t(30 + x), uint8_t(90 + y), uint8_t(200 + x % 50), uint8_t(x * y)});
    for (int pattern = 0; pattern < kVideoPatternCount; ++pattern)
        for (int rotated : {0, 1}) {
            const PatternRows& p = kTable[pattern];
            SCOPED_TRACE(testing::Message() << p.name << (rotated ? " rotated" : ""));
            const Picture out = VideoRow(in, pattern, 0, rotated);
            for (int y = 0; y < in.h; ++y)
                for (int x = 0; x < in.w; ++x) {
                    const int v = Cell(p, rotated, x, y);
                    ASSERT_EQ(out.Get(x, y), Keep(in.Get(x, y), v)) << x << "," << y;
                    ASSERT_EQ(VideoPatternCell(pattern, rotated, x, y), v);
                }
        }
}

// Additive: the kept component is doubled (saturating), the others stay.
TEST(Video, AdditiveDoublesTheKeptComponent) {
    const Picture grey(6, 6, Grey(100));
    const Picture out = VideoRow(grey, 5, 1, 0); // "3 x 3"
    const Bgra redCell{100, 100, 200, 255}, greenCell{100, 200, 100, 255},
        blueCell{200, 100, 100, 255};
    const Bgra byCell[3] = {redCell, greenCell, blueCell};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) EXPECT_EQ(out.Get(x, y), byCell[Cell(kTable[5], false, x, y)]);
    EXPECT_EQ(out.Get(0, 0), redCell);  // cell 0
    EXPECT_EQ(out.Get(2, 0), blueCell); // cell 2

    const Picture bright(3, 3, {200, 200, 200, 255});
    const Picture sat = VideoRow(bright, 2, 1, 1); // "Striped" rotated: columns
    EXPECT_EQ(sat.Get(0, 1), (Bgra{200, 200, 255, 255}));
    EXPECT_EQ(sat.Get(1, 2), (Bgra{200, 255, 200, 255}));
    EXPECT_EQ(sat.Get(2, 0), (Bgra{255, 200, 200, 255}));
}

// A 1 x 1 picture keeps only the component of the pattern's top-left cell
// (blue for "Dots", red for all the others), rotated or not.
TEST(Video, OnePixelKeepsTheTopLeftCellsComponent) {
    const Picture one(1, 1, {11, 22, 33, 44});
    for (int pattern = 0; pattern < kVideoPatternCount; ++pattern)
        for (int rotated : {0, 1}) {
            const Bgra expected = pattern == 7 ? Bgra{11, 0, 0, 44} : Bgra{0, 0, 33, 44};
            EXPECT_EQ(VideoRow(one, pattern, 0, rotated).Get(0, 0), expected) << pattern;
        }
    EXPECT_EQ(VideoRow(one, 7, 1, 0).Get(0, 0), (Bgra{22, 22, 33, 44}));
}

// Pattern numbers from a hand-edited file outside 0..8 use the first pattern.
TEST(Video, UnknownPatternNumbersUseTheFirst) {
    const Picture in = RandomPicture(9, 13, 3);
    for (int pattern : {-1, 9, 1000})
        EXPECT_TRUE(Same(VideoRow(in, pattern, 1, 1), VideoRow(in, 0, 1, 1))) << pattern;
}

// On red-green-blue-alpha buffers byte 0 is component 0; the table row swaps
// red and blue around the call, so the two agree on the swapped picture.
TEST(Video, RgbaFormAndThreads) {
    const Picture in = RandomPicture(kThreadedW, kThreadedH, 9);
    Picture swapped = in;
    for (size_t i = 0; i < swapped.px.size(); i += 4) std::swap(swapped.px[i], swapped.px[i + 2]);
    Picture rgbaOut = RunEffect(swapped, [](const uint8_t* a, uint8_t* b, int w, int h) {
        ApplyVideoRgba(a, b, w, h, 8, true, true);
    });
    for (size_t i = 0; i < rgbaOut.px.size(); i += 4) std::swap(rgbaOut.px[i], rgbaOut.px[i + 2]);
    const Picture split = VideoRow(in, 8, 1, 1);
    EXPECT_TRUE(Same(split, rgbaOut));
    Picture single;
    {
        OneThread one;
        single = VideoRow(in, 8, 1, 1);
    }
    EXPECT_TRUE(Same(split, single));
}

// Through the pipeline's effect step on a 24-bit picture: component 0 of the
// pattern is red there as well.
TEST(Video, PipelineEffectStepKeepsRedGreenBlueRows) {
    BMP_File img;
    img.Create(4, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x) img.Pixel(x, y) = CColor24(200, 150, 100);
    ProcessingSettings s;
    s.m_vvals.pattern_number = 2; // "Striped"
    ASSERT_TRUE(ApplyEffect(*FindEffect(31), img, s));
    const CColor24 rows[3] = {CColor24(200, 0, 0), CColor24(0, 150, 0), CColor24(0, 0, 100)};
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(img.Pixel(x, y), rows[y % 3]) << x << "," << y;
}
