#pragma once
// JPEG files straight through libjpeg(-turbo): the decoder writes its rows into
// the picture's own pixels and the encoder reads them from there, so neither
// direction builds a second full-size picture. The settings are those of
// FreeImage's JPEG reader and writer, which the program used before, so a file
// gives the same pixels and a picture the same file bytes as it always did:
// the fast integer transform and plain (replicating) chroma upsampling on
// loading, the accurate integer transform, quality 75, 4:2:0 and a JFIF header
// of 72 dots per inch on saving.

#include "app/bmp_file.h"

#include <cstdint>
#include <string>
#include <vector>

class SaveSink;

// The quality of a saved JPEG (0..100).
inline constexpr int kJpegDefaultQuality = 75;

// Whether the bytes begin a JPEG stream (start-of-image marker).
bool LooksLikeJpeg(const uint8_t* bytes, size_t size);

enum class JpegLoadResult {
    Loaded,
    Failed,   // `why` holds the decoder's message (empty when it gave none)
    TooLarge, // the size the file claims is beyond BMP_File's limit; `why` says so
    NoMemory,
};

// Decodes the JPEG file at path into a new picture that replaces `image` only
// on success. The size the file claims is checked before anything of that size
// is allocated. Damaged data that the decoder can get past (a cut-off file, a
// corrupt segment) loads as far as it goes, as it always did; nothing is
// written to standard error.
JpegLoadResult LoadJpegFile(const std::string& path, BMP_File& image, std::string& why);

// Encodes the picture. On failure returns false with the encoder's message.
bool EncodeJpeg(const BMP_File& image, std::vector<uint8_t>& out, std::string& why,
                int quality = kJpegDefaultQuality);
// The same, written through a save sink as it is made.
bool EncodeJpeg(const BMP_File& image, SaveSink& sink, std::string& why,
                int quality = kJpegDefaultQuality);
