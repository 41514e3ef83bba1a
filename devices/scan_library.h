#pragma once
// The operations the scanning dialogs ask of a scanner stack, over SANE: the
// sources by name, open, prepare, the physical page size, acquisition with or
// without an area, saving as BMP, freeing, and the last extended error. Each
// returns 0 or a negative error number of twain_errors.h.
//
// One CScanLibrary drives at most one open source. SANE itself is started with
// the first instance of the process and stopped with the last, so instances on
// different threads may coexist; one instance is used by one thread at a time.

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The picture one acquisition brings: red, green, blue per pixel, top row
// first, rows packed. Width or height 0 when the area held no pixel.
struct ScanImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Shared between an acquisition on a worker thread and the window that shows
// its progress.
struct ScanProgress {
    std::atomic<int> linesRead{0};
    std::atomic<int> linesTotal{0}; // -1 while the device does not know
    std::atomic<bool> cancel{false};
};

// A scan area in thousandths of the source's unit (millimetres for most
// scanners), measured from the top-left corner of the page.
struct ScanArea {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const ScanArea&, const ScanArea&) = default;
};

// Option values the user chose for a source, in the order chosen (a later one
// may depend on an earlier one, as resolutions on the mode); each is applied
// again whenever the source is opened.
using ScanOptionValues = std::vector<std::pair<std::string, std::string>>;

// One device option, as the settings dialog shows it.
struct ScanOption {
    enum Kind { Bool, Int, Fixed, String, Button, Group };
    enum Limit { None, Range, WordList, StringList };
    std::string name, title, description, unit;
    Kind kind = Int;
    Limit limit = None;
    int count = 1;         // values in the option (arrays show only the first)
    bool active = true;    // the device uses it in the present mode
    bool settable = false; // software may set it
    bool automatic = false;
    double min = 0, max = 0, quant = 0;
    std::vector<double> words;
    std::vector<std::string> strings;
    double number = 0; // Bool, Int, Fixed: the first value
    std::string text;  // String
};

class CScanLibrary {
public:
    CScanLibrary();
    ~CScanLibrary();
    CScanLibrary(const CScanLibrary&) = delete;
    CScanLibrary& operator=(const CScanLibrary&) = delete;

    // 1. The names of the sources, in the order the stack lists them.
    int ListSources(std::vector<std::string>* names);
    // 2. Opens the source of that name (closing any other this one held).
    int OpenSource(const std::string& name);
    // 3. Readies the open source for a transfer: the remembered option values
    //    are set again. Values the device no longer offers are skipped.
    int PrepareSource(const ScanOptionValues& options = {});
    // 4. Whether the page size is known, and its width and height in the
    //    source's unit (delivered in thousandths, converted by dividing by 1000).
    int GetPhysicalSize(bool* known, double* width, double* height);
    // 5. One picture of the area. A cancel request in `progress` ends it with
    //    the user-cancelled error.
    int AcquireArea(const ScanArea& area, ScanImage* image, ScanProgress* progress = nullptr);
    // 6. One picture with the source's own area.
    int Acquire(ScanImage* image, ScanProgress* progress = nullptr);
    // 7. Writes the picture as a 24-bit BMP file.
    static int SaveBMP(const ScanImage& image, const std::string& path);
    // 8. Releases the picture's memory.
    static int FreeImage(ScanImage* image);
    // 9. The extended error number of the last failure.
    int LastExtendedError() const { return m_extended; }

    // The open source's options, and setting one by its value in text ("1" or
    // "0" for flags, decimal numbers, strings as they are). *reload tells that
    // other options changed with it.
    int ListOptions(std::vector<ScanOption>* options);
    int SetOption(const std::string& name, const std::string& value, bool* reload = nullptr);
    bool IsOpen() const { return m_handle != nullptr; }

private:
    int Fail(int status);
    int Read(ScanImage* image, ScanProgress* progress);
    void Close();

    void* m_handle = nullptr; // SANE_Handle
    bool m_started = false;
    int m_extended = 0;
};
