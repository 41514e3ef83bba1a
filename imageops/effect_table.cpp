#include "imageops/effect_table.h"

#include <array>
#include <vector>

namespace {

// Rows gain their function when the effect is built.
constexpr EffectRow Row(int id, const char* name, EffectBuffer buffer, const char* dialog) {
    return EffectRow{id, name, buffer, nullptr, nullptr, dialog};
}
constexpr EffectBuffer P = EffectBuffer::Pixels24;
constexpr EffectBuffer B = EffectBuffer::Bgra32;

const std::array<EffectRow, kEffectCount> kEffects = {{
    Row(0, "Blur", P, "Blur Setting"),
    Row(1, "Brightness", P, "Adjust Brightness"),
    Row(2, "Contrast", P, "Adjust Contrast"),
    Row(3, "Adjust HSB", P, "Adjust HSB"),
    Row(4, "Invert R Color", P, nullptr),
    Row(5, "Invert G Color", P, nullptr),
    Row(6, "Invert B Color", P, nullptr),
    Row(7, "Grey Scale", P, nullptr),
    Row(8, "Contour", P, nullptr),
    Row(9, "Contarst Filter", P, nullptr),
    Row(10, "High Contarst Filter", P, nullptr),
    Row(11, "Prewitt", P, nullptr),
    Row(12, "Sobel", P, nullptr),
    Row(13, "Laplas", P, nullptr),
    Row(14, "Sharpen", P, nullptr),
    Row(15, "Emboss", P, nullptr),
    Row(16, "Swap R & B", P, nullptr),
    Row(17, "Swap R & G", P, nullptr),
    Row(18, "Swap B & G", P, nullptr),
    Row(19, "Wave", B, "Waves"),
    Row(20, "Ripple", B, "Ripple"),
    Row(21, "Wind", B, "Wind"),
    Row(22, "Red Eye Removal", B, "Red EYE Remover"),
    Row(23, "Cartoon", B, nullptr),
    Row(24, "Erode", P, nullptr),
    Row(25, "Cubism", B, "Cubism"),
    Row(26, "Van Gogh", B, "Van Gogh"),
    Row(27, "Advanced Emboss", B, "Advanced Emboss"),
    Row(28, "Soft Glow", B, "Soft Glow"),
    Row(29, "Whirl & Pinch", B, "Whirl & Pinch"),
    Row(30, "Neon", B, "Neon"),
    Row(31, "Video", B, "Video"),
    Row(32, "Super Nova", B, "Super Nova"),
    Row(33, "Oilify", B, "Oilify"),
}};

} // namespace

std::span<const EffectRow> EffectTable() {
    return kEffects;
}

const EffectRow* FindEffect(int id) {
    if (id < 0 || id >= kEffectCount) return nullptr;
    return &kEffects[size_t(id)];
}

void ApplyEffect(const EffectRow& row, BMP_File& image, const ProcessingSettings& s) {
    if (!row.Available() || image.Empty()) return;
    if (row.buffer == EffectBuffer::Pixels24) {
        row.inPlace(image, s);
        return;
    }
    const int w = image.Width(), h = image.Height();
    std::vector<uint8_t> src(image.PixelCount() * 4);
    image.ToBGRA(src.data());
    std::vector<uint8_t> dst(src);
    row.bgra(src.data(), dst.data(), w, h, s);
    image.FromBGRA(w, h, dst.data());
}
