// Discrete Fourier transform of any length, O(n log n): self-sorting mixed-radix
// passes for lengths made of small primes, and a chirp-z convolution through a
// power-of-two transform for lengths with a large prime factor.
//
// Convention: the forward transform is X[k] = sum_j x[j] e^(+2 pi i j k / n); the
// inverse uses e^(-2 pi i ...). The library scales both directions by
// 1 / sqrt(W * H), so forward then inverse returns the input.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <vector>

namespace sarnel {

using cplx = std::complex<double>;

class FftPlan {
public:
    explicit FftPlan(int n);
    ~FftPlan();
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;

    int size() const { return n_; }
    // Complex values of scratch space that transform() needs for a given batch.
    size_t workSize(int batch) const;
    // Forward transform (sign +1, unscaled) of `batch` interleaved sequences: element
    // e of sequence b is data[e * batch + b]. `work` holds workSize(batch) values.
    void transform(cplx* data, int batch, cplx* work) const;

private:
    struct Stage {
        int radix;
        int m;          // butterflies per group
        int stride;     // s: product of the radices before this stage
        size_t twiddle; // offset into twiddles_
        size_t roots;   // offset into generic_ (generic radices only)
    };
    void stockham(cplx* data, int batch, cplx* work) const;
    void bluestein(cplx* data, int batch, cplx* work) const;

    int n_;
    std::vector<Stage> stages_;
    std::vector<cplx> twiddles_;
    std::vector<cplx> generic_; // roots of unity of the generic odd radices, per stage
    // Chirp-z path
    bool chirpZ_ = false;
    std::unique_ptr<FftPlan> inner_;
    std::vector<cplx> chirp_;
    std::vector<cplx> kernel_;
};

enum class FftScaling { None, Sqrt };

// Two-dimensional transform in place of W columns by H rows, row-major complex data.
// sign >= 0 forward, < 0 inverse. Returns 0, or -1 for a dimension below 1. Throws
// std::bad_alloc when work storage cannot be had. Holds no state between calls.
int fft2d(cplx* data, int width, int height, int sign, FftScaling scaling);

// Writes the transform's report of work storage that cannot be had to standard error.
void reportInsufficientMemory();

// The same on separate real and imaginary arrays. Failures are reported on standard
// error ("Error: fftn() - dimension error", "Error: fftradix() - insufficient
// memory.") with the result -1; the arrays are then left as they were.
int fftn(int width, int height, double* re, double* im, int sign, FftScaling scaling);

} // namespace sarnel
