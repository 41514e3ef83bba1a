#pragma once
// CTwainUtils: the scanning operations with failures raised as message
// exceptions, and the scan that "Scan Now..." runs. The scan state (the chosen
// source, the scan area and the temporary file counter) belongs to the main
// window and lives for the run.

#include "app/bmp_file.h"
#include "devices/scan_library.h"

#include <stdexcept>
#include <string>
#include <vector>

// A scanning failure: its text is what the user reads, under "Scan Error".
class CTwainException : public std::runtime_error {
public:
    CTwainException(int number, const std::string& text)
        : std::runtime_error(text), m_number(number) {}
    int Number() const { return m_number; }

private:
    int m_number;
};

// "Could not get image because scan area width(height) too small !"
extern const char* const kScanAreaTooSmall;

struct ScanState {
    std::string source;       // the chosen source's name; empty: none
    ScanArea area;            // thousandths of the source's unit
    bool areaSet = false;     // lives for the run only
    unsigned counter = 0;     // temporary files made so far
    ScanOptionValues options; // what "TWAIN Settings..." set for the source
};

class CTwainUtils {
public:
    explicit CTwainUtils(CScanLibrary& library) : m_lib(library) {}

    // Each one calls one operation of the library and raises its failure.
    std::vector<std::string> ListSources();
    void OpenSource(const std::string& name);
    void PrepareSource(const ScanOptionValues& options);
    bool GetPhysicalSize(double* width, double* height); // whether it is known
    void AcquireArea(const ScanArea& area, ScanImage* image, ScanProgress* progress);
    void Acquire(ScanImage* image, ScanProgress* progress);
    void SaveBMP(const ScanImage& image, const std::string& path);
    void FreeImage(ScanImage* image);

    // Scans one page of the state's source into a BMP file at `destination`.
    // The first scan of a source that knows its page size covers the whole
    // page and sets the state's area; later scans reuse it. Returns true when
    // the user cancelled (nothing written); any other failure is raised.
    bool Scan(ScanState& state, const std::string& destination, ScanProgress* progress = nullptr);

    // The text for an error number (for -57, the last extended error's).
    std::string ErrorText(int number) const;

private:
    void Check(int result);
    CScanLibrary& m_lib;
};

// "Scan Now..." without its window: scans into "tmpImg<counter>.bmp" inside
// `folder`, counts the file, loads it into `image` and removes it.
enum class ScanNowResult { Done, Cancelled, Failed };
ScanNowResult ScanNow(ScanState& state, const std::string& folder, BMP_File& image,
                      std::string* message, ScanProgress* progress = nullptr);
// Loads a scanned BMP file into `image` and removes the file; a file that
// cannot be read is reported in `message` and leaves `image` unchanged.
bool LoadScanFile(const std::string& file, BMP_File& image, std::string* message);
// The temporary file name of the state's next scan inside `folder`.
std::string ScanFileName(const ScanState& state, const std::string& folder);
