#include "devices/twain_errors.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace {

const std::pair<int, const char*> kErrors[] = {
    {0, "No error"},
    {-1, "Range error"},
    {-2, "Digitizer board not detected"},
    {-3, "Disk full, file not written"},
    {-4, "Filename not found"},
    {-5, "Variable out of range"},
    {-6, "Unreadable TIFF format"},
    {-8, "TIFF bits per sample not supported"},
    {-9, "Unreadable compression scheme"},
    {-10, "Cannot create file"},
    {-11, "Unknown file format"},
    {-12, "Image is compressed DIB"},
    {-14, "Insufficient memory for function"},
    {-16, "Unreadable PCX format"},
    {-17, "Unreadable GIF format"},
    {-18, "Print error"},
    {-19, "Scanner error"},
    {-25, "Unreadable TGA format"},
    {-26, "Bits per pixel not supported"},
    {-27, "Unreadable BMP format"},
    {-33, "No data from device"},
    {-34, "Function timed out"},
    {-40, "Could not lock memory (invalid handle or memory discarded)"},
    {-41, "Print function already executing"},
    {-42, "Invalid image buffer address"},
    {-43, "Unreadable JPEG format"},
    {-44, "Image is too complex for operation"},
    {-45, "Paper could not be unloaded"},
    {-46, "ADF lid was opened"},
    {-47, "ADF bin is empty"},
    {-48, "ADF is not connected"},
    {-49, "ADF is connected but not ready"},
    {-50, "Function not available due to missing module"},
    {-51, "Page not found"},
    {-52, "Pointer does not point to readable or writable memory"},
    {-53, "LZW compression/decompression not enabled"},
    {-54, "Could not create TWAIN parent window"},
    {-55, "Could not open TWAIN Source Manager"},
    {-56, "Could not open TWAIN Data Source"},
    {-58, "None of the elements in two lists were equal"},
    {-59, "Data type mismatch"},
    {-60, "User canceled scan"},
    {-61, "TWAIN function is busy"},
    {-62, "File contains invalid data"},
    {-63, "Unreadable PNG format"},
    {-64, "PNG compressor error"},
    {-65, "No ACK from device"},
    {-66, "TWAIN ADF is empty"},
    {-67, "Stop scanning images"},
    {-68, "Handle not valid"},
    {-69, "TIFF file is in Motorola byte order"},
    {-70, "Thumbnail size out of range"},
    {-71, "GIF frame not found"},
    {-72, "Insufficient digitizer memory for selected mode"},
    {-73, "Image format does not support width or length > 65535"},
};

const std::pair<int, const char*> kExtended[] = {
    {-55, "TWAIN Source Manager not found"},
    {-54, "Could not create parent window"},
    {0, "Operation successful"},
    {1, "Failure due to unknown causes"},
    {2, "Not enough memory to perform operation"},
    {3, "No Data Source"},
    {4, "Source already in use"},
    {5, "Source or Source Manager error already reported to user"},
    {6, "Unknown capability requested"},
    {9, "Unrecognized DataGroup / Data ArgType / Msg combination"},
    {10, "Parameter out of range"},
    {11, "Message received out of sequence"},
    {12, "Unknown destination App/Src in DSM_Entry"},
};

template <size_t N> const char* Find(const std::pair<int, const char*> (&table)[N], int number) {
    const auto it = std::find_if(std::begin(table), std::end(table),
                                 [number](const auto& e) { return e.first == number; });
    return it == std::end(table) ? nullptr : it->second;
}

} // namespace

std::string TwainExtendedErrorText(int extended) {
    if (const char* text = Find(kExtended, extended)) return text;
    return "<Undefined extended error number " + std::to_string(extended) + ">";
}

std::string TwainErrorText(int number, int extended) {
    if (number == twain_error::kExtendedError) return TwainExtendedErrorText(extended);
    if (const char* text = Find(kErrors, number)) return text;
    return "<Undefined error number " + std::to_string(number) + ">";
}
