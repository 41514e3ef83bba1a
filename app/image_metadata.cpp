#include "app/image_metadata.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>

// exiv2 0.27 hands out its images as std::auto_ptr, which C++17 deprecates.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#ifndef PELLORIN_SOFTWARE
#define PELLORIN_SOFTWARE "Pellorin"
#endif

struct ImageMetadata::Blocks {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    std::vector<uint8_t> icc;
};

namespace {

// What exiv2 reported while this thread read or wrote. Its message handler is
// process-wide and pictures load on several threads at once, so each thread
// keeps its own; nothing reaches standard error.
struct ExivMessages {
    std::string firstError;   // reading: the metadata is damaged
    std::string firstWarning; // writing: something was left out
    void clear() {
        firstError.clear();
        firstWarning.clear();
    }
};
thread_local ExivMessages t_exivMessages;

void OnExivMessage(int level, const char* text) {
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '.' || s.back() == ' ')) s.pop_back();
    if (s.empty()) s = "the metadata is damaged";
    if (level >= Exiv2::LogMsg::error && t_exivMessages.firstError.empty())
        t_exivMessages.firstError = s;
    if (level >= Exiv2::LogMsg::warn && t_exivMessages.firstWarning.empty())
        t_exivMessages.firstWarning = s;
}

std::mutex g_xmpLock;
void XmpLockUnlock(void* data, bool lock) {
    auto* m = static_cast<std::mutex*>(data);
    if (lock)
        m->lock();
    else
        m->unlock();
}

// The XMP toolkit is shared by every thread: it is set up once, with a lock.
void InitExivOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
        Exiv2::LogMsg::setHandler(OnExivMessage);
        Exiv2::XmpParser::initialize(XmpLockUnlock, &g_xmpLock);
    });
}

void SetText(std::string* out, std::string text) {
    if (out) *out = std::move(text);
}

// Tags of the first directory that describe how the original stored its
// pixels, not the picture: a new file has its own, and TIFF writers take
// them from the encoded file. Embedded colour profiles, XMP and IPTC blocks
// are carried as blocks of their own.
bool IsStorageTag(uint16_t tag) {
    switch (tag) {
    case 0x00fe: // NewSubfileType
    case 0x00ff: // SubfileType
    case 0x0100: // ImageWidth
    case 0x0101: // ImageLength
    case 0x0102: // BitsPerSample
    case 0x0103: // Compression
    case 0x0106: // PhotometricInterpretation
    case 0x0107: // Thresholding
    case 0x010a: // FillOrder
    case 0x0111: // StripOffsets
    case 0x0115: // SamplesPerPixel
    case 0x0116: // RowsPerStrip
    case 0x0117: // StripByteCounts
    case 0x0118: // MinSampleValue
    case 0x0119: // MaxSampleValue
    case 0x011c: // PlanarConfiguration
    case 0x013d: // Predictor
    case 0x0140: // ColorMap
    case 0x0142: // TileWidth
    case 0x0143: // TileLength
    case 0x0144: // TileOffsets
    case 0x0145: // TileByteCounts
    case 0x014a: // SubIFDs
    case 0x0152: // ExtraSamples
    case 0x0153: // SampleFormat
    case 0x015b: // JPEGTables
    case 0x0201: // JPEGInterchangeFormat
    case 0x0202: // JPEGInterchangeFormatLength
    case 0x0211: // YCbCrCoefficients
    case 0x0212: // YCbCrSubSampling
    case 0x0213: // YCbCrPositioning
    case 0x02bc: // XMLPacket (XMP)
    case 0x83bb: // IPTCNAA
    case 0x8649: // ImageResources (Photoshop, may hold a thumbnail)
    case 0x8773: // InterColorProfile
        return true;
    default:
        return false;
    }
}

// Whether a datum of the original's EXIF goes into a new file: not the
// thumbnail directory, the further images of a multi-image file, nor the
// storage tags of the first one.
bool CarriedOver(const Exiv2::Exifdatum& d) {
    const std::string group = d.groupName();
    if (group == "Image") return !IsStorageTag(d.tag());
    if (group == "Thumbnail" || group.starts_with("SubImage") || group.starts_with("SubThumb") ||
        group.starts_with("Image"))
        return false;
    return true;
}

int OrientationOf(const Exiv2::ExifData& exif, const Exiv2::XmpData& xmp) {
    long value = 1;
    const auto e = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (e != exif.end() && e->count() > 0) {
        value = e->toLong();
    } else {
        const auto x = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (x != xmp.end() && x->count() > 0) value = x->toLong();
    }
    return value >= 1 && value <= 8 ? int(value) : 1;
}

// An ICC profile states its own size in its first four bytes (big-endian).
bool IccSizeMatches(const std::vector<uint8_t>& icc) {
    if (icc.size() < 128) return false;
    const uint32_t stated = (uint32_t(icc[0]) << 24) | (uint32_t(icc[1]) << 16) |
                            (uint32_t(icc[2]) << 8) | uint32_t(icc[3]);
    return stated == icc.size();
}

ImageMetadata ReadFrom(Exiv2::Image::AutoPtr& image, std::string* warning) {
    t_exivMessages.clear();
    auto blocks = std::make_shared<ImageMetadata::Blocks>();
    image->readMetadata();
    if (!t_exivMessages.firstError.empty()) {
        SetText(warning, "damaged metadata was dropped (" + t_exivMessages.firstError + ")");
        return {};
    }
    blocks->exif = image->exifData();
    blocks->iptc = image->iptcData();
    blocks->xmp = image->xmpData();
    if (image->iccProfileDefined()) {
        const Exiv2::DataBuf* icc = image->iccProfile();
        if (icc && icc->pData_ && icc->size_ > 0)
            blocks->icc.assign(icc->pData_, icc->pData_ + icc->size_);
        if (!IccSizeMatches(blocks->icc)) {
            blocks->icc.clear();
            SetText(warning, "a damaged colour profile was dropped");
        }
    }
    if (blocks->exif.empty() && blocks->iptc.empty() && blocks->xmp.empty() && blocks->icc.empty())
        return {};
    ImageMetadata out;
    const int orientation = OrientationOf(blocks->exif, blocks->xmp);
    out.SetParsed(std::move(blocks), orientation);
    return out;
}

// Reading is one boundary: whatever exiv2 throws, the picture loads without
// metadata. A file exiv2 does not know, or cannot open, has none to drop.
template <class Open> ImageMetadata ReadGuarded(Open open, std::string* warning) {
    SetText(warning, "");
    InitExivOnce();
    Exiv2::Image::AutoPtr image;
    try {
        image = open();
    } catch (...) {
        return {};
    }
    if (!image.get()) return {};
    try {
        return ReadFrom(image, warning);
    } catch (const std::exception& e) {
        SetText(warning, std::string("unreadable metadata was dropped (") + e.what() + ")");
    } catch (...) {
        SetText(warning, "unreadable metadata was dropped");
    }
    return {};
}

void SetUInt32(Exiv2::ExifData& exif, const char* key, uint32_t value) {
    exif[key] = value;
}

// Brings the carried metadata up to date with the saved picture.
void FillMetadata(Exiv2::Image& image, const ImageMetadata* original, int width, int height) {
    Exiv2::ExifData& exif = image.exifData();
    if (original && original->Parsed()) {
        const ImageMetadata::Blocks& in = *original->Parsed();
        for (const Exiv2::Exifdatum& d : in.exif)
            if (CarriedOver(d)) exif[d.key()].setValue(&d.value());
        image.setIptcData(in.iptc);
        Exiv2::XmpData xmp = in.xmp;
        for (auto it = xmp.begin(); it != xmp.end();) {
            // The thumbnails describe the original's pixels.
            if (it->key().starts_with("Xmp.xmp.Thumbnails"))
                it = xmp.erase(it);
            else
                ++it;
        }
        if (!xmp.empty()) {
            const int orientation = original->OrientationApplied() ? 1 : original->Orientation();
            auto update = [&](const char* key, long value) {
                if (xmp.findKey(Exiv2::XmpKey(key)) != xmp.end()) xmp[key] = std::to_string(value);
            };
            update("Xmp.tiff.Orientation", orientation);
            update("Xmp.tiff.ImageWidth", width);
            update("Xmp.tiff.ImageLength", height);
            update("Xmp.exif.PixelXDimension", width);
            update("Xmp.exif.PixelYDimension", height);
            xmp["Xmp.xmp.CreatorTool"] = std::string(SoftwareTag());
        }
        image.setXmpData(xmp);
        if (exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != exif.end())
            exif["Exif.Image.Orientation"] =
                uint16_t(original->OrientationApplied() ? 1 : original->Orientation());
        if (!in.icc.empty()) {
            Exiv2::DataBuf icc(in.icc.data(), long(in.icc.size()));
            image.setIccProfile(icc, true);
        }
    }
    exif["Exif.Image.Software"] = std::string(SoftwareTag());
    SetUInt32(exif, "Exif.Photo.PixelXDimension", uint32_t(width));
    SetUInt32(exif, "Exif.Photo.PixelYDimension", uint32_t(height));
}

// Writes the metadata into a copy of the encoded bytes; throws what exiv2 throws.
// Where a JPEG's entropy-coded data starts: the offset of its start-of-scan
// marker and the end of that marker's segment; false when the bytes are not a
// JPEG whose segments lead to a scan.
bool FindJpegScan(const uint8_t* data, size_t size, size_t& sos, size_t& sosEnd) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return false;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // no length
            at += 2;
            continue;
        }
        const size_t length = (size_t(data[at + 2]) << 8) | data[at + 3];
        if (length < 2 || at + 2 + length > size) return false;
        if (marker == 0xDA) {
            sos = at;
            sosEnd = at + 2 + length;
            return true;
        }
        if (marker == 0xD9) return false;
        at += 2 + length;
    }
    return false;
}

std::vector<uint8_t> WrittenWhole(const std::vector<uint8_t>& encoded,
                                  const ImageMetadata* original, int width, int height);

// Writes the metadata the way WrittenWhole does, but lets exiv2 rewrite only
// the JPEG's header segments: it copies the scan data verbatim anyway, and a
// picture of many megabytes would otherwise be copied through it twice.
std::vector<uint8_t> Written(const std::vector<uint8_t>& encoded, const ImageMetadata* original,
                             int width, int height) {
    size_t sos = 0, sosEnd = 0;
    if (!FindJpegScan(encoded.data(), encoded.size(), sos, sosEnd))
        return WrittenWhole(encoded, original, width, height);
    std::vector<uint8_t> head(encoded.begin(), encoded.begin() + long(sosEnd));
    head.push_back(0xFF); // end of image right after the scan header
    head.push_back(0xD9);
    const std::vector<uint8_t> newHead = WrittenWhole(head, original, width, height);
    size_t newSos = 0, newSosEnd = 0;
    if (!FindJpegScan(newHead.data(), newHead.size(), newSos, newSosEnd))
        throw std::runtime_error("the JPEG header could not be rewritten");
    std::vector<uint8_t> out;
    out.reserve(newSos + encoded.size() - sos);
    out.insert(out.end(), newHead.begin(), newHead.begin() + long(newSos));
    out.insert(out.end(), encoded.begin() + long(sos), encoded.end());
    return out;
}

std::vector<uint8_t> WrittenWhole(const std::vector<uint8_t>& encoded,
                                  const ImageMetadata* original, int width, int height) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(encoded.data(), long(encoded.size()));
    if (!image.get()) throw std::runtime_error("unknown file type");
    // The encoded file's own tags (a TIFF's storage tags) stay as they are.
    image->readMetadata();
    FillMetadata(*image, original, width, height);
    image->writeMetadata();
    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0) throw std::runtime_error("cannot read the written file back");
    std::vector<uint8_t> out(io.size());
    io.seek(0, Exiv2::BasicIo::beg);
    const long got = out.empty() ? 0 : io.read(out.data(), long(out.size()));
    io.close();
    if (got != long(out.size()) || out.empty())
        throw std::runtime_error("cannot read the written file back");
    return out;
}

std::string WhyText(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "unknown error";
}

} // namespace

std::vector<uint8_t> ImageMetadata::IccProfile() const {
    return blocks_ ? blocks_->icc : std::vector<uint8_t>();
}

ImageMetadata ReadImageMetadata(const std::string& path, std::string* warning) {
    return ReadGuarded([&] { return Exiv2::ImageFactory::open(path, false); }, warning);
}

ImageMetadata ReadImageMetadata(std::span<const uint8_t> file, std::string* warning) {
    return ReadGuarded(
        [&] {
            // MemIo copies the bytes; an empty span still needs a valid pointer.
            static const Exiv2::byte none = 0;
            return Exiv2::ImageFactory::open(file.empty() ? &none : file.data(), long(file.size()));
        },
        warning);
}

bool ApplyOrientation(BMP_File& image, int orientation) {
    if (orientation < 2 || orientation > 8 || image.Empty()) return true;
    const ptrdiff_t w = image.Width(), h = image.Height();
    const bool swaps = orientation >= 5;
    const ptrdiff_t outW = swaps ? h : w, outH = swaps ? w : h;
    // Source pixel of upright pixel (x, y): index = base + x * stepX + y * stepY.
    ptrdiff_t base = 0, stepX = 1, stepY = w;
    switch (orientation) {
    case 2: // mirrored left to right
        base = w - 1, stepX = -1, stepY = w;
        break;
    case 3: // turned half way
        base = (h - 1) * w + w - 1, stepX = -1, stepY = -w;
        break;
    case 4: // mirrored top to bottom
        base = (h - 1) * w, stepX = 1, stepY = -w;
        break;
    case 5: // rows stored as columns
        base = 0, stepX = w, stepY = 1;
        break;
    case 6: // stored a quarter turn anticlockwise: turn it clockwise
        base = (h - 1) * w, stepX = -w, stepY = 1;
        break;
    case 7:
        base = (h - 1) * w + w - 1, stepX = -w, stepY = -1;
        break;
    case 8: // stored a quarter turn clockwise: turn it anticlockwise
        base = w - 1, stepX = w, stepY = -1;
        break;
    }
    BMP_File out;
    if (!out.CreateUninitialized(int(outW), int(outH))) return false;
    const CColor24* src = image.Data();
    // Tiles keep both the rows read and the rows written in the cache when
    // the turn walks the source by columns.
    constexpr ptrdiff_t kTile = 64;
    for (ptrdiff_t ty = 0; ty < outH; ty += kTile) {
        const ptrdiff_t yEnd = std::min(outH, ty + kTile);
        for (ptrdiff_t tx = 0; tx < outW; tx += kTile) {
            const ptrdiff_t xEnd = std::min(outW, tx + kTile);
            for (ptrdiff_t y = ty; y < yEnd; ++y) {
                CColor24* row = out.Row(int(y));
                const CColor24* s = src + base + tx * stepX + y * stepY;
                for (ptrdiff_t x = tx; x < xEnd; ++x, s += stepX) row[x] = *s;
            }
        }
    }
    out.SparePixel() = CColor24();
    image = std::move(out);
    return true;
}

bool ExtensionCarriesMetadata(const std::string& ext) {
    return ext == "jpg" || ext == "png" || ext == "tif";
}

const char* SoftwareTag() {
    return PELLORIN_SOFTWARE;
}

bool WriteMetadataInto(std::vector<uint8_t>& encoded, const ImageMetadata* original, int width,
                       int height, std::string* warning) {
    SetText(warning, "");
    InitExivOnce();
    std::exception_ptr failure;
    if (original && !original->Empty()) {
        try {
            t_exivMessages.clear();
            encoded = Written(encoded, original, width, height);
            // The writer leaves out what the format cannot hold (a JPEG's
            // EXIF is at most 64 KB) and only says so.
            if (!t_exivMessages.firstWarning.empty())
                SetText(warning, "some of the original's metadata was left out (" +
                                     t_exivMessages.firstWarning + ")");
            return true;
        } catch (...) {
            failure = std::current_exception();
        }
    }
    try {
        encoded = Written(encoded, nullptr, width, height);
        if (failure)
            SetText(warning, "the original's metadata could not be written (" + WhyText(failure) +
                                 "); only the software tag and size were");
        return true;
    } catch (...) {
        SetText(warning,
                "no metadata could be written (" + WhyText(std::current_exception()) + ")");
    }
    return false;
}

#pragma GCC diagnostic pop
