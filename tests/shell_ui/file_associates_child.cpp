// Opens "File Associates", checks "*.png", presses OK and prints the text of
// the message box that follows (nothing when none came). Run by the dialog
// tests as another user, so that folder permissions apply even under root.

#include "shell/ui/file_associates_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WasAssociatedFlags flags;
    CFileAssociatesDlg dlg(nullptr, flags);
    dlg.Box(3)->setChecked(true);
    QString shown;
    QTimer poll;
    int tries = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->windowTitle() + "\n" + box->text();
            box->accept();
        } else if (++tries > 300) {
            if (QWidget* w = QApplication::activeModalWidget()) w->close();
        }
    });
    poll.start(10);
    dlg.accept();
    std::fputs(shown.toLocal8Bit().constData(), stdout);
    return dlg.result() == QDialog::Accepted ? 0 : 1;
}
