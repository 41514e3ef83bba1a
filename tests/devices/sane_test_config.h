#pragma once
// A SANE configuration of the test's own: only SANE's "test" backend, with the
// options a test chooses, found through SANE_CONFIG_DIR. SANE reads it at each
// start, and the scanning layer starts SANE for each scan, so a test may change
// it between scans. SANE remembers the folder of the first start for the rest
// of the process, so every test of a process shares one folder and only its
// contents change.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

class SaneTestConfig {
public:
    SaneTestConfig() : dir_(Folder().dir) {
        // The test backend's own defaults, made explicit so the tests do not
        // depend on the machine's test.conf.
        values_ = {{"number_of_devices", "2"},
                   {"mode", "Color"},
                   {"depth", "8"},
                   {"resolution", "50.0"},
                   {"test-picture", "\"Grid\""},
                   {"geometry_min", "0.0"},
                   {"geometry_max", "200.0"},
                   {"tl_x", "0.0"},
                   {"tl_y", "0.0"},
                   {"br_x", "80.0"},
                   {"br_y", "100.0"},
                   {"select-fd", "true"}};
        // The backend's reader thread is stopped asynchronously by a cancel;
        // stopped while it still allocates its picture, it leaves the
        // allocator locked and the process hangs. With a descriptor to wait
        // on, reading starts only once the thread has delivered data.
        Write();
    }
    ~SaneTestConfig() = default;
    SaneTestConfig(const SaneTestConfig&) = delete;
    SaneTestConfig& operator=(const SaneTestConfig&) = delete;

    void Set(const std::string& key, const std::string& value) {
        values_[key] = value;
        Write();
    }
    const std::string& Dir() const { return dir_; }

private:
    struct SharedFolder {
        std::string dir;
        pid_t owner = ::getpid();
        SharedFolder() {
            std::string templ =
                (std::filesystem::temp_directory_path() / "pellorin-sane-XXXXXX").string();
            if (::mkdtemp(templ.data())) dir = templ;
            ::setenv("SANE_CONFIG_DIR", dir.c_str(), 1);
        }
        ~SharedFolder() {
            std::error_code ec;
            if (!dir.empty() && ::getpid() == owner) std::filesystem::remove_all(dir, ec);
        }
    };
    static SharedFolder& Folder() {
        static SharedFolder folder;
        return folder;
    }
    void Write() {
        std::ofstream(dir_ + "/dll.conf") << "test\n";
        std::ofstream conf(dir_ + "/test.conf");
        for (const auto& [k, v] : values_) conf << k << " " << v << "\n";
    }
    std::string dir_;
    std::map<std::string, std::string> values_;
};
