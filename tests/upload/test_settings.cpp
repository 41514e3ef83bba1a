// What the upload keeps on disk: the remembered e-mail addresses and server in
// "config.ini", the user folders it writes to, the size limit of the picture.

#include "upload/upload_request.h"
#include "upload/upload_settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct ScopedEnv {
    std::string name, old;
    bool had;
    ScopedEnv(const char* n, const std::string& value) : name(n) {
        const char* o = std::getenv(n);
        had = o != nullptr;
        if (had) old = o;
        ::setenv(n, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (had)
            ::setenv(name.c_str(), old.c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
};

class UploadFiles : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pellorin-upload-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
};

} // namespace

TEST_F(UploadFiles, EmailMemoryIsWrittenAndReadBack) {
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    const std::string path = UploadConfigPath();
    EXPECT_EQ(path, (dir / "config" / "pellorin" / "config.ini").string());
    {
        CUploadSettings s;
        EXPECT_FALSE(s.Load(path)); // nothing there yet
        s.RememberEMail("first@example.org");
        s.RememberEMail("second@example.org");
        s.RememberEMail("first@example.org"); // known: not added twice
        s.m_strServer = "https://pics.example";
        ASSERT_TRUE(s.Save(path));
    }
    const std::string text = Read(path);
    EXPECT_NE(text.find("\r\n[User emails]\r\n"
                        "m_arrEMails=2 first@example.org\x01second@example.org\x01\r\n"
                        "m_strLastEMail=first@example.org\r\n"),
              std::string::npos)
        << text;
    CUploadSettings back;
    ASSERT_TRUE(back.Load(path));
    EXPECT_EQ(back.m_arrEMails,
              (std::vector<std::string>{"first@example.org", "second@example.org"}));
    EXPECT_EQ(back.m_strLastEMail, "first@example.org");
    EXPECT_EQ(back.m_strServer, "https://pics.example");

    // An empty address is not remembered but becomes the last one.
    back.RememberEMail("");
    EXPECT_EQ(back.m_arrEMails.size(), 2u);
    EXPECT_EQ(back.m_strLastEMail, "");
    // One that would break the file's lines is not stored at all.
    back.RememberEMail("x@y\r\n[Upload]");
    back.RememberEMail("a\x01"
                       "b");
    EXPECT_EQ(back.m_arrEMails.size(), 2u);
    EXPECT_EQ(back.m_strLastEMail, "");
}

TEST_F(UploadFiles, WrittenFilesGoToTheUsersFolders) {
    {
        ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
        EXPECT_EQ(ReceivedPagePath(), (dir / "data" / "pellorin" / "_receive.html").string());
        EXPECT_TRUE(fs::is_directory(dir / "data" / "pellorin"));
    }
    {
        // Unset or relative variables fall back to the home folder.
        ScopedEnv home("HOME", (dir / "home").string());
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv config("XDG_CONFIG_HOME", "");
        EXPECT_EQ(ReceivedPagePath(),
                  (dir / "home" / ".local" / "share" / "pellorin" / "_receive.html").string());
        EXPECT_EQ(UploadConfigPath(),
                  (dir / "home" / ".config" / "pellorin" / "config.ini").string());
    }
    {
        ScopedEnv tmp("TMPDIR", dir.string());
        const std::string a = MakeUploadTempFolder(), b = MakeUploadTempFolder();
        ASSERT_FALSE(a.empty());
        EXPECT_NE(a, b); // each dialog has a folder of its own
        EXPECT_EQ(fs::path(a).parent_path(), dir);
        EXPECT_EQ(fs::status(a).permissions() & fs::perms::all, fs::perms::owner_all);
        EXPECT_EQ(UploadTempFile(a, int(UploadFormat::Jpg)), a + "/utemp48924086719482.jpg");
    }
}

TEST_F(UploadFiles, PicturesOverEightMegabytesAreRefused) {
    for (uint64_t n : {kMaxUploadBytes, kMaxUploadBytes + 1}) {
        const fs::path p = dir / "pic.png";
        fs::remove(p);
        {
            std::ofstream out(p, std::ios::binary);
            out.seekp(std::streamoff(n - 1));
            out.put('z');
        }
        std::vector<uint8_t> bytes{1, 2, 3};
        const UploadFileStatus s = ReadUploadFile(p.string(), bytes);
        if (n == kMaxUploadBytes) {
            EXPECT_EQ(s, UploadFileStatus::Ok);
            EXPECT_EQ(bytes.size(), n);
            EXPECT_EQ(bytes.back(), 'z');
        } else {
            EXPECT_EQ(s, UploadFileStatus::TooBig);
            EXPECT_TRUE(bytes.empty());
        }
    }
    std::vector<uint8_t> bytes;
    EXPECT_EQ(ReadUploadFile((dir / "missing.png").string(), bytes), UploadFileStatus::Unreadable);
    EXPECT_EQ(ReadUploadFile(dir.string(), bytes), UploadFileStatus::Unreadable);
}
