#include "imageops/resample.h"

#include "imageops/parallel.h"

#include <algorithm>

bool ResampleIndexMap(int n, int m, std::vector<int>& map) {
    if (n <= 0 || m <= 0) return false;
    map.resize(size_t(m));
    if (n == m) {
        for (int i = 0; i < m; ++i) map[size_t(i)] = i;
        return true;
    }
    if (n == 1) {
        std::fill(map.begin(), map.end(), 0);
        return true;
    }
    // The target length takes a trip through single precision first; the
    // stepping itself is double precision.
    const double mf = double(float(m));
    double step, acc;
    int index;
    if (n < m) {
        step = (mf - 1.0) / double(n - 1);
        acc = 0.0;
        index = -1;
    } else {
        step = (mf - 1.0) / double(n);
        acc = mf / double(n) + 1.0;
        index = 0;
    }
    const int last = n - 1;
    int written = 0;
    while (written < m) {
        if (acc >= 1.0) {
            map[size_t(written++)] = std::clamp(index, 0, last);
            acc -= 1.0;
        } else {
            acc += step;
            ++index;
        }
    }
    return true;
}

bool ResampleNearest(const BMP_File& src, int width, int height, BMP_File& dst) {
    std::vector<int> mapX, mapY;
    if (src.Empty() || !ResampleIndexMap(src.Width(), width, mapX) ||
        !ResampleIndexMap(src.Height(), height, mapY))
        return false;
    BMP_File out;
    if (!out.CreateUninitialized(width, height)) return false;
    // Rows are independent: bands of them run side by side. (A vector form
    // with gathers measured slower than this loop.)
    const int* mx = mapX.data();
    imageops::ParallelRows(height, out.PixelCount(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            CColor24* d = out.Row(y);
            if (y > y0 && mapY[size_t(y)] == mapY[size_t(y - 1)]) {
                // Enlarging repeats source rows: copy the finished row.
                std::copy_n(out.Row(y - 1), width, d);
                continue;
            }
            const CColor24* s = src.Row(mapY[size_t(y)]);
            for (int x = 0; x < width; ++x) d[x] = s[mx[x]];
        }
    });
    dst = std::move(out);
    return true;
}
