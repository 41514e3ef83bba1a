// The overlay dialogs against a fake host: what each control writes into the
// settings, when the preview reruns, what Cancel restores, and the messages.

#include "../overlays/test_overlays_common.h"
#include "imageops/overlays.h"
#include "imageops/ui/overlay_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>

#include <fstream>

using overlays_test::ScratchDir;
using overlays_test::Solid;

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "overlays_ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
    }
    void TearDown() override { delete app_; }

private:
    QApplication* app_ = nullptr;
};
[[maybe_unused]] auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class FakeHost : public CDialogHost {
public:
    ProcessingSettings s;
    int runs = 0;
    ProcessingSettings& Settings() override { return s; }
    void Reprocess() override { ++runs; }
};

// Collects the dialogs' messages instead of showing boxes.
class Messages {
public:
    Messages() {
        SetOverlayMessageSink([this](QWidget*, const QString& caption, const QString& text) {
            seen.push_back((caption + ": " + text).toStdString());
        });
    }
    ~Messages() { SetOverlayMessageSink({}); }
    std::vector<std::string> seen;
};

template <class T> T* Child(QWidget& w, const char* name) {
    T* c = w.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

QString Text(QWidget& w, const char* name) {
    return Child<QLabel>(w, name)->text();
}

TEST(NoiseDialog, SliderWritesStrengthAndCancelRestoresIt) {
    FakeHost host;
    host.s.m_nStrengthNoise = 30;
    CSetNoiseDlg dlg(host);
    EXPECT_EQ(dlg.windowTitle(), "Set Noise");
    QSlider* slider = Child<QSlider>(dlg, "strength");
    EXPECT_EQ(slider->minimum(), 0);
    EXPECT_EQ(slider->maximum(), 100);
    EXPECT_EQ(slider->value(), 30);
    EXPECT_EQ(Child<QPushButton>(dlg, "ok")->text(), "OK");
    EXPECT_EQ(Child<QPushButton>(dlg, "cancel")->text(), "Cancel");

    slider->setValue(70);
    EXPECT_EQ(host.s.m_nStrengthNoise, 70);
    EXPECT_EQ(host.runs, 1);
    dlg.reject();
    EXPECT_EQ(host.s.m_nStrengthNoise, 30);
    EXPECT_EQ(host.runs, 2);

    CSetNoiseDlg again(host);
    Child<QSlider>(again, "strength")->setValue(55);
    QTest::mouseClick(Child<QPushButton>(again, "ok"), Qt::LeftButton);
    EXPECT_EQ(again.result(), QDialog::Accepted);
    EXPECT_EQ(host.s.m_nStrengthNoise, 55);
}

TEST(RGBNoiseDialog, LockMovesAllThreeAndUnlockedMovesOne) {
    FakeHost host;
    host.s.m_nSliderNoiseR = 10;
    host.s.m_nSliderNoiseG = 20;
    host.s.m_nSliderNoiseB = 30;
    CRGBNoiseDlg dlg(host);
    EXPECT_EQ(dlg.windowTitle(), "RGB Noise");
    EXPECT_EQ(Child<QPushButton>(dlg, "apply")->text(), "Apply");
    EXPECT_EQ(Text(dlg, "greenValue"), "20%");
    QCheckBox* lock = Child<QCheckBox>(dlg, "lock");
    EXPECT_EQ(lock->text(), "Lock");
    EXPECT_TRUE(lock->isChecked());

    Child<QSlider>(dlg, "red")->setValue(80);
    EXPECT_EQ(host.s.m_nSliderNoiseR, 80);
    EXPECT_EQ(host.s.m_nSliderNoiseG, 80);
    EXPECT_EQ(host.s.m_nSliderNoiseB, 80);
    EXPECT_EQ(Text(dlg, "blueValue"), "80%");
    EXPECT_EQ(host.runs, 1) << "one preview per move, not one per slider";

    lock->setChecked(false);
    Child<QSlider>(dlg, "green")->setValue(5);
    EXPECT_EQ(host.s.m_nSliderNoiseR, 80);
    EXPECT_EQ(host.s.m_nSliderNoiseG, 5);
    EXPECT_EQ(host.s.m_nSliderNoiseB, 80);

    // Locking again brings green and blue to red.
    Child<QSlider>(dlg, "blue")->setValue(40);
    lock->setChecked(true);
    EXPECT_EQ(host.s.m_nSliderNoiseG, 80);
    EXPECT_EQ(host.s.m_nSliderNoiseB, 80);

    dlg.reject();
    EXPECT_EQ(host.s.m_nSliderNoiseR, 10);
    EXPECT_EQ(host.s.m_nSliderNoiseG, 20);
    EXPECT_EQ(host.s.m_nSliderNoiseB, 30);
}

TEST(MosaicDialog, PositionIsSizeLessOneAndPreviewOnlyWhenOn) {
    FakeHost host;
    host.s.m_nMosaicSize = 10;
    CMosaicSettingDlg dlg(host);
    EXPECT_EQ(dlg.windowTitle(), "Mosaic Setting");
    QSlider* size = Child<QSlider>(dlg, "size");
    EXPECT_EQ(size->minimum(), 1);
    EXPECT_EQ(size->maximum(), 120);
    EXPECT_EQ(size->value(), 9);
    EXPECT_EQ(Text(dlg, "sizeValue"), "10");

    size->setValue(20);
    EXPECT_EQ(host.s.m_nMosaicSize, 21);
    EXPECT_EQ(Text(dlg, "sizeValue"), "21");
    EXPECT_EQ(host.runs, 0) << "mosaic is off";
    host.s.bMosaic = 1;
    size->setValue(120);
    EXPECT_EQ(host.s.m_nMosaicSize, 121);
    EXPECT_EQ(host.runs, 1);
    dlg.reject();
    EXPECT_EQ(host.s.m_nMosaicSize, 10);
}

class MaskFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir.Path("share/pellorin/Masks"));
        ASSERT_TRUE(
            Solid(12, 8, CColor24(0, 0, 0)).SaveBMP(dir.Path("share/pellorin/Masks/b.bmp")));
        std::ofstream(dir.Path("share/pellorin/Masks/a-broken.bmp")) << "not a picture";
        std::ofstream(dir.Path("share/pellorin/Masks/readme.txt")) << "x";
    }
    ScratchDir dir;
};

TEST_F(MaskFolder, ChoosingInvertAndOpacityWriteSettingsAndCancelRestores) {
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));
    Messages messages;
    FakeHost host;
    host.s.fOpacityMask = 0.4f;
    CSelectMaskDlg dlg(host);
    dlg.ReportFolderProblems();
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(dlg.windowTitle(), "Select Mask");
    QListWidget* list = Child<QListWidget>(dlg, "masks");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "a-broken.bmp");
    EXPECT_EQ(list->item(1)->text(), "b.bmp");
    QSlider* opacity = Child<QSlider>(dlg, "opacity");
    EXPECT_EQ(opacity->value(), 60);
    EXPECT_EQ(Text(dlg, "opacityValue"), "0.40");

    list->setCurrentRow(1);
    EXPECT_EQ(host.s.m_sMaskName, dir.Path("share/pellorin/Masks/b.bmp"));
    EXPECT_EQ(host.runs, 1);

    list->setCurrentRow(0);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0], "Error: Can't load a Mask!");
    EXPECT_EQ(host.s.m_sMaskName, dir.Path("share/pellorin/Masks/b.bmp"));
    EXPECT_EQ(host.runs, 1);

    Child<QCheckBox>(dlg, "invert")->setChecked(true);
    EXPECT_EQ(host.s.bInvertMask, 1);
    opacity->setValue(25);
    EXPECT_FLOAT_EQ(host.s.fOpacityMask, 0.75f);
    EXPECT_EQ(Text(dlg, "opacityValue"), "0.75");
    EXPECT_EQ(host.runs, 3);

    dlg.reject();
    EXPECT_EQ(host.s.m_sMaskName, "");
    EXPECT_EQ(host.s.bInvertMask, 0);
    EXPECT_FLOAT_EQ(host.s.fOpacityMask, 0.4f);
}

TEST_F(MaskFolder, OpensOnTheStoredMask) {
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));
    FakeHost host;
    // Stored where the program used to live: found again by file name.
    host.s.m_sMaskName = "/old/place/Masks/b.bmp";
    CSelectMaskDlg dlg(host);
    EXPECT_EQ(Child<QListWidget>(dlg, "masks")->currentRow(), 1);
    EXPECT_EQ(host.runs, 0);
}

TEST(MaskDialog, ReportsMissingAndEmptyFolders) {
    ScratchDir dir;
    {
        ScopedEnv env("XDG_DATA_DIRS", dir.Path("nothing-here"));
        Messages messages;
        FakeHost host;
        CSelectMaskDlg dlg(host);
        dlg.ReportFolderProblems();
        EXPECT_EQ(messages.seen,
                  std::vector<std::string>{"Error: Can't find 'Masks' subdirectory!"});
    }
    std::filesystem::create_directories(dir.Path("share/pellorin/Masks"));
    {
        ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));
        Messages messages;
        FakeHost host;
        CSelectMaskDlg dlg(host);
        dlg.ReportFolderProblems();
        EXPECT_EQ(messages.seen, std::vector<std::string>{"Error: No Border Files!"});
    }
}

TEST(BorderDialog, ListsPicturesAndWritesPlacement) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path("share/pellorin/border"));
    ASSERT_TRUE(
        Solid(12, 8, CColor24(9, 9, 9)).SaveBMP(dir.Path("share/pellorin/border/frame.bmp")));
    std::ofstream(dir.Path("share/pellorin/border/bad.png")) << "junk";
    std::ofstream(dir.Path("share/pellorin/border/skip.gif")) << "junk";
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("share"));
    Messages messages;
    FakeHost host;
    CSetBorderDlg dlg(host);
    dlg.ReportFolderProblems();
    EXPECT_TRUE(messages.seen.empty());
    EXPECT_EQ(dlg.windowTitle(), "Set Border");
    // A border with no thickness would not show; the dialog proposes one.
    QSpinBox* thickness = Child<QSpinBox>(dlg, "thickness");
    EXPECT_EQ(thickness->value(), CSetBorderDlg::kDefaultThickness);
    EXPECT_EQ(host.s.m_nBorderPlacement[kBorderPlacementThickness],
              CSetBorderDlg::kDefaultThickness);
    EXPECT_TRUE(Child<QRadioButton>(dlg, "onTop")->isChecked());
    EXPECT_EQ(Child<QRadioButton>(dlg, "stretch")->text(), "Stretch image");

    QListWidget* list = Child<QListWidget>(dlg, "borders");
    ASSERT_EQ(list->count(), 2);
    list->setCurrentRow(1);
    EXPECT_EQ(host.s.m_sBorderName, dir.Path("share/pellorin/border/frame.bmp"));
    EXPECT_EQ(Text(dlg, "imageSize"), "Image size: 12 x 8");
    list->setCurrentRow(0);
    EXPECT_EQ(messages.seen, std::vector<std::string>{"Error: Can't load Border!"});
    EXPECT_EQ(host.s.m_sBorderName, dir.Path("share/pellorin/border/frame.bmp"));

    Child<QRadioButton>(dlg, "around")->setChecked(true);
    EXPECT_EQ(host.s.m_nBorderPlacement[kBorderPlacementMode], kBorderAround);
    thickness->setValue(25);
    EXPECT_EQ(host.s.m_nBorderPlacement[kBorderPlacementThickness], 25);
    EXPECT_EQ(host.s.m_nBorderPlacement[kBorderPlacementMode], kBorderAround);
    EXPECT_GE(host.runs, 3);
}

TEST(BorderDialog, ReportsMissingFolder) {
    ScratchDir dir;
    ScopedEnv env("XDG_DATA_DIRS", dir.Path("none"));
    Messages messages;
    FakeHost host;
    CSetBorderDlg dlg(host);
    dlg.ReportFolderProblems();
    EXPECT_EQ(messages.seen, std::vector<std::string>{"Error: Can't find 'Border' subdirectory!"});
}

} // namespace
