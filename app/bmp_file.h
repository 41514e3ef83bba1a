#pragma once
// The one in-memory image type: width x height pixels of red, green, blue, top
// row first, rows packed without gaps, in one contiguous block. Every access
// outside the raster lands on a spare pixel, so no operation needs bounds checks
// for correctness (the fast paths avoid it for speed).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct CColor24 {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;

    constexpr CColor24() = default;
    constexpr CColor24(uint8_t red, uint8_t green, uint8_t blue) : r(red), g(green), b(blue) {}
    friend constexpr bool operator==(const CColor24&, const CColor24&) = default;
    // Red in the lowest byte, green next, blue third, top byte 0.
    constexpr uint32_t Packed() const {
        return uint32_t(r) | (uint32_t(g) << 8) | (uint32_t(b) << 16);
    }
    static constexpr CColor24 FromPacked(uint32_t c) {
        return CColor24(uint8_t(c & 0xFF), uint8_t((c >> 8) & 0xFF), uint8_t((c >> 16) & 0xFF));
    }
};
static_assert(sizeof(CColor24) == 3, "pixels must pack to three bytes");

// A pixel buffer in the layout the platform bitmaps use: blue, green, red and
// (for 4 bytes per pixel) a fourth byte, top row first, `stride` bytes per row.
struct PixelBuffer {
    int width = 0;
    int height = 0;
    int bytesPerPixel = 0; // 3 or 4
    size_t stride = 0;
    std::vector<uint8_t> data;
};

class BMP_File {
public:
    // The program's size limit, in pixels. It is set by what a picture costs in
    // memory: three bytes a pixel here, so 3 GB at the limit, which leaves room
    // for the decoder's copy and the working images of a legitimate picture of
    // several hundred megapixels (600 megapixels take 1.8 GB). Loaders compare
    // a file's claimed size with it before they decode anything, so that a
    // small file that claims a huge picture costs nothing. pellorin-cli can set
    // another limit (SetMaxPixels).
    static constexpr int64_t kMaxPixels = 1'000'000'000;
    // Longest side: keeps coordinates and fixed-point sample positions of the
    // operations inside int arithmetic, whatever limit is set.
    static constexpr int kMaxSide = 1 << 18;
    // The limit in force (kMaxPixels unless set otherwise); every image and
    // every loader is bound by it. Safe to read from any thread.
    static int64_t MaxPixels();
    // Sets the limit for the whole process, clamped to 1 .. kMaxSide^2.
    static void SetMaxPixels(int64_t pixels);
    // Whether a width x height picture is within kMaxSide and MaxPixels().
    static bool SizeAllowed(int64_t width, int64_t height);

    BMP_File() = default;
    BMP_File(const BMP_File&);
    BMP_File(BMP_File&&) noexcept;
    // Reuses the pixel block when the size stays, so a copy is one memcpy.
    BMP_File& operator=(const BMP_File&);
    BMP_File& operator=(BMP_File&&) noexcept;
    virtual ~BMP_File() = default;

    // Makes width x height black pixels, replacing any content. Returns false
    // (and leaves the image empty) for negative or too large sizes.
    bool Create(int width, int height);
    // Creates without clearing; for callers that overwrite every pixel.
    bool CreateUninitialized(int width, int height);
    void Clear();

    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t PixelCount() const { return size_t(width_) * size_t(height_); }
    size_t PixelBytes() const { return PixelCount() * 3; }
    bool Empty() const { return count_ == 0; }

    CColor24& Pixel(int x, int y) {
        if (unsigned(x) >= unsigned(width_) || unsigned(y) >= unsigned(height_)) return spare_;
        return Data()[size_t(y) * size_t(width_) + size_t(x)];
    }
    const CColor24& Pixel(int x, int y) const {
        if (unsigned(x) >= unsigned(width_) || unsigned(y) >= unsigned(height_)) return spare_;
        return Data()[size_t(y) * size_t(width_) + size_t(x)];
    }
    uint32_t PackedColor(int x, int y) const { return Pixel(x, y).Packed(); }
    CColor24& SparePixel() { return spare_; }

    // Pixels live in a plain byte block (three bytes each), so that making an
    // image that is about to be overwritten costs no initialisation.
    CColor24* Data() { return reinterpret_cast<CColor24*>(bytes_.get()); }
    const CColor24* Data() const { return reinterpret_cast<const CColor24*>(bytes_.get()); }
    CColor24* Row(int y) { return Data() + size_t(y) * size_t(width_); }
    const CColor24* Row(int y) const { return Data() + size_t(y) * size_t(width_); }
    uint8_t* Bytes() { return bytes_.get(); }
    const uint8_t* Bytes() const { return bytes_.get(); }

    BMP_File Clone() const { return *this; }
    bool SameAs(const BMP_File& other) const;

    // Uncompressed 24-bit BMP files.
    bool LoadBMP(const std::string& path);
    bool SaveBMP(const std::string& path) const;
    // The same in memory; DecodeBMP refuses anything malformed before it
    // allocates and leaves the image unchanged then.
    bool DecodeBMP(std::span<const uint8_t> file);
    std::vector<uint8_t> EncodeBMP() const;

    // Blue, green, red, 255 per pixel, top row first, no row gaps.
    std::vector<uint8_t> ToBGRA() const;
    void ToBGRA(uint8_t* out) const;
    // Red from byte 2, green from 1, blue from 0; byte 3 ignored.
    bool FromBGRA(int width, int height, const uint8_t* buffer);

    // Stand-ins for the platform bitmaps: 32-bit (alpha 255) and 24-bit buffers.
    PixelBuffer To32BitBitmap() const;
    PixelBuffer To24BitBitmap() const;
    // Accepts 3 or 4 bytes per pixel (the fourth ignored), blue-green-red order.
    bool FromBitmap(const PixelBuffer& bitmap);
    // The display form: 24-bit rows of the width rounded up to 4 pixels (the
    // added columns take the spare pixel), blue-green-red, top row first.
    PixelBuffer ToDeviceBitmap() const;

private:
    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<uint8_t[]> bytes_;
    size_t count_ = 0; // pixels in bytes_
    CColor24 spare_;
};

// Row length of a 24-bit BMP row: width * 3 rounded up to a multiple of 4.
constexpr size_t BmpRowBytes(int width) {
    return (size_t(width) * 3 + 3) & ~size_t(3);
}
