// The overlays of the fixed chain on a 12-megapixel picture, each against a
// plain copy of the same bytes (target: within 4x, the random numbers aside).

#include "imageops/overlays.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

const BMP_File& Picture() {
    static const BMP_File img = [] {
        BMP_File b;
        b.Create(4000, 3000);
        for (int y = 0; y < b.Height(); ++y) {
            CColor24* row = b.Row(y);
            for (int x = 0; x < b.Width(); ++x)
                row[x] = CColor24(uint8_t(x * 5 + y), uint8_t(y * 3), uint8_t((x ^ y) & 0xFF));
        }
        return b;
    }();
    return img;
}

// Every case works on a fresh copy, so the copy is part of each measurement
// and the memcpy case is the floor.
template <typename Op> void Measure(benchmark::State& state, Op op) {
    BMP_File work = Picture();
    for (auto _ : state) {
        std::memcpy(work.Bytes(), Picture().Bytes(), Picture().PixelBytes());
        op(work);
        benchmark::DoNotOptimize(work.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(Picture().PixelBytes()));
}

void BM_Memcpy(benchmark::State& state) {
    Measure(state, [](BMP_File&) {});
}
void BM_LightRegion(benchmark::State& state) {
    Measure(state, [](BMP_File& w) {
        ApplyLightRegion(w, IntRect{0, 0, w.Width(), w.Height()}, ChannelInts{255, 200, 40});
    });
}
void BM_Noise(benchmark::State& state) {
    Measure(state, [](BMP_File& w) { ApplyNoise(w, 50); });
}
void BM_RGBNoise(benchmark::State& state) {
    Measure(state, [](BMP_File& w) { ApplyRGBNoise(w, 30, 50, 70); });
}
void BM_Mask(benchmark::State& state) {
    static const BMP_File mask = [] {
        BMP_File m;
        m.Create(256, 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                m.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(x), uint8_t(x));
        return m;
    }();
    MaskParams params;
    params.opacity = 0.3f;
    Measure(state, [&](BMP_File& w) { ApplyMask(w, mask, params); });
}
void BM_Mosaic(benchmark::State& state) {
    Measure(state, [](BMP_File& w) { ApplyMosaic(w, 16); });
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LightRegion)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Noise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mask)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Mosaic)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
