// Video through pellorin against the ffmpeg program on the same 640 x 480
// Motion JPEG AVI, in the same run:
// - Transcode: decode every frame, run it through the pipeline with no
//   treatment, encode it again as Motion JPEG at the same quantiser; ffmpeg
//   does the same decode and encode (its own process, started per run).
// - Write300Light: 300 frames with a light treatment (colour adjustment and a
//   mirror), against real time (25 frames per second).
// Prints frames per second and the ratio to ffmpeg at the end.

#include "pipeline/pipeline.h"
#include "video/avi_video_file.h"
#include "video/frame_loop.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 300;

// Processor seconds of this process (all its threads) or of the children it
// waited for: on a machine shared with other work, wall time also counts
// waiting for a core, processor time only the work.
double CpuSeconds(int who) {
    rusage u{};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
// Our quality 75 is quantiser 9 of the Motion JPEG encoder; ffmpeg gets the same.
constexpr int kQuality = 75;
constexpr const char* kFFmpegQuantiser = "9";

const fs::path& Folder() {
    static const fs::path dir = [] {
        fs::path d =
            fs::temp_directory_path() / ("pellorin-bench-video-" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

// A 640 x 480, 300-frame Motion JPEG AVI of moving test patterns.
const std::string& Source() {
    static const std::string path = [] {
        const std::string p = (Folder() / "source.avi").string();
        const std::string cmd = std::string(PELLORIN_FFMPEG) +
                                " -nostdin -v error -y -f lavfi -i testsrc2=s=640x480:r=25 "
                                "-frames:v " +
                                std::to_string(kFrames) + " -c:v mjpeg -q:v 4 '" + p + "'";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "cannot make %s\n", p.c_str());
        return p;
    }();
    return path;
}

ProcessingSettings Settings(bool light) {
    ProcessingSettings s;
    s.SetViewDefaults(kDefaultViewWidth, kDefaultViewHeight);
    if (light) {
        s.m_bColorAdjusment = 1;
        s.m_ca.caBrightness = 20;
        s.m_ca.caContrast = 15;
        s.m_bFlipX = 1;
    }
    return s;
}

void RunOurs(benchmark::State& st, bool light) {
    const std::string out = (Folder() / (light ? "light.avi" : "ours.avi")).string();
    const ProcessingSettings settings = Settings(light);
    AviCodecOptions codec;
    codec.quality = kQuality;
    const double cpu = CpuSeconds(RUSAGE_SELF);
    for (auto _ : st) {
        std::string message;
        auto source = OpenAviSource(Source(), &message);
        if (!source) {
            st.SkipWithError(message.c_str());
            return;
        }
        const auto result = RunFrameLoop(*source, settings, {}, VideoSinkFor(out, codec));
        if (!result.written || result.framesWritten != kFrames) {
            st.SkipWithError(result.error.c_str());
            return;
        }
    }
    st.counters["cpu_s"] = (CpuSeconds(RUSAGE_SELF) - cpu) / double(st.iterations());
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

void Transcode_Pellorin(benchmark::State& st) {
    RunOurs(st, false);
}

void Transcode_FFmpeg(benchmark::State& st) {
    const std::string out = (Folder() / "ffmpeg.avi").string();
    const std::string cmd = std::string(PELLORIN_FFMPEG) + " -nostdin -v error -y -i '" + Source() +
                            "' -c:v mjpeg -q:v " + kFFmpegQuantiser + " '" + out + "'";
    const double cpu = CpuSeconds(RUSAGE_CHILDREN);
    for (auto _ : st) {
        if (std::system(cmd.c_str()) != 0) {
            st.SkipWithError("ffmpeg failed");
            return;
        }
    }
    st.counters["cpu_s"] = (CpuSeconds(RUSAGE_CHILDREN) - cpu) / double(st.iterations());
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

void Write300Light_Pellorin(benchmark::State& st) {
    RunOurs(st, true);
}

BENCHMARK(Transcode_Pellorin)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(Transcode_FFmpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(Write300Light_Pellorin)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

// Frames per second of each benchmark, and ours against ffmpeg's.
class FpsReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                const double seconds =
                    r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
                std::string name = r.benchmark_name();
                if (auto slash = name.find('/'); slash != std::string::npos) name.resize(slash);
                fps_[name] = kFrames / seconds;
                if (auto c = r.counters.find("cpu_s"); c != r.counters.end())
                    cpu_[name] = c->second;
            }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n");
        for (const auto& [name, fps] : fps_)
            std::printf("%-26s %7.1f frames/s\n", name.c_str(), fps);
        const auto ours = fps_.find("Transcode_Pellorin"), peer = fps_.find("Transcode_FFmpeg");
        if (ours != fps_.end() && peer != fps_.end()) {
            const double ratio = peer->second / ours->second;
            const double cpuRatio =
                cpu_["Transcode_Pellorin"] / std::max(cpu_["Transcode_FFmpeg"], 1e-9);
            std::printf("Transcode: pellorin / ffmpeg = %.2f real, %.2f cpu (target <= 1.50) %s\n",
                        ratio, cpuRatio, ratio <= 1.5 ? "ok" : "OVER");
        }
        const auto light = fps_.find("Write300Light_Pellorin");
        if (light != fps_.end())
            std::printf("Write300Light: %.1f frames/s (target > 25) %s\n", light->second,
                        light->second > 25 ? "ok" : "UNDER");
    }

private:
    std::map<std::string, double> fps_, cpu_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Source(); // made before any clock runs
    FpsReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(Folder(), ec);
    return 0;
}
