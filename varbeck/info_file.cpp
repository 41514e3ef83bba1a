// Reading of the information file and of the length a server announces.
#include "check.h"

#include "varbeck.h"

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace varbeck {

namespace {

// The number must read the same under every locale the program may have set
// (a German locale would stop "5.9" at the comma it expects).
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", locale_t(0));
    return c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

} // namespace

InfoFile ParseInfoFile(const char* data, size_t size) {
    InfoFile info;
    // Every line end becomes a zero byte, so that line 1 is a zero-terminated
    // text and the address is the first non-empty text after it. The extra
    // zero at the end terminates the last line.
    std::string text(data, size);
    for (char& c : text)
        if (c == '\r' || c == '\n') c = '\0';
    text.push_back('\0');

    if (const locale_t c = CLocale()) info.version = strtod_l(text.c_str(), nullptr, c);

    const size_t firstEnd = text.find('\0');
    if (firstEnd >= size) return info; // a single line: no address
    const size_t start = text.find_first_not_of('\0', firstEnd);
    if (start == std::string::npos || start >= size) return info;
    info.address.assign(text.c_str() + start);
    return info;
}

int32_t Judge(const InfoFile& info, float runningVersion) {
    // Versions compare as the 32-bit numbers the caller passes. Only a newer
    // one is announced: an older file (a stale mirror, a rolled-back server)
    // must not offer a downgrade as "New Version".
    const float offered = static_cast<float>(info.version);
    if (!(offered > runningVersion)) return VARBECK_UP_TO_DATE;
    if (info.address.empty()) return VARBECK_NO_ADDRESS;
    return 0;
}

int64_t ParseContentLength(std::string_view value) {
    while (!value.empty() &&
           (IsBlank(value.front()) || value.front() == '\r' || value.front() == '\n'))
        value.remove_prefix(1);
    while (!value.empty() &&
           (IsBlank(value.back()) || value.back() == '\r' || value.back() == '\n'))
        value.remove_suffix(1);
    if (value.size() > 15) return -1;
    size_t i = 0;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    int64_t n = 0; // 15 digits cannot overflow
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        n = n * 10 + (value[i] - '0');
    return negative ? -n : n;
}

} // namespace varbeck
