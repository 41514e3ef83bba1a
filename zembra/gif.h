// Internal model of the animation behind the C exports of zembra.h.
#pragma once

#include "zembra.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zembra {

constexpr uint32_t kNoColor = 0x1FFFFFFF;
constexpr uint16_t kMaxRepeat = 30000;

// Every failure inside the codec; the exports turn it into a false result.
class GifError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* kErrVersion = "Unknown GIF version";
inline constexpr const char* kErrColors = "Wrong number of colors; must be a power of 2";
inline constexpr const char* kErrRead = "Stream read error";
inline constexpr const char* kErrNoData = "No GIF Data to write";
inline constexpr const char* kErrEncoding = "GIF image encoding error";

struct ColorTable {
    int32_t count = 0;
    std::array<uint8_t, 768> rgb{}; // red, green, blue per entry

    uint32_t color(int i) const {
        return uint32_t(rgb[3 * i]) | uint32_t(rgb[3 * i + 1]) << 8 |
               uint32_t(rgb[3 * i + 2]) << 16;
    }
    // First entry of exactly this colour, or -1.
    int find(uint32_t c) const {
        for (int i = 0; i < count; ++i)
            if (color(i) == c) return i;
        return -1;
    }
};

struct Header {
    std::vector<std::string> comment;
    uint8_t aspect = 0;
    int bitsPerPixel = 0;
    int colorResolution = 0;
    ColorTable global;
};

// A frame's LZW stream (minimum code size byte, sub-blocks, terminator) and the
// facts needed to decode or write it again.
struct EncodedData {
    std::vector<uint8_t> data;
    int32_t width = 0, height = 0;
    uint8_t packed = 0;
    int bitsPerPixel = 0;
    ColorTable table;
};

enum class ExtKind : uint8_t { GraphicControl = 0, PlainText = 1, Application = 2, Comment = 3 };

struct Extension {
    ExtKind kind = ExtKind::GraphicControl;
    std::vector<uint8_t> fixed;      // fixed part as read (6, 13, 12 or 0 bytes)
    std::vector<std::string> blocks; // data sub-blocks, one string each
};

struct BitmapDeleter {
    void operator()(ZBitmap* b) const;
};
using BitmapPtr = std::unique_ptr<ZBitmap, BitmapDeleter>;

// Bitmap helpers (bitmap.cpp).
int32_t rowBytes(int32_t width, int32_t bitsPerPixel);
BitmapPtr createBitmap(int32_t width, int32_t height, int32_t bitsPerPixel); // throws bad_alloc
void setDefaultPalette(ZBitmap& b);

struct Frame {
    BitmapPtr bitmap;
    EncodedData enc;
    std::vector<Extension> extensions;
    int32_t left = 0, top = 0;
    bool interlaced = false;
    bool corrupted = false;
    bool grayscale = false;
    uint32_t transparent = kNoColor;
    uint32_t delayMs = 0; // wide enough for the largest file delay (65535 hundredths)
    uint8_t disposal = 0;
    bool localColors = false;

    int32_t width() const { return bitmap ? bitmap->width : enc.width; }
    int32_t height() const { return bitmap ? bitmap->height : enc.height; }
};

class Animation {
public:
    Header header;
    uint8_t version = 0; // 0 none, 1 "87a", 2 "89a"
    std::vector<std::unique_ptr<Frame>> frames;
    int32_t current = -1;
    uint16_t screenWidth = 0, screenHeight = 0;
    uint32_t background = kNoColor;
    bool looping = false;
    bool corrupted = false;
    uint16_t repeat = 1;
    // Frames whose bitmap would hold more pixels than this are refused when
    // decoded (0: no limit). Lets a fuzzer keep memory bounded.
    uint64_t maxDecodePixels = 0;

    Animation() { reset(); }

    void clear();
    void reset(); // clear, then loop "forever" (30000 times)
    void setRepeat(uint32_t count) { repeat = uint16_t(count > kMaxRepeat ? kMaxRepeat : count); }
    void raiseVersion(uint8_t v) {
        if (version < v) version = v;
    }
    bool valid(int32_t index) const { return index >= 0 && index < int32_t(frames.size()); }

    // Reading (gif_reader.cpp).
    void loadFromMemory(const uint8_t* data, size_t size);
    void loadFile(const char* path);
    // Decodes the frame's bitmap unless it has one.
    void decodeFrame(Frame& f);

    // Writing (gif_writer.cpp).
    std::vector<uint8_t> buildFile();
    void saveFile(const char* path);

    // Frame model (animation.cpp).
    void setFrameCount(int32_t count);
    void recomputeScreen();
    void setDelay(int32_t index, int32_t hundredths);
    void setTransparent(int32_t index, uint32_t color);
    void setDisposal(int32_t index, int32_t flag);
    void setOrigin(int32_t index, int32_t left, int32_t top);
    void setFrameData(int32_t index, int32_t width, int32_t height, const uint8_t* bits,
                      int32_t bpp);
    void setFrameBitmap(int32_t index, ZBitmap* bitmap);
    // Null when the frame has no bitmap and cannot be decoded.
    ZBitmap* frameBitmap(int32_t index);
};

// LZW (lzw_decode.cpp, lzw_encode.cpp).
// Decodes a frame's stream into at most `count` indexes in file order; `out`
// must be zero-filled. Reports how many pixels the data gave and whether it was
// damaged.
struct DecodeResult {
    size_t produced = 0;
    bool damaged = false;
};
DecodeResult lzwDecode(const std::vector<uint8_t>& stream, int bitsPerPixel, uint8_t* out,
                       size_t count);
// Encodes a 1, 4 or 8 bit bottom-up pixel block; appends the minimum code size
// byte, the sub-blocks and the terminator to out.
void lzwEncode(const uint8_t* bits, int32_t stride, int32_t width, int32_t height, int bpp,
               std::vector<uint8_t>& out);

// Colour reduction of a 24 or 32 bit bitmap to an 8-bit palette bitmap
// (color_reduce.cpp).
BitmapPtr reduceColors(const ZBitmap& src);

} // namespace zembra
