#include "imageops/wind_vangogh.h"

#include "imageops/cpu_features.h"
#include "imageops/overlays.h"
#include "imageops/parallel.h"
#include "imageops/vector_kernels.h"
#include "imageops/wrap_index.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

inline int ClampInt(int v, int lo, int hi) {
    return v < lo ? lo : (v > hi ? hi : v);
}

// ---------------------------------------------------------------------------
// Wind

// A hand-edited strength of 0 or less would make streaks of no length (Blast
// would then never move on); the upper limit keeps the lengths in an int while
// leaving every streak that fits a picture possible.
constexpr int kMaxWindStrength = 1 << 20;

void WindRow(uint8_t* row, int width, const WindParams& p) {
    auto px = [row](int i) { return row + 4 * size_t(i); };
    for (int j = 0; j <= width - 4; ++j) {
        if (WindEdgeValue(px(j), px(j + 3), p.edge) <= p.threshold) continue;
        int value[4], blend[4];
        for (int c = 0; c < 4; ++c) {
            value[c] = px(j)[c];
            blend[c] = int(px(j + 3)[c]) - int(px(j)[c]);
        }
        const int r = RuntimeRand15();
        const double max = (r % 4 == 3) ? 4.0 * p.strength : double(p.strength);
        const int n = 1 + int(std::trunc(RuntimeRand15() / 32768.0 * max));
        // k runs n, n - 1, ..., 1 and the weights k * w add up to 1, so a streak
        // that runs its full length moves value by the whole blend.
        const double w = 2.0 / (double(n) * (double(n) + 1.0));
        const int end = std::min(j + 3 + n, width - 3);
        int k = n;
        for (int i = j + 3; i < end; ++i, --k) {
            // Once the colour has caught up with the start pixel the streak may
            // fade out early, with even odds at each pixel.
            if (WindEdgeValue(px(j), px(i), p.edge) <= p.threshold && RuntimeRand15() < 16384)
                break;
            uint8_t* q = px(i);
            for (int c = 0; c < 4; ++c) {
                const double v = std::trunc(value[c] + double(k * blend[c]) * w);
                value[c] = v < 0.0 ? 0 : (v > 255.0 ? 255 : int(v));
                q[c] = uint8_t((int(q[c]) + 2 * value[c]) / 3);
            }
            // A new edge ahead re-aims the streak at the colour behind it.
            if (WindEdgeValue(q, px(i + 3), 0) > p.threshold)
                for (int c = 0; c < 4; ++c) blend[c] = int(px(i + 3)[c]) - value[c];
        }
    }
}

// Returns whether the rows after this one are to be left as they are.
bool BlastRow(uint8_t* row, int width, const WindParams& p) {
    auto px = [row](int i) { return row + 4 * size_t(i); };
    bool skip = false;
    int j = 0;
    while (j < width - 3) {
        if (WindEdgeValue(px(j), px(j + 1), p.edge) <= p.threshold) {
            ++j;
            continue;
        }
        const int r1 = RuntimeRand15() % 10;
        const int f = r1 > 5 ? 2 : (r1 >= 4 ? 3 : 4);
        const int length = (RuntimeRand15() % f + 1) * p.strength;
        const int end = int(std::min<long long>((long long)j + length, width - 3));
        for (int i = j + 1; i < end; ++i) std::memcpy(px(i), px(j), 4);
        if (RuntimeRand15() % 10 > 7) skip = true;
        j = end; // length >= 1, so end > j
    }
    return skip;
}

void ReversePixels(uint8_t* row, int width) {
    for (int a = 0, b = width - 1; a < b; ++a, --b)
        for (int c = 0; c < 4; ++c)
            std::swap(row[4 * size_t(a) + size_t(c)], row[4 * size_t(b) + size_t(c)]);
}

// ---------------------------------------------------------------------------
// Van Gogh

constexpr int kNoiseCells = 40;
constexpr double kRand15Scale = 1.0 / 32768.0;

using imageops::FloorInt;
using imageops::Wrap;
using imageops::WrapPair;

// Hue, saturation or lightness of bytes 0, 1, 2 of a pixel, 0..1 (hue -1 for
// a grey pixel, which has none).
double FieldChannel(const uint8_t* px, int channel) {
    const double c0 = px[0] / 255.0, c1 = px[1] / 255.0, c2 = px[2] / 255.0;
    const double mx = std::max({c0, c1, c2}), mn = std::min({c0, c1, c2});
    const double l = (mx + mn) / 2.0;
    if (channel == 2) return l;
    if (mx == mn) return channel == 1 ? 0.0 : -1.0;
    const double delta = mx - mn;
    if (channel == 1) return l <= 0.5 ? delta / (mx + mn) : delta / (2.0 - mx - mn);
    double h;
    if (c0 == mx)
        h = (c1 - c2) / delta;
    else if (c1 == mx)
        h = 2.0 + (c2 - c0) / delta;
    else
        h = 4.0 + (c0 - c1) / delta;
    h /= 6.0;
    if (h < 0.0) h += 1.0;
    return h;
}

struct NoiseTable {
    std::array<double, kNoiseCells * kNoiseCells> gx{}, gy{};
};

inline double Cubic(double t) {
    const double a = std::fabs(t);
    return a < 1.0 ? t * t * (2.0 * a - 3.0) + 1.0 : 0.0;
}

// Smooth gradient noise at a real position, cell size d.
double SmoothNoise(const NoiseTable& g, double px, double py, double d) {
    const double sx = px / d, sy = py / d;
    const int fx = FloorInt(sx), fy = FloorInt(sy);
    const double dx[2] = {sx - fx, sx - (fx + 1)}, dy[2] = {sy - fy, sy - (fy + 1)};
    const double cx[2] = {Cubic(dx[0]), Cubic(dx[1])}, cy[2] = {Cubic(dy[0]), Cubic(dy[1])};
    int ix[2], iy[2];
    WrapPair(fx, kNoiseCells, ix[0], ix[1]);
    WrapPair(fy, kNoiseCells, iy[0], iy[1]);
    double sum = 0.0;
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
            const size_t cell = size_t(ix[a]) * kNoiseCells + size_t(iy[b]);
            sum += cx[a] * cy[b] * (g.gx[cell] * dx[a] + g.gy[cell] * dy[b]);
        }
    return sum;
}

struct VanGoghJob {
    const uint8_t* src;
    uint8_t* dst;
    int width, height;
    const std::vector<uint8_t>* field;
    const NoiseTable* noise; // null: convolve with the source picture
    double d, minv, maxv;
    int op;
    // The integration along the flow line, as a weighted sum of samples at
    // offsets t from the pixel (see SetUpIntegration).
    std::vector<double> offsets, weights;
    double sourceScale, noiseScale;
};

// The tent w(t) = 1 - |t| / l over -l..l, sampled at n + 1 evenly spaced
// offsets t_k = l (2k - n) / n and summed by the trapezoid rule with step
// 2l / n. Both end samples have weight 0, so the sum is
//     step * sum_k w(t_k) s_k = 2l / n^2 * sum_k m_k s_k,  m_k = n - |2k - n|,
// over k = 1 .. n - 1. Summing whole-number weights keeps the sum of a flat
// neighbourhood exact: with an even n the weights add up to n^2 / 2 and the
// colour comes back unchanged, where adding up the rounded real weights step by
// step would often land just below it and lose one level. With an odd n the
// peak lies between two samples and the sum is short by 1 / n^2.
void SetUpIntegration(VanGoghJob& job, double l, int n) {
    job.offsets.clear();
    job.weights.clear();
    for (int k = 1; k < n; ++k) {
        job.offsets.push_back(l * (2 * k - n) / n);
        job.weights.push_back(double(n - std::abs(2 * k - n)));
    }
    const double n2 = double(n) * double(n);
    job.sourceScale = 2.0 / n2;    // the sum divided by l
    job.noiseScale = 2.0 * l / n2; // the sum itself
}

// Source colour at a real position, bilinear between the four pixels around
// it, wrapping at the picture's edges. Interpolating by differences keeps a
// flat neighbourhood's colour exact.
inline void SourceSample(const VanGoghJob& job, double px, double py, double out[4]) {
    const int x0 = FloorInt(px), y0 = FloorInt(py);
    const double fx = px - x0, fy = py - y0;
    int xa, xb, ya, yb;
    WrapPair(x0, job.width, xa, xb);
    WrapPair(y0, job.height, ya, yb);
    const size_t w = size_t(job.width);
    const uint8_t* p00 = job.src + 4 * (size_t(ya) * w + size_t(xa));
    const uint8_t* p10 = job.src + 4 * (size_t(ya) * w + size_t(xb));
    const uint8_t* p01 = job.src + 4 * (size_t(yb) * w + size_t(xa));
    const uint8_t* p11 = job.src + 4 * (size_t(yb) * w + size_t(xb));
    for (int c = 0; c < 4; ++c) {
        const double top = p00[c] + fx * (double(p10[c]) - double(p00[c]));
        const double bottom = p01[c] + fx * (double(p11[c]) - double(p01[c]));
        out[c] = top + fy * (bottom - top);
    }
}

// The weighted sum of source samples along the flow line through (x, y).
void SourceSum(const VanGoghJob& job, int x, int y, double vx, double vy, double sum[4]) {
    double s[4];
    for (size_t k = 0; k < job.offsets.size(); ++k) {
        const double t = job.offsets[k];
        SourceSample(job, x - t * vx, y - t * vy, s);
        for (int c = 0; c < 4; ++c) sum[c] += job.weights[k] * s[c];
    }
}

void VanGoghRows(const VanGoghJob& job, int y0, int y1) {
    const int w = job.width, h = job.height;
    const bool vector = imageops::VectorKernelsOn();
    const imageops::kernels::FlowLine line{
        job.src, job.width, job.height, job.offsets.data(), job.weights.data(), job.offsets.size()};
    const uint8_t* f = job.field->data();
    for (int y = y0; y < y1; ++y) {
        // The field's rows above, at and below, wrapped.
        const uint8_t* up = f + size_t(Wrap(y - 1, h)) * size_t(w);
        const uint8_t* mid = f + size_t(y) * size_t(w);
        const uint8_t* down = f + size_t(Wrap(y + 1, h)) * size_t(w);
        for (int x = 0; x < w; ++x) {
            const int l = x == 0 ? w - 1 : x - 1, r = x == w - 1 ? 0 : x + 1;
            const int gx = up[l] - up[r] + 2 * mid[l] - 2 * mid[r] + down[l] - down[r];
            const int gy = up[l] + 2 * up[x] + up[r] - down[l] - 2 * down[x] - down[r];
            double vx = job.op == 0 ? gx : gy;
            double vy = job.op == 0 ? gy : -gx;
            const double len = std::sqrt(vx * vx + vy * vy);
            if (len >= 0.000001) {
                vx /= len;
                vy /= len;
            }
            const size_t at = 4 * (size_t(y) * size_t(w) + size_t(x));
            if (job.noise) {
                double sum = 0.0;
                for (size_t k = 0; k < job.offsets.size(); ++k) {
                    const double t = job.offsets[k];
                    sum += job.weights[k] * SmoothNoise(*job.noise, x - t * vx, y - t * vy, job.d);
                }
                sum *= job.noiseScale;
                const double range = job.maxv - job.minv;
                // An empty range turns the modulation into a step at minv.
                double u = range != 0.0 ? (sum - job.minv) / range : (sum > job.minv ? 1.0 : 0.0);
                u = std::clamp(u, 0.0, 1.0);
                const double k = u * 0.5 + 0.5;
                for (int c = 0; c < 4; ++c)
                    job.dst[at + size_t(c)] = uint8_t(job.src[at + size_t(c)] * k);
            } else {
                double sum[4] = {0, 0, 0, 0};
                if (!vector || !imageops::kernels::FlowSourceSum(line, x, y, vx, vy, sum))
                    SourceSum(job, x, y, vx, vy, sum);
                for (int c = 0; c < 4; ++c) {
                    const double v = sum[c] * job.sourceScale;
                    job.dst[at + size_t(c)] = uint8_t(v <= 0.0 ? 0 : (v >= 255.0 ? 255 : int(v)));
                }
            }
        }
    }
}

} // namespace

int WindEdgeValue(const uint8_t* a, const uint8_t* b, int edge) {
    int sum = 0;
    for (int c = 0; c < 4; ++c) {
        const int d = int(b[c]) - int(a[c]);
        sum += edge == 0 ? (d < 0 ? -d : d) : (edge == 2 ? d : -d);
    }
    return sum / 4;
}

void ApplyWind(const uint8_t* src, uint8_t* dst, int width, int height, const WindParams& in) {
    if (width <= 0 || height <= 0) return;
    const size_t rowBytes = 4 * size_t(width);
    if (width < 4) {
        std::memcpy(dst, src, rowBytes * size_t(height));
        return;
    }
    WindParams p = in;
    p.strength = ClampInt(p.strength, 1, kMaxWindStrength);
    // Unknown edge modes count like the default ("Leading").
    if (p.edge != 0 && p.edge != 2) p.edge = 1;
    const bool blast = p.algorithm == 1;
    const bool reversed = p.direction == 1;
    std::vector<uint8_t> row(rowBytes);
    int skipRows = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* in = src + rowBytes * size_t(y);
        uint8_t* out = dst + rowBytes * size_t(y);
        if (skipRows > 0) {
            std::memcpy(out, in, rowBytes);
            --skipRows;
            continue;
        }
        std::memcpy(row.data(), in, rowBytes);
        if (reversed) ReversePixels(row.data(), width);
        bool skip = false;
        if (blast)
            skip = BlastRow(row.data(), width, p);
        else
            WindRow(row.data(), width, p);
        if (reversed) ReversePixels(row.data(), width);
        std::memcpy(out, row.data(), rowBytes);
        if (skip) skipRows = 1 + RuntimeRand15() % 2;
    }
}

void ApplyVanGogh(const uint8_t* src, uint8_t* dst, int width, int height, const VanGoghParams& p) {
    if (width <= 0 || height <= 0) return;
    const size_t pixels = size_t(width) * size_t(height);

    NoiseTable noise;
    const bool withNoise = p.convolve == 0;
    if (withNoise)
        for (int a = 0; a < kNoiseCells; ++a)
            for (int b = 0; b < kNoiseCells; ++b) {
                const double u = (RuntimeRand15() & 0x7FFF) * kRand15Scale;
                const double angle = u * 2.0 * 3.14159265;
                noise.gx[size_t(a * kNoiseCells + b)] = std::cos(angle);
                noise.gy[size_t(a * kNoiseCells + b)] = std::sin(angle);
            }

    // The scalar field, dithered by one draw per pixel so that flat areas still
    // give the flow some direction.
    const int channel = (p.channel == 0 || p.channel == 1) ? p.channel : 2;
    std::vector<uint8_t> field(pixels);
    for (size_t i = 0; i < pixels; ++i) {
        const double u = (RuntimeRand15() & 0x7FFF) * kRand15Scale;
        const double v =
            std::floor(FieldChannel(src + 4 * i, channel) * 255.0 + (2.0 * u - 1.0) + 0.5);
        field[i] = uint8_t(v < 0.0 ? 0 : (v > 255.0 ? 255 : int(v)));
    }

    VanGoghJob job;
    job.src = src;
    job.dst = dst;
    job.width = width;
    job.height = height;
    job.field = &field;
    job.noise = withNoise ? &noise : nullptr;
    // A length of 0 would divide by zero; the effect then smears over a tenth of
    // a pixel.
    const double l = std::max(double(ClampInt(p.filterLength, 0, 64)), 0.1);
    // One step would sample the tent only at its two zero ends and turn the
    // picture black; two steps is the least that reaches the pixel itself.
    SetUpIntegration(job, l, ClampInt(p.integrationSteps, 2, 40));
    job.d = double(std::max(p.noiseMagnitude, 1));
    job.minv = p.minValue / 10.0;
    job.maxv = p.maxValue / 10.0;
    job.op = p.op == 0 ? 0 : 1;
    imageops::ParallelRows(height, pixels, [&job](int y0, int y1) { VanGoghRows(job, y0, y1); });
}

void WindEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                const ProcessingSettings& s) {
    WindParams p;
    p.threshold = s.m_nThresholdWind;
    p.strength = s.m_nStrengthWind;
    p.algorithm = s.m_nAlgorithmWind;
    p.direction = s.m_nDirectionWind;
    p.edge = s.m_nEdgeWind;
    ApplyWind(src, dst, width, height, p);
}

void VanGoghEffect(const uint8_t* src, uint8_t* dst, int width, int height,
                   const ProcessingSettings& s) {
    VanGoghParams p;
    p.filterLength = s.m_nfiltlenVangogh;
    p.noiseMagnitude = s.m_nnoisemagVangogh;
    p.integrationSteps = s.m_nintstepsVangogh;
    p.minValue = s.m_nminvVangogh;
    p.maxValue = s.m_nmaxvVangogh;
    p.channel = s.m_n_channelVangogh;
    p.op = s.m_n_operatorVangogh;
    p.convolve = s.m_n_convolveVangogh;
    ApplyVanGogh(src, dst, width, height, p);
}
