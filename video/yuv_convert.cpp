#include "video/yuv_convert.h"

#include <algorithm>

namespace {

// Coefficients in 1/65536: luma from R, G, B and the two differences, for
// full and for video range.
struct Coefficients {
    int yr, yg, yb, yOffset;
    int ur, ug, ub;
    int vr, vg, vb;
};

// Full range: Y = .299 R + .587 G + .114 B; Cb = 128 + .5 (B - Y) / (1 - .114);
// Cr = 128 + .5 (R - Y) / (1 - .299).
constexpr Coefficients kFull = {19595, 38470, 7471, 0, -11059, -21709, 32768, 32768, -27439, -5329};
// Video range: the same scaled by 219 / 255 (luma, from 16) and 224 / 255
// (differences).
constexpr Coefficients kVideo = {16829,  33039, 6416,  16 << 16, -9714,
                                 -19070, 28784, 28784, -24103,   -4681};

inline uint8_t Clamp(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

} // namespace

void RgbToYuv420(const BMP_File& src, bool fullRange, const YuvPlanes& out) {
    const Coefficients& k = fullRange ? kFull : kVideo;
    const int w = src.Width(), h = src.Height();
    const int yRound = k.yOffset + (1 << 15);
    for (int y = 0; y < h; y += 2) {
        const CColor24* r0 = src.Row(y);
        const CColor24* r1 = src.Row(std::min(y + 1, h - 1));
        uint8_t* y0 = out.y + size_t(y) * out.yStride;
        uint8_t* y1 = y + 1 < h ? y0 + out.yStride : nullptr;
        uint8_t* u = out.u + size_t(y / 2) * out.uStride;
        uint8_t* v = out.v + size_t(y / 2) * out.vStride;
        for (int x = 0; x < w; x += 2) {
            const int x1 = std::min(x + 1, w - 1);
            const CColor24 a = r0[x], b = r0[x1], c = r1[x], d = r1[x1];
            y0[x] = uint8_t((k.yr * a.r + k.yg * a.g + k.yb * a.b + yRound) >> 16);
            if (x + 1 < w)
                y0[x + 1] = uint8_t((k.yr * b.r + k.yg * b.g + k.yb * b.b + yRound) >> 16);
            if (y1) {
                y1[x] = uint8_t((k.yr * c.r + k.yg * c.g + k.yb * c.b + yRound) >> 16);
                if (x + 1 < w)
                    y1[x + 1] = uint8_t((k.yr * d.r + k.yg * d.g + k.yb * d.b + yRound) >> 16);
            }
            // Sums of four pixels: the mean's coefficients are a quarter.
            const int sr = a.r + b.r + c.r + d.r;
            const int sg = a.g + b.g + c.g + d.g;
            const int sb = a.b + b.b + c.b + d.b;
            u[x / 2] = Clamp(128 + ((k.ur * sr + k.ug * sg + k.ub * sb + (1 << 17)) >> 18));
            v[x / 2] = Clamp(128 + ((k.vr * sr + k.vg * sg + k.vb * sb + (1 << 17)) >> 18));
        }
    }
}
