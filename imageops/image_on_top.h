#pragma once
// "Image on top": a second picture laid over the original image inside a frame
// that the user places in the original view, blended with the weight of the
// "Transparency" slider. The view previews the blend at view scale with
// BlendScaledInto (or BlendScaledIntoBGRA); "Put Image" makes it permanent with
// PutImageOnTop.
//
// The blend of one overlay channel value o onto an image channel value p is
//     p' = trunc(o * T / 100 + p * (1 - T / 100))
// evaluated in double precision from the float T (0..100) exactly in that
// order, so that the preview and the stamped image agree to the last bit.
// T = 100 shows only the overlay, T = 0 only the image below. A T outside
// 0..100 is clamped to that range, and NaN counts as 0 (nothing changes): the
// formula would otherwise leave 0..255 and wrap around.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <cstddef>
#include <cstdint>

// One channel blended with the formula above.
uint8_t BlendChannel(uint8_t overlay, uint8_t below, float transparency);

// Blends src onto dst with src's top-left pixel at (x, y); pixels of src that
// fall outside dst are skipped. Returns false (and changes nothing) when either
// image is empty.
bool BlendInto(BMP_File& dst, const BMP_File& src, int x, int y, float transparency);

// Resizes src with nearest-neighbour sampling (ResampleIndexMap) to the size of
// `rect` and blends it onto dst with its top-left pixel at (rect.left,
// rect.top), skipping pixels outside dst. The resized picture is never built
// whole: only the part that lands inside dst is sampled, so a frame much larger
// than dst costs no more than dst itself. An inside-out rectangle (right <
// left or bottom < top) counts as its normalised form. Returns false (and
// changes nothing) when an image is empty, the rectangle is empty, or a side of
// it exceeds BMP_File::kMaxSide.
bool BlendScaledInto(BMP_File& dst, const BMP_File& src, IntRect rect, float transparency);

// The same onto a 32-bit buffer of blue, green, red, alpha bytes per pixel (the
// layout of the working buffer and of a QImage in Format_RGB32 on
// little-endian machines), `stride` bytes per row. Alpha is left as it is.
bool BlendScaledIntoBGRA(uint8_t* dst, int width, int height, size_t stride, const BMP_File& src,
                         IntRect rect, float transparency);

// A rectangle in the original view's client pixels converted to the pixels of
// a width x height image: x by width / clientWidth, y by height / clientHeight,
// each product truncated toward zero. An inside-out rectangle is normalised
// first. Returns false when the client size is not positive.
bool ViewFrameToImage(const IntRect& frameInView, int viewClientWidth, int viewClientHeight,
                      int imageWidth, int imageHeight, IntRect& imageRect);

// "Put Image": converts the frame to image coordinates (ViewFrameToImage), then
// blends the overlay resized to that rectangle onto the original image
// (BlendScaledInto). Returns false and leaves the original unchanged when
// there is nothing to blend: an empty original or overlay, a client size that
// is not positive, or a frame that converts to an empty rectangle. The caller
// deactivates the overlay either way.
bool PutImageOnTop(BMP_File& original, const BMP_File& overlay, const IntRect& frameInView,
                   int viewClientWidth, int viewClientHeight, float transparency);
