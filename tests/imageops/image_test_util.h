#pragma once
// Small helpers shared by the operation tests: random pictures and a pixel
// comparison that names the first difference.

#include "app/bmp_file.h"
#include "imageops/cpu_features.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <utility>
#include <vector>

namespace imageops_test {

inline BMP_File RandomImage(int w, int h, unsigned seed) {
    BMP_File img;
    img.Create(w, h);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < img.PixelBytes(); ++i) img.Bytes()[i] = uint8_t(rng() & 0xFF);
    return img;
}

inline BMP_File Uniform(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

inline ::testing::AssertionResult SameImage(const BMP_File& a, const BMP_File& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return ::testing::AssertionFailure() << "sizes " << a.Width() << "x" << a.Height()
                                             << " and " << b.Width() << "x" << b.Height();
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const CColor24 p = a.Pixel(x, y), q = b.Pixel(x, y);
            if (!(p == q))
                return ::testing::AssertionFailure()
                       << "first difference at (" << x << ", " << y << ") of " << a.Width() << "x"
                       << a.Height() << ": (" << int(p.r) << "," << int(p.g) << "," << int(p.b)
                       << ") vs (" << int(q.r) << "," << int(q.g) << "," << int(q.b) << ")";
        }
    return ::testing::AssertionSuccess();
}

// Odd and tiny sizes, so that border rows and columns and the one-pixel cases
// all meet the fast paths.
inline std::vector<std::pair<int, int>> AwkwardSizes() {
    return {{1, 1}, {1, 7},  {7, 1},   {2, 2},  {2, 5},    {3, 3},
            {5, 2}, {17, 9}, {31, 23}, {64, 3}, {127, 61}, {201, 77}};
}

// Runs check() once for every vector target that this build holds and this
// processor runs (the portable baseline among them), and once more with the
// plain loops.
template <class Check> void WithBothKernelForms(Check&& check) {
    for (const int64_t target : imageops::VectorTargets()) {
        imageops::PinVectorTarget(target);
        SCOPED_TRACE("vector target " + imageops::VectorTargetName(target));
        check();
    }
    imageops::PinVectorTarget(0);
    imageops::UseVectorKernels(false);
    {
        SCOPED_TRACE("plain loops");
        check();
    }
    imageops::UseVectorKernels(true);
}

// Large enough that the operations split it over threads.
inline std::pair<int, int> ThreadedSize() {
    return {521, 263};
}

} // namespace imageops_test
