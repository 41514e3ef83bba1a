#pragma once
// Plain forms of Wave, Ripple and Whirl & Pinch: one destination pixel at a
// time, every step computed in the formula's own order, with no shared
// terms, no symmetry and no threads. The tests hold the effects to them byte
// for byte. Where the bare formulas would break or leave a choice, they take
// the readings the effects take:
// - Wave: smear keeps positions in 0..W-1 x 0..H-1 (so a still wave moves
//   nothing), the cell is found with floor (positions left of or above the
//   picture fade toward black), and a wavelength of 0 leaves the picture.
// - Ripple: a shift within 1e-9 of a whole number is that number, a truncated
//   mean gets 1e-9 added first, a period below 1 is 1, tiling with a period
//   longer than the picture uses the picture's length, and a blended pixel with
//   no alpha weight is transparent black.
// - Whirl & Pinch: the centre pixel does not move, a sample off the usable area
//   leaves the source pixel, the top half of the rows (with the middle row)
//   is computed directly and the bottom half by reflection through the centre,
//   and a single row or column stays as it is.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace plain_displacement {

using Buffer = std::vector<uint8_t>;

struct Reader {
    const Buffer& b;
    int w, h;
    // Byte c of pixel (x, y); 0 outside the picture.
    double operator()(double x, double y, int c) const {
        if (x < 0 || y < 0 || x >= w || y >= h) return 0;
        return b[(size_t(y) * size_t(w) + size_t(x)) * 4 + size_t(c)];
    }
};

inline uint8_t Byte(double v) {
    return uint8_t(std::clamp(std::nearbyint(v), 0.0, 255.0));
}

inline Buffer PlainWave(const Buffer& src, int W, int H, int amplitude, int wavelength, int phase,
                        bool smear, bool reflective) {
    Buffer dst(src.size());
    if (wavelength == 0) return src;
    const Reader at{src, W, H};
    const double A = amplitude, lambda = wavelength, phi = phase;
    const double cx = W / 2.0, cy = H / 2.0;
    const double phiR = phi * 3.14159265 / 180;
    double sx = 1, sy = 1;
    if (W > H) sy = (W / 2.0) / (H / 2.0);
    if (H > W) sx = (H / 2.0) / (W / 2.0);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double dx = (x - cx) * sx, dy = (y - cy) * sy;
            const double d = std::sqrt(dx * dx + dy * dy);
            const double s = std::sin(d / (2 * lambda) * 6.2831853 + phiR);
            double nx, ny;
            if (reflective) {
                const double a = std::fabs(s) * A;
                nx = dx * a / sx + cx;
                ny = dy * a / sy + cy;
            } else {
                const double a = s * A;
                nx = (dx + a) / sx + cx;
                ny = (dy + a) / sy + cy;
            }
            if (smear) {
                nx = std::clamp(nx, 0.0, W - 1.0);
                ny = std::clamp(ny, 0.0, H - 1.0);
            }
            const double xi = std::floor(nx), yi = std::floor(ny);
            const double fx = nx - xi, fy = ny - yi;
            for (int c = 0; c < 4; ++c) {
                const double v = (at(xi, yi, c) * (1 - fx) + at(xi + 1, yi, c) * fx) * (1 - fy) +
                                 (at(xi, yi + 1, c) * (1 - fx) + at(xi + 1, yi + 1, c) * fx) * fy;
                dst[(size_t(y) * size_t(W) + size_t(x)) * 4 + size_t(c)] = Byte(v);
            }
        }
    return dst;
}

inline double PlainRippleAmount(int t, int P, double phaseShift, double A, bool sine) {
    const double f = phaseShift / 360;
    double amount;
    if (!sine) {
        double r = (t % P) - f * P;
        if (r < 0) r = r + P;
        amount = (std::fabs(r / P * 4 - 2) - 1) * A;
    } else {
        amount = std::sin((double(t) / P - f) * 6.2831853) * A;
    }
    const double whole = std::round(amount);
    return std::fabs(amount - whole) < 1e-9 ? whole : amount;
}

// edges: 0 smear, 1 wrap, 2 blank.
inline Buffer PlainRipple(const Buffer& src, int W, int H, int amplitude, int period,
                          int phaseShift, bool vertical, int edges, bool sine, bool antialias,
                          bool tile) {
    Buffer dst = src;
    const Reader at{src, W, H};
    int P = std::max(period, 1);
    if (tile) {
        edges = 1;
        const int len = vertical ? H : W;
        P = len / std::max(len / P, 1);
    }
    const int L = vertical ? H : W;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            double n = vertical ? y + PlainRippleAmount(x, P, phaseShift, amplitude, sine)
                                : x + PlainRippleAmount(y, P, phaseShift, amplitude, sine);
            double i = std::floor(n), second;
            if (edges == 1) {
                n = std::fmod(n, L);
                if (n < 0) n += L;
                i = std::fmod(i, L);
                if (i < 0) i += L;
                second = std::fmod(i + 1, L);
            } else if (edges == 0) {
                n = std::clamp(n, 0.0, L - 1.0);
                i = std::clamp(i, 0.0, L - 1.0);
                second = std::clamp(i + 1, 0.0, L - 1.0);
            } else {
                second = i + 1;
            }
            auto px = [&](double k, int c) { return vertical ? at(x, k, c) : at(k, y, c); };
            uint8_t* out = &dst[(size_t(y) * size_t(W) + size_t(x)) * 4];
            if (!antialias) {
                for (int c = 0; c < 4; ++c) out[c] = uint8_t(px(i, c));
                continue;
            }
            const double f = std::clamp(n - i, 0.0, 1.0);
            const double a0 = px(i, 3), a1 = px(second, 3);
            const double alpha = (1 - f) * a0 + f * a1;
            if (alpha == 0) {
                std::memset(out, 0, 4);
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const double v = (px(second, c) * f * a1 + px(i, c) * (1 - f) * a0) / alpha;
                out[c] = uint8_t(std::clamp(std::trunc(v + 1e-9), 0.0, 255.0));
            }
            out[3] = uint8_t(std::clamp(std::trunc(alpha + 1e-9), 0.0, 255.0));
        }
    return dst;
}

inline Buffer PlainWhirlPinch(const Buffer& src, int W, int H, int radius, int pinch, int whirl) {
    if (W == 1 || H == 1) return src;
    Buffer dst(src.size());
    const Reader at{src, W, H};
    const double p = pinch / 100.0, r = radius / 100.0;
    const double cx = (W - 1) / 2.0, cy = (H - 1) / 2.0;
    double sx = 1, sy = 1;
    if (W > H) sy = cx / cy;
    if (H > W) sx = cy / cx;
    const double R = std::max(cx, cy), R2 = R * R * r;
    const double theta = whirl * 3.14159265 / 180;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* out = &dst[(size_t(y) * size_t(W) + size_t(x)) * 4];
            auto keep = [&] {
                for (int c = 0; c < 4; ++c) out[c] = uint8_t(at(x, y, c));
            };
            // Rows below the middle take the reflection of their point image.
            const bool bottom = y > (H - 1) / 2;
            const int ox = bottom ? W - 1 - x : x, oy = bottom ? H - 1 - y : y;
            double dx = (ox - cx) * sx, dy = (oy - cy) * sy;
            const double d = dx * dx + dy * dy;
            if (d >= R2) {
                keep();
                continue;
            }
            const double dist = std::sqrt(d / r) / R;
            const double factor =
                d == 0 ? 1.0 : std::pow(std::sin(std::numbers::pi / 2 * dist), -p);
            dx *= factor;
            dy *= factor;
            const double ang = theta * ((1 - dist) * (1 - dist));
            double ux = (std::cos(ang) * dx - std::sin(ang) * dy) / sx + cx;
            double uy = (std::sin(ang) * dx + std::cos(ang) * dy) / sy + cy;
            if (bottom) {
                ux = 2 * cx - ux;
                uy = 2 * cy - uy;
            }
            const double ix = std::floor(ux), iy = std::floor(uy);
            if (!(ix >= 0 && ix < W - 1 && iy >= 0 && iy < H - 1)) {
                keep();
                continue;
            }
            const double fx = ux - ix, fy = uy - iy;
            const double a00 = at(ix, iy, 3), a10 = at(ix + 1, iy, 3);
            const double a01 = at(ix, iy + 1, 3), a11 = at(ix + 1, iy + 1, 3);
            const double alpha =
                (a10 * fx + a00 * (1 - fx)) * (1 - fy) + (a11 * fx + a01 * (1 - fx)) * fy;
            const double alphaR = std::nearbyint(alpha);
            if (alphaR == 0) {
                std::memset(out, 0, 4);
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                const double v =
                    ((at(ix, iy + 1, c) * (1 - fx) * a01 + at(ix + 1, iy + 1, c) * fx * a11) * fy +
                     (at(ix, iy, c) * (1 - fx) * a00 + at(ix + 1, iy, c) * fx * a10) * (1 - fy)) /
                    alpha;
                out[c] = Byte(v);
            }
            out[3] = Byte(alphaR);
        }
    return dst;
}

} // namespace plain_displacement
