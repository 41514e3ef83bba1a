// Placement of a printed image on the page and the greyscale print copy. The
// expected rectangles are worked out by hand from inches, centimetres (2.54 to
// the inch) and the device resolution.

#include "app/print_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

PrintLayout Layout(PrintSizeMode mode, PrintUnits units = PrintUnits::Centimetres) {
    PrintLayout l;
    l.sizeMode = mode;
    l.units = units;
    return l;
}

} // namespace

TEST(PrintPlacement, ImageSizeAndScaleUseSeventyTwoDotsPerInch) {
    // 144 x 72 pixels at 72 dpi is 2 x 1 inches: 200 x 100 device pixels at
    // 100 dpi, centred on a 850 x 1100 page.
    PrintLayout l = Layout(PrintSizeMode::ImageSize);
    EXPECT_EQ(ComputePlacement(l, 144, 72, 850, 1100, 100.0), (PlacementRect{325, 500, 200, 100}));

    // Half the size at 300 dpi: 1 x 0.5 inches.
    l.sizeMode = PrintSizeMode::Scale;
    l.scalePercent = 50.0;
    EXPECT_EQ(ComputePlacement(l, 144, 72, 3000, 3000, 300.0),
              (PlacementRect{1350, 1425, 300, 150}));

    // A negative scale prints nothing rather than a mirrored or huge image.
    l.scalePercent = -20.0;
    EXPECT_TRUE(ComputePlacement(l, 144, 72, 3000, 3000, 300.0).Empty());
}

TEST(PrintPlacement, FitToPageKeepsTheRatioAndRespectsMargins) {
    PrintLayout l = Layout(PrintSizeMode::FitToPage, PrintUnits::Inches);
    // Wide image: the width limits. 400 x 100 on 1000 x 800 -> 1000 x 250.
    EXPECT_EQ(ComputePlacement(l, 400, 100, 1000, 800, 100.0), (PlacementRect{0, 275, 1000, 250}));
    // Tall image: the height limits. 100 x 400 -> 200 x 800.
    EXPECT_EQ(ComputePlacement(l, 100, 400, 1000, 800, 100.0), (PlacementRect{400, 0, 200, 800}));

    // Margins of 1 and 2 inches leave a 900 x 600 box; the image must not run
    // off the right edge: 900 x 225 at (100, 200).
    l.centred = false;
    l.left = 1.0;
    l.top = 2.0;
    EXPECT_EQ(ComputePlacement(l, 400, 100, 1000, 800, 100.0), (PlacementRect{100, 200, 900, 225}));

    // Margins larger than the page leave no room at all.
    l.left = 20.0;
    EXPECT_TRUE(ComputePlacement(l, 400, 100, 1000, 800, 100.0).Empty());
}

TEST(PrintPlacement, SizeInCentimetresAndInches) {
    // At 254 dpi one centimetre is exactly 100 device pixels.
    PrintLayout l = Layout(PrintSizeMode::Size);
    l.width = 5.0;
    l.height = 2.5;
    l.centred = false;
    l.left = 2.0;
    l.top = 3.0;
    EXPECT_EQ(ComputePlacement(l, 300, 200, 2100, 2970, 254.0),
              (PlacementRect{200, 300, 500, 250}));

    // Keeping the ratio: 5 cm wide and 300 x 200 gives 3.33 cm high.
    l.sizeMode = PrintSizeMode::SizeKeepRatio;
    EXPECT_EQ(ComputePlacement(l, 300, 200, 2100, 2970, 254.0),
              (PlacementRect{200, 300, 500, 333}));

    // The same layout in inches lands on the same pixels.
    const PrintLayout inches = WithUnits(l, PrintUnits::Inches);
    EXPECT_NEAR(inches.width, 5.0 / 2.54, 1e-12);
    EXPECT_NEAR(inches.left, 2.0 / 2.54, 1e-12);
    EXPECT_EQ(ComputePlacement(inches, 300, 200, 2100, 2970, 254.0),
              ComputePlacement(l, 300, 200, 2100, 2970, 254.0));
    EXPECT_NEAR(ConvertLength(1.0, PrintUnits::Inches, PrintUnits::Centimetres), 2.54, 1e-12);

    EXPECT_DOUBLE_EQ(HeightForWidth(6.0, 300, 200), 4.0);
    EXPECT_DOUBLE_EQ(WidthForHeight(4.0, 300, 200), 6.0);
}

TEST(PrintPlacement, DegenerateInputsGiveNothing) {
    PrintLayout l = Layout(PrintSizeMode::ImageSize);
    EXPECT_TRUE(ComputePlacement(l, 0, 10, 100, 100, 100.0).Empty());
    EXPECT_TRUE(ComputePlacement(l, 10, 10, 0, 100, 100.0).Empty());
    EXPECT_TRUE(ComputePlacement(l, 10, 10, 100, 100, 0.0).Empty());
    l.sizeMode = PrintSizeMode::Size;
    l.width = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(ComputePlacement(l, 10, 10, 100, 100, 100.0).Empty());
    l.width = 1e300;
    l.height = 1.0;
    const PlacementRect huge = ComputePlacement(l, 10, 10, 100, 100, 100.0);
    EXPECT_GT(huge.width, 0) << "clamped, not overflowed into a negative width";
}

TEST(FitCentred, LimitingSideFillsTheBox) {
    EXPECT_EQ(FitCentred(200, 100, 800, 600), (PlacementRect{0, 100, 800, 400}));
    EXPECT_EQ(FitCentred(100, 200, 800, 600), (PlacementRect{250, 0, 300, 600}));
    // Small images are enlarged too.
    EXPECT_EQ(FitCentred(4, 3, 800, 600), (PlacementRect{0, 0, 800, 600}));
    // A one-pixel-high strip never vanishes.
    EXPECT_EQ(FitCentred(10000, 1, 100, 100), (PlacementRect{0, 49, 100, 1}));
    EXPECT_TRUE(FitCentred(0, 10, 100, 100).Empty());
}

TEST(Greyscale, LumaWeightsRoundedToNearest) {
    BMP_File img;
    ASSERT_TRUE(img.Create(3, 2));
    img.Pixel(0, 0) = CColor24(255, 0, 0);     // 76.245
    img.Pixel(1, 0) = CColor24(0, 255, 0);     // 149.685
    img.Pixel(2, 0) = CColor24(0, 0, 255);     // 29.07
    img.Pixel(0, 1) = CColor24(255, 255, 255); // 255
    img.Pixel(1, 1) = CColor24(100, 150, 200); // 29.9 + 88.05 + 22.8 = 140.75
    // (2, 1) stays black.
    const BMP_File grey = ToGreyscale(img);
    ASSERT_EQ(grey.Width(), 3);
    ASSERT_EQ(grey.Height(), 2);
    EXPECT_EQ(grey.Pixel(0, 0), CColor24(76, 76, 76));
    EXPECT_EQ(grey.Pixel(1, 0), CColor24(150, 150, 150));
    EXPECT_EQ(grey.Pixel(2, 0), CColor24(29, 29, 29));
    EXPECT_EQ(grey.Pixel(0, 1), CColor24(255, 255, 255));
    EXPECT_EQ(grey.Pixel(1, 1), CColor24(141, 141, 141));
    EXPECT_EQ(grey.Pixel(2, 1), CColor24(0, 0, 0));
    EXPECT_EQ(img.Pixel(0, 0), CColor24(255, 0, 0)) << "the source stays in colour";
    EXPECT_TRUE(ToGreyscale(BMP_File()).Empty());
}
