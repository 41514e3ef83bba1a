#include "app/image_files.h"

#include "app/file_util.h"
#include "app/icon.h"
#include "app/jpeg_file.h"
#include "app/png_file.h"
#include "app/safe_save.h"
#include "app/swap_red_blue.h"
#include "app/tiff_file.h"

#include <FreeImage.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <unistd.h>

namespace {

// What FreeImage and the codec libraries beneath it said during the current
// load or save. Their handlers are process-wide and pictures load on several
// threads at once, so each thread keeps its own: a failure then names its own
// reason, never another thread's. Nothing of this reaches standard error.
struct CodecMessages {
    std::string freeImage; // FreeImage's last message
    std::string library;   // the last error of the codec library (libtiff)

    void clear() {
        freeImage.clear();
        library.clear();
    }
    bool empty() const { return freeImage.empty() && library.empty(); }
    // FreeImage's words first, then the library's more specific ones.
    std::string Text() const {
        if (freeImage.empty() || library == freeImage) return library;
        if (library.empty()) return freeImage;
        return freeImage + ": " + library;
    }
};
thread_local CodecMessages t_freeImageMessage;

void OnFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
    t_freeImageMessage.freeImage = message ? message : "";
}

// FreeImage reads TIFF through the system's libtiff, whose own handlers write
// every warning and error to standard error: dozens of lines for a file with
// private tags, which would bury pellorin-cli's one line per failed input.
// Warnings say nothing about the result and are dropped; an error is kept as
// the reason for a failure.
using TiffMessageHandler = void (*)(const char*, const char*, va_list);

void OnTiffWarning(const char*, const char*, va_list) {}

void OnTiffError(const char* module, const char* format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    std::string& out = t_freeImageMessage.library;
    out = module && *module ? std::string(module) + ": " + text : std::string(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '.')) out.pop_back();
}

// libtiff is a library of FreeImage's, not ours: its handlers are found by name
// in the process. A FreeImage built with its own hidden copy keeps that copy's
// handlers.
void RouteTiffMessages() {
    using SetHandler = TiffMessageHandler (*)(TiffMessageHandler);
    if (void* set = ::dlsym(RTLD_DEFAULT, "TIFFSetWarningHandler"))
        reinterpret_cast<SetHandler>(set)(OnTiffWarning);
    if (void* set = ::dlsym(RTLD_DEFAULT, "TIFFSetErrorHandler"))
        reinterpret_cast<SetHandler>(set)(OnTiffError);
}

void SetMessage(std::string* message, std::string text) {
    if (message) *message = std::move(text);
}

// Appends FreeImage's own explanation, when it gave one for this call.
std::string WithFreeImageDetail(std::string text) {
    if (!t_freeImageMessage.empty()) text += " (" + t_freeImageMessage.Text() + ")";
    return text;
}

// What a failed load reports: the text for the user and the decoder's reason.
struct LoadFailure {
    std::string* message;
    std::string* reason;

    bool Fail(std::string text, std::string why) const {
        SetMessage(message, std::move(text));
        SetMessage(reason, std::move(why));
        return false;
    }
};

// Megapixels for messages, rounded up to a hundredth so that a picture just
// over the limit never reads as equal to it.
std::string Megapixels(uint64_t pixels) {
    const uint64_t hundredths = (pixels + 9999) / 10000;
    std::string text = std::to_string(hundredths / 100);
    if (const uint64_t frac = hundredths % 100) {
        text += '.';
        text += char('0' + frac / 10);
        if (frac % 10) text += char('0' + frac % 10);
    }
    return text;
}

// The same as a sentence of its own.
std::string PictureTooLargeMessage(uint64_t width, uint64_t height) {
    std::string text = PictureTooLargeText(width, height);
    text[0] = 'T';
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

// Sample types with more than 8 bits keep their meaning across pictures: the
// same sample value gives the same byte in every file, never a stretch between
// one picture's darkest and brightest values.

// 16 and 32-bit unsigned grey: the top byte, as 16-bit colour files give.
template <class T, int Shift> void GreyTopByteRow(const BYTE* src, CColor24* dst, unsigned w) {
    const T* in = reinterpret_cast<const T*>(src);
    for (unsigned x = 0; x < w; ++x) {
        const uint8_t v = uint8_t(in[x] >> Shift);
        dst[x] = CColor24(v, v, v);
    }
}

// Floating point samples are 0 for black and 1 for full intensity (what
// FreeImage and the file formats that carry them use); values beyond are
// clipped and NaN is black.
uint8_t UnitToByte(double v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return uint8_t(v * 255 + 0.5);
}

template <class T> void GreyUnitRow(const BYTE* src, CColor24* dst, unsigned w) {
    const T* in = reinterpret_cast<const T*>(src);
    for (unsigned x = 0; x < w; ++x) {
        const uint8_t v = UnitToByte(in[x]);
        dst[x] = CColor24(v, v, v);
    }
}

template <class Pixel> void ColourUnitRow(const BYTE* src, CColor24* dst, unsigned w) {
    const Pixel* in = reinterpret_cast<const Pixel*>(src);
    for (unsigned x = 0; x < w; ++x)
        dst[x] = CColor24(UnitToByte(in[x].red), UnitToByte(in[x].green), UnitToByte(in[x].blue));
}

// Copies a decoded FreeImage bitmap into a 24-bit image. 24-bit and 32-bit
// bitmaps are read directly (alpha dropped); other bitmaps and 16-bit colour go
// through FreeImage's 24-bit conversion (16-bit samples divided by 256); grey
// and floating point samples have their own rows above. Signed and complex
// samples have no picture meaning and are refused with failText.
bool FromFreeImage(FIBITMAP* dib, BMP_File& target, const LoadFailure& failure,
                   const std::string& failText) {
    using RowFn = void (*)(const BYTE*, CColor24*, unsigned);
    RowFn row = nullptr;
    Dib converted;
    FIBITMAP* use = dib;
    switch (FreeImage_GetImageType(dib)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
        if (FreeImage_GetImageType(dib) != FIT_BITMAP ||
            (FreeImage_GetBPP(dib) != 24 && FreeImage_GetBPP(dib) != 32)) {
            converted.Reset(FreeImage_ConvertTo24Bits(dib));
            if (!converted)
                return failure.Fail(failText, "FreeImage cannot convert the picture to 24 bits");
            use = converted.p;
        }
        break;
    case FIT_UINT16:
        row = GreyTopByteRow<uint16_t, 8>;
        break;
    case FIT_UINT32:
        row = GreyTopByteRow<uint32_t, 24>;
        break;
    case FIT_FLOAT:
        row = GreyUnitRow<float>;
        break;
    case FIT_DOUBLE:
        row = GreyUnitRow<double>;
        break;
    case FIT_RGBF:
        row = ColourUnitRow<FIRGBF>;
        break;
    case FIT_RGBAF:
        row = ColourUnitRow<FIRGBAF>;
        break;
    default:
        return failure.Fail(failText, "signed or complex samples are not supported");
    }
    const unsigned w = FreeImage_GetWidth(use);
    const unsigned h = FreeImage_GetHeight(use);
    if (!BMP_File::SizeAllowed(w, h)) return failure.Fail(PictureTooLargeMessage(w, h), "");
    // Decoding is done and nothing below can fail, so the pixels may go
    // straight into the target. Loading the next picture of a folder usually
    // finds a target of the same size, whose memory is reused as it is.
    if (target.Width() != int(w) || target.Height() != int(h) || target.Empty()) {
        BMP_File fresh;
        if (!fresh.CreateUninitialized(int(w), int(h)))
            return failure.Fail("Not enough memory to load the picture", "");
        target = std::move(fresh);
    }
    target.SparePixel() = CColor24();
    // FreeImage keeps the bottom row first.
    const unsigned step = FreeImage_GetBPP(use) / 8;
    for (unsigned y = 0; y < h; ++y) {
        const BYTE* src = FreeImage_GetScanLine(use, int(h - 1 - y));
        if (row)
            row(src, target.Row(int(y)), w);
        else
            SwapRedBlue(src, reinterpret_cast<uint8_t*>(target.Row(int(y))), w, step);
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

// FreeImage's handle interface over a growing vector in memory.
struct VectorSink {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    bool failed = false;
};
VectorSink& VectorOf(fi_handle handle) {
    return *static_cast<VectorSink*>(handle);
}
unsigned VectorRead(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    VectorSink& v = VectorOf(handle);
    if (!size || v.pos >= v.bytes.size()) return 0;
    const size_t n = std::min(size_t(count), (v.bytes.size() - v.pos) / size);
    std::memcpy(buffer, v.bytes.data() + v.pos, n * size);
    v.pos += n * size;
    return unsigned(n);
}
unsigned VectorWrite(void* buffer, unsigned size, unsigned count, fi_handle handle) {
    VectorSink& v = VectorOf(handle);
    const size_t n = size_t(size) * count;
    try {
        if (v.pos + n > v.bytes.size()) v.bytes.resize(v.pos + n);
    } catch (const std::bad_alloc&) {
        v.failed = true;
        return 0;
    }
    if (n) std::memcpy(v.bytes.data() + v.pos, buffer, n);
    v.pos += n;
    return count;
}
int VectorSeek(fi_handle handle, long offset, int origin) {
    VectorSink& v = VectorOf(handle);
    const int64_t base = origin == SEEK_SET   ? 0
                         : origin == SEEK_CUR ? int64_t(v.pos)
                                              : int64_t(v.bytes.size());
    if (base + offset < 0) return -1;
    v.pos = size_t(base + offset);
    return 0;
}
long VectorTell(fi_handle handle) {
    return long(VectorOf(handle).pos);
}

// The metadata goes into the encoded bytes in memory, so that the file is still
// written once, by the one safe save, and never rewritten afterwards.
bool SaveWithMetadata(const std::string& path, FIBITMAP* dib, const FormatInfo& format, int flags,
                      const BMP_File& image, const SaveOptions& options, std::string* message) {
    t_freeImageMessage.clear();
    // Encoded straight into memory that is reserved for a well-compressed
    // picture of this size; only pages that are written cost anything.
    VectorSink sink;
    sink.bytes.reserve(BmpRowBytes(image.Width()) * size_t(image.Height()) / 2 + 65536);
    FreeImageIO io{VectorRead, VectorWrite, VectorSeek, VectorTell};
    if (!FreeImage_SaveToHandle(format.fif, dib, &io, &sink, flags) || sink.failed)
        sink.bytes.clear();
    std::vector<uint8_t>& bytes = sink.bytes;
    if (bytes.empty()) {
        SetMessage(message, WithFreeImageDetail(std::string("Unable to encode the image as ") +
                                                format.name));
        return false;
    }
    WriteMetadataInto(bytes, options.metadata, image.Width(), image.Height(), options.warning);
    std::string why;
    if (SaveFileSafely(path, bytes.data(), bytes.size(), &why)) return true;
    SetMessage(message, why);
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

// JPEG, PNG and TIFF go to their libraries directly, which read our rows as they
// are: no second full-size picture is made for the encoder.
struct DirectEncoder {
    const char* name;
    bool (*toSink)(const BMP_File&, SaveSink&, std::string&);
    bool (*toBytes)(const BMP_File&, std::vector<uint8_t>&, std::string&);
};

bool SaveDirect(const std::string& path, const BMP_File& image, const SaveOptions& options,
                const DirectEncoder& encoder, std::string* message) {
    // libtiff's messages go where FreeImage's setup routes them, never to
    // standard error.
    InitFreeImageOnce();
    std::string why;
    auto encodeFailed = [&] {
        std::string text = std::string("Unable to encode the image as ") + encoder.name;
        if (!why.empty()) text += " (" + why + ")";
        SetMessage(message, text);
        return false;
    };
    if (options.strip) {
        std::string saveWhy;
        if (SaveFileSafely(
                path, [&](SaveSink& sink) { return encoder.toSink(image, sink, why); }, &saveWhy))
            return true;
        // An empty reason: the encoder failed and the file system did not.
        if (saveWhy.empty()) return encodeFailed();
        SetMessage(message, saveWhy);
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!encoder.toBytes(image, bytes, why)) return encodeFailed();
    WriteMetadataInto(bytes, options.metadata, image.Width(), image.Height(), options.warning);
    std::string saveWhy;
    if (SaveFileSafely(path, bytes.data(), bytes.size(), &saveWhy)) return true;
    SetMessage(message, saveWhy);
    return false;
}

const DirectEncoder kJpegEncoder{
    "JPEG", [](const BMP_File& i, SaveSink& s, std::string& w) { return EncodeJpeg(i, s, w); },
    [](const BMP_File& i, std::vector<uint8_t>& b, std::string& w) { return EncodeJpeg(i, b, w); }};
const DirectEncoder kTiffEncoder{
    "TIFF", [](const BMP_File& i, SaveSink& s, std::string& w) { return EncodeTiff(i, s, w); },
    [](const BMP_File& i, std::vector<uint8_t>& b, std::string& w) { return EncodeTiff(i, b, w); }};
const DirectEncoder kPngEncoder{
    "PNG", [](const BMP_File& i, SaveSink& s, std::string& w) { return EncodePng(i, s, w); },
    [](const BMP_File& i, std::vector<uint8_t>& b, std::string& w) { return EncodePng(i, b, w); }};

// Where FreeImage reads a file from: its path, or its bytes already in memory.
struct Source {
    const std::string* path = nullptr;
    FIMEMORY* memory = nullptr;
};

FIBITMAP* LoadFrom(FREE_IMAGE_FORMAT fif, const Source& source, int flags) {
    if (source.memory) {
        FreeImage_SeekMemory(source.memory, 0, SEEK_SET);
        return FreeImage_LoadFromMemory(fif, source.memory, flags);
    }
    return FreeImage_Load(fif, source.path->c_str(), flags);
}

// The size of a GIF file's first frame, which is what FreeImage decodes (at
// the frame's own size; the logical screen around it costs nothing).
bool GifFirstFrameSize(const std::string& path, uint64_t& w, uint64_t& h) {
    std::unique_ptr<FILE, int (*)(FILE*)> fp(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!fp) return false;
    uint8_t head[13];
    if (std::fread(head, 1, sizeof head, fp.get()) != sizeof head ||
        std::memcmp(head, "GIF", 3) != 0)
        return false;
    if ((head[10] & 0x80) && std::fseek(fp.get(), 3L << ((head[10] & 7) + 1), SEEK_CUR) != 0)
        return false;
    for (;;) {
        const int block = std::fgetc(fp.get());
        if (block == 0x2C) {
            uint8_t d[9];
            if (std::fread(d, 1, sizeof d, fp.get()) != sizeof d) return false;
            w = uint64_t(d[4]) | (uint64_t(d[5]) << 8);
            h = uint64_t(d[6]) | (uint64_t(d[7]) << 8);
            return true;
        }
        // Anything but an extension here (the trailer, the end of the file)
        // means there is no frame to decode.
        if (block != 0x21 || std::fgetc(fp.get()) == EOF) return false;
        int n;
        while ((n = std::fgetc(fp.get())) > 0)
            if (std::fseek(fp.get(), n, SEEK_CUR) != 0) return false;
        if (n == EOF) return false;
    }
}

// Decodes a picture only after reading the size it claims: a small file that
// claims a huge picture is refused before anything of that size is allocated.
// Formats whose size cannot be read on its own are not decoded at all. On
// failure the result is empty and tooLarge says whether the size was the
// reason; otherwise the decoders' messages say why.
FIBITMAP* DecodeWithinLimit(FREE_IMAGE_FORMAT fif, const Source& source, bool& tooLarge,
                            std::string& why) {
    tooLarge = false;
    uint64_t w = 0, h = 0;
    if (fif == FIF_GIF && source.path) {
        if (!GifFirstFrameSize(*source.path, w, h)) {
            why = "the GIF file has no picture";
            return nullptr;
        }
    } else if (FreeImage_FIFSupportsNoPixels(fif)) {
        Dib header(LoadFrom(fif, source, FIF_LOAD_NOPIXELS));
        if (!header) {
            why = t_freeImageMessage.Text();
            return nullptr;
        }
        w = FreeImage_GetWidth(header.p);
        h = FreeImage_GetHeight(header.p);
    } else {
        const char* name = FreeImage_GetFormatFromFIF(fif);
        why = std::string("the size of a ") + (name ? name : "such") +
              " picture cannot be read before it is decoded";
        return nullptr;
    }
    if (!BMP_File::SizeAllowed(int64_t(w), int64_t(h))) {
        tooLarge = true;
        why = PictureTooLargeMessage(w, h);
        return nullptr;
    }
    t_freeImageMessage.clear();
    FIBITMAP* dib = LoadFrom(fif, source, 0);
    if (!dib) why = t_freeImageMessage.Text();
    return dib;
}

bool LoadBmp(const std::string& path, BMP_File& target, const LoadFailure& failure) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file,
                       uint64_t(BMP_File::MaxPixels()) * 4 + uint64_t(BMP_File::kMaxSide) * 4 +
                           65536))
        return failure.Fail("Cannot open file \"" + path + "\"", "");
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
    // Run-length rows inflate, so the header's size is checked first.
    InitFreeImageOnce();
    t_freeImageMessage.clear();
    const std::string failText = "Unable to decode the BMP file";
    // FreeImage's memory streams count their bytes in 32 bits.
    FIMEMORY* mem =
        file.size() <= UINT32_MAX ? FreeImage_OpenMemory(file.data(), DWORD(file.size())) : nullptr;
    if (!mem) return failure.Fail(failText, "");
    bool ok = false;
    if (FreeImage_GetFileTypeFromMemory(mem, 0) == FIF_BMP) {
        bool tooLarge = false;
        std::string why;
        Dib dib(DecodeWithinLimit(FIF_BMP, Source{nullptr, mem}, tooLarge, why));
        if (dib)
            ok = FromFreeImage(dib.p, target, failure, failText);
        else if (tooLarge)
            failure.Fail(why, "");
        else
            failure.Fail(failText, why);
    } else {
        failure.Fail(failText, "");
    }
    FreeImage_CloseMemory(mem);
    return ok;
}

bool LoadIco(const std::string& path, BMP_File& target, const LoadFailure& failure) {
    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file, CIcon::kMaxFileBytes))
        return failure.Fail("Cannot open file \"" + path + "\"", "");
    InitFreeImageOnce(); // an icon image may be a PNG stream
    t_freeImageMessage.clear();
    std::string why;
    if (!DecodeIcon(file, target, &why))
        return failure.Fail("Unable to read the icon file: " + why, t_freeImageMessage.Text());
    return true;
}

// JPEG goes to libjpeg directly: the rows land in the picture's own pixels.
bool LoadJpeg(const std::string& path, BMP_File& target, const LoadFailure& failure,
              const std::string& failText) {
    std::string why;
    switch (LoadJpegFile(path, target, why)) {
    case JpegLoadResult::Loaded:
        return true;
    case JpegLoadResult::TooLarge:
        return failure.Fail(why, "");
    case JpegLoadResult::NoMemory:
        return failure.Fail("Not enough memory to load the picture", "");
    case JpegLoadResult::Failed:
        break;
    }
    return failure.Fail(failText, why);
}

bool LoadWithFreeImage(const std::string& path, const FormatInfo& format, BMP_File& target,
                       const LoadFailure& failure, bool direct = true) {
    InitFreeImageOnce();
    t_freeImageMessage.clear();
    // These formats have always given one message for every failure.
    const bool badFormatMessage = format.fif == FIF_TIFF || format.fif == FIF_TARGA ||
                                  format.fif == FIF_PSD || format.fif == FIF_PCD;
    const std::string failText = badFormatMessage
                                     ? std::string("Unable load file (bad format)")
                                     : std::string("Unable to decode the ") + format.name + " file";
    if (!badFormatMessage && ::access(path.c_str(), R_OK) != 0) {
        const int err = errno;
        return failure.Fail("Cannot open file \"" + path + "\"", std::strerror(err));
    }
    // The content decides the decoder; PhotoCD and some TARGA files carry no
    // signature, so the extension is the fallback.
    FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
    if (fif == FIF_UNKNOWN) fif = format.fif;
    if (direct && fif == FIF_JPEG) return LoadJpeg(path, target, failure, failText);
    if (direct && fif == FIF_TIFF) {
        switch (LoadTiffFile(path, target)) {
        case TiffLoadResult::Loaded:
            return true;
        case TiffLoadResult::NoMemory:
            return failure.Fail("Not enough memory to load the picture", "");
        case TiffLoadResult::Unhandled:
            // FreeImage reads it and says what it thinks of it, without the
            // library's words about this attempt.
            t_freeImageMessage.clear();
            break;
        }
    }
    if (direct && fif == FIF_PNG) {
        std::string why;
        switch (LoadPngFile(path, target, why)) {
        case PngLoadResult::Loaded:
            return true;
        case PngLoadResult::TooLarge:
            return failure.Fail(why, "");
        case PngLoadResult::NoMemory:
            return failure.Fail("Not enough memory to load the picture", "");
        case PngLoadResult::Failed:
            return failure.Fail(failText, why);
        case PngLoadResult::Unhandled:
            break;
        }
    }
    if (!FreeImage_FIFSupportsReading(fif)) return failure.Fail(failText, "");
    bool tooLarge = false;
    std::string why;
    Dib dib(DecodeWithinLimit(fif, Source{&path, nullptr}, tooLarge, why));
    if (!dib) return tooLarge ? failure.Fail(why, "") : failure.Fail(failText, why);
    return FromFreeImage(dib.p, target, failure, failText);
}

} // namespace

void InitFreeImageOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        FreeImage_Initialise(FALSE);
        FreeImage_SetOutputMessage(OnFreeImageMessage);
        RouteTiffMessages();
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

std::string PictureTooLargeText(uint64_t width, uint64_t height) {
    const int64_t limit = BMP_File::MaxPixels();
    std::string text = "the picture is too large (" + std::to_string(width) + " x " +
                       std::to_string(height) + " pixels";
    if (width > uint64_t(BMP_File::kMaxSide) || height > uint64_t(BMP_File::kMaxSide))
        return text + "; the limit is " + std::to_string(BMP_File::kMaxSide) + " pixels a side)";
    return text + ", " + Megapixels(width * height) + " megapixels; the limit is " +
           Megapixels(uint64_t(limit)) + " megapixels)";
}

bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message,
                   std::string* reason) {
    return LoadImageFile(path, target, message, reason, LoadOptions{});
}

bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message,
                   std::string* reason, const LoadOptions& options) {
    SetMessage(reason, "");
    SetMessage(options.warning, "");
    if (options.metadata) *options.metadata = ImageMetadata();
    const LoadFailure failure{message, reason};
    const std::string ext = ExtensionOf(path);
    if (ext == "bmp") return LoadBmp(path, target, failure);
    if (ext == "ico") return LoadIco(path, target, failure);
    const FormatInfo* format = FindFormat(ext);
    if (!format) return failure.Fail("Unknown File Format!", "");
    // BMP, GIF, TARGA and PhotoCD files carry nothing that is read here.
    ImageMetadata metadata;
    std::string warning;
    if (ext == "jpg" || ext == "png" || ext == "tif" || ext == "psd")
        metadata = ReadImageMetadata(path, &warning);
    if (!options.applyOrientation || metadata.Orientation() == 1) {
        if (!LoadWithFreeImage(path, *format, target, failure)) return false;
    } else {
        // Decoded into a picture of its own, so that a failure to turn it
        // upright leaves the target as it was.
        BMP_File decoded;
        if (!LoadWithFreeImage(path, *format, decoded, failure)) return false;
        if (!ApplyOrientation(decoded, metadata.Orientation()))
            return failure.Fail("Not enough memory to load the picture", "");
        metadata.SetOrientationApplied(true);
        target = std::move(decoded);
    }
    SetMessage(options.warning, std::move(warning));
    if (options.metadata) *options.metadata = std::move(metadata);
    return true;
}

bool LoadImageFileThroughFreeImage(const std::string& path, BMP_File& target, std::string* message,
                                   std::string* reason) {
    SetMessage(reason, "");
    const LoadFailure failure{message, reason};
    const FormatInfo* format = FindFormat(ExtensionOf(path));
    if (!format) return failure.Fail("Unknown File Format!", "");
    return LoadWithFreeImage(path, *format, target, failure, false);
}

bool SaveImageFile(const std::string& path, const BMP_File& image, std::string* message) {
    return SaveImageFile(path, image, message, SaveOptions{});
}

bool SaveImageFile(const std::string& path, const BMP_File& image, std::string* message,
                   const SaveOptions& options) {
    SetMessage(options.warning, "");
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

    if (ext == "jpg") return SaveDirect(path, image, options, kJpegEncoder, message);
    if (ext == "png") return SaveDirect(path, image, options, kPngEncoder, message);
    if (ext == "tif") return SaveDirect(path, image, options, kTiffEncoder, message);

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
    if (options.strip || !ExtensionCarriesMetadata(ext))
        return SaveWithFreeImage(path, dib.p, format, flags, message);
    return SaveWithMetadata(path, dib.p, format, flags, image, options, message);
}
