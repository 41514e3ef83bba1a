// Zembra against giflib on the same 100-frame 640 x 480 animation:
// decoding every frame (giflib: DGifSlurp plus expansion of the indexes into
// bottom-up rows, the layout our frames are decoded into) and encoding every
// frame with the same palettes (giflib: EGifPutLine per row). Prints the
// ratios ours / giflib at the end.
#include "gif.h"

#include <benchmark/benchmark.h>
#include <gif_lib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int kW = 640, kH = 480, kFrames = 100;

// Frames of a typical animation: a shaded background, a moving disc, text-like
// stripes and a little noise; one 256-colour palette.
struct Frames {
    std::vector<zembra::BitmapPtr> bitmaps;
    ZPalette palette{};
    std::vector<uint8_t> file; // the animation as our writer saves it

    Frames() {
        palette.count = 256;
        for (int i = 0; i < 256; ++i) {
            palette.rgbx[i][0] = uint8_t(i);
            palette.rgbx[i][1] = uint8_t((i * 7) & 255);
            palette.rgbx[i][2] = uint8_t(255 - i);
        }
        unsigned seed = 12345;
        for (int f = 0; f < kFrames; ++f) {
            zembra::BitmapPtr b = zembra::createBitmap(kW, kH, 8);
            b->palette = palette;
            const double cx = 320 + 200 * std::cos(f * 0.07), cy = 240 + 150 * std::sin(f * 0.05);
            for (int y = 0; y < kH; ++y) {
                uint8_t* row = b->bits + size_t(kH - 1 - y) * size_t(b->stride);
                for (int x = 0; x < kW; ++x) {
                    int v = (x / 6 + y / 5 + f) & 63;
                    const double dx = x - cx, dy = y - cy;
                    if (dx * dx + dy * dy < 90 * 90) v = 64 + ((x + y) / 9 & 31);
                    if (y > 380 && y < 440 && ((x / 3 + y / 4) % 5 == 0)) v = 200 + (x & 7);
                    seed = seed * 1103515245u + 12345u;
                    if ((seed >> 16) % 50 == 0) v = int(seed >> 8) & 255;
                    row[x] = uint8_t(v);
                }
            }
            bitmaps.push_back(std::move(b));
        }
        zembra::Animation a;
        load(a);
        file = a.buildFile();
    }

    // Hands copies of the frames to an animation, ready to be encoded.
    void load(zembra::Animation& a) const {
        a.setFrameCount(kFrames);
        for (int f = 0; f < kFrames; ++f) {
            zembra::BitmapPtr c = zembra::createBitmap(kW, kH, 8);
            std::memcpy(c->bits, bitmaps[f]->bits, size_t(c->stride) * kH);
            c->palette = palette;
            a.setFrameBitmap(f, c.release());
            a.setDelay(f, 4);
        }
    }
};

const Frames& frames() {
    static Frames fr;
    return fr;
}

struct MemReader {
    const std::vector<uint8_t>* data;
    size_t pos;
};

int readMem(GifFileType* g, GifByteType* out, int n) {
    auto* r = static_cast<MemReader*>(g->UserData);
    size_t k = std::min(size_t(n), r->data->size() - r->pos);
    std::memcpy(out, r->data->data() + r->pos, k);
    r->pos += k;
    return int(k);
}

int writeMem(GifFileType* g, const GifByteType* in, int n) {
    static_cast<std::vector<uint8_t>*>(g->UserData)
        ->insert(static_cast<std::vector<uint8_t>*>(g->UserData)->end(), in, in + n);
    return n;
}

void BM_Decode_Zembra(benchmark::State& st) {
    const Frames& fr = frames();
    for (auto _ : st) {
        zembra::Animation a;
        a.loadFromMemory(fr.file.data(), fr.file.size());
        for (auto& f : a.frames) a.decodeFrame(*f);
        benchmark::DoNotOptimize(a.frames.back()->bitmap->bits);
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

void BM_Decode_Giflib(benchmark::State& st) {
    const Frames& fr = frames();
    for (auto _ : st) {
        MemReader r{&fr.file, 0};
        int err = 0;
        GifFileType* g = DGifOpen(&r, readMem, &err);
        if (!g || DGifSlurp(g) != GIF_OK) {
            st.SkipWithError("giflib could not read the animation");
            break;
        }
        std::vector<std::vector<uint8_t>> out(size_t(g->ImageCount));
        for (int i = 0; i < g->ImageCount; ++i) {
            const SavedImage& s = g->SavedImages[i];
            const int w = s.ImageDesc.Width, h = s.ImageDesc.Height, stride = (w + 3) & ~3;
            out[size_t(i)].resize(size_t(stride) * size_t(h));
            for (int y = 0; y < h; ++y)
                std::memcpy(out[size_t(i)].data() + size_t(h - 1 - y) * size_t(stride),
                            s.RasterBits + size_t(y) * size_t(w), size_t(w));
        }
        benchmark::DoNotOptimize(out.back().data());
        DGifCloseFile(g, &err);
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

void BM_Encode_Zembra(benchmark::State& st) {
    const Frames& fr = frames();
    zembra::Animation a;
    fr.load(a);
    for (auto _ : st) {
        // Forget the previous encoding so that every frame is encoded again.
        a.header.global = zembra::ColorTable{};
        for (auto& f : a.frames) f->enc = zembra::EncodedData{};
        std::vector<uint8_t> file = a.buildFile();
        benchmark::DoNotOptimize(file.data());
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

void BM_Encode_Giflib(benchmark::State& st) {
    const Frames& fr = frames();
    GifColorType colors[256];
    for (int i = 0; i < 256; ++i)
        colors[i] = {fr.palette.rgbx[i][0], fr.palette.rgbx[i][1], fr.palette.rgbx[i][2]};
    for (auto _ : st) {
        std::vector<uint8_t> file;
        int err = 0;
        GifFileType* g = EGifOpen(&file, writeMem, &err);
        ColorMapObject* map = GifMakeMapObject(256, colors);
        EGifSetGifVersion(g, true);
        EGifPutScreenDesc(g, kW, kH, 8, 0, map);
        for (int f = 0; f < kFrames; ++f) {
            GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 4, NO_TRANSPARENT_COLOR};
            GifByteType ext[4];
            EGifGCBToExtension(&gcb, ext);
            EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext);
            EGifPutImageDesc(g, 0, 0, kW, kH, false, nullptr);
            const ZBitmap& b = *fr.bitmaps[size_t(f)];
            for (int y = 0; y < kH; ++y)
                EGifPutLine(g, b.bits + size_t(kH - 1 - y) * size_t(b.stride), kW);
        }
        EGifCloseFile(g, &err);
        GifFreeMapObject(map);
        benchmark::DoNotOptimize(file.data());
    }
    st.SetItemsProcessed(int64_t(st.iterations()) * kFrames);
}

BENCHMARK(BM_Decode_Zembra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode_Giflib)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode_Zembra)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Encode_Giflib)->Unit(benchmark::kMillisecond);

// Keeps every benchmark's time so that the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> times;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    frames();
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    for (const char* what : {"Decode", "Encode"}) {
        std::string ours = std::string("BM_") + what + "_Zembra";
        std::string peer = std::string("BM_") + what + "_Giflib";
        if (rep.times.count(ours) && rep.times.count(peer))
            std::printf(
                "%s 100 frames 640x480 (CPU time): zembra %.2f ms, giflib %.2f ms, ratio %.2f "
                "(zembra / giflib; target <= 1.5)\n",
                what, rep.times[ours], rep.times[peer], rep.times[ours] / rep.times[peer]);
    }
    benchmark::Shutdown();
    return 0;
}
