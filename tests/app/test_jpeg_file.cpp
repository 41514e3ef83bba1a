// JPEG files go to libjpeg directly; FreeImage read and wrote them before. The
// pixels of every kind of file and the bytes of every saved picture must stay
// what FreeImage made of them, which these tests take from FreeImage itself.

#include "app/image_files.h"
#include "app/jpeg_file.h"
#include "tests/app/file_test_util.h"
#include "tests/app/freeimage_reference.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

using file_test::DamagedLoad;
using file_test::ExpectFreeImageWriterBytes;
using file_test::ExpectLoadedAsTheReference;
using file_test::FirstDifference;
using file_test::LoadDamaged;
using file_test::ReadAll;
using file_test::TempDir;
using file_test::WriteAll;

struct JpegKind {
    const char* name;
    int width, height;
    int components; // of the input rows: 1 grey, 3 RGB, 4 CMYK
    J_COLOR_SPACE in, stored;
    int hSample = 1, vSample = 1; // of the first component
    bool progressive = false;
    bool adobeMarker = true;
    int restartRows = 0;
    bool optimize = false;
    bool arithmetic = false;
    int quality = 90;
};

// Smooth shapes with grain, like a photograph: every transform and upsampling
// difference shows somewhere.
uint8_t Sample(int x, int y, int c, unsigned& seed) {
    seed = seed * 1103515245u + 12345u;
    const int grain = int((seed >> 16) % 23) - 11;
    const int base = ((x * 7 + y * 3 + c * 60) & 255) ^ (((x / 9 + y / 7) & 1) ? 0x40 : 0);
    return uint8_t(std::clamp(base + grain, 0, 255));
}

std::vector<uint8_t> MakeJpeg(const JpegKind& k) {
    jpeg_compress_struct c;
    jpeg_error_mgr e;
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(k.width);
    c.image_height = JDIMENSION(k.height);
    c.input_components = k.components;
    c.in_color_space = k.in;
    jpeg_set_defaults(&c);
    jpeg_set_colorspace(&c, k.stored);
    jpeg_set_quality(&c, k.quality, TRUE);
    c.comp_info[0].h_samp_factor = k.hSample;
    c.comp_info[0].v_samp_factor = k.vSample;
    c.write_Adobe_marker = k.adobeMarker;
    c.restart_in_rows = k.restartRows;
    c.optimize_coding = k.optimize;
    c.arith_code = k.arithmetic;
    if (k.progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(k.width) * size_t(k.components));
    unsigned seed = 7;
    for (int y = 0; y < k.height; ++y) {
        for (int x = 0; x < k.width; ++x)
            for (int ch = 0; ch < k.components; ++ch)
                row[size_t(x) * k.components + ch] = Sample(x, y, ch, seed);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::vector<uint8_t> bytes(out, out + size);
    std::free(out);
    return bytes;
}

// What FreeImage makes of a file, as 24-bit rows top first (red, green, blue);
// false when it cannot load it.
bool FreeImagePixels(const std::string& path, BMP_File& out) {
    InitFreeImageOnce();
    FIBITMAP* dib = FreeImage_Load(FIF_JPEG, path.c_str(), 0);
    if (!dib) return false;
    FIBITMAP* rgb = FreeImage_ConvertTo24Bits(dib);
    FreeImage_Unload(dib);
    if (!rgb) return false;
    const int w = int(FreeImage_GetWidth(rgb)), h = int(FreeImage_GetHeight(rgb));
    out.Create(w, h);
    for (int y = 0; y < h; ++y) {
        const BYTE* line = FreeImage_GetScanLine(rgb, h - 1 - y);
        for (int x = 0; x < w; ++x)
            out.Pixel(x, y) = CColor24(line[3 * x + FI_RGBA_RED], line[3 * x + FI_RGBA_GREEN],
                                       line[3 * x + FI_RGBA_BLUE]);
    }
    FreeImage_Unload(rgb);
    return true;
}

const std::vector<JpegKind>& Kinds() {
    static const std::vector<JpegKind> kinds = {
        {"baseline420", 123, 77, 3, JCS_RGB, JCS_YCbCr, 2, 2},
        {"baseline444", 123, 77, 3, JCS_RGB, JCS_YCbCr, 1, 1},
        {"baseline422", 97, 45, 3, JCS_RGB, JCS_YCbCr, 2, 1},
        {"baseline440", 45, 97, 3, JCS_RGB, JCS_YCbCr, 1, 2},
        {"baseline411", 130, 33, 3, JCS_RGB, JCS_YCbCr, 4, 1},
        {"progressive420", 123, 77, 3, JCS_RGB, JCS_YCbCr, 2, 2, true},
        {"progressive444", 66, 131, 3, JCS_RGB, JCS_YCbCr, 1, 1, true},
        {"grey", 101, 59, 1, JCS_GRAYSCALE, JCS_GRAYSCALE},
        {"progressiveGrey", 59, 101, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, 1, 1, true},
        {"cmykAdobe", 77, 51, 4, JCS_CMYK, JCS_CMYK},
        {"cmykPlain", 77, 51, 4, JCS_CMYK, JCS_CMYK, 1, 1, false, false},
        {"ycck", 80, 40, 4, JCS_CMYK, JCS_YCCK, 2, 2},
        {"progressiveCmyk", 40, 80, 4, JCS_CMYK, JCS_CMYK, 1, 1, true},
        {"rgbStored", 64, 48, 3, JCS_RGB, JCS_RGB},
        {"restarts", 200, 120, 3, JCS_RGB, JCS_YCbCr, 2, 2, false, true, 2},
        {"optimized", 150, 90, 3, JCS_RGB, JCS_YCbCr, 2, 2, false, true, 0, true},
        {"arithmetic", 150, 90, 3, JCS_RGB, JCS_YCbCr, 2, 2, false, true, 0, false, true},
        {"onePixel", 1, 1, 3, JCS_RGB, JCS_YCbCr, 2, 2},
        {"oddTiny", 3, 5, 3, JCS_RGB, JCS_YCbCr, 2, 2, true},
        {"lowQuality", 160, 100, 3, JCS_RGB, JCS_YCbCr, 2, 2, false, true, 0, false, false, 20},
        {"bestQuality", 160, 100, 3, JCS_RGB, JCS_YCbCr, 1, 1, false, true, 0, false, false, 100},
    };
    return kinds;
}

TEST(JpegFiles, EveryKindDecodesToFreeImagesPixels) {
    TempDir dir;
    for (const JpegKind& k : Kinds()) {
        const std::string path = dir / (std::string(k.name) + ".jpg");
        WriteAll(path, MakeJpeg(k));
        BMP_File expected, ours;
        ASSERT_TRUE(FreeImagePixels(path, expected)) << k.name;
        std::string message, reason;
        ASSERT_TRUE(LoadImageFile(path, ours, &message, &reason)) << k.name << ": " << reason;
        EXPECT_EQ(FirstDifference(ours, expected), "") << k.name;
    }
}

TEST(JpegFiles, DamagedFilesLoadOrFailAsFreeImageDid) {
    // Cut-off files decode as far as their data goes (the rest grey), and a
    // cut-off progressive file also smooths the blocks it has only coarse
    // scans of; files without a picture fail. Whatever FreeImage did with
    // each, the direct decoder does the same, and says nothing on standard
    // error about it.
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const JpegKind* k : {&Kinds()[0], &Kinds()[5], &Kinds()[7], &Kinds()[9]}) {
        const std::vector<uint8_t> whole = MakeJpeg(*k);
        for (size_t keep : {size_t(2), size_t(40), size_t(300), whole.size() / 3, whole.size() / 2,
                            whole.size() - 2}) {
            files.emplace_back(std::string(k->name) + "-cut" + std::to_string(keep) + ".jpg",
                               std::vector<uint8_t>(whole.begin(), whole.begin() + keep));
        }
        // Garbage in the middle of the entropy-coded data.
        std::vector<uint8_t> garbled = whole;
        for (size_t i = whole.size() / 2; i < whole.size() / 2 + 40; ++i) garbled[i] ^= 0x5A;
        files.emplace_back(std::string(k->name) + "-garbled.jpg", garbled);
    }
    files.emplace_back("empty.jpg", std::vector<uint8_t>{});
    files.emplace_back("markerOnly.jpg", std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xD9});
    for (const auto& [name, bytes] : files) {
        const std::string path = dir / name;
        WriteAll(path, bytes);
        const DamagedLoad r =
            LoadDamaged(path, [](const std::string& p, BMP_File& out, std::string*, std::string*) {
                return FreeImagePixels(p, out);
            });
        EXPECT_EQ(r.standardError, "") << name;
        ExpectLoadedAsTheReference(r, name);
        if (!r.loaded) {
            EXPECT_FALSE(r.message.empty()) << name;
        }
    }
}

TEST(JpegFiles, AJpegUnderAnotherExtensionAndAnotherFormatUnderJpgStillLoad) {
    // The content decides the decoder, not the name.
    TempDir dir;
    const std::vector<uint8_t> jpeg = MakeJpeg(Kinds()[0]);
    WriteAll(dir / "photo.png", jpeg);
    BMP_File fromPng, expected;
    std::string message, reason;
    ASSERT_TRUE(LoadImageFile(dir / "photo.png", fromPng, &message, &reason)) << reason;
    WriteAll(dir / "photo.jpg", jpeg);
    ASSERT_TRUE(FreeImagePixels(dir / "photo.jpg", expected));
    EXPECT_EQ(FirstDifference(fromPng, expected), "");

    BMP_File picture;
    picture.Create(9, 7);
    picture.Pixel(3, 4) = CColor24(200, 10, 30);
    ASSERT_TRUE(SaveImageFile(dir / "real.png", picture, &message)) << message;
    std::rename((dir / "real.png").c_str(), (dir / "disguised.jpg").c_str());
    BMP_File back;
    ASSERT_TRUE(LoadImageFile(dir / "disguised.jpg", back, &message, &reason)) << reason;
    EXPECT_TRUE(back.SameAs(picture));
}

TEST(JpegFiles, SavedBytesAreFreeImagesDefaultJpeg) {
    // Stripped of metadata, the file is exactly what FreeImage's default JPEG
    // writer made of the same picture: same quality, subsampling, transform
    // and header.
    TempDir dir;
    InitFreeImageOnce();
    for (const auto& [w, h] : {std::pair{1, 1}, {2, 3}, {17, 9}, {131, 67}, {640, 33}}) {
        BMP_File picture;
        picture.CreateUninitialized(w, h);
        unsigned seed = unsigned(w * 31 + h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                picture.Pixel(x, y) =
                    CColor24(Sample(x, y, 0, seed), Sample(x, y, 1, seed), Sample(x, y, 2, seed));
        ExpectFreeImageWriterBytes(picture, dir / "ours.jpg", FIF_JPEG, JPEG_DEFAULT,
                                   [](const BMP_File& p, std::vector<uint8_t>& out,
                                      std::string& why) { return EncodeJpeg(p, out, why); });
    }
}

TEST(JpegFiles, SavedWithMetadataTheSamePixelsComeBack) {
    // The metadata goes into the encoded bytes; the picture stays the one a
    // stripped save writes.
    TempDir dir;
    BMP_File picture;
    picture.CreateUninitialized(211, 97);
    unsigned seed = 3;
    for (int y = 0; y < 97; ++y)
        for (int x = 0; x < 211; ++x)
            picture.Pixel(x, y) =
                CColor24(Sample(x, y, 0, seed), Sample(x, y, 1, seed), Sample(x, y, 2, seed));
    std::string message;
    SaveOptions strip;
    strip.strip = true;
    ASSERT_TRUE(SaveImageFile(dir / "plain.jpg", picture, &message, strip)) << message;
    ASSERT_TRUE(SaveImageFile(dir / "tagged.jpg", picture, &message)) << message;
    EXPECT_GT(ReadAll(dir / "tagged.jpg").size(), ReadAll(dir / "plain.jpg").size());
    BMP_File plain, tagged;
    ASSERT_TRUE(LoadImageFile(dir / "plain.jpg", plain));
    ASSERT_TRUE(LoadImageFile(dir / "tagged.jpg", tagged));
    EXPECT_TRUE(plain.SameAs(tagged));
    ImageMetadata metadata = ReadImageMetadata(dir / "tagged.jpg");
    EXPECT_FALSE(metadata.Empty());
}

} // namespace
