// The JPEG, PNG and TIFF readers that go to their libraries directly, on
// arbitrary bytes (written to a file, since they read files). A load either
// fails and leaves the picture as it was, or gives a picture that survives our
// own writer and reader of the same format (exactly for PNG and TIFF).

#include "app/jpeg_file.h"
#include "app/png_file.h"
#include "app/tiff_file.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

BMP_File SeedPicture(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x * 40), uint8_t(y * 30), uint8_t(x ^ y));
    return img;
}

const std::string& ScratchFile() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp && *tmp ? tmp : "/tmp") + "/pellorin-fuzz-codecs-" +
               std::to_string(::getpid());
    }();
    return path;
}

bool WriteScratch(const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void Untouched(const BMP_File& img) {
    if (img.Width() != 1 || img.Height() != 1 || !(img.Pixel(0, 0) == CColor24(1, 2, 3)))
        std::abort();
}

BMP_File Marked() {
    BMP_File img;
    img.Create(1, 1);
    img.Pixel(0, 0) = CColor24(1, 2, 3);
    return img;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Keep the pictures small: the size checks run before decoding.
    BMP_File::SetMaxPixels(1 << 20);
    if (!SeedFolder()) return 0;
    const int sizes[][2] = {{1, 1}, {3, 2}, {17, 9}, {8, 16}};
    for (const auto& s : sizes) {
        const BMP_File img = SeedPicture(s[0], s[1]);
        const std::string stem = "seed_" + std::to_string(s[0]) + "x" + std::to_string(s[1]);
        std::vector<uint8_t> bytes;
        std::string why;
        if (EncodeJpeg(img, bytes, why)) WriteSeed(stem + ".jpg", bytes);
        if (EncodePng(img, bytes, why)) WriteSeed(stem + ".png", bytes);
        if (EncodeTiff(img, bytes, why)) WriteSeed(stem + ".tif", bytes);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteScratch(data, size)) return 0;
    const std::string& path = ScratchFile();
    std::string why;
    std::vector<uint8_t> bytes;

    BMP_File jpeg = Marked();
    if (LoadJpegFile(path, jpeg, why) != JpegLoadResult::Loaded)
        Untouched(jpeg);
    else if (jpeg.Empty() || !EncodeJpeg(jpeg, bytes, why))
        std::abort();

    BMP_File png = Marked();
    if (LoadPngFile(path, png, why) != PngLoadResult::Loaded) {
        Untouched(png);
    } else {
        BMP_File again;
        if (png.Empty() || !EncodePng(png, bytes, why) ||
            !WriteScratch(bytes.data(), bytes.size()) ||
            LoadPngFile(path, again, why) != PngLoadResult::Loaded || !again.SameAs(png))
            std::abort();
        WriteScratch(data, size);
    }

    BMP_File tiff = Marked();
    if (LoadTiffFile(path, tiff) != TiffLoadResult::Loaded) {
        Untouched(tiff);
    } else {
        BMP_File again;
        if (tiff.Empty() || !EncodeTiff(tiff, bytes, why) ||
            !WriteScratch(bytes.data(), bytes.size()) ||
            LoadTiffFile(path, again) != TiffLoadResult::Loaded || !again.SameAs(tiff))
            std::abort();
    }
    return 0;
}
