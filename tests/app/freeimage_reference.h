// What FreeImage makes of a picture, for the tests that hold the direct
// codecs to FreeImage's answers: its writer's bytes, its answer for a damaged
// file, and the first pixel where two pictures part.
#pragma once

#include "app/bmp_file.h"
#include "app/image_files.h"
#include "tests/app/file_test_util.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace file_test {

// The bytes FreeImage's writer for `format` makes of the picture with `flags`.
inline std::vector<uint8_t> FreeImageWriterBytes(const BMP_File& picture, FREE_IMAGE_FORMAT format,
                                                 int flags) {
    InitFreeImageOnce();
    const int w = picture.Width(), h = picture.Height();
    FIBITMAP* dib = FreeImage_Allocate(w, h, 24);
    for (int y = 0; y < h; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x) {
            line[3 * x + FI_RGBA_RED] = picture.Pixel(x, y).r;
            line[3 * x + FI_RGBA_GREEN] = picture.Pixel(x, y).g;
            line[3 * x + FI_RGBA_BLUE] = picture.Pixel(x, y).b;
        }
    }
    std::vector<uint8_t> bytes;
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (FreeImage_SaveToMemory(format, dib, memory, flags)) {
        BYTE* data = nullptr;
        DWORD size = 0;
        FreeImage_AcquireMemory(memory, &data, &size);
        bytes.assign(data, data + size);
    }
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(dib);
    return bytes;
}

// The first differing pixel, for the failure message; empty when the
// pictures are the same.
inline std::string FirstDifference(const BMP_File& a, const BMP_File& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return std::to_string(a.Width()) + "x" + std::to_string(a.Height()) + " vs " +
               std::to_string(b.Width()) + "x" + std::to_string(b.Height());
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (!(a.Pixel(x, y) == b.Pixel(x, y))) {
                const CColor24 p = a.Pixel(x, y), q = b.Pixel(x, y);
                char text[128];
                std::snprintf(text, sizeof text, "(%d,%d): %d %d %d vs %d %d %d", x, y, p.r, p.g,
                              p.b, q.r, q.g, q.b);
                return text;
            }
    return "";
}

// Saves the picture stripped of metadata to `path` and encodes it in memory
// with encode(picture, bytes, why): both must give exactly the bytes of
// FreeImage's writer for `format` with `flags`.
template <class Encode>
void ExpectFreeImageWriterBytes(const BMP_File& picture, const std::string& path,
                                FREE_IMAGE_FORMAT format, int flags, Encode&& encode) {
    const std::vector<uint8_t> expected = FreeImageWriterBytes(picture, format, flags);
    ASSERT_FALSE(expected.empty());
    const std::string size =
        std::to_string(picture.Width()) + "x" + std::to_string(picture.Height());
    SaveOptions strip;
    strip.strip = true;
    std::string message;
    ASSERT_TRUE(SaveImageFile(path, picture, &message, strip)) << message;
    EXPECT_TRUE(ReadAll(path) == expected) << size;
    std::vector<uint8_t> inMemory;
    std::string why;
    ASSERT_TRUE(encode(picture, inMemory, why)) << why;
    EXPECT_TRUE(inMemory == expected) << size;
}

// A damaged file loaded by the reference and by LoadImageFile, into a
// marked target so that a failed load that changed it shows.
struct DamagedLoad {
    bool loaded = false, referenceLoaded = false;
    BMP_File ours, before, expected;
    std::string message, reason, referenceMessage, referenceReason, standardError;
};

// reference(path, picture, &message, &reason) is the answer to match.
template <class Reference> DamagedLoad LoadDamaged(const std::string& path, Reference&& reference) {
    DamagedLoad r;
    r.ours.Create(2, 2);
    r.ours.Pixel(1, 1) = CColor24(1, 2, 3);
    r.before = r.ours;
    r.referenceLoaded = reference(path, r.expected, &r.referenceMessage, &r.referenceReason);
    testing::internal::CaptureStderr();
    r.loaded = LoadImageFile(path, r.ours, &r.message, &r.reason);
    r.standardError = testing::internal::GetCapturedStderr();
    return r;
}

// Both loaded alike: the same pixels, or, where ours failed, the target as
// it was.
inline void ExpectLoadedAsTheReference(const DamagedLoad& r, const std::string& label) {
    EXPECT_EQ(r.loaded, r.referenceLoaded) << label << ": " << r.message << ": " << r.reason;
    if (r.loaded && r.referenceLoaded) {
        EXPECT_EQ(FirstDifference(r.ours, r.expected), "") << label;
    } else if (!r.loaded) {
        EXPECT_TRUE(r.ours.SameAs(r.before)) << label << ": a failed load changed the target";
    }
}

} // namespace file_test
