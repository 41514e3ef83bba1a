#include "app/config_storage.h"

#include "app/file_util.h"
#include "app/safe_save.h"
#include "app/settings.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Position just after the next space or tab at or after `from`, or npos.
size_t AfterNextBlank(std::string_view s, size_t from) {
    for (size_t i = from; i < s.size(); ++i)
        if (IsBlank(s[i])) return i + 1;
    return std::string_view::npos;
}

void AppendInt(std::string& out, int64_t v) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

} // namespace

int64_t ParseLeadingInteger(std::string_view s) {
    size_t i = 0;
    while (i < s.size() &&
           (IsBlank(s[i]) || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    uint64_t v = 0;
    const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max());
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        v = v * 10 + uint64_t(s[i] - '0');
        if (v > limit) v = limit; // saturate rather than wrap on absurd input
    }
    return negative ? -int64_t(v) : int64_t(v);
}

double ParseLeadingDouble(std::string_view s) {
    size_t i = 0;
    while (i < s.size() &&
           (IsBlank(s[i]) || s[i] == '\n' || s[i] == '\r' || s[i] == '\v' || s[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) return 0.0; // "--1" is no number
    double v = 0.0;
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), v, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // from_chars leaves v untouched here; follow the C library: huge values
        // become infinity, tiny ones zero.
        size_t e = i;
        while (e < s.size() && s[e] != 'e' && s[e] != 'E') ++e;
        const bool tiny = e + 1 < s.size() && s[e + 1] == '-';
        v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (r.ec != std::errc()) {
        return 0.0;
    }
    return negative ? -v : v;
}

std::string FormatFixed6(double v) {
    if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
    if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
    return std::string(buf, r.ptr);
}

void CIniItem::Write(std::string& out) const {
    out += key_;
    out += '=';
    switch (kind_) {
    case int(IniKind::Integer):
        switch (type_) {
        case FieldType::UInt8:
            AppendInt(out, *static_cast<const uint8_t*>(field_));
            break;
        case FieldType::Int16:
            AppendInt(out, *static_cast<const int16_t*>(field_));
            break;
        case FieldType::UInt16:
            AppendInt(out, *static_cast<const uint16_t*>(field_));
            break;
        default:
            AppendInt(out, *static_cast<const int32_t*>(field_));
            break;
        }
        break;
    case int(IniKind::Float):
        if (type_ == FieldType::Double)
            out += FormatFixed6(*static_cast<const double*>(field_));
        else
            out += FormatFixed6(*static_cast<const float*>(field_));
        break;
    case int(IniKind::Rectangle): {
        const auto* r = static_cast<const IntRect*>(field_);
        AppendInt(out, r->left);
        out += ' ';
        AppendInt(out, r->top);
        out += ' ';
        AppendInt(out, r->right);
        out += ' ';
        AppendInt(out, r->bottom);
        break;
    }
    case int(IniKind::String):
    case int(IniKind::Text):
        out += *static_cast<const std::string*>(field_);
        break;
    case int(IniKind::IntegerArray): {
        const auto& a = *static_cast<const std::vector<int32_t>*>(field_);
        AppendInt(out, int64_t(a.size()));
        out += ' ';
        for (int32_t v : a) {
            AppendInt(out, v);
            out += ' ';
        }
        break;
    }
    case int(IniKind::StringArray): {
        const auto& a = *static_cast<const std::vector<std::string>*>(field_);
        AppendInt(out, int64_t(a.size()));
        out += ' ';
        for (const auto& s : a) {
            out += s;
            out += '\x01';
        }
        break;
    }
    default:
        out += "ERR: UNKNOWN TYPE";
        break;
    }
    out += '\n';
}

void CIniItem::Read(std::string_view value) {
    switch (kind_) {
    case int(IniKind::Integer): {
        // Only the field's own low bits are stored, so values written with other
        // bits above a narrow field's width still load.
        const uint64_t bits = uint64_t(ParseLeadingInteger(value));
        switch (type_) {
        case FieldType::UInt8:
            *static_cast<uint8_t*>(field_) = uint8_t(bits);
            break;
        case FieldType::Int16:
            *static_cast<int16_t*>(field_) = int16_t(uint16_t(bits));
            break;
        case FieldType::UInt16:
            *static_cast<uint16_t*>(field_) = uint16_t(bits);
            break;
        default:
            *static_cast<int32_t*>(field_) = int32_t(uint32_t(bits));
            break;
        }
        break;
    }
    case int(IniKind::Float):
        if (type_ == FieldType::Double)
            *static_cast<double*>(field_) = ParseLeadingDouble(value);
        else
            *static_cast<float*>(field_) = float(ParseLeadingDouble(value));
        break;
    case int(IniKind::Rectangle): {
        int32_t v[4] = {0, 0, 0, 0};
        size_t pos = 0;
        for (int i = 0; i < 4; ++i) {
            if (i > 0) pos = AfterNextBlank(value, pos);
            if (pos == std::string_view::npos) break;
            v[i] = int32_t(uint32_t(uint64_t(ParseLeadingInteger(value.substr(pos)))));
        }
        auto* r = static_cast<IntRect*>(field_);
        *r = IntRect{v[0], v[1], v[2], v[3]};
        break;
    }
    case int(IniKind::String):
    case int(IniKind::Text):
        *static_cast<std::string*>(field_) = std::string(value);
        break;
    case int(IniKind::IntegerArray): {
        auto& a = *static_cast<std::vector<int32_t>*>(field_);
        a.clear();
        int64_t count = ParseLeadingInteger(value);
        if (count < 1) break;
        if (count > kMaxIniArrayEntries) count = kMaxIniArrayEntries;
        a.reserve(size_t(count));
        size_t pos = 0;
        for (int64_t i = 0; i < count; ++i) {
            if (pos != std::string_view::npos) pos = AfterNextBlank(value, pos);
            if (pos == std::string_view::npos) {
                a.push_back(0); // numbers missing at the end count as 0
                continue;
            }
            a.push_back(int32_t(uint32_t(uint64_t(ParseLeadingInteger(value.substr(pos))))));
        }
        break;
    }
    case int(IniKind::StringArray): {
        auto& a = *static_cast<std::vector<std::string>*>(field_);
        a.clear();
        int64_t count = ParseLeadingInteger(value);
        if (count < 1) break;
        if (count > kMaxIniArrayEntries) count = kMaxIniArrayEntries;
        size_t pos = value.find(' ');
        if (pos == std::string_view::npos) break;
        ++pos;
        for (int64_t i = 0; i < count && pos <= value.size(); ++i) {
            size_t end = value.find('\x01', pos);
            if (end == std::string_view::npos) {
                if (pos < value.size()) a.emplace_back(value.substr(pos));
                break;
            }
            a.emplace_back(value.substr(pos, end - pos));
            pos = end + 1;
        }
        break;
    }
    default:
        return; // unknown kinds are never read
    }
    loaded_ = true;
}

void CIniPartition::AddRawItem(std::string key, void* field, int kindCode, FieldType type) {
    items_.push_back(std::make_unique<CIniItem>(std::move(key), field, kindCode, type));
}
void CIniPartition::AddItem(std::string key, int32_t* field, IniKind kind) {
    AddRawItem(std::move(key), field, int(kind), FieldType::Int32);
}
void CIniPartition::AddItem(std::string key, uint8_t* field) {
    AddRawItem(std::move(key), field, int(IniKind::Integer), FieldType::UInt8);
}
void CIniPartition::AddItem(std::string key, int16_t* field) {
    AddRawItem(std::move(key), field, int(IniKind::Integer), FieldType::Int16);
}
void CIniPartition::AddItem(std::string key, uint16_t* field) {
    AddRawItem(std::move(key), field, int(IniKind::Integer), FieldType::UInt16);
}
void CIniPartition::AddItem(std::string key, float* field) {
    AddRawItem(std::move(key), field, int(IniKind::Float), FieldType::Float);
}
void CIniPartition::AddItem(std::string key, double* field) {
    AddRawItem(std::move(key), field, int(IniKind::Float), FieldType::Double);
}
void CIniPartition::AddItem(std::string key, IntRect* field) {
    AddRawItem(std::move(key), field, int(IniKind::Rectangle), FieldType::Rect);
}
void CIniPartition::AddItem(std::string key, std::string* field, IniKind kind) {
    AddRawItem(std::move(key), field, int(kind), FieldType::String);
}
void CIniPartition::AddItem(std::string key, std::vector<int32_t>* field) {
    AddRawItem(std::move(key), field, int(IniKind::IntegerArray), FieldType::IntArray);
}
void CIniPartition::AddItem(std::string key, std::vector<std::string>* field) {
    AddRawItem(std::move(key), field, int(IniKind::StringArray), FieldType::StringArray);
}

CIniItem* CIniPartition::Find(std::string_view key) const {
    for (const auto& item : items_)
        if (EqualsIgnoreCaseAscii(item->Key(), key)) return item.get();
    return nullptr;
}

CIniPartition& CFileStorage::AddPartition(std::string name) {
    partitions_.push_back(std::make_unique<CIniPartition>(std::move(name)));
    return *partitions_.back();
}

CIniPartition* CFileStorage::FindPartition(std::string_view name) const {
    for (const auto& p : partitions_)
        if (EqualsIgnoreCaseAscii(p->Name(), name)) return p.get();
    return nullptr;
}

std::string CFileStorage::Serialize() const {
    std::string out = banner_;
    out += '\n';
    for (const auto& p : partitions_) {
        out += "\n[";
        out += p->Name();
        out += "]\n";
        for (const auto& item : p->Items()) item->Write(out);
    }
    return out;
}

std::string CFileStorage::FileBytes() const {
    const std::string text = Serialize();
    std::string crlf;
    crlf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    return crlf;
}

bool CFileStorage::Save(const std::string& path, std::string* message) const {
    const std::string crlf = FileBytes();
    return SaveFileSafely(path, crlf.data(), crlf.size(), message);
}

bool CFileStorage::Load(const std::string& path) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes, uint64_t(64) << 20)) return false;
    return Parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool CFileStorage::Parse(std::string_view bytes) {
    // Complete lines only: a last line without LF is not taken.
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n') continue;
        size_t end = i;
        if (end > start && bytes[end - 1] == '\r') --end;
        std::string_view line = bytes.substr(start, end - start);
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        lines.push_back(line);
        start = i + 1;
    }
    for (const auto& partition : partitions_)
        for (const auto& item : partition->Items()) item->loaded_ = false;
    if (lines.empty()) return false;

    CIniPartition* current = nullptr;
    bool inSection = false;
    for (std::string_view line : lines) {
        if (!line.empty() && line[0] == '[') {
            std::string_view name =
                line.size() >= 2 ? line.substr(1, line.size() - 2) : std::string_view();
            current = FindPartition(name);
            inSection = true;
            continue;
        }
        if (!inSection || !current) continue;
        const size_t eq = line.find('=');
        std::string_view key = eq == std::string_view::npos ? line : line.substr(0, eq);
        std::string_view value =
            eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
        if (CIniItem* item = current->Find(key)) item->Read(value);
    }
    return true;
}
