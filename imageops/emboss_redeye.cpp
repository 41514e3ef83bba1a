#include "imageops/emboss_redeye.h"

#include "imageops/parallel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

// The three lines (before, centre, after) whose window shades line i of n.
// The first and last line borrow the window of their inner neighbour with the
// missing outer line replaced by that neighbour; pictures too small for a
// window see the line itself three times (no slope).
std::array<int, 3> WindowLines(int i, int n) {
    if (n < 3) return {i, i, i};
    if (i == 0) return {1, 1, 2};
    if (i == n - 1) return {n - 3, n - 2, n - 2};
    return {i - 1, i, i + 1};
}

// Per pixel of a row: the sum of the colour bytes weighted by alpha.
void RowWeights(const uint8_t* row, int width, double* m) {
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + 4 * size_t(x);
        const double a = p[3];
        m[x] = p[0] * a / 255.0 + p[1] * a / 255.0 + p[2] * a / 255.0;
    }
}

inline double Finite(float v) {
    return std::isfinite(v) ? double(v) : 0.0;
}

} // namespace

void ApplyAdvancedEmboss(const uint8_t* src, uint8_t* dst, int width, int height,
                         const EmbossParams& p) {
    if (width <= 0 || height <= 0) return;
    const double az = Finite(p.azimuth) * 0.0174532925;
    const double el = Finite(p.elevation) * 0.0174532925;
    const double lx = std::cos(az) * std::cos(el) * 255.9;
    const double ly = std::sin(az) * std::cos(el) * 255.9;
    const double lz = std::sin(el) * 255.9;
    // Depths beyond 1530 give Nz = 0 all the same.
    const double depth = std::isfinite(p.depth) ? std::clamp(double(p.depth), 1.0, 1531.0) : 1.0;
    const int nz = 1530 / int(depth);
    const int nz2 = nz * nz;
    const double nzlz = nz * lz;
    // A light from below the plane (elevations past 180 from a hand-edited
    // file) leaves flat areas unlit, as it does slopes facing away from it.
    const int flatShade = std::max(int(std::trunc(lz)), 0);
    const bool emboss = p.emboss == 1;
    const size_t rowBytes = 4 * size_t(width);

    std::vector<std::array<int, 3>> cols(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) cols[size_t(x)] = WindowLines(x, width);

    imageops::ParallelRows(height, size_t(width) * size_t(height), [&](int y0, int y1) {
        std::vector<double> m(3 * size_t(width));
        double* row[3] = {m.data(), m.data() + width, m.data() + 2 * size_t(width)};
        for (int y = y0; y < y1; ++y) {
            const std::array<int, 3> lines = WindowLines(y, height);
            for (int k = 0; k < 3; ++k)
                RowWeights(src + rowBytes * size_t(lines[size_t(k)]), width, row[k]);
            const uint8_t* centreRow = src + rowBytes * size_t(lines[1]);
            uint8_t* out = dst + rowBytes * size_t(y);
            for (int x = 0; x < width; ++x) {
                const int a = cols[size_t(x)][0], c = cols[size_t(x)][1], b = cols[size_t(x)][2];
                const int nx = int(std::trunc(row[0][a] + row[1][a] + row[2][a] - row[0][b] -
                                              row[1][b] - row[2][b]));
                const int ny = int(std::trunc(row[2][a] + row[2][c] + row[2][b] - row[0][a] -
                                              row[0][c] - row[0][b]));
                int shade;
                if (nx == 0 && ny == 0) {
                    shade = flatShade;
                } else {
                    const int d = int(std::trunc(nx * lx + ny * ly + nzlz));
                    shade =
                        d < 0 ? 0 : int(std::trunc(d / std::sqrt(double(nx * nx + ny * ny + nz2))));
                }
                const uint8_t* centre = centreRow + 4 * size_t(c);
                uint8_t* o = out + 4 * size_t(x);
                if (emboss) {
                    o[0] = o[1] = o[2] = uint8_t(shade & 0xFF);
                } else {
                    for (int k = 0; k < 3; ++k) o[k] = uint8_t((centre[k] * shade) >> 8);
                }
                o[3] = centre[3];
            }
        }
    });
}

void ApplyRedEyeRemoval(const uint8_t* src, uint8_t* dst, int width, int height, int threshold) {
    if (width <= 0 || height <= 0) return;
    // 64 bits: a hand-edited threshold may be anything.
    const long long at = 100 - 2 * (long long)threshold;
    const size_t pixels = size_t(width) * size_t(height);
    imageops::ParallelRows(height, pixels, [&](int y0, int y1) {
        const size_t begin = size_t(y0) * size_t(width), end = size_t(y1) * size_t(width);
        for (size_t i = begin; i < end; ++i) {
            const uint8_t* s = src + 4 * i;
            uint8_t* d = dst + 4 * i;
            const int blue = s[0], green = s[1], red = s[2];
            const long long ar = (long long)(red * 0.5133333);
            const long long ab = (long long)(blue * 0.1933333);
            int out = red;
            if (ar >= green + at && ar >= ab + at) {
                const int v = int((double(ab) + green) / 1.0266666);
                out = std::clamp(v, 0, 255);
            }
            d[0] = s[0];
            d[1] = s[1];
            d[2] = uint8_t(out);
            d[3] = s[3];
        }
    });
}

void AdvancedEmbossEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                          const ProcessingSettings& s) {
    EmbossParams p;
    p.azimuth = s.m_fAzimuthEmboss;
    p.elevation = s.m_fElevationEmboss;
    p.depth = s.m_fDepthEmboss;
    p.emboss = s.m_bRadioEmboss;
    ApplyAdvancedEmboss(src, dst, width, height, p);
}

void RedEyeRemovalEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                         const ProcessingSettings& s) {
    ApplyRedEyeRemoval(src, dst, width, height, s.m_nRedEyeThreshold);
}
