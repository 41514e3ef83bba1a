// Whole-vector sampling for Wave and Whirl & Pinch, included by
// displacement.cpp once per vector target, inside that target's namespace and
// after displacement_loops-inl.h. No include guard: each inclusion is meant.
//
// The positions of a run of pixels are computed first (the sines, square
// roots and powers are the C library's, one per pixel or per four mirrored
// pixels), then the run is sampled a vector of pixels at a time: two 8-byte
// loads fetch each lane's four neighbours, and every byte goes through the
// per-pixel formula's double operations in its order, one pixel per lane.
// Lanes never mix and nothing is fused, so the bytes are those of the
// per-pixel loops. Targets whose vectors hold fewer than four doubles keep
// those loops.

#undef PELLORIN_DISPLACEMENT_VECTORS
#if ((HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX2) || HWY_TARGET == HWY_SVE ||                          \
     HWY_TARGET == HWY_SVE2 || HWY_TARGET == HWY_SVE_256 || HWY_TARGET == HWY_SVE2_128) &&         \
    HWY_HAVE_FLOAT64
#define PELLORIN_DISPLACEMENT_VECTORS 1
#else
#define PELLORIN_DISPLACEMENT_VECTORS 0
#endif

#if PELLORIN_DISPLACEMENT_VECTORS

namespace hn = hwy::HWY_NAMESPACE;
using DD = hn::ScalableTag<double>;
using DU64 = hn::RebindToUnsigned<DD>;
using DI64 = hn::RebindToSigned<DD>;
using DI32 = hn::Rebind<int32_t, DD>;
using DU32 = hn::Rebind<uint32_t, DD>;
using VD = hn::Vec<DD>;
using VU64 = hn::Vec<DU64>;

// Pictures whose byte offsets fit the 32-bit lanes they are computed in.
inline bool OffsetsFit(const Picture& pic) {
    return int64_t(pic.w) * int64_t(pic.h) * 4 + 8 < (int64_t(1) << 31);
}

// Picks byte k of each 64-bit lane into the lane's low byte, the others
// zero: table indices for one byte shuffle (which works within 16-byte
// blocks, so odd lanes index their block's upper half).
class BytePicks {
public:
    BytePicks() {
        const DU64 du;
        const VU64 odd = hn::ShiftLeft<3>(hn::And(hn::Iota(du, 0), hn::Set(du, 1u)));
        for (int k = 0; k < 8; ++k)
            pick_[k] = hn::Add(hn::Set(du, 0x8080808080808000ull | uint64_t(k)), odd);
    }
    // Byte k of each lane of v as a double.
    template <int k> HWY_INLINE VD At(VU64 v) const {
        const DU64 du;
        const hn::Repartition<uint8_t, DU64> d8;
        const VU64 bits =
            hn::BitCast(du, hn::TableLookupBytesOr0(hn::BitCast(d8, v), hn::BitCast(d8, pick_[k])));
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        return hn::ConvertTo(DD(), hn::BitCast(DI64(), bits));
#else
        // Placed in the mantissa of 2^52 and 2^52 taken away, which is exact.
        return hn::Sub(hn::BitCast(DD(), hn::Or(bits, hn::Set(du, 0x4330000000000000ull))),
                       hn::Set(DD(), 0x1p52));
#endif
    }

private:
    VU64 pick_[8];
};

// Each lane of v (0 <= v < 2^51) rounded to the nearest integer, ties to even,
// as StoreNearest rounds, and held to 255.
HWY_INLINE VU64 NearestByte(VD v) {
    const DU64 du;
    const VU64 r = hn::Sub(hn::BitCast(du, hn::Add(v, hn::Set(DD(), 0x1.8p52))),
                           hn::Set(du, 0x4338000000000000ull));
    return hn::Min(r, hn::Set(du, 255u));
}

// The four neighbours of each lane's cell (ix, iy): the 8 bytes at the cell's
// top-left pixel hold it and its right neighbour, as do those one row down.
// Loaded lane by lane: on the processors measured, as fast as a gather or
// faster.
HWY_INLINE void Taps(const Picture& pic, hn::Vec<DI32> ix, hn::Vec<DI32> iy, VU64& top,
                     VU64& bottom) {
    const DI32 di;
    const hn::Vec<DI32> off = hn::Mul(hn::Add(hn::Mul(iy, hn::Set(di, pic.w)), ix), hn::Set(di, 4));
    constexpr size_t kMax = HWY_MAX_BYTES / 8;
    alignas(64) int32_t offsets[kMax];
    alignas(64) uint64_t upper[kMax], lower[kMax];
    hn::Store(off, di, offsets);
    const size_t rowBytes = size_t(pic.w) * 4;
    for (size_t k = 0; k < hn::Lanes(di); ++k) {
        std::memcpy(&upper[k], pic.px + offsets[k], 8);
        std::memcpy(&lower[k], pic.px + offsets[k] + rowBytes, 8);
    }
    top = hn::Load(DU64(), upper);
    bottom = hn::Load(DU64(), lower);
}

HWY_INLINE void StorePixels(uint8_t* out, VU64 packed) {
    hn::StoreU(hn::TruncateTo(DU32(), packed), DU32(), reinterpret_cast<uint32_t*>(out));
}

// ---------------------------------------------------------------- Wave

// One byte of the plain bilinear blend: the rows mixed horizontally, then
// vertically, as WaveSample does.
template <int kByte>
HWY_INLINE VU64 WaveChannel(const BytePicks& b, VU64 top, VU64 bottom, VD fx, VD gx, VD fy, VD gy) {
    const VD upper = hn::Add(hn::Mul(b.At<kByte>(top), gx), hn::Mul(b.At<kByte + 4>(top), fx));
    const VD lower =
        hn::Add(hn::Mul(b.At<kByte>(bottom), gx), hn::Mul(b.At<kByte + 4>(bottom), fx));
    return hn::ShiftLeft<8 * kByte>(NearestByte(hn::Add(hn::Mul(upper, gy), hn::Mul(lower, fy))));
}

// out[i] = WaveSample at (nx[i], ny[i]) for i < n.
void WaveRun(const Picture& pic, const double* nx, const double* ny, int n, uint8_t* out) {
    const DD d;
    const BytePicks bytes;
    const int lanes = int(hn::Lanes(d));
    const VD one = hn::Set(d, 1.0), zero = hn::Zero(d);
    const VD lastX = hn::Set(d, pic.w - 1.0), lastY = hn::Set(d, pic.h - 1.0);
    int i = 0;
    for (; i + lanes <= n; i += lanes) {
        const VD x = hn::LoadU(d, nx + i), y = hn::LoadU(d, ny + i);
        const VD fxl = hn::Floor(x), fyl = hn::Floor(y);
        // Cells with all four pixels on the picture; the others (near the
        // edges, where some samples are transparent black) go pixel by pixel.
        const auto inside = hn::And(hn::And(hn::Ge(fxl, zero), hn::Lt(fxl, lastX)),
                                    hn::And(hn::Ge(fyl, zero), hn::Lt(fyl, lastY)));
        if (!hn::AllTrue(d, inside)) {
            for (int k = i; k < i + lanes; ++k) WaveSample(pic, nx[k], ny[k], out + 4 * k);
            continue;
        }
        const VD fx = hn::Sub(x, fxl), fy = hn::Sub(y, fyl);
        const VD gx = hn::Sub(one, fx), gy = hn::Sub(one, fy);
        VU64 top, bottom;
        Taps(pic, hn::DemoteTo(DI32(), fxl), hn::DemoteTo(DI32(), fyl), top, bottom);
        const VU64 packed = hn::Or(hn::Or(WaveChannel<0>(bytes, top, bottom, fx, gx, fy, gy),
                                          WaveChannel<1>(bytes, top, bottom, fx, gx, fy, gy)),
                                   hn::Or(WaveChannel<2>(bytes, top, bottom, fx, gx, fy, gy),
                                          WaveChannel<3>(bytes, top, bottom, fx, gx, fy, gy)));
        StorePixels(out + 4 * i, packed);
    }
    for (; i < n; ++i) WaveSample(pic, nx[i], ny[i], out + 4 * i);
}

void WaveBlockFast(const Picture& pic, uint8_t* dst, const WaveGeometry& g, int y0, int ka, int kb,
                   const double* s, size_t stride, int x0) {
    if (!OffsetsFit(pic)) return WaveBlock(pic, dst, g, y0, ka, kb, s, stride, x0);
    constexpr int kTile = 64;
    alignas(64) double nx[kTile], ny[kTile];
    auto rowPart = [&](int y, const double* row, int xa, int xb) {
        const WaveRow r = MakeWaveRow(g, y);
        for (int x = xa; x < xb; ++x) WavePoint(g, r, x, row, x0, nx[x - xa], ny[x - xa]);
        WaveRun(pic, nx, ny, xb - xa, Out(dst, g.w, xa, y));
    };
    for (int xa = 0; xa < g.w; xa += kTile) {
        const int xb = std::min(xa + kTile, g.w);
        for (int k = ka; k < kb; ++k) {
            const int y = y0 + k;
            const double* row = s + size_t(k - ka) * stride;
            if (y < g.h) rowPart(y, row, xa, xb);
            if (g.h - y < y0) rowPart(g.h - y, row, xa, xb);
        }
    }
}

// ---------------------------------------------------------------- Whirl & Pinch

// One colour byte of the alpha-weighted blend, as WhirlSample computes it.
template <int kByte>
HWY_INLINE VU64 WhirlChannel(const BytePicks& b, VU64 top, VU64 bottom, VD fx, VD gx, VD fy, VD gy,
                             VD a00, VD a10, VD a01, VD a11, VD alpha) {
    const VD upper = hn::Add(hn::Mul(hn::Mul(b.At<kByte>(top), gx), a00),
                             hn::Mul(hn::Mul(b.At<kByte + 4>(top), fx), a10));
    const VD lower = hn::Add(hn::Mul(hn::Mul(b.At<kByte>(bottom), gx), a01),
                             hn::Mul(hn::Mul(b.At<kByte + 4>(bottom), fx), a11));
    const VD v = hn::Div(hn::Add(hn::Mul(lower, fy), hn::Mul(upper, gy)), alpha);
    return hn::ShiftLeft<8 * kByte>(NearestByte(v));
}

// out[i] = the pixel sampled at (ux[i], uy[i]) for i < n, or own[i] where
// that position is off the usable area, as WhirlPixel gives it. kReflect
// takes the point images through the centre of the positions in reverse
// order instead: lane i samples at (2 cx - ux[n-1-i], 2 cy - uy[n-1-i]).
template <bool kReflect>
void WhirlRun(const Picture& pic, const WhirlGeometry& g, const double* ux, const double* uy, int n,
              const uint8_t* own, uint8_t* out) {
    const DD d;
    const BytePicks bytes;
    const DU64 du;
    const int lanes = int(hn::Lanes(d));
    const VD one = hn::Set(d, 1.0), zero = hn::Zero(d);
    const VD lastX = hn::Set(d, g.w - 1.0), lastY = hn::Set(d, g.h - 1.0);
    const VD twoCx = hn::Set(d, 2 * g.cx), twoCy = hn::Set(d, 2 * g.cy);
    int i = 0;
    for (; i + lanes <= n; i += lanes) {
        VD x, y;
        if (kReflect) {
            x = hn::Sub(twoCx, hn::Reverse(d, hn::LoadU(d, ux + (n - i - lanes))));
            y = hn::Sub(twoCy, hn::Reverse(d, hn::LoadU(d, uy + (n - i - lanes))));
        } else {
            x = hn::LoadU(d, ux + i);
            y = hn::LoadU(d, uy + i);
        }
        // As Usable: a position that is not a number is not usable.
        const auto usable = hn::And(hn::And(hn::Ge(x, zero), hn::Lt(x, lastX)),
                                    hn::And(hn::Ge(y, zero), hn::Lt(y, lastY)));
        // The source pixels at the destination are read only where some
        // lane keeps its own: mostly they are not needed, and reading them
        // anyway missed the cache more than any sample did.
        auto ownPixels = [&] {
            return hn::PromoteTo(du,
                                 hn::LoadU(DU32(), reinterpret_cast<const uint32_t*>(own + 4 * i)));
        };
        if (hn::AllFalse(d, usable)) {
            StorePixels(out + 4 * i, ownPixels());
            continue;
        }
        // Lanes that are not used sample the top-left cell, which exists (the
        // picture has two rows and columns at least).
        x = hn::IfThenElseZero(usable, x);
        y = hn::IfThenElseZero(usable, y);
        // Usable positions are not negative: truncation is the floor.
        const hn::Vec<DI32> ix = hn::DemoteTo(DI32(), x), iy = hn::DemoteTo(DI32(), y);
        const VD fx = hn::Sub(x, hn::PromoteTo(d, ix)), fy = hn::Sub(y, hn::PromoteTo(d, iy));
        const VD gx = hn::Sub(one, fx), gy = hn::Sub(one, fy);
        VU64 top, bottom;
        Taps(pic, ix, iy, top, bottom);
        const VD a00 = bytes.At<3>(top), a10 = bytes.At<7>(top);
        const VD a01 = bytes.At<3>(bottom), a11 = bytes.At<7>(bottom);
        const VD alpha = hn::Add(hn::Mul(hn::Add(hn::Mul(a10, fx), hn::Mul(a00, gx)), gy),
                                 hn::Mul(hn::Add(hn::Mul(a11, fx), hn::Mul(a01, gx)), fy));
        const VU64 alphaByte = NearestByte(alpha);
        // Nothing to weigh the colours by: transparent black (the division by
        // a tiny alpha in those lanes is not used).
        const auto black = hn::RebindMask(du, hn::Eq(alphaByte, hn::Zero(du)));
        const VD divisor = hn::IfThenElse(hn::RebindMask(d, black), one, alpha);
        VU64 packed = hn::Or(
            hn::Or(
                WhirlChannel<0>(bytes, top, bottom, fx, gx, fy, gy, a00, a10, a01, a11, divisor),
                WhirlChannel<1>(bytes, top, bottom, fx, gx, fy, gy, a00, a10, a01, a11, divisor)),
            hn::Or(WhirlChannel<2>(bytes, top, bottom, fx, gx, fy, gy, a00, a10, a01, a11, divisor),
                   hn::ShiftLeft<24>(alphaByte)));
        packed = hn::IfThenZeroElse(black, packed);
        if (!hn::AllTrue(d, usable))
            packed = hn::IfThenElse(hn::RebindMask(du, usable), packed, ownPixels());
        StorePixels(out + 4 * i, packed);
    }
    for (; i < n; ++i) {
        const double x = kReflect ? 2 * g.cx - ux[n - 1 - i] : ux[i];
        const double y = kReflect ? 2 * g.cy - uy[n - 1 - i] : uy[i];
        if (Usable(g, x, y))
            WhirlSample(pic, x, y, out + 4 * i);
        else
            CopyPixel(out + 4 * i, own + 4 * i);
    }
}

// Top rows y0..y1-1 with their point images, as WhirlBlock does them: the
// positions of a tile row and of its mirror columns are computed from one set
// of distance terms per column pair, then the row, its mirror columns and
// the point images of both in the bottom row are sampled. A row is sampled
// while the next one's positions are computed, so that the vector loads of
// the positions do not wait for the stores that wrote them.
void WhirlBlockFast(const Picture& pic, uint8_t* dst, const WhirlGeometry& g, int y0, int y1) {
    if (!OffsetsFit(pic)) return WhirlBlock(pic, dst, g, y0, y1);
    constexpr int kTile = 32;
    const double notANumber = std::numeric_limits<double>::quiet_NaN();
    // Left run: columns xa..xb-1. Right run: their distinct mirror columns
    // w-xr..w-1-xa in ascending order, xr being the first column that is its
    // own mirror or lies right of the middle.
    struct Positions {
        alignas(64) double lx[kTile], ly[kTile], rx[kTile], ry[kTile];
        int y;
    } rows[2];
    const int columns = (g.w - 1) / 2 + 1; // the left half with the middle column
    for (int xa = 0; xa < columns; xa += kTile) {
        const int xb = std::min(xa + kTile, columns);
        const int xr = std::min(xb, g.w / 2);
        const int n = xb - xa, m = xr - xa;
        auto compute = [&](Positions& p, int y) {
            p.y = y;
            const double dy = (double(y) - g.cy) * g.sy;
            for (int x = xa; x < xb; ++x) {
                const int i = x - xa, j = xr - 1 - x;
                const double dx = (double(x) - g.cx) * g.sx;
                double factor, cosA, sinA;
                if (!WhirlTerms(g, dx, dy, factor, cosA, sinA)) {
                    // Outside the effect: not a usable position, so the
                    // pixels stay as they are.
                    p.lx[i] = p.ly[i] = notANumber;
                    if (x < xr) p.rx[j] = p.ry[j] = notANumber;
                    continue;
                }
                WhirlPoint(g, dx, dy, factor, cosA, sinA, p.lx[i], p.ly[i]);
                if (x < xr)
                    WhirlPoint(g, (double(g.w - 1 - x) - g.cx) * g.sx, dy, factor, cosA, sinA,
                               p.rx[j], p.ry[j]);
            }
        };
        auto sample = [&](const Positions& p) {
            const int y = p.y, yb = g.h - 1 - y;
            WhirlRun<false>(pic, g, p.lx, p.ly, n, pic.Inside(xa, y), Out(dst, g.w, xa, y));
            WhirlRun<false>(pic, g, p.rx, p.ry, m, pic.Inside(g.w - xr, y),
                            Out(dst, g.w, g.w - xr, y));
            if (yb == y) return; // the middle row of an odd height is its own image
            // Bottom row, columns xa..xa+m-1: the point images of the right
            // run; the middle column, which is its own mirror, its own.
            WhirlRun<true>(pic, g, p.rx, p.ry, m, pic.Inside(xa, yb), Out(dst, g.w, xa, yb));
            if (n > m) WhirlPixel(pic, dst, g, xa + m, yb, 2 * g.cx - p.lx[m], 2 * g.cy - p.ly[m]);
            // Bottom row, columns w-xr..w-1-xa: the point images of the left run.
            WhirlRun<true>(pic, g, p.lx, p.ly, m, pic.Inside(g.w - xr, yb),
                           Out(dst, g.w, g.w - xr, yb));
        };
        for (int y = y0; y < y1; ++y) {
            compute(rows[(y - y0) & 1], y);
            if (y > y0) sample(rows[(y - y0 - 1) & 1]);
        }
        if (y1 > y0) sample(rows[(y1 - 1 - y0) & 1]);
    }
}

#else

void WaveBlockFast(const Picture& pic, uint8_t* dst, const WaveGeometry& g, int y0, int ka, int kb,
                   const double* s, size_t stride, int x0) {
    WaveBlock(pic, dst, g, y0, ka, kb, s, stride, x0);
}

void WhirlBlockFast(const Picture& pic, uint8_t* dst, const WhirlGeometry& g, int y0, int y1) {
    WhirlBlock(pic, dst, g, y0, y1);
}

#endif
