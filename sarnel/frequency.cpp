// Frequency-domain filters: centre the plane, transform, multiply each coefficient by
// a transfer value, transform back, un-centre, clamp to the channel's range.
#include "sarnel/fft.h"
#include "sarnel/internal.h"
#include "sarnel/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <stdexcept>

namespace sarnel {

namespace {

// The transfer functions are defined with these rounded values of e and pi, not the
// full-precision constants, and filtered planes depend on them in the last digits.
constexpr double kE = 2.71828183;
constexpr double kPi = 3.14159265;

// Runs the frame; transfer(u, v, coefficient) returns the filtered coefficient, with
// u and v the centred frequency coordinates (k - W/2, l - H/2).
template <typename Transfer> void runFrame(Plane& p, int channel, Transfer&& transfer) {
    const int W = p.width, H = p.height;
    const size_t total = size_t(W) * size_t(H);
    std::vector<cplx> data(total);
    // Multiplying by (-1)^(x+y) moves the zero frequency to the array's centre.
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const double s = p.samples[size_t(y) * size_t(W) + size_t(x)];
            data[size_t(y) * size_t(W) + size_t(x)] = cplx((x + y) % 2 ? -s : s, 0.0);
        }
    // A failed transform would leave the array half done; the plane then stays as it was.
    if (fft2d(data.data(), W, H, +1, FftScaling::Sqrt) != 0) return;
    parallelFor(H, std::max(1, 16384 / W), [&](int l0, int l1) {
        for (int l = l0; l < l1; ++l) {
            const int v = l - H / 2;
            cplx* row = data.data() + size_t(l) * size_t(W);
            for (int k = 0; k < W; ++k) row[k] = transfer(k - W / 2, v, row[k]);
        }
    });
    if (fft2d(data.data(), W, H, -1, FftScaling::Sqrt) != 0) return;
    const ChannelRange range = channelRange(channel);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t i = size_t(y) * size_t(W) + size_t(x);
            // Truncate, then undo the centring; a non-finite value becomes 0.
            int v = storeTrunc(data[i].real());
            if ((x + y) % 2) v = -v;
            p.samples[i] = int16_t(std::clamp(v, range.lo, range.hi));
        }
}

// The frame, with its failure to get work storage (for the coefficients or inside
// the transform) reported as the transform reports it; the plane then stays as it was.
template <typename Transfer> void frequencyFilter(Plane& p, int channel, Transfer&& transfer) {
    try {
        runFrame(p, channel, transfer);
    } catch (const std::bad_alloc&) {
        reportInsufficientMemory();
    } catch (const std::length_error&) { // a size beyond what a vector can hold
        reportInsufficientMemory();
    }
}

double squaredDistance(int u, int v) {
    return double(u) * u + double(v) * v;
}

// x^n by repeated squaring; a negative n gives the reciprocal of x^|n|.
double integerPower(double x, int n) {
    uint64_t e = uint64_t(std::llabs(int64_t(n)));
    double r = 1.0;
    while (e != 0) {
        if (e & 1) r *= x;
        x *= x;
        e >>= 1;
    }
    return n < 0 ? 1.0 / r : r;
}

} // namespace

void butterworthBandReject(Plane& p, int channel, double d0, double w, int n) {
    frequencyFilter(p, channel, [=](int u, int v, cplx c) {
        const double d2 = squaredDistance(u, v);
        const double d = std::sqrt(d2);
        const double h = 1.0 / (1.0 + std::pow(d * w / (d2 - d0 * d0), 2.0 * n));
        return c * h;
    });
}

void gaussBandReject(Plane& p, int channel, double d0, double w) {
    frequencyFilter(p, channel, [=](int u, int v, cplx c) {
        const double d2 = squaredDistance(u, v);
        const double d = std::sqrt(d2);
        const double q = (d2 - d0 * d0) / (d * w);
        const double h = 1.0 - std::pow(kE, -0.5 * q * q);
        return c * h;
    });
}

void butterworthNotchReject(Plane& p, int channel, double d0, double u0, double v0, int n) {
    frequencyFilter(p, channel, [=](int u, int v, cplx c) {
        const double d1 = std::sqrt((u - u0) * (u - u0) + (v - v0) * (v - v0));
        const double d2 = std::sqrt((u + u0) * (u + u0) + (v + v0) * (v + v0));
        const double h = 1.0 / (1.0 + integerPower(d0 * d0 / (d1 * d2), n));
        return c * h;
    });
}

void wienerTurbulence(Plane& p, int channel, double k, double bigK) {
    frequencyFilter(p, channel, [=](int u, int v, cplx c) {
        const double ht = std::pow(kE, -k * std::pow(squaredDistance(u, v), 5.0 / 6.0));
        const double f = (ht * ht / (ht * ht + bigK)) * (1.0 / ht);
        return cplx(c.real() * f, c.imag() * f);
    });
}

void wienerMotion(Plane& p, int channel, double t, double a, double b, double bigK) {
    frequencyFilter(p, channel, [=](int u, int v, cplx c) {
        double m = kPi * (u * a + v * b);
        if (m == 0.0) m = 1e-12;
        const double tm = t / m, sm = std::sin(m);
        const double hr = tm * sm * std::cos(m);
        const double hi = -tm * sm * sm;
        const double den = hr * hr + hi * hi + bigK;
        // coefficient * conj(H) / (|H|^2 + K)
        const double gr = hr / den, gi = -hi / den;
        return cplx(c.real() * gr - c.imag() * gi, c.real() * gi + c.imag() * gr);
    });
}

} // namespace sarnel
