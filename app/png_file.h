#pragma once
// PNG files straight through libpng: the decoder writes its rows into the
// picture's own pixels and the encoder reads them from there, so neither
// direction builds a second full-size picture. Pixels and file bytes are those
// FreeImage made, which the program used before: 16-bit samples keep their
// top byte, palettes and grey levels become their colours, a file gamma is
// corrected for a display of 2.2, alpha and transparency are dropped; files are written with
// libpng's default compression, the row filters none, sub and Paeth, and a pHYs chunk of 72 dots
// per inch.

#include "app/bmp_file.h"

#include <cstdint>
#include <string>
#include <vector>

class SaveSink;

// Whether the bytes begin a PNG file (its eight-byte signature).
bool LooksLikePng(const uint8_t* bytes, size_t size);

enum class PngLoadResult {
    Loaded,
    Failed,   // `why` holds the decoder's message (empty when it gave none)
    TooLarge, // the size the file claims is beyond BMP_File's limit; `why` says so
    NoMemory,
    // A kind of file this reader leaves to FreeImage (16-bit samples with a
    // file gamma); nothing was changed.
    Unhandled,
};

// Decodes the PNG file at path into a new picture that replaces `image` only on
// success. The size the file claims is checked before anything of that size
// is allocated. Nothing is written to standard error.
PngLoadResult LoadPngFile(const std::string& path, BMP_File& image, std::string& why);

// Encodes the picture. On failure returns false with the encoder's message.
bool EncodePng(const BMP_File& image, std::vector<uint8_t>& out, std::string& why);
// The same, written through a save sink as it is made.
bool EncodePng(const BMP_File& image, SaveSink& sink, std::string& why);
