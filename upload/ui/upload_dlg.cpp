#include "upload/ui/upload_dlg.h"

#include "app/safe_save.h"
#include "upload/ui/upload_links_dlg.h"
#include "upload/ui/upload_process_dlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace {

constexpr const char* kServerHelp = "a host name, host:port or https://host";

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove(path, ec);
}

} // namespace

CUploadDlg::CUploadDlg(UploadPictureSaver save, QWidget* parent)
    : QDialog(parent), m_save(std::move(save)) {
    setWindowTitle("Upload to External Server");
    m_configPath = UploadConfigPath();
    if (!m_configPath.empty()) m_settings.Load(m_configPath);

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_server = new QLineEdit(Q(m_settings.m_strServer), this);
    m_server->setObjectName("server");
    m_server->setPlaceholderText(kServerHelp);
    form->addRow("Upload server:", m_server);
    m_description = new QLineEdit(this);
    m_description->setObjectName("description");
    form->addRow("Description:", m_description);
    m_email = new QComboBox(this);
    m_email->setObjectName("email");
    m_email->setEditable(true);
    for (const std::string& e : m_settings.m_arrEMails) m_email->addItem(Q(e));
    m_email->setEditText(Q(m_settings.m_strLastEMail));
    form->addRow("E-mail:", m_email);
    layout->addLayout(form);

    auto* formats = new QGroupBox("Format", this);
    auto* grid = new QGridLayout(formats);
    for (int i = 0; i < kUploadFormatCount; ++i) {
        m_formats[i] = new QRadioButton(
            "." + QString::fromLatin1(UploadFormatExtension(i).data(), 3), formats);
        grid->addWidget(m_formats[i], i / 4, i % 4);
    }
    m_formats[kDefaultUploadFormat]->setChecked(true);
    layout->addWidget(formats);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* upload = buttons->addButton("Upload", QDialogButtonBox::ActionRole);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    connect(upload, &QPushButton::clicked, this, &CUploadDlg::Upload);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    upload->setDefault(true);
    // Without a server there is nothing to upload to: the user is asked first.
    if (m_settings.m_strServer.empty()) m_server->setFocus();
}

CUploadDlg::~CUploadDlg() {
    if (!m_tempFolder.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_tempFolder, ec);
    }
}

int CUploadDlg::Format() const {
    for (int i = 0; i < kUploadFormatCount; ++i)
        if (m_formats[i]->isChecked()) return i;
    return kDefaultUploadFormat;
}

void CUploadDlg::Message(const QString& text, bool error) {
    if (error)
        QMessageBox::warning(this, "Error", text);
    else
        QMessageBox::information(this, "Pellorin", text);
}

void CUploadDlg::Upload() {
    const QString serverText = m_server->text().trimmed();
    if (serverText.isEmpty()) {
        Message(QString("Please enter the upload server (") + kServerHelp + ").");
        m_server->setFocus();
        return;
    }
    const auto server = ParseUploadServer(serverText.toStdString());
    if (!server) {
        Message("\"" + serverText + "\" is not an upload server (" + kServerHelp + ").");
        m_server->setFocus();
        return;
    }
    if (serverText.toStdString() != m_settings.m_strServer) {
        // Remembered at once, so a failed attempt does not lose it.
        m_settings.m_strServer = serverText.toStdString();
        if (!m_configPath.empty()) m_settings.Save(m_configPath);
    }

    if (m_tempFolder.empty()) m_tempFolder = MakeUploadTempFolder();
    if (m_tempFolder.empty()) {
        Message("Error with saving temporary upload file");
        reject();
        return;
    }
    const int format = Format();
    m_tempFile = UploadTempFile(m_tempFolder, format);
    std::string why;
    if (!m_save || !m_save(m_tempFile, &why)) {
        RemoveFile(m_tempFile);
        Message("Error with saving temporary upload file" + (why.empty() ? "" : "\n" + Q(why)));
        return;
    }
    std::vector<uint8_t> bytes;
    switch (ReadUploadFile(m_tempFile, bytes)) {
    case UploadFileStatus::Ok:
        break;
    case UploadFileStatus::TooBig:
        RemoveFile(m_tempFile);
        Message("The File is too big (more than 8M)!");
        reject();
        return;
    case UploadFileStatus::Unreadable:
        RemoveFile(m_tempFile);
        Message("Error with saving temporary upload file");
        return;
    }

    const std::string email = m_email->currentText().toStdString();
    UploadRequest request = BuildUploadRequest(
        server->hostHeader, m_description->text().toStdString(), email, format, std::move(bytes));
    CUploadProcessDlg progress(std::move(request), *server, m_options, this);
    progress.exec();
    if (progress.Cancelled()) {
        // The picture stays for the next try (it goes with this dialog).
        Message("Uploading aborted.", false);
        return;
    }
    RemoveFile(m_tempFile);
    const UploadOutcome& outcome = progress.Outcome();
    if (outcome.result == kUploadAborted) {
        Message("Loading aborted.", false);
        return;
    }
    if (outcome.result != kUploadOk) {
        Message(Q(outcome.message));
        return;
    }

    m_receivedPage = ReceivedPagePath();
    if (m_receivedPage.empty() ||
        !SaveFileSafely(m_receivedPage, outcome.answer.data(), outcome.answer.size())) {
        Message("Unable to save the server's answer to " +
                (m_receivedPage.empty() ? QString(kReceivedPageName) : Q(m_receivedPage)));
        m_receivedPage.clear();
    }
    m_imageLink = ExtractLink(outcome.answer, kImageLinkKey);
    m_albumLink = ExtractLink(outcome.answer, kAlbumLinkKey);
    m_settings.RememberEMail(email);
    if (!m_configPath.empty()) m_settings.Save(m_configPath);
    accept();
}

void RunImageUpload(QWidget* parent, UploadPictureSaver save) {
    CUploadDlg dlg(std::move(save), parent);
    if (dlg.exec() != QDialog::Accepted) return;
    CUploadLinksDlg links(Q(dlg.ImageLink()), Q(dlg.AlbumLink()), Q(dlg.ReceivedPage()), parent);
    links.exec();
}
