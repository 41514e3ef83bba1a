#pragma once
// Blue-green-red-alpha working buffers for the effect tests: building
// pictures pixel by pixel, running an effect the way the pipeline does (the
// destination starting as a copy of the source) and naming the first
// difference between two results.

#include "imageops/parallel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace bgra_test {

struct Bgra {
    uint8_t b = 0, g = 0, r = 0, a = 255;
    bool operator==(const Bgra&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Bgra& p) {
    return os << "(b " << int(p.b) << ", g " << int(p.g) << ", r " << int(p.r) << ", a " << int(p.a)
              << ")";
}

struct Picture {
    int w = 0, h = 0;
    std::vector<uint8_t> px;

    Picture() = default;
    Picture(int width, int height, Bgra fill = {}) : w(width), h(height) {
        px.resize(4 * size_t(w) * size_t(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Set(x, y, fill);
    }
    uint8_t* At(int x, int y) { return px.data() + 4 * (size_t(y) * size_t(w) + size_t(x)); }
    const uint8_t* At(int x, int y) const {
        return px.data() + 4 * (size_t(y) * size_t(w) + size_t(x));
    }
    Bgra Get(int x, int y) const {
        const uint8_t* p = At(x, y);
        return {p[0], p[1], p[2], p[3]};
    }
    void Set(int x, int y, Bgra c) {
        uint8_t* p = At(x, y);
        p[0] = c.b;
        p[1] = c.g;
        p[2] = c.r;
        p[3] = c.a;
    }
    // Left to right mirror image.
    Picture Mirrored() const {
        Picture m(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) m.Set(w - 1 - x, y, Get(x, y));
        return m;
    }
    bool operator==(const Picture&) const = default;
};

inline Bgra Grey(uint8_t v) {
    return {v, v, v, 255};
}

inline Picture RandomPicture(int w, int h, unsigned seed) {
    Picture p(w, h);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.Set(x, y, {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 255});
    return p;
}

// Runs fn(src, dst, w, h) with dst starting as a copy of src, as the pipeline
// calls the effects; `garbage` fills dst instead, to show that the effect
// writes every pixel itself.
template <class Fn> Picture RunEffect(const Picture& in, Fn&& fn, bool garbage = false) {
    Picture out = in;
    if (garbage)
        for (size_t i = 0; i < out.px.size(); ++i) out.px[i] = uint8_t(i * 37 + 11);
    fn(in.px.data(), out.px.data(), in.w, in.h);
    return out;
}

inline ::testing::AssertionResult Same(const Picture& a, const Picture& b) {
    if (a.w != b.w || a.h != b.h) return ::testing::AssertionFailure() << "sizes differ";
    for (int y = 0; y < a.h; ++y)
        for (int x = 0; x < a.w; ++x)
            if (!(a.Get(x, y) == b.Get(x, y)))
                return ::testing::AssertionFailure()
                       << "first difference at (" << x << ", " << y << ") of " << a.w << "x" << a.h
                       << ": " << a.Get(x, y) << " vs " << b.Get(x, y);
    return ::testing::AssertionSuccess();
}

// Limits the operations to one thread while it lives.
class OneThread {
public:
    OneThread() : saved_(imageops::WorkerLimit().exchange(1)) {}
    ~OneThread() { imageops::WorkerLimit() = saved_; }

private:
    int saved_;
};

// An odd size large enough that the operations split it over threads.
inline constexpr int kThreadedW = 521, kThreadedH = 263;

} // namespace bgra_test
