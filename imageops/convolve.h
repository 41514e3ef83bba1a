#pragma once
// Neighbourhood filters of the effect list: the 3 x 3 kernel filters, Blur,
// Sharpen, Emboss and Erode. All keep the image size and work on the image in
// place (through a second image where a filter must read unchanged pixels).

#include "app/bmp_file.h"

#include <array>
#include <cstdint>

// 3 x 3 kernel stored row by row: element (column i, row j) at i + 3 j.
using Kernel3 = std::array<int32_t, 9>;

// The kernel laid on the 3 x 3 window of (x, y) cut to the image, starting from
// its own first column and row, so that on the first column or row it is
// shifted rather than centred. Per channel: trunc(sum * factor), divided (toward
// zero) by the sum of the kernel elements used when that is not zero, clamped.
CColor24 ConvolvePixel(int x, int y, const Kernel3& kernel, const BMP_File& image, float factor);

enum class KernelFilter {
    Contour,            // edges light on a 200 grey ground
    ContrastFilter,     // "Contarst Filter"
    HighContrastFilter, // "High Contarst Filter"
    Prewitt,
    Sobel,
    Laplas,
};
const Kernel3& FilterKernel(KernelFilter f);
// Whether the filter's result v is turned into max(200 - v, 0).
bool FilterInverts(KernelFilter f);
void ApplyKernelFilter(BMP_File& image, KernelFilter f);

// Box blur of window (2r + 1), r = (size - 1) / 2, computed in place row by row
// from the top, each row from the left: pixels above and to the left inside the
// window already hold blurred values. Sizes below 3 leave the image unchanged.
void Blur(BMP_File& image, int size);

// Every pixel off the outermost rows and columns becomes clamp((6p - q) / 2)
// per channel, q being the pixel below it (still unprocessed).
void Sharpen(BMP_File& image);

// Grey relief: half of (lum(p) - lum(a) + 255), a the pixel three up and three
// left (clamped to the image), lum = trunc(0.3 R + 0.59 G + 0.11 B).
void Emboss(BMP_File& image);

// Each output pixel takes the brightest (R^2 + G^2 + B^2, first one on ties)
// of a 3 x 3 neighbourhood, edges replicated; output row y is centred on source
// row max(y - 1, 0), so the result is moved down by one row.
void Erode(BMP_File& image);
