// The icon codec: the exact layout of the files we write, the decoding of every
// image depth a reader meets, and refusal of damaged or hostile directories.

#include "app/icon.h"
#include "app/image_files.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include "file_test_util.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Little-endian writers for building icon files by hand in the tests.
void Add16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void Add32(std::vector<uint8_t>& v, uint32_t x) {
    for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}
uint32_t Read32(const std::vector<uint8_t>& v, size_t at) {
    return uint32_t(v[at]) | (uint32_t(v[at + 1]) << 8) | (uint32_t(v[at + 2]) << 16) |
           (uint32_t(v[at + 3]) << 24);
}
uint16_t Read16(const std::vector<uint8_t>& v, size_t at) {
    return uint16_t(v[at] | (v[at + 1] << 8));
}

BMP_File Picture(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x * 7 + y), uint8_t(y * 5), uint8_t((x ^ y) * 3));
    return img;
}

// One image in the bitmap form: the palette (blue, green, red, 0 per entry),
// the colour rows as given (bottom row first, already padded) and the mask rows.
struct HandImage {
    int width;
    int height;
    int bpp;
    std::vector<uint8_t> palette;
    std::vector<uint8_t> color;
    std::vector<uint8_t> mask;

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> d;
        Add32(d, 40);
        Add32(d, uint32_t(width));
        Add32(d, uint32_t(height * 2));
        Add16(d, 1);
        Add16(d, uint32_t(bpp));
        for (int i = 0; i < 6; ++i) Add32(d, 0);
        d.insert(d.end(), palette.begin(), palette.end());
        d.insert(d.end(), color.begin(), color.end());
        d.insert(d.end(), mask.begin(), mask.end());
        return d;
    }
};

// An icon file holding the given image data blocks, one after another.
std::vector<uint8_t> IconFile(const std::vector<std::vector<uint8_t>>& blocks, int bpp = 32) {
    std::vector<uint8_t> f;
    Add16(f, 0);
    Add16(f, 1);
    Add16(f, uint32_t(blocks.size()));
    uint32_t offset = uint32_t(6 + 16 * blocks.size());
    for (const auto& b : blocks) {
        f.insert(f.end(), {16, 16, 0, 0});
        Add16(f, 1);
        Add16(f, uint32_t(bpp));
        Add32(f, uint32_t(b.size()));
        Add32(f, offset);
        offset += uint32_t(b.size());
    }
    for (const auto& b : blocks) f.insert(f.end(), b.begin(), b.end());
    return f;
}

using file_test::ReadAll;
using file_test::TempDir;

TEST(IconLayout, FileWrittenFor300x200Image) {
    const BMP_File img = Picture(300, 200);
    TempDir dir;
    ASSERT_TRUE(SaveImageFile(dir / "a.ico", img));
    const std::vector<uint8_t> f = ReadAll(dir / "a.ico");

    // Mask rows: 300 bits rounded up to 320 bits = 40 bytes, 200 rows.
    const uint32_t maskSize = 40 * 200;
    const uint32_t dataSize = 40 + 4 * 300 * 200 + maskSize; // 248040
    ASSERT_EQ(f.size(), 22u + dataSize);

    EXPECT_EQ(Read16(f, 0), 0);
    EXPECT_EQ(Read16(f, 2), 1);
    EXPECT_EQ(Read16(f, 4), 1);
    EXPECT_EQ(f[6], 44);  // 300 mod 256
    EXPECT_EQ(f[7], 200); // 200 mod 256
    EXPECT_EQ(f[8], 0);
    EXPECT_EQ(f[9], 0);
    EXPECT_EQ(Read16(f, 10), 0);
    EXPECT_EQ(Read16(f, 12), 32);
    EXPECT_EQ(Read32(f, 14), dataSize);
    EXPECT_EQ(Read32(f, 18), 22u);

    EXPECT_EQ(Read32(f, 22), 40u);
    EXPECT_EQ(Read32(f, 26), 300u);
    EXPECT_EQ(Read32(f, 30), 400u);
    EXPECT_EQ(Read16(f, 34), 1);
    EXPECT_EQ(Read16(f, 36), 32);
    for (size_t at = 38; at < 62; ++at) EXPECT_EQ(f[at], 0) << "header byte " << at;

    // Colour rows bottom row first, blue, green, red, 255.
    for (int row : {0, 1, 199}) {
        for (int x : {0, 17, 299}) {
            const CColor24 c = img.Pixel(x, 199 - row);
            const size_t at = 62 + size_t(row) * 300 * 4 + size_t(x) * 4;
            EXPECT_EQ(f[at], c.b);
            EXPECT_EQ(f[at + 1], c.g);
            EXPECT_EQ(f[at + 2], c.r);
            EXPECT_EQ(f[at + 3], 255);
        }
    }
    const size_t maskStart = 62 + 4 * 300 * 200;
    size_t ff = 0;
    for (size_t at = maskStart; at < f.size(); ++at) ff += f[at] == 0xFF;
    EXPECT_EQ(ff, maskSize);
}

TEST(IconLayout, RoundTripsThroughFiles) {
    TempDir dir;
    // Widths around the 32-pixel mask padding and the 256 wrap of the entry.
    for (auto [w, h] : {std::pair{1, 1}, {33, 17}, {32, 5}, {256, 3}, {257, 2}}) {
        const BMP_File img = Picture(w, h);
        const std::string path = dir / ("r" + std::to_string(w) + ".ico");
        ASSERT_TRUE(SaveImageFile(path, img));
        BMP_File back;
        std::string msg;
        ASSERT_TRUE(LoadImageFile(path, back, &msg)) << msg;
        EXPECT_TRUE(back.SameAs(img)) << w << "x" << h;
    }
}

TEST(IconLayout, RewriteKeepsEveryImage) {
    HandImage a{2, 2, 24, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}, {}};
    a.mask = {0, 0, 0, 0, 0, 0, 0, 0};
    HandImage b{1, 1, 32, {}, {9, 9, 9, 9}, {0x80, 0, 0, 0}};
    const std::vector<uint8_t> file = IconFile({a.Bytes(), b.Bytes()});
    CIcon icon;
    ASSERT_TRUE(icon.Read(file));
    EXPECT_EQ(icon.ImageCount(), 2);
    EXPECT_EQ(icon.Write(), file);
}

TEST(IconReader, PaletteAndTrueColourDepthsTakeAlphaFromMask) {
    // 3 x 2 pixels. Mask rows are 4 bytes each; the mask bit of (x, y) is the
    // bit 7 - x of the first byte of row (1 - y) since rows go bottom first.
    // Set for (1, 0) and (2, 1).
    const std::vector<uint8_t> mask = {0x20, 0, 0, 0, 0x40, 0, 0, 0};
    // Palette index of each pixel, top row first.
    const int idx[2][3] = {{1, 0, 1}, {0, 1, 1}};
    // Palette: entry 0 = red (0, 0, 255, 0 in file order), 1 = (10, 20, 30).
    const std::vector<uint8_t> pal2 = {0, 0, 255, 0, 30, 20, 10, 0};
    const CColor24 colours[2] = {CColor24(255, 0, 0), CColor24(10, 20, 30)};

    auto expect = [&](const std::vector<uint8_t>& file, const char* what) {
        CIcon icon;
        std::string why;
        ASSERT_TRUE(icon.Read(file, &why)) << what << ": " << why;
        std::vector<uint8_t> bgra;
        int w = 0, h = 0;
        ASSERT_TRUE(icon.GetBGRA(bgra, w, h)) << what;
        ASSERT_EQ(w, 3);
        ASSERT_EQ(h, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const CColor24 c = colours[idx[y][x]];
                const uint8_t* p = &bgra[size_t(y * 3 + x) * 4];
                const bool masked = (x == 1 && y == 0) || (x == 2 && y == 1);
                EXPECT_EQ(p[0], c.b) << what << " " << x << "," << y;
                EXPECT_EQ(p[1], c.g) << what;
                EXPECT_EQ(p[2], c.r) << what;
                EXPECT_EQ(p[3], masked ? 0 : 255) << what << " " << x << "," << y;
            }
    };

    // 1 bit: bottom row (0,1,1) = 011 -> 0x60, top row (1,0,1) = 101 -> 0xA0.
    HandImage one{3, 2, 1, pal2, {0x60, 0, 0, 0, 0xA0, 0, 0, 0}, mask};
    expect(IconFile({one.Bytes()}, 1), "1-bit");

    // 4 bits: two pixels per byte, high nibble first.
    std::vector<uint8_t> pal16 = pal2;
    pal16.resize(16 * 4, 0x77);
    HandImage four{3, 2, 4, pal16, {0x01, 0x10, 0, 0, 0x10, 0x10, 0, 0}, mask};
    expect(IconFile({four.Bytes()}, 4), "4-bit");

    std::vector<uint8_t> pal256 = pal2;
    pal256.resize(256 * 4, 0x33);
    HandImage eight{3, 2, 8, pal256, {0, 1, 1, 0, 1, 0, 1, 0}, mask};
    expect(IconFile({eight.Bytes()}, 8), "8-bit");

    // 24 bits: rows of 9 bytes padded to 12.
    auto bgr = [&](int i) {
        return std::vector<uint8_t>{colours[i].b, colours[i].g, colours[i].r};
    };
    std::vector<uint8_t> rows;
    for (int y : {1, 0}) {
        for (int x = 0; x < 3; ++x) {
            auto p = bgr(idx[y][x]);
            rows.insert(rows.end(), p.begin(), p.end());
        }
        rows.insert(rows.end(), 3, 0);
    }
    HandImage deep{3, 2, 24, {}, rows, mask};
    expect(IconFile({deep.Bytes()}, 24), "24-bit");
}

TEST(IconReader, ThirtyTwoBitsKeepOwnAlphaAndIgnoreMask) {
    // 2 x 1: the mask says "transparent" for both, the alpha bytes decide.
    HandImage img{2, 1, 32, {}, {1, 2, 3, 0, 4, 5, 6, 200}, {0xC0, 0, 0, 0}};
    CIcon icon;
    ASSERT_TRUE(icon.Read(IconFile({img.Bytes()})));
    std::vector<uint8_t> bgra;
    int w = 0, h = 0;
    ASSERT_TRUE(icon.GetBGRA(bgra, w, h));
    EXPECT_EQ(bgra, (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 200}));

    BMP_File out;
    ASSERT_TRUE(DecodeIcon(IconFile({img.Bytes()}), out));
    EXPECT_EQ(out.Pixel(0, 0), CColor24(3, 2, 1));
    EXPECT_EQ(out.Pixel(1, 0), CColor24(6, 5, 4));
}

TEST(IconReader, PngImageAndFirstImageChosen) {
    // A 3 x 2 PNG made by FreeImage, then a second, bitmap-form image.
    InitFreeImageOnce();
    FIBITMAP* dib = FreeImage_Allocate(3, 2, 32);
    ASSERT_NE(dib, nullptr);
    for (int y = 0; y < 2; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, 1 - y); // bottom-up
        for (int x = 0; x < 3; ++x) {
            line[4 * x + FI_RGBA_RED] = uint8_t(10 * x + 1);
            line[4 * x + FI_RGBA_GREEN] = uint8_t(100 + y);
            line[4 * x + FI_RGBA_BLUE] = 7;
            line[4 * x + FI_RGBA_ALPHA] = uint8_t(x * 100);
        }
    }
    FIMEMORY* mem = FreeImage_OpenMemory();
    ASSERT_TRUE(FreeImage_SaveToMemory(FIF_PNG, dib, mem, 0));
    BYTE* bytes = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(mem, &bytes, &size);
    std::vector<uint8_t> png(bytes, bytes + size);
    FreeImage_CloseMemory(mem);
    FreeImage_Unload(dib);

    HandImage second{1, 1, 32, {}, {9, 9, 9, 255}, {0, 0, 0, 0}};
    const std::vector<uint8_t> file = IconFile({png, second.Bytes()});
    CIcon icon;
    ASSERT_TRUE(icon.Read(file));
    std::vector<uint8_t> bgra;
    int w = 0, h = 0;
    ASSERT_TRUE(icon.GetBGRA(bgra, w, h));
    ASSERT_EQ(w, 3);
    ASSERT_EQ(h, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            const uint8_t* p = &bgra[size_t(y * 3 + x) * 4];
            EXPECT_EQ(p[0], 7);
            EXPECT_EQ(p[1], 100 + y);
            EXPECT_EQ(p[2], 10 * x + 1);
            EXPECT_EQ(p[3], x * 100);
        }
    ASSERT_TRUE(icon.SelectImage(1));
    ASSERT_TRUE(icon.GetBGRA(bgra, w, h));
    EXPECT_EQ(w, 1);
    EXPECT_FALSE(icon.SelectImage(2));
}

TEST(IconHostile, DamagedDirectoriesAndHeadersAreRefused) {
    HandImage good{4, 2, 32, {}, std::vector<uint8_t>(32, 0x11), std::vector<uint8_t>(8, 0)};
    const std::vector<uint8_t> valid = IconFile({good.Bytes()});
    {
        CIcon icon;
        ASSERT_TRUE(icon.Read(valid)) << "the unmodified file must load";
    }
    struct Case {
        const char* what;
        std::vector<uint8_t> file;
    };
    std::vector<Case> cases;
    auto patched = [&](const char* what, size_t at, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> f = valid;
        for (size_t i = 0; i < bytes.size(); ++i) f[at + i] = bytes[i];
        cases.push_back({what, f});
    };
    auto le = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16),
                                    uint8_t(v >> 24)};
    };
    cases.push_back({"empty", {}});
    cases.push_back({"five bytes", {0, 0, 1, 0, 1}});
    cases.push_back({"directory cut", std::vector<uint8_t>(valid.begin(), valid.begin() + 20)});
    cases.push_back({"data cut", std::vector<uint8_t>(valid.begin(), valid.end() - 1)});
    patched("reserved set", 0, {1});
    patched("cursor type", 2, {2});
    patched("no images", 4, {0, 0});
    patched("count past the file", 4, {0xFF, 0xFF});
    patched("offset past the file", 18, le(uint32_t(valid.size()) + 1));
    patched("offset wraps", 18, le(0xFFFFFFF0u));
    patched("size wraps", 14, le(0xFFFFFFF0u));
    patched("offset inside directory", 18, le(4));
    patched("size zero", 14, le(0));
    patched("header size 12", 22, le(12));
    patched("header bigger than data", 22, le(100000));
    patched("width zero", 26, le(0));
    patched("width negative", 26, le(uint32_t(-4)));
    patched("height absurd", 30, le(0x7FFFFFFE));
    patched("height negative", 30, le(uint32_t(-4)));
    patched("height one row", 30, le(1));
    patched("bit count 7", 36, {7, 0});
    patched("compressed", 38, le(1));
    patched("width beyond data", 26, le(5000));
    {
        HandImage pal{
            2, 2, 8, std::vector<uint8_t>(1024), std::vector<uint8_t>(8), std::vector<uint8_t>(8)};
        std::vector<uint8_t> d = pal.Bytes();
        d[32] = 0x01; // colours used 257
        d[33] = 0x01;
        cases.push_back({"palette larger than depth", IconFile({d}, 8)});
    }
    {
        // Two entries over the same bytes would make every copy cost the file.
        std::vector<uint8_t> f;
        Add16(f, 0);
        Add16(f, 1);
        Add16(f, 2);
        const std::vector<uint8_t> img = good.Bytes();
        for (int i = 0; i < 2; ++i) {
            f.insert(f.end(), {4, 2, 0, 0, 1, 0, 32, 0});
            Add32(f, uint32_t(img.size()));
            Add32(f, 38);
        }
        f.insert(f.end(), img.begin(), img.end());
        cases.push_back({"overlapping entries", f});
    }
    {
        std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n',
                                    0,    0,   0,   13,  'I',  'H',  'D',  'R'};
        Add32(png, 0xA0860100); // 100000 big-endian
        Add32(png, 0xA0860100);
        png.resize(60, 0);
        cases.push_back({"huge PNG", IconFile({png})});
        png.resize(20);
        cases.push_back({"PNG cut in its header", IconFile({png})});
    }

    TempDir dir;
    for (const Case& c : cases) {
        CIcon icon;
        std::string why;
        EXPECT_FALSE(icon.Read(c.file, &why)) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
        BMP_File target = Picture(2, 2);
        EXPECT_FALSE(DecodeIcon(c.file, target)) << c.what;
        EXPECT_TRUE(target.SameAs(Picture(2, 2))) << c.what << ": target changed";

        const std::string path = dir / "h.ico";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(c.file.data()), std::streamsize(c.file.size()));
        std::string msg;
        EXPECT_FALSE(LoadImageFile(path, target, &msg)) << c.what;
        EXPECT_FALSE(msg.empty()) << c.what;
    }
}

TEST(IconHostile, RefusedReadKeepsPreviousIcon) {
    HandImage a{1, 1, 32, {}, {1, 2, 3, 4}, {0, 0, 0, 0}};
    CIcon icon;
    ASSERT_TRUE(icon.Read(IconFile({a.Bytes()})));
    EXPECT_FALSE(icon.Read(std::vector<uint8_t>{0, 0, 1, 0, 0, 0}));
    std::vector<uint8_t> bgra;
    int w = 0, h = 0;
    ASSERT_TRUE(icon.GetBGRA(bgra, w, h));
    EXPECT_EQ(bgra, (std::vector<uint8_t>{1, 2, 3, 4}));
}

} // namespace
