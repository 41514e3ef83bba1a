// The effects of the effect list that work on the 32-bit buffers, each on a
// 12-megapixel picture (4000 x 3000, with gradients, rings and edges), with:
// - Oilify at mask size 50 against mask size 5 (target: within 2x, the cost
//   should hardly depend on the mask);
// - the recursive Gaussian of Soft Glow on one 8-bit plane against OpenCV's
//   GaussianBlur with the same sigma on the same plane (target: within 2x).
// Time per megapixel is the reported time divided by 12.

#include "bench/app/bench_common.h"
#include "imageops/glow.h"
#include "imageops/oilify_cubism.h"
#include "imageops/supernova.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kW = 4000, kH = 3000;

const std::vector<uint8_t>& Picture() {
    static const std::vector<uint8_t> px = [] {
        const BMP_File img = BenchPicture(kW, kH);
        return img.ToBGRA();
    }();
    return px;
}

// The glow layer of the picture: what Soft Glow blurs.
const std::vector<uint8_t>& Plane() {
    static const std::vector<uint8_t> plane = [] {
        std::vector<uint8_t> p(size_t(kW) * kH);
        glow::GlowLayer(Picture().data(), p.data(), p.size(), 0.75, 0.85);
        return p;
    }();
    return plane;
}

// Each iteration starts the destination as a copy of the source, as the
// pipeline does; the copy is part of the time.
template <class Fn> void Effect(benchmark::State& state, Fn fn) {
    const std::vector<uint8_t>& src = Picture();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        fn(src.data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
    }
}

void BM_SuperNova(benchmark::State& state) {
    SuperNovaValues v;
    v.xcenter = kW / 2;
    v.ycenter = kH / 2;
    v.radius = 100;
    Effect(state, [&](const uint8_t* s, uint8_t* d) { SuperNovaSeeded(s, d, kW, kH, v, 1); });
}

void Oil(benchmark::State& state, double mask, int mode, bool maps) {
    OilifyValues v;
    v.mask_size = mask;
    v.mode = mode;
    v.use_mask_size_map = maps;
    v.use_exponent_map = maps;
    Effect(state, [&](const uint8_t* s, uint8_t* d) { Oilify(s, d, kW, kH, v); });
}
void BM_OilifyMask5(benchmark::State& state) {
    Oil(state, 5, 1, false);
}
void BM_OilifyMask50(benchmark::State& state) {
    Oil(state, 50, 1, false);
}
void BM_OilifyMask5PerChannel(benchmark::State& state) {
    Oil(state, 5, 0, false);
}
void BM_OilifyMask50PerChannel(benchmark::State& state) {
    Oil(state, 50, 0, false);
}
void BM_OilifyMask50Maps(benchmark::State& state) {
    Oil(state, 50, 1, true);
}

void BM_Cubism(benchmark::State& state) {
    std::srand(1);
    Effect(state, [](const uint8_t* s, uint8_t* d) { Cubism(s, d, kW, kH, 10.0f, 2.5f); });
}
void BM_SoftGlow(benchmark::State& state) {
    Effect(state, [](const uint8_t* s, uint8_t* d) { SoftGlow(s, d, kW, kH, 10.0, 0.75, 0.85); });
}
void BM_Neon(benchmark::State& state) {
    Effect(state, [](const uint8_t* s, uint8_t* d) { Neon(s, d, kW, kH, 5.0, 0.0); });
}
void BM_Cartoon(benchmark::State& state) {
    Effect(state, [](const uint8_t* s, uint8_t* d) { Cartoon(s, d, kW, kH); });
}

// Radius 10, Soft Glow's default: sigma 3.30.
double Sigma() {
    return glow::SigmaForRadius(10.0);
}

void BM_GlowGaussian(benchmark::State& state) {
    std::vector<uint8_t> work(Plane().size());
    const glow::IirCoefficients c = glow::GaussianCoefficients(Sigma());
    for (auto _ : state) {
        std::memcpy(work.data(), Plane().data(), work.size());
        glow::BlurPlane(work.data(), kW, kH, c);
        benchmark::DoNotOptimize(work.data());
    }
}
void BM_OpenCvGaussianBlur(benchmark::State& state) {
    const cv::Mat src(kH, kW, CV_8UC1, const_cast<uint8_t*>(Plane().data()));
    cv::Mat dst;
    for (auto _ : state) {
        cv::GaussianBlur(src, dst, cv::Size(0, 0), Sigma(), Sigma(), cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(dst.data);
    }
}

} // namespace

BENCHMARK(BM_SuperNova)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OilifyMask5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OilifyMask50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OilifyMask5PerChannel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OilifyMask50PerChannel)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OilifyMask50Maps)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cubism)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SoftGlow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Neon)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Cartoon)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GlowGaussian)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCvGaussianBlur)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_OilifyMask50", "BM_OilifyMask5", 2.0},
                          {"BM_OilifyMask50PerChannel", "BM_OilifyMask5PerChannel", 2.0},
                          {"BM_GlowGaussian", "BM_OpenCvGaussianBlur", 2.0}});
}
