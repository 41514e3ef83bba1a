#include "upload/upload_settings.h"

#include "app/file_util.h"
#include "upload/upload_request.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kBanner = "; Pellorin upload settings";

// $var if it is an absolute path, else $HOME/fallback; then "pellorin".
std::string UserFolder(const char* var, const char* fallback) {
    const char* v = std::getenv(var);
    fs::path base;
    // Relative values are invalid by the freedesktop rules.
    if (v && *v == '/') {
        base = v;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') return {};
        base = fs::path(home) / fallback;
    }
    const fs::path folder = base / "pellorin";
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) return {};
    return folder.string();
}

} // namespace

CUploadSettings::CUploadSettings() : m_storage(kBanner) {
    CIniPartition& emails = m_storage.AddPartition(kUploadEmailSection);
    emails.AddItem("m_arrEMails", &m_arrEMails);
    emails.AddItem("m_strLastEMail", &m_strLastEMail);
    m_storage.AddPartition(kUploadServerSection).AddItem("m_strServer", &m_strServer);
}

void CUploadSettings::RememberEMail(const std::string& email) {
    if (email.find_first_of("\r\n\x01") != std::string::npos) return;
    if (!email.empty()) {
        bool known = false;
        for (const std::string& e : m_arrEMails) known = known || e == email;
        if (!known) m_arrEMails.push_back(email);
    }
    m_strLastEMail = email;
}

std::string UploadConfigPath() {
    const std::string folder = UserFolder("XDG_CONFIG_HOME", ".config");
    return folder.empty() ? folder : folder + "/" + kUploadConfigName;
}

std::string ReceivedPagePath() {
    const std::string folder = UserFolder("XDG_DATA_HOME", ".local/share");
    return folder.empty() ? folder : folder + "/" + kReceivedPageName;
}

std::string MakeUploadTempFolder() {
    const char* t = std::getenv("TMPDIR");
    std::string pattern = (t && *t == '/') ? t : "/tmp";
    if (pattern.back() != '/') pattern += '/';
    pattern += "pellorin-upload-XXXXXX";
    if (!::mkdtemp(pattern.data())) return {};
    return pattern;
}

std::string UploadTempFile(const std::string& folder, int format) {
    return folder + "/utemp48924086719482." + std::string(UploadFormatExtension(format));
}

UploadFileStatus ReadUploadFile(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return UploadFileStatus::Unreadable;
    if (size > kMaxUploadBytes) return UploadFileStatus::TooBig;
    // The size is checked again on reading, in case the file grew meanwhile.
    if (!ReadWholeFile(path, bytes, kMaxUploadBytes)) {
        bytes.clear();
        std::error_code again;
        return fs::file_size(path, again) > kMaxUploadBytes && !again
                   ? UploadFileStatus::TooBig
                   : UploadFileStatus::Unreadable;
    }
    return UploadFileStatus::Ok;
}
