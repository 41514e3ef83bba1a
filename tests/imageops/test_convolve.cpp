// Neighbourhood filters: hand-worked values on small pictures, and each fast
// form against a per-pixel form written from the filter's description (cut
// windows, shifted kernels, in-place running blur), on odd sizes where every
// border case occurs.

#include "imageops/convolve.h"

#include "image_test_util.h"
#include "plain_forms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

using imageops_plain::Channel;
using imageops_plain::Clamp;
using imageops_plain::PlainBlur;
using imageops_plain::PlainKernelFilter;
using imageops_test::AwkwardSizes;
using imageops_test::RandomImage;
using imageops_test::SameImage;
using imageops_test::ThreadedSize;
using imageops_test::Uniform;

namespace {

struct FilterCase {
    KernelFilter f;
    std::array<int, 9> k;
    bool invert;
};
const FilterCase kCases[] = {
    {KernelFilter::Contour, {-1, -1, -1, -1, 8, -1, -1, -1, -1}, true},
    {KernelFilter::ContrastFilter, {0, -1, 0, -1, 5, -1, 0, -1, 0}, false},
    {KernelFilter::HighContrastFilter, {-1, -1, -1, -1, 9, -1, -1, -1, -1}, false},
    {KernelFilter::Prewitt, {-1, -1, -1, 0, 0, 0, 1, 1, 1}, true},
    {KernelFilter::Sobel, {-1, 0, 1, -2, 0, 2, -1, 0, 1}, true},
    {KernelFilter::Laplas, {0, 1, 0, 1, -4, 1, 0, 1, 0}, true},
};

BMP_File PlainSharpen(BMP_File img) {
    for (int y = 1; y < img.Height() - 1; ++y)
        for (int x = 1; x < img.Width() - 1; ++x) {
            const CColor24 p = img.Pixel(x, y), q = img.Pixel(x, y + 1);
            img.Pixel(x, y) =
                CColor24(uint8_t(Clamp((6 * p.r - q.r) / 2)), uint8_t(Clamp((6 * p.g - q.g) / 2)),
                         uint8_t(Clamp((6 * p.b - q.b) / 2)));
        }
    return img;
}

BMP_File PlainEmboss(const BMP_File& in) {
    auto lum = [](CColor24 p) { return int(std::trunc(0.3 * p.r + 0.59 * p.g + 0.11 * p.b)); };
    BMP_File out;
    out.Create(in.Width(), in.Height());
    for (int y = 0; y < in.Height(); ++y)
        for (int x = 0; x < in.Width(); ++x) {
            const int g = (lum(in.Pixel(x, y)) -
                           lum(in.Pixel(std::max(x - 3, 0), std::max(y - 3, 0))) + 255) /
                          2;
            out.Pixel(x, y) = CColor24(uint8_t(g), uint8_t(g), uint8_t(g));
        }
    return out;
}

// Through 32-bit buffers and three edge-replicated row buffers, as described.
BMP_File PlainErode(const BMP_File& in) {
    const int w = in.Width(), h = in.Height();
    const std::vector<uint8_t> src = in.ToBGRA();
    std::vector<uint8_t> dst(src.size());
    auto loadRow = [&](int y, std::vector<uint32_t>& row) {
        row.assign(size_t(w) + 2, 0);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &src[(size_t(y) * size_t(w) + size_t(x)) * 4];
            row[size_t(x) + 1] =
                uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
        row[0] = row[1];
        row[size_t(w) + 1] = row[size_t(w)];
    };
    auto intensity = [](uint32_t px) {
        const float b = float(px & 0xFF), g = float(px >> 8 & 0xFF), r = float(px >> 16 & 0xFF);
        return r * r + g * g + b * b;
    };
    std::vector<uint32_t> above, centre, below;
    for (int y = 0; y < h; ++y) {
        loadRow(y, below);
        loadRow(std::max(y - 1, 0), centre);
        loadRow(std::max(y - 2, 0), above);
        for (int x = 1; x <= w; ++x) {
            uint32_t best = centre[size_t(x)];
            const uint32_t order[8] = {above[size_t(x) - 1],  above[size_t(x)],
                                       above[size_t(x) + 1],  centre[size_t(x) - 1],
                                       centre[size_t(x) + 1], below[size_t(x) - 1],
                                       below[size_t(x)],      below[size_t(x) + 1]};
            for (uint32_t n : order)
                if (intensity(n) > intensity(best)) best = n;
            const uint32_t outPx = (best & 0xFFFFFF) | (centre[size_t(x)] & 0xFF000000);
            uint8_t* d = &dst[(size_t(y) * size_t(w) + size_t(x) - 1) * 4];
            d[0] = uint8_t(outPx);
            d[1] = uint8_t(outPx >> 8);
            d[2] = uint8_t(outPx >> 16);
            d[3] = uint8_t(outPx >> 24);
        }
    }
    BMP_File out;
    out.FromBGRA(w, h, dst.data());
    return out;
}

} // namespace

TEST(ConvolvePixel, CutWindowUsesTheKernelFromItsCorner) {
    // At (0, 0) of a 2 x 2 picture the elements (0,0), (1,0), (0,1), (1,1) are
    // used: 1*10 + 2*20 + 4*30 + 5*40 = 370, kernel sum 12, 370 / 12 = 30.
    BMP_File img;
    img.Create(2, 2);
    img.Pixel(0, 0) = CColor24(10, 0, 0);
    img.Pixel(1, 0) = CColor24(20, 0, 0);
    img.Pixel(0, 1) = CColor24(30, 0, 0);
    img.Pixel(1, 1) = CColor24(40, 0, 0);
    const Kernel3 k = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    EXPECT_EQ(ConvolvePixel(0, 0, k, img, 1.0f).r, 30);
    // At (1, 1) the cut window is the same four pixels.
    EXPECT_EQ(ConvolvePixel(1, 1, k, img, 1.0f).r, 30);
    // The factor scales before the division: trunc(370 * 0.5) / 12 = 15.
    EXPECT_EQ(ConvolvePixel(0, 0, k, img, 0.5f).r, 15);
    // A kernel summing to zero is not normalised.
    const Kernel3 z = {-1, 1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ConvolvePixel(0, 0, z, img, 1.0f).r, 10);
}

TEST(KernelFilters, UniformPicture) {
    const CColor24 v(100, 100, 100);
    for (const FilterCase& c : kCases) {
        BMP_File img = Uniform(6, 5, v);
        ApplyKernelFilter(img, c.f);
        if (c.invert) {
            EXPECT_EQ(img.Pixel(2, 2), CColor24(200, 200, 200)) << int(c.f);
        } else {
            EXPECT_TRUE(SameImage(img, Uniform(6, 5, v))) << int(c.f);
        }
    }
    // Contour at a corner: (8 - 3) * 100 / 5 = 100, then 200 - 100.
    BMP_File contour = Uniform(6, 5, v);
    ApplyKernelFilter(contour, KernelFilter::Contour);
    EXPECT_EQ(contour.Pixel(0, 0), CColor24(100, 100, 100));
    EXPECT_EQ(contour.Pixel(5, 4), CColor24(100, 100, 100));
}

TEST(KernelFilters, OnePixelAndPrewittBorders) {
    // 1 x 1: only the kernel's first element: -v / -1 = v, then 200 - v.
    BMP_File one = Uniform(1, 1, CColor24(50, 120, 230));
    ApplyKernelFilter(one, KernelFilter::Contour);
    EXPECT_EQ(one.Pixel(0, 0), CColor24(150, 80, 0));

    // Rows of 10, 40 and 70: the first and last rows use the kernel's top two
    // rows and divide by their sum -3; the middle row is the plain convolution.
    BMP_File img;
    img.Create(3, 3);
    for (int x = 0; x < 3; ++x) {
        img.Pixel(x, 0) = CColor24(10, 10, 10);
        img.Pixel(x, 1) = CColor24(40, 40, 40);
        img.Pixel(x, 2) = CColor24(70, 70, 70);
    }
    ApplyKernelFilter(img, KernelFilter::Prewitt);
    EXPECT_EQ(img.Pixel(1, 0).r, 190); // -30 / -3 = 10
    EXPECT_EQ(img.Pixel(1, 1).r, 20);  // -30 + 210 = 180
    EXPECT_EQ(img.Pixel(1, 2).r, 160); // -120 / -3 = 40
}

TEST(KernelFilters, FastFormMatchesPlainForm) {
    unsigned seed = 100;
    for (const FilterCase& c : kCases) {
        EXPECT_EQ(FilterKernel(c.f), (Kernel3{c.k[0], c.k[1], c.k[2], c.k[3], c.k[4], c.k[5],
                                              c.k[6], c.k[7], c.k[8]}));
        EXPECT_EQ(FilterInverts(c.f), c.invert);
        for (auto [w, h] : AwkwardSizes()) {
            const BMP_File in = RandomImage(w, h, ++seed);
            BMP_File out = in;
            ApplyKernelFilter(out, c.f);
            EXPECT_TRUE(SameImage(out, PlainKernelFilter(in, c.k, c.invert)))
                << "filter " << int(c.f) << " " << w << "x" << h;
        }
    }
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 7);
    BMP_File out = in;
    ApplyKernelFilter(out, KernelFilter::Sobel);
    EXPECT_TRUE(SameImage(out, PlainKernelFilter(in, kCases[4].k, true)));
}

TEST(Blur, RunsInPlace) {
    // Size 3 (radius 1) on 0, 30, 90: (0 + 30) / 2 = 15, then (15 + 30 + 90) / 3
    // = 45 with the blurred left neighbour, then (45 + 90) / 2 = 67.
    BMP_File row;
    row.Create(3, 1);
    row.Pixel(0, 0) = CColor24(0, 0, 0);
    row.Pixel(1, 0) = CColor24(30, 0, 0);
    row.Pixel(2, 0) = CColor24(90, 0, 0);
    Blur(row, 3);
    EXPECT_EQ(row.Pixel(0, 0).r, 15);
    EXPECT_EQ(row.Pixel(1, 0).r, 45);
    EXPECT_EQ(row.Pixel(2, 0).r, 67);

    BMP_File flat = Uniform(9, 7, CColor24(100, 100, 100));
    Blur(flat, 5);
    EXPECT_TRUE(SameImage(flat, Uniform(9, 7, CColor24(100, 100, 100))));
}

TEST(Blur, SmallAndBrokenSizesChangeNothing) {
    const BMP_File in = RandomImage(11, 6, 3);
    for (int size : {2, 1, 0, -1, -7, -100000}) {
        BMP_File out = in;
        Blur(out, size);
        EXPECT_TRUE(SameImage(out, in)) << size;
    }
}

TEST(Blur, RunningSumsMatchPlainForm) {
    unsigned seed = 200;
    for (int size : {3, 4, 5, 8, 13, 58})
        for (auto [w, h] : AwkwardSizes()) {
            const BMP_File in = RandomImage(w, h, ++seed);
            BMP_File out = in;
            Blur(out, size);
            EXPECT_TRUE(SameImage(out, PlainBlur(in, size))) << size << " " << w << "x" << h;
        }
    // A window far larger than the picture covers all of it.
    const BMP_File in = RandomImage(13, 9, 5);
    BMP_File out = in;
    Blur(out, 2000000001);
    EXPECT_TRUE(SameImage(out, PlainBlur(in, 41)));
}

TEST(Sharpen, BrightensInsideKeepsBorder) {
    BMP_File flat = Uniform(5, 4, CColor24(100, 100, 100));
    Sharpen(flat);
    EXPECT_EQ(flat.Pixel(2, 1), CColor24(250, 250, 250));
    EXPECT_EQ(flat.Pixel(2, 2), CColor24(250, 250, 250));
    EXPECT_EQ(flat.Pixel(0, 1), CColor24(100, 100, 100));
    EXPECT_EQ(flat.Pixel(2, 3), CColor24(100, 100, 100));
    EXPECT_EQ(flat.Pixel(4, 0), CColor24(100, 100, 100));

    // Reads the pixel below before it is changed: (6 * 10 - 100) / 2 = -20 -> 0.
    BMP_File col;
    col.Create(3, 3);
    col.Pixel(1, 1) = CColor24(10, 10, 10);
    col.Pixel(1, 2) = CColor24(100, 100, 100);
    Sharpen(col);
    EXPECT_EQ(col.Pixel(1, 1), CColor24(0, 0, 0));

    unsigned seed = 300;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, ++seed);
        BMP_File out = in;
        Sharpen(out);
        EXPECT_TRUE(SameImage(out, PlainSharpen(in))) << w << "x" << h;
    }
}

TEST(Emboss, FlatGreyAndPlainForm) {
    BMP_File flat = Uniform(7, 7, CColor24(30, 200, 90));
    Emboss(flat);
    EXPECT_TRUE(SameImage(flat, Uniform(7, 7, CColor24(127, 127, 127))));

    unsigned seed = 400;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, ++seed);
        BMP_File out = in;
        Emboss(out);
        EXPECT_TRUE(SameImage(out, PlainEmboss(in))) << w << "x" << h;
    }
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 8);
    BMP_File out = in;
    Emboss(out);
    EXPECT_TRUE(SameImage(out, PlainEmboss(in)));
}

TEST(Erode, BrightPixelSpreadsOneRowDown) {
    BMP_File img;
    img.Create(12, 12);
    img.Pixel(5, 5) = CColor24(200, 10, 10);
    Erode(img);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inBlock = x >= 4 && x <= 6 && y >= 5 && y <= 7;
            EXPECT_EQ(img.Pixel(x, y), inBlock ? CColor24(200, 10, 10) : CColor24(0, 0, 0))
                << x << "," << y;
        }

    // Ties keep the first candidate in the visiting order (centre first).
    BMP_File tie;
    tie.Create(3, 3);
    tie.Pixel(0, 0) = CColor24(0, 0, 100); // above-left of output (1, 2)
    tie.Pixel(2, 1) = CColor24(100, 0, 0); // right of centre, same intensity
    Erode(tie);
    EXPECT_EQ(tie.Pixel(1, 2), CColor24(0, 0, 100));
}

TEST(Erode, FastFormMatchesPlainForm) {
    unsigned seed = 500;
    for (auto [w, h] : AwkwardSizes()) {
        const BMP_File in = RandomImage(w, h, ++seed);
        BMP_File out = in;
        Erode(out);
        EXPECT_TRUE(SameImage(out, PlainErode(in))) << w << "x" << h;
    }
    const auto [w, h] = ThreadedSize();
    const BMP_File in = RandomImage(w, h, 9);
    BMP_File out = in;
    Erode(out);
    EXPECT_TRUE(SameImage(out, PlainErode(in)));
}
