#pragma once
// Small pictures and scratch folders shared by the overlay tests.

#include "app/bmp_file.h"

#include "../scoped_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>

namespace overlays_test {

inline BMP_File MakeImage(int w, int h, const std::function<CColor24(int, int)>& fn) {
    BMP_File img;
    EXPECT_TRUE(img.Create(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = fn(x, y);
    return img;
}

inline BMP_File Solid(int w, int h, CColor24 c) {
    return MakeImage(w, h, [c](int, int) { return c; });
}

// Distinct colours everywhere, so that any pixel moved to the wrong place shows.
inline BMP_File Gradient(int w, int h) {
    return MakeImage(w, h, [](int x, int y) {
        return CColor24(uint8_t(x * 7 + y), uint8_t(y * 11 + 3), uint8_t((x * 13) ^ (y * 5)));
    });
}

// A fresh folder under the system temp folder, removed at the end of the test.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("pellorin-overlays-" + std::string(info->test_suite_name()) + "-" + info->name() +
                 "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string Path(const std::string& rel = {}) const {
        return rel.empty() ? path_.string() : (path_ / rel).string();
    }

private:
    std::filesystem::path path_;
};

} // namespace overlays_test
