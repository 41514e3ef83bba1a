#pragma once
// The vector forms of the pixel loops, written once with Google Highway and
// compiled for every instruction set the build targets (SSSE3, SSE4, AVX2,
// AVX-512 on x86-64, NEON and SVE on ARM, and a portable baseline). Each call
// runs the best form the processor has. Every form gives the bytes of the plain
// loop it stands for; the callers keep those plain loops for when
// imageops::VectorKernelsOn() is false and for the pixels a kernel leaves.

#include <cstddef>
#include <cstdint>

namespace imageops::kernels {

// Bilinear rotation of destination rows y0..y1-1 (see RotateImage). Positions
// are in fixed point with 32 fractional bits. Byte offsets into the source
// must fit 31 bits: the caller takes pictures of at least 2 pixels and below
// 2^31 - 3 * width - 8 bytes. Returns false, having done nothing, on
// processors without gathers, where the plain loop is faster.
struct RotationRows {
    const uint8_t* src; // width x height pixels, three bytes each
    uint8_t* dst;       // the same size
    int width, height;
    int64_t originX, originY, colStepX, colStepY, rowStepX, rowStepY;
    uint32_t background; // red | green << 8 | blue << 16
};
bool RotateRows(const RotationRows& r, int y0, int y1);

// Contrast on whole pixels: byte c of each pixel becomes
// clamp(sign(x) ((|x| m[c]) >> e[c]) + 128, 0, 255) with x = v - 128,
// m[c] < 2^24 and e[c] < 32. Returns how many pixels it did (from the start).
size_t ContrastPixels(uint8_t* p, size_t pixels, const uint32_t m[3], const uint32_t e[3]);

// Swaps bytes i0 and i1 of each pixel; returns how many pixels it did.
size_t SwapPixelBytes(uint8_t* p, size_t pixels, int i0, int i1);

// Sets the three bytes of each pixel to their sum / 3 (truncated); returns how
// many pixels it did.
size_t GreyPixels(uint8_t* p, size_t pixels);

// am[i] = max(int((1 - sqrt(q[i] + ry)) * 200.0), 0), the product taken in
// double precision; returns how many it did.
int LightAmounts(const float* q, float ry, int16_t* am, int n);
// bytes[3i] = bytes[3i + 1] = bytes[3i + 2] = am[i]; returns how many i it did.
int SpreadToBytes(const int16_t* am, int16_t* bytes, int n);
// Moves each byte toward target[i] by amount[i] without passing it; returns
// how many bytes it did.
int LightMove(uint8_t* p, const int16_t* amount, const int16_t* target, int n);
// p[i] = uint8_t(int(float(p[i]) * weight[i] + share[i])), no fused
// multiply-add; returns how many bytes it did.
size_t MaskBytes(uint8_t* p, const float* weight, const float* share, size_t n);

// Van Gogh's integration along a flow line: for each k < count, the picture
// (width x height four-byte pixels, wrapping at its edges) sampled bilinearly
// at (x - t vx, y - t vy) with t = offsets[k], each byte as
// top + fy (bottom - top) of top = p00 + fx (p10 - p00) and bottom likewise,
// is added times weights[k] to sum[byte]. Returns false, having done nothing,
// on targets without a vector form.
struct FlowLine {
    const uint8_t* src;
    int width, height;
    const double* offsets;
    const double* weights;
    size_t count;
};
bool FlowSourceSum(const FlowLine& f, int x, int y, double vx, double vy, double sum[4]);

} // namespace imageops::kernels
