// Highway compiles the strip loops of the recursive Gaussian once per vector
// target: foreach_target.h includes this file again with HWY_TARGET set to
// each one. The shared part below and everything under HWY_ONCE are compiled
// once.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imageops/glow.cpp"
#include <hwy/foreach_target.h> // before highway.h
#include <hwy/highway.h>

#ifndef IMAGEOPS_GLOW_SHARED_
#define IMAGEOPS_GLOW_SHARED_

#include "imageops/glow.h"

#include "imageops/cpu_features.h"
#include "imageops/parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

namespace glow {

double SigmaForRadius(double radius) {
    const double r1 = radius + 1.0;
    return std::sqrt(-(r1 * r1) / (2.0 * std::log(1.0 / 255.0)));
}

namespace {

// The shared shape of both filters: the weights a0, a1, c0, c1 of two
// exponentially decaying cosine and sine terms, their decay rates b0, b1 and
// frequencies w0, w1. The two filters differ in the sign of the anti-causal
// numerator.
IirCoefficients Coefficients(double a0, double a1, double c0, double c1, double b0, double b1,
                             double w0, double w1, bool secondDerivative) {
    IirCoefficients k{};
    const double e0 = std::exp(-b0), e1 = std::exp(-b1);
    const double cw0 = std::cos(w0), sw0 = std::sin(w0), cw1 = std::cos(w1), sw1 = std::sin(w1);
    k.np[0] = a0 + c0;
    k.np[1] = e1 * (c1 * sw1 - (c0 + 2 * a0) * cw1) + e0 * (a1 * sw0 - (2 * c0 + a0) * cw0);
    k.np[2] = 2 * std::exp(-b0 - b1) * ((a0 + c0) * cw1 * cw0 - a1 * cw1 * sw0 - c1 * cw0 * sw1) +
              c0 * std::exp(-2 * b0) + a0 * std::exp(-2 * b1);
    k.np[3] = std::exp(-b1 - 2 * b0) * (c1 * sw1 - c0 * cw1) +
              std::exp(-b0 - 2 * b1) * (a1 * sw0 - a0 * cw0);
    k.np[4] = 0.0;
    k.dp[0] = 0.0;
    k.dp[1] = -2 * e1 * cw1 - 2 * e0 * cw0;
    k.dp[2] = 4 * cw1 * cw0 * std::exp(-b0 - b1) + std::exp(-2 * b1) + std::exp(-2 * b0);
    k.dp[3] = -2 * cw0 * std::exp(-b0 - 2 * b1) - 2 * cw1 * std::exp(-b1 - 2 * b0);
    k.dp[4] = std::exp(-2 * b0 - 2 * b1);
    for (int i = 0; i < 5; ++i) k.dm[i] = k.dp[i];
    k.nm[0] = 0.0;
    for (int i = 1; i < 5; ++i)
        k.nm[i] = secondDerivative ? k.dp[i] * k.np[0] - k.np[i] : k.np[i] - k.dp[i] * k.np[0];
    double sumNp = 0, sumNm = 0, sumD = 0;
    for (int i = 0; i < 5; ++i) {
        sumNp += k.np[i];
        sumNm += k.nm[i];
        sumD += k.dp[i];
    }
    const double a = sumNp / (1.0 + sumD), b = sumNm / (1.0 + sumD);
    for (int i = 0; i < 5; ++i) {
        k.bdp[i] = k.dp[i] * a;
        k.bdm[i] = k.dm[i] * b;
    }
    return k;
}

} // namespace

IirCoefficients GaussianCoefficients(double sigma) {
    // The Gaussian's constants are given as exponents k0..k3 (negative decay,
    // frequencies) and weights k4..k7 normalised by sqrt(2 pi) sigma.
    const double d = std::sqrt(2.0 * std::numbers::pi) * sigma;
    const double k0 = -1.783 / sigma, k1 = -1.723 / sigma, k2 = 0.6318 / sigma, k3 = 1.997 / sigma;
    const double k4 = 1.6803 / d, k5 = 3.735 / d, k6 = -0.6803 / d, k7 = -0.2598 / d;
    // In the shared shape: a0 = k4, a1 = k5, c0 = k6, c1 = k7, b0 = -k0,
    // b1 = -k1, w0 = k2, w1 = k3.
    return Coefficients(k4, k5, k6, k7, -k0, -k1, k2, k3, false);
}

IirCoefficients SecondDerivativeCoefficients(double sigma) {
    return Coefficients(0.6472, 4.531, -0.6494, -0.9557, 1.527 / sigma, 1.516 / sigma,
                        0.6719 / sigma, 2.072 / sigma, true);
}

namespace {

// Single-precision coefficients for the line loops: the numerators, the
// denominators and the edge factors n - bd.
struct LineCoefficients {
    float np[5], dp[5], nm[5], dm[5], ep[5], em[5];
};

LineCoefficients ToLine(const IirCoefficients& c) {
    LineCoefficients f{};
    for (int i = 0; i < 5; ++i) {
        f.np[i] = float(c.np[i]);
        f.dp[i] = float(c.dp[i]);
        f.nm[i] = float(c.nm[i]);
        f.dm[i] = float(c.dm[i]);
        f.ep[i] = float(c.np[i] - c.bdp[i]);
        f.em[i] = float(c.nm[i] - c.bdm[i]);
    }
    return f;
}

// One direction of the recursion over interleaved lines. dir = +1 runs from
// the first sample (causal part), dir = -1 from the last (anti-causal part):
// v[t] = n0 x[t] + sum_i (n_i x[t - i] - d_i v[t - i]), and for the taps that
// would reach before the line's start, (n_j - bd_j) times the edge sample.
// dp[0] and dm[0] are 0, so the first tap has no feedback term.
void Recurse(const float* __restrict x, float* __restrict v, int n, int L, int dir,
             const float* __restrict nn, const float* __restrict dd, const float* __restrict ee) {
    const ptrdiff_t step = ptrdiff_t(dir) * L;
    const size_t start = dir > 0 ? 0 : size_t(n - 1) * size_t(L);
    const float* edge = x + start;
    for (int k = 0; k < n; ++k) {
        const size_t at = start + size_t(ptrdiff_t(k) * step);
        const float* xs = x + at;
        float* vs = v + at;
        if (k >= 4) {
            const float *x1 = xs - step, *x2 = xs - 2 * step, *x3 = xs - 3 * step,
                        *x4 = xs - 4 * step;
            const float *v1 = vs - step, *v2 = vs - 2 * step, *v3 = vs - 3 * step,
                        *v4 = vs - 4 * step;
            for (int l = 0; l < L; ++l) {
                float a = nn[0] * xs[l];
                a += nn[1] * x1[l] - dd[1] * v1[l];
                a += nn[2] * x2[l] - dd[2] * v2[l];
                a += nn[3] * x3[l] - dd[3] * v3[l];
                a += nn[4] * x4[l] - dd[4] * v4[l];
                vs[l] = a;
            }
            continue;
        }
        for (int l = 0; l < L; ++l) vs[l] = nn[0] * xs[l];
        for (int i = 1; i <= k; ++i) {
            const float* xi = xs - i * step;
            const float* vi = vs - i * step;
            for (int l = 0; l < L; ++l) vs[l] += nn[i] * xi[l] - dd[i] * vi[l];
        }
        for (int j = k + 1; j <= 4; ++j)
            for (int l = 0; l < L; ++l) vs[l] += ee[j] * edge[l];
    }
}

void AddLines(const float* __restrict a, const float* __restrict b, float* __restrict out,
              size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = a[i] + b[i];
}

void Filter(const float* in, float* out, float* vp, float* vm, int n, int lanes,
            const LineCoefficients& c) {
    if (n <= 0 || lanes <= 0) return;
    Recurse(in, vp, n, lanes, +1, c.np, c.dp, c.ep);
    Recurse(in, vm, n, lanes, -1, c.nm, c.dm, c.em);
    AddLines(vp, vm, out, size_t(n) * size_t(lanes));
}

// A filter sum as a byte: clamped to 0..255 and truncated (a value that is
// not a number gives 0).
inline uint8_t ClampTrunc(float v) {
    // Written as selections so that the loops around it become vector code.
    v = v > 0.0f ? v : 0.0f;
    v = v < 255.0f ? v : 255.0f;
    return uint8_t(int(v));
}

// Lines filtered together: a strip of bytes with sample t of line l at
// in[t * stride + l], kLanes lines side by side, so that every step of the
// recursion is a few full vector operations over the lanes.
constexpr int kLanes = 64;

// The taps of one direction as scalars.
struct Taps {
    float n0, n1, n2, n3, n4, d1, d2, d3, d4;
    const float* n; // n0..n4, for the first four samples
    const float* d;
    const float* e; // edge factors
};

Taps TapsOf(const float* n, const float* d, const float* e) {
    return Taps{n[0], n[1], n[2], n[3], n[4], d[1], d[2], d[3], d[4], n, d, e};
}

// Where a strip's samples come from and its bytes go.
struct StripIo {
    const uint8_t* in;
    size_t inStride;
    uint8_t* out;
    size_t outStride;
};

// Transposes 8 x 8 bytes held as eight words (byte j of word i is element
// (i, j)) by swapping ever larger sub-blocks between the words: single
// bytes, then pairs, then quadruples.
inline void Transpose8x8(uint64_t r[8]) {
    auto swap = [&](int i, int j, int shift, uint64_t mask) {
        const uint64_t t = ((r[i] >> shift) ^ r[j]) & mask;
        r[j] ^= t;
        r[i] ^= t << shift;
    };
    for (int i = 0; i < 8; i += 2) swap(i, i + 1, 8, 0x00FF00FF00FF00FFull);
    for (int i : {0, 1, 4, 5}) swap(i, i + 2, 16, 0x0000FFFF0000FFFFull);
    for (int i = 0; i < 4; ++i) swap(i, i + 4, 32, 0x00000000FFFFFFFFull);
}

// Moves an 8 x 8 block from `from` (rows fromStride apart) to `to` (rows
// toStride apart), transposed.
inline void MoveBlock(const uint8_t* from, size_t fromStride, uint8_t* to, size_t toStride) {
    uint64_t r[8];
    for (int i = 0; i < 8; ++i) std::memcpy(&r[i], from + size_t(i) * fromStride, 8);
    Transpose8x8(r);
    for (int i = 0; i < 8; ++i) std::memcpy(to + size_t(i) * toStride, &r[i], 8);
}

// Moves the whole B x B blocks of `lanes` rows of n bytes (stride apart)
// into the strip buffer (toStrip = true) or back, each with
// move(from, fromStride, to, toStride); the edges are left to the caller.
template <int B, class Move>
[[gnu::always_inline]] inline void MoveWholeBlocks(uint8_t* rows, size_t stride, int lanes, int n,
                                                   uint8_t* buf, bool toStrip, Move move) {
    const int nb = n / B * B, lb = lanes / B * B;
    for (int t = 0; t < nb; t += B)
        for (int l = 0; l < lb; l += B) {
            uint8_t* r = rows + size_t(l) * stride + size_t(t);
            uint8_t* b = buf + size_t(t) * kLanes + size_t(l);
            if (toStrip)
                move(r, stride, b, kLanes);
            else
                move(b, kLanes, r, stride);
        }
}

// Copies `lanes` rows of n bytes (stride apart) into the strip buffer, row l
// becoming lane l (toStrip = true), or back. Whole 8 x 8 blocks move as
// words; the edges byte by byte.
void TransposeStripWords(uint8_t* rows, size_t stride, int lanes, int n, uint8_t* buf,
                         bool toStrip) {
    const int n8 = n & ~7, l8 = lanes & ~7;
    MoveWholeBlocks<8>(rows, stride, lanes, n, buf, toStrip, MoveBlock);
    auto one = [&](int l, int t) {
        uint8_t& r = rows[size_t(l) * stride + size_t(t)];
        uint8_t& b = buf[size_t(t) * kLanes + size_t(l)];
        if (toStrip)
            b = r;
        else
            r = b;
    };
    for (int l = l8; l < lanes; ++l)
        for (int t = 0; t < n; ++t) one(l, t);
    for (int l = 0; l < l8; ++l)
        for (int t = n8; t < n; ++t) one(l, t);
}

} // namespace
} // namespace glow

#endif // IMAGEOPS_GLOW_SHARED_

HWY_BEFORE_NAMESPACE();
namespace glow::strip_kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// A block of lanes of a strip row: a full vector of floats where it holds no
// more than a row of kLanes.
using DF = hn::CappedTag<float, kLanes>;
using VF = hn::Vec<DF>;

HWY_INLINE size_t BlockLanes() {
    return hn::Lanes(DF());
}
HWY_INLINE VF Splat(float s) {
    return hn::Set(DF(), s);
}
HWY_INLINE VF LoadLanes(const float* p) {
    return hn::LoadU(DF(), p);
}
HWY_INLINE void StoreLanes(VF v, float* p) {
    hn::StoreU(v, DF(), p);
}
HWY_INLINE VF Times(VF a, VF b) {
    return hn::Mul(a, b);
}
HWY_INLINE VF Plus(VF a, VF b) {
    return hn::Add(a, b);
}
HWY_INLINE VF Minus(VF a, VF b) {
    return hn::Sub(a, b);
}
HWY_INLINE VF WidenBytes(const uint8_t* p) {
    const DF df;
    const hn::Rebind<int32_t, DF> di;
    const hn::Rebind<uint8_t, DF> d8;
    return hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, p)));
}
// As ClampTrunc, lane by lane: selections rather than Min and Max, whose
// answer for a lane that is not a number differs between processors. A held
// value of 0..255 truncates to its floor, and that floor plus 2^23 (exact
// below 2^24) has the integer in its low mantissa bits, so the low byte of
// each lane is the result; this is cheaper than a general conversion to
// integers followed by a saturating narrowing.
HWY_INLINE void StoreClamped(VF v, uint8_t* p) {
    const DF df;
    const hn::Rebind<uint32_t, DF> du;
    const hn::Rebind<uint8_t, DF> d8;
    const VF zero = hn::Zero(df), top = hn::Set(df, 255.0f);
    v = hn::IfThenElse(hn::Gt(v, zero), v, zero);
    v = hn::IfThenElse(hn::Lt(v, top), v, top);
    const VF shifted = hn::Add(hn::Floor(v), hn::Set(df, 8388608.0f));
    hn::StoreU(hn::TruncateTo(d8, hn::BitCast(du, shifted)), d8, p);
}

#include "imageops/glow_loops-inl.h"

// The strip transposes (as TransposeStripWords) in blocks of 16 x 16 bytes:
// each round of interleaving the bytes of vector i with those of vector i + 8
// rotates the eight bits of each byte's position (vector, byte) by one, so
// that four rounds exchange row and column. Targets without 16-byte vectors
// move words.
#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
void TransposeStrip(uint8_t* rows, size_t stride, int lanes, int n, uint8_t* buf, bool toStrip) {
    TransposeStripWords(rows, stride, lanes, n, buf, toStrip);
}
#else
HWY_INLINE void MoveBlock16(const uint8_t* from, size_t fromStride, uint8_t* to, size_t toStride) {
    const hn::Full128<uint8_t> d;
    using V = hn::Vec<decltype(d)>;
    V r[16], s[16];
    for (int i = 0; i < 16; ++i) r[i] = hn::LoadU(d, from + size_t(i) * fromStride);
    for (int round = 0; round < 4; ++round) {
        V* a = round % 2 == 0 ? r : s;
        V* b = round % 2 == 0 ? s : r;
        for (int i = 0; i < 8; ++i) {
            b[2 * i] = hn::InterleaveLower(d, a[i], a[i + 8]);
            b[2 * i + 1] = hn::InterleaveUpper(d, a[i], a[i + 8]);
        }
    }
    for (int i = 0; i < 16; ++i) hn::StoreU(r[i], d, to + size_t(i) * toStride);
}

void TransposeStrip(uint8_t* rows, size_t stride, int lanes, int n, uint8_t* buf, bool toStrip) {
    const int n16 = n & ~15, l16 = lanes & ~15;
    MoveWholeBlocks<16>(rows, stride, lanes, n, buf, toStrip, MoveBlock16);
    // The lines past the last whole block, then the ends of the others.
    TransposeStripWords(rows + size_t(l16) * stride, stride, lanes - l16, n, buf + l16, toStrip);
    TransposeStripWords(rows + size_t(n16), stride, l16, n - n16, buf + size_t(n16) * kLanes,
                        toStrip);
}
#endif

} // namespace HWY_NAMESPACE
} // namespace glow::strip_kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace glow::strip_kernels {

// The plain form: one lane at a time, as the compiler sees fit for the
// baseline instruction set.
namespace plain {
using VF = float;
inline size_t BlockLanes() {
    return 1;
}
inline float Splat(float s) {
    return s;
}
inline float LoadLanes(const float* p) {
    return *p;
}
inline void StoreLanes(float v, float* p) {
    *p = v;
}
inline float Times(float a, float b) {
    return a * b;
}
inline float Plus(float a, float b) {
    return a + b;
}
inline float Minus(float a, float b) {
    return a - b;
}
inline float WidenBytes(const uint8_t* p) {
    return float(*p);
}
inline void StoreClamped(float v, uint8_t* p) {
    *p = ClampTrunc(v);
}

#include "imageops/glow_loops-inl.h"
} // namespace plain

HWY_EXPORT(FilterStrip);
HWY_EXPORT(TransposeStrip);

// One strip through the loops of the best vector target, or through the
// plain loops when vector kernels are off.
void FilterStripAny(const StripIo& io, int n, float* vp, const LineCoefficients& c) {
    if (imageops::VectorKernelsOn())
        HWY_DYNAMIC_DISPATCH(FilterStrip)(io.in, io.inStride, io.out, io.outStride, n, vp, &c);
    else
        plain::FilterStrip(io.in, io.inStride, io.out, io.outStride, n, vp, &c);
}

void TransposeStripAny(uint8_t* rows, size_t stride, int lanes, int n, uint8_t* buf, bool toStrip) {
    if (imageops::VectorKernelsOn())
        HWY_DYNAMIC_DISPATCH(TransposeStrip)(rows, stride, lanes, n, buf, toStrip);
    else
        TransposeStripWords(rows, stride, lanes, n, buf, toStrip);
}

} // namespace glow::strip_kernels

namespace glow {
namespace {

using strip_kernels::FilterStripAny;
using strip_kernels::TransposeStripAny;

// Filters `lines` lines of length n, kLanes at a time. prepare(first, lanes,
// buf) says where the strip of lines first..first+lanes-1 is read and
// written; it may fill buf (n * kLanes bytes, sample t of lane l at
// buf[t * kLanes + l]) and point there. finish(first, lanes, buf) then takes
// results left in buf. Lanes beyond `lanes` are filtered but mean nothing.
// Strips are independent, so they are shared among threads when there is
// enough work.
template <class Prepare, class Finish>
void FilterStrips(int n, int lines, const LineCoefficients& c, size_t work, Prepare&& prepare,
                  Finish&& finish) {
    if (n <= 0 || lines <= 0) return;
    const int strips = (lines + kLanes - 1) / kLanes;
    imageops::ParallelRows(strips, work, [&](int s0, int s1) {
        // Neither buffer needs clearing: prepare fills every byte of buf it
        // hands on, and the causal part writes all of vp before it is read.
        const size_t size = size_t(n) * kLanes;
        const auto buf = std::make_unique_for_overwrite<uint8_t[]>(size);
        const auto vp = std::make_unique_for_overwrite<float[]>(size);
        for (int s = s0; s < s1; ++s) {
            const int first = s * kLanes;
            const int lanes = std::min(kLanes, lines - first);
            const StripIo io = prepare(first, lanes, buf.get());
            FilterStripAny(io, n, vp.get(), c);
            finish(first, lanes, buf.get());
        }
    });
}

// Where a strip of columns of a buffer of n rows (stride apart) is read: in
// place when it is full, else copied into the strip buffer (lanes past the
// buffer's edge as 0), so that no read passes the last row's end.
StripIo ColumnStrip(const uint8_t* src, size_t stride, int first, int lanes, int n, uint8_t* buf) {
    if (lanes == kLanes) return StripIo{src + first, stride, buf, kLanes};
    std::fill(buf, buf + size_t(n) * kLanes, uint8_t(0));
    for (int t = 0; t < n; ++t)
        std::memcpy(buf + size_t(t) * kLanes, src + size_t(t) * stride + size_t(first),
                    size_t(lanes));
    return StripIo{buf, kLanes, buf, kLanes};
}

// Columns of a buffer of n rows of `lines` bytes each (stride apart), from src
// into dst (which may be src): full strips straight from and into the
// buffers, the last one through the strip buffer.
void FilterColumns(const uint8_t* src, uint8_t* dst, size_t stride, int lines, int n,
                   const LineCoefficients& c, size_t work) {
    FilterStrips(
        n, lines, c, work,
        [&](int first, int lanes, uint8_t* buf) {
            StripIo io = ColumnStrip(src, stride, first, lanes, n, buf);
            if (lanes == kLanes) {
                io.out = dst + first;
                io.outStride = stride;
            }
            return io;
        },
        [&](int first, int lanes, const uint8_t* buf) {
            if (lanes == kLanes) return;
            for (int t = 0; t < n; ++t)
                std::memcpy(dst + size_t(t) * stride + size_t(first), buf + size_t(t) * kLanes,
                            size_t(lanes));
        });
}

void BlurColumns(uint8_t* plane, int w, int h, const LineCoefficients& c) {
    FilterColumns(plane, plane, size_t(w), w, h, c, size_t(w) * size_t(h));
}

void BlurRows(uint8_t* plane, int w, int h, const LineCoefficients& c) {
    FilterStrips(
        w, h, c, size_t(w) * size_t(h),
        [&](int first, int lanes, uint8_t* buf) {
            if (lanes < kLanes) std::fill(buf, buf + size_t(w) * kLanes, uint8_t(0));
            TransposeStripAny(plane + size_t(first) * size_t(w), size_t(w), lanes, w, buf, true);
            return StripIo{buf, kLanes, buf, kLanes};
        },
        [&](int first, int lanes, uint8_t* buf) {
            TransposeStripAny(plane + size_t(first) * size_t(w), size_t(w), lanes, w, buf, false);
        });
}

bool ValidSize(int w, int h) {
    return w > 0 && h > 0;
}

} // namespace

void FilterLines(const float* in, float* out, float* vp, float* vm, int n, int lanes,
                 const IirCoefficients& c) {
    Filter(in, out, vp, vm, n, lanes, ToLine(c));
}

void BlurPlane(uint8_t* plane, int width, int height, const IirCoefficients& c) {
    if (!ValidSize(width, height)) return;
    const LineCoefficients f = ToLine(c);
    BlurColumns(plane, width, height, f);
    BlurRows(plane, width, height, f);
}

void GlowLayer(const uint8_t* bgra, uint8_t* glow, size_t pixels, double brightness,
               double sharpness) {
    // The layer depends on the lightness alone: one table of 256 values.
    std::array<uint8_t, 256> curve{};
    const double slope = 2.0 + 20.0 * sharpness;
    for (int l = 0; l < 256; ++l) {
        const double g = 255.0 / (1.0 + std::exp(-slope * (l / 255.0 - 0.5))) * brightness;
        curve[size_t(l)] = !(g > 0.0) ? 0 : g >= 255.0 ? 255 : uint8_t(int(g));
    }
    for (size_t i = 0; i < pixels; ++i) {
        const uint8_t* p = bgra + 4 * i;
        const int mx = std::max({p[0], p[1], p[2]}), mn = std::min({p[0], p[1], p[2]});
        const int l = int((mx + mn) * 0.5 + 0.5);
        glow[i] = curve[size_t(l)];
    }
}

namespace {

// The lightness of the first three bytes, rounded half up.
inline uint8_t Lightness(int a, int b, int c) {
    const int mx = std::max({a, b, c}), mn = std::min({a, b, c});
    return uint8_t(int((mx + mn) / 2.0 + 0.5));
}

} // namespace

void CartoonPlanes(const uint8_t* bgra, int width, int height, std::vector<uint8_t>& d1,
                   std::vector<uint8_t>& d2) {
    const size_t pixels = ValidSize(width, height) ? size_t(width) * size_t(height) : 0;
    d1.assign(pixels, 0);
    d2.assign(pixels, 0);
    if (pixels == 0) return;
    const LineCoefficients narrow = ToLine(GaussianCoefficients(SigmaForRadius(1.0)));
    const LineCoefficients wide = ToLine(GaussianCoefficients(SigmaForRadius(7.0)));
    // Columns of all four bytes (the alpha byte's result is not used), so that
    // strips hold whole pixels and each stores its pixels' lightness at once.
    const size_t stride = size_t(width) * 4;
    for (int pass = 0; pass < 2; ++pass) {
        uint8_t* plane = pass == 0 ? d1.data() : d2.data();
        FilterStrips(
            height, 4 * width, pass == 0 ? narrow : wide, pixels,
            [&](int first, int lanes, uint8_t* buf) {
                return ColumnStrip(bgra, stride, first, lanes, height, buf);
            },
            [&](int first, int lanes, const uint8_t* buf) {
                for (int t = 0; t < height; ++t) {
                    const uint8_t* src = buf + size_t(t) * kLanes;
                    uint8_t* row = plane + size_t(t) * size_t(width) + size_t(first / 4);
                    for (int l = 0; l < lanes; l += 4)
                        row[l / 4] = Lightness(src[l], src[l + 1], src[l + 2]);
                }
            });
        BlurRows(plane, width, height, pass == 0 ? narrow : wide);
    }
}

double CartoonRamp(const uint8_t* d1, const uint8_t* d2, size_t pixels) {
    std::array<size_t, 100> hist{};
    size_t count = 0;
    for (size_t i = 0; i < pixels; ++i) {
        if (d2[i] == 0) continue;
        const double d = double(d1[i]) / double(d2[i]);
        if (d >= 1.0) continue;
        ++count;
        ++hist[size_t(std::min(int(d * 100.0), 99))];
    }
    if (count == 0) return 1.0;
    size_t sum = 0;
    for (int i = 0; i < 100; ++i) {
        sum += hist[size_t(i)];
        if (double(sum) / double(count) > 0.2) return 1.0 - i / 100.0;
    }
    return 0.0;
}

std::vector<uint8_t> CartoonLightness(const uint8_t* d1, const uint8_t* d2, size_t pixels,
                                      double ramp) {
    std::vector<uint8_t> out(pixels);
    // A pixel whose wide blur is 0 has no ratio; it keeps the factor of the
    // pixel before it.
    double mult = ramp;
    for (size_t i = 0; i < pixels; ++i) {
        if (d2[i] != 0) {
            const double d = double(d1[i]) / double(d2[i]);
            if (d >= 1.0)
                mult = 1.0;
            else
                mult = ramp == 0.0 ? 0.0 : (ramp - std::min(ramp, 1.0 - d)) / ramp;
        }
        const double l = d1[i] * mult;
        out[i] = !(l > 0.0) ? 0 : l >= 255.0 ? 255 : uint8_t(int(l));
    }
    return out;
}

Hsl255 ToHsl255(int c0, int c1, int c2) {
    const int mx = std::max({c0, c1, c2}), mn = std::min({c0, c1, c2});
    const double l = (mx + mn) / 2.0;
    double h = 0.0, s = 0.0;
    if (mx != mn) {
        const double delta = mx - mn;
        s = l < 128.0 ? 255.0 * delta / (mx + mn) : 255.0 * delta / (511 - mx - mn);
        if (c0 == mx)
            h = (c1 - c2) / delta;
        else if (c1 == mx)
            h = 2.0 + (c2 - c0) / delta;
        else
            h = 4.0 + (c0 - c1) / delta;
        h *= 42.5;
        if (h < 0.0)
            h += 255.0;
        else if (h > 255.0)
            h -= 255.0;
    }
    return Hsl255{int(h + 0.5), int(s + 0.5), int(l + 0.5)};
}

namespace {

uint8_t HslValue(double m1, double m2, double x) {
    if (x > 255.0)
        x -= 255.0;
    else if (x < 0.0)
        x += 255.0;
    double v;
    if (x < 42.5)
        v = m1 + (m2 - m1) * x / 42.5;
    else if (x < 127.5)
        v = m2;
    else if (x < 170.0)
        v = m1 + (m2 - m1) * (170.0 - x) / 42.5;
    else
        v = m1;
    const double b = 255.0 * v + 0.5;
    return !(b > 0.0) ? 0 : b >= 255.0 ? 255 : uint8_t(int(b));
}

} // namespace

void FromHsl255(Hsl255 hsl, uint8_t out[3]) {
    const double l = hsl.l, s = hsl.s, h = hsl.h;
    if (hsl.s == 0) {
        const uint8_t v = uint8_t(std::clamp(hsl.l, 0, 255));
        out[0] = out[1] = out[2] = v;
        return;
    }
    const double m2 = l < 128.0 ? l * (255.0 + s) / 65025.0 : (l + s - l * s / 255.0) / 255.0;
    const double m1 = l / 127.5 - m2;
    out[0] = HslValue(m1, m2, h + 85.0);
    out[1] = HslValue(m1, m2, h);
    out[2] = HslValue(m1, m2, h - 85.0);
}

} // namespace glow

void SoftGlow(const uint8_t* src, uint8_t* dst, int width, int height, double radius,
              double brightness, double sharpness) {
    if (!glow::ValidSize(width, height)) return;
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<uint8_t> layer(pixels);
    glow::GlowLayer(src, layer.data(), pixels, brightness, sharpness);
    glow::BlurPlane(layer.data(), width, height,
                    glow::GaussianCoefficients(glow::SigmaForRadius(radius)));
    // Screen: 255 - (255 - v)(255 - glow) / 255, with the division done as
    // (t + t / 256) / 256 on t rounded by +128, so that glow 0 changes nothing
    // and white stays white.
    imageops::ParallelRows(height, pixels, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * size_t(width); i < size_t(y1) * size_t(width); ++i) {
            const int inv = 255 - layer[i];
            for (int c = 0; c < 3; ++c) {
                const int t = (255 - src[4 * i + size_t(c)]) * inv + 128;
                dst[4 * i + size_t(c)] = uint8_t(255 - (((t >> 8) + t) >> 8));
            }
            dst[4 * i + 3] = src[4 * i + 3];
        }
    });
}

void Neon(const uint8_t* src, uint8_t* dst, int width, int height, double radius, double amount) {
    if (!glow::ValidSize(width, height) || !(radius >= 1.0)) return;
    const glow::LineCoefficients c =
        glow::ToLine(glow::SecondDerivativeCoefficients(glow::SigmaForRadius(radius)));
    const size_t pixels = size_t(width) * size_t(height);
    const size_t stride = size_t(width) * 4;
    // Columns: every byte of every column, its clamped response into the
    // destination.
    glow::FilterColumns(src, dst, stride, width * 4, height, c, pixels);
    // Rows of the source, each byte on its own line (line = 4 row + byte, so
    // a strip holds whole pixels of kLanes / 4 rows), combined with the
    // column response as the length of the pair.
    const double gain = 1.0 + 9.0 * amount;
    constexpr int kRows = glow::kLanes / 4;
    glow::FilterStrips(
        width, height * 4, c, pixels,
        [&](int first, int lanes, uint8_t* buf) {
            if (lanes < glow::kLanes)
                std::fill(buf, buf + size_t(width) * glow::kLanes, uint8_t(0));
            const uint8_t* rows = src + size_t(first / 4) * stride;
            for (int t = 0; t < width; ++t)
                for (int r = 0; r < lanes / 4; ++r)
                    std::memcpy(buf + size_t(t) * glow::kLanes + size_t(4 * r),
                                rows + size_t(r) * stride + size_t(4 * t), 4);
            return glow::StripIo{buf, glow::kLanes, buf, glow::kLanes};
        },
        [&](int first, int lanes, const uint8_t* buf) {
            static_assert(glow::kLanes % 4 == 0);
            for (int r = 0; r < std::min(kRows, lanes / 4); ++r) {
                uint8_t* row = dst + size_t(first / 4 + r) * stride;
                for (int t = 0; t < width; ++t)
                    for (int b = 0; b < 4; ++b) {
                        const double hv = buf[size_t(t) * glow::kLanes + size_t(4 * r + b)];
                        const double vv = row[size_t(t) * 4 + size_t(b)];
                        const double m = std::sqrt(vv * vv + hv * hv) * gain + 0.5;
                        row[size_t(t) * 4 + size_t(b)] = !(m > 0.0)   ? 0
                                                         : m >= 255.0 ? 255
                                                                      : uint8_t(int(m));
                    }
            }
        });
}

void Cartoon(const uint8_t* src, uint8_t* dst, int width, int height) {
    if (!glow::ValidSize(width, height)) return;
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<uint8_t> d1, d2;
    glow::CartoonPlanes(src, width, height, d1, d2);
    const double ramp = glow::CartoonRamp(d1.data(), d2.data(), pixels);
    const std::vector<uint8_t> light = glow::CartoonLightness(d1.data(), d2.data(), pixels, ramp);
    imageops::ParallelRows(height, pixels, [&](int y0, int y1) {
        for (size_t i = size_t(y0) * size_t(width); i < size_t(y1) * size_t(width); ++i) {
            const uint8_t* p = src + 4 * i;
            glow::Hsl255 hsl = glow::ToHsl255(p[0], p[1], p[2]);
            hsl.l = light[i];
            glow::FromHsl255(hsl, dst + 4 * i);
            dst[4 * i + 3] = p[3];
        }
    });
}

#endif // HWY_ONCE
