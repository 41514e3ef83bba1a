#pragma once
// Writes every frame of an AVI video or animated GIF through the processing
// pipeline into a new AVI or animated GIF: the loop the main window's video
// save and pellorin-cli share. Everything runs on the caller's thread; the
// per-frame callback is where a window handles its events and a Stop button.

#include "pipeline/pipeline.h"
#include "video/frame_source.h"

#include <functional>
#include <memory>
#include <string>

// What the output is opened with, known once the first frame is processed.
struct VideoOutputShape {
    int width = 0; // of the processed frame, a multiple of 4
    int height = 0;
    int framesPerSecond = 1;
    // The animation's screen for a GIF output: the source's canvas (0 x 0 for an
    // AVI source), never smaller than the written frames.
    int logicalWidth = 0;
    int logicalHeight = 0;
};

// Opens the output for a shape; nullptr with a user-facing message when it
// cannot be opened.
using FrameSinkFactory =
    std::function<std::unique_ptr<FrameSink>(const VideoOutputShape&, std::string* message)>;

// Called after frame i (0-based) is loaded and before it is processed; false
// ends the loop once frame i is written (the window's Stop!).
using FrameCallback = std::function<bool(int frameIndex)>;

struct FrameLoopResult {
    // The output is in place and no frame failed: true also for a run stopped
    // through the callback, whose output keeps the frames written until then.
    bool written = false;
    bool stopped = false;  // the callback ended the loop early
    int framesWritten = 0; // frames in the output (0 when it was not kept)
    int framesTotal = 0;   // frames of the source (those its file turned out to hold)
    int framesReused =
        0; // source frames that could not be decoded: the previous picture went in their place
    std::string error; // why the output is not written, when it is not
};

// The width a frame is written with: rounded up to a multiple of 4.
constexpr int OutputWidth(int width) {
    return (width + 3) & ~3;
}

// Runs the loop: each source frame in final mode through the pipeline,
// resampled (nearest neighbour) to OutputWidth() of its width keeping the
// height, and written with the source's delay for that frame. A failed frame
// (pipeline or write) ends the loop and leaves any existing output as it was.
FrameLoopResult RunFrameLoop(FrameSource& source, const ProcessingSettings& settings, ViewSize view,
                             const FrameSinkFactory& openOutput, const FrameCallback& onFrame = {});

// The sink factory for an output path by its last three characters, lower-cased:
// "avi" (with the encoder options) or "gif"; nullptr for any other path.
FrameSinkFactory VideoSinkFor(const std::string& path, const AviCodecOptions& codec = {});

// Whether a path names a video output this loop can write ("avi" or "gif").
bool IsVideoOutput(const std::string& path);
