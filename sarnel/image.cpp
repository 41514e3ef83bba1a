// The image record: loading, rendering, colour-space conversions and clamping.
#include "sarnel/internal.h"
#include "sarnel/parallel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace sarnel {

ChannelRange channelRange(int channel) {
    static constexpr ChannelRange ranges[kChannelCount] = {{0, 255}, {0, 255},    {0, 255},
                                                           {0, 360}, {0, 100},    {0, 100},
                                                           {0, 100}, {-128, 127}, {-128, 127}};
    if (channel < 0 || channel >= kChannelCount) return {-32768, 32767};
    return ranges[channel];
}

void clampPlane(Plane& plane, int channel) {
    const ChannelRange r = channelRange(channel);
    const int16_t lo = int16_t(r.lo), hi = int16_t(r.hi);
    for (int16_t& s : plane.samples) s = std::clamp(s, lo, hi);
}

int16_t storeTrunc(double v) {
    if (!std::isfinite(v)) return 0;
    if (v >= 32767.0) return 32767;
    if (v <= -32768.0) return -32768;
    return int16_t(v); // conversion truncates toward zero
}

int16_t storeMean(double v, double scale) {
    if (!std::isfinite(v)) return 0;
    // The filters' own error bounds stay below 8 ulps of their operands.
    constexpr int kUlps = 8;
    const double m = std::max(std::fabs(v), std::fabs(scale));
    // One ulp of m: its power of two scaled by 2^-52 (0 for subnormal m, whose
    // values truncate to 0 anyway).
    const double ulp =
        std::bit_cast<double>(std::bit_cast<uint64_t>(m) & 0x7FF0000000000000ull) * 0x1p-52;
    const double r = std::nearbyint(v);
    if (std::fabs(v - r) <= kUlps * ulp) v = r;
    return storeTrunc(v);
}

// ---------------------------------------------------------------------------
// Single-pixel conversions. The literals, the single-precision steps and the
// truncations are part of the library's observable results: a picture converted
// back and forth must quantise the same way every time.

void rgbToHsv(int r, int g, int b, int16_t& h, int16_t& s, int16_t& v) {
    const int mx = std::max({r, g, b});
    const int mn = std::min({r, g, b});
    const int d = mx - mn;
    // The quotient, its product by 60 and the sector offset are all rounded to
    // single precision step by step: 60 * -1/3f is -20.0000006 in doubles but -20 in
    // floats, and the hue of (0, 1, 3) must come out 220, not 219. The file is built
    // without floating-point contraction so that no step is fused away.
    float hue = 0.0f;
    if (d != 0) {
        float x, offset;
        if (r == mx) {
            x = float(double(g - b) / d);
            offset = g < b ? 360.0f : 0.0f;
        } else if (g == mx) {
            x = float(double(b - r) / d);
            offset = 120.0f;
        } else {
            x = float(double(r - g) / d);
            offset = 240.0f;
        }
        hue = 60.0f * x;
        hue = hue + offset;
    }
    double sat = 0.0;
    if (mx != 0) sat = 100.0 * float(1.0 - double(mn) / mx);
    h = storeTrunc(hue);
    s = storeTrunc(sat);
    v = storeTrunc(100.0 * mx / 255.0);
}

void hsvToRgb(int hIn, int sIn, int vIn, int16_t& r, int16_t& g, int16_t& b) {
    const float h = float(hIn) / 60.0f;
    const float fl = std::floor(h);
    int i = int(std::fmod(fl, 6.0f));
    if (i < 0) i += 6;
    const float f = h - fl;
    const float s = float(sIn) / 100.0f;
    const float v = float(vIn) / 100.0f;
    const float p = v * (1.0f - s);
    const float q = v * (1.0f - s * f);
    const float t = v * (1.0f - s * (1.0f - f));
    float rf, gf, bf;
    switch (i) {
    case 0:
        rf = v, gf = t, bf = p;
        break;
    case 1:
        rf = q, gf = v, bf = p;
        break;
    case 2:
        rf = p, gf = v, bf = t;
        break;
    case 3:
        rf = p, gf = q, bf = v;
        break;
    case 4:
        rf = t, gf = p, bf = v;
        break;
    default:
        rf = v, gf = p, bf = q;
        break;
    }
    r = storeTrunc(rf * 255.0f);
    g = storeTrunc(gf * 255.0f);
    b = storeTrunc(bf * 255.0f);
}

namespace {

double srgbToLinear100(int value) {
    double t = value / 255.0;
    if (t > 0.04045)
        t = std::pow((t + 0.055) / 1.055, 2.4);
    else
        t = t / 12.92;
    return 100.0 * t;
}

double labF(double t) {
    return t > 0.008856 ? std::pow(t, 0.33333333333) : 7.787 * t + 0.13793103;
}

double labG(double t) {
    const double t3 = t * t * t;
    return t3 > 0.008856 ? t3 : (t - 0.13793103) / 7.787;
}

double linearToSrgb(double t) {
    return t > 0.0031308 ? 1.055 * std::pow(t, 0.41666666667) - 0.055 : 12.92 * t;
}

// Planes hold 0..255 after clamping; the table covers those, other values are computed.
struct LinearTable {
    double v[256];
    LinearTable() {
        for (int i = 0; i < 256; ++i) v[i] = srgbToLinear100(i);
    }
    double operator()(int x) const { return (x >= 0 && x < 256) ? v[x] : srgbToLinear100(x); }
};
const LinearTable& linearTable() {
    static const LinearTable table;
    return table;
}

} // namespace

void rgbToLab(int r, int g, int b, int16_t& l, int16_t& a, int16_t& bb) {
    const LinearTable& lin = linearTable();
    const double R = lin(r), G = lin(g), B = lin(b);
    const double X = 0.4124 * R + 0.3576 * G + 0.1805 * B;
    const double Y = 0.2126 * R + 0.7152 * G + 0.0722 * B;
    const double Z = 0.0193 * R + 0.1192 * G + 0.9505 * B;
    const double fx = labF(X / 95.047), fy = labF(Y / 100.0), fz = labF(Z / 108.883);
    l = storeTrunc(116.0 * fy - 16.0);
    a = storeTrunc(500.0 * (fx - fy));
    bb = storeTrunc(200.0 * (fy - fz));
}

void labToRgb(int lIn, int aIn, int bIn, int16_t& r, int16_t& g, int16_t& b) {
    const double fy = (lIn + 16.0) / 116.0;
    const double fx = aIn / 500.0 + fy;
    const double fz = fy - bIn / 200.0;
    const double x = 95.047 * labG(fx) / 100.0;
    const double y = 100.0 * labG(fy) / 100.0;
    const double z = 108.883 * labG(fz) / 100.0;
    const double rl = 3.2406 * x - 1.5372 * y - 0.4986 * z;
    const double gl = -0.9689 * x + 1.8758 * y + 0.0415 * z;
    const double bl = 0.0557 * x - 0.2040 * y + 1.0570 * z;
    r = storeTrunc(255.0 * linearToSrgb(rl));
    g = storeTrunc(255.0 * linearToSrgb(gl));
    b = storeTrunc(255.0 * linearToSrgb(bl));
}

// ---------------------------------------------------------------------------

namespace {

constexpr int kRowGrain = 64;

void sizePlanes(SR_Image& image, int first) {
    for (int c = first; c < first + 3; ++c) {
        Plane& p = image.planes[size_t(c)];
        p.width = image.width;
        p.height = image.height;
        p.samples.assign(size_t(image.width) * size_t(image.height), 0);
    }
}

void emptyPlanes(SR_Image& image, int first) {
    for (int c = first; c < first + 3; ++c) {
        std::vector<int16_t>().swap(image.planes[size_t(c)].samples);
    }
}

// Fills planes first..first+2 (sized here) from planes src..src+2, then empties the source.
// The conversion is a template argument so that it is inlined into the pixel loop.
template <typename Convert> void convertPlanes(SR_Image& image, int src, int dst, Convert&& fn) {
    sizePlanes(image, dst);
    const int16_t* s0 = image.planes[size_t(src)].samples.data();
    const int16_t* s1 = image.planes[size_t(src + 1)].samples.data();
    const int16_t* s2 = image.planes[size_t(src + 2)].samples.data();
    int16_t* d0 = image.planes[size_t(dst)].samples.data();
    int16_t* d1 = image.planes[size_t(dst + 1)].samples.data();
    int16_t* d2 = image.planes[size_t(dst + 2)].samples.data();
    const size_t w = size_t(image.width);
    parallelFor(image.height, kRowGrain, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * w, e = size_t(y1) * w; i < e; ++i)
            fn(s0[i], s1[i], s2[i], d0[i], d1[i], d2[i]);
    });
    emptyPlanes(image, src);
}

int firstChannel(int mode) {
    return mode * 3;
}

} // namespace

bool loadImage(SR_Image& image, const SR_Bitmap& bm) {
    image.width = bm.width;
    image.height = bm.height;
    image.mode = SR_MODE_RGB;
    sizePlanes(image, 0);
    const size_t w = size_t(bm.width);
    image.source.resize(4 * w * size_t(bm.height));
    int16_t* red = image.planes[0].samples.data();
    int16_t* green = image.planes[1].samples.data();
    int16_t* blue = image.planes[2].samples.data();
    for (int y = 0; y < bm.height; ++y) {
        const uint8_t* row = bm.pixels + size_t(y) * size_t(bm.stride);
        std::memcpy(image.source.data() + 4 * w * size_t(y), row, 4 * w);
        const size_t base = w * size_t(y);
        for (size_t x = 0; x < w; ++x) {
            blue[base + x] = row[4 * x];
            green[base + x] = row[4 * x + 1];
            red[base + x] = row[4 * x + 2];
        }
    }
    return true;
}

void convertMode(SR_Image& image, int mode) {
    if (mode < SR_MODE_RGB || mode > SR_MODE_LAB || mode == image.mode) return;
    if (image.mode == SR_MODE_HSV)
        convertPlanes(image, firstChannel(SR_MODE_HSV), 0,
                      [](int a, int b, int c, int16_t& x, int16_t& y, int16_t& z) {
                          hsvToRgb(a, b, c, x, y, z);
                      });
    else if (image.mode == SR_MODE_LAB)
        convertPlanes(image, firstChannel(SR_MODE_LAB), 0,
                      [](int a, int b, int c, int16_t& x, int16_t& y, int16_t& z) {
                          labToRgb(a, b, c, x, y, z);
                      });
    image.mode = SR_MODE_RGB;
    if (mode == SR_MODE_HSV)
        convertPlanes(image, 0, firstChannel(SR_MODE_HSV),
                      [](int a, int b, int c, int16_t& x, int16_t& y, int16_t& z) {
                          rgbToHsv(a, b, c, x, y, z);
                      });
    else if (mode == SR_MODE_LAB)
        convertPlanes(image, 0, firstChannel(SR_MODE_LAB),
                      [](int a, int b, int c, int16_t& x, int16_t& y, int16_t& z) {
                          rgbToLab(a, b, c, x, y, z);
                      });
    image.mode = mode;
}

void convertAndClamp(SR_Image& image, int mode) {
    if (mode < SR_MODE_RGB || mode > SR_MODE_LAB) return;
    convertMode(image, mode);
    for (int c = firstChannel(mode); c < firstChannel(mode) + 3; ++c)
        clampPlane(image.planes[size_t(c)], c);
}

void renderImage(SR_Image& image, SR_Bitmap& out) {
    const size_t w = size_t(image.width);
    for (int y = 0; y < image.height; ++y)
        std::memcpy(out.pixels + size_t(y) * size_t(out.stride),
                    image.source.data() + 4 * w * size_t(y), 4 * w);
    const int mode = image.mode;
    convertMode(image, SR_MODE_RGB);
    for (int c = 0; c < 3; ++c) clampPlane(image.planes[size_t(c)], c);
    const int16_t* red = image.planes[0].samples.data();
    const int16_t* green = image.planes[1].samples.data();
    const int16_t* blue = image.planes[2].samples.data();
    for (int y = 0; y < image.height; ++y) {
        uint8_t* row = out.pixels + size_t(y) * size_t(out.stride);
        const size_t base = w * size_t(y);
        for (size_t x = 0; x < w; ++x) {
            row[4 * x] = uint8_t(blue[base + x]);
            row[4 * x + 1] = uint8_t(green[base + x]);
            row[4 * x + 2] = uint8_t(red[base + x]);
        }
    }
    convertMode(image, mode);
}

} // namespace sarnel
