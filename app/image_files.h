#pragma once
// Still image files to and from BMP_File. The format is chosen by the last three
// characters of the lower-cased path. Loads convert to 24 bits (alpha dropped);
// saves never damage an existing file when they fail.

#include "app/bmp_file.h"

#include <cstdint>
#include <string>

// Fills target with the decoded image. On failure returns false, leaves target
// unchanged and sets message to the text to show the user ("Unknown File
// Format!", "Unable load file (bad format)", a picture beyond the size limit, or
// why the file could not be read) and reason to what the decoding library said
// about the failure (empty when it said nothing). Pictures larger than
// BMP_File::MaxPixels() are refused from the size their file claims, before
// anything of that size is decoded. Nothing is written to standard error.
bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message = nullptr,
                   std::string* reason = nullptr);

// "the picture is too large (W x H pixels, N megapixels; the limit is L
// megapixels)": why a picture beyond BMP_File's size limit is refused.
std::string PictureTooLargeText(uint64_t width, uint64_t height);

// Writes image in the format of the path's extension (png, jpg, gif, bmp, tif,
// tga, ico) as SaveFileSafely does: through symbolic links, never over a file
// the user may not write, keeping the old file's permission bits, and without
// damaging it on failure. On failure returns false with the reason in message.
bool SaveImageFile(const std::string& path, const BMP_File& image,
                   std::string* message = nullptr);

// Initialises FreeImage once per process (safe to call from any thread, any
// number of times); every FreeImage user in the core calls it first.
void InitFreeImageOnce();

// Whether LoadImageFile / SaveImageFile handle the path's extension.
bool IsLoadableStillImage(const std::string& path);
bool IsSavableStillImage(const std::string& path);
