// The usual TIFF kinds go to libtiff directly; FreeImage read and wrote them
// before and still reads every other kind. Pixels, messages and saved bytes
// must stay what FreeImage made of them.

#include "app/image_files.h"
#include "app/tiff_file.h"
#include "tests/app/file_test_util.h"
#include "tests/app/freeimage_reference.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <tiffio.h>

namespace {

using file_test::DamagedLoad;
using file_test::ExpectFreeImageWriterBytes;
using file_test::ExpectLoadedAsTheReference;
using file_test::FirstDifference;
using file_test::LoadDamaged;
using file_test::ReadAll;
using file_test::TempDir;
using file_test::WriteAll;

struct TiffKind {
    const char* name;
    int width, height;
    uint16_t photometric;
    uint16_t samples;
    uint16_t bits = 8;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t predictor = 0;
    uint32_t rowsPerStrip = 0; // 0: libtiff's default
    uint16_t extra = 0;        // EXTRASAMPLE_* for a fourth sample
    bool tiled = false;
    bool separate = false;
    bool twoPages = false;
    bool direct = true; // read by libtiff directly (else left to FreeImage)
};

void WriteTiff(const std::string& path, const TiffKind& k) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    for (int page = 0; page < (k.twoPages ? 2 : 1); ++page) {
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(k.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(k.height));
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, k.bits);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, k.samples);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, k.photometric);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG,
                     k.separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_COMPRESSION, k.compression);
        if (k.predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, k.predictor);
        if (k.extra) {
            uint16_t extra = k.extra;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        if (k.photometric == PHOTOMETRIC_PALETTE) {
            std::vector<uint16_t> r(256), g(256), b(256);
            for (int i = 0; i < 256; ++i) {
                r[size_t(i)] = uint16_t(i * 257);
                g[size_t(i)] = uint16_t((255 - i) * 257);
                b[size_t(i)] = uint16_t(((i * 7) & 255) * 257);
            }
            TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
        }
        const int bytesPerSample = k.bits / 8;
        const int planes = k.separate ? k.samples : 1;
        const int perPixel = k.separate ? 1 : k.samples;
        unsigned seed = unsigned(k.width * 3 + k.samples + page);
        auto fill = [&](std::vector<uint8_t>& row) {
            for (auto& v : row) {
                seed = seed * 1103515245u + 12345u;
                v = uint8_t(seed >> 16);
            }
        };
        if (k.tiled) {
            TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
            TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
            std::vector<uint8_t> tile(size_t(TIFFTileSize(t)));
            for (int y = 0; y < k.height; y += 16)
                for (int x = 0; x < k.width; x += 16) {
                    fill(tile);
                    TIFFWriteTile(t, tile.data(), uint32_t(x), uint32_t(y), 0, 0);
                }
        } else {
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP,
                         k.rowsPerStrip ? k.rowsPerStrip : TIFFDefaultStripSize(t, 0));
            std::vector<uint8_t> row(size_t(k.width) * perPixel * bytesPerSample);
            for (int plane = 0; plane < planes; ++plane)
                for (int y = 0; y < k.height; ++y) {
                    fill(row);
                    TIFFWriteScanline(t, row.data(), uint32_t(y), uint16_t(plane));
                }
        }
        TIFFWriteDirectory(t);
    }
    TIFFClose(t);
}

std::vector<TiffKind> Kinds() {
    const uint16_t RGB = PHOTOMETRIC_RGB, GREY = PHOTOMETRIC_MINISBLACK;
    std::vector<TiffKind> k = {
        {"rgb", 37, 21, RGB, 3},
        {"rgbLzw", 37, 21, RGB, 3, 8, COMPRESSION_LZW},
        {"rgbLzwPredictor", 64, 40, RGB, 3, 8, COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
        {"rgbDeflate", 64, 40, RGB, 3, 8, COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL},
        {"rgbPackBits", 33, 17, RGB, 3, 8, COMPRESSION_PACKBITS},
        {"rgbStripPerRow", 33, 17, RGB, 3, 8, COMPRESSION_LZW, 0, 1},
        {"rgbOneStrip", 33, 17, RGB, 3, 8, COMPRESSION_NONE, 0, 17},
        {"rgbaUnassociated", 29, 19, RGB, 4, 8, COMPRESSION_LZW, 0, 0, EXTRASAMPLE_UNASSALPHA},
        {"rgbaAssociated", 29, 19, RGB, 4, 8, COMPRESSION_NONE, 0, 0, EXTRASAMPLE_ASSOCALPHA},
        {"rgbExtra", 29, 19, RGB, 4, 8, COMPRESSION_NONE, 0, 0, EXTRASAMPLE_UNSPECIFIED},
        {"grey", 41, 23, GREY, 1},
        {"greyDeflate", 41, 23, GREY, 1, 8, COMPRESSION_ADOBE_DEFLATE},
        {"twoPages", 30, 20, RGB, 3, 8, COMPRESSION_LZW, 0, 0, 0, false, false, true},
        {"onePixel", 1, 1, RGB, 3},
    };
    TiffKind other[] = {
        {"tiled", 40, 24, RGB, 3, 8, COMPRESSION_NONE, 0, 0, 0, true},
        {"separate", 40, 24, RGB, 3, 8, COMPRESSION_NONE, 0, 0, 0, false, true},
        {"rgb16", 20, 12, RGB, 3, 16},
        {"greyWhite", 20, 12, PHOTOMETRIC_MINISWHITE, 1},
        {"palette", 20, 12, PHOTOMETRIC_PALETTE, 1},
        {"grey16", 20, 12, GREY, 1, 16},
    };
    for (TiffKind o : other) {
        o.direct = false;
        k.push_back(o);
    }
    return k;
}

TEST(TiffFiles, EveryKindDecodesToFreeImagesPixels) {
    TempDir dir;
    for (const TiffKind& k : Kinds()) {
        const std::string path = dir / (std::string(k.name) + ".tif");
        WriteTiff(path, k);
        BMP_File expected, ours, direct;
        std::string message, reason;
        ASSERT_TRUE(LoadImageFileThroughFreeImage(path, expected, &message, &reason))
            << k.name << ": " << message << ": " << reason;
        ASSERT_TRUE(LoadImageFile(path, ours, &message, &reason)) << k.name << ": " << reason;
        EXPECT_EQ(FirstDifference(ours, expected), "") << k.name;
        EXPECT_EQ(LoadTiffFile(path, direct),
                  k.direct ? TiffLoadResult::Loaded : TiffLoadResult::Unhandled)
            << k.name;
    }
}

TEST(TiffFiles, DamagedFilesGiveFreeImagesAnswerAndMessages) {
    // What libtiff cannot finish goes to FreeImage, so a damaged file loads
    // or fails, with the same words, as it always did.
    TempDir dir;
    const TiffKind k{"rgb", 90, 60, PHOTOMETRIC_RGB, 3, 8, COMPRESSION_LZW, PREDICTOR_HORIZONTAL};
    WriteTiff(dir / "whole.tif", k);
    const std::vector<uint8_t> whole = ReadAll(dir / "whole.tif");
    for (size_t keep :
         {size_t(4), size_t(12), whole.size() / 3, whole.size() / 2, whole.size() - 20}) {
        const std::string path = dir / ("cut" + std::to_string(keep) + ".tif");
        WriteAll(path, std::vector<uint8_t>(whole.begin(), whole.begin() + keep));
        const DamagedLoad r = LoadDamaged(path, LoadImageFileThroughFreeImage);
        ExpectLoadedAsTheReference(r, std::to_string(keep));
        if (!r.loaded) {
            EXPECT_EQ(r.message, r.referenceMessage) << keep;
            EXPECT_EQ(r.reason, r.referenceReason) << keep;
        }
    }
}

TEST(TiffFiles, SavedBytesAreFreeImagesDefaultTiff) {
    TempDir dir;
    InitFreeImageOnce();
    for (const auto& [w, h] : {std::pair{1, 1}, {2, 3}, {17, 9}, {131, 67}, {700, 40}}) {
        BMP_File picture;
        picture.CreateUninitialized(w, h);
        unsigned seed = unsigned(w * 5 + h);
        for (size_t i = 0; i < picture.PixelBytes(); ++i) {
            seed = seed * 1103515245u + 12345u;
            picture.Bytes()[i] = uint8_t((i * 3 / 7) ^ ((seed >> 16) & 15));
        }
        ExpectFreeImageWriterBytes(picture, dir / "ours.tif", FIF_TIFF, TIFF_DEFAULT,
                                   [](const BMP_File& p, std::vector<uint8_t>& out,
                                      std::string& why) { return EncodeTiff(p, out, why); });
        // The picture given is not changed by the encoder's predictor.
        BMP_File back;
        ASSERT_TRUE(LoadImageFile(dir / "ours.tif", back));
        EXPECT_TRUE(back.SameAs(picture)) << w << "x" << h;

        std::string message;
        ASSERT_TRUE(SaveImageFile(dir / "tagged.tif", picture, &message)) << message;
        ASSERT_TRUE(LoadImageFile(dir / "tagged.tif", back));
        EXPECT_TRUE(back.SameAs(picture)) << w << "x" << h;
    }
}

} // namespace
