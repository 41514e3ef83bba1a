#include "sarnel/fft.h"

#include "sarnel/parallel.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <new>
#include <stdexcept>

namespace sarnel {

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
// Primes up to this are done by a direct butterfly; a length with a larger prime
// factor goes through the chirp-z path, which keeps it O(n log n).
constexpr int kLargestDirectRadix = 31;

// Complex helpers without the NaN recovery of the library's operator*, which the
// transform does not need: NaN and infinity propagate as IEEE arithmetic makes them.
inline cplx mul(cplx a, cplx b) {
    return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
inline cplx mulI(cplx a) {
    return {-a.imag(), a.real()};
}

// e^(+2 pi i k / n) with k reduced first, so large products stay accurate.
cplx root(int64_t k, int64_t n) {
    k %= n;
    if (k < 0) k += n;
    const double a = kTwoPi * double(k) / double(n);
    return {std::cos(a), std::sin(a)};
}

std::vector<int> factorise(int n) {
    std::vector<int> f;
    while (n % 4 == 0) f.push_back(4), n /= 4;
    if (n % 2 == 0) f.push_back(2), n /= 2;
    for (int p = 3; int64_t(p) * p <= n; p += 2)
        while (n % p == 0) f.push_back(p), n /= p;
    if (n > 1) f.push_back(n);
    return f;
}

} // namespace

FftPlan::FftPlan(int n) : n_(n) {
    const std::vector<int> f = factorise(n);
    if (!f.empty() && *std::max_element(f.begin(), f.end()) > kLargestDirectRadix) {
        chirpZ_ = true;
        // The convolution length is a power of two of at least 2n - 1, counted in
        // 64 bits: for lengths beyond 2^30 it no longer fits a plan.
        int64_t m = 1;
        while (m < 2 * int64_t(n) - 1) m *= 2;
        if (m > INT_MAX) throw std::bad_alloc();
        inner_ = std::make_unique<FftPlan>(int(m));
        // chirp[j] = e^(+i pi j^2 / n); j^2 is reduced modulo 2n to keep the angle small.
        chirp_.resize(size_t(n));
        for (int64_t j = 0; j < n; ++j)
            chirp_[size_t(j)] = root((j * j) % (2 * int64_t(n)), 2 * int64_t(n));
        // Convolution kernel conj(chirp[|j|]) on -(n-1) .. n-1, wrapped, transformed, and
        // carrying the 1/m of the inverse transform.
        kernel_.assign(size_t(m), cplx(0.0, 0.0));
        for (int j = 0; j < n; ++j) {
            kernel_[size_t(j)] = std::conj(chirp_[size_t(j)]);
            if (j > 0) kernel_[size_t(m) - size_t(j)] = std::conj(chirp_[size_t(j)]);
        }
        std::vector<cplx> work(inner_->workSize(1));
        inner_->transform(kernel_.data(), 1, work.data());
        for (cplx& k : kernel_) k /= double(m);
        return;
    }
    int len = n, stride = 1;
    for (int p : f) {
        Stage st{p, len / p, stride, twiddles_.size(), generic_.size()};
        for (int q = 0; q < st.m; ++q)
            for (int u = 1; u < p; ++u) twiddles_.push_back(root(int64_t(q) * u, len));
        if (p > 5)
            for (int k = 0; k < p; ++k) generic_.push_back(root(k, p));
        stages_.push_back(st);
        len /= p;
        stride *= p;
    }
}

FftPlan::~FftPlan() = default;

size_t FftPlan::workSize(int batch) const {
    if (chirpZ_) return 2 * size_t(inner_->size()) * size_t(batch);
    return size_t(n_) * size_t(batch);
}

void FftPlan::transform(cplx* data, int batch, cplx* work) const {
    if (chirpZ_)
        bluestein(data, batch, work);
    else
        stockham(data, batch, work);
}

// Self-sorting passes: each pass reads one buffer and writes the other, and the
// output comes out in natural order without a bit-reversal step. With element stride
// s and `batch` interleaved sequences, the innermost loop runs over s * batch
// contiguous values.
void FftPlan::stockham(cplx* data, int batch, cplx* work) const {
    cplx* x = data;
    cplx* y = work;
    for (const Stage& st : stages_) {
        const int p = st.radix, m = st.m;
        const size_t L = size_t(st.stride) * size_t(batch);
        const cplx* tw = twiddles_.data() + st.twiddle;
        for (int q = 0; q < m; ++q) {
            const cplx* w = tw + size_t(q) * size_t(p - 1);
            const cplx* in = x + L * size_t(q);
            cplx* out = y + L * size_t(p) * size_t(q);
            const size_t inStep = L * size_t(m);
            switch (p) {
            case 2:
                for (size_t j = 0; j < L; ++j) {
                    const cplx a0 = in[j], a1 = in[j + inStep];
                    out[j] = a0 + a1;
                    out[j + L] = mul(a0 - a1, w[0]);
                }
                break;
            case 3: {
                const double h = 0.86602540378443864676; // sin(2 pi / 3)
                for (size_t j = 0; j < L; ++j) {
                    const cplx a0 = in[j], a1 = in[j + inStep], a2 = in[j + 2 * inStep];
                    const cplx t1 = a1 + a2;
                    const cplx t2 = mulI(a1 - a2) * h;
                    const cplx c = a0 - t1 * 0.5;
                    out[j] = a0 + t1;
                    out[j + L] = mul(c + t2, w[0]);
                    out[j + 2 * L] = mul(c - t2, w[1]);
                }
                break;
            }
            case 4:
                for (size_t j = 0; j < L; ++j) {
                    const cplx a0 = in[j], a1 = in[j + inStep], a2 = in[j + 2 * inStep],
                               a3 = in[j + 3 * inStep];
                    const cplx t0 = a0 + a2, t1 = a0 - a2, t2 = a1 + a3, t3 = mulI(a1 - a3);
                    out[j] = t0 + t2;
                    out[j + L] = mul(t1 + t3, w[0]);
                    out[j + 2 * L] = mul(t0 - t2, w[1]);
                    out[j + 3 * L] = mul(t1 - t3, w[2]);
                }
                break;
            case 5: {
                const double c1 = 0.30901699437494742410, c2 = -0.80901699437494742410;
                const double s1 = 0.95105651629515357212, s2 = 0.58778525229247312917;
                for (size_t j = 0; j < L; ++j) {
                    const cplx a0 = in[j], a1 = in[j + inStep], a2 = in[j + 2 * inStep],
                               a3 = in[j + 3 * inStep], a4 = in[j + 4 * inStep];
                    const cplx t1 = a1 + a4, t2 = a2 + a3, t3 = a1 - a4, t4 = a2 - a3;
                    const cplx r1 = a0 + t1 * c1 + t2 * c2, r2 = a0 + t1 * c2 + t2 * c1;
                    const cplx i1 = mulI(t3 * s1 + t4 * s2), i2 = mulI(t3 * s2 - t4 * s1);
                    out[j] = a0 + t1 + t2;
                    out[j + L] = mul(r1 + i1, w[0]);
                    out[j + 2 * L] = mul(r2 + i2, w[1]);
                    out[j + 3 * L] = mul(r2 - i2, w[2]);
                    out[j + 4 * L] = mul(r1 - i1, w[3]);
                }
                break;
            }
            default: {
                const cplx* rt = generic_.data() + st.roots;
                for (size_t j = 0; j < L; ++j) {
                    for (int u = 0; u < p; ++u) {
                        cplx acc = in[j];
                        for (int r = 1; r < p; ++r)
                            acc += mul(in[j + size_t(r) * inStep], rt[(r * u) % p]);
                        out[j + size_t(u) * L] = u == 0 ? acc : mul(acc, w[u - 1]);
                    }
                }
                break;
            }
            }
        }
        std::swap(x, y);
    }
    if (x != data) std::copy(x, x + size_t(n_) * size_t(batch), data);
}

// Chirp-z: with j k = (j^2 + k^2 - (k - j)^2) / 2 the transform becomes a
// convolution with the chirp, done by a power-of-two transform of length m >= 2n - 1.
void FftPlan::bluestein(cplx* data, int batch, cplx* work) const {
    const size_t m = size_t(inner_->size()), B = size_t(batch), n = size_t(n_);
    cplx* a = work;
    cplx* innerWork = work + m * B;
    for (size_t j = 0; j < n; ++j)
        for (size_t b = 0; b < B; ++b) a[j * B + b] = mul(data[j * B + b], chirp_[j]);
    std::fill(a + n * B, a + m * B, cplx(0.0, 0.0));
    inner_->transform(a, batch, innerWork);
    // Pointwise product, then the inverse transform as conj(forward(conj(.))).
    for (size_t k = 0; k < m; ++k)
        for (size_t b = 0; b < B; ++b) a[k * B + b] = std::conj(mul(a[k * B + b], kernel_[k]));
    inner_->transform(a, batch, innerWork);
    for (size_t k = 0; k < n; ++k)
        for (size_t b = 0; b < B; ++b) data[k * B + b] = mul(std::conj(a[k * B + b]), chirp_[k]);
}

// ---------------------------------------------------------------------------

int fft2d(cplx* data, int width, int height, int sign, FftScaling scaling) {
    if (width <= 0 || height <= 0) return -1;
    const size_t W = size_t(width), H = size_t(height), total = W * H;
    // The inverse is the conjugate of the forward transform of the conjugate.
    if (sign < 0)
        for (size_t i = 0; i < total; ++i) data[i] = std::conj(data[i]);

    const FftPlan rowPlan(width);
    std::unique_ptr<FftPlan> ownColumnPlan;
    if (height != width) ownColumnPlan = std::make_unique<FftPlan>(height);
    const FftPlan& colPlan = ownColumnPlan ? *ownColumnPlan : rowPlan;

    if (width > 1) {
        parallelFor(height, std::max(1, 16384 / width), [&](int r0, int r1) {
            std::vector<cplx> work(rowPlan.workSize(1));
            for (int r = r0; r < r1; ++r) rowPlan.transform(data + size_t(r) * W, 1, work.data());
        });
    }
    if (height > 1) {
        // Columns in strips of up to 8: the strip is gathered into a contiguous buffer
        // so each pass runs over 8 neighbouring values.
        constexpr int kStrip = 8;
        const int strips = (width + kStrip - 1) / kStrip;
        parallelFor(strips, std::max(1, 2048 / height), [&](int s0, int s1) {
            std::vector<cplx> buffer(H * kStrip);
            std::vector<cplx> work(colPlan.workSize(kStrip));
            for (int s = s0; s < s1; ++s) {
                const size_t c0 = size_t(s) * kStrip;
                const size_t B = std::min<size_t>(kStrip, W - c0);
                for (size_t r = 0; r < H; ++r)
                    std::copy(data + r * W + c0, data + r * W + c0 + B, buffer.data() + r * B);
                colPlan.transform(buffer.data(), int(B), work.data());
                for (size_t r = 0; r < H; ++r)
                    std::copy(buffer.data() + r * B, buffer.data() + r * B + B, data + r * W + c0);
            }
        });
    }

    const double scale = scaling == FftScaling::Sqrt ? 1.0 / std::sqrt(double(W) * double(H)) : 1.0;
    if (sign < 0 || scale != 1.0) {
        const double imSign = sign < 0 ? -scale : scale;
        for (size_t i = 0; i < total; ++i)
            data[i] = cplx(data[i].real() * scale, data[i].imag() * imSign);
    }
    return 0;
}

void reportInsufficientMemory() {
    std::fputs("Error: fftradix() - insufficient memory.\n", stderr);
}

int fftn(int width, int height, double* re, double* im, int sign, FftScaling scaling) {
    if (width <= 0 || height <= 0) {
        std::fputs("Error: fftn() - dimension error\n", stderr);
        return -1;
    }
    try {
        const size_t total = size_t(width) * size_t(height);
        std::vector<cplx> data(total);
        for (size_t i = 0; i < total; ++i) data[i] = cplx(re[i], im[i]);
        fft2d(data.data(), width, height, sign, scaling);
        for (size_t i = 0; i < total; ++i) {
            re[i] = data[i].real();
            im[i] = data[i].imag();
        }
        return 0;
    } catch (const std::bad_alloc&) {
        reportInsufficientMemory();
        return -1;
    } catch (const std::length_error&) { // a size beyond what a vector can hold
        reportInsufficientMemory();
        return -1;
    }
}

} // namespace sarnel
