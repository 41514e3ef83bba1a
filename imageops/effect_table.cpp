#include "imageops/effect_table.h"

#include "imageops/color.h"
#include "imageops/convolve.h"
#include "imageops/displacement.h"
#include "imageops/emboss_redeye.h"
#include "imageops/glow.h"
#include "imageops/oilify_cubism.h"
#include "imageops/supernova.h"
#include "imageops/video_effect.h"
#include "imageops/wind_vangogh.h"

#include <array>
#include <new>
#include <vector>

namespace {

// A row of an effect on the 24-bit picture itself, or on the 32-bit working
// buffers; the function's type says which.
constexpr EffectRow Row(int id, const char* name, EffectInPlaceFn fn, const char* dialog) {
    return EffectRow{id, name, EffectBuffer::Pixels24, fn, nullptr, dialog};
}
constexpr EffectRow Row(int id, const char* name, EffectBgraFn fn, const char* dialog) {
    return EffectRow{id, name, EffectBuffer::Bgra32, nullptr, fn, dialog};
}

template <KernelFilter F> void Filter(BMP_File& image, const ProcessingSettings&) {
    ApplyKernelFilter(image, F);
}
template <Channel C> void Invert(BMP_File& image, const ProcessingSettings&) {
    InvertChannel(image, C);
}
template <Channel A, Channel B> void Swap(BMP_File& image, const ProcessingSettings&) {
    SwapChannels(image, A, B);
}

void BlurEffect(BMP_File& image, const ProcessingSettings& s) {
    Blur(image, s.m_nBlurSize);
}
void BrightnessEffect(BMP_File& image, const ProcessingSettings& s) {
    AdjustBrightness(image, s.m_nBrightR, s.m_nBrightG, s.m_nBrightB);
}
void ContrastEffect(BMP_File& image, const ProcessingSettings& s) {
    AdjustContrast(image, s.m_nContrastR, s.m_nContrastG, s.m_nContrastB);
}
void HsbEffect(BMP_File& image, const ProcessingSettings& s) {
    AdjustHSB(image, s.m_nHue, s.m_nSaturation, s.m_nBrightness);
}
void GreyEffect(BMP_File& image, const ProcessingSettings&) {
    GreyScale(image);
}
void SharpenEffect(BMP_File& image, const ProcessingSettings&) {
    Sharpen(image);
}
void EmbossEffect(BMP_File& image, const ProcessingSettings&) {
    Emboss(image);
}
void ErodeEffect(BMP_File& image, const ProcessingSettings&) {
    Erode(image);
}
void CartoonEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings&) {
    Cartoon(src, dst, w, h);
}
void CubismEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    Cubism(src, dst, w, h, s.m_fTresholdCubism, s.m_fStrengthCubism);
}
void SoftGlowEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    SoftGlow(src, dst, w, h, double(s.m_nRadiusSoftGlow), s.m_nBrightnessSoftGlow / 100.0,
             s.m_nSharpnessSoftGlow / 100.0);
}
void NeonEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    Neon(src, dst, w, h, s.m_nRadiusNeon / 100.0, s.m_nAmountNeon / 100.0);
}
void SuperNovaEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    SuperNova(src, dst, w, h, s.m_nvals);
}
void OilifyEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    Oilify(src, dst, w, h, s.m_ovals);
}
void WaveEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    Wave(src, dst, w, h, WaveFromSettings(s));
}
void RippleEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    Ripple(src, dst, w, h, RippleFromSettings(s));
}
void WhirlPinchEffect(const uint8_t* src, uint8_t* dst, int w, int h, const ProcessingSettings& s) {
    WhirlPinch(src, dst, w, h, WhirlPinchFromSettings(s));
}
const std::array<EffectRow, kEffectCount> kEffects = {{
    Row(0, "Blur", BlurEffect, "Blur Setting"),
    Row(1, "Brightness", BrightnessEffect, "Adjust Brightness"),
    Row(2, "Contrast", ContrastEffect, "Adjust Contrast"),
    Row(3, "Adjust HSB", HsbEffect, "Adjust HSB"),
    Row(4, "Invert R Color", Invert<Channel::Red>, nullptr),
    Row(5, "Invert G Color", Invert<Channel::Green>, nullptr),
    Row(6, "Invert B Color", Invert<Channel::Blue>, nullptr),
    Row(7, "Grey Scale", GreyEffect, nullptr),
    Row(8, "Contour", Filter<KernelFilter::Contour>, nullptr),
    Row(9, "Contarst Filter", Filter<KernelFilter::ContrastFilter>, nullptr),
    Row(10, "High Contarst Filter", Filter<KernelFilter::HighContrastFilter>, nullptr),
    Row(11, "Prewitt", Filter<KernelFilter::Prewitt>, nullptr),
    Row(12, "Sobel", Filter<KernelFilter::Sobel>, nullptr),
    Row(13, "Laplas", Filter<KernelFilter::Laplas>, nullptr),
    Row(14, "Sharpen", SharpenEffect, nullptr),
    Row(15, "Emboss", EmbossEffect, nullptr),
    Row(16, "Swap R & B", Swap<Channel::Red, Channel::Blue>, nullptr),
    Row(17, "Swap R & G", Swap<Channel::Red, Channel::Green>, nullptr),
    Row(18, "Swap B & G", Swap<Channel::Blue, Channel::Green>, nullptr),
    Row(19, "Wave", WaveEffect, "Waves"),
    Row(20, "Ripple", RippleEffect, "Ripple"),
    Row(21, "Wind", WindEffect, "Wind"),
    Row(22, "Red Eye Removal", RedEyeRemovalEffect, "Red EYE Remover"),
    Row(23, "Cartoon", CartoonEffect, nullptr),
    Row(24, "Erode", ErodeEffect, nullptr),
    Row(25, "Cubism", CubismEffect, "Cubism"),
    Row(26, "Van Gogh", VanGoghEffect, "Van Gogh"),
    Row(27, "Advanced Emboss", AdvancedEmbossEffect, "Advanced Emboss"),
    Row(28, "Soft Glow", SoftGlowEffect, "Soft Glow"),
    Row(29, "Whirl & Pinch", WhirlPinchEffect, "Whirl & Pinch"),
    Row(30, "Neon", NeonEffect, "Neon"),
    Row(31, "Video", VideoEffect, "Video"),
    Row(32, "Super Nova", SuperNovaEffect, "Super Nova"),
    Row(33, "Oilify", OilifyEffect, "Oilify"),
}};

} // namespace

std::span<const EffectRow> EffectTable() {
    return kEffects;
}

const EffectRow* FindEffect(int id) {
    if (id < 0 || id >= kEffectCount) return nullptr;
    return &kEffects[size_t(id)];
}

bool ApplyEffect(const EffectRow& row, BMP_File& image, const ProcessingSettings& s) {
    if (!row.Available() || image.Empty()) return true;
    try {
        if (row.buffer == EffectBuffer::Pixels24) {
            row.inPlace(image, s);
            return true;
        }
        const int w = image.Width(), h = image.Height();
        std::vector<uint8_t> src(image.PixelCount() * 4);
        image.ToBGRA(src.data());
        std::vector<uint8_t> dst(src);
        row.bgra(src.data(), dst.data(), w, h, s);
        // Same size: the image keeps its pixel block.
        return image.FromBGRA(w, h, dst.data());
    } catch (const std::bad_alloc&) {
        return false;
    }
}
