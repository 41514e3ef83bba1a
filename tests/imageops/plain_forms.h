#pragma once
// Plain per-pixel forms of operations, written from their descriptions. The
// tests check the fast forms against them; the benchmarks time both.

#include "app/bmp_file.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

namespace imageops_plain {

inline int Clamp(int v) {
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

inline uint8_t Channel(const CColor24& p, int c) {
    return c == 0 ? p.r : c == 1 ? p.g : p.b;
}

template <class Fn> BMP_File PerPixel(BMP_File img, Fn fn) {
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) img.Pixel(x, y) = fn(img.Pixel(x, y));
    return img;
}

inline BMP_File PlainBrightness(const BMP_File& in, int br, int bg, int bb) {
    auto off = [](int s) { return -150 - int(std::trunc(s / 100.0 * (-300.0))); };
    const int o[3] = {off(br), off(bg), off(bb)};
    return PerPixel(in, [&](CColor24 p) {
        return CColor24(uint8_t(Clamp(p.r + o[0])), uint8_t(Clamp(p.g + o[1])),
                        uint8_t(Clamp(p.b + o[2])));
    });
}

inline BMP_File PlainKernelFilter(const BMP_File& in, const std::array<int, 9>& k, bool invert) {
    const int w = in.Width(), h = in.Height();
    BMP_File out;
    out.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int x0 = std::max(x - 1, 0), x1 = std::min(x + 1, w - 1);
            const int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, h - 1);
            uint8_t res[3];
            for (int c = 0; c < 3; ++c) {
                int sum = 0, ksum = 0;
                for (int j = 0; j <= y1 - y0; ++j)
                    for (int i = 0; i <= x1 - x0; ++i) {
                        sum += Channel(in.Pixel(x0 + i, y0 + j), c) * k[size_t(i + 3 * j)];
                        ksum += k[size_t(i + 3 * j)];
                    }
                int v = int(std::trunc(sum * 1.0));
                if (ksum != 0) v /= ksum;
                v = Clamp(v);
                if (invert) v = 200 - v < 0 ? 0 : 200 - v;
                res[c] = uint8_t(v);
            }
            out.Pixel(x, y) = CColor24(res[0], res[1], res[2]);
        }
    return out;
}

inline BMP_File PlainBlur(BMP_File img, int size) {
    const int r = (size - 1) / 2, w = img.Width(), h = img.Height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum[3] = {0, 0, 0}, n = 0;
            for (int yy = std::max(y - r, 0); yy <= std::min(y + r, h - 1); ++yy)
                for (int xx = std::max(x - r, 0); xx <= std::min(x + r, w - 1); ++xx) {
                    const CColor24 p = img.Pixel(xx, yy);
                    sum[0] += p.r;
                    sum[1] += p.g;
                    sum[2] += p.b;
                    ++n;
                }
            img.Pixel(x, y) =
                CColor24(uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n));
        }
    return img;
}

// Bilinear rotation, one destination pixel at a time: the pixel centre goes
// back through the inverse rotation about the picture's centre, in fixed point
// with 32 fractional bits (origin and steps rounded once), rounded to 1/256
// pixel, and the four pixels around it (background outside) are weighted.
inline BMP_File PlainRotate(const BMP_File& in, float degrees, CColor24 bg) {
    const int w = in.Width(), h = in.Height();
    const double rad = double(degrees) * (3.14159265358979323846 / 180.0);
    const double c = std::cos(rad), s = std::sin(rad), cx = w / 2.0, cy = h / 2.0;
    auto fixed = [](double v) { return int64_t(std::llround(v * 4294967296.0)); };
    const int64_t ox = fixed(c * (0.5 - cx) + s * (0.5 - cy) + cx - 0.5);
    const int64_t oy = fixed(c * (0.5 - cy) - s * (0.5 - cx) + cy - 0.5);
    const int64_t cs = fixed(c), sn = fixed(s), msn = fixed(-s);
    auto floorDiv = [](int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); };
    auto at = [&](int64_t x, int64_t y) {
        return x >= 0 && x < w && y >= 0 && y < h ? in.Pixel(int(x), int(y)) : bg;
    };
    BMP_File out;
    out.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int64_t px = ox + x * cs + y * sn, py = oy + x * msn + y * cs;
            // Nearest 1/256 pixel: add half of 2^-8 in 2^-32 units, drop 24 bits.
            const int64_t fx = floorDiv(px + (int64_t(1) << 23), int64_t(1) << 24);
            const int64_t fy = floorDiv(py + (int64_t(1) << 23), int64_t(1) << 24);
            const int64_t x0 = floorDiv(fx, 256), y0 = floorDiv(fy, 256);
            const int ax = int(fx - x0 * 256), ay = int(fy - y0 * 256);
            const CColor24 p[4] = {at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1), at(x0 + 1, y0 + 1)};
            const int wt[4] = {(256 - ax) * (256 - ay), ax * (256 - ay), (256 - ax) * ay, ax * ay};
            int acc[3] = {32768, 32768, 32768};
            for (int i = 0; i < 4; ++i) {
                acc[0] += wt[i] * p[i].r;
                acc[1] += wt[i] * p[i].g;
                acc[2] += wt[i] * p[i].b;
            }
            out.Pixel(x, y) =
                CColor24(uint8_t(acc[0] / 65536), uint8_t(acc[1] / 65536), uint8_t(acc[2] / 65536));
        }
    return out;
}

// Light region over a rectangle in image pixels: an ellipse whose centre moves
// each channel by up to 200 toward the target and whose rim moves nothing.
// Pixels of the rectangle outside the picture are skipped.
inline void PlainLightRegion(BMP_File& img, int left, int top, int right, int bottom, int tr,
                             int tg, int tb) {
    const int cx = (left + right) / 2, cy = (top + bottom) / 2;
    const int ax = (right - left) / 2, ay = (bottom - top) / 2;
    if (ax == 0 || ay == 0) return;
    const int target[3] = {tr, tg, tb};
    for (int x = left; x < right; ++x)
        for (int y = top; y < bottom; ++y) {
            if (x < 0 || y < 0 || x >= img.Width() || y >= img.Height()) continue;
            const double q = double(x - cx) * double(x - cx) / double(ax * ax);
            const float r = float((y - cy) * (y - cy)) / float(ay * ay);
            const float d = std::sqrt(float(r + float(q)));
            const int amount = int(std::trunc((1.0f - d) * 200.0));
            if (amount < 0) continue;
            uint8_t* p = &img.Pixel(x, y).r;
            for (int c = 0; c < 3; ++c) {
                const int v = p[c];
                p[c] = uint8_t(v <= target[c] ? std::min(v + amount, target[c])
                                              : std::max(v - amount, target[c]));
            }
        }
}

// Mask blend: the mask is stretched over the picture by the index maps mx and
// my; a = channel sum / 765 (a float), inverted if asked, floored at the
// opacity; each channel becomes trunc(v * a + colour * (1 - a)).
template <class Map>
void PlainMask(BMP_File& img, const BMP_File& mask, const Map& mx, const Map& my, bool invert,
               float opacity, int cr, int cg, int cb) {
    const int colour[3] = {cr, cg, cb};
    for (int x = 0; x < img.Width(); ++x)
        for (int y = 0; y < img.Height(); ++y) {
            const CColor24 m = mask.Pixel(int(mx[size_t(x)]), int(my[size_t(y)]));
            float a = float((m.r + m.g + m.b) / 765.0);
            if (invert) a = 1.0f - a;
            if (a < opacity) a = opacity;
            uint8_t* p = &img.Pixel(x, y).r;
            for (int c = 0; c < 3; ++c)
                p[c] = uint8_t(int(float(p[c]) * a + float(colour[c]) * (1.0f - a)));
        }
}

} // namespace imageops_plain
