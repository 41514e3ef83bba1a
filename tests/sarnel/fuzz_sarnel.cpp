// Fuzz target: a small picture and a sequence of library calls with arbitrary
// channels, modes and parameters. Nothing may crash, hang or leak, and every rendered
// bitmap must keep the loaded alpha.
#include "sarnel/sarnel.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const uint8_t* data;
    size_t size, pos = 0;
    uint8_t byte() { return pos < size ? data[pos++] : 0; }
    int32_t i32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | byte();
        return int32_t(v);
    }
    // Small values most of the time, any value sometimes.
    int32_t param() {
        const uint8_t sel = byte();
        return sel < 200 ? int32_t(sel % 32) - 4 : i32();
    }
    double real() {
        const uint8_t sel = byte();
        if (sel < 200) return double(sel % 64) / 8.0 - 1.0;
        double d;
        uint64_t bits = (uint64_t(uint32_t(i32())) << 32) | uint32_t(i32());
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const int w = 1 + in.byte() % 24, h = 1 + in.byte() % 24;
    SR_Bitmap* bm = SR_CreateBitmap(w, h);
    if (!bm) return 0;
    for (int i = 0; i < 4 * w * h; ++i) bm->pixels[i] = in.byte();
    SR_Image* img = SR_LoadBitmap(bm);
    for (int op = 0; op < 12 && in.pos < in.size; ++op) {
        const int32_t ch = int32_t(in.byte() % 11) - 1;
        switch (in.byte() % 19) {
        case 0:
            SR_ConvertSRB(img, int32_t(in.byte() % 4));
            break;
        case 1:
            SR_NormalFilter(img, ch, in.param(), in.param());
            break;
        case 2:
            SR_NormalGeomFilter(img, ch, in.param(), in.param());
            break;
        case 3:
            SR_NormalGarmonicFilter(img, ch, in.param(), in.param());
            break;
        case 4:
            SR_NormalContrGarmonicFilter(img, ch, in.param(), in.param(), in.real());
            break;
        case 5:
            SR_MinFilter(img, ch, in.param(), in.param());
            break;
        case 6:
            SR_MedianFilter(img, ch, in.param(), in.param());
            break;
        case 7:
            SR_MaxFilter(img, ch, in.param(), in.param());
            break;
        case 8:
            SR_MidPointFilter(img, ch, in.param(), in.param());
            break;
        case 9:
            SR_TrimmedMeanFilter(img, ch, in.param(), in.param(), in.param());
            break;
        case 10:
            SR_AdaptiveLocalFilter(img, ch, in.param(), in.param(), in.real());
            break;
        case 11:
            SR_AdaptiveMedianFilter(img, ch, in.param(), in.param());
            break;
        case 12:
            SR_ButterworthFilter(img, ch, in.real(), in.real(), in.param());
            break;
        case 13:
            SR_GaussFilter(img, ch, in.real(), in.real());
            break;
        case 14:
            SR_NbButterworthFilter(img, ch, in.real(), in.real(), in.real(), in.param());
            break;
        case 15:
            SR_NbGaussFilter(img, ch, in.real(), in.real(), in.real(), in.param());
            break;
        case 16:
            SR_WienerFilterTurb(img, ch, in.real(), in.real());
            break;
        case 17:
            SR_WienerFilterMoving(img, ch, in.real(), in.real(), in.real(), in.real());
            break;
        default: {
            SR_Bitmap* out = SR_GetBitmap(img);
            if (!out) std::abort();
            for (int i = 0; i < w * h; ++i)
                if (out->pixels[4 * i + 3] != bm->pixels[4 * i + 3]) std::abort();
            SR_DeleteBitmap(out);
        }
        }
    }
    SR_UnloadBitmap(img);
    SR_DeleteBitmap(bm);
    return 0;
}
