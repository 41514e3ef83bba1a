#pragma once
// AVI files made for a test by the ffmpeg program, with each frame's number
// drawn into it as eight horizontal bands (a light band for a set bit, bit 0
// at the top) that survive lossy coding, and helpers to read the number back.

#include "app/bmp_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace videotest {

namespace fs = std::filesystem;

constexpr int kBands = 8;

// Frame `index` of a width x height video: grey bands for the number, and with
// `columnRamp` a blue ramp across the columns that tells them apart.
inline BMP_File CounterFrame(int index, int width, int height, bool columnRamp = false) {
    BMP_File f;
    f.Create(width, height);
    for (int y = 0; y < height; ++y) {
        const int band = y * kBands / height;
        const uint8_t level = (index >> band) & 1 ? 230 : 25;
        for (int x = 0; x < width; ++x) {
            const uint8_t blue = columnRamp ? uint8_t(x * 255 / std::max(1, width - 1)) : level;
            f.Pixel(x, y) = CColor24(level, level, blue);
        }
    }
    return f;
}

// The number drawn in a frame, read at the middle of each band; -1 when a band
// is neither light nor dark.
inline int CounterOf(const BMP_File& f) {
    if (f.Empty()) return -1;
    int n = 0;
    for (int b = 0; b < kBands; ++b) {
        const int y = (2 * b + 1) * f.Height() / (2 * kBands);
        int sum = 0;
        for (int dx = -2; dx <= 2; ++dx) {
            const CColor24 p = f.Pixel(f.Width() / 2 + dx, y);
            sum += p.r + p.g;
        }
        const int mean = sum / 10;
        if (mean > 160)
            n |= 1 << b;
        else if (mean > 95)
            return -1;
    }
    return n;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs a shell command; its standard output.
inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

// Writes `count` counter frames through the ffmpeg program with the given
// output options (e.g. "-c:v mjpeg -q:v 3") at `rate` frames per second
// (a fraction like "30000/1001" is allowed). True when ffmpeg succeeded.
inline bool MakeAvi(const std::string& path, const std::string& codecArgs, int width, int height,
                    int count, const std::string& rate = "25", bool columnRamp = false) {
    const std::string cmd = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt rgb24 -s " +
                            std::to_string(width) + "x" + std::to_string(height) + " -r " + rate +
                            " -i - " + codecArgs + " " + Quote(path);
    FILE* p = ::popen(cmd.c_str(), "w");
    if (!p) return false;
    for (int i = 0; i < count; ++i) {
        const BMP_File f = CounterFrame(i, width, height, columnRamp);
        std::fwrite(f.Bytes(), 1, f.PixelBytes(), p);
    }
    return ::pclose(p) == 0 && fs::exists(path);
}

// What ffprobe says of a file's first video stream: "codec,rate,frames".
inline std::string Probe(const std::string& path) {
    std::string s = Capture("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                            "stream=codec_name,r_frame_rate,nb_read_frames,width,height -of "
                            "csv=p=0 " +
                            Quote(path) + " 2>/dev/null");
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

inline std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A fresh folder per test, removed afterwards.
class TempDirTest : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "-" + info->name();
        for (char& c : name)
            if (c == '/') c = '_';
        dir = fs::temp_directory_path() /
              ("pellorin-video-" + std::to_string(::getpid()) + "-" + name);
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    // The names in the folder, to see that no temporary file is left behind.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
};

} // namespace videotest
