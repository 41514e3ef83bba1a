// BMP_File::DecodeBMP on arbitrary bytes. Whatever it accepts must survive our
// own writer and reader unchanged; whatever it refuses must leave the image as
// it was.

#include "app/bmp_file.h"
#include "tests/fuzz/fuzz_seeds.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!SeedFolder()) return 0;
    const int sizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {5, 4}, {7, 1}, {4, 9}};
    for (const auto& s : sizes) {
        BMP_File img;
        img.Create(s[0], s[1]);
        for (int y = 0; y < s[1]; ++y)
            for (int x = 0; x < s[0]; ++x)
                img.Pixel(x, y) = CColor24(uint8_t(x * 40), uint8_t(y * 30), uint8_t(x ^ y));
        WriteSeed("seed_" + std::to_string(s[0]) + "x" + std::to_string(s[1]) + ".bmp",
                  img.EncodeBMP());
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BMP_File img;
    img.Create(1, 1);
    img.Pixel(0, 0) = CColor24(1, 2, 3);
    if (!img.DecodeBMP(std::span<const uint8_t>(data, size))) {
        if (img.Width() != 1 || img.Height() != 1 || !(img.Pixel(0, 0) == CColor24(1, 2, 3)))
            std::abort();
        return 0;
    }
    BMP_File again;
    if (!again.DecodeBMP(img.EncodeBMP()) || !again.SameAs(img)) std::abort();
    return 0;
}
