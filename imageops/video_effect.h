#pragma once
// "Video": the phosphor pattern of a screen. Every pixel keeps one of its three
// colour components, chosen by a small repeating pattern, or in additive mode
// has that component doubled (saturating at 255).

#include "app/settings.h"

#include <cstdint>

inline constexpr int kVideoPatternCount = 9;

// The component (0, 1 or 2) that pixel (x, y) keeps. Pattern numbers outside
// 0..8 (from a hand-edited file) use pattern 0. Rotated, the pattern is laid
// with its rows along x.
int VideoPatternCell(int pattern, bool rotated, int x, int y);

// On red-green-blue-alpha buffers (4 bytes a pixel, rows packed, top row
// first): component n of the pattern is byte n. Reads src, writes every pixel
// of dst; alpha is copied.
void ApplyVideoRgba(const uint8_t* src, uint8_t* dst, int width, int height, int pattern,
                    bool additive, bool rotated);

// The effect-list entry, on the blue-green-red-alpha working buffers: the red
// and blue bytes are swapped before the pattern is applied and swapped back
// afterwards, so component 0 is red there too.
void VideoEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                 const ProcessingSettings& s);
