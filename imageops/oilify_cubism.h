#pragma once
// Oilify and Cubism over blue-green-red-alpha buffers (source read,
// destination written; the destination starts as a copy of the source).
//
// Oilify: every pixel takes the dominant colour of a circular neighbourhood,
// found through 256-bin histograms whose bins are weighted by a power of their
// count relative to the fullest bin. The window of pixel (x, y) with radius n
// holds the pixels (xx, yy) with (xx - x)^2 + (yy - y)^2 <= n^2, 0 <= xx <= W-2
// and 0 <= yy <= H-2: the last column and the last row never enter a window.
// A pixel whose window is empty (a picture one pixel wide or high, or radius 0
// in the last column or row) keeps its colour.
//
// Cubism: randomly placed, randomly rotated tiles filled with the source colour
// at their centre on a black ground. It draws from the C runtime rand().

#include "app/settings.h"

#include <array>
#include <cstdint>

// Radius of the window and exponent of one pixel.
struct OilifyPixelParams {
    int radius;
    float exponent;
};

// The parameters of pixel (x, y): constant without the maps, from the pixel's
// luminance with them. Radii are limited to width + height, beyond which the
// window no longer grows.
OilifyPixelParams OilifyParamsAt(const uint8_t* src, int width, int height, int x, int y,
                                 const OilifyValues& v);

// Weight of a bin of `count` pixels when the fullest bin has `hmax` (at least
// 1): (count / hmax) raised to the exponent, by repeated squaring for whole
// exponents up to 255.
float OilifyWeight(int count, int hmax, float exponent);

void Oilify(const uint8_t* src, uint8_t* dst, int width, int height, const OilifyValues& v);

// The four corners of a tile w x h centred on (cx, cy), rotated by theta, in
// the order (-w/2, -h/2), (w/2, -h/2), (w/2, h/2), (-w/2, h/2).
std::array<std::array<double, 2>, 4> CubismCorners(double cx, double cy, int w, int h,
                                                   double theta);

// size: edge of a tile in pixels (> 0; otherwise the destination is black and
// no random number is drawn); strength scales the tiles.
void Cubism(const uint8_t* src, uint8_t* dst, int width, int height, float size, float strength);
