#pragma once
// The processing pipeline: makes the work image from the original (or the
// noise-reduced copy) by scaling for preview, the ticked effects of the effect
// list in order, then the fixed chain of corrections in its fixed order. Each run
// starts again from the unprocessed input, so nothing accumulates across runs.
// It needs no window: the destination view's size is a parameter.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <span>

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
    bool loading = false; // set while a configuration refills the effect list

    // Installs a freshly loaded image: original, work and noise-reduced copy
    // all become it (earlier noise reduction is discarded).
    void Install(const BMP_File& image);
};

// What a chain step is handed besides the image and the settings.
struct ChainContext {
    ViewSize view;
};

struct ChainStep {
    const char* name;
    bool (*enabled)(const ProcessingSettings&);
    void (*apply)(BMP_File& work, const ProcessingSettings&, const ChainContext&);
};

// The fixed chain, in the order it runs.
std::span<const ChainStep> FixedChain();

// A rectangle in view-window pixels scaled to a W x H work image: x by W / view
// width, y by H / view height, each product truncated toward zero.
IntRect ScaleViewRect(const IntRect& r, int workWidth, int workHeight, ViewSize view);

// Makes `work` from `input`: scaling (preview) or a copy (final), the effect
// list, the fixed chain. Returns false when input is empty or cannot be scaled.
bool RunPipeline(const BMP_File& input, const ProcessingSettings& s, ProcessMode mode,
                 ViewSize view, BMP_File& work);

// Runs the pipeline on the main window's images. Returns false (and does
// nothing) when the work image is empty or a configuration is being loaded.
bool Process(ImageSet& images, const ProcessingSettings& s, ProcessMode mode, ViewSize view);
