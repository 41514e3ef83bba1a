// "File Associates" driven as a user would, against temporary XDG folders and
// the desktop's own MIME database.

#include "../app_ui/ui_test_util.h"
#include "../shell/shell_test_util.h"
#include "app/ui/pellorin_dlg.h"
#include "shell/mimeapps_list.h"
#include "shell/ui/file_associates_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace shell_test;

QApplication& App() {
    static int argc = 1;
    static char name[] = "shell_ui_tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        QStandardPaths::setTestModeEnabled(true); // keep the user's settings out of it
        return new QApplication(argc, argv);
    }();
    return *app;
}

enum Box { kBmp, kJpg, kGif, kPng, kTif, kTga, kPsd };

class FileAssociates : public ::testing::Test {
protected:
    ScratchDir dir;
    ScopedEnv configHome{"XDG_CONFIG_HOME", dir.Path("config")};
    ScopedEnv dataHome{"XDG_DATA_HOME", dir.Path("data")};
    ScopedEnv configDirs{"XDG_CONFIG_DIRS", dir.Path("etc")};
    // The system folders stay, so that the MIME database is the desktop's.
    ScopedEnv dataDirs{"XDG_DATA_DIRS", dir.Path("usr") + ":/usr/local/share:/usr/share"};
    ScopedEnv desktop{"XDG_CURRENT_DESKTOP", ""};
    WasAssociatedFlags flags;

    void SetUp() override { App(); }

    std::string ListPath() const { return dir.Path("config/mimeapps.list"); }
    std::string List() const { return ReadFile(ListPath()); }
    std::string EntryPath() const { return dir.Path("data/applications/pellorin.desktop"); }
    static std::string Type(const char* ext) { return MimeTypeOfExtension(ext); }

    // Opens the dialog, lets `change` set the boxes, then presses the button.
    void Run(const std::function<void(CFileAssociatesDlg&)>& change, const char* button = "ok") {
        CFileAssociatesDlg dlg(nullptr, flags);
        dlg.show();
        change(dlg);
        auto* b = dlg.findChild<QPushButton*>(button);
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
        EXPECT_FALSE(dlg.isVisible());
    }
    std::array<bool, kAssociationBoxCount> Shown() {
        std::array<bool, kAssociationBoxCount> out{};
        CFileAssociatesDlg dlg(nullptr, flags);
        for (int i = 0; i < kAssociationBoxCount; ++i) out[size_t(i)] = dlg.Box(i)->isChecked();
        return out;
    }
};

TEST_F(FileAssociates, MainWindowButtonOpensTheDialog) {
    CPellorinDlg main;
    QPushButton* button = nullptr;
    for (QPushButton* b : main.findChildren<QPushButton*>())
        if (b->text() == "File Associates...") button = b;
    ASSERT_NE(button, nullptr);
    QString title;
    WithNextModal<CFileAssociatesDlg>([&](CFileAssociatesDlg* dlg) {
        title = dlg->windowTitle();
        dlg->reject();
    });
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(title, "File Associates");
    EXPECT_FALSE(Exists(EntryPath())); // Cancel wrote nothing
}

TEST_F(FileAssociates, DialogTextsAndTheDatabasesTypes) {
    CFileAssociatesDlg dlg(nullptr, flags);
    EXPECT_EQ(dlg.windowTitle(), "File Associates");
    const char* const texts[] = {"*.bmp",        "*.jpg",        "*.gif",       "*.png",
                                 "*.tif, *tiff", "*.tga, targa", "*.psd, *.pdd"};
    for (int i = 0; i < kAssociationBoxCount; ++i) EXPECT_EQ(dlg.Box(i)->text(), texts[i]);
    EXPECT_NE(dlg.findChild<QPushButton*>("ok"), nullptr);
    EXPECT_NE(dlg.findChild<QPushButton*>("cancel"), nullptr);

    EXPECT_EQ(Type(".jpg"), "image/jpeg");
    EXPECT_EQ(Type(".png"), "image/png");
    EXPECT_EQ(Type(".tiff"), "image/tiff");
    EXPECT_EQ(Type(".tif"), "image/tiff");
    // Extensions the database may not know: whatever it says, never the
    // catch-all type of unknown files.
    for (const char* ext : {".targa", ".pdd", ".tga", ".psd", ".nonsense-ext"}) {
        const std::string t = Type(ext);
        EXPECT_NE(t, "application/octet-stream") << ext;
        if (!t.empty()) {
            EXPECT_TRUE(t.starts_with("image/")) << ext << " " << t;
        }
    }
    EXPECT_EQ(Type(".nonsense-ext"), "");
}

TEST_F(FileAssociates, AnotherProgramOwningJpgStaysUncheckedAndOkLeavesIt) {
    InstallEntry(dir.Path("usr/applications"), "viewer.desktop");
    const std::string list = "[Default Applications]\nimage/jpeg=viewer.desktop;\n";
    WriteFile(ListPath(), list);
    struct stat before {};
    ASSERT_EQ(::stat(ListPath().c_str(), &before), 0);

    Run([](CFileAssociatesDlg& dlg) { EXPECT_FALSE(dlg.Box(kJpg)->isChecked()); });
    EXPECT_FALSE(flags.box[kJpg]);
    EXPECT_EQ(List(), list);
    struct stat after {};
    ASSERT_EQ(::stat(ListPath().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the list was rewritten although nothing changed";
}

TEST_F(FileAssociates, UncheckingRemovesOnlyOurDefaults) {
    InstallEntry(dir.Path("usr/applications"), "viewer.desktop");
    Run([](CFileAssociatesDlg& dlg) {
        dlg.Box(kPng)->setChecked(true);
        dlg.Box(kBmp)->setChecked(true);
        dlg.Box(kGif)->setChecked(true);
    });
    Run([&](CFileAssociatesDlg& dlg) {
        EXPECT_TRUE(dlg.Box(kPng)->isChecked() && dlg.Box(kBmp)->isChecked() &&
                    dlg.Box(kGif)->isChecked());
        EXPECT_TRUE(flags.box[kPng] && flags.box[kBmp] && flags.box[kGif]);
        // While the dialog is open another program becomes the default for
        // gif, and a fallback behind us for png.
        CMimeAppsList list(List());
        list.RemoveDefault(Type(".gif"), "pellorin.desktop");
        list.SetDefault(Type(".gif"), "viewer.desktop");
        list.SetDefault(Type(".png"), "viewer.desktop");
        list.SetDefault(Type(".png"), "pellorin.desktop");
        WriteFile(ListPath(), list.Bytes());
        dlg.Box(kPng)->setChecked(false);
        dlg.Box(kGif)->setChecked(false);
    });
    const CMimeAppsList after(List());
    EXPECT_EQ(after.Defaults(Type(".png")), std::vector<std::string>{"viewer.desktop"});
    EXPECT_EQ(after.Defaults(Type(".gif")), std::vector<std::string>{"viewer.desktop"});
    EXPECT_EQ(after.Defaults(Type(".bmp")), std::vector<std::string>{"pellorin.desktop"});
    const auto shown = Shown();
    EXPECT_FALSE(shown[kPng] || shown[kGif]);
    EXPECT_TRUE(shown[kBmp]);
}

TEST_F(FileAssociates, TifBoxWritesTifAndTiff) {
    Run([](CFileAssociatesDlg& dlg) { dlg.Box(kTif)->setChecked(true); });
    const CMimeAppsList list(List());
    for (const char* ext : {".tif", ".tiff"})
        EXPECT_EQ(list.Defaults(Type(ext)), std::vector<std::string>{"pellorin.desktop"}) << ext;
    EXPECT_TRUE(Shown()[kTif]);

    // tga and psd write what the database knows and nothing for what it does not.
    Run([](CFileAssociatesDlg& dlg) {
        dlg.Box(kTga)->setChecked(true);
        dlg.Box(kPsd)->setChecked(true);
    });
    const std::string bytes = List();
    EXPECT_EQ(bytes.find("application/octet-stream"), std::string::npos);
    for (const char* ext : {".tga", ".targa", ".psd", ".pdd"}) {
        if (Type(ext).empty()) continue;
        EXPECT_EQ(CMimeAppsList(bytes).Defaults(Type(ext)),
                  std::vector<std::string>{"pellorin.desktop"})
            << ext;
    }
}

TEST_F(FileAssociates, EntryIsRewrittenOnEveryOkAndCancelChangesNothing) {
    Run([](CFileAssociatesDlg&) {});
    EXPECT_FALSE(Exists(ListPath()));
    const std::string entry = ReadFile(EntryPath());
    const std::string program =
        QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    EXPECT_NE(entry.find("\nExec=\"" + program + "\" %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon="), std::string::npos);
    for (const char* ext : {".png", ".jpg", ".bmp", ".gif", ".tif"})
        EXPECT_NE(entry.find(Type(ext) + ";"), std::string::npos) << ext;

    WriteFile(EntryPath(), "[Desktop Entry]\nExec=/somewhere/else\n");
    Run(
        [](CFileAssociatesDlg& dlg) {
            for (int i = 0; i < kAssociationBoxCount; ++i) dlg.Box(i)->setChecked(true);
        },
        "cancel");
    EXPECT_EQ(ReadFile(EntryPath()), "[Desktop Entry]\nExec=/somewhere/else\n");
    EXPECT_FALSE(Exists(ListPath()));

    Run([](CFileAssociatesDlg&) {});
    EXPECT_EQ(ReadFile(EntryPath()), entry);
    EXPECT_FALSE(Exists(ListPath()));
}

TEST_F(FileAssociates, OtherProgramsLinesSurviveByteForByte) {
    const std::string original = "# Written by hand \xe2\x80\x94 keep\r\n"
                                 "[Default Applications]\r\n"
                                 "text/plain = gedit.desktop;\r\n"
                                 "x-scheme-handler/https=firefox.desktop\r\n"
                                 "\r\n"
                                 "[Added Associations]\r\n"
                                 "image/png=viewer.desktop;paint.desktop;\r\n"
                                 "; not a comment by the rules, but someone's line\r\n"
                                 "[Removed Associations]\r\n"
                                 "image/jpeg=paint.desktop;\r\n"
                                 "[X-Vendor Extension]\r\n"
                                 "Key[de]=Wert\r\n"
                                 "trailing line without end";
    WriteFile(ListPath(), original);
    Run([](CFileAssociatesDlg& dlg) {
        for (int i = 0; i < kAssociationBoxCount; ++i) dlg.Box(i)->setChecked(true);
    });
    // Every original line is still there, in order; only our lines were added.
    const std::string all = List();
    size_t at = 0;
    size_t start = 0;
    while (start < original.size()) {
        size_t end = original.find("\r\n", start);
        end = end == std::string::npos ? original.size() : end;
        const std::string line = original.substr(start, end - start);
        const size_t found = all.find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found + line.size();
        start = end + 2;
    }
    EXPECT_EQ(CMimeAppsList(all).Defaults(Type(".png")),
              std::vector<std::string>{"pellorin.desktop"});

    Run([](CFileAssociatesDlg& dlg) {
        for (int i = 0; i < kAssociationBoxCount; ++i) dlg.Box(i)->setChecked(false);
    });
    EXPECT_EQ(List(), original);
}

TEST_F(FileAssociates, AConfigFolderThatCannotBeWrittenGivesTheMessage) {
    // A path below a regular file cannot be written even by root.
    WriteFile(dir.Path("plainfile"), "x");
    ScopedEnv blocked("XDG_CONFIG_HOME", dir.Path("plainfile/config"));
    QString title, text;
    WithNextModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    Run([](CFileAssociatesDlg& dlg) { dlg.Box(kPng)->setChecked(true); });
    EXPECT_EQ(title, "Error");
    EXPECT_TRUE(text.contains(QString::fromStdString(dir.Path("plainfile/config"))))
        << text.toStdString();
    // The entry still went where it could.
    EXPECT_TRUE(Exists(EntryPath()));
}

// The same with a folder that is read-only by its permissions: the dialog runs
// as an unprivileged user (dropped to from root) in a program of its own.
TEST_F(FileAssociates, AReadOnlyConfigFolderGivesTheMessage) {
    const std::string list = "[Default Applications]\nimage/jpeg=viewer.desktop;\n";
    WriteFile(ListPath(), list);
    ::chmod(ListPath().c_str(), 0644);
    std::filesystem::create_directories(dir.Path("data"));
    std::filesystem::create_directories(dir.Path("home"));
    ::chmod(dir.Path("data").c_str(), 0777);
    ::chmod(dir.Path("home").c_str(), 0777);
    ::chmod(dir.Path("config").c_str(), 0555);
    ScopedEnv home("HOME", dir.Path("home"));

    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(20);
        if (::access(dir.Path("config").c_str(), W_OK) == 0) ::_exit(21); // still writable
        const std::string runtime = dir.Path("home/run-") + std::to_string(::getuid());
        ::mkdir(runtime.c_str(), 0700);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ::execl(PELLORIN_ASSOCIATES_CHILD, PELLORIN_ASSOCIATES_CHILD, nullptr);
        ::_exit(22);
    }
    ::close(out[1]);
    std::string printed;
    char buf[512];
    ssize_t n;
    while ((n = ::read(out[0], buf, sizeof buf)) > 0) printed.append(buf, size_t(n));
    ::close(out[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "20: no unprivileged user, 21: folder writable, "
                                         "22: helper not started";
    EXPECT_TRUE(printed.starts_with("Error\n")) << printed;
    EXPECT_NE(printed.find("cannot write " + ListPath() + ": permission denied"), std::string::npos)
        << printed;
    EXPECT_EQ(List(), list);
}

} // namespace
