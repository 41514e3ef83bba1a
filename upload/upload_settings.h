#pragma once
// What the upload dialog remembers in "config.ini": the e-mail addresses used
// (in the order first used), the last one that uploaded successfully, and the
// upload server. The file has the same format as the configuration files.

#include "app/config_storage.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kUploadConfigName = "config.ini";
inline constexpr const char* kUploadEmailSection = "User emails";
inline constexpr const char* kUploadServerSection = "Upload";

class CUploadSettings {
public:
    CUploadSettings();
    CUploadSettings(const CUploadSettings&) = delete; // the storage binds our fields
    CUploadSettings& operator=(const CUploadSettings&) = delete;

    bool Load(const std::string& path) { return m_storage.Load(path); }
    bool Save(const std::string& path) const { return m_storage.Save(path); }

    // After a successful upload: a new non-empty address joins the list, and the
    // address (even an empty one) becomes the last one. An address with a line
    // break or the list separator cannot be stored and is not remembered.
    void RememberEMail(const std::string& email);

    std::vector<std::string> m_arrEMails;
    std::string m_strLastEMail;
    std::string m_strServer;

private:
    CFileStorage m_storage;
};

// Where the upload writes: "config.ini" in the user's config folder
// ($XDG_CONFIG_HOME/pellorin, default ~/.config/pellorin), the answer page
// "_receive.html" in the user's data folder ($XDG_DATA_HOME/pellorin, default
// ~/.local/share/pellorin). The folders are made when missing; empty when that
// fails.
std::string UploadConfigPath();
std::string ReceivedPagePath();
inline constexpr const char* kReceivedPageName = "_receive.html";

// A new folder of our own in the temporary folder ($TMPDIR, default /tmp) for
// the picture being uploaded; empty when it cannot be made.
std::string MakeUploadTempFolder();
// The picture's temporary name in that folder for a format index.
std::string UploadTempFile(const std::string& folder, int format);

enum class UploadFileStatus { Ok, Unreadable, TooBig };
// Reads the saved picture; one larger than kMaxUploadBytes is refused unread.
UploadFileStatus ReadUploadFile(const std::string& path, std::vector<uint8_t>& bytes);
