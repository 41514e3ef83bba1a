// Plain reference implementations for the Sarnel tests: every window gathered and
// sorted or summed directly, every transform a direct sum. Slow and obvious on purpose.
#pragma once

#include "sarnel/internal.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <vector>

namespace sarnel_test {

using sarnel::Plane;

inline Plane randomPlane(int w, int h, int lo, int hi, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    Plane p;
    p.width = w;
    p.height = h;
    p.samples.resize(size_t(w) * size_t(h));
    for (auto& s : p.samples) s = int16_t(dist(rng));
    return p;
}

inline Plane constantPlane(int w, int h, int value) {
    Plane p;
    p.width = w;
    p.height = h;
    p.samples.assign(size_t(w) * size_t(h), int16_t(value));
    return p;
}

// Samples of the window centred on (x, y) with half-sizes rx, ry, clipped, in row order.
inline std::vector<int> window(const Plane& p, int x, int y, int rx, int ry) {
    std::vector<int> v;
    for (int r = std::max(0, y - ry); r <= std::min(p.height - 1, y + ry); ++r)
        for (int c = std::max(0, x - rx); c <= std::min(p.width - 1, x + rx); ++c)
            v.push_back(p.samples[size_t(r) * size_t(p.width) + size_t(c)]);
    return v;
}

// Applies fn(window samples in row order, own sample) to every pixel of a copy.
inline Plane mapWindows(const Plane& p, int aw, int ah,
                        const std::function<int(std::vector<int>&, int)>& fn) {
    const int rx = std::max(0, (aw - 1) / 2), ry = std::max(0, (ah - 1) / 2);
    Plane out = p;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            std::vector<int> w = window(p, x, y, rx, ry);
            out.samples[size_t(y) * size_t(p.width) + size_t(x)] =
                int16_t(fn(w, p.samples[size_t(y) * size_t(p.width) + size_t(x)]));
        }
    return out;
}

// Stores a result computed in extended precision: non-finite results are 0, values
// beyond the sample range saturate, the rest truncates toward zero. A value within
// 1e-13 (relative) of a whole number is taken as whole: that is far beyond the
// rounding of the extended computation, and far closer than any result of the
// test planes that is not whole in exact arithmetic.
inline int refTrunc(long double v) {
    if (!std::isfinite(v)) return 0;
    v = std::clamp(v, -32768.0L, 32767.0L);
    const long double r = std::round(v);
    if (std::fabs(v - r) <= 1e-13L * std::max(1.0L, std::fabs(r))) return int(r);
    return int(std::trunc(v));
}

// Order statistics by sorting.
inline Plane refRank(const Plane& p, int aw, int ah,
                     const std::function<int(const std::vector<int>&)>& pick) {
    return mapWindows(p, aw, ah, [&](std::vector<int>& w, int) {
        std::sort(w.begin(), w.end());
        return pick(w);
    });
}
inline int medianOf(const std::vector<int>& s) {
    return s[(s.size() + 1) / 2 - 1];
}

inline Plane refTrimmed(const Plane& p, int aw, int ah, int d) {
    return refRank(p, aw, ah, [d](const std::vector<int>& s) {
        const int n = int(s.size());
        const int k = std::min(d, n - 3) / 2;
        const int drop = k > 0 ? k : 0;
        long double sum = 0;
        for (int i = drop; i < n - drop; ++i) sum += s[size_t(i)];
        return refTrunc(sum / (n - 2 * drop));
    });
}

// Contraharmonic mean; with `illConditioned`, marks the windows whose sums cancel to
// under 1e-9 of their magnitude, where any summation order gives a different quotient.
inline Plane refContraharmonic(const Plane& p, int aw, int ah, double q,
                               std::vector<bool>* illConditioned = nullptr) {
    if (illConditioned) illConditioned->clear();
    return mapWindows(p, aw, ah, [q, illConditioned](std::vector<int>& w, int) {
        long double num = 0, den = 0, numMag = 0, denMag = 0;
        for (int s : w) {
            const long double v = s;
            num += std::pow(v, q + 1);
            den += std::pow(v, static_cast<long double>(q));
            numMag += std::fabs(std::pow(v, q + 1));
            denMag += std::fabs(std::pow(v, static_cast<long double>(q)));
        }
        if (illConditioned)
            illConditioned->push_back(std::fabs(num) < 1e-9 * numMag ||
                                      std::fabs(den) < 1e-9 * denMag);
        return refTrunc(num / den);
    });
}

inline Plane refHarmonic(const Plane& p, int aw, int ah,
                         std::vector<bool>* illConditioned = nullptr) {
    if (illConditioned) illConditioned->clear();
    return mapWindows(p, aw, ah, [illConditioned](std::vector<int>& w, int) {
        long double den = 0, mag = 0;
        for (int s : w) den += 1.0L / s, mag += std::fabs(1.0L / s);
        if (illConditioned) illConditioned->push_back(std::fabs(den) < 1e-9 * mag);
        return refTrunc(static_cast<long double>(w.size()) / den);
    });
}

inline Plane refGeometric(const Plane& p, int aw, int ah) {
    return mapWindows(p, aw, ah, [](std::vector<int>& w, int) {
        long double prod = 1;
        for (int s : w) prod *= s;
        if (prod <= 0) return 0;
        return refTrunc(std::pow(prod, 1.0L / w.size()));
    });
}

inline Plane refAdaptiveLocal(const Plane& p, int aw, int ah, double noise) {
    return mapWindows(p, aw, ah, [noise](std::vector<int>& w, int g) {
        long double m = 0;
        for (int s : w) m += s;
        m /= static_cast<long double>(w.size());
        long double var = 0;
        for (int s : w) var += (s - m) * (s - m);
        var /= static_cast<long double>(w.size());
        long double r = noise / var;
        if (!(r < 1)) r = 1;
        return refTrunc(g - r * (g - m));
    });
}

inline Plane refAdaptiveMedian(const Plane& p, int sMin, int sMax) {
    Plane out = p;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const int z = p.samples[size_t(y) * size_t(p.width) + size_t(x)];
            int result = z;
            for (int s = sMin; s + 1 <= sMax; ++s) {
                std::vector<int> w = window(p, x, y, s / 2, s / 2);
                std::sort(w.begin(), w.end());
                const int zmin = w.front(), zmax = w.back(), zmed = medianOf(w);
                if (zmin < zmed && zmed < zmax) {
                    result = (zmin < z && z < zmax) ? z : zmed;
                    break;
                }
            }
            out.samples[size_t(y) * size_t(p.width) + size_t(x)] = int16_t(result);
        }
    return out;
}

// Direct DFT with sign +1 (e^{+2 pi i jk/n}), unscaled, in long double.
inline std::vector<std::complex<double>> directDft(const std::vector<std::complex<double>>& x,
                                                   int sign) {
    const size_t n = x.size();
    std::vector<std::complex<double>> out(n);
    const long double twoPi = 6.283185307179586476925286766559L;
    for (size_t k = 0; k < n; ++k) {
        long double re = 0, im = 0;
        for (size_t j = 0; j < n; ++j) {
            const long double a = sign * twoPi * (long double)((j * k) % n) / (long double)n;
            const long double c = std::cos(a), s = std::sin(a);
            re += x[j].real() * c - x[j].imag() * s;
            im += x[j].real() * s + x[j].imag() * c;
        }
        out[k] = {double(re), double(im)};
    }
    return out;
}

// Direct 2-D DFT, row-major W x H, scaled by 1/sqrt(W H).
inline std::vector<std::complex<double>> directDft2(const std::vector<std::complex<double>>& x,
                                                    int w, int h, int sign) {
    std::vector<std::complex<double>> out(x.size());
    const long double twoPi = 6.283185307179586476925286766559L;
    for (int l = 0; l < h; ++l)
        for (int k = 0; k < w; ++k) {
            long double re = 0, im = 0;
            for (int y = 0; y < h; ++y)
                for (int c = 0; c < w; ++c) {
                    const long double a =
                        sign * twoPi *
                        ((long double)((k * c) % w) / w + (long double)((l * y) % h) / h);
                    const std::complex<double> v = x[size_t(y) * size_t(w) + size_t(c)];
                    re += v.real() * std::cos(a) - v.imag() * std::sin(a);
                    im += v.real() * std::sin(a) + v.imag() * std::cos(a);
                }
            const long double s = 1.0L / std::sqrt((long double)w * h);
            out[size_t(l) * size_t(w) + size_t(k)] = {double(re * s), double(im * s)};
        }
    return out;
}

} // namespace sarnel_test
