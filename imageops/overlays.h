#pragma once
// Overlays and noise of the fixed chain: light regions, grey and per-channel
// noise, the mask, the mosaic and the border frame. Each works in place on the
// work image. The noise operations draw from the C runtime rand() (never seeded
// here), so a caller that seeds srand gets a reproducible result.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <string>

// One draw of the C runtime rand() in 0..32767, the range the noise formulas
// are written for. Runtimes whose rand() is wider (glibc: 0..2^31-1) give
// their top 15 bits, so the value stays uniform and follows srand() seeding.
int RuntimeRand15();

// Light region: an ellipse inscribed in [x0, x1) x [y0, y1) (work image pixels,
// may reach outside the image). Each channel moves toward the target by up to
// 200 at the centre and 0 at the rim, never past the target. Target channels
// are limited to 0..255.
void ApplyLightRegion(BMP_File& image, const IntRect& rect, const ChannelInts& target);

// Grey noise: one rand() per pixel, columns left to right, each column top to
// bottom; the same offset in -2*strength..2*strength goes to all three channels.
void ApplyNoise(BMP_File& image, int strength);

// Per-channel noise: the same pixel order, three rand() per pixel (red, green,
// blue), each scaled by its own strength.
void ApplyRGBNoise(BMP_File& image, int strengthR, int strengthG, int strengthB);

struct MaskParams {
    bool invert = false;
    float opacity = 0.0f; // floor of the mask value; 1 leaves the image alone
    ChannelInts color;    // shown where the mask is black
};

// Stretches mask over the whole image (nearest neighbour) and blends each pixel
// toward the mask colour by the mask's brightness. An empty mask does nothing.
// Returns false, leaving the image as it was, when the working memory cannot
// be had.
bool ApplyMask(BMP_File& image, const BMP_File& mask, const MaskParams& params);

// Mosaic of size x size cells sampled at their centres; the strips the
// whole-cell grid leaves at the margins take the colour of the nearest cell.
// Sizes below 2 change nothing.
void ApplyMosaic(BMP_File& image, int size);

enum BorderMode : int {
    kBorderOnTop = 0,   // "On top of image"
    kBorderStretch = 1, // "Stretch image"
    kBorderAround = 2,  // "Around of image"
};

// Indexes into ProcessingSettings::m_nBorderPlacement.
inline constexpr int kBorderPlacementMode = 0;
inline constexpr int kBorderPlacementThickness = 1;

// Band widths of the frame for a thickness given in border-picture pixels:
// tx = trunc(t * W / bw), ty = trunc(t * H / bh).
struct BorderBand {
    int tx = 0;
    int ty = 0;
};
BorderBand BorderBandFor(int thickness, int imageWidth, int imageHeight, int borderWidth,
                         int borderHeight);

// Frames the image with a frame tiled from the border picture. Mode 1 shrinks
// the image into the frame, mode 2 grows the canvas around it, mode 0 paints the
// frame over the image's edges. Does nothing for an empty border picture.
// Returns false, leaving the image as it was, when the grown canvas (or the
// shrunk picture) would be too large or its memory cannot be had.
bool ApplyBorder(BMP_File& image, const BMP_File& border, int mode, int thickness);

// Reads a mask or border picture: BMP directly, other formats through the image
// file loader. Returns false (and leaves out unchanged) when the file cannot be
// read or holds no pixels.
bool LoadOverlayPicture(const std::string& path, BMP_File& out);

// The chain steps: resolve the stored file name (see data_paths.h), read the
// picture and apply it. A file that cannot be read leaves the image as it is.
// Returns whether the picture was applied; `made`, when given, becomes false
// when the picture was read but the result could not be made (see ApplyMask
// and ApplyBorder), true otherwise.
bool ApplyMaskFromSettings(BMP_File& image, const ProcessingSettings& s, bool* made = nullptr);
bool ApplyBorderFromSettings(BMP_File& image, const ProcessingSettings& s, bool* made = nullptr);
// The size ApplyBorderFromSettings makes from a width x height image: the
// grown canvas in the mode that frames around the picture, else the same.
void BorderResultSize(const ProcessingSettings& s, int width, int height, int64_t& resultWidth,
                      int64_t& resultHeight);
