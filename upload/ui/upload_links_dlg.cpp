#include "upload/ui/upload_links_dlg.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

CUploadLinksDlg::CUploadLinksDlg(const QString& imageLink, const QString& albumLink,
                                 const QString& pagePath, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Image has been uploaded!");
    auto* layout = new QVBoxLayout(this);
    m_page = new QTextBrowser(this);
    // Links in the page open in the user's browser, not inside this view.
    m_page->setOpenExternalLinks(true);
    if (!pagePath.isEmpty()) m_page->setSource(QUrl::fromLocalFile(pagePath));
    layout->addWidget(m_page, 1);

    auto* grid = new QGridLayout;
    auto add = [&](const QString& text, int row, int col, const QString& link, auto fn) {
        auto* b = new QPushButton(text, this);
        b->setEnabled(!link.isEmpty());
        connect(b, &QPushButton::clicked, this, [this, link, fn] { (this->*fn)(link); });
        grid->addWidget(b, row, col);
    };
    add("Copy Image Link to Clipboard", 0, 0, imageLink, &CUploadLinksDlg::CopyLink);
    add("Copy Album Link to Clipboard", 1, 0, albumLink, &CUploadLinksDlg::CopyLink);
    add("Open Image Link in Browser...", 0, 1, imageLink, &CUploadLinksDlg::OpenLink);
    add("Open Album Link in Browser...", 1, 1, albumLink, &CUploadLinksDlg::OpenLink);
    layout->addLayout(grid);
    auto* close = new QPushButton("Close", this);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);
    layout->addLayout(closeRow);
    resize(640, 480);
}

void CUploadLinksDlg::CopyLink(const QString& link) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard) {
        QMessageBox::warning(this, "Error", "Error buffer open");
    } else {
        clipboard->setText(link);
    }
    QMessageBox::information(this, "Pellorin", "The URL of image is in Clipboard:\n" + link);
}

void CUploadLinksDlg::OpenLink(const QString& link) {
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https")) {
        QMessageBox::warning(this, "Error", "The link is not a web address:\n" + link);
        return;
    }
    QDesktopServices::openUrl(url);
}
