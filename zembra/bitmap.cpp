#include "gif.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace zembra {

void BitmapDeleter::operator()(ZBitmap* b) const {
    if (!b) return;
    std::free(b->bits);
    std::free(b);
}

int32_t rowBytes(int32_t width, int32_t bitsPerPixel) {
    return int32_t((int64_t(width) * bitsPerPixel + 31) / 32 * 4);
}

void setDefaultPalette(ZBitmap& b) {
    ZPalette& p = b.palette;
    std::memset(&p, 0, sizeof p);
    switch (b.bitsPerPixel) {
    case 1:
        p.count = 2;
        p.rgbx[1][0] = p.rgbx[1][1] = p.rgbx[1][2] = 255;
        break;
    case 4: {
        // The 16 standard colours: the dark half, light grey, grey, the bright half.
        static const uint8_t vga[16][3] = {
            {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
            {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
            {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
            {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};
        p.count = 16;
        for (int i = 0; i < 16; ++i) std::memcpy(p.rgbx[i], vga[i], 3);
        break;
    }
    case 8:
        p.count = 256;
        for (int i = 0; i < 256; ++i) p.rgbx[i][0] = p.rgbx[i][1] = p.rgbx[i][2] = uint8_t(i);
        break;
    default:
        break;
    }
}

BitmapPtr createBitmap(int32_t width, int32_t height, int32_t bitsPerPixel) {
    if (width < 0 || height < 0) throw std::bad_alloc();
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24 &&
        bitsPerPixel != 32)
        throw std::bad_alloc();
    int64_t stride = (int64_t(width) * bitsPerPixel + 31) / 32 * 4;
    if (stride > INT32_MAX) throw std::bad_alloc();
    auto* b = static_cast<ZBitmap*>(std::calloc(1, sizeof(ZBitmap)));
    if (!b) throw std::bad_alloc();
    BitmapPtr out(b);
    b->width = width;
    b->height = height;
    b->bitsPerPixel = bitsPerPixel;
    b->stride = int32_t(stride);
    size_t bytes = size_t(stride) * size_t(height);
    if (bytes) {
        b->bits = static_cast<uint8_t*>(std::calloc(bytes, 1));
        if (!b->bits) throw std::bad_alloc();
    }
    setDefaultPalette(*b);
    return out;
}

} // namespace zembra
