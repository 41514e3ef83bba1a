// One preview run for an 800 x 600 view from a 24-megapixel original: what every
// slider move costs. Target: under 16 ms (one frame at 60 Hz).

#include "pipeline/pipeline.h"

#include <benchmark/benchmark.h>

namespace {

const BMP_File& Original() {
    static const BMP_File img = [] {
        BMP_File b;
        b.Create(6000, 4000);
        for (int y = 0; y < b.Height(); ++y) {
            CColor24* row = b.Row(y);
            for (int x = 0; x < b.Width(); ++x)
                row[x] = CColor24(uint8_t(x * 7 + y), uint8_t(y * 3), uint8_t((x ^ y) & 0xFF));
        }
        return b;
    }();
    return img;
}

void Run(benchmark::State& state, const ProcessingSettings& s) {
    ImageSet set;
    set.Install(Original());
    const ViewSize view{800, 600};
    for (auto _ : state) {
        Process(set, s, ProcessMode::Preview, view);
        benchmark::DoNotOptimize(set.work.Data());
    }
}

void BM_PreviewDefaults(benchmark::State& state) {
    ProcessingSettings s;
    s.SetViewDefaults(800, 600);
    Run(state, s);
}

void BM_PreviewGeometry(benchmark::State& state) {
    ProcessingSettings s;
    s.SetViewDefaults(800, 600);
    s.m_bCrop = 1;
    s.m_rcCrop = IntRect{40, 30, 760, 570};
    s.m_bResize = 1;
    s.m_nSizeX = 700;
    s.m_nSizeY = 500;
    s.m_fRotateAngle = 17.0f;
    s.m_bFlipX = 1;
    s.m_bFlipY = 1;
    Run(state, s);
}

} // namespace

BENCHMARK(BM_PreviewDefaults)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewGeometry)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
