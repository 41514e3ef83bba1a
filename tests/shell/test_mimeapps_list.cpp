// mimeapps.list edits touch only the lines of our type in the defaults group;
// everything else comes back byte for byte.

#include "shell/mimeapps_list.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Ids = std::vector<std::string>;

const std::string kId = "pellorin.desktop";

TEST(MimeAppsList, ReadsDefaultsOfTheDefaultsGroupOnly) {
    const CMimeAppsList list("# image/png=comment.desktop\n"
                             "image/png=before-any-group.desktop\n"
                             "[Added Associations]\n"
                             "image/png=added.desktop;\n"
                             "[Default Applications]\n"
                             "  IMAGE/PNG =  first.desktop ; second.desktop;;\r\n"
                             "image/pngx=other.desktop\n"
                             "image/jpeg\n"
                             "[Removed Associations]\n"
                             "image/jpeg=removed.desktop\n");
    EXPECT_EQ(list.Defaults("image/png"), (Ids{"first.desktop", "second.desktop"}));
    EXPECT_EQ(list.Defaults("image/jpeg"), Ids{});
    EXPECT_EQ(list.Defaults("image/gif"), Ids{});
}

TEST(MimeAppsList, LaterLineAndLaterGroupWin) {
    const CMimeAppsList list("[Default Applications]\n"
                             "image/png=a.desktop\n"
                             "image/png=b.desktop\n"
                             "[Other]\n"
                             "[Default Applications]\n"
                             "image/gif=c.desktop\n");
    EXPECT_EQ(list.Defaults("image/png"), Ids{"b.desktop"});
    EXPECT_EQ(list.Defaults("image/gif"), Ids{"c.desktop"});
}

TEST(MimeAppsList, SetDefaultPutsUsFirstAndKeepsTheOthersAsFallbacks) {
    CMimeAppsList list("[Default Applications]\n"
                       "image/png = gimp.desktop;eog.desktop\r\n"
                       "image/gif=eog.desktop;pellorin.desktop;\n");
    EXPECT_TRUE(list.SetDefault("image/png", kId));
    EXPECT_TRUE(list.SetDefault("image/gif", kId));
    EXPECT_EQ(list.Bytes(), "[Default Applications]\n"
                            "image/png = pellorin.desktop;gimp.desktop;eog.desktop;\r\n"
                            "image/gif=pellorin.desktop;eog.desktop;\n");
    // Already first: nothing changes.
    const std::string before = list.Bytes();
    EXPECT_FALSE(list.SetDefault("image/png", kId));
    EXPECT_EQ(list.Bytes(), before);
}

TEST(MimeAppsList, SetDefaultAddsTheLineAfterTheGroupsLastEntry) {
    CMimeAppsList list("[Default Applications]\r\n"
                       "text/plain=gedit.desktop\r\n"
                       "# trailing comment\r\n"
                       "\r\n"
                       "[Added Associations]\r\n"
                       "image/png=x.desktop;\r\n");
    EXPECT_TRUE(list.SetDefault("image/png", kId));
    EXPECT_EQ(list.Bytes(), "[Default Applications]\r\n"
                            "text/plain=gedit.desktop\r\n"
                            "image/png=pellorin.desktop;\r\n"
                            "# trailing comment\r\n"
                            "\r\n"
                            "[Added Associations]\r\n"
                            "image/png=x.desktop;\r\n");
}

TEST(MimeAppsList, SetDefaultIntoAnEmptyGroupOrFileOrAFileWithoutLastNewline) {
    CMimeAppsList emptyGroup("[Default Applications]");
    EXPECT_TRUE(emptyGroup.SetDefault("image/bmp", kId));
    EXPECT_EQ(emptyGroup.Bytes(), "[Default Applications]\nimage/bmp=pellorin.desktop;\n");

    CMimeAppsList empty("");
    EXPECT_TRUE(empty.SetDefault("image/bmp", kId));
    EXPECT_EQ(empty.Bytes(), "[Default Applications]\nimage/bmp=pellorin.desktop;\n");

    CMimeAppsList noGroup("[Added Associations]\r\nimage/bmp=a.desktop;");
    EXPECT_TRUE(noGroup.SetDefault("image/bmp", kId));
    EXPECT_EQ(noGroup.Bytes(), "[Added Associations]\r\nimage/bmp=a.desktop;\r\n\r\n"
                               "[Default Applications]\r\nimage/bmp=pellorin.desktop;\r\n");

    CMimeAppsList lastEntryUnterminated("[Default Applications]\nimage/gif=a.desktop");
    EXPECT_TRUE(lastEntryUnterminated.SetDefault("image/bmp", kId));
    EXPECT_EQ(lastEntryUnterminated.Bytes(),
              "[Default Applications]\nimage/gif=a.desktop\nimage/bmp=pellorin.desktop;\n");
}

TEST(MimeAppsList, RemoveDefaultTouchesOnlyLinesNamingUs) {
    CMimeAppsList list("[Added Associations]\n"
                       "image/png=pellorin.desktop;\n"
                       "[Default Applications]\n"
                       "image/png=pellorin.desktop;gimp.desktop;\n"
                       "image/jpeg=eog.desktop\n"
                       "image/gif=pellorin.desktop\n"
                       "image/bmp = pellorin.desktop;\r\n"
                       "image/tiff=pellorin.desktop;");
    EXPECT_TRUE(list.RemoveDefault("image/png", kId));
    EXPECT_FALSE(list.RemoveDefault("image/jpeg", kId));
    EXPECT_TRUE(list.RemoveDefault("image/gif", kId));
    EXPECT_TRUE(list.RemoveDefault("image/bmp", kId));
    EXPECT_TRUE(list.RemoveDefault("image/tiff", kId));
    EXPECT_EQ(list.Bytes(), "[Added Associations]\n"
                            "image/png=pellorin.desktop;\n"
                            "[Default Applications]\n"
                            "image/png=gimp.desktop;\n"
                            "image/jpeg=eog.desktop\n");
    EXPECT_FALSE(list.RemoveDefault("image/png", kId));
    // A name that merely contains ours is another program's.
    CMimeAppsList similar(
        "[Default Applications]\nimage/png=pellorin.desktop.old;xpellorin.desktop\n");
    EXPECT_FALSE(similar.RemoveDefault("image/png", kId));
}

// Random files made of every kind of line: setting our default for a type and
// taking it away again gives back the original bytes (plus, at most, the line
// end an unterminated last line needed and the group that had to be added),
// and the defaults of other types never change.
TEST(MimeAppsList, SetThenRemoveRestoresRandomFiles) {
    const std::vector<std::string> pieces = {"[Default Applications]",
                                             "[Added Associations]",
                                             "[Removed Associations]",
                                             "[Default Applications ]",
                                             "# comment with image/png=pellorin.desktop",
                                             "",
                                             "image/png=other.desktop;",
                                             "image/jpeg=eog.desktop;gimp.desktop;",
                                             "image/png=a.desktop;b.desktop;",
                                             "x-scheme-handler/http=firefox.desktop",
                                             "garbage line without equals",
                                             "image/png",
                                             " =empty-key.desktop;",
                                             "\xff\xfe binary \x01",
                                             "text/plain = gedit.desktop;",
                                             "  [Default Applications]  "};
    std::mt19937 rng(1234);
    for (int round = 0; round < 3000; ++round) {
        std::vector<std::string> lines;
        const int count = int(rng() % 12);
        const std::string nl = rng() % 3 == 0 ? "\r\n" : "\n";
        std::string file;
        bool hasGroup = false;
        for (int i = 0; i < count; ++i) {
            const std::string& piece = pieces[rng() % pieces.size()];
            hasGroup = hasGroup || piece.find("[Default Applications]") != std::string::npos;
            file += piece;
            if (i + 1 < count || rng() % 2) file += nl;
            lines.push_back(piece);
        }
        const bool unterminated = !file.empty() && file.back() != '\n';
        // New lines copy the file's line end; a file without one gets "\n".
        const std::string fileNl = file.find('\n') != std::string::npos ? nl : "\n";
        std::string lastLine = file;
        if (!unterminated && !lastLine.empty()) lastLine.resize(lastLine.size() - nl.size());
        lastLine = lastLine.substr(
            lastLine.find_last_of('\n') == std::string::npos ? 0 : lastLine.find_last_of('\n') + 1);
        const bool lastBlank = lastLine.find_first_not_of(" \t\r") == std::string::npos;

        CMimeAppsList list(file);
        ASSERT_EQ(list.Bytes(), file);
        list.SetDefault("image/png", kId);
        ASSERT_EQ(list.Defaults("image/png").front(), kId) << file;
        ASSERT_EQ(CMimeAppsList(file).Defaults("image/jpeg"), list.Defaults("image/jpeg"));
        list.RemoveDefault("image/png", kId);
        ASSERT_EQ(list.Defaults("image/png"), CMimeAppsList(file).Defaults("image/png"));

        const std::string got = list.Bytes();
        if (hasGroup) {
            if (unterminated)
                ASSERT_TRUE(got == file || got == file + fileNl) << "round " << round;
            else
                ASSERT_EQ(got, file) << "round " << round;
        } else {
            std::string expected = file;
            if (unterminated) expected += fileNl;
            if (!file.empty() && !lastBlank) expected += fileNl;
            expected += "[Default Applications]" + fileNl;
            ASSERT_EQ(got, expected) << "round " << round;
        }
    }
}

} // namespace
