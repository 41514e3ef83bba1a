// PNG and JPEG load and save of a 24-megapixel picture through LoadImageFile /
// SaveImageFile, against FreeImage_Load / FreeImage_Save alone on the same
// files, and against the codec alone (libjpeg with the same settings, libpng
// with the same transforms) decoding into a new block or encoding from one:
// what our layer adds (a new picture's pages, temporary file, flush, rename).

#include "app/image_files.h"
#include "bench/app/bench_common.h"

#include <FreeImage.h>
#include <cstdio>
#include <jpeglib.h>
#include <png.h>

#include <cstdlib>
#include <memory>
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

// libjpeg alone, as LoadImageFile drives it, into a new block of memory.
void BM_JpegLoad_Libjpeg(benchmark::State& state) {
    const std::string path = Shared().Path("in.jpg");
    for (auto _ : state) {
        jpeg_decompress_struct d;
        jpeg_error_mgr e;
        d.err = jpeg_std_error(&e);
        jpeg_create_decompress(&d);
        FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_stdio_src(&d, f);
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_RGB;
        d.dct_method = JDCT_IFAST;
        d.do_fancy_upsampling = FALSE;
        jpeg_start_decompress(&d);
        const size_t row = size_t(d.output_width) * 3;
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[row * d.output_height]);
        while (d.output_scanline < d.output_height) {
            JSAMPROW r = pixels.get() + row * d.output_scanline;
            jpeg_read_scanlines(&d, &r, 1);
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        std::fclose(f);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// libjpeg alone writing the picture's rows to a file with our settings.
void BM_JpegSave_Libjpeg(benchmark::State& state) {
    Fixture& fx = Shared();
    const std::string path = fx.Path("peer-libjpeg.jpg");
    for (auto _ : state) {
        jpeg_compress_struct c;
        jpeg_error_mgr e;
        c.err = jpeg_std_error(&e);
        jpeg_create_compress(&c);
        FILE* f = std::fopen(path.c_str(), "wb");
        jpeg_stdio_dest(&c, f);
        c.image_width = JDIMENSION(fx.image.Width());
        c.image_height = JDIMENSION(fx.image.Height());
        c.input_components = 3;
        c.in_color_space = JCS_RGB;
        jpeg_set_defaults(&c);
        jpeg_set_quality(&c, 75, TRUE);
        jpeg_start_compress(&c, TRUE);
        while (c.next_scanline < c.image_height) {
            JSAMPROW r = reinterpret_cast<JSAMPROW>(fx.image.Row(int(c.next_scanline)));
            jpeg_write_scanlines(&c, &r, 1);
        }
        jpeg_finish_compress(&c);
        jpeg_destroy_compress(&c);
        std::fclose(f);
    }
}

// libpng alone into a new block of memory.
void BM_PngLoad_Libpng(benchmark::State& state) {
    const std::string path = Shared().Path("in.png");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
        std::unique_ptr<uint8_t[]> pixels(new uint8_t[size_t(w) * 3 * h]);
        std::vector<png_bytep> rows(h);
        for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.get() + size_t(w) * 3 * y;
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// libpng alone writing the picture's rows to a file with our settings.
void BM_PngSave_Libpng(benchmark::State& state) {
    Fixture& fx = Shared();
    const std::string path = fx.Path("peer-libpng.png");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_set_filter(png, PNG_FILTER_TYPE_BASE,
                       PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH);
        png_set_IHDR(png, info, png_uint_32(fx.image.Width()), png_uint_32(fx.image.Height()), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                     PNG_FILTER_TYPE_BASE);
        png_write_info(png, info);
        for (int y = 0; y < fx.image.Height(); ++y)
            png_write_row(png, reinterpret_cast<png_const_bytep>(fx.image.Row(y)));
        png_write_end(png, info);
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
    }
}

// Peers side by side; a few iterations each, since one PNG of this size takes
// seconds.
#define FILE_BENCH(fn, n) BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(n)
FILE_BENCH(BM_PngSave_Ours, 3);
FILE_BENCH(BM_PngSave_FreeImage, 3);
FILE_BENCH(BM_PngLoad_Ours, 4);
FILE_BENCH(BM_PngLoad_OursFresh, 4);
FILE_BENCH(BM_PngLoad_FreeImage, 4);
FILE_BENCH(BM_PngSave_Libpng, 3);
FILE_BENCH(BM_PngLoad_Libpng, 4);
FILE_BENCH(BM_JpegSave_Ours, 8);
FILE_BENCH(BM_JpegSave_FreeImage, 8);
FILE_BENCH(BM_JpegLoad_Ours, 8);
FILE_BENCH(BM_JpegLoad_OursFresh, 8);
FILE_BENCH(BM_JpegLoad_FreeImage, 8);
FILE_BENCH(BM_JpegSave_Libjpeg, 8);
FILE_BENCH(BM_JpegLoad_Libjpeg, 8);

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_PngSave_Ours", "BM_PngSave_FreeImage", 1.2},
                          {"BM_PngLoad_Ours", "BM_PngLoad_FreeImage", 1.2},
                          {"BM_PngLoad_OursFresh", "BM_PngLoad_FreeImage", 1.2},
                          {"BM_JpegSave_Ours", "BM_JpegSave_FreeImage", 1.2},
                          {"BM_JpegLoad_Ours", "BM_JpegLoad_FreeImage", 1.2},
                          {"BM_JpegLoad_OursFresh", "BM_JpegLoad_FreeImage", 1.2},
                          // Against the codec alone.
                          {"BM_PngSave_Ours", "BM_PngSave_Libpng", 1.1},
                          {"BM_PngLoad_OursFresh", "BM_PngLoad_Libpng", 1.1},
                          {"BM_JpegSave_Ours", "BM_JpegSave_Libjpeg", 1.1},
                          {"BM_JpegLoad_OursFresh", "BM_JpegLoad_Libjpeg", 1.1}});
}
