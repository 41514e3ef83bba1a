// Loading and saving still images by extension: round trips of every format,
// conversions to 24 bits, the messages of failed loads, and saves that fail
// without touching an existing file or leaving temporaries behind.

#include "app/image_files.h"

#include "../as_user.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// PNG chunks carry a CRC-32 of their type and data.
uint32_t Crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}
void PutBE32(std::vector<uint8_t>& f, uint32_t v) {
    for (int i = 3; i >= 0; --i) f.push_back(uint8_t(v >> (8 * i)));
}
void PutLE(std::vector<uint8_t>& f, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) f.push_back(uint8_t(v >> (8 * i)));
}
void PngChunk(std::vector<uint8_t>& f, const char* type, const std::vector<uint8_t>& data) {
    PutBE32(f, uint32_t(data.size()));
    const size_t start = f.size();
    f.insert(f.end(), type, type + 4);
    f.insert(f.end(), data.begin(), data.end());
    PutBE32(f, Crc32(&f[start], f.size() - start));
}

// A valid PNG header for a w x h RGB picture, followed by one small stored
// deflate block of zero bytes: far too little data for the picture it claims.
std::vector<uint8_t> ClaimingPng(uint32_t w, uint32_t h) {
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, w);
    PutBE32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    PngChunk(f, "IHDR", ihdr);
    const uint16_t n = 600;
    std::vector<uint8_t> z = {
        0x78, 0x01, 0x01, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
    z.insert(z.end(), n, 0);
    PutBE32(z, (uint32_t(n) << 16) | 1u); // Adler-32 of n zero bytes
    PngChunk(f, "IDAT", z);
    PngChunk(f, "IEND", {});
    return f;
}

// Small files of every loaded kind whose headers claim a huge picture.
std::vector<std::pair<std::string, std::vector<uint8_t>>> ClaimingFiles(const TempDir& dir) {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    files.emplace_back("big.png", ClaimingPng(60000, 60000));

    // A real JPEG with the size in its frame header changed.
    std::string msg;
    EXPECT_TRUE(SaveImageFile(dir / "small.jpg", Picture(16, 16), &msg)) << msg;
    std::vector<uint8_t> jpg = ReadAll(dir / "small.jpg");
    for (size_t i = 2; i + 9 < jpg.size();) {
        EXPECT_EQ(jpg[i], 0xFF);
        const uint8_t marker = jpg[i + 1];
        if (marker == 0xC0 || marker == 0xC2) {
            jpg[i + 5] = jpg[i + 7] = 60000 >> 8;
            jpg[i + 6] = jpg[i + 8] = 60000 & 0xFF;
            break;
        }
        i += 2 + size_t((jpg[i + 2] << 8) | jpg[i + 3]);
    }
    files.emplace_back("big.jpg", jpg);

    files.emplace_back("big.tif", GreyTiff(60000, 60000, 0, true));

    // Logical screen 1 x 1; the first frame, which is what gets decoded, 60000 x 60000.
    std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1,   0,    1, 0, 0x80, 0,
                                0,   0,   0,   0,   255, 255, 255, 0x2C, 0, 0, 0,    0};
    PutLE(gif, 60000, 2);
    PutLE(gif, 60000, 2);
    gif.insert(gif.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
    files.emplace_back("big.gif", gif);

    // BMP: an 8-bit run-length picture (one end-of-picture code) and a 24-bit
    // one without its rows; both go to FreeImage.
    for (int bits : {8, 24}) {
        std::vector<uint8_t> bmp = {'B', 'M'};
        const uint32_t palette = bits == 8 ? 1024 : 0;
        PutLE(bmp, 54 + palette + 2, 4);
        PutLE(bmp, 0, 4);
        PutLE(bmp, 54 + palette, 4);
        PutLE(bmp, 40, 4);
        PutLE(bmp, 60000, 4);
        PutLE(bmp, 60000, 4);
        PutLE(bmp, 1, 2);
        PutLE(bmp, uint32_t(bits), 2);
        PutLE(bmp, bits == 8 ? 1 : 0, 4); // BI_RLE8 or none
        for (int i = 0; i < 5; ++i) PutLE(bmp, 0, 4);
        bmp.insert(bmp.end(), palette, 0x11);
        bmp.insert(bmp.end(), {0, 1});
        files.emplace_back(bits == 8 ? "big8.bmp" : "big24.bmp", bmp);
    }

    // An icon whose one image is the PNG above.
    const std::vector<uint8_t> png = ClaimingPng(60000, 60000);
    std::vector<uint8_t> ico = {0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 1, 0, 32, 0};
    PutLE(ico, uint32_t(png.size()), 4);
    PutLE(ico, 22, 4);
    ico.insert(ico.end(), png.begin(), png.end());
    files.emplace_back("big.ico", ico);
    return files;
}

// Runs load in a child process whose address space is capped near its current
// size, so that a loader which allocates what a file claims fails (instead of
// taking gigabytes from the machine). Returns "ok" or the failure message and
// the seconds the load took.
std::pair<std::string, double> LoadInSmallAddressSpace(const std::function<std::string()>& load) {
    int fds[2];
    if (::pipe(fds) != 0) return {"pipe failed", 0};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
#if !defined(__SANITIZE_ADDRESS__)
        // VmSize from /proc/self/statm, in pages.
        unsigned long pages = 0;
        if (FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
            std::fclose(f);
        }
        const rlim_t cap = rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + (rlim_t(1) << 30);
        struct rlimit limit {
            cap, cap
        };
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        ::alarm(60);
        const std::string result = load();
        const ssize_t ignored = ::write(fds[1], result.data(), result.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status))
        return {"the load did not end (signal " + std::to_string(WTERMSIG(status)) + ")", seconds};
    return {out, seconds};
}

TEST(ImageFileLimits, ClaimedSizeIsRefusedBeforeDecoding) {
    TempDir dir;
    InitFreeImageOnce();
    for (const auto& [name, bytes] : ClaimingFiles(dir)) {
        WriteAll(dir / name, bytes);
        EXPECT_LT(bytes.size(), 2000u) << name;
        const auto [result, seconds] = LoadInSmallAddressSpace([&, name = name] {
            BMP_File img;
            std::string msg;
            return LoadImageFile(dir / name, img, &msg) ? std::string("ok") : msg;
        });
        const std::string sizeText = "60000 x 60000 pixels, 3600 megapixels; the limit is 1000";
        EXPECT_NE(result.find(sizeText), std::string::npos) << name << ": " << result;
        if (name != "big.ico") {
            EXPECT_EQ(result.rfind("The picture is too large", 0), 0u) << name << ": " << result;
        }
        EXPECT_LT(seconds, 10.0) << name;
    }
    // TARGA sides reach 65535.
    const auto [tga, seconds] = LoadInSmallAddressSpace([&] {
        std::vector<uint8_t> f = {0, 0, 2, 0,    0,    0,    0,    0,  0,
                                  0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 24, 0x20};
        f.resize(400, 0x40);
        WriteAll(dir / "wide.tga", f);
        BMP_File img;
        std::string msg;
        return LoadImageFile(dir / "wide.tga", img, &msg) ? std::string("ok") : msg;
    });
    EXPECT_NE(tga.find("65535 x 65535 pixels"), std::string::npos) << tga;

    // PSD sides stop at 30000, within the default limit: a lower limit shows
    // that its header is read first too.
    std::vector<uint8_t> psd = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3};
    PutBE32(psd, 30000);
    PutBE32(psd, 30000);
    psd.insert(psd.end(), {0, 8, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    psd.resize(psd.size() + 200, 0x55);
    WriteAll(dir / "big.psd", psd);
    const auto [psdResult, psdSeconds] = LoadInSmallAddressSpace([&] {
        BMP_File::SetMaxPixels(100'000'000);
        BMP_File img;
        std::string msg;
        return LoadImageFile(dir / "big.psd", img, &msg) ? std::string("ok") : msg;
    });
    EXPECT_EQ(psdResult, "The picture is too large (30000 x 30000 pixels, 900 megapixels; the "
                         "limit is 100 megapixels)");
    EXPECT_LT(psdSeconds, 10.0);
}

// Sets the size limit for one test.
struct LimitScope {
    explicit LimitScope(int64_t pixels) { BMP_File::SetMaxPixels(pixels); }
    ~LimitScope() { BMP_File::SetMaxPixels(BMP_File::kMaxPixels); }
};

TEST(ImageFileLimits, LimitIsInclusiveForEveryLoader) {
    TempDir dir;
    // 20000 pixels: 200 x 100 loads, 201 x 100 does not, in every format.
    const BMP_File fits = Picture(200, 100), over = Picture(201, 100);
    const char* exts[] = {"png", "bmp", "tif", "tga", "gif", "ico", "jpg"};
    for (const char* ext : exts) {
        std::string msg;
        ASSERT_TRUE(SaveImageFile(dir / (std::string("fits.") + ext), fits, &msg)) << msg;
        ASSERT_TRUE(SaveImageFile(dir / (std::string("over.") + ext), over, &msg)) << msg;
    }
    LimitScope limit(20000);
    for (const char* ext : exts) {
        BMP_File img;
        std::string msg;
        EXPECT_TRUE(LoadImageFile(dir / (std::string("fits.") + ext), img, &msg)) << ext << msg;
        EXPECT_EQ(img.Width(), 200) << ext;
        const BMP_File before = Picture(3, 3);
        img = before;
        EXPECT_FALSE(LoadImageFile(dir / (std::string("over.") + ext), img, &msg)) << ext;
        EXPECT_NE(msg.find("too large (201 x 100 pixels, 0.03 megapixels; the limit is 0.02 "
                           "megapixels)"),
                  std::string::npos)
            << ext << ": " << msg;
        EXPECT_TRUE(img.SameAs(before)) << ext;
    }
}

TEST(ImageFileLimits, SixHundredMegapixelsAreWithinTheDefault) {
    EXPECT_EQ(BMP_File::MaxPixels(), BMP_File::kMaxPixels);
    EXPECT_TRUE(BMP_File::SizeAllowed(30000, 20000));
    EXPECT_FALSE(BMP_File::SizeAllowed(60000, 60000));
    // Without touching its pages, so that this costs address space only.
    BMP_File img;
    EXPECT_TRUE(img.CreateUninitialized(30000, 20000));
    img.Clear();
    {
        LimitScope raised(4'000'000'000);
        EXPECT_TRUE(BMP_File::SizeAllowed(60000, 60000));
        EXPECT_FALSE(BMP_File::SizeAllowed(BMP_File::kMaxSide + 1, 1)) << "sides stay bounded";
    }
    EXPECT_EQ(BMP_File::MaxPixels(), BMP_File::kMaxPixels);
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

TEST(ImageFileSave, ThroughLinksKeepingModeAndRefusingReadOnlyFiles) {
    TempDir dir;
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    std::set<std::string> expected;
    for (const std::string ext : kSavable) {
        // The link stays a link and the file it names gets the image, with its
        // permission bits.
        const std::string real = dir / ("real." + ext), link = dir / ("link." + ext);
        WriteAll(real, old);
        ::chmod(real.c_str(), 0640);
        fs::create_symlink("real." + ext, link);
        std::string msg;
        ASSERT_TRUE(SaveImageFile(link, Picture(21, 13), &msg)) << ext << msg;
        EXPECT_TRUE(fs::is_symlink(link)) << ext;
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(real, back)) << ext;
        EXPECT_EQ(back.Width(), 21) << ext;
        EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0640)) << ext;

        // A dangling link: the file it names is created.
        const std::string dangling = dir / ("dangling." + ext);
        fs::create_symlink("made." + ext, dangling);
        ASSERT_TRUE(SaveImageFile(dangling, Picture(5, 4), &msg)) << ext << msg;
        EXPECT_TRUE(fs::is_symlink(dangling)) << ext;
        ASSERT_TRUE(LoadImageFile(dir / ("made." + ext), back)) << ext;
        EXPECT_EQ(back.Width(), 5) << ext;

        // A read-only file is refused with the reason, and stays as it was.
        const std::string ro = dir / ("ro." + ext);
        WriteAll(ro, old);
        ::chmod(ro.c_str(), 0444);
        EXPECT_FALSE(SaveImageFile(ro, Picture(8, 8), &msg)) << ext;
        EXPECT_EQ(msg, "cannot write " + ro + ": permission denied");
        EXPECT_EQ(ReadAll(ro), old) << ext;
        for (const char* name : {"real.", "link.", "dangling.", "made.", "ro."})
            expected.insert(name + ext);
    }
    EXPECT_EQ(dir.Names(), expected) << "temporary files left behind";
}

TEST(ImageFileSave, UnwritableFolderSavesWritableFilesInPlace) {
    // As an ordinary user: the folder may not be written, its files may.
    TempDir dir;
    ::chmod(dir.path.c_str(), 0755);
    const std::string folder = dir / "ro";
    fs::create_directory(folder);
    std::vector<ino_t> inodes;
    for (const std::string ext : kSavable) {
        const std::string f = folder + "/pic." + ext;
        WriteAll(f, std::vector<uint8_t>(50000, 7)); // longer than the new files
        ASSERT_TRUE(as_user::GiveToUser(f));
        struct stat st {};
        ::stat(f.c_str(), &st);
        inodes.push_back(st.st_ino);
    }
    ::chmod(folder.c_str(), 0555);
    const std::string out = as_user::Run([&] {
        std::string r;
        for (const std::string ext : kSavable) {
            std::string msg;
            r += SaveImageFile(folder + "/pic." + ext, Picture(33, 17), &msg) ? ext : msg;
            r += ";";
        }
        return r;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(out, "png;jpg;gif;bmp;tif;tga;ico;");
    size_t i = 0;
    for (const std::string ext : kSavable) {
        const std::string f = folder + "/pic." + ext;
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(f, back)) << ext;
        EXPECT_EQ(back.Width(), 33) << ext;
        struct stat st {};
        ::stat(f.c_str(), &st);
        EXPECT_EQ(st.st_ino, inodes[i++]) << ext << " was not written in place";
    }
}

} // namespace
