// Metadata carried from the original file into the saved result: which tags
// survive each format, the ones brought up to date, orientation applied on
// loading (and not, when asked), and damaged metadata that costs the picture
// nothing. Files are made here and tagged with exiv2 itself.

#include "app/image_files.h"
#include "app/image_metadata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include "file_test_util.h"

namespace {

namespace fs = std::filesystem;

using file_test::ReadAll;
using file_test::TempDir;
using file_test::WriteAll;

// A plain picture file without metadata, written by our saver.
void MakePicture(const std::string& path, const BMP_File& image) {
    SaveOptions strip;
    strip.strip = true;
    ASSERT_TRUE(SaveImageFile(path, image, nullptr, strip)) << path;
}

BMP_File Gradient(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x * 255 / w), uint8_t(y * 255 / h), 90);
    return img;
}

// A minimal but well-formed ICC profile: its header states its size and
// carries the 'acsp' signature; no tags.
std::vector<uint8_t> TestIccProfile() {
    std::vector<uint8_t> icc(132, 0);
    icc[3] = 132;
    icc[36] = 'a', icc[37] = 'c', icc[38] = 's', icc[39] = 'p';
    for (size_t i = 40; i < 128; ++i) icc[i] = uint8_t(i * 7);
    return icc;
}

// Opens a file with exiv2 and hands its metadata to `edit`; writes it back.
void Tag(const std::string& path, const std::function<void(Exiv2::Image&)>& edit) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    edit(*image);
    image->writeMetadata();
}

struct Read {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    std::vector<uint8_t> icc;

    std::string Exif(const char* key) const {
        const auto it = exif.findKey(Exiv2::ExifKey(key));
        return it == exif.end() ? std::string("(none)") : it->toString();
    }
    std::string Xmp(const char* key) const {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        return it == xmp.end() ? std::string("(none)") : it->toString();
    }
};

Read ReadBack(const std::string& path) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    Read r{image->exifData(), image->iptcData(), image->xmpData(), {}};
    if (image->iccProfileDefined())
        r.icc.assign(image->iccProfile()->pData_,
                     image->iccProfile()->pData_ + image->iccProfile()->size_);
    return r;
}

// The tags of a camera photograph.
void TagAsCamera(Exiv2::Image& image) {
    Exiv2::ExifData& exif = image.exifData();
    exif["Exif.Image.Make"] = std::string("Acme");
    exif["Exif.Image.Model"] = std::string("Acme One");
    exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
    exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("N");
    exif["Exif.GPSInfo.GPSLatitude"] = std::string("47/1 30/1 1234/100");
    exif["Exif.GPSInfo.GPSLongitudeRef"] = std::string("E");
    exif["Exif.GPSInfo.GPSLongitude"] = std::string("8/1 32/1 0/1");
    image.iptcData()["Iptc.Application2.Caption"] = std::string("Lake at dawn");
    image.xmpData()["Xmp.dc.creator"] = std::string("Jo Photographer");
    std::vector<uint8_t> icc = TestIccProfile();
    Exiv2::DataBuf buf(icc.data(), long(icc.size()));
    image.setIccProfile(buf);
}

// Loads with metadata, as the programs do, and saves the (possibly treated)
// picture with it.
void LoadAndSave(const std::string& in, const std::string& out,
                 const std::function<void(BMP_File&)>& treat = {}) {
    BMP_File image;
    ImageMetadata metadata;
    std::string message, reason, warning;
    LoadOptions load;
    load.metadata = &metadata;
    load.warning = &warning;
    ASSERT_TRUE(LoadImageFile(in, image, &message, &reason, load)) << message << reason;
    EXPECT_EQ(warning, "");
    if (treat) treat(image);
    SaveOptions save;
    save.metadata = &metadata;
    save.warning = &warning;
    ASSERT_TRUE(SaveImageFile(out, image, &message, save)) << message;
    EXPECT_EQ(warning, "");
}

} // namespace

TEST(ImageMetadata, CameraDataSurvivesIntoJpegPngAndTiff) {
    for (const char* inExt : {"jpg", "png", "tif"}) {
        TempDir dir;
        const std::string in = dir / (std::string("in.") + inExt);
        MakePicture(in, Gradient(40, 30));
        Tag(in, TagAsCamera);
        for (const char* outExt : {"jpg", "png", "tif"}) {
            SCOPED_TRACE(std::string(inExt) + " -> " + outExt);
            const std::string out = dir / (std::string("out.") + outExt);
            LoadAndSave(in, out);
            const Read r = ReadBack(out);
            EXPECT_EQ(r.Exif("Exif.Image.Make"), "Acme");
            EXPECT_EQ(r.Exif("Exif.Image.Model"), "Acme One");
            EXPECT_EQ(r.Exif("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
            EXPECT_EQ(r.Exif("Exif.GPSInfo.GPSLatitudeRef"), "N");
            EXPECT_EQ(r.Exif("Exif.GPSInfo.GPSLatitude"), "47/1 30/1 1234/100");
            EXPECT_EQ(r.Exif("Exif.GPSInfo.GPSLongitude"), "8/1 32/1 0/1");
            EXPECT_TRUE(r.Exif("Exif.Image.Software").starts_with("Pellorin "))
                << r.Exif("Exif.Image.Software");
            EXPECT_EQ(r.icc, TestIccProfile());
            const auto caption = r.iptc.findKey(Exiv2::IptcKey("Iptc.Application2.Caption"));
            ASSERT_NE(caption, r.iptc.end());
            EXPECT_EQ(caption->toString(), "Lake at dawn");
            EXPECT_NE(r.Xmp("Xmp.dc.creator").find("Jo Photographer"), std::string::npos);
            // The picture itself is still the one saved.
            BMP_File back;
            ASSERT_TRUE(LoadImageFile(out, back));
            EXPECT_EQ(back.Width(), 40);
            EXPECT_EQ(back.Height(), 30);
        }
    }
}

TEST(ImageMetadata, DimensionsOrientationThumbnailAndSoftwareAreBroughtUpToDate) {
    TempDir dir;
    const std::string in = dir / "in.jpg";
    MakePicture(in, Gradient(40, 30));
    Tag(in, [](Exiv2::Image& image) {
        TagAsCamera(image);
        image.exifData()["Exif.Image.Orientation"] = uint16_t(6);
        image.exifData()["Exif.Image.Software"] = std::string("Acme firmware 1.0");
        image.exifData()["Exif.Photo.PixelXDimension"] = uint32_t(40);
        image.exifData()["Exif.Photo.PixelYDimension"] = uint32_t(30);
        image.xmpData()["Xmp.tiff.Orientation"] = std::string("6");
        image.xmpData()["Xmp.exif.PixelXDimension"] = std::string("40");
        // A thumbnail of the stored pixels, which the result no longer shows.
        const std::string small =
            (fs::path(image.io().path()).parent_path() / "thumb.jpg").string();
        BMP_File t = Gradient(8, 6);
        SaveOptions strip;
        strip.strip = true;
        ASSERT_TRUE(SaveImageFile(small, t, nullptr, strip));
        std::vector<uint8_t> thumb = ReadAll(small);
        Exiv2::ExifThumb(image.exifData()).setJpegThumbnail(thumb.data(), long(thumb.size()));
    });
    ASSERT_NE(ReadBack(in).Exif("Exif.Thumbnail.JPEGInterchangeFormat"), "(none)");

    for (const char* outExt : {"jpg", "png", "tif"}) {
        SCOPED_TRACE(outExt);
        const std::string out = dir / (std::string("out.") + outExt);
        // A treatment that crops to 25 x 12 after the picture was turned
        // upright (30 x 40).
        LoadAndSave(in, out, [](BMP_File& img) {
            ASSERT_EQ(img.Width(), 30);
            ASSERT_EQ(img.Height(), 40);
            BMP_File cropped;
            cropped.Create(25, 12);
            img = cropped;
        });
        const Read r = ReadBack(out);
        EXPECT_EQ(r.Exif("Exif.Image.Orientation"), "1");
        EXPECT_EQ(r.Exif("Exif.Photo.PixelXDimension"), "25");
        EXPECT_EQ(r.Exif("Exif.Photo.PixelYDimension"), "12");
        EXPECT_TRUE(r.Exif("Exif.Image.Software").starts_with("Pellorin "))
            << r.Exif("Exif.Image.Software");
        EXPECT_EQ(r.Exif("Exif.Thumbnail.JPEGInterchangeFormat"), "(none)");
        EXPECT_EQ(r.Xmp("Xmp.tiff.Orientation"), "1");
        EXPECT_EQ(r.Xmp("Xmp.exif.PixelXDimension"), "25");
        EXPECT_EQ(r.Exif("Exif.Image.Make"), "Acme");
    }
}

TEST(ImageMetadata, EveryOrientationLoadsUpright) {
    // The upright picture: 3 x 2 with six distinct pixels.
    BMP_File upright;
    upright.Create(3, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            upright.Pixel(x, y) =
                CColor24(uint8_t(40 * x), uint8_t(100 * y), uint8_t(7 + x + 3 * y));
    // Where the stored picture's first row and first column are seen, for
    // each EXIF orientation value.
    enum Side { Top, Bottom, Left, Right };
    const struct {
        Side row0, column0;
    } kSides[9] = {{},          {Top, Left},  {Top, Right},    {Bottom, Right}, {Bottom, Left},
                   {Left, Top}, {Right, Top}, {Right, Bottom}, {Left, Bottom}};
    for (int o = 1; o <= 8; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        const Side r0 = kSides[o].row0, c0 = kSides[o].column0;
        const bool rowsAreColumns = r0 == Left || r0 == Right;
        BMP_File stored;
        stored.Create(rowsAreColumns ? 2 : 3, rowsAreColumns ? 3 : 2);
        for (int i = 0; i < stored.Height(); ++i)
            for (int j = 0; j < stored.Width(); ++j) {
                int x, y;
                if (rowsAreColumns) {
                    x = r0 == Left ? i : 2 - i;
                    y = c0 == Top ? j : 1 - j;
                } else {
                    y = r0 == Top ? i : 1 - i;
                    x = c0 == Left ? j : 2 - j;
                }
                stored.Pixel(j, i) = upright.Pixel(x, y);
            }
        TempDir dir;
        const std::string path = dir / "o.png";
        MakePicture(path, stored);
        Tag(path,
            [&](Exiv2::Image& image) { image.exifData()["Exif.Image.Orientation"] = uint16_t(o); });
        BMP_File loaded;
        ImageMetadata metadata;
        LoadOptions load;
        load.metadata = &metadata;
        ASSERT_TRUE(LoadImageFile(path, loaded, nullptr, nullptr, load));
        EXPECT_TRUE(loaded.SameAs(upright));
        EXPECT_EQ(metadata.Orientation(), o);

        // Asked to keep the stored pixels, the loader does.
        load.applyOrientation = false;
        ASSERT_TRUE(LoadImageFile(path, loaded, nullptr, nullptr, load));
        EXPECT_TRUE(loaded.SameAs(stored));
        EXPECT_FALSE(metadata.OrientationApplied());
        // ... and the result keeps saying how to show them.
        SaveOptions save;
        save.metadata = &metadata;
        ASSERT_TRUE(SaveImageFile(dir / "kept.png", loaded, nullptr, save));
        EXPECT_EQ(ReadBack(dir / "kept.png").Exif("Exif.Image.Orientation"), std::to_string(o));
    }
}

TEST(ImageMetadata, OrientationOfALargerPictureMatchesPixelByPixel) {
    // Odd sizes across several tiles: every pixel must land where a plain
    // per-pixel turn puts it.
    const int w = 131, h = 70;
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), uint8_t(x ^ y));
    BMP_File six = img, eight = img, three = img;
    ASSERT_TRUE(ApplyOrientation(six, 6));
    ASSERT_TRUE(ApplyOrientation(eight, 8));
    ASSERT_TRUE(ApplyOrientation(three, 3));
    ASSERT_EQ(six.Width(), h);
    ASSERT_EQ(six.Height(), w);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            // Clockwise: the stored top row becomes the right column.
            ASSERT_EQ(six.Pixel(h - 1 - y, x), img.Pixel(x, y));
            ASSERT_EQ(eight.Pixel(y, w - 1 - x), img.Pixel(x, y));
            ASSERT_EQ(three.Pixel(w - 1 - x, h - 1 - y), img.Pixel(x, y));
        }
    BMP_File same = img;
    ASSERT_TRUE(ApplyOrientation(same, 9)); // not an orientation: left alone
    EXPECT_TRUE(same.SameAs(img));
}

TEST(ImageMetadata, PicturesFromNoFileCarryOnlySoftwareAndSize) {
    TempDir dir;
    for (const char* ext : {"jpg", "png", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string out = dir / (std::string("plain.") + ext);
        ASSERT_TRUE(SaveImageFile(out, Gradient(21, 13)));
        const Read r = ReadBack(out);
        EXPECT_TRUE(r.Exif("Exif.Image.Software").starts_with("Pellorin "))
            << r.Exif("Exif.Image.Software");
        EXPECT_EQ(r.Exif("Exif.Photo.PixelXDimension"), "21");
        EXPECT_EQ(r.Exif("Exif.Photo.PixelYDimension"), "13");
        // A TIFF writer states the orientation of its own rows.
        if (std::string(ext) != "tif") {
            EXPECT_EQ(r.Exif("Exif.Image.Orientation"), "(none)");
        }
        EXPECT_TRUE(r.iptc.empty());
        EXPECT_TRUE(r.xmp.empty());
        EXPECT_TRUE(r.icc.empty());
    }
}

TEST(ImageMetadata, StripWritesNone) {
    TempDir dir;
    const std::string in = dir / "in.jpg";
    MakePicture(in, Gradient(20, 10));
    Tag(in, TagAsCamera);
    BMP_File image;
    ImageMetadata metadata;
    LoadOptions load;
    load.metadata = &metadata;
    ASSERT_TRUE(LoadImageFile(in, image, nullptr, nullptr, load));
    ASSERT_FALSE(metadata.Empty());
    for (const char* ext : {"jpg", "png", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string out = dir / (std::string("s.") + ext);
        SaveOptions save;
        save.metadata = &metadata;
        save.strip = true;
        ASSERT_TRUE(SaveImageFile(out, image, nullptr, save));
        const Read r = ReadBack(out);
        for (const auto& d : r.exif) // a TIFF's own storage tags are not metadata
            EXPECT_EQ(d.groupName(), "Image") << d.key();
        EXPECT_EQ(r.Exif("Exif.Image.Make"), "(none)");
        EXPECT_EQ(r.Exif("Exif.Image.Software"), "(none)");
        EXPECT_TRUE(r.iptc.empty());
        EXPECT_TRUE(r.xmp.empty());
        EXPECT_TRUE(r.icc.empty());
    }
}

namespace {

// A JPEG whose first segment is an EXIF block of the given TIFF bytes.
std::vector<uint8_t> WithExifBlock(const std::vector<uint8_t>& jpeg,
                                   const std::vector<uint8_t>& tiff) {
    std::vector<uint8_t> payload = {'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    const size_t len = payload.size() + 2;
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
    for (const uint8_t b : {uint8_t(0xFF), uint8_t(0xE1), uint8_t(len >> 8), uint8_t(len)})
        out.push_back(b);
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

} // namespace

TEST(ImageMetadata, DamagedOrHostileExifIsDroppedWithAWarning) {
    TempDir dir;
    const std::string plain = dir / "plain.jpg";
    MakePicture(plain, Gradient(24, 16));
    BMP_File expected;
    ASSERT_TRUE(LoadImageFile(plain, expected));
    const std::vector<uint8_t> jpeg = ReadAll(plain);

    // A real EXIF block (Make and an orientation of 6) cut short.
    const std::string tagged = dir / "tagged.jpg";
    WriteAll(tagged, jpeg);
    Tag(tagged, [](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = std::string("Acme");
        image.exifData()["Exif.Image.Orientation"] = uint16_t(6);
        image.exifData()["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
    });
    const std::vector<uint8_t> full = ReadAll(tagged);
    size_t at = 0;
    while (at + 6 < full.size() &&
           std::string(full.begin() + long(at), full.begin() + long(at) + 6) !=
               std::string("Exif\0\0", 6))
        ++at;
    ASSERT_LT(at + 6, full.size());
    const std::vector<uint8_t> cut(full.begin() + long(at) + 6, full.begin() + long(at) + 6 + 30);

    const std::vector<std::vector<uint8_t>> blocks = {
        cut,
        // The first directory far beyond the block.
        {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF},
        // One entry claiming a gigabyte of text.
        {'I', 'I', 42, 0, 8,    0,    0, 0, 1, 0, 0x0F, 0x01, 2,
         0,   0,   0,  0, 0x40, 0x20, 0, 0, 0, 0, 0,    0,    0},
        // Not TIFF at all.
        {'X', 'X', 1, 2, 3},
    };
    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE("block " + std::to_string(i));
        const std::string path = dir / ("bad" + std::to_string(i) + ".jpg");
        WriteAll(path, WithExifBlock(jpeg, blocks[i]));
        BMP_File loaded;
        ImageMetadata metadata;
        std::string message, reason, warning;
        LoadOptions load;
        load.metadata = &metadata;
        load.warning = &warning;
        ASSERT_TRUE(LoadImageFile(path, loaded, &message, &reason, load)) << message;
        EXPECT_NE(warning, "");
        EXPECT_TRUE(metadata.Empty());
        EXPECT_TRUE(loaded.SameAs(expected)); // as stored: no orientation trusted
        // The result is still saved, with only what a picture of no file has.
        SaveOptions save;
        save.metadata = &metadata;
        ASSERT_TRUE(SaveImageFile(dir / "out.jpg", loaded, &message, save)) << message;
        EXPECT_EQ(ReadBack(dir / "out.jpg").Exif("Exif.Image.Make"), "(none)");
    }
}

TEST(ImageMetadata, MetadataTooLargeForTheFormatStillSavesThePicture) {
    // A TIFF may carry far more EXIF than the 64 KB a JPEG segment holds.
    TempDir dir;
    const std::string in = dir / "big.tif";
    MakePicture(in, Gradient(16, 8));
    Tag(in, [](Exiv2::Image& image) {
        image.exifData()["Exif.Image.Make"] = std::string("Acme");
        image.exifData()["Exif.Image.ImageDescription"] = std::string(100000, 'x');
    });
    BMP_File image;
    ImageMetadata metadata;
    LoadOptions load;
    load.metadata = &metadata;
    ASSERT_TRUE(LoadImageFile(in, image, nullptr, nullptr, load));
    std::string message, warning;
    SaveOptions save;
    save.metadata = &metadata;
    save.warning = &warning;
    ASSERT_TRUE(SaveImageFile(dir / "out.jpg", image, &message, save)) << message;
    EXPECT_NE(warning, "");
    BMP_File back;
    ASSERT_TRUE(LoadImageFile(dir / "out.jpg", back));
    EXPECT_EQ(back.Width(), 16);
    const Read r = ReadBack(dir / "out.jpg");
    EXPECT_TRUE(r.Exif("Exif.Image.Software").starts_with("Pellorin "))
        << r.Exif("Exif.Image.Software");
    EXPECT_EQ(r.Exif("Exif.Photo.PixelXDimension"), "16");
}

TEST(ImageMetadata, JpegScanDataIsTheEncodersOwnWithOrWithoutMetadata) {
    // Only the header segments are rewritten: the entropy-coded data that
    // follows the start of scan is byte for byte what the encoder wrote.
    TempDir dir;
    const std::string in = dir / "in.jpg";
    MakePicture(in, Gradient(64, 48));
    Tag(in, TagAsCamera);
    BMP_File image;
    ImageMetadata metadata;
    LoadOptions load;
    load.metadata = &metadata;
    ASSERT_TRUE(LoadImageFile(in, image, nullptr, nullptr, load));
    SaveOptions with, without;
    with.metadata = &metadata;
    without.strip = true;
    ASSERT_TRUE(SaveImageFile(dir / "with.jpg", image, nullptr, with));
    ASSERT_TRUE(SaveImageFile(dir / "without.jpg", image, nullptr, without));
    const std::vector<uint8_t> a = ReadAll(dir / "with.jpg"), b = ReadAll(dir / "without.jpg");
    auto scan = [](const std::vector<uint8_t>& f) {
        for (size_t i = 2; i + 1 < f.size();) {
            if (f[i] != 0xFF) return std::vector<uint8_t>();
            if (f[i + 1] == 0xDA) return std::vector<uint8_t>(f.begin() + long(i), f.end());
            i += 2 + ((size_t(f[i + 2]) << 8) | f[i + 3]);
        }
        return std::vector<uint8_t>();
    };
    ASSERT_FALSE(scan(b).empty());
    EXPECT_EQ(scan(a), scan(b));
    EXPECT_GT(a.size(), b.size());
    EXPECT_EQ(ReadBack(dir / "with.jpg").Exif("Exif.Image.Make"), "Acme");
}

TEST(ImageMetadata, ReadingFromMemoryMatchesReadingTheFile) {
    TempDir dir;
    const std::string in = dir / "in.jpg";
    MakePicture(in, Gradient(10, 10));
    Tag(in, [](Exiv2::Image& image) {
        TagAsCamera(image);
        image.exifData()["Exif.Image.Orientation"] = uint16_t(8);
    });
    const std::vector<uint8_t> bytes = ReadAll(in);
    const ImageMetadata fromFile = ReadImageMetadata(in);
    const ImageMetadata fromMemory = ReadImageMetadata(std::span<const uint8_t>(bytes));
    EXPECT_EQ(fromFile.Orientation(), 8);
    EXPECT_EQ(fromMemory.Orientation(), 8);
    EXPECT_EQ(fromMemory.IccProfile(), TestIccProfile());
    // Nothing to read is no warning.
    std::string warning = "x";
    EXPECT_TRUE(ReadImageMetadata(std::span<const uint8_t>(), &warning).Empty());
    EXPECT_EQ(warning, "");
    EXPECT_TRUE(ReadImageMetadata(dir / "missing.jpg", &warning).Empty());
    EXPECT_EQ(warning, "");
}

#pragma GCC diagnostic pop
