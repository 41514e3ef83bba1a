#pragma once
// Soft Glow, Neon and Cartoon: three effects over blue-green-red-alpha buffers
// built on one recursive (fourth-order infinite impulse response) filter that
// approximates a Gaussian or its second derivative. Each line costs O(length)
// whatever the radius; lines are independent, so large pictures are split over
// a few threads with the same result as on one.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace glow {

// The recursion's coefficients: causal (np, dp) and anti-causal (nm, dm) parts
// and the edge corrections bdp, bdm that make a constant line start and end
// in its steady state.
struct IirCoefficients {
    double np[5], dp[5], nm[5], dm[5], bdp[5], bdm[5];
};

// The standard deviation that makes a radius r reach 1/255 of the peak:
// sqrt(-(r + 1)^2 / (2 ln(1/255))).
double SigmaForRadius(double radius);
IirCoefficients GaussianCoefficients(double sigma);
IirCoefficients SecondDerivativeCoefficients(double sigma);

// Filters `lanes` lines of length n stored interleaved (in[t * lanes + l]) and
// writes the unclamped sum of both directions to out (same layout). vp and vm
// are work arrays of n * lanes values.
void FilterLines(const float* in, float* out, float* vp, float* vm, int n, int lanes,
                 const IirCoefficients& c);

// Blurs a one-byte-per-pixel plane in place: columns first, then rows, each
// result clamped to 0..255 and truncated.
void BlurPlane(uint8_t* plane, int width, int height, const IirCoefficients& c);

// The grey glow layer of Soft Glow: the lightness of each pixel through a
// sigmoid, scaled by the brightness (0..1); sharpness 0..1 sets the slope.
void GlowLayer(const uint8_t* bgra, uint8_t* glow, size_t pixels, double brightness,
               double sharpness);

// Cartoon's two lightness planes: after the narrow (radius 1) and the wide
// (radius 7) blur.
void CartoonPlanes(const uint8_t* bgra, int width, int height, std::vector<uint8_t>& d1,
                   std::vector<uint8_t>& d2);
// The ramp that turns the darkest fifth of the darker-than-surroundings
// pixels black.
double CartoonRamp(const uint8_t* d1, const uint8_t* d2, size_t pixels);
// The new lightness of each pixel from the planes and the ramp.
std::vector<uint8_t> CartoonLightness(const uint8_t* d1, const uint8_t* d2, size_t pixels,
                                      double ramp);

// Hue, saturation and lightness on 0..255 scales, and back.
struct Hsl255 {
    int h, s, l;
};
Hsl255 ToHsl255(int c0, int c1, int c2);
void FromHsl255(Hsl255 hsl, uint8_t out[3]);

} // namespace glow

// The effects. Source and destination are width x height pixels of blue,
// green, red, alpha; the destination starts as a copy of the source.
// Soft Glow: radius (pixels), brightness and sharpness 0..1.
void SoftGlow(const uint8_t* src, uint8_t* dst, int width, int height, double radius,
              double brightness, double sharpness);
// Neon: radius below 1 leaves the destination as it is; amount 0..1 scales the
// response by 1 + 9 * amount.
void Neon(const uint8_t* src, uint8_t* dst, int width, int height, double radius, double amount);
void Cartoon(const uint8_t* src, uint8_t* dst, int width, int height);
