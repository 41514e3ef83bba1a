#pragma once
// The one way a file is saved: images, icons, configuration files, and
// libzembra's Save. It decides where the bytes go (through a symbolic link to
// the file it names, into a temporary file renamed over the target, or into the
// file itself), whether the save is allowed at all, and which permission bits,
// owner and group the saved file has.
//
// Self-contained on purpose: only the C++ standard library and POSIX, no other
// header of the program, because libzembra (which links nothing of the system
// or of the program) compiles this file too.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Where a producer writes the new content of a file: a temporary file beside
// the target or, when the file has to be rewritten in place, memory. It reads
// back and seeks as a file does (some encoders rewrite their headers).
class SaveSink {
public:
    SaveSink(const SaveSink&) = delete;
    SaveSink& operator=(const SaveSink&) = delete;

    // Writes size bytes at the current position; true when all were written.
    bool Write(const void* data, size_t size);
    // Reads up to size bytes at the current position; returns how many.
    size_t Read(void* data, size_t size);
    // As fseek; false for a position before the start or a failed seek.
    bool Seek(int64_t offset, int whence);
    int64_t Tell() const;
    // The first input or output error (an errno value), 0 while there is none.
    int Error() const { return error_; }

private:
    friend struct SaveSinkAccess;
    SaveSink() = default;

    FILE* file_ = nullptr;              // the temporary file, or
    std::vector<uint8_t>* memory_ = {}; // the content in memory
    size_t pos_ = 0;                    // position in memory_
    uint64_t written_ = 0;              // bytes handed to file_ so far
    uint64_t writebackStarted_ = 0;     // of those, bytes the kernel was asked to write back
    int error_ = 0;
};

// Produces the whole content into the sink; false when it cannot (a failure of
// the sink itself shows in sink.Error()).
using SaveProducer = std::function<bool(SaveSink&)>;

// Saves the content that `produce` writes as the file at `path`:
// - Symbolic links, chains of them included, are followed: the file they end
//   at gets the content and the links stay. A dangling link's target is created.
// - An existing file that the user may not write is refused, and so is one with
//   no write permission bit at all, even for the superuser, since someone marked
//   it read-only on purpose. A folder in the way, or a device, is refused too.
// - The content normally goes into a temporary file in the target's folder that
//   is flushed to disk and then renamed over the target with the old file's
//   permission bits, owner and group (a new file gets 0666 less the umask). A
//   failure at any point leaves an existing file as it was.
// - Where a rename would not keep the file what it was (its folder may not be
//   written, its owner or group cannot be given to a new file, it has further
//   hard links, or the rename is refused) the content is produced into memory
//   first and then written into the file itself; space is reserved before the
//   first byte changes, so that a full disk fails without damage.
// Returns false on failure. When the failure is the file system's (including a
// refusal), *message, when given, becomes "cannot write <path>: <reason>"; when
// only `produce` failed, *message is cleared so the caller can give its reason.
bool SaveFileSafely(const std::string& path, const SaveProducer& produce,
                    std::string* message = nullptr);
// The same for content that is already in memory.
bool SaveFileSafely(const std::string& path, const void* data, size_t size,
                    std::string* message = nullptr);
