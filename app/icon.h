#pragma once
// Windows icon files (.ico) in memory: the icon directory, its entries and the
// images they point to. Reading checks every size and offset against the file
// before it touches or allocates anything; writing produces 32-bit images with a
// 40-byte bitmap header, bottom-up colour rows and an AND mask.

#include "app/bmp_file.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One directory entry as stored in the file (16 bytes).
struct IconDirEntry {
    uint8_t width = 0;  // pixels mod 256 (0 stands for 256 in small icons)
    uint8_t height = 0; // pixels mod 256
    uint8_t colorCount = 0;
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t bytesInRes = 0; // size of the image data
    uint32_t imageOffset = 0;
};

// One image of an icon: its data block exactly as stored in the file (bitmap
// information header, palette, colour rows and mask rows; or a PNG stream).
class CIconImage {
public:
    CIconImage() = default;

    // A new image in the bitmap form: header (height field doubled for the
    // mask), zeroed palette and colour rows, and a mask with every bit set.
    // bitCount is 1, 4, 8, 24 or 32. Returns false for unusable sizes.
    bool Create(int width, int height, int bitCount);
    // Takes a data block read from a file and checks that it is a decodable
    // image: a PNG stream or a bitmap header whose rows fit in the block, of a
    // size within BMP_File::SizeAllowed (a PNG stream inflates, so the size in
    // its header is all that bounds what decoding it costs). The
    // block is kept either way (a rewrite of the file keeps it); an image that
    // failed the check refuses to draw or decode.
    bool Parse(std::vector<uint8_t> data, std::string* why = nullptr);
    bool Valid() const { return valid_; }

    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitCount() const { return bitCount_; }
    bool IsPng() const { return png_; }
    const std::vector<uint8_t>& Data() const { return data_; }

    // Copies a 32-bit blue-green-red-alpha bitmap (top row first) into the
    // colour rows, clipped to the image. Only 32-bit bitmap-form images take it.
    bool DrawBitmap(const PixelBuffer& bitmap);

    // The image as width x height pixels of blue, green, red, alpha, top row
    // first. 32-bit images give their own alpha; other depths give alpha 0 where
    // the mask bit is set and 255 elsewhere.
    bool ToBGRA(std::vector<uint8_t>& out) const;

private:
    bool DecodePng(std::vector<uint8_t>& out) const;

    std::vector<uint8_t> data_;
    int width_ = 0;
    int height_ = 0;
    int bitCount_ = 0;
    bool png_ = false;
    // Offsets into data_ of the palette, colour rows and mask rows (bitmap form).
    size_t paletteOffset_ = 0;
    size_t paletteCount_ = 0;
    size_t colorOffset_ = 0;
    size_t colorStride_ = 0;
    size_t maskOffset_ = 0;
    size_t maskStride_ = 0;
    bool hasMask_ = false;
    bool valid_ = false;
};

class CIcon {
public:
    // Icon files larger than this are refused before they are read.
    static constexpr uint64_t kMaxFileBytes = uint64_t(1) << 30;

    // Replaces the content with the icon in `file`. Refuses (and leaves the icon
    // unchanged) a file whose header, directory or entries do not fit in it,
    // whose entries overlap, or whose selected first image cannot be decoded.
    bool Read(std::span<const uint8_t> file, std::string* why = nullptr);
    bool ReadFile(const std::string& path, std::string* why = nullptr);

    int ImageCount() const { return int(images_.size()); }
    const IconDirEntry& Entry(int index) const { return entries_[size_t(index)]; }
    // Selects an image; fails for an index out of range or an image that did
    // not pass its checks.
    bool SelectImage(int index);
    int Selected() const { return selected_; }
    const CIconImage* SelectedImage() const;

    // Appends a new image in the bitmap form and selects it.
    bool AddImage(int width, int height, int bitCount = 32);
    bool DrawBitmap(const PixelBuffer& bitmap);
    bool GetBGRA(std::vector<uint8_t>& out, int& width, int& height) const;

    // The whole file: 6-byte header, 16-byte entries, then the image data in
    // entry order. Empty when there is nothing to write or a size overflows.
    std::vector<uint8_t> Write() const;

    void Clear();

private:
    std::vector<IconDirEntry> entries_;
    std::vector<CIconImage> images_;
    int selected_ = -1;
};

// Icon file bytes for an image: one 32-bit image of the image's size, alpha 255.
std::vector<uint8_t> EncodeIcon(const BMP_File& image);
// Decodes the first image of an icon file into a 24-bit image (alpha dropped).
bool DecodeIcon(std::span<const uint8_t> file, BMP_File& image, std::string* why = nullptr);
