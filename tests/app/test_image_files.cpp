// Loading and saving still images by extension: round trips of every format,
// conversions to 24 bits, the messages of failed loads, and saves that fail
// without touching an existing file or leaving temporaries behind.

#include "app/image_files.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        char templ[] = "/tmp/pellorin-files-XXXXXX";
        path = ::mkdtemp(templ);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(path)) names.insert(e.path().filename());
        return names;
    }
};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A picture with smooth gradients, edges and a disc: what photographs and
// drawings have, and what a lossy codec keeps close.
BMP_File Picture(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int dx = x - w / 2, dy = y - h / 3;
            const bool disc = dx * dx + dy * dy < (w * w) / 16;
            img.Pixel(x, y) = CColor24(uint8_t(x * 255 / w), uint8_t(disc ? 230 : y * 200 / h),
                                       uint8_t(x < w / 4 ? 40 : 160));
        }
    return img;
}

// Pseudo-random pixels: no codec squeezes this much.
BMP_File Noise(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    uint32_t s = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            s = s * 1664525u + 1013904223u;
            img.Pixel(x, y) = CColor24(uint8_t(s >> 24), uint8_t(s >> 16), uint8_t(s >> 8));
        }
    return img;
}

bool StartsWith(const std::vector<uint8_t>& f, std::string_view magic) {
    return f.size() >= magic.size() && std::memcmp(f.data(), magic.data(), magic.size()) == 0;
}

TEST(ImageFileRoundTrip, LosslessFormatsAreExact) {
    TempDir dir;
    const BMP_File img = Picture(97, 61);
    struct Format {
        const char* name;
        std::string_view magic;
    };
    for (const Format& f :
         {Format{"a.png", "\x89PNG"}, Format{"a.bmp", "BM"}, Format{"a.tif", ""},
          Format{"a.tga", ""}, Format{"a.ico", std::string_view("\0\0\1\0", 4)}}) {
        const std::string path = dir / f.name;
        std::string msg;
        ASSERT_TRUE(SaveImageFile(path, img, &msg)) << f.name << ": " << msg;
        const std::vector<uint8_t> bytes = ReadAll(path);
        EXPECT_TRUE(StartsWith(bytes, f.magic)) << f.name;
        // Into a fresh image and into one of the same size holding another picture.
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(path, back, &msg)) << f.name << ": " << msg;
        EXPECT_TRUE(back.SameAs(img)) << f.name;
        back = Noise(97, 61);
        ASSERT_TRUE(LoadImageFile(path, back, &msg)) << f.name << ": " << msg;
        EXPECT_TRUE(back.SameAs(img)) << f.name << " into a used image";
    }
    // TIFF starts with a byte-order mark; TARGA has type 2 (true colour) at 2.
    const std::vector<uint8_t> tif = ReadAll(dir / "a.tif");
    EXPECT_TRUE(StartsWith(tif, "II*") || StartsWith(tif, "MM\0*"));
    const std::vector<uint8_t> tga = ReadAll(dir / "a.tga");
    ASSERT_GT(tga.size(), 18u);
    EXPECT_TRUE(tga[2] == 2 || tga[2] == 10);
}

TEST(ImageFileRoundTrip, LossyAndPaletteFormats) {
    TempDir dir;
    const BMP_File img = Picture(160, 120);
    std::string msg;
    ASSERT_TRUE(SaveImageFile(dir / "a.jpg", img, &msg)) << msg;
    EXPECT_TRUE(StartsWith(ReadAll(dir / "a.jpg"), "\xFF\xD8"));
    BMP_File back;
    ASSERT_TRUE(LoadImageFile(dir / "a.jpg", back, &msg)) << msg;
    ASSERT_EQ(back.Width(), 160);
    ASSERT_EQ(back.Height(), 120);
    double sum = 0;
    for (size_t i = 0; i < img.PixelBytes(); ++i) sum += std::abs(img.Bytes()[i] - back.Bytes()[i]);
    EXPECT_LT(sum / double(img.PixelBytes()), 4.0) << "mean error per channel";

    // A picture of eight colours fits a GIF palette, so it comes back exactly.
    BMP_File few;
    few.Create(64, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 64; ++x) {
            const int k = (x / 8 + y / 10) % 8;
            few.Pixel(x, y) = CColor24(k & 1 ? 250 : 10, k & 2 ? 200 : 30, k & 4 ? 180 : 60);
        }
    ASSERT_TRUE(SaveImageFile(dir / "a.gif", few, &msg)) << msg;
    EXPECT_TRUE(StartsWith(ReadAll(dir / "a.gif"), "GIF8"));
    ASSERT_TRUE(LoadImageFile(dir / "a.gif", back, &msg)) << msg;
    EXPECT_TRUE(back.SameAs(few));
}

TEST(ImageFileRoundTrip, UpperCaseExtensions) {
    TempDir dir;
    const BMP_File img = Picture(20, 10);
    for (const char* name : {"PIC.PNG", "PIC.BMP", "Pic.Tif", "PIC.ICO", "PIC.JPG"}) {
        std::string msg;
        ASSERT_TRUE(SaveImageFile(dir / name, img, &msg)) << name << ": " << msg;
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(dir / name, back, &msg)) << name << ": " << msg;
        EXPECT_EQ(back.Width(), 20) << name;
        if (std::string(name) != "PIC.JPG") {
            EXPECT_TRUE(back.SameAs(img)) << name;
        }
    }
    EXPECT_TRUE(StartsWith(ReadAll(dir / "PIC.PNG"), "\x89PNG"));
}

// Writes a FreeImage bitmap made by `fill` (x, y top-first, pixel pointer).
template <class Fill>
void WriteWithFreeImage(const std::string& path, FREE_IMAGE_FORMAT fif, int w, int h, int bpp,
                        Fill fill) {
    InitFreeImageOnce();
    FIBITMAP* dib = FreeImage_Allocate(w, h, bpp);
    ASSERT_NE(dib, nullptr);
    if (bpp == 8) {
        RGBQUAD* pal = FreeImage_GetPalette(dib);
        for (int i = 0; i < 256; ++i) pal[i].rgbRed = pal[i].rgbGreen = pal[i].rgbBlue = BYTE(i);
    }
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x) fill(x, y, line + x * (bpp / 8));
    }
    ASSERT_TRUE(FreeImage_Save(fif, dib, path.c_str(), 0));
    FreeImage_Unload(dib);
}

TEST(ImageFileLoad, OtherDepthsLoadAs24BitColour) {
    TempDir dir;
    // 32 bits with every alpha, 0 included: the colour survives, alpha goes.
    WriteWithFreeImage(dir / "alpha.png", FIF_PNG, 19, 16, 32, [](int x, int y, BYTE* p) {
        p[FI_RGBA_RED] = BYTE(x * 13);
        p[FI_RGBA_GREEN] = BYTE(y * 16);
        p[FI_RGBA_BLUE] = 99;
        p[FI_RGBA_ALPHA] = BYTE((x + y * 16) % 3 == 0 ? 0 : x * y);
    });
    BMP_File img;
    std::string msg;
    ASSERT_TRUE(LoadImageFile(dir / "alpha.png", img, &msg)) << msg;
    ASSERT_EQ(img.Width(), 19);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 19; ++x)
            ASSERT_EQ(img.Pixel(x, y), CColor24(uint8_t(x * 13), uint8_t(y * 16), 99))
                << x << "," << y;

    // Greyscale.
    WriteWithFreeImage(dir / "grey.png", FIF_PNG, 5, 3, 8,
                       [](int x, int y, BYTE* p) { *p = BYTE(x * 50 + y); });
    ASSERT_TRUE(LoadImageFile(dir / "grey.png", img, &msg)) << msg;
    EXPECT_EQ(img.Pixel(4, 2), CColor24(202, 202, 202));
    EXPECT_EQ(img.Pixel(0, 0), CColor24(0, 0, 0));

    // A palette BMP is still a BMP file.
    WriteWithFreeImage(dir / "grey.bmp", FIF_BMP, 5, 3, 8,
                       [](int x, int y, BYTE* p) { *p = BYTE(x * 50 + y); });
    ASSERT_TRUE(LoadImageFile(dir / "grey.bmp", img, &msg)) << msg;
    EXPECT_EQ(img.Pixel(3, 1), CColor24(151, 151, 151));
}

TEST(ImageFileLoad, TopDownBmpIsUpright) {
    // 2 x 2, 24 bits, height -2: the first row in the file is the top row.
    std::vector<uint8_t> f(54 + 16, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
    };
    f[0] = 'B';
    f[1] = 'M';
    put32(2, uint32_t(f.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, 2);
    put32(22, uint32_t(-2));
    f[26] = 1;
    f[28] = 24;
    const uint8_t rows[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    std::memcpy(&f[54], rows, 16);
    TempDir dir;
    WriteAll(dir / "td.bmp", f);
    BMP_File img;
    std::string msg;
    ASSERT_TRUE(LoadImageFile(dir / "td.bmp", img, &msg)) << msg;
    EXPECT_EQ(img.Pixel(0, 0), CColor24(3, 2, 1));
    EXPECT_EQ(img.Pixel(1, 0), CColor24(6, 5, 4));
    EXPECT_EQ(img.Pixel(0, 1), CColor24(9, 8, 7));
}

TEST(ImageFileErrors, LoadFailuresAreReportedAndKeepTarget) {
    TempDir dir;
    const BMP_File before = Picture(3, 3);
    auto expectFailure = [&](const std::string& name, const char* exact) {
        BMP_File target = before;
        std::string msg;
        EXPECT_FALSE(LoadImageFile(dir / name, target, &msg)) << name;
        if (exact)
            EXPECT_EQ(msg, exact) << name;
        else
            EXPECT_FALSE(msg.empty()) << name;
        EXPECT_TRUE(target.SameAs(before)) << name;
    };
    const std::vector<uint8_t> junk = {'I', 'I', '*', 0, 8, 0, 0, 0, 0xFF, 0xFF, 1, 2, 3};
    WriteAll(dir / "bad.tif", junk);
    expectFailure("bad.tif", "Unable load file (bad format)");
    WriteAll(dir / "bad.psd", {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0});
    expectFailure("bad.psd", "Unable load file (bad format)");
    expectFailure("missing.tga", "Unable load file (bad format)");

    WriteAll(dir / "a.xyz", junk);
    expectFailure("a.xyz", "Unknown File Format!");
    WriteAll(dir / "a.jpeg", junk); // the extension is the last three characters
    expectFailure("a.jpeg", "Unknown File Format!");
    expectFailure("a", "Unknown File Format!");

    WriteAll(dir / "bad.png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0});
    expectFailure("bad.png", nullptr);
    WriteAll(dir / "bad.jpg", {0xFF, 0xD8, 0xFF, 0xE0, 0, 0x10});
    expectFailure("bad.jpg", nullptr);
    WriteAll(dir / "bad.bmp", {'B', 'M', 1, 2, 3});
    expectFailure("bad.bmp", nullptr);
    expectFailure("missing.png", nullptr);
    expectFailure("missing.ico", nullptr);
}

TEST(ImageFileErrors, FormatsByExtension) {
    for (const char* p :
         {"a.png", "a.jpg", "a.gif", "a.bmp", "a.tif", "a.tga", "a.ico", "B.PSD", "b.pcd"})
        EXPECT_TRUE(IsLoadableStillImage(p)) << p;
    for (const char* p : {"a.avi", "a.jpeg", "a.tiff", "a.txt", "ng"})
        EXPECT_FALSE(IsLoadableStillImage(p)) << p;
    for (const char* p : {"a.png", "a.JPG", "a.gif", "a.bmp", "a.tif", "a.tga", "a.ico"})
        EXPECT_TRUE(IsSavableStillImage(p)) << p;
    for (const char* p : {"a.psd", "a.pcd", "a.avi", "a.jpeg"})
        EXPECT_FALSE(IsSavableStillImage(p)) << p;

    TempDir dir;
    std::string msg;
    EXPECT_FALSE(SaveImageFile(dir / "a.psd", Picture(4, 4), &msg));
    EXPECT_EQ(msg, "Unknown File Format!");
    EXPECT_TRUE(dir.Names().empty());
}

// Writes a FreeImage bitmap of any sample type; fill(y, line) gets each row,
// top row first, as FreeImage's scan line of that row.
template <class Fill>
void WriteTyped(const std::string& path, FREE_IMAGE_FORMAT fif, FREE_IMAGE_TYPE type, int bpp,
                int w, int h, Fill fill, int flags = 0) {
    InitFreeImageOnce();
    FIBITMAP* dib = FreeImage_AllocateT(type, w, h, bpp);
    ASSERT_NE(dib, nullptr);
    for (int y = 0; y < h; ++y) fill(y, FreeImage_GetScanLine(dib, h - 1 - y));
    ASSERT_TRUE(FreeImage_Save(fif, dib, path.c_str(), flags)) << path;
    FreeImage_Unload(dib);
}

std::vector<CColor24> FirstRow(const BMP_File& img) {
    std::vector<CColor24> row;
    for (int x = 0; x < img.Width(); ++x) row.push_back(img.Pixel(x, 0));
    return row;
}

CColor24 Grey(uint8_t v) {
    return CColor24(v, v, v);
}

TEST(ImageFileLoad, SixteenBitSamplesAreDividedBy256) {
    TempDir dir;
    // Truncated: 1000 / 256 = 3.9, 1500 / 256 = 5.9, 2000 / 256 = 7.8, 30000 / 256 = 117.2.
    // A stretch between this picture's darkest and brightest values would
    // give 0 for the first and 255 for the last.
    const std::vector<CColor24> grey = {Grey(3), Grey(5), Grey(7), Grey(117)};
    for (auto [fif, name] : {std::pair{FIF_PNG, "g16.png"}, {FIF_TIFF, "g16.tif"}}) {
        WriteTyped(dir / name, fif, FIT_UINT16, 16, 4, 1, [](int, BYTE* line) {
            const uint16_t v[4] = {1000, 1500, 2000, 30000};
            std::memcpy(line, v, sizeof v);
        });
        BMP_File img;
        std::string msg;
        ASSERT_TRUE(LoadImageFile(dir / name, img, &msg)) << name << ": " << msg;
        EXPECT_EQ(FirstRow(img), grey) << name;
    }
    // Two rows, so that a file's own range cannot decide: the second row
    // alone would stretch differently from the whole.
    WriteTyped(dir / "g16b.png", FIF_PNG, FIT_UINT16, 16, 2, 2, [](int y, BYTE* line) {
        const uint16_t v[2][2] = {{0, 65535}, {256, 65280}};
        std::memcpy(line, v[y], sizeof v[y]);
    });
    BMP_File img;
    ASSERT_TRUE(LoadImageFile(dir / "g16b.png", img));
    EXPECT_EQ(img.Pixel(0, 0), Grey(0));
    EXPECT_EQ(img.Pixel(1, 0), Grey(255));
    EXPECT_EQ(img.Pixel(0, 1), Grey(1));
    EXPECT_EQ(img.Pixel(1, 1), Grey(255));

    // Colour with and without alpha, in PNG and TIFF: each channel / 256.
    const std::vector<CColor24> colour = {CColor24(3, 5, 255), CColor24(0, 1, 1)};
    struct Case {
        FREE_IMAGE_FORMAT fif;
        FREE_IMAGE_TYPE type;
        int bpp;
        const char* name;
    };
    for (const Case& c :
         {Case{FIF_PNG, FIT_RGB16, 48, "c16.png"}, Case{FIF_TIFF, FIT_RGB16, 48, "c16.tif"},
          Case{FIF_PNG, FIT_RGBA16, 64, "a16.png"}, Case{FIF_TIFF, FIT_RGBA16, 64, "a16.tif"}}) {
        WriteTyped(dir / c.name, c.fif, c.type, c.bpp, 2, 1, [&](int, BYTE* line) {
            const uint16_t v[2][4] = {{1000, 1500, 65535, 0}, {255, 256, 511, 40000}};
            const int channels = c.bpp / 16;
            uint16_t* out = reinterpret_cast<uint16_t*>(line);
            for (int x = 0; x < 2; ++x)
                for (int k = 0; k < channels; ++k) out[x * channels + k] = v[x][k];
        });
        ASSERT_TRUE(LoadImageFile(dir / c.name, img)) << c.name;
        EXPECT_EQ(FirstRow(img), colour) << c.name;
    }

    // 32-bit unsigned grey: the top byte, as for 16 bits.
    WriteTyped(dir / "u32.tif", FIF_TIFF, FIT_UINT32, 32, 3, 1, [](int, BYTE* line) {
        const uint32_t v[3] = {0x00FFFFFFu, 0x01000000u, 0xFEDCBA98u};
        std::memcpy(line, v, sizeof v);
    });
    ASSERT_TRUE(LoadImageFile(dir / "u32.tif", img));
    EXPECT_EQ(FirstRow(img), (std::vector<CColor24>{Grey(0), Grey(1), Grey(0xFE)}));
}

TEST(ImageFileLoad, FloatingPointSamplesRunFromZeroToOne) {
    TempDir dir;
    // 0.25 * 255 = 63.75 and 0.1 * 255 = 25.5 round to 64 and 26; beyond 0..1
    // is clipped, NaN is black.
    const float grey[8] = {0.0f, 0.25f, 0.5f, 1.0f, 2.0f, -1.0f, std::nanf(""), 0.1f};
    const std::vector<CColor24> expected = {Grey(0),   Grey(64), Grey(128), Grey(255),
                                            Grey(255), Grey(0),  Grey(0),   Grey(26)};
    WriteTyped(dir / "f.tif", FIF_TIFF, FIT_FLOAT, 32, 8, 1,
               [&](int, BYTE* line) { std::memcpy(line, grey, sizeof grey); });
    WriteTyped(dir / "d.tif", FIF_TIFF, FIT_DOUBLE, 64, 8, 1, [&](int, BYTE* line) {
        double* out = reinterpret_cast<double*>(line);
        for (int x = 0; x < 8; ++x) out[x] = grey[x];
    });
    for (const char* name : {"f.tif", "d.tif"}) {
        BMP_File img;
        std::string msg;
        ASSERT_TRUE(LoadImageFile(dir / name, img, &msg)) << name << ": " << msg;
        EXPECT_EQ(FirstRow(img), expected) << name;
    }

    // Colour, with and without alpha: each channel on its own.
    WriteTyped(dir / "rgbf.tif", FIF_TIFF, FIT_RGBF, 96, 2, 1, [](int, BYTE* line) {
        const float v[6] = {0.25f, 0.5f, 1.0f, -1.0f, 3.0f, 0.1f};
        std::memcpy(line, v, sizeof v);
    });
    WriteTyped(dir / "rgbaf.tif", FIF_TIFF, FIT_RGBAF, 128, 2, 1, [](int, BYTE* line) {
        const float v[8] = {0.25f, 0.5f, 1.0f, 0.0f, -1.0f, 3.0f, 0.1f, 1.0f};
        std::memcpy(line, v, sizeof v);
    });
    for (const char* name : {"rgbf.tif", "rgbaf.tif"}) {
        BMP_File img;
        ASSERT_TRUE(LoadImageFile(dir / name, img)) << name;
        EXPECT_EQ(FirstRow(img),
                  (std::vector<CColor24>{CColor24(64, 128, 255), CColor24(0, 255, 26)}))
            << name;
    }

    // Signed samples have no black to start from: refused with the message of
    // their format, and a reason.
    WriteTyped(dir / "i16.tif", FIF_TIFF, FIT_INT16, 16, 2, 1, [](int, BYTE* line) {
        const int16_t v[2] = {-5, 300};
        std::memcpy(line, v, sizeof v);
    });
    BMP_File keep;
    keep.Create(1, 1);
    std::string msg, reason;
    EXPECT_FALSE(LoadImageFile(dir / "i16.tif", keep, &msg, &reason));
    EXPECT_EQ(msg, "Unable load file (bad format)");
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(keep.Width(), 1);
}

TEST(ImageFileLoad, PaletteAndCmykPictures) {
    TempDir dir;
    // 1 and 4-bit palettes, in every writer that takes them: index i has
    // colour (17 i + 3, 200 - 7 i, 11 i); pixel x has index x mod 2^bpp.
    for (int bpp : {1, 4}) {
        InitFreeImageOnce();
        FIBITMAP* dib = FreeImage_Allocate(8, 2, bpp);
        ASSERT_NE(dib, nullptr);
        RGBQUAD* pal = FreeImage_GetPalette(dib);
        for (unsigned i = 0; i < (1u << bpp); ++i) {
            pal[i].rgbRed = BYTE(17 * i + 3);
            pal[i].rgbGreen = BYTE(200 - 7 * i);
            pal[i].rgbBlue = BYTE(11 * i);
        }
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 8; ++x) {
                BYTE index = BYTE((x + y) % (1 << bpp));
                FreeImage_SetPixelIndex(dib, unsigned(x), unsigned(1 - y), &index);
            }
        for (auto [fif, ext] : {std::pair{FIF_PNG, "png"}, {FIF_BMP, "bmp"}, {FIF_TIFF, "tif"}}) {
            const std::string name = "p" + std::to_string(bpp) + "." + ext;
            ASSERT_TRUE(FreeImage_Save(fif, dib, (dir / name).c_str(), 0)) << name;
            BMP_File img;
            std::string msg;
            ASSERT_TRUE(LoadImageFile(dir / name, img, &msg)) << name << ": " << msg;
            ASSERT_EQ(img.Width(), 8);
            ASSERT_EQ(img.Height(), 2);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 8; ++x) {
                    const int i = (x + y) % (1 << bpp);
                    EXPECT_EQ(img.Pixel(x, y),
                              CColor24(uint8_t(17 * i + 3), uint8_t(200 - 7 * i), uint8_t(11 * i)))
                        << name << " " << x << "," << y;
                }
        }
        FreeImage_Unload(dib);
    }

    // CMYK TIFF, 8 and 16 bits: red = (max - C)(max - K) / max and so on,
    // within one step of the library's rounding.
    const int cmyk[3][4] = {{0, 255, 255, 0}, {10, 20, 30, 40}, {255, 0, 128, 200}};
    WriteTyped(
        dir / "cmyk.tif", FIF_TIFF, FIT_BITMAP, 32, 3, 1,
        [&](int, BYTE* line) {
            for (int x = 0; x < 3; ++x)
                for (int k = 0; k < 4; ++k) line[4 * x + k] = BYTE(cmyk[x][k]);
        },
        TIFF_CMYK);
    WriteTyped(
        dir / "cmyk16.tif", FIF_TIFF, FIT_RGBA16, 64, 3, 1,
        [&](int, BYTE* line) {
            uint16_t* out = reinterpret_cast<uint16_t*>(line);
            for (int x = 0; x < 3; ++x)
                for (int k = 0; k < 4; ++k) out[4 * x + k] = uint16_t(cmyk[x][k] * 257);
        },
        TIFF_CMYK);
    for (const char* name : {"cmyk.tif", "cmyk16.tif"}) {
        BMP_File img;
        std::string msg;
        ASSERT_TRUE(LoadImageFile(dir / name, img, &msg)) << name << ": " << msg;
        ASSERT_EQ(img.Width(), 3) << name;
        for (int x = 0; x < 3; ++x) {
            const int k = cmyk[x][3];
            const CColor24 p = img.Pixel(x, 0);
            const int got[3] = {p.r, p.g, p.b};
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(got[c], (255 - cmyk[x][c]) * (255 - k) / 255.0, 1.0)
                    << name << " pixel " << x << " channel " << c;
        }
    }
}

// Little-endian baseline TIFF, 8-bit grey, one strip; `privateTags` unknown
// tags make libtiff warn; a cut strip makes it fail.
std::vector<uint8_t> GreyTiff(int w, int h, int privateTags, bool cutStrip) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put16 = [&](uint32_t v) {
        f.push_back(uint8_t(v));
        f.push_back(uint8_t(v >> 8));
    };
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
    };
    const int entries = 8 + privateTags;
    const uint32_t data = uint32_t(8 + 2 + entries * 12 + 4);
    const uint32_t bytes = cutStrip ? 1 : uint32_t(w * h);
    put16(uint32_t(entries));
    auto entry = [&](uint32_t tag, uint32_t type, uint32_t value) {
        put16(tag);
        put16(type);
        put32(1);
        put32(value);
    };
    entry(256, 4, uint32_t(w));
    entry(257, 4, uint32_t(h));
    entry(258, 3, 8); // bits per sample
    entry(259, 3, 1); // no compression
    entry(262, 3, 1); // black is zero
    entry(273, 4, data);
    entry(278, 4, uint32_t(h));
    entry(279, 4, bytes);
    for (int i = 0; i < privateTags; ++i) entry(uint32_t(65000 + i), 3, 7);
    put32(0);
    for (uint32_t i = 0; i < bytes; ++i) f.push_back(uint8_t(i * 10));
    return f;
}

// Everything written to file descriptor 2 while it lives.
class StderrCapture {
public:
    explicit StderrCapture(std::string path) : path_(std::move(path)) {
        std::fflush(stderr);
        saved_ = ::dup(2);
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { Restore(); }
    std::string Text() {
        Restore();
        const std::vector<uint8_t> bytes = ReadAll(path_);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
        saved_ = -1;
    }
    std::string path_;
    int saved_ = -1;
};

TEST(ImageFileMessages, CodecWarningsStayOffStandardErrorAndErrorsBecomeTheReason) {
    TempDir dir;
    WriteAll(dir / "tags.tif", GreyTiff(4, 2, 6, false));
    WriteAll(dir / "cut.tif", GreyTiff(4, 2, 6, true));
    BMP_File good, bad;
    std::string goodMsg, badMsg, badReason;
    bool goodOk = false, badOk = true;
    std::string written;
    {
        StderrCapture capture(dir / "stderr.txt");
        goodOk = LoadImageFile(dir / "tags.tif", good, &goodMsg);
        badOk = LoadImageFile(dir / "cut.tif", bad, &badMsg, &badReason);
        written = capture.Text();
    }
    EXPECT_EQ(written, "") << "the codecs wrote to standard error";
    ASSERT_TRUE(goodOk) << goodMsg;
    EXPECT_EQ(good.Pixel(3, 1), Grey(70));
    EXPECT_FALSE(badOk);
    EXPECT_EQ(badMsg, "Unable load file (bad format)") << "the message itself stays as it was";
    EXPECT_FALSE(badReason.empty()) << "the reason goes with the failure";
}

TEST(ImageFileMessages, EachThreadGetsItsOwnReason) {
    // FreeImage's and libtiff's handlers are shared by the whole process; the
    // reason of a failed load must still be the one of its own file, whatever
    // other threads load at the same time.
    TempDir dir;
    WriteAll(dir / "cut.tif", GreyTiff(4, 2, 6, true));
    WriteAll(dir / "tags.tif", GreyTiff(4, 2, 6, false));
    std::string msg;
    ASSERT_TRUE(SaveImageFile(dir / "n.png", Noise(64, 64), &msg)) << msg;
    ASSERT_TRUE(SaveImageFile(dir / "n.jpg", Noise(64, 64), &msg)) << msg;
    std::vector<uint8_t> png = ReadAll(dir / "n.png");
    png.resize(png.size() / 2);
    WriteAll(dir / "cut.png", png);
    std::vector<uint8_t> jpg = ReadAll(dir / "n.jpg");
    jpg.resize(300);
    WriteAll(dir / "cut.jpg", jpg);

    const std::vector<std::string> files = {"cut.tif", "cut.png", "cut.jpg", "tags.tif"};
    // Each file's reason when it is loaded alone.
    std::vector<std::string> alone;
    for (const auto& f : files) {
        BMP_File img;
        std::string m, r;
        LoadImageFile(dir / f, img, &m, &r);
        alone.push_back(r);
    }
    for (size_t i = 0; i < 3; ++i) EXPECT_FALSE(alone[i].empty()) << files[i];
    EXPECT_NE(alone[0], alone[1]);
    EXPECT_NE(alone[0], alone[2]);
    EXPECT_NE(alone[1], alone[2]);
    EXPECT_EQ(alone[3], "");

    std::vector<std::string> mismatch(files.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < files.size(); ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 60 && mismatch[t].empty(); ++i) {
                BMP_File img;
                std::string m, r;
                const bool ok = LoadImageFile(dir / files[t], img, &m, &r);
                if (ok != (t == 3) || r != alone[t]) mismatch[t] = r;
            }
        });
    for (auto& th : threads) th.join();
    for (size_t t = 0; t < files.size(); ++t)
        EXPECT_EQ(mismatch[t], "") << files[t] << " got another reason";
}

const char* const kSavable[] = {"png", "jpg", "gif", "bmp", "tif", "tga", "ico"};

TEST(ImageFileSave, SuccessLeavesOnlyTheTarget) {
    TempDir dir;
    std::set<std::string> expected;
    for (const char* ext : kSavable) {
        const std::string name = std::string("out.") + ext;
        // Twice: once new, once replacing the first.
        for (int i = 0; i < 2; ++i) {
            std::string msg;
            ASSERT_TRUE(SaveImageFile(dir / name, Picture(30 + i, 20), &msg)) << name << msg;
        }
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(dir / name, back));
        EXPECT_EQ(back.Width(), 31) << name << " was not replaced";
        expected.insert(name);
    }
    EXPECT_EQ(dir.Names(), expected);
}

TEST(ImageFileSave, FailuresAreReportedAndKeepExistingFile) {
    TempDir dir;
    const BMP_File img = Picture(40, 30);
    for (const char* ext : kSavable) {
        std::string msg;
        const std::string missing = dir / (std::string("no/such/folder/x.") + ext);
        EXPECT_FALSE(SaveImageFile(missing, img, &msg)) << ext;
        EXPECT_FALSE(msg.empty()) << ext;

        // A folder in the way of the target.
        const std::string folder = dir / (std::string("folder.") + ext);
        fs::create_directory(folder);
        msg.clear();
        EXPECT_FALSE(SaveImageFile(folder, img, &msg)) << ext;
        EXPECT_FALSE(msg.empty()) << ext;
        EXPECT_TRUE(fs::is_directory(folder)) << ext;

        // Nothing to save.
        const std::string existing = dir / (std::string("keep.") + ext);
        const std::vector<uint8_t> old = {'o', 'l', 'd', ' ', 'd', 'a', 't', 'a'};
        WriteAll(existing, old);
        msg.clear();
        EXPECT_FALSE(SaveImageFile(existing, BMP_File(), &msg)) << ext;
        EXPECT_FALSE(msg.empty()) << ext;
        EXPECT_EQ(ReadAll(existing), old) << ext;
    }
    std::set<std::string> expected;
    for (const char* ext : kSavable) {
        expected.insert(std::string("folder.") + ext);
        expected.insert(std::string("keep.") + ext);
    }
    EXPECT_EQ(dir.Names(), expected) << "temporary files left behind";
}

TEST(ImageFileSave, DiskFullKeepsExistingFile) {
    // A file size limit makes every write past 4 KiB fail, as a full disk does.
    TempDir dir;
    const BMP_File img = Noise(200, 150); // far more than 4 KiB in every format
    std::vector<uint8_t> old(1000);
    for (size_t i = 0; i < old.size(); ++i) old[i] = uint8_t(i * 7);
    std::set<std::string> expected;
    for (const char* ext : kSavable) {
        const std::string name = std::string("keep.") + ext;
        WriteAll(dir / name, old);
        expected.insert(name);
    }

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::vector<std::pair<std::string, bool>> results;
    std::vector<std::string> messages;
    for (const char* ext : kSavable) {
        std::string msg;
        results.emplace_back(ext, SaveImageFile(dir / (std::string("keep.") + ext), img, &msg));
        messages.push_back(msg);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    for (size_t i = 0; i < results.size(); ++i) {
        EXPECT_FALSE(results[i].second) << results[i].first << " reported success";
        EXPECT_FALSE(messages[i].empty()) << results[i].first;
        EXPECT_EQ(ReadAll(dir / ("keep." + results[i].first)), old) << results[i].first;
    }
    EXPECT_EQ(dir.Names(), expected) << "temporary files left behind";
}

} // namespace
