#include "pipeline/pipeline.h"

#include "imageops/color.h"
#include "imageops/effect_table.h"
#include "imageops/geometry.h"
#include "imageops/overlays.h"
#include "imageops/resample.h"

#include <array>
#include <cmath>

namespace {

const ChainStep kChain[] = {
    {"Crop", [](const ProcessingSettings& s) { return s.m_bCrop != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         const IntRect r = ScaleViewRect(s.m_rcCrop, w.Width(), w.Height(), c.view);
         CropImage(w, r.left, r.top, r.right, r.bottom);
     }},
    {"Resize",
     [](const ProcessingSettings& s) {
         return s.m_bResize != 0 && s.m_nSizeX != 0 && s.m_nSizeY != 0;
     },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ResizeImage(w, s.m_nSizeX, s.m_nSizeY);
     }},
    {"Free rotation", [](const ProcessingSettings& s) { return s.m_fRotateAngle != 0.0f; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         RotateImage(w, s.m_fRotateAngle, s.m_cBKGRotationColor);
     }},
    {"Colour adjustment", [](const ProcessingSettings& s) { return s.m_bColorAdjusment != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) { AdjustColor(w, s.m_ca); }},
    {"Quarter turns", [](const ProcessingSettings& s) { return s.m_nRotate > 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         // The count is 0..3 in the program; a hand-edited file may say more,
         // and four turns are the identity.
         for (int i = 0; i < s.m_nRotate % 4; ++i) QuarterTurn(w);
     }},
    {"Mirror left-right", [](const ProcessingSettings& s) { return s.m_bFlipX != 0; },
     [](BMP_File& w, const ProcessingSettings&, const ChainContext&) { FlipLeftRight(w); }},
    {"Mirror top-bottom", [](const ProcessingSettings& s) { return s.m_bFlipY != 0; },
     [](BMP_File& w, const ProcessingSettings&, const ChainContext&) { FlipTopBottom(w); }},
    // Light regions are drawn in the destination view, so they scale as the crop does.
    {"Light region 1", [](const ProcessingSettings& s) { return s.m_bLight[0] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[0], w.Width(), w.Height(), c.view),
                          s.m_LightColor[0]);
     }},
    {"Light region 2", [](const ProcessingSettings& s) { return s.m_bLight[1] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[1], w.Width(), w.Height(), c.view),
                          s.m_LightColor[1]);
     }},
    {"Light region 3", [](const ProcessingSettings& s) { return s.m_bLight[2] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[2], w.Width(), w.Height(), c.view),
                          s.m_LightColor[2]);
     }},
    {"Noise", [](const ProcessingSettings& s) { return s.m_bSetNoise != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ApplyNoise(w, s.m_nStrengthNoise);
     }},
    {"Per-channel noise", [](const ProcessingSettings& s) { return s.m_bSetRGBNoise != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ApplyRGBNoise(w, s.m_nSliderNoiseR, s.m_nSliderNoiseG, s.m_nSliderNoiseB);
     }},
    {"Mask",
     [](const ProcessingSettings& s) { return s.m_bSetMask != 0 && !s.m_sMaskName.empty(); },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ApplyMaskFromSettings(w, s);
     }},
    {"Mosaic", [](const ProcessingSettings& s) { return s.bMosaic != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ApplyMosaic(w, s.m_nMosaicSize);
     }},
    {"Colour filter", [](const ProcessingSettings& s) { return s.m_bColorFilter != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ColorFilter(w, s.m_ColorFilterDlg);
     }},
    {"Perspective", [](const ProcessingSettings& s) { return s.m_bPerspective != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         PerspectiveImage(w, s.m_bPerspectiveVertical != 0, s.m_fAnglePerspective,
                          s.m_cBKGRotationColor);
     }},
    {"Border",
     [](const ProcessingSettings& s) { return s.m_bSetBorder != 0 && !s.m_sBorderName.empty(); },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ApplyBorderFromSettings(w, s);
     }},
    {"Replace colour", [](const ProcessingSettings& s) { return s.m_bReplaceColor != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         ReplaceColor(w, s.m_cReplaceSource, s.m_cReplaceTarget);
     }},
};

} // namespace

std::span<const ChainStep> FixedChain() {
    return kChain;
}

void ImageSet::Install(const BMP_File& image) {
    original = image;
    work = image;
    noiseReduced = image;
}

IntRect ScaleViewRect(const IntRect& r, int workWidth, int workHeight, ViewSize view) {
    if (view.width <= 0 || view.height <= 0) return IntRect{0, 0, workWidth, workHeight};
    const double sx = double(workWidth) / double(view.width);
    const double sy = double(workHeight) / double(view.height);
    auto t = [](double v) {
        v = std::trunc(v);
        if (!(v > -2147483648.0)) return int32_t(-2147483647 - 1);
        if (v > 2147483647.0) return int32_t(2147483647);
        return int32_t(v);
    };
    return IntRect{t(r.left * sx), t(r.top * sy), t(sx * r.right), t(sy * r.bottom)};
}

bool RunPipeline(const BMP_File& input, const ProcessingSettings& s, ProcessMode mode,
                 ViewSize view, BMP_File& work) {
    if (input.Empty()) return false;
    if (mode == ProcessMode::Final) {
        work = input;
    } else if (!ResampleNearest(input, view.width, view.height, work)) {
        return false;
    }

    for (size_t i = 0; i < s.m_aEffects.size(); ++i) {
        if (!s.EffectTicked(i)) continue;
        if (const EffectRow* row = FindEffect(s.m_aEffects[i])) ApplyEffect(*row, work, s);
    }

    const ChainContext context{view};
    for (const ChainStep& step : kChain)
        if (step.enabled(s)) step.apply(work, s, context);
    return true;
}

bool Process(ImageSet& images, const ProcessingSettings& s, ProcessMode mode, ViewSize view) {
    if (images.work.Empty() || images.loading) return false;
    const BMP_File& input =
        s.bNoise && !images.noiseReduced.Empty() ? images.noiseReduced : images.original;
    return RunPipeline(input, s, mode, view, images.work);
}
