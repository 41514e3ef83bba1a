// The masks and borders shipped in data/ are readable pictures of the kind
// the dialogs list.

#include "imageops/data_paths.h"
#include "imageops/overlays.h"
#include "test_overlays_common.h"

namespace {

TEST(ShippedPictures, MasksAndBordersAreListedAndReadable) {
    const std::string root = std::string(PELLORIN_SOURCE_DIR) + "/data/";
    struct Kind {
        const char* folder;
        const std::vector<std::string>& ext;
        size_t atLeast;
    };
    for (const Kind& k : {Kind{"Masks", MaskPictureExtensions(), 8},
                          Kind{"border", BorderPictureExtensions(), 6}}) {
        size_t count = 0;
        for (const auto& e : std::filesystem::directory_iterator(root + k.folder)) {
            const std::string path = e.path().string();
            SCOPED_TRACE(path);
            BMP_File pic;
            ASSERT_TRUE(LoadOverlayPicture(path, pic));
            EXPECT_GE(pic.Width(), 32);
            EXPECT_LE(pic.Width(), 512);
            EXPECT_EQ(pic.Width(), pic.Height());
            ++count;
        }
        EXPECT_GE(count, k.atLeast) << k.folder;
    }
}

TEST(ShippedPictures, MasksSpanBlackToWhite) {
    // A mask that never reaches black or white would not hide or keep anything.
    const std::string root = std::string(PELLORIN_SOURCE_DIR) + "/data/Masks/";
    for (const auto& e : std::filesystem::directory_iterator(root)) {
        BMP_File pic;
        ASSERT_TRUE(LoadOverlayPicture(e.path().string(), pic));
        int lo = 255, hi = 0;
        for (int y = 0; y < pic.Height(); ++y)
            for (int x = 0; x < pic.Width(); ++x) {
                const CColor24 p = pic.Pixel(x, y);
                EXPECT_TRUE(p.r == p.g && p.g == p.b);
                lo = std::min<int>(lo, p.r);
                hi = std::max<int>(hi, p.r);
            }
        EXPECT_LE(lo, 8) << e.path();
        EXPECT_GE(hi, 247) << e.path();
    }
}

} // namespace
