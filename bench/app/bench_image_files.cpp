// PNG and JPEG load and save of a 24-megapixel picture through LoadImageFile /
// SaveImageFile, against FreeImage_Load / FreeImage_Save alone on the same
// files: what our layer adds (pixel conversion, temporary file, flush, rename).

#include "app/image_files.h"
#include "bench/app/bench_common.h"

#include <FreeImage.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Fixture {
    BMP_File image = BenchPicture();
    FIBITMAP* dib = nullptr; // the same picture as FreeImage holds it
    fs::path dir;

    Fixture() {
        InitFreeImageOnce();
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellorin-bench-XXXXXX";
        dir = ::mkdtemp(templ.data());
        dib = FreeImage_Allocate(image.Width(), image.Height(), 24);
        for (int y = 0; y < image.Height(); ++y) {
            BYTE* line = FreeImage_GetScanLine(dib, image.Height() - 1 - y);
            const CColor24* row = image.Row(y);
            for (int x = 0; x < image.Width(); ++x) {
                line[3 * x + FI_RGBA_RED] = row[x].r;
                line[3 * x + FI_RGBA_GREEN] = row[x].g;
                line[3 * x + FI_RGBA_BLUE] = row[x].b;
            }
        }
        // Files for the load benchmarks, written once by FreeImage.
        FreeImage_Save(FIF_PNG, dib, Path("in.png").c_str(), PNG_DEFAULT);
        FreeImage_Save(FIF_JPEG, dib, Path("in.jpg").c_str(), JPEG_DEFAULT);
    }
    ~Fixture() {
        FreeImage_Unload(dib);
        fs::remove_all(dir);
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void SaveOurs(benchmark::State& state, const char* name) {
    Fixture& f = Shared();
    const std::string path = f.Path(name);
    // One untimed save first: the process's first large save also pays for
    // setting up its staging memory, which later saves reuse.
    SaveImageFile(path, f.image);
    for (auto _ : state)
        if (!SaveImageFile(path, f.image)) state.SkipWithError("save failed");
}

void SavePeer(benchmark::State& state, FREE_IMAGE_FORMAT fif, int flags, const char* name) {
    Fixture& f = Shared();
    const std::string path = f.Path(name);
    FreeImage_Save(fif, f.dib, path.c_str(), flags);
    for (auto _ : state)
        if (!FreeImage_Save(fif, f.dib, path.c_str(), flags)) state.SkipWithError("save failed");
}

// Into the same target each time (as "Load Next" does with pictures of one
// size), or into a new, empty image each time.
void LoadOurs(benchmark::State& state, const char* name, bool freshTarget = false) {
    Fixture& f = Shared();
    const std::string path = f.Path(name);
    BMP_File out;
    for (auto _ : state) {
        if (freshTarget) out = BMP_File();
        if (!LoadImageFile(path, out)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(out.Data());
    }
}

void LoadPeer(benchmark::State& state, FREE_IMAGE_FORMAT fif, const char* name) {
    Fixture& f = Shared();
    const std::string path = f.Path(name);
    for (auto _ : state) {
        FIBITMAP* dib = FreeImage_Load(fif, path.c_str(), 0);
        if (!dib) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(dib);
        FreeImage_Unload(dib);
    }
}

void BM_PngSave_Ours(benchmark::State& s) {
    SaveOurs(s, "ours.png");
}
void BM_PngSave_FreeImage(benchmark::State& s) {
    SavePeer(s, FIF_PNG, PNG_DEFAULT, "peer.png");
}
void BM_PngLoad_Ours(benchmark::State& s) {
    LoadOurs(s, "in.png");
}
void BM_PngLoad_OursFresh(benchmark::State& s) {
    LoadOurs(s, "in.png", true);
}
void BM_PngLoad_FreeImage(benchmark::State& s) {
    LoadPeer(s, FIF_PNG, "in.png");
}
void BM_JpegSave_Ours(benchmark::State& s) {
    SaveOurs(s, "ours.jpg");
}
void BM_JpegSave_FreeImage(benchmark::State& s) {
    SavePeer(s, FIF_JPEG, JPEG_DEFAULT, "peer.jpg");
}
void BM_JpegLoad_Ours(benchmark::State& s) {
    LoadOurs(s, "in.jpg");
}
void BM_JpegLoad_OursFresh(benchmark::State& s) {
    LoadOurs(s, "in.jpg", true);
}
void BM_JpegLoad_FreeImage(benchmark::State& s) {
    LoadPeer(s, FIF_JPEG, "in.jpg");
}

// Peers side by side; a few iterations each, since one PNG of this size takes
// seconds.
#define FILE_BENCH(fn, n) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(n)
FILE_BENCH(BM_PngSave_Ours, 3);
FILE_BENCH(BM_PngSave_FreeImage, 3);
FILE_BENCH(BM_PngLoad_Ours, 4);
FILE_BENCH(BM_PngLoad_OursFresh, 4);
FILE_BENCH(BM_PngLoad_FreeImage, 4);
FILE_BENCH(BM_JpegSave_Ours, 8);
FILE_BENCH(BM_JpegSave_FreeImage, 8);
FILE_BENCH(BM_JpegLoad_Ours, 8);
FILE_BENCH(BM_JpegLoad_OursFresh, 8);
FILE_BENCH(BM_JpegLoad_FreeImage, 8);

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_PngSave_Ours", "BM_PngSave_FreeImage", 1.2},
                          {"BM_PngLoad_Ours", "BM_PngLoad_FreeImage", 1.2},
                          {"BM_PngLoad_OursFresh", "BM_PngLoad_FreeImage", 1.2},
                          {"BM_JpegSave_Ours", "BM_JpegSave_FreeImage", 1.2},
                          {"BM_JpegLoad_Ours", "BM_JpegLoad_FreeImage", 1.2},
                          {"BM_JpegLoad_OursFresh", "BM_JpegLoad_FreeImage", 1.2}});
}
