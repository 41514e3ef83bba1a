#include "app/bmp_file.h"

#include "app/file_util.h"
#include "app/safe_save.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <utility>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace {

// A block for `bytes` bytes of pixels (uninitialised), or null when the
// memory cannot be had. Large blocks ask for 2 MB pages: a fresh picture is
// written once from end to end, and with 4 KB pages its page faults cost more
// than the writing itself (a 12-megapixel picture takes 9000 of them).
uint8_t* NewPixelBlock(size_t bytes) {
    uint8_t* p = new (std::nothrow) uint8_t[bytes];
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr size_t kLarge = size_t(8) << 20;
    if (p && bytes >= kLarge) {
        const uintptr_t page = 4096;
        const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
        const uintptr_t end = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(page - 1);
        // Only advice: where the system has no such pages, nothing changes.
        if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
    }
#endif
    return p;
}

void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

constexpr size_t kFileHeader = 14;
constexpr size_t kInfoHeader = 40;
constexpr size_t kHeaders = kFileHeader + kInfoHeader;

// One row of pixels in the blue-green-red byte order of files and bitmaps.
void RowToBgr(const CColor24* src, uint8_t* dst, int width) {
    for (int x = 0; x < width; ++x) {
        dst[3 * x] = src[x].b;
        dst[3 * x + 1] = src[x].g;
        dst[3 * x + 2] = src[x].r;
    }
}

std::atomic<int64_t> g_maxPixels{BMP_File::kMaxPixels};

} // namespace

int64_t BMP_File::MaxPixels() {
    return g_maxPixels.load(std::memory_order_relaxed);
}

void BMP_File::SetMaxPixels(int64_t pixels) {
    g_maxPixels.store(std::clamp<int64_t>(pixels, 1, int64_t(kMaxSide) * kMaxSide),
                      std::memory_order_relaxed);
}

bool BMP_File::SizeAllowed(int64_t w, int64_t h) {
    return w >= 0 && h >= 0 && w <= kMaxSide && h <= kMaxSide && w * h <= MaxPixels();
}

BMP_File::BMP_File(const BMP_File& o) : width_(o.width_), height_(o.height_), spare_(o.spare_) {
    if (o.count_ > 0) {
        uint8_t* block = NewPixelBlock(o.count_ * 3);
        if (!block) throw std::bad_alloc();
        bytes_.reset(block);
        count_ = o.count_;
        std::memcpy(bytes_.get(), o.bytes_.get(), count_ * 3);
    }
}

BMP_File& BMP_File::operator=(const BMP_File& o) {
    if (this == &o) return *this;
    if (count_ != o.count_) {
        uint8_t* block = o.count_ > 0 ? NewPixelBlock(o.count_ * 3) : nullptr;
        if (o.count_ > 0 && !block) throw std::bad_alloc(); // this image stays as it was
        bytes_.reset(block);
        count_ = o.count_;
    }
    width_ = o.width_;
    height_ = o.height_;
    spare_ = o.spare_;
    if (count_ > 0) std::memcpy(bytes_.get(), o.bytes_.get(), count_ * 3);
    return *this;
}

BMP_File::BMP_File(BMP_File&& o) noexcept
    : width_(std::exchange(o.width_, 0)), height_(std::exchange(o.height_, 0)),
      bytes_(std::move(o.bytes_)), count_(std::exchange(o.count_, 0)), spare_(o.spare_) {}

BMP_File& BMP_File::operator=(BMP_File&& o) noexcept {
    if (this != &o) {
        width_ = std::exchange(o.width_, 0);
        height_ = std::exchange(o.height_, 0);
        bytes_ = std::move(o.bytes_);
        count_ = std::exchange(o.count_, 0);
        spare_ = o.spare_;
    }
    return *this;
}

bool BMP_File::Create(int width, int height) {
    if (!CreateUninitialized(width, height)) return false;
    if (count_ > 0) std::memset(bytes_.get(), 0, PixelBytes());
    return true;
}

bool BMP_File::CreateUninitialized(int width, int height) {
    if (!SizeAllowed(width, height)) {
        Clear();
        return false;
    }
    // A zero side makes an empty image, whatever the other side says.
    if (width == 0 || height == 0) width = height = 0;
    const size_t count = size_t(width) * size_t(height);
    if (count != count_) {
        // new[] of bytes leaves them uninitialised: the caller writes every
        // pixel. Running out of memory is a refusal, not a crash.
        bytes_.reset(count > 0 ? NewPixelBlock(count * 3) : nullptr);
        count_ = bytes_ ? count : 0;
        if (count > 0 && !bytes_) {
            Clear();
            return false;
        }
    }
    width_ = width;
    height_ = height;
    spare_ = CColor24();
    return true;
}

void BMP_File::Clear() {
    width_ = height_ = 0;
    bytes_.reset();
    count_ = 0;
    spare_ = CColor24();
}

bool BMP_File::SameAs(const BMP_File& other) const {
    return width_ == other.width_ && height_ == other.height_ &&
           (PixelBytes() == 0 || std::memcmp(Bytes(), other.Bytes(), PixelBytes()) == 0);
}

bool BMP_File::LoadBMP(const std::string& path) {
    std::vector<uint8_t> file;
    // Largest legal file: the largest image plus headers and row padding.
    if (!ReadWholeFile(path, file, uint64_t(MaxPixels()) * 3 + uint64_t(kMaxSide) * 4 + 4096))
        return false;
    return DecodeBMP(file);
}

bool BMP_File::DecodeBMP(std::span<const uint8_t> file) {
    if (file.size() < kHeaders) return false;
    const uint8_t* h = file.data();
    if (h[0] != 'B' || h[1] != 'M') return false;
    const uint32_t dataOffset = Get32(h + 10);
    const uint32_t infoSize = Get32(h + 14);
    const int32_t biWidth = int32_t(Get32(h + 18));
    const int32_t biHeight = int32_t(Get32(h + 22));
    const uint16_t bitCount = Get16(h + 28);
    const uint32_t compression = Get32(h + 30);
    if (bitCount != 24 || compression != 0 || infoSize < kInfoHeader) return false;
    const int64_t w = biWidth < 0 ? -int64_t(biWidth) : biWidth;
    const int64_t ht = biHeight < 0 ? -int64_t(biHeight) : biHeight;
    if (!SizeAllowed(w, ht)) return false;
    // Pixel rows start where the file header says; a header that points into
    // the headers themselves is taken to mean "right after them".
    size_t start = dataOffset >= kFileHeader + infoSize ? dataOffset : kFileHeader + infoSize;
    if (start > file.size()) return false;
    const size_t rowBytes = BmpRowBytes(int(w));
    const uint64_t need = uint64_t(rowBytes) * uint64_t(ht);
    if (need > file.size() - start) return false;

    BMP_File img;
    if (!img.CreateUninitialized(int(w), int(ht))) return false;
    const int width = img.width_;
    const int height = img.height_;
    // The first row in the file is the bottom row of the image, whatever the
    // sign of the height.
    for (int y = 0; y < height; ++y) {
        const uint8_t* src = file.data() + start + size_t(y) * rowBytes;
        CColor24* dst = img.Row(height - 1 - y);
        for (int x = 0; x < width; ++x) {
            dst[x].b = src[3 * x];
            dst[x].g = src[3 * x + 1];
            dst[x].r = src[3 * x + 2];
        }
    }
    *this = std::move(img);
    return true;
}

std::vector<uint8_t> BMP_File::EncodeBMP() const {
    const size_t rowBytes = BmpRowBytes(width_);
    const size_t imageBytes = rowBytes * size_t(height_);
    std::vector<uint8_t> out(kHeaders + imageBytes, 0);
    uint8_t* h = out.data();
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, uint32_t(kHeaders + imageBytes));
    Put32(h + 10, kHeaders);
    Put32(h + 14, kInfoHeader);
    Put32(h + 18, uint32_t(width_));
    Put32(h + 22, uint32_t(height_));
    Put16(h + 26, 1);
    Put16(h + 28, 24);
    Put32(h + 34, uint32_t(imageBytes));
    Put32(h + 38, 2834);
    Put32(h + 42, 2834);
    for (int y = 0; y < height_; ++y)
        RowToBgr(Row(height_ - 1 - y), out.data() + kHeaders + size_t(y) * rowBytes, width_);
    return out;
}

bool BMP_File::SaveBMP(const std::string& path) const {
    const std::vector<uint8_t> file = EncodeBMP();
    return SaveFileSafely(path, file.data(), file.size());
}

void BMP_File::ToBGRA(uint8_t* out) const {
    const CColor24* p = Data();
    const size_t n = PixelCount();
    for (size_t i = 0; i < n; ++i) {
        out[4 * i] = p[i].b;
        out[4 * i + 1] = p[i].g;
        out[4 * i + 2] = p[i].r;
        out[4 * i + 3] = 255;
    }
}

std::vector<uint8_t> BMP_File::ToBGRA() const {
    std::vector<uint8_t> out(PixelCount() * 4);
    ToBGRA(out.data());
    return out;
}

bool BMP_File::FromBGRA(int width, int height, const uint8_t* buffer) {
    if (!CreateUninitialized(width, height)) return false;
    CColor24* p = Data();
    const size_t n = PixelCount();
    for (size_t i = 0; i < n; ++i) {
        p[i].r = buffer[4 * i + 2];
        p[i].g = buffer[4 * i + 1];
        p[i].b = buffer[4 * i];
    }
    return true;
}

PixelBuffer BMP_File::To32BitBitmap() const {
    PixelBuffer b;
    b.width = width_;
    b.height = height_;
    b.bytesPerPixel = 4;
    b.stride = size_t(width_) * 4;
    b.data = ToBGRA();
    return b;
}

PixelBuffer BMP_File::To24BitBitmap() const {
    PixelBuffer b;
    b.width = width_;
    b.height = height_;
    b.bytesPerPixel = 3;
    b.stride = BmpRowBytes(width_);
    b.data.assign(b.stride * size_t(height_), 0);
    for (int y = 0; y < height_; ++y)
        RowToBgr(Row(y), b.data.data() + size_t(y) * b.stride, width_);
    return b;
}

bool BMP_File::FromBitmap(const PixelBuffer& bitmap) {
    const int bpp = bitmap.bytesPerPixel;
    if (bpp != 3 && bpp != 4) return false;
    if (bitmap.width < 0 || bitmap.height < 0) return false;
    if (bitmap.stride < size_t(bitmap.width) * size_t(bpp)) return false;
    if (bitmap.height > 0 && bitmap.data.size() < bitmap.stride * size_t(bitmap.height - 1) +
                                                      size_t(bitmap.width) * size_t(bpp))
        return false;
    BMP_File img;
    if (!img.CreateUninitialized(bitmap.width, bitmap.height)) return false;
    for (int y = 0; y < img.height_; ++y) {
        const uint8_t* src = bitmap.data.data() + size_t(y) * bitmap.stride;
        CColor24* dst = img.Row(y);
        for (int x = 0; x < img.width_; ++x, src += bpp) {
            dst[x].b = src[0];
            dst[x].g = src[1];
            dst[x].r = src[2];
        }
    }
    *this = std::move(img);
    return true;
}

PixelBuffer BMP_File::ToDeviceBitmap() const {
    PixelBuffer b;
    const int padded = (width_ + 3) & ~3;
    b.width = width_;
    b.height = height_;
    b.bytesPerPixel = 3;
    b.stride = size_t(padded) * 3;
    b.data.resize(b.stride * size_t(height_));
    for (int y = 0; y < height_; ++y) {
        uint8_t* dst = b.data.data() + size_t(y) * b.stride;
        RowToBgr(Row(y), dst, width_);
        for (int x = width_; x < padded; ++x) {
            dst[3 * x] = spare_.b;
            dst[3 * x + 1] = spare_.g;
            dst[3 * x + 2] = spare_.r;
        }
    }
    return b;
}
