#include "imageops/overlays.h"

#include "imageops/cpu_features.h"
#include "imageops/parallel.h"
#include "imageops/vector_kernels.h"

#include "app/file_util.h"
#include "app/image_files.h"
#include "imageops/data_paths.h"
#include "imageops/resample.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>
#include <vector>

namespace {

inline uint8_t ClampByte(int v) {
    return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}
inline int ClampChannel(int v) {
    return v < 0 ? 0 : (v > 255 ? 255 : v);
}

// 1 / 32768: rand() values 0..32767 become 0..1.
constexpr double kRandScale = 3.0517578125e-05;

// Noise offset for one rand() value. Offsets beyond +-512 saturate every
// channel just the same, so they are limited before the integer conversion
// (a hand-edited strength may be huge).
inline int16_t NoiseOffset(int r, double fourStrength) {
    // Clamping first and letting the conversion truncate toward zero gives the
    // same value as truncating first, without a library call per pixel.
    const double n = (double(r) * kRandScale - 0.5) * fourStrength;
    return int16_t(std::clamp(n, -512.0, 512.0));
}

// The random draws go column by column, but pixels are stored row by row. Draw
// a strip of columns in the required order into a small buffer, then apply it
// along the rows, so both the sequence and the memory access stay sequential.
int NoiseStripWidth(int height) {
    return std::clamp((1 << 18) / std::max(height, 1), 1, 64);
}

} // namespace

int RuntimeRand15() {
    static_assert(((unsigned(RAND_MAX) + 1u) & unsigned(RAND_MAX)) == 0u,
                  "RAND_MAX + 1 must be a power of two");
    static_assert(RAND_MAX >= 32767);
    constexpr unsigned kDivisor = (unsigned(RAND_MAX) + 1u) / 32768u;
    return int(unsigned(std::rand()) / kDivisor);
}

// ---------------------------------------------------------------------------
// Light regions

namespace {

// The plain forms of the light region's row loops; imageops::kernels has the
// vector forms, which leave them the elements after the last whole vector.
// The amount of one row: d is at most about 1.5 inside the rectangle, so the
// product fits an int, whose conversion truncates toward zero; a negative
// amount (outside the ellipse) moves nothing, as 0 does.
void LightAmounts(const float* q, float ry, int16_t* am, int n) {
    int i = imageops::VectorKernelsOn() ? imageops::kernels::LightAmounts(q, ry, am, n) : 0;
    for (; i < n; ++i) {
        const float d = std::sqrt(q[i] + ry);
        am[i] = int16_t(std::max(int((1.0f - d) * 200.0), 0));
    }
}

// One value per pixel spread over its three bytes.
void SpreadToBytes(const int16_t* am, int16_t* bytes, int n) {
    int i = imageops::VectorKernelsOn() ? imageops::kernels::SpreadToBytes(am, bytes, n) : 0;
    for (; i < n; ++i) bytes[3 * i] = bytes[3 * i + 1] = bytes[3 * i + 2] = am[i];
}

// Each byte moves toward its target by its amount without passing it: both
// directions are computed and one is chosen.
void LightMove(uint8_t* p, const int16_t* amount, const int16_t* target, int n) {
    int i = imageops::VectorKernelsOn() ? imageops::kernels::LightMove(p, amount, target, n) : 0;
    for (; i < n; ++i) {
        const int16_t v = p[i], a = amount[i], t = target[i];
        const int16_t up = std::min<int16_t>(int16_t(v + a), t);
        const int16_t down = std::max<int16_t>(int16_t(v - a), t);
        p[i] = uint8_t(v <= t ? up : down);
    }
}

} // namespace

void ApplyLightRegion(BMP_File& image, const IntRect& rect, const ChannelInts& target) {
    if (image.Empty()) return;
    const int64_t x0 = rect.left, x1 = rect.right, y0 = rect.top, y1 = rect.bottom;
    const int64_t cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const int64_t ax = (x1 - x0) / 2, ay = (y1 - y0) / 2;
    // A flat ellipse has no inside (and would divide by zero).
    if (ax == 0 || ay == 0) return;

    // The rectangle may reach outside the image (frames are inflated by 5
    // view pixels); only the part inside is touched.
    const int W = image.Width(), H = image.Height();
    const int xs = int(std::clamp<int64_t>(x0, 0, W)), xe = int(std::clamp<int64_t>(x1, 0, W));
    const int ys = int(std::clamp<int64_t>(y0, 0, H)), ye = int(std::clamp<int64_t>(y1, 0, H));
    if (xs >= xe || ys >= ye) return;

    // The horizontal term is double precision, the vertical one divides by ay²
    // held as a float; sum and root are single precision.
    const double ax2 = double(ax * ax);
    const float ay2 = float(ay * ay);
    std::vector<float> qx(size_t(xe - xs));
    for (int x = xs; x < xe; ++x) {
        const int64_t dx = x - cx;
        qx[size_t(x - xs)] = float(double(dx * dx) / ax2);
    }

    const int tr = ClampChannel(target.r), tg = ClampChannel(target.g), tb = ClampChannel(target.b);
    // Every pixel depends only on itself, so bands of rows run side by side.
    // Each row first gets its amounts into a local buffer (vector code: the
    // buffers cannot alias the picture), then moves the pixels.
    const int span = xe - xs;
    imageops::ParallelRows(ye - ys, size_t(ye - ys) * size_t(span), [&](int b, int e) {
        // Local buffers, one entry per byte of the row, so that the loops
        // below cannot alias the picture and run as vector code.
        std::vector<int16_t> amounts(static_cast<size_t>(span));
        std::vector<int16_t> byteAmount(static_cast<size_t>(span) * 3);
        std::vector<int16_t> byteTarget(static_cast<size_t>(span) * 3);
        for (int i = 0; i < span; ++i) {
            byteTarget[size_t(3 * i)] = int16_t(tr);
            byteTarget[size_t(3 * i + 1)] = int16_t(tg);
            byteTarget[size_t(3 * i + 2)] = int16_t(tb);
        }
        std::vector<float> q(qx);
        for (int y = ys + b; y < ys + e; ++y) {
            const int64_t dy = y - cy;
            const float ry = float(dy * dy) / ay2;
            int16_t* am = amounts.data();
            // A pixel moves only where q + ry < 1 (the root is below 1 only
            // then). q falls toward the ellipse's centre column and rises after
            // it, so that chord is found by two binary searches and the roots
            // are taken only inside it.
            const float* qq = q.data();
            auto inside = [&](int i) { return qq[i] + ry < 1.0f; };
            const int mid = int(std::clamp<int64_t>(cx - xs, 0, span - 1));
            if (!inside(mid)) continue;
            int lo = 0, hi = mid; // first inside index in [0, mid]
            while (lo < hi) {
                const int m = lo + (hi - lo) / 2;
                if (inside(m))
                    hi = m;
                else
                    lo = m + 1;
            }
            int lo2 = mid, hi2 = span - 1; // last inside index in [mid, span)
            while (lo2 < hi2) {
                const int m = lo2 + (hi2 - lo2 + 1) / 2;
                if (inside(m))
                    lo2 = m;
                else
                    hi2 = m - 1;
            }
            LightAmounts(qq + lo, ry, am + lo, lo2 + 1 - lo);
            // Only the chord of the ellipse on this row moves anything.
            int first = lo, last = lo2 + 1;
            while (first < last && am[first] == 0) ++first;
            while (last > first && am[last - 1] == 0) --last;
            if (first >= last) continue;
            int16_t* ba = byteAmount.data();
            SpreadToBytes(am + first, ba + 3 * first, last - first);
            LightMove(reinterpret_cast<uint8_t*>(image.Row(y) + xs) + 3 * first, ba + 3 * first,
                      byteTarget.data() + 3 * first, 3 * (last - first));
        }
    });
}

// ---------------------------------------------------------------------------
// Noise

void ApplyNoise(BMP_File& image, int strength) {
    if (image.Empty()) return;
    const int W = image.Width(), H = image.Height();
    const double k = 4.0 * double(strength);
    const int strip = NoiseStripWidth(H);
    std::vector<int16_t> buf(size_t(strip) * size_t(unsigned(H)));
    for (int xs = 0; xs < W; xs += strip) {
        const int sw = std::min(strip, W - xs);
        for (int i = 0; i < sw; ++i)
            for (int y = 0; y < H; ++y)
                buf[size_t(y) * size_t(sw) + size_t(i)] = NoiseOffset(RuntimeRand15(), k);
        for (int y = 0; y < H; ++y) {
            CColor24* p = image.Row(y) + xs;
            const int16_t* n = buf.data() + size_t(y) * size_t(sw);
            for (int i = 0; i < sw; ++i) {
                p[i].r = ClampByte(p[i].r + n[i]);
                p[i].g = ClampByte(p[i].g + n[i]);
                p[i].b = ClampByte(p[i].b + n[i]);
            }
        }
    }
}

void ApplyRGBNoise(BMP_File& image, int strengthR, int strengthG, int strengthB) {
    if (image.Empty()) return;
    const int W = image.Width(), H = image.Height();
    const double kr = 4.0 * double(strengthR), kg = 4.0 * double(strengthG),
                 kb = 4.0 * double(strengthB);
    const int strip = NoiseStripWidth(H);
    std::vector<int16_t> buf(size_t(strip) * size_t(unsigned(H)) * 3);
    for (int xs = 0; xs < W; xs += strip) {
        const int sw = std::min(strip, W - xs);
        for (int i = 0; i < sw; ++i)
            for (int y = 0; y < H; ++y) {
                int16_t* n = buf.data() + (size_t(y) * size_t(sw) + size_t(i)) * 3;
                // Red, green, blue: the order of the draws is part of the result.
                n[0] = NoiseOffset(RuntimeRand15(), kr);
                n[1] = NoiseOffset(RuntimeRand15(), kg);
                n[2] = NoiseOffset(RuntimeRand15(), kb);
            }
        for (int y = 0; y < H; ++y) {
            CColor24* p = image.Row(y) + xs;
            const int16_t* n = buf.data() + size_t(y) * size_t(sw) * 3;
            for (int i = 0; i < sw; ++i, n += 3) {
                p[i].r = ClampByte(p[i].r + n[0]);
                p[i].g = ClampByte(p[i].g + n[1]);
                p[i].b = ClampByte(p[i].b + n[2]);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Mask

namespace {

// v' = trunc(v * a + colour * (1 - a)) per byte, with the second term made
// beforehand.
void MaskRow(uint8_t* p, const float* weight, const float* share, size_t n) {
    size_t i = imageops::VectorKernelsOn() ? imageops::kernels::MaskBytes(p, weight, share, n) : 0;
    for (; i < n; ++i) p[i] = uint8_t(int(float(p[i]) * weight[i] + share[i]));
}

} // namespace

bool ApplyMask(BMP_File& image, const BMP_File& mask, const MaskParams& params) {
    if (image.Empty() || mask.Empty()) return true;
    const int W = image.Width(), H = image.Height();
    std::vector<int> mx, my;
    // Per byte of a row and per band of rows: the weight of the picture and
    // the mask colour's share. Made here, where running out of memory can be
    // reported, not in the band threads.
    const std::vector<int> bands = imageops::RowBands(H, image.PixelCount());
    std::vector<std::vector<float>> weights, shares;
    try {
        if (!ResampleIndexMap(mask.Width(), W, mx) || !ResampleIndexMap(mask.Height(), H, my))
            return true;
        weights.assign(bands.size() - 1, std::vector<float>(size_t(W) * 3));
        shares.assign(bands.size() - 1, std::vector<float>(size_t(W) * 3));
    } catch (const std::bad_alloc&) {
        return false;
    }

    // The opacity is a floor on the mask value. Outside 0..1 the blend would
    // leave 0..255 and wrap around in the byte, so it is held to that range,
    // and the mask colour to 0..255 likewise.
    float floorA = params.opacity;
    if (!(floorA >= 0.0f)) floorA = 0.0f; // also NaN
    if (floorA > 1.0f) floorA = 1.0f;
    const float mc[3] = {float(ClampChannel(params.color.r)), float(ClampChannel(params.color.g)),
                         float(ClampChannel(params.color.b))};

    // The mask value depends only on the sum of the mask pixel's channels.
    std::array<float, 766> alpha;
    std::array<std::array<float, 3>, 766> base;
    for (int sum = 0; sum <= 765; ++sum) {
        float a = float(double(sum) / 765.0);
        if (params.invert) a = 1.0f - a;
        if (a < floorA) a = floorA;
        alpha[size_t(sum)] = a;
        for (int c = 0; c < 3; ++c) base[size_t(sum)][size_t(c)] = mc[c] * (1.0f - a);
    }

    imageops::RunBands(bands, [&](size_t band, int y0, int y1) {
        // The weights depend only on the mask row, which stays the same for
        // many picture rows, so they are made again only when it changes.
        std::vector<float>& weight = weights[band];
        std::vector<float>& share = shares[band];
        int madeFor = -1;
        for (int y = y0; y < y1; ++y) {
            if (my[size_t(y)] != madeFor) {
                madeFor = my[size_t(y)];
                const CColor24* m = mask.Row(madeFor);
                for (int x = 0; x < W; ++x) {
                    const CColor24 mp = m[mx[size_t(x)]];
                    const size_t sum = size_t(mp.r) + mp.g + mp.b;
                    for (int c = 0; c < 3; ++c) {
                        weight[size_t(3 * x + c)] = alpha[sum];
                        share[size_t(3 * x + c)] = base[sum][size_t(c)];
                    }
                }
            }
            MaskRow(image.Bytes() + size_t(y) * size_t(W) * 3, weight.data(), share.data(),
                    size_t(W) * 3);
        }
    });
    return true;
}

// ---------------------------------------------------------------------------
// Mosaic

namespace {

// For each coordinate 0..length-1, the coordinate of the sample of its cell:
// whole cells start at origin and step by size while they fit; coordinates
// before the first or after the last whole cell take that cell's sample.
void MosaicSamples(int length, int origin, int size, int half, std::vector<int>& out) {
    const int cells = (length - origin) / size;
    out.resize(size_t(length));
    for (int i = 0; i < length; ++i) {
        const int rel = i - origin;
        int cell = rel < 0 ? 0 : rel / size;
        if (cell > cells - 1) cell = cells - 1;
        out[size_t(i)] = origin + cell * size + half;
    }
}

} // namespace

void ApplyMosaic(BMP_File& image, int size) {
    // Cells of one pixel are the image itself; zero or negative sizes have no
    // meaning (and would divide by zero).
    if (image.Empty() || size < 2) return;
    const int W = image.Width(), H = image.Height();
    const float sf = float(size);
    const int half = int(std::floor(sf * 0.5));
    const int nx = int(std::floor(float(W) / sf));
    const int ny = int(std::floor(float(H) / sf));
    // No whole cell fits: there is no grid to sample from.
    if (nx == 0 || ny == 0) return;
    // The grid origin centres the cells by the remainder of the length over the
    // cell count; it only shifts where the grid starts.
    const int ox = (W % nx) / 2, oy = (H % ny) / 2;

    std::vector<int> sx, sy;
    MosaicSamples(W, ox, size, half, sx);
    MosaicSamples(H, oy, size, half, sy);

    // Rows with the same sample row are identical: build that row once (from the
    // sample row, which no earlier band has touched) and copy it over the band.
    std::vector<CColor24> band(static_cast<size_t>(W));
    int y = 0;
    while (y < H) {
        const int sampleRow = sy[size_t(y)];
        int end = y + 1;
        while (end < H && sy[size_t(end)] == sampleRow) ++end;
        const CColor24* src = image.Row(sampleRow);
        for (int x = 0; x < W; ++x) band[size_t(x)] = src[sx[size_t(x)]];
        for (int r = y; r < end; ++r) std::copy(band.begin(), band.end(), image.Row(r));
        y = end;
    }
}

// ---------------------------------------------------------------------------
// Border

BorderBand BorderBandFor(int thickness, int imageWidth, int imageHeight, int borderWidth,
                         int borderHeight) {
    if (thickness <= 0 || imageWidth <= 0 || imageHeight <= 0 || borderWidth <= 0 ||
        borderHeight <= 0)
        return {};
    const double t = double(float(thickness));
    auto band = [](double v) {
        v = std::trunc(v);
        return v >= double(BMP_File::kMaxSide) ? BMP_File::kMaxSide : int(v);
    };
    return {band(t * double(imageWidth) / double(borderWidth)),
            band(t * double(imageHeight) / double(borderHeight))};
}

namespace {

// Filter taps of a one-dimensional resampling: output i takes
// sum(weight[k] * source[index[k]]) for k in first[i] .. first[i + 1] - 1.
struct Taps {
    std::vector<int> first{0};
    std::vector<int> index;
    std::vector<float> weight;

    // A tent filter as wide as one output pixel in source pixels (at least one
    // source pixel), so shrinking averages instead of skipping.
    void Add(double centre, double scale, int srcLen, bool wrap) {
        const double radius = std::max(1.0, scale);
        const int lo = int(std::ceil(centre - radius));
        const int hi = int(std::floor(centre + radius));
        const size_t start = index.size();
        float sum = 0.0f;
        for (int i = lo; i <= hi; ++i) {
            const float w = float(1.0 - std::abs(double(i) - centre) / radius);
            if (w <= 0.0f) continue;
            int k = i;
            if (wrap)
                k = ((i % srcLen) + srcLen) % srcLen;
            else
                k = std::clamp(i, 0, srcLen - 1);
            index.push_back(k);
            weight.push_back(w);
            sum += w;
        }
        if (sum <= 0.0f) {
            index.push_back(std::clamp(int(std::lround(centre)), 0, srcLen - 1));
            weight.push_back(1.0f);
            sum = 1.0f;
        }
        for (size_t k = start; k < weight.size(); ++k) weight[k] /= sum;
        first.push_back(int(index.size()));
    }
};

// One edge of the frame laid out straight, as the top edge: `length` pixels
// along the edge, `rows` of the `thickness` pixels across it (row 0 outermost).
// The picture's top is the outer side; it is scaled so that its height is the
// thickness, keeping its aspect, and repeated along the edge a whole number of
// times so that no tile is cut off at the corners.
struct EdgeStrip {
    int length = 0;
    int rows = 0;
    std::vector<CColor24> pixels; // rows x length

    const CColor24& At(int along, int across) const {
        return pixels[size_t(across) * size_t(length) + size_t(along)];
    }
};

EdgeStrip BuildEdgeStrip(const BMP_File& pic, int length, int thickness, int rows) {
    EdgeStrip strip;
    strip.length = length;
    strip.rows = rows;
    if (length <= 0 || rows <= 0 || thickness <= 0) return strip;
    const int bw = pic.Width(), bh = pic.Height();

    Taps across;
    const double scaleAcross = double(bh) / double(thickness);
    for (int c = 0; c < rows; ++c)
        across.Add((c + 0.5) * scaleAcross - 0.5, scaleAcross, bh, false);

    const double tile = double(thickness) * double(bw) / double(bh);
    const double count = std::max(1.0, std::round(double(length) / tile));
    const double period = double(length) / count;
    const double scaleAlong = double(bw) / period;
    Taps along;
    for (int a = 0; a < length; ++a) {
        const double local = std::fmod(a + 0.5, period);
        along.Add(local * scaleAlong - 0.5, scaleAlong, bw, true);
    }

    // Across first (picture rows), then along (picture columns, wrapping so that
    // neighbouring tiles join smoothly).
    std::vector<float> mid(size_t(bw) * 3);
    strip.pixels.resize(size_t(rows) * size_t(length));
    for (int c = 0; c < rows; ++c) {
        std::fill(mid.begin(), mid.end(), 0.0f);
        for (int k = across.first[size_t(c)]; k < across.first[size_t(c) + 1]; ++k) {
            const CColor24* src = pic.Row(across.index[size_t(k)]);
            const float w = across.weight[size_t(k)];
            float* m = mid.data();
            for (int u = 0; u < bw; ++u, m += 3) {
                m[0] += w * float(src[u].r);
                m[1] += w * float(src[u].g);
                m[2] += w * float(src[u].b);
            }
        }
        CColor24* out = strip.pixels.data() + size_t(c) * size_t(length);
        for (int a = 0; a < length; ++a) {
            float r = 0.0f, g = 0.0f, b = 0.0f;
            for (int k = along.first[size_t(a)]; k < along.first[size_t(a) + 1]; ++k) {
                const float w = along.weight[size_t(k)];
                const float* m = mid.data() + size_t(along.index[size_t(k)]) * 3;
                r += w * m[0];
                g += w * m[1];
                b += w * m[2];
            }
            out[a] = CColor24(ClampByte(int(std::lround(r))), ClampByte(int(std::lround(g))),
                              ClampByte(int(std::lround(b))));
        }
    }
    return strip;
}

inline CColor24 Blend(const CColor24& a, const CColor24& b, float wa) {
    const float wb = 1.0f - wa;
    return CColor24(uint8_t(std::lround(a.r * wa + b.r * wb)),
                    uint8_t(std::lround(a.g * wa + b.g * wb)),
                    uint8_t(std::lround(a.b * wa + b.b * wb)));
}

// Paints the frame into the band: x < tx and x >= W - tx (left and right),
// y < ty and y >= H - ty (top and bottom). The four edges are the same strip
// turned by quarter turns; where two bands meet, the corner is cut along the
// diagonal (mitred), with the cut anti-aliased over one pixel.
void PaintFrame(BMP_File& canvas, const BMP_File& pic, int tx, int ty) {
    const int W = canvas.Width(), H = canvas.Height();
    EdgeStrip horiz, vert;
    if (ty > 0) horiz = BuildEdgeStrip(pic, W, ty, std::min(ty, H));
    if (tx > 0) vert = BuildEdgeStrip(pic, H, tx, std::min(tx, W));
    const double itx = tx > 0 ? 1.0 / tx : 0.0, ity = ty > 0 ? 1.0 / ty : 0.0;
    const double cut = tx > 0 && ty > 0 ? 1.0 / std::sqrt(itx * itx + ity * ity) : 0.0;

    auto paint = [&](int x, int y, CColor24& px) {
        const bool inL = x < tx, inR = x >= W - tx, inT = y < ty, inB = y >= H - ty;
        // Depth into each band, 0 at the outer edge, 1 at the inner one.
        double dh = 2.0, dv = 2.0;
        CColor24 ch, cv;
        if (inL) {
            dh = (x + 0.5) * itx;
            ch = vert.At(H - 1 - y, x);
        }
        if (inR) {
            const double d = (W - x - 0.5) * itx;
            if (d < dh) {
                dh = d;
                ch = vert.At(y, W - 1 - x);
            }
        }
        if (inT) {
            dv = (y + 0.5) * ity;
            cv = horiz.At(x, y);
        }
        if (inB) {
            const double d = (H - y - 0.5) * ity;
            if (d < dv) {
                dv = d;
                cv = horiz.At(W - 1 - x, H - 1 - y);
            }
        }
        const bool hasH = inL || inR, hasV = inT || inB;
        if (hasH && hasV) {
            // Signed distance in pixels from the mitre line; positive inside
            // the left or right edge's half of the corner.
            const double dist = (dv - dh) * cut;
            const float cover = float(std::clamp(0.5 + dist, 0.0, 1.0));
            px = Blend(ch, cv, cover);
        } else if (hasH) {
            px = ch;
        } else {
            px = cv;
        }
    };

    const int left = std::min(tx, W), right = std::max(W - tx, left);
    for (int y = 0; y < H; ++y) {
        CColor24* row = canvas.Row(y);
        if (y < ty || y >= H - ty) {
            for (int x = 0; x < W; ++x) paint(x, y, row[x]);
        } else {
            for (int x = 0; x < left; ++x) paint(x, y, row[x]);
            for (int x = right; x < W; ++x) paint(x, y, row[x]);
        }
    }
}

void Blit(BMP_File& canvas, const BMP_File& image, int x0, int y0) {
    const int w = std::min(image.Width(), canvas.Width() - x0);
    for (int y = 0; y < image.Height() && y0 + y < canvas.Height(); ++y)
        std::copy_n(image.Row(y), w, canvas.Row(y0 + y) + x0);
}

} // namespace

bool ApplyBorder(BMP_File& image, const BMP_File& border, int mode, int thickness) {
    if (image.Empty() || border.Empty()) return true;
    const int W = image.Width(), H = image.Height();
    const BorderBand band = BorderBandFor(thickness, W, H, border.Width(), border.Height());
    const int tx = band.tx, ty = band.ty;
    if (tx == 0 && ty == 0) return true;

    if (mode == kBorderStretch) {
        // The image shrinks into the inside of the frame. When the band covers
        // everything there is no inside to draw.
        const int iw = W - 2 * tx, ih = H - 2 * ty;
        BMP_File inner;
        if (iw > 0 && ih > 0) {
            if (!ResampleNearest(image, iw, ih, inner)) return false;
            Blit(image, inner, tx, ty);
        }
    } else if (mode == kBorderAround) {
        BMP_File canvas;
        // A canvas beyond the size limit cannot be made; the image stays as it is.
        if (!BMP_File::SizeAllowed(int64_t(W) + 2 * int64_t(tx), int64_t(H) + 2 * int64_t(ty)) ||
            !canvas.Create(W + 2 * tx, H + 2 * ty))
            return false;
        Blit(canvas, image, tx, ty);
        image = std::move(canvas);
    }
    PaintFrame(image, border, tx, ty);
    return true;
}

// ---------------------------------------------------------------------------
// Pictures from files

bool LoadOverlayPicture(const std::string& path, BMP_File& out) {
    if (path.empty()) return false;
    BMP_File pic;
    bool ok = ExtensionOf(path) == "bmp" && pic.LoadBMP(path);
    // BMP files of other depths, and every other format, go through the
    // general loader.
    if (!ok) ok = LoadImageFile(path, pic, nullptr);
    if (!ok || pic.Empty()) return false;
    out = std::move(pic);
    return true;
}

namespace {

// The last picture read, per thread and per kind: every preview run of the
// chain needs it again, and the video frame loop needs it for every frame.
// A change of the file (time or size) reads it anew.
struct PictureCache {
    std::string path;
    std::filesystem::file_time_type time;
    uintmax_t size = 0;
    BMP_File picture;

    const BMP_File* Get(const std::string& file) {
        std::error_code ec1, ec2;
        const auto t = std::filesystem::last_write_time(file, ec1);
        const auto n = std::filesystem::file_size(file, ec2);
        if (ec1 || ec2) {
            path.clear();
            picture.Clear();
            return nullptr;
        }
        if (file == path && t == time && n == size && !picture.Empty()) return &picture;
        path.clear();
        if (!LoadOverlayPicture(file, picture)) {
            picture.Clear();
            return nullptr;
        }
        path = file;
        time = t;
        size = n;
        return &picture;
    }
};

thread_local PictureCache tMaskCache;
thread_local PictureCache tBorderCache;

} // namespace

bool ApplyMaskFromSettings(BMP_File& image, const ProcessingSettings& s, bool* made) {
    if (made) *made = true;
    const std::string file = ResolveDataPicture(s.m_sMaskName, kMasksFolder);
    if (file.empty()) return false;
    const BMP_File* mask = tMaskCache.Get(file);
    if (!mask) return false;
    MaskParams p;
    p.invert = s.bInvertMask != 0;
    p.opacity = s.fOpacityMask;
    p.color = ChannelInts{s.m_nMaskColorR, s.m_nMaskColorG, s.m_nMaskColorB};
    const bool ok = ApplyMask(image, *mask, p);
    if (made) *made = ok;
    return ok;
}

bool ApplyBorderFromSettings(BMP_File& image, const ProcessingSettings& s, bool* made) {
    if (made) *made = true;
    const std::string file = ResolveDataPicture(s.m_sBorderName, kBorderFolder);
    if (file.empty()) return false;
    const BMP_File* border = tBorderCache.Get(file);
    if (!border) return false;
    const bool ok = ApplyBorder(image, *border, s.m_nBorderPlacement[kBorderPlacementMode],
                                s.m_nBorderPlacement[kBorderPlacementThickness]);
    if (made) *made = ok;
    return ok;
}

void BorderResultSize(const ProcessingSettings& s, int width, int height, int64_t& resultWidth,
                      int64_t& resultHeight) {
    resultWidth = width;
    resultHeight = height;
    if (s.m_nBorderPlacement[kBorderPlacementMode] != kBorderAround) return;
    const std::string file = ResolveDataPicture(s.m_sBorderName, kBorderFolder);
    const BMP_File* border = file.empty() ? nullptr : tBorderCache.Get(file);
    if (!border) return;
    const BorderBand band = BorderBandFor(s.m_nBorderPlacement[kBorderPlacementThickness], width,
                                          height, border->Width(), border->Height());
    resultWidth += 2 * int64_t(band.tx);
    resultHeight += 2 * int64_t(band.ty);
}
