#pragma once
// File helpers shared by the readers and writers of files. Saving a file goes
// through SaveFileSafely (app/safe_save.h).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reads the whole file. Returns false when it cannot be opened or read, or is
// larger than maxBytes.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out,
                   uint64_t maxBytes = uint64_t(1) << 32);

// Lower-cases ASCII letters (paths are compared by lower-cased extension).
std::string ToLowerAscii(std::string s);
// Whether a and b are equal when ASCII letters are compared without case (the
// keys and sections of the configuration and desktop files).
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);
// The last three characters of the lower-cased path ("png" for "a/B.PNG"):
// formats are chosen by them alone, so "x.jpeg" matches no format.
std::string ExtensionOf(const std::string& path);
