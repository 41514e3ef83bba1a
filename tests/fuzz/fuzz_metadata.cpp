// The metadata reader on arbitrary files, from memory. Whatever it accepts must
// be writable into a new file (or refused with a warning), never crash, and
// give an orientation of 1 to 8.

#include "app/image_files.h"
#include "app/image_metadata.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // exiv2 0.27's auto_ptr
#include <exiv2/exiv2.hpp>

namespace {

std::vector<uint8_t> g_target; // the JPEG each accepted input's metadata goes into

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// A small picture in each format that carries metadata, saved by our own
// writer with the metadata it writes for a picture of no file, or taken from
// another file's metadata.
std::vector<uint8_t> Encoded(const char* ext, const ImageMetadata* metadata) {
    char dir[] = "/tmp/pellorin-fuzz-XXXXXX";
    if (!::mkdtemp(dir)) return {};
    const std::string path = std::string(dir) + "/p." + ext;
    BMP_File img;
    img.Create(6, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 6; ++x) img.Pixel(x, y) = CColor24(uint8_t(40 * x), uint8_t(60 * y), 9);
    SaveOptions save;
    save.metadata = metadata;
    std::vector<uint8_t> bytes;
    if (SaveImageFile(path, img, nullptr, save)) bytes = ReadAll(path);
    std::remove(path.c_str());
    ::rmdir(dir);
    return bytes;
}

// The same picture with what a camera writes (EXIF with GPS, orientation and a
// thumbnail, IPTC, XMP, a colour profile), tagged by exiv2 itself.
std::vector<uint8_t> CameraTagged(const std::vector<uint8_t>& plain) {
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(plain.data(), long(plain.size()));
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Image.Make"] = std::string("Acme");
        exif["Exif.Image.Orientation"] = uint16_t(6);
        exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("47/1 30/1 1234/100");
        Exiv2::ExifThumb(exif).setJpegThumbnail(g_target.data(), long(g_target.size()));
        image->iptcData()["Iptc.Application2.City"] = std::string("Zurich");
        image->xmpData()["Xmp.dc.creator"] = std::string("Jo");
        image->xmpData()["Xmp.tiff.Orientation"] = std::string("6");
        std::vector<uint8_t> icc(132, 0);
        icc[3] = 132;
        Exiv2::DataBuf buf(icc.data(), long(icc.size()));
        image->setIccProfile(buf);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        io.open();
        std::vector<uint8_t> out(io.size());
        io.read(out.data(), long(out.size()));
        io.close();
        return out;
    } catch (...) {
        return {};
    }
} // the JPEG each accepted input's metadata goes into

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_target = Encoded("jpg", nullptr);
    if (g_target.empty()) std::abort();
    if (!SeedFolder()) return 0;
    for (const char* ext : {"jpg", "png", "tif"}) {
        const std::vector<uint8_t> plain = Encoded(ext, nullptr);
        WriteSeed(std::string("seed.") + ext, plain);
        WriteSeed(std::string("seed_camera.") + ext, CameraTagged(plain));
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string warning;
    const ImageMetadata metadata =
        ReadImageMetadata(std::span<const uint8_t>(data, size), &warning);
    if (metadata.Orientation() < 1 || metadata.Orientation() > 8) std::abort();
    if (metadata.Empty()) return 0;
    std::vector<uint8_t> out = g_target;
    std::string writeWarning;
    if (!WriteMetadataInto(out, &metadata, 6, 4, &writeWarning)) {
        if (writeWarning.empty() || out != g_target) std::abort();
        return 0;
    }
    // What we wrote must read back.
    std::string again;
    ReadImageMetadata(std::span<const uint8_t>(out), &again);
    if (!again.empty()) std::abort();
    return 0;
}

#pragma GCC diagnostic pop
