// AVI reading and writing on real files made by the ffmpeg program: frame
// counts and rates, exact frames after seeks and in sequence, the messages of
// failed opens, every encoder the chooser offers, and the temporary file that
// keeps an existing output safe.

#include "video/avi_encoders.h"
#include "video/avi_video_file.h"
#include "video_test_util.h"

#include <gtest/gtest.h>

#include <csignal>
#include <numeric>
#include <random>
#include <sys/resource.h>

using namespace videotest;

namespace {

struct CodecCase {
    const char* name;
    const char* args;
};

// The codecs a user's AVIs come in; mpeg4 with predicted frames between key
// frames 12 apart, and once more with B-frames, whose frames leave the
// decoder in another order than they enter it.
const CodecCase kCodecs[] = {
    {"mjpeg", "-c:v mjpeg -q:v 4"},
    {"mpeg4", "-c:v mpeg4 -q:v 4 -g 12 -bf 0"},
    {"mpeg4_bframes", "-c:v mpeg4 -q:v 4 -g 12 -bf 2"},
    {"ffv1", "-c:v ffv1"},
    {"raw", "-c:v rawvideo -pix_fmt bgr24"},
    // H.264 holds back two frames, with B-frames referring to B-frames.
    {"h264", "-c:v libx264 -g 12 -pix_fmt yuv420p"},
};

class AviCodecTest : public TempDirTest, public ::testing::WithParamInterface<CodecCase> {};

constexpr int kW = 160, kH = 96, kFrames = 50;

} // namespace

TEST_P(AviCodecTest, CountsRateAndExactFramesInSequenceAndAfterSeeks) {
    const std::string path = Path("in.avi");
    if (!MakeAvi(path, GetParam().args, kW, kH, kFrames)) {
        ASSERT_STRNE(GetParam().name, "mjpeg");
        GTEST_SKIP() << "this ffmpeg does not write " << GetParam().name;
    }
    std::string message;
    auto avi = AviVideoFile::Open(path, &message);
    ASSERT_TRUE(avi) << message;
    EXPECT_EQ(avi->FrameCount(), kFrames);
    EXPECT_EQ(avi->FramesPerSecond(), 25);
    EXPECT_EQ(avi->FrameDelay(7), 4);
    EXPECT_EQ(avi->Width(), kW);
    EXPECT_EQ(avi->Height(), kH);
    EXPECT_FALSE(avi->IsGif());

    BMP_File f;
    // A jump into the middle of a group lands on the frame asked for, not
    // on the key frame before it.
    for (int i : {17, 5, 49, 0, 25, 24, 13, 13, 36}) {
        ASSERT_TRUE(avi->LoadFrame(i, f)) << i;
        EXPECT_EQ(f.Width(), kW);
        EXPECT_EQ(f.Height(), kH);
        EXPECT_EQ(CounterOf(f), i) << "asked for " << i;
    }
    std::vector<int> order(kFrames);
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    for (int i : order) {
        ASSERT_TRUE(avi->LoadFrame(i, f)) << i;
        EXPECT_EQ(CounterOf(f), i) << "asked for " << i;
    }

    // A pass from the start decodes each frame about once, not again from
    // the last key frame for every frame.
    const int64_t before = avi->FramesDecoded();
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_TRUE(avi->LoadFrame(i, f)) << i;
        EXPECT_EQ(CounterOf(f), i);
    }
    EXPECT_LE(avi->FramesDecoded() - before, kFrames + 3);

    // Outside the video: refused, and the picture is left as it was.
    const BMP_File kept = f;
    EXPECT_FALSE(avi->LoadFrame(kFrames, f));
    EXPECT_FALSE(avi->LoadFrame(-1, f));
    EXPECT_TRUE(f.SameAs(kept));

    // The same frames through the source the window and the CLI open.
    auto source = OpenAviSource(path, &message);
    ASSERT_TRUE(source) << message;
    ASSERT_TRUE(source->LoadFrame(31, f));
    EXPECT_EQ(CounterOf(f), 31);
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviCodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

class AviFileTest : public TempDirTest {};

TEST_F(AviFileTest, RateIsTheStreamsFractionAndASlowStreamStillPlays) {
    const std::string ntsc = Path("ntsc.avi");
    ASSERT_TRUE(MakeAvi(ntsc, "-c:v mjpeg", 64, 48, 5, "30000/1001"));
    std::string message;
    auto a = AviVideoFile::Open(ntsc, &message);
    ASSERT_TRUE(a) << message;
    EXPECT_EQ(a->RateNumerator(), 30000);
    EXPECT_EQ(a->RateDenominator(), 1001);
    EXPECT_EQ(a->FramesPerSecond(), 29); // whole frames, as the output is written
    EXPECT_EQ(a->FrameDelay(0), 3);

    // Half a frame a second: rate / scale is 0 by integer division, which
    // would divide the frame delay by zero.
    const std::string slow = Path("slow.avi");
    ASSERT_TRUE(MakeAvi(slow, "-c:v mjpeg", 64, 48, 3, "1/2"));
    auto b = AviVideoFile::Open(slow, &message);
    ASSERT_TRUE(b) << message;
    EXPECT_EQ(b->FrameCount(), 3);
    EXPECT_EQ(b->FramesPerSecond(), 1);
    EXPECT_EQ(b->FrameDelay(2), 100);
    BMP_File f;
    ASSERT_TRUE(b->LoadFrame(2, f));
    EXPECT_EQ(CounterOf(f), 2);

    // Written at the rate asked for.
    auto sink = CreateAviSink(Path("twelve.avi"), 64, 48, 12, {}, &message);
    ASSERT_TRUE(sink) << message;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(sink->WriteFrame(CounterFrame(i, 64, 48), 8));
    ASSERT_TRUE(sink->Finish(true, &message)) << message;
    EXPECT_EQ(Probe(Path("twelve.avi")), "mjpeg,64,48,12/1,3");
    auto twelve = AviVideoFile::Open(Path("twelve.avi"), &message);
    ASSERT_TRUE(twelve) << message;
    EXPECT_EQ(twelve->FramesPerSecond(), 12);
    EXPECT_EQ(twelve->FrameDelay(0), 8);
}

TEST_F(AviFileTest, FramesWithoutAPictureShowTheOneBefore) {
    // Every third frame kept at its own time: the AVI holds a picture at
    // 0, 3, 6, ... and nothing between, which a player shows as the picture
    // before.
    ASSERT_TRUE(MakeAvi(Path("gaps.avi"),
                        "-vf select='not(mod(n\\,3))' -fps_mode passthrough -c:v mjpeg", kW, kH,
                        30));
    std::string message;
    auto avi = AviVideoFile::Open(Path("gaps.avi"), &message);
    ASSERT_TRUE(avi) << message;
    EXPECT_EQ(avi->FrameCount(), 28);
    BMP_File f;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 27, 13, 10, 11, 12, 26}) {
        ASSERT_TRUE(avi->LoadFrame(i, f)) << i;
        EXPECT_EQ(CounterOf(f), i / 3 * 3) << "asked for " << i;
    }
    EXPECT_FALSE(avi->LoadFrame(28, f));
}

TEST_F(AviFileTest, FailedOpensGiveTheirMessages) {
    std::string message;
    EXPECT_FALSE(AviVideoFile::Open(Path("missing.avi"), &message));
    EXPECT_EQ(message, "File open error");

    std::ofstream(Path("text.avi")) << "this is not a video at all\n";
    message.clear();
    EXPECT_FALSE(OpenAviSource(Path("text.avi"), &message));
    EXPECT_EQ(message, "File open error");

    // Another container under an AVI name is not read as AVI.
    ASSERT_TRUE(MakeAvi(Path("real.avi"), "-c:v mjpeg -f matroska", 64, 48, 3));
    message.clear();
    EXPECT_FALSE(OpenAviSource(Path("real.avi"), &message));
    EXPECT_EQ(message, "File open error");

    // Sound only.
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -f lavfi -i anullsrc=r=8000:cl=mono -t 1 "
                           "-c:a pcm_s16le " +
                           Quote(Path("sound.avi")))
                              .c_str()),
              0);
    message.clear();
    EXPECT_FALSE(OpenAviSource(Path("sound.avi"), &message));
    EXPECT_EQ(message, "The video stream open error");
}

TEST_F(AviFileTest, DamagedFilesNeverCrashAndTheGoodFramesStillCome) {
    const std::string good = Path("good.avi");
    ASSERT_TRUE(MakeAvi(good, "-c:v mjpeg -q:v 4", kW, kH, 30));
    const std::string bytes = Slurp(good);
    std::mt19937 random(3);
    for (int round = 0; round < 12; ++round) {
        std::string damaged = bytes;
        if (round < 4) {
            damaged.resize(bytes.size() * (round + 1) / 5); // cut short
        } else {
            for (int k = 0; k < 40; ++k) damaged[random() % damaged.size()] = char(random());
        }
        const std::string path = Path("damaged" + std::to_string(round) + ".avi");
        std::ofstream(path, std::ios::binary) << damaged;
        std::string message;
        auto avi = AviVideoFile::Open(path, &message);
        if (!avi) {
            EXPECT_FALSE(message.empty());
            continue;
        }
        BMP_File f;
        for (int i = 0; i < avi->FrameCount(); i += 3) avi->LoadFrame(i, f);
        for (int i = avi->FrameCount() - 1; i >= 0; i -= 7) avi->LoadFrame(i, f);
    }
    // A file cut after two fifths still opens and gives its first frames.
    std::string message;
    auto cut = AviVideoFile::Open(Path("damaged1.avi"), &message);
    ASSERT_TRUE(cut) << message;
    BMP_File f;
    ASSERT_TRUE(cut->LoadFrame(3, f));
    EXPECT_EQ(CounterOf(f), 3);
}

TEST_F(AviFileTest, TheChooserOffersTheUsualEncodersFirstAndEachOneWrites) {
    const auto& list = AviEncoders();
    ASSERT_GE(list.size(), 4u);
    EXPECT_EQ(list[0].name, "mjpeg");
    EXPECT_EQ(list[0].description, "Motion JPEG");
    EXPECT_EQ(list[1].name, "ffv1");
    EXPECT_EQ(list[2].name, "mpeg4");
    EXPECT_EQ(list[3].name, "rawvideo");
    EXPECT_TRUE(list[1].lossless && list[3].lossless);
    EXPECT_FALSE(list[0].lossless || list[2].lossless);
    EXPECT_TRUE(list[2].usesKeyFrames);
    EXPECT_FALSE(list[0].usesKeyFrames); // every Motion JPEG frame is a key frame
    EXPECT_EQ(FindAviEncoder("no-such-encoder"), nullptr);
    EXPECT_EQ(FindAviEncoder("mpeg4"), &list[2]);
    // One encoder tried alone gives the listed answer; names that are not a
    // video encoder AVI can hold give none.
    for (const auto& e : list) {
        const auto alone = AviEncoderNamed(e.name);
        ASSERT_TRUE(alone.has_value()) << e.name;
        EXPECT_EQ(alone->description, e.description) << e.name;
        EXPECT_EQ(alone->lossless, e.lossless) << e.name;
        EXPECT_EQ(alone->usesKeyFrames, e.usesKeyFrames) << e.name;
        EXPECT_EQ(alone->usesQuality, e.usesQuality) << e.name;
    }
    for (const char* name : {"no-such-encoder", "aac", "", "png"})
        EXPECT_EQ(AviEncoderNamed(name).has_value(), FindAviEncoder(name) != nullptr) << name;

    // A size every encoder takes (H.263's QCIF).
    for (const auto& e : list) {
        SCOPED_TRACE(e.name);
        const std::string out = Path("out-" + e.name + ".avi");
        AviCodecOptions options;
        options.encoder = e.name;
        options.quality = 90;
        std::string message;
        auto sink = CreateAviSink(out, 176, 144, 25, options, &message);
        ASSERT_TRUE(sink) << message;
        for (int i = 0; i < 6; ++i) ASSERT_TRUE(sink->WriteFrame(CounterFrame(i, 176, 144), 8));
        EXPECT_EQ(sink->FramesWritten(), 6);
        std::string why;
        ASSERT_TRUE(sink->Finish(true, &why)) << why;
        // FFmpeg's own reader agrees on what was written...
        const std::string probe = Probe(out);
        EXPECT_NE(probe.find(std::string("176,144") + ",25/1,6"), std::string::npos) << probe;
        // ...and so does ours, frame by frame; lossless encoders to the pixel.
        auto back = AviVideoFile::Open(out, &message);
        ASSERT_TRUE(back) << message;
        EXPECT_EQ(back->FrameCount(), 6);
        EXPECT_EQ(back->FramesPerSecond(), 25);
        BMP_File f;
        for (int i : {4, 0, 5, 1}) {
            ASSERT_TRUE(back->LoadFrame(i, f));
            if (e.lossless)
                EXPECT_TRUE(f.SameAs(CounterFrame(i, 176, 144))) << i;
            else
                EXPECT_EQ(CounterOf(f), i);
        }
        // Nothing but the output is left in the folder.
        EXPECT_FALSE(fs::exists(out + ".part"));
    }
    for (const auto& name : Names()) EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

TEST_F(AviFileTest, QualityKeyFramesAndDataRateReachTheEncoder) {
    auto sizeWith = [&](const AviCodecOptions& o, const std::string& name) {
        const std::string out = Path(name);
        std::string message;
        auto sink = CreateAviSink(out, 320, 240, 25, o, &message);
        EXPECT_TRUE(sink) << message;
        if (!sink) return uintmax_t(0);
        for (int i = 0; i < 24; ++i) {
            BMP_File f = CounterFrame(i, 320, 240, true);
            // Detail that costs bits at a fine quantiser.
            for (int y = 0; y < 240; ++y)
                for (int x = (y * 7 + i) % 5; x < 320; x += 5) f.Pixel(x, y).g ^= 0x5A;
            sink->WriteFrame(f, 4);
        }
        std::string why;
        EXPECT_TRUE(sink->Finish(true, &why)) << why;
        return fs::file_size(out);
    };
    AviCodecOptions fine, coarse;
    fine.quality = 100;
    coarse.quality = 0;
    EXPECT_GT(sizeWith(fine, "fine.avi"), 2 * sizeWith(coarse, "coarse.avi"));

    // MPEG-4 with a key frame every 5 frames has 5 key frames in 24.
    AviCodecOptions keyed;
    keyed.encoder = "mpeg4";
    keyed.keyFrameInterval = 5;
    sizeWith(keyed, "keyed.avi");
    const std::string keys =
        Capture("ffprobe -v error -select_streams v:0 -show_entries packet=flags -of csv=p=0 " +
                Quote(Path("keyed.avi")));
    EXPECT_EQ(std::count(keys.begin(), keys.end(), 'K'), 5) << keys;

    // The data rate decides the size where no quality is fixed.
    AviCodecOptions low, high;
    low.encoder = high.encoder = "mpeg4";
    low.kilobytesPerSecond = 8;
    high.kilobytesPerSecond = 400;
    const uintmax_t lowBytes = sizeWith(low, "low.avi");
    EXPECT_GT(sizeWith(high, "high.avi"), 3 * lowBytes);
}

TEST_F(AviFileTest, AnOutputIsReplacedOnlyWhenTheNewOneIsComplete) {
    const std::string out = Path("out.avi");
    std::ofstream(out) << "the previous video";
    ::chmod(out.c_str(), 0640);
    std::string message;
    {
        // Given up: removed, the old file stays.
        auto sink = CreateAviSink(out, 64, 48, 25, {}, &message);
        ASSERT_TRUE(sink) << message;
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(sink->WriteFrame(CounterFrame(i, 64, 48), 4));
        EXPECT_EQ(Names().size(), 2u); // the output and the temporary beside it
        std::string why;
        EXPECT_TRUE(sink->Finish(false, &why));
    }
    EXPECT_EQ(Slurp(out), "the previous video");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.avi"});
    {
        // Dropped without finishing (an exception, a crash of the caller's loop).
        auto sink = CreateAviSink(out, 64, 48, 25, {}, &message);
        ASSERT_TRUE(sink) << message;
        ASSERT_TRUE(sink->WriteFrame(CounterFrame(0, 64, 48), 4));
    }
    EXPECT_EQ(Slurp(out), "the previous video");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.avi"});

    {
        // The disk fills up midway: the write fails, the old file stays.
        auto sink = CreateAviSink(out, 320, 240, 25, {}, &message);
        ASSERT_TRUE(sink) << message;
        auto handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        ::getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = 64 * 1024;
        ::setrlimit(RLIMIT_FSIZE, &small);
        bool failed = false;
        for (int i = 0; i < 200 && !failed; ++i) {
            BMP_File f = CounterFrame(i, 320, 240, true);
            for (int y = 0; y < 240; ++y)
                for (int x = y % 3; x < 320; x += 3) f.Pixel(x, y).g = uint8_t(x * y + i);
            failed = !sink->WriteFrame(f, 4);
        }
        std::string why;
        const bool finished = sink->Finish(true, &why);
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
        EXPECT_FALSE(finished);
        EXPECT_NE(why.find("cannot write"), std::string::npos) << why;
    }
    EXPECT_EQ(Slurp(out), "the previous video");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.avi"});

    // Finished: the new video replaces the old file and keeps its permissions.
    auto sink = CreateAviSink(out, 64, 48, 25, {}, &message);
    ASSERT_TRUE(sink) << message;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(sink->WriteFrame(CounterFrame(i, 64, 48), 4));
    std::string why;
    ASSERT_TRUE(sink->Finish(true, &why)) << why;
    EXPECT_EQ(Names(), std::vector<std::string>{"out.avi"});
    EXPECT_EQ(Probe(out), "mjpeg,64,48,25/1,3");
    struct stat st {};
    ::stat(out.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(AviFileTest, OutputsThatCannotBeWrittenAreRefusedBeforeAnyFrame) {
    std::string message;
    AviCodecOptions unknown;
    unknown.encoder = "no-such-encoder";
    EXPECT_FALSE(CreateAviSink(Path("a.avi"), 64, 48, 25, unknown, &message));
    EXPECT_EQ(message, "The video file is not written. Please, select other codec.");
    EXPECT_FALSE(CreateAviSink(Path("a.avi"), 0, 48, 25, {}, &message));
    EXPECT_EQ(message, "The video file is not written. Please, select other codec.");

    fs::create_directories(Path("folder.avi"));
    message.clear();
    EXPECT_FALSE(CreateAviSink(Path("folder.avi"), 64, 48, 25, {}, &message));
    EXPECT_NE(message.find("cannot write"), std::string::npos) << message;
    EXPECT_FALSE(CreateAviSink(Path("no/such/folder/a.avi"), 64, 48, 25, {}, &message));
    EXPECT_NE(message.find("cannot write"), std::string::npos) << message;

    if (::geteuid() != 0) {
        std::ofstream(Path("locked.avi")) << "keep";
        ::chmod(Path("locked.avi").c_str(), 0444);
        EXPECT_FALSE(CreateAviSink(Path("locked.avi"), 64, 48, 25, {}, &message));
        EXPECT_EQ(Slurp(Path("locked.avi")), "keep");
    }
    std::vector<std::string> expected{"folder.avi"};
    if (::geteuid() != 0) expected.push_back("locked.avi");
    EXPECT_EQ(Names(), expected);
}

TEST_F(AviFileTest, AFrameOfAnotherSizeIsFittedToTheOutput) {
    // A treatment whose result depends on the picture may change the size
    // from one frame to the next; the output keeps the size it was opened
    // with, for every encoder format.
    for (const char* encoder : {"mjpeg", "ffv1", "rawvideo"}) {
        SCOPED_TRACE(encoder);
        AviCodecOptions o;
        o.encoder = encoder;
        const std::string out = Path(std::string(encoder) + ".avi");
        std::string message;
        auto sink = CreateAviSink(out, 96, 64, 25, o, &message);
        ASSERT_TRUE(sink) << message;
        ASSERT_TRUE(sink->WriteFrame(CounterFrame(1, 96, 64), 4));
        ASSERT_TRUE(sink->WriteFrame(CounterFrame(2, 400, 300), 4));
        ASSERT_TRUE(sink->WriteFrame(CounterFrame(3, 5, 3), 4));
        ASSERT_TRUE(sink->Finish(true, &message)) << message;
        auto back = AviVideoFile::Open(out, &message);
        ASSERT_TRUE(back) << message;
        EXPECT_EQ(back->FrameCount(), 3);
        BMP_File f;
        ASSERT_TRUE(back->LoadFrame(1, f));
        EXPECT_EQ(f.Width(), 96);
        EXPECT_EQ(f.Height(), 64);
        EXPECT_EQ(CounterOf(f), 2);
    }
}

TEST_F(AviFileTest, SaveThroughASymbolicLinkKeepsTheLink) {
    fs::create_directories(Path("real"));
    std::ofstream(Path("real/video.avi")) << "old";
    fs::create_symlink(Path("real/video.avi"), Path("link.avi"));
    std::string message, why;
    auto sink = CreateAviSink(Path("link.avi"), 64, 48, 25, {}, &message);
    ASSERT_TRUE(sink) << message;
    ASSERT_TRUE(sink->WriteFrame(CounterFrame(1, 64, 48), 4));
    ASSERT_TRUE(sink->Finish(true, &why)) << why;
    EXPECT_TRUE(fs::is_symlink(Path("link.avi")));
    EXPECT_EQ(Probe(Path("real/video.avi")), "mjpeg,64,48,25/1,1");
}
