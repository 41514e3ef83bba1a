#include "pipeline/pipeline.h"

#include "imageops/color.h"
#include "imageops/effect_table.h"
#include "imageops/geometry.h"
#include "imageops/overlays.h"
#include "imageops/resample.h"

#include <array>
#include <cmath>
#include <new>

namespace {

// Steps that work in place and allocate nothing that can fail; the ones that
// only use working buffers report running out of memory by std::bad_alloc.
template <void (*Op)(BMP_File&, const ProcessingSettings&)>
bool InPlace(BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
    Op(w, s);
    return true;
}

const ChainStep kChain[] = {
    {"Crop", [](const ProcessingSettings& s) { return s.m_bCrop != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         const IntRect r = ScaleViewRect(s.m_rcCrop, w.Width(), w.Height(), c.view);
         return CropImage(w, r.left, r.top, r.right, r.bottom);
     },
     [](const BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         const IntRect r = ScaleViewRect(s.m_rcCrop, w.Width(), w.Height(), c.view);
         return PictureSize{int64_t(r.right) - r.left, int64_t(r.bottom) - r.top};
     }},
    {"Resize",
     [](const ProcessingSettings& s) {
         return s.m_bResize != 0 && s.m_nSizeX != 0 && s.m_nSizeY != 0;
     },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         return ResizeImage(w, s.m_nSizeX, s.m_nSizeY);
     },
     [](const BMP_File&, const ProcessingSettings& s, const ChainContext&) {
         return PictureSize{s.m_nSizeX, s.m_nSizeY};
     }},
    {"Free rotation", [](const ProcessingSettings& s) { return s.m_fRotateAngle != 0.0f; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         return RotateImage(w, s.m_fRotateAngle, s.m_cBKGRotationColor);
     },
     nullptr},
    {"Colour adjustment", [](const ProcessingSettings& s) { return s.m_bColorAdjusment != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) { AdjustColor(w, s.m_ca); }>, nullptr},
    {"Quarter turns", [](const ProcessingSettings& s) { return s.m_nRotate > 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         // The count is 0..3 in the program; a hand-edited file may say more,
         // and four turns are the identity.
         for (int i = 0; i < s.m_nRotate % 4; ++i)
             if (!QuarterTurn(w)) return false;
         return true;
     },
     [](const BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         return s.m_nRotate % 2 ? PictureSize{w.Height(), w.Width()}
                                : PictureSize{w.Width(), w.Height()};
     }},
    {"Mirror left-right", [](const ProcessingSettings& s) { return s.m_bFlipX != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings&) { FlipLeftRight(w); }>, nullptr},
    {"Mirror top-bottom", [](const ProcessingSettings& s) { return s.m_bFlipY != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings&) { FlipTopBottom(w); }>, nullptr},
    // Light regions are drawn in the destination view, so they scale as the crop does.
    {"Light region 1", [](const ProcessingSettings& s) { return s.m_bLight[0] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[0], w.Width(), w.Height(), c.view),
                          s.m_LightColor[0]);
         return true;
     },
     nullptr},
    {"Light region 2", [](const ProcessingSettings& s) { return s.m_bLight[1] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[1], w.Width(), w.Height(), c.view),
                          s.m_LightColor[1]);
         return true;
     },
     nullptr},
    {"Light region 3", [](const ProcessingSettings& s) { return s.m_bLight[2] != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext& c) {
         ApplyLightRegion(w, ScaleViewRect(s.m_rcLight[2], w.Width(), w.Height(), c.view),
                          s.m_LightColor[2]);
         return true;
     },
     nullptr},
    {"Noise", [](const ProcessingSettings& s) { return s.m_bSetNoise != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) { ApplyNoise(w, s.m_nStrengthNoise); }>,
     nullptr},
    {"Per-channel noise", [](const ProcessingSettings& s) { return s.m_bSetRGBNoise != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) {
         ApplyRGBNoise(w, s.m_nSliderNoiseR, s.m_nSliderNoiseG, s.m_nSliderNoiseB);
     }>,
     nullptr},
    {"Mask",
     [](const ProcessingSettings& s) { return s.m_bSetMask != 0 && !s.m_sMaskName.empty(); },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         // A mask file that cannot be read is passed over, as ever.
         bool made = true;
         ApplyMaskFromSettings(w, s, &made);
         return made;
     },
     nullptr},
    {"Mosaic", [](const ProcessingSettings& s) { return s.bMosaic != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) { ApplyMosaic(w, s.m_nMosaicSize); }>,
     nullptr},
    {"Colour filter", [](const ProcessingSettings& s) { return s.m_bColorFilter != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) { ColorFilter(w, s.m_ColorFilterDlg); }>,
     nullptr},
    {"Perspective", [](const ProcessingSettings& s) { return s.m_bPerspective != 0; },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         return PerspectiveImage(w, s.m_bPerspectiveVertical != 0, s.m_fAnglePerspective,
                                 s.m_cBKGRotationColor);
     },
     nullptr},
    {"Border",
     [](const ProcessingSettings& s) { return s.m_bSetBorder != 0 && !s.m_sBorderName.empty(); },
     [](BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         bool made = true;
         ApplyBorderFromSettings(w, s, &made);
         return made;
     },
     [](const BMP_File& w, const ProcessingSettings& s, const ChainContext&) {
         PictureSize size;
         BorderResultSize(s, w.Width(), w.Height(), size.width, size.height);
         return size;
     }},
    {"Replace colour", [](const ProcessingSettings& s) { return s.m_bReplaceColor != 0; },
     InPlace<[](BMP_File& w, const ProcessingSettings& s) {
         ReplaceColor(w, s.m_cReplaceSource, s.m_cReplaceTarget);
     }>,
     nullptr},
};

// Runs one step; false when it could not make its result, however it said so.
template <class Fn> bool Made(Fn&& fn) {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

std::span<const ChainStep> FixedChain() {
    return kChain;
}

void ImageSet::Install(const BMP_File& image, ImageMetadata fileMetadata) {
    original = image;
    work = image;
    noiseReduced = image;
    metadata = std::move(fileMetadata);
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

std::string StepFailureMessage(const char* step, PictureSize size, bool changesSize) {
    std::string m = step;
    m += changesSize ? " to " : " on a ";
    m += std::to_string(size.width) + " x " + std::to_string(size.height);
    m += changesSize ? " failed: " : " picture failed: ";
    if (size.width > BMP_File::kMaxSide || size.height > BMP_File::kMaxSide)
        m += "too large (at most " + std::to_string(BMP_File::kMaxSide) + " pixels a side)";
    else if (!BMP_File::SizeAllowed(size.width, size.height))
        m += "too large (at most " + std::to_string(BMP_File::MaxPixels()) + " pixels)";
    else
        m += "not enough memory";
    return m;
}

int PipelineStepCount(const ProcessingSettings& s) {
    int steps = 0;
    for (size_t i = 0; i < s.m_aEffects.size(); ++i)
        if (s.EffectTicked(i) && FindEffect(s.m_aEffects[i])) ++steps;
    for (const ChainStep& step : kChain)
        if (step.enabled(s)) ++steps;
    return steps;
}

namespace {

// The effect list and the fixed chain on the work image, which the caller has
// made from the input.
bool ApplyTreatment(BMP_File& work, const ProcessingSettings& s, bool final, ViewSize view,
                    std::string* error, RunObserver* observer) {
    // A step that fails ends a final run; a preview passes it over.
    auto failed = [&](const char* step, PictureSize size) {
        if (!final) return false;
        if (error) {
            const bool changes = size.width != work.Width() || size.height != work.Height();
            *error = StepFailureMessage(step, size, changes);
        }
        return true;
    };
    const int total = observer ? PipelineStepCount(s) : 0;
    int done = 0;
    auto go_on = [&] {
        if (!observer || !observer->beforeStep) return true;
        if (observer->beforeStep(done++, total)) return true;
        observer->stopped = true;
        return false;
    };
    for (size_t i = 0; i < s.m_aEffects.size(); ++i) {
        if (!s.EffectTicked(i)) continue;
        const EffectRow* row = FindEffect(s.m_aEffects[i]);
        if (!row) continue;
        if (!go_on()) return false;
        if (!ApplyEffect(*row, work, s) &&
            failed(row->name, PictureSize{work.Width(), work.Height()}))
            return false;
    }

    const ChainContext context{view};
    for (const ChainStep& step : kChain) {
        if (!step.enabled(s)) continue;
        if (!go_on()) return false;
        const PictureSize size =
            step.makes ? step.makes(work, s, context) : PictureSize{work.Width(), work.Height()};
        if (!Made([&] { return step.apply(work, s, context); }) && failed(step.name, size))
            return false;
    }
    return true;
}

} // namespace

bool RunPipeline(const BMP_File& input, const ProcessingSettings& s, ProcessMode mode,
                 ViewSize view, BMP_File& work, std::string* error, RunObserver* observer) {
    if (input.Empty()) return false;
    const bool final = mode == ProcessMode::Final;
    if (final) {
        if (!Made([&] {
                work = input;
                return true;
            })) {
            // The copy threw before it touched the work image, which stays
            // as it was: an empty one would stop every later run.
            if (error)
                *error = StepFailureMessage(
                    "Copying the input", PictureSize{input.Width(), input.Height()},
                    input.Width() != work.Width() || input.Height() != work.Height());
            return false;
        }
    } else if (!ResampleNearest(input, view.width, view.height, work)) {
        return false;
    }
    return ApplyTreatment(work, s, final, view, error, observer);
}

bool RunPipelineOn(BMP_File& picture, const ProcessingSettings& s, ProcessMode mode, ViewSize view,
                   std::string* error) {
    if (picture.Empty()) return false;
    const bool final = mode == ProcessMode::Final;
    if (!final) {
        BMP_File scaled;
        if (!ResampleNearest(picture, view.width, view.height, scaled)) return false;
        picture = std::move(scaled);
    }
    return ApplyTreatment(picture, s, final, view, error, nullptr);
}

bool Process(ImageSet& images, const ProcessingSettings& s, ProcessMode mode, ViewSize view,
             std::string* error, RunObserver* observer) {
    if (images.work.Empty() || images.loading) return false;
    const BMP_File& input =
        s.bNoise && !images.noiseReduced.Empty() ? images.noiseReduced : images.original;
    return RunPipeline(input, s, mode, view, images.work, error, observer);
}
