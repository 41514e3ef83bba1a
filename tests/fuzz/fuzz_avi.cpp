// The AVI reader on arbitrary bytes: opening, counting and fetching frames in
// and out of order must never crash, hang or read out of bounds, whatever the
// file claims. Seeds are small AVIs made by our own writer.

#include "app/bmp_file.h"
#include "tests/fuzz/fuzz_seeds.h"
#include "video/avi_video_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

std::string ScratchPath() {
    static const std::string path = "/tmp/pellorin-fuzz-avi-" + std::to_string(::getpid()) + ".avi";
    return path;
}

void WriteAviSeed(const char* encoder, const std::string& name) {
    AviCodecOptions o;
    o.encoder = encoder;
    std::string message;
    const std::string path = ScratchPath();
    auto sink = CreateAviSink(path, 16, 8, 25, o, &message);
    if (!sink) return;
    for (int i = 0; i < 3; ++i) {
        BMP_File f;
        f.Create(16, 8);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 16; ++x)
                f.Pixel(x, y) = CColor24(uint8_t(x * 16), uint8_t(y * 30), uint8_t(i * 80));
        sink->WriteFrame(f, 4);
    }
    if (!sink->Finish(true, &message)) return;
    std::ifstream in(path, std::ios::binary);
    WriteSeed(name, std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
    std::remove(path.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A hostile header may claim any size: keep each picture small.
    BMP_File::SetMaxPixels(1 << 20);
    if (!SeedFolder()) return 0;
    WriteAviSeed("mjpeg", "seed_mjpeg.avi");
    WriteAviSeed("rawvideo", "seed_raw.avi");
    WriteAviSeed("mpeg4", "seed_mpeg4.avi");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = ScratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
    }
    std::string message;
    auto avi = AviVideoFile::Open(path, &message);
    if (avi) {
        BMP_File f;
        const int n = avi->FrameCount();
        // A few frames in order, then jumps back and past the end.
        for (int i = 0; i < n && i < 6; ++i) avi->LoadFrame(i, f);
        avi->LoadFrame(n - 1, f);
        avi->LoadFrame(n / 2, f);
        avi->LoadFrame(1, f);
        avi->LoadFrame(n, f);
        // Whatever came out is a whole picture within the limit.
        if (!f.Empty() && !BMP_File::SizeAllowed(f.Width(), f.Height())) std::abort();
    } else if (message.empty()) {
        std::abort(); // a failed open always says why
    }
    std::remove(path.c_str());
    return 0;
}
