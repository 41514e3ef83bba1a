#include "video/avi_video_file.h"

#include "video/avi_encoders.h"
#include "video/ffmpeg_util.h"
#include "video/yuv_convert.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// AVI streams number their frames in the stream's own time base; other
// rates come from the stream's frame rate. The result is positive.
AVRational StreamRate(const AVStream* st) {
    AVRational r = av_inv_q(st->time_base);
    if (r.num <= 0 || r.den <= 0) r = st->avg_frame_rate;
    if (r.num <= 0 || r.den <= 0) r = st->r_frame_rate;
    if (r.num <= 0 || r.den <= 0) r = AVRational{25, 1};
    return r;
}

bool IsFullRangeFormat(AVPixelFormat f) {
    return f == AV_PIX_FMT_YUVJ420P || f == AV_PIX_FMT_YUVJ422P || f == AV_PIX_FMT_YUVJ444P ||
           f == AV_PIX_FMT_YUVJ440P || f == AV_PIX_FMT_YUVJ411P;
}

// Looking up the key frame before a target and decoding from there costs
// about this many frames more than going on from where the decoder stands.
constexpr int kSeekCostFrames = 4;

// Rows of a width that is a multiple of this many pixels are converted in
// place; others through a padded buffer.
constexpr int kDirectWidthMultiple = 32;

} // namespace

struct AviVideoFile::Impl {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    AVStream* st = nullptr;
    int stream = -1;
    AVRational rate{25, 1}; // frames per second
    int64_t startTs = 0;    // timestamp of frame 0
    int frameCount = 0;
    AVPacket* pkt = nullptr;
    // The decoded frame the decoder stands on (heldIndex), and one decoded
    // past it that has not been asked for yet (aheadIndex); -1 when none.
    AVFrame* held = nullptr;
    AVFrame* ahead = nullptr;
    int heldIndex = -1;
    int aheadIndex = -1;
    bool positioned = false; // the decoder goes on from held
    bool draining = false;   // the file's end was read and the decoder is being emptied
    int64_t decoded = 0;
    SwsContext* sws = nullptr;
    std::vector<uint8_t> scratch;
    int lastSent = -1;   // number of the last packet sent to the decoder
    int lastPacket = -1; // number of the last packet read, empty ones too
    struct Drained {
        AVFrame* frame;
        int label;
    };
    std::vector<Drained> drained; // pictures left in the decoder at the end
    size_t drainedNext = 0;

    ~Impl() {
        DropDrained();
        sws_freeContext(sws);
        av_frame_free(&held);
        av_frame_free(&ahead);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }

    int64_t TsOf(int i) const { return startTs + av_rescale_q(i, av_inv_q(rate), st->time_base); }
    int IndexOf(int64_t ts) const {
        const int64_t i = av_rescale_q_rnd(ts - startTs, st->time_base, av_inv_q(rate),
                                           AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
        return int(std::clamp<int64_t>(i, -1, INT_MAX));
    }

    // The frame number of the key frame the index names at or before frame i,
    // or -1 when the file has no index to say.
    int KeyFrameBefore(int i) const {
        const int e = av_index_search_timestamp(st, TsOf(i), AVSEEK_FLAG_BACKWARD);
        if (e < 0) return -1;
        const AVIndexEntry* entry = avformat_index_get_entry(st, e);
        return entry ? IndexOf(entry->timestamp) : -1;
    }

    bool Seek(int i) {
        avcodec_flush_buffers(dec);
        DropDrained();
        lastSent = lastPacket = -1;
        heldIndex = aheadIndex = -1;
        draining = false;
        positioned = false;
        if (av_seek_frame(fmt, stream, TsOf(i), AVSEEK_FLAG_BACKWARD) < 0 &&
            av_seek_frame(fmt, stream, startTs, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0 &&
            avformat_seek_file(fmt, -1, INT64_MIN, 0, 0, AVSEEK_FLAG_BYTE) < 0)
            return false;
        positioned = true;
        return true;
    }

    // The frame number of a decoded picture from its time. An AVI keeps no
    // presentation times: the reader numbers the packets in decoding order,
    // so a stream with B-frames gives each picture the number of the packet
    // that let it out, as many frames later as the decoder holds back.
    int Label(const AVFrame* f) const {
        int64_t ts = f->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE) ts = f->pts;
        return ts == AV_NOPTS_VALUE ? -1 : std::max(-1, IndexOf(ts) - dec->has_b_frames);
    }

    // Takes `label` for the next picture in `ahead`. Pictures leave the
    // decoder in the order they are shown, so one without a number, or with
    // one no later than the last picture's, is the next frame.
    void TakeAhead(int label) {
        ++decoded;
        aheadIndex = label;
        if (heldIndex >= 0 && aheadIndex <= heldIndex) aheadIndex = heldIndex + 1;
        if (aheadIndex < 0) aheadIndex = heldIndex + 1;
    }

    // The pictures the decoder still holds when the file ends come out
    // without times: they are the last frames sent, in order, so they are
    // numbered back from the last packet.
    void CollectDrained() {
        drained.clear();
        drainedNext = 0;
        for (int errors = 0;;) {
            AVFrame* f = av_frame_alloc();
            if (!f) break;
            const int r = avcodec_receive_frame(dec, f);
            if (r < 0) {
                av_frame_free(&f);
                if (r != AVERROR_EOF && r != AVERROR(EAGAIN) && ++errors < 64) continue;
                break;
            }
            drained.push_back({f, Label(f)});
        }
        const int n = int(drained.size());
        for (int j = 0; j < n; ++j)
            if (drained[j].label < 0 && lastSent >= 0) drained[j].label = lastSent - (n - 1 - j);
    }

    void DropDrained() {
        for (auto& d : drained) av_frame_free(&d.frame);
        drained.clear();
        drainedNext = 0;
    }

    // Decodes the next frame into `ahead`; false at the end of the stream.
    bool DecodeNext() {
        int errors = 0;
        while (!draining) {
            const int r = avcodec_receive_frame(dec, ahead);
            if (r >= 0) {
                TakeAhead(Label(ahead));
                return true;
            }
            if (r != AVERROR(EAGAIN) && r != AVERROR_EOF && ++errors < 64)
                continue; // a frame that failed to decode: the next one may not
            if (r != AVERROR(EAGAIN)) return false; // the decoder gave up
            if (av_read_frame(fmt, pkt) < 0) {
                draining = true;
                avcodec_send_packet(dec, nullptr);
                CollectDrained();
                break;
            }
            // Other streams, and the empty chunks by which an AVI repeats the
            // previous picture, go nowhere: an empty packet would end the
            // decoder. A damaged packet is passed over; its frame comes out as
            // a repeat of the one before.
            if (pkt->stream_index == stream) {
                const int index = pkt->dts != AV_NOPTS_VALUE ? IndexOf(pkt->dts) : lastPacket + 1;
                lastPacket = std::max(lastPacket, index);
                if (pkt->size > 0) {
                    avcodec_send_packet(dec, pkt);
                    lastSent = index;
                }
            }
            av_packet_unref(pkt);
        }
        if (drainedNext >= drained.size()) return false;
        Drained& d = drained[drainedNext++];
        av_frame_unref(ahead);
        av_frame_move_ref(ahead, d.frame);
        av_frame_free(&d.frame);
        TakeAhead(d.label);
        return true;
    }

    // Leaves frame i (or the picture shown during it) in `held`.
    bool Reach(int i) {
        if (heldIndex >= 0 && heldIndex == i) return true;
        bool goOn = positioned && heldIndex >= 0 && heldIndex < i;
        if (goOn && i - heldIndex > kSeekCostFrames) {
            const int key = KeyFrameBefore(i);
            if (key > heldIndex && i - key + kSeekCostFrames < i - heldIndex) goOn = false;
        }
        if (goOn && aheadIndex >= 0 && aheadIndex > i) return true; // i repeats held
        if (!goOn && !Seek(i)) return false;
        bool sought = !goOn;
        for (;;) {
            if (aheadIndex < 0 && !DecodeNext()) {
                aheadIndex = -1;
                positioned = false;
                // The file ended. A header may promise more frames than the
                // file holds (a damaged or cut file): the count becomes what
                // is there, so that nobody writes the last picture for the
                // rest of the promise.
                if (draining) {
                    const int end = std::max(lastPacket, heldIndex) + 1;
                    if (end > 0 && end < frameCount) frameCount = end;
                }
                // Frames past the last picture (empty chunks) repeat it.
                return heldIndex >= 0 && heldIndex <= i && i < frameCount;
            }
            if (aheadIndex > i) {
                if (heldIndex >= 0) return true; // i repeats held
                if (sought && i > 0) {
                    // The seek landed past i (a file whose index is off): go
                    // back to the start and decode forward from there.
                    sought = false;
                    avcodec_flush_buffers(dec);
                    DropDrained();
                    lastSent = lastPacket = -1;
                    heldIndex = aheadIndex = -1;
                    draining = false;
                    if (av_seek_frame(fmt, stream, startTs,
                                      AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
                        return false;
                    continue;
                }
                return false;
            }
            std::swap(held, ahead);
            av_frame_unref(ahead);
            heldIndex = aheadIndex;
            aheadIndex = -1;
            if (heldIndex == i) return true;
        }
    }

    bool Convert(const AVFrame* f, BMP_File& out) {
        const AVPixelFormat format = AVPixelFormat(f->format);
        if (f->width <= 0 || f->height <= 0 || !BMP_File::SizeAllowed(f->width, f->height))
            return false;
        sws = sws_getCachedContext(sws, f->width, f->height, format, f->width, f->height,
                                   AV_PIX_FMT_RGB24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) return false;
        const int space = f->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : f->colorspace;
        const int fullRange = f->color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(format);
        sws_setColorspaceDetails(sws, sws_getCoefficients(space), fullRange,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        BMP_File fresh;
        BMP_File& into = out.Width() == f->width && out.Height() == f->height ? out : fresh;
        if (&into == &fresh && !fresh.CreateUninitialized(f->width, f->height)) return false;
        // The converters write whole blocks of pixels and so run past the end
        // of a row whose length is not a multiple of theirs: such rows go
        // through a padded buffer.
        const size_t rowBytes = size_t(f->width) * 3;
        const bool direct = f->width % kDirectWidthMultiple == 0;
        const int stride = direct ? int(rowBytes) : int((rowBytes + 64 + 63) & ~size_t(63));
        if (!direct) scratch.resize(size_t(stride) * size_t(f->height + 1));
        uint8_t* dst[4] = {direct ? into.Bytes() : scratch.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {stride, 0, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, f->height, dst, dstStride) != f->height)
            return false;
        if (!direct)
            for (int y = 0; y < f->height; ++y)
                std::memcpy(into.Bytes() + size_t(y) * rowBytes,
                            scratch.data() + size_t(y) * stride, rowBytes);
        if (&into == &fresh) out = std::move(fresh);
        return true;
    }
};

AviVideoFile::AviVideoFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
AviVideoFile::~AviVideoFile() = default;

std::unique_ptr<AviVideoFile> AviVideoFile::Open(const std::string& path, std::string* message) {
    QuietFFmpegLog();
    auto fail = [&](const char* text) {
        if (message) *message = text;
        return nullptr;
    };
    auto d = std::make_unique<Impl>();
    // Only the AVI reader, only on a local file: a file that merely ends in
    // "avi" cannot make FFmpeg open other formats' playlists or addresses.
    const AVInputFormat* avi = av_find_input_format("avi");
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "protocol_whitelist", "file", 0);
    const int opened = avformat_open_input(&d->fmt, ("file:" + path).c_str(), avi, &opts);
    av_dict_free(&opts);
    if (opened < 0) return fail(kAviOpenError);
    if (avformat_find_stream_info(d->fmt, nullptr) < 0) return fail(kAviFormatError);
    for (unsigned s = 0; s < d->fmt->nb_streams; ++s) {
        const AVStream* st = d->fmt->streams[s];
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            d->stream = int(s);
            break;
        }
    }
    if (d->stream < 0) return fail(kAviNoStream);
    d->st = d->fmt->streams[d->stream];
    for (unsigned s = 0; s < d->fmt->nb_streams; ++s)
        if (int(s) != d->stream) d->fmt->streams[s]->discard = AVDISCARD_ALL;
    const AVCodecParameters* par = d->st->codecpar;
    if (par->width <= 0 || par->height <= 0 || !BMP_File::SizeAllowed(par->width, par->height) ||
        d->st->time_base.num <= 0 || d->st->time_base.den <= 0)
        return fail(kAviFormatError);
    d->rate = StreamRate(d->st);
    d->startTs = d->st->start_time != AV_NOPTS_VALUE ? d->st->start_time : 0;
    int64_t count = d->st->nb_frames;
    if (count <= 0 && d->st->duration != AV_NOPTS_VALUE && d->st->duration > 0)
        count = av_rescale_q(d->st->duration, d->st->time_base, av_inv_q(d->rate));
    if (count <= 0) count = avformat_index_get_entries_count(d->st);
    if (count <= 0) return fail(kAviFormatError);
    d->frameCount = int(std::min<int64_t>(count, INT_MAX));

    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (!codec) return fail(kAviNoDecoder);
    d->dec = avcodec_alloc_context3(codec);
    if (!d->dec || avcodec_parameters_to_context(d->dec, par) < 0) return fail(kAviNoDecoder);
    d->dec->pkt_timebase = d->st->time_base;
    d->dec->thread_count = 0;
    d->dec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(d->dec, codec, nullptr) < 0) return fail(kAviNoDecoder);
    d->pkt = av_packet_alloc();
    d->held = av_frame_alloc();
    d->ahead = av_frame_alloc();
    if (!d->pkt || !d->held || !d->ahead) return fail(kAviOpenError);
    // The stream is positioned at its start.
    d->positioned = true;
    d->heldIndex = d->aheadIndex = -1;
    return std::unique_ptr<AviVideoFile>(new AviVideoFile(std::move(d)));
}

int AviVideoFile::FrameCount() const {
    return impl_->frameCount;
}

int AviVideoFile::FramesPerSecond() const {
    // A stream slower than one frame a second still plays one a second rather
    // than dividing by zero further on.
    return int(std::max<int64_t>(1, std::min<int64_t>(impl_->rate.num / impl_->rate.den, 1000)));
}

int AviVideoFile::FrameDelay(int) const {
    return 100 / FramesPerSecond();
}

bool AviVideoFile::LoadFrame(int i, BMP_File& out) {
    if (i < 0 || i >= impl_->frameCount) return false;
    if (!impl_->Reach(i)) return false;
    return impl_->Convert(impl_->held, out);
}

int AviVideoFile::Width() const {
    return impl_->st->codecpar->width;
}
int AviVideoFile::Height() const {
    return impl_->st->codecpar->height;
}
int AviVideoFile::RateNumerator() const {
    return impl_->rate.num;
}
int AviVideoFile::RateDenominator() const {
    return impl_->rate.den;
}
int64_t AviVideoFile::FramesDecoded() const {
    return impl_->decoded;
}

std::unique_ptr<FrameSource> OpenAviSource(const std::string& path, std::string* message) {
    auto file = AviVideoFile::Open(path, message);
    if (!file) return nullptr;
    BMP_File first;
    if (!file->LoadFrame(0, first)) {
        if (message) *message = kAviFrameZeroError;
        return nullptr;
    }
    return file;
}

namespace {

std::string SystemReason(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

// The file a save to `path` replaces: a symbolic link is followed to the file
// it names, so that the link stays a link.
std::string ResolvedTarget(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : resolved.string();
}

// Creates an empty temporary file beside `target`, readable and writable as a
// new file of the user's would be; "" with errno set when it cannot.
std::string CreateTemporaryBeside(const std::string& target) {
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::random_device seed;
    std::mt19937_64 random(seed() ^ (uint64_t(::getpid()) << 32));
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[17];
        std::snprintf(suffix, sizeof suffix, "%016llx", (unsigned long long)random());
        const std::string name = folder + "." + base + "." + suffix + ".part";
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return name;
        }
        if (errno != EEXIST) return "";
    }
    errno = EEXIST;
    return "";
}

class AviVideoWriter final : public FrameSink {
public:
    ~AviVideoWriter() override {
        std::string ignored;
        Finish(false, &ignored);
    }

    static std::unique_ptr<AviVideoWriter> Create(const std::string& path, int width, int height,
                                                  int framesPerSecond,
                                                  const AviCodecOptions& options,
                                                  std::string* message) {
        QuietFFmpegLog();
        auto fail = [&](const std::string& text) {
            if (message) *message = text;
            return nullptr;
        };
        // The encoder by name, if AVI can hold what it makes (the full list of
        // AviEncoders() costs a trial of every encoder; opening this one
        // below is its trial).
        const AVCodec* codec = avcodec_find_encoder_by_name(options.encoder.c_str());
        const AVOutputFormat* avi = av_guess_format("avi", nullptr, nullptr);
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO || !avi ||
            avformat_query_codec(avi, codec->id, FF_COMPLIANCE_NORMAL) != 1 || width <= 0 ||
            height <= 0 || !BMP_File::SizeAllowed(width, height))
            return fail(kAviNotWritten);

        std::unique_ptr<AviVideoWriter> w(new AviVideoWriter);
        w->target_ = ResolvedTarget(path);
        struct stat st {};
        if (::stat(w->target_.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) return fail(SystemReason(path, EISDIR));
            // A file nobody may write stays as it is, whoever runs the program.
            if (!S_ISREG(st.st_mode) || ::access(w->target_.c_str(), W_OK) != 0 ||
                !(st.st_mode & 0222))
                return fail(SystemReason(path, EACCES));
            w->keepMode_ = true;
            w->mode_ = st.st_mode & 07777;
        }
        w->temp_ = CreateTemporaryBeside(w->target_);
        if (w->temp_.empty()) return fail(SystemReason(path, errno));

        if (avformat_alloc_output_context2(&w->oc_, nullptr, "avi", nullptr) < 0 || !w->oc_)
            return fail(kAviNotWritten);
        w->enc_ = OpenAviEncoder(codec, width, height, framesPerSecond, options,
                                 w->oc_->oformat->flags & AVFMT_GLOBALHEADER);
        if (!w->enc_) return fail(kAviNotWritten);
        w->st_ = avformat_new_stream(w->oc_, nullptr);
        if (!w->st_ || avcodec_parameters_from_context(w->st_->codecpar, w->enc_) < 0)
            return fail(kAviNotWritten);
        w->st_->time_base = w->enc_->time_base;
        w->st_->avg_frame_rate = w->enc_->framerate;
        w->st_->sample_aspect_ratio = w->enc_->sample_aspect_ratio;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "protocol_whitelist", "file", 0);
        const int io =
            avio_open2(&w->oc_->pb, ("file:" + w->temp_).c_str(), AVIO_FLAG_WRITE, nullptr, &opts);
        av_dict_free(&opts);
        if (io < 0) return fail(SystemReason(path, AVUNERROR(io)));
        if (avformat_write_header(w->oc_, nullptr) < 0) return fail(kAviNotWritten);
        w->headerWritten_ = true;
        w->pkt_ = av_packet_alloc();
        if (!w->pkt_) return fail(kAviNotWritten);
        for (AVFrame*& f : w->frames_) {
            f = av_frame_alloc();
            if (!f) return fail(kAviNotWritten);
            f->format = w->enc_->pix_fmt;
            f->width = width;
            f->height = height;
            f->color_range = w->enc_->color_range;
            if (av_frame_get_buffer(f, 0) < 0) return fail(kAviNotWritten);
        }
        w->open_ = true;
        return w;
    }

    bool WriteFrame(const BMP_File& picture, int /*delay: an AVI plays at its one rate*/) override {
        if (!open_ || failed_ || picture.Empty()) return Fail("no picture to write");
        // The encoder may keep the frames it was given for a while: the next
        // one that it has let go of is filled (copying one it still holds
        // only when it holds them all).
        AVFrame* frame = nullptr;
        for (size_t k = 0; k < frames_.size() && !frame; ++k) {
            AVFrame* candidate = frames_[(nextFrame_ + k) % frames_.size()];
            if (av_frame_is_writable(candidate)) frame = candidate;
        }
        if (!frame) {
            frame = frames_[nextFrame_];
            if (av_frame_make_writable(frame) < 0) return Fail("not enough memory");
        }
        nextFrame_ = (nextFrame_ + 1) % frames_.size();
        const bool fullRange = enc_->color_range == AVCOL_RANGE_JPEG;
        const AVPixelFormat format = AVPixelFormat(enc_->pix_fmt);
        if (picture.Width() == enc_->width && picture.Height() == enc_->height &&
            (format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUV420P)) {
            // The usual case, in one pass of our own.
            RgbToYuv420(picture, fullRange || format == AV_PIX_FMT_YUVJ420P,
                        YuvPlanes{frame->data[0], frame->linesize[0], frame->data[1],
                                  frame->linesize[1], frame->data[2], frame->linesize[2]});
        } else if (!Scale(picture, frame)) {
            return Fail("cannot convert the frame");
        }
        frame->pts = written_;
        frame->quality = enc_->global_quality; // the fixed quantiser, when one is chosen
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        if (const int r = avcodec_send_frame(enc_, frame); r < 0) return Fail(FFmpegError(r));
        if (!Drain()) return false;
        ++written_;
        return true;
    }

    // Any other encoder format, or a frame of another size (a treatment that
    // depends on the picture), which is fitted to the output's size rather
    // than written past its buffer.
    bool Scale(const BMP_File& picture, AVFrame* frame) {
        sws_ = sws_getCachedContext(sws_, picture.Width(), picture.Height(), AV_PIX_FMT_RGB24,
                                    enc_->width, enc_->height, AVPixelFormat(enc_->pix_fmt),
                                    SWS_POINT, nullptr, nullptr, nullptr);
        if (!sws_) return false;
        const int fullRange = enc_->color_range == AVCOL_RANGE_JPEG;
        sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(SWS_CS_DEFAULT), fullRange, 0, 1 << 16,
                                 1 << 16);
        // The converters read whole blocks of pixels, past the end of a row of
        // another length: such rows are copied into a padded buffer first.
        const size_t rowBytes = size_t(picture.Width()) * 3;
        const bool direct = picture.Width() % kDirectWidthMultiple == 0;
        const int stride = direct ? int(rowBytes) : int((rowBytes + 64 + 63) & ~size_t(63));
        if (!direct) {
            scratch_.resize(size_t(stride) * size_t(picture.Height() + 1));
            for (int y = 0; y < picture.Height(); ++y)
                std::memcpy(scratch_.data() + size_t(y) * stride,
                            picture.Bytes() + size_t(y) * rowBytes, rowBytes);
        }
        const uint8_t* src[4] = {direct ? picture.Bytes() : scratch_.data(), nullptr, nullptr,
                                 nullptr};
        const int srcStride[4] = {stride, 0, 0, 0};
        return sws_scale(sws_, src, srcStride, 0, picture.Height(), frame->data, frame->linesize) ==
               enc_->height;
    }

    int FramesWritten() const override { return written_; }

    bool Finish(bool commit, std::string* why) override {
        if (finished_) return true;
        finished_ = true;
        bool ok = open_ && !failed_;
        if (ok && commit) {
            if (const int r = avcodec_send_frame(enc_, nullptr); r < 0) ok = Fail(FFmpegError(r));
            if (ok) ok = Drain();
        }
        if (headerWritten_ && ok && commit) {
            if (const int r = av_write_trailer(oc_); r < 0) ok = Fail(FFmpegError(r));
        }
        if (oc_ && oc_->pb) {
            avio_flush(oc_->pb);
            if (oc_->pb->error < 0 && ok) ok = Fail(FFmpegError(oc_->pb->error));
            if (avio_closep(&oc_->pb) < 0 && ok) ok = Fail("the file could not be closed");
        }
        Release();
        if (ok && commit) {
            // On disk before it replaces the old file, so that a crash leaves
            // the old or the new one and never a truncated file.
            const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || ::fsync(fd) != 0) ok = Fail(SystemReason(target_, errno));
            if (fd >= 0) ::close(fd);
            if (ok && keepMode_) ::chmod(temp_.c_str(), mode_);
            if (ok && ::rename(temp_.c_str(), target_.c_str()) != 0)
                ok = Fail(SystemReason(target_, errno));
        }
        if (!(ok && commit) && !temp_.empty()) ::unlink(temp_.c_str());
        if (!commit) return true;
        if (!ok && why) *why = error_.empty() ? kAviNotWritten : error_;
        return ok;
    }

private:
    AviVideoWriter() = default;

    bool Fail(const std::string& why) {
        if (!failed_) error_ = why;
        failed_ = true;
        return false;
    }

    bool Drain() {
        for (;;) {
            const int r = avcodec_receive_packet(enc_, pkt_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) return Fail(FFmpegError(r));
            av_packet_rescale_ts(pkt_, enc_->time_base, st_->time_base);
            pkt_->stream_index = st_->index;
            if (const int wr = av_interleaved_write_frame(oc_, pkt_); wr < 0)
                return Fail(SystemReason(target_, AVUNERROR(wr)));
            if (oc_->pb->error < 0) return Fail(SystemReason(target_, AVUNERROR(oc_->pb->error)));
        }
    }

    void Release() {
        sws_freeContext(sws_);
        sws_ = nullptr;
        for (AVFrame*& f : frames_) av_frame_free(&f);
        av_packet_free(&pkt_);
        avcodec_free_context(&enc_);
        if (oc_) {
            if (oc_->pb) avio_closep(&oc_->pb);
            avformat_free_context(oc_);
            oc_ = nullptr;
        }
        open_ = false;
    }

    std::string target_, temp_, error_;
    bool keepMode_ = false;
    mode_t mode_ = 0;
    AVFormatContext* oc_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    AVStream* st_ = nullptr;
    std::array<AVFrame*, 4> frames_{};
    size_t nextFrame_ = 0;
    AVPacket* pkt_ = nullptr;
    SwsContext* sws_ = nullptr;
    std::vector<uint8_t> scratch_;
    bool open_ = false, headerWritten_ = false, failed_ = false, finished_ = false;
    int written_ = 0;
};

} // namespace

std::unique_ptr<FrameSink> CreateAviSink(const std::string& path, int width, int height,
                                         int framesPerSecond, const AviCodecOptions& options,
                                         std::string* message) {
    return AviVideoWriter::Create(path, width, height, framesPerSecond, options, message);
}
