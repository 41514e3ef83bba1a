// Animated GIFs as frame sources and sinks. Source files are written with our
// own libzembra; written files are read back with giflib.

#include "video/frame_source.h"
#include "video/gif_animation.h"
#include "zembra/zembra.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string t = (fs::temp_directory_path() / "pellorin-gif.XXXXXX").string();
        if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
        path_ = t;
    }
    ~TempFolder() { fs::remove_all(path_); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(path_)) out.push_back(e.path().filename());
        std::sort(out.begin(), out.end());
        return out;
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The palette of every test frame.
const CColor24 kBlack(0, 0, 0), kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255),
    kWhite(255, 255, 255), kMagenta(255, 0, 255), kYellow(255, 255, 0);
const CColor24 kPalette[] = {kBlack, kRed, kGreen, kBlue, kWhite, kMagenta, kYellow};
constexpr int kColors = int(std::size(kPalette));

CColor24 PaletteColor(uint8_t index) {
    return index < kColors ? kPalette[index] : CColor24(index, index, index);
}

struct TestFrame {
    int left = 0, top = 0, width = 1, height = 1;
    std::vector<uint8_t> pixels; // palette indexes, top row first
    uint32_t transparent = ZEMBRA_NO_COLOR;
    bool restore = false;
    int delay = 10;
};

TestFrame Solid(int left, int top, int w, int h, uint8_t color) {
    TestFrame f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.pixels.assign(size_t(w) * size_t(h), color);
    return f;
}

// Writes the frames as a GIF with libzembra's writer.
void WriteGif(const std::string& path, const std::vector<TestFrame>& frames) {
    Reset();
    SetFrameCount(int32_t(frames.size()));
    for (int i = 0; i < int(frames.size()); ++i) {
        const TestFrame& f = frames[size_t(i)];
        ZBitmap* b = ZCreateBitmap(f.width, f.height, 8);
        ASSERT_NE(b, nullptr);
        for (int c = 0; c < 256; ++c) {
            const CColor24 col = PaletteColor(uint8_t(c));
            b->palette.rgbx[c][0] = col.r;
            b->palette.rgbx[c][1] = col.g;
            b->palette.rgbx[c][2] = col.b;
        }
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x)
                b->bits[size_t(f.height - 1 - y) * size_t(b->stride) + size_t(x)] =
                    f.pixels[size_t(y) * size_t(f.width) + size_t(x)];
        SetFrameBitmap(i, b);
        SetOrigin(i, f.left, f.top);
        SetFrameTimeDelay(i, f.delay);
        SetFrameTransparentColor(i, f.transparent);
        SetFrameDisposalMethod(i, f.restore ? 1 : 0);
    }
    ASSERT_EQ(Save(path.c_str()), ZEMBRA_TRUE);
}

std::unique_ptr<FrameSource> Open(const std::string& path) {
    std::string message;
    auto source = OpenGifSource(path, &message);
    EXPECT_TRUE(source) << message;
    return source;
}

BMP_File Frame(FrameSource& source, int i) {
    BMP_File out;
    EXPECT_TRUE(source.LoadFrame(i, out)) << "frame " << i;
    return out;
}

// The composition rule on the test's own frame list, drawn from scratch for
// every frame: frames 0 .. i, or frame i alone when it or the frame before it
// is restored to the background.
BMP_File PlainComposition(const std::vector<TestFrame>& frames, int i) {
    int w = 0, h = 0;
    for (const TestFrame& f : frames) {
        w = std::max(w, f.left + f.width);
        h = std::max(h, f.top + f.height);
    }
    BMP_File canvas;
    canvas.Create(w, h);
    const bool all = !frames[size_t(i)].restore && (i == 0 || !frames[size_t(i - 1)].restore);
    for (int k = all ? 0 : i; k <= i; ++k) {
        const TestFrame& f = frames[size_t(k)];
        for (int y = 0; y < f.height; ++y)
            for (int x = 0; x < f.width; ++x) {
                const CColor24 c = PaletteColor(f.pixels[size_t(y) * size_t(f.width) + size_t(x)]);
                if (f.transparent != ZEMBRA_NO_COLOR && c.Packed() == f.transparent) continue;
                canvas.Pixel(f.left + x, f.top + y) = c;
            }
    }
    return canvas;
}

BMP_File Flat(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

// A GIF file as giflib reads it.
struct GifRead {
    GifFileType* gif = nullptr;
    explicit GifRead(const std::string& path) {
        int error = 0;
        gif = DGifOpenFileName(path.c_str(), &error);
        if (gif && DGifSlurp(gif) != GIF_OK) {
            DGifCloseFile(gif, &error);
            gif = nullptr;
        }
    }
    ~GifRead() {
        int error = 0;
        if (gif) DGifCloseFile(gif, &error);
    }
    int Frames() const { return gif ? gif->ImageCount : 0; }
    GraphicsControlBlock Control(int i) const {
        GraphicsControlBlock gcb{};
        gcb.DelayTime = -1;
        DGifSavedExtensionToGCB(gif, i, &gcb);
        return gcb;
    }
    CColor24 Pixel(int i, int x, int y) const {
        const SavedImage& s = gif->SavedImages[i];
        const ColorMapObject* map = s.ImageDesc.ColorMap ? s.ImageDesc.ColorMap : gif->SColorMap;
        const int lx = x - s.ImageDesc.Left, ly = y - s.ImageDesc.Top;
        const GifColorType c = map->Colors[s.RasterBits[ly * s.ImageDesc.Width + lx]];
        return CColor24(c.Red, c.Green, c.Blue);
    }
    // The loop count of the application extension; -1 when there is none.
    int LoopCount() const {
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& s = gif->SavedImages[i];
            for (int k = 0; k + 1 < s.ExtensionBlockCount; ++k) {
                const ExtensionBlock& e = s.ExtensionBlocks[k];
                if (e.Function == APPLICATION_EXT_FUNC_CODE && e.ByteCount == 11 &&
                    std::string(reinterpret_cast<char*>(e.Bytes), 11) == "NETSCAPE2.0") {
                    const ExtensionBlock& d = s.ExtensionBlocks[k + 1];
                    if (d.ByteCount >= 3) return d.Bytes[1] | (d.Bytes[2] << 8);
                }
            }
        }
        return -1;
    }
};

bool Near(CColor24 a, CColor24 b) {
    return std::abs(a.r - b.r) <= 6 && std::abs(a.g - b.g) <= 6 && std::abs(a.b - b.b) <= 6;
}

// Points the library lookup elsewhere for one test.
struct ZembraFolder {
    explicit ZembraFolder(const std::string& folder) { SetZembraFolderForTesting(folder); }
    ~ZembraFolder() { SetZembraFolderForTesting(""); }
};

} // namespace

TEST(GifSource, DisposalDecidesWhetherEarlierFramesAreDrawn) {
    TempFolder dir;
    std::vector<TestFrame> frames = {Solid(0, 0, 8, 6, 1), Solid(2, 1, 4, 3, 2),
                                     Solid(6, 4, 2, 2, 3), Solid(0, 0, 2, 2, 4)};
    frames[1].restore = true;
    WriteGif(dir.File("d.gif"), frames);
    auto source = Open(dir.File("d.gif"));
    ASSERT_TRUE(source);
    EXPECT_TRUE(source->IsGif());
    ASSERT_EQ(source->FrameCount(), 4);

    const BMP_File f0 = Frame(*source, 0);
    ASSERT_EQ(f0.Width(), 8);
    ASSERT_EQ(f0.Height(), 6);
    EXPECT_EQ(f0.Pixel(0, 0), kRed);
    EXPECT_EQ(f0.Pixel(7, 5), kRed);

    // Restored to the background: only this frame, on black.
    const BMP_File f1 = Frame(*source, 1);
    EXPECT_EQ(f1.Pixel(2, 1), kGreen);
    EXPECT_EQ(f1.Pixel(5, 3), kGreen);
    EXPECT_EQ(f1.Pixel(0, 0), kBlack);
    EXPECT_EQ(f1.Pixel(6, 1), kBlack);
    EXPECT_EQ(f1.Pixel(7, 5), kBlack);

    // Left in place, but the frame before was restored: again only this frame.
    const BMP_File f2 = Frame(*source, 2);
    EXPECT_EQ(f2.Pixel(6, 4), kBlue);
    EXPECT_EQ(f2.Pixel(7, 5), kBlue);
    EXPECT_EQ(f2.Pixel(0, 0), kBlack);
    EXPECT_EQ(f2.Pixel(3, 2), kBlack);

    // Neither restored: frames 0 .. 3 in order, the restored frame 1 among them.
    const BMP_File f3 = Frame(*source, 3);
    EXPECT_EQ(f3.Pixel(0, 0), kWhite);
    EXPECT_EQ(f3.Pixel(1, 1), kWhite);
    EXPECT_EQ(f3.Pixel(2, 0), kRed);
    EXPECT_EQ(f3.Pixel(3, 2), kGreen);
    EXPECT_EQ(f3.Pixel(6, 4), kBlue);
    EXPECT_EQ(f3.Pixel(7, 0), kRed);

    // Going back gives the same pictures as the first pass.
    EXPECT_TRUE(Frame(*source, 1).SameAs(f1));
    EXPECT_TRUE(Frame(*source, 0).SameAs(f0));
    EXPECT_TRUE(Frame(*source, 3).SameAs(f3));
    BMP_File untouched = Flat(2, 2, kYellow);
    EXPECT_FALSE(source->LoadFrame(4, untouched));
    EXPECT_FALSE(source->LoadFrame(-1, untouched));
    EXPECT_TRUE(untouched.SameAs(Flat(2, 2, kYellow)));
}

TEST(GifSource, TransparentColourLeavesTheFrameBelowVisible) {
    TempFolder dir;
    TestFrame over = Solid(1, 1, 4, 2, 2);
    for (int y = 0; y < 2; ++y) over.pixels[size_t(y) * 4 + 2] = over.pixels[size_t(y) * 4 + 3] = 5;
    over.transparent = kMagenta.Packed();
    TestFrame opaque = Solid(0, 0, 2, 2, 5); // the same colour, but no transparency
    WriteGif(dir.File("t.gif"), {Solid(0, 0, 6, 4, 1), over, opaque});
    auto source = Open(dir.File("t.gif"));
    ASSERT_TRUE(source);

    const BMP_File f1 = Frame(*source, 1);
    EXPECT_EQ(f1.Pixel(1, 1), kGreen);
    EXPECT_EQ(f1.Pixel(2, 2), kGreen);
    EXPECT_EQ(f1.Pixel(3, 1), kRed) << "keyed pixel shows the frame below";
    EXPECT_EQ(f1.Pixel(4, 2), kRed);
    EXPECT_EQ(f1.Pixel(0, 0), kRed);

    const BMP_File f2 = Frame(*source, 2);
    EXPECT_EQ(f2.Pixel(0, 0), kMagenta) << "a frame without transparency is copied whole";
    EXPECT_EQ(f2.Pixel(1, 1), kMagenta);
    EXPECT_EQ(f2.Pixel(3, 1), kRed);
}

TEST(GifSource, CanvasSpansEveryFramesOriginAndSize) {
    TempFolder dir;
    WriteGif(dir.File("c.gif"), {Solid(0, 0, 3, 2, 1), Solid(10, 5, 3, 2, 3)});
    auto source = Open(dir.File("c.gif"));
    ASSERT_TRUE(source);
    const BMP_File f1 = Frame(*source, 1);
    EXPECT_EQ(f1.Width(), 13);
    EXPECT_EQ(f1.Height(), 7);
    EXPECT_EQ(f1.Pixel(0, 0), kRed);
    EXPECT_EQ(f1.Pixel(12, 6), kBlue);
    EXPECT_EQ(f1.Pixel(6, 3), kBlack);
}

TEST(GifSource, AnyOrderOfAccessGivesThePlainComposition) {
    TempFolder dir;
    std::mt19937 rng(17);
    std::vector<TestFrame> frames;
    for (int i = 0; i < 14; ++i) {
        TestFrame f;
        f.width = int(rng() % 9) + 1;
        f.height = int(rng() % 7) + 1;
        f.left = int(rng() % 8);
        f.top = int(rng() % 6);
        for (int k = 0; k < f.width * f.height; ++k) f.pixels.push_back(uint8_t(rng() % kColors));
        f.restore = rng() % 3 == 0;
        if (rng() % 2) f.transparent = kPalette[rng() % kColors].Packed();
        frames.push_back(f);
    }
    WriteGif(dir.File("r.gif"), frames);
    auto source = Open(dir.File("r.gif"));
    ASSERT_TRUE(source);
    ASSERT_EQ(source->FrameCount(), int(frames.size()));
    std::vector<int> order;
    for (int i = 0; i < int(frames.size()); ++i) order.push_back(i);
    for (int i = int(frames.size()) - 1; i >= 0; --i) order.push_back(i);
    for (int k = 0; k < 40; ++k) order.push_back(int(rng() % frames.size()));
    for (int i : order) {
        const BMP_File want = PlainComposition(frames, i);
        const BMP_File got = Frame(*source, i);
        ASSERT_TRUE(got.SameAs(want)) << "frame " << i;
    }
}

TEST(GifSource, EachFrameKeepsItsOwnDelay) {
    TempFolder dir;
    std::vector<TestFrame> frames = {Solid(0, 0, 4, 4, 1), Solid(0, 0, 4, 4, 2),
                                     Solid(0, 0, 4, 4, 3), Solid(0, 0, 4, 4, 4)};
    const int delays[] = {7, 23, 150, 0};
    for (int i = 0; i < 4; ++i) frames[size_t(i)].delay = delays[i];
    WriteGif(dir.File("delays.gif"), frames);
    auto source = Open(dir.File("delays.gif"));
    ASSERT_TRUE(source);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(source->FrameDelay(i), delays[i]);
    EXPECT_EQ(source->FrameDelay(4), 0);
    EXPECT_EQ(source->FramesPerSecond(), 15);

    // Written out again, every page keeps its source frame's delay.
    const std::string out = dir.File("copy.gif");
    std::string message;
    auto sink = CreateGifSink(out, 4, 4, &message);
    ASSERT_TRUE(sink) << message;
    for (int i = 0; i < 4; ++i) {
        const BMP_File frame = Frame(*source, i);
        ASSERT_TRUE(sink->WriteFrame(frame, source->FrameDelay(i)));
    }
    EXPECT_EQ(sink->FramesWritten(), 4);
    ASSERT_TRUE(sink->Finish(true, &message)) << message;
    GifRead read(out);
    ASSERT_EQ(read.Frames(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(read.Control(i).DelayTime, delays[i]) << "page " << i;
        EXPECT_EQ(read.Control(i).DisposalMode, DISPOSE_BACKGROUND);
        EXPECT_EQ(read.Control(i).TransparentColor, NO_TRANSPARENT_COLOR);
        EXPECT_TRUE(Near(read.Pixel(i, 1, 1), kPalette[i + 1])) << "page " << i;
    }
}

TEST(GifSource, SingleFrameAndBrokenFilesAreNoAnimation) {
    TempFolder dir;
    WriteGif(dir.File("one.gif"), {Solid(0, 0, 5, 5, 2)});
    std::string message = "stale";
    EXPECT_FALSE(OpenGifSource(dir.File("one.gif"), &message));
    EXPECT_EQ(message, "") << "a still picture is the image loader's, without a complaint";

    for (const char* bytes : {"", "GIF89a", "GIF89a\x10\x00\x10\x00\xf7\x00\x00", "not a gif"}) {
        std::ofstream(dir.File("bad.gif"), std::ios::binary) << bytes;
        EXPECT_FALSE(OpenGifSource(dir.File("bad.gif"), &message));
    }
    EXPECT_FALSE(OpenGifSource(dir.File("missing.gif"), &message));
}

TEST(GifSource, MissingLibraryOrEntryPointIsReported) {
    TempFolder dir;
    WriteGif(dir.File("a.gif"), {Solid(0, 0, 2, 2, 1), Solid(0, 0, 2, 2, 2)});
    {
        TempFolder empty;
        ZembraFolder look(empty.Path().string());
        std::string message;
        EXPECT_FALSE(ZembraAvailable(&message));
        EXPECT_NE(message.find("libzembra.so"), std::string::npos) << message;
        EXPECT_NE(message.find("cannot be loaded"), std::string::npos) << message;
        EXPECT_FALSE(OpenGifSource(dir.File("a.gif"), &message));
        EXPECT_NE(message.find("still pictures"), std::string::npos) << message;
    }
    {
        ZembraFolder look(INCOMPLETE_ZEMBRA_DIR);
        std::string message;
        EXPECT_FALSE(ZembraAvailable(&message));
        EXPECT_NE(message.find("\"GetFrameData\""), std::string::npos) << message;
        EXPECT_FALSE(OpenGifSource(dir.File("a.gif"), &message));
        EXPECT_FALSE(message.empty());
    }
    // The normal lookup binds again.
    std::string message;
    EXPECT_TRUE(ZembraAvailable(&message)) << message;
    auto source = OpenGifSource(dir.File("a.gif"), &message);
    ASSERT_TRUE(source) << message;
    EXPECT_EQ(source->FrameCount(), 2);
}

TEST(GifSource, SourcesOpenedOnSeveralThreadsKeepTheirOwnFrames) {
    // The library holds one animation for the whole process; sources opened
    // side by side (as pellorin-cli's jobs do) must not see each other's.
    TempFolder dir;
    constexpr int kFiles = 4;
    for (int f = 0; f < kFiles; ++f) {
        std::vector<TestFrame> frames;
        for (int i = 0; i < f + 2; ++i)
            frames.push_back(Solid(0, 0, 6 + f, 5, uint8_t(1 + (f + i) % 6)));
        WriteGif(dir.File("f" + std::to_string(f) + ".gif"), frames);
    }
    std::vector<std::string> failures(kFiles);
    std::vector<std::thread> threads;
    for (int f = 0; f < kFiles; ++f)
        threads.emplace_back([&, f] {
            for (int round = 0; round < 100 && failures[size_t(f)].empty(); ++round) {
                std::string message;
                auto source = OpenGifSource(dir.File("f" + std::to_string(f) + ".gif"), &message);
                if (!source || source->FrameCount() != f + 2) {
                    failures[size_t(f)] = "wrong frame count " + message;
                    break;
                }
                for (int i = 0; i < f + 2; ++i) {
                    BMP_File out;
                    if (!source->LoadFrame(i, out) || out.Width() != 6 + f ||
                        !(out.Pixel(3, 3) == kPalette[1 + (f + i) % 6]))
                        failures[size_t(f)] = "wrong frame " + std::to_string(i);
                }
            }
        });
    for (auto& t : threads) t.join();
    for (int f = 0; f < kFiles; ++f) EXPECT_EQ(failures[size_t(f)], "") << "file " << f;
}

TEST(GifSink, VideoRateGivesFourHundredthsAndTheFramesOwnScreen) {
    TempFolder dir;
    const std::string out = dir.File("video.gif");
    std::string message;
    // A video source has no canvas of its own: logical size 0 x 0.
    auto sink = CreateGifSink(out, 0, 0, &message);
    ASSERT_TRUE(sink) << message;
    const CColor24 colors[] = {kRed, kGreen, kBlue};
    for (const CColor24& c : colors) ASSERT_TRUE(sink->WriteFrame(Flat(24, 10, c), 100 / 25));
    EXPECT_EQ(sink->FramesWritten(), 3);
    ASSERT_TRUE(sink->Finish(true, &message)) << message;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"video.gif"}) << "no staging file left";

    GifRead read(out);
    ASSERT_EQ(read.Frames(), 3);
    EXPECT_EQ(read.gif->SWidth, 24);
    EXPECT_EQ(read.gif->SHeight, 10);
    EXPECT_EQ(read.LoopCount(), 0) << "loops for ever";
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(read.Control(i).DelayTime, 4) << "page " << i;
        EXPECT_TRUE(Near(read.Pixel(i, 23, 9), colors[i]));
    }
}

TEST(GifSink, ExistingOutputChangesOnlyWhenTheWholeFileIsThere) {
    TempFolder dir;
    const std::string out = dir.File("keep.gif");
    std::ofstream(out, std::ios::binary) << "the old animation";
    std::string message;
    {
        auto sink = CreateGifSink(out, 8, 8, &message);
        ASSERT_TRUE(sink) << message;
        ASSERT_TRUE(sink->WriteFrame(Flat(8, 8, kRed), 5));
        ASSERT_TRUE(sink->WriteFrame(Flat(8, 8, kBlue), 5));
        EXPECT_EQ(ReadAll(out), "the old animation") << "nothing changes while writing";
        EXPECT_TRUE(sink->Finish(false, &message));
    }
    EXPECT_EQ(ReadAll(out), "the old animation");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.gif"});
    {
        // Dropped without being finished: the same.
        auto sink = CreateGifSink(out, 8, 8, &message);
        ASSERT_TRUE(sink) << message;
        ASSERT_TRUE(sink->WriteFrame(Flat(8, 8, kRed), 5));
    }
    EXPECT_EQ(ReadAll(out), "the old animation");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.gif"});
    {
        // Nothing written: a finished file would be no animation at all.
        auto sink = CreateGifSink(out, 8, 8, &message);
        ASSERT_TRUE(sink) << message;
        EXPECT_FALSE(sink->Finish(true, &message));
        EXPECT_FALSE(message.empty());
    }
    EXPECT_EQ(ReadAll(out), "the old animation");

    auto sink = CreateGifSink(out, 8, 8, &message);
    ASSERT_TRUE(sink) << message;
    ASSERT_TRUE(sink->WriteFrame(Flat(8, 8, kGreen), 5));
    ASSERT_TRUE(sink->Finish(true, &message)) << message;
    EXPECT_FALSE(sink->WriteFrame(Flat(8, 8, kGreen), 5)) << "finished";
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"keep.gif"});
    GifRead read(out);
    ASSERT_EQ(read.Frames(), 1);
    EXPECT_TRUE(Near(read.Pixel(0, 4, 4), kGreen));

    EXPECT_FALSE(CreateGifSink(dir.File("no/such/folder/x.gif"), 8, 8, &message));
    EXPECT_FALSE(message.empty());
}
