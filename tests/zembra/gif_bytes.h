// Hand-built GIF byte streams for the tests: a block builder and a small
// textbook LZW encoder (a map from strings to codes), independent of the
// library's own encoder.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace gifbytes {

using Bytes = std::vector<uint8_t>;

// A distinct colour for every index 0..255.
inline uint32_t colorOf(int i) {
    uint32_t r = (i * 37 + 11) & 255, g = (i * 91 + 3) & 255, b = (i * 53 + 200) & 255;
    return r | g << 8 | b << 16;
}

// Packs (code, size) pairs least significant bit first.
inline Bytes packCodes(const std::vector<std::pair<int, int>>& codes) {
    Bytes out;
    uint32_t acc = 0;
    int bits = 0;
    for (auto [code, size] : codes) {
        acc |= uint32_t(code) << bits;
        bits += size;
        while (bits >= 8) {
            out.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits) out.push_back(uint8_t(acc));
    return out;
}

// GIF LZW with minimum code size m: clear first, codes grow up to 12 bits,
// a clear code when the table is full (or, with clearWhenFull false, the full
// table kept as it is), end code last.
inline Bytes lzw(const Bytes& px, int m, bool clearWhenFull = true) {
    const int clear = 1 << m, end = clear + 1;
    std::vector<std::pair<int, int>> codes;
    int size = m + 1, next = clear + 2;
    std::map<std::string, int> dict;
    codes.push_back({clear, size});
    std::string w;
    for (uint8_t p : px) {
        std::string wk = w + char(p);
        if (w.empty() || (wk.size() > 1 && dict.count(wk))) {
            w = wk;
            continue;
        }
        codes.push_back({w.size() == 1 ? uint8_t(w[0]) : dict[w], size});
        if (next < 4096) {
            dict[wk] = next++;
            if (next - 1 == (1 << size) && size < 12) ++size;
        }
        if (next == 4096 && clearWhenFull) {
            codes.push_back({clear, size});
            dict.clear();
            size = m + 1;
            next = clear + 2;
        }
        w = std::string(1, char(p));
    }
    if (!w.empty()) codes.push_back({w.size() == 1 ? uint8_t(w[0]) : dict[w], size});
    codes.push_back({end, size});
    return packCodes(codes);
}

// Data sub-blocks of at most `chunk` bytes and the terminator.
inline Bytes subBlocks(const Bytes& data, size_t chunk = 255, bool terminate = true) {
    Bytes out;
    for (size_t i = 0; i < data.size(); i += chunk) {
        size_t n = std::min(chunk, data.size() - i);
        out.push_back(uint8_t(n));
        out.insert(out.end(), data.begin() + i, data.begin() + i + n);
    }
    if (terminate) out.push_back(0);
    return out;
}

struct Gif {
    Bytes b;

    Gif& raw(const Bytes& x) {
        b.insert(b.end(), x.begin(), x.end());
        return *this;
    }
    Gif& u16(int v) { return raw({uint8_t(v), uint8_t(v >> 8)}); }
    Gif& table(int bits) {
        for (int i = 0; i < (1 << bits); ++i) {
            uint32_t c = colorOf(i);
            raw({uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
        }
        return *this;
    }
    // Signature, logical screen and a global table of 2^globalBits entries (0: none).
    Gif& header(int w, int h, int globalBits, const char* sig = "GIF89a", int bg = 0) {
        for (int i = 0; i < 6; ++i) b.push_back(uint8_t(sig[i]));
        u16(w).u16(h);
        raw({uint8_t(globalBits ? 0x80 | (globalBits - 1) << 4 | (globalBits - 1) : 0), uint8_t(bg),
             0});
        return globalBits ? table(globalBits) : *this;
    }
    Gif& gce(int packed, int delay, int transparent) {
        return raw({0x21, 0xF9, 4, uint8_t(packed), uint8_t(delay), uint8_t(delay >> 8),
                    uint8_t(transparent), 0});
    }
    Gif& comment(const std::vector<std::string>& blocks) {
        raw({0x21, 0xFE});
        for (const auto& s : blocks) {
            b.push_back(uint8_t(s.size()));
            b.insert(b.end(), s.begin(), s.end());
        }
        return raw({0});
    }
    Gif& app(const char* id11, const Bytes& sub) {
        raw({0x21, 0xFF, 11});
        for (int i = 0; i < 11; ++i) b.push_back(uint8_t(id11[i]));
        b.push_back(uint8_t(sub.size()));
        return raw(sub).raw({0});
    }
    // Image descriptor (+ local table of 2^localBits entries) without data.
    Gif& descriptor(int l, int t, int w, int h, int localBits = 0, bool interlaced = false) {
        b.push_back(0x2C);
        u16(l).u16(t).u16(w).u16(h);
        b.push_back(uint8_t((localBits ? 0x80 | (localBits - 1) : 0) | (interlaced ? 0x40 : 0)));
        return localBits ? table(localBits) : *this;
    }
    // A whole image: descriptor, minimum code size m, LZW data of the pixels.
    Gif& image(int l, int t, int w, int h, const Bytes& px, int m, int localBits = 0,
               bool interlaced = false) {
        descriptor(l, t, w, h, localBits, interlaced);
        b.push_back(uint8_t(m));
        return raw(subBlocks(lzw(px, m)));
    }
    Gif& trailer() { return raw({0x3B}); }
};

} // namespace gifbytes
