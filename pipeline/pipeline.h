#pragma once
// The processing pipeline: makes the work image from the original (or the
// noise-reduced copy) by scaling for preview, the ticked effects of the effect
// list in order, then the fixed chain of corrections in its fixed order. Each run
// starts again from the unprocessed input, so nothing accumulates across runs.
// It needs no window: the destination view's size is a parameter.

#include "app/bmp_file.h"
#include "app/image_metadata.h"
#include "app/settings.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>

// The outer size of the destination view's window: the preview size and the
// reference of the crop and light rectangles.
struct ViewSize {
    int width = kDefaultViewWidth;
    int height = kDefaultViewHeight;
};

enum class ProcessMode { Preview, Final };

// The three images the main window keeps for the pipeline.
struct ImageSet {
    BMP_File original;
    BMP_File noiseReduced; // a filtered copy of the original; empty when there is none
    BMP_File work;
    // What the original's file said besides its pixels, written into the
    // saved result; empty for pictures that came from no file.
    ImageMetadata metadata;
    bool loading = false; // set while a configuration refills the effect list

    // Installs a freshly loaded image: original, work and noise-reduced copy
    // all become it (earlier noise reduction is discarded), and the metadata
    // becomes the new picture's (none unless given).
    void Install(const BMP_File& image, ImageMetadata fileMetadata = {});
};

// What a chain step is handed besides the image and the settings.
struct ChainContext {
    ViewSize view;
};

struct PictureSize {
    int64_t width = 0;
    int64_t height = 0;
};

struct ChainStep {
    const char* name;
    bool (*enabled)(const ProcessingSettings&);
    // False when the step could not make its result: too large for a picture,
    // or not enough memory (a step may also throw std::bad_alloc for that).
    bool (*apply)(BMP_File& work, const ProcessingSettings&, const ChainContext&);
    // The size of the picture the step makes from the work image, for the
    // message when it fails; nullptr when it keeps the work image's size.
    PictureSize (*makes)(const BMP_File& work, const ProcessingSettings&, const ChainContext&);
};

// The fixed chain, in the order it runs.
std::span<const ChainStep> FixedChain();

// A rectangle in view-window pixels scaled to a W x H work image: x by W / view
// width, y by H / view height, each product truncated toward zero.
IntRect ScaleViewRect(const IntRect& r, int workWidth, int workHeight, ViewSize view);

// The message for a step that could not make a width x height picture, e.g.
// "Resize to 40000 x 30000 failed: too large (at most 1000000000 pixels)";
// `changesSize` says whether that size is the step's new size ("to") or the
// size of the picture it worked on ("on a ... picture").
std::string StepFailureMessage(const char* step, PictureSize size, bool changesSize);

// Makes `work` from `input`: scaling (preview) or a copy (final), the effect
// list, the fixed chain. Returns false when input is empty or cannot be scaled.
// A step or effect that cannot make its result (too large, or not enough
// memory) is passed over in preview mode, so that the view still shows the
// rest of the treatment; in final mode it ends the run: false, and `error`
// (when given) names the step and the size.
//
// An observer, when given, hears before each effect and chain step how far the
// run is, and may stop it there: the run then returns false with `stopped` set
// and no error, leaving `work` partly processed.
struct RunObserver {
    // Steps done so far and the steps of the run in all; false stops the run.
    std::function<bool(int done, int total)> beforeStep;
    bool stopped = false;
};
bool RunPipeline(const BMP_File& input, const ProcessingSettings& s, ProcessMode mode,
                 ViewSize view, BMP_File& work, std::string* error = nullptr,
                 RunObserver* observer = nullptr);
// The effect and chain steps a run with these settings goes through.
int PipelineStepCount(const ProcessingSettings& s);

// The same on a picture that is not needed afterwards: it becomes the work
// image itself (final mode), so that a batch needs no full-size copy of each
// picture. On failure the picture is left half treated.
bool RunPipelineOn(BMP_File& picture, const ProcessingSettings& s, ProcessMode mode, ViewSize view,
                   std::string* error = nullptr);

// Runs the pipeline on the main window's images. Returns false (and does
// nothing) when the work image is empty or a configuration is being loaded;
// false with `error` set when a final run fails as RunPipeline says.
bool Process(ImageSet& images, const ProcessingSettings& s, ProcessMode mode, ViewSize view,
             std::string* error = nullptr, RunObserver* observer = nullptr);
