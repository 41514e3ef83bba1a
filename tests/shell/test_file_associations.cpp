// Associating, disassociating and reading back against temporary XDG
// folders, with a fixed extension-to-type table standing in for the desktop's
// database.

#include "shell/desktop_tools.h"
#include "shell/file_associations.h"
#include "shell_test_util.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace shell_test;

std::string FakeMime(const std::string& ext) {
    static const std::map<std::string, std::string> kTypes = {
        {".bmp", "image/bmp"},
        {".jpg", "image/jpeg"},
        {".gif", "image/gif"},
        {".png", "image/png"},
        {".tif", "image/tiff"},
        {".tiff", "image/tiff"},
        {".tga", "image/x-tga"},
        {".psd", "image/vnd.adobe.photoshop"},
        {".pcd", "image/x-photo-cd"},
        {".ico", "image/vnd.microsoft.icon"},
        {".bad", "image/png\n[Default Applications]"}};
    const auto it = kTypes.find(ext);
    return it == kTypes.end() ? std::string() : it->second;
}

class Associations : public ::testing::Test {
protected:
    ScratchDir dir;
    XdgDirs dirs;

    void SetUp() override {
        dirs.configHome = dir.Path("config");
        dirs.dataHome = dir.Path("data");
        dirs.configDirs = {dir.Path("etc")};
        dirs.dataDirs = {dir.Path("usr")};
    }
    CFileAssociations Make() const { return CFileAssociations(dirs, FakeMime); }
    std::string List() const { return ReadFile(dirs.UserMimeAppsList()); }
    DesktopEntryInfo Entry() const { return Make().OwnEntry("/opt/pellorin/bin/pellorin"); }
    void InstallOurs() const { InstallEntry(dir.Path("data/applications"), "pellorin.desktop"); }
};

TEST_F(Associations, ReadsTheEffectiveDefaultInLookupOrder) {
    auto a = Make();
    EXPECT_FALSE(a.IsAssociated(".png")); // no list at all
    InstallOurs();
    InstallEntry(dir.Path("usr/applications"), "viewer.desktop");

    // The system's list names us; nothing above it names anything.
    WriteFile(dir.Path("etc/mimeapps.list"),
              "[Default Applications]\nimage/png=pellorin.desktop\n");
    EXPECT_TRUE(a.IsAssociated(".png"));
    // The user's list comes first.
    WriteFile(dirs.UserMimeAppsList(), "[Default Applications]\nimage/png=viewer.desktop\n");
    EXPECT_FALSE(a.IsAssociated(".png"));
    // A program that is not installed is passed over, within the file and
    // then on to the next file.
    WriteFile(dirs.UserMimeAppsList(),
              "[Default Applications]\nimage/png=uninstalled.desktop;pellorin.desktop\n");
    EXPECT_TRUE(a.IsAssociated(".png"));
    WriteFile(dirs.UserMimeAppsList(), "[Default Applications]\nimage/png=uninstalled.desktop\n");
    EXPECT_TRUE(a.IsAssociated(".png"));
    // A desktop's own list outranks the user's generic one.
    dirs.desktops = {"kde"};
    WriteFile(dir.Path("config/kde-mimeapps.list"),
              "[Default Applications]\nimage/png=viewer.desktop\n");
    EXPECT_FALSE(Make().IsAssociated(".png"));
    // Our own entry missing: a default naming us opens nothing.
    std::filesystem::remove(dir.Path("data/applications/pellorin.desktop"));
    EXPECT_FALSE(a.IsAssociated(".png"));
    // Extensions the database does not know are never associated.
    EXPECT_FALSE(a.IsAssociated(".targa"));
    EXPECT_FALSE(a.IsAssociated(".bad"));
}

TEST_F(Associations, AssociateAndDisassociateKeepOtherProgramsDefaults) {
    const std::string original = "# my own notes\n"
                                 "[Added Associations]\n"
                                 "image/png=viewer.desktop;\n"
                                 "\n"
                                 "[Default Applications]\n"
                                 "text/plain=gedit.desktop\n"
                                 "image/png=viewer.desktop;\n"
                                 "\n"
                                 "[Removed Associations]\n"
                                 "image/jpeg=paint.desktop;\n";
    WriteFile(dirs.UserMimeAppsList(), original);
    InstallOurs();
    auto a = Make();
    struct stat before {};
    ASSERT_EQ(::stat(dirs.UserMimeAppsList().c_str(), &before), 0);
    ASSERT_TRUE(a.Associate(".png"));
    // Replaced by a new file renamed over it, not rewritten in place, and no
    // temporary file is left behind.
    struct stat after {};
    ASSERT_EQ(::stat(dirs.UserMimeAppsList().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dirs.configHome),
                            std::filesystem::directory_iterator()),
              1);
    ASSERT_TRUE(a.Associate(".tiff"));
    EXPECT_TRUE(a.IsAssociated(".png"));
    EXPECT_TRUE(a.IsAssociated(".tif"));
    EXPECT_EQ(List(), "# my own notes\n"
                      "[Added Associations]\n"
                      "image/png=viewer.desktop;\n"
                      "\n"
                      "[Default Applications]\n"
                      "text/plain=gedit.desktop\n"
                      "image/png=pellorin.desktop;viewer.desktop;\n"
                      "image/tiff=pellorin.desktop;\n"
                      "\n"
                      "[Removed Associations]\n"
                      "image/jpeg=paint.desktop;\n");
    ASSERT_TRUE(a.Disassociate(".tif"));
    ASSERT_TRUE(a.Disassociate(".png"));
    EXPECT_EQ(List(), original);
    // Unknown extensions change nothing and are no failure.
    EXPECT_TRUE(a.Associate(".targa"));
    EXPECT_TRUE(a.Associate(".bad"));
    EXPECT_EQ(List(), original);
}

TEST_F(Associations, OkOrderFlagsAndTheEntryOnEveryOk) {
    auto a = Make();
    WasAssociatedFlags flags;
    std::array<bool, kAssociationBoxCount> checked{};

    // Nothing checked, nothing was associated: only the entry is written.
    EXPECT_TRUE(a.ApplyBoxes(checked, flags, Entry()).empty());
    EXPECT_FALSE(Exists(dirs.UserMimeAppsList()));
    const std::string entryPath = dir.Path("data/applications/pellorin.desktop");
    const std::string entry = ReadFile(entryPath);
    EXPECT_NE(entry.find("\nExec=\"/opt/pellorin/bin/pellorin\" %f\n"), std::string::npos);
    // Every box's type once, then the other pictures the program opens.
    EXPECT_NE(entry.find("\nMimeType=image/bmp;image/jpeg;image/gif;image/png;image/tiff;"
                         "image/x-tga;image/vnd.adobe.photoshop;image/x-photo-cd;"
                         "image/vnd.microsoft.icon;\n"),
              std::string::npos);
    WriteFile(entryPath, "stale");
    EXPECT_TRUE(a.ApplyBoxes(checked, flags, Entry()).empty());
    EXPECT_EQ(ReadFile(entryPath), entry);

    // Opening sets the flags of associated boxes only, and never clears one.
    checked[1] = checked[4] = true; // jpg, tif
    EXPECT_TRUE(a.ApplyBoxes(checked, flags, Entry()).empty());
    auto shown = a.ReadBoxes(flags);
    EXPECT_EQ(shown, checked);
    EXPECT_TRUE(flags.box[1] && flags.box[4]);
    EXPECT_FALSE(flags.box[0] || flags.box[2] || flags.box[3] || flags.box[5] || flags.box[6]);

    // Another program takes .jpg; unchecked with its flag set, OK leaves it.
    WriteFile(dirs.UserMimeAppsList(), "[Default Applications]\nimage/jpeg=viewer.desktop;\n"
                                       "image/tiff=pellorin.desktop;\n");
    InstallEntry(dir.Path("usr/applications"), "viewer.desktop");
    shown = a.ReadBoxes(flags);
    EXPECT_FALSE(shown[1]);
    EXPECT_TRUE(flags.box[1]);
    checked = shown;
    checked[4] = false;
    EXPECT_TRUE(a.ApplyBoxes(checked, flags, Entry()).empty());
    EXPECT_EQ(List(), "[Default Applications]\nimage/jpeg=viewer.desktop;\n");
}

TEST_F(Associations, OnlyTheFirstExtensionOfABoxDecidesItsMark) {
    // A database where .tiff has a type of its own.
    CFileAssociations a(dirs, [](const std::string& ext) {
        return ext == ".tiff" ? std::string("image/x-tiff-other") : FakeMime(ext);
    });
    InstallOurs();
    WasAssociatedFlags flags;
    std::array<bool, kAssociationBoxCount> checked{};
    checked[4] = true;
    EXPECT_TRUE(a.ApplyBoxes(checked, flags, a.OwnEntry("/usr/bin/pellorin")).empty());
    EXPECT_TRUE(a.IsAssociated(".tif"));
    EXPECT_TRUE(a.IsAssociated(".tiff"));
    // The entry lists both types, so both defaults name a program that opens them.
    EXPECT_NE(ReadFile(dir.Path("data/applications/pellorin.desktop"))
                  .find("image/tiff;image/x-tiff-other;"),
              std::string::npos);

    ASSERT_TRUE(a.Disassociate(".tiff"));
    EXPECT_TRUE(a.ReadBoxes(flags)[4]);
    ASSERT_TRUE(a.Associate(".tiff"));
    ASSERT_TRUE(a.Disassociate(".tif"));
    EXPECT_FALSE(a.ReadBoxes(flags)[4]);
}

TEST_F(Associations, AConfigFolderThatCannotBeMadeIsReported) {
    WriteFile(dir.Path("file"), "not a folder");
    dirs.configHome = dir.Path("file/config");
    dirs.dataHome = dir.Path("file/data");
    WasAssociatedFlags flags;
    std::array<bool, kAssociationBoxCount> checked{};
    checked[3] = true;
    const auto failures = Make().ApplyBoxes(checked, flags, Entry());
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0], dir.Path("file/data") + ": Not a directory");
    EXPECT_EQ(failures[1], dir.Path("file/config") + ": Not a directory");
}

// Runs fn in a child process as an unprivileged user (when running as root,
// where permission bits would not stop anything) and returns what it wrote.
// The child fails loudly if `blocked` (path, access mode) is still allowed.
std::string RunUnprivileged(const std::string& blocked, int mode,
                            const std::function<std::string()>& fn) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        std::string out;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            out = "could not drop privileges";
        else if (::access(blocked.c_str(), mode) == 0)
            out = blocked + " is still open to the test";
        else
            out = fn();
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) out.append(buf, size_t(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST_F(Associations, AReadOnlyConfigFolderIsReportedAndLeftAlone) {
    const std::string list = "[Default Applications]\nimage/png=viewer.desktop;\n";
    WriteFile(dirs.UserMimeAppsList(), list);
    ::chmod(dirs.UserMimeAppsList().c_str(), 0644);
    std::filesystem::create_directories(dirs.dataHome);
    ::chmod(dirs.dataHome.c_str(), 0777);
    ::chmod(dirs.configHome.c_str(), 0555);
    const std::string got = RunUnprivileged(dirs.configHome, W_OK, [&] {
        WasAssociatedFlags flags;
        std::array<bool, kAssociationBoxCount> checked{};
        checked[3] = true;
        std::string all;
        for (const std::string& f : Make().ApplyBoxes(checked, flags, Entry())) all += f + "|";
        return all;
    });
    EXPECT_EQ(got, "cannot write " + dirs.UserMimeAppsList() + ": permission denied|");
    EXPECT_EQ(List(), list);
    // The entry went where it could.
    EXPECT_TRUE(Exists(dir.Path("data/applications/pellorin.desktop")));
}

TEST_F(Associations, AListThatCannotBeReadIsNotReplaced) {
    // A folder where the list should be.
    std::filesystem::create_directories(dirs.UserMimeAppsList());
    std::string error;
    EXPECT_FALSE(Make().Associate(".png", &error));
    EXPECT_NE(error.find(dirs.UserMimeAppsList()), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dirs.UserMimeAppsList()));
    std::filesystem::remove(dirs.UserMimeAppsList());

    // A list the user cannot read in a folder the user can write: replacing it
    // would be possible, and would lose every other program's defaults.
    const std::string list = "[Default Applications]\nimage/jpeg=viewer.desktop;\n";
    WriteFile(dirs.UserMimeAppsList(), list);
    ::chmod(dirs.configHome.c_str(), 0777);
    ::chmod(dirs.UserMimeAppsList().c_str(), 0200);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(dirs.UserMimeAppsList().c_str(), 65534, 65534), 0);
    }
    const std::string got = RunUnprivileged(dirs.UserMimeAppsList(), R_OK, [&] {
        std::string e;
        return Make().Associate(".png", &e) ? std::string("associated") : e;
    });
    EXPECT_EQ(got, dirs.UserMimeAppsList() + ": cannot be read, so it was left unchanged");
    EXPECT_EQ(List(), list);
}

TEST_F(Associations, DesktopDatabaseIsRefreshedWhereTheToolExists) {
    const std::string bin = dir.Path("bin");
    WriteFile(bin + "/update-desktop-database",
              "#!/bin/sh\necho \"$@\" >> \"" + dir.Path("calls") + "\"\n");
    ::chmod((bin + "/update-desktop-database").c_str(), 0755);
    WasAssociatedFlags flags;
    std::array<bool, kAssociationBoxCount> checked{};
    {
        ScopedEnv path("PATH", bin);
        EXPECT_TRUE(Make().ApplyBoxes(checked, flags, Entry()).empty());
    }
    EXPECT_EQ(ReadFile(dir.Path("calls")), "-q " + dirs.UserApplications() + "\n");
    {
        ScopedEnv path("PATH", dir.Path("empty"));
        EXPECT_TRUE(Make().ApplyBoxes(checked, flags, Entry()).empty());
    }
    // A tool that hangs is stopped.
    WriteFile(bin + "/hangs", "#!/bin/sh\nsleep 30\n");
    ::chmod((bin + "/hangs").c_str(), 0755);
    EXPECT_EQ(RunDesktopTool({bin + "/hangs"}, 200), -1);
    EXPECT_EQ(RunDesktopTool({bin + "/missing"}), -1);
    EXPECT_EQ(RunDesktopTool({"/bin/sh", "-c", "exit 3"}), 3);
}

TEST(AssociationBoxes, TextsExtensionsAndOrder) {
    const auto& boxes = AssociationBoxes();
    const char* const texts[] = {"*.bmp",        "*.jpg",        "*.gif",       "*.png",
                                 "*.tif, *tiff", "*.tga, targa", "*.psd, *.pdd"};
    for (size_t i = 0; i < boxes.size(); ++i) EXPECT_EQ(boxes[i].text, texts[i]);
    EXPECT_EQ(boxes[4].extensions, (std::vector<std::string_view>{".tif", ".tiff"}));
    EXPECT_EQ(boxes[5].extensions, (std::vector<std::string_view>{".tga", ".targa"}));
    EXPECT_EQ(boxes[6].extensions, (std::vector<std::string_view>{".psd", ".pdd"}));
    std::vector<std::string_view> order;
    for (int i : AssociationOrder()) order.push_back(boxes[size_t(i)].extensions[0]);
    EXPECT_EQ(order, (std::vector<std::string_view>{".bmp", ".gif", ".jpg", ".png", ".tif", ".tga",
                                                    ".psd"}));
}

} // namespace
