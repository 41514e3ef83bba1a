#pragma once
// The freedesktop base folders that file associations read and write, taken
// from the environment with the defaults of the base-directory rules.

#include <string>
#include <vector>

struct XdgDirs {
    std::string configHome;              // $XDG_CONFIG_HOME, else ~/.config
    std::string dataHome;                // $XDG_DATA_HOME, else ~/.local/share
    std::vector<std::string> configDirs; // $XDG_CONFIG_DIRS, else /etc/xdg
    std::vector<std::string> dataDirs;   // $XDG_DATA_DIRS, else /usr/local/share:/usr/share
    std::vector<std::string> desktops;   // $XDG_CURRENT_DESKTOP, lower-cased, in order

    // Relative entries are ignored, as the rules demand; a home folder that
    // cannot be found leaves configHome or dataHome empty.
    static XdgDirs FromEnvironment();

    // The file in which the user's own default applications are kept.
    std::string UserMimeAppsList() const;
    // The folder for the user's own desktop entries.
    std::string UserApplications() const;
    // Every mimeapps.list in the order their defaults take precedence:
    // desktop-specific before generic, user before system, config before data.
    std::vector<std::string> MimeAppsLists() const;
    // The folders desktop entries are looked up in, most important first.
    std::vector<std::string> ApplicationFolders() const;
};
