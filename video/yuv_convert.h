#pragma once
// RGB pictures into the planar 4:2:0 YUV that the usual AVI encoders take:
// one luma sample per pixel, one blue and one red difference per 2 x 2 block
// (the mean of its pixels; a last odd row or column counts its own pixels
// twice). BT.601 coefficients; full range (0..255, as JPEG stores it) or video
// range (16..235 luma, 16..240 differences).

#include "app/bmp_file.h"

#include <cstdint>

struct YuvPlanes {
    uint8_t* y;
    int yStride;
    uint8_t* u; // blue difference (Cb)
    int uStride;
    uint8_t* v; // red difference (Cr)
    int vStride;
};

// Fills the planes for src, which must not be empty; the chroma planes are
// (width + 1) / 2 x (height + 1) / 2.
void RgbToYuv420(const BMP_File& src, bool fullRange, const YuvPlanes& out);
