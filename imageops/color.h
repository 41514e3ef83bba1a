#pragma once
// Point operations on colour and tone: every output pixel depends on the same
// input pixel only, so they work in place, per-channel ones through lookup
// tables, and split large images over a few threads.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <cstdint>

// Brightness: slider 0..100 per channel, 50 neutral; each channel is shifted by
// BrightnessOffset(slider) and clamped.
int BrightnessOffset(int slider);
void AdjustBrightness(BMP_File& image, int sliderR, int sliderG, int sliderB);

// Contrast: slider 0..100 per channel, 50 neutral; channels are stretched about
// 128 by ContrastFactor(slider) (0.0 at 0, 1.0 at 50, 2.0 at 100).
float ContrastFactor(int slider);
void AdjustContrast(BMP_File& image, int sliderR, int sliderG, int sliderB);

// Hue, saturation and luminance scaled in HLS space: 50 neutral, 0 drives the
// component to 0, 100 to its upper end (360 for hue, 240 for the others).
// Sliders are taken as 0..100; values beyond come only from edited files.
void AdjustHSB(BMP_File& image, int hue, int saturation, int brightness);

enum class Channel { Red = 0, Green = 1, Blue = 2 };
void InvertChannel(BMP_File& image, Channel c);
void SwapChannels(BMP_File& image, Channel a, Channel b);
// (R + G + B) / 3, truncated, into all three channels.
void GreyScale(BMP_File& image);

// Our own rendering of the colour adjustment record; identity at its defaults.
// Each channel value x (0..1) goes through, in this order:
//   negative flag (1):      x = 1 - x
//   reference black/white:  x = (x - black) / (white - black), clamped to 0..1
//   gamma per channel:      x = x ^ (10000 / gamma)   (above 10000 brightens)
//   illuminant 1..8:        in linear light each channel is scaled by the
//                           illuminant's white point relative to D65 (the
//                           picture as it looks under that light, white kept
//                           at full level); 0 and D65 change nothing
//   log filter flag (2):    x = log10(1 + 9x), lifting the shadows
//   contrast c:             x = (x - 0.5)(1 + c / 100) + 0.5
//   brightness b:           x = x + b / 200
// then across the channels, with Y = 0.299 R + 0.587 G + 0.114 B:
//   colourfulness f:        x = Y + (x - Y)(1 + f / 100)
//   red-green tint t:       R = R (1 + t / 400), G = G (1 - t / 400)
// and finally clamped to 0..1 and rounded to 0..255. Fields outside their
// documented ranges are clamped into them first.
void AdjustColor(BMP_File& image, const ColorAdjustment& ca);

// ftype 0 keeps pixels whose three channels lie inside their [min, max]
// intervals (bounds in either order) and whitens the rest; ftype 1 keeps pixels
// whose three channels all lie outside and whitens the rest.
void ColorFilter(BMP_File& image, const ColorFilterSettings& f);

// Every pixel equal to `source` byte for byte becomes `target`.
void ReplaceColor(BMP_File& image, CColor24 source, CColor24 target);

// The Color Filter dialog's range buttons, on the settings so that they work
// without a window. A channel's interval is the pair of bounds in either order;
// widening lowers its lower bound and raises its upper bound by n (within
// 0..255), narrowing does the reverse, and an interval narrower than 2n
// collapses onto its middle (lower bound + width / 2).
void WidenColorFilter(ColorFilterSettings& f, int n);
void NarrowColorFilter(ColorFilterSettings& f, int n);
// Both bounds of every channel become that channel of `c`.
void SetColorFilterToColor(ColorFilterSettings& f, CColor24 c);
// Moves one bound (channel 0..2, min or max) to `value`; with the synchronous
// switch on, the same bound of the other channels moves by the same amount,
// held inside 0..255.
void MoveColorFilterBound(ColorFilterSettings& f, int channel, bool isMax, int value);
