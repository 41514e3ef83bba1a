// The effect-list effects Wind, Van Gogh, Advanced Emboss, Red Eye Removal and
// Video on a 12-megapixel picture (4000 x 3000) in final mode: each call as
// the pipeline makes it, through the effect table's row, on blue-green-red-
// alpha buffers. The rate is in pixels per second; the time per megapixel is
// 1e6 / rate. Random effects are seeded so that each iteration does the same
// work.

#include "imageops/effect_table.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int kW = 4000, kH = 3000;

// A photograph-like picture: smooth gradients with soft edges and some grain,
// so that edge-driven effects (Wind) find edges at a realistic rate.
const std::vector<uint8_t>& Picture() {
    static const std::vector<uint8_t> px = [] {
        std::vector<uint8_t> v(4 * size_t(kW) * kH);
        std::mt19937 rng(1);
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                uint8_t* p = v.data() + 4 * (size_t(y) * kW + size_t(x));
                const double s = std::sin(x * 0.013) * std::cos(y * 0.011);
                const int base = int(128 + 100 * s) + int(rng() % 9) - 4;
                const int band = ((x / 300 + y / 250) % 2) * 40;
                p[0] = uint8_t(std::clamp(base - band, 0, 255));
                p[1] = uint8_t(std::clamp(base / 2 + band, 0, 255));
                p[2] = uint8_t(std::clamp(255 - base, 0, 255));
                p[3] = 255;
            }
        return v;
    }();
    return px;
}

void RunRow(benchmark::State& state, int id, const ProcessingSettings& s) {
    const EffectRow* row = FindEffect(id);
    if (!row || !row->Available()) {
        state.SkipWithError("effect not available");
        return;
    }
    const std::vector<uint8_t>& src = Picture();
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(dst.data(), src.data(), src.size()); // as the pipeline starts it
        std::srand(7);
        state.ResumeTiming();
        row->bgra(src.data(), dst.data(), kW, kH, s);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kW * kH);
}

void BM_Wind(benchmark::State& state) {
    ProcessingSettings s; // threshold 20, strength 20, Wind, Left, Leading
    RunRow(state, 21, s);
}
void BM_WindBlast(benchmark::State& state) {
    ProcessingSettings s;
    s.m_nAlgorithmWind = 1;
    s.m_nEdgeWind = 0;
    RunRow(state, 21, s);
}
void BM_VanGogh_SourceImage(benchmark::State& state) {
    ProcessingSettings s; // 25 steps, length 5, convolved with the picture
    RunRow(state, 26, s);
}
void BM_VanGogh_WhiteNoise(benchmark::State& state) {
    ProcessingSettings s;
    s.m_n_convolveVangogh = 0;
    RunRow(state, 26, s);
}
void BM_AdvancedEmboss(benchmark::State& state) {
    ProcessingSettings s;
    s.m_fAzimuthEmboss = 135.0f;
    s.m_fElevationEmboss = 45.0f;
    s.m_fDepthEmboss = 10.0f;
    RunRow(state, 27, s);
}
void BM_RedEyeRemoval(benchmark::State& state) {
    ProcessingSettings s;
    RunRow(state, 22, s);
}
void BM_Video(benchmark::State& state) {
    ProcessingSettings s;
    s.m_vvals.pattern_number = 8;
    s.m_vvals.additive = 1;
    RunRow(state, 31, s);
}

} // namespace

BENCHMARK(BM_Wind)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WindBlast)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VanGogh_SourceImage)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VanGogh_WhiteNoise)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AdvancedEmboss)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_RedEyeRemoval)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Video)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
