// The full-screen viewer: opens on the original, the space bar switches to the
// result and back, Alt does nothing, Escape closes. Checked on the pixels that
// the window actually paints.

#include "app/ui/result_viewer.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace {

BMP_File Filled(int w, int h, CColor24 c) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.Pixel(x, y) = c;
    return img;
}

QRgb At(QWidget& w, int x, int y) {
    return w.grab().toImage().pixel(x, y) | 0xFF000000u;
}

} // namespace

TEST(ResultViewer, SpaceSwitchesEscapeCloses) {
    // The expectations below hold for a screen at least as wide as high and at
    // most twice as wide (the offscreen platform's is 800 x 800).
    const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
    const int W = screen.width(), H = screen.height();
    ASSERT_TRUE(W >= H && W <= 2 * H) << W << "x" << H;
    const BMP_File original = Filled(200, 100, CColor24(255, 0, 0)); // 2:1
    const BMP_File result = Filled(100, 200, CColor24(0, 0, 255));   // 1:2
    CResultViewer viewer(original, result, nullptr);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    EXPECT_EQ(viewer.size(), screen) << "covers the screen";

    // 2:1 fills the width: W x W/2, with background bands above and below.
    EXPECT_FALSE(viewer.ShowingResult());
    EXPECT_EQ(viewer.ImageRect(), QRect(0, (H - W / 2) / 2, W, W / 2));
    EXPECT_EQ(At(viewer, W / 2, H / 2), qRgb(255, 0, 0));
    EXPECT_EQ(At(viewer, W / 2, 2), CResultViewer::kBackground);
    EXPECT_EQ(At(viewer, 5, H - 3), CResultViewer::kBackground);

    // One press shows the result: 1:2 fills the height, H/2 x H, centred.
    QTest::keyClick(&viewer, Qt::Key_Space);
    EXPECT_TRUE(viewer.ShowingResult());
    EXPECT_EQ(viewer.ImageRect(), QRect((W - H / 2) / 2, 0, H / 2, H));
    EXPECT_EQ(At(viewer, W / 2, H / 2), qRgb(0, 0, 255));
    EXPECT_EQ(At(viewer, W / 2, 2), qRgb(0, 0, 255));
    EXPECT_EQ(At(viewer, 5, H / 2), CResultViewer::kBackground);

    // Alt changes nothing and does not close the window.
    QTest::keyClick(&viewer, Qt::Key_Alt);
    EXPECT_TRUE(viewer.ShowingResult());
    EXPECT_TRUE(viewer.isVisible());

    // A held-down bar (auto-repeat) does not flip the images back and forth.
    QTest::keyEvent(QTest::Press, &viewer, Qt::Key_Space, Qt::NoModifier, -1);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(&viewer, &repeat);
    QTest::keyEvent(QTest::Release, &viewer, Qt::Key_Space, Qt::NoModifier, -1);
    EXPECT_FALSE(viewer.ShowingResult()) << "one press, one switch";

    QTest::keyClick(&viewer, Qt::Key_Escape);
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.result(), int(QDialog::Rejected));
}

TEST(ResultViewer, EmptyImagesShowOnlyTheBackground) {
    CResultViewer viewer(BMP_File(), BMP_File(), nullptr);
    viewer.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
    EXPECT_EQ(At(viewer, viewer.width() / 2, viewer.height() / 2), CResultViewer::kBackground);
    QTest::keyClick(&viewer, Qt::Key_Space);
    EXPECT_EQ(At(viewer, viewer.width() / 2, viewer.height() / 2), CResultViewer::kBackground);
}

TEST(ResultViewer, QImageKeepsEveryPixelsColour) {
    BMP_File img;
    ASSERT_TRUE(img.Create(3, 2));
    img.Pixel(0, 0) = CColor24(1, 2, 3);
    img.Pixel(2, 0) = CColor24(250, 128, 7);
    img.Pixel(1, 1) = CColor24(0, 255, 0);
    const QImage q = QImageFromBmp(img);
    ASSERT_EQ(q.size(), QSize(3, 2));
    EXPECT_EQ(q.pixel(0, 0), qRgb(1, 2, 3));
    EXPECT_EQ(q.pixel(2, 0), qRgb(250, 128, 7));
    EXPECT_EQ(q.pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(q.pixel(2, 1), qRgb(0, 0, 0));
    EXPECT_TRUE(QImageFromBmp(BMP_File()).isNull());
}
