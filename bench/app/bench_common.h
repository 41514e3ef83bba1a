#pragma once
// Shared by the app benchmarks: a 24-megapixel test picture with structure
// (gradients, rings, edges; no noise, so codecs behave as on a photograph) and
// a reporter that prints each measurement's ratio to its peer after the run.

#include "app/bmp_file.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

inline constexpr int kBenchWidth = 6000;
inline constexpr int kBenchHeight = 4000;

inline BMP_File BenchPicture(int w = kBenchWidth, int h = kBenchHeight) {
    BMP_File img;
    img.CreateUninitialized(w, h);
    const double cx = w * 0.4, cy = h * 0.55;
    for (int y = 0; y < h; ++y) {
        CColor24* row = img.Row(y);
        for (int x = 0; x < w; ++x) {
            const double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
            const int ring = int(d / 37.0) & 1;
            const uint8_t r = uint8_t(x * 255 / w);
            const uint8_t g = uint8_t(ring ? 200 - y * 120 / h : 40 + y * 150 / h);
            const uint8_t b = uint8_t(128 + 100 * std::sin(x * 0.01 + y * 0.004));
            row[x] = CColor24(r, g, b);
        }
    }
    return img;
}

// Records the mean real time of every benchmark and prints, after the table,
// "name / peer = ratio (target)" for each pair.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Pair {
        std::string ours;
        std::string peer; // empty: compare against an absolute limit in ms
        double target;
    };
    explicit RatioReporter(std::vector<Pair> pairs) : pairs_(std::move(pairs)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            std::string name = r.benchmark_name();
            if (auto slash = name.find('/'); slash != std::string::npos) name.resize(slash);
            // Milliseconds whatever unit the benchmark reports in.
            const double toMs = benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                                benchmark::GetTimeUnitMultiplier(r.time_unit);
            ms_[name] = r.GetAdjustedRealTime() * toMs;
            cpuMs_[name] = r.GetAdjustedCPUTime() * toMs;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n");
        for (const Pair& p : pairs_) {
            auto a = ms_.find(p.ours);
            if (a == ms_.end()) continue;
            if (p.peer.empty()) {
                std::printf("%-28s %10.3f ms (target < %.1f ms) %s\n", p.ours.c_str(), a->second,
                            p.target, a->second < p.target ? "ok" : "OVER");
                continue;
            }
            auto b = ms_.find(p.peer);
            if (b == ms_.end() || b->second <= 0) continue;
            const double ratio = a->second / b->second;
            // On a busy machine wall time also counts waiting for a core; the
            // ratio of the process's CPU time shows the work itself.
            const double cpuRatio = cpuMs_[p.ours] / std::max(cpuMs_[p.peer], 1e-9);
            std::printf("%-24s / %-24s = %5.2f real, %5.2f cpu (target <= %.2f) %s\n",
                        p.ours.c_str(), p.peer.c_str(), ratio, cpuRatio, p.target,
                        ratio <= p.target ? "ok" : "OVER");
        }
    }

private:
    std::vector<Pair> pairs_;
    std::map<std::string, double> ms_;
    std::map<std::string, double> cpuMs_;
};

inline int RunWithRatios(int argc, char** argv, std::vector<RatioReporter::Pair> pairs) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(std::move(pairs));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
