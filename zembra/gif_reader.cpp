// Parsing a GIF file held in memory, and decoding frames on demand.
#include "gif.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zembra {
namespace {

// Every read is checked against the end of the data: a file may claim any
// size, count or length.
struct Reader {
    const uint8_t* p;
    size_t n;
    size_t pos = 0;

    bool atEnd() const { return pos >= n; }
    size_t left() const { return n - pos; }
    void need(size_t k) const {
        if (left() < k) throw GifError(kErrRead);
    }
    uint8_t byte() {
        need(1);
        return p[pos++];
    }
    uint16_t u16() {
        need(2);
        uint16_t v = uint16_t(p[pos] | p[pos + 1] << 8);
        pos += 2;
        return v;
    }
    void bytes(uint8_t* dst, size_t k) {
        need(k);
        std::memcpy(dst, p + pos, k);
        pos += k;
    }
    // Zero bytes between blocks are padding; 0 means the data has ended.
    uint8_t separator() {
        while (pos < n) {
            uint8_t b = p[pos++];
            if (b) return b;
        }
        return 0;
    }
    void readTable(ColorTable& t, int count) {
        t.count = count;
        bytes(t.rgb.data(), size_t(count) * 3);
    }
    void subBlocks(std::vector<std::string>& out) {
        while (pos < n) {
            size_t len = p[pos++];
            if (len == 0) break;
            need(len);
            out.emplace_back(reinterpret_cast<const char*>(p + pos), len);
            pos += len;
        }
    }
};

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameText(const uint8_t* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (lower(char(a[i])) != lower(b[i])) return false;
    return true;
}

Extension readExtension(Reader& r) {
    uint8_t label = r.byte();
    Extension e;
    switch (label) {
    case 0xF9:
        e.kind = ExtKind::GraphicControl;
        e.fixed.resize(6);
        r.bytes(e.fixed.data(), 6);
        break;
    case 0xFE:
        e.kind = ExtKind::Comment;
        r.subBlocks(e.blocks);
        break;
    case 0x01:
        e.kind = ExtKind::PlainText;
        e.fixed.resize(13);
        r.bytes(e.fixed.data(), 13);
        r.subBlocks(e.blocks);
        break;
    case 0xFF:
        e.kind = ExtKind::Application;
        e.fixed.resize(12);
        r.bytes(e.fixed.data(), 12);
        r.subBlocks(e.blocks);
        break;
    default: {
        char msg[64];
        std::snprintf(msg, sizeof msg, "Unrecognized extension block: %.2x", label);
        throw GifError(msg);
    }
    }
    return e;
}

// The application extension that asks for looping: its identifier matches as
// far as its block size says (never beyond the 11 bytes it holds).
bool applyLoopExtension(const Extension& e, Animation& a) {
    if (e.blocks.empty()) return false;
    size_t n = e.fixed[0];
    if (n > 11) n = 11;
    const uint8_t* id = e.fixed.data() + 1;
    if (std::memcmp(id, "NETSCAPE2.0", n) != 0 && std::memcmp(id, "ANIMEXTS1.0", n) != 0)
        return false;
    const std::string& b = e.blocks.front();
    if (b.size() < 3 || b[0] != 1) return false;
    a.looping = true;
    a.setRepeat(uint8_t(b[1]) | uint32_t(uint8_t(b[2])) << 8);
    return true;
}

int bitsForCount(int count) {
    for (int b = 1; b <= 8; ++b)
        if (count == (1 << b)) return b;
    throw GifError(kErrColors);
}

void readFrame(Reader& r, Animation& a, Frame& f) {
    EncodedData& e = f.enc;
    try {
        int32_t left = r.u16(), top = r.u16(), width = r.u16(), height = r.u16();
        uint8_t packed = r.byte();
        f.interlaced = (packed & 0x40) != 0;
        if (packed & 0x80) {
            r.readTable(e.table, 2 << (packed & 7));
            e.bitsPerPixel = (packed & 7) + 1;
            f.localColors = true;
        } else {
            e.table = ColorTable{};
            f.localColors = false;
        }
        // The LZW stream, kept as it is in the file. A sub-block that claims
        // more bytes than remain is dropped and the frame marked damaged.
        e.data.push_back(r.byte());
        while (!r.atEnd()) {
            size_t len = r.p[r.pos];
            if (len == 0) {
                e.data.push_back(0);
                ++r.pos;
                break;
            }
            if (r.left() < len + 1) {
                f.corrupted = true;
                r.pos = r.n;
                break;
            }
            e.data.insert(e.data.end(), r.p + r.pos, r.p + r.pos + len + 1);
            r.pos += len + 1;
        }
        if (width == 0) width = a.screenWidth;
        if (height == 0) height = a.screenHeight;
        f.left = left;
        f.top = top;
        e.width = width;
        e.height = height;
        e.packed = packed;
        if (!f.localColors) e.table = a.header.global;

        f.delayMs = 0;
        for (const Extension& x : f.extensions) {
            if (x.kind != ExtKind::GraphicControl) continue;
            uint8_t gp = x.fixed[1];
            if (gp & 1) {
                int index = x.fixed[4];
                if (index < e.table.count) f.transparent = e.table.color(index);
            } else {
                f.transparent = kNoColor;
            }
            uint32_t delay = uint32_t(x.fixed[2] | x.fixed[3] << 8) * 10u;
            if (delay > f.delayMs) f.delayMs = delay;
            f.disposal = (gp >> 2) & 7;
        }
    } catch (...) {
        e.data.clear();
        throw;
    }
}

} // namespace

void Animation::loadFromMemory(const uint8_t* data, size_t size) {
    clear();
    if (size == 0) return;
    Reader r{data, size};

    uint8_t sig[6];
    r.need(6);
    r.bytes(sig, 6);
    if (!sameText(sig, "GIF", 3)) throw GifError(kErrVersion);
    if (sameText(sig + 3, "87a", 3))
        version = 1;
    else if (sameText(sig + 3, "89a", 3))
        version = 2;
    else
        throw GifError(kErrVersion);

    screenWidth = r.u16();
    screenHeight = r.u16();
    uint8_t packed = r.byte();
    uint8_t bgIndex = r.byte();
    header.aspect = r.byte();
    header.bitsPerPixel = (packed & 7) + 1;
    header.colorResolution = ((packed >> 4) & 7) + 1;
    if (packed & 0x80) {
        r.readTable(header.global, 1 << header.bitsPerPixel);
        if (bgIndex < header.global.count) background = header.global.color(bgIndex);
    }

    std::vector<Extension> pending;
    uint8_t sep = r.separator();
    while (sep != 0 && sep != ';' && !r.atEnd()) {
        while (sep == '!') {
            Extension e = readExtension(r);
            if (e.kind == ExtKind::GraphicControl || e.kind == ExtKind::Comment) {
                pending.push_back(std::move(e));
            } else if (e.kind == ExtKind::PlainText) {
                pending.clear();
            } else {
                applyLoopExtension(e, *this);
            }
            sep = r.atEnd() ? ';' : r.separator();
        }
        if (sep == ',') {
            auto f = std::make_unique<Frame>();
            if (header.global.count > 0) f->enc.bitsPerPixel = bitsForCount(header.global.count);
            f->extensions = std::move(pending);
            pending.clear();
            readFrame(r, *this, *f);
            frames.push_back(std::move(f));
            sep = r.atEnd() ? ';' : r.separator();
            if (sep != '!' && sep != ',' && sep != ';') break;
        } else {
            if ((!header.comment.empty() || pending.empty()) && sep != 0 && sep != ';')
                throw GifError(kErrRead);
            for (const Extension& e : pending) {
                if (e.kind != ExtKind::Comment) continue;
                if (!header.comment.empty()) header.comment.emplace_back("\r\n\r\n");
                header.comment.insert(header.comment.end(), e.blocks.begin(), e.blocks.end());
            }
            pending.clear();
        }
    }

    if (!frames.empty()) {
        current = 0;
        try {
            decodeFrame(*frames[0]);
        } catch (...) {
            frames.erase(frames.begin());
            if (frames.empty()) current = -1;
            throw;
        }
    }
}

void Animation::loadFile(const char* path) {
    if (!path) throw GifError(kErrRead);
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw GifError(kErrRead);
    std::vector<uint8_t> data;
    try {
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) data.reserve(size_t(st.st_size));
        uint8_t chunk[65536];
        for (;;) {
            ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0) {
                if (errno == EINTR) continue;
                throw GifError(kErrRead);
            }
            if (got == 0) break;
            data.insert(data.end(), chunk, chunk + got);
        }
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
    loadFromMemory(data.data(), data.size());
}

void Animation::decodeFrame(Frame& f) {
    if (f.bitmap) return;
    if (f.enc.data.empty()) {
        f.bitmap = createBitmap(0, 0, 8);
        return;
    }
    const int bpp = f.enc.bitsPerPixel;
    int depth;
    if (bpp == 1)
        depth = 1;
    else if (bpp >= 2 && bpp <= 4)
        depth = 4;
    else if (bpp >= 5 && bpp <= 8)
        depth = 8;
    else
        throw GifError(kErrColors);

    const int32_t w = f.enc.width, h = f.enc.height;
    const size_t count = size_t(w) * size_t(h);
    if (maxDecodePixels && count > maxDecodePixels) throw std::bad_alloc();
    BitmapPtr bmp = createBitmap(w, h, depth);

    ZPalette& pal = bmp->palette;
    pal.count = 1 << depth;
    const ColorTable& t = f.enc.table;
    for (int i = 0; i < pal.count; ++i) {
        if (i < t.count) {
            pal.rgbx[i][0] = t.rgb[3 * i];
            pal.rgbx[i][1] = t.rgb[3 * i + 1];
            pal.rgbx[i][2] = t.rgb[3 * i + 2];
        } else {
            pal.rgbx[i][0] = pal.rgbx[i][1] = pal.rgbx[i][2] = 128;
        }
        pal.rgbx[i][3] = 0;
    }
    if (count == 0) {
        f.bitmap = std::move(bmp);
        return;
    }

    // Zero-filled on demand by the system, so a frame that claims a huge size
    // but carries little data costs little memory.
    std::unique_ptr<uint8_t, void (*)(void*)> lin(static_cast<uint8_t*>(std::calloc(count, 1)),
                                                  std::free);
    if (!lin) throw std::bad_alloc();
    const DecodeResult res = lzwDecode(f.enc.data, bpp, lin.get(), count);
    if (res.damaged) f.corrupted = true;
    // Rows the data never reached stay zero in the bitmap.
    const int32_t rows = int32_t((res.produced + size_t(w) - 1) / size_t(w));

    // Rows arrive top first, in four passes when interlaced; the bitmap is
    // stored bottom row first.
    const int32_t stride = bmp->stride;
    uint8_t* bits = bmp->bits;
    const bool interlaced = f.interlaced;
    static const int passStart[4] = {0, 4, 2, 1};
    static const int passStep[4] = {8, 8, 4, 2};
    int pass = 0;
    int32_t row = 0;
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* src = lin.get() + size_t(r) * size_t(w);
        uint8_t* dst = bits + size_t(h - 1 - row) * size_t(stride);
        if (depth == 8) {
            std::memcpy(dst, src, size_t(w));
        } else if (depth == 4) {
            int32_t x = 0;
            for (; x + 1 < w; x += 2) dst[x >> 1] = uint8_t(src[x] << 4 | src[x + 1]);
            if (x < w) dst[x >> 1] = uint8_t(src[x] << 4);
        } else {
            int32_t x = 0;
            for (; x + 8 <= w; x += 8) {
                const uint8_t* s = src + x;
                dst[x >> 3] = uint8_t(s[0] << 7 | s[1] << 6 | s[2] << 5 | s[3] << 4 | s[4] << 3 |
                                      s[5] << 2 | s[6] << 1 | s[7]);
            }
            if (x < w) {
                uint8_t v = 0;
                for (int k = 0; x + k < w; ++k) v = uint8_t(v | src[x + k] << (7 - k));
                dst[x >> 3] = v;
            }
        }
        if (!interlaced) {
            ++row;
        } else {
            row += passStep[pass];
            while (row >= h && pass < 3) {
                ++pass;
                row = passStart[pass];
            }
            if (row >= h) break;
        }
    }
    f.bitmap = std::move(bmp);
}

} // namespace zembra
