#include "imageops/color.h"

#include "imageops/cpu_features.h"
#include "imageops/hls.h"
#include "imageops/parallel.h"
#include "imageops/vector_kernels.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

using Lut = std::array<uint8_t, 256>;

inline uint8_t Clamp8(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

// A double that may be far outside int range (sliders from edited files)
// truncated toward zero into a range that still saturates every channel.
inline int TruncSaturating(double v) {
    v = std::trunc(v);
    return int(std::clamp(v, -4096.0, 4096.0));
}

// Runs fn(bytes, count) over the image's channel bytes in bands of whole rows.
template <class Fn> void ForEachBand(BMP_File& image, Fn&& fn) {
    const size_t rowBytes = size_t(image.Width()) * 3;
    uint8_t* base = image.Bytes();
    imageops::ParallelRows(image.Height(), image.PixelCount(), [&](int y0, int y1) {
        fn(base + size_t(y0) * rowBytes, size_t(y1 - y0) * size_t(image.Width()));
    });
}

// ForEachBand for loops that do the leading whole blocks of a band in one way
// and the pixels left over in another: blocks(bytes, count) returns how many
// bytes it did, rest(bytes, pixels) does the pixels after them.
template <class Blocks, class Rest>
void ForEachBandInBlocks(BMP_File& image, Blocks&& blocks, Rest&& rest) {
    ForEachBand(image, [&](uint8_t* p, size_t pixels) {
        const size_t done = blocks(p, pixels * 3);
        rest(p + done, pixels - done / 3);
    });
}

void LutSpan(uint8_t* p, size_t pixels, const Lut& r, const Lut& g, const Lut& b) {
    for (size_t i = 0; i < pixels; ++i, p += 3) {
        p[0] = r[p[0]];
        p[1] = g[p[1]];
        p[2] = b[p[2]];
    }
}

void ApplyLuts(BMP_File& image, const Lut& r, const Lut& g, const Lut& b) {
    ForEachBand(image, [&](uint8_t* p, size_t pixels) { LutSpan(p, pixels, r, g, b); });
}

// Adds a per-channel offset with saturation. The three channels repeat every
// 3 bytes, so a 48-byte pattern (a whole number of 16-byte vectors) lines the
// offsets up with the bytes and the loop runs as plain vector code.
void ApplyOffsets(BMP_File& image, int r, int g, int b) {
    int16_t pattern[48];
    for (int j = 0; j < 48; ++j)
        pattern[j] = int16_t(std::clamp(j % 3 == 0 ? r : j % 3 == 1 ? g : b, -255, 255));
    ForEachBand(image, [&](uint8_t* p, size_t pixels) {
        // A local copy: the bytes written through p could otherwise be the
        // pattern itself as far as the compiler knows, which stops vectorising.
        int16_t pat[48];
        std::copy(std::begin(pattern), std::end(pattern), pat);
        const size_t bytes = pixels * 3;
        size_t i = 0;
        for (; i + 48 <= bytes; i += 48)
            for (int j = 0; j < 48; ++j) {
                const int16_t v = int16_t(p[i + size_t(j)] + pat[j]);
                p[i + size_t(j)] = uint8_t(std::min<int16_t>(std::max<int16_t>(v, 0), 255));
            }
        for (; i < bytes; ++i) {
            const int v = p[i] + pattern[i % 3];
            p[i] = uint8_t(std::clamp(v, 0, 255));
        }
    });
}

Lut ContrastLut(int slider) {
    const double k = double(ContrastFactor(slider));
    Lut lut;
    for (int v = 0; v < 256; ++v) lut[size_t(v)] = Clamp8(TruncSaturating((v - 128) * k) + 128);
    return lut;
}

// Adjust HSB maps each HLS component through one table: component value in,
// new 16-bit component out. `upper` is the value the slider's top drives to.
std::array<uint16_t, kHlsMax + 1> HsbComponentMap(int slider, int upper) {
    // The factor is the slider over 100, kept in single precision; comparisons
    // and products are then taken in double precision.
    const float f = float(double(std::clamp(slider, 0, 100)) / 100.0);
    std::array<uint16_t, kHlsMax + 1> map{};
    for (int c = 0; c <= kHlsMax; ++c) {
        int out;
        if (f < 0.5)
            out = int(std::trunc(c * (f * 2.0)));
        else
            out = c + int(std::trunc((upper - c) * ((f - 0.5) * 2.0)));
        map[size_t(c)] = uint16_t(out);
    }
    return map;
}

// Contrast multiplies v - 128 by a single-precision factor k and truncates
// the product toward zero. With k = M / 2^E exactly (M below 2^24) that is
// sign(x) * ((|x| * M) >> E) for x = v - 128, and |x| * M stays below 2^31:
// whole-number arithmetic that gives the double-precision result bit for bit.
struct ContrastScale {
    uint32_t m = 0; // significand, below 2^24
    uint32_t e = 0; // shift, below 31
};

bool ExactScale(float k, ContrastScale& out) {
    // Negative or larger factors only come from edited files; the tables
    // handle them.
    if (!(k >= 0.0f && k <= 2.0f)) return false;
    int exp = 0;
    const double f = std::frexp(double(k), &exp); // k = f * 2^exp, f in [0.5, 1)
    out.m = uint32_t(std::ldexp(f, 24));
    out.e = uint32_t(24 - exp);
    // |x| m stays below 2^31, so a shift of 31 or more leaves nothing.
    if (out.e >= 31) out.m = out.e = 0;
    return true;
}

} // namespace

int BrightnessOffset(int slider) {
    return -150 - TruncSaturating(slider / 100.0 * (-300.0));
}

float ContrastFactor(int slider) {
    return float(((slider / 100.0) - 0.5) * 2.0 + 1.0);
}

void AdjustBrightness(BMP_File& image, int sliderR, int sliderG, int sliderB) {
    // Same values as the tables clamp(v + offset), as plain vector code.
    ApplyOffsets(image, BrightnessOffset(sliderR), BrightnessOffset(sliderG),
                 BrightnessOffset(sliderB));
}

void AdjustContrast(BMP_File& image, int sliderR, int sliderG, int sliderB) {
    const Lut lr = ContrastLut(sliderR), lg = ContrastLut(sliderG), lb = ContrastLut(sliderB);
    ContrastScale scale[3];
    const bool vector = imageops::VectorKernelsOn() &&
                        ExactScale(ContrastFactor(sliderR), scale[0]) &&
                        ExactScale(ContrastFactor(sliderG), scale[1]) &&
                        ExactScale(ContrastFactor(sliderB), scale[2]);
    const uint32_t m[3] = {scale[0].m, scale[1].m, scale[2].m};
    const uint32_t e[3] = {scale[0].e, scale[1].e, scale[2].e};
    ForEachBand(image, [&](uint8_t* p, size_t pixels) {
        const size_t done = vector ? imageops::kernels::ContrastPixels(p, pixels, m, e) : 0;
        LutSpan(p + 3 * done, pixels - done, lr, lg, lb);
    });
}

void AdjustHSB(BMP_File& image, int hue, int saturation, int brightness) {
    const auto hMap = HsbComponentMap(hue, 360);
    const auto sMap = HsbComponentMap(saturation, kHlsMax);
    const auto lMap = HsbComponentMap(brightness, kHlsMax);
    ForEachBand(image, [&](uint8_t* bytes, size_t pixels) {
        // Photographs repeat colours a lot: a small direct-mapped cache of
        // finished colours skips both conversions for most pixels.
        constexpr size_t kSlots = 4096;
        constexpr uint32_t kEmpty = 0xFFFFFFFFu;
        std::vector<uint32_t> keys(kSlots, kEmpty);
        std::vector<CColor24> values(kSlots);
        CColor24* p = reinterpret_cast<CColor24*>(bytes);
        for (size_t i = 0; i < pixels; ++i) {
            const uint32_t key = p[i].Packed();
            const size_t slot = (key * 2654435761u) >> 20;
            if (keys[slot] != key) {
                const HlsColor c = RgbToHls(p[i]);
                keys[slot] = key;
                values[slot] = HlsToRgb(hMap[size_t(c.h)], lMap[size_t(c.l)], sMap[size_t(c.s)]);
            }
            p[i] = values[slot];
        }
    });
}

void InvertChannel(BMP_File& image, Channel c) {
    // 255 - v is v with every bit flipped: one XOR pattern over the bytes.
    uint8_t pattern[48];
    for (int j = 0; j < 48; ++j) pattern[j] = size_t(j % 3) == size_t(c) ? 0xFF : 0x00;
    ForEachBand(image, [&](uint8_t* p, size_t pixels) {
        uint8_t pat[48]; // local, so that writes through p cannot alias it
        std::copy(std::begin(pattern), std::end(pattern), pat);
        const size_t bytes = pixels * 3;
        size_t i = 0;
        for (; i + 48 <= bytes; i += 48)
            for (int j = 0; j < 48; ++j) p[i + size_t(j)] ^= pat[j];
        for (; i < bytes; ++i) p[i] ^= pattern[i % 3];
    });
}

namespace {

// Whole 48-byte blocks (16 pixels, a whole number of 16-byte vectors) are
// copied into a padded local buffer, so that every byte can be made from its
// neighbours up to two places away by masks alone; the loops then compile to
// vector code.
constexpr int kBlock = 48;
struct PaddedBlock {
    uint8_t b[kBlock + 4] = {}; // data at b[2 .. 2 + kBlock)
    const uint8_t* At(int offset) const { return b + 2 + offset; }
};

} // namespace

void SwapChannels(BMP_File& image, Channel a, Channel b) {
    const int i0 = std::min(int(a), int(b)), i1 = std::max(int(a), int(b));
    if (i0 == i1) return;
    const int d = i1 - i0;
    // Byte j takes its neighbour d places on (first channel of the pair),
    // d places back (second channel) or itself (the channel that stays). The
    // vector form deinterleaves the channels and stores them swapped; the
    // plain form applies masks to a padded copy of each 48-byte block.
    uint8_t fromNext[kBlock], fromPrev[kBlock], keep[kBlock];
    for (int j = 0; j < kBlock; ++j) {
        fromNext[j] = j % 3 == i0 ? 0xFF : 0;
        fromPrev[j] = j % 3 == i1 ? 0xFF : 0;
        keep[j] = uint8_t(~(fromNext[j] | fromPrev[j]));
    }
    const bool vector = imageops::VectorKernelsOn();
    ForEachBandInBlocks(
        image,
        [&](uint8_t* p, size_t bytes) -> size_t {
            if (vector) return 3 * imageops::kernels::SwapPixelBytes(p, bytes / 3, i0, i1);
            uint8_t mn[kBlock], mp[kBlock], mk[kBlock]; // local: cannot alias p
            std::copy_n(fromNext, kBlock, mn);
            std::copy_n(fromPrev, kBlock, mp);
            std::copy_n(keep, kBlock, mk);
            PaddedBlock blk;
            const size_t blocks = bytes / kBlock;
            for (size_t k = 0; k < blocks; ++k, p += kBlock) {
                std::copy_n(p, kBlock, blk.b + 2);
                const uint8_t* next = blk.At(d);
                const uint8_t* prev = blk.At(-d);
                const uint8_t* self = blk.At(0);
                for (int j = 0; j < kBlock; ++j)
                    p[j] = uint8_t((next[j] & mn[j]) | (prev[j] & mp[j]) | (self[j] & mk[j]));
            }
            return blocks * kBlock;
        },
        [&](uint8_t* p, size_t pixels) {
            for (size_t i = 0; i < pixels; ++i, p += 3) std::swap(p[i0], p[i1]);
        });
}

void GreyScale(BMP_File& image) {
    // The vector form deinterleaves the channels (kernels::GreyPixels). The
    // plain form works on 48-byte blocks, where byte j of a pixel adds the
    // pixel's other two bytes: for the first byte the next two, for the
    // second its two neighbours, for the third the two before it.
    uint16_t n1[kBlock], n2[kBlock], p1[kBlock], p2[kBlock];
    for (int j = 0; j < kBlock; ++j) {
        n1[j] = j % 3 != 2 ? 0xFFFF : 0;
        n2[j] = j % 3 == 0 ? 0xFFFF : 0;
        p1[j] = j % 3 != 0 ? 0xFFFF : 0;
        p2[j] = j % 3 == 2 ? 0xFFFF : 0;
    }
    const bool vector = imageops::VectorKernelsOn();
    ForEachBandInBlocks(
        image,
        [&](uint8_t* p, size_t bytes) -> size_t {
            if (vector) return 3 * imageops::kernels::GreyPixels(p, bytes / 3);
            uint16_t a[kBlock], b[kBlock], c[kBlock], e[kBlock]; // local: cannot alias p
            std::copy_n(n1, kBlock, a);
            std::copy_n(n2, kBlock, b);
            std::copy_n(p1, kBlock, c);
            std::copy_n(p2, kBlock, e);
            PaddedBlock blk;
            const size_t blocks = bytes / kBlock;
            for (size_t k = 0; k < blocks; ++k, p += kBlock) {
                std::copy_n(p, kBlock, blk.b + 2);
                const uint8_t* x = blk.At(0);
                for (int j = 0; j < kBlock; ++j) {
                    const uint16_t sum =
                        uint16_t(x[j] + (blk.At(1)[j] & a[j]) + (blk.At(2)[j] & b[j]) +
                                 (blk.At(-1)[j] & c[j]) + (blk.At(-2)[j] & e[j]));
                    p[j] = uint8_t(sum / 3);
                }
            }
            return blocks * kBlock;
        },
        [&](uint8_t* p, size_t pixels) {
            for (size_t i = 0; i < pixels; ++i, p += 3) {
                const uint8_t g = uint8_t((unsigned(p[0]) + p[1] + p[2]) / 3);
                p[0] = p[1] = p[2] = g;
            }
        });
}

namespace {

// White points (CIE 1931 x, y) of the illuminants in the order of the record's
// index 1..8: A, B, C, D50, D55, D65, D75, F2.
constexpr double kIlluminantXY[8][2] = {
    {0.44757, 0.40745}, {0.34842, 0.35161}, {0.31006, 0.31616}, {0.34567, 0.35850},
    {0.33242, 0.34743}, {0.31271, 0.32902}, {0.29902, 0.31485}, {0.37208, 0.37529},
};
constexpr int kIlluminantD65 = 6;

// Linear-light red, green and blue of a white point with luminance 1.
std::array<double, 3> WhiteInLinearRgb(double x, double y) {
    const double X = x / y, Y = 1.0, Z = (1.0 - x - y) / y;
    return {3.2406 * X - 1.5372 * Y - 0.4986 * Z, -0.9689 * X + 1.8758 * Y + 0.0415 * Z,
            0.0557 * X - 0.2040 * Y + 1.0570 * Z};
}

struct ColorAdjustParams {
    bool negative, logFilter;
    int illuminant;
    double gamma[3], black, white, contrast, brightness, colorfulness, tint;
    bool Identity() const {
        return !negative && !logFilter && (illuminant == 0 || illuminant == kIlluminantD65) &&
               gamma[0] == 10000 && gamma[1] == 10000 && gamma[2] == 10000 && black == 0 &&
               white == 10000 && contrast == 0 && brightness == 0 && colorfulness == 0 && tint == 0;
    }
};

ColorAdjustParams Sanitize(const ColorAdjustment& ca) {
    ColorAdjustParams p;
    p.negative = (ca.caFlags & 1) != 0;
    p.logFilter = (ca.caFlags & 2) != 0;
    p.illuminant = ca.caIlluminantIndex <= 8 ? ca.caIlluminantIndex : 0;
    p.gamma[0] = std::clamp<int>(ca.caRedGamma, 2500, 65000);
    p.gamma[1] = std::clamp<int>(ca.caGreenGamma, 2500, 65000);
    p.gamma[2] = std::clamp<int>(ca.caBlueGamma, 2500, 65000);
    p.black = std::clamp<int>(ca.caReferenceBlack, 0, 4000);
    p.white = std::clamp<int>(ca.caReferenceWhite, 6000, 10000);
    p.contrast = std::clamp<int>(ca.caContrast, -100, 100);
    p.brightness = std::clamp<int>(ca.caBrightness, -100, 100);
    p.colorfulness = std::clamp<int>(ca.caColorfulness, -100, 100);
    p.tint = std::clamp<int>(ca.caRedGreenTint, -100, 100);
    return p;
}

// The per-channel part of the adjustment for every 8-bit input value.
std::array<std::array<float, 256>, 3> ChannelCurves(const ColorAdjustParams& p) {
    double gain[3] = {1.0, 1.0, 1.0};
    if (p.illuminant != 0 && p.illuminant != kIlluminantD65) {
        const auto* xy = kIlluminantXY;
        const auto w = WhiteInLinearRgb(xy[p.illuminant - 1][0], xy[p.illuminant - 1][1]);
        const auto d65 = WhiteInLinearRgb(xy[kIlluminantD65 - 1][0], xy[kIlluminantD65 - 1][1]);
        double top = 0.0;
        for (int c = 0; c < 3; ++c) {
            gain[c] = std::max(w[size_t(c)] / d65[size_t(c)], 0.0);
            top = std::max(top, gain[c]);
        }
        for (double& g : gain) g /= top;
    }
    const double black = p.black / 10000.0, white = p.white / 10000.0;
    std::array<std::array<float, 256>, 3> curves{};
    for (int c = 0; c < 3; ++c) {
        const double exponent = 10000.0 / p.gamma[c];
        for (int v = 0; v < 256; ++v) {
            double x = v / 255.0;
            if (p.negative) x = 1.0 - x;
            x = std::clamp((x - black) / (white - black), 0.0, 1.0);
            if (exponent != 1.0) x = std::pow(x, exponent);
            if (gain[c] != 1.0) x = std::pow(std::pow(x, 2.2) * gain[c], 1.0 / 2.2);
            if (p.logFilter) x = std::log10(1.0 + 9.0 * x);
            x = (x - 0.5) * (1.0 + p.contrast / 100.0) + 0.5;
            x += p.brightness / 200.0;
            curves[size_t(c)][size_t(v)] = float(x);
        }
    }
    return curves;
}

inline uint8_t ToByte(float x) {
    return uint8_t(std::clamp(x, 0.0f, 1.0f) * 255.0f + 0.5f);
}

} // namespace

void AdjustColor(BMP_File& image, const ColorAdjustment& ca) {
    const ColorAdjustParams p = Sanitize(ca);
    if (p.Identity() || image.Empty()) return;
    const auto curves = ChannelCurves(p);
    if (p.colorfulness == 0 && p.tint == 0) {
        Lut lut[3];
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v) lut[c][size_t(v)] = ToByte(curves[size_t(c)][size_t(v)]);
        ApplyLuts(image, lut[0], lut[1], lut[2]);
        return;
    }
    const float sat = float(1.0 + p.colorfulness / 100.0);
    const float redGain = float(1.0 + p.tint / 400.0), greenGain = float(1.0 - p.tint / 400.0);
    const auto& cr = curves[0];
    const auto& cg = curves[1];
    const auto& cb = curves[2];
    ForEachBand(image, [&](uint8_t* q, size_t pixels) {
        for (size_t i = 0; i < pixels; ++i, q += 3) {
            float r = cr[q[0]], g = cg[q[1]], b = cb[q[2]];
            const float y = 0.299f * r + 0.587f * g + 0.114f * b;
            r = y + (r - y) * sat;
            g = y + (g - y) * sat;
            b = y + (b - y) * sat;
            q[0] = ToByte(r * redGain);
            q[1] = ToByte(g * greenGain);
            q[2] = ToByte(b);
        }
    });
}

void ColorFilter(BMP_File& image, const ColorFilterSettings& f) {
    // One table per channel: 1 where the value lies inside the channel's interval.
    auto inside = [](int a, int b) {
        std::array<uint8_t, 256> t{};
        const int lo = std::min(a, b), hi = std::max(a, b);
        for (int v = 0; v < 256; ++v) t[size_t(v)] = lo <= v && v <= hi;
        return t;
    };
    const auto ir = inside(f.m_nRMin, f.m_nRMax), ig = inside(f.m_nGMin, f.m_nGMax),
               ib = inside(f.m_nBMin, f.m_nBMax);
    const bool erase = f.ftype != 0;
    ForEachBand(image, [&](uint8_t* p, size_t pixels) {
        for (size_t i = 0; i < pixels; ++i, p += 3) {
            const unsigned n = unsigned(ir[p[0]]) + ig[p[1]] + ib[p[2]];
            const bool keep = erase ? n == 0 : n == 3;
            if (!keep) p[0] = p[1] = p[2] = 255;
        }
    });
}

void ReplaceColor(BMP_File& image, CColor24 source, CColor24 target) {
    ForEachBand(image, [&](uint8_t* bytes, size_t pixels) {
        CColor24* p = reinterpret_cast<CColor24*>(bytes);
        for (size_t i = 0; i < pixels; ++i)
            if (p[i] == source) p[i] = target;
    });
}

namespace {

struct BoundRefs {
    int32_t* min;
    int32_t* max;
};

BoundRefs Bounds(ColorFilterSettings& f, int channel) {
    switch (channel) {
    case 0:
        return {&f.m_nRMin, &f.m_nRMax};
    case 1:
        return {&f.m_nGMin, &f.m_nGMax};
    default:
        return {&f.m_nBMin, &f.m_nBMax};
    }
}

// The lower and the upper bound of a channel, whichever field holds them.
struct Interval {
    int32_t* lo;
    int32_t* hi;
};

Interval Ordered(ColorFilterSettings& f, int channel) {
    const BoundRefs b = Bounds(f, channel);
    return *b.min <= *b.max ? Interval{b.min, b.max} : Interval{b.max, b.min};
}

} // namespace

void WidenColorFilter(ColorFilterSettings& f, int n) {
    for (int c = 0; c < 3; ++c) {
        const Interval i = Ordered(f, c);
        *i.lo = std::max(*i.lo - n, 0);
        *i.hi = std::min(*i.hi + n, 255);
    }
}

void NarrowColorFilter(ColorFilterSettings& f, int n) {
    for (int c = 0; c < 3; ++c) {
        const Interval i = Ordered(f, c);
        const int d = *i.hi - *i.lo;
        if (d < 2 * n) {
            *i.lo = *i.hi = *i.lo + d / 2;
        } else {
            *i.lo = std::min(*i.lo + n, 255);
            *i.hi = std::max(*i.hi - n, 0);
        }
    }
}

void SetColorFilterToColor(ColorFilterSettings& f, CColor24 c) {
    const uint8_t v[3] = {c.r, c.g, c.b};
    for (int ch = 0; ch < 3; ++ch) {
        const BoundRefs b = Bounds(f, ch);
        *b.min = *b.max = v[ch];
    }
}

void MoveColorFilterBound(ColorFilterSettings& f, int channel, bool isMax, int value) {
    channel = std::clamp(channel, 0, 2);
    value = std::clamp(value, 0, 255);
    const BoundRefs moved = Bounds(f, channel);
    int32_t* field = isMax ? moved.max : moved.min;
    const int delta = value - *field;
    *field = value;
    if (!f.m_bSynchro) return;
    for (int c = 0; c < 3; ++c) {
        if (c == channel) continue;
        const BoundRefs b = Bounds(f, c);
        int32_t* other = isMax ? b.max : b.min;
        *other = std::clamp(*other + delta, 0, 255);
    }
}
