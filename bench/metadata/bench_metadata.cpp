// A 24-megapixel camera JPEG loaded and saved as pellorin-cli apply does: once
// with its metadata (EXIF with GPS and a thumbnail, IPTC, XMP, a 3 KB colour
// profile) read, brought up to date and written, once as the same picture
// without metadata saved with --strip. The ratio is what carrying the
// metadata costs (target: under 2 %). The metadata steps alone are measured
// too.

#include "app/image_files.h"
#include "app/image_metadata.h"
#include "bench/app/bench_common.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // exiv2 0.27's auto_ptr
#include <exiv2/exiv2.hpp>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

struct Fixture {
    fs::path dir;
    std::vector<uint8_t> encoded; // the plain JPEG's bytes

    Fixture() {
        const char* tmp = std::getenv("TMPDIR");
        std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pellorin-bench-XXXXXX";
        dir = ::mkdtemp(templ.data());
        SaveOptions strip;
        strip.strip = true;
        if (!SaveImageFile(Path("plain.jpg"), BenchPicture(), nullptr, strip)) std::abort();
        if (!SaveImageFile(Path("thumb.jpg"), BenchPicture(160, 120), nullptr, strip)) std::abort();
        encoded = ReadAll(Path("plain.jpg"));
        fs::copy_file(Path("plain.jpg"), Path("camera.jpg"));
        // What a camera and a photo manager put into a photograph.
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Path("camera.jpg"));
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Image.Make"] = std::string("Acme");
        exif["Exif.Image.Model"] = std::string("Acme One");
        exif["Exif.Image.Orientation"] = uint16_t(1);
        exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
        exif["Exif.Photo.ExposureTime"] = std::string("1/250");
        exif["Exif.Photo.FNumber"] = std::string("28/10");
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
        exif["Exif.Photo.UserComment"] = std::string("charset=Ascii " + std::string(2000, 'c'));
        exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("47/1 30/1 1234/100");
        exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
        exif["Exif.GPSInfo.GPSLongitude"] = std::string("8/1 32/1 0/1");
        const std::vector<uint8_t> thumb = ReadAll(Path("thumb.jpg"));
        Exiv2::ExifThumb(exif).setJpegThumbnail(thumb.data(), long(thumb.size()));
        image->iptcData()["Iptc.Application2.Caption"] = std::string("Lake at dawn");
        image->iptcData()["Iptc.Application2.City"] = std::string("Zurich");
        image->xmpData()["Xmp.dc.creator"] = std::string("Jo Photographer");
        image->xmpData()["Xmp.dc.rights"] = std::string("CC BY 4.0");
        std::vector<uint8_t> icc(3144, 0);
        icc[2] = uint8_t(3144 >> 8), icc[3] = uint8_t(3144 & 0xFF);
        icc[36] = 'a', icc[37] = 'c', icc[38] = 's', icc[39] = 'p';
        Exiv2::DataBuf buf(icc.data(), long(icc.size()));
        image->setIccProfile(buf);
        image->writeMetadata();
    }
    ~Fixture() { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }
};

Fixture& Shared() {
    static Fixture f;
    return f;
}

void LoadSave(benchmark::State& state, const char* in, bool strip) {
    Fixture& f = Shared();
    const std::string input = f.Path(in);
    const std::string output = f.Path(strip ? "out-plain.jpg" : "out-camera.jpg");
    BMP_File image;
    for (auto _ : state) {
        ImageMetadata metadata;
        LoadOptions load;
        load.metadata = &metadata;
        SaveOptions save;
        save.metadata = &metadata;
        save.strip = strip;
        if (!LoadImageFile(input, image, nullptr, nullptr, load) ||
            !SaveImageFile(output, image, nullptr, save))
            state.SkipWithError("load or save failed");
        if (!strip && metadata.Empty()) state.SkipWithError("no metadata was read");
    }
}

void BM_JpegLoadSave_WithMetadata(benchmark::State& s) {
    LoadSave(s, "camera.jpg", false);
}
void BM_JpegLoadSave_Stripped(benchmark::State& s) {
    LoadSave(s, "plain.jpg", true);
}

// The save alone, with the camera file's metadata and with none.
void Save(benchmark::State& state, bool strip) {
    Fixture& f = Shared();
    BMP_File image;
    ImageMetadata metadata;
    LoadOptions load;
    load.metadata = &metadata;
    if (!LoadImageFile(f.Path("camera.jpg"), image, nullptr, nullptr, load)) std::abort();
    SaveOptions save;
    save.metadata = &metadata;
    save.strip = strip;
    for (auto _ : state)
        if (!SaveImageFile(f.Path("save.jpg"), image, nullptr, save)) state.SkipWithError("save");
}
void BM_JpegSave_Stripped(benchmark::State& s) {
    Save(s, true);
}
void BM_JpegSave_WithMetadata(benchmark::State& s) {
    Save(s, false);
}

// The metadata steps alone: reading the camera file's, and writing it into
// the encoded picture.
void BM_MetadataRead(benchmark::State& state) {
    const std::string path = Shared().Path("camera.jpg");
    for (auto _ : state) {
        ImageMetadata m = ReadImageMetadata(path);
        benchmark::DoNotOptimize(m);
    }
}
void BM_MetadataWrite(benchmark::State& state) {
    Fixture& f = Shared();
    const ImageMetadata m = ReadImageMetadata(f.Path("camera.jpg"));
    for (auto _ : state) {
        std::vector<uint8_t> bytes = f.encoded;
        if (!WriteMetadataInto(bytes, &m, kBenchWidth, kBenchHeight)) state.SkipWithError("write");
        benchmark::DoNotOptimize(bytes.data());
    }
}

BENCHMARK(BM_JpegLoadSave_Stripped)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);
BENCHMARK(BM_JpegLoadSave_WithMetadata)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(BM_JpegSave_Stripped)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);
BENCHMARK(BM_JpegSave_WithMetadata)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(8);
BENCHMARK(BM_MetadataRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MetadataWrite)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    return RunWithRatios(argc, argv,
                         {{"BM_JpegLoadSave_WithMetadata", "BM_JpegLoadSave_Stripped", 1.02},
                          {"BM_JpegSave_WithMetadata", "BM_JpegSave_Stripped", 1.02}});
}

#pragma GCC diagnostic pop
