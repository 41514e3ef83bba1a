// The overlay steps inside the pipeline (order, scaling of light rectangles,
// skipped steps) and the lookup of mask and border pictures.

#include "imageops/data_paths.h"
#include "imageops/overlays.h"
#include "pipeline/pipeline.h"
#include "test_overlays_common.h"

#include <cstdlib>
#include <fstream>

using overlays_test::Gradient;
using overlays_test::ScratchDir;
using overlays_test::Solid;

namespace {

ImageSet Loaded(const BMP_File& img) {
    ImageSet set;
    set.Install(img);
    return set;
}

int Brightest(const BMP_File& img, int* atX, int* atY) {
    int best = -1;
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x)
            if (img.Pixel(x, y).r > best) {
                best = img.Pixel(x, y).r;
                *atX = x;
                *atY = y;
            }
    return best;
}

TEST(OverlayChain, LightRectangleFollowsTheViewToFinalAndPreviewSize) {
    ProcessingSettings s;
    s.m_bLight[1] = 1;
    // The left half of a 100 x 50 view: centre (25, 25) in view pixels.
    s.m_rcLight[1] = IntRect{0, 0, 50, 50};
    s.m_LightColor[1] = ChannelInts{255, 255, 255};
    const ViewSize view{100, 50};

    ImageSet set = Loaded(Solid(200, 100, CColor24(0, 0, 0)));
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, view));
    int x = -1, y = -1;
    EXPECT_EQ(Brightest(set.work, &x, &y), 200);
    // Final size doubles the rectangle: (0, 0, 100, 100), centre (50, 50).
    EXPECT_EQ(x, 50);
    EXPECT_EQ(y, 50);
    EXPECT_EQ(set.work.Pixel(150, 50), CColor24(0, 0, 0));

    ASSERT_TRUE(Process(set, s, ProcessMode::Preview, view));
    ASSERT_EQ(set.work.Width(), 100);
    EXPECT_EQ(Brightest(set.work, &x, &y), 200);
    EXPECT_EQ(x, 25);
    EXPECT_EQ(y, 25);
    EXPECT_EQ(set.work.Pixel(75, 25), CColor24(0, 0, 0));
}

TEST(OverlayChain, LightRunsAfterTheMirror) {
    ProcessingSettings s;
    s.m_bFlipX = 1;
    s.m_bLight[0] = 1;
    s.m_rcLight[0] = IntRect{0, 0, 10, 10};
    // A black left half and a grey right half: after the mirror the grey half
    // is on the left, and the light must brighten that grey.
    const BMP_File img = overlays_test::MakeImage(
        20, 10, [](int x, int) { return x < 10 ? CColor24(0, 0, 0) : CColor24(50, 50, 50); });
    ImageSet set = Loaded(img);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{20, 10}));
    EXPECT_EQ(set.work.Pixel(5, 5), CColor24(250, 250, 250));
    EXPECT_EQ(set.work.Pixel(15, 5), CColor24(0, 0, 0));
}

TEST(OverlayChain, MosaicRunsAfterNoiseAndBorderComesLast) {
    ScratchDir dir;
    ASSERT_TRUE(Solid(10, 10, CColor24(0, 0, 255)).SaveBMP(dir.Path("blue.bmp")));
    ProcessingSettings s;
    s.m_bSetNoise = 1;
    s.m_nStrengthNoise = 60;
    s.bMosaic = 1;
    s.m_nMosaicSize = 4;
    s.m_bSetBorder = 1;
    s.m_sBorderName = dir.Path("blue.bmp");
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderAround;
    s.m_nBorderPlacement[kBorderPlacementThickness] = 1; // 16 / 10 -> 1 pixel
    ImageSet set = Loaded(Solid(16, 16, CColor24(128, 128, 128)));
    std::srand(12);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{16, 16}));
    ASSERT_EQ(set.work.Width(), 18);
    ASSERT_EQ(set.work.Height(), 18);
    // Noise first, then the mosaic: every 4 x 4 cell is uniform, and the cells
    // are not all alike.
    bool differ = false;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const CColor24 cell = set.work.Pixel(1 + (x / 4) * 4, 1 + (y / 4) * 4);
            ASSERT_EQ(set.work.Pixel(1 + x, 1 + y), cell) << x << "," << y;
            differ |= cell != set.work.Pixel(1, 1);
        }
    EXPECT_TRUE(differ);
    // The frame was added after both: untouched by noise or mosaic.
    for (int i = 0; i < 18; ++i) {
        EXPECT_EQ(set.work.Pixel(i, 0), CColor24(0, 0, 255));
        EXPECT_EQ(set.work.Pixel(17, i), CColor24(0, 0, 255));
    }
}

TEST(OverlayChain, MaskAndBorderWithoutFileNameAreSkipped) {
    ProcessingSettings s;
    s.m_bSetMask = 1;
    s.m_bSetBorder = 1;
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderAround;
    s.m_nBorderPlacement[kBorderPlacementThickness] = 5;
    const BMP_File orig = Gradient(12, 9);
    ImageSet set = Loaded(orig);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{12, 9}));
    EXPECT_TRUE(set.work.SameAs(orig));

    // A mask name that reads nothing is skipped the same way.
    s.m_sMaskName = "/nonexistent/folder/mask.bmp";
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{12, 9}));
    EXPECT_TRUE(set.work.SameAs(orig));
}

TEST(OverlayChain, MaskRunsThroughTheChain) {
    ScratchDir dir;
    ASSERT_TRUE(Solid(4, 4, CColor24(0, 0, 0)).SaveBMP(dir.Path("black.bmp")));
    ProcessingSettings s;
    s.m_bSetMask = 1;
    s.m_sMaskName = dir.Path("black.bmp");
    s.fOpacityMask = 0.5f;
    s.m_nMaskColorG = 100;
    ImageSet set = Loaded(Solid(6, 6, CColor24(200, 0, 41)));
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{6, 6}));
    // Half image, half mask colour (0, 100, 0): 100, 50, 20.5 -> 20.
    EXPECT_EQ(set.work.Pixel(3, 3), CColor24(100, 50, 20));
}

// ---------------------------------------------------------------------------

TEST(DataPaths, SearchesBesideTheProgramThenEachDataFolder) {
    {
        ScopedEnv env("XDG_DATA_DIRS", "/opt/a:relative/b:/opt/c/");
        const auto c = DataFolderCandidates("Masks");
        ASSERT_EQ(c.size(), 3u);
        EXPECT_EQ(c[0], ProgramFolder() + "Masks");
        EXPECT_EQ(c[1], "/opt/a/pellorin/Masks");
        EXPECT_EQ(c[2], "/opt/c/pellorin/Masks");
    }
    {
        ScopedEnv env("XDG_DATA_DIRS", "");
        const auto c = DataFolderCandidates("border");
        ASSERT_EQ(c.size(), 3u);
        EXPECT_EQ(c[1], "/usr/local/share/pellorin/border");
        EXPECT_EQ(c[2], "/usr/share/pellorin/border");
    }
    EXPECT_FALSE(ProgramFolder().empty());
    EXPECT_EQ(ProgramFolder().back(), '/');
}

TEST(DataPaths, ListsPicturesOfAllFoldersFirstNameWins) {
    ScratchDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.Path("one/pellorin/Masks"));
    fs::create_directories(dir.Path("two/pellorin/Masks"));
    fs::create_directories(dir.Path("two/pellorin/Masks/sub.bmp")); // a folder, not a file
    for (const char* f : {"one/pellorin/Masks/zeta.bmp", "one/pellorin/Masks/alpha.png",
                          "one/pellorin/Masks/notes.txt", "two/pellorin/Masks/alpha.png",
                          "two/pellorin/Masks/beta.jpg", "two/pellorin/Masks/gamma.jpeg"})
        std::ofstream(dir.Path(f)) << "x";
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("one") + ":" + dir.Path("two"));
    const auto list = ListDataPictures(kMasksFolder, MaskPictureExtensions());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].name, "alpha.png");
    EXPECT_EQ(list[0].path, dir.Path("one/pellorin/Masks/alpha.png"));
    EXPECT_EQ(list[1].name, "beta.jpg");
    EXPECT_EQ(list[2].name, "zeta.bmp");

    // Borders take only png, bmp and jpg.
    fs::create_directories(dir.Path("one/pellorin/border"));
    std::ofstream(dir.Path("one/pellorin/border/a.gif")) << "x";
    std::ofstream(dir.Path("one/pellorin/border/b.PNG")) << "x";
    const auto borders = ListDataPictures(kBorderFolder, BorderPictureExtensions());
    ASSERT_EQ(borders.size(), 1u);
    EXPECT_EQ(borders[0].name, "b.PNG");
}

TEST(DataPaths, ResolvesAbsoluteBareAndForeignStoredNames) {
    ScratchDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir.Path("share/pellorin/Masks"));
    const std::string installed = dir.Path("share/pellorin/Masks/oval.bmp");
    std::ofstream(installed) << "x";
    std::ofstream(dir.Path("elsewhere.bmp")) << "x";
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));

    EXPECT_EQ(ResolveDataPicture(dir.Path("elsewhere.bmp"), kMasksFolder),
              dir.Path("elsewhere.bmp"));
    EXPECT_EQ(ResolveDataPicture("oval.bmp", kMasksFolder), installed);
    // A path stored on another system resolves by its file name.
    EXPECT_EQ(ResolveDataPicture("C:\\Program Files\\Pellorin\\Masks\\oval.bmp", kMasksFolder),
              installed);
    EXPECT_EQ(ResolveDataPicture("/old/install/Masks/oval.bmp", kMasksFolder), installed);
    EXPECT_EQ(ResolveDataPicture("missing.bmp", kMasksFolder), "");
    EXPECT_EQ(ResolveDataPicture("", kMasksFolder), "");
    EXPECT_EQ(ResolveDataPicture("Masks/..", kMasksFolder), "");
    // The border folder is a different folder.
    EXPECT_EQ(ResolveDataPicture("oval.bmp", kBorderFolder), "");
}

TEST(DataPaths, MaskStepFindsInstalledMaskByBareName) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path("share/pellorin/Masks"));
    ASSERT_TRUE(Solid(2, 2, CColor24(0, 0, 0)).SaveBMP(dir.Path("share/pellorin/Masks/dark.bmp")));
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));
    ProcessingSettings s;
    s.m_bSetMask = 1;
    s.m_sMaskName = "dark.bmp";
    s.m_nMaskColorR = 77;
    BMP_File img = Gradient(5, 5);
    ASSERT_TRUE(ApplyMaskFromSettings(img, s));
    EXPECT_EQ(img.Pixel(4, 4), CColor24(77, 0, 0));
}

TEST(OverlayChain, AFinalRunStopsAtABorderThatCannotBeMade) {
    ScratchDir dir;
    ASSERT_TRUE(Solid(10, 10, CColor24(255, 0, 0)).SaveBMP(dir.Path("b.bmp")));
    ProcessingSettings s;
    s.m_bSetBorder = 1;
    s.m_sBorderName = dir.Path("b.bmp");
    s.m_nBorderPlacement[kBorderPlacementMode] = kBorderAround;
    s.m_nBorderPlacement[kBorderPlacementThickness] = 100000;
    ImageSet set = Loaded(Gradient(30, 30));
    std::string error;
    EXPECT_FALSE(Process(set, s, ProcessMode::Final, ViewSize{30, 30}, &error));
    EXPECT_EQ(error, "Border to 524318 x 524318 failed: too large (at most 262144 pixels a side)");
    // A border picture that is not there is passed over, as before.
    s.m_sBorderName = dir.Path("none.bmp");
    error.clear();
    EXPECT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{30, 30}, &error));
    EXPECT_TRUE(error.empty());
}

} // namespace
