// Scanning on SANE's test backend: the sources, the scan-area rule, cancelling,
// the error numbers and texts, and the pixels of the backend's grid picture.

#include "devices/scan_library.h"
#include "devices/twain_errors.h"
#include "devices/twain_utils.h"
#include "tests/devices/sane_test_config.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Pixels of `mm` millimetres at `dpi`, as a scanner rounds them (either way).
void ExpectPixels(int pixels, double mm, int dpi) {
    EXPECT_NEAR(pixels, mm / 25.4 * dpi, 1.0) << mm << " mm at " << dpi << " dpi";
}

class Scanning : public ::testing::Test {
protected:
    SaneTestConfig sane;
    fs::path folder;
    ScanState state;

    void SetUp() override {
        folder = fs::temp_directory_path() / ("pellorin-scan-" + std::to_string(::getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        state.source = "test:0";
    }
    void TearDown() override { fs::remove_all(folder); }

    ScanNowResult Scan(BMP_File& image, std::string* message = nullptr,
                       ScanProgress* progress = nullptr) {
        std::string local;
        return ScanNow(state, folder.string(), image, message ? message : &local, progress);
    }
    bool FolderEmpty() const { return fs::is_empty(folder); }
};

TEST_F(Scanning, SourceListHasTheTestScanners) {
    CScanLibrary lib;
    std::vector<std::string> names;
    ASSERT_EQ(lib.ListSources(&names), 0);
    EXPECT_NE(std::find(names.begin(), names.end(), "test:0"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "test:1"), names.end());
    CTwainUtils twain(lib);
    EXPECT_EQ(twain.ListSources(), names);
}

TEST_F(Scanning, PhysicalSizeComesFromTheGeometryRanges) {
    sane.Set("geometry_max", "150.0");
    CScanLibrary lib;
    ASSERT_EQ(lib.OpenSource("test:0"), 0);
    bool known = false;
    double w = 0, h = 0;
    ASSERT_EQ(lib.GetPhysicalSize(&known, &w, &h), 0);
    EXPECT_TRUE(known);
    EXPECT_DOUBLE_EQ(w, 150.0);
    EXPECT_DOUBLE_EQ(h, 150.0);
}

TEST_F(Scanning, FirstScanTakesTheWholePageAndLaterScansReuseTheArea) {
    sane.Set("geometry_max", "100.0");
    BMP_File first;
    ASSERT_EQ(Scan(first), ScanNowResult::Done);
    EXPECT_TRUE(state.areaSet);
    EXPECT_EQ(state.area, (ScanArea{0, 0, 100000, 100000}));
    ExpectPixels(first.Width(), 100, 50);
    ExpectPixels(first.Height(), 100, 50);
    EXPECT_EQ(state.counter, 1u);
    EXPECT_TRUE(FolderEmpty()) << "the temporary BMP is removed after loading";

    // The page grows; the area of the first scan stays.
    sane.Set("geometry_max", "200.0");
    BMP_File second;
    ASSERT_EQ(Scan(second), ScanNowResult::Done);
    EXPECT_EQ(state.area, (ScanArea{0, 0, 100000, 100000}));
    EXPECT_EQ(second.Width(), first.Width());
    EXPECT_EQ(second.Height(), first.Height());
    EXPECT_EQ(state.counter, 2u);

    // A cleared area (another source was chosen) takes the new whole page.
    state.areaSet = false;
    BMP_File third;
    ASSERT_EQ(Scan(third), ScanNowResult::Done);
    EXPECT_EQ(state.area, (ScanArea{0, 0, 200000, 200000}));
    ExpectPixels(third.Width(), 200, 50);
}

TEST_F(Scanning, TemporaryFilesAreNumberedInTheGivenFolder) {
    EXPECT_EQ(ScanFileName(state, "/some/where"), "/some/where/tmpImg0.bmp");
    state.counter = 12;
    EXPECT_EQ(ScanFileName(state, "/some/where"), "/some/where/tmpImg12.bmp");
}

// The grid: squares of 10 mm, the top-left one white. At 254 dpi a square is
// 100 pixels; the centre of each square is far from any rounding at its edges.
void ExpectGrid(const BMP_File& img, int squaresX, int squaresY) {
    ASSERT_EQ(img.Width(), squaresX * 100);
    ASSERT_EQ(img.Height(), squaresY * 100);
    for (int sy = 0; sy < squaresY; ++sy)
        for (int sx = 0; sx < squaresX; ++sx) {
            const uint8_t v = (sx + sy) % 2 == 0 ? 255 : 0;
            for (int dy : {20, 50, 80})
                for (int dx : {20, 50, 80})
                    ASSERT_EQ(img.Pixel(sx * 100 + dx, sy * 100 + dy), CColor24(v, v, v))
                        << "square " << sx << "," << sy;
        }
}

TEST_F(Scanning, GridPictureArrivesWithItsSizeAndPixelsInEveryMode) {
    state.areaSet = true;
    state.area = ScanArea{0, 0, 40000, 30000};
    struct Mode {
        const char* mode;
        const char* depth;
        const char* selectFd;
    };
    for (Mode m : {Mode{"Color", "8", "0"}, Mode{"Color", "8", "1"}, Mode{"Gray", "8", "1"},
                   Mode{"Gray", "1", "1"}, Mode{"Color", "16", "1"}, Mode{"Gray", "16", "1"}}) {
        SCOPED_TRACE(std::string(m.mode) + " " + m.depth + " select " + m.selectFd);
        state.options = {
            {"mode", m.mode}, {"depth", m.depth}, {"resolution", "254"}, {"select-fd", m.selectFd}};
        BMP_File img;
        std::string message;
        ASSERT_EQ(Scan(img, &message), ScanNowResult::Done) << message;
        ExpectGrid(img, 4, 3);
    }
}

TEST_F(Scanning, ThreePassScanAssemblesTheColourPlanes) {
    state.areaSet = true;
    state.area = ScanArea{0, 0, 20000, 20000};
    state.options = {{"mode", "Color"}, {"three-pass", "1"}, {"resolution", "254"}};
    BMP_File img;
    std::string message;
    ASSERT_EQ(Scan(img, &message), ScanNowResult::Done) << message;
    ExpectGrid(img, 2, 2);
}

TEST_F(Scanning, EmptyAreaIsTooSmall) {
    BMP_File img = BMP_File();
    img.Create(3, 3);
    for (ScanArea area : {ScanArea{0, 0, 0, 0}, ScanArea{5000, 5000, 5000, 9000},
                          ScanArea{5000, 9000, 8000, 4000}}) {
        state.areaSet = true;
        state.area = area;
        std::string message;
        EXPECT_EQ(Scan(img, &message), ScanNowResult::Failed);
        EXPECT_EQ(message, "Could not get image because scan area width(height) too small !");
        EXPECT_EQ(img.Width(), 3) << "the image is left as it was";
        EXPECT_EQ(state.counter, 0u);
        EXPECT_TRUE(FolderEmpty());
    }
}

TEST_F(Scanning, ZeroSizedPageGivesTheTooSmallMessage) {
    sane.Set("geometry_max", "0.0");
    sane.Set("br_x", "0.0");
    sane.Set("br_y", "0.0");
    BMP_File img;
    std::string message;
    EXPECT_EQ(Scan(img, &message), ScanNowResult::Failed);
    EXPECT_EQ(message, "Could not get image because scan area width(height) too small !");
    EXPECT_TRUE(img.Empty());
    EXPECT_EQ(state.counter, 0u);
}

TEST_F(Scanning, DeviceCancelReturnsQuietlyWithTheCounterUnchanged) {
    state.options = {{"read-return-value", "SANE_STATUS_CANCELLED"}};
    BMP_File img;
    std::string message;
    EXPECT_EQ(Scan(img, &message), ScanNowResult::Cancelled);
    EXPECT_TRUE(message.empty());
    EXPECT_TRUE(img.Empty());
    EXPECT_EQ(state.counter, 0u);
    EXPECT_TRUE(FolderEmpty());
}

TEST_F(Scanning, CancelWhileReadingStopsTheScan) {
    // Slow reads of small pieces, so that the scan is still running when the
    // request comes.
    state.options = {{"resolution", "300"},
                     {"read-limit", "1"},
                     {"read-limit-size", "4096"},
                     {"read-delay", "1"},
                     {"read-delay-duration", "20000"}};
    ScanProgress progress;
    BMP_File img;
    ScanNowResult result = ScanNowResult::Done;
    std::thread worker([&] { result = Scan(img, nullptr, &progress); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (progress.linesRead.load() < 5 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(progress.linesRead.load(), 5) << "no lines were read";
    EXPECT_GT(progress.linesTotal.load(), progress.linesRead.load());
    progress.cancel = true;
    worker.join();
    EXPECT_EQ(result, ScanNowResult::Cancelled);
    EXPECT_EQ(state.counter, 0u);
    EXPECT_TRUE(img.Empty());
    EXPECT_TRUE(FolderEmpty());
}

TEST_F(Scanning, DeviceConditionsBecomeTheirErrorTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"SANE_STATUS_JAMMED", "Paper could not be unloaded"},
        {"SANE_STATUS_NO_DOCS", "TWAIN ADF is empty"},
        {"SANE_STATUS_COVER_OPEN", "ADF lid was opened"},
        {"SANE_STATUS_DEVICE_BUSY", "Source already in use"},
        {"SANE_STATUS_IO_ERROR", "Scanner error"},
        {"SANE_STATUS_NO_MEM", "Insufficient memory for function"},
        {"SANE_STATUS_ACCESS_DENIED", "Could not open TWAIN Data Source"},
        {"SANE_STATUS_UNSUPPORTED", "Function not available due to missing module"},
        {"SANE_STATUS_INVAL", "Parameter out of range"},
    };
    for (const auto& [status, text] : cases) {
        SCOPED_TRACE(status);
        state.options = {{"read-return-value", status}};
        BMP_File img;
        std::string message;
        EXPECT_EQ(Scan(img, &message), ScanNowResult::Failed);
        EXPECT_EQ(message, text);
        EXPECT_EQ(state.counter, 0u);
        EXPECT_TRUE(FolderEmpty());
    }
}

TEST_F(Scanning, UnknownSourceCannotBeOpened) {
    state.source = "test:7";
    BMP_File img;
    std::string message;
    EXPECT_EQ(Scan(img, &message), ScanNowResult::Failed);
    EXPECT_EQ(message, "Could not open TWAIN Data Source");
    state.source = "nosuchbackend:0";
    EXPECT_EQ(Scan(img, &message), ScanNowResult::Failed);
    EXPECT_EQ(message, "Could not open TWAIN Data Source");
}

TEST_F(Scanning, UnwritableFolderIsReported) {
    BMP_File img;
    std::string message;
    EXPECT_EQ(ScanNow(state, (folder / "missing" / "deeper").string(), img, &message),
              ScanNowResult::Failed);
    EXPECT_EQ(message, "Cannot create file");
    EXPECT_EQ(state.counter, 0u);
}

TEST_F(Scanning, ScanFileThatCannotBeReadBackIsReported) {
    const std::string file = (folder / "tmpImg0.bmp").string();
    std::ofstream(file) << "BM not really a bitmap";
    BMP_File img;
    img.Create(2, 2);
    std::string message;
    EXPECT_FALSE(LoadScanFile(file, img, &message));
    EXPECT_NE(message.find("could not be read back"), std::string::npos) << message;
    EXPECT_EQ(img.Width(), 2);
    EXPECT_FALSE(fs::exists(file)) << "the temporary file is removed all the same";
    EXPECT_FALSE(LoadScanFile((folder / "absent.bmp").string(), img, &message));
}

TEST_F(Scanning, SettingsDialogOptionsAreTheDevicesAndChangeIt) {
    CScanLibrary lib;
    ASSERT_EQ(lib.OpenSource("test:0"), 0);
    std::vector<ScanOption> options;
    ASSERT_EQ(lib.ListOptions(&options), 0);
    auto find = [&](const std::string& n) {
        return std::find_if(options.begin(), options.end(),
                            [&](const ScanOption& o) { return o.name == n; });
    };
    auto mode = find("mode");
    ASSERT_NE(mode, options.end());
    EXPECT_EQ(mode->kind, ScanOption::String);
    EXPECT_EQ(mode->limit, ScanOption::StringList);
    EXPECT_NE(std::find(mode->strings.begin(), mode->strings.end(), "Gray"), mode->strings.end());
    EXPECT_EQ(mode->text, "Color");
    auto res = find("resolution");
    ASSERT_NE(res, options.end());
    EXPECT_EQ(res->unit, "dpi");
    EXPECT_EQ(res->number, 50);
    ASSERT_NE(find("source"), options.end());

    ASSERT_EQ(lib.SetOption("mode", "Gray"), 0);
    ASSERT_EQ(lib.SetOption("resolution", "75"), 0);
    ASSERT_EQ(lib.ListOptions(&options), 0);
    EXPECT_EQ(find("mode")->text, "Gray");
    EXPECT_EQ(find("resolution")->number, 75);
    EXPECT_NE(lib.SetOption("mode", "Sepia"), 0);
    EXPECT_NE(lib.SetOption("no-such-option", "1"), 0);
    EXPECT_NE(lib.SetOption("resolution", "not a number"), 0);
}

TEST(ScanErrors, NumbersMapToTheirTexts) {
    EXPECT_EQ(TwainErrorText(0), "No error");
    EXPECT_EQ(TwainErrorText(-60), "User canceled scan");
    EXPECT_EQ(TwainErrorText(-47), "ADF bin is empty");
    EXPECT_EQ(TwainErrorText(-73), "Image format does not support width or length > 65535");
    EXPECT_EQ(TwainErrorText(-7), "<Undefined error number -7>");
    EXPECT_EQ(TwainErrorText(-74), "<Undefined error number -74>");
    EXPECT_EQ(TwainErrorText(12), "<Undefined error number 12>");
    EXPECT_EQ(TwainErrorText(-57, 4), "Source already in use");
    EXPECT_EQ(TwainErrorText(-57, -55), "TWAIN Source Manager not found");
    EXPECT_EQ(TwainErrorText(-57, 7), "<Undefined extended error number 7>");
    EXPECT_EQ(TwainErrorText(-57, 13), "<Undefined extended error number 13>");
}

} // namespace
