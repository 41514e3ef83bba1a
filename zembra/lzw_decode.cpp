// The variable-length-code LZW decoder of GIF image data.
#include "gif.h"

#include <bit>
#include <cstring>

namespace zembra {
namespace {

constexpr uint32_t kTableSize = 4096;

uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

} // namespace

DecodeResult lzwDecode(const std::vector<uint8_t>& stream, int bitsPerPixel, uint8_t* out,
                       size_t count) {
    bool damaged = false;
    if (stream.empty()) return {0, true};
    int m = stream[0];
    if (m < 2 || m > 9) {
        m = m < 2 ? 2 : 9;
        damaged = true;
    }

    // Join the sub-blocks into one run of bytes (plus zero padding so that a
    // code can always be fetched with one 8-byte load).
    std::vector<uint8_t> buf;
    buf.reserve(stream.size() + 8);
    for (size_t i = 1; i < stream.size();) {
        size_t len = stream[i++];
        if (len == 0) break;
        if (len > stream.size() - i) len = stream.size() - i;
        buf.insert(buf.end(), stream.data() + i, stream.data() + i + len);
        i += len;
    }
    const size_t totalBits = buf.size() * 8;
    buf.resize(buf.size() + 8, 0);
    const uint8_t* in = buf.data();

    const uint32_t mask = (1u << bitsPerPixel) - 1;
    const uint32_t clear = 1u << m;
    const uint32_t end = clear + 1;
    uint32_t next = clear + 2;
    uint32_t size = uint32_t(m) + 1;
    uint32_t cap = 1u << size;

    // Each code's string is kept as (prefix code, last pixel) plus its length
    // and first pixel, so a string is written straight into the output from
    // its end backwards without a stack.
    uint16_t prefix[kTableSize];
    uint8_t suffix[kTableSize];
    uint8_t first[kTableSize];
    uint16_t length[kTableSize];
    for (uint32_t c = 0; c < clear; ++c) {
        prefix[c] = 0;
        suffix[c] = first[c] = uint8_t(c & mask);
        length[c] = 1;
    }

    size_t pos = 0;
    size_t bitPos = 0;
    bool havePrev = false;
    uint32_t prev = 0;

    // Writes the string of `code` followed by `extra` (when withExtra) at pos,
    // cut at the end of the picture.
    auto emit = [&](uint32_t code, bool withExtra, uint8_t extra) {
        size_t len = size_t(length[code]) + (withExtra ? 1 : 0);
        if (pos + len <= count) {
            uint8_t* p = out + pos + len - 1;
            if (withExtra) *p-- = extra;
            uint32_t c = code;
            while (c >= clear) {
                *p-- = suffix[c];
                c = prefix[c];
            }
            *p = suffix[c];
            pos += len;
            return;
        }
        uint8_t tmp[kTableSize + 1];
        uint8_t* p = tmp + len - 1;
        if (withExtra) *p-- = extra;
        uint32_t c = code;
        while (c >= clear) {
            *p-- = suffix[c];
            c = prefix[c];
        }
        *p = suffix[c];
        std::memcpy(out + pos, tmp, count - pos);
        pos = count;
    };

    while (pos < count) {
        if (bitPos + size > totalBits) break; // the data ends before the picture
        uint32_t code = uint32_t(load64(in + (bitPos >> 3)) >> (bitPos & 7)) & ((1u << size) - 1);
        bitPos += size;

        if (code == end) break;
        if (code == clear) {
            next = clear + 2;
            size = uint32_t(m) + 1;
            cap = 1u << size;
            havePrev = false;
            continue;
        }
        if (!havePrev) {
            // The first code after a clear is a single pixel. A string code here
            // has no table to refer to: damaged data, whose low bits are taken as
            // a literal (the pixel mask's bits, unless the frame claims more bits
            // per pixel than its codes carry).
            if (code > end) {
                damaged = true;
                code &= clear - 1;
            }
            out[pos++] = suffix[code];
            prev = code;
            havePrev = true;
            continue;
        }

        if (code > next) {
            // Beyond the table: damaged data. It is decoded as the code being
            // defined would be, from the previous string, so that a damaged frame
            // shows as much of the picture as its data holds, and it stands for that
            // new entry from here on.
            damaged = true;
            code = next;
        }
        uint8_t firstPixel;
        if (code < next) {
            firstPixel = first[code];
            emit(code, false, 0);
        } else {
            // The string being defined: the previous one plus its own first pixel.
            firstPixel = first[prev];
            emit(prev, true, firstPixel);
        }
        if (next < kTableSize) {
            prefix[next] = uint16_t(prev);
            suffix[next] = firstPixel;
            first[next] = first[prev];
            length[next] = uint16_t(length[prev] + 1);
            ++next;
            if (next == cap && size < 12) {
                ++size;
                cap <<= 1;
            }
        }
        prev = code;
    }
    return {pos, damaged};
}

} // namespace zembra
