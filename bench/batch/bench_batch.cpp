// What a user's batch does: a folder of 12-megapixel photographs, each
// sharpened, brightened, resized (nearest) to 2000 x 1500 and saved as a JPEG
// of quality 75, on all cores. Ours runs the batch pellorin-cli apply runs, in
// this process and as the program itself; the peers in the same run are
// libvips (its C API, one pipeline per picture, as many pictures at once as
// there are cores, each pipeline with vips's own threads) and ImageMagick's
// convert (one process per picture, as many at once as there are cores).
// Prints pictures per second, processor seconds per picture and each ratio to
// the peers.
//
// PELLORIN_BATCH_PICTURES sets the folder's size (default 12).

#include "app/jpeg_file.h"
#include "app/settings_fields.h"
#include "app/view_frames.h"
#include "imageops/color.h"
#include "pipeline/batch.h"

#include <benchmark/benchmark.h>
#include <vips/vips.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kPhotoWidth = 4000, kPhotoHeight = 3000; // 12 megapixels
constexpr int kOutWidth = 2000, kOutHeight = 1500;
constexpr int kBrightSlider = 60;
constexpr int kQuality = 75;

int Cores() {
    return int(std::max(1u, std::thread::hardware_concurrency()));
}

int PictureCount() {
    const char* n = std::getenv("PELLORIN_BATCH_PICTURES");
    const int count = n ? std::atoi(n) : 12;
    return std::clamp(count, 1, 1000);
}

// A photograph-like picture: soft gradients, rings and edges under a fine
// grain, so that the JPEG holds as much detail as a camera's does.
BMP_File Photo(int index) {
    BMP_File img;
    img.CreateUninitialized(kPhotoWidth, kPhotoHeight);
    const double cx = kPhotoWidth * (0.3 + 0.05 * index), cy = kPhotoHeight * 0.55;
    uint32_t seed = 12345u + uint32_t(index);
    for (int y = 0; y < kPhotoHeight; ++y) {
        CColor24* row = img.Row(y);
        for (int x = 0; x < kPhotoWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int((seed >> 24) & 15) - 8;
            const double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
            const int ring = int(d / 53.0) & 1;
            const int r = x * 255 / kPhotoWidth + grain;
            const int g =
                (ring ? 190 - y * 110 / kPhotoHeight : 50 + y * 140 / kPhotoHeight) + grain;
            const int b = int(128 + 90 * std::sin(x * 0.013 + y * 0.006)) + grain;
            row[x] = CColor24(uint8_t(std::clamp(r, 0, 255)), uint8_t(std::clamp(g, 0, 255)),
                              uint8_t(std::clamp(b, 0, 255)));
        }
    }
    return img;
}

ProcessingSettings Treatment() {
    ProcessingSettings s;
    s.SetViewDefaults(kDefaultViewWidth, kDefaultViewHeight);
    SetDefaultFrames(s, kDefaultViewWidth, kDefaultViewHeight);
    s.m_aEffects = {14, 1}; // Sharpen, Brightness
    s.m_aEffectChecks = {1, 1};
    s.m_nBrightR = s.m_nBrightG = s.m_nBrightB = kBrightSlider;
    s.m_bResize = 1;
    s.m_nSizeX = kOutWidth;
    s.m_nSizeY = kOutHeight;
    return s;
}

struct Folder {
    fs::path root, in, config;
    std::vector<std::string> pictures;

    Folder() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellorin-batch-XXXXXX";
        root = ::mkdtemp(templ.data());
        in = root / "photos";
        fs::create_directory(in);
        const int n = PictureCount();
        std::fprintf(stderr, "Making %d photographs of %d x %d in %s ...\n", n, kPhotoWidth,
                     kPhotoHeight, in.c_str());
        for (int i = 0; i < n; ++i) {
            // Quality 92, as cameras save.
            std::vector<uint8_t> bytes;
            std::string why;
            if (!EncodeJpeg(Photo(i % 8), bytes, why, 92)) {
                std::fprintf(stderr, "cannot make the photographs: %s\n", why.c_str());
                std::exit(1);
            }
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
            std::ofstream(in / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
            pictures.push_back((in / name).string());
        }
        std::sort(pictures.begin(), pictures.end());
        ProcessingSettings s = Treatment();
        SettingsFile file(s);
        config = root / "batch.qvc";
        file.Save(config.string());
    }
    ~Folder() { fs::remove_all(root); }

    // A fresh output folder for each peer.
    fs::path Out(const char* name) const {
        fs::path p = root / name;
        fs::remove_all(p);
        fs::create_directory(p);
        return p;
    }
    std::string OutFile(const fs::path& dir, size_t i) const {
        return (dir / fs::path(pictures[i]).filename()).string();
    }
};

Folder& Photos() {
    static Folder f;
    return f;
}

// Runs `command` and waits; false when it could not start or failed.
bool RunProgram(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Calls job(i) for every picture on `workers` threads, each taking the next.
template <class Job> bool ForEachPicture(size_t count, int workers, Job&& job) {
    std::atomic<size_t> next{0};
    std::atomic<bool> ok{true};
    auto work = [&] {
        for (size_t i = next++; i < count; i = next++)
            if (!job(i)) ok = false;
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < workers; ++t) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
    return ok;
}

// Processor time of this process and of its finished children, in seconds:
// on a machine shared with other work the wall time also counts waiting for a
// core, and the processor time per picture shows the work itself.
double CpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        ::getrusage(who, &u);
        total += double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                 double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

// Pictures per second, and processor seconds per picture since `cpuStart`.
void Count(benchmark::State& state, double cpuStart) {
    const double pictures = double(state.iterations()) * double(Photos().pictures.size());
    state.SetItemsProcessed(int64_t(pictures));
    state.counters["cpu_s_per_picture"] = (CpuSeconds() - cpuStart) / pictures;
}

void BM_Batch_Pellorin(benchmark::State& state) {
    Folder& f = Photos();
    const fs::path out = f.Out("pellorin");
    std::vector<BatchJob> jobs;
    for (size_t i = 0; i < f.pictures.size(); ++i)
        jobs.push_back(BatchJob{f.pictures[i], f.OutFile(out, i), {}});
    const ProcessingSettings s = Treatment();
    BatchOptions options; // final mode, metadata kept, all cores
    const double cpu = CpuSeconds();
    for (auto _ : state) {
        const BatchResult r = RunBatch(jobs, s, options, BatchEvents{});
        if (r.failed) state.SkipWithError("a picture failed");
    }
    Count(state, cpu);
}

void BM_Batch_PellorinCli(benchmark::State& state) {
    Folder& f = Photos();
    const fs::path out = f.Out("pellorin-cli");
    const double cpu = CpuSeconds();
    for (auto _ : state)
        if (!RunProgram({PELLORIN_CLI, "apply", "--config", f.config.string(), "--out-dir",
                         out.string(), f.in.string()}))
            state.SkipWithError("pellorin-cli failed");
    Count(state, cpu);
}

// One libvips pipeline: load, the same 1 x 3 sharpening kernel (6, -1 over
// 2 on the pixel and the one below), the same brightness offset, a nearest
// resize to half size, JPEG of quality 75.
bool VipsPicture(const std::string& in, const std::string& out, VipsImage* mask, double offset) {
    VipsImage* t[4] = {};
    VipsImage* image =
        vips_image_new_from_file(in.c_str(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    bool ok = image && vips_convi(image, &t[0], mask, nullptr) == 0 &&
              vips_linear1(t[0], &t[1], 1.0, offset, "uchar", TRUE, nullptr) == 0 &&
              vips_resize(t[1], &t[2], double(kOutWidth) / kPhotoWidth, "vscale",
                          double(kOutHeight) / kPhotoHeight, "kernel", VIPS_KERNEL_NEAREST,
                          nullptr) == 0 &&
              vips_jpegsave(t[2], out.c_str(), "Q", kQuality, nullptr) == 0;
    for (VipsImage* v : t)
        if (v) g_object_unref(v);
    if (image) g_object_unref(image);
    return ok;
}

void BM_Batch_Libvips(benchmark::State& state) {
    Folder& f = Photos();
    const fs::path out = f.Out("libvips");
    VipsImage* mask = vips_image_new_matrixv(1, 3, 0.0, 6.0, -1.0);
    vips_image_set_double(mask, "scale", 2.0);
    vips_image_set_double(mask, "offset", 0.0);
    const double offset = BrightnessOffset(kBrightSlider);
    const double cpu = CpuSeconds();
    for (auto _ : state) {
        const bool ok = ForEachPicture(f.pictures.size(), Cores(), [&](size_t i) {
            return VipsPicture(f.pictures[i], f.OutFile(out, i), mask, offset);
        });
        if (!ok) state.SkipWithError(vips_error_buffer());
    }
    g_object_unref(mask);
    Count(state, cpu);
}

void BM_Batch_ImageMagick(benchmark::State& state) {
    Folder& f = Photos();
    const fs::path out = f.Out("imagemagick");
    char add[32];
    std::snprintf(add, sizeof add, "%.4f%%", BrightnessOffset(kBrightSlider) * 100.0 / 255.0);
    const double cpu = CpuSeconds();
    for (auto _ : state) {
        const bool ok = ForEachPicture(f.pictures.size(), Cores(), [&](size_t i) {
            return RunProgram({IMAGEMAGICK_CONVERT, f.pictures[i], "-define", "convolve:scale=1",
                               "-morphology", "Convolve", "1x3:0,3,-0.5", "-evaluate", "Add", add,
                               "-sample",
                               std::to_string(kOutWidth) + "x" + std::to_string(kOutHeight) + "!",
                               "-quality", std::to_string(kQuality), f.OutFile(out, i)});
        });
        if (!ok) state.SkipWithError("convert failed");
    }
    Count(state, cpu);
}

// After the usual table: pictures per second and the ratios to the peers.
class BatchReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred) continue;
            std::string name = r.benchmark_name();
            if (auto slash = name.find('/'); slash != std::string::npos) name.resize(slash);
            const auto it = r.counters.find("items_per_second");
            if (it != r.counters.end()) rate_[name] = it->second.value;
            const auto cpu = r.counters.find("cpu_s_per_picture");
            if (cpu != r.counters.end()) cpu_[name] = cpu->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        const double vips = Rate("BM_Batch_Libvips"), magick = Rate("BM_Batch_ImageMagick");
        std::printf("\n%zu photographs of %d x %d, %d cores\n", Photos().pictures.size(),
                    kPhotoWidth, kPhotoHeight, Cores());
        const double vipsCpu = Cpu("BM_Batch_Libvips"), magickCpu = Cpu("BM_Batch_ImageMagick");
        std::printf("%-22s %10s %10s %10s   %12s %10s %10s\n", "", "pictures/s", "vs libvips",
                    "vs convert", "cpu s/picture", "vs libvips", "vs convert");
        for (const char* name : {"BM_Batch_Pellorin", "BM_Batch_PellorinCli", "BM_Batch_Libvips",
                                 "BM_Batch_ImageMagick"}) {
            const double rate = Rate(name), cpu = Cpu(name);
            if (rate <= 0) continue;
            // Speed ratios: how many times as fast (by wall time, and by
            // processor time per picture).
            std::printf("%-22s %10.2f %9.2fx %9.2fx   %12.3f %9.2fx %9.2fx\n", name, rate,
                        vips > 0 ? rate / vips : 0, magick > 0 ? rate / magick : 0, cpu,
                        cpu > 0 ? vipsCpu / cpu : 0, cpu > 0 ? magickCpu / cpu : 0);
        }
        const double ours = Rate("BM_Batch_Pellorin");
        if (ours > 0 && vips > 0)
            std::printf("Pellorin / libvips = %.2fx by wall time, %.2fx by processor time "
                        "(target >= 2.00) %s\n",
                        ours / vips,
                        Cpu("BM_Batch_Pellorin") > 0 ? vipsCpu / Cpu("BM_Batch_Pellorin") : 0,
                        ours / vips >= 2.0 ? "ok" : "UNDER");
    }

private:
    double Rate(const char* name) const {
        const auto it = rate_.find(name);
        return it == rate_.end() ? 0 : it->second;
    }
    double Cpu(const char* name) const {
        const auto it = cpu_.find(name);
        return it == cpu_.end() ? 0 : it->second;
    }
    std::map<std::string, double> rate_, cpu_;
};

// A whole folder per iteration; convert takes many times longer than the
// others, so it runs once.
#define BATCH_BENCH(fn, n)                                                                         \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(n)
BATCH_BENCH(BM_Batch_Pellorin, 2);
BATCH_BENCH(BM_Batch_PellorinCli, 2);
BATCH_BENCH(BM_Batch_Libvips, 2);
BATCH_BENCH(BM_Batch_ImageMagick, 1);

} // namespace

int main(int argc, char** argv) {
    if (VIPS_INIT(argv[0])) {
        std::fprintf(stderr, "libvips cannot start: %s\n", vips_error_buffer());
        return 1;
    }
    // Each picture is read once: nothing for libvips to keep between runs.
    vips_cache_set_max(0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    Photos();
    BatchReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    vips_shutdown();
    return 0;
}
