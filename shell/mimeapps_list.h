#pragma once
// One mimeapps.list file, edited line by line: a change touches only the
// lines of the [Default Applications] group that name the changed type, and
// every other byte (other programs' lines, comments, other groups, line ends)
// stays as it was.

#include <string>
#include <string_view>
#include <vector>

class CMimeAppsList {
public:
    CMimeAppsList() = default;
    explicit CMimeAppsList(std::string_view bytes);

    std::string Bytes() const;

    // The desktop IDs listed as defaults for the type, in order. Where the type
    // is listed more than once, the last line counts, as with any key file.
    std::vector<std::string> Defaults(std::string_view mimeType) const;

    // Puts desktopId first in the type's default list, keeping the other IDs
    // behind it as fallbacks. Adds the line (and the group) when missing.
    // Returns whether anything changed.
    bool SetDefault(std::string_view mimeType, std::string_view desktopId);

    // Takes desktopId out of the type's default list; a line left without IDs
    // goes. Lines that do not name desktopId are not touched. Returns whether
    // anything changed.
    bool RemoveDefault(std::string_view mimeType, std::string_view desktopId);

private:
    struct Entry {
        size_t line;
        size_t valueStart; // offset of the value within the line's text
    };
    std::vector<Entry> FindEntries(std::string_view mimeType) const;
    std::string NewLine() const;

    // Each line with its own line end ("\n", "\r\n" or none for a last line).
    std::vector<std::string> lines_;
};

inline constexpr std::string_view kDefaultApplicationsGroup = "[Default Applications]";
