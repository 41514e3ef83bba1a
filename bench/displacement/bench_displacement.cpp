// Wave, Ripple and Whirl & Pinch on a 12-megapixel BGRA picture (4000 x 3000),
// each next to OpenCV's remap with bilinear sampling on the same picture. The
// peer is handed its sampling positions ready made; ours compute theirs in
// the timed call (target: within 3x). Times per megapixel are the reported
// times divided by 12.

#include "bench/app/bench_common.h"
#include "imageops/displacement.h"

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kW = 4000, kH = 3000;
// Whirl & Pinch pinched and whirled further, over a radius beyond the half size.
constexpr WhirlPinchParams kPinched{150, 50, 360};

const std::vector<uint8_t>& Source() {
    static const std::vector<uint8_t> bgra = [] {
        const BMP_File pic = BenchPicture(kW, kH);
        std::vector<uint8_t> b(size_t(kW) * kH * 4);
        pic.ToBGRA(b.data());
        return b;
    }();
    return bgra;
}

void Ours(benchmark::State& state, void (*run)(const uint8_t*, uint8_t*)) {
    std::vector<uint8_t> dst = Source();
    for (auto _ : state) {
        run(Source().data(), dst.data());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

// The sampling positions of each effect at its default settings, for the
// peer (single precision, as remap takes them).
struct Maps {
    cv::Mat x, y;
};

Maps MakeMaps(int kind) {
    Maps m{cv::Mat(kH, kW, CV_32FC1), cv::Mat(kH, kW, CV_32FC1)};
    const double cx = kW / 2.0, cy = kH / 2.0, sy = cx / cy;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            double ux = x, uy = y;
            if (kind == 0) { // Wave: amplitude 50, wavelength 25, phase 180
                const double dx = x - cx, dy = (y - cy) * sy;
                const double s =
                    std::sin(std::sqrt(dx * dx + dy * dy) / 50.0 * 6.2831853 + 3.14159265);
                ux = dx + 50 * s + cx;
                uy = (dy + 50 * s) / sy + cy;
            } else if (kind == 1) { // Ripple: rows moved by a sawtooth of period 100
                const double r = (y % 100 + 50) % 100;
                ux = x + (std::fabs(r / 100 * 4 - 2) - 1) * 100;
                ux = std::fmod(std::fmod(ux, kW) + kW, kW);
            } else if (kind == 3) { // Ripple: columns moved by a sine of period 100
                uy = y + std::sin((x / 100.0 - 0.5) * 6.2831853) * 100;
                uy = std::fmod(std::fmod(uy, kH) + kH, kH);
            } else { // Whirl & Pinch: kind 2 at the defaults, kind 4 pinched
                const WhirlPinchParams p = kind == 4 ? kPinched : WhirlPinchParams{};
                const double wcx = (kW - 1) / 2.0, wcy = (kH - 1) / 2.0, wsy = wcx / wcy;
                const double r = p.radius / 100.0, pinch = p.pinch / 100.0;
                const double dx = x - wcx, dy = (y - wcy) * wsy, d = dx * dx + dy * dy;
                if (d < wcx * wcx * r) {
                    const double dist = std::sqrt(d / r) / wcx;
                    const double f =
                        d == 0 ? 1.0 : std::pow(std::sin(std::numbers::pi / 2 * dist), -pinch);
                    const double a = p.whirl * 3.14159265 / 180 * (1 - dist) * (1 - dist);
                    ux = (std::cos(a) * dx - std::sin(a) * dy) * f + wcx;
                    uy = (std::sin(a) * dx + std::cos(a) * dy) * f / wsy + wcy;
                }
            }
            m.x.at<float>(y, x) = float(ux);
            m.y.at<float>(y, x) = float(uy);
        }
    return m;
}

void Peer(benchmark::State& state, int kind) {
    const Maps maps = MakeMaps(kind);
    const cv::Mat src(kH, kW, CV_8UC4, const_cast<uint8_t*>(Source().data()));
    cv::Mat dst(kH, kW, CV_8UC4);
    for (auto _ : state) {
        cv::remap(src, dst, maps.x, maps.y, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void BM_Wave(benchmark::State& state) {
    Ours(state, [](const uint8_t* s, uint8_t* d) { Wave(s, d, kW, kH, WaveParams{}); });
}
void BM_Ripple(benchmark::State& state) {
    Ours(state, [](const uint8_t* s, uint8_t* d) { Ripple(s, d, kW, kH, RippleParams{}); });
}
void BM_RippleAntialiasVertical(benchmark::State& state) {
    Ours(state, [](const uint8_t* s, uint8_t* d) {
        RippleParams p;
        p.antialias = true;
        p.vertical = true;
        p.sine = true;
        Ripple(s, d, kW, kH, p);
    });
}
void BM_WhirlPinch(benchmark::State& state) {
    Ours(state, [](const uint8_t* s, uint8_t* d) { WhirlPinch(s, d, kW, kH, WhirlPinchParams{}); });
}
void BM_WhirlPinchPinched(benchmark::State& state) {
    Ours(state, [](const uint8_t* s, uint8_t* d) { WhirlPinch(s, d, kW, kH, kPinched); });
}
void BM_OpenCvRemapWave(benchmark::State& state) {
    Peer(state, 0);
}
void BM_OpenCvRemapRipple(benchmark::State& state) {
    Peer(state, 1);
}
void BM_OpenCvRemapRippleVertical(benchmark::State& state) {
    Peer(state, 3);
}
void BM_OpenCvRemapWhirl(benchmark::State& state) {
    Peer(state, 2);
}
void BM_OpenCvRemapWhirlPinched(benchmark::State& state) {
    Peer(state, 4);
}

#define DISPLACEMENT_BENCH(fn) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()
DISPLACEMENT_BENCH(BM_Wave);
DISPLACEMENT_BENCH(BM_OpenCvRemapWave);
DISPLACEMENT_BENCH(BM_Ripple);
DISPLACEMENT_BENCH(BM_RippleAntialiasVertical);
DISPLACEMENT_BENCH(BM_OpenCvRemapRipple);
DISPLACEMENT_BENCH(BM_OpenCvRemapRippleVertical);
DISPLACEMENT_BENCH(BM_WhirlPinch);
DISPLACEMENT_BENCH(BM_WhirlPinchPinched);
DISPLACEMENT_BENCH(BM_OpenCvRemapWhirl);
DISPLACEMENT_BENCH(BM_OpenCvRemapWhirlPinched);

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_Wave", "BM_OpenCvRemapWave", 3.0},
                          {"BM_Ripple", "BM_OpenCvRemapRipple", 3.0},
                          {"BM_RippleAntialiasVertical", "BM_OpenCvRemapRippleVertical", 3.0},
                          {"BM_WhirlPinch", "BM_OpenCvRemapWhirl", 3.0},
                          {"BM_WhirlPinchPinched", "BM_OpenCvRemapWhirlPinched", 3.0}});
}
