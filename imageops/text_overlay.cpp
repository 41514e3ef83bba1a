#include "imageops/text_overlay.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace {

constexpr DateTimeFormat kFormats[] = {
    {"Belgium DD/MM/YYYY HH:MI", "DD/MM/YYYY", "HH:MM"},
    {"Brazil DD/MM/YYYY HH:MI", "DD/MM/YYYY", "HH:MM"},
    {"Canada (France.) YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"Czechia YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"Denmark DD-MM-YYYY HH.MI", "DD-MM-YYYY", "HH.MM"},
    {"Finland YYYY-MM-DD HH.MI", "YYYY-MM-DD", "HH.MM"},
    {"France DD.MM.YYYY HH:MI", "DD.MM.YYYY", "HH:MM"},
    {"Germany DD.MM.YYYY HH:MI", "DD.MM.YYYY", "HH:MM"},
    {"Great Britain DD/MM/YYYY HH:MI", "DD/MM/YYYY", "HH:MM"},
    {"Hungary YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"International english DD-MM-YYYY HH:MI", "DD-MM-YYYY", "HH:MM"},
    {"Italy DD/MM/YYYY HH.MI", "DD/MM/YYYY", "HH.MM"},
    {"Latin America DD/MM/YYYY HH:MI", "DD/MM/YYYY", "HH:MM"},
    {"Netherlands DD-MM-YYYY HH:MI", "DD-MM-YYYY", "HH:MM"},
    {"Norway DD.MM.YYYY HH:MI", "DD.MM.YYYY", "HH:MM"},
    {"Poland YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"Portugal DD-MM-YYYY HH:MI", "DD-MM-YYYY", "HH:MM"},
    {"Russia DD.MM.YYYY HH:MI", "DD.MM.YYYY", "HH:MM"},
    {"Serbia/Yugoslavia DD.MM.YYYY HH.MI", "DD.MM.YYYY", "HH.MM"},
    {"Slovakia YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"Slovenia YYYY-MM-DD HH:MI", "YYYY-MM-DD", "HH:MM"},
    {"Spain DD/MM/YYYY HH:MI", "DD/MM/YYYY", "HH:MM"},
    {"Sweden YYYY-MM-DD HH.MI", "YYYY-MM-DD", "HH.MM"},
    {"Switzerland DD.MM.YYYY HH,MI", "DD.MM.YYYY", "HH,MM"},
    // The USA writes the month without a leading zero.
    {"USA MM-DD-YYYY HH:MI", "M-DD-YYYY", "HH:MM"},
};
static_assert(std::size(kFormats) == 25);

constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// A number with at least `digits` digits (leading zeros); negative values
// keep their sign in front of the zeros.
std::string Number(int v, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", digits, v);
    return buf;
}

bool StartsWith(std::string_view s, size_t at, std::string_view token) {
    return s.substr(at, token.size()) == token;
}

} // namespace

std::span<const DateTimeFormat> DateTimeFormats() {
    return kFormats;
}

std::span<const char* const> MonthNames() {
    return kMonths;
}

int LastListedYear(int currentYear) {
    return std::max(2100, currentYear);
}

std::string ComposeDate(std::string_view pattern, const DateTimeValue& v) {
    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        if (StartsWith(pattern, i, "YYYY")) {
            out += Number(v.year, 4);
            i += 4;
        } else if (StartsWith(pattern, i, "YY")) {
            // Modulo keeps the sign in C++; a year before 0 is not on the list
            // anyway, but the text stays two digits.
            out += Number(((v.year % 100) + 100) % 100, 2);
            i += 2;
        } else if (StartsWith(pattern, i, "MM")) {
            out += Number(v.month, 2);
            i += 2;
        } else if (pattern[i] == 'M') {
            out += Number(v.month, 1);
            i += 1;
        } else if (StartsWith(pattern, i, "DD")) {
            out += Number(v.day, 2);
            i += 2;
        } else if (pattern[i] == 'D') {
            out += Number(v.day, 1);
            i += 1;
        } else {
            out += pattern[i++];
        }
    }
    return out;
}

std::string ComposeTime(std::string_view pattern, const DateTimeValue& v, bool amPm) {
    int hour = v.hour;
    if (amPm) {
        hour %= 12;
        if (hour == 0) hour = 12;
    }
    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        if (StartsWith(pattern, i, "HH")) {
            out += Number(hour, 2);
            i += 2;
        } else if (StartsWith(pattern, i, "MM")) {
            out += Number(v.minute, 2);
            i += 2;
        } else {
            out += pattern[i++];
        }
    }
    if (amPm) out += v.hour < 12 ? " AM" : " PM";
    return out;
}

std::string ComposeDateTime(int formatIndex, const DateTimeValue& v, bool withDate, bool withTime,
                            bool amPm) {
    if (formatIndex < 0 || size_t(formatIndex) >= std::size(kFormats)) formatIndex = 0;
    const DateTimeFormat& f = kFormats[formatIndex];
    std::string out;
    if (withDate) out = ComposeDate(f.date, v);
    if (withTime) {
        if (!out.empty()) out += ' ';
        out += ComposeTime(f.time, v, amPm);
    }
    return out;
}

bool ReadRegionBGRA(const BMP_File& src, const IntRect& rect, uint8_t* dst, size_t stride) {
    const int64_t w = int64_t(rect.right) - rect.left, h = int64_t(rect.bottom) - rect.top;
    if (!dst || w <= 0 || h <= 0 || stride < size_t(w) * 4) return false;
    for (int64_t j = 0; j < h; ++j) {
        uint8_t* d = dst + size_t(j) * stride;
        const int64_t y = rect.top + j;
        const bool rowInside = y >= 0 && y < src.Height();
        for (int64_t i = 0; i < w; ++i, d += 4) {
            const int64_t x = rect.left + i;
            if (rowInside && x >= 0 && x < src.Width()) {
                const CColor24 p = src.Row(int(y))[x];
                d[0] = p.b;
                d[1] = p.g;
                d[2] = p.r;
            } else {
                d[0] = d[1] = d[2] = 0;
            }
            d[3] = 255;
        }
    }
    return true;
}

bool WriteRegionBGRA(BMP_File& dst, const IntRect& rect, const uint8_t* src, size_t stride) {
    const int64_t w = int64_t(rect.right) - rect.left, h = int64_t(rect.bottom) - rect.top;
    if (!src || w <= 0 || h <= 0 || stride < size_t(w) * 4) return false;
    // Only the part of the rectangle inside the image is visited.
    const int64_t i0 = std::max<int64_t>(0, -int64_t(rect.left));
    const int64_t i1 = std::min<int64_t>(w, int64_t(dst.Width()) - rect.left);
    const int64_t j0 = std::max<int64_t>(0, -int64_t(rect.top));
    const int64_t j1 = std::min<int64_t>(h, int64_t(dst.Height()) - rect.top);
    for (int64_t j = j0; j < j1; ++j) {
        const uint8_t* s = src + size_t(j) * stride + size_t(i0) * 4;
        CColor24* d = dst.Row(int(rect.top + j)) + (rect.left + i0);
        for (int64_t i = i0; i < i1; ++i, s += 4) *d++ = CColor24(s[2], s[1], s[0]);
    }
    return true;
}
