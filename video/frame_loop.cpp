#include "video/frame_loop.h"

#include "app/file_util.h"
#include "imageops/resample.h"

#include <algorithm>

namespace {

// The processed picture at a width that is a multiple of 4, as every
// encoder's rows want it; `work` is used as it is when it already has one.
const BMP_File& WidenedToFour(const BMP_File& work, BMP_File& widened) {
    const int width = OutputWidth(work.Width());
    if (width == work.Width()) return work;
    if (!ResampleNearest(work, width, work.Height(), widened)) widened.Clear();
    return widened;
}

} // namespace

FrameLoopResult RunFrameLoop(FrameSource& source, const ProcessingSettings& settings, ViewSize view,
                             const FrameSinkFactory& openOutput, const FrameCallback& onFrame) {
    FrameLoopResult result;
    result.framesTotal = source.FrameCount();
    if (result.framesTotal <= 0) {
        result.error = "the video has no frames";
        return result;
    }
    BMP_File picture, work, widened;
    std::unique_ptr<FrameSink> sink;
    bool failed = false;
    // The count is asked again each frame: a video whose header promised
    // more frames than its file holds says so when its end is reached.
    for (int i = 0; i < source.FrameCount(); ++i) {
        // A frame that cannot be decoded is replaced by the picture before it.
        if (!source.LoadFrame(i, picture)) {
            if (i >= source.FrameCount()) break; // the file ended before its header said
            if (picture.Empty()) {
                result.error = "frame " + std::to_string(i + 1) + " cannot be decoded";
                failed = true;
                break;
            }
            ++result.framesReused;
        }
        const bool goOn = !onFrame || onFrame(i);
        std::string why;
        if (!RunPipeline(picture, settings, ProcessMode::Final, view, work, &why) || work.Empty()) {
            result.error = why.empty() ? "the treatment left no picture" : why;
            failed = true;
            break;
        }
        const BMP_File& frame = WidenedToFour(work, widened);
        if (frame.Empty()) {
            result.error = "not enough memory for the frame";
            failed = true;
            break;
        }
        if (!sink) {
            VideoOutputShape shape;
            shape.width = frame.Width();
            shape.height = frame.Height();
            shape.framesPerSecond = source.FramesPerSecond();
            if (source.IsGif()) {
                // Every composed frame covers the animation's whole canvas, so
                // the first one has its size. Frames that a treatment made
                // larger widen the screen rather than being cut off by it.
                shape.logicalWidth = std::max(picture.Width(), frame.Width());
                shape.logicalHeight = std::max(picture.Height(), frame.Height());
            }
            std::string message;
            sink = openOutput(shape, &message);
            if (!sink) {
                result.error = message.empty() ? "the output cannot be opened" : message;
                failed = true;
                break;
            }
        }
        if (!sink->WriteFrame(frame, source.FrameDelay(i))) {
            result.error = "frame " + std::to_string(i + 1) + " could not be written";
            failed = true;
            break;
        }
        if (!goOn) {
            result.stopped = i + 1 < source.FrameCount();
            break;
        }
    }
    result.framesTotal = source.FrameCount();
    if (sink) {
        std::string why;
        const int written = sink->FramesWritten();
        if (sink->Finish(!failed, &why) && !failed) {
            result.written = true;
            result.framesWritten = written;
        } else if (result.error.empty()) {
            result.error = why.empty() ? "the video file is not written" : why;
        }
    }
    return result;
}

bool IsVideoOutput(const std::string& path) {
    const std::string ext = ExtensionOf(path);
    return ext == "avi" || ext == "gif";
}

FrameSinkFactory VideoSinkFor(const std::string& path, const AviCodecOptions& codec) {
    const std::string ext = ExtensionOf(path);
    if (ext == "avi")
        return [path, codec](const VideoOutputShape& shape, std::string* message) {
            return CreateAviSink(path, shape.width, shape.height, shape.framesPerSecond, codec,
                                 message);
        };
    if (ext == "gif")
        return [path](const VideoOutputShape& shape, std::string* message) {
            return CreateGifSink(path, shape.logicalWidth, shape.logicalHeight, message);
        };
    return {};
}
