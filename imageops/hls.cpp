#include "imageops/hls.h"

#include <algorithm>
#include <array>

namespace {

constexpr int kRgbMax = 255;

// Every divisor of the forward conversion lies in 1..510 and every numerator
// below 2^16, so a rounded-up 32-bit reciprocal gives the exact quotient
// ((n * m) >> 32 with an error term below 2^25), which keeps the per-pixel
// conversion free of hardware divisions.
struct Reciprocals {
    std::array<uint64_t, 2 * kRgbMax + 1> m{};
    constexpr Reciprocals() {
        for (uint64_t d = 1; d < m.size(); ++d) m[d] = ((uint64_t(1) << 32) + d - 1) / d;
    }
};
constexpr Reciprocals kRecip;

inline int Div(int n, int d) {
    return int((uint64_t(uint32_t(n)) * kRecip.m[size_t(d)]) >> 32);
}

inline int HueToRgb(int n1, int n2, int hue) {
    while (hue < 0) hue += kHlsMax;
    while (hue > kHlsMax) hue -= kHlsMax;
    if (hue < kHlsMax / 6) return n1 + ((n2 - n1) * hue + kHlsMax / 12) / (kHlsMax / 6);
    if (hue < kHlsMax / 2) return n2;
    if (hue < kHlsMax * 2 / 3)
        return n1 + ((n2 - n1) * (kHlsMax * 2 / 3 - hue) + kHlsMax / 12) / (kHlsMax / 6);
    return n1;
}

inline uint8_t Clamp8(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

} // namespace

HlsColor RgbToHls(CColor24 c) {
    const int r = c.r, g = c.g, b = c.b;
    const int cMax = std::max({r, g, b}), cMin = std::min({r, g, b});
    HlsColor out;
    out.l = ((cMax + cMin) * kHlsMax + kRgbMax) / (2 * kRgbMax);
    if (cMax == cMin) {
        out.s = 0;
        out.h = kHlsUndefinedHue;
        return out;
    }
    const int range = cMax - cMin;
    // Both numerators are non-negative; the divisors are non-zero because a
    // grey (the only case with cMax + cMin = 0 or 510) returned above.
    if (out.l <= kHlsMax / 2)
        out.s = Div(range * kHlsMax + (cMax + cMin) / 2, cMax + cMin);
    else
        out.s = Div(range * kHlsMax + (2 * kRgbMax - cMax - cMin) / 2, 2 * kRgbMax - cMax - cMin);
    const int rd = Div((cMax - r) * (kHlsMax / 6) + range / 2, range);
    const int gd = Div((cMax - g) * (kHlsMax / 6) + range / 2, range);
    const int bd = Div((cMax - b) * (kHlsMax / 6) + range / 2, range);
    int h;
    if (r == cMax)
        h = bd - gd;
    else if (g == cMax)
        h = kHlsMax / 3 + rd - bd;
    else
        h = kHlsMax * 2 / 3 + gd - rd;
    if (h < 0) h += kHlsMax;
    if (h > kHlsMax) h -= kHlsMax;
    out.h = h;
    return out;
}

CColor24 HlsToRgb(uint16_t hue, uint16_t luminance, uint16_t saturation) {
    const int h = hue, l = luminance, s = saturation;
    if (s == 0) {
        const uint8_t v = Clamp8(l * kRgbMax / kHlsMax);
        return CColor24(v, v, v);
    }
    const int m2 = l <= kHlsMax / 2 ? (l * (kHlsMax + s) + kHlsMax / 2) / kHlsMax
                                    : l + s - (l * s + kHlsMax / 2) / kHlsMax;
    const int m1 = 2 * l - m2;
    const int r = (HueToRgb(m1, m2, h + kHlsMax / 3) * kRgbMax + kHlsMax / 2) / kHlsMax;
    const int g = (HueToRgb(m1, m2, h) * kRgbMax + kHlsMax / 2) / kHlsMax;
    const int b = (HueToRgb(m1, m2, h - kHlsMax / 3) * kRgbMax + kHlsMax / 2) / kHlsMax;
    return CColor24(Clamp8(r), Clamp8(g), Clamp8(b));
}
