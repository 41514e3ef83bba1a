// Reduction of a direct-colour bitmap to 256 colours: a histogram of the
// colours (coarsened until at most 2049 remain), the most frequent 256 as the
// palette, every other colour mapped to its nearest palette entry.
#include "gif.h"

#include <cstring>

namespace zembra {
namespace {

constexpr uint32_t kSlots = 5191;
constexpr size_t kMaxEntries = 2049;
constexpr uint16_t kEmpty = 0xFFFF;

struct Entry {
    uint8_t b, g, r;
    uint8_t index;
    uint32_t count;
    bool chosen;
};

} // namespace

BitmapPtr reduceColors(const ZBitmap& src) {
    const int32_t w = src.width, h = src.height;
    const int bytesPerPixel = src.bitsPerPixel / 8; // 3 or 4: blue, green, red[, x]
    BitmapPtr dst = createBitmap(w, h, 8);

    uint8_t mask[3] = {0xFF, 0xFF, 0xFF};       // blue, green, red
    static const int shiftOrder[3] = {0, 2, 1}; // blue, red, green
    int nextShift = 0;

    std::vector<uint16_t> slots(kSlots);
    std::vector<Entry> entries;
    entries.reserve(kMaxEntries);
    // Entry number of every pixel, in the bitmap's own row order.
    std::vector<uint16_t> pixelEntry(size_t(w) * size_t(h));

    for (;;) {
        std::fill(slots.begin(), slots.end(), kEmpty);
        entries.clear();
        bool full = false;
        const uint8_t mb = mask[0], mg = mask[1], mr = mask[2];
        uint32_t lastColor = 0xFFFFFFFF;
        uint16_t lastEntry = 0;
        // Counted in picture order, top row first (the last stored row), so
        // that of equally frequent colours the one nearest the top wins.
        for (int32_t y = h - 1; y >= 0 && !full; --y) {
            const uint8_t* row = src.bits + size_t(y) * size_t(src.stride);
            uint16_t* pe = pixelEntry.data() + size_t(y) * size_t(w);
            for (int32_t x = 0; x < w; ++x) {
                const uint8_t* px = row + size_t(x) * bytesPerPixel;
                const uint32_t b = px[0] & mb, g = px[1] & mg, r = px[2] & mr;
                const uint32_t c = b | g << 8 | r << 16;
                if (c == lastColor) {
                    ++entries[lastEntry].count;
                    pe[x] = lastEntry;
                    continue;
                }
                uint32_t slot = ((r + g) * (b + g) * (r + b)) % kSlots;
                uint16_t e;
                while ((e = slots[slot]) != kEmpty) {
                    const Entry& en = entries[e];
                    if (en.b == b && en.g == g && en.r == r) break;
                    slot = slot + 1 == kSlots ? 0 : slot + 1;
                }
                if (e == kEmpty) {
                    if (entries.size() == kMaxEntries) {
                        full = true;
                        break;
                    }
                    e = uint16_t(entries.size());
                    entries.push_back({uint8_t(b), uint8_t(g), uint8_t(r), 0, 1, false});
                    slots[slot] = e;
                } else {
                    ++entries[e].count;
                }
                pe[x] = e;
                lastColor = c;
                lastEntry = e;
            }
        }
        if (!full) break;
        int ch = shiftOrder[nextShift];
        mask[ch] = uint8_t(mask[ch] << 1);
        nextShift = (nextShift + 1) % 3;
    }

    // The palette: the most frequent colours, the earliest counted on a tie.
    ZPalette& pal = dst->palette;
    pal.count = 256;
    for (int i = 0; i < 256; ++i) {
        pal.rgbx[i][0] = pal.rgbx[i][1] = pal.rgbx[i][2] = 128;
        pal.rgbx[i][3] = 0;
    }
    const size_t picks = entries.size() < 256 ? entries.size() : 256;
    for (size_t k = 0; k < picks; ++k) {
        size_t best = 0;
        uint32_t bestCount = 0;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!entries[i].chosen && entries[i].count > bestCount) {
                bestCount = entries[i].count;
                best = i;
            }
        }
        Entry& e = entries[best];
        e.chosen = true;
        e.count = 0;
        e.index = uint8_t(k);
        pal.rgbx[k][0] = e.r;
        pal.rgbx[k][1] = e.g;
        pal.rgbx[k][2] = e.b;
    }
    for (Entry& e : entries) {
        if (e.chosen) continue;
        int best = 0;
        int bestDist = 1 << 30;
        for (size_t k = 0; k < picks; ++k) {
            int dr = int(e.r) - pal.rgbx[k][0], dg = int(e.g) - pal.rgbx[k][1],
                db = int(e.b) - pal.rgbx[k][2];
            int d = dr * dr + dg * dg + db * db;
            if (d < bestDist) {
                bestDist = d;
                best = int(k);
            }
        }
        e.index = uint8_t(best);
    }

    uint8_t lut[kMaxEntries];
    for (size_t i = 0; i < entries.size(); ++i) lut[i] = entries[i].index;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* out = dst->bits + size_t(y) * size_t(dst->stride);
        const uint16_t* pe = pixelEntry.data() + size_t(y) * size_t(w);
        for (int32_t x = 0; x < w; ++x) out[x] = lut[pe[x]];
    }
    return dst;
}

} // namespace zembra
