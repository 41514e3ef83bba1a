#pragma once
// Geometric operations of the fixed chain. Each replaces the image in place.

#include "app/bmp_file.h"

// The work image becomes the (x1 - x0) x (y1 - y0) part starting at (x0, y0);
// pixels outside the old image are black. An empty rectangle leaves the image
// as it is, since an empty work image would stop every later run.
void CropImage(BMP_File& image, int x0, int y0, int x1, int y1);

// Nearest-neighbour resize to width x height (aspect not kept). Does nothing
// when a size is not positive.
void ResizeImage(BMP_File& image, int width, int height);

// One quarter turn clockwise: transpose, then mirror left-right.
void QuarterTurn(BMP_File& image);
void FlipLeftRight(BMP_File& image);
void FlipTopBottom(BMP_File& image);
