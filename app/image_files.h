#pragma once
// Still image files to and from BMP_File. The format is chosen by the last three
// characters of the lower-cased path. Loads convert to 24 bits (alpha dropped);
// saves never damage an existing file when they fail.

#include "app/bmp_file.h"
#include "app/image_metadata.h"

#include <cstdint>
#include <string>

// Fills target with the decoded image. On failure returns false, leaves target
// unchanged and sets message to the text to show the user ("Unknown File
// Format!", "Unable load file (bad format)", a picture beyond the size limit, or
// why the file could not be read) and reason to what the decoding library said
// about the failure (empty when it said nothing). Pictures larger than
// BMP_File::MaxPixels() are refused from the size their file claims, before
// anything of that size is decoded. Nothing is written to standard error.
//
// A photograph whose EXIF orientation is not 1 is turned upright; the file's
// metadata is read (and dropped with a warning when it is damaged, which never
// stops the load). LoadOptions says otherwise.
bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message = nullptr,
                   std::string* reason = nullptr);

struct LoadOptions {
    // Off: the pixels as the file stores them, whatever its orientation says.
    bool applyOrientation = true;
    // When given, receives the file's metadata (empty when it has none), with
    // OrientationApplied() telling whether the pixels were turned upright.
    ImageMetadata* metadata = nullptr;
    // When given, receives why metadata was dropped; empty when none was.
    std::string* warning = nullptr;
};
bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message,
                   std::string* reason, const LoadOptions& options);

// The decoding of LoadImageFile (no metadata, no orientation) done by FreeImage
// alone, also for the JPEG, PNG and TIFF files that LoadImageFile hands to their
// libraries directly: the reference those are measured and tested against.
bool LoadImageFileThroughFreeImage(const std::string& path, BMP_File& target,
                                   std::string* message = nullptr, std::string* reason = nullptr);

// "the picture is too large (W x H pixels, N megapixels; the limit is L
// megapixels)": why a picture beyond BMP_File's size limit is refused.
std::string PictureTooLargeText(uint64_t width, uint64_t height);

// Writes image in the format of the path's extension (png, jpg, gif, bmp, tif,
// tga, ico) as SaveFileSafely does: through symbolic links, never over a file
// the user may not write, keeping the old file's permission bits, and without
// damaging it on failure. On failure returns false with the reason in message.
//
// JPEG, PNG and TIFF files carry metadata (SaveOptions): by default only the
// software tag and the pixel dimensions, as for a picture that came from no
// file.
bool SaveImageFile(const std::string& path, const BMP_File& image, std::string* message = nullptr);

struct SaveOptions {
    // The original picture's metadata, brought up to date and written into the
    // file (see WriteMetadataInto); nullptr or empty: the software tag and the
    // dimensions only.
    const ImageMetadata* metadata = nullptr;
    // No metadata at all (for the web).
    bool strip = false;
    // When given, receives why metadata could not be written (the picture is
    // saved all the same); empty when all of it was.
    std::string* warning = nullptr;
};
bool SaveImageFile(const std::string& path, const BMP_File& image, std::string* message,
                   const SaveOptions& options);

// Initialises FreeImage once per process (safe to call from any thread, any
// number of times); every FreeImage user in the core calls it first.
void InitFreeImageOnce();

// Whether LoadImageFile / SaveImageFile handle the path's extension.
bool IsLoadableStillImage(const std::string& path);
bool IsSavableStillImage(const std::string& path);
