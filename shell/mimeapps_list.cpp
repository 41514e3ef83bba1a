#include "shell/mimeapps_list.h"

#include "app/file_util.h"

#include <algorithm>

namespace {

// The line's text without its line end.
std::string_view Text(const std::string& line) {
    std::string_view t(line);
    if (!t.empty() && t.back() == '\n') t.remove_suffix(1);
    if (!t.empty() && t.back() == '\r') t.remove_suffix(1);
    return t;
}

std::string_view Ending(const std::string& line) {
    return std::string_view(line).substr(Text(line).size());
}

bool Blank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && Blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (Blank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

bool IsGroupHeader(std::string_view text) {
    text = Trim(text);
    return !text.empty() && text.front() == '[';
}

bool IsDefaultsHeader(std::string_view text) {
    return Trim(text) == kDefaultApplicationsGroup;
}

bool IsContent(std::string_view text) {
    text = Trim(text);
    return !text.empty() && text.front() != '#';
}

std::vector<std::string> SplitList(std::string_view value) {
    std::vector<std::string> ids;
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(';', start);
        if (end == std::string_view::npos) end = value.size();
        const std::string_view id = Trim(value.substr(start, end - start));
        if (!id.empty()) ids.emplace_back(id);
        start = end + 1;
    }
    return ids;
}

std::string JoinList(const std::vector<std::string>& ids) {
    std::string out;
    for (const std::string& id : ids) out += id + ";";
    return out;
}

} // namespace

CMimeAppsList::CMimeAppsList(std::string_view bytes) {
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        lines_.emplace_back(bytes.substr(start, end - start));
        start = end;
    }
}

std::string CMimeAppsList::Bytes() const {
    std::string out;
    for (const std::string& line : lines_) out += line;
    return out;
}

std::vector<CMimeAppsList::Entry> CMimeAppsList::FindEntries(std::string_view mimeType) const {
    std::vector<Entry> out;
    bool inDefaults = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        const std::string_view text = Text(lines_[i]);
        if (IsGroupHeader(text)) {
            inDefaults = IsDefaultsHeader(text);
            continue;
        }
        if (!inDefaults || !IsContent(text)) continue;
        const size_t eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        if (!EqualsIgnoreCaseAscii(Trim(text.substr(0, eq)), mimeType)) continue;
        size_t valueStart = eq + 1;
        while (valueStart < text.size() && Blank(text[valueStart])) ++valueStart;
        out.push_back({i, valueStart});
    }
    return out;
}

std::string CMimeAppsList::NewLine() const {
    for (const std::string& line : lines_)
        if (const std::string_view e = Ending(line); !e.empty()) return std::string(e);
    return "\n";
}

std::vector<std::string> CMimeAppsList::Defaults(std::string_view mimeType) const {
    const std::vector<Entry> entries = FindEntries(mimeType);
    if (entries.empty()) return {};
    const Entry& last = entries.back();
    return SplitList(Text(lines_[last.line]).substr(last.valueStart));
}

bool CMimeAppsList::SetDefault(std::string_view mimeType, std::string_view desktopId) {
    const std::vector<Entry> entries = FindEntries(mimeType);
    bool changed = false;
    for (const Entry& e : entries) {
        std::string& line = lines_[e.line];
        const std::string_view text = Text(line);
        std::vector<std::string> ids = SplitList(text.substr(e.valueStart));
        if (!ids.empty() && ids.front() == desktopId &&
            std::count(ids.begin(), ids.end(), desktopId) == 1)
            continue;
        ids.erase(std::remove(ids.begin(), ids.end(), desktopId), ids.end());
        ids.insert(ids.begin(), std::string(desktopId));
        line =
            std::string(text.substr(0, e.valueStart)) + JoinList(ids) + std::string(Ending(line));
        changed = true;
    }
    if (!entries.empty()) return changed;

    const std::string nl = NewLine();
    const std::string entry = std::string(mimeType) + "=" + std::string(desktopId) + ";" + nl;
    // Into the first [Default Applications] group, after its last entry.
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (!IsDefaultsHeader(Text(lines_[i]))) continue;
        size_t after = i;
        for (size_t j = i + 1; j < lines_.size() && !IsGroupHeader(Text(lines_[j])); ++j)
            if (IsContent(Text(lines_[j]))) after = j;
        if (Ending(lines_[after]).empty()) lines_[after] += nl;
        lines_.insert(lines_.begin() + std::ptrdiff_t(after + 1), entry);
        return true;
    }
    // No such group yet: a new one at the end, set off by a blank line.
    if (!lines_.empty()) {
        if (Ending(lines_.back()).empty()) lines_.back() += nl;
        if (!Trim(Text(lines_.back())).empty()) lines_.push_back(nl);
    }
    lines_.push_back(std::string(kDefaultApplicationsGroup) + nl);
    lines_.push_back(entry);
    return true;
}

bool CMimeAppsList::RemoveDefault(std::string_view mimeType, std::string_view desktopId) {
    const std::vector<Entry> entries = FindEntries(mimeType);
    bool changed = false;
    // From the back, so that erasing a line keeps the earlier indexes valid.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        std::string& line = lines_[it->line];
        const std::string_view text = Text(line);
        std::vector<std::string> ids = SplitList(text.substr(it->valueStart));
        const auto kept = std::remove(ids.begin(), ids.end(), desktopId);
        if (kept == ids.end()) continue;
        ids.erase(kept, ids.end());
        changed = true;
        if (ids.empty()) {
            lines_.erase(lines_.begin() + std::ptrdiff_t(it->line));
            continue;
        }
        line =
            std::string(text.substr(0, it->valueStart)) + JoinList(ids) + std::string(Ending(line));
    }
    return changed;
}
