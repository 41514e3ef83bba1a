// The operations as the pipeline runs them: effect-table rows reach the right
// function with the right settings, and the fixed-chain steps run in their
// fixed order.

#include "imageops/color.h"
#include "imageops/convolve.h"
#include "imageops/effect_table.h"
#include "imageops/geometry.h"
#include "pipeline/pipeline.h"

#include "image_test_util.h"

#include <gtest/gtest.h>

#include <string>

using imageops_test::RandomImage;
using imageops_test::SameImage;

namespace {

BMP_File RunFinal(const BMP_File& in, const ProcessingSettings& s) {
    ImageSet set;
    set.Install(in);
    EXPECT_TRUE(Process(set, s, ProcessMode::Final, ViewSize{in.Width(), in.Height()}));
    return set.work;
}

int StepIndex(const char* name) {
    const auto chain = FixedChain();
    for (size_t i = 0; i < chain.size(); ++i)
        if (std::string(chain[i].name) == name) return int(i);
    return -1;
}

} // namespace

TEST(EffectRows, EachBuiltRowAppliesItsOperationWithItsSettings) {
    ProcessingSettings s;
    s.m_nBlurSize = 7;
    s.m_nBrightR = 20, s.m_nBrightG = 70, s.m_nBrightB = 90;
    s.m_nContrastR = 10, s.m_nContrastG = 60, s.m_nContrastB = 95;
    s.m_nHue = 80, s.m_nSaturation = 30, s.m_nBrightness = 55;
    const BMP_File in = RandomImage(23, 15, 1);
    auto via = [&](int id) {
        const EffectRow* row = FindEffect(id);
        EXPECT_NE(row, nullptr);
        EXPECT_TRUE(row && row->Available()) << id;
        BMP_File out = in;
        if (row) ApplyEffect(*row, out, s);
        return out;
    };
    auto direct = [&](auto fn) {
        BMP_File out = in;
        fn(out);
        return out;
    };
    EXPECT_TRUE(SameImage(via(0), direct([](BMP_File& b) { Blur(b, 7); })));
    EXPECT_TRUE(SameImage(via(1), direct([](BMP_File& b) { AdjustBrightness(b, 20, 70, 90); })));
    EXPECT_TRUE(SameImage(via(2), direct([](BMP_File& b) { AdjustContrast(b, 10, 60, 95); })));
    EXPECT_TRUE(SameImage(via(3), direct([](BMP_File& b) { AdjustHSB(b, 80, 30, 55); })));
    EXPECT_TRUE(SameImage(via(4), direct([](BMP_File& b) { InvertChannel(b, Channel::Red); })));
    EXPECT_TRUE(SameImage(via(5), direct([](BMP_File& b) { InvertChannel(b, Channel::Green); })));
    EXPECT_TRUE(SameImage(via(6), direct([](BMP_File& b) { InvertChannel(b, Channel::Blue); })));
    EXPECT_TRUE(SameImage(via(7), direct([](BMP_File& b) { GreyScale(b); })));
    const KernelFilter filters[] = {
        KernelFilter::Contour, KernelFilter::ContrastFilter, KernelFilter::HighContrastFilter,
        KernelFilter::Prewitt, KernelFilter::Sobel,          KernelFilter::Laplas};
    for (int i = 0; i < 6; ++i)
        EXPECT_TRUE(
            SameImage(via(8 + i), direct([&](BMP_File& b) { ApplyKernelFilter(b, filters[i]); })))
            << 8 + i;
    EXPECT_TRUE(SameImage(via(14), direct([](BMP_File& b) { Sharpen(b); })));
    EXPECT_TRUE(SameImage(via(15), direct([](BMP_File& b) { Emboss(b); })));
    EXPECT_TRUE(SameImage(
        via(16), direct([](BMP_File& b) { SwapChannels(b, Channel::Red, Channel::Blue); })));
    EXPECT_TRUE(SameImage(
        via(17), direct([](BMP_File& b) { SwapChannels(b, Channel::Red, Channel::Green); })));
    EXPECT_TRUE(SameImage(
        via(18), direct([](BMP_File& b) { SwapChannels(b, Channel::Blue, Channel::Green); })));
    EXPECT_TRUE(SameImage(via(24), direct([](BMP_File& b) { Erode(b); })));
}

TEST(EffectRows, TickedBlurTwiceBlursTwice) {
    const BMP_File in = RandomImage(17, 11, 2);
    ProcessingSettings s;
    s.m_aEffects = {0, 0};
    s.m_aEffectChecks = {1, 1};
    BMP_File twice = in;
    Blur(twice, 5);
    Blur(twice, 5);
    EXPECT_TRUE(SameImage(RunFinal(in, s), twice));
    s.m_aEffectChecks = {1, 0};
    BMP_File once = in;
    Blur(once, 5);
    EXPECT_TRUE(SameImage(RunFinal(in, s), once));
}

TEST(FixedChain, StepsStandInTheirOrder) {
    const char* order[] = {"Crop",
                           "Resize",
                           "Free rotation",
                           "Colour adjustment",
                           "Quarter turns",
                           "Mirror left-right",
                           "Mirror top-bottom",
                           "Colour filter",
                           "Perspective",
                           "Replace colour"};
    int last = -1;
    for (const char* name : order) {
        const int i = StepIndex(name);
        ASSERT_GE(i, 0) << name;
        EXPECT_GT(i, last) << name;
        last = i;
    }
    EXPECT_EQ(size_t(StepIndex("Replace colour")), FixedChain().size() - 1);
}

TEST(FixedChain, CropThenResizeGivesTheTargetSize) {
    const BMP_File in = RandomImage(60, 40, 3);
    ProcessingSettings s;
    s.m_bCrop = 1;
    s.m_rcCrop = IntRect{5, 7, 25, 19};
    s.m_bResize = 1;
    s.m_nSizeX = 33;
    s.m_nSizeY = 21;
    const BMP_File out = RunFinal(in, s);
    EXPECT_EQ(out.Width(), 33);
    EXPECT_EQ(out.Height(), 21);
    s.m_nSizeY = 0; // an empty size field skips the resize
    const BMP_File cropped = RunFinal(in, s);
    EXPECT_EQ(cropped.Width(), 20);
    EXPECT_EQ(cropped.Height(), 12);
}

TEST(FixedChain, OwnStepsRunInChainOrder) {
    const BMP_File in = RandomImage(30, 20, 4);
    ProcessingSettings s;
    s.m_fRotateAngle = 30.0f;
    s.m_cBKGRotationColor = CColor24(0, 0, 0);
    s.m_bColorAdjusment = 1;
    s.m_ca.caFlags = 1; // negative: the rotation's black corners turn white only if it runs later
    s.m_nRotate = 1;
    s.m_bFlipX = 1;
    s.m_bColorFilter = 1;
    s.m_ColorFilterDlg.m_nRMin = 60;
    s.m_ColorFilterDlg.m_nRMax = 250;
    s.m_bPerspective = 1;
    s.m_fAnglePerspective = 40.0f; // its black fill would be whitened if the filter ran later
    s.m_bReplaceColor = 1;
    s.m_cReplaceSource = CColor24(255, 255, 255);
    s.m_cReplaceTarget = CColor24(1, 2, 3);

    BMP_File expected = in;
    RotateImage(expected, 30.0f, CColor24(0, 0, 0));
    AdjustColor(expected, s.m_ca);
    QuarterTurn(expected);
    FlipLeftRight(expected);
    ColorFilter(expected, s.m_ColorFilterDlg);
    PerspectiveImage(expected, true, 40.0f, CColor24(0, 0, 0));
    ReplaceColor(expected, s.m_cReplaceSource, s.m_cReplaceTarget);

    const BMP_File out = RunFinal(in, s);
    EXPECT_TRUE(SameImage(out, expected));
    EXPECT_EQ(out.Width(), 20);
    EXPECT_EQ(out.Height(), 30);
    // The perspective's fill is still black at the top corner and the filter's
    // white became the replacement colour.
    EXPECT_EQ(out.Pixel(0, 0), CColor24(0, 0, 0));
    bool replaced = false;
    for (size_t i = 0; i < out.PixelCount(); ++i) {
        replaced |= out.Data()[i] == CColor24(1, 2, 3);
        EXPECT_FALSE(out.Data()[i] == CColor24(255, 255, 255));
    }
    EXPECT_TRUE(replaced);
}
