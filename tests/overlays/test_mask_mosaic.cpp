// Mask blending and the mosaic grid with its margins.

#include "app/image_files.h"
#include "imageops/overlays.h"
#include "test_overlays_common.h"

#include <fstream>

using overlays_test::Gradient;
using overlays_test::MakeImage;
using overlays_test::ScratchDir;
using overlays_test::Solid;

namespace {

MaskParams Params(bool invert, float opacity, ChannelInts color) {
    MaskParams p;
    p.invert = invert;
    p.opacity = opacity;
    p.color = color;
    return p;
}

TEST(Mask, FullOpacityFloorLeavesImage) {
    const BMP_File orig = Gradient(7, 5);
    BMP_File img = orig;
    ApplyMask(img, Solid(3, 3, CColor24(0, 0, 0)), Params(false, 1.0f, {10, 20, 30}));
    EXPECT_TRUE(img.SameAs(orig));
}

TEST(Mask, BlackMaskOrInvertedWhiteMaskShowsMaskColour) {
    const BMP_File want = Solid(7, 5, CColor24(10, 20, 30));
    BMP_File a = Gradient(7, 5);
    ApplyMask(a, Solid(2, 2, CColor24(0, 0, 0)), Params(false, 0.0f, {10, 20, 30}));
    EXPECT_TRUE(a.SameAs(want));
    BMP_File b = Gradient(7, 5);
    ApplyMask(b, Solid(4, 1, CColor24(255, 255, 255)), Params(true, 0.0f, {10, 20, 30}));
    EXPECT_TRUE(b.SameAs(want));
    // A white mask keeps the image.
    BMP_File c = Gradient(7, 5);
    ApplyMask(c, Solid(4, 1, CColor24(255, 255, 255)), Params(false, 0.0f, {10, 20, 30}));
    EXPECT_TRUE(c.SameAs(Gradient(7, 5)));
}

TEST(Mask, GreyBlendsAndInvertAndFloorApply) {
    // Mask (51, 51, 51): 153 / 765 = 0.2 of the image, 0.8 of the mask colour.
    const BMP_File grey = Solid(1, 1, CColor24(51, 51, 51));
    BMP_File img = Solid(2, 2, CColor24(201, 10, 0));
    ApplyMask(img, grey, Params(false, 0.0f, {99, 251, 0}));
    // 40.2 + 79.2, 2 + 200.8, 0.
    EXPECT_EQ(img.Pixel(1, 1), CColor24(119, 202, 0));

    img = Solid(2, 2, CColor24(201, 10, 0));
    ApplyMask(img, grey, Params(true, 0.0f, {99, 251, 0}));
    // Inverted: 0.8 of the image. 160.8 + 19.8, 8 + 50.2.
    EXPECT_EQ(img.Pixel(0, 1), CColor24(180, 58, 0));

    img = Solid(2, 2, CColor24(201, 10, 0));
    ApplyMask(img, Solid(1, 1, CColor24(0, 0, 0)), Params(false, 0.5f, {99, 251, 0}));
    // Black raised to the floor 0.5: 100.5 + 49.5, 5 + 125.5.
    EXPECT_EQ(img.Pixel(0, 0), CColor24(150, 130, 0));
}

TEST(Mask, IsStretchedOverTheImageByNearestNeighbour) {
    // A 2 x 1 mask over a 4 x 2 image: the index map (2 -> 4) is 0 0 0 1.
    const BMP_File mask =
        MakeImage(2, 1, [](int x, int) { return x ? CColor24(255, 255, 255) : CColor24(0, 0, 0); });
    BMP_File img = Solid(4, 2, CColor24(200, 200, 200));
    ApplyMask(img, mask, Params(false, 0.0f, {0, 0, 0}));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(img.Pixel(x, y), CColor24(0, 0, 0)) << x;
        EXPECT_EQ(img.Pixel(3, y), CColor24(200, 200, 200));
    }
    // Shrinking: a 4 x 1 mask on a 2 x 1 image takes columns 0 and 2.
    const BMP_File wide = MakeImage(
        4, 1, [](int x, int) { return x == 2 ? CColor24(0, 0, 0) : CColor24(255, 255, 255); });
    BMP_File small = Solid(2, 1, CColor24(90, 90, 90));
    ApplyMask(small, wide, Params(false, 0.0f, {7, 7, 7}));
    EXPECT_EQ(small.Pixel(0, 0), CColor24(90, 90, 90));
    EXPECT_EQ(small.Pixel(1, 0), CColor24(7, 7, 7));
}

TEST(Mask, OutOfRangeOpacityAndColourDoNotWrapBytes) {
    // An opacity floor of 1.5 would give 1.5 * 200 = 300, stored as 44.
    BMP_File img = Solid(3, 3, CColor24(200, 200, 200));
    ApplyMask(img, Solid(1, 1, CColor24(255, 255, 255)), Params(false, 1.5f, {0, 0, 0}));
    EXPECT_EQ(img.Pixel(1, 1), CColor24(200, 200, 200));
    // A mask colour of 400 counts as 255; -5 as 0.
    img = Solid(3, 3, CColor24(200, 200, 200));
    ApplyMask(img, Solid(1, 1, CColor24(0, 0, 0)), Params(false, 0.0f, {400, -5, 255}));
    EXPECT_EQ(img.Pixel(2, 2), CColor24(255, 0, 255));
    // A negative floor is no floor.
    img = Solid(3, 3, CColor24(200, 200, 200));
    ApplyMask(img, Solid(1, 1, CColor24(0, 0, 0)), Params(false, -2.0f, {9, 9, 9}));
    EXPECT_EQ(img.Pixel(0, 0), CColor24(9, 9, 9));
}

TEST(MaskFile, MissingUnreadableOrEmptyFileLeavesImage) {
    ScratchDir dir;
    std::ofstream(dir.Path("junk.bmp")) << "this is not a picture";
    std::ofstream(dir.Path("empty.png"));
    const BMP_File orig = Gradient(8, 6);
    for (const std::string& name :
         {dir.Path("absent.bmp"), dir.Path("junk.bmp"), dir.Path("empty.png"), dir.Path()}) {
        ProcessingSettings s;
        s.m_bSetMask = 1;
        s.m_sMaskName = name;
        BMP_File img = orig;
        EXPECT_FALSE(ApplyMaskFromSettings(img, s)) << name;
        EXPECT_TRUE(img.SameAs(orig)) << name;
    }
}

TEST(MaskFile, ReadsAbsolutePathAndNoticesChangedFile) {
    ScratchDir dir;
    const std::string path = dir.Path("m.bmp");
    ASSERT_TRUE(Solid(2, 2, CColor24(0, 0, 0)).SaveBMP(path));
    ProcessingSettings s;
    s.m_bSetMask = 1;
    s.m_sMaskName = path;
    s.m_nMaskColorR = 1;
    s.m_nMaskColorG = 2;
    s.m_nMaskColorB = 3;
    BMP_File img = Gradient(5, 4);
    ASSERT_TRUE(ApplyMaskFromSettings(img, s));
    EXPECT_TRUE(img.SameAs(Solid(5, 4, CColor24(1, 2, 3))));

    // The same path with other content (and another size) must not come from
    // a stale copy.
    ASSERT_TRUE(Solid(3, 3, CColor24(255, 255, 255)).SaveBMP(path));
    img = Gradient(5, 4);
    ASSERT_TRUE(ApplyMaskFromSettings(img, s));
    EXPECT_TRUE(img.SameAs(Gradient(5, 4)));

    std::filesystem::remove(path);
    img = Gradient(5, 4);
    EXPECT_FALSE(ApplyMaskFromSettings(img, s));
}

TEST(MaskFile, ReadsOtherFormatsThroughTheImageLoader) {
    ScratchDir dir;
    const std::string path = dir.Path("m.png");
    ASSERT_TRUE(SaveImageFile(path, Solid(3, 2, CColor24(0, 0, 0))));
    BMP_File pic;
    ASSERT_TRUE(LoadOverlayPicture(path, pic));
    EXPECT_EQ(pic.Width(), 3);
    EXPECT_EQ(pic.Height(), 2);
    // A file that neither our BMP reader nor the general loader takes fails.
    std::ofstream(dir.Path("x.bmp")) << "BM not really";
    EXPECT_FALSE(LoadOverlayPicture(dir.Path("x.bmp"), pic));
    EXPECT_EQ(pic.Width(), 3) << "a failed read leaves the picture as it was";
}

// ---------------------------------------------------------------------------

// Expected mosaic: pixel (x, y) takes the original at (sx[x], sy[y]).
BMP_File Sampled(const BMP_File& orig, const std::vector<int>& sx, const std::vector<int>& sy) {
    return MakeImage(int(sx.size()), int(sy.size()),
                     [&](int x, int y) { return orig.Pixel(sx[size_t(x)], sy[size_t(y)]); });
}

TEST(Mosaic, CellsSampleTheirCentresAndMarginsTakeTheNearestCell) {
    // 11 x 7, size 3: three cells across (11 / 3), origin (11 mod 3) / 2 = 1,
    // cells [1,4) [4,7) [7,10) sampled at 2, 5, 8; column 0 joins the first
    // cell, column 10 the last. Two cells down from origin (7 mod 2) / 2 = 0,
    // sampled at rows 1 and 4; row 6 joins the last.
    const BMP_File orig = Gradient(11, 7);
    BMP_File img = orig;
    ApplyMosaic(img, 3);
    EXPECT_TRUE(
        img.SameAs(Sampled(orig, {2, 2, 2, 2, 5, 5, 5, 8, 8, 8, 8}, {1, 1, 1, 4, 4, 4, 4})));
}

TEST(Mosaic, GridOriginUsesRemainderByCellCount) {
    // 35 wide, size 6: five cells; 35 mod 5 = 0, so the grid starts at 0 (not
    // at (35 mod 6) / 2 = 2); the 5-pixel strip at the right joins the cell at
    // 24, sampled at 27.
    const BMP_File orig = Gradient(35, 6);
    BMP_File img = orig;
    ApplyMosaic(img, 6);
    std::vector<int> sx;
    for (int x = 0; x < 35; ++x) sx.push_back(std::min(x / 6, 4) * 6 + 3);
    EXPECT_TRUE(img.SameAs(Sampled(orig, sx, std::vector<int>(6, 3))));
}

TEST(Mosaic, CellThatFitsExactlyAtTheEdgeIsItsOwnCell) {
    // 10 x 5 with size 5: two whole cells across, each sampled at its own
    // centre (2 and 7); one cell down.
    const BMP_File orig = Gradient(10, 5);
    BMP_File img = orig;
    ApplyMosaic(img, 5);
    EXPECT_TRUE(img.SameAs(Sampled(orig, {2, 2, 2, 2, 2, 7, 7, 7, 7, 7}, {2, 2, 2, 2, 2})));
    EXPECT_NE(img.Pixel(0, 0), img.Pixel(9, 4));
}

TEST(Mosaic, SizesWithoutAWholeCellOrBelowTwoChangeNothing) {
    const BMP_File orig = Gradient(9, 6);
    for (int size : {1, 0, -3, 7, 10, 200}) {
        BMP_File img = orig;
        ApplyMosaic(img, size);
        EXPECT_TRUE(img.SameAs(orig)) << size;
    }
}

TEST(Mosaic, EvenSizeUsesHalfAsOffset) {
    // 8 x 8, size 4: cells at 0 and 4, samples at 2 and 6.
    const BMP_File orig = Gradient(8, 8);
    BMP_File img = orig;
    ApplyMosaic(img, 4);
    const std::vector<int> s = {2, 2, 2, 2, 6, 6, 6, 6};
    EXPECT_TRUE(img.SameAs(Sampled(orig, s, s)));
}

} // namespace
