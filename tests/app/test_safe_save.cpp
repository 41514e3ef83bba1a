// The one save helper: symbolic links written through, read-only files
// refused with a reason, permission bits, owner, group and hard links kept,
// in-place rewrites where the folder may not be written, and failures that
// leave the old file as it was. Permission cases run as an ordinary user.

#include "app/safe_save.h"

#include "../as_user.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        char templ[] = "/tmp/pellorin-save-XXXXXX";
        path = ::mkdtemp(templ);
        // The ordinary user of the permission cases must reach it.
        ::chmod(path.c_str(), 0755);
    }
    ~TempDir() {
        std::error_code ec;
        for (auto& e : fs::recursive_directory_iterator(path, ec))
            if (e.is_directory(ec) && !e.is_symlink(ec)) ::chmod(e.path().c_str(), 0755);
        fs::remove_all(path);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::set<std::string> Names(const std::string& sub = {}) const {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(sub.empty() ? path : path / sub))
            names.insert(e.path().filename());
        return names;
    }
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}
bool Save(const std::string& path, const std::string& bytes, std::string* message = nullptr) {
    return SaveFileSafely(path, bytes.data(), bytes.size(), message);
}
struct stat StatOf(const std::string& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st;
}
mode_t ModeOf(const std::string& path) {
    return StatOf(path).st_mode & 07777;
}

TEST(SafeSave, SymbolicLinksAreWrittenThrough) {
    TempDir dir;
    fs::create_directory(dir / "real");
    WriteAll(dir / "real/pic.png", "old");
    const ino_t inode = StatOf(dir / "real/pic.png").st_ino;
    fs::create_symlink(dir / "real/pic.png", dir / "link.png");

    ASSERT_TRUE(Save(dir / "link.png", "new content"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.png")) << "the link stays a link";
    EXPECT_EQ(fs::read_symlink(dir / "link.png"), dir.path / "real/pic.png");
    EXPECT_EQ(ReadAll(dir / "real/pic.png"), "new content");
    EXPECT_NE(StatOf(dir / "real/pic.png").st_ino, inode) << "replaced by a rename";

    // A chain with relative links, each relative to its own folder.
    fs::create_directory(dir / "a");
    fs::create_symlink("../link.png", dir / "a/one");
    fs::create_symlink("a/one", dir / "two");
    ASSERT_TRUE(Save(dir / "two", "through the chain"));
    EXPECT_TRUE(fs::is_symlink(dir / "two"));
    EXPECT_TRUE(fs::is_symlink(dir / "a/one"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(ReadAll(dir / "real/pic.png"), "through the chain");

    // A dangling link: its target is created and the link stays.
    fs::create_symlink("real/new.png", dir / "dangling.png");
    ASSERT_TRUE(Save(dir / "dangling.png", "made"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.png"));
    EXPECT_EQ(ReadAll(dir / "real/new.png"), "made");
    // One whose target's folder is missing fails and creates nothing.
    fs::create_symlink("gone/x.png", dir / "nowhere.png");
    std::string msg;
    EXPECT_FALSE(Save(dir / "nowhere.png", "x", &msg));
    EXPECT_NE(msg.find("no such file or directory"), std::string::npos) << msg;
    EXPECT_TRUE(fs::is_symlink(dir / "nowhere.png"));

    // A loop is refused and nothing is replaced.
    fs::create_symlink("loop2", dir / "loop1");
    fs::create_symlink("loop1", dir / "loop2");
    EXPECT_FALSE(Save(dir / "loop1", "x", &msg));
    EXPECT_NE(msg.find("too many levels of symbolic links"), std::string::npos) << msg;
    EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
    EXPECT_TRUE(fs::is_symlink(dir / "loop2"));

    EXPECT_EQ(dir.Names(), (std::set<std::string>{"real", "link.png", "a", "two", "dangling.png",
                                                  "nowhere.png", "loop1", "loop2"}));
    EXPECT_EQ(dir.Names("real"), (std::set<std::string>{"pic.png", "new.png"}));
}

TEST(SafeSave, ReadOnlyFilesAndFoldersInTheWayAreRefused) {
    // A file without any write bit is refused even for the superuser.
    TempDir dir;
    const std::string ro = dir / "ro.qvc";
    WriteAll(ro, "precious");
    ::chmod(ro.c_str(), 0444);
    std::string msg;
    EXPECT_FALSE(Save(ro, "new", &msg));
    EXPECT_EQ(msg, "cannot write " + ro + ": permission denied");
    EXPECT_EQ(ReadAll(ro), "precious");
    EXPECT_EQ(ModeOf(ro), 0444u);

    // The same through a link, which names both.
    fs::create_symlink(ro, dir / "to-ro");
    EXPECT_FALSE(Save(dir / "to-ro", "new", &msg));
    EXPECT_EQ(msg, "cannot write " + (dir / "to-ro") + " (link to " + ro + "): permission denied");
    EXPECT_EQ(ReadAll(ro), "precious");

    fs::create_directory(dir / "folder.png");
    EXPECT_FALSE(Save(dir / "folder.png", "x", &msg));
    EXPECT_EQ(msg, "cannot write " + (dir / "folder.png") + ": is a directory");
    EXPECT_TRUE(fs::is_directory(dir / "folder.png"));

    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0666), 0);
    EXPECT_FALSE(Save(dir / "pipe.png", "x", &msg));
    EXPECT_EQ(msg, "cannot write " + (dir / "pipe.png") + ": not a regular file");

    EXPECT_FALSE(Save("", "x", &msg));
    EXPECT_FALSE(msg.empty());
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"ro.qvc", "to-ro", "folder.png", "pipe.png"}));
}

TEST(SafeSave, PermissionBitsOwnerAndLinksAreKept) {
    TempDir dir;
    const std::string f = dir / "keep.bmp";
    WriteAll(f, "old");
    ::chmod(f.c_str(), 0640);
    ASSERT_TRUE(Save(f, "new"));
    EXPECT_EQ(ModeOf(f), 0640u);
    ::chmod(f.c_str(), 0604);
    ASSERT_TRUE(Save(f, "newer"));
    EXPECT_EQ(ModeOf(f), 0604u);
    EXPECT_EQ(ReadAll(f), "newer");

    // Through a link the target's bits are the ones kept.
    ::chmod(f.c_str(), 0640);
    fs::create_symlink("keep.bmp", dir / "ln.bmp");
    ASSERT_TRUE(Save(dir / "ln.bmp", "via link"));
    EXPECT_EQ(ModeOf(f), 0640u);

    // A new file gets 0666 less the umask.
    const mode_t oldMask = ::umask(027);
    const bool made = Save(dir / "fresh.bmp", "x");
    ::umask(oldMask);
    ASSERT_TRUE(made);
    EXPECT_EQ(ModeOf(dir / "fresh.bmp"), 0640u);

    // A file with a second name: both names see the new content.
    ASSERT_EQ(::link(f.c_str(), (dir / "other-name.bmp").c_str()), 0);
    const ino_t inode = StatOf(f).st_ino;
    ASSERT_TRUE(Save(f, "shared"));
    EXPECT_EQ(StatOf(f).st_ino, inode);
    EXPECT_EQ(ReadAll(dir / "other-name.bmp"), "shared");
    ASSERT_TRUE(Save(f, "sh")); // shorter: the rest is cut off
    EXPECT_EQ(ReadAll(dir / "other-name.bmp"), "sh");

    // The superuser saving another user's file leaves it that user's.
    if (as_user::IsRoot()) {
        ASSERT_TRUE(as_user::GiveToUser(dir / "fresh.bmp"));
        ASSERT_TRUE(Save(dir / "fresh.bmp", "root wrote this"));
        EXPECT_EQ(StatOf(dir / "fresh.bmp").st_uid, as_user::kNobody);
        EXPECT_EQ(StatOf(dir / "fresh.bmp").st_gid, gid_t(as_user::kNobody));
    }
    EXPECT_EQ(dir.Names(),
              (std::set<std::string>{"keep.bmp", "ln.bmp", "fresh.bmp", "other-name.bmp"}));
}

TEST(SafeSave, UnwritableFolderRewritesAWritableFileInPlace) {
    TempDir dir;
    fs::create_directory(dir / "ro");
    const std::string f = dir / "ro/pic.gif";
    WriteAll(f, "a long old content that the new one is shorter than");
    ::chmod(f.c_str(), 0640);
    ASSERT_TRUE(as_user::GiveToUser(f));
    WriteAll(dir / "ro/theirs.gif", "not ours");
    ::chmod((dir / "ro/theirs.gif").c_str(), 0444);
    const ino_t inode = StatOf(f).st_ino;
    ::chmod((dir / "ro").c_str(), 0555);

    const std::string out = as_user::Run([&] {
        std::string r, msg;
        r += Save(f, "new") ? "saved;" : "failed: " + msg + ";";
        r += Save(dir / "ro/longer.gif", "x", &msg) ? "created;" : msg + ";";
        r += Save(dir / "ro/theirs.gif", "x", &msg) ? "replaced;" : msg + ";";
        return r;
    });
    EXPECT_EQ(out, "saved;cannot write " + (dir / "ro/longer.gif") + ": permission denied;" +
                       "cannot write " + (dir / "ro/theirs.gif") + ": permission denied;");
    EXPECT_EQ(ReadAll(f), "new");
    EXPECT_EQ(StatOf(f).st_ino, inode) << "written in place";
    EXPECT_EQ(ModeOf(f), 0640u);
    EXPECT_EQ(ReadAll(dir / "ro/theirs.gif"), "not ours");
    EXPECT_EQ(dir.Names("ro"), (std::set<std::string>{"pic.gif", "theirs.gif"}));

    // Growing in place, through a link that lies in a writable folder.
    fs::create_symlink(f, dir / "link.gif");
    const std::string big(100000, 'b');
    EXPECT_EQ(as_user::Run([&] { return Save(dir / "link.gif", big) ? "ok" : "failed"; }), "ok");
    EXPECT_EQ(ReadAll(f), big);
    EXPECT_TRUE(fs::is_symlink(dir / "link.gif"));
}

TEST(SafeSave, FileOfAnotherUserIsNeitherReplacedNorTakenOver) {
    if (!as_user::IsRoot()) GTEST_SKIP() << "making files of another user needs the superuser";
    TempDir dir;
    ::chmod(dir.path.c_str(), 0777); // the ordinary user may create and rename here
    // Writable by its owner only: the old save renamed a new file over it.
    WriteAll(dir / "root-only.png", "root's");
    ::chmod((dir / "root-only.png").c_str(), 0644);
    // Writable by everyone: saved, but it stays root's file.
    WriteAll(dir / "shared.png", "old shared");
    ::chmod((dir / "shared.png").c_str(), 0666);
    const std::string out = as_user::Run([&] {
        std::string r, msg;
        r += Save(dir / "root-only.png", "x", &msg) ? "replaced;" : msg + ";";
        r += Save(dir / "shared.png", "new shared", &msg) ? "saved" : msg;
        return r;
    });
    EXPECT_EQ(out, "cannot write " + (dir / "root-only.png") + ": permission denied;saved");
    EXPECT_EQ(ReadAll(dir / "root-only.png"), "root's");
    EXPECT_EQ(ReadAll(dir / "shared.png"), "new shared");
    EXPECT_EQ(StatOf(dir / "shared.png").st_uid, 0u);
    EXPECT_EQ(ModeOf(dir / "shared.png"), 0666u);
    EXPECT_EQ(dir.Names(), (std::set<std::string>{"root-only.png", "shared.png"}));
}

// A file size limit makes writes past it fail, as a full disk does.
struct SizeLimit {
    struct rlimit saved {};
    void (*handler)(int) = nullptr;
    explicit SizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved);
        handler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~SizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, handler);
    }
};

TEST(SafeSave, FailuresLeaveTheOldFileAsItWas) {
    TempDir dir;
    const std::string f = dir / "old.tif";
    const std::string old = "the old file, byte for byte";
    WriteAll(f, old);

    // The producer gives up halfway: no reason of the file system's.
    std::string msg = "stale";
    EXPECT_FALSE(SaveFileSafely(
        f, [](SaveSink& s) { return s.Write("half", 4) && false; }, &msg));
    EXPECT_EQ(msg, "");
    EXPECT_EQ(ReadAll(f), old);

    // A write fails midway.
    const std::string big(20000, 'z');
    {
        SizeLimit limit(4096);
        EXPECT_FALSE(Save(f, big, &msg));
    }
    EXPECT_EQ(msg, "cannot write " + f + ": file too large");
    EXPECT_EQ(ReadAll(f), old);
    EXPECT_EQ(dir.Names(), std::set<std::string>{"old.tif"}) << "temporary files left behind";

    // The same when the file has to be rewritten in place: space is reserved
    // before any old byte changes.
    fs::create_directory(dir / "ro");
    const std::string g = dir / "ro/old.tif";
    WriteAll(g, old);
    ASSERT_TRUE(as_user::GiveToUser(g));
    ::chmod((dir / "ro").c_str(), 0555);
    const std::string out = as_user::Run([&] {
        SizeLimit limit(4096);
        std::string m;
        return Save(g, big, &m) ? std::string("saved") : m;
    });
    EXPECT_EQ(out, "cannot write " + g + ": file too large");
    EXPECT_EQ(ReadAll(g), old);
}

TEST(SafeSave, ProducersMaySeekAndReadBack) {
    // Encoders that patch their headers write, seek back, overwrite and read;
    // the result is the same whether the content goes to a temporary file or
    // to memory for an in-place rewrite.
    auto produce = [](SaveSink& s) {
        bool ok = s.Write("0000body", 8) && s.Seek(0, SEEK_SET) && s.Write("HEAD", 4);
        char back[4] = {};
        ok = ok && s.Seek(-4, SEEK_END) && s.Read(back, 4) == 4 && std::string(back, 4) == "body";
        ok = ok && s.Tell() == 8 && s.Seek(2, SEEK_CUR) && s.Write("!", 1); // gap of zeros
        ok = ok && !s.Seek(-1, SEEK_SET);
        return ok;
    };
    const std::string expected = std::string("HEADbody") + '\0' + '\0' + "!";
    TempDir dir;
    ASSERT_TRUE(SaveFileSafely(dir / "t.bin", produce));
    EXPECT_EQ(ReadAll(dir / "t.bin"), expected);

    fs::create_directory(dir / "ro");
    WriteAll(dir / "ro/m.bin", "a longer old content");
    ASSERT_TRUE(as_user::GiveToUser(dir / "ro/m.bin"));
    ::chmod((dir / "ro").c_str(), 0555);
    EXPECT_EQ(as_user::Run([&] {
                  std::string m;
                  return SaveFileSafely(dir / "ro/m.bin", produce, &m) ? "ok" : m;
              }),
              "ok");
    EXPECT_EQ(ReadAll(dir / "ro/m.bin"), expected);
}

} // namespace
