#pragma once
// AVI video through FFmpeg: reading any AVI that FFmpeg decodes, frame by frame
// and exactly at a frame number, and writing a new AVI with a chosen encoder.

#include "video/frame_source.h"

#include <cstdint>
#include <memory>
#include <string>

// Messages of a failed open, in the order the open meets them. OpenAviSource
// gives one of these; after the first four the window adds kAviUnknownFormat.
inline constexpr const char* kAviOpenError = "File open error";
inline constexpr const char* kAviNoStream = "The video stream open error";
inline constexpr const char* kAviFormatError = "Video format read error";
inline constexpr const char* kAviNoDecoder = "The decoder is not found";
inline constexpr const char* kAviUnknownFormat = "Unknown File Format!";
// The file opened but its first frame cannot be decoded.
inline constexpr const char* kAviFrameZeroError = "Error Codec!";
// The output could not be set up with the chosen encoder.
inline constexpr const char* kAviNotWritten =
    "The video file is not written. Please, select other codec.";

class AviVideoFile final : public FrameSource {
public:
    ~AviVideoFile() override;
    // nullptr with one of the messages above.
    static std::unique_ptr<AviVideoFile> Open(const std::string& path, std::string* message);

    bool IsGif() const override { return false; }
    int FrameCount() const override;
    int FramesPerSecond() const override;
    int FrameDelay(int i) const override;
    bool LoadFrame(int i, BMP_File& out) override;

    int Width() const;
    int Height() const;
    // The stream's rate as a fraction (rate / scale), e.g. 30000 / 1001.
    int RateNumerator() const;
    int RateDenominator() const;

    // How many frames the decoder has produced since opening: lets tests see
    // that a sequential pass decodes each frame once.
    int64_t FramesDecoded() const;

private:
    struct Impl;
    explicit AviVideoFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
