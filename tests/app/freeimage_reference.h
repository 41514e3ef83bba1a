// What FreeImage makes of a picture, for the tests that hold the direct
// codecs to FreeImage's answers, and the first pixel where two pictures part.
#pragma once

#include "app/bmp_file.h"
#include "app/image_files.h"

#include <FreeImage.h>

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

} // namespace file_test
