// The light region and the mask run as vector code over per-byte buffers, on
// every vector target of the processor, or as plain loops; here each form is
// checked against the formulas written out plainly, pixel by pixel, on random
// pictures and rectangles (also reaching outside the picture).

#include "imageops/overlays.h"
#include "imageops/resample.h"
#include "tests/imageops/image_test_util.h"
#include "tests/imageops/plain_forms.h"

#include <gtest/gtest.h>

#include <random>

using imageops_test::SameImage;
using imageops_test::WithBothKernelForms;

namespace {

BMP_File Random(int w, int h, std::mt19937& rng) {
    BMP_File img;
    img.Create(w, h);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    return img;
}

void PlainLight(BMP_File& img, const IntRect& r, const ChannelInts& t) {
    imageops_plain::PlainLightRegion(img, r.left, r.top, r.right, r.bottom, t.r, t.g, t.b);
}

void PlainMask(BMP_File& img, const BMP_File& mask, const MaskParams& m) {
    std::vector<int> mx, my;
    ASSERT_TRUE(ResampleIndexMap(mask.Width(), img.Width(), mx));
    ASSERT_TRUE(ResampleIndexMap(mask.Height(), img.Height(), my));
    imageops_plain::PlainMask(img, mask, mx, my, m.invert, m.opacity, m.color.r, m.color.g,
                              m.color.b);
}

} // namespace

TEST(FastForms, LightRegionMatchesThePlainFormula) {
    WithBothKernelForms([] {
        std::mt19937 rng(11);
        for (int round = 0; round < 40; ++round) {
            const int w = 1 + int(rng() % 97), h = 1 + int(rng() % 83);
            const BMP_File img = Random(w, h, rng);
            const int l = int(rng() % unsigned(w + 20)) - 10;
            const int t = int(rng() % unsigned(h + 20)) - 10;
            const IntRect r{l, t, l + 1 + int(rng() % unsigned(w + 10)),
                            t + 1 + int(rng() % unsigned(h + 10))};
            const ChannelInts target{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
            BMP_File fast = img, plain = img;
            ApplyLightRegion(fast, r, target);
            PlainLight(plain, r, target);
            ASSERT_TRUE(SameImage(fast, plain)) << w << "x" << h << " rect " << r.left << ","
                                                << r.top << "," << r.right << "," << r.bottom;
        }
        // Large enough for the row bands to run on several threads, and with
        // rows long enough for every vector width.
        const BMP_File big = Random(701, 463, rng);
        BMP_File fast = big, plain = big;
        ApplyLightRegion(fast, IntRect{-30, 20, 650, 480}, ChannelInts{250, 10, 128});
        PlainLight(plain, IntRect{-30, 20, 650, 480}, ChannelInts{250, 10, 128});
        EXPECT_TRUE(SameImage(fast, plain));
    });
}

TEST(FastForms, MaskMatchesThePlainFormula) {
    WithBothKernelForms([] {
        std::mt19937 rng(12);
        for (int round = 0; round < 30; ++round) {
            const int w = 1 + int(rng() % 120), h = 1 + int(rng() % 90);
            const BMP_File img = Random(w, h, rng);
            const BMP_File mask = Random(1 + int(rng() % 40), 1 + int(rng() % 40), rng);
            MaskParams m;
            m.invert = rng() % 2 == 0;
            m.opacity = float(rng() % 101) / 100.0f;
            m.color = ChannelInts{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
            BMP_File fast = img, plain = img;
            ApplyMask(fast, mask, m);
            PlainMask(plain, mask, m);
            ASSERT_TRUE(SameImage(fast, plain)) << w << "x" << h << " round " << round;
        }
        const BMP_File big = Random(655, 401, rng);
        const BMP_File mask = Random(64, 48, rng);
        MaskParams m;
        m.opacity = 0.2f;
        m.color = ChannelInts{10, 200, 90};
        BMP_File fast = big, plain = big;
        ApplyMask(fast, mask, m);
        PlainMask(plain, mask, m);
        EXPECT_TRUE(SameImage(fast, plain));
    });
}
