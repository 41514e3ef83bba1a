// The main window shown offscreen, with a private folder for the files a test
// makes, for the tests that drive the window as a user would.
#pragma once

#include "app/ui/pellorin_dlg.h"

#include <QApplication>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace window_test {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        QStandardPaths::setTestModeEnabled(true); // keep the user's settings out of it
        return new QApplication(argc, argv);
    }();
    return *app;
}

class WindowTest : public ::testing::Test {
protected:
    std::filesystem::path dir;
    std::unique_ptr<CPellorinDlg> dlg;

    void SetUp() override {
        App();
        dir = std::filesystem::temp_directory_path() /
              ("pellorin-window-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        dlg = std::make_unique<CPellorinDlg>();
        dlg->resize(1200, 700);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        QApplication::processEvents();
    }
    void TearDown() override {
        dlg.reset();
        std::filesystem::remove_all(dir);
    }
    std::string Path(const std::string& n) const { return (dir / n).string(); }
    QString QPath(const std::string& n) const { return QString::fromStdString(Path(n)); }
    QPushButton* Button(const QString& text) const {
        for (QPushButton* b : dlg->findChildren<QPushButton*>())
            if (b->text() == text) return b;
        return nullptr;
    }
    static void Settle() {
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }
};

} // namespace window_test
