// The image buffer: spare pixel, BMP layout, hostile headers and the
// conversions to and from the 32-bit and 24-bit buffers.

#include "app/bmp_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>

namespace {

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// A 24-bit BMP written by hand: rows as given (first row in the file first).
std::vector<uint8_t> HandBmp(int32_t w, int32_t h, uint16_t bits = 24) {
    const int aw = w < 0 ? -w : w, ah = h < 0 ? -h : h;
    const size_t row = (size_t(aw) * 3 + 3) / 4 * 4;
    std::vector<uint8_t> b(54 + row * size_t(ah), 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, uint32_t(w));
    Put32(b, 22, uint32_t(h));
    b[26] = 1;
    b[28] = uint8_t(bits);
    for (int y = 0; y < ah; ++y)
        for (int x = 0; x < aw; ++x) {
            uint8_t* p = &b[54 + size_t(y) * row + size_t(x) * 3];
            p[0] = uint8_t(10 * x);      // blue
            p[1] = uint8_t(100 + y);     // green
            p[2] = uint8_t(200 + x + y); // red
        }
    return b;
}

BMP_File RandomImage(int w, int h, unsigned seed) {
    BMP_File img;
    img.Create(w, h);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng());
    return img;
}

} // namespace

TEST(BmpFile, SparePixelAbsorbsOutOfRangeAccess) {
    BMP_File img;
    ASSERT_TRUE(img.Create(3, 2));
    EXPECT_EQ(img.PixelBytes(), 18u);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(img.Pixel(x, y), CColor24()) << "new images are black";
    img.Pixel(3, 0) = CColor24(1, 2, 3);
    img.Pixel(-1, 0) = CColor24(4, 5, 6);
    img.Pixel(0, 2) = CColor24(7, 8, 9);
    img.Pixel(INT_MIN, INT_MAX) = CColor24(7, 8, 9);
    EXPECT_EQ(&img.Pixel(3, 0), &img.Pixel(0, -1));
    for (size_t i = 0; i < img.PixelBytes(); ++i) EXPECT_EQ(img.Bytes()[i], 0) << "byte " << i;
    img.Pixel(2, 1) = CColor24(0x11, 0x22, 0x33);
    EXPECT_EQ(img.PackedColor(2, 1), 0x332211u) << "red in the lowest byte";
    EXPECT_EQ(img.Bytes()[15], 0x11);
    EXPECT_EQ(img.Bytes()[17], 0x33);
}

TEST(BmpFile, CreateRefusesImpossibleSizes) {
    BMP_File img;
    EXPECT_FALSE(img.Create(-1, 5));
    EXPECT_TRUE(img.Empty());
    EXPECT_FALSE(img.Create(1 << 20, 1 << 20));
    EXPECT_TRUE(img.Create(0, 7));
    EXPECT_TRUE(img.Empty());
    EXPECT_EQ(img.Height(), 0);
}

TEST(BmpFile, OnePixelFileLayout) {
    BMP_File img;
    img.Create(1, 1);
    img.Pixel(0, 0) = CColor24(0xAA, 0xBB, 0xCC);
    const auto b = img.EncodeBMP();
    ASSERT_EQ(b.size(), 58u);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(Get32(b, 2), 58u);
    EXPECT_EQ(Get32(b, 6), 0u);
    EXPECT_EQ(Get32(b, 10), 54u);
    EXPECT_EQ(Get32(b, 14), 40u);
    EXPECT_EQ(Get32(b, 18), 1u);
    EXPECT_EQ(Get32(b, 22), 1u);
    EXPECT_EQ(b[26] | b[27] << 8, 1);
    EXPECT_EQ(b[28] | b[29] << 8, 24);
    EXPECT_EQ(Get32(b, 30), 0u);
    EXPECT_EQ(Get32(b, 34), 4u);
    EXPECT_EQ(Get32(b, 38), 2834u);
    EXPECT_EQ(Get32(b, 42), 2834u);
    EXPECT_EQ(Get32(b, 46), 0u);
    EXPECT_EQ(Get32(b, 50), 0u);
    EXPECT_EQ(b[54], 0xCC) << "blue first";
    EXPECT_EQ(b[55], 0xBB);
    EXPECT_EQ(b[56], 0xAA);
    EXPECT_EQ(b[57], 0) << "row padded with zero";
}

TEST(BmpFile, RowsAreBottomUpAndRoundTrip) {
    for (int w : {1, 2, 3, 4, 5, 17}) {
        BMP_File img = RandomImage(w, 3, unsigned(w));
        const auto bytes = img.EncodeBMP();
        const size_t row = (size_t(w) * 3 + 3) / 4 * 4;
        // The file's first row is the image's bottom row.
        EXPECT_EQ(bytes[54], img.Pixel(0, 2).b);
        EXPECT_EQ(bytes[54 + row + 2], img.Pixel(0, 1).r);
        BMP_File back;
        ASSERT_TRUE(back.DecodeBMP(bytes));
        EXPECT_TRUE(back.SameAs(img)) << "width " << w;
    }
}

TEST(BmpFile, NegativeHeightIsStillReadBottomUp) {
    const auto file = HandBmp(2, -3);
    BMP_File img;
    ASSERT_TRUE(img.DecodeBMP(file));
    ASSERT_EQ(img.Width(), 2);
    ASSERT_EQ(img.Height(), 3);
    // File row 0 (green 100) is the bottom image row.
    EXPECT_EQ(img.Pixel(1, 2), CColor24(201, 100, 10));
    EXPECT_EQ(img.Pixel(0, 0), CColor24(202, 102, 0));
    BMP_File neg;
    ASSERT_TRUE(neg.DecodeBMP(HandBmp(-2, 3)));
    EXPECT_TRUE(neg.SameAs(img)) << "a negative width is its absolute value";
}

TEST(BmpFile, RefusesHostileOrUnsupportedHeaders) {
    BMP_File img = RandomImage(2, 2, 1);
    const BMP_File before = img;
    auto refused = [&](std::vector<uint8_t> file, const char* why) {
        EXPECT_FALSE(img.DecodeBMP(file)) << why;
        EXPECT_TRUE(img.SameAs(before)) << why << ": image changed";
    };
    refused(HandBmp(2, 2, 8), "8-bit");
    refused(HandBmp(2, 2, 32), "32-bit");
    auto f = HandBmp(2, 2);
    f[0] = 'M';
    refused(f, "signature");
    f = HandBmp(2, 2);
    f.resize(53);
    refused(f, "short header");
    f = HandBmp(2, 2);
    f.resize(f.size() - 1);
    refused(f, "pixels past the end of the file");
    f = HandBmp(2, 2);
    Put32(f, 22, 100000);
    refused(f, "height larger than the file");
    f = HandBmp(2, 2);
    Put32(f, 18, 0x7FFFFFFF);
    Put32(f, 22, 0x7FFFFFFF);
    refused(f, "absurd size");
    f = HandBmp(2, 2);
    Put32(f, 18, 0x80000000u);
    refused(f, "most negative width");
    f = HandBmp(2, 2);
    Put32(f, 30, 1);
    refused(f, "compressed");
    f = HandBmp(2, 2);
    Put32(f, 10, 0xFFFFFFF0u);
    refused(f, "pixel offset beyond the file");
    f = HandBmp(2, 2);
    Put32(f, 14, 0xFFFFFFF0u);
    refused(f, "header size beyond the file");
}

TEST(BmpFile, PixelOffsetIsHonoured) {
    // A larger information header moves the pixel rows; they are read where the
    // file header says they start.
    auto base = HandBmp(3, 2);
    std::vector<uint8_t> f(base.begin(), base.begin() + 54);
    Put32(f, 14, 108);
    Put32(f, 10, 14 + 108);
    f.resize(14 + 108, 0);
    f.insert(f.end(), base.begin() + 54, base.end());
    BMP_File a, b;
    ASSERT_TRUE(a.DecodeBMP(base));
    ASSERT_TRUE(b.DecodeBMP(f));
    EXPECT_TRUE(a.SameAs(b));
}

TEST(BmpFile, FileRoundTripAndMissingFile) {
    BMP_File img = RandomImage(7, 5, 3);
    const std::string path = ::testing::TempDir() + "/pellorin_bmp_roundtrip.bmp";
    ASSERT_TRUE(img.SaveBMP(path));
    BMP_File back;
    ASSERT_TRUE(back.LoadBMP(path));
    EXPECT_TRUE(back.SameAs(img));
    std::remove(path.c_str());
    EXPECT_FALSE(back.LoadBMP(path));
    EXPECT_TRUE(back.SameAs(img));
    EXPECT_FALSE(img.SaveBMP("/nonexistent-folder/x.bmp"));
}

TEST(BmpFile, BufferConversions) {
    BMP_File img = RandomImage(5, 3, 9);
    const auto bgra = img.ToBGRA();
    ASSERT_EQ(bgra.size(), 5u * 3u * 4u);
    const size_t i = (2 * 5 + 4) * 4; // pixel (4, 2)
    EXPECT_EQ(bgra[i], img.Pixel(4, 2).b);
    EXPECT_EQ(bgra[i + 1], img.Pixel(4, 2).g);
    EXPECT_EQ(bgra[i + 2], img.Pixel(4, 2).r);
    EXPECT_EQ(bgra[i + 3], 255);
    auto modified = bgra;
    for (size_t k = 3; k < modified.size(); k += 4) modified[k] = 7; // alpha is ignored
    BMP_File back;
    ASSERT_TRUE(back.FromBGRA(5, 3, modified.data()));
    EXPECT_TRUE(back.SameAs(img));

    const PixelBuffer b24 = img.To24BitBitmap();
    EXPECT_EQ(b24.stride, 16u);
    EXPECT_EQ(b24.data[16 * 2 + 3 * 4 + 2], img.Pixel(4, 2).r);
    BMP_File from24, from32;
    ASSERT_TRUE(from24.FromBitmap(b24));
    ASSERT_TRUE(from32.FromBitmap(img.To32BitBitmap()));
    EXPECT_TRUE(from24.SameAs(img));
    EXPECT_TRUE(from32.SameAs(img));

    PixelBuffer bad = b24;
    bad.data.resize(bad.data.size() - 2); // the last row needs no padding, but all its pixels
    EXPECT_FALSE(from24.FromBitmap(bad)) << "a buffer too small for its size is refused";
    bad = b24;
    bad.bytesPerPixel = 2;
    EXPECT_FALSE(from24.FromBitmap(bad));
}

TEST(BmpFile, DeviceBitmapPadsWithTheSparePixel) {
    BMP_File img = RandomImage(5, 2, 4);
    img.SparePixel() = CColor24(1, 2, 3);
    const PixelBuffer d = img.ToDeviceBitmap();
    EXPECT_EQ(d.stride, 8u * 3u);
    EXPECT_EQ(d.data[0], img.Pixel(0, 0).b);
    EXPECT_EQ(d.data[d.stride + 3 * 4 + 2], img.Pixel(4, 1).r);
    for (int x = 5; x < 8; ++x) {
        EXPECT_EQ(d.data[3 * x], 3);
        EXPECT_EQ(d.data[3 * x + 2], 1);
    }
}

TEST(BmpFile, CloneIsDeepAndMoveEmptiesTheSource) {
    BMP_File img = RandomImage(4, 4, 5);
    BMP_File copy = img.Clone();
    copy.Pixel(0, 0) = CColor24(img.Pixel(0, 0).r ^ 0xFF, 0, 0);
    EXPECT_FALSE(copy.SameAs(img));
    BMP_File moved = std::move(img);
    EXPECT_TRUE(img.Empty());
    EXPECT_EQ(img.Width(), 0);
    EXPECT_EQ(moved.Width(), 4);
}
