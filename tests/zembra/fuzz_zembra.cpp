// libFuzzer target: loads any bytes as a GIF, decodes every frame and writes
// the result again. With PELLORIN_FUZZ_WRITE_SEEDS=DIR it first writes seed
// files made by our own writer into DIR.
#include "gif.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A small animation with every kind of frame the writer produces.
void writeSeeds(const char* dir) {
    const int depths[] = {1, 4, 8, 24, 32};
    int n = 0;
    for (int frames = 1; frames <= 3; ++frames) {
        for (int d = 0; d < 5; ++d) {
            zembra::Animation a;
            a.setFrameCount(frames);
            for (int i = 0; i < frames; ++i) {
                const int bpp = depths[(d + i) % 5];
                const int w = 9 + 7 * i, h = 5 + 3 * d;
                zembra::BitmapPtr b = zembra::createBitmap(w, h, bpp);
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < b->stride; ++x)
                        b->bits[size_t(y) * b->stride + x] = uint8_t((x * 7 + y * 13) ^ (x * y));
                a.setFrameBitmap(i, b.release());
                a.setOrigin(i, i * 3, i);
                a.setDelay(i, 5 * i);
                if (i == 1) a.setDisposal(i, 1);
                if (d % 2) a.setTransparent(i, 0xFFFFFF);
            }
            if (d == 2) a.header.comment = {"seed", "comment"};
            try {
                std::vector<uint8_t> file = a.buildFile();
                std::string path = std::string(dir) + "/seed-" + std::to_string(n++) + ".gif";
                if (FILE* f = std::fopen(path.c_str(), "wb")) {
                    std::fwrite(file.data(), 1, file.size(), f);
                    std::fclose(f);
                }
            } catch (const std::exception&) {
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* dir = std::getenv("PELLORIN_FUZZ_WRITE_SEEDS")) writeSeeds(dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zembra::Animation a;
    a.maxDecodePixels = size_t(1) << 24; // keeps a claimed 65535 x 65535 frame in bounds
    try {
        a.loadFromMemory(data, size);
    } catch (const std::exception&) {
    }
    for (auto& f : a.frames) {
        try {
            a.decodeFrame(*f);
        } catch (const std::exception&) {
        }
    }
    if (!a.frames.empty()) {
        try {
            std::vector<uint8_t> again = a.buildFile();
            zembra::Animation b;
            b.maxDecodePixels = a.maxDecodePixels;
            b.loadFromMemory(again.data(), again.size());
        } catch (const std::exception&) {
        }
    }
    return 0;
}
