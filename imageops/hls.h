#pragma once
// Conversion between red-green-blue and hue-luminance-saturation with all three
// HLS components on the 0..240 scale and red, green, blue on 0..255, with the
// integer rounding of the Windows shell conversions, so that Adjust HSB gives the
// same pixels as it does there.

#include "app/bmp_file.h"

#include <cstdint>

struct HlsColor {
    int h = 0; // 0..239; 160 for greys, which have no hue
    int l = 0; // 0..240
    int s = 0; // 0..240
    friend bool operator==(const HlsColor&, const HlsColor&) = default;
};

inline constexpr int kHlsMax = 240;
inline constexpr int kHlsUndefinedHue = kHlsMax * 2 / 3;

HlsColor RgbToHls(CColor24 c);
// Hues above 240 wrap around (240 is subtracted until they are in range);
// results are clamped to 0..255.
CColor24 HlsToRgb(uint16_t hue, uint16_t luminance, uint16_t saturation);
