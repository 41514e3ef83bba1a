#pragma once
// Geometric operations of the fixed chain. Each replaces the image in place.
// Those that make a new picture return whether they made it: false when it
// would be too large for a BMP_File or the memory for it cannot be had, and
// the image is then left as it was.

#include "app/bmp_file.h"

// The work image becomes the (x1 - x0) x (y1 - y0) part starting at (x0, y0);
// pixels outside the old image are black. An empty rectangle leaves the image
// as it is, since an empty work image would stop every later run.
bool CropImage(BMP_File& image, int x0, int y0, int x1, int y1);

// Nearest-neighbour resize to width x height (aspect not kept). Does nothing
// (and succeeds) when a size is not positive.
bool ResizeImage(BMP_File& image, int width, int height);

// One quarter turn clockwise: transpose, then mirror left-right.
bool QuarterTurn(BMP_File& image);
void FlipLeftRight(BMP_File& image);
void FlipTopBottom(BMP_File& image);

// Rotation about the centre by `degrees`, clockwise on the screen for positive
// angles, on a canvas of the same size; uncovered areas take `background`.
// Bilinear sampling in 1/256 pixel steps: each destination pixel centre is
// taken back into the source, where the four nearest pixels (background for
// those outside the image) are weighted. An angle of 0 leaves the image as is.
bool RotateImage(BMP_File& image, float degrees, CColor24 background);

// Where the bilinear rotation samples. The source position of destination
// pixel (x, y) (pixel centres at whole numbers) is kept in fixed point with 32
// fractional bits: the position of pixel (0, 0) plus x and y times the rounded
// per-column and per-row steps, so that walking a row by adding the step gives
// exactly the same positions as computing each one. Source() rounds them to
// 1/256 pixel.
struct RotationSampler {
    static constexpr int kFractionBits = 32;
    int64_t originX, originY;   // source position of destination pixel (0, 0)
    int64_t colStepX, colStepY; // change per destination column
    int64_t rowStepX, rowStepY; // change per destination row
    RotationSampler(int width, int height, float degrees);
    int64_t PositionX(int x, int y) const { return originX + x * colStepX + y * rowStepX; }
    int64_t PositionY(int x, int y) const { return originY + x * colStepY + y * rowStepY; }
    // A fixed-point position in 1/256 pixels, rounded to the nearest.
    static int64_t ToSubpixel(int64_t position) {
        return (position + (int64_t(1) << (kFractionBits - 9))) >> (kFractionBits - 8);
    }
    void Source(int x, int y, int64_t& fx, int64_t& fy) const {
        fx = ToSubpixel(PositionX(x, y));
        fy = ToSubpixel(PositionY(x, y));
    }
};

// Forward mapping onto a trapezoid: source samples u = 0, 0.5, 1, ... below W
// and v = 0, 0.5, ... below H, u in the outer loop, carry source pixel
// (trunc u, trunc v) to their place on the trapezoid, later samples
// overwriting earlier ones; the rest of the canvas takes `background`. The
// places are computed exactly, so an angle of 0 leaves the image unchanged.
bool PerspectiveImage(BMP_File& image, bool vertical, float degrees, CColor24 background);
