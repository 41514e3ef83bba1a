#include "app/icon.h"

#include "app/file_util.h"
#include "app/image_files.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>

namespace {

constexpr size_t kIconHeader = 6;
constexpr size_t kEntryBytes = 16;
constexpr size_t kInfoHeader = 40;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint32_t Get32BE(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void Fail(std::string* why, const char* text) {
    if (why) *why = text;
}

bool ValidBitCount(int bpp) {
    return bpp == 1 || bpp == 4 || bpp == 8 || bpp == 24 || bpp == 32;
}

// Bytes of one row of `bits`-per-pixel data padded to 32 bits.
uint64_t RowBytes(uint64_t width, uint64_t bits) {
    return ((width * bits + 31) / 32) * 4;
}

} // namespace

bool CIconImage::Create(int width, int height, int bitCount) {
    if (width < 1 || height < 1 || !BMP_File::SizeAllowed(width, height) ||
        !ValidBitCount(bitCount))
        return false;
    const uint64_t palette = bitCount <= 8 ? (uint64_t(1) << bitCount) * 4 : 0;
    const uint64_t color = RowBytes(width, bitCount) * uint64_t(height);
    const uint64_t mask = RowBytes(width, 1) * uint64_t(height);
    const uint64_t total = kInfoHeader + palette + color + mask;
    // The directory stores the data size in 32 bits.
    if (total > UINT32_MAX) return false;
    std::vector<uint8_t> data(size_t(total), 0);
    uint8_t* h = data.data();
    Put32(h, kInfoHeader);
    Put32(h + 4, uint32_t(width));
    Put32(h + 8, uint32_t(height) * 2); // colour rows and mask rows
    Put16(h + 12, 1);
    Put16(h + 14, uint16_t(bitCount));
    std::memset(data.data() + kInfoHeader + palette + color, 0xFF, size_t(mask));
    return Parse(std::move(data));
}

bool CIconImage::Parse(std::vector<uint8_t> data, std::string* why) {
    data_ = std::move(data);
    valid_ = false;
    width_ = height_ = bitCount_ = 0;
    png_ = hasMask_ = false;
    paletteOffset_ = paletteCount_ = colorOffset_ = colorStride_ = maskOffset_ = maskStride_ = 0;
    const uint8_t* d = data_.data();
    const size_t size = data_.size();

    if (size >= sizeof kPngSignature && std::memcmp(d, kPngSignature, sizeof kPngSignature) == 0) {
        // Signature, then the IHDR chunk: length, "IHDR", width, height.
        if (size < 24 || std::memcmp(d + 12, "IHDR", 4) != 0) {
            Fail(why, "damaged PNG image in the icon");
            return false;
        }
        const uint32_t w = Get32BE(d + 16);
        const uint32_t h = Get32BE(d + 20);
        if (w < 1 || h < 1) {
            Fail(why, "bad icon image size");
            return false;
        }
        // A PNG stream inflates, so its size alone does not bound the pixels.
        if (!BMP_File::SizeAllowed(w, h)) {
            if (why) *why = PictureTooLargeText(w, h);
            return false;
        }
        width_ = int(w);
        height_ = int(h);
        bitCount_ = 32;
        png_ = true;
        valid_ = true;
        return true;
    }

    if (size < kInfoHeader) {
        Fail(why, "icon image header is truncated");
        return false;
    }
    const uint32_t headerSize = Get32(d);
    const int32_t w = int32_t(Get32(d + 4));
    const int32_t doubledHeight = int32_t(Get32(d + 8));
    const int bpp = Get16(d + 14);
    const uint32_t compression = Get32(d + 16);
    const uint32_t colorsUsed = Get32(d + 32);
    if (headerSize < kInfoHeader || headerSize > size) {
        Fail(why, "bad icon image header size");
        return false;
    }
    if (!ValidBitCount(bpp) || compression != 0) {
        Fail(why, "unsupported icon image format");
        return false;
    }
    // The height field counts the colour rows and the mask rows.
    const int32_t h = doubledHeight / 2;
    if (w < 1 || h < 1) {
        Fail(why, "bad icon image size");
        return false;
    }
    if (!BMP_File::SizeAllowed(w, h)) {
        if (why) *why = PictureTooLargeText(uint32_t(w), uint32_t(h));
        return false;
    }
    uint64_t paletteCount = 0;
    if (bpp <= 8) {
        const uint64_t full = uint64_t(1) << bpp;
        if (colorsUsed > full) {
            Fail(why, "bad icon palette size");
            return false;
        }
        paletteCount = colorsUsed ? colorsUsed : full;
    } else {
        // Deeper images may carry an optional palette, which we step over.
        if (colorsUsed > 256) {
            Fail(why, "bad icon palette size");
            return false;
        }
        paletteCount = colorsUsed;
    }
    const uint64_t colorOffset = uint64_t(headerSize) + paletteCount * 4;
    const uint64_t colorStride = RowBytes(uint64_t(w), uint64_t(bpp));
    const uint64_t colorBytes = colorStride * uint64_t(h);
    if (colorOffset > size || colorBytes > size - colorOffset) {
        Fail(why, "icon image data is truncated");
        return false;
    }
    const uint64_t maskOffset = colorOffset + colorBytes;
    const uint64_t maskStride = RowBytes(uint64_t(w), 1);
    // Without its mask an image is taken as fully opaque.
    hasMask_ = maskStride * uint64_t(h) <= size - maskOffset;

    width_ = w;
    height_ = h;
    bitCount_ = bpp;
    paletteOffset_ = headerSize;
    paletteCount_ = size_t(paletteCount);
    colorOffset_ = size_t(colorOffset);
    colorStride_ = size_t(colorStride);
    maskOffset_ = size_t(maskOffset);
    maskStride_ = size_t(maskStride);
    valid_ = true;
    return true;
}

bool CIconImage::DrawBitmap(const PixelBuffer& bitmap) {
    if (!valid_ || png_ || bitCount_ != 32 || bitmap.bytesPerPixel != 4) return false;
    if (bitmap.width < 0 || bitmap.height < 0 || bitmap.stride < size_t(bitmap.width) * 4)
        return false;
    if (bitmap.height > 0 &&
        bitmap.data.size() < bitmap.stride * size_t(bitmap.height - 1) + size_t(bitmap.width) * 4)
        return false;
    const int w = std::min(width_, bitmap.width);
    const int h = std::min(height_, bitmap.height);
    // Colour rows are stored bottom row first.
    for (int y = 0; y < h; ++y) {
        std::memcpy(data_.data() + colorOffset_ + size_t(height_ - 1 - y) * colorStride_,
                    bitmap.data.data() + size_t(y) * bitmap.stride, size_t(w) * 4);
    }
    return true;
}

bool CIconImage::DecodePng(std::vector<uint8_t>& out) const {
    InitFreeImageOnce();
    FIMEMORY* mem = FreeImage_OpenMemory(const_cast<BYTE*>(data_.data()), DWORD(data_.size()));
    if (!mem) return false;
    FIBITMAP* dib = FreeImage_LoadFromMemory(FIF_PNG, mem, 0);
    FreeImage_CloseMemory(mem);
    if (!dib) return false;
    FIBITMAP* rgba = FreeImage_ConvertTo32Bits(dib);
    FreeImage_Unload(dib);
    if (!rgba) return false;
    bool ok = int(FreeImage_GetWidth(rgba)) == width_ && int(FreeImage_GetHeight(rgba)) == height_;
    if (ok) {
        out.resize(size_t(width_) * size_t(height_) * 4);
        // FreeImage rows are bottom-up, blue-green-red-alpha in memory.
        for (int y = 0; y < height_; ++y)
            std::memcpy(out.data() + size_t(y) * size_t(width_) * 4,
                        FreeImage_GetScanLine(rgba, height_ - 1 - y), size_t(width_) * 4);
    }
    FreeImage_Unload(rgba);
    return ok;
}

bool CIconImage::ToBGRA(std::vector<uint8_t>& out) const {
    if (!valid_) return false;
    if (png_) return DecodePng(out);

    const size_t w = size_t(width_);
    out.resize(w * size_t(height_) * 4);
    const uint8_t* d = data_.data();

    // Palette as ready pixels; indices past the palette read opaque black.
    uint32_t lut[256];
    std::fill(std::begin(lut), std::end(lut), 0xFF000000u);
    for (size_t i = 0; i < paletteCount_ && i < 256; ++i) {
        const uint8_t* q = d + paletteOffset_ + 4 * i;
        lut[i] = uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16) | 0xFF000000u;
    }

    for (int y = 0; y < height_; ++y) {
        const uint8_t* src = d + colorOffset_ + size_t(height_ - 1 - y) * colorStride_;
        uint8_t* dst = out.data() + size_t(y) * w * 4;
        switch (bitCount_) {
        case 32:
            std::memcpy(dst, src, w * 4);
            break;
        case 24:
            for (size_t x = 0; x < w; ++x) {
                dst[4 * x] = src[3 * x];
                dst[4 * x + 1] = src[3 * x + 1];
                dst[4 * x + 2] = src[3 * x + 2];
                dst[4 * x + 3] = 255;
            }
            break;
        default: {
            const int bpp = bitCount_;
            const int perByte = 8 / bpp;
            const unsigned valueMask = (1u << bpp) - 1;
            for (size_t x = 0; x < w; ++x) {
                const unsigned shift = unsigned(8 - bpp - int(x % size_t(perByte)) * bpp);
                const uint32_t c = lut[(src[x / size_t(perByte)] >> shift) & valueMask];
                std::memcpy(dst + 4 * x, &c, 4);
            }
            break;
        }
        }
        if (bitCount_ != 32 && hasMask_) {
            const uint8_t* mask = d + maskOffset_ + size_t(height_ - 1 - y) * maskStride_;
            for (size_t x = 0; x < w; ++x)
                if (mask[x >> 3] & (0x80u >> (x & 7))) dst[4 * x + 3] = 0;
        }
    }
    return true;
}

void CIcon::Clear() {
    entries_.clear();
    images_.clear();
    selected_ = -1;
}

bool CIcon::Read(std::span<const uint8_t> file, std::string* why) {
    const uint8_t* f = file.data();
    const size_t size = file.size();
    if (size < kIconHeader) {
        Fail(why, "not an icon file (too short)");
        return false;
    }
    if (Get16(f) != 0 || Get16(f + 2) != 1) {
        Fail(why, "not an icon file");
        return false;
    }
    const size_t count = Get16(f + 4);
    if (count == 0) {
        Fail(why, "icon file has no images");
        return false;
    }
    const size_t dirEnd = kIconHeader + count * kEntryBytes;
    if (dirEnd > size) {
        Fail(why, "icon directory is truncated");
        return false;
    }

    std::vector<IconDirEntry> entries(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = f + kIconHeader + i * kEntryBytes;
        IconDirEntry& en = entries[i];
        en.width = e[0];
        en.height = e[1];
        en.colorCount = e[2];
        en.reserved = e[3];
        en.planes = Get16(e + 4);
        en.bitCount = Get16(e + 6);
        en.bytesInRes = Get32(e + 8);
        en.imageOffset = Get32(e + 12);
        // Image data lies after the directory and inside the file.
        if (en.imageOffset < dirEnd || en.imageOffset > size || en.bytesInRes == 0 ||
            en.bytesInRes > size - en.imageOffset) {
            Fail(why, "icon directory entry points outside the file");
            return false;
        }
    }
    // Images never share bytes; refusing overlaps also bounds what we copy by
    // the file's size, whatever the entry count.
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return entries[a].imageOffset < entries[b].imageOffset; });
    for (size_t i = 1; i < count; ++i) {
        const IconDirEntry& prev = entries[order[i - 1]];
        if (uint64_t(prev.imageOffset) + prev.bytesInRes > entries[order[i]].imageOffset) {
            Fail(why, "icon images overlap");
            return false;
        }
    }

    std::vector<CIconImage> images(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* start = f + entries[i].imageOffset;
        std::string imageWhy;
        const bool ok =
            images[i].Parse(std::vector<uint8_t>(start, start + entries[i].bytesInRes), &imageWhy);
        // The first image is the one shown; later ones are only kept.
        if (i == 0 && !ok) {
            if (why) *why = imageWhy;
            return false;
        }
    }
    entries_ = std::move(entries);
    images_ = std::move(images);
    selected_ = 0;
    return true;
}

bool CIcon::ReadFile(const std::string& path, std::string* why) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file, kMaxFileBytes)) {
        Fail(why, "cannot read the icon file");
        return false;
    }
    return Read(file, why);
}

bool CIcon::SelectImage(int index) {
    if (index < 0 || index >= ImageCount() || !images_[size_t(index)].Valid()) return false;
    selected_ = index;
    return true;
}

const CIconImage* CIcon::SelectedImage() const {
    return selected_ >= 0 && selected_ < ImageCount() ? &images_[size_t(selected_)] : nullptr;
}

bool CIcon::AddImage(int width, int height, int bitCount) {
    if (images_.size() >= 0xFFFF) return false;
    CIconImage image;
    if (!image.Create(width, height, bitCount)) return false;
    IconDirEntry e;
    e.width = uint8_t(width % 256);
    e.height = uint8_t(height % 256);
    e.colorCount = bitCount < 8 ? uint8_t(1u << bitCount) : 0;
    e.bitCount = uint16_t(bitCount);
    e.bytesInRes = uint32_t(image.Data().size());
    entries_.push_back(e);
    images_.push_back(std::move(image));
    selected_ = ImageCount() - 1;
    return true;
}

bool CIcon::DrawBitmap(const PixelBuffer& bitmap) {
    if (selected_ < 0 || selected_ >= ImageCount()) return false;
    return images_[size_t(selected_)].DrawBitmap(bitmap);
}

bool CIcon::GetBGRA(std::vector<uint8_t>& out, int& width, int& height) const {
    const CIconImage* image = SelectedImage();
    if (!image || !image->ToBGRA(out)) return false;
    width = image->Width();
    height = image->Height();
    return true;
}

std::vector<uint8_t> CIcon::Write() const {
    if (images_.empty()) return {};
    const size_t count = images_.size();
    uint64_t total = kIconHeader + count * kEntryBytes;
    for (const CIconImage& image : images_) total += image.Data().size();
    if (total > UINT32_MAX) return {};

    std::vector<uint8_t> out(static_cast<size_t>(total));
    uint8_t* o = out.data();
    Put16(o, 0);
    Put16(o + 2, 1);
    Put16(o + 4, uint16_t(count));
    size_t offset = kIconHeader + count * kEntryBytes;
    for (size_t i = 0; i < count; ++i) {
        const IconDirEntry& en = entries_[i];
        const std::vector<uint8_t>& data = images_[i].Data();
        uint8_t* e = o + kIconHeader + i * kEntryBytes;
        e[0] = en.width;
        e[1] = en.height;
        e[2] = en.colorCount;
        e[3] = en.reserved;
        Put16(e + 4, en.planes);
        Put16(e + 6, en.bitCount);
        Put32(e + 8, uint32_t(data.size()));
        Put32(e + 12, uint32_t(offset));
        if (!data.empty()) std::memcpy(o + offset, data.data(), data.size());
        offset += data.size();
    }
    return out;
}

std::vector<uint8_t> EncodeIcon(const BMP_File& image) {
    CIcon icon;
    if (image.Empty() || !icon.AddImage(image.Width(), image.Height(), 32)) return {};
    if (!icon.DrawBitmap(image.To32BitBitmap())) return {};
    return icon.Write();
}

bool DecodeIcon(std::span<const uint8_t> file, BMP_File& image, std::string* why) {
    CIcon icon;
    if (!icon.Read(file, why)) return false;
    std::vector<uint8_t> bgra;
    int w = 0;
    int h = 0;
    if (!icon.GetBGRA(bgra, w, h)) {
        Fail(why, "cannot decode the icon image");
        return false;
    }
    BMP_File decoded;
    if (!decoded.FromBGRA(w, h, bgra.data())) {
        Fail(why, "icon image too large");
        return false;
    }
    image = std::move(decoded);
    return true;
}
