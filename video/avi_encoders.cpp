#include "video/avi_encoders.h"

#include "video/ffmpeg_util.h"
#include "video/frame_source.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>

void QuietFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string FFmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

bool EncoderIsLossless(const AVCodec* codec) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    return d && (d->props & AV_CODEC_PROP_LOSSLESS) && !(d->props & AV_CODEC_PROP_LOSSY);
}

namespace {

// Whether frames come back with every pixel as written: a lossless encoder
// that stores RGB (one that stores YUV loses in the conversion).
bool KeepsRgbExactly(const AVCodec* codec) {
    if (!EncoderIsLossless(codec)) return false;
    const AVPixFmtDescriptor* f = av_pix_fmt_desc_get(EncoderPixelFormat(codec));
    return f && (f->flags & AV_PIX_FMT_FLAG_RGB) && f->comp[0].depth >= 8;
}

} // namespace

AVPixelFormat EncoderPixelFormat(const AVCodec* codec) {
    if (codec->id == AV_CODEC_ID_RAWVIDEO || !codec->pix_fmts) return AV_PIX_FMT_BGR24;
    auto offers = [&](AVPixelFormat f) {
        for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == f) return true;
        return false;
    };
    if (!EncoderIsLossless(codec)) {
        if (offers(AV_PIX_FMT_YUVJ420P)) return AV_PIX_FMT_YUVJ420P;
        if (offers(AV_PIX_FMT_YUV420P)) return AV_PIX_FMT_YUV420P;
    }
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_RGB24, 0, nullptr);
}

AVCodecContext* OpenAviEncoder(const AVCodec* codec, int width, int height, int framesPerSecond,
                               const AviCodecOptions& options, bool globalHeader, int threads) {
    AVCodecContext* c = avcodec_alloc_context3(codec);
    if (!c) return nullptr;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, std::max(1, framesPerSecond)};
    c->framerate = AVRational{std::max(1, framesPerSecond), 1};
    c->pix_fmt = EncoderPixelFormat(codec);
    c->sample_aspect_ratio = AVRational{1, 1};
    if (c->pix_fmt == AV_PIX_FMT_YUVJ420P || c->pix_fmt == AV_PIX_FMT_YUV420P)
        c->color_range = c->pix_fmt == AV_PIX_FMT_YUVJ420P ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (options.keyFrameInterval > 0) c->gop_size = options.keyFrameInterval;
    // An AVI has no presentation times, so frames are stored in the order
    // they are shown: no B-frames.
    c->max_b_frames = 0;
    if (!EncoderIsLossless(codec)) {
        if (options.kilobytesPerSecond > 0) {
            c->bit_rate = int64_t(options.kilobytesPerSecond) * 1024 * 8;
        } else {
            // Quality 100 is the finest quantiser step (2), quality 0 the
            // coarsest (31) of the encoders that take a fixed quantiser.
            const int quality = std::clamp(options.quality, 0, 100);
            const int q = 2 + ((100 - quality) * 29 + 50) / 100;
            c->flags |= AV_CODEC_FLAG_QSCALE;
            c->global_quality = FF_QP2LAMBDA * q;
        }
    }
    if (globalHeader) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    c->thread_count = std::max(threads, 0);
    if (avcodec_open2(c, codec, nullptr) < 0) {
        avcodec_free_context(&c);
        return nullptr;
    }
    return c;
}

namespace {

// Opens the encoder on a small black picture and encodes it: an encoder that
// is compiled in but lacks its device or library fails here, not later in
// the middle of a user's save. One thread is plenty for the trial; the
// threads some encoders start by default spin while they wait for each
// other, and several processes trying every encoder at once (a batch run
// through GNU parallel) then starved each other for minutes.
bool EncoderWorks(const AVCodec* codec) {
    AviCodecOptions options;
    options.encoder = codec->name;
    AVCodecContext* c = OpenAviEncoder(codec, 128, 96, 25, options, false, 1);
    if (!c) return false;
    bool ok = false;
    AVFrame* f = av_frame_alloc();
    AVPacket* p = av_packet_alloc();
    if (f && p) {
        f->format = c->pix_fmt;
        f->width = c->width;
        f->height = c->height;
        if (av_frame_get_buffer(f, 0) >= 0) {
            for (int plane = 0; plane < AV_NUM_DATA_POINTERS && f->buf[plane]; ++plane)
                std::fill(f->buf[plane]->data, f->buf[plane]->data + f->buf[plane]->size, 0);
            f->pts = 0;
            int got = 0;
            if (avcodec_send_frame(c, f) >= 0 && avcodec_send_frame(c, nullptr) >= 0) {
                int r;
                while ((r = avcodec_receive_packet(c, p)) >= 0) {
                    ++got;
                    av_packet_unref(p);
                }
                ok = r == AVERROR_EOF && got > 0;
            }
        }
    }
    av_packet_free(&p);
    av_frame_free(&f);
    avcodec_free_context(&c);
    return ok;
}

int Rank(const std::string& name) {
    static const char* const first[] = {"mjpeg", "ffv1", "mpeg4", "rawvideo"};
    for (int i = 0; i < 4; ++i)
        if (name == first[i]) return i;
    return 4;
}

std::string DescriptionOf(const AVCodec* codec) {
    const std::string name = codec->name;
    if (name == "mjpeg") return "Motion JPEG";
    if (name == "ffv1") return "FFV1 (lossless)";
    if (name == "mpeg4") return "MPEG-4 part 2";
    if (name == "rawvideo") return "Uncompressed BGR (24 bits)";
    return codec->long_name && *codec->long_name ? codec->long_name : name;
}

// Whether an encoder can write AVI here, and what it offers; nothing when
// it cannot.
std::optional<AviEncoderInfo> Examine(const AVOutputFormat* avi, const AVCodec* codec) {
    if (!av_codec_is_encoder(codec) || codec->type != AVMEDIA_TYPE_VIDEO) return std::nullopt;
    if (codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL) return std::nullopt;
    if (avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) != 1) return std::nullopt;
    if (!EncoderWorks(codec)) return std::nullopt;
    const AVCodecDescriptor* d = avcodec_descriptor_get(codec->id);
    AviEncoderInfo e;
    e.name = codec->name;
    e.description = DescriptionOf(codec);
    e.lossless = KeepsRgbExactly(codec);
    e.usesQuality = !EncoderIsLossless(codec);
    e.usesDataRate = e.usesQuality;
    e.usesKeyFrames = !(d && (d->props & AV_CODEC_PROP_INTRA_ONLY));
    return e;
}

const AVOutputFormat* AviFormat() {
    QuietFFmpegLog();
    // The AV1 encoder library prints its banner itself, past FFmpeg's log.
    ::setenv("SVT_LOG", "0", 0);
    return av_guess_format("avi", nullptr, nullptr);
}

std::vector<AviEncoderInfo> ListEncoders() {
    std::vector<AviEncoderInfo> list;
    const AVOutputFormat* avi = AviFormat();
    if (!avi) return list;
    void* it = nullptr;
    while (const AVCodec* codec = av_codec_iterate(&it)) {
        // One entry per name: FFmpeg lists some encoders under several ids.
        if (std::any_of(list.begin(), list.end(),
                        [&](const AviEncoderInfo& e) { return e.name == codec->name; }))
            continue;
        if (auto e = Examine(avi, codec)) list.push_back(std::move(*e));
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const AviEncoderInfo& a, const AviEncoderInfo& b) {
                         const int ra = Rank(a.name), rb = Rank(b.name);
                         return ra != rb ? ra < rb : a.name < b.name;
                     });
    return list;
}

} // namespace

const std::vector<AviEncoderInfo>& AviEncoders() {
    static const std::vector<AviEncoderInfo> list = ListEncoders();
    return list;
}

std::optional<AviEncoderInfo> AviEncoderNamed(const std::string& name) {
    const AVOutputFormat* avi = AviFormat();
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    if (!avi || !codec) return std::nullopt;
    return Examine(avi, codec);
}

const AviEncoderInfo* FindAviEncoder(const std::string& name) {
    for (const auto& e : AviEncoders())
        if (e.name == name) return &e;
    return nullptr;
}
