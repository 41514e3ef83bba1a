#pragma once
// The noise-reduction dialog's work without widgets: the parameters of one
// press of Apply, the library calls they stand for, the bitmap exchange with
// Sarnel and the reading of the dialog's edit fields. Nothing here includes Qt,
// so the worker thread and the tests use it as it is.

#include "app/bmp_file.h"
#include "sarnel/sarnel.h"

#include <span>
#include <string_view>

// The filters of the dialog, numbered as its radio buttons select them.
enum SarnelFilterId : int {
    kSarnelNormal = 0,
    kSarnelGeometric = 1,
    kSarnelHarmonic = 2,
    kSarnelContraharmonic = 3,
    kSarnelPercentile = 4,
    kSarnelMidpoint = 5,
    kSarnelTrimmedMean = 6,
    kSarnelAdaptiveLocal = 7,
    kSarnelAdaptiveMedian = 8,
    kSarnelButterworth = 9,
    kSarnelGauss = 10,
    kSarnelNotchButterworth = 11, // no control selects it; kept for the library's name
    kSarnelNotchGauss = 12,
    kSarnelWienerTurbulence = 13,
    kSarnelWienerMotion = 14,
};

// Everything one Apply hands to the library, as the dialog's controls give it.
struct SarnelParams {
    int filter = kSarnelNormal;
    int apertureWidth = 3, apertureHeight = 3;
    float orderQ = 0.0f;
    int percentile = 1; // 0 minimum, 1 median, 2 maximum
    int truncation = 1;
    int minAperture = 3, maxAperture = 5;
    int noiseVariance = 1000;
    int rejectD0 = 150, rejectW = 50, rejectOrder = 4;
    int notchOrder = 16, notchD0 = 150, notchU0 = 0, notchV0 = 0;
    double turbulenceK = 0.0025, turbulenceNoise = 0.01;
    double motionA = 0.1, motionB = 0.1, motionNoise = 0.01;
};

// Runs the selected filter on each channel in the order given. Channels of a
// colour space the handle is not in find empty planes and stay as they are.
void RunSarnelFilter(SR_Image* image, const SarnelParams& p,
                     std::span<const SR_FilterType> channels);

// The picture as Sarnel takes it (blue, green, red, alpha 255); null for an
// empty picture or when memory runs out. Release it with SR_DeleteBitmap.
SR_Bitmap* ToSarnelBitmap(const BMP_File& image);
// Sarnel's bitmap back as a picture (alpha dropped). False, leaving `out`
// unchanged, for a bitmap that is null or malformed.
bool FromSarnelBitmap(const SR_Bitmap* bitmap, BMP_File& out);

// An integer edit field's value: optional blanks and sign, then the leading
// decimal digits; 0 when there are none. Saturates at the int range.
int LeadingInt(std::string_view text);
// A real edit field's value: the leading decimal number (digits, point,
// exponent); 0 when there is none. Never infinite or NaN: a number beyond the
// double range gives the largest finite one of its sign.
double LeadingReal(std::string_view text);
// The spin position of a Wiener value: ten thousand times the value, rounded
// up. A product a few ulps above a whole number (0.0007 * 10000 is
// 7.000000000000001) counts as that number, so typing 0.0007 gives 7, not 8.
// Saturates at the int range.
int WienerSpinPosition(double value);
