#pragma once
// Still image files to and from BMP_File. The format is chosen by the last three
// characters of the lower-cased path. Loads convert to 24 bits (alpha dropped);
// saves never damage an existing file when they fail.

#include "app/bmp_file.h"

#include <string>

// Fills target with the decoded image. On failure returns false, leaves target
// unchanged and sets message to the text to show the user ("Unknown File
// Format!", "Unable load file (bad format)", or why the file could not be read)
// and reason to what the decoding library said about the failure (empty when
// it said nothing). Nothing is written to standard error.
bool LoadImageFile(const std::string& path, BMP_File& target, std::string* message = nullptr,
                   std::string* reason = nullptr);

// Writes image in the format of the path's extension (png, jpg, gif, bmp, tif,
// tga, ico). Writes a temporary file beside the target and renames it over the
// target only on success. On failure returns false with the reason in message.
bool SaveImageFile(const std::string& path, const BMP_File& image,
                   std::string* message = nullptr);

// Initialises FreeImage once per process (safe to call from any thread, any
// number of times); every FreeImage user in the core calls it first.
void InitFreeImageOnce();

// Whether LoadImageFile / SaveImageFile handle the path's extension.
bool IsLoadableStillImage(const std::string& path);
bool IsSavableStillImage(const std::string& path);
