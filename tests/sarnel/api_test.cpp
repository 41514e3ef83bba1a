// The C interface of libsarnel.so: bitmaps, handles, colour spaces, rendering and
// the refusal of bad arguments.
#include "reference.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <array>
#include <memory>
#include <thread>

namespace {

struct Pixel {
    int r, g, b, a;
};

struct BitmapDeleter {
    void operator()(SR_Bitmap* b) const { SR_DeleteBitmap(b); }
};
using BitmapPtr = std::unique_ptr<SR_Bitmap, BitmapDeleter>;
struct ImageDeleter {
    void operator()(SR_Image* i) const { SR_UnloadBitmap(i); }
};
using ImagePtr = std::unique_ptr<SR_Image, ImageDeleter>;

BitmapPtr makeBitmap(const std::vector<Pixel>& pixels, int width) {
    const int height = int(pixels.size()) / width;
    BitmapPtr bm(SR_CreateBitmap(width, height));
    for (size_t i = 0; i < pixels.size(); ++i) {
        uint8_t* p =
            bm->pixels + (i / size_t(width)) * size_t(bm->stride) + 4 * (i % size_t(width));
        p[0] = uint8_t(pixels[i].b);
        p[1] = uint8_t(pixels[i].g);
        p[2] = uint8_t(pixels[i].r);
        p[3] = uint8_t(pixels[i].a);
    }
    return bm;
}

Pixel pixelAt(const SR_Bitmap* bm, int x, int y) {
    const uint8_t* p = bm->pixels + size_t(y) * size_t(bm->stride) + 4 * size_t(x);
    return {p[2], p[1], p[0], p[3]};
}

std::array<int, 3> planesAt(const SR_Image* img, int first, size_t i) {
    return {img->planes[size_t(first)].samples[i], img->planes[size_t(first + 1)].samples[i],
            img->planes[size_t(first + 2)].samples[i]};
}

ImagePtr load(const std::vector<Pixel>& pixels, int width) {
    BitmapPtr bm = makeBitmap(pixels, width);
    return ImagePtr(SR_LoadBitmap(bm.get()));
}

using Triple = std::array<int, 3>;

} // namespace

// ---------------------------------------------------------------------------
// Colour spaces

TEST(SarnelColour, RgbToHsvEdgeCases) {
    const std::vector<std::pair<Pixel, Triple>> cases = {
        {{100, 100, 100, 255}, {0, 0, 39}},  // grey: no hue, no saturation; 100*100/255
        {{0, 0, 0, 255}, {0, 0, 0}},         // black
        {{255, 0, 0, 255}, {0, 100, 100}},   // pure red
        {{0, 0, 255, 255}, {240, 100, 100}}, // pure blue
        {{0, 255, 0, 255}, {120, 100, 100}}, // pure green
        {{255, 0, 1, 255}, {359, 100, 100}}, // R max, G < B: 60 * (-1/255) + 360
        {{255, 128, 0, 255}, {30, 100, 100}},
        {{200, 100, 50, 255}, {20, 75, 78}}, // 60*50/150; 100*(1-50/200); 100*200/255
        // Single-precision steps: the hue 60 * 0.7f is 41.9999993 in doubles but
        // rounds to 42 in floats; the saturation's bracket 1 - 1/10 = 0.9f is rounded
        // to single precision but scaled by 100 in doubles, giving 89.99999 (not 90).
        {{10, 7, 0, 255}, {42, 100, 3}},
        {{10, 5, 1, 255}, {26, 89, 3}},
        // The hue's product by 60 and the sums after it stay in single precision:
        // 60 * -1/3f is -20.0000006 in doubles but -20 in floats, so 240 - 20 is 220,
        // not 219.99999; likewise 360 - 20 = 340 and 360 + 60 * -74/120f = 323.
        {{0, 1, 3, 255}, {220, 100, 1}},
        {{3, 0, 1, 255}, {340, 100, 1}},
        {{215, 95, 169, 255}, {323, 55, 84}},
    };
    std::vector<Pixel> pixels;
    for (const auto& c : cases) pixels.push_back(c.first);
    ImagePtr img = load(pixels, int(pixels.size()));
    ASSERT_TRUE(img);
    SR_ConvertSRB(img.get(), SR_MODE_HSV);
    ASSERT_EQ(img->mode, SR_MODE_HSV);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(planesAt(img.get(), 3, i), cases[i].second) << i;
    // The RGB planes are released, the HSV ones hold the picture.
    EXPECT_TRUE(img->planes[0].samples.empty());
    EXPECT_EQ(img->planes[0].width, int(pixels.size()));
}

TEST(SarnelColour, HsvToRgbTreatsHue360AsZero) {
    int16_t r0, g0, b0, r1, g1, b1;
    sarnel::hsvToRgb(0, 80, 90, r0, g0, b0);
    sarnel::hsvToRgb(360, 80, 90, r1, g1, b1);
    EXPECT_EQ(std::tie(r0, g0, b0), std::tie(r1, g1, b1));
    // v = 0.9, s = 0.8: (v, v(1 - s), v(1 - s)) * 255, truncated.
    EXPECT_EQ(r0, 229);
    EXPECT_EQ(g0, 45);
    EXPECT_EQ(b0, 45);
    // Computed in single precision: green is 0.96 * (1 - 0.9 * (1 - 0.5833)) * 255,
    // which lands just below 153 in floats (153.0 in doubles).
    int16_t r, g, b;
    sarnel::hsvToRgb(35, 90, 96, r, g, b);
    EXPECT_EQ(std::tie(r, g, b), std::make_tuple(int16_t(244), int16_t(152), int16_t(24)));
}

TEST(SarnelColour, HsvRoundTripLosesPrecision) {
    ImagePtr img = load({{255, 128, 0, 255}}, 1);
    SR_ConvertSRB(img.get(), SR_MODE_HSV);
    SR_ConvertSRB(img.get(), SR_MODE_RGB);
    // (30, 100, 100): h = 0.5, t = 1 - 0.5 -> 127.5, truncated.
    EXPECT_EQ(planesAt(img.get(), 0, 0), (Triple{255, 127, 0}));
    EXPECT_TRUE(img->planes[3].samples.empty());
}

TEST(SarnelColour, RgbToLabAndBack) {
    // Expected values worked out separately with the same sRGB / D65 formulas.
    const std::vector<std::tuple<Pixel, Triple, Triple>> cases = {
        {{255, 255, 255, 255}, {100, 0, 0}, {255, 255, 254}},
        {{0, 0, 0, 255}, {0, 0, 0}, {0, 0, 0}},
        {{255, 0, 0, 255}, {53, 80, 67}, {254, 0, 0}}, // green comes back as -1, clamped
        {{0, 0, 255, 255}, {32, 79, -107}, {10, 0, 252}},
        {{255, 128, 0, 255}, {67, 42, 74}, {253, 128, 0}},
        {{100, 100, 100, 255}, {42, 0, 0}, {99, 99, 99}},
    };
    std::vector<Pixel> pixels;
    for (const auto& c : cases) pixels.push_back(std::get<0>(c));
    ImagePtr img = load(pixels, 2);
    SR_ConvertSRB(img.get(), SR_MODE_LAB);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(planesAt(img.get(), 6, i), std::get<1>(cases[i])) << i;
    SR_ConvertSRB(img.get(), SR_MODE_RGB);
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(planesAt(img.get(), 0, i), std::get<2>(cases[i])) << i;
}

TEST(SarnelColour, ConvertToCurrentModeOnlyClamps) {
    ImagePtr img = load({{10, 20, 30, 255}, {40, 50, 60, 255}}, 2);
    SR_ConvertSRB(img.get(), SR_MODE_LAB);
    img->planes[7].samples[0] = 300; // a* beyond 127
    img->planes[6].samples[1] = -5;  // L* below 0
    const auto before = img->planes[8].samples;
    SR_ConvertSRB(img.get(), SR_MODE_LAB);
    EXPECT_EQ(img->planes[7].samples[0], 127);
    EXPECT_EQ(img->planes[6].samples[1], 0);
    EXPECT_EQ(img->planes[8].samples, before);
    EXPECT_EQ(img->mode, SR_MODE_LAB);
    // Unknown modes do nothing at all.
    img->planes[7].samples[0] = 300;
    SR_ConvertSRB(img.get(), 3);
    SR_ConvertSRB(img.get(), -1);
    EXPECT_EQ(img->planes[7].samples[0], 300);
    EXPECT_EQ(img->mode, SR_MODE_LAB);
}

// ---------------------------------------------------------------------------
// Rendering

TEST(SarnelRender, KeepsAlphaOfLoadedBitmap) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 12; ++i) pixels.push_back({i * 20, 255 - i * 20, i * 7, i * 21 + 3});
    ImagePtr img = load(pixels, 4);
    SR_MedianFilter(img.get(), SR_CHANNEL_RED, 3, 3);
    SR_ConvertSRB(img.get(), SR_MODE_LAB);
    BitmapPtr out(SR_GetBitmap(img.get()));
    ASSERT_TRUE(out);
    EXPECT_EQ(out->width, 4);
    EXPECT_EQ(out->height, 3);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(pixelAt(out.get(), i % 4, i / 4).a, pixels[size_t(i)].a) << i;
}

TEST(SarnelRender, RgbRenderingReturnsThePlanes) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 6; ++i) pixels.push_back({i * 40, i * 3, 255 - i, 255});
    ImagePtr img = load(pixels, 3);
    img->planes[0].samples[1] = 400; // out of range: rendered clamped
    img->planes[2].samples[2] = -20;
    BitmapPtr out(SR_GetBitmap(img.get()));
    EXPECT_EQ(pixelAt(out.get(), 1, 0).r, 255);
    EXPECT_EQ(pixelAt(out.get(), 2, 0).b, 0);
    EXPECT_EQ(pixelAt(out.get(), 2, 1).r, 200);
    EXPECT_EQ(pixelAt(out.get(), 2, 1).g, 15);
    EXPECT_EQ(pixelAt(out.get(), 2, 1).b, 250);
    EXPECT_EQ(img->planes[0].samples[1], 255); // the RGB planes were clamped
}

TEST(SarnelRender, HsvRenderingKeepsHsvModeWithRequantisedPlanes) {
    ImagePtr img = load({{255, 128, 0, 255}}, 1);
    SR_ConvertSRB(img.get(), SR_MODE_HSV);
    EXPECT_EQ(planesAt(img.get(), 3, 0), (Triple{30, 100, 100}));
    BitmapPtr first(SR_GetBitmap(img.get()));
    const Pixel p = pixelAt(first.get(), 0, 0);
    EXPECT_EQ(std::tie(p.r, p.g, p.b), std::make_tuple(255, 127, 0));
    EXPECT_EQ(img->mode, SR_MODE_HSV);
    EXPECT_TRUE(img->planes[0].samples.empty());
    // Recomputed from (255, 127, 0): 60 * 127/255 = 29.88.
    EXPECT_EQ(planesAt(img.get(), 3, 0), (Triple{29, 100, 100}));
    // Each rendering re-quantises: hue 29 gives green 255 * 29/60 = 123.25.
    BitmapPtr second(SR_GetBitmap(img.get()));
    EXPECT_EQ(pixelAt(second.get(), 0, 0).g, 123);
}

// ---------------------------------------------------------------------------
// Bad arguments

TEST(SarnelInterface, RefusesInvalidBitmaps) {
    EXPECT_EQ(SR_LoadBitmap(nullptr), nullptr);
    EXPECT_EQ(SR_CreateBitmap(0, 5), nullptr);
    EXPECT_EQ(SR_CreateBitmap(5, -1), nullptr);
    EXPECT_EQ(SR_CreateBitmap(1 << 20, 1 << 20), nullptr);
    uint8_t pixels[64] = {};
    SR_Bitmap bad{4, 2, 8, pixels}; // stride below 4 * width
    EXPECT_EQ(SR_LoadBitmap(&bad), nullptr);
    SR_Bitmap noPixels{2, 2, 8, nullptr};
    EXPECT_EQ(SR_LoadBitmap(&noPixels), nullptr);
    SR_Bitmap empty{0, 0, 0, pixels};
    EXPECT_EQ(SR_LoadBitmap(&empty), nullptr);
    // A caller's own bitmap with a wider stride is fine.
    SR_Bitmap wide{2, 2, 12, pixels};
    pixels[12 + 4 + 2] = 77; // red of (1, 1)
    ImagePtr img(SR_LoadBitmap(&wide));
    ASSERT_TRUE(img);
    EXPECT_EQ(img->planes[0].samples[3], 77);
    // Deleting what the library did not make, or twice, is ignored.
    SR_DeleteBitmap(&wide);
    SR_DeleteBitmap(nullptr);
    SR_Bitmap* made = SR_CreateBitmap(2, 2);
    SR_DeleteBitmap(made);
    SR_DeleteBitmap(made);
}

TEST(SarnelInterface, RefusesNullAndReleasedHandles) {
    SR_Image* img = load({{1, 2, 3, 4}, {5, 6, 7, 8}}, 2).release();
    SR_UnloadBitmap(img);
    for (SR_Image* h : {static_cast<SR_Image*>(nullptr), img}) {
        EXPECT_EQ(SR_GetBitmap(h), nullptr);
        SR_ConvertSRB(h, SR_MODE_HSV);
        SR_NormalFilter(h, 0, 3, 3);
        SR_MedianFilter(h, 0, 3, 3);
        SR_AdaptiveMedianFilter(h, 0, 3, 5);
        SR_ButterworthFilter(h, 0, 10, 5, 2);
        SR_NbGaussFilter(h, 0, 10, 1, 1, 2);
        SR_WienerFilterMoving(h, 0, 1, 0.1, 0.1, 0.01);
        SR_UnloadBitmap(h);
    }
}

TEST(SarnelInterface, FilterOnEmptyPlaneDoesNothing) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 20; ++i) pixels.push_back({i * 10, 50, 200 - i, 255});
    ImagePtr img = load(pixels, 5);
    const auto red = img->planes[0].samples;
    // RGB mode: every HSV and L*a*b* plane is empty.
    for (int ch = 3; ch < 9; ++ch) {
        SR_NormalFilter(img.get(), ch, 3, 3);
        SR_NormalGeomFilter(img.get(), ch, 3, 3);
        SR_NormalGarmonicFilter(img.get(), ch, 3, 3);
        SR_NormalContrGarmonicFilter(img.get(), ch, 3, 3, 1.0);
        SR_MinFilter(img.get(), ch, 3, 3);
        SR_MedianFilter(img.get(), ch, 3, 3);
        SR_MaxFilter(img.get(), ch, 3, 3);
        SR_MidPointFilter(img.get(), ch, 3, 3);
        SR_TrimmedMeanFilter(img.get(), ch, 3, 3, 2);
        SR_AdaptiveLocalFilter(img.get(), ch, 3, 3, 10);
        SR_AdaptiveMedianFilter(img.get(), ch, 3, 5);
        SR_ButterworthFilter(img.get(), ch, 3, 1, 2);
        SR_GaussFilter(img.get(), ch, 3, 1);
        SR_NbButterworthFilter(img.get(), ch, 3, 1, 1, 2);
        SR_WienerFilterTurb(img.get(), ch, 0.001, 0.01);
        SR_WienerFilterMoving(img.get(), ch, 1, 0.1, 0.1, 0.01);
        EXPECT_TRUE(img->planes[size_t(ch)].samples.empty()) << ch;
    }
    // Selectors outside 0..8 do nothing either.
    SR_MedianFilter(img.get(), -1, 3, 3);
    SR_MedianFilter(img.get(), 9, 3, 3);
    EXPECT_EQ(img->planes[0].samples, red);
    // And the handle still works.
    SR_MaxFilter(img.get(), SR_CHANNEL_RED, 3, 3);
    EXPECT_NE(img->planes[0].samples, red);
}

TEST(SarnelInterface, ExportsFilterTheNamedPlane) {
    std::vector<Pixel> pixels;
    for (int i = 0; i < 30; ++i)
        pixels.push_back({(i * 37) % 256, (i * 91) % 256, (i * 53) % 256, 255});
    ImagePtr img = load(pixels, 6);
    sarnel::Plane expected = img->planes[1];
    sarnel::medianFilter(expected, 3, 3);
    const auto red = img->planes[0].samples, blue = img->planes[2].samples;
    SR_MedianFilter(img.get(), SR_CHANNEL_GREEN, 3, 3);
    EXPECT_EQ(img->planes[1].samples, expected.samples);
    EXPECT_EQ(img->planes[0].samples, red);
    EXPECT_EQ(img->planes[2].samples, blue);
}

TEST(SarnelInterface, OnlyTheInterfaceIsExported) {
    void* lib = dlopen("libsarnel.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    const char* names[] = {"SR_CreateBitmap",
                           "SR_DeleteBitmap",
                           "SR_InitMath",
                           "SR_TerminateMath",
                           "SR_LoadBitmap",
                           "SR_GetBitmap",
                           "SR_UnloadBitmap",
                           "SR_ConvertSRB",
                           "SR_NormalFilter",
                           "SR_NormalGeomFilter",
                           "SR_NormalGarmonicFilter",
                           "SR_NormalContrGarmonicFilter",
                           "SR_MinFilter",
                           "SR_MedianFilter",
                           "SR_MaxFilter",
                           "SR_MidPointFilter",
                           "SR_TrimmedMeanFilter",
                           "SR_AdaptiveLocalFilter",
                           "SR_AdaptiveMedianFilter",
                           "SR_ButterworthFilter",
                           "SR_GaussFilter",
                           "SR_NbButterworthFilter",
                           "SR_NbGaussFilter",
                           "SR_WienerFilterTurb",
                           "SR_WienerFilterMoving"};
    for (const char* n : names) EXPECT_NE(dlsym(lib, n), nullptr) << n;
    // One entry point under two names.
    EXPECT_EQ(dlsym(lib, "SR_NbGaussFilter"), dlsym(lib, "SR_NbButterworthFilter"));
    EXPECT_EQ(dlsym(lib, "SR_TerminateMath"), dlsym(lib, "SR_InitMath"));
    // Internals stay hidden.
    EXPECT_EQ(dlsym(lib, "_ZN6sarnel12medianFilterERNS_5PlaneEii"), nullptr);
    dlclose(lib);
    SR_InitMath();
    SR_TerminateMath();
}

TEST(SarnelInterface, HandlesMayBeFilteredFromTwoThreadsAtOnce) {
    // The transform keeps no work storage between calls, so two handles can even be
    // filtered at the same time and give what each gives alone.
    std::vector<Pixel> a, b;
    for (int i = 0; i < 40 * 30; ++i) a.push_back({(i * 7) % 256, (i * 11) % 256, i % 256, 255});
    for (int i = 0; i < 33 * 21; ++i)
        b.push_back({(i * 5) % 256, (i * 3) % 256, (i * 13) % 256, 255});
    auto run = [](SR_Image* img) {
        for (int k = 0; k < 5; ++k) {
            SR_GaussFilter(img, SR_CHANNEL_RED, 4 + k, 3);
            SR_WienerFilterTurb(img, SR_CHANNEL_GREEN, 0.001, 0.01);
            SR_MedianFilter(img, SR_CHANNEL_BLUE, 5, 5);
        }
    };
    ImagePtr alone1 = load(a, 40), alone2 = load(b, 33);
    run(alone1.get());
    run(alone2.get());
    ImagePtr both1 = load(a, 40), both2 = load(b, 33);
    std::thread t1(run, both1.get()), t2(run, both2.get());
    t1.join();
    t2.join();
    for (size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(both1->planes[c].samples, alone1->planes[c].samples) << c;
        EXPECT_EQ(both2->planes[c].samples, alone2->planes[c].samples) << c;
    }
}

extern "C" int sarnel_c_client(void);

TEST(SarnelInterface, UsableFromC) {
    EXPECT_EQ(sarnel_c_client(), 30);
}
