#pragma once
// The text overlay ("Add text"): the date and time formats the user picks from,
// the composition of the date/time text, and the pixel copies the dialog uses
// to stamp rendered text into the images.
//
// Stamping works on a 32-bit buffer of blue, green, red, alpha bytes per pixel
// (a QImage in Format_RGB32 on little-endian machines, the layout the screen
// uses too): the stamp rectangle of an image is read into such a buffer, the
// text is drawn over it, and the buffer is written back. Pixels of the
// rectangle outside the image are read as opaque black and skipped on writing.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// One entry of the format list: its label and its date and time patterns.
// Date patterns know "YYYY" (four-digit year), "YY" (year modulo 100, two
// digits), "MM" (month, two digits), "M" (month without a leading zero), "DD"
// (day, two digits) and "D" (day without a leading zero); time patterns know
// "HH" (hour, two digits) and "MM" (minute, two digits). Every other character
// is copied as it is.
struct DateTimeFormat {
    const char* label;
    const char* date;
    const char* time;
};

// The 25 entries of the format list, in list order.
std::span<const DateTimeFormat> DateTimeFormats();

// "January" ... "December".
std::span<const char* const> MonthNames();

// The first year of the year list; a year's index in the list is year - this.
inline constexpr int kFirstListedYear = 1900;
// The last year of the year list: 2100, or the current year if that is later.
int LastListedYear(int currentYear);

struct DateTimeValue {
    int day = 1;   // 1..31
    int month = 1; // 1..12
    int year = 2000;
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
};

// The date written with a date pattern.
std::string ComposeDate(std::string_view pattern, const DateTimeValue& v);

// The time written with a time pattern. Without AM/PM the hour is the 24-hour
// hour 00..23. With AM/PM it is the 12-hour clock hour (00:xx is "12:xx AM",
// 12:xx is "12:xx PM", 13:xx is "01:xx PM"), followed by " AM" for hours 0 to
// 11 and " PM" for 12 to 23: a 12-hour suffix after a 24-hour hour ("13:00 PM")
// would say the same thing twice.
std::string ComposeTime(std::string_view pattern, const DateTimeValue& v, bool amPm);

// The text of the date/time label: the date of entry `formatIndex` when
// withDate is set, its time when withTime is set, both separated by one space,
// or an empty text when neither is. An index outside the list counts as 0.
std::string ComposeDateTime(int formatIndex, const DateTimeValue& v, bool withDate, bool withTime,
                            bool amPm);

// Copies the pixels of `rect` (image coordinates) into a buffer of
// rect.Width() x rect.Height() pixels of blue, green, red, 255, `stride` bytes
// per row. Returns false (and writes nothing) for an empty rectangle or a
// stride shorter than a row.
bool ReadRegionBGRA(const BMP_File& src, const IntRect& rect, uint8_t* dst, size_t stride);

// Writes such a buffer back into the image at rect's position: red from byte 2,
// green from byte 1, blue from byte 0, the fourth byte ignored; pixels outside
// the image are skipped. Returns false (and writes nothing) for an empty
// rectangle or a stride shorter than a row.
bool WriteRegionBGRA(BMP_File& dst, const IntRect& rect, const uint8_t* src, size_t stride);
