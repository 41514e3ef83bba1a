#include "app/jpeg_file.h"

#include "app/image_files.h"
#include "app/safe_save.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// libjpeg reports a fatal error by calling error_exit, which jumps back to the
// setjmp of the call that started the work. Warnings (damaged data the decoder
// gets past) are dropped: nothing goes to standard error.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void OnError(j_common_ptr cinfo) {
    // An unknown marker (often a damaged byte in the data) is passed over and
    // the decoder reads on, as FreeImage let it: such files have always
    // loaded. Returning here is what the marker reader expects of a handler
    // that lets it go on.
    if (cinfo->is_decompressor && cinfo->err->msg_code == JERR_UNKNOWN_MARKER) return;
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void OnMessage(j_common_ptr) {}

void InitErrors(ErrorManager& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnError;
    errors.pub.output_message = OnMessage;
}

std::string MessageOf(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX] = {};
    cinfo->err->format_message(cinfo, text);
    return text;
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

// Adobe's CMYK files (the usual kind) store inverted inks, so each channel
// times black over 255 is the colour, truncated as FreeImage did.
void CmykRowToRgb(const uint8_t* cmyk, CColor24* out, unsigned width) {
    for (unsigned x = 0; x < width; ++x, cmyk += 4) {
        const unsigned k = cmyk[3];
        out[x] = CColor24(uint8_t(cmyk[0] * k / 255), uint8_t(cmyk[1] * k / 255),
                          uint8_t(cmyk[2] * k / 255));
    }
}

// Everything that the decoding keeps across a jump back lives here, made
// before the jump point, so that no destructor is skipped.
struct DecodeState {
    ErrorManager errors;
    jpeg_decompress_struct cinfo;
    bool created = false;
    std::unique_ptr<FILE, FileCloser> file;
    BMP_File fresh;
    std::unique_ptr<uint8_t[]> cmykRow;
    ~DecodeState() {
        if (created) jpeg_destroy_decompress(&cinfo);
    }
};

// The part between the jump point and its end only calls the library and
// touches the state; a jump back returns Failed with the library's message.
JpegLoadResult Decode(DecodeState& s, std::string& why) {
    if (setjmp(s.errors.jump)) {
        why = MessageOf(reinterpret_cast<j_common_ptr>(&s.cinfo));
        return JpegLoadResult::Failed;
    }
    jpeg_create_decompress(&s.cinfo);
    s.created = true;
    jpeg_stdio_src(&s.cinfo, s.file.get());
    jpeg_read_header(&s.cinfo, TRUE);
    const uint64_t w = s.cinfo.image_width, h = s.cinfo.image_height;
    if (!BMP_File::SizeAllowed(int64_t(w), int64_t(h))) {
        why = PictureTooLargeText(w, h);
        why[0] = 'T';
        return JpegLoadResult::TooLarge;
    }
    const bool cmyk = s.cinfo.jpeg_color_space == JCS_CMYK || s.cinfo.jpeg_color_space == JCS_YCCK;
    // Grey files come out as grey triples, the way FreeImage's 8-bit grey
    // pictures turned into 24 bits.
    s.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    s.cinfo.dct_method = JDCT_IFAST;
    s.cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&s.cinfo);
    if (s.cinfo.output_width != w || s.cinfo.output_height != h ||
        s.cinfo.output_components != (cmyk ? 4 : 3))
        return JpegLoadResult::Failed;
    if (!s.fresh.CreateUninitialized(int(w), int(h))) return JpegLoadResult::NoMemory;
    if (cmyk) {
        s.cmykRow.reset(new (std::nothrow) uint8_t[size_t(w) * 4]);
        if (!s.cmykRow) return JpegLoadResult::NoMemory;
    }
    while (s.cinfo.output_scanline < s.cinfo.output_height) {
        const unsigned y = s.cinfo.output_scanline;
        if (cmyk) {
            JSAMPROW row = s.cmykRow.get();
            if (jpeg_read_scanlines(&s.cinfo, &row, 1) != 1) return JpegLoadResult::Failed;
            CmykRowToRgb(s.cmykRow.get(), s.fresh.Row(int(y)), unsigned(w));
            continue;
        }
        // Several rows a call: the decoder makes two rows at once from
        // 4:2:0 data and would otherwise keep the second aside and copy it.
        JSAMPROW rows[16];
        const unsigned n = std::min(16u, unsigned(h) - y);
        for (unsigned i = 0; i < n; ++i)
            rows[i] = reinterpret_cast<JSAMPROW>(s.fresh.Row(int(y + i)));
        if (jpeg_read_scanlines(&s.cinfo, rows, n) == 0) return JpegLoadResult::Failed;
    }
    jpeg_finish_decompress(&s.cinfo);
    return JpegLoadResult::Loaded;
}

// Where the encoder's bytes go: a growing vector, or a save sink through a
// buffer of its own.
struct Destination {
    jpeg_destination_mgr pub;
    std::vector<uint8_t>* bytes = nullptr;
    SaveSink* sink = nullptr;
    uint8_t buffer[1 << 16];
    bool failed = false;
};

constexpr size_t kVectorStep = size_t(1) << 20;

// Makes room for at least one more step of output in the vector, whose size
// runs ahead of the bytes written.
bool GrowVector(Destination& d, size_t used) {
    try {
        d.bytes->resize(used + kVectorStep);
    } catch (const std::bad_alloc&) {
        return false;
    }
    d.pub.next_output_byte = d.bytes->data() + used;
    d.pub.free_in_buffer = d.bytes->size() - used;
    return true;
}

void InitDestination(j_compress_ptr cinfo) {
    Destination& d = *reinterpret_cast<Destination*>(cinfo->dest);
    if (d.bytes) {
        if (!GrowVector(d, 0)) d.failed = true;
    } else {
        d.pub.next_output_byte = d.buffer;
        d.pub.free_in_buffer = sizeof d.buffer;
    }
    if (d.failed) ERREXIT(cinfo, JERR_OUT_OF_MEMORY);
}

boolean EmptyOutput(j_compress_ptr cinfo) {
    Destination& d = *reinterpret_cast<Destination*>(cinfo->dest);
    if (d.bytes) {
        // The whole vector is full when this is called.
        if (!GrowVector(d, d.bytes->size())) d.failed = true;
    } else if (!d.sink->Write(d.buffer, sizeof d.buffer)) {
        d.failed = true;
    } else {
        d.pub.next_output_byte = d.buffer;
        d.pub.free_in_buffer = sizeof d.buffer;
    }
    if (d.failed) ERREXIT(cinfo, d.bytes ? JERR_OUT_OF_MEMORY : JERR_FILE_WRITE);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    Destination& d = *reinterpret_cast<Destination*>(cinfo->dest);
    if (d.bytes) {
        d.bytes->resize(d.bytes->size() - d.pub.free_in_buffer);
    } else if (!d.sink->Write(d.buffer, sizeof d.buffer - d.pub.free_in_buffer)) {
        d.failed = true;
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

struct EncodeState {
    ErrorManager errors;
    jpeg_compress_struct cinfo;
    bool created = false;
    Destination dest;
    ~EncodeState() {
        if (created) jpeg_destroy_compress(&cinfo);
    }
};

bool Encode(EncodeState& s, const BMP_File& image, int quality, std::string& why) {
    if (setjmp(s.errors.jump)) {
        why = MessageOf(reinterpret_cast<j_common_ptr>(&s.cinfo));
        return false;
    }
    jpeg_create_compress(&s.cinfo);
    s.created = true;
    s.dest.pub.init_destination = InitDestination;
    s.dest.pub.empty_output_buffer = EmptyOutput;
    s.dest.pub.term_destination = TermDestination;
    s.cinfo.dest = &s.dest.pub;
    s.cinfo.image_width = JDIMENSION(image.Width());
    s.cinfo.image_height = JDIMENSION(image.Height());
    s.cinfo.input_components = 3;
    s.cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&s.cinfo);
    jpeg_set_quality(&s.cinfo, quality, TRUE);
    // What FreeImage wrote for a picture of ours: 72 dots per inch.
    s.cinfo.density_unit = 1;
    s.cinfo.X_density = 72;
    s.cinfo.Y_density = 72;
    jpeg_start_compress(&s.cinfo, TRUE);
    while (s.cinfo.next_scanline < s.cinfo.image_height) {
        // The encoder only reads the rows it is given.
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const JSAMPLE*>(image.Row(int(s.cinfo.next_scanline))));
        jpeg_write_scanlines(&s.cinfo, &row, 1);
    }
    jpeg_finish_compress(&s.cinfo);
    return true;
}

bool EncodeTo(const BMP_File& image, std::vector<uint8_t>* bytes, SaveSink* sink, std::string& why,
              int quality) {
    if (image.Empty()) {
        why = "there is no picture to encode";
        return false;
    }
    std::unique_ptr<EncodeState> s(new (std::nothrow) EncodeState);
    if (!s) {
        why = "not enough memory";
        return false;
    }
    InitErrors(s->errors);
    s->cinfo.err = &s->errors.pub;
    s->dest.bytes = bytes;
    s->dest.sink = sink;
    return Encode(*s, image, quality, why);
}

} // namespace

bool LooksLikeJpeg(const uint8_t* bytes, size_t size) {
    return size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

JpegLoadResult LoadJpegFile(const std::string& path, BMP_File& image, std::string& why) {
    why.clear();
    DecodeState s;
    InitErrors(s.errors);
    s.cinfo.err = &s.errors.pub;
    s.file.reset(std::fopen(path.c_str(), "rb"));
    if (!s.file) {
        why = std::strerror(errno);
        return JpegLoadResult::Failed;
    }
    const JpegLoadResult result = Decode(s, why);
    if (result == JpegLoadResult::Loaded) image = std::move(s.fresh);
    return result;
}

bool EncodeJpeg(const BMP_File& image, std::vector<uint8_t>& out, std::string& why, int quality) {
    out.clear();
    if (EncodeTo(image, &out, nullptr, why, quality)) return true;
    out.clear();
    return false;
}

bool EncodeJpeg(const BMP_File& image, SaveSink& sink, std::string& why, int quality) {
    return EncodeTo(image, nullptr, &sink, why, quality);
}
