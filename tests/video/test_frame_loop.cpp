// The frame loop that writes a whole video through the pipeline: sizes, the
// width rounded up to four, frame delays, Stop, frames that cannot be
// decoded, and failures that must leave an existing output alone.

#include "video/avi_video_file.h"
#include "video/frame_loop.h"
#include "video_test_util.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace videotest;

namespace {

// A source of counter frames in memory, with chosen delays and frames that
// fail to decode.
class MemorySource : public FrameSource {
public:
    MemorySource(int count, int w, int h, bool gif) : count_(count), w_(w), h_(h), gif_(gif) {}
    bool IsGif() const override { return gif_; }
    int FrameCount() const override { return count_; }
    int FramesPerSecond() const override { return gif_ ? 15 : 25; }
    int FrameDelay(int i) const override { return gif_ ? 3 + i % 4 : 4; }
    bool LoadFrame(int i, BMP_File& out) override {
        if (i < 0 || i >= count_ || std::count(broken.begin(), broken.end(), i)) return false;
        out = CounterFrame(i, w_, h_, true);
        return true;
    }
    std::vector<int> broken;

private:
    int count_, w_, h_;
    bool gif_;
};

// Records what the loop hands an output.
struct Recorded {
    VideoOutputShape shape;
    int opened = 0;
    std::vector<int> counters, delays, widths;
    int finishedWith = -1; // 1 commit, 0 discard
};

class RecordingSink : public FrameSink {
public:
    RecordingSink(Recorded& r, int failAt) : r_(r), failAt_(failAt) {}
    bool WriteFrame(const BMP_File& f, int delay) override {
        if (int(r_.counters.size()) == failAt_) return false;
        r_.counters.push_back(CounterOf(f));
        r_.delays.push_back(delay);
        r_.widths.push_back(f.Width());
        return true;
    }
    int FramesWritten() const override { return int(r_.counters.size()); }
    bool Finish(bool commit, std::string*) override {
        r_.finishedWith = commit;
        return true;
    }

private:
    Recorded& r_;
    int failAt_;
};

FrameSinkFactory Recording(Recorded& r, int failAt = -1) {
    return [&r, failAt](const VideoOutputShape& shape, std::string*) {
        r.shape = shape;
        ++r.opened;
        return std::make_unique<RecordingSink>(r, failAt);
    };
}

ProcessingSettings Identity() {
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    return s;
}

std::vector<int> Range(int n) {
    std::vector<int> v(n);
    std::iota(v.begin(), v.end(), 0);
    return v;
}

class FrameLoopTest : public TempDirTest {};

} // namespace

TEST_F(FrameLoopTest, EveryFrameGoesOutInOrderWithTheSourcesDelays) {
    MemorySource avi(12, 64, 40, false);
    Recorded r;
    std::vector<int> seen;
    const auto result = RunFrameLoop(avi, Identity(), {}, Recording(r), [&](int i) {
        seen.push_back(i);
        return true;
    });
    EXPECT_TRUE(result.written) << result.error;
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.framesWritten, 12);
    EXPECT_EQ(result.framesTotal, 12);
    EXPECT_EQ(seen, Range(12));
    EXPECT_EQ(r.counters, Range(12));
    EXPECT_EQ(r.delays, std::vector<int>(12, 4)); // 100 / 25 for every frame
    EXPECT_EQ(r.opened, 1);
    EXPECT_EQ(r.finishedWith, 1);
    EXPECT_EQ(r.shape.width, 64);
    EXPECT_EQ(r.shape.height, 40);
    EXPECT_EQ(r.shape.framesPerSecond, 25);
    EXPECT_EQ(r.shape.logicalWidth, 0); // no animation screen for an AVI source
    EXPECT_EQ(r.shape.logicalHeight, 0);

    // An animated GIF keeps each frame's own delay and its canvas as screen.
    MemorySource gif(6, 50, 30, true);
    Recorded g;
    const auto gifResult = RunFrameLoop(gif, Identity(), {}, Recording(g));
    EXPECT_TRUE(gifResult.written) << gifResult.error;
    EXPECT_EQ(g.delays, (std::vector<int>{3, 4, 5, 6, 3, 4}));
    EXPECT_EQ(g.shape.framesPerSecond, 15);
    EXPECT_EQ(g.shape.width, 52); // 50 rounded up to four
    // The screen holds the written frames even where they are wider than the
    // source's canvas.
    EXPECT_EQ(g.shape.logicalWidth, 52);
    EXPECT_EQ(g.shape.logicalHeight, 30);
}

TEST_F(FrameLoopTest, WidthIsRoundedUpToFourByRepeatingColumns) {
    for (int width : {101, 102, 103, 104, 1, 5}) {
        SCOPED_TRACE(width);
        MemorySource src(3, width, 40, false);
        const std::string out = Path("w" + std::to_string(width) + ".avi");
        AviCodecOptions lossless;
        lossless.encoder = "ffv1";
        const auto result = RunFrameLoop(src, Identity(), {}, VideoSinkFor(out, lossless));
        ASSERT_TRUE(result.written) << result.error;
        std::string message;
        auto back = AviVideoFile::Open(out, &message);
        ASSERT_TRUE(back) << message;
        const int expected = (width + 3) / 4 * 4;
        EXPECT_EQ(back->Width(), expected);
        EXPECT_EQ(back->Height(), 40);
        BMP_File f;
        ASSERT_TRUE(back->LoadFrame(2, f));
        EXPECT_EQ(CounterOf(f), 2);
        // Every written column is a source column, in order, from the first
        // to the last; a width that is already a multiple of four is kept as
        // it is.
        const BMP_File source = CounterFrame(2, width, 40, true);
        int previous = -1;
        std::vector<bool> used(width, false);
        for (int x = 0; x < expected; ++x) {
            int from = -1;
            for (int sx = std::max(previous, 0); sx < width && from < 0; ++sx)
                if (source.Pixel(sx, 0) == f.Pixel(x, 0)) from = sx;
            ASSERT_GE(from, 0) << "column " << x;
            previous = from;
            used[from] = true;
        }
        EXPECT_EQ(std::count(used.begin(), used.end(), false), 0);
        if (width % 4 == 0) {
            EXPECT_TRUE(f.SameAs(source));
        }
    }
}

TEST_F(FrameLoopTest, StopAfterFrameThreeOfTenKeepsAValidFourFrameVideo) {
    const std::string in = Path("in.avi"), out = Path("out.avi");
    ASSERT_TRUE(MakeAvi(in, "-c:v mjpeg -q:v 3", 101, 60, 10));
    std::string message;
    auto source = OpenAviSource(in, &message);
    ASSERT_TRUE(source) << message;
    std::ofstream(out) << "an older video";
    const auto result =
        RunFrameLoop(*source, Identity(), {}, VideoSinkFor(out), [](int i) { return i != 3; });
    EXPECT_TRUE(result.written) << result.error;
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.framesWritten, 4);
    EXPECT_EQ(Probe(out), "mjpeg,104,60,25/1,4");
    auto back = AviVideoFile::Open(out, &message);
    ASSERT_TRUE(back) << message;
    ASSERT_EQ(back->FrameCount(), 4);
    BMP_File f;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(back->LoadFrame(i, f));
        EXPECT_EQ(CounterOf(f), i);
    }
    EXPECT_EQ(Names(), (std::vector<std::string>{"in.avi", "out.avi"}));

    // Stopped at the last frame: that is the whole video, not a stop.
    Recorded r;
    MemorySource all(5, 16, 16, false);
    const auto last = RunFrameLoop(all, Identity(), {}, Recording(r), [](int i) { return i != 4; });
    EXPECT_TRUE(last.written);
    EXPECT_FALSE(last.stopped);
    EXPECT_EQ(last.framesWritten, 5);
}

TEST_F(FrameLoopTest, AFrameThatCannotBeDecodedRepeatsThePictureBefore) {
    MemorySource src(8, 32, 32, false);
    src.broken = {3, 4, 7};
    Recorded r;
    const auto result = RunFrameLoop(src, Identity(), {}, Recording(r));
    EXPECT_TRUE(result.written) << result.error;
    EXPECT_EQ(result.framesReused, 3);
    EXPECT_EQ(result.framesWritten, 8);
    EXPECT_EQ(r.counters, (std::vector<int>{0, 1, 2, 2, 2, 5, 6, 6}));

    // With no picture before it, the first frame cannot be replaced.
    MemorySource first(4, 32, 32, false);
    first.broken = {0};
    Recorded none;
    const auto failed = RunFrameLoop(first, Identity(), {}, Recording(none));
    EXPECT_FALSE(failed.written);
    EXPECT_EQ(failed.framesWritten, 0);
    EXPECT_NE(failed.error.find("frame 1"), std::string::npos) << failed.error;
    EXPECT_EQ(none.opened, 0);
}

TEST_F(FrameLoopTest, AFailedWriteEndsTheLoopAndLeavesTheOldOutput) {
    MemorySource src(10, 32, 32, false);
    Recorded r;
    int calls = 0;
    const auto result = RunFrameLoop(src, Identity(), {}, Recording(r, 5), [&](int) {
        ++calls;
        return true;
    });
    EXPECT_FALSE(result.written);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.framesWritten, 0);
    EXPECT_EQ(calls, 6); // no frame after the failed one
    EXPECT_EQ(r.finishedWith, 0);
    EXPECT_NE(result.error.find("frame 6"), std::string::npos) << result.error;

    // The same on a real file: the AVI output is discarded, the old one stays.
    const std::string out = Path("out.avi");
    std::ofstream(out) << "an older video";
    const FrameSinkFactory real = VideoSinkFor(out);
    const FrameSinkFactory failing = [&](const VideoOutputShape& shape, std::string* message) {
        struct FailsAtFive : FrameSink {
            std::unique_ptr<FrameSink> inner;
            bool WriteFrame(const BMP_File& f, int d) override {
                return inner->FramesWritten() < 5 && inner->WriteFrame(f, d);
            }
            int FramesWritten() const override { return inner->FramesWritten(); }
            bool Finish(bool commit, std::string* why) override {
                return inner->Finish(commit, why);
            }
        };
        auto sink = std::make_unique<FailsAtFive>();
        sink->inner = real(shape, message);
        return sink->inner ? std::move(sink) : nullptr;
    };
    const auto onFile = RunFrameLoop(src, Identity(), {}, failing);
    EXPECT_FALSE(onFile.written);
    EXPECT_EQ(Slurp(out), "an older video");
    EXPECT_EQ(Names(), std::vector<std::string>{"out.avi"});
}

TEST_F(FrameLoopTest, TheTreatmentRunsInFinalModeOnEveryFrame) {
    // Final mode works at full size: the resize gives the output its size
    // (150 rounded up to 152), where preview mode would fit the view.
    MemorySource src(4, 300, 200, false);
    ProcessingSettings s = Identity();
    s.m_bResize = 1;
    s.m_nSizeX = 150;
    s.m_nSizeY = 100;
    s.m_bFlipX = s.m_bFlipY = 1; // upside down: the bands' bits run backwards
    Recorded r;
    const auto result = RunFrameLoop(src, s, ViewSize{80, 60}, Recording(r));
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(r.shape.width, 152);
    EXPECT_EQ(r.shape.height, 100);
    EXPECT_EQ(r.widths, std::vector<int>(4, 152));
    EXPECT_EQ(r.counters, (std::vector<int>{0, 128, 64, 192}));
}

TEST_F(FrameLoopTest, AHeaderThatPromisesMoreFramesThanTheFileHoldsEndsAtTheFilesEnd) {
    const std::string path = Path("lying.avi");
    ASSERT_TRUE(MakeAvi(path, "-c:v mjpeg", 64, 48, 30));
    // The stream header's length and the main header's total frames say two
    // thousand million frames.
    std::string bytes = Slurp(path);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int k = 0; k < 4; ++k) bytes[at + k] = char(v >> (8 * k));
    };
    const size_t strh = bytes.find("strh"), avih = bytes.find("avih");
    ASSERT_NE(strh, std::string::npos);
    ASSERT_NE(avih, std::string::npos);
    put32(strh + 8 + 32, 2000000000u);
    put32(avih + 8 + 16, 2000000000u);
    std::ofstream(path, std::ios::binary) << bytes;

    std::string message;
    auto source = OpenAviSource(path, &message);
    ASSERT_TRUE(source) << message;
    Recorded r;
    const auto result = RunFrameLoop(*source, Identity(), {}, Recording(r));
    EXPECT_TRUE(result.written) << result.error;
    EXPECT_EQ(result.framesWritten, 30);
    EXPECT_EQ(result.framesTotal, 30);
    EXPECT_EQ(r.counters, Range(30));
    EXPECT_EQ(source->FrameCount(), 30);
    BMP_File f;
    EXPECT_FALSE(source->LoadFrame(31, f));
    EXPECT_FALSE(source->LoadFrame(100000, f));
    ASSERT_TRUE(source->LoadFrame(29, f));
    EXPECT_EQ(CounterOf(f), 29);

    // The same when a jump far past the end finds it out.
    auto jumped = OpenAviSource(path, &message);
    ASSERT_TRUE(jumped) << message;
    EXPECT_FALSE(jumped->LoadFrame(1000000, f));
    EXPECT_EQ(jumped->FrameCount(), 30);
}

TEST_F(FrameLoopTest, OutputsAreChosenByTheirLastThreeLetters) {
    EXPECT_TRUE(IsVideoOutput("a/b.AVI"));
    EXPECT_TRUE(IsVideoOutput("b.gif"));
    EXPECT_FALSE(IsVideoOutput("b.png"));
    EXPECT_TRUE(VideoSinkFor("x.Avi"));
    EXPECT_FALSE(VideoSinkFor("x.png"));

    MemorySource empty(0, 8, 8, false);
    Recorded r;
    const auto result = RunFrameLoop(empty, Identity(), {}, Recording(r));
    EXPECT_FALSE(result.written);
    EXPECT_EQ(r.opened, 0);
}
