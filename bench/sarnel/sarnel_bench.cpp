// Median 21 x 21 on a 12-megapixel plane against OpenCV's medianBlur, and a forward
// plus inverse 2-D transform against FFTW (with an estimated and with a measured
// plan, planned outside the timing), on the same data in the same run. Each
// pair runs once with the default number of threads and once on one thread; the
// summary at the end prints ours / peer for every pair.
#include "sarnel/fft.h"
#include "sarnel/internal.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <tuple>

namespace {

constexpr int kMedianW = 4000, kMedianH = 3000;

// A photograph-like 8-bit plane: smooth shading, a few edges, sensor noise.
const std::vector<uint8_t>& medianInput() {
    static const std::vector<uint8_t> data = [] {
        std::vector<uint8_t> v(size_t(kMedianW) * kMedianH);
        std::mt19937 rng(1);
        std::normal_distribution<double> noise(0.0, 12.0);
        for (int y = 0; y < kMedianH; ++y)
            for (int x = 0; x < kMedianW; ++x) {
                double s = 128 + 60 * std::sin(x * 0.003) * std::cos(y * 0.004);
                if ((x / 500 + y / 400) % 2) s += 40;
                s += noise(rng);
                v[size_t(y) * kMedianW + x] = uint8_t(std::clamp(s, 0.0, 255.0));
            }
        return v;
    }();
    return data;
}

void setThreads(int threads) {
    sarnel::setMaxThreads(threads);
    cv::setNumThreads(threads == 0 ? -1 : threads);
}

void BM_Median21_Sarnel(benchmark::State& state) {
    setThreads(int(state.range(0)));
    const auto& in = medianInput();
    sarnel::Plane plane;
    plane.width = kMedianW;
    plane.height = kMedianH;
    for (auto _ : state) {
        state.PauseTiming();
        plane.samples.assign(in.begin(), in.end());
        state.ResumeTiming();
        sarnel::medianFilter(plane, 21, 21);
        benchmark::DoNotOptimize(plane.samples.data());
    }
    setThreads(0);
}

void BM_Median21_OpenCV(benchmark::State& state) {
    setThreads(int(state.range(0)));
    const auto& in = medianInput();
    cv::Mat src(kMedianH, kMedianW, CV_8UC1, const_cast<uint8_t*>(in.data()));
    cv::Mat dst(kMedianH, kMedianW, CV_8UC1);
    for (auto _ : state) {
        cv::medianBlur(src, dst, 21);
        benchmark::DoNotOptimize(dst.data);
    }
    setThreads(0);
}

// Every spatial filter at the largest aperture on the same 12-megapixel picture, to
// show none of them falls back to per-pixel sorting or summing (no peer).
void BM_Filter21_Sarnel(benchmark::State& state) {
    const auto& in = medianInput();
    sarnel::Plane plane;
    plane.width = kMedianW;
    plane.height = kMedianH;
    for (auto _ : state) {
        state.PauseTiming();
        plane.samples.assign(in.begin(), in.end());
        if (state.range(0) == 10) std::fill(plane.samples.begin(), plane.samples.end(), 200);
        state.ResumeTiming();
        switch (state.range(0)) {
        case 0:
            sarnel::normalFilter(plane, 21, 21);
            break;
        case 1:
            sarnel::geometricFilter(plane, 21, 21);
            break;
        case 2:
            sarnel::harmonicFilter(plane, 21, 21);
            break;
        case 3:
            sarnel::contraharmonicFilter(plane, 21, 21, 1.5);
            break;
        case 4:
            sarnel::minFilter(plane, 21, 21);
            break;
        case 5:
            sarnel::maxFilter(plane, 21, 21);
            break;
        case 6:
            sarnel::midPointFilter(plane, 21, 21);
            break;
        case 7:
            sarnel::trimmedMeanFilter(plane, 21, 21, 100);
            break;
        case 8:
            sarnel::adaptiveLocalFilter(plane, 0, 21, 21, 1000);
            break;
        case 9:
        case 10:
            sarnel::adaptiveMedianFilter(plane, 3, 23);
            break;
        }
        benchmark::DoNotOptimize(plane.samples.data());
    }
    static const char* names[] = {"arithmetic",
                                  "geometric",
                                  "harmonic",
                                  "contraharmonic",
                                  "min",
                                  "max",
                                  "midpoint",
                                  "trimmed d=100",
                                  "adaptive local",
                                  "adaptive median 3..23",
                                  "adaptive median 3..23, flat plane"};
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_Filter21_Sarnel)
    ->DenseRange(0, 10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

std::vector<sarnel::cplx> transformInput(int w, int h) {
    std::vector<sarnel::cplx> v(size_t(w) * h);
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> d(0.0, 255.0);
    for (auto& c : v) c = {d(rng), 0.0};
    return v;
}

void BM_Transform_Sarnel(benchmark::State& state) {
    const int w = int(state.range(0)), h = int(state.range(1));
    setThreads(int(state.range(2)));
    const auto in = transformInput(w, h);
    std::vector<sarnel::cplx> data = in;
    for (auto _ : state) {
        sarnel::fft2d(data.data(), w, h, +1, sarnel::FftScaling::Sqrt);
        sarnel::fft2d(data.data(), w, h, -1, sarnel::FftScaling::Sqrt);
        benchmark::DoNotOptimize(data.data());
    }
    setThreads(0);
}

// FFTW's plans for one size and planning flag, with their own in-place
// buffer. They are made once per size and flag and kept, so that planning
// (seconds with FFTW_MEASURE, which runs candidate transforms to pick the
// fastest) is never part of a measurement, however often the benchmark
// library calls the benchmark function.
struct FftwPlans {
    fftw_complex* data = nullptr;
    fftw_plan fwd = nullptr, inv = nullptr;
};

const FftwPlans& fftwPlans(int w, int h, unsigned flags) {
    static std::map<std::tuple<int, int, unsigned>, FftwPlans> plans;
    FftwPlans& p = plans[{w, h, flags}];
    if (!p.data) {
        p.data = fftw_alloc_complex(size_t(w) * h);
        // Measuring overwrites the buffer; the input is put in afterwards.
        p.fwd = fftw_plan_dft_2d(h, w, p.data, p.data, FFTW_FORWARD, flags);
        p.inv = fftw_plan_dft_2d(h, w, p.data, p.data, FFTW_BACKWARD, flags);
    }
    return p;
}

// FFTW here is the plain single-threaded library, with a plan that is
// estimated (cheap to make) or measured (what a user who cares about speed
// makes once and keeps).
void transformFftw(benchmark::State& state, unsigned flags) {
    const int w = int(state.range(0)), h = int(state.range(1));
    const FftwPlans& p = fftwPlans(w, h, flags);
    const auto in = transformInput(w, h);
    for (size_t i = 0; i < in.size(); ++i) p.data[i][0] = in[i].real(), p.data[i][1] = 0.0;
    const double scale = 1.0 / std::sqrt(double(w) * h);
    for (auto _ : state) {
        fftw_execute(p.fwd);
        fftw_execute(p.inv);
        // Same 1/sqrt(N) scaling on both directions as ours.
        for (size_t i = 0; i < in.size(); ++i)
            p.data[i][0] *= scale * scale, p.data[i][1] *= scale * scale;
        benchmark::DoNotOptimize(p.data);
    }
}

void BM_Transform_FFTW(benchmark::State& state) {
    transformFftw(state, FFTW_ESTIMATE);
}
void BM_Transform_FFTW_Measure(benchmark::State& state) {
    transformFftw(state, FFTW_MEASURE);
}

// Threads argument: 0 = default (one per hardware thread), 1 = single thread.
BENCHMARK(BM_Median21_Sarnel)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Median21_OpenCV)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Transform_Sarnel)
    ->Args({1024, 768, 0})
    ->Args({1000, 1000, 0})
    ->Args({1009, 1013, 0})
    ->Args({1024, 768, 1})
    ->Args({1000, 1000, 1})
    ->Args({1009, 1013, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Transform_FFTW)
    ->Args({1024, 768})
    ->Args({1000, 1000})
    ->Args({1009, 1013})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Transform_FFTW_Measure)
    ->Args({1024, 768})
    ->Args({1000, 1000})
    ->Args({1009, 1013})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Keeps each run's time per iteration so the pairs can be compared at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
                cpuTimes[r.benchmark_name()] = r.GetAdjustedCPUTime();
            }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
    std::map<std::string, double> cpuTimes; // calling thread only
};

// Real time is the figure that counts; on one thread the CPU time of the calling
// thread is printed too, as it is less disturbed by other load on the machine.
void printRatio(const RatioReporter& rep, const std::string& ours, const std::string& peer,
                const std::string& label, double target, bool oneThread) {
    auto a = rep.times.find(ours), b = rep.times.find(peer);
    if (a == rep.times.end() || b == rep.times.end()) return;
    const double ratio = a->second / b->second;
    std::printf("%-64s ours %8.1f ms  peer %8.1f ms  ratio %5.2f (target <= %.0f) %s",
                label.c_str(), a->second, b->second, ratio, target,
                ratio <= target ? "ok" : "MISSED");
    if (oneThread)
        std::printf("  [cpu %.1f / %.1f ms = %.2f]", rep.cpuTimes.at(ours), rep.cpuTimes.at(peer),
                    rep.cpuTimes.at(ours) / rep.cpuTimes.at(peer));
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nours / peer (real time per iteration)\n");
    const std::string suffix = "/real_time";
    printRatio(reporter, "BM_Median21_Sarnel/0" + suffix, "BM_Median21_OpenCV/0" + suffix,
               "median 21x21 4000x3000, default threads", 3, false);
    printRatio(reporter, "BM_Median21_Sarnel/1" + suffix, "BM_Median21_OpenCV/1" + suffix,
               "median 21x21 4000x3000, one thread", 3, true);
    for (auto [w, h, target] :
         {std::tuple{1024, 768, 3.0}, std::tuple{1000, 1000, 3.0}, std::tuple{1009, 1013, 10.0}}) {
        const std::string size = std::to_string(w) + "/" + std::to_string(h);
        for (const char* plan : {"", "_Measure"})
            for (int threads : {0, 1}) {
                const std::string label = "transform fwd+inv " + std::to_string(w) + "x" +
                                          std::to_string(h) +
                                          (threads ? ", one thread" : ", default threads") +
                                          (*plan ? " vs FFTW_MEASURE" : " vs FFTW_ESTIMATE");
                printRatio(reporter,
                           "BM_Transform_Sarnel/" + size + "/" + std::to_string(threads) + suffix,
                           "BM_Transform_FFTW" + std::string(plan) + "/" + size + suffix, label,
                           target, threads == 1);
            }
    }
    benchmark::Shutdown();
    return 0;
}
