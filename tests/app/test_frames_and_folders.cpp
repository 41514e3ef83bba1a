// View frames kept as fractions of the view, and the folder list that "Load
// Next" and pellorin-cli step through.

#include "app/config_storage.h"
#include "app/folder_list.h"
#include "app/settings_fields.h"
#include "app/view_frames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(ViewFrames, FractionsUseTheClientSizeLessFive) {
    float t, l, b, r;
    FractionsFromFrame(IntRect{0, 0, 400, 300}, 400, 300, t, l, b, r);
    EXPECT_FLOAT_EQ(r, 400.0f / 395.0f) << "a whole-view frame is just over 1";
    EXPECT_FLOAT_EQ(b, 300.0f / 295.0f);
    EXPECT_EQ(FrameFromFractions(0.5f, 0.25f, 0.75f, 1.0f, 405, 205),
              (IntRect{100, 100, 400, 150}));
    // Truncated toward zero.
    EXPECT_EQ(FrameFromFractions(0.999f, 0.999f, 0.999f, 0.999f, 15, 15), (IntRect{9, 9, 9, 9}));
}

TEST(ViewFrames, FramesKeepTheirPlaceAcrossViewSizes) {
    ProcessingSettings s;
    s.m_cBmpWndOriginal.m_cRectTracker = IntRect{39, 59, 199, 159};
    s.m_cBmpWndDestination[1].m_cLightTracker = IntRect{0, 0, 395, 295};
    FractionsFromFrames(s, 400, 300);
    FramesFromFractions(s, 800, 600);
    EXPECT_NEAR(s.m_cBmpWndOriginal.m_cRectTracker.left, 79, 1);
    EXPECT_NEAR(s.m_cBmpWndOriginal.m_cRectTracker.bottom, 320, 1);
    EXPECT_EQ(s.m_cBmpWndDestination[1].m_cLightTracker, (IntRect{0, 0, 795, 595}));
}

TEST(ViewFrames, OnlyShownFramesMoveTheRectangles) {
    ProcessingSettings s;
    s.SetViewDefaults(400, 300);
    s.m_cBmpWndOriginal.m_cRectTracker = IntRect{10, 10, 20, 20};
    s.m_cBmpWndDestination[0].m_cLightTracker = IntRect{30, 40, 50, 60};
    s.m_cBmpWndDestination[0].m_bLight = 1;
    s.m_cBmpWndDestination[2].m_cLightTracker = IntRect{1, 1, 2, 2};
    CopyFramesToSettings(s);
    EXPECT_EQ(s.m_rcCrop, (IntRect{0, 0, 400, 300})) << "crop frame not shown";
    EXPECT_EQ(s.m_rcLight[0], (IntRect{25, 35, 55, 65})) << "inflated by 5";
    EXPECT_EQ(s.m_rcLight[2], (IntRect{0, 0, 400, 300}));
    s.m_cBmpWndOriginal.m_bCrop = 1;
    CopyFramesToSettings(s);
    EXPECT_EQ(s.m_rcCrop, (IntRect{5, 5, 25, 25}));
}

TEST(ViewFrames, EveryPixelSurvivesTheSixDecimalsOfTheFile) {
    // A frame saved and loaded again in a view of the same size keeps its
    // pixels, although the fractions lose digits on the way.
    std::vector<int> sizes;
    for (int n = 6; n <= 1300; n += 7) sizes.push_back(n);
    for (int n : {383, 583, 1920, 4096, 10007, 32768}) sizes.push_back(n);
    for (int n : sizes) {
        int wrong = 0;
        for (int p = 0; p <= n - kFrameInflation; ++p) {
            float t, l, b, r;
            FractionsFromFrame(IntRect{p, 0, p, 0}, n, n, t, l, b, r);
            const float back = float(ParseLeadingDouble(FormatFixed6(double(l))));
            if (FrameFromFractions(0.0f, back, 0.0f, back, n, n).left != p) ++wrong;
        }
        EXPECT_EQ(wrong, 0) << "view " << n;
    }
}

namespace {
// The text of a configuration without the lines whose keys start with one of
// the given prefixes.
std::string WithoutKeys(const ProcessingSettings& s, std::vector<std::string> prefixes) {
    ProcessingSettings copy = s;
    SettingsFile f(copy);
    const std::string text = f.storage.Serialize();
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start + 1);
        bool drop = false;
        for (const auto& p : prefixes) drop |= line.rfind(p, 0) == 0;
        if (!drop) out += line;
        start = end + 1;
    }
    return out;
}
} // namespace

TEST(ViewFrames, LoadedFramesSetTheirRectanglesWhenTheFileHoldsTheirFractions) {
    ProcessingSettings saved;
    saved.SetViewDefaults(400, 300);
    // Crop and light 1 were drawn and are switched off now.
    saved.m_cBmpWndOriginal.CroprcL = 0.25f;
    saved.m_cBmpWndOriginal.CroprcT = 0.5f;
    saved.m_cBmpWndOriginal.CroprcR = 0.75f;
    saved.m_cBmpWndOriginal.CroprcB = 1.0f;
    saved.m_cBmpWndDestination[0].LightrcL = 0.5f;
    saved.m_cBmpWndDestination[0].LightrcT = 0.25f;
    saved.m_cBmpWndDestination[0].LightrcR = 1.0f;
    saved.m_cBmpWndDestination[0].LightrcB = 0.75f;
    // Light 2 was never drawn (zeros); light 3's fractions describe no frame.
    saved.m_cBmpWndDestination[2].LightrcL = 0.5f;
    saved.m_cBmpWndDestination[2].LightrcR = 0.5f;
    saved.m_cBmpWndDestination[2].LightrcB = 1.0f;
    for (int i = 0; i < 3; ++i) saved.m_rcLight[i] = IntRect{i, i, 10 + i, 10 + i};

    auto load = [](const std::string& text, ProcessingSettings& s) {
        SettingsFile f(s);
        EXPECT_TRUE(f.storage.Parse(text));
        const StoredFrames stored = f.FramesWithFractions();
        FramesFromFractions(s, 205, 105);
        CopyLoadedFramesToSettings(s, stored);
        return stored;
    };

    ProcessingSettings s;
    StoredFrames stored = load(WithoutKeys(saved, {}), s);
    EXPECT_TRUE(stored.crop);
    EXPECT_TRUE(stored.light[0]);
    EXPECT_FALSE(stored.light[1]);
    EXPECT_FALSE(stored.light[2]);
    EXPECT_EQ(s.m_rcCrop, (IntRect{45, 45, 155, 105})) << "(50, 50)-(150, 100) inflated";
    EXPECT_EQ(s.m_rcLight[0], (IntRect{95, 20, 205, 80})) << "(100, 25)-(200, 75) inflated";
    EXPECT_EQ(s.m_rcLight[1], (IntRect{1, 1, 11, 11})) << "never drawn: the file's rectangle";
    EXPECT_EQ(s.m_rcLight[2], (IntRect{2, 2, 12, 12}));

    // A shown frame sets its rectangle as before, whatever its fractions.
    ProcessingSettings shown = saved;
    shown.m_cBmpWndDestination[1].m_bLight = 1;
    ProcessingSettings t;
    load(WithoutKeys(shown, {}), t);
    EXPECT_EQ(t.m_rcLight[1], (IntRect{-5, -5, 5, 5}));

    // A file without (all of) a frame's fraction keys leaves its rectangle to
    // the file, whatever fractions the record held before; and what an earlier
    // file held does not count for the next one.
    ProcessingSettings u;
    u.m_cBmpWndDestination[0] = saved.m_cBmpWndDestination[0];
    SettingsFile uf(u);
    ASSERT_TRUE(uf.storage.Parse(WithoutKeys(saved, {})));
    ASSERT_TRUE(uf.FramesWithFractions().light[0]);
    ASSERT_TRUE(uf.storage.Parse(WithoutKeys(saved, {"m_cBmpWndDestination.LightrcB1"})));
    stored = uf.FramesWithFractions();
    EXPECT_FALSE(stored.light[0]);
    EXPECT_TRUE(stored.crop);
    FramesFromFractions(u, 205, 105);
    CopyLoadedFramesToSettings(u, stored);
    EXPECT_EQ(u.m_rcLight[0], (IntRect{0, 0, 10, 10}));
}

TEST(ViewFrames, DefaultFramesSitFivePixelsInside) {
    ProcessingSettings s;
    SetDefaultFrames(s, 383, 583);
    EXPECT_EQ(s.m_cBmpWndOriginal.m_cRectTracker, (IntRect{5, 5, 378, 578}));
    EXPECT_EQ(s.m_cBmpWndDestination[2].m_cLightTracker, (IntRect{5, 5, 378, 578}));
    s.m_cBmpWndOriginal.m_bCrop = 1;
    s.m_cBmpWndDestination[0].m_bLight = 1;
    FramesFromFractions(s, 383, 583);
    CopyFramesToSettings(s);
    EXPECT_EQ(s.m_rcCrop, (IntRect{0, 0, 383, 583})) << "exactly the view";
    EXPECT_EQ(s.m_rcLight[0], (IntRect{0, 0, 383, 583}));
}

TEST(FolderList, PatternOrderFiltersAndWrapping) {
    const fs::path dir =
        fs::temp_directory_path() / ("pellorin-folder-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "sub.png");
    for (const char* n : {"b.jpg", "a.jpg", "c.PNG", "d.bmp", "e.gif", "f.tif", "g.tga", "h.psd",
                          "i.pcd", "j.txt", "k.jpeg", "png", "l.ico", "m.avi"})
        std::ofstream(dir / n) << "x";
    const std::string d = dir.string();
    auto names = [&](int filter) {
        std::vector<std::string> out;
        for (const auto& p : ListFolderImages(d, filter))
            out.push_back(fs::path(p).filename().string());
        return out;
    };
    EXPECT_EQ(names(1), (std::vector<std::string>{"c.PNG", "d.bmp", "a.jpg", "b.jpg", "e.gif",
                                                  "f.tif", "g.tga", "h.psd", "i.pcd"}));
    EXPECT_EQ(names(3), (std::vector<std::string>{"a.jpg", "b.jpg"})) << "JPG Files only";
    EXPECT_EQ(names(5), (std::vector<std::string>{"d.bmp"}));
    EXPECT_EQ(names(9), (std::vector<std::string>{"i.pcd"}));
    EXPECT_TRUE(names(10).empty());
    EXPECT_TRUE(names(0).empty());

    const auto list = ListFolderImages(d, 1);
    EXPECT_EQ(IndexInFolderList(list, d + "/A.JPG"), 2);
    EXPECT_EQ(IndexInFolderList(list, d + "/zzz.jpg"), -1);
    EXPECT_EQ(NextIndex(8, 9), 0) << "next wraps from the last to the first";
    EXPECT_EQ(NextIndex(3, 9), 4);
    EXPECT_EQ(PreviousIndex(0, 9), 8);
    EXPECT_EQ(PreviousIndex(4, 9), 3);
    EXPECT_EQ(NextIndex(0, 0), -1);
    fs::remove_all(dir);
}
