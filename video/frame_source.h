#pragma once
// Multi-frame sources (AVI video, animated GIF) and outputs, as the frame loop,
// the main window and pellorin-cli see them. AVI lives in avi_video_file.cpp,
// GIF in gif_animation.cpp.

#include "app/bmp_file.h"

#include <memory>
#include <string>

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual bool IsGif() const = 0;
    virtual int FrameCount() const = 0;
    // Whole frames per second as the output uses it: an AVI's rate / scale
    // (integer division), 15 for a GIF.
    virtual int FramesPerSecond() const = 0;
    // Delay of frame i in hundredths of a second: a GIF frame's own delay; for
    // an AVI 100 / FramesPerSecond() (integer division).
    virtual int FrameDelay(int i) const = 0;
    // Frame i (0-based) as a 24-bit picture of the whole canvas; false when it
    // cannot be decoded (out is then left as it was).
    virtual bool LoadFrame(int i, BMP_File& out) = 0;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;
    // Appends one processed frame (its width already a multiple of 4).
    virtual bool WriteFrame(const BMP_File& frame, int delayHundredths) = 0;
    virtual int FramesWritten() const = 0;
    // Ends the output. commit = true puts the finished file in place (written to
    // a temporary file in the target folder, then renamed over the target);
    // commit = false removes the temporary and leaves any existing target as it
    // was. Returns false with a reason when the file could not be finished.
    virtual bool Finish(bool commit, std::string* why) = 0;
};

struct AviCodecOptions {
    std::string encoder = "mjpeg"; // FFmpeg encoder name
    int quality = 75;              // 0..100
    int keyFrameInterval = 0;      // 0: the encoder's default
    int kilobytesPerSecond = 0;    // 0: no data rate chosen
};

// nullptr with the message the user sees on failure.
std::unique_ptr<FrameSource> OpenAviSource(const std::string& path, std::string* message);
std::unique_ptr<FrameSink> CreateAviSink(const std::string& path, int width, int height,
                                         int framesPerSecond, const AviCodecOptions& options,
                                         std::string* message);
// nullptr when the file is not an animated GIF of two or more frames or when
// libzembra or one of its entry points cannot be loaded (message says which).
std::unique_ptr<FrameSource> OpenGifSource(const std::string& path, std::string* message);
std::unique_ptr<FrameSink> CreateGifSink(const std::string& path, int logicalWidth,
                                         int logicalHeight, std::string* message);
