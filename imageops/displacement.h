#pragma once
// Effects that move pixels: Wave (concentric waves around the centre), Ripple
// (rows or columns shifted by a sawtooth or sine wave) and Whirl & Pinch (a
// rotation fading with the distance from the centre, with a radial squeeze or
// bulge). Each reads a source and writes a destination of width x height
// pixels of 4 bytes blue, green, red, alpha, top row first, rows packed; the
// two buffers must not overlap. Every destination pixel is written. A pixel
// outside the picture reads as transparent black (all four bytes 0).
//
// None of them draws random numbers, so large pictures are split over several
// threads; `threads` 0 picks the count by picture size, and the result never
// depends on it.

#include "app/settings.h"

#include <cstdint>

struct WaveParams {
    int amplitude = 50;
    int wavelength = 25; // 0 leaves the picture as it is (no wave fits)
    int phase = 180;     // degrees
    bool smear = true;   // clamp sample positions into the picture; else fade out
    bool reflective = false;
};

enum class RippleEdges : int { Smear = 0, Wrap = 1, Blank = 2 };

struct RippleParams {
    int amplitude = 100;
    int period = 100;     // pixels; values below 1 count as 1
    int phaseShift = 180; // degrees
    bool antialias = false;
    bool retainTiling = false;
    bool vertical = false; // false: rows move sideways; true: columns move
    RippleEdges edges = RippleEdges::Wrap;
    bool sine = false; // false: sawtooth
};

struct WhirlPinchParams {
    int radius = 100; // percent of the half size
    int pinch = 0;    // percent, -100..100
    int whirl = 90;   // degrees
};

WaveParams WaveFromSettings(const ProcessingSettings& s);
RippleParams RippleFromSettings(const ProcessingSettings& s);
WhirlPinchParams WhirlPinchFromSettings(const ProcessingSettings& s);

// Each pixel samples bilinearly (bytes rounded to nearest, ties to even) at
// its position moved by a sine of its distance from the centre. Smear holds
// positions on the picture, its last row and column included, so amplitude 0
// changes nothing; without smear the picture fades to black where positions
// leave it.
void Wave(const uint8_t* src, uint8_t* dst, int width, int height, const WaveParams& p,
          int threads = 0);
// Each row (column) moves by a sawtooth or sine of its index. A shift that is
// a whole number up to rounding moves by exactly that number. With
// antialiasing two pixels are blended by alpha and truncated; where neither
// has weight the result is transparent black, as it is without antialiasing
// where the sample lies off the picture.
void Ripple(const uint8_t* src, uint8_t* dst, int width, int height, const RippleParams& p,
            int threads = 0);
// Pixels within the radius sample at their position pinched and turned about
// the centre. A pixel whose sample has no full 2 x 2 cell on the picture, and
// every pixel outside the radius, keeps its source colour; so does the centre
// pixel, and so does a picture one pixel high or wide. Rows in the lower half
// sample at the reflection through the centre of their upper-half image.
void WhirlPinch(const uint8_t* src, uint8_t* dst, int width, int height, const WhirlPinchParams& p,
                int threads = 0);

// The period Ripple works with: at least 1, and with tiling retained
// length / (length / period) in whole numbers, so that a whole number of
// periods fits the moved length (the width when rows move, the height when
// columns move); a period longer than that length becomes the length.
int RippleEffectivePeriod(const RippleParams& p, int width, int height);
