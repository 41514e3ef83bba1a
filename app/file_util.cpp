#include "app/file_util.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, uint64_t maxBytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > maxBytes) {
        ::close(fd);
        return false;
    }
    std::vector<uint8_t> data(size_t(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    data.resize(got);
    out.swap(data);
    return true;
}

std::string TemporaryPathBeside(const std::string& path) {
    std::string dir = ".";
    std::string name = path;
    if (auto slash = path.find_last_of('/'); slash != std::string::npos) {
        dir = path.substr(0, slash == 0 ? 1 : slash);
        name = path.substr(slash + 1);
    }
    std::string templ = dir + (dir.ends_with('/') ? "" : "/") + "." + name + ".XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    int fd = ::mkstemp(buf.data());
    if (fd < 0) return {};
    ::close(fd);
    return std::string(buf.data());
}

bool CommitTemporary(const std::string& tmp, const std::string& target) {
    // Keep the permissions an existing target had; new files get the usual
    // umask-based mode rather than mkstemp's 0600.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        ::chmod(tmp.c_str(), st.st_mode & 07777);
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(tmp.c_str(), 0666 & ~mask);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> data) {
    if (path.empty()) return false;
    std::string tmp = TemporaryPathBeside(path);
    if (tmp.empty()) return false;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += size_t(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    return CommitTemporary(tmp, path);
}

std::string ToLowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

std::string ExtensionOf(const std::string& path) {
    if (path.size() < 3) return {};
    return ToLowerAscii(path.substr(path.size() - 3));
}
