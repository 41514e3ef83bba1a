#include "app/ui/update_check.h"

#include "varbeck/varbeck.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

namespace {

// Called on the check's own thread: the box must be shown by the
// user-interface thread, so the question is posted there and the check waits
// for the answer. Should the application go away first, the posted call is
// dropped, the wait ends and the answer is No.
int32_t AskOnUiThread(void*, const char* title, const char* text) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return 0;
    const QString caption = QString::fromUtf8(title);
    const QString question = QString::fromUtf8(text);
    bool yes = false;
    QMetaObject::invokeMethod(
        app,
        [&] {
            // Owned by no window, like the question of a program of its own.
            QMessageBox box(QMessageBox::Question, caption, question,
                            QMessageBox::Yes | QMessageBox::No);
            yes = box.exec() == QMessageBox::Yes;
        },
        Qt::BlockingQueuedConnection);
    return yes ? 1 : 0;
}

void OpenOnUiThread(void*, const char* address) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    // Like the shell's "open": an address or a path, whatever the file names.
    const QUrl url = QUrl::fromUserInput(QString::fromUtf8(address));
    QMetaObject::invokeMethod(
        app, [url] { QDesktopServices::openUrl(url); }, Qt::QueuedConnection);
}

} // namespace

QString UpdateAddress(const QString& host) {
    return "http://" + host + "/updates/pellorin.info";
}

void InstallUpdateHandlers() {
    VarbeckSetHandlers(&AskOnUiThread, &OpenOnUiThread, nullptr);
}

bool StartUpdateCheck(QSettings& settings) {
    const QString host = settings.value("Settings/UpdateHost").toString().trimmed();
    if (host.isEmpty()) return false;
    InstallUpdateHandlers();
    return Update(UpdateAddress(host).toUtf8().constData(), kUpdateCheckVersion) == 1;
}
