#pragma once
// What a picture file says about its picture besides the pixels: EXIF (camera,
// shooting date, GPS position, orientation), IPTC, XMP and the ICC colour
// profile. It is read from the original file, kept beside the original picture
// and written into the saved result with what the treatment changed brought up
// to date. Damaged or hostile metadata never stops a picture: it is dropped
// with a warning and the pixels load as before.

#include "app/bmp_file.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class ImageMetadata {
public:
    struct Blocks; // the parsed blocks; only image_metadata.cpp knows them

    ImageMetadata() = default;

    // Nothing was read from a file (a scan, a camera or video frame, a format
    // without metadata, or metadata that was dropped).
    bool Empty() const { return !blocks_; }
    // The EXIF orientation as the file states it, 1 to 8; 1 when there is none
    // or it is not one of the eight.
    int Orientation() const { return orientation_; }
    // Whether the loader turned the pixels upright by Orientation(): the saved
    // file then says orientation 1, else it keeps the original's value.
    bool OrientationApplied() const { return orientationApplied_; }
    void SetOrientationApplied(bool applied) { orientationApplied_ = applied; }
    // The ICC colour profile, empty when there is none.
    std::vector<uint8_t> IccProfile() const;

    const Blocks* Parsed() const { return blocks_.get(); }
    void SetParsed(std::shared_ptr<const Blocks> blocks, int orientation) {
        blocks_ = std::move(blocks);
        orientation_ = orientation;
    }

private:
    std::shared_ptr<const Blocks> blocks_; // shared: copies of a picture share it
    int orientation_ = 1;
    bool orientationApplied_ = false;
};

// Reads the metadata of the picture file at path, or of a whole file in
// memory. A format that carries none, or a file that cannot be opened, gives
// empty metadata and no warning (the decoder reports what is wrong with the
// file). Metadata that cannot be read, or that the reader found damaged, gives
// empty metadata and sets *warning to why it was dropped. Never throws.
ImageMetadata ReadImageMetadata(const std::string& path, std::string* warning = nullptr);
ImageMetadata ReadImageMetadata(std::span<const uint8_t> file, std::string* warning = nullptr);

// Turns the image upright for an EXIF orientation (2 to 8 mirror or turn the
// pixels; 1 and values outside 1..8 leave them as they are). Returns false
// only when there is not enough memory, leaving the image unchanged.
bool ApplyOrientation(BMP_File& image, int orientation);

// Whether files of this extension (lower case, no dot) carry metadata when we
// write them: jpg, png and tif.
bool ExtensionCarriesMetadata(const std::string& ext);

// The software tag written into every saved picture that carries metadata.
const char* SoftwareTag();

// Writes metadata into a complete encoded JPEG, PNG or TIFF file in memory:
// the original's EXIF, IPTC, XMP and ICC profile (when `original` is given and
// not empty) with the pixel dimensions set to width x height, the orientation
// set to 1 when the loader turned the pixels upright, the embedded thumbnail
// dropped and the software tag naming this program. Without an original only
// the software tag and the dimensions are written. When the original's
// metadata cannot be written, the file gets only the software tag and the
// dimensions and *warning says why; when not even that can be written, the
// bytes stay as they were, *warning says so and the result is false.
bool WriteMetadataInto(std::vector<uint8_t>& encoded, const ImageMetadata* original, int width,
                       int height, std::string* warning = nullptr);
