#include "app/tiff_file.h"

#include "app/safe_save.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include <tiffio.h>

namespace {

struct TiffCloser {
    void operator()(TIFF* t) const {
        if (t) TIFFClose(t);
    }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

// The kinds read here: 8-bit unsigned samples, interleaved, in strips, RGB
// (3 samples, or 4 with the fourth an extra sample such as alpha) or grey
// with black at 0 (1 sample).
bool Readable(TIFF* t, uint16_t& samples) {
    uint16_t bits = 0, format = SAMPLEFORMAT_UINT, planar = PLANARCONFIG_CONTIG, photometric = 0;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    if (TIFFIsTiled(t) || !TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    if (bits != 8 || format != SAMPLEFORMAT_UINT || planar != PLANARCONFIG_CONTIG) return false;
    if (photometric == PHOTOMETRIC_RGB)
        return (samples == 3 && extraCount == 0) || (samples == 4 && extraCount == 1);
    return photometric == PHOTOMETRIC_MINISBLACK && samples == 1 && extraCount == 0;
}

// A growing block of memory that libtiff writes into, seeks in and reads
// back, as a file.
struct MemoryFile {
    std::vector<uint8_t>* bytes = nullptr;
    SaveSink* sink = nullptr;
    size_t pos = 0;
    bool failed = false;
};

tmsize_t MemRead(thandle_t h, void* buffer, tmsize_t size) {
    MemoryFile& m = *static_cast<MemoryFile*>(h);
    if (m.sink) return tmsize_t(m.sink->Read(buffer, size_t(size)));
    if (m.pos >= m.bytes->size() || size <= 0) return 0;
    const size_t n = std::min(size_t(size), m.bytes->size() - m.pos);
    std::memcpy(buffer, m.bytes->data() + m.pos, n);
    m.pos += n;
    return tmsize_t(n);
}
tmsize_t MemWrite(thandle_t h, void* buffer, tmsize_t size) {
    MemoryFile& m = *static_cast<MemoryFile*>(h);
    if (size <= 0) return 0;
    if (m.sink) {
        if (m.sink->Write(buffer, size_t(size))) return size;
        m.failed = true;
        return -1;
    }
    try {
        if (m.pos + size_t(size) > m.bytes->size()) m.bytes->resize(m.pos + size_t(size));
    } catch (const std::bad_alloc&) {
        m.failed = true;
        return -1;
    }
    std::memcpy(m.bytes->data() + m.pos, buffer, size_t(size));
    m.pos += size_t(size);
    return size;
}
toff_t MemSeek(thandle_t h, toff_t offset, int whence) {
    MemoryFile& m = *static_cast<MemoryFile*>(h);
    if (m.sink) {
        if (!m.sink->Seek(int64_t(offset), whence)) return toff_t(-1);
        return toff_t(m.sink->Tell());
    }
    const int64_t base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? int64_t(m.pos)
                                              : int64_t(m.bytes->size());
    const int64_t to = base + int64_t(offset);
    if (to < 0) return toff_t(-1);
    m.pos = size_t(to);
    return toff_t(to);
}
int MemClose(thandle_t) {
    return 0;
}
toff_t MemSize(thandle_t h) {
    MemoryFile& m = *static_cast<MemoryFile*>(h);
    if (m.sink) {
        const int64_t here = m.sink->Tell();
        m.sink->Seek(0, SEEK_END);
        const int64_t end = m.sink->Tell();
        m.sink->Seek(here, SEEK_SET);
        return toff_t(end);
    }
    return toff_t(m.bytes->size());
}
int MemMap(thandle_t, void**, toff_t*) {
    return 0;
}
void MemUnmap(thandle_t, void*, toff_t) {}

bool EncodeTo(const BMP_File& image, MemoryFile& file, std::string& why) {
    if (image.Empty()) {
        why = "there is no picture to encode";
        return false;
    }
    TiffPtr t(TIFFClientOpen("picture", "w", &file, MemRead, MemWrite, MemSeek, MemClose, MemSize,
                             MemMap, MemUnmap));
    if (!t) {
        why = "the encoder could not start";
        return false;
    }
    TIFF* tif = t.get();
    const uint32_t w = uint32_t(image.Width()), h = uint32_t(image.Height());
    // The tags FreeImage's writer set for a 24-bit picture of ours.
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 72.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 72.0);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, uint32_t(-1)));
    // The encoder's predictor works on the row it is given, so each row is
    // handed over in a copy of one row.
    std::unique_ptr<uint8_t[]> row(new (std::nothrow) uint8_t[size_t(w) * 3]);
    if (!row) {
        why = "not enough memory";
        return false;
    }
    for (uint32_t y = 0; y < h; ++y) {
        std::memcpy(row.get(), image.Row(int(y)), size_t(w) * 3);
        if (TIFFWriteScanline(tif, row.get(), y, 0) < 0) {
            why = file.failed ? "the file could not be written" : "the encoder failed";
            return false;
        }
    }
    if (!TIFFWriteDirectory(tif) || file.failed) {
        why = file.failed ? "the file could not be written" : "the encoder failed";
        return false;
    }
    t.reset();
    if (file.failed) {
        why = "the file could not be written";
        return false;
    }
    return true;
}

} // namespace

TiffLoadResult LoadTiffFile(const std::string& path, BMP_File& image) {
    // "m": no memory mapping, so that a file cut short is a read error, not
    // a fault.
    TiffPtr t(TIFFOpen(path.c_str(), "rm"));
    if (!t) return TiffLoadResult::Unhandled;
    TIFF* tif = t.get();
    uint32_t w = 0, h = 0;
    uint16_t samples = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h) ||
        !Readable(tif, samples) || !BMP_File::SizeAllowed(w, h) || w == 0 || h == 0 ||
        TIFFScanlineSize64(tif) != uint64_t(w) * samples)
        return TiffLoadResult::Unhandled;
    BMP_File fresh;
    if (!fresh.CreateUninitialized(int(w), int(h))) return TiffLoadResult::NoMemory;
    std::unique_ptr<uint8_t[]> rgba;
    if (samples == 4) {
        rgba.reset(new (std::nothrow) uint8_t[size_t(w) * 4]);
        if (!rgba) return TiffLoadResult::NoMemory;
    }
    for (uint32_t y = 0; y < h; ++y) {
        uint8_t* row = reinterpret_cast<uint8_t*>(fresh.Row(int(y)));
        uint8_t* into = samples == 4 ? rgba.get() : row;
        if (TIFFReadScanline(tif, into, y, 0) < 0) return TiffLoadResult::Unhandled;
        if (samples == 4) {
            for (uint32_t x = 0; x < w; ++x) std::memcpy(row + 3 * x, into + 4 * x, 3);
        } else if (samples == 1) {
            // Grey levels spread into triples from the end, in place.
            for (uint32_t x = w; x-- > 0;) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
        }
    }
    image = std::move(fresh);
    return TiffLoadResult::Loaded;
}

bool EncodeTiff(const BMP_File& image, std::vector<uint8_t>& out, std::string& why) {
    out.clear();
    MemoryFile file;
    file.bytes = &out;
    if (EncodeTo(image, file, why)) return true;
    out.clear();
    return false;
}

bool EncodeTiff(const BMP_File& image, SaveSink& sink, std::string& why) {
    MemoryFile file;
    file.sink = &sink;
    return EncodeTo(image, file, why);
}
