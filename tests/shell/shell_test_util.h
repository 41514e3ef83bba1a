#pragma once
// Scratch folders, environment overrides and whole-file helpers for the
// association tests.

#include "../scoped_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace shell_test {

class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::temp_directory_path() /
                ("pellorin-shell-" + std::string(info->test_suite_name()) + "-" + info->name() +
                 "-" + std::to_string(::getpid()));
        Remove();
        std::filesystem::create_directories(path_);
        // Reachable by an unprivileged user, for the tests that drop to one.
        ::chmod(path_.c_str(), 0755);
    }
    ~ScratchDir() { Remove(); }
    std::string Path(const std::string& rel = {}) const {
        return rel.empty() ? path_.string() : (path_ / rel).string();
    }

private:
    void Remove() {
        std::error_code ec;
        // Read-only folders inside would stop the removal.
        if (std::filesystem::exists(path_, ec))
            for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
                if (e.is_directory(ec)) ::chmod(e.path().c_str(), 0755);
        std::filesystem::remove_all(path_, ec);
    }
    std::filesystem::path path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

inline bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// A desktop entry for another program, so that defaults naming it count as
// installed.
inline void InstallEntry(const std::string& applications, const std::string& id,
                         const std::string& extra = {}) {
    WriteFile(applications + "/" + id,
              "[Desktop Entry]\nType=Application\nName=" + id + "\nExec=true %f\n" + extra);
}

} // namespace shell_test
