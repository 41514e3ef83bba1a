// The desktop side of the update check: the main window starts it from the
// update host setting, the question appears as a box on the user-interface
// thread, and Yes opens the download address through the desktop services.
// The update host is a server of the test on 127.0.0.1.

#include "app/ui/pellorin_dlg.h"
#include "app/ui/update_check.h"
#include "local_server.h"
#include "varbeck/varbeck.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

using varbeck_test::LocalServer;

namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "varbeck_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        QStandardPaths::setTestModeEnabled(true); // keep the user's settings out of it
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace

// Stands in for the desktop's web browser: records the addresses it is asked
// to open.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

namespace {

// What a question box showed, and the button the test pressed.
struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool ownedByNoWindow = false;
    bool onUiThread = false;
};

// Answers every question box that appears with the given button.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer) : m_answer(answer) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Poll(); });
        m_timer.start(10);
    }
    std::vector<SeenBox> seen;

private:
    void Poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box || !box->isVisible() || m_answered.contains(box)) continue;
            m_answered.append(box);
            SeenBox s;
            s.title = box->windowTitle();
            s.text = box->text();
            s.icon = box->icon();
            s.buttons = box->standardButtons();
            s.ownedByNoWindow = box->parentWidget() == nullptr;
            s.onUiThread = box->thread() == QApplication::instance()->thread();
            seen.push_back(s);
            box->button(m_answer)->click();
        }
    }
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    QList<QPointer<QMessageBox>> m_answered;
};

// How the checks ended, told by the library.
struct Outcomes {
    std::mutex mutex;
    std::vector<int32_t> list;
    static void Done(void* self, int32_t outcome) {
        auto* o = static_cast<Outcomes*>(self);
        std::lock_guard<std::mutex> lock(o->mutex);
        o->list.push_back(outcome);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return list.size();
    }
};

class DesktopUpdateCheck : public ::testing::Test {
protected:
    Outcomes outcomes;
    OpenedUrls opened;

    void SetUp() override {
        App();
        varbeck_test::KeepToLoopback();
        QSettings("Quorvel", "Pellorin").clear();
        VarbeckSetDoneHandler(&Outcomes::Done, &outcomes);
        QDesktopServices::setUrlHandler("http", &opened, "open");
    }
    void TearDown() override {
        QDesktopServices::unsetUrlHandler("http");
        VarbeckSetDoneHandler(nullptr, nullptr);
        VarbeckSetHandlers(nullptr, nullptr, nullptr);
        QSettings("Quorvel", "Pellorin").clear();
    }
    static void SetHost(const QString& host) {
        QSettings s("Quorvel", "Pellorin");
        s.setValue("Settings/UpdateHost", host);
        s.sync();
    }
    // Waits, handling events, for the checks to end.
    bool WaitForOutcomes(size_t n) {
        return QTest::qWaitFor([&] { return outcomes.Count() >= n; }, 20000);
    }
};

const char* const kInfo = "6.0\r\nhttp://127.0.0.1:9/pellorin-setup.exe\r\n";

TEST_F(DesktopUpdateCheck, MainWindowAsksAndOpensTheDownloadAddress) {
    LocalServer server([](LocalServer::Connection& c) { c.Send(LocalServer::Answer(kInfo)); });
    SetHost(QString("127.0.0.1:%1").arg(server.Port()));
    BoxAnswerer answerer(QMessageBox::Yes);
    CPellorinDlg dlg;
    ASSERT_TRUE(WaitForOutcomes(1));
    EXPECT_EQ(outcomes.list, std::vector<int32_t>{VARBECK_ACCEPTED});

    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].rfind("GET /updates/pellorin.info HTTP/1.1\r\n", 0), 0u);
    ASSERT_EQ(answerer.seen.size(), 1u);
    const SeenBox& box = answerer.seen[0];
    EXPECT_EQ(box.title, "Varbeck");
    EXPECT_EQ(box.text, "New Version is available.\nDo you want to update?");
    EXPECT_EQ(box.icon, QMessageBox::Question);
    EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(box.ownedByNoWindow);
    EXPECT_TRUE(box.onUiThread);

    // The address opens on the user-interface thread after the answer.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.urls.empty(); }, 5000));
    EXPECT_EQ(opened.urls, std::vector<QUrl>{QUrl("http://127.0.0.1:9/pellorin-setup.exe")});
}

TEST_F(DesktopUpdateCheck, NoOpensNothing) {
    LocalServer server([](LocalServer::Connection& c) { c.Send(LocalServer::Answer(kInfo)); });
    SetHost(QString("127.0.0.1:%1").arg(server.Port()));
    BoxAnswerer answerer(QMessageBox::No);
    CPellorinDlg dlg;
    ASSERT_TRUE(WaitForOutcomes(1));
    EXPECT_EQ(outcomes.list, std::vector<int32_t>{VARBECK_DECLINED});
    EXPECT_EQ(answerer.seen.size(), 1u);
    QTest::qWait(50);
    EXPECT_TRUE(opened.urls.empty());
}

TEST_F(DesktopUpdateCheck, SameVersionShowsNoBox) {
    LocalServer server([](LocalServer::Connection& c) {
        c.Send(LocalServer::Answer("5.9\r\nhttp://127.0.0.1:9/pellorin-setup.exe\r\n"));
    });
    SetHost(QString(" 127.0.0.1:%1 ").arg(server.Port()));
    BoxAnswerer answerer(QMessageBox::Yes);
    CPellorinDlg dlg;
    ASSERT_TRUE(WaitForOutcomes(1));
    EXPECT_EQ(outcomes.list, std::vector<int32_t>{VARBECK_UP_TO_DATE});
    QTest::qWait(50);
    EXPECT_TRUE(answerer.seen.empty());
    EXPECT_TRUE(opened.urls.empty());
}

TEST_F(DesktopUpdateCheck, NoUpdateHostChecksNothing) {
    LocalServer server([](LocalServer::Connection& c) { c.Send(LocalServer::Answer(kInfo)); });
    QSettings settings("Quorvel", "Pellorin");
    EXPECT_FALSE(StartUpdateCheck(settings)) << "no value: the default";
    for (const char* empty : {"", "   "}) {
        SetHost(empty);
        settings.sync();
        EXPECT_FALSE(StartUpdateCheck(settings)) << '"' << empty << '"';
    }
    {
        CPellorinDlg dlg;
        QTest::qWait(300);
    }
    EXPECT_EQ(outcomes.Count(), 0u);
    EXPECT_TRUE(server.Requests().empty());
}

} // namespace

#include "update_check_ui_test.moc"
