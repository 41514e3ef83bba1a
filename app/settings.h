#pragma once
// The processing settings: every parameter that decides how the processed image
// is made from the original. The main window owns one record, its controls and
// the operations' dialogs write it, the pipeline reads it, and the configuration
// file stores it field by field through the table in settings_fields.h.

#include "app/bmp_file.h"

#include <cstdint>
#include <string>
#include <vector>

struct IntRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const IntRect&, const IntRect&) = default;
};

// The colour adjustment record: 24 bytes of 16-bit values, as the size field says.
struct ColorAdjustment {
    uint16_t caSize = 24;
    uint16_t caFlags = 0;
    uint16_t caIlluminantIndex = 0;
    uint16_t caRedGamma = 10000;
    uint16_t caGreenGamma = 10000;
    uint16_t caBlueGamma = 10000;
    uint16_t caReferenceBlack = 0;
    uint16_t caReferenceWhite = 10000;
    int16_t caContrast = 0;
    int16_t caBrightness = 0;
    int16_t caColorfulness = 0;
    int16_t caRedGreenTint = 0;
    friend bool operator==(const ColorAdjustment&, const ColorAdjustment&) = default;
};
static_assert(sizeof(ColorAdjustment) == 24);

struct ChannelInts {
    int32_t r = 0;
    int32_t g = 0;
    int32_t b = 0;
};

// State of the original view that the configuration carries.
struct OriginalViewState {
    int32_t m_bCrop = 0;
    IntRect m_cRectTracker; // crop frame in view client pixels
    float CroprcT = 0, CroprcL = 0, CroprcB = 0, CroprcR = 0;
};

// State of the destination view that the configuration carries (one per light).
struct LightFrameState {
    int32_t m_bLight = 0;
    IntRect m_cLightTracker;
    float LightrcT = 0, LightrcL = 0, LightrcB = 0, LightrcR = 0;
};

struct ColorFilterSettings {
    int32_t m_nRMin = 0, m_nRMax = 255;
    int32_t m_nGMin = 0, m_nGMax = 255;
    int32_t m_nBMin = 0, m_nBMax = 255;
    int32_t m_bSynchro = 0;
    int32_t ftype = 0; // 0 keeps the range, 1 erases it
};

struct VideoEffectValues {
    int32_t pattern_number = 0;
    int32_t additive = 0;
    int32_t rotated = 0;
};

struct NovaColor {
    float r = 1.0f, g = 0.39f, b = 0.35f, a = 1.0f;
};

struct SuperNovaValues {
    int32_t xcenter = 128, ycenter = 128;
    NovaColor color;
    int32_t radius = 20;
    int32_t nspoke = 100;
    int32_t randomhue = 0;
};

struct OilifyValues {
    double mask_size = 8.0;
    int32_t use_mask_size_map = 0;
    double exponent = 8.0;
    int32_t use_exponent_map = 0;
    int32_t mode = 1;
};

struct ProcessingSettings {
    // Effect list: identifiers in the order they are applied, and one tick each.
    std::vector<int32_t> m_aEffects;      // "Array Of Effects"
    std::vector<int32_t> m_aEffectChecks; // "Array_Of_Effects_Checks"

    // Effect parameters, shared by every occurrence of an effect in the list.
    int32_t m_nBlurSize = 5;
    int32_t m_nBrightR = 50, m_nBrightG = 50, m_nBrightB = 50;
    int32_t m_nContrastR = 50, m_nContrastG = 50, m_nContrastB = 50;
    int32_t m_nHue = 50, m_nSaturation = 50, m_nBrightness = 50;
    int32_t m_nAmplitudeWave = 50, m_nWavelengthWave = 25, m_nPhaseWave = 180;
    uint8_t m_bSmearWave = 1, m_bReflectiveWave = 0;
    int32_t m_nAmplitudeRipple = 100, m_nPeriodRipple = 100, m_nPShiftRipple = 180;
    uint8_t m_bAntialiasingRipple = 0, m_bRetainRipple = 0, m_nHorizontalRipple = 0;
    int32_t m_nEdgesRipple = 1;
    uint8_t m_nSawtoothRipple = 0;
    int32_t m_nThresholdWind = 20, m_nStrengthWind = 20, m_nAlgorithmWind = 0, m_nDirectionWind = 0,
            m_nEdgeWind = 1;
    int32_t m_nRedEyeThreshold = 50; // not stored
    float m_fTresholdCubism = 10.0f, m_fStrengthCubism = 2.5f;
    int32_t m_nfiltlenVangogh = 5, m_nnoisemagVangogh = 2, m_nintstepsVangogh = 25,
            m_nminvVangogh = -25, m_nmaxvVangogh = 25, m_n_channelVangogh = 2,
            m_n_operatorVangogh = 1, m_n_convolveVangogh = 1;
    float m_fAzimuthEmboss = 0.0f, m_fElevationEmboss = 0.0f, m_fDepthEmboss = 1.0f;
    int32_t m_bRadioEmboss = 0;
    int32_t m_nRadiusSoftGlow = 10, m_nBrightnessSoftGlow = 75, m_nSharpnessSoftGlow = 85;
    int32_t m_nRadiusWhirlPinch = 100, m_nPinchWhirlPinch = 0, m_nWhirlWhirlPinch = 90;
    int32_t m_nRadiusNeon = 500, m_nAmountNeon = 0;
    VideoEffectValues m_vvals;
    SuperNovaValues m_nvals;
    int32_t m_NovaColor = 16737113; // 0xFF6359
    OilifyValues m_ovals;

    // Fixed chain.
    int32_t m_bCrop = 0;
    IntRect m_rcCrop; // not stored: set from the crop frame
    int32_t m_bResize = 0;
    int32_t m_nSizeX = 400, m_nSizeY = 300;
    float m_fRotateAngle = 0.0f;
    CColor24 m_cBKGRotationColor;
    int32_t m_bColorAdjusment = 0;
    ColorAdjustment m_ca;
    int32_t m_nRotate = 0;
    int32_t m_bFlipX = 0, m_bFlipY = 0;
    int32_t m_bLight[3] = {0, 0, 0};
    int32_t m_bLightEdit[3] = {0, 0, 0};
    IntRect m_rcLight[3];
    ChannelInts m_LightColor[3] = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}};
    int32_t m_bSetNoise = 0, m_nStrengthNoise = 50;
    int32_t m_bSetRGBNoise = 0;
    int32_t m_nSliderNoiseR = 50, m_nSliderNoiseG = 50, m_nSliderNoiseB = 50;
    int32_t m_bSetMask = 0;
    std::string m_sMaskName;
    int32_t bInvertMask = 0;
    float fOpacityMask = 0.0f;
    int32_t m_nMaskColorR = 0, m_nMaskColorG = 0, m_nMaskColorB = 0;
    int32_t bMosaic = 0, m_nMosaicSize = 1;
    int32_t m_bColorFilter = 0;
    ColorFilterSettings m_ColorFilterDlg;
    int32_t m_bPerspective = 0, m_bPerspectiveVertical = 1;
    float m_fAnglePerspective = 0.0f;
    int32_t m_bSetBorder = 0;
    std::string m_sBorderName;
    int32_t m_nBorderPlacement[2] = {0, 0}; // mode and thickness, set by the border dialog
    int32_t m_bReplaceColor = 0;            // not stored
    CColor24 m_cReplaceSource = CColor24(255, 255, 255); // not stored
    CColor24 m_cReplaceTarget = CColor24(0, 0, 0);       // not stored
    int32_t bNoise = 0;                                  // start from the noise-reduced copy

    // Views.
    OriginalViewState m_cBmpWndOriginal;
    LightFrameState m_cBmpWndDestination[3];

    // Kept so that files that carry them keep them; they do nothing.
    int32_t m_bFilterContrast = 0, m_bHighContrast = 0, m_bPrewitt = 0, m_bSobel = 0, m_bLaplas = 0;
    int32_t m_bSwapRG = 0, m_bSwapRB = 0, m_bSwapBG = 0;

    // Sets the values that depend on the destination view's size, as the main
    // window does when it is first shown: crop and light rectangles cover the
    // whole view and the light colours are white.
    void SetViewDefaults(int viewWidth, int viewHeight);

    // One tick per effect: a missing tick means ticked (an effect a file lists is
    // there to be applied), extra ticks are dropped.
    void NormalizeEffectChecks();
    bool EffectTicked(size_t i) const {
        return i < m_aEffectChecks.size() ? m_aEffectChecks[i] != 0 : true;
    }

    // Quarter-turn buttons.
    void RotateRight() { m_nRotate = m_nRotate >= 3 ? 0 : m_nRotate + 1; }
    void RotateLeft() { m_nRotate = m_nRotate <= 0 ? 3 : m_nRotate - 1; }
};

// The size of both views of the desktop program at its default window size,
// which the window is made to give them: pellorin-cli's default for --view, so
// that a configuration saved from a fresh window crops and lights the same
// pixels there.
constexpr int kDefaultViewWidth = 383;
constexpr int kDefaultViewHeight = 598;
