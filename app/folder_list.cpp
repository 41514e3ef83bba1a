#include "app/folder_list.h"

#include "app/file_util.h"

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace {

const char* const kAllPatterns[] = {"png", "bmp", "jpg", "gif", "tif", "tga", "psd", "pcd"};
const char* const kSinglePatterns[] = {"png", "jpg", "gif", "bmp", "tif", "tga", "psd", "pcd"};

bool MatchesPattern(const std::string& name, const char* ext) {
    // "*.ext": anything, a dot, then the extension.
    return name.size() >= 4 && name[name.size() - 4] == '.' &&
           ToLowerAscii(name.substr(name.size() - 3)) == ext;
}

} // namespace

std::vector<std::string> ListFolderImages(const std::string& folder, int filterIndex) {
    std::vector<const char*> patterns;
    if (filterIndex == 1)
        patterns.assign(std::begin(kAllPatterns), std::end(kAllPatterns));
    else if (filterIndex >= 2 && filterIndex <= 9)
        patterns.push_back(kSinglePatterns[filterIndex - 2]);
    if (patterns.empty()) return {};

    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            struct stat st {};
            if (::stat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            names.push_back(std::move(name));
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());

    std::vector<std::string> list;
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const char* p : patterns)
        for (const auto& n : names)
            if (MatchesPattern(n, p)) list.push_back(prefix + n);
    return list;
}

int IndexInFolderList(const std::vector<std::string>& list, const std::string& file) {
    const std::string want = ToLowerAscii(file);
    for (size_t i = 0; i < list.size(); ++i)
        if (ToLowerAscii(list[i]) == want) return int(i);
    return -1;
}

int NextIndex(int index, int count) {
    if (count <= 0) return -1;
    return index < 0 || index + 1 >= count ? 0 : index + 1;
}

int PreviousIndex(int index, int count) {
    if (count <= 0) return -1;
    return index <= 0 || index >= count ? count - 1 : index - 1;
}
