// pellorin-cli run as a separate program: exit codes, per-file error lines, the
// default configuration, and treatments applied to files and folders.

#include "app/bmp_file.h"
#include "app/image_files.h"
#include "app/settings_fields.h"
#include "pipeline/pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations" // exiv2 0.27's auto_ptr
#include <exiv2/exiv2.hpp>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class CliTest : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pellorin-cli-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // shellPrefix runs first in the same shell (for example a ulimit).
    Result Run(const std::vector<std::string>& args, const std::string& shellPrefix = "") {
        std::string cmd = shellPrefix + Quote(PELLORIN_CLI);
        for (const auto& a : args) cmd += " " + Quote(a);
        cmd += " >" + Quote((dir / "stdout").string()) + " 2>" + Quote((dir / "stderr").string()) +
               " </dev/null";
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(dir / "stdout");
        r.err = Slurp(dir / "stderr");
        return r;
    }

    std::string Path(const std::string& name) const { return (dir / name).string(); }

    std::string WriteConfig(const std::string& name,
                            const std::function<void(ProcessingSettings&)>& edit) {
        ProcessingSettings s;
        s.SetViewDefaults(400, 300);
        edit(s);
        SettingsFile f(s);
        EXPECT_TRUE(f.Save(Path(name)));
        return Path(name);
    }

    static BMP_File Picture(int w, int h) {
        BMP_File img;
        img.Create(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), uint8_t(3 * x + y));
        return img;
    }
};

int CountLines(const std::string& s) {
    return int(std::count(s.begin(), s.end(), '\n'));
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void PutBE32(std::vector<uint8_t>& f, uint32_t v) {
    for (int i = 3; i >= 0; --i) f.push_back(uint8_t(v >> (8 * i)));
}

// A PNG of a few hundred bytes: a valid header claiming w x h RGB pixels, then
// one small stored deflate block, far too little for the picture it claims.
std::vector<uint8_t> ClaimingPng(uint32_t w, uint32_t h) {
    auto chunk = [](std::vector<uint8_t>& f, const char* type, const std::vector<uint8_t>& d) {
        PutBE32(f, uint32_t(d.size()));
        const size_t start = f.size();
        f.insert(f.end(), type, type + 4);
        f.insert(f.end(), d.begin(), d.end());
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = start; i < f.size(); ++i) {
            c ^= f[i];
            for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        PutBE32(f, ~c);
    };
    std::vector<uint8_t> f = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    PutBE32(ihdr, w);
    PutBE32(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
    chunk(f, "IHDR", ihdr);
    std::vector<uint8_t> z = {0x78, 0x01, 0x01, 0x58, 0x02, 0xA7, 0xFD}; // 600 stored bytes
    z.insert(z.end(), 600, 0);
    PutBE32(z, (600u << 16) | 1u);
    chunk(f, "IDAT", z);
    chunk(f, "IEND", {});
    return f;
}

// Little-endian 8-bit grey TIFF with `privateTags` tags libtiff does not know
// (each one a warning); a cut strip makes the load fail.
std::vector<uint8_t> GreyTiff(int w, int h, int privateTags, bool cutStrip) {
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) f.push_back(uint8_t(v >> (8 * i)));
    };
    const int entries = 8 + privateTags;
    const uint32_t bytes = cutStrip ? 1 : uint32_t(w * h);
    put(uint32_t(entries), 2);
    const uint32_t values[8][3] = {
        {256, 4, uint32_t(w)}, {257, 4, uint32_t(h)}, {258, 3, 8},
        {259, 3, 1},           {262, 3, 1},           {273, 4, uint32_t(8 + 2 + entries * 12 + 4)},
        {278, 4, uint32_t(h)}, {279, 4, bytes}};
    for (const auto& e : values) {
        put(e[0], 2);
        put(e[1], 2);
        put(1, 4);
        put(e[2], 4);
    }
    for (int i = 0; i < privateTags; ++i) {
        put(uint32_t(65000 + i), 2);
        put(3, 2);
        put(1, 4);
        put(7, 4);
    }
    put(0, 4);
    for (uint32_t i = 0; i < bytes; ++i) f.push_back(uint8_t(i));
    return f;
}

} // namespace

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    Picture(4, 4).SaveBMP(Path("a.bmp"));
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"frobnicate"},
        {"defaults", "extra"},
        {"info"},
        {"apply", Path("a.bmp"), "--output", Path("o.bmp")},
        {"apply", "--config", cfg, "--output", Path("o.bmp"), "--out-dir", Path(""), Path("a.bmp")},
        {"apply", "--config", cfg, Path("a.bmp")},
        {"apply", "--config", cfg, "--output", Path("o.bmp")},
        {"apply", "--config", cfg, "--output", Path("o.bmp"), Path("a.bmp"), Path("a.bmp")},
        {"apply", "--config", cfg, "--view", "0x10", "--output", Path("o.bmp"), Path("a.bmp")},
        {"apply", "--config", cfg, "--view", "big", "--output", Path("o.bmp"), Path("a.bmp")},
        {"apply", "--config", cfg, "--jobs", "0", "--output", Path("o.bmp"), Path("a.bmp")},
        {"apply", "--config", cfg, "--bogus", "--output", Path("o.bmp"), Path("a.bmp")},
        {"apply", "--config", cfg, "--out-dir", Path("missing"), Path("a.bmp")},
        {"apply", "--config", cfg, "--out-dir", dir.string(), "--format", "xyz", Path("a.bmp")},
        {"apply", "--config", Path("nope.qvc"), "--output", Path("o.bmp"), Path("a.bmp")},
    };
    for (const auto& args : bad) {
        const Result r = Run(args);
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_FALSE(r.err.empty()) << joined;
    }
    EXPECT_FALSE(fs::exists(Path("o.bmp")));
    const Result help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("(default " + std::to_string(kDefaultViewWidth) + "x" +
                            std::to_string(kDefaultViewHeight)),
              std::string::npos)
        << "the help names the default view size\n"
        << help.out;
}

TEST_F(CliTest, DefaultsIsALoadableDefaultConfiguration) {
    const Result r = Run({"defaults"});
    ASSERT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\r\n\r\n[Settings]\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("\r\nm_nSizeX=400\r\n"), std::string::npos);
    EXPECT_NE(r.out.find("\r\nm_rcLight1.right=" + std::to_string(kDefaultViewWidth) + "\r\n"),
              std::string::npos)
        << "light rectangles cover the default view";
    ProcessingSettings s;
    s.m_nBlurSize = 99;
    SettingsFile f(s);
    ASSERT_TRUE(f.storage.Parse(r.out));
    EXPECT_EQ(s.m_nBlurSize, 5);
}

TEST_F(CliTest, AppliesATreatmentToOneFile) {
    const BMP_File img = Picture(30, 20);
    ASSERT_TRUE(img.SaveBMP(Path("in.bmp")));
    const std::string cfg = WriteConfig("flip.qvc", [](ProcessingSettings& s) {
        s.m_bFlipX = 1;
        s.m_nRotate = 1;
    });
    const Result r = Run({"apply", "--config", cfg, "--output", Path("out.bmp"), Path("in.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << "no progress lines when stderr is not a terminal";
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    ASSERT_EQ(out.Width(), 20);
    ASSERT_EQ(out.Height(), 30);
    // A quarter turn puts old (x, y) at (19 - y, x); the mirror then moves it to (y, x).
    EXPECT_EQ(out.Pixel(5, 7), img.Pixel(7, 5));
    EXPECT_EQ(out.Pixel(0, 0), img.Pixel(0, 0));
}

TEST_F(CliTest, PreviewUsesTheViewSize) {
    ASSERT_TRUE(Picture(100, 50).SaveBMP(Path("in.bmp")));
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    const Result r = Run({"apply", "--config", cfg, "--preview", "--view", "40x30", "--output",
                          Path("out.bmp"), Path("in.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    EXPECT_EQ(out.Width(), 40);
    EXPECT_EQ(out.Height(), 30);
}

TEST_F(CliTest, CropComesFromTheStoredFractions) {
    const BMP_File img = Picture(210, 210);
    ASSERT_TRUE(img.SaveBMP(Path("in.bmp")));
    const std::string cfg = WriteConfig("crop.qvc", [](ProcessingSettings& s) {
        s.m_bCrop = 1;
        s.m_cBmpWndOriginal.m_bCrop = 1;
        // In a 105 x 105 view the frame is (10, 20)-(50, 60); the crop rectangle
        // reaches 5 pixels further: (5, 15)-(55, 65).
        s.m_cBmpWndOriginal.CroprcL = 0.1f;
        s.m_cBmpWndOriginal.CroprcT = 0.2f;
        s.m_cBmpWndOriginal.CroprcR = 0.5f;
        s.m_cBmpWndOriginal.CroprcB = 0.6f;
        s.m_cBmpWndOriginal.m_cRectTracker = IntRect{1, 1, 2, 2}; // recomputed, not used
    });
    const Result r = Run({"apply", "--config", cfg, "--view", "105x105", "--output",
                          Path("out.bmp"), Path("in.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    // The image is twice the view: (10, 30)-(110, 130).
    ASSERT_EQ(out.Width(), 100);
    ASSERT_EQ(out.Height(), 100);
    EXPECT_EQ(out.Pixel(0, 0), img.Pixel(10, 30));
    EXPECT_EQ(out.Pixel(99, 99), img.Pixel(109, 129));
}

TEST_F(CliTest, FoldersRunInListOrderAndFailuresAreReportedPerFile) {
    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
    ASSERT_TRUE(Picture(8, 6).SaveBMP(Path("in/b.bmp")));
    ASSERT_TRUE(Picture(5, 5).SaveBMP(Path("in/A.BMP")));
    std::ofstream(Path("in/broken.bmp")) << "not a picture";
    std::ofstream(Path("in/notes.txt")) << "ignored";
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings& s) { s.m_bFlipY = 1; });
    for (const char* jobs : {"1", "3"}) {
        fs::remove_all(Path("out"));
        fs::create_directories(Path("out"));
        const Result r = Run({"apply", "--config", cfg, "--jobs", jobs, "--out-dir", Path("out"),
                              Path("in"), Path("missing.bmp")});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(CountLines(r.err), 2) << r.err;
        EXPECT_NE(r.err.find("broken.bmp"), std::string::npos);
        EXPECT_NE(r.err.find("missing.bmp"), std::string::npos);
        EXPECT_EQ(r.err.find("notes.txt"), std::string::npos);
        BMP_File a, b;
        EXPECT_TRUE(a.LoadBMP(Path("out/A.bmp"))) << "upper-case extensions are found";
        ASSERT_TRUE(b.LoadBMP(Path("out/b.bmp")));
        EXPECT_EQ(b.Pixel(0, 0), Picture(8, 6).Pixel(0, 5));
        EXPECT_FALSE(fs::exists(Path("out/broken.bmp")));
    }
}

TEST_F(CliTest, SameNamedInputsDoNotOverwriteEachOther) {
    fs::create_directories(Path("x"));
    fs::create_directories(Path("y"));
    fs::create_directories(Path("out"));
    ASSERT_TRUE(Picture(3, 3).SaveBMP(Path("x/p.bmp")));
    ASSERT_TRUE(Picture(4, 4).SaveBMP(Path("y/p.bmp")));
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    const Result r =
        Run({"apply", "--config", cfg, "--out-dir", Path("out"), Path("x/p.bmp"), Path("y/p.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("y/p.bmp"), std::string::npos);
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out/p.bmp")));
    EXPECT_EQ(out.Width(), 3);
}

TEST_F(CliTest, InfoReportsSizesAndFailures) {
    ASSERT_TRUE(Picture(12, 7).SaveBMP(Path("a.bmp")));
    const Result ok = Run({"info", Path("a.bmp")});
    ASSERT_EQ(ok.status, 0);
    EXPECT_NE(ok.out.find("12x7"), std::string::npos) << ok.out;
    EXPECT_NE(ok.out.find("1 frame"), std::string::npos);
    const Result bad = Run({"info", Path("a.bmp"), Path("b.xyz")});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("b.xyz: Unknown File Format!"), std::string::npos) << bad.err;
}

TEST_F(CliTest, PicturesClaimingTooMuchAreRefusedAtOnce) {
    const std::vector<uint8_t> png = ClaimingPng(60000, 60000);
    ASSERT_LT(png.size(), 1000u);
    WriteBytes(Path("big.png"), png);
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    // A 2 GB address space: a loader that allocated the 10.8 GB the file claims
    // fails there instead of taking the machine's memory.
    const std::string cap = "ulimit -v 2097152; ";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"info", Path("big.png")},
             {"apply", "--config", cfg, "--output", Path("out.png"), Path("big.png")}}) {
        const auto start = std::chrono::steady_clock::now();
        const Result r = Run(args, cap);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(CountLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find("big.png: The picture is too large (60000 x 60000 pixels, 3600 "
                             "megapixels; the limit is 1000 megapixels)"),
                  std::string::npos)
            << r.err;
        EXPECT_LT(seconds, 10.0) << args[0];
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(CliTest, MaxMegapixelsSetsTheLimit) {
    // 1001 x 1000 is just over one megapixel.
    ASSERT_TRUE(Picture(1001, 1000).SaveBMP(Path("a.bmp")));
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    const Result low = Run({"info", "--max-megapixels", "1", Path("a.bmp")});
    EXPECT_EQ(low.status, 1);
    EXPECT_NE(low.err.find("a.bmp: The picture is too large (1001 x 1000 pixels, 1.01 megapixels; "
                           "the limit is 1 megapixels)"),
              std::string::npos)
        << low.err;
    const Result high = Run({"info", Path("a.bmp"), "--max-megapixels", "2"});
    EXPECT_EQ(high.status, 0) << high.err;
    EXPECT_NE(high.out.find("1001x1000"), std::string::npos);

    Result r = Run({"apply", "--config", cfg, "--max-megapixels", "1", "--output", Path("o.bmp"),
                    Path("a.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("too large"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("o.bmp")));
    r = Run({"apply", "--config", cfg, "--max-megapixels", "2", "--output", Path("o.bmp"),
             Path("a.bmp")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(Path("o.bmp")));

    for (const char* bad : {"0", "-3", "1.5", "many", "70000"}) {
        EXPECT_EQ(Run({"info", "--max-megapixels", bad, Path("a.bmp")}).status, 2) << bad;
        EXPECT_EQ(Run({"apply", "--config", cfg, "--max-megapixels", bad, "--output", Path("o.bmp"),
                       Path("a.bmp")})
                      .status,
                  2)
            << bad;
    }
    EXPECT_EQ(Run({"info", Path("a.bmp"), "--max-megapixels"}).status, 2);
    EXPECT_EQ(Run({"info", "--bogus", Path("a.bmp")}).status, 2);
    const Result help = Run({"--help"});
    EXPECT_NE(help.out.find("--max-megapixels N"), std::string::npos);
}

TEST_F(CliTest, TiffWarningsStayQuietAndFailuresGiveTheirReason) {
    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
    WriteBytes(Path("in/tags.tif"), GreyTiff(6, 4, 8, false));
    WriteBytes(Path("in/cut.tif"), GreyTiff(6, 4, 8, true));
    const std::string cfg = WriteConfig("c.qvc", [](ProcessingSettings&) {});
    for (const char* jobs : {"1", "2"}) {
        const Result r = Run({"apply", "--config", cfg, "--jobs", jobs, "--out-dir", Path("out"),
                              "--format", "bmp", Path("in")});
        EXPECT_EQ(r.status, 1);
        ASSERT_EQ(CountLines(r.err), 1) << r.err;
        const std::string line = "cut.tif: Unable load file (bad format): ";
        const size_t at = r.err.find(line);
        ASSERT_NE(at, std::string::npos) << r.err;
        EXPECT_GT(r.err.size(), at + line.size() + 1) << "a reason follows: " << r.err;
        BMP_File out;
        ASSERT_TRUE(out.LoadBMP(Path("out/tags.bmp")));
        EXPECT_EQ(out.Pixel(5, 3), CColor24(23, 23, 23));
    }
    const Result info = Run({"info", Path("in/tags.tif")});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.err, "");
}

TEST_F(CliTest, LightFramesComeFromTheirFractionsWhateverTheEditFlag) {
    BMP_File grey;
    grey.Create(100, 100);
    std::fill(grey.Bytes(), grey.Bytes() + grey.PixelBytes(), uint8_t(60));
    ASSERT_TRUE(grey.SaveBMP(Path("in.bmp")));
    const std::string cfg = WriteConfig("light.qvc", [](ProcessingSettings& s) {
        // Saved from a 400 x 300 view after light 1 was edited and its editing
        // switched off again: the rectangle is in that view's pixels.
        s.m_bLight[0] = 1;
        s.m_bLightEdit[0] = 0;
        s.m_LightColor[0] = ChannelInts{255, 0, 0};
        s.m_cBmpWndDestination[0].m_cLightTracker = IntRect{95, 45, 195, 145};
        s.m_rcLight[0] = IntRect{90, 40, 200, 150};
        s.m_cBmpWndDestination[0].LightrcL = 95.0f / 395.0f;
        s.m_cBmpWndDestination[0].LightrcT = 45.0f / 295.0f;
        s.m_cBmpWndDestination[0].LightrcR = 195.0f / 395.0f;
        s.m_cBmpWndDestination[0].LightrcB = 145.0f / 295.0f;
        // Light 2 was never drawn: zero fractions, and its rectangle is what
        // the file says.
        s.m_bLight[1] = 1;
        s.m_LightColor[1] = ChannelInts{0, 0, 255};
        s.m_rcLight[1] = IntRect{600, 400, 700, 500};
    });
    const Result r = Run({"apply", "--config", cfg, "--preview", "--view", "800x600", "--output",
                          Path("out.bmp"), Path("in.bmp")});
    ASSERT_EQ(r.status, 0) << r.err;
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    ASSERT_EQ(out.Width(), 800);
    // In an 800 x 600 view the frame is about (191, 90)-(392, 292), centred
    // near (291, 191); the stored rectangle would have lit around (145, 95).
    EXPECT_GT(out.Pixel(291, 191).r, 200);
    EXPECT_EQ(out.Pixel(145, 95), CColor24(60, 60, 60));
    EXPECT_GT(out.Pixel(650, 450).b, 200) << "a light never drawn keeps its rectangle";
}

TEST_F(CliTest, AStepThatCannotMakeItsPictureFailsThatInput) {
    ASSERT_TRUE(Picture(31, 17).SaveBMP(Path("in.bmp")));
    const std::string cfg = WriteConfig("big.qvc", [](ProcessingSettings& s) {
        s.m_bResize = 1;
        s.m_nSizeX = 40000;
        s.m_nSizeY = 30000;
    });
    const Result r = Run({"apply", "--config", cfg, "--output", Path("out.png"), Path("in.bmp")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("in.bmp: Resize to 40000 x 30000 failed: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(Path("out.png"))) << "no smaller picture in its place";

    // The preview passes the step over, as the desktop program's view does.
    const Result p = Run({"apply", "--config", cfg, "--preview", "--view", "40x30", "--output",
                          Path("preview.png"), Path("in.bmp")});
    EXPECT_EQ(p.status, 0) << p.err;
    EXPECT_TRUE(fs::exists(Path("preview.png")));
}

namespace {

// What exiv2 reads back from a file: key -> value of every EXIF tag, and
// whether IPTC, XMP or a colour profile is there.
struct FileMetadata {
    std::map<std::string, std::string> exif;
    bool iptc = false, xmp = false, icc = false;
    std::string Exif(const std::string& key) const {
        const auto it = exif.find(key);
        return it == exif.end() ? "(none)" : it->second;
    }
};

FileMetadata MetadataOf(const std::string& path) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path);
    image->readMetadata();
    FileMetadata m;
    for (const auto& d : image->exifData()) m.exif[d.key()] = d.toString();
    m.iptc = !image->iptcData().empty();
    m.xmp = !image->xmpData().empty();
    m.icc = image->iccProfileDefined();
    return m;
}

} // namespace

TEST_F(CliTest, PhotographsKeepTheirMetadataAndAreTurnedUpright) {
    // A camera's portrait photograph: stored 30 x 20, to be shown turned a
    // quarter clockwise (orientation 6).
    SaveOptions strip;
    strip.strip = true;
    ASSERT_TRUE(SaveImageFile(Path("cam.jpg"), Picture(30, 20), nullptr, strip));
    {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Path("cam.jpg"));
        image->readMetadata();
        Exiv2::ExifData& exif = image->exifData();
        exif["Exif.Image.Make"] = std::string("Acme");
        exif["Exif.Image.Model"] = std::string("Acme One");
        exif["Exif.Image.Orientation"] = uint16_t(6);
        exif["Exif.Photo.DateTimeOriginal"] = std::string("2024:05:06 07:08:09");
        exif["Exif.GPSInfo.GPSLatitudeRef"] = std::string("S");
        exif["Exif.GPSInfo.GPSLatitude"] = std::string("33/1 51/1 0/1");
        image->iptcData()["Iptc.Application2.City"] = std::string("Sydney");
        image->xmpData()["Xmp.dc.rights"] = std::string("CC BY");
        std::vector<uint8_t> icc(200, 9);
        icc[0] = icc[1] = icc[2] = 0, icc[3] = 200;
        Exiv2::DataBuf buf(icc.data(), long(icc.size()));
        image->setIccProfile(buf);
        image->writeMetadata();
    }
    const std::string cfg = WriteConfig("none.qvc", [](ProcessingSettings&) {});
    for (const char* ext : {"jpg", "png", "tif"}) {
        SCOPED_TRACE(ext);
        const std::string out = Path(std::string("out.") + ext);
        Result r = Run({"apply", "--config", cfg, "--output", out, Path("cam.jpg")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        FileMetadata m = MetadataOf(out);
        EXPECT_EQ(m.Exif("Exif.Image.Make"), "Acme");
        EXPECT_EQ(m.Exif("Exif.Image.Model"), "Acme One");
        EXPECT_EQ(m.Exif("Exif.Photo.DateTimeOriginal"), "2024:05:06 07:08:09");
        EXPECT_EQ(m.Exif("Exif.GPSInfo.GPSLatitudeRef"), "S");
        EXPECT_EQ(m.Exif("Exif.GPSInfo.GPSLatitude"), "33/1 51/1 0/1");
        EXPECT_EQ(m.Exif("Exif.Image.Orientation"), "1");
        EXPECT_EQ(m.Exif("Exif.Photo.PixelXDimension"), "20");
        EXPECT_EQ(m.Exif("Exif.Photo.PixelYDimension"), "30");
        EXPECT_TRUE(m.iptc && m.xmp && m.icc);
        BMP_File result;
        ASSERT_TRUE(LoadImageFile(out, result));
        EXPECT_EQ(result.Width(), 20);
        EXPECT_EQ(result.Height(), 30);

        // The stored pixels, and the orientation that still says how to show them.
        r = Run({"apply", "--config", cfg, "--keep-orientation", "--output", out, Path("cam.jpg")});
        ASSERT_EQ(r.status, 0) << r.err;
        m = MetadataOf(out);
        EXPECT_EQ(m.Exif("Exif.Image.Orientation"), "6");
        EXPECT_EQ(m.Exif("Exif.Photo.PixelXDimension"), "30");
        LoadOptions stored;
        stored.applyOrientation = false;
        ASSERT_TRUE(LoadImageFile(out, result, nullptr, nullptr, stored));
        EXPECT_EQ(result.Width(), 30);

        // For the web: nothing but the picture.
        r = Run({"apply", "--config", cfg, "--strip", "--output", out, Path("cam.jpg")});
        ASSERT_EQ(r.status, 0) << r.err;
        m = MetadataOf(out);
        EXPECT_EQ(m.Exif("Exif.Image.Make"), "(none)");
        EXPECT_EQ(m.Exif("Exif.Image.Software"), "(none)");
        EXPECT_EQ(m.Exif("Exif.GPSInfo.GPSLatitude"), "(none)");
        EXPECT_FALSE(m.iptc || m.xmp || m.icc);
        ASSERT_TRUE(LoadImageFile(out, result));
        EXPECT_EQ(result.Width(), 20); // still upright
    }
}

TEST_F(CliTest, DamagedExifCostsOneWarningLineAndNothingElse) {
    SaveOptions strip;
    strip.strip = true;
    ASSERT_TRUE(SaveImageFile(Path("plain.jpg"), Picture(30, 20), nullptr, strip));
    std::ifstream in(Path("plain.jpg"), std::ios::binary);
    std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), {});
    // An EXIF segment whose only directory lies far outside it.
    const std::vector<uint8_t> segment = {0xFF, 0xE1, 0,   16, 'E', 'x',  'i',  'f',  0,
                                          0,    'I',  'I', 42, 0,   0xF0, 0xFF, 0xFF, 0xFF};
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    WriteBytes(Path("bad.jpg"), jpeg);
    const std::string cfg = WriteConfig("none.qvc", [](ProcessingSettings&) {});
    const Result r = Run({"apply", "--config", cfg, "--output", Path("out.png"), Path("bad.jpg")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(CountLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("bad.jpg: warning: "), std::string::npos) << r.err;
    BMP_File out;
    ASSERT_TRUE(LoadImageFile(Path("out.png"), out));
    EXPECT_EQ(out.Width(), 30);
    EXPECT_EQ(out.Height(), 20);
}

#pragma GCC diagnostic pop

TEST_F(CliTest, AFolderOfManyPhotographsComesOutAsTheTreatmentMakesEach) {
    // More pictures than workers, each treated in place by its worker: every
    // result is what the pipeline makes of the loaded picture.
    fs::create_directories(Path("in"));
    fs::create_directories(Path("out"));
    std::vector<BMP_File> inputs;
    for (int i = 0; i < 36; ++i) {
        BMP_File img = Picture(30 + i, 20 + i % 5);
        img.Pixel(i % 7, 3) = CColor24(uint8_t(i * 7), 200, 9);
        char name[32];
        std::snprintf(name, sizeof name, "in/p%02d.jpg", i);
        ASSERT_TRUE(SaveImageFile(Path(name), img));
    }
    ProcessingSettings treatment;
    const std::string cfg = WriteConfig("c.qvc", [&](ProcessingSettings& s) {
        s.m_aEffects = {14, 1};
        s.m_aEffectChecks = {1, 1};
        s.m_nBrightR = 61;
        s.m_bResize = 1;
        s.m_nSizeX = 21;
        s.m_nSizeY = 13;
        treatment = s;
    });
    const Result r = Run({"apply", "--config", cfg, "--jobs", "4", "--out-dir", Path("out"),
                          "--format", "png", Path("in")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (int i = 0; i < 36; ++i) {
        char in[32], out[32];
        std::snprintf(in, sizeof in, "in/p%02d.jpg", i);
        std::snprintf(out, sizeof out, "out/p%02d.png", i);
        BMP_File loaded, expected, got;
        ASSERT_TRUE(LoadImageFile(Path(in), loaded));
        ASSERT_TRUE(RunPipeline(loaded, treatment, ProcessMode::Final, ViewSize{}, expected));
        ASSERT_TRUE(LoadImageFile(Path(out), got)) << out;
        EXPECT_TRUE(got.SameAs(expected)) << out;
    }
}
