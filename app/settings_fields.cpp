#include "app/settings_fields.h"

#include <array>

namespace {

#define FIELD(key, type, member)                                                                   \
    SettingsField {                                                                                \
        key, FieldType::type, [](ProcessingSettings& s) -> void* { return &s.member; }             \
    }
#define RECT4(prefix, rect)                                                                        \
    FIELD(prefix ".left", Int32, rect.left), FIELD(prefix ".top", Int32, rect.top),                \
        FIELD(prefix ".right", Int32, rect.right), FIELD(prefix ".bottom", Int32, rect.bottom)
// The light rectangles are stored left, right, top, bottom.
#define LIGHT_RECT(n)                                                                              \
    FIELD("m_rcLight" #n ".left", Int32, m_rcLight[n - 1].left),                                   \
        FIELD("m_rcLight" #n ".right", Int32, m_rcLight[n - 1].right),                             \
        FIELD("m_rcLight" #n ".top", Int32, m_rcLight[n - 1].top),                                 \
        FIELD("m_rcLight" #n ".bottom", Int32, m_rcLight[n - 1].bottom)
#define LIGHT_FRACTIONS(n)                                                                         \
    FIELD("m_cBmpWndDestination.LightrcT" #n, Float, m_cBmpWndDestination[n - 1].LightrcT),        \
        FIELD("m_cBmpWndDestination.LightrcL" #n, Float, m_cBmpWndDestination[n - 1].LightrcL),    \
        FIELD("m_cBmpWndDestination.LightrcB" #n, Float, m_cBmpWndDestination[n - 1].LightrcB),    \
        FIELD("m_cBmpWndDestination.LightrcR" #n, Float, m_cBmpWndDestination[n - 1].LightrcR)
#define LIGHT_COLOR(n)                                                                             \
    FIELD("Light" #n "R", Int32, m_LightColor[n - 1].r),                                           \
        FIELD("Light" #n "G", Int32, m_LightColor[n - 1].g),                                       \
        FIELD("Light" #n "B", Int32, m_LightColor[n - 1].b)

const auto kFields = std::to_array<SettingsField>({
    FIELD("m_bFilterContrast", Int32, m_bFilterContrast),
    FIELD("m_bHighContrast", Int32, m_bHighContrast),
    FIELD("m_bPrewitt", Int32, m_bPrewitt),
    FIELD("m_bLaplas", Int32, m_bLaplas),
    FIELD("m_bSobel", Int32, m_bSobel),

    FIELD("m_nBlurSize", Int32, m_nBlurSize),
    FIELD("m_nBrightR", Int32, m_nBrightR),
    FIELD("m_nBrightG", Int32, m_nBrightG),
    FIELD("m_nBrightB", Int32, m_nBrightB),
    FIELD("m_nContrastR", Int32, m_nContrastR),
    FIELD("m_nContrastG", Int32, m_nContrastG),
    FIELD("m_nContrastB", Int32, m_nContrastB),
    FIELD("m_nHue", Int32, m_nHue),
    FIELD("m_nSaturation", Int32, m_nSaturation),
    FIELD("m_nBrightness", Int32, m_nBrightness),

    FIELD("m_bCrop", Int32, m_bCrop),
    FIELD("m_bLight1", Int32, m_bLight[0]),
    FIELD("m_bLightEdit1", Int32, m_bLightEdit[0]),
    FIELD("m_bLight2", Int32, m_bLight[1]),
    FIELD("m_bLightEdit2", Int32, m_bLightEdit[1]),
    FIELD("m_bLight3", Int32, m_bLight[2]),
    FIELD("m_bLightEdit3", Int32, m_bLightEdit[2]),
    FIELD("m_bResize", Int32, m_bResize),
    FIELD("m_nSizeX", Int32, m_nSizeX),
    FIELD("m_nSizeY", Int32, m_nSizeY),

    LIGHT_COLOR(1),
    LIGHT_COLOR(2),
    LIGHT_COLOR(3),

    RECT4("m_cBmpWndOriginal.m_cRectTracker.m_rect", m_cBmpWndOriginal.m_cRectTracker),
    RECT4("m_cBmpWndDestination.m_cLightTracker1.m_rect", m_cBmpWndDestination[0].m_cLightTracker),
    RECT4("m_cBmpWndDestination.m_cLightTracker2.m_rect", m_cBmpWndDestination[1].m_cLightTracker),
    RECT4("m_cBmpWndDestination.m_cLightTracker3.m_rect", m_cBmpWndDestination[2].m_cLightTracker),

    LIGHT_RECT(1),
    LIGHT_RECT(2),
    LIGHT_RECT(3),

    FIELD("m_cBmpWndOriginal.m_bCrop", Int32, m_cBmpWndOriginal.m_bCrop),
    FIELD("m_cBmpWndDestination.m_bLight1", Int32, m_cBmpWndDestination[0].m_bLight),
    FIELD("m_cBmpWndDestination.m_bLight2", Int32, m_cBmpWndDestination[1].m_bLight),
    FIELD("m_cBmpWndDestination.m_bLight3", Int32, m_cBmpWndDestination[2].m_bLight),

    FIELD("m_cBmpWndOriginal.CroprcT", Float, m_cBmpWndOriginal.CroprcT),
    FIELD("m_cBmpWndOriginal.CroprcL", Float, m_cBmpWndOriginal.CroprcL),
    FIELD("m_cBmpWndOriginal.CroprcB", Float, m_cBmpWndOriginal.CroprcB),
    FIELD("m_cBmpWndOriginal.CroprcR", Float, m_cBmpWndOriginal.CroprcR),
    LIGHT_FRACTIONS(1),
    LIGHT_FRACTIONS(2),
    LIGHT_FRACTIONS(3),

    FIELD("m_nRotate", Int32, m_nRotate),
    FIELD("m_bFlipX", Int32, m_bFlipX),
    FIELD("m_bFlipY", Int32, m_bFlipY),
    FIELD("m_bSwapRG", Int32, m_bSwapRG),
    FIELD("m_bSwapRB", Int32, m_bSwapRB),
    FIELD("m_bSwapBG", Int32, m_bSwapBG),

    FIELD("m_fRotateAngle", Float, m_fRotateAngle),
    FIELD("m_bSetBorder", Int32, m_bSetBorder),
    FIELD("m_sBorderName", String, m_sBorderName),
    FIELD("m_bSetMask", Int32, m_bSetMask),
    FIELD("m_sMaskName", String, m_sMaskName),
    FIELD("m_nMaskColorR", Int32, m_nMaskColorR),
    FIELD("m_nMaskColorG", Int32, m_nMaskColorG),
    FIELD("m_nMaskColorB", Int32, m_nMaskColorB),
    FIELD("m_nMosaicSize", Int32, m_nMosaicSize),
    FIELD("bMosaic", Int32, bMosaic),
    FIELD("bNoise", Int32, bNoise),
    FIELD("bInvertMask", Int32, bInvertMask),
    FIELD("fOpacityMask", Float, fOpacityMask),

    FIELD("m_cBKGRotationColor.r", UInt8, m_cBKGRotationColor.r),
    FIELD("m_cBKGRotationColor.g", UInt8, m_cBKGRotationColor.g),
    FIELD("m_cBKGRotationColor.b", UInt8, m_cBKGRotationColor.b),
    FIELD("m_bColorAdjusment", Int32, m_bColorAdjusment),

    FIELD("m_caBlueGamma", UInt16, m_ca.caBlueGamma),
    FIELD("m_caBrightness", Int16, m_ca.caBrightness),
    FIELD("m_caColorfulness", Int16, m_ca.caColorfulness),
    FIELD("m_caContrast", Int16, m_ca.caContrast),
    FIELD("m_caFlags", UInt16, m_ca.caFlags),
    FIELD("m_caGreenGamma", UInt16, m_ca.caGreenGamma),
    FIELD("m_caIlluminantIndex", UInt16, m_ca.caIlluminantIndex),
    FIELD("m_caRedGamma", UInt16, m_ca.caRedGamma),
    FIELD("m_caRedGreenTint", Int16, m_ca.caRedGreenTint),
    FIELD("m_caReferenceBlack", UInt16, m_ca.caReferenceBlack),
    FIELD("m_caReferenceWhite", UInt16, m_ca.caReferenceWhite),
    FIELD("m_caSize", UInt16, m_ca.caSize),

    FIELD("m_bColorFilter", Int32, m_bColorFilter),
    FIELD("m_bColorFilter.m_nRMin", Int32, m_ColorFilterDlg.m_nRMin),
    FIELD("m_ColorFilterDlg.m_nRMax", Int32, m_ColorFilterDlg.m_nRMax),
    FIELD("m_ColorFilterDlg.m_nGMin", Int32, m_ColorFilterDlg.m_nGMin),
    FIELD("m_ColorFilterDlg.m_nGMax", Int32, m_ColorFilterDlg.m_nGMax),
    FIELD("m_ColorFilterDlg.m_nBMin", Int32, m_ColorFilterDlg.m_nBMin),
    FIELD("m_ColorFilterDlg.m_nBMax", Int32, m_ColorFilterDlg.m_nBMax),
    FIELD("m_ColorFilterDlg.m_bSynchro", Int32, m_ColorFilterDlg.m_bSynchro),
    FIELD("m_ColorFilterDlg.ftype", Int32, m_ColorFilterDlg.ftype),

    FIELD("m_bPerspective", Int32, m_bPerspective),
    FIELD("m_bPerspectiveVertical", Int32, m_bPerspectiveVertical),
    FIELD("m_fAnglePerspective", Float, m_fAnglePerspective),

    FIELD("Array Of Effects", IntArray, m_aEffects),
    FIELD("Array_Of_Effects_Checks", IntArray, m_aEffectChecks),

    FIELD("m_nStrengthNoise", Int32, m_nStrengthNoise),
    FIELD("m_bSetNoise", Int32, m_bSetNoise),
    FIELD("m_bSetRGBNoise", Int32, m_bSetRGBNoise),
    FIELD("m_nSliderNoiseR", Int32, m_nSliderNoiseR),
    FIELD("m_nSliderNoiseG", Int32, m_nSliderNoiseG),
    FIELD("m_nSliderNoiseB", Int32, m_nSliderNoiseB),

    FIELD("m_nAmplitudeWave", Int32, m_nAmplitudeWave),
    FIELD("m_nPhaseWave", Int32, m_nPhaseWave),
    FIELD("m_nWavelengthWave", Int32, m_nWavelengthWave),
    FIELD("m_bSmearWave", UInt8, m_bSmearWave),
    FIELD("m_bReflectiveWave", UInt8, m_bReflectiveWave),

    FIELD("m_nAmplitudeRipple", Int32, m_nAmplitudeRipple),
    FIELD("m_nPeriodRipple", Int32, m_nPeriodRipple),
    FIELD("m_nPShiftRipple", Int32, m_nPShiftRipple),
    FIELD("m_bAntialiasingRipple", UInt8, m_bAntialiasingRipple),
    FIELD("m_bRetainRipple", UInt8, m_bRetainRipple),
    FIELD("m_nHorizontalRipple", UInt8, m_nHorizontalRipple),
    FIELD("m_nEdgesRipple", Int32, m_nEdgesRipple),
    FIELD("m_nSawtoothRipple", UInt8, m_nSawtoothRipple),

    FIELD("m_nThresholdWind", Int32, m_nThresholdWind),
    FIELD("m_nStrengthWind", Int32, m_nStrengthWind),
    FIELD("m_nDirectionWind", Int32, m_nDirectionWind),
    FIELD("m_nAlgorithmWind", Int32, m_nAlgorithmWind),
    FIELD("m_nEdgeWind", Int32, m_nEdgeWind),

    FIELD("m_fTresholdCubism", Float, m_fTresholdCubism),
    FIELD("m_fStrengthCubism", Float, m_fStrengthCubism),

    FIELD("m_nfiltlenVangogh", Int32, m_nfiltlenVangogh),
    FIELD("m_nnoisemagVangogh", Int32, m_nnoisemagVangogh),
    FIELD("m_nintstepsVangogh", Int32, m_nintstepsVangogh),
    FIELD("m_nminvVangogh", Int32, m_nminvVangogh),
    FIELD("m_nmaxvVangogh", Int32, m_nmaxvVangogh),
    FIELD("m_n_channelVangogh", Int32, m_n_channelVangogh),
    FIELD("m_n_operatorVangogh", Int32, m_n_operatorVangogh),
    FIELD("m_n_convolveVangogh", Int32, m_n_convolveVangogh),

    FIELD("m_fAzimuthEmboss", Float, m_fAzimuthEmboss),
    FIELD("m_fElevationEmboss", Float, m_fElevationEmboss),
    FIELD("m_fDepthEmboss", Float, m_fDepthEmboss),
    FIELD("m_bRadioEmboss", Int32, m_bRadioEmboss),

    FIELD("m_nRadiusSoftGlow", Int32, m_nRadiusSoftGlow),
    FIELD("m_nBrightnessSoftGlow", Int32, m_nBrightnessSoftGlow),
    FIELD("m_nSharpnessSoftGlow", Int32, m_nSharpnessSoftGlow),
    FIELD("m_nRadiusWhirlPinch", Int32, m_nRadiusWhirlPinch),
    FIELD("m_nPinchWhirlPinch", Int32, m_nPinchWhirlPinch),
    FIELD("m_nWhirlWhirlPinch", Int32, m_nWhirlWhirlPinch),
    FIELD("m_nRadiusNeon", Int32, m_nRadiusNeon),
    FIELD("m_nAmountNeon", Int32, m_nAmountNeon),

    FIELD("m_vvals.additive", Int32, m_vvals.additive),
    FIELD("m_vvals.pattern_number", Int32, m_vvals.pattern_number),
    FIELD("m_vvals.rotated", Int32, m_vvals.rotated),
    FIELD("m_nvals.xcenter", Int32, m_nvals.xcenter),
    FIELD("m_nvals.ycenter", Int32, m_nvals.ycenter),
    FIELD("m_nvals.radius", Int32, m_nvals.radius),

    FIELD("m_nvals.color.a", Float, m_nvals.color.a),
    FIELD("m_nvals.color.r", Float, m_nvals.color.r),
    FIELD("m_nvals.color.g", Float, m_nvals.color.g),
    FIELD("m_nvals.color.b", Float, m_nvals.color.b),

    FIELD("m_nvals.nspoke", Int32, m_nvals.nspoke),
    FIELD("m_nvals.randomhue", Int32, m_nvals.randomhue),
    FIELD("m_NovaColor", Int32, m_NovaColor),

    FIELD("m_ovals.exponent", Double, m_ovals.exponent),
    FIELD("m_ovals.mask_size", Double, m_ovals.mask_size),
    FIELD("m_ovals.mode", Int32, m_ovals.mode),
    FIELD("m_ovals.use_exponent_map", Int32, m_ovals.use_exponent_map),
    FIELD("m_ovals.use_mask_size_map", Int32, m_ovals.use_mask_size_map),

    // Stored after everything else so that a treatment with a border draws the
    // same border when it is loaded again; files without them keep the values
    // the program has.
    FIELD("m_nBorderMode", Int32, m_nBorderPlacement[0]),
    FIELD("m_nBorderThickness", Int32, m_nBorderPlacement[1]),
});

#undef LIGHT_COLOR
#undef LIGHT_FRACTIONS
#undef LIGHT_RECT
#undef RECT4
#undef FIELD

int KindFor(FieldType t) {
    switch (t) {
    case FieldType::Float:
    case FieldType::Double:
        return int(IniKind::Float);
    case FieldType::String:
        return int(IniKind::String);
    case FieldType::IntArray:
        return int(IniKind::IntegerArray);
    case FieldType::StringArray:
        return int(IniKind::StringArray);
    case FieldType::Rect:
        return int(IniKind::Rectangle);
    default:
        return int(IniKind::Integer);
    }
}

} // namespace

std::span<const SettingsField> SettingsFieldTable() {
    return kFields;
}

void BindSettings(CIniPartition& section, ProcessingSettings& s) {
    for (const SettingsField& f : kFields)
        section.AddRawItem(f.key, f.address(s), KindFor(f.type), f.type);
}

SettingsFile::SettingsFile(ProcessingSettings& s) : storage(kConfigBanner), settings(s) {
    BindSettings(storage.AddPartition(kSettingsSection), s);
}

bool SettingsFile::Load(const std::string& path) {
    if (!storage.Load(path)) return false;
    settings.NormalizeEffectChecks();
    return true;
}

StoredFrames SettingsFile::FramesWithFractions() const {
    const CIniPartition* section = storage.FindPartition(kSettingsSection);
    auto loaded = [section](const std::string& key) {
        const CIniItem* item = section ? section->Find(key) : nullptr;
        return item && item->Loaded();
    };
    StoredFrames stored;
    const auto& o = settings.m_cBmpWndOriginal;
    const std::string crop = "m_cBmpWndOriginal.Croprc";
    stored.crop = loaded(crop + "T") && loaded(crop + "L") && loaded(crop + "B") &&
                  loaded(crop + "R") &&
                  FractionsDescribeFrame(o.CroprcT, o.CroprcL, o.CroprcB, o.CroprcR);
    for (int i = 0; i < 3; ++i) {
        const auto& d = settings.m_cBmpWndDestination[i];
        const std::string n = std::to_string(i + 1), light = "m_cBmpWndDestination.Lightrc";
        stored.light[size_t(i)] =
            loaded(light + "T" + n) && loaded(light + "L" + n) && loaded(light + "B" + n) &&
            loaded(light + "R" + n) &&
            FractionsDescribeFrame(d.LightrcT, d.LightrcL, d.LightrcB, d.LightrcR);
    }
    return stored;
}
