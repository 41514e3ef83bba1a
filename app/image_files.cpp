#include "app/image_files.h"

#include "app/file_util.h"
#include "app/icon.h"
#include "app/safe_save.h"

#include <FreeImage.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// FreeImage reports details of a failure through a process-wide callback; keep
// the last text per thread so that a failure can say why.
thread_local std::string t_freeImageMessage;

void OnFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
    t_freeImageMessage = message ? message : "";
}

void SetMessage(std::string* message, std::string text) {
    if (message) *message = std::move(text);
}

// Appends FreeImage's own explanation, when it gave one for this call.
std::string WithFreeImageDetail(std::string text) {
    if (!t_freeImageMessage.empty()) text += " (" + t_freeImageMessage + ")";
    return text;
}

struct FormatInfo {
    const char* ext;
    FREE_IMAGE_FORMAT fif;
    const char* name;
};

// The extensions handled by FreeImage, on load and on save.
constexpr FormatInfo kFreeImageFormats[] = {
    {"png", FIF_PNG, "PNG"},     {"jpg", FIF_JPEG, "JPEG"},   {"gif", FIF_GIF, "GIF"},
    {"tif", FIF_TIFF, "TIFF"},   {"tga", FIF_TARGA, "TARGA"}, {"psd", FIF_PSD, "PSD"},
    {"pcd", FIF_PCD, "PhotoCD"}, {"bmp", FIF_BMP, "BMP"},
};

const FormatInfo* FindFormat(const std::string& ext) {
    for (const FormatInfo& f : kFreeImageFormats)
        if (ext == f.ext) return &f;
    return nullptr;
}

// Owns one FreeImage bitmap.
struct Dib {
    FIBITMAP* p = nullptr;
    Dib() = default;
    explicit Dib(FIBITMAP* b) : p(b) {}
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    ~Dib() {
        if (p) FreeImage_Unload(p);
    }
    void Reset(FIBITMAP* b) {
        if (p) FreeImage_Unload(p);
        p = b;
    }
    explicit operator bool() const { return p != nullptr; }
};

// Swapping the first and third byte of every 3-byte pixel turns FreeImage's
// blue-green-red rows into our red-green-blue pixels and back. These copies run
// over every pixel of every load and save, so they have a 16-byte path.
void SwapRedBlueScalar(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep) {
    for (size_t i = 0; i < pixels; ++i) {
        dst[3 * i] = src[srcStep * i + 2];
        dst[3 * i + 1] = src[srcStep * i + 1];
        dst[3 * i + 2] = src[srcStep * i];
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Five pixels per 16-byte load; the 16th byte written is the next pixel's first
// byte and is overwritten by the following step.
__attribute__((target("ssse3"))) void SwapRedBlue3Ssse3(const uint8_t* src, uint8_t* dst,
                                                        size_t pixels) {
    const __m128i shuffle = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    const size_t bytes = pixels * 3;
    size_t i = 0;
    for (; i + 16 <= bytes; i += 15) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_shuffle_epi8(v, shuffle));
    }
    SwapRedBlueScalar(src + i, dst + i, (bytes - i) / 3, 3);
}
// Four 4-byte pixels in, twelve bytes out (the store's last four bytes are
// overwritten by the next step).
__attribute__((target("ssse3"))) void SwapRedBlue4Ssse3(const uint8_t* src, uint8_t* dst,
                                                        size_t pixels) {
    const __m128i shuffle = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    size_t i = 0;
    for (; i + 6 <= pixels; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * i), _mm_shuffle_epi8(v, shuffle));
    }
    SwapRedBlueScalar(src + 4 * i, dst + 3 * i, pixels - i, 4);
}
bool HaveSsse3() {
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return have;
}
#endif

// srcStep is 3 or 4 bytes per source pixel (the fourth byte is dropped).
void SwapRedBlue(const uint8_t* src, uint8_t* dst, size_t pixels, size_t srcStep) {
#if defined(__x86_64__) || defined(__i386__)
    if (HaveSsse3()) {
        if (srcStep == 3)
            SwapRedBlue3Ssse3(src, dst, pixels);
        else
            SwapRedBlue4Ssse3(src, dst, pixels);
        return;
    }
#endif
    SwapRedBlueScalar(src, dst, pixels, srcStep);
}

// Copies a decoded FreeImage bitmap into a 24-bit image. 24-bit and 32-bit
// bitmaps are read directly (alpha dropped); every other kind goes through
// FreeImage's 24-bit conversion first.
bool FromFreeImage(FIBITMAP* dib, BMP_File& target, std::string* message) {
    Dib converted;
    FIBITMAP* use = dib;
    const bool direct = FreeImage_GetImageType(dib) == FIT_BITMAP &&
                        (FreeImage_GetBPP(dib) == 24 || FreeImage_GetBPP(dib) == 32);
    if (!direct) {
        converted.Reset(FreeImage_ConvertTo24Bits(dib));
        if (!converted) {
            // High dynamic range and other sample types: scale to 8 bits first.
            Dib standard(FreeImage_ConvertToStandardType(dib, TRUE));
            if (standard) converted.Reset(FreeImage_ConvertTo24Bits(standard.p));
        }
        if (!converted) {
            SetMessage(message, "Unable to convert the image to 24 bits");
            return false;
        }
        use = converted.p;
    }
    const unsigned w = FreeImage_GetWidth(use);
    const unsigned h = FreeImage_GetHeight(use);
    const unsigned bpp = FreeImage_GetBPP(use);
    if (w > unsigned(BMP_File::kMaxSide) || h > unsigned(BMP_File::kMaxSide) ||
        int64_t(w) * int64_t(h) > BMP_File::kMaxPixels) {
        SetMessage(message, "The image is too large");
        return false;
    }
    // Decoding is done and nothing below can fail, so the pixels may go
    // straight into the target. Loading the next picture of a folder usually
    // finds a target of the same size, whose memory is reused as it is.
    if (target.Width() != int(w) || target.Height() != int(h) || target.Empty()) {
        BMP_File fresh;
        fresh.CreateUninitialized(int(w), int(h));
        target = std::move(fresh);
    }
    target.SparePixel() = CColor24();
    // FreeImage keeps the bottom row first.
    for (unsigned y = 0; y < h; ++y) {
        const uint8_t* src = FreeImage_GetScanLine(use, int(h - 1 - y));
        SwapRedBlue(src, reinterpret_cast<uint8_t*>(target.Row(int(y))), w, bpp / 8);
    }
    return true;
}

// Memory for the blue-green-red copy an encoder reads. A picture of many
// megabytes is touched once per save, so first-touch page faults are a large
// part of the copy's cost: the last buffer (up to kKeptStagingBytes) is kept
// for the next save, which then writes into memory that is already mapped.
class StagingBuffer {
public:
    explicit StagingBuffer(size_t bytes)
        : data_(new (std::nothrow) uint8_t[bytes]), capacity_(data_ ? bytes : 0) {}
    uint8_t* Data() const { return data_.get(); }
    size_t Capacity() const { return capacity_; }

private:
    std::unique_ptr<uint8_t[]> data_; // left uninitialised: every row is written
    size_t capacity_;
};

constexpr size_t kKeptStagingBytes = size_t(256) << 20;
std::mutex g_stagingMutex;
std::unique_ptr<StagingBuffer> g_spareStaging; // the largest buffer not in use

// A buffer of at least `bytes`: the kept one when it is large enough and no
// other save (another thread) holds it, else a new one.
std::unique_ptr<StagingBuffer> TakeStaging(size_t bytes) {
    {
        std::lock_guard<std::mutex> lock(g_stagingMutex);
        if (g_spareStaging && g_spareStaging->Capacity() >= bytes) return std::move(g_spareStaging);
    }
    return std::make_unique<StagingBuffer>(bytes);
}

void GiveBackStaging(std::unique_ptr<StagingBuffer> buffer) {
    if (!buffer || !buffer->Capacity() || buffer->Capacity() > kKeptStagingBytes) return;
    std::lock_guard<std::mutex> lock(g_stagingMutex);
    if (!g_spareStaging || g_spareStaging->Capacity() < buffer->Capacity())
        g_spareStaging = std::move(buffer);
}

// A 24-bit FreeImage bitmap over `staging` (which must outlive it), filled with
// the image's rows bottom first as FreeImage keeps them.
FIBITMAP* ToFreeImage(const BMP_File& image, StagingBuffer& staging) {
    const int w = image.Width();
    const int h = image.Height();
    const size_t pitch = BmpRowBytes(w);
    uint8_t* bits = staging.Data();
    if (!bits) return nullptr;
    for (int y = 0; y < h; ++y)
        SwapRedBlue(reinterpret_cast<const uint8_t*>(image.Row(y)),
                    bits + size_t(h - 1 - y) * pitch, size_t(w), 3);
    return FreeImage_ConvertFromRawBitsEx(FALSE, bits, FIT_BITMAP, w, h, int(pitch), 24,
                                          FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK,
                                          FALSE);
}

// FreeImage's handle interface over the sink that the save helper hands out.
SaveSink& SinkOf(fi_handle handle) {
    return *static_cast<SaveSink*>(handle);
}
unsigned ReadProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    if (!size) return 0;
    return unsigned(SinkOf(handle).Read(buffer, size_t(size) * count) / size);
}
unsigned WriteProc(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    return SinkOf(handle).Write(buffer, size_t(size) * count) ? count : 0;
}
int SeekProc(fi_handle handle, long offset, int origin) {
    return SinkOf(handle).Seek(offset, origin) ? 0 : -1;
}
long TellProc(fi_handle handle) {
    return long(SinkOf(handle).Tell());
}

// The encoder writes into whatever the save helper chose: a temporary file
// that replaces the target only when complete, or memory that is then written
// into the file itself.
bool SaveWithFreeImage(const std::string& path, FIBITMAP* dib, const FormatInfo& format, int flags,
                       std::string* message) {
    FreeImageIO io{ReadProc, WriteProc, SeekProc, TellProc};
    t_freeImageMessage.clear();
    std::string why;
    if (SaveFileSafely(
            path,
            [&](SaveSink& sink) {
                return FreeImage_SaveToHandle(format.fif, dib, &io, &sink, flags) != FALSE;
            },
            &why))
        return true;
    // An empty reason: the encoder failed and the file system did not.
    SetMessage(message, !why.empty()
                            ? why
                            : WithFreeImageDetail(std::string("Unable to encode the image as ") +
                                                  format.name));
    return false;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, const char* name,
                std::string* message) {
    if (bytes.empty()) {
        SetMessage(message, std::string("Unable to encode the image as ") + name);
        return false;
    }
    std::string why;
    if (SaveFileSafely(path, bytes.data(), bytes.size(), &why)) return true;
    SetMessage(message, why);
    return false;
}

bool LoadBmp(const std::string& path, BMP_File& target, std::string* message) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file,
                       uint64_t(BMP_File::kMaxPixels) * 4 + uint64_t(BMP_File::kMaxSide) * 4 +
                           65536)) {
        SetMessage(message, "Cannot open file \"" + path + "\"");
        return false;
    }
    BMP_File image;
    if (image.DecodeBMP(file)) {
        // Our reader takes the rows bottom-up whatever the header says; a
        // negative height means the file stores the top row first.
        const int32_t biHeight = int32_t(uint32_t(file[22]) | (uint32_t(file[23]) << 8) |
                                         (uint32_t(file[24]) << 16) | (uint32_t(file[25]) << 24));
        if (biHeight < 0) {
            const size_t rowBytes = size_t(image.Width()) * 3;
            std::vector<uint8_t> row(rowBytes);
            for (int y = 0, z = image.Height() - 1; y < z; ++y, --z) {
                std::memcpy(row.data(), image.Row(y), rowBytes);
                std::memcpy(image.Row(y), image.Row(z), rowBytes);
                std::memcpy(image.Row(z), row.data(), rowBytes);
            }
        }
        target = std::move(image);
        return true;
    }
    // Other BMP kinds (palettes, 16 and 32 bits, run-length compression) are
    // still BMP files; FreeImage reads them from the bytes we already have.
    InitFreeImageOnce();
    bool ok = false;
    if (FIMEMORY* mem = FreeImage_OpenMemory(file.data(), DWORD(file.size()))) {
        if (FreeImage_GetFileTypeFromMemory(mem, 0) == FIF_BMP) {
            Dib dib(FreeImage_LoadFromMemory(FIF_BMP, mem, 0));
            ok = dib && FromFreeImage(dib.p, target, message);
            if (!dib) SetMessage(message, "Unable to decode the BMP file");
        } else {
            SetMessage(message, "Unable to decode the BMP file");
        }
        FreeImage_CloseMemory(mem);
    }
    return ok;
}

bool LoadIco(const std::string& path, BMP_File& target, std::string* message) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file, CIcon::kMaxFileBytes)) {
        SetMessage(message, "Cannot open file \"" + path + "\"");
        return false;
    }
    std::string why;
    if (!DecodeIcon(file, target, &why)) {
        SetMessage(message, "Unable to read the icon file: " + why);
        return false;
    }
    return true;
}

bool LoadWithFreeImage(const std::string& path, const FormatInfo& format, BMP_File& target,
                       std::string* message) {
    InitFreeImageOnce();
    // These formats have always given one message for every failure.
    const bool badFormatMessage = format.fif == FIF_TIFF || format.fif == FIF_TARGA ||
                                  format.fif == FIF_PSD || format.fif == FIF_PCD;
    if (!badFormatMessage && ::access(path.c_str(), R_OK) != 0) {
        SetMessage(message, "Cannot open file \"" + path + "\"");
        return false;
    }
    // The content decides the decoder; PhotoCD and some TARGA files carry no
    // signature, so the extension is the fallback.
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = format.fif;
    Dib dib;
    t_freeImageMessage.clear();
    if (FreeImage_FIFSupportsReading(fif)) dib.Reset(FreeImage_Load(fif, path.c_str(), 0));
    if (!dib) {
        SetMessage(message, badFormatMessage
                                ? std::string("Unable load file (bad format)")
                                : WithFreeImageDetail(std::string("Unable to decode the ") +
                                                      format.name + " file"));
        return false;
    }
    return FromFreeImage(dib.p, target, message);
}

} // namespace

void InitFreeImageOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(OnFreeImageMessage);
    });
}

bool IsLoadableStillImage(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    return ext == "ico" || FindFormat(ext) != nullptr;
}

bool IsSavableStillImage(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    return ext == "png" || ext == "jpg" || ext == "gif" || ext == "bmp" || ext == "tif" ||
           ext == "tga" || ext == "ico";
}

bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message) {
    const std::string ext = ExtensionOf(path);
    if (ext == "bmp") return LoadBmp(path, target, message);
    if (ext == "ico") return LoadIco(path, target, message);
    if (const FormatInfo* format = FindFormat(ext))
        return LoadWithFreeImage(path, *format, target, message);
    SetMessage(message, "Unknown File Format!");
    return false;
}

bool SaveImageFile(const std::string& path, const BMP_File& image, std::string* message) {
    if (!IsSavableStillImage(path)) {
        SetMessage(message, "Unknown File Format!");
        return false;
    }
    if (image.Empty()) {
        SetMessage(message, "There is no image to save");
        return false;
    }
    const std::string ext = ExtensionOf(path);
    if (ext == "bmp") return WriteBytes(path, image.EncodeBMP(), "BMP", message);
    if (ext == "ico") return WriteBytes(path, EncodeIcon(image), "icon", message);

    InitFreeImageOnce();
    const FormatInfo& format = *FindFormat(ext);
    std::unique_ptr<StagingBuffer> staging =
        TakeStaging(BmpRowBytes(image.Width()) * size_t(image.Height()));
    // The bitmap only borrows the staging memory: unload it first.
    struct Release {
        std::unique_ptr<StagingBuffer>& buffer;
        ~Release() { GiveBackStaging(std::move(buffer)); }
    } release{staging};
    Dib dib(ToFreeImage(image, *staging));
    if (!dib) {
        SetMessage(message, "Not enough memory to save the image");
        return false;
    }
    int flags = 0;
    switch (format.fif) {
    case FIF_PNG:
        flags = PNG_DEFAULT;
        break;
    case FIF_JPEG:
        flags = JPEG_DEFAULT;
        break;
    case FIF_TIFF:
        flags = TIFF_DEFAULT;
        break;
    case FIF_TARGA:
        flags = TARGA_DEFAULT;
        break;
    case FIF_GIF:
        // GIF holds a palette of at most 256 colours.
        dib.Reset(FreeImage_ColorQuantize(dib.p, FIQ_WUQUANT));
        if (!dib) {
            SetMessage(message, "Unable to reduce the image to 256 colours");
            return false;
        }
        flags = GIF_DEFAULT;
        break;
    default:
        break;
    }
    return SaveWithFreeImage(path, dib.p, format, flags, message);
}
