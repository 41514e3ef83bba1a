// The pipeline's two cheapest runs on a 24-megapixel image: final mode with
// every setting at its default (a full-size copy, so it is set against memcpy
// of the same bytes) and the preview scaling to an 800 x 600 view.

#include "bench/app/bench_common.h"
#include "pipeline/pipeline.h"

#include <cstring>

namespace {

struct Fixture {
    ImageSet images;
    ProcessingSettings settings;
    Fixture() { images.Install(BenchPicture()); }
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void BM_FinalIdentity(benchmark::State& state) {
    Fixture& f = Shared();
    Process(f.images, f.settings, ProcessMode::Final, ViewSize{});
    for (auto _ : state) {
        Process(f.images, f.settings, ProcessMode::Final, ViewSize{});
        benchmark::DoNotOptimize(f.images.work.Data());
    }
    if (!f.images.work.SameAs(f.images.original)) state.SkipWithError("not an identity");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(f.images.original.PixelBytes()));
}

void BM_Memcpy(benchmark::State& state) {
    Fixture& f = Shared();
    const size_t n = f.images.original.PixelBytes();
    std::vector<uint8_t> dst(n);
    std::memcpy(dst.data(), f.images.original.Bytes(), n);
    for (auto _ : state) {
        std::memcpy(dst.data(), f.images.original.Bytes(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n));
}

void BM_PreviewScale800x600(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        Process(f.images, f.settings, ProcessMode::Preview, ViewSize{800, 600});
        benchmark::DoNotOptimize(f.images.work.Data());
    }
    if (f.images.work.Width() != 800 || f.images.work.Height() != 600)
        state.SkipWithError("wrong preview size");
}

BENCHMARK(BM_FinalIdentity)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PreviewScale800x600)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(
        argc, argv, {{"BM_FinalIdentity", "BM_Memcpy", 1.5}, {"BM_PreviewScale800x600", "", 5.0}});
}
