// The main window's flows, driven as a user would: loading, stepping through a
// folder, saving, configurations, frames and buttons, the device choices.

#include "app/image_files.h"
#include "app/ui/background_run.h"
#include "app/ui/effect_list.h"
#include "app/ui/pellorin_dlg.h"
#include "imageops/effect_table.h"
#include "imageops/resample.h"
#include "tests/app/file_test_util.h"
#include "tests/app_ui/ui_test_util.h"
#include "tests/main_window/window_fixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using window_test::App;

BMP_File Picture(int w, int h, uint8_t tint = 0) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(x * 3), uint8_t(y * 3), tint);
    return img;
}

class MainWindow : public window_test::WindowTest {};

} // namespace

TEST_F(MainWindow, UpperCaseFileGivesLowerCaseTitle) {
    ASSERT_TRUE(Picture(40, 30).SaveBMP(Path("PHOTO.BMP")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("PHOTO.BMP"))));
    const QString lower = QString::fromStdString(Path("photo.bmp")).toLower();
    EXPECT_EQ(dlg->windowTitle(), "Pellorin - " + lower);
    EXPECT_EQ(dlg->Images().original.Width(), 40);
    EXPECT_FALSE(dlg->Images().work.Empty());
    EXPECT_TRUE(Button("&Save")->isEnabled());
}

TEST_F(MainWindow, LoadNextFollowsTheFilterAndWraps) {
    for (const char* n : {"a.jpg", "b.png", "c.jpg", "d.jpg"}) {
        std::string message;
        ASSERT_TRUE(SaveImageFile(Path(n), Picture(16, 16, uint8_t(n[0])), &message)) << message;
    }
    dlg->SetLoadFilterIndex(3); // "JPG Files"
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("c.jpg"))));
    ASSERT_EQ(dlg->FolderList().size(), 3u);
    ASSERT_TRUE(dlg->LoadNext());
    EXPECT_TRUE(dlg->CurrentFile().endsWith("d.jpg"));
    ASSERT_TRUE(dlg->LoadNext());
    EXPECT_TRUE(dlg->CurrentFile().endsWith("a.jpg")) << "wraps from the last to the first";
    ASSERT_TRUE(dlg->LoadPrevious());
    EXPECT_TRUE(dlg->CurrentFile().endsWith("d.jpg"));
}

TEST_F(MainWindow, SaveAsAppendsTheFiltersExtension) {
    ASSERT_TRUE(Picture(20, 10).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("result")), 5)); // TIFF Files
    EXPECT_TRUE(fs::exists(Path("result.tif")));
    BMP_File back;
    ASSERT_TRUE(LoadImageFile(Path("result.tif"), back));
    EXPECT_TRUE(back.SameAs(Picture(20, 10))) << "the full-size result is saved";
    EXPECT_EQ(dlg->Images().work.Width(), dlg->DestinationView()->width())
        << "the view shows the preview again";
}

TEST_F(MainWindow, LoadedConfigurationRefillsTheListAndRunsOnce) {
    ASSERT_TRUE(Picture(50, 40).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    Settle();
    {
        ProcessingSettings s;
        s.m_aEffects = {0, 33, 7};
        s.m_aEffectChecks = {1, 0, 1};
        s.m_bFlipX = 1;
        s.m_nSizeX = 123;
        SettingsFile f(s);
        ASSERT_TRUE(f.Save(Path("t.qvc")));
    }
    const int before = dlg->PipelineRuns();
    ASSERT_TRUE(dlg->LoadConfiguration(QString::fromStdString(Path("t.qvc"))));
    Settle();
    EXPECT_EQ(dlg->PipelineRuns(), before + 1);
    QTreeWidget* tree = dlg->EffectList()->Tree();
    ASSERT_EQ(tree->topLevelItemCount(), 3);
    EXPECT_EQ(tree->topLevelItem(0)->text(0), "Blur");
    EXPECT_EQ(tree->topLevelItem(1)->text(0), "Oilify");
    EXPECT_EQ(tree->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(tree->topLevelItem(1)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(tree->topLevelItem(2)->checkState(0), Qt::Checked);
    EXPECT_EQ(dlg->Settings().m_nSizeX, 123);
    // The preview shows the loaded treatment.
    BMP_File expected;
    ASSERT_TRUE(RunPipeline(dlg->Images().original, dlg->Settings(), ProcessMode::Preview,
                            dlg->PreviewSize(), expected));
    EXPECT_TRUE(dlg->Images().work.SameAs(expected));
    ProcessingSettings unflipped = dlg->Settings();
    unflipped.m_bFlipX = 0;
    BMP_File plain;
    ASSERT_TRUE(RunPipeline(dlg->Images().original, unflipped, ProcessMode::Preview,
                            dlg->PreviewSize(), plain));
    EXPECT_FALSE(dlg->Images().work.SameAs(plain)) << "the mirror from the file is applied";

    // A file that cannot be read changes nothing.
    EXPECT_FALSE(dlg->LoadConfiguration(QString::fromStdString(Path("missing.qvc"))));
    EXPECT_EQ(dlg->Settings().m_nSizeX, 123);
    EXPECT_EQ(tree->topLevelItemCount(), 3);
}

TEST_F(MainWindow, SaveConfigurationAppendsQvc) {
    ASSERT_TRUE(dlg->SaveConfiguration(QString::fromStdString(Path("mine")), true));
    EXPECT_TRUE(fs::exists(Path("mine.qvc")));
    ASSERT_TRUE(dlg->SaveConfiguration(QString::fromStdString(Path("other.cfg")), true));
    EXPECT_TRUE(fs::exists(Path("other.cfg"))) << "a dot and three characters are kept";
    ASSERT_TRUE(dlg->SaveConfiguration(QString::fromStdString(Path("raw")), false));
    EXPECT_TRUE(fs::exists(Path("raw")));
}

TEST_F(MainWindow, DraggingTheCropFrameCropsThePreview) {
    ASSERT_TRUE(Picture(80, 60).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    QCheckBox* crop = nullptr;
    for (QCheckBox* c : dlg->findChildren<QCheckBox*>())
        if (c->text() == "Crop") crop = c;
    ASSERT_NE(crop, nullptr);
    crop->setChecked(true);
    Settle();
    CBmpWnd* view = dlg->OriginalView();
    const IntRect frame = dlg->Settings().m_cBmpWndOriginal.m_cRectTracker;
    // Drag the top-left handle 30 pixels right and 20 down.
    const QPoint from(frame.left, frame.top);
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(30, 20)),
                     view->mapToGlobal(QPointF(from + QPoint(30, 20))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    const int runsDuringDrag = dlg->PipelineRuns();
    Settle();
    EXPECT_GT(dlg->PipelineRuns(), runsDuringDrag) << "the preview follows the drag";
    QTest::mouseRelease(view, Qt::LeftButton, {}, from + QPoint(30, 20));
    const IntRect moved = dlg->Settings().m_cBmpWndOriginal.m_cRectTracker;
    EXPECT_EQ(moved.left, frame.left + 30);
    EXPECT_EQ(moved.top, frame.top + 20);
    EXPECT_EQ(dlg->Settings().m_rcCrop,
              (IntRect{moved.left - 5, moved.top - 5, moved.right + 5, moved.bottom + 5}));
    // The preview is made at the destination view's size, so the rectangle
    // maps one to one onto it.
    EXPECT_EQ(dlg->Images().work.Width(), (moved.right + 5) - (moved.left - 5));
    EXPECT_EQ(dlg->Images().work.Height(), (moved.bottom + 5) - (moved.top - 5));
    EXPECT_NEAR(dlg->Settings().m_cBmpWndOriginal.CroprcL,
                float(moved.left) / float(view->width() - 5), 1e-6);
}

TEST_F(MainWindow, RotLeftOnceGivesThree) {
    QPushButton* left = Button("Rot. left");
    ASSERT_NE(left, nullptr);
    QTest::mouseClick(left, Qt::LeftButton);
    EXPECT_EQ(dlg->Settings().m_nRotate, 3);
    QPushButton* right = Button("Rot. right");
    QTest::mouseClick(right, Qt::LeftButton);
    EXPECT_EQ(dlg->Settings().m_nRotate, 0);
}

TEST_F(MainWindow, SliderBurstsRunThePipelineOnce) {
    ASSERT_TRUE(Picture(64, 48).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    Settle();
    const int before = dlg->PipelineRuns();
    for (int i = 0; i < 20; ++i) dlg->Reprocess();
    Settle();
    EXPECT_EQ(dlg->PipelineRuns(), before + 1);
}

TEST_F(MainWindow, FailedLoadKeepsTheCurrentPicture) {
    ASSERT_TRUE(Picture(30, 30).SaveBMP(Path("good.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("good.bmp"))));
    const QString title = dlg->windowTitle();
    // The message box would wait for a click; close it as a user would.
    QTimer::singleShot(200, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    EXPECT_FALSE(dlg->LoadFile(QString::fromStdString(Path("nothing.xyz"))));
    EXPECT_EQ(dlg->windowTitle(), title);
    EXPECT_EQ(dlg->Images().original.Width(), 30);
}

TEST_F(MainWindow, ABrokenPictureShowsTheMessageAndTheDecodersReason) {
    // A PNG signature followed by nonsense: the decoder refuses it and says why.
    {
        std::FILE* f = std::fopen(Path("broken.png").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const unsigned char bytes[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n',
                                       0,    0,   0,   1,   'x',  'y',  'z',  'w'};
        std::fwrite(bytes, 1, sizeof bytes, f);
        std::fclose(f);
    }
    QString text, detail;
    QTimer::singleShot(200, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text();
            detail = box->informativeText();
            box->close();
        }
    });
    EXPECT_FALSE(dlg->LoadFile(QString::fromStdString(Path("broken.png"))));
    EXPECT_FALSE(text.isEmpty());
    EXPECT_FALSE(detail.isEmpty()) << text.toStdString();
    EXPECT_FALSE(text.contains(detail)) << "the reason is shown once, below the message";
}

TEST(MainWindowRegistry, DeviceChoicesSurviveARestart) {
    App();
    {
        CPellorinDlg first;
        first.Devices().webCameraSizeX = 640;
        first.Devices().webCameraSizeY = 480;
        first.Devices().webCameraFrequency = 0x1234567890ull;
        first.Devices().scannerSource = "Flatbed 1";
        first.Devices().cameraSource = "Webcam";
    }
    CPellorinDlg second;
    EXPECT_EQ(second.Devices().webCameraSizeX, 640);
    EXPECT_EQ(second.Devices().webCameraSizeY, 480);
    EXPECT_EQ(second.Devices().webCameraFrequency, 0x1234567890ull);
    EXPECT_EQ(second.Devices().scannerSource, "Flatbed 1");
    EXPECT_EQ(second.Devices().cameraSource, "Webcam");

    // Sizes are taken only as a pair of valid numbers.
    {
        QSettings s("Quorvel", "Pellorin");
        s.setValue("Settings/WEB Camera Size X", "wide");
        s.setValue("Settings/WEB Camera Size Y", 100);
    }
    CPellorinDlg third;
    EXPECT_EQ(third.Devices().webCameraSizeX, 320);
    EXPECT_EQ(third.Devices().webCameraSizeY, 240);
    QSettings("Quorvel", "Pellorin").clear();
}

namespace {
BMP_File Blurred(BMP_File img, int times) {
    ProcessingSettings s;
    for (int i = 0; i < times; ++i) ApplyEffect(*FindEffect(0), img, s);
    return img;
}
} // namespace

TEST_F(MainWindow, EffectListRowsAndTicks) {
    ASSERT_TRUE(Picture(90, 70).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    Settle();
    BMP_File scaled;
    ASSERT_TRUE(ResampleNearest(dlg->Images().original, dlg->PreviewSize().width,
                                dlg->PreviewSize().height, scaled));
    CEffectList* list = dlg->EffectList();
    list->Insert(0);
    list->Insert(0);
    Settle();
    EXPECT_EQ(dlg->Settings().m_aEffects, (std::vector<int32_t>{0, 0}));
    EXPECT_TRUE(dlg->Images().work.SameAs(scaled)) << "new rows start unticked";

    QTreeWidget* tree = list->Tree();
    tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
    tree->topLevelItem(1)->setCheckState(0, Qt::Checked);
    Settle();
    EXPECT_EQ(dlg->Settings().m_aEffectChecks, (std::vector<int32_t>{1, 1}));
    EXPECT_TRUE(dlg->Images().work.SameAs(Blurred(scaled, 2))) << "a Blur ticked twice blurs twice";
    tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
    Settle();
    EXPECT_TRUE(dlg->Images().work.SameAs(Blurred(scaled, 1)));

    list->Insert(16); // Swap R & B, unticked
    list->SelectRow(0);
    list->MoveUp();
    EXPECT_EQ(dlg->Settings().m_aEffects, (std::vector<int32_t>{0, 0, 16}))
        << "first row cannot go up";
    list->SelectRow(2);
    list->MoveDown();
    EXPECT_EQ(dlg->Settings().m_aEffects, (std::vector<int32_t>{0, 0, 16}))
        << "last row cannot go down";
    list->MoveUp();
    EXPECT_EQ(dlg->Settings().m_aEffects, (std::vector<int32_t>{0, 16, 0}));
    EXPECT_EQ(dlg->Settings().m_aEffectChecks, (std::vector<int32_t>{1, 0, 0}))
        << "ticks move with rows";
    EXPECT_EQ(list->SelectedRow(), 1);

    dlg->Settings().m_bFlipX = 1;
    list->RemoveAll();
    Settle();
    EXPECT_TRUE(dlg->Settings().m_aEffects.empty());
    EXPECT_EQ(tree->topLevelItemCount(), 0);
    BMP_File flipped = scaled;
    for (int y = 0; y < flipped.Height(); ++y)
        std::reverse(flipped.Row(y), flipped.Row(y) + flipped.Width());
    EXPECT_TRUE(dlg->Images().work.SameAs(flipped)) << "the fixed chain stays";
}

TEST_F(MainWindow, PutImageBlendsOnce) {
    const BMP_File base = Picture(100, 80);
    ASSERT_TRUE(base.SaveBMP(Path("in.bmp")));
    BMP_File white;
    white.Create(10, 10);
    std::fill(white.Bytes(), white.Bytes() + white.PixelBytes(), uint8_t(255));
    ASSERT_TRUE(white.SaveBMP(Path("white.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));

    EXPECT_FALSE(dlg->PutImage()) << "nothing to put yet";
    ASSERT_TRUE(dlg->AddImageOnTop(QString::fromStdString(Path("white.bmp"))));
    dlg->SetTransparency(0.0f);
    ASSERT_TRUE(dlg->PutImage());
    EXPECT_TRUE(dlg->Images().original.SameAs(base)) << "transparency 0 changes nothing";
    EXPECT_FALSE(dlg->OverlayActive());

    ASSERT_TRUE(dlg->AddImageOnTop(QString::fromStdString(Path("white.bmp"))));
    dlg->SetTransparency(100.0f);
    ASSERT_TRUE(dlg->PutImage());
    EXPECT_FALSE(dlg->PutImage()) << "a second press finds no overlay";
    // The frame starts 5 pixels in from the view's corner; at the view's scale
    // that is the image's top-left area, which is now white.
    const int vw = dlg->OriginalView()->width();
    const int x = (6 * base.Width()) / vw + 1;
    EXPECT_EQ(dlg->Images().original.Pixel(x, x), CColor24(255, 255, 255));
    EXPECT_EQ(dlg->Images().original.Pixel(0, 0), base.Pixel(0, 0));
}

namespace {

// A drag with the left button from `from` to `to`, as the mouse does it.
void Drag(QWidget* view, QPoint from, QPoint to) {
    QTest::mousePress(view, Qt::LeftButton, {}, from);
    QMouseEvent move(QEvent::MouseMove, QPointF(to), view->mapToGlobal(QPointF(to)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &move);
    QTest::mouseRelease(view, Qt::LeftButton, {}, to);
}

QCheckBox* CheckBox(QWidget* dlg, const QString& text) {
    for (QCheckBox* c : dlg->findChildren<QCheckBox*>())
        if (c->text() == text) return c;
    return nullptr;
}

std::string Quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

TEST_F(MainWindow, LightFramesComeFromTheirFractionsOnLoading) {
    ASSERT_TRUE(Picture(60, 50).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    Settle();
    const int w = dlg->DestinationView()->width(), h = dlg->DestinationView()->height();
    {
        // Saved from another view with light 1 edited and then its editing
        // switched off: the stored rectangle is in that view's pixels, the
        // fractions say where the frame is.
        ProcessingSettings s;
        s.m_bLight[0] = 1;
        s.m_bLightEdit[0] = 0;
        s.m_rcLight[0] = IntRect{0, 0, 10, 10};
        auto& d = s.m_cBmpWndDestination[0];
        d.LightrcL = 20.0f / float(w - 5);
        d.LightrcT = 30.0f / float(h - 5);
        d.LightrcR = 120.0f / float(w - 5);
        d.LightrcB = 90.0f / float(h - 5);
        // Light 2 was never drawn (an older file has zero fractions): its
        // rectangle stays where the file puts it.
        s.m_bLight[1] = 1;
        s.m_rcLight[1] = IntRect{7, 8, 29, 31};
        SettingsFile f(s);
        ASSERT_TRUE(f.Save(Path("light.qvc")));
    }
    ASSERT_TRUE(dlg->LoadConfiguration(QString::fromStdString(Path("light.qvc"))));
    Settle();
    EXPECT_EQ(dlg->Settings().m_rcLight[0], (IntRect{15, 25, 125, 95}));
    EXPECT_EQ(dlg->Settings().m_cBmpWndDestination[0].m_cLightTracker, (IntRect{20, 30, 120, 90}));
    EXPECT_EQ(dlg->Settings().m_rcLight[1], (IntRect{7, 8, 29, 31}));
    EXPECT_FALSE(dlg->DestinationView()->FrameShown(1)) << "editing stays off";
}

// The desktop program at its default window size and pellorin-cli with its
// default view make the same preview from the same configuration.
TEST(MainWindowDefaultSize, PellorinCliPreviewsWhatTheDestinationViewShows) {
    App();
    const fs::path dir =
        fs::temp_directory_path() / ("pellorin-mw-default-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    auto path = [&](const char* n) { return (dir / n).string(); };

    CPellorinDlg dlg;
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QApplication::processEvents();
    const QSize view(kDefaultViewWidth, kDefaultViewHeight);
    EXPECT_EQ(dlg.DestinationView()->size(), view);
    EXPECT_EQ(dlg.OriginalView()->size(), view);

    BMP_File in;
    in.Create(517, 341);
    for (int y = 0; y < in.Height(); ++y)
        for (int x = 0; x < in.Width(); ++x)
            in.Pixel(x, y) = CColor24(uint8_t(x), uint8_t(y), uint8_t((x * 7) ^ (y * 3)));
    ASSERT_TRUE(in.SaveBMP(path("in.bmp")));
    ASSERT_TRUE(dlg.LoadFile(QString::fromStdString(path("in.bmp"))));

    // A crop frame pulled in from two corners by odd amounts.
    CheckBox(&dlg, "Crop")->setChecked(true);
    QApplication::processEvents();
    const IntRect crop = dlg.Settings().m_cBmpWndOriginal.m_cRectTracker;
    Drag(dlg.OriginalView(), QPoint(crop.left, crop.top), QPoint(crop.left + 37, crop.top + 53));
    Drag(dlg.OriginalView(), QPoint(crop.right, crop.bottom),
         QPoint(crop.right - 41, crop.bottom - 29));
    // Light 1 in the middle of the view, its editing switched off again.
    CheckBox(&dlg, "Light1")->setChecked(true);
    CheckBox(&dlg, "Edit Light1")->setChecked(true);
    QApplication::processEvents();
    const IntRect light = dlg.Settings().m_cBmpWndDestination[0].m_cLightTracker;
    Drag(dlg.DestinationView(), QPoint(light.left, light.top),
         QPoint(light.left + 61, light.top + 83));
    Drag(dlg.DestinationView(), QPoint(light.right, light.bottom),
         QPoint(light.right - 97, light.bottom - 151));
    CheckBox(&dlg, "Edit Light1")->setChecked(false);
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    ASSERT_NE(dlg.Settings().m_rcCrop, (IntRect{0, 0, view.width(), view.height()}));
    ASSERT_NE(dlg.Settings().m_rcLight[0], (IntRect{0, 0, view.width(), view.height()}));
    dlg.RunPreviewNow();
    const BMP_File shown = dlg.Images().work;
    ASSERT_TRUE(dlg.SaveConfiguration(QString::fromStdString(path("treatment.qvc")), true));

    const std::string cmd = Quoted(PELLORIN_CLI) + " apply --config " +
                            Quoted(path("treatment.qvc")) + " --preview --output " +
                            Quoted(path("out.bmp")) + " " + Quoted(path("in.bmp")) + " 2>" +
                            Quoted(path("err.txt"));
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(path("out.bmp")));
    EXPECT_EQ(out.Width(), shown.Width());
    EXPECT_EQ(out.Height(), shown.Height());
    EXPECT_TRUE(out.SameAs(shown)) << "pellorin-cli --preview gives the destination view's picture";
    fs::remove_all(dir);
}

TEST_F(MainWindow, DisplayBitmapThatCannotBeMadeKeepsTheViewAndSaysSo) {
    ASSERT_TRUE(Picture(70, 50).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    Settle();
    const QImage before = dlg->DestinationView()->Bitmap();
    ASSERT_FALSE(before.isNull());

    // No display bitmap can be made: the message, and the view keeps its picture.
    CBmpWnd::SetDisplayBitmapLimit(1000);
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WithNextModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    dlg->Settings().m_bFlipX = 1;
    dlg->RunPreviewNow();
    CBmpWnd::SetDisplayBitmapLimit(std::numeric_limits<qint64>::max());
    EXPECT_EQ(text, "Create Bitmap Error");
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_FALSE(dlg->DestinationView()->Bitmap().isNull()) << "the view did not go blank";
    EXPECT_EQ(dlg->DestinationView()->Bitmap(), before);

    // Once it can be made again the view follows.
    dlg->RunPreviewNow();
    EXPECT_NE(dlg->DestinationView()->Bitmap(), before);
    EXPECT_EQ(dlg->DestinationView()->Bitmap().size(), before.size());
}

TEST_F(MainWindow, SaveReportsAStepThatCannotMakeItsPictureAndWritesNothing) {
    ASSERT_TRUE(Picture(31, 17).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    dlg->Settings().m_bResize = 1;
    dlg->Settings().m_nSizeX = 40000;
    dlg->Settings().m_nSizeY = 30000;
    dlg->RunPreviewNow();
    EXPECT_EQ(dlg->Images().work.Width(), dlg->DestinationView()->width())
        << "the preview passes the resize over";

    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WithNextModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        icon = box->icon();
        box->accept();
    });
    EXPECT_FALSE(dlg->SaveAs(QString::fromStdString(Path("out.png")), 1));
    EXPECT_TRUE(text.startsWith("Resize to 40000 x 30000 failed: ")) << text.toStdString();
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_FALSE(fs::exists(Path("out.png")));
    EXPECT_EQ(dlg->Images().work.Width(), dlg->DestinationView()->width())
        << "the view shows the preview again";
}

namespace {

// A picture without a single black pixel, so that any black column or row in a
// result can only come from outside it.
BMP_File NoBlack(int w, int h) {
    BMP_File img;
    img.Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Pixel(x, y) = CColor24(uint8_t(40 + x % 200), uint8_t(40 + y % 200), 90);
    return img;
}

int BlackPixels(const BMP_File& img) {
    int n = 0;
    for (int y = 0; y < img.Height(); ++y)
        for (int x = 0; x < img.Width(); ++x) {
            const CColor24 c = img.Pixel(x, y);
            n += c.r == 0 && c.g == 0 && c.b == 0;
        }
    return n;
}

} // namespace

// Ticking "Crop" without moving its frame crops to the whole picture, whatever
// the window's size, including sizes at which the two views differ by a pixel.
TEST_F(MainWindow, UntouchedCropFrameKeepsTheWholePictureAtAnyWindowSize) {
    const BMP_File in = NoBlack(600, 400);
    ASSERT_TRUE(in.SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    CheckBox(dlg.get(), "Crop")->setChecked(true);
    Settle();
    bool sawUnequalViews = false;
    for (int width : {1201, 1202, 1203, 1204, 1251, 1280, 1000, 1001}) {
        for (int height : {700, 701, 720}) {
            dlg->resize(width, height);
            Settle();
            const QSize o = dlg->OriginalView()->size(), d = dlg->DestinationView()->size();
            sawUnequalViews = sawUnequalViews || o != d;
            const std::string at =
                std::to_string(width) + " x " + std::to_string(height) + " (views " +
                std::to_string(o.width()) + " x " + std::to_string(o.height()) + " and " +
                std::to_string(d.width()) + " x " + std::to_string(d.height()) + ")";
            ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("out.bmp")), 4)) << at;
            BMP_File out;
            ASSERT_TRUE(out.LoadBMP(Path("out.bmp"))) << at;
            EXPECT_EQ(out.Width(), 600) << at;
            EXPECT_EQ(out.Height(), 400) << at;
            EXPECT_TRUE(out.SameAs(in)) << at;
            // The preview is the destination view's picture, cropped to nothing.
            EXPECT_EQ(dlg->Images().work.Width(), d.width()) << at;
            EXPECT_EQ(dlg->Images().work.Height(), d.height()) << at;
            EXPECT_EQ(BlackPixels(dlg->Images().work), 0) << at;
        }
    }
    EXPECT_TRUE(sawUnequalViews) << "no window size tried gives views of different sizes";
}

// However far the crop frame is dragged or pulled past the view's edge, it
// stays 5 pixels inside the view, and the result has no black bands.
TEST_F(MainWindow, CropFrameStaysInsideTheViewWhateverTheDrag) {
    const BMP_File in = NoBlack(300, 200);
    ASSERT_TRUE(in.SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    CheckBox(dlg.get(), "Crop")->setChecked(true);
    Settle();
    CBmpWnd* view = dlg->OriginalView();
    const int w = view->width(), h = view->height();
    const IntRect& frame = dlg->Settings().m_cBmpWndOriginal.m_cRectTracker;
    auto inside = [&](const char* what) {
        EXPECT_GE(frame.left, 5) << what;
        EXPECT_GE(frame.top, 5) << what;
        EXPECT_LE(frame.right, w - 5) << what;
        EXPECT_LE(frame.bottom, h - 5) << what;
        const IntRect& r = dlg->Settings().m_rcCrop;
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= w && r.bottom <= h) << what;
        EXPECT_EQ(BlackPixels(dlg->Images().work), 0) << what;
    };
    // Shrink it, then throw it past the top-left corner by its inside.
    Drag(view, QPoint(frame.right, frame.bottom), QPoint(frame.right - 120, frame.bottom - 150));
    Settle();
    const int fw = frame.Width(), fh = frame.Height();
    QPoint mid((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
    Drag(view, mid, mid - QPoint(500, 400));
    Settle();
    inside("moved past the top-left corner");
    EXPECT_EQ(frame.Width(), fw) << "moving keeps the size";
    EXPECT_EQ(frame.Height(), fh);
    // ... and past the bottom-right corner.
    mid = QPoint((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2);
    Drag(view, mid, mid + QPoint(900, 900));
    Settle();
    inside("moved past the bottom-right corner");
    EXPECT_EQ(frame.right, w - 5);
    EXPECT_EQ(frame.bottom, h - 5);
    // Its handles pulled past every edge.
    Drag(view, QPoint(frame.left, frame.top), QPoint(-40, -30));
    Settle();
    inside("top-left handle past the corner");
    EXPECT_EQ(frame.left, 5);
    EXPECT_EQ(frame.top, 5);
    Drag(view, QPoint(frame.right, frame.bottom), QPoint(w + 40, h + 30));
    Settle();
    inside("bottom-right handle past the corner");
    // Now the frame covers the whole view again: the whole picture is saved.
    ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("out.bmp")), 4));
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    EXPECT_TRUE(out.SameAs(in)) << out.Width() << " x " << out.Height();
}

// A failed "Save As" changes neither the title nor the file "Save" writes to;
// without a picture "Save As" is disabled as "Save" is and changes nothing.
TEST_F(MainWindow, FailedSaveAsKeepsTheTitleAndTheOutputFile) {
    const QString startTitle = dlg->windowTitle();
    EXPECT_FALSE(Button("Save &As...")->isEnabled());
    EXPECT_FALSE(Button("&Save")->isEnabled());
    EXPECT_FALSE(dlg->SaveAs(QString::fromStdString(Path("nothing.png")), 1));
    EXPECT_FALSE(fs::exists(Path("nothing.png")));
    EXPECT_EQ(dlg->windowTitle(), startTitle);

    ASSERT_TRUE(Picture(20, 10).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    EXPECT_TRUE(Button("Save &As...")->isEnabled());
    ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("good.bmp")), 4));
    const QString title = dlg->windowTitle();
    EXPECT_EQ(title, "Pellorin - " + QString::fromStdString(Path("good.bmp")).toLower());

    QString text;
    WithNextModal<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        box->accept();
    });
    EXPECT_FALSE(dlg->SaveAs(QString::fromStdString(Path("no-such-folder/bad.bmp")), 4));
    EXPECT_FALSE(text.isEmpty()) << "the failure is reported";
    EXPECT_EQ(dlg->windowTitle(), title);

    // "Save" still writes where the last successful save went.
    fs::remove(Path("good.bmp"));
    // A message box here would be a failure; close it so the run goes on. The
    // timer ends with this test: left pending, it would close a later test's
    // dialog.
    QTimer closeBox;
    closeBox.setSingleShot(true);
    QObject::connect(&closeBox, &QTimer::timeout, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    closeBox.start(500);
    ASSERT_TRUE(dlg->Save());
    EXPECT_TRUE(fs::exists(Path("good.bmp")));
    EXPECT_FALSE(fs::exists(Path("no-such-folder")));
}

namespace {
bool Renaming(QTreeWidget* tree) {
    for (QLineEdit* e : tree->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible()) return true;
    return false;
}
} // namespace

// A double click on a row of the effect list opens that row's settings, as
// "Edit Effect..." does; F2 still renames the row in place.
TEST_F(MainWindow, DoubleClickOnAnEffectRowOpensItsSettings) {
    CEffectList* list = dlg->EffectList();
    list->Insert(0);  // Blur
    list->Insert(16); // Swap R & B
    Settle();
    std::vector<int> opened;
    list->onEdit = [&](int id) {
        opened.push_back(id);
        return true;
    };
    QTreeWidget* tree = list->Tree();
    tree->scrollToItem(tree->topLevelItem(1));
    const QRect second = tree->visualItemRect(tree->topLevelItem(1));
    ASSERT_TRUE(second.isValid());
    // Well right of the check box, on the label.
    const QPoint at(second.left() + 60, second.center().y());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    Settle();
    EXPECT_EQ(opened, (std::vector<int>{16}));
    EXPECT_EQ(list->SelectedRow(), 1);
    EXPECT_FALSE(Renaming(tree)) << "no rename on a double click";

    // F2 starts the in-place rename.
    tree->setFocus();
    tree->setCurrentItem(tree->topLevelItem(0));
    QTest::keyClick(tree, Qt::Key_F2);
    Settle();
    EXPECT_TRUE(Renaming(tree)) << "F2 renames in place";
    EXPECT_EQ(opened.size(), 1u) << "F2 does not open the settings";
}

// A load error keeps the loader's message and names the file that failed, for
// the main picture and for a picture laid on top.
TEST_F(MainWindow, LoadErrorsNameTheFile) {
    auto textOf = [&](auto load) {
        QString text;
        WithNextModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            box->accept();
        });
        EXPECT_FALSE(load());
        return text;
    };
    QString text =
        textOf([&] { return dlg->LoadFile(QString::fromStdString(Path("Holiday 07.xyz"))); });
    EXPECT_TRUE(text.startsWith("Unknown File Format!")) << text.toStdString();
    EXPECT_TRUE(text.contains("Holiday 07.xyz")) << text.toStdString();

    ASSERT_TRUE(Picture(30, 20).SaveBMP(Path("in.bmp")));
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    {
        std::FILE* f = std::fopen(Path("cut.bmp").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite("BM", 1, 2, f);
        std::fclose(f);
    }
    std::string message;
    BMP_File none;
    ASSERT_FALSE(LoadImageFile(Path("cut.bmp"), none, &message));
    text = textOf([&] { return dlg->AddImageOnTop(QString::fromStdString(Path("cut.bmp"))); });
    EXPECT_TRUE(text.startsWith(QString::fromStdString(message))) << text.toStdString();
    EXPECT_TRUE(text.contains("cut.bmp")) << text.toStdString();
}

// On a 1280 x 720 screen (less a title bar) the window fits, and every control
// can be reached: directly, or by scrolling the column it is in.
TEST_F(MainWindow, FitsA1280By720ScreenWithEveryControlReachable) {
    const QSize screen(1280, 720 - 30);
    EXPECT_LE(dlg->minimumSizeHint().width(), screen.width());
    EXPECT_LE(dlg->minimumSizeHint().height(), screen.height());
    dlg->resize(screen);
    Settle();
    EXPECT_EQ(dlg->size(), screen);
    int checked = 0;
    for (QWidget* w : dlg->findChildren<QWidget*>()) {
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QSlider*>(w) &&
            !qobject_cast<QLineEdit*>(w))
            continue;
        if (!w->isVisibleTo(dlg.get())) continue;
        QScrollArea* scroll = nullptr;
        for (QWidget* p = w->parentWidget(); p && !scroll; p = p->parentWidget())
            scroll = qobject_cast<QScrollArea*>(p);
        if (scroll) scroll->ensureWidgetVisible(w, 0, 0);
        Settle();
        const QRect shown(w->mapTo(dlg.get(), QPoint(0, 0)), w->size());
        const QString name = w->property("text").toString() + " " + w->metaObject()->className();
        EXPECT_TRUE(dlg->rect().contains(shown)) << name.toStdString();
        if (scroll) {
            const QRect port(scroll->viewport()->mapTo(dlg.get(), QPoint(0, 0)),
                             scroll->viewport()->size());
            EXPECT_TRUE(port.contains(shown)) << name.toStdString() << " scrolled into view";
        }
        ++checked;
    }
    EXPECT_GT(checked, 50);
    for (const char* text : {"Remove All", "Put Image", "Add Text...", "About..."})
        EXPECT_NE(Button(text), nullptr) << text;
}

// A settings dialog opens beside the "Processing Image" view, so that the
// preview it drives stays visible; message boxes keep their usual place.
TEST_F(MainWindow, SettingsDialogsLeaveTheProcessingViewVisible) {
    QScreen* screen = dlg->screen();
    ASSERT_NE(screen, nullptr);
    const QRect area = screen->availableGeometry();
    // A window narrower than the screen, so that there is room beside the view.
    dlg->setGeometry(QRect(area.topLeft() + QPoint(10, 10), QSize(900, 560)));
    Settle();
    QWidget* box = dlg->DestinationView()->parentWidget();
    const QRect view(box->mapToGlobal(QPoint(0, 0)), box->size());
    ASSERT_TRUE(area.intersects(view));
    for (const QString caption : {"Set Noise", "Adjust Color", "Set Mosaic"}) {
        QPushButton* more = nullptr;
        // The "..." button on the check box's row.
        QCheckBox* check = CheckBox(dlg.get(), caption);
        ASSERT_NE(check, nullptr) << caption.toStdString();
        for (QPushButton* b : dlg->findChildren<QPushButton*>())
            if (b->text() == "..." && std::abs(b->mapToGlobal(b->rect().center()).y() -
                                               check->mapToGlobal(check->rect().center()).y()) < 8)
                more = b;
        ASSERT_NE(more, nullptr) << caption.toStdString();
        QRect shown;
        WithNextModal<QDialog>([&](QDialog* d) {
            shown = d->frameGeometry();
            d->reject();
        });
        more->click();
        Settle();
        EXPECT_FALSE(shown.isEmpty()) << caption.toStdString();
        EXPECT_FALSE(shown.intersects(view))
            << caption.toStdString() << ": dialog at " << shown.x() << "," << shown.y() << " "
            << shown.width() << " x " << shown.height() << ", view at " << view.x() << ","
            << view.y() << " " << view.width() << " x " << view.height();
        EXPECT_TRUE(area.contains(shown)) << caption.toStdString() << " stays on the screen";
    }
}

// A configuration written elsewhere names its mask and border by paths into a
// folder this machine does not have: both are found by their file names in the
// data folders, by the window and by pellorin-cli alike.
TEST_F(MainWindow, MaskAndBorderOfAConfigurationFromElsewhereAreFoundInTheDataFolders) {
    const fs::path data = dir / "share";
    fs::create_directories(data / "pellorin" / "border");
    fs::create_directories(data / "pellorin" / "Masks");
    BMP_File border = NoBlack(40, 40);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            if (x < 6 || y < 6 || x >= 34 || y >= 34) border.Pixel(x, y) = CColor24(200, 20, 20);
    ASSERT_TRUE(border.SaveBMP((data / "pellorin" / "border" / "red-edge.bmp").string()));
    BMP_File mask;
    mask.Create(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            mask.Pixel(x, y) = x < 8 ? CColor24(255, 255, 255) : CColor24(0, 0, 0);
    ASSERT_TRUE(mask.SaveBMP((data / "pellorin" / "Masks" / "half.bmp").string()));
    const char* old = std::getenv("XDG_DATA_DIRS");
    const std::string saved = old ? old : "";
    ::setenv("XDG_DATA_DIRS", data.string().c_str(), 1);

    const BMP_File in = NoBlack(120, 90);
    ASSERT_TRUE(in.SaveBMP(Path("in.bmp")));
    {
        ProcessingSettings s;
        s.m_bSetBorder = 1;
        s.m_sBorderName = "/opt/old-machine/pellorin/border/red-edge.bmp";
        s.m_nBorderPlacement[0] = 0;  // on top of the picture
        s.m_nBorderPlacement[1] = 12; // pixels
        s.m_bSetMask = 1;
        s.m_sMaskName = "/home/someone/pellorin-build/app/Masks/half.bmp";
        SettingsFile f(s);
        ASSERT_TRUE(f.Save(Path("moved.qvc")));
    }
    ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
    ASSERT_TRUE(dlg->LoadConfiguration(QString::fromStdString(Path("moved.qvc"))));
    EXPECT_EQ(dlg->Settings().m_sBorderName, "/opt/old-machine/pellorin/border/red-edge.bmp")
        << "the stored path is kept as written";
    ASSERT_TRUE(dlg->RunFinal());
    const BMP_File shown = dlg->Images().work;
    ProcessingSettings none = dlg->Settings();
    none.m_bSetBorder = 0;
    none.m_bSetMask = 0;
    BMP_File plain;
    ASSERT_TRUE(RunPipeline(in, none, ProcessMode::Final, dlg->PreviewSize(), plain));
    EXPECT_FALSE(shown.SameAs(plain)) << "mask and border are applied";
    ProcessingSettings borderOnly = dlg->Settings();
    borderOnly.m_bSetMask = 0;
    BMP_File bordered;
    ASSERT_TRUE(RunPipeline(in, borderOnly, ProcessMode::Final, dlg->PreviewSize(), bordered));
    EXPECT_FALSE(bordered.SameAs(plain)) << "the border is found";
    EXPECT_FALSE(bordered.SameAs(shown)) << "the mask is found";

    const std::string cmd = Quoted(PELLORIN_CLI) + " apply --config " + Quoted(Path("moved.qvc")) +
                            " --output " + Quoted(Path("out.bmp")) + " " + Quoted(Path("in.bmp")) +
                            " 2>" + Quoted(Path("err.txt"));
    const int rc = std::system(cmd.c_str());
    if (old)
        ::setenv("XDG_DATA_DIRS", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_DIRS");
    ASSERT_EQ(rc, 0);
    BMP_File out;
    ASSERT_TRUE(out.LoadBMP(Path("out.bmp")));
    EXPECT_TRUE(out.SameAs(shown)) << "pellorin-cli applies the same mask and border";
}

// On a screen smaller than the default window the program starts with a window
// that fits it; on a large one the default size stays.
TEST(MainWindowScreen, StartsSmallEnoughForA768PixelScreen) {
    App();
    CPellorinDlg dlg;
    const QSize standard = dlg.size();
    ASSERT_GT(standard.height(), 768 - 40) << "the default window is taller than a laptop screen";
    dlg.FitOnScreen(QRect(0, 0, 2560, 1440));
    EXPECT_EQ(dlg.size(), standard);
    dlg.FitOnScreen(QRect(0, 0, 1366, 768));
    EXPECT_LE(dlg.height(), 768 - 40);
    EXPECT_LE(dlg.width(), 1366);
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QApplication::processEvents();
    EXPECT_LE(dlg.height(), 768 - 40) << "showing keeps the size";
    EXPECT_GT(dlg.DestinationView()->height(), 300) << "the views keep a usable size";
}

// Full-size runs leave the window responsive: the treatment and the encoder run
// on a worker while a dialog shows the steps and offers Cancel.
class FinalRunOffTheWindow : public MainWindow {
protected:
    void TearDown() override {
        CBackgroundRun::BeforeStepHookForTesting() = nullptr;
        MainWindow::TearDown();
    }
    // Holds the worker before its first step until the user has cancelled,
    // so that the test meets the dialog whatever the machine's speed.
    static void HoldUntilCancelled() {
        CBackgroundRun::BeforeStepHookForTesting() = [](const CBackgroundRun& run) {
            for (int i = 0; i < 1000 && !run.Cancelled(); ++i) QThread::msleep(10);
        };
    }
    void LoadWithEffects() {
        ASSERT_TRUE(Picture(64, 48).SaveBMP(Path("in.bmp")));
        ASSERT_TRUE(dlg->LoadFile(QString::fromStdString(Path("in.bmp"))));
        ProcessingSettings s;
        s.m_aEffects = {7, 16}; // Grey Scale, Swap R & B
        s.m_aEffectChecks = {1, 1};
        ASSERT_TRUE(SettingsFile(s).Save(Path("t.qvc")));
        ASSERT_TRUE(dlg->LoadConfiguration(QString::fromStdString(Path("t.qvc"))));
    }
    static void ClickCancel(QDialog* progress) {
        QPushButton* cancel = nullptr;
        for (QPushButton* b : progress->findChildren<QPushButton*>())
            if (b->text() == "Cancel") cancel = b;
        ASSERT_NE(cancel, nullptr);
        QTest::mouseClick(cancel, Qt::LeftButton);
    }
};

TEST_F(FinalRunOffTheWindow, CancelledSaveLeavesTheExistingFileByteIdentical) {
    LoadWithEffects();
    const std::string target = Path("out.bmp");
    ASSERT_TRUE(Picture(20, 10, 200).SaveBMP(target));
    const std::vector<uint8_t> before = file_test::ReadAll(target);
    HoldUntilCancelled();
    bool sawProgress = false;
    WithNextModal<QDialog>([&](QDialog* progress) {
        EXPECT_EQ(qobject_cast<QMessageBox*>(progress), nullptr) << "an error box, not progress";
        sawProgress = true;
        ClickCancel(progress);
    });
    EXPECT_FALSE(dlg->SaveAs(QString::fromStdString(target), 4));
    EXPECT_TRUE(sawProgress);
    EXPECT_EQ(file_test::ReadAll(target), before);
    // Nothing was saved: "Save" does not point at the file and the title is
    // the loaded picture's.
    EXPECT_TRUE(dlg->windowTitle().endsWith("in.bmp"));
    EXPECT_FALSE(dlg->Save());
    // The view shows the preview again, at the view's size.
    Settle();
    EXPECT_LT(dlg->Images().work.Width(), 64 * 10);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(FinalRunOffTheWindow, SlowSaveShowsItsStepsAndWrites) {
    LoadWithEffects();
    // Slow steps: the dialog appears and must count them.
    CBackgroundRun::BeforeStepHookForTesting() = [](const CBackgroundRun&) {
        QThread::msleep(350);
    };
    int shownTotal = -1;
    WithNextModal<QDialog>([&](QDialog* progress) {
        auto* bar = progress->findChild<QProgressBar*>();
        ASSERT_NE(bar, nullptr);
        // Wait for the refresh to pick up the step count, then let it finish.
        for (int i = 0; i < 100 && bar->maximum() == 0; ++i) QTest::qWait(10);
        shownTotal = bar->maximum();
    });
    ASSERT_TRUE(dlg->SaveAs(QString::fromStdString(Path("slow.bmp")), 4));
    EXPECT_EQ(shownTotal, 2); // the two ticked effects; no correction is on
    BMP_File saved;
    ASSERT_TRUE(LoadImageFile(Path("slow.bmp"), saved));
    EXPECT_EQ(saved.Width(), 64);
    // Grey, then red and blue swapped: every pixel grey.
    const CColor24 c = saved.Pixel(10, 20);
    EXPECT_EQ(c.r, c.g);
    EXPECT_EQ(c.g, c.b);
}

TEST(BackgroundRun, CancelAndCommitExcludeEachOther) {
    CBackgroundRun cancelledFirst;
    EXPECT_TRUE(cancelledFirst.RequestCancel());
    EXPECT_FALSE(cancelledFirst.Step(0, 1));
    EXPECT_FALSE(cancelledFirst.BeginCommit()) << "a cancelled job must write nothing";

    CBackgroundRun committedFirst;
    EXPECT_TRUE(committedFirst.Step(0, 1));
    EXPECT_TRUE(committedFirst.BeginCommit());
    EXPECT_FALSE(committedFirst.RequestCancel()) << "the file is being written";
    EXPECT_FALSE(committedFirst.Cancelled());
}
