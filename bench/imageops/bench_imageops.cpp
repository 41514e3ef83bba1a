// The operations on a 24-megapixel picture (6000 x 4000), each fast form next
// to the plain per-pixel form it must agree with, so the ratio shows what the
// fast form buys. Run with --benchmark_min_time or the defaults; each plain
// form takes seconds.

#include "imageops/color.h"
#include "imageops/convolve.h"
#include "imageops/geometry.h"
#include "tests/imageops/plain_forms.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {

constexpr int kW = 6000, kH = 4000;

const BMP_File& Picture() {
    static const BMP_File img = [] {
        BMP_File b;
        b.Create(kW, kH);
        std::mt19937 rng(1);
        for (size_t i = 0; i < b.PixelBytes(); ++i) b.Bytes()[i] = uint8_t(rng() & 0xFF);
        return b;
    }();
    return img;
}

// Each iteration works on a fresh copy; the copy is not timed.
template <class Fn> void Run(benchmark::State& state, Fn fn) {
    for (auto _ : state) {
        state.PauseTiming();
        BMP_File img = Picture();
        state.ResumeTiming();
        fn(img);
        benchmark::DoNotOptimize(img.Data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void BM_Blur5_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { Blur(b, 5); });
}
void BM_Blur5_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { b = imageops_plain::PlainBlur(b, 5); });
}
void BM_Blur15_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { Blur(b, 15); });
}
void BM_Blur15_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { b = imageops_plain::PlainBlur(b, 15); });
}
void BM_Sobel_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { ApplyKernelFilter(b, KernelFilter::Sobel); });
}
void BM_Sobel_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) {
        b = imageops_plain::PlainKernelFilter(b, {-1, 0, 1, -2, 0, 2, -1, 0, 1}, true);
    });
}
void BM_Brightness_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { AdjustBrightness(b, 41, 57, 82); });
}
void BM_Brightness_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { b = imageops_plain::PlainBrightness(b, 41, 57, 82); });
}
void BM_Rotate_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { RotateImage(b, 17.0f, CColor24(0, 0, 0)); });
}
void BM_Rotate_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { b = imageops_plain::PlainRotate(b, 17.0f, CColor24(0, 0, 0)); });
}
void BM_AdjustHsb(benchmark::State& s) {
    Run(s, [](BMP_File& b) { AdjustHSB(b, 70, 40, 55); });
}
// A smooth picture, as photographs mostly are: colours repeat from pixel to pixel.
void BM_AdjustHsb_Smooth(benchmark::State& state) {
    static const BMP_File smooth = [] {
        BMP_File b;
        b.Create(kW, kH);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                b.Pixel(x, y) = CColor24(uint8_t(x / 40), uint8_t(y / 30), uint8_t((x + y) / 80));
        return b;
    }();
    for (auto _ : state) {
        state.PauseTiming();
        BMP_File img = smooth;
        state.ResumeTiming();
        AdjustHSB(img, 70, 40, 55);
        benchmark::DoNotOptimize(img.Data());
    }
}
void BM_Perspective(benchmark::State& s) {
    Run(s, [](BMP_File& b) { PerspectiveImage(b, true, 30.0f, CColor24(0, 0, 0)); });
}
void BM_Erode(benchmark::State& s) {
    Run(s, [](BMP_File& b) { Erode(b); });
}

} // namespace

#define PELLORIN_BENCH(fn)                                                                         \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime()
PELLORIN_BENCH(BM_Blur5_Fast);
PELLORIN_BENCH(BM_Blur5_Plain);
PELLORIN_BENCH(BM_Blur15_Fast);
PELLORIN_BENCH(BM_Blur15_Plain);
PELLORIN_BENCH(BM_Sobel_Fast);
PELLORIN_BENCH(BM_Sobel_Plain);
PELLORIN_BENCH(BM_Brightness_Fast);
PELLORIN_BENCH(BM_Brightness_Plain);
PELLORIN_BENCH(BM_Rotate_Fast);
PELLORIN_BENCH(BM_Rotate_Plain);
PELLORIN_BENCH(BM_AdjustHsb);
PELLORIN_BENCH(BM_AdjustHsb_Smooth);
PELLORIN_BENCH(BM_Perspective);
PELLORIN_BENCH(BM_Erode);

BENCHMARK_MAIN();
