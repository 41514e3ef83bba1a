#include "devices/twain_utils.h"

#include "devices/twain_errors.h"

#include <cmath>
#include <filesystem>
#include <system_error>

const char* const kScanAreaTooSmall =
    "Could not get image because scan area width(height) too small !";

std::string CTwainUtils::ErrorText(int number) const {
    return TwainErrorText(number, m_lib.LastExtendedError());
}

void CTwainUtils::Check(int result) {
    if (result != 0) throw CTwainException(result, ErrorText(result));
}

std::vector<std::string> CTwainUtils::ListSources() {
    std::vector<std::string> names;
    Check(m_lib.ListSources(&names));
    return names;
}

void CTwainUtils::OpenSource(const std::string& name) {
    Check(m_lib.OpenSource(name));
}

void CTwainUtils::PrepareSource(const ScanOptionValues& options) {
    Check(m_lib.PrepareSource(options));
}

bool CTwainUtils::GetPhysicalSize(double* width, double* height) {
    bool known = false;
    Check(m_lib.GetPhysicalSize(&known, width, height));
    return known;
}

void CTwainUtils::AcquireArea(const ScanArea& area, ScanImage* image, ScanProgress* progress) {
    Check(m_lib.AcquireArea(area, image, progress));
}

void CTwainUtils::Acquire(ScanImage* image, ScanProgress* progress) {
    Check(m_lib.Acquire(image, progress));
}

void CTwainUtils::SaveBMP(const ScanImage& image, const std::string& path) {
    Check(CScanLibrary::SaveBMP(image, path));
}

void CTwainUtils::FreeImage(ScanImage* image) {
    Check(CScanLibrary::FreeImage(image));
}

bool CTwainUtils::Scan(ScanState& state, const std::string& destination, ScanProgress* progress) {
    try {
        OpenSource(state.source);
        PrepareSource(state.options);
        double width = 0, height = 0;
        const bool known = GetPhysicalSize(&width, &height);
        if (!state.areaSet && known) {
            state.area = ScanArea{0, 0, int(std::floor(width * 1000 + 0.5)),
                                  int(std::floor(height * 1000 + 0.5))};
            state.areaSet = true;
        }
        ScanImage image;
        if (state.areaSet)
            AcquireArea(state.area, &image, progress);
        else
            Acquire(&image, progress);
        if (image.width <= 0 || image.height <= 0) throw CTwainException(0, kScanAreaTooSmall);
        SaveBMP(image, destination);
        FreeImage(&image);
    } catch (const CTwainException& e) {
        if (e.Number() == twain_error::kUserCanceled) return true;
        throw;
    }
    return false;
}

std::string ScanFileName(const ScanState& state, const std::string& folder) {
    return (std::filesystem::path(folder) / ("tmpImg" + std::to_string(state.counter) + ".bmp"))
        .string();
}

ScanNowResult ScanNow(ScanState& state, const std::string& folder, BMP_File& image,
                      std::string* message, ScanProgress* progress) {
    const std::string file = ScanFileName(state, folder);
    std::error_code ec;
    try {
        CScanLibrary library;
        CTwainUtils twain(library);
        if (twain.Scan(state, file, progress)) {
            std::filesystem::remove(file, ec);
            return ScanNowResult::Cancelled;
        }
    } catch (const CTwainException& e) {
        std::filesystem::remove(file, ec);
        if (message) *message = e.what();
        return ScanNowResult::Failed;
    }
    ++state.counter;
    return LoadScanFile(file, image, message) ? ScanNowResult::Done : ScanNowResult::Failed;
}

bool LoadScanFile(const std::string& file, BMP_File& image, std::string* message) {
    BMP_File loaded;
    const bool read = loaded.LoadBMP(file);
    std::error_code ec;
    std::filesystem::remove(file, ec);
    if (!read) {
        // A page the scanner delivered but that cannot be read back is a
        // failure the user must hear of, not a scan that quietly did nothing.
        if (message) *message = "The scanned page could not be read back from " + file + ".";
        return false;
    }
    image = std::move(loaded);
    return true;
}
