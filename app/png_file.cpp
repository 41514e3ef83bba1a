#include "app/png_file.h"

#include "app/image_files.h"
#include "app/safe_save.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <png.h>

namespace {

// libpng reports a fatal error through the error function, which must not
// return: it jumps back to the setjmp of the call that started the work.
// Warnings are dropped: nothing goes to standard error.
struct Messages {
    std::string error;
};

void OnError(png_structp png, png_const_charp message) {
    if (auto* m = static_cast<Messages*>(png_get_error_ptr(png))) {
        try {
            m->error = message ? message : "";
        } catch (...) {
        }
    }
    png_longjmp(png, 1);
}
void OnWarning(png_structp, png_const_charp) {}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

// Everything that the decoding keeps across a jump back lives here, made
// before the jump point, so that no destructor is skipped.
struct DecodeState {
    Messages messages;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::unique_ptr<FILE, FileCloser> file;
    BMP_File fresh;
    std::unique_ptr<png_bytep[]> rows;
    ~DecodeState() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

PngLoadResult Decode(DecodeState& s, std::string& why) {
    if (setjmp(png_jmpbuf(s.png))) {
        why = s.messages.error;
        return PngLoadResult::Failed;
    }
    png_init_io(s.png, s.file.get());
    png_read_info(s.png, s.info);
    png_uint_32 w = 0, h = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(s.png, s.info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    if (!BMP_File::SizeAllowed(int64_t(w), int64_t(h))) {
        why = PictureTooLargeText(w, h);
        why[0] = 'T';
        return PngLoadResult::TooLarge;
    }
    // Every kind becomes 8-bit red, green, blue: palettes and low grey depths
    // expand, 16-bit samples keep their top byte, alpha is dropped, and
    // transparency is ignored (the colours stay as stored).
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(s.png);
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(s.png);
    if (depth == 16) png_set_strip_16(s.png);
    if ((colour & PNG_COLOR_MASK_ALPHA) || png_get_valid(s.png, s.info, PNG_INFO_tRNS))
        png_set_strip_alpha(s.png);
    if (!(colour & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(s.png);
    // A file gamma is corrected for a display of 2.2, as FreeImage did. With
    // 16-bit samples FreeImage corrected them at 16 bits and then took the top
    // byte, which libpng's reduction rounds differently: those files stay
    // with FreeImage.
    if (double gamma = 0; png_get_gAMA(s.png, s.info, &gamma)) {
        if (depth == 16) return PngLoadResult::Unhandled;
        png_set_gamma(s.png, 2.2, gamma);
    }
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_channels(s.png, s.info) != 3 || png_get_bit_depth(s.png, s.info) != 8 ||
        png_get_rowbytes(s.png, s.info) != size_t(w) * 3)
        return PngLoadResult::Unhandled;
    if (!s.fresh.CreateUninitialized(int(w), int(h))) return PngLoadResult::NoMemory;
    s.rows.reset(new (std::nothrow) png_bytep[h ? h : 1]);
    if (!s.rows) return PngLoadResult::NoMemory;
    for (png_uint_32 y = 0; y < h; ++y)
        s.rows[y] = reinterpret_cast<png_bytep>(s.fresh.Row(int(y)));
    png_read_image(s.png, s.rows.get());
    png_read_end(s.png, nullptr);
    return PngLoadResult::Loaded;
}

// Where the encoder's bytes go.
struct Output {
    std::vector<uint8_t>* bytes = nullptr;
    SaveSink* sink = nullptr;
};

void WriteBytes(png_structp png, png_bytep data, size_t size) {
    Output& out = *static_cast<Output*>(png_get_io_ptr(png));
    if (out.bytes) {
        try {
            out.bytes->insert(out.bytes->end(), data, data + size);
        } catch (const std::bad_alloc&) {
            png_error(png, "not enough memory for the encoded picture");
        }
    } else if (!out.sink->Write(data, size)) {
        png_error(png, "the file could not be written");
    }
}
void Flush(png_structp) {}

struct EncodeState {
    Messages messages;
    png_structp png = nullptr;
    png_infop info = nullptr;
    Output output;
    ~EncodeState() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

bool Encode(EncodeState& s, const BMP_File& image, std::string& why) {
    if (setjmp(png_jmpbuf(s.png))) {
        why = s.messages.error;
        return false;
    }
    png_set_write_fn(s.png, &s.output, WriteBytes, Flush);
    // The filters FreeImage's files were made with: libpng chooses among
    // these for each row.
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE,
                   PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH);
    png_set_IHDR(s.png, s.info, png_uint_32(image.Width()), png_uint_32(image.Height()), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    // What FreeImage wrote for a picture of ours: 72 dots per inch.
    png_set_pHYs(s.png, s.info, 2835, 2835, PNG_RESOLUTION_METER);
    png_write_info(s.png, s.info);
    for (int y = 0; y < image.Height(); ++y)
        png_write_row(s.png, reinterpret_cast<png_const_bytep>(image.Row(y)));
    png_write_end(s.png, s.info);
    return true;
}

bool EncodeTo(const BMP_File& image, std::vector<uint8_t>* bytes, SaveSink* sink,
              std::string& why) {
    if (image.Empty()) {
        why = "there is no picture to encode";
        return false;
    }
    EncodeState s;
    s.output.bytes = bytes;
    s.output.sink = sink;
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.messages, OnError, OnWarning);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (!s.png || !s.info) {
        why = "not enough memory";
        return false;
    }
    return Encode(s, image, why);
}

} // namespace

bool LooksLikePng(const uint8_t* bytes, size_t size) {
    return size >= 8 && png_sig_cmp(bytes, 0, 8) == 0;
}

PngLoadResult LoadPngFile(const std::string& path, BMP_File& image, std::string& why) {
    why.clear();
    DecodeState s;
    s.file.reset(std::fopen(path.c_str(), "rb"));
    if (!s.file) {
        why = std::strerror(errno);
        return PngLoadResult::Failed;
    }
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.messages, OnError, OnWarning);
    if (s.png) s.info = png_create_info_struct(s.png);
    if (!s.png || !s.info) return PngLoadResult::NoMemory;
    const PngLoadResult result = Decode(s, why);
    if (result == PngLoadResult::Loaded) image = std::move(s.fresh);
    return result;
}

bool EncodePng(const BMP_File& image, std::vector<uint8_t>& out, std::string& why) {
    out.clear();
    if (EncodeTo(image, &out, nullptr, why)) return true;
    out.clear();
    return false;
}

bool EncodePng(const BMP_File& image, SaveSink& sink, std::string& why) {
    return EncodeTo(image, nullptr, &sink, why);
}
