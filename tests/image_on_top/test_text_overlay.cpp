// The text overlay's core: the format list, date and time composition, and the
// region copies that carry the stamp between an image and a 32-bit buffer.

#include "imageops/text_overlay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Index of a format by the start of its label.
int FormatIndex(const std::string& country) {
    const auto formats = DateTimeFormats();
    for (size_t i = 0; i < formats.size(); ++i)
        if (std::string(formats[i].label).rfind(country + " ", 0) == 0) return int(i);
    ADD_FAILURE() << "no format for " << country;
    return 0;
}

DateTimeValue At(int day, int month, int year, int hour, int minute) {
    DateTimeValue v;
    v.day = day;
    v.month = month;
    v.year = year;
    v.hour = hour;
    v.minute = minute;
    return v;
}

} // namespace

TEST(DateFormats, ListAndMonthNames) {
    const auto formats = DateTimeFormats();
    ASSERT_EQ(formats.size(), 25u);
    EXPECT_STREQ(formats[0].label, "Belgium DD/MM/YYYY HH:MI");
    EXPECT_STREQ(formats[2].label, "Canada (France.) YYYY-MM-DD HH:MI");
    EXPECT_STREQ(formats[10].label, "International english DD-MM-YYYY HH:MI");
    EXPECT_STREQ(formats[18].label, "Serbia/Yugoslavia DD.MM.YYYY HH.MI");
    EXPECT_STREQ(formats[23].label, "Switzerland DD.MM.YYYY HH,MI");
    EXPECT_STREQ(formats[24].label, "USA MM-DD-YYYY HH:MI");
    // Each label ends with its time pattern written with "MI" for the minutes.
    for (const DateTimeFormat& f : formats) {
        std::string time = f.time;
        time.replace(time.size() - 2, 2, "MI");
        const std::string label = f.label;
        EXPECT_EQ(label.substr(label.size() - time.size()), time) << label;
    }
    const auto months = MonthNames();
    ASSERT_EQ(months.size(), 12u);
    EXPECT_STREQ(months[0], "January");
    EXPECT_STREQ(months[2], "March");
    EXPECT_STREQ(months[8], "September");
    EXPECT_STREQ(months[11], "December");
    EXPECT_EQ(LastListedYear(2026), 2100);
    EXPECT_EQ(LastListedYear(2150), 2150);
}

TEST(DateComposition, DaysMonthsAndYears) {
    const DateTimeValue v = At(5, 3, 2007, 9, 4);
    // Day 5 is written 05, month 3 is 03 in the two-digit formats.
    EXPECT_EQ(ComposeDateTime(FormatIndex("Germany"), v, true, false, false), "05.03.2007");
    EXPECT_EQ(ComposeDateTime(FormatIndex("Poland"), v, true, false, false), "2007-03-05");
    EXPECT_EQ(ComposeDateTime(FormatIndex("Belgium"), v, true, false, false), "05/03/2007");
    // The USA format writes the month without a leading zero.
    EXPECT_EQ(ComposeDateTime(FormatIndex("USA"), v, true, false, false), "3-05-2007");
    EXPECT_EQ(ComposeDateTime(FormatIndex("USA"), At(25, 12, 1999, 0, 0), true, false, false),
              "12-25-1999");
    // Two-digit forms and the forms without leading zeros.
    EXPECT_EQ(ComposeDate("YY|D|M|DD|MM", v), "07|5|3|05|03");
    EXPECT_EQ(ComposeDate("D.M.YY", At(31, 12, 1900, 0, 0)), "31.12.00");
    EXPECT_EQ(ComposeDate("[DD] x/y", v), "[05] x/y") << "other characters are copied";
}

TEST(DateComposition, TimesAndAmPm) {
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 9, 4), false), "09:04");
    EXPECT_EQ(ComposeTime("HH.MM", At(1, 1, 2000, 23, 59), false), "23.59");
    EXPECT_EQ(ComposeTime("HH,MM", At(1, 1, 2000, 0, 0), false), "00,00");
    // 12-hour numbering with AM/PM.
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 0, 5), true), "12:05 AM");
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 11, 59), true), "11:59 AM");
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 12, 0), true), "12:00 PM");
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 13, 30), true), "01:30 PM");
    EXPECT_EQ(ComposeTime("HH:MM", At(1, 1, 2000, 23, 1), true), "11:01 PM");
}

TEST(DateComposition, LabelCombinesDateAndTime) {
    const DateTimeValue v = At(5, 3, 2007, 14, 7);
    const int fin = FormatIndex("Finland");
    EXPECT_EQ(ComposeDateTime(fin, v, true, true, false), "2007-03-05 14.07");
    EXPECT_EQ(ComposeDateTime(fin, v, false, true, true), "02.07 PM");
    EXPECT_EQ(ComposeDateTime(fin, v, true, true, true), "2007-03-05 02.07 PM");
    EXPECT_EQ(ComposeDateTime(fin, v, false, false, true), "");
    EXPECT_EQ(ComposeDateTime(FormatIndex("Switzerland"), v, false, true, false), "14,07");
    EXPECT_EQ(ComposeDateTime(99, v, true, false, false), "05/03/2007") << "first format";
}

TEST(StampRegion, ReadsWithBlackOutsideAndWritesOnlyInside) {
    BMP_File img;
    img.Create(4, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) img.Pixel(x, y) = CColor24(uint8_t(10 * x), uint8_t(y), 99);

    // A 3 x 2 rectangle hanging over the right edge, rows padded to 16 bytes.
    const IntRect r{2, 1, 5, 3};
    const size_t stride = 16;
    std::vector<uint8_t> buf(stride * 2, 0xAB);
    ASSERT_TRUE(ReadRegionBGRA(img, r, buf.data(), stride));
    const std::vector<uint8_t> row1 = {99, 1, 20, 255, 99, 1, 30, 255, 0, 0, 0, 255};
    EXPECT_EQ(std::vector<uint8_t>(buf.begin(), buf.begin() + 12), row1);
    EXPECT_EQ(buf[12], 0xAB) << "padding untouched";
    EXPECT_EQ(buf[stride + 0], 99);
    EXPECT_EQ(buf[stride + 1], 2);
    EXPECT_EQ(buf[stride + 2], 20);

    // Write back a changed buffer: the two inside columns change, the column
    // outside lands nowhere (not even in the spare pixel).
    for (size_t j = 0; j < 2; ++j)
        for (size_t i = 0; i < 3; ++i) {
            uint8_t* p = &buf[j * stride + i * 4];
            p[0] = 1, p[1] = 2, p[2] = uint8_t(200 + i), p[3] = 0;
        }
    const BMP_File before = img;
    ASSERT_TRUE(WriteRegionBGRA(img, r, buf.data(), stride));
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const CColor24 want =
                (y >= 1 && x >= 2) ? CColor24(uint8_t(200 + x - 2), 2, 1) : before.Pixel(x, y);
            EXPECT_EQ(img.Pixel(x, y), want) << x << "," << y;
        }
    EXPECT_EQ(img.SparePixel(), CColor24());

    // Empty rectangles and short rows are refused without touching anything.
    EXPECT_FALSE(ReadRegionBGRA(img, IntRect{1, 1, 1, 3}, buf.data(), stride));
    EXPECT_FALSE(WriteRegionBGRA(img, IntRect{0, 0, 5, 1}, buf.data(), 16));
    // An empty image (no noise-reduced copy) takes nothing and reads as black.
    BMP_File none;
    EXPECT_TRUE(WriteRegionBGRA(none, r, buf.data(), stride));
    EXPECT_TRUE(none.Empty());
    ASSERT_TRUE(ReadRegionBGRA(none, IntRect{0, 0, 1, 1}, buf.data(), stride));
    EXPECT_EQ(buf[0] | buf[1] | buf[2], 0);
}
