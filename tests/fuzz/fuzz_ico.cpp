// The icon reader on arbitrary bytes, from memory. An accepted icon must decode
// its images, and what we write from it must read back to the same pixels.

#include "app/icon.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A PNG image inflates to the size its header claims; the program's limit
    // would let one claim gigabytes, more than the fuzzer's memory limit.
    BMP_File::SetMaxPixels(int64_t(1) << 24);
    if (!SeedFolder()) return 0;
    const int sizes[][2] = {{1, 1}, {3, 2}, {33, 5}, {16, 16}};
    for (const auto& s : sizes) {
        BMP_File img;
        img.Create(s[0], s[1]);
        for (int y = 0; y < s[1]; ++y)
            for (int x = 0; x < s[0]; ++x)
                img.Pixel(x, y) = CColor24(uint8_t(x * 9), uint8_t(y * 13), uint8_t(x + y));
        WriteSeed("seed_" + std::to_string(s[0]) + "x" + std::to_string(s[1]) + ".ico",
                  EncodeIcon(img));
    }
    // Every depth the reader knows, one icon each and one with all of them.
    CIcon all;
    for (int bpp : {1, 4, 8, 24, 32}) {
        CIcon one;
        if (one.AddImage(5, 3, bpp))
            WriteSeed("seed_depth" + std::to_string(bpp) + ".ico", one.Write());
        all.AddImage(2 + bpp / 8, 2, bpp);
    }
    WriteSeed("seed_all_depths.ico", all.Write());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIcon icon;
    if (!icon.Read(std::span<const uint8_t>(data, size))) return 0;
    std::vector<uint8_t> first;
    int w = 0, h = 0;
    if (!icon.GetBGRA(first, w, h)) {
        // Only a PNG image may fail here: its stream is checked by decoding it.
        if (!icon.SelectedImage()->IsPng()) std::abort();
        return 0;
    }
    if (first.size() != size_t(w) * size_t(h) * 4) std::abort();
    for (int i = 1; i < icon.ImageCount(); ++i) {
        std::vector<uint8_t> other;
        int ow = 0, oh = 0;
        if (icon.SelectImage(i)) icon.GetBGRA(other, ow, oh);
    }

    CIcon again;
    if (!again.Read(icon.Write()) || again.ImageCount() != icon.ImageCount()) std::abort();
    std::vector<uint8_t> reread;
    int rw = 0, rh = 0;
    if (!again.GetBGRA(reread, rw, rh) || rw != w || rh != h || reread != first) std::abort();

    BMP_File img;
    if (!DecodeIcon(std::span<const uint8_t>(data, size), img)) std::abort();
    if (img.Width() != w || img.Height() != h) std::abort();
    return 0;
}
