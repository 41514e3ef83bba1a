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

void Wave(const uint8_t* src, uint8_t* dst, int width, int height, const WaveParams& p,
          int threads = 0);
void Ripple(const uint8_t* src, uint8_t* dst, int width, int height, const RippleParams& p,
            int threads = 0);
void WhirlPinch(const uint8_t* src, uint8_t* dst, int width, int height, const WhirlPinchParams& p,
                int threads = 0);

// The period Ripple works with: at least 1, and with tiling retained
// length / (length / period) in whole numbers, so that a whole number of
// periods fits the moved length (the width when rows move, the height when
// columns move); a period longer than that length becomes the length.
int RippleEffectivePeriod(const RippleParams& p, int width, int height);
