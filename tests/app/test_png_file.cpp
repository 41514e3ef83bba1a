// PNG files go to libpng directly; FreeImage read and wrote them before. Every
// kind of PNG must still give the pixels FreeImage's decoding gave, and every
// saved picture the bytes FreeImage's default writer made.

#include "app/image_files.h"
#include "app/png_file.h"
#include "tests/app/file_test_util.h"
#include "tests/app/freeimage_reference.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <png.h>

namespace {

using file_test::DamagedLoad;
using file_test::ExpectFreeImageWriterBytes;
using file_test::ExpectLoadedAsTheReference;
using file_test::FirstDifference;
using file_test::LoadDamaged;
using file_test::ReadAll;
using file_test::TempDir;
using file_test::WriteAll;

struct PngKind {
    const char* name;
    int width, height;
    int colour; // PNG_COLOR_TYPE_*
    int depth;
    bool interlaced = false;
    bool transparency = false; // a tRNS chunk
    bool gamma = false;        // a gAMA chunk
    bool extras = false;       // sBIT and bKGD chunks
};

int Channels(int colour) {
    switch (colour) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

void Append(png_structp png, png_bytep data, size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}
void NoFlush(png_structp) {}

std::vector<uint8_t> MakePng(const PngKind& k) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, k.width, k.height, k.depth, k.colour,
                 k.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    const int levels = 1 << std::min(k.depth, 8);
    if (k.colour == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> palette(static_cast<size_t>(levels));
        for (int i = 0; i < levels; ++i)
            palette[size_t(i)] =
                png_color{uint8_t(i * 37 + 11), uint8_t(255 - i * 13), uint8_t((i * 91) ^ 0x55)};
        png_set_PLTE(png, info, palette.data(), levels);
        if (k.transparency) {
            std::vector<png_byte> alpha(static_cast<size_t>(levels));
            for (int i = 0; i < levels; ++i) alpha[size_t(i)] = png_byte(i * 53);
            png_set_tRNS(png, info, alpha.data(), levels, nullptr);
        }
    } else if (k.transparency) {
        png_color_16 colour{};
        colour.gray = png_uint_16(levels / 3);
        colour.red = 7;
        colour.green = 8;
        colour.blue = 9;
        png_set_tRNS(png, info, nullptr, 0, &colour);
    }
    if (k.gamma) png_set_gAMA(png, info, 1.0 / 1.8);
    if (k.extras) {
        png_color_8 bits{};
        bits.red = bits.green = bits.blue = bits.gray = png_byte(std::min(k.depth, 8) - 1);
        bits.alpha = png_byte(std::min(k.depth, 8));
        png_set_sBIT(png, info, &bits);
        png_color_16 background{};
        background.red = background.green = background.blue = background.gray = 1;
        png_set_bKGD(png, info, &background);
    }
    png_write_info(png, info);
    const int samples = k.width * Channels(k.colour);
    const size_t rowBytes = (size_t(samples) * size_t(k.depth) + 7) / 8;
    std::vector<png_byte> row(rowBytes);
    std::vector<png_bytep> rows;
    std::vector<std::vector<png_byte>> image(size_t(k.height), row);
    unsigned seed = unsigned(k.width * 131 + k.depth);
    for (int y = 0; y < k.height; ++y) {
        std::vector<png_byte>& r = image[size_t(y)];
        for (int i = 0; i < samples; ++i) {
            seed = seed * 1103515245u + 12345u;
            const unsigned v = (unsigned(i * 29 + y * 17) ^ (seed >> 16)) & 0xFFFFu;
            if (k.depth == 16) {
                r[size_t(2 * i)] = png_byte(v >> 8);
                r[size_t(2 * i + 1)] = png_byte(v);
            } else if (k.depth == 8) {
                r[size_t(i)] = png_byte(v);
            } else {
                const unsigned sample = v % unsigned(levels);
                const int bit = i * k.depth;
                r[size_t(bit / 8)] |= png_byte(sample << (8 - k.depth - bit % 8));
            }
        }
        rows.push_back(r.data());
    }
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<PngKind> Kinds() {
    std::vector<PngKind> kinds;
    const int G = PNG_COLOR_TYPE_GRAY, P = PNG_COLOR_TYPE_PALETTE, GA = PNG_COLOR_TYPE_GRAY_ALPHA,
              RGB = PNG_COLOR_TYPE_RGB, RGBA = PNG_COLOR_TYPE_RGB_ALPHA;
    for (int d : {1, 2, 4, 8, 16}) {
        kinds.push_back({"grey", 37, 19, G, d});
        kinds.push_back({"greyTransparent", 37, 19, G, d, false, true});
    }
    for (int d : {1, 2, 4, 8}) {
        kinds.push_back({"palette", 41, 23, P, d});
        kinds.push_back({"paletteTransparent", 41, 23, P, d, false, true});
        kinds.push_back({"paletteInterlaced", 41, 23, P, d, true});
    }
    for (int d : {8, 16}) {
        kinds.push_back({"greyAlpha", 29, 31, GA, d});
        kinds.push_back({"rgb", 53, 27, RGB, d});
        kinds.push_back({"rgbTransparent", 53, 27, RGB, d, false, true});
        kinds.push_back({"rgbInterlaced", 53, 27, RGB, d, true});
        kinds.push_back({"rgbGamma", 53, 27, RGB, d, false, false, true});
        kinds.push_back({"rgba", 33, 45, RGBA, d});
        kinds.push_back({"rgbaInterlaced", 33, 45, RGBA, d, true});
        kinds.push_back({"greyGamma", 29, 31, G, d, false, false, true});
        kinds.push_back({"rgbExtras", 53, 27, RGB, d, false, false, false, true});
        kinds.push_back({"paletteGamma", 41, 23, P, d / 2, false, false, true});
        kinds.push_back({"rgbaGammaExtras", 33, 45, RGBA, d, true, false, true, true});
    }
    kinds.push_back({"onePixel", 1, 1, RGB, 8});
    kinds.push_back({"oneInterlaced", 1, 1, RGBA, 16, true});
    kinds.push_back({"tall", 1, 300, RGB, 8, true});
    return kinds;
}

TEST(PngFiles, EveryKindDecodesToFreeImagesPixels) {
    TempDir dir;
    for (const PngKind& k : Kinds()) {
        const std::string label = std::string(k.name) + std::to_string(k.depth);
        const std::string path = dir / (label + ".png");
        WriteAll(path, MakePng(k));
        BMP_File expected, ours;
        std::string message, reason;
        ASSERT_TRUE(LoadImageFileThroughFreeImage(path, expected, &message, &reason))
            << label << ": " << message << ": " << reason;
        ASSERT_TRUE(LoadImageFile(path, ours, &message, &reason)) << label << ": " << reason;
        EXPECT_EQ(FirstDifference(ours, expected), "") << label;
        // The library itself takes every kind but 16-bit samples with a file
        // gamma, which stay with FreeImage.
        BMP_File direct;
        std::string why;
        EXPECT_EQ(LoadPngFile(path, direct, why),
                  k.gamma && k.depth == 16 ? PngLoadResult::Unhandled : PngLoadResult::Loaded)
            << label << ": " << why;
    }
}

TEST(PngFiles, DamagedFilesFailAsWithFreeImageAndLeaveTheTargetAlone) {
    TempDir dir;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    for (const PngKind& k : {PngKind{"rgb", 120, 80, PNG_COLOR_TYPE_RGB, 8},
                             PngKind{"interlaced", 120, 80, PNG_COLOR_TYPE_RGB_ALPHA, 16, true}}) {
        const std::vector<uint8_t> whole = MakePng(k);
        for (size_t keep : {size_t(8), size_t(20), size_t(40), whole.size() / 2, whole.size() - 13,
                            whole.size() - 1}) {
            files.emplace_back(std::string(k.name) + "-cut" + std::to_string(keep) + ".png",
                               std::vector<uint8_t>(whole.begin(), whole.begin() + keep));
        }
        std::vector<uint8_t> garbled = whole;
        for (size_t i = whole.size() / 2; i < whole.size() / 2 + 30; ++i) garbled[i] ^= 0x33;
        files.emplace_back(std::string(k.name) + "-garbled.png", garbled);
    }
    for (const auto& [name, bytes] : files) {
        const std::string path = dir / name;
        WriteAll(path, bytes);
        const DamagedLoad r = LoadDamaged(path, LoadImageFileThroughFreeImage);
        EXPECT_EQ(r.standardError, "") << name;
        ExpectLoadedAsTheReference(r, name);
        if (!r.loaded) {
            EXPECT_EQ(r.message, "Unable to decode the PNG file") << name;
        }
    }
}

TEST(PngFiles, SavedBytesAreFreeImagesDefaultPng) {
    TempDir dir;
    InitFreeImageOnce();
    for (const auto& [w, h] : {std::pair{1, 1}, {2, 3}, {17, 9}, {131, 67}, {700, 40}}) {
        BMP_File picture;
        picture.CreateUninitialized(w, h);
        unsigned seed = unsigned(w * 7 + h);
        for (size_t i = 0; i < picture.PixelBytes(); ++i) {
            seed = seed * 1103515245u + 12345u;
            picture.Bytes()[i] = uint8_t((i * 3 / 7) ^ ((seed >> 16) & 7));
        }
        ExpectFreeImageWriterBytes(picture, dir / "ours.png", FIF_PNG, PNG_DEFAULT,
                                   [](const BMP_File& p, std::vector<uint8_t>& out,
                                      std::string& why) { return EncodePng(p, out, why); });

        // With the default metadata the pixels are the same.
        std::string message;
        ASSERT_TRUE(SaveImageFile(dir / "tagged.png", picture, &message)) << message;
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(dir / "tagged.png", back));
        EXPECT_TRUE(back.SameAs(picture)) << w << "x" << h;
    }
}

} // namespace
