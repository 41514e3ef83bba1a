// The parts of a check, kept apart from the exports so that the tests and the
// fuzz target reach the parsers and the fetch directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varbeck {

// What the information file says.
struct InfoFile {
    double version = 0;  // the leading number of line 1, 0 when there is none
    std::string address; // line 2, empty when there is none
};

// Reads the two lines. Any bytes are accepted: CR and LF end lines, a zero byte
// ends a line too, and whatever follows the address is ignored.
InfoFile ParseInfoFile(const char* data, size_t size);

// The outcome (a VARBECK_* value) for a file read by a program of the given
// version, before anyone is asked: VARBECK_UP_TO_DATE, VARBECK_NO_ADDRESS, or
// 0 when the user is to be asked.
int32_t Judge(const InfoFile& info, float runningVersion);

// The value of a "Content-Length" header as a number of bytes, read the way a
// program reads at most 15 characters of it: leading and trailing blanks are
// dropped, then digits after an optional sign are read up to the first
// non-digit, so "12abc" is 12 and "abc" is 0. A value of more than 15
// characters gives -1.
int64_t ParseContentLength(std::string_view value);

// Fetches the file at address into body. Returns 0 on success, otherwise the
// VARBECK_* outcome that ends the check. Never throws; never allocates more
// than VARBECK_MAX_FILE_SIZE bytes for the body.
int32_t Fetch(const std::string& address, int32_t timeLimitMs, std::string& body);

} // namespace varbeck
