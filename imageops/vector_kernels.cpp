// Highway compiles this file once per target: foreach_target.h includes it
// again with HWY_TARGET set to each one, so everything between
// HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE exists once per instruction set,
// and the part under HWY_ONCE (compiled once) picks the copy to run.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "imageops/vector_kernels.cpp"
#include <hwy/foreach_target.h> // before highway.h
#include <hwy/highway.h>

#include "imageops/cpu_features.h"
#include "imageops/pixel_doubles-inl.h"
#include "imageops/vector_kernels.h"
#include "imageops/wrap_index.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

HWY_BEFORE_NAMESPACE();
namespace imageops::kernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

int64_t TargetImpl() {
    return HWY_TARGET;
}

// ---------------------------------------------------------------------------
// Rotation

// The rotation samples through gathers. Where the processor has none (SSE4
// and older, NEON) Highway emulates them with scalar loads, and the plain loop
// measured faster than that: those targets leave the rows to it.
#undef PELLORIN_ROTATION_GATHERS
#if (HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2) || HWY_TARGET == HWY_SVE || HWY_TARGET == HWY_SVE2 || \
    HWY_TARGET == HWY_SVE_256 || HWY_TARGET == HWY_SVE2_128
#define PELLORIN_ROTATION_GATHERS 1
#else
#define PELLORIN_ROTATION_GATHERS 0
#endif

// One channel of the bilinear blend of four taps that hold it in byte kShift / 8
// of each 32-bit lane: the rows mixed horizontally ((256 - wx) a + wx b, as
// 256 a + wx (b - a)), then vertically with the rounding half added. The same
// integers as the plain blend's four products, so the same bytes.
template <int kShift, class DI, class VU = hn::Vec<hn::RebindToUnsigned<DI>>,
          class VI = hn::Vec<DI>>
HWY_INLINE VI BlendChannel(DI di, VU a, VU b, VU c, VU d, VI wx, VI wy) {
    const hn::RebindToUnsigned<DI> du;
    const VU byte = hn::Set(du, 0xFFu);
    const VI ta = hn::BitCast(di, hn::And(hn::ShiftRight<kShift>(a), byte));
    const VI tb = hn::BitCast(di, hn::And(hn::ShiftRight<kShift>(b), byte));
    const VI tc = hn::BitCast(di, hn::And(hn::ShiftRight<kShift>(c), byte));
    const VI td = hn::BitCast(di, hn::And(hn::ShiftRight<kShift>(d), byte));
    const VI top = hn::Add(hn::ShiftLeft<8>(ta), hn::Mul(wx, hn::Sub(tb, ta)));
    const VI bottom = hn::Add(hn::ShiftLeft<8>(tc), hn::Mul(wx, hn::Sub(td, tc)));
    const VI sum = hn::Add(hn::ShiftLeft<8>(top), hn::Mul(wy, hn::Sub(bottom, top)));
    return hn::ShiftRight<16>(hn::Add(sum, hn::Set(di, 32768)));
}

#if PELLORIN_ROTATION_GATHERS

// The eight bytes at each byte offset `off`, less their first kSkip bytes,
// split into the first four bytes (left) and the four from byte 3 on (right):
// two neighbouring pixels when the left one starts kSkip bytes after `off`.
template <int kSkip, class DI, class VU = hn::Vec<hn::RebindToUnsigned<DI>>>
HWY_INLINE void TapPairs(DI, const uint32_t* base, hn::Vec<DI> off, VU& left, VU& right) {
    const hn::RebindToUnsigned<DI> du;
    const hn::Half<DI> dh;
    const hn::Repartition<uint64_t, DI> du64;
    const hn::RebindToSigned<decltype(du64)> di64;
    const uint64_t* base64 = reinterpret_cast<const uint64_t*>(base);
    const auto lo = hn::ShiftRight<8 * kSkip>(
        hn::GatherOffset(du64, base64, hn::PromoteTo(di64, hn::LowerHalf(dh, off))));
    const auto hi = hn::ShiftRight<8 * kSkip>(
        hn::GatherOffset(du64, base64, hn::PromoteTo(di64, hn::UpperHalf(dh, off))));
    left = hn::ConcatEven(du, hn::BitCast(du, hi), hn::BitCast(du, lo));
    right = hn::ConcatEven(du, hn::BitCast(du, hn::ShiftRight<24>(hi)),
                           hn::BitCast(du, hn::ShiftRight<24>(lo)));
}

// The pixel `pixel` (an index into the picture) of each lane where `valid`,
// the background elsewhere, as a 32-bit lane with the bytes in their order.
// Four bytes are read from the byte before the pixel, so that the picture's
// last pixel reads nothing beyond it, except for pixel 0, which has no byte
// before it (the picture has at least two pixels).
template <class DI, class M, class VI = hn::Vec<DI>, class VU = hn::Vec<hn::RebindToUnsigned<DI>>>
HWY_INLINE VU TapOrBackground(DI di, const uint32_t* base, VI pixel, M valid, VU background) {
    const hn::RebindToUnsigned<DI> du;
    const VI zero = hn::Zero(di);
    const VI off = hn::Max(hn::Sub(hn::Mul(pixel, hn::Set(di, 3)), hn::Set(di, 1)), zero);
    const VU g = hn::GatherOffset(du, base, off);
    const VU v = hn::IfThenElse(hn::RebindMask(du, hn::Eq(pixel, zero)), g, hn::ShiftRight<8>(g));
    return hn::IfThenElse(valid, v, background);
}

bool RotateRowsImpl(const RotationRows& r, int yBegin, int yEnd) {
    const hn::ScalableTag<int32_t> di;
    const hn::RebindToUnsigned<decltype(di)> du;
    const hn::Rebind<uint8_t, decltype(di)> d8;
    using VI = hn::Vec<decltype(di)>;
    using VU = hn::Vec<decltype(du)>;
    const size_t N = hn::Lanes(di);
    const int w = r.width, h = r.height, rowBytes = 3 * w;
    const uint32_t* base = reinterpret_cast<const uint32_t*>(r.src);

    // Lane i of a group starting at x samples at q + i * step (fixed point, 32
    // fractional bits, q already holding the rounding half of 1/256 pixel).
    // With i * step = hi 2^24 + lo and q = qh 2^24 + ql (0 <= lo, ql < 2^24)
    // the position in 1/256 pixels is qh + hi + ((ql + lo) >> 24), exactly,
    // in 32-bit lanes.
    constexpr int64_t kLow = (int64_t(1) << 24) - 1;
    std::vector<int32_t> split(4 * N);
    for (size_t i = 0; i < N; ++i) {
        const int64_t sx = int64_t(i) * r.colStepX, sy = int64_t(i) * r.colStepY;
        split[i] = int32_t(sx >> 24);
        split[N + i] = int32_t(sx & kLow);
        split[2 * N + i] = int32_t(sy >> 24);
        split[3 * N + i] = int32_t(sy & kLow);
    }
    const VI hiX = hn::LoadU(di, split.data()), loX = hn::LoadU(di, split.data() + N);
    const VI hiY = hn::LoadU(di, split.data() + 2 * N), loY = hn::LoadU(di, split.data() + 3 * N);
    const int64_t groupStepX = int64_t(N) * r.colStepX, groupStepY = int64_t(N) * r.colStepY;

    const VI zero = hn::Zero(di), one = hn::Set(di, 1), three = hn::Set(di, 3);
    // No lambda here captures a vector: sizeless vector types (SVE) cannot be
    // captured.
    const VI width = hn::Set(di, w), lastX = hn::Set(di, w - 1), lastY = hn::Set(di, h - 1);
    const VI weightMask = hn::Set(di, 255);
    const VU wU = hn::Set(du, uint32_t(w)), hU = hn::Set(du, uint32_t(h));
    const VU wInner = hn::Set(du, uint32_t(w - 1)), hInner = hn::Set(du, uint32_t(h - 1));
    const VU background = hn::Set(du, r.background);
    const auto bgR = hn::Set(d8, uint8_t(r.background)),
               bgG = hn::Set(d8, uint8_t(r.background >> 8)),
               bgB = hn::Set(d8, uint8_t(r.background >> 16));
    std::vector<uint8_t> tail(3 * N);

    for (int y = yBegin; y < yEnd; ++y) {
        uint8_t* out = r.dst + size_t(y) * size_t(rowBytes);
        const int64_t half = int64_t(1) << 23;
        int64_t qx = r.originX + int64_t(y) * r.rowStepX + half;
        int64_t qy = r.originY + int64_t(y) * r.rowStepY + half;
        for (int x = 0; x < w; x += int(N), qx += groupStepX, qy += groupStepY) {
            const size_t count = std::min(N, size_t(w - x));
            uint8_t* o = count == N ? out + 3 * size_t(x) : tail.data();
            const VI fx =
                hn::Add(hn::Add(hn::Set(di, int32_t(qx >> 24)), hiX),
                        hn::ShiftRight<24>(hn::Add(hn::Set(di, int32_t(qx & kLow)), loX)));
            const VI fy =
                hn::Add(hn::Add(hn::Set(di, int32_t(qy >> 24)), hiY),
                        hn::ShiftRight<24>(hn::Add(hn::Set(di, int32_t(qy & kLow)), loY)));
            const VI x0 = hn::ShiftRight<8>(fx), y0 = hn::ShiftRight<8>(fy);
            const VI wx = hn::And(fx, weightMask), wy = hn::And(fy, weightMask);
            VU a, b, c, d;
            const auto inside =
                hn::And(hn::Lt(hn::BitCast(du, x0), wInner), hn::Lt(hn::BitCast(du, y0), hInner));
            if (hn::AllTrue(du, inside)) {
                // The whole block lies in the picture.
                const VI off = hn::Mul(hn::Add(hn::Mul(y0, width), x0), three);
                // Eight bytes per pair of taps: half as many gathered lanes.
                // The top pair starts at its left pixel (its row is not the
                // last); the bottom pair ends at its right pixel, which may be
                // the picture's last.
                TapPairs<0>(di, base, off, a, b);
                TapPairs<2>(di, base, hn::Add(off, hn::Set(di, rowBytes - 2)), c, d);
            } else {
                // Taps outside the picture take the background.
                const VI x1 = hn::Add(x0, one), y1 = hn::Add(y0, one);
                const auto vx0 = hn::Lt(hn::BitCast(du, x0), wU);
                const auto vx1 = hn::Lt(hn::BitCast(du, x1), wU);
                const auto vy0 = hn::Lt(hn::BitCast(du, y0), hU);
                const auto vy1 = hn::Lt(hn::BitCast(du, y1), hU);
                const auto ma = hn::And(vx0, vy0), mb = hn::And(vx1, vy0);
                const auto mc = hn::And(vx0, vy1), md = hn::And(vx1, vy1);
                if (hn::AllFalse(du, hn::Or(hn::Or(ma, mb), hn::Or(mc, md)))) {
                    hn::StoreInterleaved3(bgR, bgG, bgB, d8, o);
                    if (o != out + 3 * size_t(x)) std::memcpy(out + 3 * size_t(x), o, 3 * count);
                    continue;
                }
                // Clamped coordinates keep every read inside the picture; the
                // masks decide which reads count.
                const VI cx0 = hn::Min(hn::Max(x0, zero), lastX);
                const VI cx1 = hn::Min(hn::Max(x1, zero), lastX);
                const VI row0 = hn::Mul(hn::Min(hn::Max(y0, zero), lastY), width);
                const VI row1 = hn::Mul(hn::Min(hn::Max(y1, zero), lastY), width);
                a = TapOrBackground(di, base, hn::Add(row0, cx0), ma, background);
                b = TapOrBackground(di, base, hn::Add(row0, cx1), mb, background);
                c = TapOrBackground(di, base, hn::Add(row1, cx0), mc, background);
                d = TapOrBackground(di, base, hn::Add(row1, cx1), md, background);
            }
            const VI red = BlendChannel<0>(di, a, b, c, d, wx, wy);
            const VI green = BlendChannel<8>(di, a, b, c, d, wx, wy);
            const VI blue = BlendChannel<16>(di, a, b, c, d, wx, wy);
            hn::StoreInterleaved3(hn::DemoteTo(d8, red), hn::DemoteTo(d8, green),
                                  hn::DemoteTo(d8, blue), d8, o);
            if (o != out + 3 * size_t(x)) std::memcpy(out + 3 * size_t(x), o, 3 * count);
        }
    }
    return true;
}

#else

bool RotateRowsImpl(const RotationRows&, int, int) {
    return false;
}

#endif // PELLORIN_ROTATION_GATHERS

// ---------------------------------------------------------------------------
// Colour

// One channel of ContrastPixels, widened to 32-bit lanes and narrowed back.
template <class DI, class V8, class VU>
HWY_INLINE V8 ContrastChannel(DI di, V8 v, VU mul, int shift) {
    const hn::RebindToUnsigned<DI> du;
    const hn::Rebind<uint8_t, DI> d8;
    const auto c128 = hn::Set(di, 128);
    const auto x = hn::Sub(hn::PromoteTo(di, v), c128);
    const auto t =
        hn::BitCast(di, hn::ShiftRightSame(hn::Mul(hn::BitCast(du, hn::Abs(x)), mul), shift));
    return hn::DemoteTo(d8, hn::Add(hn::IfThenElse(hn::Lt(x, hn::Zero(di)), hn::Neg(t), t), c128));
}

size_t ContrastPixelsImpl(uint8_t* p, size_t pixels, const uint32_t* m, const uint32_t* e) {
    const hn::ScalableTag<int32_t> di;
    const hn::RebindToUnsigned<decltype(di)> du;
    const hn::Rebind<uint8_t, decltype(di)> d8;
    const size_t N = hn::Lanes(di);
    const auto m0 = hn::Set(du, m[0]), m1 = hn::Set(du, m[1]), m2 = hn::Set(du, m[2]);
    size_t i = 0;
    for (; i + N <= pixels; i += N) {
        hn::Vec<decltype(d8)> v0, v1, v2;
        hn::LoadInterleaved3(d8, p + 3 * i, v0, v1, v2);
        hn::StoreInterleaved3(ContrastChannel(di, v0, m0, int(e[0])),
                              ContrastChannel(di, v1, m1, int(e[1])),
                              ContrastChannel(di, v2, m2, int(e[2])), d8, p + 3 * i);
    }
    return i;
}

size_t SwapPixelBytesImpl(uint8_t* p, size_t pixels, int i0, int i1) {
    const hn::ScalableTag<uint8_t> d8;
    const size_t N = hn::Lanes(d8);
    const int which = i0 + i1; // 1: bytes 0 and 1, 2: 0 and 2, 3: 1 and 2
    size_t i = 0;
    for (; i + N <= pixels; i += N) {
        hn::Vec<decltype(d8)> v0, v1, v2;
        hn::LoadInterleaved3(d8, p + 3 * i, v0, v1, v2);
        if (which == 1)
            hn::StoreInterleaved3(v1, v0, v2, d8, p + 3 * i);
        else if (which == 2)
            hn::StoreInterleaved3(v2, v1, v0, d8, p + 3 * i);
        else
            hn::StoreInterleaved3(v0, v2, v1, d8, p + 3 * i);
    }
    return i;
}

size_t GreyPixelsImpl(uint8_t* p, size_t pixels) {
    const hn::ScalableTag<uint16_t> d16;
    const hn::RebindToSigned<decltype(d16)> di16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const size_t N = hn::Lanes(d16);
    // s / 3 = (s * 43691) >> 17 for every s below 2^16.
    const auto third = hn::Set(d16, uint16_t(43691));
    size_t i = 0;
    for (; i + N <= pixels; i += N) {
        hn::Vec<decltype(d8)> v0, v1, v2;
        hn::LoadInterleaved3(d8, p + 3 * i, v0, v1, v2);
        const auto sum = hn::Add(hn::Add(hn::PromoteTo(d16, v0), hn::PromoteTo(d16, v1)),
                                 hn::PromoteTo(d16, v2));
        const auto grey =
            hn::DemoteTo(d8, hn::BitCast(di16, hn::ShiftRight<1>(hn::MulHigh(sum, third))));
        hn::StoreInterleaved3(grey, grey, grey, d8, p + 3 * i);
    }
    return i;
}

// ---------------------------------------------------------------------------
// Light regions and masks

int LightAmountsImpl(const float* q, float ry, int16_t* am, int n) {
#if HWY_HAVE_FLOAT64
    const hn::ScalableTag<double> df;
    const hn::Rebind<float, decltype(df)> d32;
    const hn::Rebind<int32_t, decltype(df)> di32;
    const hn::Rebind<int16_t, decltype(df)> di16;
    const int N = int(hn::Lanes(df));
    const auto vry = hn::Set(d32, ry), vone = hn::Set(d32, 1.0f);
    const auto scale = hn::Set(df, 200.0);
    const auto zero = hn::Zero(di32);
    int i = 0;
    for (; i + N <= n; i += N) {
        const auto d = hn::Sqrt(hn::Add(hn::LoadU(d32, q + i), vry));
        // The float difference, widened, times 200 in double precision; the
        // conversion truncates toward zero.
        const auto v = hn::DemoteTo(di32, hn::Mul(hn::PromoteTo(df, hn::Sub(vone, d)), scale));
        hn::StoreU(hn::DemoteTo(di16, hn::Max(v, zero)), di16, am + i);
    }
    return i;
#else
    (void)q, (void)ry, (void)am, (void)n;
    return 0;
#endif
}

int SpreadToBytesImpl(const int16_t* am, int16_t* bytes, int n) {
    const hn::ScalableTag<int16_t> d;
    const int N = int(hn::Lanes(d));
    int i = 0;
    for (; i + N <= n; i += N) {
        const auto v = hn::LoadU(d, am + i);
        hn::StoreInterleaved3(v, v, v, d, bytes + 3 * i);
    }
    return i;
}

int LightMoveImpl(uint8_t* p, const int16_t* amount, const int16_t* target, int n) {
    const hn::ScalableTag<int16_t> d;
    const hn::Rebind<uint8_t, decltype(d)> d8;
    const int N = int(hn::Lanes(d));
    int i = 0;
    for (; i + N <= n; i += N) {
        const auto v = hn::PromoteTo(d, hn::LoadU(d8, p + i));
        const auto a = hn::LoadU(d, amount + i), t = hn::LoadU(d, target + i);
        const auto up = hn::Min(hn::Add(v, a), t), down = hn::Max(hn::Sub(v, a), t);
        hn::StoreU(hn::DemoteTo(d8, hn::IfThenElse(hn::Gt(v, t), down, up)), d8, p + i);
    }
    return i;
}

size_t MaskBytesImpl(uint8_t* p, const float* weight, const float* share, size_t n) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const size_t N = hn::Lanes(df);
    const auto byte = hn::Set(di, 255);
    size_t i = 0;
    for (; i + N <= n; i += N) {
        const auto v = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, p + i)));
        // Multiply, then add: two roundings, as in the plain loop.
        const auto x = hn::Add(hn::Mul(v, hn::LoadU(df, weight + i)), hn::LoadU(df, share + i));
        // Truncation toward zero, then the low byte, as the conversions do.
        hn::StoreU(hn::DemoteTo(d8, hn::And(hn::ConvertTo(di, x), byte)), d8, p + i);
    }
    return i;
}

// ---------------------------------------------------------------------------
// Van Gogh

bool FlowSourceSumImpl(const FlowLine& f, int x, int y, double vx, double vy, double* sum) {
#if PELLORIN_PIXEL_DOUBLES
    namespace pd = pixel_doubles::HWY_NAMESPACE;
    const size_t w = size_t(f.width);
    pd::Px acc = pd::LoadDoubles(sum);
    for (size_t k = 0; k < f.count; ++k) {
        const double t = f.offsets[k];
        const double px = x - t * vx, py = y - t * vy;
        const int x0 = FloorInt(px), y0 = FloorInt(py);
        const double fx = px - x0, fy = py - y0;
        int xa, xb, ya, yb;
        WrapPair(x0, f.width, xa, xb);
        WrapPair(y0, f.height, ya, yb);
        const uint8_t* top = f.src + 4 * size_t(ya) * w;
        const uint8_t* bottom = f.src + 4 * size_t(yb) * w;
        const pd::Px p00 = pd::Widen(top + 4 * size_t(xa)), p10 = pd::Widen(top + 4 * size_t(xb));
        const pd::Px p01 = pd::Widen(bottom + 4 * size_t(xa));
        const pd::Px p11 = pd::Widen(bottom + 4 * size_t(xb));
        const pd::Px t0 = pd::Plus(p00, pd::Scale(pd::Minus(p10, p00), fx));
        const pd::Px t1 = pd::Plus(p01, pd::Scale(pd::Minus(p11, p01), fx));
        const pd::Px s = pd::Plus(t0, pd::Scale(pd::Minus(t1, t0), fy));
        acc = pd::Plus(acc, pd::Scale(s, f.weights[k]));
    }
    pd::StoreDoubles(sum, acc);
    return true;
#else
    (void)f, (void)x, (void)y, (void)vx, (void)vy, (void)sum;
    return false;
#endif
}

} // namespace HWY_NAMESPACE
} // namespace imageops::kernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace imageops {
namespace kernels {

HWY_EXPORT(TargetImpl);
HWY_EXPORT(RotateRowsImpl);
HWY_EXPORT(ContrastPixelsImpl);
HWY_EXPORT(SwapPixelBytesImpl);
HWY_EXPORT(GreyPixelsImpl);
HWY_EXPORT(LightAmountsImpl);
HWY_EXPORT(SpreadToBytesImpl);
HWY_EXPORT(LightMoveImpl);
HWY_EXPORT(MaskBytesImpl);
HWY_EXPORT(FlowSourceSumImpl);

bool RotateRows(const RotationRows& r, int y0, int y1) {
    return HWY_DYNAMIC_DISPATCH(RotateRowsImpl)(r, y0, y1);
}
size_t ContrastPixels(uint8_t* p, size_t pixels, const uint32_t m[3], const uint32_t e[3]) {
    return HWY_DYNAMIC_DISPATCH(ContrastPixelsImpl)(p, pixels, m, e);
}
size_t SwapPixelBytes(uint8_t* p, size_t pixels, int i0, int i1) {
    return HWY_DYNAMIC_DISPATCH(SwapPixelBytesImpl)(p, pixels, i0, i1);
}
size_t GreyPixels(uint8_t* p, size_t pixels) {
    return HWY_DYNAMIC_DISPATCH(GreyPixelsImpl)(p, pixels);
}
int LightAmounts(const float* q, float ry, int16_t* am, int n) {
    return HWY_DYNAMIC_DISPATCH(LightAmountsImpl)(q, ry, am, n);
}
int SpreadToBytes(const int16_t* am, int16_t* bytes, int n) {
    return HWY_DYNAMIC_DISPATCH(SpreadToBytesImpl)(am, bytes, n);
}
int LightMove(uint8_t* p, const int16_t* amount, const int16_t* target, int n) {
    return HWY_DYNAMIC_DISPATCH(LightMoveImpl)(p, amount, target, n);
}
size_t MaskBytes(uint8_t* p, const float* weight, const float* share, size_t n) {
    return HWY_DYNAMIC_DISPATCH(MaskBytesImpl)(p, weight, share, n);
}

bool FlowSourceSum(const FlowLine& f, int x, int y, double vx, double vy, double sum[4]) {
    return HWY_DYNAMIC_DISPATCH(FlowSourceSumImpl)(f, x, y, vx, vy, sum);
}

} // namespace kernels

std::vector<int64_t> VectorTargets() {
    // Evaluated here, where HWY_TARGETS names the targets this file was built for.
    return hwy::SupportedAndGeneratedTargets();
}

std::string VectorTargetName(int64_t target) {
    return hwy::TargetName(target);
}

int64_t VectorTargetInUse() {
    return HWY_DYNAMIC_DISPATCH(kernels::TargetImpl)();
}

void PinVectorTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
}

} // namespace imageops

#endif // HWY_ONCE
