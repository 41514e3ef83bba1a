// Noise reduction from the main window: the "Noise Reduce" box chooses the
// pipeline's input, its "..." button runs the dialog, and a picture filtered
// there goes through the preview and out to a saved file.

#include "app/image_files.h"
#include "app/noise/sarnel_dlg.h"
#include "app/ui/pellorin_dlg.h"
#include "noise_test_util.h"
#include "tests/app_ui/ui_test_util.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace noise_test;

namespace {

void Median3x3(SR_Image* img) {
    OnChannels(img, 0, [](SR_Image* i, int c) { SR_MedianFilter(i, c, 3, 3); });
}

class NoiseMainWindow : public ::testing::Test {
protected:
    fs::path dir;
    std::unique_ptr<CPellorinDlg> dlg;

    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pellorin-noise-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        dlg = std::make_unique<CPellorinDlg>();
        dlg->resize(1200, 700);
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
        Settle();
    }
    void TearDown() override {
        dlg.reset();
        fs::remove_all(dir);
    }
    std::string Path(const std::string& n) const { return (dir / n).string(); }
    static void Settle() {
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
    }
    QCheckBox* NoiseBox() const {
        for (QCheckBox* c : dlg->findChildren<QCheckBox*>())
            if (c->text() == "Noise Reduce") return c;
        ADD_FAILURE() << "no Noise Reduce box";
        return nullptr;
    }
    void Load(const BMP_File& picture, const std::string& name) {
        std::string message;
        ASSERT_TRUE(SaveImageFile(Path(name), picture, &message)) << message;
        ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path(name))));
        Settle();
    }
    // Presses "..." beside "Noise Reduce", applies the median once and
    // closes the dialog with OK.
    void MedianThroughTheDialog() {
        QPushButton* more = dlg->findChild<QPushButton*>("noiseReduceDialog");
        ASSERT_NE(more, nullptr);
        EXPECT_EQ(more->text(), "...");
        bool shown = false;
        WithNextModal<CSarnelDlg>([&](CSarnelDlg* d) {
            shown = true;
            EXPECT_EQ(d->windowTitle(), "Noise Reduce");
            d->findChild<QAbstractButton*>("percentileFilter")->click();
            d->findChild<QAbstractButton*>("apply")->click();
            EXPECT_TRUE(WaitFor([d] { return !d->Busy(); }));
            d->findChild<QAbstractButton*>("ok")->click();
        });
        more->click();
        EXPECT_TRUE(shown);
        Settle();
    }
    BMP_File PreviewOf(const BMP_File& input) const {
        BMP_File work;
        EXPECT_TRUE(
            RunPipeline(input, dlg->Settings(), ProcessMode::Preview, dlg->PreviewSize(), work));
        return work;
    }
    // The destination view shows exactly the work image.
    void ExpectViewShows(const BMP_File& work) const {
        const QImage& shown = dlg->DestinationView()->Bitmap();
        ASSERT_EQ(shown.width(), work.Width());
        ASSERT_EQ(shown.height(), work.Height());
        for (int y = 0; y < work.Height(); ++y)
            for (int x = 0; x < work.Width(); ++x) {
                const QColor c = shown.pixelColor(x, y);
                const CColor24 w = work.Pixel(x, y);
                ASSERT_EQ((std::array{c.red(), c.green(), c.blue()}),
                          (std::array{int(w.r), int(w.g), int(w.b)}))
                    << x << "," << y;
            }
    }
};

} // namespace

TEST_F(NoiseMainWindow, OkKeepsTheResultAndThePreviewShowsIt) {
    const BMP_File picture = NoisyPicture(90, 70, 3);
    Load(picture, "in.bmp");
    QCheckBox* box = NoiseBox();
    ASSERT_NE(box, nullptr);
    box->click();
    EXPECT_EQ(dlg->Settings().bNoise, 1);
    MedianThroughTheDialog();

    const BMP_File filtered = Expected(picture, Median3x3);
    EXPECT_TRUE(dlg->Images().noiseReduced.SameAs(filtered));
    EXPECT_TRUE(dlg->Images().original.SameAs(picture)) << "the original stays as loaded";
    const BMP_File preview = PreviewOf(filtered);
    EXPECT_TRUE(dlg->Images().work.SameAs(preview));
    EXPECT_FALSE(preview.SameAs(PreviewOf(picture)));
    ExpectViewShows(preview);

    // Unticking goes back to the original; the noise-reduced copy is kept for
    // ticking again.
    box->click();
    Settle();
    EXPECT_TRUE(dlg->Images().work.SameAs(PreviewOf(picture)));
    box->click();
    Settle();
    EXPECT_TRUE(dlg->Images().work.SameAs(preview));
}

TEST_F(NoiseMainWindow, TickedBoxWithoutANoiseReducedCopyRunsFromTheOriginal) {
    // A configuration saved with the box ticked, loaded before any picture.
    {
        ProcessingSettings s;
        s.bNoise = 1;
        SettingsFile f(s);
        ASSERT_TRUE(f.Save(Path("noise.qvc")));
    }
    ASSERT_TRUE(dlg->LoadConfiguration(QString::fromStdString(Path("noise.qvc"))));
    EXPECT_TRUE(NoiseBox()->isChecked());
    const BMP_File first = NoisyPicture(60, 50, 8);
    Load(first, "first.bmp");
    EXPECT_TRUE(dlg->Images().work.SameAs(PreviewOf(first)));

    // A copy made for one picture is dropped when the next one loads.
    MedianThroughTheDialog();
    EXPECT_FALSE(dlg->Images().work.SameAs(PreviewOf(first)));
    const BMP_File second = NoisyPicture(60, 50, 9);
    Load(second, "second.bmp");
    EXPECT_TRUE(dlg->Images().work.SameAs(PreviewOf(second)));

    // The box is saved with the configuration.
    ASSERT_TRUE(dlg->SaveConfiguration(QString::fromStdString(Path("again.qvc")), true));
    std::ifstream in(Path("again.qvc"));
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("bNoise=1"), std::string::npos);
}

TEST_F(NoiseMainWindow, ImpulsesFilteredInTheDialogAreGoneFromTheSavedFile) {
    // A smooth picture with isolated impulses: no two closer than three pixels,
    // so each 3 x 3 window holds at most one.
    const int w = 120, h = 90;
    BMP_File clean;
    clean.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            clean.Pixel(x, y) =
                CColor24(uint8_t(60 + x / 2), uint8_t(80 + y / 2), uint8_t(100 + (x + y) / 4));
    BMP_File noisy = clean;
    std::vector<std::pair<int, int>> impulses;
    uint32_t seed = 12345;
    for (int tries = 0; tries < 4000; ++tries) {
        seed = seed * 1103515245u + 12345u;
        const int x = int((seed >> 8) % uint32_t(w));
        const int y = int((seed >> 20) % uint32_t(h));
        bool alone = true;
        for (auto [ix, iy] : impulses)
            alone = alone && (std::abs(ix - x) > 2 || std::abs(iy - y) > 2);
        if (!alone) continue;
        impulses.emplace_back(x, y);
        const uint8_t v = (seed >> 30) & 1 ? 255 : 0;
        noisy.Pixel(x, y) = CColor24(v, v, v);
    }
    ASSERT_GT(impulses.size(), 300u);

    Load(noisy, "noisy.png");
    NoiseBox()->click();
    MedianThroughTheDialog();
    ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("clean.png")), 1));

    BMP_File saved;
    std::string message;
    ASSERT_TRUE(LoadImageFile(Path("clean.png"), saved, &message)) << message;
    ASSERT_EQ(saved.Width(), w);
    ASSERT_EQ(saved.Height(), h);
    EXPECT_TRUE(saved.SameAs(Expected(noisy, Median3x3))) << "the dialog's median, full size";
    int far = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const CColor24 a = saved.Pixel(x, y), b = clean.Pixel(x, y);
            if (std::abs(a.r - b.r) > 2 || std::abs(a.g - b.g) > 2 || std::abs(a.b - b.b) > 2)
                ++far;
        }
    EXPECT_EQ(far, 0) << "every pixel is within 2 of the clean picture";
    for (auto [x, y] : impulses) {
        const CColor24 c = saved.Pixel(x, y);
        EXPECT_TRUE(c.r != 0 && c.r != 255) << x << "," << y;
    }
}
