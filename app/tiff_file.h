#pragma once
// TIFF files straight through libtiff for the usual kinds: 8-bit RGB (with or
// without alpha) or grey, samples interleaved, in strips. The decoder writes
// its rows into the picture's own pixels, and the encoder reads them from
// there, so neither direction builds a second full-size picture. Pixels and
// file bytes are those FreeImage made, which the program used before; every
// other kind of file, and every file the reader cannot finish, is left to
// FreeImage, whose messages the program has always given.

#include "app/bmp_file.h"

#include <cstdint>
#include <string>
#include <vector>

class SaveSink;

// Loaded: `image` holds the picture. Unhandled: nothing was changed, and the
// file is FreeImage's to read (another kind, a damaged file, or a size beyond
// the limit, which FreeImage's reader refuses before decoding).
enum class TiffLoadResult { Loaded, Unhandled, NoMemory };

TiffLoadResult LoadTiffFile(const std::string& path, BMP_File& image);

// Encodes the picture as FreeImage's default TIFF writer did: LZW with the
// horizontal predictor, strips of about 8 KB, 72 dots per inch. On failure
// returns false.
bool EncodeTiff(const BMP_File& image, std::vector<uint8_t>& out, std::string& why);
bool EncodeTiff(const BMP_File& image, SaveSink& sink, std::string& why);
