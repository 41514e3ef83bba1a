// Writing the animation as a GIF file: frames given as bitmaps are encoded,
// frames read from a file are copied through unchanged.
#include "gif.h"

#include "app/safe_save.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace zembra {
namespace {

int bitsFor(int count) {
    int b = 1;
    while (b < 8 && (1 << b) < count) ++b;
    return b;
}

bool validBitmap(const ZBitmap& b) {
    if (b.width < 0 || b.height < 0) return false;
    if (b.bitsPerPixel != 1 && b.bitsPerPixel != 4 && b.bitsPerPixel != 8 && b.bitsPerPixel != 24 &&
        b.bitsPerPixel != 32)
        return false;
    if (b.stride < rowBytes(b.width, b.bitsPerPixel)) return false;
    return b.bits != nullptr;
}

void encodeFrame(Animation& a, Frame& f) {
    const ZBitmap* b = f.bitmap.get();
    if (!b || b->width == 0 || b->height == 0) throw GifError(kErrNoData);
    if (!validBitmap(*b) || b->width > 65535 || b->height > 65535) throw GifError(kErrEncoding);
    BitmapPtr reduced;
    if (b->bitsPerPixel > 8) {
        reduced = reduceColors(*b);
        b = reduced.get();
    }
    const int colors = 1 << b->bitsPerPixel;

    EncodedData e;
    e.table.count = colors;
    for (int i = 0; i < colors; ++i) std::memcpy(&e.table.rgb[3 * i], b->palette.rgbx[i], 3);
    lzwEncode(b->bits, b->stride, b->width, b->height, b->bitsPerPixel, e.data);
    e.bitsPerPixel = bitsFor(colors);
    e.width = b->width;
    e.height = b->height;
    e.packed = 0;

    f.interlaced = false;
    if (a.header.global.count > 0) {
        f.localColors = true;
    } else {
        a.header.global = e.table;
        a.header.bitsPerPixel = e.bitsPerPixel;
        f.localColors = false;
    }
    f.enc = std::move(e);
    a.screenWidth = uint16_t(std::clamp<int64_t>(
        std::max<int64_t>(a.screenWidth, int64_t(f.left) + f.enc.width), 0, 65535));
    a.screenHeight = uint16_t(std::clamp<int64_t>(
        std::max<int64_t>(a.screenHeight, int64_t(f.top) + f.enc.height), 0, 65535));
}

// Brings the frame's graphic-control extension in line with its delay,
// transparency and disposal.
void updateGraphicControl(Animation& a, Frame& f) {
    Extension* gce = nullptr;
    for (auto& x : f.extensions)
        if (x.kind == ExtKind::GraphicControl) gce = &x;
    if (!gce && (f.delayMs || f.transparent != kNoColor || f.disposal != 0)) {
        Extension x;
        x.kind = ExtKind::GraphicControl;
        x.fixed = {4, 0, 0, 0, 0, 0};
        f.extensions.push_back(std::move(x));
        gce = &f.extensions.back();
    }
    if (gce) {
        uint32_t d = std::min<uint32_t>(f.delayMs / 10, 65535);
        gce->fixed[2] = uint8_t(d);
        gce->fixed[3] = uint8_t(d >> 8);
        const ColorTable& t = f.enc.table;
        // An index that already shows the transparent colour is kept: another
        // entry of the same colour would make other pixels transparent.
        int index = gce->fixed[4];
        if (f.transparent == kNoColor || index >= t.count || t.color(index) != f.transparent)
            index = t.find(f.transparent);
        if (index >= 0) {
            gce->fixed[4] = uint8_t(index);
            gce->fixed[1] |= 1;
        } else {
            gce->fixed[1] &= uint8_t(~1);
        }
        gce->fixed[1] = uint8_t((gce->fixed[1] & ~0x1C) | (f.disposal & 7) << 2);
    }
    std::erase_if(f.extensions, [](const Extension& x) {
        return x.kind == ExtKind::Comment && x.blocks.empty();
    });
    if (!f.extensions.empty()) a.raiseVersion(2);
}

struct Out {
    std::vector<uint8_t> v;
    void byte(uint8_t b) { v.push_back(b); }
    void u16(int64_t x) {
        uint16_t u = uint16_t(std::clamp<int64_t>(x, 0, 65535));
        v.push_back(uint8_t(u));
        v.push_back(uint8_t(u >> 8));
    }
    void bytes(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        v.insert(v.end(), b, b + n);
    }
    void blocks(const std::vector<std::string>& lines) {
        for (const std::string& s : lines) {
            if (s.empty()) continue;
            size_t n = std::min<size_t>(s.size(), 255);
            byte(uint8_t(n));
            bytes(s.data(), n);
        }
        byte(0);
    }
};

uint8_t label(ExtKind k) {
    switch (k) {
    case ExtKind::GraphicControl:
        return 0xF9;
    case ExtKind::PlainText:
        return 0x01;
    case ExtKind::Application:
        return 0xFF;
    case ExtKind::Comment:
        break;
    }
    return 0xFE;
}

// The stored stream of a damaged frame may lack its terminator; without one
// the blocks after it would be read as image data.
void writeImageData(Out& o, const std::vector<uint8_t>& d) {
    o.bytes(d.data(), d.size());
    size_t i = 1;
    while (i < d.size()) {
        if (d[i] == 0) return;
        i += size_t(d[i]) + 1;
    }
    o.byte(0);
}

} // namespace

std::vector<uint8_t> Animation::buildFile() {
    if (frames.empty()) throw GifError(kErrNoData);
    for (auto& f : frames) {
        if (f->enc.data.empty()) encodeFrame(*this, *f);
        updateGraphicControl(*this, *f);
    }
    if (!header.comment.empty()) raiseVersion(2);
    recomputeScreen();

    Out o;
    o.v.reserve(1024);
    o.bytes("GIF", 3);
    o.bytes(version >= 2 ? "89a" : "87a", 3);
    o.u16(screenWidth);
    o.u16(screenHeight);
    const ColorTable& g = header.global;
    if (g.count > 0) {
        int n = 0;
        for (int b = 1; b <= 8; ++b)
            if (g.count == (1 << b)) n = b;
        if (!n) throw GifError(kErrColors);
        int bpp = header.bitsPerPixel >= 1 && header.bitsPerPixel <= 8 ? header.bitsPerPixel : n;
        o.byte(uint8_t(0x80 + (n - 1) * 16 + (bpp - 1)));
        int bg = background != kNoColor ? std::max(0, g.find(background)) : 0;
        o.byte(uint8_t(bg));
    } else {
        o.byte(0);
        o.byte(0);
    }
    o.byte(header.aspect);
    if (g.count > 0) o.bytes(g.rgb.data(), size_t(g.count) * 3);

    if (looping && frames.size() > 1) {
        o.bytes("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        o.byte(uint8_t(repeat));
        o.byte(uint8_t(repeat >> 8));
        o.byte(0);
    }

    for (const auto& fp : frames) {
        const Frame& f = *fp;
        for (const Extension& x : f.extensions) {
            o.byte(0x21);
            o.byte(label(x.kind));
            o.bytes(x.fixed.data(), x.fixed.size());
            if (x.kind != ExtKind::GraphicControl) o.blocks(x.blocks);
        }
        o.byte(0x2C);
        o.u16(f.left);
        o.u16(f.top);
        o.u16(f.enc.width);
        o.u16(f.enc.height);
        int localBits = f.localColors ? bitsFor(f.enc.table.count) : 0;
        o.byte(uint8_t((f.localColors ? 0x80 + localBits - 1 : 0) | (f.interlaced ? 0x40 : 0)));
        if (f.localColors) o.bytes(f.enc.table.rgb.data(), size_t(3) << localBits);
        writeImageData(o, f.enc.data);
    }
    if (!header.comment.empty()) {
        o.byte(0x21);
        o.byte(0xFE);
        o.blocks(header.comment);
    }
    o.byte(';');
    return std::move(o.v);
}

void Animation::saveFile(const char* path) {
    if (!path || !*path) throw GifError(kErrRead);
    looping = true;
    std::vector<uint8_t> file = buildFile();

    // The file is built whole before anything touches the disk; the program's
    // one save helper then decides how it reaches the file (through links, never
    // over a read-only file, keeping permission bits, and without damaging the
    // old file when the write fails).
    std::string why;
    if (!SaveFileSafely(path, file.data(), file.size(), &why)) throw GifError(why);
}

} // namespace zembra
