#pragma once
// Where the read-only pictures the user picks from (masks, borders) live: a
// folder beside the program first, so that a build tree or an unpacked copy
// works as it is; for a program in <prefix>/bin, <prefix>/share/pellorin/<name>;
// then "pellorin/<name>" in each folder of $XDG_DATA_DIRS (default
// /usr/local/share:/usr/share).

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kMasksFolder = "Masks";
inline constexpr std::string_view kBorderFolder = "border";

// The folder holding the running program (from /proc/self/exe), with a trailing
// slash; empty when it cannot be determined.
std::string ProgramFolder();

// Every place the data folder `name` may be, in search order, whether it exists
// or not.
std::vector<std::string> DataFolderCandidates(std::string_view name);

// The candidates that exist as directories, in search order.
std::vector<std::string> ExistingDataFolders(std::string_view name);

struct DataPicture {
    std::string name; // file name shown to the user
    std::string path; // full path
};

// The picture files of the existing data folders whose lower-cased extension
// (last three characters) is one of `extensions`, sorted by name; a name found
// in an earlier folder hides the same name in later ones.
std::vector<DataPicture> ListDataPictures(std::string_view name,
                                          const std::vector<std::string>& extensions);

// Extensions offered for masks and for borders.
const std::vector<std::string>& MaskPictureExtensions();
const std::vector<std::string>& BorderPictureExtensions();

// The file a stored mask or border name refers to: an existing path is taken as
// it is; otherwise the last path component (after '/' or '\\', so names stored
// on another system still resolve) is looked up in the data folders `name`.
// Empty when nothing matches.
std::string ResolveDataPicture(const std::string& stored, std::string_view name);
