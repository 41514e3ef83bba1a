// View frames kept as fractions of the view, and the folder list that "Load
// Next" and pellorin-cli step through.

#include "app/folder_list.h"
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
