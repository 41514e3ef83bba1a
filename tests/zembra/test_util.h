// Shared helpers of the Zembra tests: temporary folders, reading files back
// with giflib, and unpacking frame bitmaps.
#pragma once

#include "gif.h"
#include "gif_bytes.h"
#include "zembra.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace ztest {

using gifbytes::Bytes;

class TempDir {
public:
    TempDir() {
        std::string t = (std::filesystem::temp_directory_path() / "zembra-test.XXXXXX").string();
        if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
        path_ = t;
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    size_t entries() const {
        return size_t(std::distance(std::filesystem::directory_iterator(path_),
                                    std::filesystem::directory_iterator()));
    }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

inline Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::unique_ptr<zembra::Animation> parse(const Bytes& b) {
    auto a = std::make_unique<zembra::Animation>();
    // An exactly sized heap copy, so that a read past the end is a read past
    // the allocation.
    std::unique_ptr<uint8_t[]> copy(new uint8_t[b.size() + 1]);
    std::copy(b.begin(), b.end(), copy.get());
    a->loadFromMemory(copy.get(), b.size());
    return a;
}

// Index values of a palette bitmap, top row first.
inline Bytes indexes(const ZBitmap* b) {
    Bytes out;
    if (!b) return out;
    for (int y = b->height - 1; y >= 0; --y) {
        const uint8_t* row = b->bits + size_t(y) * size_t(b->stride);
        for (int x = 0; x < b->width; ++x) {
            if (b->bitsPerPixel == 8)
                out.push_back(row[x]);
            else if (b->bitsPerPixel == 4)
                out.push_back((x & 1) ? row[x / 2] & 15 : row[x / 2] >> 4);
            else
                out.push_back((row[x / 8] >> (7 - x % 8)) & 1);
        }
    }
    return out;
}

inline uint32_t paletteColor(const ZPalette& p, int i) {
    return uint32_t(p.rgbx[i][0]) | uint32_t(p.rgbx[i][1]) << 8 | uint32_t(p.rgbx[i][2]) << 16;
}

// A palette bitmap made through the library's own allocator.
inline ZBitmap* makeBitmap(int w, int h, int bpp, const Bytes& topDownIndexes,
                           int paletteSeed = 0) {
    ZBitmap* b = ZCreateBitmap(w, h, bpp);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = b->bits + size_t(h - 1 - y) * size_t(b->stride);
        for (int x = 0; x < w; ++x) {
            uint8_t v = topDownIndexes[size_t(y) * w + x];
            if (bpp == 8)
                row[x] = v;
            else if (bpp == 4)
                row[x / 2] |= uint8_t((x & 1) ? v : v << 4);
            else
                row[x / 8] |= uint8_t(v << (7 - x % 8));
        }
    }
    for (int i = 0; i < (1 << bpp); ++i) {
        uint32_t c = gifbytes::colorOf((i + paletteSeed) & 255);
        b->palette.rgbx[i][0] = uint8_t(c);
        b->palette.rgbx[i][1] = uint8_t(c >> 8);
        b->palette.rgbx[i][2] = uint8_t(c >> 16);
    }
    return b;
}

// What giflib, as an independent reader, finds in a file.
struct PeerFrame {
    int left = 0, top = 0, width = 0, height = 0;
    Bytes index;                   // top row first
    std::vector<uint32_t> color;   // the colour of every pixel through its colour map
    std::vector<uint32_t> palette; // the colour map that applies
    int delay = -1, transparent = -1, disposal = -1;
};
struct PeerFile {
    bool ok = false;
    int screenWidth = 0, screenHeight = 0;
    std::vector<PeerFrame> frames;
    std::vector<std::string> comments; // every comment sub-block, in file order
    int loopCount = -1;
};

inline PeerFile readWithGiflib(const std::string& path) {
    PeerFile out;
    int err = 0;
    GifFileType* g = DGifOpenFileName(path.c_str(), &err);
    if (!g) return out;
    if (DGifSlurp(g) != GIF_OK) {
        DGifCloseFile(g, &err);
        return out;
    }
    out.ok = true;
    out.screenWidth = g->SWidth;
    out.screenHeight = g->SHeight;
    auto scan = [&](int count, ExtensionBlock* blocks) {
        int function = 0;
        for (int i = 0; i < count; ++i) {
            const ExtensionBlock& e = blocks[i];
            if (e.Function != CONTINUE_EXT_FUNC_CODE) function = e.Function;
            if (function == COMMENT_EXT_FUNC_CODE)
                out.comments.emplace_back(reinterpret_cast<char*>(e.Bytes), size_t(e.ByteCount));
            if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 &&
                std::string(reinterpret_cast<char*>(e.Bytes), 11) == "NETSCAPE2.0" &&
                i + 1 < count && blocks[i + 1].ByteCount >= 3)
                out.loopCount = blocks[i + 1].Bytes[1] | blocks[i + 1].Bytes[2] << 8;
        }
    };
    for (int i = 0; i < g->ImageCount; ++i) {
        const SavedImage& s = g->SavedImages[i];
        scan(s.ExtensionBlockCount, s.ExtensionBlocks);
        PeerFrame f;
        f.left = s.ImageDesc.Left;
        f.top = s.ImageDesc.Top;
        f.width = s.ImageDesc.Width;
        f.height = s.ImageDesc.Height;
        f.index.assign(s.RasterBits, s.RasterBits + size_t(f.width) * size_t(f.height));
        const ColorMapObject* cm = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : g->SColorMap;
        for (int k = 0; k < cm->ColorCount; ++k) {
            const GifColorType& c = cm->Colors[k];
            f.palette.push_back(uint32_t(c.Red) | uint32_t(c.Green) << 8 | uint32_t(c.Blue) << 16);
        }
        for (uint8_t v : f.index) {
            const GifColorType& c = cm->Colors[v < cm->ColorCount ? v : 0];
            f.color.push_back(uint32_t(c.Red) | uint32_t(c.Green) << 8 | uint32_t(c.Blue) << 16);
        }
        GraphicsControlBlock gcb;
        if (DGifSavedExtensionToGCB(g, i, &gcb) == GIF_OK) {
            f.delay = gcb.DelayTime;
            f.transparent = gcb.TransparentColor;
            f.disposal = gcb.DisposalMode;
        }
        out.frames.push_back(std::move(f));
    }
    scan(g->ExtensionBlockCount, g->ExtensionBlocks);
    DGifCloseFile(g, &err);
    return out;
}

} // namespace ztest
