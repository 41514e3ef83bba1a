// The information file and the announced length, read directly.

#include "check.h"
#include "varbeck.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

using varbeck::InfoFile;

InfoFile Parse(const std::string& bytes) {
    return varbeck::ParseInfoFile(bytes.data(), bytes.size());
}

TEST(InfoFile, VersionIsTheLeadingNumberOfLineOne) {
    EXPECT_DOUBLE_EQ(Parse("5.9\r\nx").version, 5.9);
    EXPECT_DOUBLE_EQ(Parse("6").version, 6);
    EXPECT_DOUBLE_EQ(Parse("6.0 beta\nx").version, 6);
    EXPECT_DOUBLE_EQ(Parse(" \t+7.25rc1").version, 7.25);
    EXPECT_DOUBLE_EQ(Parse("1e1\n").version, 10);
    EXPECT_DOUBLE_EQ(Parse("beta 6").version, 0);
    EXPECT_DOUBLE_EQ(Parse("").version, 0);
    // The number ends with its line: line 2 is not read on.
    EXPECT_DOUBLE_EQ(Parse("\n7\nx").version, 0);
    EXPECT_DOUBLE_EQ(Parse(std::string("5\0.9", 4)).version, 5);
}

// Makes a German locale (decimal comma) in a folder of its own and points the
// C library at it; false when this machine has no locale sources.
bool MakeGermanLocale(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const std::string cmd =
        "localedef -i de_DE -f UTF-8 '" + (dir / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) != 0) return false;
    ::setenv("LOCPATH", dir.c_str(), 1);
    return true;
}

TEST(InfoFile, VersionIgnoresTheProgramsLocale) {
    // A desktop program runs in the user's locale; "5.9" must still be five
    // point nine and not five (a decimal-comma locale stops at the dot).
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("varbeck-locale-" + std::to_string(::getpid()));
    if (!MakeGermanLocale(dir) || !std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
        std::filesystem::remove_all(dir);
        GTEST_SKIP() << "no locale with a decimal comma can be made here";
    }
    ASSERT_DOUBLE_EQ(std::strtod("5,9", nullptr), 5.9) << "the locale is in force";
    const double version = Parse("5.9\n").version;
    const double comma = Parse("5,9\n").version;
    std::setlocale(LC_NUMERIC, "C");
    ::unsetenv("LOCPATH");
    std::filesystem::remove_all(dir);
    EXPECT_DOUBLE_EQ(version, 5.9);
    EXPECT_DOUBLE_EQ(comma, 5);
}

TEST(InfoFile, AddressIsTheFirstNonEmptyLineAfterLineOne) {
    EXPECT_EQ(Parse("6\r\nhttp://a/b\r\n").address, "http://a/b");
    EXPECT_EQ(Parse("6\n\n\r\n\rhttp://a/b\nhttp://c/d").address, "http://a/b");
    EXPECT_EQ(Parse("6\nhttp://a/b").address, "http://a/b") << "no line end at the end";
    EXPECT_EQ(Parse("\nhttp://a/b").address, "http://a/b") << "empty line 1";
    EXPECT_EQ(Parse("6\n  spaced  \n").address, "  spaced  ");
    EXPECT_EQ(Parse(std::string("6\0\0http://a\0b", 13)).address, "http://a");
    EXPECT_EQ(Parse("6").address, "");
    EXPECT_EQ(Parse("6\r\n").address, "");
    EXPECT_EQ(Parse("6\r\n\r\n\n").address, "");
    EXPECT_EQ(Parse(std::string("6\r\n\0\0", 5)).address, "");
    EXPECT_EQ(Parse("").address, "");
}

TEST(InfoFile, OnlyANewerVersionWithAnAddressIsOffered) {
    InfoFile info;
    info.address = "http://a/b";
    info.version = 5.9;
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_UP_TO_DATE);
    info.version = 5.8;
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_UP_TO_DATE);
    info.version = 6;
    EXPECT_EQ(varbeck::Judge(info, 5.9f), 0);
    // The comparison is between 32-bit numbers: a double just above 5.9f that
    // rounds to it is the same version.
    info.version = double(5.9f) + 1e-9;
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_UP_TO_DATE);
    info.version = double(std::nextafter(5.9f, 6.0f));
    EXPECT_EQ(varbeck::Judge(info, 5.9f), 0);
    info.version = std::nan("");
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_UP_TO_DATE);
    info.version = 1e300; // beyond float: infinity, newer than anything finite
    EXPECT_EQ(varbeck::Judge(info, 5.9f), 0);
    info.address.clear();
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_NO_ADDRESS);
    info.version = 5;
    EXPECT_EQ(varbeck::Judge(info, 5.9f), VARBECK_UP_TO_DATE);
}

TEST(ContentLength, ReadLikeANumberOfAtMostFifteenCharacters) {
    EXPECT_EQ(varbeck::ParseContentLength(" 123\r\n"), 123);
    EXPECT_EQ(varbeck::ParseContentLength("\t42 "), 42);
    EXPECT_EQ(varbeck::ParseContentLength("+7"), 7);
    EXPECT_EQ(varbeck::ParseContentLength("-7"), -7);
    EXPECT_EQ(varbeck::ParseContentLength("12abc"), 12);
    EXPECT_EQ(varbeck::ParseContentLength("abc"), 0);
    EXPECT_EQ(varbeck::ParseContentLength(""), 0);
    EXPECT_EQ(varbeck::ParseContentLength("2147483648"), 2147483648LL);
    EXPECT_EQ(varbeck::ParseContentLength("999999999999999"), 999999999999999LL);
    EXPECT_EQ(varbeck::ParseContentLength("  999999999999999  \r\n"), 999999999999999LL);
    EXPECT_EQ(varbeck::ParseContentLength("1000000000000000"), -1);
    EXPECT_EQ(varbeck::ParseContentLength("0000000000000001"), -1);
}

} // namespace
