// Highway compiles the pixel loops of Wave and Whirl & Pinch once per vector
// target: foreach_target.h includes this file again with HWY_TARGET set to
// each one. The shared part below and the effects themselves (under HWY_ONCE)
// are compiled once.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imageops/displacement.cpp"
#include <hwy/foreach_target.h> // before highway.h
#include <hwy/highway.h>

#ifndef IMAGEOPS_DISPLACEMENT_SHARED_
#define IMAGEOPS_DISPLACEMENT_SHARED_

#include "imageops/displacement.h"

#include "imageops/cpu_features.h"
#include "imageops/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

[[gnu::always_inline]] inline V4 Scale(V4 v, double s) {
    return v * s;
}
[[gnu::always_inline]] inline V4 Plus(V4 a, V4 b) {
    return a + b;
}
[[gnu::always_inline]] inline V4 Divide(V4 v, double s) {
    return v / s;
}
[[gnu::always_inline]] inline V4 WithLast(V4 v, double s) {
    v[3] = s;
    return v;
}
using Px = V4; // the pixel of the plain loops (displacement_loops-inl.h)

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

// ---------------------------------------------------------------- Whirl & Pinch

struct WhirlGeometry {
    int w, h;
    double cx, cy, sx, sy, R, radius2, r, pinch, angle;
};

[[gnu::always_inline]] inline bool Usable(const WhirlGeometry& g, double ux, double uy) {
    // Written so that a position that is not a number is not usable.
    return ux >= 0 && ux < g.w - 1.0 && uy >= 0 && uy < g.h - 1.0;
}

} // namespace

#endif // IMAGEOPS_DISPLACEMENT_SHARED_

#include "imageops/pixel_doubles-inl.h"

HWY_BEFORE_NAMESPACE();
namespace imageops::displacement_kernels {
namespace HWY_NAMESPACE {

// The Highway pixel where the target has one; elsewhere the plain pixel, which
// GCC compiles for the target's instructions all the same.
#if PELLORIN_PIXEL_DOUBLES
using pixel_doubles::HWY_NAMESPACE::Divide;
using pixel_doubles::HWY_NAMESPACE::Plus;
using pixel_doubles::HWY_NAMESPACE::Px;
using pixel_doubles::HWY_NAMESPACE::Scale;
using pixel_doubles::HWY_NAMESPACE::StoreNearest;
using pixel_doubles::HWY_NAMESPACE::Widen;
using pixel_doubles::HWY_NAMESPACE::WithLast;
#endif

#include "imageops/displacement_loops-inl.h"
#include "imageops/displacement_vector-inl.h"
#include "imageops/ripple_loops-inl.h"

} // namespace HWY_NAMESPACE
} // namespace imageops::displacement_kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace imageops::displacement_kernels {

namespace plain {
#include "imageops/displacement_loops-inl.h"
} // namespace plain

HWY_EXPORT(WaveBlockFast);
HWY_EXPORT(WhirlBlockFast);

// The vector form for the processor, or the plain loops when vector kernels
// are off.
void WaveBlockAny(const Picture& pic, uint8_t* dst, const WaveGeometry& g, int y0, int ka, int kb,
                  const double* s, size_t stride, int x0) {
    if (imageops::VectorKernelsOn())
        HWY_DYNAMIC_DISPATCH(WaveBlockFast)(pic, dst, g, y0, ka, kb, s, stride, x0);
    else
        plain::WaveBlock(pic, dst, g, y0, ka, kb, s, stride, x0);
}

void WhirlBlockAny(const Picture& pic, uint8_t* dst, const WhirlGeometry& g, int y0, int y1) {
    if (imageops::VectorKernelsOn())
        HWY_DYNAMIC_DISPATCH(WhirlBlockFast)(pic, dst, g, y0, y1);
    else
        plain::WhirlBlock(pic, dst, g, y0, y1);
}

} // namespace imageops::displacement_kernels

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
            imageops::displacement_kernels::WaveBlockAny(pic, dst, g, y0, ka, kb, s, stride, x0);
        }
    });
}

// ---------------------------------------------------------------- Ripple

namespace imageops::displacement_kernels {
HWY_EXPORT(RippleBlendRun);
} // namespace imageops::displacement_kernels

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

using RippleBlendRunFn = int (*)(const Picture&, uint8_t*, const double*, bool, int, int, int,
                                 double, int*);

// The vector blend for this processor, taken once per picture and called for
// each row part. Until a target is chosen, dispatch goes through a stub that
// chooses it anew on every call (asking the processor each time), so the
// choice is made before the pointer is taken.
RippleBlendRunFn RippleBlendRunForProcessor() {
    hwy::ChosenTarget& chosen = hwy::GetChosenTarget();
    if (!chosen.IsInitialized()) chosen.Update(hwy::SupportedTargets());
    return HWY_DYNAMIC_DISPATCH(imageops::displacement_kernels::RippleBlendRun);
}

struct RippleJob {
    const Picture* pic;
    uint8_t* dst;
    const double* amount; // per row (rows move) or per column (columns move)
    int64_t len;          // along the moved axis
    RippleEdges edges;
    bool vertical, antialias;
    RippleBlendRunFn blendRun; // the vector blend, or null for the per-pixel one only
};

// Pixels x0..x1-1 of one row, with the orientation, blending and edge mode
// fixed at compile time so that the pixel loop has no branches on them.
template <bool Vertical, bool Blend, RippleEdges Edges>
[[gnu::always_inline]] inline void RipplePixels(const RippleJob& j, int y, int x0, int x1) {
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

// The same pixels; blended ones in vector form where the processor has one,
// except those whose samples need an edge rule.
template <bool Vertical, bool Blend, RippleEdges Edges>
[[gnu::always_inline]] inline void RippleRowBody(const RippleJob& j, int y, int x0, int x1) {
    if (!Blend || j.blendRun == nullptr) {
        RipplePixels<Vertical, Blend, Edges>(j, y, x0, x1);
        return;
    }
    for (int x = x0; x < x1;) {
        int resume = x1;
        const int stop =
            j.blendRun(*j.pic, j.dst, j.amount, Vertical, y, x, x1, kTruncNudge, &resume);
        RipplePixels<Vertical, Blend, Edges>(j, y, stop, resume);
        x = resume;
    }
}

// Rows y0..y1-1. Moved columns are done in strips one cache line wide, so
// that the source rows a strip reads stay in the cache from one row to the
// next instead of every pixel of a row reading a row of its own. (Neighbouring
// columns of a strong ripple read rows far apart: wider strips spill the
// lines they keep coming back to.)
template <bool Vertical, bool Blend, RippleEdges Edges>
[[gnu::always_inline]] inline void RippleRows(const RippleJob& j, int y0, int y1) {
    const int w = j.pic->w;
    if constexpr (Vertical) {
        constexpr int kStrip = 16;
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
    // The vector blend indexes pixels with 32-bit lanes.
    const bool vectorBlend = p.antialias && imageops::VectorKernelsOn() &&
                             size_t(width) * size_t(height) < (size_t(1) << 31);
    const RippleJob job{&pic,
                        dst,
                        amount.data(),
                        p.vertical ? height : width,
                        p.retainTiling ? RippleEdges::Wrap : p.edges,
                        p.vertical,
                        p.antialias,
                        vectorBlend ? RippleBlendRunForProcessor() : nullptr};
    SplitRange(height, ThreadCount(threads, width, height),
               [&](int y0, int y1) { RippleBand(job, y0, y1); });
}

// ---------------------------------------------------------------- Whirl & Pinch

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
    DealChunks(topRows, ThreadCount(threads, width, height), 32, [&](int y0, int y1) {
        imageops::displacement_kernels::WhirlBlockAny(pic, dst, g, y0, y1);
    });
}

#endif // HWY_ONCE
