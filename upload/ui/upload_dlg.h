#pragma once
// "Upload to External Server": the picture's format, a description and an
// e-mail address (remembered in "config.ini" with the upload server), then
// Upload: the processed picture is saved to a temporary file, sent while
// "Uploading" shows the progress, and the host's answer page is saved as
// "_receive.html" with its image and album links taken out. A failed attempt
// says why and leaves the dialog open for another try.

#include "upload/upload_sender.h"
#include "upload/upload_settings.h"

#include <QDialog>

#include <functional>
#include <string>

class QComboBox;
class QLineEdit;
class QRadioButton;

// Writes the processed picture to path in the format of its extension; on
// failure returns false with the reason in message.
using UploadPictureSaver = std::function<bool(const std::string& path, std::string* message)>;

class CUploadDlg : public QDialog {
    Q_OBJECT
public:
    explicit CUploadDlg(UploadPictureSaver save, QWidget* parent = nullptr);
    ~CUploadDlg() override; // removes the temporary folder

    // Tests replace the name lookup, the time limits and the trusted
    // certificates here.
    void SetUploadOptions(UploadOptions options) { m_options = std::move(options); }

    // The "Upload" button.
    void Upload();

    int Format() const;
    const std::string& ImageLink() const { return m_imageLink; }
    const std::string& AlbumLink() const { return m_albumLink; }
    const std::string& ReceivedPage() const { return m_receivedPage; }
    // The temporary picture of the last attempt (it stays after a cancel).
    const std::string& TemporaryFile() const { return m_tempFile; }
    const CUploadSettings& Settings() const { return m_settings; }

private:
    void Message(const QString& text, bool error = true);

    UploadPictureSaver m_save;
    UploadOptions m_options;
    CUploadSettings m_settings;
    std::string m_configPath;
    std::string m_tempFolder;
    std::string m_tempFile;
    std::string m_imageLink, m_albumLink, m_receivedPage;

    QLineEdit* m_server = nullptr;
    QLineEdit* m_description = nullptr;
    QComboBox* m_email = nullptr;
    QRadioButton* m_formats[kUploadFormatCount] = {};
};

// The main window's "Upload Image to External Server....": the upload dialog,
// then, after a successful upload, the links dialog.
void RunImageUpload(QWidget* parent, UploadPictureSaver save);
