// The pipeline: guards, input choice, preview scaling, the effect loop and the
// geometric steps of the fixed chain, and the nearest-neighbour index map they
// share.

#include "imageops/color.h"
#include "imageops/effect_table.h"
#include "imageops/geometry.h"
#include "imageops/resample.h"
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace {

BMP_File Gradient(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), uint8_t(x ^ y));
    return img;
}

std::vector<int> Map(int n, int m) {
    std::vector<int> map;
    EXPECT_TRUE(ResampleIndexMap(n, m, map));
    return map;
}

ImageSet Loaded(const BMP_File& img) {
    ImageSet set;
    set.Install(img);
    return set;
}

} // namespace

TEST(ResampleIndexMap, KnownMaps) {
    EXPECT_EQ(Map(2, 4), (std::vector<int>{0, 0, 0, 1}));
    EXPECT_EQ(Map(4, 2), (std::vector<int>{0, 2}));
    EXPECT_EQ(Map(4, 8), (std::vector<int>{0, 0, 1, 1, 2, 2, 2, 3}));
    EXPECT_EQ(Map(8, 4), (std::vector<int>{0, 2, 4, 7}));
    EXPECT_EQ(Map(3, 3), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(Map(10, 3), (std::vector<int>{0, 4, 9}));
    EXPECT_EQ(Map(1, 5), (std::vector<int>{0, 0, 0, 0, 0}));
    std::vector<int> untouched = {42};
    EXPECT_FALSE(ResampleIndexMap(0, 5, untouched));
    EXPECT_FALSE(ResampleIndexMap(5, 0, untouched));
    EXPECT_EQ(untouched, std::vector<int>{42});
}

TEST(ResampleIndexMap, StaysInsideTheSourceAndNeverGoesBack) {
    for (int n : {2, 3, 7, 100, 999, 6000})
        for (int m : {2, 3, 5, 99, 400, 1001, 4000}) {
            const auto map = Map(n, m);
            ASSERT_EQ(map.size(), size_t(m));
            EXPECT_EQ(map.front(), 0) << n << "->" << m;
            EXPECT_LE(map.back(), n - 1) << n << "->" << m;
            if (m >= n) {
                EXPECT_EQ(map.back(), n - 1) << "enlarging reaches the last pixel";
            }
            for (size_t i = 1; i < map.size(); ++i) ASSERT_LE(map[i - 1], map[i]);
        }
}

TEST(Pipeline, GuardsDoNothing) {
    ImageSet empty;
    ProcessingSettings s;
    EXPECT_FALSE(Process(empty, s, ProcessMode::Final, ViewSize{}));
    EXPECT_TRUE(empty.work.Empty());

    ImageSet set = Loaded(Gradient(10, 10));
    set.work.Create(3, 3);
    set.loading = true;
    EXPECT_FALSE(Process(set, s, ProcessMode::Preview, ViewSize{}));
    EXPECT_EQ(set.work.Width(), 3) << "no run while a configuration loads";
}

TEST(Pipeline, FinalModeWithDefaultsIsAnExactCopy) {
    std::mt19937 rng(7);
    BMP_File img;
    img.Create(37, 23);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    ImageSet set = Loaded(img);
    set.work.Create(1, 1); // whatever an earlier preview left
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{400, 300}));
    EXPECT_TRUE(set.work.SameAs(img));
}

// A watched run counts every step it will take, unticked effects, unknown ids
// and disabled corrections excluded, and stops exactly where it is told to.
TEST(Pipeline, ObserverCountsTheStepsAndStopsWhereTold) {
    const BMP_File img = Gradient(31, 17);
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    s.m_aEffects = {7, 4, 99, 16};
    s.m_aEffectChecks = {1, 0, 1, 1};
    s.m_bFlipX = 1;
    std::vector<std::pair<int, int>> seen;
    RunObserver all{[&](int done, int total) {
        seen.push_back({done, total});
        return true;
    }};
    BMP_File work;
    ASSERT_TRUE(RunPipeline(img, s, ProcessMode::Final, ViewSize{400, 300}, work, nullptr, &all));
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_FALSE(all.stopped);
    EXPECT_EQ(PipelineStepCount(s), 3);

    // Stopped before the mirror: the two effects ran, the mirror did not.
    RunObserver stop{[](int done, int) { return done < 2; }};
    std::string error;
    BMP_File partial;
    EXPECT_FALSE(
        RunPipeline(img, s, ProcessMode::Final, ViewSize{400, 300}, partial, &error, &stop));
    EXPECT_TRUE(stop.stopped);
    EXPECT_TRUE(error.empty()) << "a stop is not a failure: " << error;
    BMP_File expected = img;
    GreyScale(expected);
    SwapChannels(expected, Channel::Red, Channel::Blue);
    EXPECT_TRUE(partial.SameAs(expected));
}

TEST(Pipeline, PreviewIsStretchedToTheView) {
    const BMP_File img = Gradient(1000, 500);
    ImageSet set = Loaded(img);
    ProcessingSettings s;
    ASSERT_TRUE(Process(set, s, ProcessMode::Preview, ViewSize{400, 300}));
    ASSERT_EQ(set.work.Width(), 400);
    ASSERT_EQ(set.work.Height(), 300);
    const auto mx = Map(1000, 400), my = Map(500, 300);
    for (int y = 0; y < 300; y += 37)
        for (int x = 0; x < 400; x += 13)
            ASSERT_EQ(set.work.Pixel(x, y), img.Pixel(mx[size_t(x)], my[size_t(y)]))
                << x << "," << y;
}

TEST(Pipeline, NoiseReducedCopyIsTheInputWhenChosen) {
    ImageSet set = Loaded(Gradient(8, 8));
    set.noiseReduced.Pixel(3, 3) = CColor24(9, 9, 9);
    ProcessingSettings s;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    EXPECT_EQ(set.work.Pixel(3, 3), set.original.Pixel(3, 3));
    s.bNoise = 1;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    EXPECT_EQ(set.work.Pixel(3, 3), CColor24(9, 9, 9));
    EXPECT_NE(set.original.Pixel(3, 3), CColor24(9, 9, 9)) << "the original is never changed";
}

TEST(Pipeline, CropRectangleIsScaledFromTheView) {
    const BMP_File img = Gradient(200, 100);
    ProcessingSettings s;
    s.m_bCrop = 1;
    s.m_rcCrop = IntRect{10, 20, 50, 70};
    {
        ImageSet set = Loaded(img);
        ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{200, 100}));
        ASSERT_EQ(set.work.Width(), 40);
        ASSERT_EQ(set.work.Height(), 50);
        EXPECT_EQ(set.work.Pixel(0, 0), img.Pixel(10, 20));
        EXPECT_EQ(set.work.Pixel(39, 49), img.Pixel(49, 69));
    }
    {
        // A view half the image's size doubles the coordinates.
        ImageSet set = Loaded(img);
        ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{100, 50}));
        ASSERT_EQ(set.work.Width(), 80);
        ASSERT_EQ(set.work.Height(), 100);
        EXPECT_EQ(set.work.Pixel(0, 0), img.Pixel(20, 40));
        EXPECT_EQ(set.work.Pixel(79, 59), img.Pixel(99, 99));
        EXPECT_EQ(set.work.Pixel(0, 60), CColor24()) << "outside the old image is black";
    }
    {
        // 3 * (200 / 7) = 85.71... truncates toward zero.
        EXPECT_EQ(ScaleViewRect(IntRect{3, 3, 6, 6}, 200, 100, ViewSize{7, 7}),
                  (IntRect{85, 42, 171, 85}));
    }
    {
        // An empty rectangle would leave no picture at all, and every later run
        // would stop at the empty-image guard: the crop is skipped instead.
        ImageSet set = Loaded(img);
        s.m_rcCrop = IntRect{50, 50, 50, 80};
        ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{200, 100}));
        EXPECT_TRUE(set.work.SameAs(img));
        ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{200, 100}));
    }
}

TEST(Pipeline, ResizeFollowsCropAndZeroSizeSkipsIt) {
    const BMP_File img = Gradient(120, 90);
    ProcessingSettings s;
    s.m_bCrop = 1;
    s.m_rcCrop = IntRect{0, 0, 33, 21};
    s.m_bResize = 1;
    s.m_nSizeX = 64;
    s.m_nSizeY = 48;
    ImageSet set = Loaded(img);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{120, 90}));
    EXPECT_EQ(set.work.Width(), 64);
    EXPECT_EQ(set.work.Height(), 48);
    EXPECT_EQ(set.work.Pixel(63, 47), img.Pixel(32, 20));

    s.m_nSizeY = 0;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{120, 90}));
    EXPECT_EQ(set.work.Width(), 33);
    EXPECT_EQ(set.work.Height(), 21);
    s.m_nSizeY = -5;
    s.m_bCrop = 0;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{120, 90}));
    EXPECT_TRUE(set.work.SameAs(img)) << "a negative size cannot be made and is skipped";
}

TEST(Pipeline, AFinalRunStopsAtAStepThatCannotMakeItsPicture) {
    const BMP_File img = Gradient(31, 17);
    ProcessingSettings s;
    s.m_bResize = 1;
    s.m_nSizeX = 40000; // 1.2 billion pixels: more than a picture may have
    s.m_nSizeY = 30000;
    s.m_bFlipX = 1;
    BMP_File work;
    std::string error;
    EXPECT_FALSE(RunPipeline(img, s, ProcessMode::Final, ViewSize{}, work, &error));
    EXPECT_EQ(error, "Resize to 40000 x 30000 failed: too large (at most 1000000000 pixels)");
    EXPECT_FALSE(work.Empty()) << "later runs still have a work image";

    s.m_nSizeX = 300000; // one side beyond what a picture may have
    s.m_nSizeY = 2;
    error.clear();
    EXPECT_FALSE(RunPipeline(img, s, ProcessMode::Final, ViewSize{}, work, &error));
    EXPECT_EQ(error, "Resize to 300000 x 2 failed: too large (at most 262144 pixels a side)");

    // The preview passes the step over and shows the rest of the treatment.
    ImageSet set = Loaded(img);
    error.clear();
    ASSERT_TRUE(Process(set, s, ProcessMode::Preview, ViewSize{62, 34}, &error));
    EXPECT_TRUE(error.empty());
    ASSERT_EQ(set.work.Width(), 62);
    EXPECT_EQ(set.work.Pixel(0, 0), img.Pixel(30, 0)) << "mirrored after the skipped resize";
    EXPECT_FALSE(Process(set, s, ProcessMode::Final, ViewSize{62, 34}, &error));
    EXPECT_NE(error.find("Resize to 300000 x 2 failed"), std::string::npos);

    // A crop rectangle that scales beyond the limit names the crop.
    ProcessingSettings c;
    c.m_bCrop = 1;
    c.m_rcCrop = IntRect{0, 0, 2000000, 10};
    error.clear();
    EXPECT_FALSE(RunPipeline(img, c, ProcessMode::Final, ViewSize{31, 17}, work, &error));
    EXPECT_EQ(error, "Crop to 2000000 x 10 failed: too large (at most 262144 pixels a side)");
}

TEST(StepFailureMessage, NamesTheStepTheSizeAndTheReason) {
    EXPECT_EQ(StepFailureMessage("Quarter turns", PictureSize{20, 30}, true),
              "Quarter turns to 20 x 30 failed: not enough memory");
    EXPECT_EQ(StepFailureMessage("Blur", PictureSize{4000, 3000}, false),
              "Blur on a 4000 x 3000 picture failed: not enough memory");
    EXPECT_EQ(StepFailureMessage("Border", PictureSize{262145, 5}, true),
              "Border to 262145 x 5 failed: too large (at most 262144 pixels a side)");
}

namespace {
// The address space the process uses now, in bytes.
uint64_t AddressSpaceInUse() {
    std::ifstream statm("/proc/self/statm");
    uint64_t pages = 0;
    statm >> pages;
    return pages * uint64_t(::sysconf(_SC_PAGESIZE));
}

// Runs a final pipeline with only `headroom` bytes of address space left and
// prints its error; exits 0 when it failed and kept a work image.
[[noreturn]] void RunShortOfMemory(const BMP_File& input, const ProcessingSettings& s,
                                   uint64_t headroom) {
    const rlimit limit{rlim_t(AddressSpaceInUse() + headroom), RLIM_INFINITY};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(2);
    BMP_File work;
    std::string error;
    const bool ok = RunPipeline(input, s, ProcessMode::Final, ViewSize{}, work, &error);
    std::fprintf(stderr, "%s\n", error.c_str());
    std::_Exit(!ok && !work.Empty() ? 0 : 1);
}
} // namespace

TEST(PipelineDeathTest, RunningOutOfMemoryIsReportedNotSkipped) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    {
        // 225 million pixels are allowed but need 675 MB.
        ProcessingSettings s;
        s.m_bResize = 1;
        s.m_nSizeX = 15000;
        s.m_nSizeY = 15000;
        const BMP_File img = Gradient(40, 30);
        EXPECT_EXIT(RunShortOfMemory(img, s, uint64_t(256) << 20), ::testing::ExitedWithCode(0),
                    "Resize to 15000 x 15000 failed: not enough memory");
    }
    {
        // The copy of the input fits; the eroded picture next to it does not.
        ProcessingSettings s;
        s.m_aEffects = {24}; // Erode
        s.m_aEffectChecks = {1};
        const BMP_File img = Gradient(4000, 4000);
        EXPECT_EXIT(RunShortOfMemory(img, s, uint64_t(72) << 20), ::testing::ExitedWithCode(0),
                    "Erode on a 4000 x 4000 picture failed: not enough memory");
    }
}

TEST(Pipeline, QuarterTurnsAndFlips) {
    BMP_File img = Gradient(3, 2);
    BMP_File turned = img;
    QuarterTurn(turned);
    ASSERT_EQ(turned.Width(), 2);
    ASSERT_EQ(turned.Height(), 3);
    EXPECT_EQ(turned.Pixel(1, 0), img.Pixel(0, 0)) << "top-right is the old top-left";
    EXPECT_EQ(turned.Pixel(0, 0), img.Pixel(0, 1));
    EXPECT_EQ(turned.Pixel(0, 2), img.Pixel(2, 1));

    const BMP_File big = Gradient(131, 70); // larger than one tile
    BMP_File four = big;
    for (int i = 0; i < 4; ++i) QuarterTurn(four);
    EXPECT_TRUE(four.SameAs(big));

    ProcessingSettings s;
    s.m_nRotate = 3;
    ImageSet set = Loaded(big);
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    BMP_File three = big;
    for (int i = 0; i < 3; ++i) QuarterTurn(three);
    EXPECT_TRUE(set.work.SameAs(three));
    EXPECT_EQ(set.work.Pixel(0, 130), big.Pixel(0, 0)) << "three turns = one turn left";

    s.m_nRotate = 0;
    s.m_bFlipX = 1;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    EXPECT_EQ(set.work.Pixel(0, 5), big.Pixel(130, 5));
    EXPECT_EQ(set.work.Pixel(65, 5), big.Pixel(65, 5)) << "the middle column stays";
    s.m_bFlipX = 0;
    s.m_bFlipY = 1;
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    EXPECT_EQ(set.work.Pixel(4, 0), big.Pixel(4, 69));
    EXPECT_EQ(set.work.Pixel(4, 69), big.Pixel(4, 0));
}

TEST(Pipeline, RotationButtonsWrap) {
    ProcessingSettings s;
    s.RotateLeft();
    EXPECT_EQ(s.m_nRotate, 3);
    ProcessingSettings t;
    for (int i = 0; i < 4; ++i) t.RotateRight();
    EXPECT_EQ(t.m_nRotate, 0);
}

namespace {
// Effects for the loop tests, in both buffer layouts.
void Starve(BMP_File&, const ProcessingSettings&) {
    throw std::bad_alloc();
}
void AddOneToRed(BMP_File& img, const ProcessingSettings&) {
    for (size_t i = 0; i < img.PixelCount(); ++i) img.Data()[i].r = uint8_t(img.Data()[i].r + 1);
}
void SwapThroughBuffer(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings&) {
    // Reads only the source; the destination starts as a copy of it.
    for (int i = 0; i < w * h; ++i) {
        EXPECT_EQ(src[4 * i + 3], 255);
        EXPECT_EQ(dst[4 * i], src[4 * i]);
        dst[4 * i] = src[4 * i + 2]; // blue := red
        dst[4 * i + 3] = 0;          // alpha is dropped
    }
}
} // namespace

TEST(Pipeline, EffectsApplyThroughEitherBufferKind) {
    BMP_File img = Gradient(5, 4);
    const EffectRow inPlace{100, "test", EffectBuffer::Pixels24, &AddOneToRed, nullptr, nullptr};
    ApplyEffect(inPlace, img, ProcessingSettings());
    ApplyEffect(inPlace, img, ProcessingSettings());
    EXPECT_EQ(img.Pixel(3, 2).r, 5);

    const EffectRow buffered{101,    "test", EffectBuffer::Bgra32, nullptr, &SwapThroughBuffer,
                             nullptr};
    ApplyEffect(buffered, img, ProcessingSettings());
    EXPECT_EQ(img.Pixel(3, 2), CColor24(5, 2, 5));

    const EffectRow missing{102, "test", EffectBuffer::Bgra32, nullptr, nullptr, nullptr};
    BMP_File before = img;
    EXPECT_TRUE(ApplyEffect(missing, img, ProcessingSettings()));
    EXPECT_TRUE(img.SameAs(before));

    // An effect that cannot have its memory says so through the result.
    const EffectRow starved{103, "test", EffectBuffer::Pixels24, &Starve, nullptr, nullptr};
    EXPECT_FALSE(ApplyEffect(starved, img, ProcessingSettings()));
    EXPECT_TRUE(img.SameAs(before));
}

TEST(Pipeline, EffectTableNamesEveryIdentifierInOrder) {
    const char* names[] = {"Blur",
                           "Brightness",
                           "Contrast",
                           "Adjust HSB",
                           "Invert R Color",
                           "Invert G Color",
                           "Invert B Color",
                           "Grey Scale",
                           "Contour",
                           "Contarst Filter",
                           "High Contarst Filter",
                           "Prewitt",
                           "Sobel",
                           "Laplas",
                           "Sharpen",
                           "Emboss",
                           "Swap R & B",
                           "Swap R & G",
                           "Swap B & G",
                           "Wave",
                           "Ripple",
                           "Wind",
                           "Red Eye Removal",
                           "Cartoon",
                           "Erode",
                           "Cubism",
                           "Van Gogh",
                           "Advanced Emboss",
                           "Soft Glow",
                           "Whirl & Pinch",
                           "Neon",
                           "Video",
                           "Super Nova",
                           "Oilify"};
    ASSERT_EQ(EffectTable().size(), std::size(names));
    for (int id = 0; id < kEffectCount; ++id) {
        EXPECT_STREQ(FindEffect(id)->name, names[id]);
        EXPECT_EQ(FindEffect(id)->id, id);
        EXPECT_EQ(FindEffect(id)->buffer == EffectBuffer::Bgra32, (id >= 19 && id != 24))
            << "effects 19 to 33 but Erode work on the 32-bit buffers";
    }
    EXPECT_EQ(FindEffect(-1), nullptr);
    EXPECT_EQ(FindEffect(34), nullptr);
}

TEST(Pipeline, UnknownEffectIdentifiersAreSkipped) {
    const BMP_File img = Gradient(6, 6);
    ImageSet set = Loaded(img);
    ProcessingSettings s;
    s.m_aEffects = {-4, 34, 1000};
    s.m_aEffectChecks = {1, 1, 1};
    ASSERT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{}));
    EXPECT_TRUE(set.work.SameAs(img));
}
