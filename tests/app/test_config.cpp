// The configuration file: its exact text form, the order of the settings keys,
// narrow and wide fields, and the reading rules that old and hand-edited files
// rely on.

#include "app/config_storage.h"
#include "app/settings_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <type_traits>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The settings keys in the order every configuration file has them.
const char* const kExpectedKeys[] = {
    "m_bFilterContrast", "m_bHighContrast", "m_bPrewitt", "m_bLaplas", "m_bSobel", "m_nBlurSize",
    "m_nBrightR", "m_nBrightG", "m_nBrightB", "m_nContrastR", "m_nContrastG", "m_nContrastB",
    "m_nHue", "m_nSaturation", "m_nBrightness", "m_bCrop", "m_bLight1", "m_bLightEdit1",
    "m_bLight2", "m_bLightEdit2", "m_bLight3", "m_bLightEdit3", "m_bResize", "m_nSizeX", "m_nSizeY",
    "Light1R", "Light1G", "Light1B", "Light2R", "Light2G", "Light2B", "Light3R", "Light3G",
    "Light3B", "m_cBmpWndOriginal.m_cRectTracker.m_rect.left",
    "m_cBmpWndOriginal.m_cRectTracker.m_rect.top", "m_cBmpWndOriginal.m_cRectTracker.m_rect.right",
    "m_cBmpWndOriginal.m_cRectTracker.m_rect.bottom",
    "m_cBmpWndDestination.m_cLightTracker1.m_rect.left",
    "m_cBmpWndDestination.m_cLightTracker1.m_rect.top",
    "m_cBmpWndDestination.m_cLightTracker1.m_rect.right",
    "m_cBmpWndDestination.m_cLightTracker1.m_rect.bottom",
    "m_cBmpWndDestination.m_cLightTracker2.m_rect.left",
    "m_cBmpWndDestination.m_cLightTracker2.m_rect.top",
    "m_cBmpWndDestination.m_cLightTracker2.m_rect.right",
    "m_cBmpWndDestination.m_cLightTracker2.m_rect.bottom",
    "m_cBmpWndDestination.m_cLightTracker3.m_rect.left",
    "m_cBmpWndDestination.m_cLightTracker3.m_rect.top",
    "m_cBmpWndDestination.m_cLightTracker3.m_rect.right",
    "m_cBmpWndDestination.m_cLightTracker3.m_rect.bottom", "m_rcLight1.left", "m_rcLight1.right",
    "m_rcLight1.top", "m_rcLight1.bottom", "m_rcLight2.left", "m_rcLight2.right", "m_rcLight2.top",
    "m_rcLight2.bottom", "m_rcLight3.left", "m_rcLight3.right", "m_rcLight3.top",
    "m_rcLight3.bottom", "m_cBmpWndOriginal.m_bCrop", "m_cBmpWndDestination.m_bLight1",
    "m_cBmpWndDestination.m_bLight2", "m_cBmpWndDestination.m_bLight3", "m_cBmpWndOriginal.CroprcT",
    "m_cBmpWndOriginal.CroprcL", "m_cBmpWndOriginal.CroprcB", "m_cBmpWndOriginal.CroprcR",
    "m_cBmpWndDestination.LightrcT1", "m_cBmpWndDestination.LightrcL1",
    "m_cBmpWndDestination.LightrcB1", "m_cBmpWndDestination.LightrcR1",
    "m_cBmpWndDestination.LightrcT2", "m_cBmpWndDestination.LightrcL2",
    "m_cBmpWndDestination.LightrcB2", "m_cBmpWndDestination.LightrcR2",
    "m_cBmpWndDestination.LightrcT3", "m_cBmpWndDestination.LightrcL3",
    "m_cBmpWndDestination.LightrcB3", "m_cBmpWndDestination.LightrcR3", "m_nRotate", "m_bFlipX",
    "m_bFlipY", "m_bSwapRG", "m_bSwapRB", "m_bSwapBG", "m_fRotateAngle", "m_bSetBorder",
    "m_sBorderName", "m_bSetMask", "m_sMaskName", "m_nMaskColorR", "m_nMaskColorG", "m_nMaskColorB",
    "m_nMosaicSize", "bMosaic", "bNoise", "bInvertMask", "fOpacityMask", "m_cBKGRotationColor.r",
    "m_cBKGRotationColor.g", "m_cBKGRotationColor.b", "m_bColorAdjusment", "m_caBlueGamma",
    "m_caBrightness", "m_caColorfulness", "m_caContrast", "m_caFlags", "m_caGreenGamma",
    "m_caIlluminantIndex", "m_caRedGamma", "m_caRedGreenTint", "m_caReferenceBlack",
    "m_caReferenceWhite", "m_caSize", "m_bColorFilter", "m_bColorFilter.m_nRMin",
    "m_ColorFilterDlg.m_nRMax", "m_ColorFilterDlg.m_nGMin", "m_ColorFilterDlg.m_nGMax",
    "m_ColorFilterDlg.m_nBMin", "m_ColorFilterDlg.m_nBMax", "m_ColorFilterDlg.m_bSynchro",
    "m_ColorFilterDlg.ftype", "m_bPerspective", "m_bPerspectiveVertical", "m_fAnglePerspective",
    "Array Of Effects", "Array_Of_Effects_Checks", "m_nStrengthNoise", "m_bSetNoise",
    "m_bSetRGBNoise", "m_nSliderNoiseR", "m_nSliderNoiseG", "m_nSliderNoiseB", "m_nAmplitudeWave",
    "m_nPhaseWave", "m_nWavelengthWave", "m_bSmearWave", "m_bReflectiveWave", "m_nAmplitudeRipple",
    "m_nPeriodRipple", "m_nPShiftRipple", "m_bAntialiasingRipple", "m_bRetainRipple",
    "m_nHorizontalRipple", "m_nEdgesRipple", "m_nSawtoothRipple", "m_nThresholdWind",
    "m_nStrengthWind", "m_nDirectionWind", "m_nAlgorithmWind", "m_nEdgeWind", "m_fTresholdCubism",
    "m_fStrengthCubism", "m_nfiltlenVangogh", "m_nnoisemagVangogh", "m_nintstepsVangogh",
    "m_nminvVangogh", "m_nmaxvVangogh", "m_n_channelVangogh", "m_n_operatorVangogh",
    "m_n_convolveVangogh", "m_fAzimuthEmboss", "m_fElevationEmboss", "m_fDepthEmboss",
    "m_bRadioEmboss", "m_nRadiusSoftGlow", "m_nBrightnessSoftGlow", "m_nSharpnessSoftGlow",
    "m_nRadiusWhirlPinch", "m_nPinchWhirlPinch", "m_nWhirlWhirlPinch", "m_nRadiusNeon",
    "m_nAmountNeon", "m_vvals.additive", "m_vvals.pattern_number", "m_vvals.rotated",
    "m_nvals.xcenter", "m_nvals.ycenter", "m_nvals.radius", "m_nvals.color.a", "m_nvals.color.r",
    "m_nvals.color.g", "m_nvals.color.b", "m_nvals.nspoke", "m_nvals.randomhue", "m_NovaColor",
    "m_ovals.exponent", "m_ovals.mask_size", "m_ovals.mode", "m_ovals.use_exponent_map",
    "m_ovals.use_mask_size_map",
    // Not in the oldest files: the border mode and thickness.
    "m_nBorderMode", "m_nBorderThickness"};

struct TempDir {
    fs::path path;
    TempDir() {
        path = fs::temp_directory_path() /
               ("pellorin-config-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(path);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string File(const std::string& name) const { return (path / name).string(); }
    static inline int counter = 0;
};

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Keys of the item lines of a serialised storage, in order.
std::vector<std::string> ItemKeys(const std::string& text) {
    std::vector<std::string> keys;
    std::istringstream in(text);
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line[0] == '[') {
            inSection = true;
            continue;
        }
        if (inSection && !line.empty()) keys.push_back(line.substr(0, line.find('=')));
    }
    return keys;
}

std::string ValueOf(const std::string& text, const std::string& key) {
    const std::string needle = "\n" + key + "=";
    size_t p = text.find(needle);
    if (p == std::string::npos) return "<missing>";
    p += needle.size();
    size_t e = text.find_first_of("\r\n", p);
    return text.substr(p, e - p);
}

std::string LoadText(ProcessingSettings& s, const std::string& body, TempDir& dir) {
    const std::string path = dir.File("in.qvc");
    WriteBytes(path, body);
    SettingsFile file(s);
    EXPECT_TRUE(file.Load(path));
    return path;
}

} // namespace

TEST(ConfigFile, KeysAreWrittenInFileOrder) {
    ProcessingSettings s;
    SettingsFile file(s);
    const auto keys = ItemKeys(file.storage.Serialize());
    ASSERT_EQ(keys.size(), std::size(kExpectedKeys));
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(keys[i], kExpectedKeys[i]) << "line " << i;
}

TEST(ConfigFile, DefaultTextFormAndLineEnds) {
    ProcessingSettings s;
    SettingsFile file(s);
    TempDir dir;
    const std::string path = dir.File("default.qvc");
    ASSERT_TRUE(file.Save(path));
    const std::string bytes = ReadBytes(path);
    // Every line ends in CR LF, none in a bare LF.
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    // The banner, then an empty line before the section header.
    EXPECT_NE(bytes.find("\r\n\r\n[Settings]\r\nm_bFilterContrast=0\r\n"), std::string::npos);
    EXPECT_EQ(ValueOf(bytes, "m_nSizeX"), "400");
    EXPECT_EQ(ValueOf(bytes, "m_fRotateAngle"), "0.000000");
    EXPECT_EQ(ValueOf(bytes, "Array Of Effects"), "0 ");
    EXPECT_EQ(ValueOf(bytes, "Array_Of_Effects_Checks"), "0 ");
    EXPECT_EQ(ValueOf(bytes, "m_caSize"), "24");
    EXPECT_EQ(ValueOf(bytes, "m_caRedGamma"), "10000");
    EXPECT_EQ(ValueOf(bytes, "m_nminvVangogh"), "-25");
    EXPECT_EQ(ValueOf(bytes, "m_bSmearWave"), "1");
    EXPECT_EQ(ValueOf(bytes, "m_nvals.color.g"), "0.390000");
    EXPECT_EQ(ValueOf(bytes, "m_ovals.exponent"), "8.000000");
    EXPECT_EQ(ValueOf(bytes, "m_NovaColor"), "16737113");
    EXPECT_EQ(ValueOf(bytes, "m_sMaskName"), "");
}

TEST(ConfigFile, EffectListArrays) {
    ProcessingSettings s;
    s.m_aEffects = {0, 33};
    s.m_aEffectChecks = {1, 0};
    SettingsFile file(s);
    const std::string text = file.storage.Serialize();
    EXPECT_EQ(ValueOf(text, "Array Of Effects"), "2 0 33 ");
    EXPECT_EQ(ValueOf(text, "Array_Of_Effects_Checks"), "2 1 0 ");
}

TEST(ConfigFile, EveryFieldRoundTrips) {
    ProcessingSettings a;
    // Give every stored field a value unlike its default and unlike the others.
    int n = 0;
    for (const SettingsField& f : SettingsFieldTable()) {
        void* p = f.address(a);
        ++n;
        switch (f.type) {
        case FieldType::Int32:
            *static_cast<int32_t*>(p) = 1000 * n - 70000;
            break;
        case FieldType::UInt8:
            *static_cast<uint8_t*>(p) = uint8_t(200 + n % 50);
            break;
        case FieldType::Int16:
            *static_cast<int16_t*>(p) = int16_t(-300 - n);
            break;
        case FieldType::UInt16:
            *static_cast<uint16_t*>(p) = uint16_t(60000 + n);
            break;
        case FieldType::Float:
            *static_cast<float*>(p) = -12.5f + float(n) * 0.25f;
            break;
        case FieldType::Double:
            *static_cast<double*>(p) = 3.141592 * n;
            break;
        case FieldType::String:
            *static_cast<std::string*>(p) = "/tmp/x y/" + std::to_string(n);
            break;
        case FieldType::IntArray:
            // Ticks are 0 or 1, one per effect, so both arrays keep that shape.
            *static_cast<std::vector<int32_t>*>(p) = {1, 0, 0, 1};
            break;
        default:
            FAIL() << "unexpected field type for " << f.key;
        }
    }
    TempDir dir;
    const std::string path = dir.File("all.qvc");
    SettingsFile out(a);
    ASSERT_TRUE(out.Save(path));

    ProcessingSettings b;
    SettingsFile in(b);
    ASSERT_TRUE(in.Load(path));
    for (const SettingsField& f : SettingsFieldTable()) {
        void* pa = f.address(a);
        void* pb = f.address(b);
        switch (f.type) {
        case FieldType::Int32:
            EXPECT_EQ(*static_cast<int32_t*>(pa), *static_cast<int32_t*>(pb)) << f.key;
            break;
        case FieldType::UInt8:
            EXPECT_EQ(*static_cast<uint8_t*>(pa), *static_cast<uint8_t*>(pb)) << f.key;
            break;
        case FieldType::Int16:
            EXPECT_EQ(*static_cast<int16_t*>(pa), *static_cast<int16_t*>(pb)) << f.key;
            break;
        case FieldType::UInt16:
            EXPECT_EQ(*static_cast<uint16_t*>(pa), *static_cast<uint16_t*>(pb)) << f.key;
            break;
        case FieldType::Float:
            EXPECT_EQ(*static_cast<float*>(pa), *static_cast<float*>(pb)) << f.key;
            break;
        case FieldType::Double:
            EXPECT_NEAR(*static_cast<double*>(pa), *static_cast<double*>(pb), 5e-7) << f.key;
            break;
        case FieldType::String:
            EXPECT_EQ(*static_cast<std::string*>(pa), *static_cast<std::string*>(pb)) << f.key;
            break;
        case FieldType::IntArray:
            EXPECT_EQ(*static_cast<std::vector<int32_t>*>(pa),
                      *static_cast<std::vector<int32_t>*>(pb))
                << f.key;
            break;
        default:
            break;
        }
    }
    // Fields that never reach the file keep their own values.
    EXPECT_EQ(b.m_nRedEyeThreshold, 50);
}

namespace {

// Every stored field by its member name, written out here rather than taken
// from the table under test: a row bound to the wrong member must show.
struct NamedField {
    const char* key;
    enum Kind { Int, Byte, Real } kind;
    void (*set)(ProcessingSettings&, int);
    double (*get)(const ProcessingSettings&);
};
#define NAMED(kind, key, member)                                                                   \
    NamedField {                                                                                   \
        key, NamedField::kind,                                                                     \
            [](ProcessingSettings& s, int v) {                                                     \
                s.member = static_cast<std::remove_reference_t<decltype(s.member)>>(               \
                    NamedField::kind == NamedField::Real ? v + 0.5 : v);                           \
            },                                                                                     \
            [](const ProcessingSettings& s) { return double(s.member); }                           \
    }
#define NI(key, member) NAMED(Int, key, member)
#define NB(key, member) NAMED(Byte, key, member)
#define NF(key, member) NAMED(Real, key, member)
const NamedField kNamedFields[] = {
    NI("m_bFilterContrast", m_bFilterContrast),
    NI("m_bHighContrast", m_bHighContrast),
    NI("m_bPrewitt", m_bPrewitt),
    NI("m_bLaplas", m_bLaplas),
    NI("m_bSobel", m_bSobel),
    NI("m_nBlurSize", m_nBlurSize),
    NI("m_nBrightR", m_nBrightR),
    NI("m_nBrightG", m_nBrightG),
    NI("m_nBrightB", m_nBrightB),
    NI("m_nContrastR", m_nContrastR),
    NI("m_nContrastG", m_nContrastG),
    NI("m_nContrastB", m_nContrastB),
    NI("m_nHue", m_nHue),
    NI("m_nSaturation", m_nSaturation),
    NI("m_nBrightness", m_nBrightness),
    NI("m_bCrop", m_bCrop),
    NI("m_bLight1", m_bLight[0]),
    NI("m_bLightEdit1", m_bLightEdit[0]),
    NI("m_bLight2", m_bLight[1]),
    NI("m_bLightEdit2", m_bLightEdit[1]),
    NI("m_bLight3", m_bLight[2]),
    NI("m_bLightEdit3", m_bLightEdit[2]),
    NI("m_bResize", m_bResize),
    NI("m_nSizeX", m_nSizeX),
    NI("m_nSizeY", m_nSizeY),
    NI("Light1R", m_LightColor[0].r),
    NI("Light1G", m_LightColor[0].g),
    NI("Light1B", m_LightColor[0].b),
    NI("Light2R", m_LightColor[1].r),
    NI("Light2G", m_LightColor[1].g),
    NI("Light2B", m_LightColor[1].b),
    NI("Light3R", m_LightColor[2].r),
    NI("Light3G", m_LightColor[2].g),
    NI("Light3B", m_LightColor[2].b),
    NI("m_cBmpWndOriginal.m_cRectTracker.m_rect.left", m_cBmpWndOriginal.m_cRectTracker.left),
    NI("m_cBmpWndOriginal.m_cRectTracker.m_rect.top", m_cBmpWndOriginal.m_cRectTracker.top),
    NI("m_cBmpWndOriginal.m_cRectTracker.m_rect.right", m_cBmpWndOriginal.m_cRectTracker.right),
    NI("m_cBmpWndOriginal.m_cRectTracker.m_rect.bottom", m_cBmpWndOriginal.m_cRectTracker.bottom),
    NI("m_cBmpWndDestination.m_cLightTracker1.m_rect.left",
       m_cBmpWndDestination[0].m_cLightTracker.left),
    NI("m_cBmpWndDestination.m_cLightTracker1.m_rect.top",
       m_cBmpWndDestination[0].m_cLightTracker.top),
    NI("m_cBmpWndDestination.m_cLightTracker1.m_rect.right",
       m_cBmpWndDestination[0].m_cLightTracker.right),
    NI("m_cBmpWndDestination.m_cLightTracker1.m_rect.bottom",
       m_cBmpWndDestination[0].m_cLightTracker.bottom),
    NI("m_cBmpWndDestination.m_cLightTracker2.m_rect.left",
       m_cBmpWndDestination[1].m_cLightTracker.left),
    NI("m_cBmpWndDestination.m_cLightTracker2.m_rect.top",
       m_cBmpWndDestination[1].m_cLightTracker.top),
    NI("m_cBmpWndDestination.m_cLightTracker2.m_rect.right",
       m_cBmpWndDestination[1].m_cLightTracker.right),
    NI("m_cBmpWndDestination.m_cLightTracker2.m_rect.bottom",
       m_cBmpWndDestination[1].m_cLightTracker.bottom),
    NI("m_cBmpWndDestination.m_cLightTracker3.m_rect.left",
       m_cBmpWndDestination[2].m_cLightTracker.left),
    NI("m_cBmpWndDestination.m_cLightTracker3.m_rect.top",
       m_cBmpWndDestination[2].m_cLightTracker.top),
    NI("m_cBmpWndDestination.m_cLightTracker3.m_rect.right",
       m_cBmpWndDestination[2].m_cLightTracker.right),
    NI("m_cBmpWndDestination.m_cLightTracker3.m_rect.bottom",
       m_cBmpWndDestination[2].m_cLightTracker.bottom),
    NI("m_rcLight1.left", m_rcLight[0].left),
    NI("m_rcLight1.right", m_rcLight[0].right),
    NI("m_rcLight1.top", m_rcLight[0].top),
    NI("m_rcLight1.bottom", m_rcLight[0].bottom),
    NI("m_rcLight2.left", m_rcLight[1].left),
    NI("m_rcLight2.right", m_rcLight[1].right),
    NI("m_rcLight2.top", m_rcLight[1].top),
    NI("m_rcLight2.bottom", m_rcLight[1].bottom),
    NI("m_rcLight3.left", m_rcLight[2].left),
    NI("m_rcLight3.right", m_rcLight[2].right),
    NI("m_rcLight3.top", m_rcLight[2].top),
    NI("m_rcLight3.bottom", m_rcLight[2].bottom),
    NI("m_cBmpWndOriginal.m_bCrop", m_cBmpWndOriginal.m_bCrop),
    NI("m_cBmpWndDestination.m_bLight1", m_cBmpWndDestination[0].m_bLight),
    NI("m_cBmpWndDestination.m_bLight2", m_cBmpWndDestination[1].m_bLight),
    NI("m_cBmpWndDestination.m_bLight3", m_cBmpWndDestination[2].m_bLight),
    NF("m_cBmpWndOriginal.CroprcT", m_cBmpWndOriginal.CroprcT),
    NF("m_cBmpWndOriginal.CroprcL", m_cBmpWndOriginal.CroprcL),
    NF("m_cBmpWndOriginal.CroprcB", m_cBmpWndOriginal.CroprcB),
    NF("m_cBmpWndOriginal.CroprcR", m_cBmpWndOriginal.CroprcR),
    NF("m_cBmpWndDestination.LightrcT1", m_cBmpWndDestination[0].LightrcT),
    NF("m_cBmpWndDestination.LightrcL1", m_cBmpWndDestination[0].LightrcL),
    NF("m_cBmpWndDestination.LightrcB1", m_cBmpWndDestination[0].LightrcB),
    NF("m_cBmpWndDestination.LightrcR1", m_cBmpWndDestination[0].LightrcR),
    NF("m_cBmpWndDestination.LightrcT2", m_cBmpWndDestination[1].LightrcT),
    NF("m_cBmpWndDestination.LightrcL2", m_cBmpWndDestination[1].LightrcL),
    NF("m_cBmpWndDestination.LightrcB2", m_cBmpWndDestination[1].LightrcB),
    NF("m_cBmpWndDestination.LightrcR2", m_cBmpWndDestination[1].LightrcR),
    NF("m_cBmpWndDestination.LightrcT3", m_cBmpWndDestination[2].LightrcT),
    NF("m_cBmpWndDestination.LightrcL3", m_cBmpWndDestination[2].LightrcL),
    NF("m_cBmpWndDestination.LightrcB3", m_cBmpWndDestination[2].LightrcB),
    NF("m_cBmpWndDestination.LightrcR3", m_cBmpWndDestination[2].LightrcR),
    NI("m_nRotate", m_nRotate),
    NI("m_bFlipX", m_bFlipX),
    NI("m_bFlipY", m_bFlipY),
    NI("m_bSwapRG", m_bSwapRG),
    NI("m_bSwapRB", m_bSwapRB),
    NI("m_bSwapBG", m_bSwapBG),
    NF("m_fRotateAngle", m_fRotateAngle),
    NI("m_bSetBorder", m_bSetBorder),
    NI("m_bSetMask", m_bSetMask),
    NI("m_nMaskColorR", m_nMaskColorR),
    NI("m_nMaskColorG", m_nMaskColorG),
    NI("m_nMaskColorB", m_nMaskColorB),
    NI("m_nMosaicSize", m_nMosaicSize),
    NI("bMosaic", bMosaic),
    NI("bNoise", bNoise),
    NI("bInvertMask", bInvertMask),
    NF("fOpacityMask", fOpacityMask),
    NB("m_cBKGRotationColor.r", m_cBKGRotationColor.r),
    NB("m_cBKGRotationColor.g", m_cBKGRotationColor.g),
    NB("m_cBKGRotationColor.b", m_cBKGRotationColor.b),
    NI("m_bColorAdjusment", m_bColorAdjusment),
    NI("m_caBlueGamma", m_ca.caBlueGamma),
    NI("m_caBrightness", m_ca.caBrightness),
    NI("m_caColorfulness", m_ca.caColorfulness),
    NI("m_caContrast", m_ca.caContrast),
    NI("m_caFlags", m_ca.caFlags),
    NI("m_caGreenGamma", m_ca.caGreenGamma),
    NI("m_caIlluminantIndex", m_ca.caIlluminantIndex),
    NI("m_caRedGamma", m_ca.caRedGamma),
    NI("m_caRedGreenTint", m_ca.caRedGreenTint),
    NI("m_caReferenceBlack", m_ca.caReferenceBlack),
    NI("m_caReferenceWhite", m_ca.caReferenceWhite),
    NI("m_caSize", m_ca.caSize),
    NI("m_bColorFilter", m_bColorFilter),
    NI("m_bColorFilter.m_nRMin", m_ColorFilterDlg.m_nRMin),
    NI("m_ColorFilterDlg.m_nRMax", m_ColorFilterDlg.m_nRMax),
    NI("m_ColorFilterDlg.m_nGMin", m_ColorFilterDlg.m_nGMin),
    NI("m_ColorFilterDlg.m_nGMax", m_ColorFilterDlg.m_nGMax),
    NI("m_ColorFilterDlg.m_nBMin", m_ColorFilterDlg.m_nBMin),
    NI("m_ColorFilterDlg.m_nBMax", m_ColorFilterDlg.m_nBMax),
    NI("m_ColorFilterDlg.m_bSynchro", m_ColorFilterDlg.m_bSynchro),
    NI("m_ColorFilterDlg.ftype", m_ColorFilterDlg.ftype),
    NI("m_bPerspective", m_bPerspective),
    NI("m_bPerspectiveVertical", m_bPerspectiveVertical),
    NF("m_fAnglePerspective", m_fAnglePerspective),
    NI("m_nStrengthNoise", m_nStrengthNoise),
    NI("m_bSetNoise", m_bSetNoise),
    NI("m_bSetRGBNoise", m_bSetRGBNoise),
    NI("m_nSliderNoiseR", m_nSliderNoiseR),
    NI("m_nSliderNoiseG", m_nSliderNoiseG),
    NI("m_nSliderNoiseB", m_nSliderNoiseB),
    NI("m_nAmplitudeWave", m_nAmplitudeWave),
    NI("m_nPhaseWave", m_nPhaseWave),
    NI("m_nWavelengthWave", m_nWavelengthWave),
    NB("m_bSmearWave", m_bSmearWave),
    NB("m_bReflectiveWave", m_bReflectiveWave),
    NI("m_nAmplitudeRipple", m_nAmplitudeRipple),
    NI("m_nPeriodRipple", m_nPeriodRipple),
    NI("m_nPShiftRipple", m_nPShiftRipple),
    NB("m_bAntialiasingRipple", m_bAntialiasingRipple),
    NB("m_bRetainRipple", m_bRetainRipple),
    NB("m_nHorizontalRipple", m_nHorizontalRipple),
    NI("m_nEdgesRipple", m_nEdgesRipple),
    NB("m_nSawtoothRipple", m_nSawtoothRipple),
    NI("m_nThresholdWind", m_nThresholdWind),
    NI("m_nStrengthWind", m_nStrengthWind),
    NI("m_nDirectionWind", m_nDirectionWind),
    NI("m_nAlgorithmWind", m_nAlgorithmWind),
    NI("m_nEdgeWind", m_nEdgeWind),
    NF("m_fTresholdCubism", m_fTresholdCubism),
    NF("m_fStrengthCubism", m_fStrengthCubism),
    NI("m_nfiltlenVangogh", m_nfiltlenVangogh),
    NI("m_nnoisemagVangogh", m_nnoisemagVangogh),
    NI("m_nintstepsVangogh", m_nintstepsVangogh),
    NI("m_nminvVangogh", m_nminvVangogh),
    NI("m_nmaxvVangogh", m_nmaxvVangogh),
    NI("m_n_channelVangogh", m_n_channelVangogh),
    NI("m_n_operatorVangogh", m_n_operatorVangogh),
    NI("m_n_convolveVangogh", m_n_convolveVangogh),
    NF("m_fAzimuthEmboss", m_fAzimuthEmboss),
    NF("m_fElevationEmboss", m_fElevationEmboss),
    NF("m_fDepthEmboss", m_fDepthEmboss),
    NI("m_bRadioEmboss", m_bRadioEmboss),
    NI("m_nRadiusSoftGlow", m_nRadiusSoftGlow),
    NI("m_nBrightnessSoftGlow", m_nBrightnessSoftGlow),
    NI("m_nSharpnessSoftGlow", m_nSharpnessSoftGlow),
    NI("m_nRadiusWhirlPinch", m_nRadiusWhirlPinch),
    NI("m_nPinchWhirlPinch", m_nPinchWhirlPinch),
    NI("m_nWhirlWhirlPinch", m_nWhirlWhirlPinch),
    NI("m_nRadiusNeon", m_nRadiusNeon),
    NI("m_nAmountNeon", m_nAmountNeon),
    NI("m_vvals.additive", m_vvals.additive),
    NI("m_vvals.pattern_number", m_vvals.pattern_number),
    NI("m_vvals.rotated", m_vvals.rotated),
    NI("m_nvals.xcenter", m_nvals.xcenter),
    NI("m_nvals.ycenter", m_nvals.ycenter),
    NI("m_nvals.radius", m_nvals.radius),
    NF("m_nvals.color.a", m_nvals.color.a),
    NF("m_nvals.color.r", m_nvals.color.r),
    NF("m_nvals.color.g", m_nvals.color.g),
    NF("m_nvals.color.b", m_nvals.color.b),
    NI("m_nvals.nspoke", m_nvals.nspoke),
    NI("m_nvals.randomhue", m_nvals.randomhue),
    NI("m_NovaColor", m_NovaColor),
    NF("m_ovals.exponent", m_ovals.exponent),
    NF("m_ovals.mask_size", m_ovals.mask_size),
    NI("m_ovals.mode", m_ovals.mode),
    NI("m_ovals.use_exponent_map", m_ovals.use_exponent_map),
    NI("m_ovals.use_mask_size_map", m_ovals.use_mask_size_map),
    NI("m_nBorderMode", m_nBorderPlacement[0]),
    NI("m_nBorderThickness", m_nBorderPlacement[1]),
};
#undef NF
#undef NB
#undef NI
#undef NAMED

// A value for the i-th named field unlike any other field's and unlike its
// default; bytes stay below 256.
int NamedValue(const NamedField& f, size_t i) {
    return f.kind == NamedField::Byte ? int(i) + 2 : 1000 + int(i);
}
std::string NamedText(const NamedField& f, size_t i) {
    const int v = NamedValue(f, i);
    return f.kind == NamedField::Real ? std::to_string(v) + ".500000" : std::to_string(v);
}

} // namespace

TEST(SettingsTable, EveryRowHasAFieldOfItsOwn) {
    // Two rows on one field (a key bound to its neighbour's member) would save
    // one value twice and lose the other; a row reaching past the record would
    // write outside it.
    auto width = [](FieldType t) -> size_t {
        switch (t) {
        case FieldType::UInt8:
            return 1;
        case FieldType::Int16:
        case FieldType::UInt16:
            return 2;
        case FieldType::Int32:
        case FieldType::Float:
            return 4;
        case FieldType::Double:
            return 8;
        case FieldType::Rect:
            return sizeof(IntRect);
        case FieldType::String:
            return sizeof(std::string);
        case FieldType::IntArray:
            return sizeof(std::vector<int32_t>);
        case FieldType::StringArray:
            return sizeof(std::vector<std::string>);
        }
        return 0;
    };
    ProcessingSettings s;
    const char* base = reinterpret_cast<const char*>(&s);
    struct Span {
        size_t begin, end;
        const char* key;
    };
    std::vector<Span> spans;
    for (const SettingsField& f : SettingsFieldTable()) {
        const char* p = static_cast<const char*>(f.address(s));
        ASSERT_GE(p, base) << f.key;
        const size_t begin = size_t(p - base), end = begin + width(f.type);
        ASSERT_GT(end, begin) << f.key;
        EXPECT_LE(end, sizeof(ProcessingSettings)) << f.key;
        spans.push_back({begin, end, f.key});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    for (size_t i = 1; i < spans.size(); ++i)
        EXPECT_LE(spans[i - 1].end, spans[i].begin)
            << "\"" << spans[i - 1].key << "\" and \"" << spans[i].key << "\" share a field";
}

TEST(ConfigFile, NamedMembersAreSavedAndLoadedUnderTheirOwnKeys) {
    // The named list covers every key of the file, and nothing else.
    std::set<std::string> named = {"m_sBorderName", "m_sMaskName", "Array Of Effects",
                                   "Array_Of_Effects_Checks"};
    for (const NamedField& f : kNamedFields) EXPECT_TRUE(named.insert(f.key).second) << f.key;
    std::set<std::string> stored;
    for (const SettingsField& f : SettingsFieldTable()) stored.insert(f.key);
    EXPECT_EQ(named, stored);

    // Saving: each member's value appears under its own key.
    ProcessingSettings a;
    for (size_t i = 0; i < std::size(kNamedFields); ++i)
        kNamedFields[i].set(a, NamedValue(kNamedFields[i], i));
    a.m_sBorderName = "/frames/wood.png";
    a.m_sMaskName = "/masks/oval.bmp";
    a.m_aEffects = {7, 0, 33};
    a.m_aEffectChecks = {0, 1, 1};
    const std::string text = SettingsFile(a).storage.Serialize();
    for (size_t i = 0; i < std::size(kNamedFields); ++i)
        EXPECT_EQ(ValueOf(text, kNamedFields[i].key), NamedText(kNamedFields[i], i))
            << kNamedFields[i].key;
    EXPECT_EQ(ValueOf(text, "m_sBorderName"), "/frames/wood.png");
    EXPECT_EQ(ValueOf(text, "m_sMaskName"), "/masks/oval.bmp");
    EXPECT_EQ(ValueOf(text, "Array Of Effects"), "3 7 0 33 ");
    EXPECT_EQ(ValueOf(text, "Array_Of_Effects_Checks"), "3 0 1 1 ");

    // Loading: a file written here, key by key, fills each member by name.
    std::string file = "banner\n\n[Settings]\n";
    for (size_t i = 0; i < std::size(kNamedFields); ++i)
        file += std::string(kNamedFields[i].key) + "=" + NamedText(kNamedFields[i], i) + "\n";
    file += "m_sBorderName=/b.png\nm_sMaskName=/m.png\nArray Of Effects=2 5 6 \n"
            "Array_Of_Effects_Checks=2 1 0 \n";
    ProcessingSettings b;
    TempDir dir;
    LoadText(b, file, dir);
    for (size_t i = 0; i < std::size(kNamedFields); ++i) {
        const NamedField& f = kNamedFields[i];
        const double want = NamedValue(f, i) + (f.kind == NamedField::Real ? 0.5 : 0.0);
        EXPECT_EQ(f.get(b), want) << f.key;
    }
    EXPECT_EQ(b.m_sBorderName, "/b.png");
    EXPECT_EQ(b.m_sMaskName, "/m.png");
    EXPECT_EQ(b.m_aEffects, (std::vector<int32_t>{5, 6}));
    EXPECT_EQ(b.m_aEffectChecks, (std::vector<int32_t>{1, 0}));
}

TEST(ConfigFile, NarrowFieldsKeepOnlyTheirLowBits) {
    ProcessingSettings s;
    TempDir dir;
    LoadText(s,
             "banner\n\n[Settings]\nm_caSize=65560\nm_caContrast=-50\nm_caRedGamma=75536\n"
             "m_cBKGRotationColor.r=300\nm_bSmearWave=256\nm_bRetainRipple=3\n"
             "m_ovals.exponent=2.123456789\nm_fRotateAngle=12.3456789\n",
             dir);
    EXPECT_EQ(s.m_ca.caSize, 24); // 65560 = 24 + 65536
    EXPECT_EQ(s.m_ca.caContrast, -50);
    EXPECT_EQ(s.m_ca.caRedGamma, 10000); // 75536 = 10000 + 65536
    EXPECT_EQ(s.m_cBKGRotationColor.r, 44);
    EXPECT_EQ(s.m_bSmearWave, 0);
    EXPECT_EQ(s.m_bRetainRipple, 3);
    // Neighbouring fields are untouched by the narrow writes.
    EXPECT_EQ(s.m_cBKGRotationColor.g, 0);
    EXPECT_EQ(s.m_ca.caFlags, 0);
    EXPECT_EQ(s.m_ca.caIlluminantIndex, 0);
    EXPECT_DOUBLE_EQ(s.m_ovals.exponent, 2.123456789); // doubles are read in full
    EXPECT_FLOAT_EQ(s.m_fRotateAngle, 12.3456789f);
}

TEST(ConfigFile, SectionAndKeyMatching) {
    TempDir dir;
    {
        ProcessingSettings s;
        LoadText(s, "x\n\n[settings]\nM_NSIZEX=123\n", dir);
        EXPECT_EQ(s.m_nSizeX, 123) << "section and key are matched ignoring case";
    }
    {
        ProcessingSettings s;
        LoadText(s, "x\r\n\r\n[Settings] \t\r\nm_nSizeY=77  \r\n", dir);
        EXPECT_EQ(s.m_nSizeY, 77) << "trailing blanks of header and value are trimmed";
    }
    {
        ProcessingSettings s;
        LoadText(s, "[Settings]\nm_nBlurSize=3\nm_nBlurSize=9\n", dir);
        EXPECT_EQ(s.m_nBlurSize, 9) << "the later duplicate wins";
    }
    {
        ProcessingSettings s;
        LoadText(s,
                 "m_nBlurSize=3\n[Other]\nm_nBlurSize=4\n[Settings]\nm_nHue=1\n[Next]\nm_"
                 "nSaturation=2\n",
                 dir);
        EXPECT_EQ(s.m_nBlurSize, 5) << "lines outside the section are not read";
        EXPECT_EQ(s.m_nHue, 1);
        EXPECT_EQ(s.m_nSaturation, 50);
    }
    {
        ProcessingSettings s;
        LoadText(s, "[Settings]\nm_nHue=7\nm_nSaturation=8", dir);
        EXPECT_EQ(s.m_nHue, 7);
        EXPECT_EQ(s.m_nSaturation, 50) << "a last line without LF is not taken";
    }
    {
        ProcessingSettings s;
        LoadText(
            s, "[Settings]\nm_nHue\nm_nBrightR= -12abc\nm_nBrightG=abc\nm_fRotateAngle=  +2.5e1x\n",
            dir);
        EXPECT_EQ(s.m_nHue, 0) << "a line without '=' reads an empty value";
        EXPECT_EQ(s.m_nBrightR, -12);
        EXPECT_EQ(s.m_nBrightG, 0);
        EXPECT_FLOAT_EQ(s.m_fRotateAngle, 25.0f);
    }
}

TEST(ConfigFile, OnlyKeysInTheFileChange) {
    ProcessingSettings s;
    s.m_nBlurSize = 17;
    s.m_sMaskName = "/keep/me.bmp";
    s.m_aEffects = {3, 4};
    s.m_aEffectChecks = {1, 1};
    TempDir dir;
    LoadText(s, "b\n\n[Settings]\nm_nHue=12\n", dir);
    EXPECT_EQ(s.m_nHue, 12);
    EXPECT_EQ(s.m_nBlurSize, 17);
    EXPECT_EQ(s.m_sMaskName, "/keep/me.bmp");
    EXPECT_EQ(s.m_aEffects, (std::vector<int32_t>{3, 4}));
}

TEST(ConfigFile, FailedLoadChangesNothing) {
    ProcessingSettings s;
    s.m_nHue = 9;
    SettingsFile file(s);
    TempDir dir;
    EXPECT_FALSE(file.Load(dir.File("missing.qvc")));
    WriteBytes(dir.File("noline.qvc"), "[Settings]m_nHue=1");
    EXPECT_FALSE(file.Load(dir.File("noline.qvc")));
    WriteBytes(dir.File("empty.qvc"), "");
    EXPECT_FALSE(file.Load(dir.File("empty.qvc")));
    EXPECT_EQ(s.m_nHue, 9);
}

TEST(ConfigFile, EffectArraysFromOddFiles) {
    TempDir dir;
    {
        ProcessingSettings s;
        LoadText(s, "[Settings]\nArray Of Effects=4 1 2\n", dir);
        EXPECT_EQ(s.m_aEffects, (std::vector<int32_t>{1, 2, 0, 0})) << "missing numbers count as 0";
    }
    {
        ProcessingSettings s;
        s.m_aEffects = {1};
        LoadText(s, "[Settings]\nArray Of Effects=-3 1 2\n", dir);
        EXPECT_TRUE(s.m_aEffects.empty()) << "a count below 1 empties the array";
    }
    {
        ProcessingSettings s;
        LoadText(s, "[Settings]\nArray Of Effects=2\t7\t8\n", dir);
        EXPECT_EQ(s.m_aEffects, (std::vector<int32_t>{7, 8})) << "tabs separate too";
    }
    {
        // A hostile count must not allocate billions of entries.
        ProcessingSettings s;
        LoadText(s, "[Settings]\nArray Of Effects=2000000000 1\n", dir);
        EXPECT_EQ(s.m_aEffects.size(), size_t(kMaxIniArrayEntries));
        EXPECT_EQ(s.m_aEffects[0], 1);
    }
}

TEST(ConfigFile, MissingTicksMeanTicked) {
    TempDir dir;
    ProcessingSettings s;
    LoadText(s, "[Settings]\nArray Of Effects=3 0 1 2 \nArray_Of_Effects_Checks=1 0 \n", dir);
    ASSERT_EQ(s.m_aEffectChecks.size(), 3u);
    EXPECT_EQ(s.m_aEffectChecks, (std::vector<int32_t>{0, 1, 1}));

    ProcessingSettings t;
    LoadText(t, "[Settings]\nArray Of Effects=1 5 \nArray_Of_Effects_Checks=3 0 1 1 \n", dir);
    EXPECT_EQ(t.m_aEffectChecks, (std::vector<int32_t>{0})) << "extra ticks are dropped";

    ProcessingSettings u;
    LoadText(u, "[Settings]\nArray Of Effects=2 5 6 \n", dir);
    EXPECT_EQ(u.m_aEffectChecks, (std::vector<int32_t>{1, 1}))
        << "a file without ticks applies its effects";
}

TEST(ConfigStorage, OtherValueKinds) {
    IntRect rect{1, -2, 300, 400};
    std::string text = "some text = with equals";
    std::vector<std::string> mails = {"a@b.c", "", "d e@f.g"};
    int32_t unknown = 42;
    CFileStorage storage("banner line 1\nbanner line 2");
    auto& part = storage.AddPartition("Upload");
    part.AddItem("Rect", &rect);
    part.AddItem("Text", &text, IniKind::Text);
    part.AddItem("Mails", &mails);
    part.AddRawItem("Odd", &unknown, 5, FieldType::Int32);
    const std::string out = storage.Serialize();
    EXPECT_EQ(out, "banner line 1\nbanner line 2\n\n[Upload]\nRect=1 -2 300 400\n"
                   "Text=some text = with equals\nMails=3 a@b.c\x01\x01"
                   "d e@f.g\x01\nOdd=ERR: UNKNOWN TYPE\n");

    IntRect r2;
    std::string t2;
    std::vector<std::string> m2 = {"old"};
    int32_t u2 = 7;
    CFileStorage back;
    auto& p2 = back.AddPartition("upload");
    p2.AddItem("rect", &r2);
    p2.AddItem("TEXT", &t2, IniKind::Text);
    p2.AddItem("Mails", &m2);
    p2.AddRawItem("Odd", &u2, 5, FieldType::Int32);
    ASSERT_TRUE(back.Parse(out));
    EXPECT_EQ(r2, rect);
    EXPECT_EQ(t2, text);
    EXPECT_EQ(m2, mails);
    EXPECT_EQ(u2, 7) << "items of an unknown kind are never read";

    // Rectangle values with missing numbers read 0 for them.
    ASSERT_TRUE(back.Parse("[upload]\nrect=5 6\n"));
    EXPECT_EQ(r2, (IntRect{5, 6, 0, 0}));
}

TEST(ConfigStorage, StringArrayKeepsOnlyTheEntriesPresent) {
    // A stored count larger than the entries that follow (a hand-edited or cut
    // file) must not invent empty addresses; an empty entry that is there stays.
    std::vector<std::string> mails = {"old"};
    CFileStorage storage;
    storage.AddPartition("Upload").AddItem("Mails", &mails);
    const struct {
        const char* line;
        std::vector<std::string> want;
    } cases[] = {
        {"Mails=3 a\x01"
         "b\x01\n",
         {"a", "b"}},
        {"Mails=2 a\x01\n", {"a"}},
        {"Mails=9 a\x01\x01"
         "c\x01\n",
         {"a", "", "c"}},
        {"Mails=3 a\x01\x01\n", {"a", ""}},
        {"Mails=4 \n", {}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(storage.Parse(std::string("[Upload]\n") + c.line));
        EXPECT_EQ(mails, c.want) << c.line;
    }
}

TEST(ConfigStorage, NumbersIgnoreTheLocale) {
    EXPECT_EQ(FormatFixed6(0.39f), "0.390000");
    EXPECT_EQ(FormatFixed6(-2.5), "-2.500000");
    EXPECT_EQ(FormatFixed6(1e10), "10000000000.000000");
    EXPECT_DOUBLE_EQ(ParseLeadingDouble(" -1.5e2zz"), -150.0);
    EXPECT_DOUBLE_EQ(ParseLeadingDouble(".5"), 0.5);
    EXPECT_DOUBLE_EQ(ParseLeadingDouble("x1"), 0.0);
    EXPECT_EQ(ParseLeadingInteger("  +42x"), 42);
    EXPECT_EQ(ParseLeadingInteger("--4"), 0);
    EXPECT_EQ(ParseLeadingInteger("99999999999999999999999"), INT64_MAX);
}

TEST(ConfigFile, SavesThroughLinksAndRefusesReadOnlyFiles) {
    ProcessingSettings s;
    SettingsFile file(s);
    TempDir dir;
    const std::string real = dir.File("real.qvc"), link = dir.File("link.qvc");
    WriteBytes(real, "old contents");
    fs::permissions(real, fs::perms(0640));
    fs::create_symlink(real, link);
    std::string msg;
    ASSERT_TRUE(file.Save(link, &msg)) << msg;
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(ReadBytes(real), file.storage.FileBytes());
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms(0640));

    const std::string ro = dir.File("ro.qvc");
    WriteBytes(ro, "old contents");
    fs::permissions(ro, fs::perms(0444));
    EXPECT_FALSE(file.Save(ro, &msg));
    EXPECT_EQ(msg, "cannot write " + ro + ": permission denied");
    EXPECT_EQ(ReadBytes(ro), "old contents");
}

TEST(ConfigFile, FailedSaveLeavesTheOldFile) {
    ProcessingSettings s;
    SettingsFile file(s);
    TempDir dir;
    EXPECT_FALSE(file.Save(dir.File("no/such/folder/x.qvc")));
    const std::string path = dir.File("keep.qvc");
    WriteBytes(path, "old contents");
    fs::create_directories(dir.File("blocker.qvc"));
    EXPECT_FALSE(file.Save(dir.File("blocker.qvc"))) << "a folder in the way is not replaced";
    ASSERT_TRUE(file.Save(path));
    EXPECT_NE(ReadBytes(path), "old contents");
    // No temporary files are left behind.
    int entries = 0;
    for (auto& e : fs::directory_iterator(dir.path)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 2);
}
