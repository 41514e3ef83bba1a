// The operations' settings dialogs: every control writes its setting and asks
// for a preview, Cancel puts back the opening values, and the Blur dialog
// writes only on OK.

#include "imageops/effect_table.h"
#include "imageops/ui/adjust_color_dlg.h"
#include "imageops/ui/blur_setting_dlg.h"
#include "imageops/ui/color_filter_dlg.h"
#include "imageops/ui/effect_dialogs.h"
#include "imageops/ui/perspective_dlg.h"
#include "imageops/ui/tone_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class FakeHost : public CDialogHost {
public:
    ProcessingSettings& Settings() override { return settings; }
    void Reprocess() override { ++reprocessed; }
    ProcessingSettings settings;
    int reprocessed = 0;
};

template <class T> T* Child(QWidget& dlg, const char* name) {
    T* w = dlg.findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString Text(QWidget& dlg, const char* name) {
    QLabel* l = Child<QLabel>(dlg, name);
    return l ? l->text() : QString();
}

} // namespace

TEST(BrightnessContrastDlg, LockMovesAllThreeAndCancelRestores) {
    FakeHost host;
    host.settings.m_nBrightR = 40;
    host.settings.m_nBrightG = 50;
    host.settings.m_nBrightB = 60;
    CBrightnessContrastDlg dlg(CBrightnessContrastDlg::Kind::Brightness, host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Adjust Brightness");
    QCheckBox* lock = Child<QCheckBox>(dlg, "lock");
    ASSERT_TRUE(lock);
    EXPECT_TRUE(lock->isChecked());
    EXPECT_EQ(Text(dlg, "greenValue"), "50%");
    EXPECT_EQ(host.reprocessed, 0);

    Child<QSlider>(dlg, "green")->setValue(70);
    EXPECT_EQ(host.settings.m_nBrightR, 70);
    EXPECT_EQ(host.settings.m_nBrightG, 70);
    EXPECT_EQ(host.settings.m_nBrightB, 70);
    EXPECT_EQ(host.reprocessed, 1);
    EXPECT_EQ(Text(dlg, "redValue"), "70%");

    lock->setChecked(false);
    Child<QSlider>(dlg, "blue")->setValue(10);
    EXPECT_EQ(host.settings.m_nBrightB, 10);
    EXPECT_EQ(host.settings.m_nBrightR, 70);
    Child<QSlider>(dlg, "red")->setValue(20);
    // Checking Lock brings green and blue to red.
    lock->setChecked(true);
    EXPECT_EQ(host.settings.m_nBrightG, 20);
    EXPECT_EQ(host.settings.m_nBrightB, 20);

    const int before = host.reprocessed;
    QTest::mouseClick(Child<QPushButton>(dlg, "cancel"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_nBrightR, 40);
    EXPECT_EQ(host.settings.m_nBrightG, 50);
    EXPECT_EQ(host.settings.m_nBrightB, 60);
    EXPECT_GT(host.reprocessed, before);
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST(BrightnessContrastDlg, ContrastApplyKeeps) {
    FakeHost host;
    CBrightnessContrastDlg dlg(CBrightnessContrastDlg::Kind::Contrast, host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Adjust Contrast");
    Child<QCheckBox>(dlg, "lock")->setChecked(false);
    Child<QSlider>(dlg, "red")->setValue(90);
    QTest::mouseClick(Child<QPushButton>(dlg, "apply"), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(host.settings.m_nContrastR, 90);
    EXPECT_EQ(host.settings.m_nContrastG, 50);
    EXPECT_EQ(host.settings.m_nBrightR, 50);
}

TEST(AdjustHsbDlg, SlidersWriteAndCancelRestores) {
    FakeHost host;
    CAdjustHsbDlg dlg(host);
    dlg.show();
    Child<QSlider>(dlg, "hue")->setValue(80);
    Child<QSlider>(dlg, "saturation")->setValue(10);
    Child<QSlider>(dlg, "brightness")->setValue(95);
    EXPECT_EQ(host.settings.m_nHue, 80);
    EXPECT_EQ(host.settings.m_nSaturation, 10);
    EXPECT_EQ(host.settings.m_nBrightness, 95);
    EXPECT_EQ(host.reprocessed, 3);
    EXPECT_EQ(Text(dlg, "saturationValue"), "10%");
    dlg.reject();
    EXPECT_EQ(host.settings.m_nHue, 50);
    EXPECT_EQ(host.settings.m_nSaturation, 50);
    EXPECT_EQ(host.settings.m_nBrightness, 50);
    EXPECT_EQ(host.reprocessed, 4);
}

TEST(AdjustColorDlg, ControlsWriteTheRecordAndCancelRestores) {
    FakeHost host;
    host.settings.m_ca.caContrast = -30;
    CAdjustColorDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Adjust Color");
    QSlider* contrast = Child<QSlider>(dlg, "contrast");
    ASSERT_TRUE(contrast);
    EXPECT_EQ(contrast->value(), 70); // field + 100
    EXPECT_EQ(Text(dlg, "contrastValue"), "-30");
    EXPECT_EQ(Child<QSlider>(dlg, "redGamma")->minimum(), 2500);
    EXPECT_EQ(Child<QSlider>(dlg, "redGamma")->maximum(), 65000);
    EXPECT_EQ(Child<QSlider>(dlg, "referenceWhite")->minimum(), 6000);

    Child<QSlider>(dlg, "redGreenTint")->setValue(160);
    EXPECT_EQ(host.settings.m_ca.caRedGreenTint, 60);
    EXPECT_EQ(Text(dlg, "redGreenTintValue"), "60");
    Child<QSlider>(dlg, "blueGamma")->setValue(30000);
    EXPECT_EQ(host.settings.m_ca.caBlueGamma, 30000);
    QComboBox* ill = Child<QComboBox>(dlg, "illuminant");
    ASSERT_TRUE(ill);
    EXPECT_EQ(ill->count(), 9);
    EXPECT_EQ(ill->itemText(8), "F2");
    ill->setCurrentIndex(4);
    EXPECT_EQ(host.settings.m_ca.caIlluminantIndex, 4);
    QTest::mouseClick(Child<QRadioButton>(dlg, "logFilter"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_ca.caFlags, 2);
    EXPECT_EQ(host.reprocessed, 4);

    QTest::mouseClick(Child<QPushButton>(dlg, "cancel"), Qt::LeftButton);
    ColorAdjustment expected;
    expected.caContrast = -30;
    EXPECT_EQ(host.settings.m_ca, expected);
    EXPECT_EQ(host.reprocessed, 5);
}

TEST(ColorFilterDlg, SlidersSynchroAndRangeButtons) {
    FakeHost host;
    host.settings.m_bColorFilter = 1;
    CColorFilterDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Color Filter");
    ColorFilterSettings& f = host.settings.m_ColorFilterDlg;

    Child<QSlider>(dlg, "redMin")->setValue(40);
    EXPECT_EQ(f.m_nRMin, 40);
    EXPECT_EQ(f.m_nGMin, 0);
    EXPECT_EQ(Child<QSpinBox>(dlg, "redMinEdit")->value(), 40);
    EXPECT_EQ(host.reprocessed, 1);

    QTest::mouseClick(Child<QCheckBox>(dlg, "synchronously"), Qt::LeftButton);
    EXPECT_EQ(f.m_bSynchro, 1);
    Child<QSlider>(dlg, "greenMax")->setValue(235); // 20 down: red and blue follow
    EXPECT_EQ(f.m_nGMax, 235);
    EXPECT_EQ(f.m_nRMax, 235);
    EXPECT_EQ(f.m_nBMax, 235);
    EXPECT_EQ(Child<QSlider>(dlg, "blueMax")->value(), 235);

    // Edit fields move the bounds as the sliders do.
    Child<QSpinBox>(dlg, "redMinEdit")->setValue(50); // 10 up: green and blue follow
    EXPECT_EQ(f.m_nGMin, 10);
    EXPECT_EQ(f.m_nBMin, 10);

    QTest::mouseClick(Child<QPushButton>(dlg, "decrease10"), Qt::LeftButton);
    EXPECT_EQ(f.m_nRMin, 60);
    EXPECT_EQ(f.m_nRMax, 225);
    QTest::mouseClick(Child<QPushButton>(dlg, "increase5"), Qt::LeftButton);
    EXPECT_EQ(f.m_nRMin, 55);
    EXPECT_EQ(f.m_nBMin, 15);
    EXPECT_EQ(f.m_nBMax, 230);
    QTest::mouseClick(Child<QPushButton>(dlg, "defaultColor"), Qt::LeftButton);
    EXPECT_EQ(f.m_nRMin, 255);
    EXPECT_EQ(f.m_nGMax, 255);

    QTest::mouseClick(Child<QRadioButton>(dlg, "eraseColor"), Qt::LeftButton);
    EXPECT_EQ(f.ftype, 1);
    const int moves = host.reprocessed;
    EXPECT_GE(moves, 7);

    dlg.reject();
    EXPECT_EQ(f.m_nRMin, 0);
    EXPECT_EQ(f.m_nRMax, 255);
    EXPECT_EQ(f.ftype, 0);
    EXPECT_EQ(f.m_bSynchro, 0);
}

TEST(ColorFilterDlg, NoPreviewWhileTheFilterIsOff) {
    FakeHost host;
    CColorFilterDlg dlg(host);
    dlg.show();
    Child<QSlider>(dlg, "blueMax")->setValue(100);
    EXPECT_EQ(host.settings.m_ColorFilterDlg.m_nBMax, 100);
    EXPECT_EQ(host.reprocessed, 0);
}

TEST(BlurSettingDlg, WritesOnlyOnOk) {
    FakeHost host;
    CBlurSettingDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Blur Setting");
    QSlider* size = Child<QSlider>(dlg, "size");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->value(), 3); // 5 / 2 = 2, held at the minimum 3
    size->setValue(12);
    EXPECT_EQ(Text(dlg, "sizeValue"), "12");
    EXPECT_EQ(host.settings.m_nBlurSize, 5);
    EXPECT_EQ(host.reprocessed, 0);
    QTest::mouseClick(Child<QPushButton>(dlg, "ok"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_nBlurSize, 24);
    EXPECT_EQ(host.reprocessed, 1);

    FakeHost other;
    other.settings.m_nBlurSize = 20;
    CBlurSettingDlg cancelled(other);
    cancelled.show();
    EXPECT_EQ(Child<QSlider>(cancelled, "size")->value(), 10);
    Child<QSlider>(cancelled, "size")->setValue(29);
    cancelled.reject();
    EXPECT_EQ(other.settings.m_nBlurSize, 20);
    EXPECT_EQ(other.reprocessed, 0);
}

TEST(PerspectiveDlg, AngleAndAxis) {
    FakeHost host;
    host.settings.m_fAnglePerspective = 12.7f;
    CPerspectiveDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Set Perspective");
    QSlider* angle = Child<QSlider>(dlg, "angle");
    ASSERT_TRUE(angle);
    EXPECT_EQ(angle->value(), 102); // trunc(12.7 + 90)
    angle->setValue(30);
    EXPECT_EQ(host.settings.m_fAnglePerspective, -60.0f);
    EXPECT_EQ(Text(dlg, "angleValue"), "-60.0");
    QTest::mouseClick(Child<QRadioButton>(dlg, "horizontal"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_bPerspectiveVertical, 0);
    EXPECT_EQ(host.reprocessed, 2);
    dlg.reject();
    EXPECT_EQ(host.settings.m_fAnglePerspective, 12.7f);
    EXPECT_EQ(host.settings.m_bPerspectiveVertical, 1);
}

// The effect table's row is the one place an effect is declared: every built
// row with a dialog name must open the dialog of that caption, and a row without
// one must open nothing.
TEST(EffectDialogs, EveryRowOpensTheDialogItNames) {
    FakeHost host;
    int opened = 0;
    for (const EffectRow& row : EffectTable()) {
        SCOPED_TRACE(row.name);
        if (!row.dialog || !row.Available()) {
            EXPECT_FALSE(HasEffectDialog(row.id));
            EXPECT_FALSE(OpenEffectDialog(row.id, host, nullptr));
            continue;
        }
        EXPECT_TRUE(HasEffectDialog(row.id));
        // The dialog runs modally: read its caption and close it from inside
        // its own loop.
        QString title;
        QTimer::singleShot(0, [&] {
            QWidget* w = QApplication::activeModalWidget();
            ASSERT_NE(w, nullptr);
            title = w->windowTitle();
            static_cast<QDialog*>(w)->reject();
        });
        EXPECT_TRUE(OpenEffectDialog(row.id, host, nullptr));
        EXPECT_EQ(title, QString::fromUtf8(row.dialog));
        ++opened;
    }
    EXPECT_GE(opened, 4);
    for (int id : {-1, kEffectCount}) {
        EXPECT_FALSE(HasEffectDialog(id));
        EXPECT_FALSE(OpenEffectDialog(id, host, nullptr));
    }
}

int main(int argc, char** argv) {
    // Test discovery runs the program outside CTest's environment as well.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
