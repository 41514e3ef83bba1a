#pragma once
// The program's own desktop entry ("pellorin.desktop"), and finding installed
// entries by their desktop file ID.

#include "shell/xdg_dirs.h"

#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kDesktopId = "pellorin.desktop";

struct DesktopEntryInfo {
    std::string program;                // absolute path of the program to start
    std::string icon;                   // icon name or absolute path
    std::vector<std::string> mimeTypes; // the types the program opens
};

// The program path as one argument of an Exec line: quoted, with the
// characters that are special inside quotes, '%' and the key file's own
// escapes escaped, so that a desktop reading the entry gets the path back
// unchanged.
std::string ExecArgument(std::string_view program);

// The whole entry. Fails (empty result) when the program path is not valid
// UTF-8 or not absolute, since a desktop entry cannot name such a file.
std::string MakeDesktopEntry(const DesktopEntryInfo& info);

// The icon the entry names: the theme name when an installed icon theme has
// Pellorin's icon (in the user's or a system data folder, or in the share
// folder of the prefix the program is installed in), otherwise the icon file
// beside the program (a build tree), otherwise the theme name all the same.
std::string DesktopIcon(const std::string& program, const XdgDirs& dirs);

// The installed desktop file for a desktop file ID ("vendor-app.desktop" may
// also be "vendor/app.desktop"), looked up in the application folders in order.
// Empty when it is missing, or when the first one found is hidden (the user
// deleted it) or is no desktop entry at all.
std::string FindDesktopFile(std::string_view desktopId, const XdgDirs& dirs);
