// The LZW encoder of GIF image data: an open-addressing string table that is
// reset before codes would need more than 12 bits.
#include "gif.h"

#include <cstring>

namespace zembra {
namespace {

constexpr uint32_t kSlots = 17777;
constexpr uint32_t kLastCode = 4094;

// Packs codes least significant bit first into one run of bytes; the run is cut
// into sub-blocks afterwards.
struct BitWriter {
    std::vector<uint8_t>& out;
    uint64_t acc = 0;
    uint32_t bits = 0;

    void put(uint32_t code, uint32_t size) {
        acc |= uint64_t(code) << bits;
        bits += size;
        if (bits >= 32) {
            uint8_t b[4] = {uint8_t(acc), uint8_t(acc >> 8), uint8_t(acc >> 16),
                            uint8_t(acc >> 24)};
            out.insert(out.end(), b, b + 4);
            acc >>= 32;
            bits -= 32;
        }
    }
    void flush() {
        while (bits > 0) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits = bits > 8 ? bits - 8 : 0;
        }
    }
};

} // namespace

void lzwEncode(const uint8_t* bits, int32_t stride, int32_t width, int32_t height, int bpp,
               std::vector<uint8_t>& out) {
    // 1-bit pictures still use a minimum code size of 2, the smallest GIF allows.
    const uint32_t s = bpp == 1 ? 3 : uint32_t(bpp) + 1;
    const uint32_t clear = 1u << (s - 1);
    const uint32_t end = clear + 1;

    std::vector<uint8_t> stream;
    stream.reserve(size_t(width) * size_t(height) / 2 + 64);
    BitWriter w{stream};

    // Slot keys hold (prefix << 8 | pixel) + 1 so that 0 marks an empty slot.
    std::unique_ptr<uint32_t[]> key(new uint32_t[kSlots]);
    std::unique_ptr<uint16_t[]> value(new uint16_t[kSlots]);
    std::memset(key.get(), 0, kSlots * sizeof(uint32_t));

    uint32_t size = s;
    uint32_t cap = 1u << s;
    uint32_t last = end;
    w.put(clear, size);

    uint32_t prefix = 0;
    uint32_t hash = 0;
    uint32_t len = 0;
    std::vector<uint8_t> unpacked(bpp == 8 ? 0 : size_t(width));

    for (int32_t r = 0; r < height; ++r) {
        const uint8_t* row = bits + size_t(height - 1 - r) * size_t(stride);
        if (bpp == 4) {
            for (int32_t x = 0; x < width; ++x)
                unpacked[x] = (x & 1) ? (row[x >> 1] & 15) : (row[x >> 1] >> 4);
            row = unpacked.data();
        } else if (bpp == 1) {
            for (int32_t x = 0; x < width; ++x) unpacked[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
            row = unpacked.data();
        }
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            ++len;
            if (len == 1) {
                prefix = p;
                hash = p * 301 + 903;
                continue;
            }
            hash = ((p + len + 4) * hash) % kSlots;
            const uint32_t want = (prefix << 8 | p) + 1;
            uint32_t slot = hash;
            uint32_t k;
            while ((k = key[slot]) != 0 && k != want) slot = slot + 1 == kSlots ? 0 : slot + 1;
            if (k == want) {
                prefix = value[slot];
                continue;
            }
            w.put(prefix, size);
            ++last;
            key[slot] = want;
            value[slot] = uint16_t(last);
            prefix = p;
            hash = p * 301 + 903;
            len = 1;
            if (last == cap) {
                cap <<= 1;
                ++size;
            } else if (last == kLastCode) {
                w.put(prefix, size);
                w.put(clear, size);
                len = 0;
                last = end;
                size = s;
                cap = 1u << s;
                std::memset(key.get(), 0, kSlots * sizeof(uint32_t));
            }
        }
    }
    if (len > 0) w.put(prefix, size);
    w.put(end, size);
    w.flush();

    out.push_back(uint8_t(s - 1));
    out.reserve(out.size() + stream.size() + stream.size() / 255 + 2);
    for (size_t i = 0; i < stream.size(); i += 255) {
        size_t n = stream.size() - i < 255 ? stream.size() - i : 255;
        out.push_back(uint8_t(n));
        out.insert(out.end(), stream.begin() + ptrdiff_t(i), stream.begin() + ptrdiff_t(i + n));
    }
    out.push_back(0);
}

} // namespace zembra
