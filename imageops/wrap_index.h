#pragma once
// Indices into a picture that wraps at its edges, shared by Van Gogh's plain
// loops and their vector forms (vector_kernels.cpp), which must find the same
// pixels.

namespace imageops {

// Floor division remainder: the wrapped index of any integer.
inline int Wrap(long long i, int n) {
    long long m = i % n;
    return int(m < 0 ? m + n : m);
}

// floor() for the sample positions, which stay within a picture size plus the
// filter length of the pixel: no library call, and the same value.
inline int FloorInt(double v) {
    const int i = int(v);
    return v < double(i) ? i - 1 : i;
}

// The wrapped pair (i, i + 1) of an index; inside the picture without a division.
inline void WrapPair(int i, int n, int& a, int& b) {
    if (unsigned(i) < unsigned(n - 1)) {
        a = i;
        b = i + 1;
    } else {
        a = Wrap(i, n);
        b = Wrap((long long)i + 1, n);
    }
}

} // namespace imageops
