// The antialiased Ripple loop in vector form, included by displacement.cpp
// once for each vector target, inside that target's namespace. No include
// guard: each inclusion is meant.
//
// A lane blends one destination pixel with exactly the operations of the
// per-pixel blend, in their order (nothing fused, no reciprocal in place of
// the division), so both give the same bytes. Only pixels whose two samples
// both lie on the picture along the moved axis are done here; there every
// edge mode finds the same samples and weight, so the edge rules stay with
// the per-pixel code.

// Measured on x86, where every target from SSSE3 up runs it faster than the
// per-pixel code (from about 1.5 times with SSSE3 to 4 times with AVX-512);
// other processors and the portable baseline leave every pixel to the
// per-pixel code.
#undef PELLORIN_RIPPLE_VECTOR
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_SSSE3
#define PELLORIN_RIPPLE_VECTOR 1
#else
#define PELLORIN_RIPPLE_VECTOR 0
#endif

#if PELLORIN_RIPPLE_VECTOR

namespace hn = hwy::HWY_NAMESPACE;

// Byte kShift / 8 of each 32-bit lane as a double.
template <int kShift, class D, class VU> HWY_INLINE hn::Vec<D> RippleChannel(D d, VU p) {
    const hn::Rebind<int32_t, D> di;
    const hn::Rebind<uint32_t, D> du;
    VU byte = hn::ShiftRight<kShift>(p);
    if constexpr (kShift < 24) byte = hn::And(byte, hn::Set(du, 0xFFu));
    return hn::PromoteTo(d, hn::BitCast(di, byte));
}

// A byte from a blended value that is 0..255 up to rounding: truncated toward
// zero, then held to 0..255.
template <class D> HWY_INLINE hn::Vec<hn::Rebind<uint32_t, D>> RippleByte(D d, hn::Vec<D> v) {
    const hn::Rebind<int32_t, D> di;
    const hn::Rebind<uint32_t, D> du;
    const auto t = hn::DemoteTo(di, v);
    return hn::BitCast(du, hn::Min(hn::Max(t, hn::Zero(di)), hn::Set(di, 255)));
}

// The pixels at the lanes' indices, loaded one by one: on the processor
// measured (AMD Zen 4) that was as fast as the AVX2 and AVX-512 gather
// instructions or faster, and the targets without them need it anyway.
template <class DU, class VI>
HWY_INLINE hn::Vec<DU> RippleGather(DU du, const uint32_t* base, VI index) {
    constexpr size_t kMax = HWY_MAX_BYTES / 8;
    alignas(64) int32_t at[kMax];
    alignas(64) uint32_t px[kMax];
    const hn::Rebind<int32_t, DU> di;
    hn::Store(index, di, at);
    for (size_t k = 0; k < hn::Lanes(du); ++k) px[k] = base[at[k]];
    return hn::Load(du, px);
}

template <bool Vertical>
HWY_INLINE int RippleBlendLanes(const Picture& pic, uint8_t* dst, const double* amount, int y,
                                int x0, int x1, double truncNudge, int* resume) {
    const hn::ScalableTag<double> d;
    const hn::Rebind<int32_t, decltype(d)> di;
    const hn::Rebind<uint32_t, decltype(d)> du;
    const int N = int(hn::Lanes(d));
    const int w = pic.w, len = Vertical ? pic.h : pic.w;
    const uint32_t* base = reinterpret_cast<const uint32_t*>(pic.px);
    uint32_t* out = reinterpret_cast<uint32_t*>(dst) + size_t(y) * size_t(w);

    const auto zero = hn::Zero(d), one = hn::Set(d, 1.0);
    const auto lastCell = hn::Set(d, double(len - 2)); // i and i + 1 both on the picture
    const auto nudge = hn::Set(d, truncNudge);
    // Rows move: the second sample is the next pixel. Columns move: the pixel
    // one row down.
    const auto step = hn::Set(di, Vertical ? w : 1);
    const auto width = hn::Set(di, w);
    const auto rowY = hn::Set(d, double(y));
    const auto rowStart = hn::Set(di, y * w);
    const auto lane = hn::Iota(d, 0.0);
    const auto laneI = hn::Iota(di, 0);

    int x = x0;
    for (; x + N <= x1; x += N) {
        const auto n = Vertical
                           ? hn::Add(rowY, hn::LoadU(d, amount + x))
                           : hn::Add(hn::Add(hn::Set(d, double(x)), lane), hn::Set(d, amount[y]));
        // Conversion toward zero is floor for the positions that count here,
        // which are not negative.
        const auto i = hn::DemoteTo(di, n);
        const auto fl = hn::PromoteTo(d, i);
        if (!hn::AllTrue(d, hn::And(hn::Ge(n, zero), hn::Le(fl, lastCell)))) break;
        const auto f = hn::Sub(n, fl);
        const auto g = hn::Sub(one, f);
        const auto index0 = Vertical ? hn::Add(hn::Mul(i, width), hn::Add(hn::Set(di, x), laneI))
                                     : hn::Add(rowStart, i);
        hn::Vec<decltype(du)> p0, p1;
        const int32_t first = hn::GetLane(index0);
        if (!Vertical && hn::AllTrue(di, hn::Eq(index0, hn::Add(hn::Set(di, first), laneI)))) {
            // In a moved row the lanes take consecutive pixels (unless the
            // rounding of a position crosses a whole number): two plain loads.
            p0 = hn::LoadU(du, base + first);
            p1 = hn::LoadU(du, base + first + 1);
        } else {
            p0 = RippleGather(du, base, index0);
            p1 = RippleGather(du, base, hn::Add(index0, step));
        }
        const auto a0 = RippleChannel<24>(d, p0), a1 = RippleChannel<24>(d, p1);
        const auto alpha = hn::Add(hn::Mul(g, a0), hn::Mul(f, a1));
        // Where neither sample has alpha weight every numerator is 0 too;
        // dividing those by 1 instead of 0 gives the transparent black that
        // such a pixel gets.
        const auto divisor = hn::IfThenElse(hn::Eq(alpha, zero), one, alpha);
        auto colour = [&](auto c0, auto c1) {
            const auto sum = hn::Add(hn::Mul(hn::Mul(c1, f), a1), hn::Mul(hn::Mul(c0, g), a0));
            return RippleByte(d, hn::Add(hn::Div(sum, divisor), nudge));
        };
        const auto b = colour(RippleChannel<0>(d, p0), RippleChannel<0>(d, p1));
        const auto gr = colour(RippleChannel<8>(d, p0), RippleChannel<8>(d, p1));
        const auto r = colour(RippleChannel<16>(d, p0), RippleChannel<16>(d, p1));
        const auto a = RippleByte(d, hn::Add(alpha, nudge));
        const auto pixel = hn::Or(hn::Or(b, hn::ShiftLeft<8>(gr)),
                                  hn::Or(hn::ShiftLeft<16>(r), hn::ShiftLeft<24>(a)));
        hn::StoreU(pixel, du, out + x);
    }
    *resume = std::min(x + N, x1);
    return x;
}

#endif // PELLORIN_RIPPLE_VECTOR

// Blends pixels x0.. of row y as long as whole vectors of them sample on the
// picture, and returns the first pixel it left; the pixels from there to
// *resume are for the per-pixel code, and this may be called again from
// *resume. amount holds the shift of each column (vertical) or row;
// truncNudge is what the per-pixel blend adds before it truncates. The
// picture has fewer than 2^31 pixels.
int RippleBlendRun(const Picture& pic, uint8_t* dst, const double* amount, bool vertical, int y,
                   int x0, int x1, double truncNudge, int* resume) {
#if PELLORIN_RIPPLE_VECTOR
    return vertical ? RippleBlendLanes<true>(pic, dst, amount, y, x0, x1, truncNudge, resume)
                    : RippleBlendLanes<false>(pic, dst, amount, y, x0, x1, truncNudge, resume);
#else
    (void)pic, (void)dst, (void)amount, (void)vertical, (void)y, (void)truncNudge;
    *resume = x1;
    return x0;
#endif
}
