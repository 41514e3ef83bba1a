// The program's desktop entry, finding other programs' entries, and the
// freedesktop folders taken from the environment.

#include "shell/desktop_entry.h"
#include "shell/xdg_dirs.h"
#include "shell_test_util.h"

#include <gtest/gtest.h>

namespace {

using namespace shell_test;
using Strings = std::vector<std::string>;

TEST(DesktopEntry, ExecQuotesThePathForTheDesktopsTwoUnescapingPasses) {
    EXPECT_EQ(ExecArgument("/usr/bin/pellorin"), "\"/usr/bin/pellorin\"");
    EXPECT_EQ(ExecArgument("/home/a b/My Apps/pellorin"), "\"/home/a b/My Apps/pellorin\"");
    // Inside quotes ", `, $ and \ take a backslash; % doubles; then the key
    // file's own escaping doubles every backslash.
    EXPECT_EQ(ExecArgument("/opt/my \"pics\"/$HOME/a\\b%c`d"),
              "\"/opt/my \\\\\"pics\\\\\"/\\\\$HOME/a\\\\\\\\b%%c\\\\`d\"");
    EXPECT_EQ(ExecArgument("/tmp/new\nline\ttab"), "\"/tmp/new\\nline\\ttab\"");
    EXPECT_EQ(ExecArgument("/x/'single';&|<>~*?#()"), "\"/x/'single';&|<>~*?#()\"");
}

TEST(DesktopEntry, EntryNamesProgramIconAndTypes) {
    DesktopEntryInfo info{
        "/opt/Pellorin 1/bin/pellorin", "/opt/icons/p.png", {"image/png", "image/jpeg"}};
    const std::string entry = MakeDesktopEntry(info);
    EXPECT_TRUE(entry.starts_with("[Desktop Entry]\nType=Application\n"));
    EXPECT_NE(entry.find("\nExec=\"/opt/Pellorin 1/bin/pellorin\" %f\n"), std::string::npos);
    EXPECT_NE(entry.find("\nIcon=/opt/icons/p.png\n"), std::string::npos);
    EXPECT_NE(entry.find("\nMimeType=image/png;image/jpeg;\n"), std::string::npos);
    EXPECT_NE(entry.find("\nName=Pellorin\n"), std::string::npos);
    EXPECT_EQ(entry.back(), '\n');

    // Paths a desktop entry cannot name.
    EXPECT_EQ(MakeDesktopEntry({"relative/pellorin", "pellorin", {}}), "");
    EXPECT_EQ(MakeDesktopEntry({"", "pellorin", {}}), "");
    EXPECT_EQ(MakeDesktopEntry({"/opt/\xff\xfe/pellorin", "pellorin", {}}), "");
    EXPECT_EQ(MakeDesktopEntry({"/opt/\xc3/pellorin", "pellorin", {}}), "");         // cut sequence
    EXPECT_EQ(MakeDesktopEntry({"/opt/\xc0\xaf/pellorin", "pellorin", {}}), "");     // overlong '/'
    EXPECT_EQ(MakeDesktopEntry({"/opt/\xed\xa0\x80/pellorin", "pellorin", {}}), ""); // surrogate
    EXPECT_NE(MakeDesktopEntry(
                  {"/opt/Bilder \xc3\xa4\xe2\x82\xac\xf0\x9f\x96\xbc/pellorin", "pellorin", {}}),
              "");
}

TEST(DesktopEntry, FindsEntriesByIdThroughSubfoldersAndHonoursHiddenOnes) {
    ScratchDir dir;
    XdgDirs dirs;
    dirs.dataHome = dir.Path("home");
    dirs.dataDirs = {dir.Path("sys1"), dir.Path("sys2")};
    InstallEntry(dir.Path("sys2/applications"), "viewer.desktop");
    InstallEntry(dir.Path("sys2/applications/kde4"), "gwenview.desktop");
    InstallEntry(dir.Path("sys1/applications"), "gone.desktop");
    InstallEntry(dir.Path("sys2/applications"), "gone.desktop");
    InstallEntry(dir.Path("home/applications"), "gone.desktop", "Hidden=true\n");
    WriteFile(dir.Path("sys1/applications/notanentry.desktop"), "just text\n");
    InstallEntry(dir.Path("sys1/applications"), "other.desktop",
                 "[Desktop Action x]\nHidden=true\n");

    EXPECT_EQ(FindDesktopFile("viewer.desktop", dirs),
              dir.Path("sys2/applications/viewer.desktop"));
    EXPECT_EQ(FindDesktopFile("kde4-gwenview.desktop", dirs),
              dir.Path("sys2/applications/kde4/gwenview.desktop"));
    EXPECT_EQ(FindDesktopFile("gone.desktop", dirs), "");
    EXPECT_EQ(FindDesktopFile("notanentry.desktop", dirs), "");
    EXPECT_EQ(FindDesktopFile("other.desktop", dirs), dir.Path("sys1/applications/other.desktop"));
    EXPECT_EQ(FindDesktopFile("missing.desktop", dirs), "");
    EXPECT_EQ(FindDesktopFile("../sys2/applications/viewer.desktop", dirs), "");
    EXPECT_EQ(FindDesktopFile("", dirs), "");
}

TEST(DesktopEntry, IconIsTheThemeNameWhenInstalledElseTheFileBesideTheProgram) {
    ScratchDir dir;
    XdgDirs dirs;
    dirs.dataHome = dir.Path("home");
    dirs.dataDirs = {dir.Path("sys")};
    WriteFile(dir.Path("build/app/pellorin"), "");
    EXPECT_EQ(DesktopIcon(dir.Path("build/app/pellorin"), dirs), "pellorin");
    WriteFile(dir.Path("build/app/pellorin.png"), "png");
    EXPECT_EQ(DesktopIcon(dir.Path("build/app/pellorin"), dirs),
              dir.Path("build/app/pellorin.png"));
    // Installed into a prefix the desktop does not search.
    WriteFile(dir.Path("opt/share/icons/hicolor/256x256/apps/pellorin.png"), "png");
    EXPECT_EQ(DesktopIcon(dir.Path("opt/bin/pellorin"), dirs),
              dir.Path("opt/share/icons/hicolor/256x256/apps/pellorin.png"));
    // A theme folder of the desktop has it.
    WriteFile(dir.Path("sys/icons/hicolor/scalable/apps/pellorin.svg"), "<svg/>");
    EXPECT_EQ(DesktopIcon(dir.Path("opt/bin/pellorin"), dirs), "pellorin");
}

TEST(XdgFolders, EnvironmentWithTheBaseDirectoryDefaults) {
    {
        ScopedEnv home("HOME", "/home/u/");
        ScopedEnv a("XDG_CONFIG_HOME", "relative/config");
        ScopedEnv b("XDG_DATA_HOME", "");
        ScopedEnv c("XDG_CONFIG_DIRS", "");
        ScopedEnv d("XDG_DATA_DIRS", "/a/:rel:/b");
        ScopedEnv e("XDG_CURRENT_DESKTOP", "ubuntu:GNOME::x/y");
        const XdgDirs dirs = XdgDirs::FromEnvironment();
        EXPECT_EQ(dirs.configHome, "/home/u/.config");
        EXPECT_EQ(dirs.dataHome, "/home/u/.local/share");
        EXPECT_EQ(dirs.configDirs, Strings{"/etc/xdg"});
        EXPECT_EQ(dirs.dataDirs, (Strings{"/a", "/b"}));
        EXPECT_EQ(dirs.desktops, (Strings{"ubuntu", "gnome"}));
        EXPECT_EQ(dirs.UserMimeAppsList(), "/home/u/.config/mimeapps.list");
        EXPECT_EQ(dirs.UserApplications(), "/home/u/.local/share/applications");
        EXPECT_EQ(
            dirs.MimeAppsLists(),
            (Strings{"/home/u/.config/ubuntu-mimeapps.list", "/home/u/.config/gnome-mimeapps.list",
                     "/home/u/.config/mimeapps.list", "/etc/xdg/ubuntu-mimeapps.list",
                     "/etc/xdg/gnome-mimeapps.list", "/etc/xdg/mimeapps.list",
                     "/home/u/.local/share/applications/ubuntu-mimeapps.list",
                     "/home/u/.local/share/applications/gnome-mimeapps.list",
                     "/home/u/.local/share/applications/mimeapps.list",
                     "/a/applications/ubuntu-mimeapps.list", "/a/applications/gnome-mimeapps.list",
                     "/a/applications/mimeapps.list", "/b/applications/ubuntu-mimeapps.list",
                     "/b/applications/gnome-mimeapps.list", "/b/applications/mimeapps.list"}));
        EXPECT_EQ(dirs.ApplicationFolders(), (Strings{"/home/u/.local/share/applications",
                                                      "/a/applications", "/b/applications"}));
    }
    {
        ScopedEnv a("XDG_CONFIG_HOME", "/cfg//");
        ScopedEnv b("XDG_DATA_HOME", "/data");
        ScopedEnv c("XDG_CONFIG_DIRS", "/etc/one:/etc/two");
        ScopedEnv d("XDG_DATA_DIRS", "");
        ScopedEnv e("XDG_CURRENT_DESKTOP", "");
        const XdgDirs dirs = XdgDirs::FromEnvironment();
        EXPECT_EQ(dirs.configHome, "/cfg");
        EXPECT_EQ(dirs.dataHome, "/data");
        EXPECT_EQ(dirs.configDirs, (Strings{"/etc/one", "/etc/two"}));
        EXPECT_EQ(dirs.dataDirs, (Strings{"/usr/local/share", "/usr/share"}));
        EXPECT_TRUE(dirs.desktops.empty());
    }
}

} // namespace
