#pragma once
// What the AVI reader, writer and encoder list share about FFmpeg.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixfmt.h>
}

#include <string>

// FFmpeg's own log goes nowhere: a damaged frame is our result to report, and
// the desktop program has no console to print to. Called before every use.
void QuietFFmpegLog();

// The pixel format a frame is encoded in: BGR for the uncompressed writer,
// 4:2:0 for lossy encoders that take it (what players of such AVIs expect),
// otherwise the encoder's format that loses least of 8-bit RGB.
AVPixelFormat EncoderPixelFormat(const AVCodec* codec);

// Whether an encoder keeps every pixel exactly.
bool EncoderIsLossless(const AVCodec* codec);

// The text of an FFmpeg error code.
std::string FFmpegError(int code);

// Sets up an encoder context for width x height at framesPerSecond from the
// options (quality 0..100, key-frame interval, data rate in kilobytes per
// second), with `threads` threads (0: as many as there are cores); null when
// the encoder does not open.
struct AviCodecOptions;
AVCodecContext* OpenAviEncoder(const AVCodec* codec, int width, int height, int framesPerSecond,
                               const AviCodecOptions& options, bool globalHeader, int threads = 0);
