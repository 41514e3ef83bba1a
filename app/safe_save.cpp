#include "app/safe_save.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <locale.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int kMaxLinks = 40;
// The temporary file asks the kernel to start writing back every few
// megabytes while the producer is still busy, so that the flush before the
// rename has only the tail left to wait for.
constexpr uint64_t kWritebackChunk = uint64_t(4) << 20;
// A failure that has no errno of its own.
constexpr int kNotRegularFile = -1;

// The reason in plain English whatever the user's locale: the rest of the
// message is English too.
std::string Reason(int err) {
    if (err == kNotRegularFile) return "not a regular file";
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    const char* text = cLocale ? ::strerror_l(err, cLocale) : nullptr;
    std::string reason = text ? text : "error " + std::to_string(err);
    if (!reason.empty() && reason[0] >= 'A' && reason[0] <= 'Z')
        reason[0] = char(reason[0] - 'A' + 'a');
    return reason;
}

bool Fail(std::string* message, const std::string& path, const std::string& target, int err) {
    if (message) {
        *message = "cannot write " + path;
        if (!target.empty() && target != path) *message += " (link to " + target + ")";
        *message += ": " + Reason(err);
    }
    return false;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links in the last part of `path` until a name that is not a
// link: `target` is that name and `st` its status. A name that does not exist
// (a dangling link's target) gives exists = false. Returns an errno value.
int ResolveLinks(const std::string& path, std::string& target, struct stat& st, bool& exists) {
    target = path;
    for (int links = 0;; ++links) {
        if (::lstat(target.c_str(), &st) != 0) {
            if (errno != ENOENT) return errno;
            exists = false;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            exists = true;
            return 0;
        }
        if (links == kMaxLinks) return ELOOP;
        std::string dest(st.st_size > 0 ? size_t(st.st_size) + 1 : 256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(target.c_str(), dest.data(), dest.size());
            if (n < 0) return errno;
            if (size_t(n) < dest.size()) {
                dest.resize(size_t(n));
                break;
            }
            dest.resize(dest.size() * 2);
        }
        if (dest.empty()) return ENOENT;
        if (dest[0] != '/') {
            const std::string folder = FolderOf(target);
            dest = (folder == "/" ? "" : folder) + "/" + dest;
        }
        target = std::move(dest);
    }
}

// Whether the user may write a file (how = W_OK) or create files in a folder
// (how = W_OK | X_OK). The superuser passes every permission check, but a file
// or folder with no write bit at all was made read-only on purpose, and that
// holds for everyone.
int MayWrite(const std::string& path, const struct stat& st, int how) {
    if ((st.st_mode & 0222) == 0) return EACCES;
    if (::faccessat(AT_FDCWD, path.c_str(), how, AT_EACCESS) != 0) return errno;
    return 0;
}

// Opens a new file with a name that no other file has, hidden beside the
// target so that the rename stays on one file system.
int CreateTemporary(const std::string& folder, const std::string& name, mode_t mode, int& fd,
                    std::string& tmpPath) {
    static std::atomic<uint64_t> counter{0};
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    // Room for the dot and the suffix within the longest name a folder holds.
    const std::string stem = name.substr(0, 200);
    const std::string prefix = (folder == "/" ? "" : folder) + "/." + stem + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        uint64_t x = (uint64_t(::getpid()) << 32) ^ uint64_t(now.tv_nsec) ^
                     (uint64_t(now.tv_sec) << 30) ^
                     (counter.fetch_add(1, std::memory_order_relaxed) * 0x9E3779B97F4A7C15ull);
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
        x ^= x >> 31;
        tmpPath = prefix;
        for (int i = 0; i < 8; ++i, x /= 36) tmpPath += kDigits[x % 36];
        fd = ::open(tmpPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) return 0;
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int WriteAt(int fd, const uint8_t* data, size_t size, off_t offset) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd, data + done, size - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += size_t(n);
    }
    return 0;
}

// The whole content of an open file.
int ReadBack(int fd, std::vector<uint8_t>& out) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    try {
        out.resize(size_t(st.st_size));
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        done += size_t(n);
    }
    return 0;
}

// Writes content over the file itself. Its name, links, owner, group and
// permission bits stay; space for a longer content is reserved first, so that a
// full disk or a size limit fails before any old byte changes.
int RewriteInPlace(const std::string& target, const std::vector<uint8_t>& content) {
    const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return errno;
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (!S_ISREG(st.st_mode))
        err = kNotRegularFile;
    if (!err && off_t(content.size()) > st.st_size) {
        err = ::posix_fallocate(fd, 0, off_t(content.size()));
        if (err == EOPNOTSUPP) err = 0; // nothing to reserve with: write all the same
        if (err) {
            // Give back whatever was reserved; no old byte was touched.
            const int ignored = ::ftruncate(fd, st.st_size);
            (void)ignored;
        }
    }
    if (!err) err = WriteAt(fd, content.data(), content.size(), 0);
    if (!err && ::ftruncate(fd, off_t(content.size())) != 0) err = errno;
    if (!err && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && !err) err = errno;
    return err;
}

enum class Outcome { Done, Failed, ProducerFailed, InPlace };

} // namespace

struct SaveSinkAccess {
    // Runs the producer into the sink; `err` is the sink's first I/O error.
    static bool Produce(FILE* file, std::vector<uint8_t>* memory, const SaveProducer& produce,
                        int& err) {
        SaveSink sink;
        sink.file_ = file;
        sink.memory_ = memory;
        bool ok = false;
        try {
            ok = produce(sink);
        } catch (const std::bad_alloc&) {
            if (!sink.error_) sink.error_ = ENOMEM;
        } catch (...) {
        }
        err = sink.error_;
        return ok && !err;
    }
};

bool SaveSink::Write(const void* data, size_t size) {
    if (error_) return false;
    if (file_) {
        errno = 0;
        if (size && std::fwrite(data, 1, size, file_) != size) {
            error_ = errno ? errno : EIO;
            return false;
        }
        written_ += size;
        if (written_ - writebackStarted_ >= kWritebackChunk) {
            errno = 0;
            if (std::fflush(file_) != 0) {
                error_ = errno ? errno : EIO;
                return false;
            }
#ifdef __linux__
            ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
            writebackStarted_ = written_;
        }
        return true;
    }
    try {
        std::vector<uint8_t>& m = *memory_;
        if (pos_ > m.size()) m.resize(pos_); // a seek past the end leaves zeros
        const auto* p = static_cast<const uint8_t*>(data);
        const size_t over = std::min(size, m.size() - pos_);
        if (over) std::memcpy(m.data() + pos_, p, over);
        m.insert(m.end(), p + over, p + size);
        pos_ += size;
        return true;
    } catch (const std::bad_alloc&) {
        error_ = ENOMEM;
        return false;
    }
}

size_t SaveSink::Read(void* data, size_t size) {
    if (file_) {
        const size_t n = std::fread(data, 1, size, file_);
        if (n < size && std::ferror(file_) && !error_) error_ = errno ? errno : EIO;
        return n;
    }
    const std::vector<uint8_t>& m = *memory_;
    if (pos_ >= m.size()) return 0;
    const size_t n = std::min(size, m.size() - pos_);
    std::memcpy(data, m.data() + pos_, n);
    pos_ += n;
    return n;
}

bool SaveSink::Seek(int64_t offset, int whence) {
    if (file_) return ::fseeko(file_, off_t(offset), whence) == 0;
    int64_t base = 0;
    if (whence == SEEK_CUR)
        base = int64_t(pos_);
    else if (whence == SEEK_END)
        base = int64_t(memory_->size());
    else if (whence != SEEK_SET)
        return false;
    if (offset < -base) return false;
    pos_ = size_t(base + offset);
    return true;
}

int64_t SaveSink::Tell() const {
    return file_ ? int64_t(::ftello(file_)) : int64_t(pos_);
}

namespace {

// The usual road: produce into a temporary file beside the target, flush it to
// disk, give it the old file's owner, group and permission bits, and rename it
// over the target. `old` is the existing file's status or null for a new file.
// InPlace means the rename would not keep the file what it was; `content` then
// holds the produced bytes when they were produced already.
Outcome ThroughTemporary(const std::string& target, const struct stat* old,
                         const SaveProducer& produce, std::vector<uint8_t>& content, bool& produced,
                         int& err) {
    int fd = -1;
    std::string tmp;
    // A new file takes its permission bits from the umask (and the folder's
    // default ACL); a replacement gets the old file's bits before the rename.
    err = CreateTemporary(FolderOf(target), NameOf(target), old ? 0600 : 0666, fd, tmp);
    if (err) return old && (err == EACCES || err == EPERM) ? Outcome::InPlace : Outcome::Failed;
    if (old) {
        struct stat now {};
        if (::fstat(fd, &now) != 0 || ((now.st_uid != old->st_uid || now.st_gid != old->st_gid) &&
                                       ::fchown(fd, old->st_uid, old->st_gid) != 0)) {
            ::close(fd);
            ::unlink(tmp.c_str());
            return Outcome::InPlace;
        }
    }
    FILE* file = ::fdopen(fd, "w+b");
    if (!file) {
        err = errno;
        ::close(fd);
        ::unlink(tmp.c_str());
        return Outcome::Failed;
    }
    std::setvbuf(file, nullptr, _IOFBF, size_t(1) << 20);
    const bool ok = SaveSinkAccess::Produce(file, nullptr, produce, err);
    if (ok) {
        errno = 0;
        if (std::fflush(file) != 0 || std::ferror(file))
            err = errno ? errno : EIO;
        else if (::fsync(::fileno(file)) != 0)
            err = errno;
        else if (old && ::fchmod(::fileno(file), old->st_mode & 07777) != 0)
            err = errno;
    }
    if (!ok || err) {
        std::fclose(file);
        ::unlink(tmp.c_str());
        return err ? Outcome::Failed : Outcome::ProducerFailed;
    }
    if (::rename(tmp.c_str(), target.c_str()) == 0) {
        std::fclose(file);
        return Outcome::Done;
    }
    err = errno;
    // A sticky folder refuses to replace another user's file, a mount point
    // cannot be renamed over: the file itself can still take the content.
    const bool inPlace = old && (err == EPERM || err == EACCES || err == EBUSY || err == EXDEV) &&
                         ReadBack(::fileno(file), content) == 0;
    std::fclose(file);
    ::unlink(tmp.c_str());
    if (!inPlace) return Outcome::Failed;
    produced = true;
    return Outcome::InPlace;
}

} // namespace

bool SaveFileSafely(const std::string& path, const SaveProducer& produce, std::string* message) {
    if (message) message->clear();
    if (path.empty()) return Fail(message, path, path, ENOENT);
    std::string target;
    struct stat st {};
    bool exists = false;
    if (int err = ResolveLinks(path, target, st, exists)) return Fail(message, path, target, err);
    if (exists) {
        if (S_ISDIR(st.st_mode)) return Fail(message, path, target, EISDIR);
        if (!S_ISREG(st.st_mode)) return Fail(message, path, target, kNotRegularFile);
        if (int err = MayWrite(target, st, W_OK)) return Fail(message, path, target, err);
    }
    const std::string folder = FolderOf(target);
    struct stat folderStatus {};
    int folderErr = 0;
    if (::stat(folder.c_str(), &folderStatus) != 0)
        folderErr = errno;
    else if (!S_ISDIR(folderStatus.st_mode))
        folderErr = ENOTDIR;
    else
        folderErr = MayWrite(folder, folderStatus, W_OK | X_OK);
    if (!exists && folderErr) return Fail(message, path, target, folderErr);

    std::vector<uint8_t> content;
    bool produced = false;
    // Other hard links would keep the old content after a rename.
    if (!exists || (!folderErr && st.st_nlink == 1)) {
        int err = 0;
        switch (ThroughTemporary(target, exists ? &st : nullptr, produce, content, produced, err)) {
        case Outcome::Done:
            return true;
        case Outcome::Failed:
            return Fail(message, path, target, err);
        case Outcome::ProducerFailed:
            return false;
        case Outcome::InPlace:
            break;
        }
    }
    if (!produced) {
        int err = 0;
        if (!SaveSinkAccess::Produce(nullptr, &content, produce, err))
            return err ? Fail(message, path, target, err) : false;
    }
    if (int err = RewriteInPlace(target, content)) return Fail(message, path, target, err);
    return true;
}

bool SaveFileSafely(const std::string& path, const void* data, size_t size, std::string* message) {
    return SaveFileSafely(
        path, [&](SaveSink& sink) { return sink.Write(data, size); }, message);
}
