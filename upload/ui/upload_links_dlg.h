#pragma once
// "Image has been uploaded!": the host's answer page and its two links, each
// with a button to copy it to the clipboard and one to open it in the browser.

#include <QDialog>
#include <QString>

class QPushButton;
class QTextBrowser;

class CUploadLinksDlg : public QDialog {
    Q_OBJECT
public:
    CUploadLinksDlg(const QString& imageLink, const QString& albumLink, const QString& pagePath,
                    QWidget* parent = nullptr);

    QTextBrowser* Page() const { return m_page; }

    void CopyLink(const QString& link);
    // Only web addresses are opened: the page comes from a server we do not
    // control and must not make us open local files or run programs.
    void OpenLink(const QString& link);

private:
    QTextBrowser* m_page = nullptr;
};
