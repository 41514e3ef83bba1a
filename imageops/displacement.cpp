#include "imageops/displacement.h"

#include "imageops/cpu_features.h"
#include "imageops/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace {

// The angle literals the effects are tuned with: degrees go to radians through
// this value of pi, and one wave period is this value of two pi.
constexpr double kDegreePi = 3.14159265;
constexpr double kWaveTwoPi = 6.2831853;

alignas(4) constexpr uint8_t kTransparentBlack[4] = {0, 0, 0, 0};

// The picture as the effects sample it: transparent black outside.
struct Picture {
    const uint8_t* px;
    int w, h;
    const uint8_t* At(int64_t x, int64_t y) const {
        if (x < 0 || y < 0 || x >= w || y >= h) return kTransparentBlack;
        return px + (size_t(y) * size_t(w) + size_t(x)) * 4;
    }
    const uint8_t* Inside(int x, int y) const {
        return px + (size_t(y) * size_t(w) + size_t(x)) * 4;
    }
};

[[gnu::always_inline]] inline uint8_t* Out(uint8_t* dst, int w, int x, int y) {
    return dst + (size_t(y) * size_t(w) + size_t(x)) * 4;
}

[[gnu::always_inline]] inline void CopyPixel(uint8_t* to, const uint8_t* from) {
    std::memcpy(to, from, 4);
}

// The four bytes of a pixel as doubles, one per lane. Each lane goes through
// exactly the operations the scalar formula has, in its order (no lane mixes
// with another, nothing is fused), so results are those of the formula.
// The helpers that take and give them are always inlined into this file's
// loops and never cross a call, so the calling convention of 32-byte vectors
// without AVX (which GCC warns of) does not arise.
#pragma GCC diagnostic ignored "-Wpsabi"
using V4 = double __attribute__((vector_size(32)));
using I4 = int32_t __attribute__((vector_size(16)));

[[gnu::always_inline]] inline V4 Widen(const uint8_t* p) {
    const I4 i = {p[0], p[1], p[2], p[3]};
    return __builtin_convertvector(i, V4);
}

// Lanes of 0..255 up to rounding, held to a byte each and stored.
[[gnu::always_inline]] inline void StoreBytes(uint8_t* out, I4 r) {
    for (int c = 0; c < 4; ++c) out[c] = uint8_t(r[c] < 0 ? 0 : r[c] > 255 ? 255 : r[c]);
}

// Each lane to the nearest integer, ties to even: adding and taking away
// 1.5 * 2^52 leaves no fraction bits, and the addition rounds the way the
// processor rounds (to nearest, ties to even; the mode is never changed
// here).
[[gnu::always_inline]] inline void StoreNearest(uint8_t* out, V4 v) {
    const V4 magic = V4{} + 0x1.8p52;
    StoreBytes(out, __builtin_convertvector((v + magic) - magic, I4));
}

// floor for values well inside the 64-bit range, without a library call.
[[gnu::always_inline]] inline double Floor(double v) {
    const double t = double(int64_t(v));
    return t > v ? t - 1 : t;
}

// v limited to lo..hi; a position that is not a number goes to lo, so that
// every destination pixel gets a definite value.
[[gnu::always_inline]] inline double Limit(double v, double lo, double hi) {
    return v > lo ? (v < hi ? v : hi) : lo;
}

int ThreadCount(int requested, int width, int height) {
    if (requested > 0) return requested;
    return imageops::WorkerCount(size_t(width) * size_t(height));
}

// The boundaries of `threads` contiguous parts of [0, count), at most one
// part per element.
std::vector<int> Parts(int count, int threads) {
    std::vector<int> bounds{0};
    if (count <= 0) return bounds;
    threads = std::clamp(threads, 1, count);
    for (int t = 1; t < threads; ++t) bounds.push_back(int(int64_t(count) * t / threads));
    bounds.push_back(count);
    return bounds;
}

// Calls fn(first, last) on contiguous parts of [0, count), one thread each.
template <class Fn> void SplitRange(int count, int threads, Fn&& fn) {
    imageops::RunBands(Parts(count, threads), [&fn](size_t, int a, int b) { fn(a, b); });
}

// Calls fn(first, last) on chunks of [0, count) dealt round the threads, for
// work whose cost varies smoothly along the range.
template <class Fn> void DealChunks(int count, int threads, int chunk, Fn&& fn) {
    if (count <= 0) return;
    threads = std::clamp(threads, 1, (count + chunk - 1) / chunk);
    std::vector<int> ids(size_t(threads) + 1);
    for (int t = 0; t <= threads; ++t) ids[size_t(t)] = t;
    imageops::RunBands(ids, [&](size_t, int t, int) {
        for (int a = t * chunk; a < count; a += threads * chunk) fn(a, std::min(a + chunk, count));
    });
}

// ---------------------------------------------------------------- Wave

struct WaveGeometry {
    int w, h;
    double cx, cy, sx, sy, amplitude, twoLambda, phase;
    bool smear, reflective;
};

WaveGeometry MakeWaveGeometry(int w, int h, const WaveParams& p) {
    WaveGeometry g{};
    g.w = w;
    g.h = h;
    g.cx = w / 2.0;
    g.cy = h / 2.0;
    g.sx = g.sy = 1.0;
    if (w > h) g.sy = g.cx / g.cy;
    if (h > w) g.sx = g.cy / g.cx;
    g.amplitude = double(p.amplitude);
    g.twoLambda = 2.0 * double(p.wavelength);
    g.phase = double(p.phase) * kDegreePi / 180.0;
    g.smear = p.smear;
    g.reflective = p.reflective;
    return g;
}

// Bilinear blend of the four pixels around (nx, ny), each byte rounded to
// nearest with ties to even. The cell is found with floor, so that a position
// just left of or above the picture blends toward the transparent black
// outside it rather than toward the second column or row. Positions are
// limited by the caller.
[[gnu::always_inline]] inline void WaveSample(const Picture& pic, double nx, double ny,
                                              uint8_t* out) {
    const double fxl = Floor(nx), fyl = Floor(ny);
    const int64_t xi = int64_t(fxl), yi = int64_t(fyl);
    const double fx = nx - fxl, fy = ny - fyl, gx = 1.0 - fx, gy = 1.0 - fy;
    const uint8_t *p00, *p10, *p01, *p11;
    if (xi >= 0 && yi >= 0 && xi + 1 < pic.w && yi + 1 < pic.h) {
        p00 = pic.Inside(int(xi), int(yi));
        p10 = p00 + 4;
        p01 = pic.Inside(int(xi), int(yi) + 1);
        p11 = p01 + 4;
    } else {
        p00 = pic.At(xi, yi);
        p10 = pic.At(xi + 1, yi);
        p01 = pic.At(xi, yi + 1);
        p11 = pic.At(xi + 1, yi + 1);
    }
    StoreNearest(out, (Widen(p00) * gx + Widen(p10) * fx) * gy +
                          (Widen(p01) * gx + Widen(p11) * fx) * fy);
}

// One destination row; s holds the wave value for columns x0..w (column w
// only as the mirror of column 0), the columns left of x0 take the value of
// their mirror image w - x, whose distance from the centre is the same.
// Dividing by a scale of 1 changes nothing, so that division is skipped.
[[gnu::always_inline]] inline void WaveRowPart(const Picture& pic, uint8_t* dst,
                                               const WaveGeometry& g, int y, const double* s,
                                               int x0, int xa, int xb) {
    const double dy = (double(y) - g.cy) * g.sy;
    // Smear keeps positions on the picture (its last column and row included,
    // so that a still wave leaves every pixel where it is); otherwise they are
    // only held where every sample is transparent black anyway.
    const double loX = g.smear ? 0.0 : -2.0, hiX = g.smear ? g.w - 1.0 : g.w + 1.0;
    const double loY = g.smear ? 0.0 : -2.0, hiY = g.smear ? g.h - 1.0 : g.h + 1.0;
    const bool unitX = g.sx == 1.0, unitY = g.sy == 1.0;
    uint8_t* out = Out(dst, g.w, xa, y);
    for (int x = xa; x < xb; ++x, out += 4) {
        const double sv = x >= x0 ? s[x - x0] : s[g.w - x - x0];
        const double dx = (double(x) - g.cx) * g.sx;
        double nx, ny;
        if (g.reflective) {
            const double a = std::fabs(sv) * g.amplitude;
            nx = dx * a;
            ny = dy * a;
        } else {
            const double a = sv * g.amplitude;
            nx = dx + a;
            ny = dy + a;
        }
        nx = (unitX ? nx : nx / g.sx) + g.cx;
        ny = (unitY ? ny : ny / g.sy) + g.cy;
        WaveSample(pic, Limit(nx, loX, hiX), Limit(ny, loY, hiY), out);
    }
}

// Rows y0 + k and their mirror rows for k in ka..kb-1, whose wave values
// stand in s at k - ka times stride. The rows are done in tiles a few cache
// lines wide, so that the source pixels one tile samples stay in the cache
// from one row to the next.
void WaveBlock(const Picture& pic, uint8_t* dst, const WaveGeometry& g, int y0, int ka, int kb,
               const double* s, size_t stride, int x0) {
    constexpr int kTile = 64;
    for (int xa = 0; xa < g.w; xa += kTile) {
        const int xb = std::min(xa + kTile, g.w);
        for (int k = ka; k < kb; ++k) {
            const int y = y0 + k;
            const double* row = s + size_t(k - ka) * stride;
            if (y < g.h) WaveRowPart(pic, dst, g, y, row, x0, xa, xb);
            if (g.h - y < y0) WaveRowPart(pic, dst, g, g.h - y, row, x0, xa, xb);
        }
    }
}

} // namespace

WaveParams WaveFromSettings(const ProcessingSettings& s) {
    WaveParams p;
    p.amplitude = s.m_nAmplitudeWave;
    p.wavelength = s.m_nWavelengthWave;
    p.phase = s.m_nPhaseWave;
    p.smear = s.m_bSmearWave != 0;
    p.reflective = s.m_bReflectiveWave != 0;
    return p;
}

void Wave(const uint8_t* src, uint8_t* dst, int width, int height, const WaveParams& p,
          int threads) {
    if (width <= 0 || height <= 0) return;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    // A wavelength of 0 fits no wave (its phase would be 0 / 0).
    if (p.wavelength == 0) {
        std::memcpy(dst, src, bytes);
        return;
    }
    const WaveGeometry g = MakeWaveGeometry(width, height, p);
    const Picture pic{src, width, height};
    // The wave value depends on the distance from the centre only, and the
    // columns x and w - x (rows y and h - y) lie at the same distance: it is
    // computed for one quarter, the rows y0..h and columns x0..w, and each of
    // those rows serves its mirror row too.
    const int x0 = (width + 1) / 2, y0 = (height + 1) / 2;
    const int pairs = height - y0 + 1;
    // One table of wave values per thread, had here: memory that cannot be
    // had is reported to the caller, not raised on a worker thread.
    constexpr int kBand = 16; // row pairs whose wave values are held at once
    const std::vector<int> parts = Parts(pairs, ThreadCount(threads, width, height));
    const size_t stride = size_t(width - x0 + 1);
    std::vector<double> tables(stride * kBand * (parts.size() - 1));
    imageops::RunBands(parts, [&](size_t part, int first, int last) {
        double* s = tables.data() + part * stride * kBand;
        for (int ka = first; ka < last; ka += kBand) {
            const int kb = std::min(ka + kBand, last);
            for (int k = ka; k < kb; ++k) {
                const double dy = (double(y0 + k) - g.cy) * g.sy;
                double* row = s + size_t(k - ka) * stride;
                for (int x = x0; x <= width; ++x) {
                    const double dx = (double(x) - g.cx) * g.sx;
                    const double d = std::sqrt(dx * dx + dy * dy);
                    row[x - x0] = std::sin(d / g.twoLambda * kWaveTwoPi + g.phase);
                }
            }
            WaveBlock(pic, dst, g, y0, ka, kb, s, stride, x0);
        }
    });
}

// ---------------------------------------------------------------- Ripple

namespace {

// A shift that is a whole number in exact arithmetic can come out a hair
// below it in double precision (4/3 - 2 and its kin); the floor would then
// move the row, or a part of it, by one pixel more. Amounts that close to a
// whole number are taken as that number. Genuine fractions lie much farther
// away: a sawtooth amount is a fraction with a denominator of at most 90
// times the period.
constexpr double kWholeShiftTolerance = 1e-9;

double SnapToWhole(double v) {
    const double r = std::nearbyint(v);
    return std::fabs(v - r) < kWholeShiftTolerance ? r : v;
}

// Added before a weighted mean is truncated: a mean of equal colours
// computed in double precision can land a hair below that colour.
constexpr double kTruncNudge = 1e-9;

double RippleAmount(int t, int period, double f, double amplitude, bool sine) {
    if (sine) return std::sin((double(t) / period - f) * kWaveTwoPi) * amplitude;
    double r = double(t % period) - f * period;
    if (r < 0) r = r + period;
    return (std::fabs(r / period * 4 - 2) - 1) * amplitude;
}

[[gnu::always_inline]] inline int64_t WrapIndex(int64_t i, int64_t len) {
    if (i >= 0 && i < len) return i;
    if (i >= len && i < 2 * len) return i - len;
    if (i < 0 && i >= -len) return i + len;
    const int64_t m = i % len;
    return m < 0 ? m + len : m;
}

// n mod len, made non-negative by adding len, as fmod gives it (exact) with
// the common cases done without the library call.
[[gnu::always_inline]] inline double WrapPosition(double n, double len) {
    if (n >= 0) return n < len ? n : std::fmod(n, len);
    const double m = n > -len ? n : std::fmod(n, len);
    return m < 0 ? m + len : m; // a whole number of lengths leaves -0
}

struct RippleSamples {
    int64_t i0, i1; // along the moved axis; outside 0..len-1 reads as transparent black
    double f;       // weight of i1
};

// The two samples around position n along an axis of len pixels and the
// weight of the second; the weight only when `blend` asks for it.
[[gnu::always_inline]] inline RippleSamples RippleEdge(double n, int64_t len, RippleEdges edges,
                                                       bool blend) {
    const double fl = Floor(n);
    const int64_t i = int64_t(fl);
    RippleSamples s{};
    switch (edges) {
    case RippleEdges::Wrap: {
        s.i0 = WrapIndex(i, len);
        s.i1 = s.i0 + 1 == len ? 0 : s.i0 + 1;
        if (blend) s.f = WrapPosition(n, double(len)) - double(s.i0);
        break;
    }
    case RippleEdges::Smear: {
        const double nc = Limit(n, 0.0, double(len - 1));
        s.i0 = std::clamp<int64_t>(i, 0, len - 1);
        s.i1 = std::min<int64_t>(s.i0 + 1, len - 1);
        s.f = nc - double(s.i0);
        break;
    }
    case RippleEdges::Blank:
        s.i0 = i;
        s.i1 = i + 1;
        s.f = n - fl;
        break;
    }
    // Rounding of the wrapped position can leave it a hair outside the cell.
    s.f = s.f < 0.0 ? 0.0 : s.f > 1.0 ? 1.0 : s.f;
    return s;
}

// Alpha-weighted blend of two pixels, truncated. Where neither sample has any
// weight of alpha the pixel is transparent black, as it is without
// antialiasing: keeping the unmoved source pixel there would show the picture
// unshifted in the blank margin.
[[gnu::always_inline]] inline void RippleBlend(const uint8_t* p0, const uint8_t* p1, double f,
                                               uint8_t* out) {
    const double g = 1.0 - f;
    const double a0 = p0[3], a1 = p1[3];
    const double alpha = g * a0 + f * a1;
    if (alpha == 0) {
        CopyPixel(out, kTransparentBlack);
        return;
    }
    // Values are 0..255 up to rounding, so conversion toward zero is trunc.
    V4 v = (Widen(p1) * f * a1 + Widen(p0) * g * a0) / alpha;
    v[3] = alpha;
    StoreBytes(out, __builtin_convertvector(v + kTruncNudge, I4));
}

struct RippleJob {
    const Picture* pic;
    uint8_t* dst;
    const double* amount; // per row (rows move) or per column (columns move)
    int64_t len;          // along the moved axis
    RippleEdges edges;
    bool vertical, antialias;
};

// Pixels x0..x1-1 of one row, with the orientation, blending and edge mode
// fixed at compile time so that the pixel loop has no branches on them.
template <bool Vertical, bool Blend, RippleEdges Edges>
[[gnu::always_inline]] inline void RippleRowBody(const RippleJob& j, int y, int x0, int x1) {
    const Picture& pic = *j.pic;
    uint8_t* out = Out(j.dst, pic.w, x0, y);
    for (int x = x0; x < x1; ++x, out += 4) {
        const double n = Vertical ? double(y) + j.amount[x] : double(x) + j.amount[y];
        const RippleSamples s = RippleEdge(n, j.len, Edges, Blend);
        const uint8_t* p0 = Vertical ? pic.At(x, s.i0) : pic.At(s.i0, y);
        if constexpr (!Blend) {
            CopyPixel(out, p0);
        } else {
            RippleBlend(p0, Vertical ? pic.At(x, s.i1) : pic.At(s.i1, y), s.f, out);
        }
    }
}

// Rows y0..y1-1. Moved columns are done in strips a few cache lines wide, so
// that the source rows a strip reads stay in the cache from one row to the
// next instead of every pixel of a row reading a row of its own.
template <bool Vertical, bool Blend, RippleEdges Edges>
[[gnu::always_inline]] inline void RippleRows(const RippleJob& j, int y0, int y1) {
    const int w = j.pic->w;
    if constexpr (Vertical) {
        constexpr int kStrip = 64;
        for (int x0 = 0; x0 < w; x0 += kStrip)
            for (int y = y0; y < y1; ++y)
                RippleRowBody<Vertical, Blend, Edges>(j, y, x0, std::min(x0 + kStrip, w));
    } else {
        for (int y = y0; y < y1; ++y) RippleRowBody<Vertical, Blend, Edges>(j, y, 0, w);
    }
}

template <bool Vertical, bool Blend>
[[gnu::always_inline]] inline void RippleRowsEdges(const RippleJob& j, int y0, int y1) {
    switch (j.edges) {
    case RippleEdges::Smear:
        RippleRows<Vertical, Blend, RippleEdges::Smear>(j, y0, y1);
        break;
    case RippleEdges::Wrap:
    default:
        RippleRows<Vertical, Blend, RippleEdges::Wrap>(j, y0, y1);
        break;
    case RippleEdges::Blank:
        RippleRows<Vertical, Blend, RippleEdges::Blank>(j, y0, y1);
        break;
    }
}

void RippleBand(const RippleJob& j, int y0, int y1) {
    if (j.vertical) {
        if (j.antialias)
            RippleRowsEdges<true, true>(j, y0, y1);
        else
            RippleRowsEdges<true, false>(j, y0, y1);
    } else {
        if (j.antialias)
            RippleRowsEdges<false, true>(j, y0, y1);
        else
            RippleRowsEdges<false, false>(j, y0, y1);
    }
}

} // namespace

RippleParams RippleFromSettings(const ProcessingSettings& s) {
    RippleParams p;
    p.amplitude = s.m_nAmplitudeRipple;
    p.period = s.m_nPeriodRipple;
    p.phaseShift = s.m_nPShiftRipple;
    p.antialias = s.m_bAntialiasingRipple != 0;
    p.retainTiling = s.m_bRetainRipple != 0;
    p.vertical = s.m_nHorizontalRipple != 0;
    p.edges = s.m_nEdgesRipple == 0   ? RippleEdges::Smear
              : s.m_nEdgesRipple == 2 ? RippleEdges::Blank
                                      : RippleEdges::Wrap;
    p.sine = s.m_nSawtoothRipple != 0;
    return p;
}

int RippleEffectivePeriod(const RippleParams& p, int width, int height) {
    // A period below one pixel has no meaning (and 0 would divide by zero).
    int period = std::max(p.period, 1);
    if (p.retainTiling) {
        const int len = std::max(p.vertical ? height : width, 1);
        period = len / std::max(len / period, 1);
    }
    return period;
}

void Ripple(const uint8_t* src, uint8_t* dst, int width, int height, const RippleParams& p,
            int threads) {
    if (width <= 0 || height <= 0) return;
    const int period = RippleEffectivePeriod(p, width, height);
    const double f = double(p.phaseShift) / 360.0;
    // The shift of each row (or column), computed once.
    const int along = p.vertical ? width : height;
    std::vector<double> amount(static_cast<size_t>(along));
    for (int t = 0; t < along; ++t)
        amount[size_t(t)] = SnapToWhole(RippleAmount(t, period, f, double(p.amplitude), p.sine));

    const Picture pic{src, width, height};
    const RippleJob job{&pic,
                        dst,
                        amount.data(),
                        p.vertical ? height : width,
                        p.retainTiling ? RippleEdges::Wrap : p.edges,
                        p.vertical,
                        p.antialias};
    SplitRange(height, ThreadCount(threads, width, height),
               [&](int y0, int y1) { RippleBand(job, y0, y1); });
}

// ---------------------------------------------------------------- Whirl & Pinch

namespace {

struct WhirlGeometry {
    int w, h;
    double cx, cy, sx, sy, R, radius2, r, pinch, angle;
};

// Alpha-weighted bilinear value at (ux, uy), which the caller has checked to
// lie in 0..w-2 x 0..h-2 so that all four pixels are on the picture.
[[gnu::always_inline]] inline void WhirlSample(const Picture& pic, double ux, double uy,
                                               uint8_t* out) {
    const int ix = int(ux), iy = int(uy);
    const double fx = ux - ix, fy = uy - iy, gx = 1.0 - fx, gy = 1.0 - fy;
    const uint8_t* p00 = pic.Inside(ix, iy);
    const uint8_t* p10 = p00 + 4;
    const uint8_t* p01 = pic.Inside(ix, iy + 1);
    const uint8_t* p11 = p01 + 4;
    const double a00 = p00[3], a10 = p10[3], a01 = p01[3], a11 = p11[3];
    const double alpha = (a10 * fx + a00 * gx) * gy + (a11 * fx + a01 * gx) * fy;
    const double magic = 0x1.8p52; // rounds to nearest, ties to even, as in StoreNearest
    const double alphaRounded = (alpha + magic) - magic;
    if (alphaRounded == 0) {
        // Nothing to weigh the colours by: a definite transparent black.
        CopyPixel(out, kTransparentBlack);
        return;
    }
    V4 v = ((Widen(p01) * gx * a01 + Widen(p11) * fx * a11) * fy +
            (Widen(p00) * gx * a00 + Widen(p10) * fx * a10) * gy) /
           alpha;
    v[3] = alphaRounded;
    StoreNearest(out, v);
}

[[gnu::always_inline]] inline bool Usable(const WhirlGeometry& g, double ux, double uy) {
    // Written so that a position that is not a number is not usable.
    return ux >= 0 && ux < g.w - 1.0 && uy >= 0 && uy < g.h - 1.0;
}

// The pixel (x, y), whose distance terms are given, and its point image
// through the centre, (w-1-x, h-1-y), which samples at the reflected
// position. A sample off the usable area leaves the pixel as it is in the
// source.
[[gnu::always_inline]] inline void WhirlPixelPair(const Picture& pic, uint8_t* dst,
                                                  const WhirlGeometry& g, int x, int y, double dx,
                                                  double dy, double factor, double cosA,
                                                  double sinA) {
    const double fdx = dx * factor, fdy = dy * factor;
    // Dividing by a scale of 1 changes nothing, so that division is skipped.
    const double rx = cosA * fdx - sinA * fdy, ry = sinA * fdx + cosA * fdy;
    const double ux = (g.sx == 1.0 ? rx : rx / g.sx) + g.cx;
    const double uy = (g.sy == 1.0 ? ry : ry / g.sy) + g.cy;
    uint8_t* top = Out(dst, g.w, x, y);
    if (Usable(g, ux, uy))
        WhirlSample(pic, ux, uy, top);
    else
        CopyPixel(top, pic.Inside(x, y));
    const int xb = g.w - 1 - x, yb = g.h - 1 - y;
    if (yb == y) return; // the middle row of an odd height is its own image
    const double bx = 2 * g.cx - ux, by = 2 * g.cy - uy;
    uint8_t* bottom = Out(dst, g.w, xb, yb);
    if (Usable(g, bx, by))
        WhirlSample(pic, bx, by, bottom);
    else
        CopyPixel(bottom, pic.Inside(xb, yb));
}

// Top row y and its point image, the bottom row h-1-y. Each row of the
// picture is written exactly once: the top half (with the middle row of an
// odd height) directly, the bottom half by reflection.
[[gnu::always_inline]] inline void WhirlRowPart(const Picture& pic, uint8_t* dst,
                                                const WhirlGeometry& g, int y, int xa, int xb) {
    const int yb = g.h - 1 - y;
    const double dy = (double(y) - g.cy) * g.sy;
    // Columns x and w-1-x lie at the same distance from the centre: the
    // distance terms are computed once for both.
    for (int x = xa; x < xb; ++x) {
        const int xm = g.w - 1 - x;
        const double dx = (double(x) - g.cx) * g.sx;
        const double d = dx * dx + dy * dy;
        if (!(d < g.radius2)) {
            // Outside the effect: all four pixels stay.
            for (int xx : {x, xm}) {
                CopyPixel(Out(dst, g.w, xx, y), pic.Inside(xx, y));
                if (yb != y) CopyPixel(Out(dst, g.w, xx, yb), pic.Inside(xx, yb));
            }
            continue;
        }
        const double dist = std::sqrt(d / g.r) / g.R;
        // At the centre itself there is nothing to move (and with a positive
        // pinch 0 would be raised to a negative power).
        double factor = 1.0;
        if (g.pinch != 0 && d != 0)
            factor = std::pow(std::sin(std::numbers::pi / 2 * dist), -g.pinch);
        const double ang = g.angle * ((1 - dist) * (1 - dist));
        const double cosA = std::cos(ang), sinA = std::sin(ang);
        WhirlPixelPair(pic, dst, g, x, y, dx, dy, factor, cosA, sinA);
        if (xm != x)
            WhirlPixelPair(pic, dst, g, xm, y, (double(xm) - g.cx) * g.sx, dy, factor, cosA, sinA);
    }
}

// Top rows y0..y1-1 with their point images, in tiles a few cache lines wide
// so that the source pixels a tile samples, which a strong whirl spreads over
// many rows, stay in the cache from one row to the next.
void WhirlBlock(const Picture& pic, uint8_t* dst, const WhirlGeometry& g, int y0, int y1) {
    constexpr int kTile = 32;
    const int columns = (g.w - 1) / 2 + 1; // the left half with the middle column
    for (int xa = 0; xa < columns; xa += kTile) {
        const int xb = std::min(xa + kTile, columns);
        for (int y = y0; y < y1; ++y) WhirlRowPart(pic, dst, g, y, xa, xb);
    }
}

} // namespace

WhirlPinchParams WhirlPinchFromSettings(const ProcessingSettings& s) {
    WhirlPinchParams p;
    p.radius = s.m_nRadiusWhirlPinch;
    p.pinch = s.m_nPinchWhirlPinch;
    p.whirl = s.m_nWhirlWhirlPinch;
    return p;
}

void WhirlPinch(const uint8_t* src, uint8_t* dst, int width, int height, const WhirlPinchParams& p,
                int threads) {
    if (width <= 0 || height <= 0) return;
    WhirlGeometry g{};
    g.w = width;
    g.h = height;
    g.cx = (width - 1) / 2.0;
    g.cy = (height - 1) / 2.0;
    g.r = p.radius / 100.0;
    // A single row or column has no cell to sample from (and one of the
    // aspect scales would be a division by zero): it stays as it is.
    if (width == 1 || height == 1 || !(g.r > 0)) {
        std::memcpy(dst, src, size_t(width) * size_t(height) * 4);
        return;
    }
    g.sx = g.sy = 1.0;
    if (width > height) g.sy = g.cx / g.cy;
    if (height > width) g.sx = g.cy / g.cx;
    g.R = std::max(g.cx, g.cy);
    g.radius2 = g.R * g.R * g.r;
    g.pinch = p.pinch / 100.0;
    g.angle = double(p.whirl) * kDegreePi / 180.0;
    const Picture pic{src, width, height};
    const int topRows = (height + 1) / 2;
    DealChunks(topRows, ThreadCount(threads, width, height), 32,
               [&](int y0, int y1) { WhirlBlock(pic, dst, g, y0, y1); });
}
