#include "app/noise/noise_filter.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

void RunSarnelFilter(SR_Image* image, const SarnelParams& p,
                     std::span<const SR_FilterType> channels) {
    const int w = p.apertureWidth, h = p.apertureHeight;
    for (const SR_FilterType c : channels) {
        switch (p.filter) {
        case kSarnelNormal:
            SR_NormalFilter(image, c, w, h);
            break;
        case kSarnelGeometric:
            SR_NormalGeomFilter(image, c, w, h);
            break;
        case kSarnelHarmonic:
            SR_NormalGarmonicFilter(image, c, w, h);
            break;
        case kSarnelContraharmonic:
            SR_NormalContrGarmonicFilter(image, c, w, h, p.orderQ);
            break;
        case kSarnelPercentile:
            if (p.percentile == 0)
                SR_MinFilter(image, c, w, h);
            else if (p.percentile == 1)
                SR_MedianFilter(image, c, w, h);
            else if (p.percentile == 2)
                SR_MaxFilter(image, c, w, h);
            break;
        case kSarnelMidpoint:
            SR_MidPointFilter(image, c, w, h);
            break;
        case kSarnelTrimmedMean:
            SR_TrimmedMeanFilter(image, c, w, h, p.truncation);
            break;
        case kSarnelAdaptiveLocal:
            SR_AdaptiveLocalFilter(image, c, w, h, double(p.noiseVariance));
            break;
        case kSarnelAdaptiveMedian:
            SR_AdaptiveMedianFilter(image, c, p.minAperture, p.maxAperture);
            break;
        case kSarnelButterworth:
            SR_ButterworthFilter(image, c, double(p.rejectD0), double(p.rejectW), p.rejectOrder);
            break;
        case kSarnelGauss:
            SR_GaussFilter(image, c, double(p.rejectD0), double(p.rejectW));
            break;
        case kSarnelNotchButterworth:
            SR_NbButterworthFilter(image, c, double(p.notchD0), double(p.notchU0),
                                   double(p.notchV0), p.notchOrder);
            break;
        case kSarnelNotchGauss:
            SR_NbGaussFilter(image, c, double(p.notchD0), double(p.notchU0), double(p.notchV0),
                             p.notchOrder);
            break;
        case kSarnelWienerTurbulence:
            SR_WienerFilterTurb(image, c, p.turbulenceK, p.turbulenceNoise);
            break;
        case kSarnelWienerMotion:
            SR_WienerFilterMoving(image, c, 1.0, p.motionA, p.motionB, p.motionNoise);
            break;
        default:
            return;
        }
    }
}

SR_Bitmap* ToSarnelBitmap(const BMP_File& image) {
    if (image.Empty()) return nullptr;
    SR_Bitmap* bm = SR_CreateBitmap(image.Width(), image.Height());
    if (bm == nullptr) return nullptr;
    // SR_CreateBitmap packs its rows (stride 4 * width), as ToBGRA writes them.
    image.ToBGRA(bm->pixels);
    return bm;
}

bool FromSarnelBitmap(const SR_Bitmap* bitmap, BMP_File& out) {
    if (bitmap == nullptr || bitmap->pixels == nullptr || bitmap->width <= 0 ||
        bitmap->height <= 0 || int64_t(bitmap->stride) < 4 * int64_t(bitmap->width))
        return false;
    BMP_File image;
    if (!image.CreateUninitialized(bitmap->width, bitmap->height)) return false;
    for (int y = 0; y < bitmap->height; ++y) {
        const uint8_t* src = bitmap->pixels + size_t(y) * size_t(bitmap->stride);
        CColor24* dst = image.Row(y);
        for (int x = 0; x < bitmap->width; ++x)
            dst[x] = CColor24(src[4 * x + 2], src[4 * x + 1], src[4 * x]);
    }
    out = std::move(image);
    return true;
}

namespace {

// Skips leading blanks; returns the rest.
std::string_view TrimFront(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    return t.substr(i);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int LeadingInt(std::string_view text) {
    text = TrimFront(text);
    bool negative = false;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t v = 0;
    constexpr int64_t kLimit = int64_t(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && IsDigit(text[i]); ++i) v = std::min(kLimit, v * 10 + (text[i] - '0'));
    if (negative) return int(-v);
    return int(std::min<int64_t>(v, std::numeric_limits<int>::max()));
}

double LeadingReal(std::string_view text) {
    text = TrimFront(text);
    // Take sign, digits, an optional point with digits and an optional exponent
    // by hand: from_chars alone would also read "inf", "nan" and hex forms.
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    const size_t mantissaStart = i;
    size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return 0.0;
    size_t end = i;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < text.size() && IsDigit(text[j])) {
            while (j < text.size() && IsDigit(text[j])) ++j;
            end = j;
        }
    }
    const bool negative = text[0] == '-';
    const std::string_view number = text.substr(mantissaStart, end - mantissaStart);
    double v = 0.0;
    const auto r = std::from_chars(number.data(), number.data() + number.size(), v,
                                   std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small in magnitude: tell the two apart by the
        // exponent's sign, or by the digits when there is no exponent.
        const std::string_view exponent =
            number.substr(std::min(number.size(), number.find_first_of("eE")));
        const bool tiny = !exponent.empty() && exponent.size() > 1 && exponent[1] == '-';
        v = tiny ? 0.0 : std::numeric_limits<double>::max();
    } else if (r.ec != std::errc()) {
        v = 0.0;
    }
    return negative ? -v : v;
}

int WienerSpinPosition(double value) {
    if (!std::isfinite(value)) return 0;
    const double scaled = value * 10000.0;
    // A product within a few ulps of a whole number is that number.
    const double nearest = std::nearbyint(scaled);
    const double ulps =
        4.0 * std::numeric_limits<double>::epsilon() * std::max(1.0, std::fabs(scaled));
    const double up = std::fabs(scaled - nearest) <= ulps ? nearest : std::ceil(scaled);
    if (up >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (up <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(up);
}
