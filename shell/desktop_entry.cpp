#include "shell/desktop_entry.h"

#include "app/file_util.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool ValidUtf8(std::string_view s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        int more = 0;
        unsigned min = 0, cp = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            more = 1, cp = c & 0x1F, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2, cp = c & 0x0F, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3, cp = c & 0x07, min = 0x10000;
        } else {
            return false;
        }
        if (i + size_t(more) >= s.size()) return false;
        for (int k = 1; k <= more; ++k) {
            const unsigned char d = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += size_t(more) + 1;
    }
    return true;
}

// The key file's escapes for a string value.
std::string EscapeValue(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool IsFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

bool IsFolder(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

// Looks the ID up in one applications folder: "a-b-c.desktop" may be the file
// of that name or "a/b-c.desktop", "a/b/c.desktop", ...
std::string FindInFolder(const std::string& folder, std::string_view id) {
    const std::string direct = folder + "/" + std::string(id);
    if (IsFile(direct)) return direct;
    for (size_t dash = id.find('-'); dash != std::string_view::npos;
         dash = id.find('-', dash + 1)) {
        const std::string sub = folder + "/" + std::string(id.substr(0, dash));
        if (dash == 0 || !IsFolder(sub)) continue;
        if (std::string found = FindInFolder(sub, id.substr(dash + 1)); !found.empty())
            return found;
    }
    return {};
}

// Whether the file is a desktop entry that has not been deleted with
// Hidden=true.
bool UsableEntry(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, 1 << 20)) return false;
    const std::string text(bytes.begin(), bytes.end());
    bool inEntry = false, sawEntry = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inEntry = line == "[Desktop Entry]";
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.erase(value.begin());
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        if (key == "Hidden" && value == "true") return false;
    }
    return sawEntry;
}

} // namespace

std::string ExecArgument(std::string_view program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return EscapeValue(quoted);
}

std::string MakeDesktopEntry(const DesktopEntryInfo& info) {
    if (info.program.empty() || info.program.front() != '/' || !ValidUtf8(info.program) ||
        !ValidUtf8(info.icon))
        return {};
    std::string types;
    for (const std::string& t : info.mimeTypes) types += EscapeValue(t) + ";";
    std::string out = "[Desktop Entry]\n"
                      "Type=Application\n"
                      "Version=1.0\n"
                      "Name=Pellorin\n"
                      "GenericName=Image Processor\n"
                      "Comment=Apply effects and corrections to pictures, one image or a whole "
                      "folder at a time\n";
    out += "Exec=" + ExecArgument(info.program) + " %f\n";
    out += "Icon=" + EscapeValue(info.icon.empty() ? "pellorin" : info.icon) + "\n";
    out += "Terminal=false\n"
           "Categories=Graphics;2DGraphics;RasterGraphics;\n";
    out += "MimeType=" + types + "\n";
    out += "StartupNotify=true\n";
    return out;
}

std::string DesktopIcon(const std::string& program, const XdgDirs& dirs) {
    static const char* const kThemeFiles[] = {"icons/hicolor/scalable/apps/pellorin.svg",
                                              "icons/hicolor/256x256/apps/pellorin.png"};
    auto themeHas = [](const fs::path& share) {
        for (const char* f : kThemeFiles)
            if (IsFile(share / f)) return true;
        return false;
    };
    std::vector<fs::path> shares;
    if (!dirs.dataHome.empty()) shares.emplace_back(dirs.dataHome);
    for (const std::string& d : dirs.dataDirs) shares.emplace_back(d);
    for (const fs::path& share : shares)
        if (themeHas(share)) return "pellorin";

    const fs::path folder = fs::path(program).parent_path();
    // Installed in a prefix the desktop does not search: name the file itself.
    if (folder.filename() == "bin")
        for (const char* f : kThemeFiles)
            if (const fs::path p = (folder.parent_path() / "share" / f).lexically_normal();
                IsFile(p))
                return p.string();
    if (const fs::path beside = folder / "pellorin.png"; IsFile(beside)) return beside.string();
    return "pellorin";
}

std::string FindDesktopFile(std::string_view desktopId, const XdgDirs& dirs) {
    if (desktopId.empty() || desktopId.find('/') != std::string_view::npos ||
        desktopId.substr(0, 1) == ".")
        return {};
    for (const std::string& folder : dirs.ApplicationFolders()) {
        const std::string found = FindInFolder(folder, desktopId);
        if (found.empty()) continue;
        // The first one found hides the others, also when it is hidden itself.
        return UsableEntry(found) ? found : std::string();
    }
    return {};
}
