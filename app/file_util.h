#pragma once
// File helpers shared by every writer: a save never leaves a half-written or
// truncated target behind.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Reads the whole file. Returns false when it cannot be opened or read, or is
// larger than maxBytes.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out,
                   uint64_t maxBytes = uint64_t(1) << 32);

// Writes data to a temporary file in the target's folder, flushes it and renames
// it over the target. On any failure the temporary file is removed and the
// target is untouched.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> data);

// A temporary path in the same folder as `path` (so that rename is atomic).
std::string TemporaryPathBeside(const std::string& path);
// Renames tmp over target; removes tmp when that fails.
bool CommitTemporary(const std::string& tmp, const std::string& target);

// Lower-cases ASCII letters (paths are compared by lower-cased extension).
std::string ToLowerAscii(std::string s);
// The last three characters of the lower-cased path ("png" for "a/B.PNG"):
// formats are chosen by them alone, so "x.jpeg" matches no format.
std::string ExtensionOf(const std::string& path);
