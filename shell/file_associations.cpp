#include "shell/file_associations.h"

#include "app/file_util.h"
#include "app/safe_save.h"
#include "shell/desktop_tools.h"
#include "shell/mimeapps_list.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <span>
#include <sys/stat.h>

namespace {

// A mimeapps.list larger than this is not one we should rewrite.
constexpr uint64_t kMaxListBytes = 16u << 20;

std::string Reason(int err) {
    return err ? std::strerror(err) : "could not be written";
}

// Creates the folder and any missing parents (new ones private to the user,
// as the base-directory rules ask). On failure names the folder and the reason.
bool MakeFolders(const std::string& folder, std::string* error) {
    std::string sofar;
    size_t start = 0;
    while (start < folder.size()) {
        size_t end = folder.find('/', start + 1);
        if (end == std::string::npos) end = folder.size();
        sofar = folder.substr(0, end);
        start = end;
        if (sofar == "/") continue;
        if (::mkdir(sofar.c_str(), 0700) != 0 && errno != EEXIST) {
            if (error) *error = sofar + ": " + Reason(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (error) *error = folder + ": " + Reason(errno ? errno : ENOTDIR);
        return false;
    }
    return true;
}

bool WriteFile(const std::string& folder, const std::string& path, const std::string& bytes,
               std::string* error) {
    if (!MakeFolders(folder, error)) return false;
    std::string message;
    if (SaveFileSafely(path, bytes.data(), bytes.size(), &message)) return true;
    if (error) *error = message;
    return false;
}

// A type name as the MIME database spells one ("image/png"); anything else
// could break the line it is written into.
bool IsMimeTypeName(const std::string& t) {
    const size_t slash = t.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == t.size() ||
        t.find('/', slash + 1) != std::string::npos)
        return false;
    for (char c : t) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '+' || c == '.' ||
                        c == '_';
        if (!ok) return false;
    }
    return true;
}

} // namespace

const std::array<AssociationBox, kAssociationBoxCount>& AssociationBoxes() {
    static const std::array<AssociationBox, kAssociationBoxCount> kBoxes = {{
        {"*.bmp", {".bmp"}},
        {"*.jpg", {".jpg"}},
        {"*.gif", {".gif"}},
        {"*.png", {".png"}},
        {"*.tif, *tiff", {".tif", ".tiff"}},
        {"*.tga, targa", {".tga", ".targa"}},
        {"*.psd, *.pdd", {".psd", ".pdd"}},
    }};
    return kBoxes;
}

const std::array<int, kAssociationBoxCount>& AssociationOrder() {
    static const std::array<int, kAssociationBoxCount> kOrder = {0, 2, 1, 3, 4, 5, 6};
    return kOrder;
}

WasAssociatedFlags& ProcessWasAssociatedFlags() {
    static WasAssociatedFlags flags;
    return flags;
}

std::vector<std::string> EntryExtensions() {
    std::vector<std::string> out;
    for (const AssociationBox& box : AssociationBoxes())
        for (std::string_view ext : box.extensions) out.emplace_back(ext);
    out.emplace_back(".pcd");
    out.emplace_back(".ico");
    return out;
}

CFileAssociations::CFileAssociations(XdgDirs dirs, MimeLookup mimeOf)
    : dirs_(std::move(dirs)), mimeOf_(std::move(mimeOf)) {}

bool CFileAssociations::IsAssociated(const std::string& extension) const {
    const std::string type = mimeOf_ ? mimeOf_(extension) : std::string();
    if (!IsMimeTypeName(type)) return false;
    for (const std::string& file : dirs_.MimeAppsLists()) {
        std::vector<uint8_t> bytes;
        if (!ReadWholeFile(file, bytes, kMaxListBytes)) continue;
        const CMimeAppsList list(
            std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        for (const std::string& id : list.Defaults(type))
            if (!FindDesktopFile(id, dirs_).empty()) return id == kDesktopId;
    }
    return false;
}

bool CFileAssociations::Edit(const std::vector<Change>& changes, std::string* error) {
    const std::string path = dirs_.UserMimeAppsList();
    if (path.empty()) {
        if (error) *error = "The folder for the user's settings is unknown (HOME is not set).";
        return false;
    }
    std::vector<uint8_t> bytes;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 || (errno != ENOENT && errno != ENOTDIR)) {
        // Writing over a list we could not read would lose every other
        // program's defaults.
        if (!ReadWholeFile(path, bytes, kMaxListBytes)) {
            if (error) *error = path + ": cannot be read, so it was left unchanged";
            return false;
        }
    }
    CMimeAppsList list(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    bool changed = false;
    for (const Change& c : changes)
        changed |= c.associate ? list.SetDefault(c.mimeType, kDesktopId)
                               : list.RemoveDefault(c.mimeType, kDesktopId);
    if (!changed) return true;
    return WriteFile(dirs_.configHome, path, list.Bytes(), error);
}

bool CFileAssociations::Associate(const std::string& extension, std::string* error) {
    const std::string type = mimeOf_ ? mimeOf_(extension) : std::string();
    if (!IsMimeTypeName(type)) return true; // the desktop has no type to give it
    return Edit({{type, true}}, error);
}

bool CFileAssociations::Disassociate(const std::string& extension, std::string* error) {
    const std::string type = mimeOf_ ? mimeOf_(extension) : std::string();
    if (!IsMimeTypeName(type)) return true;
    return Edit({{type, false}}, error);
}

DesktopEntryInfo CFileAssociations::OwnEntry(const std::string& program) const {
    DesktopEntryInfo info;
    info.program = program;
    info.icon = DesktopIcon(program, dirs_);
    for (const std::string& ext : EntryExtensions()) {
        const std::string type = mimeOf_ ? mimeOf_(ext) : std::string();
        if (IsMimeTypeName(type) &&
            std::find(info.mimeTypes.begin(), info.mimeTypes.end(), type) == info.mimeTypes.end())
            info.mimeTypes.push_back(type);
    }
    return info;
}

bool CFileAssociations::WriteOwnEntry(const DesktopEntryInfo& info, std::string* error) {
    const std::string folder = dirs_.UserApplications();
    if (folder.empty()) {
        if (error) *error = "The folder for the user's applications is unknown (HOME is not set).";
        return false;
    }
    const std::string entry = MakeDesktopEntry(info);
    if (entry.empty()) {
        if (error) *error = info.program + ": this program path cannot be named in a desktop entry";
        return false;
    }
    return WriteFile(folder, folder + "/" + std::string(kDesktopId), entry, error);
}

std::array<bool, kAssociationBoxCount>
CFileAssociations::ReadBoxes(WasAssociatedFlags& flags) const {
    std::array<bool, kAssociationBoxCount> checked{};
    for (int i : AssociationOrder()) {
        checked[size_t(i)] = IsAssociated(std::string(AssociationBoxes()[size_t(i)].extensions[0]));
        if (checked[size_t(i)]) flags.box[size_t(i)] = true;
    }
    return checked;
}

std::vector<std::string>
CFileAssociations::ApplyBoxes(const std::array<bool, kAssociationBoxCount>& checked,
                              const WasAssociatedFlags& flags, const DesktopEntryInfo& entry) {
    std::vector<std::string> failures;
    std::string error;
    if (WriteOwnEntry(entry, &error))
        RefreshDesktopDatabase(dirs_.UserApplications());
    else
        failures.push_back(error);

    std::vector<Change> changes;
    for (int i : AssociationOrder()) {
        const size_t b = size_t(i);
        if (!checked[b] && !flags.box[b]) continue;
        for (std::string_view ext : AssociationBoxes()[b].extensions) {
            const std::string type = mimeOf_ ? mimeOf_(std::string(ext)) : std::string();
            if (IsMimeTypeName(type)) changes.push_back({type, checked[b]});
        }
    }
    if (!changes.empty() && !Edit(changes, &error)) failures.push_back(error);
    return failures;
}
