// The parameter dialogs of Super Nova, Oilify, Cubism, Soft Glow and Neon:
// ranges and starting values, a preview on every change, Cancel restoring.

#include "imageops/ui/painterly_dlgs.h"
#include "imageops/ui/supernova_dlg.h"
#include "tests/imageops_ui/dialog_test_util.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace dialog_test;

namespace {

// Acts on the colour chooser once it is up; gives up after two seconds.
void OnColorDialog(std::function<void(QColorDialog*)> act) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, act] {
        if (auto* d = qobject_cast<QColorDialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        } else if (++*tries > 200) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no colour chooser";
            while (auto* w = qobject_cast<QDialog*>(QApplication::activeModalWidget())) w->reject();
        }
    });
    timer->start();
}

} // namespace

TEST(SuperNovaDlg, ControlsCentreLimitAndCancel) {
    Host host;
    host.size = {300, 200};
    CSuperNovaDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Super Nova");
    for (const char* t : {"X:", "Y:", "Radius:", "Spokes:", "Random Hue:"})
        EXPECT_TRUE(HasLabel(dlg, t)) << t;
    ExpectRange(dlg, "radius", 1, 100, 20);
    ExpectRange(dlg, "spokes", 1, 1024, 100);
    ExpectRange(dlg, "randomHue", 0, 360, 0);
    QSpinBox* x = Find<QSpinBox>(dlg, "x");
    QSpinBox* y = Find<QSpinBox>(dlg, "y");
    ASSERT_TRUE(x && y);
    EXPECT_EQ(x->value(), 128);
    EXPECT_EQ(x->maximum(), 299);
    EXPECT_EQ(y->maximum(), 199);
    EXPECT_EQ(host.reprocessed, 0);

    x->setValue(1000); // held inside the picture
    EXPECT_EQ(host.settings.m_nvals.xcenter, 299);
    y->setValue(7);
    EXPECT_EQ(host.settings.m_nvals.ycenter, 7);
    Find<QSlider>(dlg, "spokes")->setValue(512);
    EXPECT_EQ(host.settings.m_nvals.nspoke, 512);
    EXPECT_EQ(Label(dlg, "spokesValue"), "512");
    Find<QSlider>(dlg, "randomHue")->setValue(90);
    Find<QSlider>(dlg, "radius")->setValue(55);
    EXPECT_EQ(host.settings.m_nvals.randomhue, 90);
    EXPECT_EQ(host.settings.m_nvals.radius, 55);
    EXPECT_EQ(host.reprocessed, 5);

    OnColorDialog([](QColorDialog* d) {
        d->setCurrentColor(QColor(255, 0, 51));
        d->accept();
    });
    dlg.ChooseColor();
    EXPECT_EQ(host.settings.m_NovaColor, 0x3300FF);
    EXPECT_NEAR(host.settings.m_nvals.color.r, 0.2f, 1e-6); // byte 0 is blue
    EXPECT_NEAR(host.settings.m_nvals.color.b, 1.0f, 1e-6); // byte 2 is red
    EXPECT_EQ(host.settings.m_nvals.color.g, 0.0f);
    EXPECT_EQ(host.reprocessed, 6);
    // Cancelling the chooser changes nothing.
    OnColorDialog([](QColorDialog* d) { d->reject(); });
    dlg.ChooseColor();
    EXPECT_EQ(host.settings.m_NovaColor, 0x3300FF);
    EXPECT_EQ(host.reprocessed, 6);

    QTest::mouseClick(Find<QPushButton>(dlg, "cancel"), Qt::LeftButton);
    const SuperNovaValues defaults;
    EXPECT_EQ(host.settings.m_nvals.xcenter, defaults.xcenter);
    EXPECT_EQ(host.settings.m_nvals.nspoke, defaults.nspoke);
    EXPECT_EQ(host.settings.m_nvals.color.r, defaults.color.r);
    EXPECT_EQ(host.settings.m_nvals.color.b, defaults.color.b);
    EXPECT_EQ(host.settings.m_NovaColor, 16737113);
    EXPECT_EQ(host.reprocessed, 7);
}

TEST(SuperNovaDlg, OkKeepsAndNoPictureLeavesTheCentreFree) {
    Host host;
    CSuperNovaDlg dlg(host);
    dlg.show();
    QSpinBox* x = Find<QSpinBox>(dlg, "x");
    ASSERT_TRUE(x);
    EXPECT_GE(x->maximum(), 4000);
    x->setValue(2500);
    QTest::mouseClick(Find<QPushButton>(dlg, "ok"), Qt::LeftButton);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(host.settings.m_nvals.xcenter, 2500);
}

TEST(OilifyDlg, ControlsAndCancel) {
    Host host;
    host.settings.m_ovals.use_mask_size_map = 1;
    COilifyDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Oilify");
    EXPECT_TRUE(HasLabel(dlg, "Mask Size:"));
    EXPECT_TRUE(HasLabel(dlg, "Exponent:"));
    ExpectRange(dlg, "maskSize", 3, 50, 8);
    ExpectRange(dlg, "exponent", 1, 20, 8);
    QCheckBox* sizeMap = Find<QCheckBox>(dlg, "maskSizeMap");
    QCheckBox* expMap = Find<QCheckBox>(dlg, "exponentMap");
    QCheckBox* intensity = Find<QCheckBox>(dlg, "intensity");
    ASSERT_TRUE(sizeMap && expMap && intensity);
    EXPECT_EQ(sizeMap->text(), "Mask-size Map");
    EXPECT_EQ(expMap->text(), "Exponent Map");
    EXPECT_EQ(intensity->text(), "Intensity Algorithm");
    EXPECT_TRUE(sizeMap->isChecked());
    EXPECT_FALSE(expMap->isChecked());
    EXPECT_TRUE(intensity->isChecked());

    Find<QSlider>(dlg, "maskSize")->setValue(50);
    Find<QSlider>(dlg, "exponent")->setValue(3);
    intensity->click();
    expMap->click();
    sizeMap->click();
    const OilifyValues& v = host.settings.m_ovals;
    EXPECT_EQ(v.mask_size, 50.0);
    EXPECT_EQ(v.exponent, 3.0);
    EXPECT_EQ(v.mode, 0);
    EXPECT_EQ(v.use_exponent_map, 1);
    EXPECT_EQ(v.use_mask_size_map, 0);
    EXPECT_EQ(host.reprocessed, 5);

    dlg.reject();
    EXPECT_EQ(v.mask_size, 8.0);
    EXPECT_EQ(v.exponent, 8.0);
    EXPECT_EQ(v.mode, 1);
    EXPECT_EQ(v.use_exponent_map, 0);
    EXPECT_EQ(v.use_mask_size_map, 1);
    EXPECT_EQ(host.reprocessed, 6);
}

TEST(CubismDlg, SlidersAndFractionalEdits) {
    Host host;
    CCubismDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Cubism");
    EXPECT_TRUE(HasLabel(dlg, "Size of Element:"));
    EXPECT_TRUE(HasLabel(dlg, "Strength:"));
    ExpectRange(dlg, "size", 0, 100, 10);
    ExpectRange(dlg, "strength", 0, 10, 2); // 2.5: the slider holds whole numbers
    QDoubleSpinBox* sizeEdit = Find<QDoubleSpinBox>(dlg, "sizeEdit");
    QDoubleSpinBox* strengthEdit = Find<QDoubleSpinBox>(dlg, "strengthEdit");
    ASSERT_TRUE(sizeEdit && strengthEdit);
    EXPECT_EQ(strengthEdit->text(), QLocale().toString(2.5, 'f', 1));
    EXPECT_EQ(sizeEdit->text(), QLocale().toString(10.0, 'f', 1));
    EXPECT_EQ(host.reprocessed, 0);

    Find<QSlider>(dlg, "size")->setValue(40);
    EXPECT_EQ(host.settings.m_fTresholdCubism, 40.0f);
    EXPECT_EQ(sizeEdit->value(), 40.0);
    sizeEdit->setValue(12.3);
    EXPECT_FLOAT_EQ(host.settings.m_fTresholdCubism, 12.3f);
    EXPECT_EQ(Find<QSlider>(dlg, "size")->value(), 12);
    strengthEdit->setValue(7.5);
    EXPECT_FLOAT_EQ(host.settings.m_fStrengthCubism, 7.5f);
    EXPECT_EQ(Find<QSlider>(dlg, "strength")->value(), 7);
    // One preview per change, none for the control that follows.
    EXPECT_EQ(host.reprocessed, 3);

    QTest::mouseClick(Find<QPushButton>(dlg, "cancel"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_fTresholdCubism, 10.0f);
    EXPECT_EQ(host.settings.m_fStrengthCubism, 2.5f);
    EXPECT_EQ(host.reprocessed, 4);
}

TEST(SoftGlowDlg, ControlsAndCancel) {
    Host host;
    CSoftGlowDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Soft Glow");
    for (const char* t : {"Radius:", "Brightness:::", "Sharpness:"})
        EXPECT_TRUE(HasLabel(dlg, t)) << t;
    ExpectRange(dlg, "radius", 1, 50, 10);
    ExpectRange(dlg, "brightness", 0, 100, 75);
    ExpectRange(dlg, "sharpness", 0, 100, 85);
    Find<QSlider>(dlg, "radius")->setValue(33);
    Find<QSlider>(dlg, "brightness")->setValue(0);
    Find<QSlider>(dlg, "sharpness")->setValue(100);
    EXPECT_EQ(host.settings.m_nRadiusSoftGlow, 33);
    EXPECT_EQ(host.settings.m_nBrightnessSoftGlow, 0);
    EXPECT_EQ(host.settings.m_nSharpnessSoftGlow, 100);
    EXPECT_EQ(Label(dlg, "radiusValue"), "33");
    EXPECT_EQ(host.reprocessed, 3);
    QTest::mouseClick(Find<QPushButton>(dlg, "ok"), Qt::LeftButton);
    EXPECT_EQ(host.settings.m_nRadiusSoftGlow, 33);

    CSoftGlowDlg again(host);
    again.show();
    Find<QSlider>(again, "radius")->setValue(2);
    again.reject();
    EXPECT_EQ(host.settings.m_nRadiusSoftGlow, 33);
    EXPECT_EQ(host.settings.m_nBrightnessSoftGlow, 0);
}

TEST(NeonDlg, ControlsAndCancel) {
    Host host;
    CNeonDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Neon");
    EXPECT_TRUE(HasLabel(dlg, "Radius:"));
    EXPECT_TRUE(HasLabel(dlg, "Amount:"));
    ExpectRange(dlg, "radius", 0, 6400, 500);
    ExpectRange(dlg, "amount", 0, 100, 0);
    EXPECT_EQ(Label(dlg, "radiusValue"), "5.00");
    Find<QSlider>(dlg, "radius")->setValue(99);
    Find<QSlider>(dlg, "amount")->setValue(40);
    EXPECT_EQ(host.settings.m_nRadiusNeon, 99);
    EXPECT_EQ(host.settings.m_nAmountNeon, 40);
    EXPECT_EQ(Label(dlg, "amountValue"), "0.40");
    EXPECT_EQ(host.reprocessed, 2);
    dlg.reject();
    EXPECT_EQ(host.settings.m_nRadiusNeon, 500);
    EXPECT_EQ(host.settings.m_nAmountNeon, 0);
    EXPECT_EQ(host.reprocessed, 3);
}
