// The pixel loops of Wave and Whirl & Pinch, included by displacement.cpp once
// for each vector target (inside that target's namespace) and once for the
// plain form. No include guard: each inclusion is meant.
//
// The including code provides a pixel type Px holding the four bytes of a
// pixel as doubles, and
//   Widen(p)            the four bytes at p as a Px,
//   Scale(v, s)         each lane times s,
//   Plus(a, b)          the lanes added,
//   Divide(v, s)        each lane divided by s,
//   WithLast(v, s)      v with its last lane s,
//   StoreNearest(p, v)  each lane rounded to nearest (ties to even), held to
//                       0..255 and stored as a byte.
// Each lane goes through exactly the operations the scalar formula has, in its
// order (no lane mixes with another, nothing is fused), so every form gives the
// bytes of the formula.

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
    StoreNearest(out, Plus(Scale(Plus(Scale(Widen(p00), gx), Scale(Widen(p10), fx)), gy),
                           Scale(Plus(Scale(Widen(p01), gx), Scale(Widen(p11), fx)), fy)));
}

// What a row of Wave shares among its pixels.
struct WaveRow {
    double dy, loX, hiX, loY, hiY;
    bool unitX, unitY;
};

[[gnu::always_inline]] inline WaveRow MakeWaveRow(const WaveGeometry& g, int y) {
    // Smear keeps positions on the picture (its last column and row included,
    // so that a still wave leaves every pixel where it is); otherwise they are
    // only held where every sample is transparent black anyway.
    WaveRow r;
    r.dy = (double(y) - g.cy) * g.sy;
    r.loX = g.smear ? 0.0 : -2.0;
    r.hiX = g.smear ? g.w - 1.0 : g.w + 1.0;
    r.loY = g.smear ? 0.0 : -2.0;
    r.hiY = g.smear ? g.h - 1.0 : g.h + 1.0;
    r.unitX = g.sx == 1.0;
    r.unitY = g.sy == 1.0;
    return r;
}

// The limited sampling position of pixel x of a row. s holds the wave value
// for columns x0..w (column w only as the mirror of column 0); the columns
// left of x0 take the value of their mirror image w - x, whose distance from
// the centre is the same. Dividing by a scale of 1 changes nothing, so that
// division is skipped.
[[gnu::always_inline]] inline void WavePoint(const WaveGeometry& g, const WaveRow& r, int x,
                                             const double* s, int x0, double& px, double& py) {
    const double sv = x >= x0 ? s[x - x0] : s[g.w - x - x0];
    const double dx = (double(x) - g.cx) * g.sx;
    double nx, ny;
    if (g.reflective) {
        const double a = std::fabs(sv) * g.amplitude;
        nx = dx * a;
        ny = r.dy * a;
    } else {
        const double a = sv * g.amplitude;
        nx = dx + a;
        ny = r.dy + a;
    }
    nx = (r.unitX ? nx : nx / g.sx) + g.cx;
    ny = (r.unitY ? ny : ny / g.sy) + g.cy;
    px = Limit(nx, r.loX, r.hiX);
    py = Limit(ny, r.loY, r.hiY);
}

// Columns xa..xb-1 of one destination row.
[[gnu::always_inline]] inline void WaveRowPart(const Picture& pic, uint8_t* dst,
                                               const WaveGeometry& g, int y, const double* s,
                                               int x0, int xa, int xb) {
    const WaveRow r = MakeWaveRow(g, y);
    uint8_t* out = Out(dst, g.w, xa, y);
    for (int x = xa; x < xb; ++x, out += 4) {
        double nx, ny;
        WavePoint(g, r, x, s, x0, nx, ny);
        WaveSample(pic, nx, ny, out);
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
    const Px top = Plus(Scale(Scale(Widen(p00), gx), a00), Scale(Scale(Widen(p10), fx), a10));
    const Px bottom = Plus(Scale(Scale(Widen(p01), gx), a01), Scale(Scale(Widen(p11), fx), a11));
    StoreNearest(out,
                 WithLast(Divide(Plus(Scale(bottom, fy), Scale(top, gy)), alpha), alphaRounded));
}

// The sampling position of a pixel whose distance terms are given.
[[gnu::always_inline]] inline void WhirlPoint(const WhirlGeometry& g, double dx, double dy,
                                              double factor, double cosA, double sinA, double& ux,
                                              double& uy) {
    const double fdx = dx * factor, fdy = dy * factor;
    // Dividing by a scale of 1 changes nothing, so that division is skipped.
    const double rx = cosA * fdx - sinA * fdy, ry = sinA * fdx + cosA * fdy;
    ux = (g.sx == 1.0 ? rx : rx / g.sx) + g.cx;
    uy = (g.sy == 1.0 ? ry : ry / g.sy) + g.cy;
}

// The distance terms of a pixel at (dx, dy) from the centre: false where it
// lies outside the effect and stays as it is.
[[gnu::always_inline]] inline bool WhirlTerms(const WhirlGeometry& g, double dx, double dy,
                                              double& factor, double& cosA, double& sinA) {
    const double d = dx * dx + dy * dy;
    if (!(d < g.radius2)) return false;
    const double dist = std::sqrt(d / g.r) / g.R;
    // At the centre itself there is nothing to move (and with a positive
    // pinch 0 would be raised to a negative power).
    factor = 1.0;
    if (g.pinch != 0 && d != 0) factor = std::pow(std::sin(std::numbers::pi / 2 * dist), -g.pinch);
    const double ang = g.angle * ((1 - dist) * (1 - dist));
    cosA = std::cos(ang);
    sinA = std::sin(ang);
    return true;
}

// The pixel (x, y) sampled at (ux, uy); a sample off the usable area leaves
// the pixel as it is in the source.
[[gnu::always_inline]] inline void WhirlPixel(const Picture& pic, uint8_t* dst,
                                              const WhirlGeometry& g, int x, int y, double ux,
                                              double uy) {
    uint8_t* out = Out(dst, g.w, x, y);
    if (Usable(g, ux, uy))
        WhirlSample(pic, ux, uy, out);
    else
        CopyPixel(out, pic.Inside(x, y));
}

// The pixel (x, y), whose distance terms are given, and its point image
// through the centre, (w-1-x, h-1-y), which samples at the reflected
// position.
[[gnu::always_inline]] inline void WhirlPixelPair(const Picture& pic, uint8_t* dst,
                                                  const WhirlGeometry& g, int x, int y, double dx,
                                                  double dy, double factor, double cosA,
                                                  double sinA) {
    double ux, uy;
    WhirlPoint(g, dx, dy, factor, cosA, sinA, ux, uy);
    WhirlPixel(pic, dst, g, x, y, ux, uy);
    const int yb = g.h - 1 - y;
    if (yb == y) return; // the middle row of an odd height is its own image
    WhirlPixel(pic, dst, g, g.w - 1 - x, yb, 2 * g.cx - ux, 2 * g.cy - uy);
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
        double factor, cosA, sinA;
        if (!WhirlTerms(g, dx, dy, factor, cosA, sinA)) {
            // Outside the effect: all four pixels stay.
            for (int xx : {x, xm}) {
                CopyPixel(Out(dst, g.w, xx, y), pic.Inside(xx, y));
                if (yb != y) CopyPixel(Out(dst, g.w, xx, yb), pic.Inside(xx, yb));
            }
            continue;
        }
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
