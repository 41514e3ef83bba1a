// Internal types and entry points of Sarnel, shared by the C exports, the tests and
// the benchmarks. Nothing here is exported from the shared library.
#pragma once

#include "sarnel/sarnel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sarnel {

constexpr int kChannelCount = 9;

struct Plane {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<int16_t> samples; // index x + y * width; empty while not in the current space

    // A plane a filter may work on: filled and consistent with its size.
    bool usable() const {
        return width > 0 && height > 0 && !samples.empty() &&
               samples.size() == size_t(width) * size_t(height);
    }
};

struct ChannelRange {
    int lo, hi;
};
ChannelRange channelRange(int channel);

// Sets samples outside the channel's range to the nearer bound.
void clampPlane(Plane& plane, int channel);

// Stores a real result into a sample: non-finite values become 0, values beyond
// the int16 range saturate, everything else is truncated toward zero.
int16_t storeTrunc(double v);

// As storeTrunc, but a value within a few units in the last place of a whole
// number is taken as that number first, the units measured at `scale` (the
// magnitude of the operands the value was computed from; |v| when smaller). Means
// computed through logarithms, reciprocals or powers carry rounding of a few ulps,
// and truncating 99.99999999999999 would turn the mean of a constant window of 100
// into 99; anything further from the whole number is a genuine result and truncates.
int16_t storeMean(double v, double scale = 0.0);

} // namespace sarnel

// The handle record. Defined at global scope because the C header declares it so.
struct SR_Image {
    int32_t width = 0;
    int32_t height = 0;
    int32_t mode = SR_MODE_RGB;
    std::array<sarnel::Plane, sarnel::kChannelCount> planes;
    std::vector<uint8_t> source; // private copy of the loaded pixels, 4 * width per row
};

namespace sarnel {

// Colour conversions of single pixels (exposed for tests).
void rgbToHsv(int r, int g, int b, int16_t& h, int16_t& s, int16_t& v);
void hsvToRgb(int h, int s, int v, int16_t& r, int16_t& g, int16_t& b);
void rgbToLab(int r, int g, int b, int16_t& l, int16_t& a, int16_t& bb);
void labToRgb(int l, int a, int bb, int16_t& r, int16_t& g, int16_t& b);

// Image record operations (arguments already validated).
bool loadImage(SR_Image& image, const SR_Bitmap& bitmap);
// Brings the planes into `mode` without clamping; unknown modes do nothing.
void convertMode(SR_Image& image, int mode);
// The exported conversion: convertMode, then clamp the target planes.
void convertAndClamp(SR_Image& image, int mode);
// Renders into `out` (same size as the image, stride 4 * width).
void renderImage(SR_Image& image, SR_Bitmap& out);

// Spatial filters behind the SR_*Filter exports; each works in place.
void normalFilter(Plane& p, int aw, int ah);
void geometricFilter(Plane& p, int aw, int ah);
void harmonicFilter(Plane& p, int aw, int ah);
void contraharmonicFilter(Plane& p, int aw, int ah, double q);
void minFilter(Plane& p, int aw, int ah);
void medianFilter(Plane& p, int aw, int ah);
void maxFilter(Plane& p, int aw, int ah);
void midPointFilter(Plane& p, int aw, int ah);
void trimmedMeanFilter(Plane& p, int aw, int ah, int d);
void adaptiveLocalFilter(Plane& p, int channel, int aw, int ah, double noiseVariance);
void adaptiveMedianFilter(Plane& p, int sMin, int sMax);

// Frequency-domain filters; each clamps the plane to the channel's range.
void butterworthBandReject(Plane& p, int channel, double d0, double w, int n);
void gaussBandReject(Plane& p, int channel, double d0, double w);
void butterworthNotchReject(Plane& p, int channel, double d0, double u0, double v0, int n);
void wienerTurbulence(Plane& p, int channel, double k, double bigK);
void wienerMotion(Plane& p, int channel, double t, double a, double b, double bigK);

// Upper bound on worker threads used by the filters and the transform (0 = one
// per hardware thread). Results never depend on it.
void setMaxThreads(int n);
int maxThreads();

} // namespace sarnel
