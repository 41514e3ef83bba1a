#include "imageops/data_paths.h"

#include "app/file_util.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(path, ec);
}

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

std::string WithSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

} // namespace

std::string ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) return {};
    return WithSlash(exe.parent_path().string());
}

std::vector<std::string> DataFolderCandidates(std::string_view name) {
    std::vector<std::string> out;
    const std::string beside = ProgramFolder();
    if (!beside.empty()) out.push_back(beside + std::string(name));
    // A program installed as <prefix>/bin/ has its data in <prefix>/share/,
    // also where that prefix is not among the data folders (a user's own
    // prefix, /opt, an unpacked package).
    const fs::path folder = fs::path(beside).parent_path();
    if (!beside.empty() && folder.filename() == "bin")
        out.push_back((folder.parent_path() / "share/pellorin" / std::string(name)).string());

    const char* env = std::getenv("XDG_DATA_DIRS");
    // An unset or empty variable means the freedesktop default.
    std::string dirs = env && *env ? env : "/usr/local/share:/usr/share";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = dirs.substr(start, end - start);
        // Relative entries are invalid by the freedesktop rules and would depend
        // on the current folder.
        if (!dir.empty() && dir.front() == '/')
            out.push_back(WithSlash(dir) + "pellorin/" + std::string(name));
        start = end + 1;
    }
    return out;
}

std::vector<std::string> ExistingDataFolders(std::string_view name) {
    std::vector<std::string> out;
    for (std::string& dir : DataFolderCandidates(name))
        if (IsDirectory(dir) && std::find(out.begin(), out.end(), dir) == out.end())
            out.push_back(std::move(dir));
    return out;
}

std::vector<DataPicture> ListDataPictures(std::string_view name,
                                          const std::vector<std::string>& extensions) {
    std::vector<DataPicture> out;
    std::set<std::string> seen;
    for (const std::string& dir : ExistingDataFolders(name)) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec), end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code fileEc;
            if (!it->is_regular_file(fileEc)) continue;
            const std::string file = it->path().filename().string();
            const std::string ext = ExtensionOf(file);
            if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end()) continue;
            if (!seen.insert(file).second) continue;
            out.push_back({file, it->path().string()});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const DataPicture& a, const DataPicture& b) { return a.name < b.name; });
    return out;
}

const std::vector<std::string>& MaskPictureExtensions() {
    static const std::vector<std::string> kExt = {"bmp", "png", "jpg", "gif", "tif", "tga"};
    return kExt;
}

const std::vector<std::string>& BorderPictureExtensions() {
    static const std::vector<std::string> kExt = {"png", "bmp", "jpg"};
    return kExt;
}

std::string ResolveDataPicture(const std::string& stored, std::string_view name) {
    if (stored.empty()) return {};
    // Relative names are looked up in the data folders, never in whatever the
    // current folder happens to be.
    if (stored.front() == '/' && IsRegularFile(stored)) return stored;
    const size_t cut = stored.find_last_of("/\\");
    const std::string file = cut == std::string::npos ? stored : stored.substr(cut + 1);
    if (file.empty() || file == "." || file == "..") return {};
    for (const std::string& dir : ExistingDataFolders(name)) {
        const std::string candidate = WithSlash(dir) + file;
        if (IsRegularFile(candidate)) return candidate;
    }
    return {};
}
