// The operations on a 24-megapixel picture (6000 x 4000), each fast form next
// to the plain per-pixel form it must agree with, so the ratio shows what the
// fast form buys. Run with --benchmark_min_time or the defaults; each plain
// form takes seconds.

#include "imageops/color.h"
#include "imageops/convolve.h"
#include "imageops/geometry.h"

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

int Clamp(int v) {
    return std::clamp(v, 0, 255);
}

void PlainBlur(BMP_File& img, int size) {
    const int r = (size - 1) / 2, w = img.Width(), h = img.Height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int sum[3] = {0, 0, 0}, n = 0;
            for (int yy = std::max(y - r, 0); yy <= std::min(y + r, h - 1); ++yy)
                for (int xx = std::max(x - r, 0); xx <= std::min(x + r, w - 1); ++xx) {
                    const CColor24 p = img.Pixel(xx, yy);
                    sum[0] += p.r;
                    sum[1] += p.g;
                    sum[2] += p.b;
                    ++n;
                }
            img.Pixel(x, y) =
                CColor24(uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n));
        }
}

void PlainSobel(BMP_File& img) {
    const Kernel3& k = FilterKernel(KernelFilter::Sobel);
    BMP_File out;
    out.Create(img.Width(), img.Height());
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            const CColor24 c = ConvolvePixel(x, y, k, img, 1.0f);
            auto post = [](int v) { return uint8_t(std::max(200 - v, 0)); };
            out.Pixel(x, y) = CColor24(post(c.r), post(c.g), post(c.b));
        }
    img = std::move(out);
}

void PlainBrightness(BMP_File& img, int r, int g, int b) {
    auto off = [](int s) { return -150 - int(std::trunc(s / 100.0 * (-300.0))); };
    const int o[3] = {off(r), off(g), off(b)};
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            CColor24& p = img.Pixel(x, y);
            p = CColor24(uint8_t(Clamp(p.r + o[0])), uint8_t(Clamp(p.g + o[1])),
                         uint8_t(Clamp(p.b + o[2])));
        }
}

void PlainRotate(BMP_File& img, float degrees, CColor24 bg) {
    const int w = img.Width(), h = img.Height();
    const RotationSampler rs(w, h, degrees);
    BMP_File out;
    out.Create(w, h);
    auto at = [&](int64_t x, int64_t y) {
        return x >= 0 && x < w && y >= 0 && y < h ? img.Pixel(int(x), int(y)) : bg;
    };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int64_t fx, fy;
            rs.Source(x, y, fx, fy);
            const int64_t x0 = fx >> 8, y0 = fy >> 8;
            const int ax = int(fx & 255), ay = int(fy & 255);
            const CColor24 p[4] = {at(x0, y0), at(x0 + 1, y0), at(x0, y0 + 1), at(x0 + 1, y0 + 1)};
            const int wt[4] = {(256 - ax) * (256 - ay), ax * (256 - ay), (256 - ax) * ay, ax * ay};
            int acc[3] = {32768, 32768, 32768};
            for (int i = 0; i < 4; ++i) {
                acc[0] += wt[i] * p[i].r;
                acc[1] += wt[i] * p[i].g;
                acc[2] += wt[i] * p[i].b;
            }
            out.Pixel(x, y) =
                CColor24(uint8_t(acc[0] >> 16), uint8_t(acc[1] >> 16), uint8_t(acc[2] >> 16));
        }
    img = std::move(out);
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
    Run(s, [](BMP_File& b) { PlainBlur(b, 5); });
}
void BM_Blur15_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { Blur(b, 15); });
}
void BM_Blur15_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { PlainBlur(b, 15); });
}
void BM_Sobel_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { ApplyKernelFilter(b, KernelFilter::Sobel); });
}
void BM_Sobel_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { PlainSobel(b); });
}
void BM_Brightness_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { AdjustBrightness(b, 41, 57, 82); });
}
void BM_Brightness_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { PlainBrightness(b, 41, 57, 82); });
}
void BM_Rotate_Fast(benchmark::State& s) {
    Run(s, [](BMP_File& b) { RotateImage(b, 17.0f, CColor24(0, 0, 0)); });
}
void BM_Rotate_Plain(benchmark::State& s) {
    Run(s, [](BMP_File& b) { PlainRotate(b, 17.0f, CColor24(0, 0, 0)); });
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
