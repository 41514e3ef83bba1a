#pragma once
// The streaking effects of the effect list, on blue-green-red-alpha working
// buffers (4 bytes a pixel, rows packed, top row first): "Wind" streaks colour
// along the rows away from edges, "Van Gogh" smears the picture along a flow
// field taken from the picture itself (line integral convolution).
//
// Both draw from the C runtime rand() (never seeded here) in a fixed order, so
// a caller that seeds srand() gets a reproducible result. Each reads src and
// writes every pixel of dst; src and dst must not overlap.

#include "app/settings.h"

#include <cstdint>

struct WindParams {
    int threshold = 20; // edge value a pair must exceed to start a streak
    int strength = 20;  // streak length scale, 1 or more
    int algorithm = 0;  // 0 soft ramped streaks ("Wind"), 1 repeated pixels ("Blast")
    int direction = 0;  // 0 streaks toward increasing x, 1 toward decreasing x
    int edge = 1;       // 0 any change, 1 brighter to darker, 2 darker to brighter
};

// The edge value of two pixels a (earlier along the row) and b (later): the
// four byte differences b - a, taken as |d| (edge 0), -d (edge 1) or d (edge 2),
// summed and divided by 4 toward zero.
int WindEdgeValue(const uint8_t* a, const uint8_t* b, int edge);

// Rows narrower than 4 pixels are copied unchanged. Random draws, per row in
// order: "Wind": for each streak start two draws (length scale, then length),
// then one for each streak pixel whose colour no longer differs from the start
// pixel by more than the threshold (the streak ends on a draw below 16384).
// "Blast": three per streak (length factor, length, row skip), and after a row
// that asks for a skip, one more for how many rows (1 or 2) are copied as they
// are.
void ApplyWind(const uint8_t* src, uint8_t* dst, int width, int height, const WindParams& p);

struct VanGoghParams {
    int filterLength = 5;      // half length of the integration, 0..64 (0 stands for 0.1)
    int noiseMagnitude = 2;    // cell size of the smooth noise, 1 or more
    int integrationSteps = 25; // steps over the whole length, 2..40 (1 acts as 2)
    int minValue = -25;        // noise range, in tenths
    int maxValue = 25;
    int channel = 2;  // scalar field: 0 hue, 1 saturation, 2 lightness
    int op = 1;       // 0 along the gradient ("Derivative"), 1 across it ("Gradient")
    int convolve = 1; // 0 smooth noise modulates the picture, 1 the picture itself
};

// Random draws: with convolve 0 first the 40 x 40 noise vectors (row by row),
// then one per pixel (rows top to bottom, each left to right) that dithers the
// scalar field. The smearing itself draws nothing and runs on several threads.
void ApplyVanGogh(const uint8_t* src, uint8_t* dst, int width, int height, const VanGoghParams& p);

// The effect-list entries: parameters from the settings record.
void WindEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                const ProcessingSettings& s);
void VanGoghEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                   const ProcessingSettings& s);
