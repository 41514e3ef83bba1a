#include "shell/xdg_dirs.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

bool Absolute(const std::string& p) {
    return !p.empty() && p.front() == '/';
}

std::string WithoutTrailingSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string HomeFolder() {
    std::string home = Env("HOME");
    if (Absolute(home)) return WithoutTrailingSlashes(home);
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && Absolute(pw->pw_dir))
        return WithoutTrailingSlashes(pw->pw_dir);
    return {};
}

std::string HomeOr(const char* variable, const std::string& home, const char* relative) {
    const std::string v = Env(variable);
    if (Absolute(v)) return WithoutTrailingSlashes(v);
    return home.empty() ? std::string() : home + "/" + relative;
}

std::vector<std::string> ListOr(const char* variable, const char* fallback) {
    std::string v = Env(variable);
    if (v.empty()) v = fallback;
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= v.size()) {
        size_t end = v.find(':', start);
        if (end == std::string::npos) end = v.size();
        const std::string dir = v.substr(start, end - start);
        if (Absolute(dir)) out.push_back(WithoutTrailingSlashes(dir));
        start = end + 1;
    }
    return out;
}

} // namespace

XdgDirs XdgDirs::FromEnvironment() {
    XdgDirs d;
    const std::string home = HomeFolder();
    d.configHome = HomeOr("XDG_CONFIG_HOME", home, ".config");
    d.dataHome = HomeOr("XDG_DATA_HOME", home, ".local/share");
    d.configDirs = ListOr("XDG_CONFIG_DIRS", "/etc/xdg");
    d.dataDirs = ListOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    const std::string desktops = Env("XDG_CURRENT_DESKTOP");
    size_t start = 0;
    while (start < desktops.size()) {
        size_t end = desktops.find(':', start);
        if (end == std::string::npos) end = desktops.size();
        std::string name = desktops.substr(start, end - start);
        for (char& c : name)
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        // A name that is a path would point the lookup somewhere else.
        if (!name.empty() && name.find('/') == std::string::npos) d.desktops.push_back(name);
        start = end + 1;
    }
    return d;
}

std::string XdgDirs::UserMimeAppsList() const {
    return configHome.empty() ? std::string() : configHome + "/mimeapps.list";
}

std::string XdgDirs::UserApplications() const {
    return dataHome.empty() ? std::string() : dataHome + "/applications";
}

std::vector<std::string> XdgDirs::MimeAppsLists() const {
    std::vector<std::string> out;
    auto addLevel = [&](const std::string& folder) {
        if (folder.empty()) return;
        for (const std::string& desktop : desktops)
            out.push_back(folder + "/" + desktop + "-mimeapps.list");
        out.push_back(folder + "/mimeapps.list");
    };
    addLevel(configHome);
    for (const std::string& dir : configDirs) addLevel(dir);
    addLevel(UserApplications());
    for (const std::string& dir : dataDirs) addLevel(dir + "/applications");
    return out;
}

std::vector<std::string> XdgDirs::ApplicationFolders() const {
    std::vector<std::string> out;
    if (!dataHome.empty()) out.push_back(UserApplications());
    for (const std::string& dir : dataDirs) out.push_back(dir + "/applications");
    return out;
}
