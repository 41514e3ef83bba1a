#pragma once
// Blue-green-red-alpha working buffers for the effect tests.

#include "imageops/parallel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace imageops_test {

struct Bgra {
    int w = 0, h = 0;
    std::vector<uint8_t> px;
    uint8_t* At(int x, int y) { return px.data() + 4 * (size_t(y) * size_t(w) + size_t(x)); }
    const uint8_t* At(int x, int y) const {
        return px.data() + 4 * (size_t(y) * size_t(w) + size_t(x));
    }
};

// A picture of one colour, bytes in buffer order (blue, green, red, alpha).
inline Bgra Fill(int w, int h, uint8_t b, uint8_t g, uint8_t r, uint8_t a = 255) {
    Bgra p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h) * 4)};
    for (size_t i = 0; i < p.px.size(); i += 4) {
        p.px[i] = b;
        p.px[i + 1] = g;
        p.px[i + 2] = r;
        p.px[i + 3] = a;
    }
    return p;
}

// Random colour bytes with alpha 255, as the pipeline hands them over.
inline Bgra RandomBgra(int w, int h, unsigned seed) {
    Bgra p = Fill(w, h, 0, 0, 0);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < p.px.size(); i += 4)
        for (int c = 0; c < 3; ++c) p.px[i + size_t(c)] = uint8_t(rng() & 0xFF);
    return p;
}

// Random smooth blobs plus a little noise: natural pictures have few distinct
// values in a small window, random ones have many.
inline Bgra BlobBgra(int w, int h, unsigned seed) {
    Bgra p = Fill(w, h, 0, 0, 0);
    std::mt19937 rng(seed);
    const double fx = 0.05 + (rng() % 100) / 1000.0, fy = 0.04 + (rng() % 100) / 1000.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* q = p.At(x, y);
            const int n = int(rng() % 7);
            q[0] = uint8_t((x * 255 / std::max(w, 1) + n) & 0xFF);
            q[1] = uint8_t(((x / 4 + y / 3) % 2 ? 200 : 40) + n);
            q[2] = uint8_t(128 + 100 * std::sin(x * fx + y * fy));
        }
    return p;
}

// Runs fn() with at most one thread, restoring the limit afterwards.
template <class Fn> void OnOneThread(Fn&& fn) {
    const int old = imageops::WorkerLimit().exchange(1);
    fn();
    imageops::WorkerLimit() = old;
}

} // namespace imageops_test
