// The four bytes of a BGRA pixel as doubles, one per lane, in Highway
// vectors: one vector of four lanes where vectors hold 256 bits or more, two of
// two lanes on 128-bit targets. Each operation works lane by lane, never mixes
// lanes and never fuses a multiply with an add, so a formula written with
// these helpers gives, per byte, the doubles the scalar formula gives.
//
// Included once per target by files that foreach_target.h compiles for every
// target (the guard below lets each target through once). PELLORIN_PIXEL_DOUBLES
// says whether the target has these forms: the emulated and scalar targets,
// those without doubles and those whose vector size is only known at run time
// (such vectors cannot sit in a struct) have none.

#if defined(IMAGEOPS_PIXEL_DOUBLES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef IMAGEOPS_PIXEL_DOUBLES_INL_H_
#undef IMAGEOPS_PIXEL_DOUBLES_INL_H_
#else
#define IMAGEOPS_PIXEL_DOUBLES_INL_H_
#endif

#include <hwy/highway.h>

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace imageops::pixel_doubles {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#undef PELLORIN_PIXEL_DOUBLES
#if HWY_TARGET == HWY_EMU128 || HWY_TARGET == HWY_SCALAR || HWY_HAVE_SCALABLE || !HWY_HAVE_FLOAT64
#define PELLORIN_PIXEL_DOUBLES 0
#elif HWY_MAX_BYTES >= 32
#define PELLORIN_PIXEL_DOUBLES 1

using D4 = hn::FixedTag<double, 4>;
using Px = hn::Vec<D4>;

HWY_INLINE Px Widen(const uint8_t* p) {
    const hn::FixedTag<uint8_t, 4> d8;
    const hn::Rebind<int32_t, D4> di;
    return hn::PromoteTo(D4(), hn::PromoteTo(di, hn::LoadU(d8, p)));
}
HWY_INLINE Px Scale(Px v, double s) {
    return hn::Mul(v, hn::Set(D4(), s));
}
HWY_INLINE Px Plus(Px a, Px b) {
    return hn::Add(a, b);
}
HWY_INLINE Px Minus(Px a, Px b) {
    return hn::Sub(a, b);
}
HWY_INLINE Px Divide(Px v, double s) {
    return hn::Div(v, hn::Set(D4(), s));
}
HWY_INLINE Px LoadDoubles(const double* p) {
    return hn::LoadU(D4(), p);
}
HWY_INLINE void StoreDoubles(double* p, Px v) {
    hn::StoreU(v, D4(), p);
}
HWY_INLINE Px WithLast(Px v, double s) {
    return hn::InsertLane(v, 3, s);
}
// Each lane to the nearest integer, ties to even (adding and taking away
// 1.5 * 2^52 leaves no fraction bits), then narrowed with saturation, which
// holds it to 0..255, and stored as a byte.
HWY_INLINE void StoreNearest(uint8_t* out, Px v) {
    const hn::FixedTag<uint8_t, 4> d8;
    const hn::Rebind<int32_t, D4> di;
    const Px magic = hn::Set(D4(), 0x1.8p52);
    hn::StoreU(hn::DemoteTo(d8, hn::DemoteTo(di, hn::Sub(hn::Add(v, magic), magic))), d8, out);
}

#else
#define PELLORIN_PIXEL_DOUBLES 1

using D2 = hn::FixedTag<double, 2>;
using V2 = hn::Vec<D2>;
struct Px {
    V2 lo, hi; // bytes 0 and 1, bytes 2 and 3
};

HWY_INLINE Px Widen(const uint8_t* p) {
    const hn::FixedTag<uint8_t, 4> d8;
    const hn::FixedTag<int32_t, 4> di;
    const auto v = hn::PromoteTo(di, hn::LoadU(d8, p));
    return {hn::PromoteTo(D2(), hn::LowerHalf(v)),
            hn::PromoteTo(D2(), hn::UpperHalf(hn::Half<decltype(di)>(), v))};
}
HWY_INLINE Px Scale(Px v, double s) {
    const V2 vs = hn::Set(D2(), s);
    return {hn::Mul(v.lo, vs), hn::Mul(v.hi, vs)};
}
HWY_INLINE Px Plus(Px a, Px b) {
    return {hn::Add(a.lo, b.lo), hn::Add(a.hi, b.hi)};
}
HWY_INLINE Px Minus(Px a, Px b) {
    return {hn::Sub(a.lo, b.lo), hn::Sub(a.hi, b.hi)};
}
HWY_INLINE Px Divide(Px v, double s) {
    const V2 vs = hn::Set(D2(), s);
    return {hn::Div(v.lo, vs), hn::Div(v.hi, vs)};
}
HWY_INLINE Px LoadDoubles(const double* p) {
    return {hn::LoadU(D2(), p), hn::LoadU(D2(), p + 2)};
}
HWY_INLINE void StoreDoubles(double* p, Px v) {
    hn::StoreU(v.lo, D2(), p);
    hn::StoreU(v.hi, D2(), p + 2);
}
HWY_INLINE Px WithLast(Px v, double s) {
    return {v.lo, hn::InsertLane(v.hi, 1, s)};
}
HWY_INLINE void StoreNearest(uint8_t* out, Px v) {
    const hn::FixedTag<uint8_t, 4> d8;
    const hn::FixedTag<int32_t, 4> di;
    const hn::Half<decltype(di)> dh;
    const V2 magic = hn::Set(D2(), 0x1.8p52);
    const auto lo = hn::DemoteTo(dh, hn::Sub(hn::Add(v.lo, magic), magic));
    const auto hi = hn::DemoteTo(dh, hn::Sub(hn::Add(v.hi, magic), magic));
    hn::StoreU(hn::DemoteTo(d8, hn::Combine(di, hi, lo)), d8, out);
}

#endif

} // namespace HWY_NAMESPACE
} // namespace imageops::pixel_doubles
HWY_AFTER_NAMESPACE();

#endif // include guard
