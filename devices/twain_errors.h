#pragma once
// The error numbers of the scanning layer and their texts. Every scanning
// operation returns 0 or one of these negative numbers; the texts are what the
// user reads in the "Scan Error" box.

#include <string>

namespace twain_error {
constexpr int kNoError = 0;
constexpr int kDiskFull = -3;
constexpr int kVariableOutOfRange = -5;
constexpr int kCannotCreateFile = -10;
constexpr int kNoMemory = -14;
constexpr int kScannerError = -19;
constexpr int kBitsPerPixelNotSupported = -26;
constexpr int kUnreadableBmp = -27;
constexpr int kNoData = -33;
constexpr int kPaperNotUnloaded = -45;
constexpr int kAdfLidOpened = -46;
constexpr int kFunctionNotAvailable = -50;
constexpr int kNoSourceManager = -55;
constexpr int kNoDataSource = -56;
constexpr int kExtendedError = -57; // the text is the extended error's
constexpr int kUserCanceled = -60;
constexpr int kTwainBusy = -61;
constexpr int kTwainAdfEmpty = -66;
constexpr int kTooLarge = -73;

// Extended (TWAIN condition) numbers behind kExtendedError.
constexpr int kCondFailure = 1;
constexpr int kCondLowMemory = 2;
constexpr int kCondNoSource = 3;
constexpr int kCondSourceBusy = 4;
constexpr int kCondBadValue = 10;
} // namespace twain_error

// The text of an error number; "<Undefined error number N>" for numbers that
// have none. For kExtendedError the text is that of `extended`.
std::string TwainErrorText(int number, int extended = 0);
// The text of an extended error number; "<Undefined extended error number N>"
// for unknown ones.
std::string TwainExtendedErrorText(int extended);
