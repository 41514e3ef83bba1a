// pellorin-cli on videos and animated GIFs: info, apply into AVI and animated
// GIF with the chosen encoder, and --shard splitting one batch between workers.

#include "app/image_files.h"
#include "app/settings_fields.h"
#include "tests/video/video_test_util.h"
#include "video/avi_video_file.h"
#include "video/frame_source.h"

#include <gtest/gtest.h>

#include <set>
#include <sys/wait.h>

using namespace videotest;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

class CliVideoTest : public TempDirTest {
protected:
    Result Run(const std::vector<std::string>& args) {
        std::string cmd = Quote(PELLORIN_CLI);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >" + Quote(Path("stdout")) + " 2>" + Quote(Path("stderr")) + " </dev/null";
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(Path("stdout"));
        r.err = Slurp(Path("stderr"));
        fs::remove(Path("stdout"));
        fs::remove(Path("stderr"));
        return r;
    }

    std::string Config(const std::function<void(ProcessingSettings&)>& edit = {}) {
        ProcessingSettings s;
        s.SetViewDefaults(400, 300);
        if (edit) edit(s);
        SettingsFile f(s);
        EXPECT_TRUE(f.Save(Path("c.qvc")));
        return Path("c.qvc");
    }

    // A picture with a distinct colour per size.
    static BMP_File Picture(int seed = 1) {
        BMP_File img;
        img.Create(8 + seed, 6);
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 8 + seed; ++x)
                img.Pixel(x, y) = CColor24(uint8_t(x * seed), uint8_t(y), uint8_t(seed));
        return img;
    }

    // An animated GIF of counter frames, written by the ffmpeg program at
    // `rate` frames per second.
    std::string MakeGif(const std::string& name, int frames, const std::string& rate) {
        const std::string avi = Path(name + ".source.avi");
        EXPECT_TRUE(MakeAvi(avi, "-c:v ffv1", 64, 48, frames, rate));
        const std::string gif = Path(name);
        EXPECT_EQ(std::system(("ffmpeg -nostdin -v error -y -i " + Quote(avi) + " -r " + rate +
                               " -f gif " + Quote(gif))
                                  .c_str()),
                  0);
        fs::remove(avi);
        return gif;
    }
};

std::string ReadOut(const std::string& path, int frame, int* count = nullptr) {
    std::string message;
    auto avi = AviVideoFile::Open(path, &message);
    if (!avi) return "cannot open: " + message;
    if (count) *count = avi->FrameCount();
    BMP_File f;
    return avi->LoadFrame(frame, f) ? std::to_string(CounterOf(f)) : "no frame";
}

} // namespace

TEST_F(CliVideoTest, InfoGivesFrameCountAndRateOfVideosAndAnimations) {
    ASSERT_TRUE(MakeAvi(Path("a.avi"), "-c:v mjpeg", 160, 96, 12));
    ASSERT_TRUE(MakeAvi(Path("ntsc.avi"), "-c:v mpeg4", 64, 48, 7, "30000/1001"));
    const std::string gif = MakeGif("anim.gif", 6, "20");
    std::ofstream(Path("bad.avi")) << "not a video";
    const Result r = Run({"info", Path("a.avi"), Path("ntsc.avi"), gif, Path("bad.avi")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(Path("a.avi") + ": 160x96, 12 frames, 25 fps\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(Path("ntsc.avi") + ": 64x48, 7 frames, 29.97 fps\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(gif + ": 64x48, 6 frames, 20 fps\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "pellorin-cli: " + Path("bad.avi") + ": File open error\n");
}

TEST_F(CliVideoTest, ApplyWritesEveryFrameAsAviOrAnimatedGifByTheOutputsExtension) {
    ASSERT_TRUE(MakeAvi(Path("in.avi"), "-c:v mjpeg -q:v 3", 101, 60, 10));
    // Upside down: the counter's bands run the other way in every frame.
    const std::string cfg = Config([](ProcessingSettings& s) { s.m_bFlipX = s.m_bFlipY = 1; });

    Result r = Run({"apply", "--config", cfg, "--output", Path("out.avi"), Path("in.avi")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(Path("out.avi")), "mjpeg,104,60,25/1,10"); // 101 wide written as 104
    EXPECT_EQ(ReadOut(Path("out.avi"), 1), "128");
    EXPECT_EQ(ReadOut(Path("out.avi"), 6), "96");

    // The encoder by name.
    r = Run({"apply", "--config", cfg, "--codec", "ffv1", "--output", Path("lossless.avi"),
             Path("in.avi")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(Path("lossless.avi")), "ffv1,104,60,25/1,10");

    // An animated GIF: every frame, 4 hundredths each at 25 frames a second.
    r = Run({"apply", "--config", cfg, "--output", Path("out.gif"), Path("in.avi")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string message;
    auto gif = OpenGifSource(Path("out.gif"), &message);
    ASSERT_TRUE(gif) << message;
    EXPECT_EQ(gif->FrameCount(), 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(gif->FrameDelay(i), 4) << i;
    BMP_File f;
    ASSERT_TRUE(gif->LoadFrame(3, f));
    EXPECT_EQ(f.Width(), 104);
    EXPECT_EQ(CounterOf(f), 192);

    // An animated GIF into AVI: 15 frames a second.
    const std::string anim = MakeGif("anim.gif", 5, "10");
    r = Run({"apply", "--config", Config(), "--out-dir", dir.string(), "--format", "avi", anim});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(Path("anim.avi")), "mjpeg,64,48,15/1,5");
    EXPECT_EQ(ReadOut(Path("anim.avi"), 4), "4");

    // With --out-dir a video keeps its format.
    fs::create_directories(Path("outdir"));
    r = Run({"apply", "--config", Config(), "--out-dir", Path("outdir"), Path("in.avi")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(Path("outdir/in.avi")), "mjpeg,104,60,25/1,10");
}

TEST_F(CliVideoTest, VideoErrorsArePerInputAndUnknownEncodersAUsageError) {
    ASSERT_TRUE(MakeAvi(Path("in.avi"), "-c:v mjpeg", 64, 48, 3));
    const std::string cfg = Config();
    Result r = Run({"apply", "--config", cfg, "--codec", "no-such-codec", "--output", Path("o.avi"),
                    Path("in.avi")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("no-such-codec"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mjpeg, ffv1, mpeg4, rawvideo"), std::string::npos) << r.err;

    // A video cannot become one picture, and a picture cannot become a video.
    r = Run({"apply", "--config", cfg, "--output", Path("o.png"), Path("in.avi")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("a video is written as avi or gif"), std::string::npos) << r.err;
    Picture().SaveBMP(Path("p.bmp"));
    r = Run({"apply", "--config", cfg, "--output", Path("o.avi"), Path("p.bmp")});
    EXPECT_EQ(r.status, 1);
    std::ofstream(Path("broken.avi")) << "RIFF....AVI nothing more";
    r = Run({"apply", "--config", cfg, "--output", Path("o.avi"), Path("broken.avi")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "pellorin-cli: " + Path("broken.avi") + ": The video stream open error\n");
    EXPECT_FALSE(fs::exists(Path("o.avi")));
    EXPECT_FALSE(fs::exists(Path("o.png")));
}

TEST_F(CliVideoTest, RunsNamingAnEncoderSideBySideFinishPromptly) {
    // GNU parallel starts several runs at once. Each checks the encoder it is
    // named, and a name it lacks makes it try every encoder to list them. On
    // two cores, trial encodes that started a thread per core starved each
    // other: six such runs had not ended after a minute.
    ASSERT_TRUE(MakeAvi(Path("in.avi"), "-c:v mjpeg", 64, 48, 3));
    const std::string cfg = Config();
    std::string script;
    for (int i = 0; i < 6; ++i) {
        const std::string n = std::to_string(i);
        script += "(timeout 60 " + Quote(PELLORIN_CLI) + " apply --config " + Quote(cfg) +
                  " --codec " + (i % 2 ? "ffv1" : "no-such-codec") + " --output " +
                  Quote(Path("o" + n + ".avi")) + " " + Quote(Path("in.avi")) +
                  " >/dev/null 2>&1; echo $? >" + Quote(Path("status" + n)) + ") & ";
    }
    ASSERT_EQ(std::system(("bash -c " + Quote(script + "wait")).c_str()), 0);
    for (int i = 0; i < 6; ++i) // 124: still running when the minute was up
        EXPECT_EQ(Slurp(Path("status" + std::to_string(i))), i % 2 ? "0\n" : "2\n") << i;
}

TEST_F(CliVideoTest, ShardsSplitTheInputsIntoNearEqualSharesThatCoverEachOnce) {
    const std::string cfg = Config();
    // Eleven inputs: nine files given one by one and a folder of two.
    std::vector<std::string> inputs;
    for (int i = 0; i < 9; ++i) {
        const std::string p = Path("in" + std::to_string(i) + ".bmp");
        Picture(i + 1).SaveBMP(p);
        inputs.push_back(p);
    }
    fs::create_directories(Path("folder"));
    Picture(20).SaveBMP(Path("folder/f1.bmp"));
    Picture(21).SaveBMP(Path("folder/f2.bmp"));
    inputs.push_back(Path("folder"));

    for (int shards : {1, 3, 4, 15}) {
        SCOPED_TRACE(shards);
        std::multiset<std::string> all;
        size_t smallest = 100, largest = 0;
        for (int k = 1; k <= shards; ++k) {
            const std::string out = Path("out-" + std::to_string(shards) + "-" + std::to_string(k));
            fs::create_directories(out);
            std::vector<std::string> args = {"apply",
                                             "--config",
                                             cfg,
                                             "--out-dir",
                                             out,
                                             "--shard",
                                             std::to_string(k) + "/" + std::to_string(shards)};
            args.insert(args.end(), inputs.begin(), inputs.end());
            const Result r = Run(args);
            EXPECT_EQ(r.status, 0) << r.err;
            size_t n = 0;
            for (const auto& e : fs::directory_iterator(out)) {
                all.insert(e.path().filename());
                ++n;
            }
            smallest = std::min(smallest, n);
            largest = std::max(largest, n);
        }
        EXPECT_EQ(all.size(), 11u);
        EXPECT_EQ(std::set<std::string>(all.begin(), all.end()).size(), 11u);
        EXPECT_LE(largest - smallest, 1u);
        EXPECT_TRUE(all.count("f2.bmp") && all.count("in0.bmp") && all.count("in8.bmp"));
    }
    for (const std::string bad : {"0/3", "4/3", "3", "a/b", "1/0", "/", "2/", "-1/2"}) {
        fs::create_directories(Path("bad"));
        std::vector<std::string> args = {"apply",     "--config", cfg, "--out-dir",
                                         Path("bad"), "--shard",  bad, inputs[0]};
        EXPECT_EQ(Run(args).status, 2) << bad;
        EXPECT_TRUE(fs::is_empty(Path("bad"))) << bad;
    }
}
