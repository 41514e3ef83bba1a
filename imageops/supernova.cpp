#include "imageops/supernova.h"

#include "imageops/overlays.h"
#include "imageops/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

// A draw in 0..32766: the top value is folded onto the one below it, so that
// r / 32767 stays below 1.
inline int Draw() {
    const int r = RuntimeRand15();
    return r == 32767 ? 32766 : r;
}

// Hand-edited settings outside the dialog's ranges are brought back to values
// the formulas can use: at least one spoke and a radius of at least 1 pixel
// (the dialog allows 1..1024 and 1..100).
int SpokeCount(const SuperNovaValues& v) {
    return std::clamp(v.nspoke, 1, 1 << 16);
}

std::array<float, 3> FromHsv(float h, float s, float v) {
    if (s == 0.0f) return {v, v, v};
    const float h6 = h * 6.0f;
    const int k = std::clamp(int(h6), 0, 5);
    const float f = h6 - float(k);
    const float p = v * (1.0f - s), q = v * (1.0f - s * f), t = v * (1.0f - s * (1.0f - f));
    switch (k) {
    case 0:
        return {v, t, p};
    case 1:
        return {q, v, p};
    case 2:
        return {p, v, t};
    case 3:
        return {p, q, v};
    case 4:
        return {t, p, v};
    default:
        return {v, p, q};
    }
}

inline uint8_t RoundByte(double v) {
    const double b = v + 0.5;
    return !(b > 0.0) ? 0 : b >= 255.0 ? 255 : uint8_t(int(b));
}

} // namespace

NovaSpokes DrawNovaSpokes(const SuperNovaValues& v) {
    const float c0 = v.color.r, c1 = v.color.g, c2 = v.color.b;
    const float mx = std::max({c0, c1, c2}), mn = std::min({c0, c1, c2});
    const float delta = mx - mn;
    float h = 0.0f, s = 0.0f;
    const float value = mx;
    if (delta > 0.0001f) {
        s = delta / mx;
        if (c0 == mx) {
            h = (c1 - c2) / delta;
            if (h < 0.0f) h += 6.0f;
        } else if (c1 == mx) {
            h = 2.0f + (c2 - c0) / delta;
        } else {
            h = 4.0f + (c0 - c1) / delta;
        }
        h /= 6.0f;
    }
    const int n = SpokeCount(v);
    // Degrees as a share of the full turn (a real quotient: 180 is half).
    const float hueRange = float(v.randomhue) / 360.0f;
    NovaSpokes out;
    out.length.resize(size_t(n));
    out.color.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        double sum = 0.0;
        for (int k = 0; k < 6; ++k) sum += Draw() / 32767.0;
        out.length[size_t(i)] = sum / 6.0;
        h += (float(Draw()) / 32767.0f - 0.5f) * hueRange;
        if (h < 0.0f)
            h += 1.0f;
        else if (h >= 1.0f)
            h -= 1.0f;
        if (!(h >= 0.0f && h < 1.0f)) h = std::isfinite(h) ? h - std::floor(h) : 0.0f;
        out.color[size_t(i)] = FromHsv(h, s, value);
    }
    return out;
}

void SuperNovaSeeded(const uint8_t* src, uint8_t* dst, int width, int height,
                     const SuperNovaValues& v, unsigned seed) {
    std::srand(seed);
    if (width <= 0 || height <= 0) return;
    const NovaSpokes spokes = DrawNovaSpokes(v);
    const int n = int(spokes.length.size());
    const double radius = double(std::max(v.radius, 1));
    const double xc = v.xcenter, yc = v.ycenter;
    const size_t pixels = size_t(width) * size_t(height);
    // The spokes are drawn; the pixels draw nothing and depend on no other
    // output, so rows may go to several threads.
    imageops::ParallelRows(height, pixels, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const double vy = (y - yc) / radius;
            for (int x = 0; x < width; ++x) {
                const size_t at = 4 * (size_t(y) * size_t(width) + size_t(x));
                const double ux = (x - xc) / radius;
                const double turn = (std::atan2(ux, vy) / 6.2831853 + 0.51) * n;
                const double k = std::floor(turn);
                const double t = turn - k;
                const int i = int(std::fmod(k, double(n)) + (k < 0 ? n : 0)) % n;
                const int j = (i + 1) % n;
                const double len =
                    spokes.length[size_t(i)] * (1.0 - t) + spokes.length[size_t(j)] * t;
                const double w1 = len * len;
                const double l = std::sqrt(ux * ux + vy * vy);
                const double w = (1.0 / (l + 0.001)) * 0.9;
                const double a = std::clamp(w, 0.0, 1.0);
                const double sa = src[at + 3] / 255.0;
                const double na = sa + (1.0 - sa) * a;
                const double ratio = na == 0.0 ? 0.0 : a / na;
                const double keep = 1.0 - ratio;
                const double glow = std::clamp(w1 * w, 0.0, 1.0);
                for (int c = 0; c < 3; ++c) {
                    const double spoke = spokes.color[size_t(i)][size_t(c)] * (1.0 - t) +
                                         spokes.color[size_t(j)][size_t(c)] * t;
                    double col;
                    if (w > 1.0)
                        col = std::clamp(spoke * w, 0.0, 1.0);
                    else
                        col = (src[at + size_t(c)] / 255.0) * keep + spoke * ratio;
                    col += glow;
                    dst[at + size_t(c)] = RoundByte(std::clamp(col * 255.0, 0.0, 255.0));
                }
                dst[at + 3] = RoundByte(255.0 * na);
            }
        }
    });
}

void SuperNova(const uint8_t* src, uint8_t* dst, int width, int height, const SuperNovaValues& v) {
    SuperNovaSeeded(src, dst, width, height, v, unsigned(std::time(nullptr)));
}

void SetNovaColor(ProcessingSettings& s, uint8_t red, uint8_t green, uint8_t blue) {
    s.m_NovaColor = int32_t(uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16);
    // Component 0 drives byte 0 of the working buffer, which is blue.
    s.m_nvals.color.r = float(blue / 255.0);
    s.m_nvals.color.g = float(green / 255.0);
    s.m_nvals.color.b = float(red / 255.0);
}
