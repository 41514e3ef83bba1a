#include "imageops/video_effect.h"

#include "imageops/parallel.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct Pattern {
    int w, h;
    const char* cells; // h rows of w digits, top row first
};

const Pattern kPatterns[kVideoPatternCount] = {
    {2, 6, "010212102021"},                                      // "Staggered"
    {4, 12, "001100110022002211221122110011002200220022112211"}, // "Large Staggered"
    {1, 3, "012"},                                               // "Striped"
    {1, 6, "001122"},                                            // "Wide-Striped"
    {2, 12, "010102021212101020202121"},                         // "Long-staggered"
    {3, 3, "012201120"},                                         // "3 x 3"
    {6, 6, "001122001122220011220011112200112200"},              // "Large 3 x 3"
    {6, 18,
     "220000222002222222222112221111111111001111000110000000000220002222222222112222111221"
     "111111111001110000000000"}, // "Dots"
    {5, 15, "012001112001222001200111220122000122011122012200011201122201120001120112220"}, // "Hex"
};

void SwapRedBlue(uint8_t* px, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i) std::swap(px[4 * i], px[4 * i + 2]);
}

} // namespace

int VideoPatternCell(int pattern, bool rotated, int x, int y) {
    const Pattern& p = kPatterns[(pattern >= 0 && pattern < kVideoPatternCount) ? pattern : 0];
    const int row = rotated ? x % p.h : y % p.h;
    const int col = rotated ? y % p.w : x % p.w;
    return p.cells[row * p.w + col] - '0';
}

void ApplyVideoRgba(const uint8_t* src, uint8_t* dst, int width, int height, int pattern,
                    bool additive, bool rotated) {
    if (width <= 0 || height <= 0) return;
    const Pattern& p = kPatterns[(pattern >= 0 && pattern < kVideoPatternCount) ? pattern : 0];
    const size_t rowBytes = 4 * size_t(width);
    imageops::ParallelRows(height, size_t(width) * size_t(height), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* s = src + rowBytes * size_t(y);
            uint8_t* d = dst + rowBytes * size_t(y);
            // Walk the pattern along the row with counters instead of a
            // division per pixel: plain, along one pattern row; rotated, down
            // one pattern column.
            const char* cell = rotated ? p.cells + y % p.w : p.cells + (y % p.h) * p.w;
            const int stride = rotated ? p.w : 1, period = rotated ? p.h : p.w;
            int i = 0;
            for (int x = 0; x < width; ++x, s += 4, d += 4) {
                const int v = cell[i * stride] - '0';
                if (++i == period) i = 0;
                for (int n = 0; n < 3; ++n) {
                    const int k = v == n ? s[n] : 0;
                    d[n] = uint8_t(additive ? std::min(s[n] + k, 255) : k);
                }
                d[3] = s[3];
            }
        }
    });
}

void VideoEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                 const ProcessingSettings& s) {
    if (width <= 0 || height <= 0) return;
    const size_t pixels = size_t(width) * size_t(height);
    std::vector<uint8_t> rgba(src, src + 4 * pixels);
    SwapRedBlue(rgba.data(), pixels);
    ApplyVideoRgba(rgba.data(), dst, width, height, s.m_vvals.pattern_number,
                   s.m_vvals.additive != 0, s.m_vvals.rotated != 0);
    SwapRedBlue(dst, pixels);
}
