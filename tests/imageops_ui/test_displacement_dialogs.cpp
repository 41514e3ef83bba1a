// "Waves", "Ripple" and "Whirl & Pinch": their controls start at the settings,
// every change writes its setting and previews, and Cancel puts back what the
// dialog opened with.

#include "imageops/ui/displacement_dialogs.h"
#include "imageops/ui/effect_dialogs.h"
#include "tests/imageops_ui/dialog_test_util.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>

#include <gtest/gtest.h>

using namespace dialog_test;

TEST(WaveEffectDlg, ControlsWriteAndPreviewAndCancelRestores) {
    Host host;
    host.settings.m_nAmplitudeWave = 30;
    CWaveEffectDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Waves");
    for (const char* text : {"Amplitude:", "Wavelength:", "Phase:", "Smear", "Transparency",
                             "Reflective", "OK", "Cancel"})
        EXPECT_TRUE(HasText(dlg, text)) << text;
    ExpectRange(dlg, "amplitude", 0, 100, 30);
    ExpectRange(dlg, "wavelength", 0, 50, 25);
    ExpectRange(dlg, "phase", 0, 360, 180);
    EXPECT_TRUE(Find<QRadioButton>(dlg, "smear")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(dlg, "reflective")->isChecked());
    EXPECT_EQ(host.reprocessed, 0);

    Find<QSlider>(dlg, "amplitude")->setValue(80);
    EXPECT_EQ(host.settings.m_nAmplitudeWave, 80);
    EXPECT_EQ(Label(dlg, "amplitudeValue"), "80");
    Find<QSlider>(dlg, "wavelength")->setValue(0);
    EXPECT_EQ(host.settings.m_nWavelengthWave, 0);
    Find<QSlider>(dlg, "phase")->setValue(360);
    EXPECT_EQ(host.settings.m_nPhaseWave, 360);
    Click(dlg, "transparency");
    EXPECT_EQ(host.settings.m_bSmearWave, 0);
    Click(dlg, "reflective");
    EXPECT_EQ(host.settings.m_bReflectiveWave, 1);
    EXPECT_EQ(host.reprocessed, 5);

    Click(dlg, "cancel");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(host.settings.m_nAmplitudeWave, 30);
    EXPECT_EQ(host.settings.m_nWavelengthWave, 25);
    EXPECT_EQ(host.settings.m_nPhaseWave, 180);
    EXPECT_EQ(host.settings.m_bSmearWave, 1);
    EXPECT_EQ(host.settings.m_bReflectiveWave, 0);
    EXPECT_EQ(host.reprocessed, 6);
}

TEST(WaveEffectDlg, OkKeeps) {
    Host host;
    host.settings.m_bSmearWave = 0;
    CWaveEffectDlg dlg(host);
    dlg.show();
    EXPECT_TRUE(Find<QRadioButton>(dlg, "transparency")->isChecked());
    Click(dlg, "smear");
    Find<QSlider>(dlg, "phase")->setValue(10);
    Click(dlg, "ok");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(host.settings.m_bSmearWave, 1);
    EXPECT_EQ(host.settings.m_nPhaseWave, 10);
}

TEST(RippleEffectDlg, ControlsWriteAndPreviewAndCancelRestores) {
    Host host;
    host.settings.m_nEdgesRipple = 2;
    host.settings.m_nHorizontalRipple = 1;
    CRippleEffectDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Ripple");
    for (const char* text :
         {"Amplitude:", "Period:", "Phase shift:", "Antialiasing", "Retain tilability", "Wave Type",
          "Horizontal", "Vertical", "Edges", "Smear", "Wrap", "Blank", "Sawtooth", "Sine"})
        EXPECT_TRUE(HasText(dlg, text)) << text;
    ExpectRange(dlg, "amplitude", 0, 200, 100);
    ExpectRange(dlg, "period", 1, 200, 100);
    ExpectRange(dlg, "phaseShift", 0, 360, 180);
    EXPECT_TRUE(Find<QRadioButton>(dlg, "blank")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "vertical")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "sawtooth")->isChecked());

    Find<QSlider>(dlg, "amplitude")->setValue(7);
    Find<QSlider>(dlg, "period")->setValue(1);
    Find<QSlider>(dlg, "phaseShift")->setValue(90);
    EXPECT_EQ(Label(dlg, "phaseShiftValue"), "90");
    Click(dlg, "antialiasing");
    Click(dlg, "retainTilability");
    Click(dlg, "horizontal");
    Click(dlg, "smear");
    Click(dlg, "sine");
    EXPECT_EQ(host.settings.m_nAmplitudeRipple, 7);
    EXPECT_EQ(host.settings.m_nPeriodRipple, 1);
    EXPECT_EQ(host.settings.m_nPShiftRipple, 90);
    EXPECT_EQ(host.settings.m_bAntialiasingRipple, 1);
    EXPECT_EQ(host.settings.m_bRetainRipple, 1);
    EXPECT_EQ(host.settings.m_nHorizontalRipple, 0);
    EXPECT_EQ(host.settings.m_nEdgesRipple, 0);
    EXPECT_EQ(host.settings.m_nSawtoothRipple, 1);
    EXPECT_EQ(host.reprocessed, 8);
    Click(dlg, "wrap");
    EXPECT_EQ(host.settings.m_nEdgesRipple, 1);

    dlg.reject();
    EXPECT_EQ(host.settings.m_nAmplitudeRipple, 100);
    EXPECT_EQ(host.settings.m_nPeriodRipple, 100);
    EXPECT_EQ(host.settings.m_nPShiftRipple, 180);
    EXPECT_EQ(host.settings.m_bAntialiasingRipple, 0);
    EXPECT_EQ(host.settings.m_bRetainRipple, 0);
    EXPECT_EQ(host.settings.m_nHorizontalRipple, 1);
    EXPECT_EQ(host.settings.m_nEdgesRipple, 2);
    EXPECT_EQ(host.settings.m_nSawtoothRipple, 0);
    EXPECT_EQ(host.reprocessed, 10);
}

TEST(WhirlPinchEffectDlg, SlidersWriteAndPreviewAndCancelRestores) {
    Host host;
    host.settings.m_nPinchWhirlPinch = -40;
    CWhirlPinchEffectDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Whirl & Pinch");
    for (const char* text : {"Radius:", "Pinch:", "Whirl:"}) EXPECT_TRUE(HasText(dlg, text));
    ExpectRange(dlg, "radius", 0, 200, 100);
    ExpectRange(dlg, "pinch", -100, 100, -40);
    ExpectRange(dlg, "whirl", -720, 720, 90);
    EXPECT_EQ(Label(dlg, "pinchValue"), "-40%");

    Find<QSlider>(dlg, "radius")->setValue(0);
    Find<QSlider>(dlg, "pinch")->setValue(100);
    Find<QSlider>(dlg, "whirl")->setValue(-720);
    EXPECT_EQ(host.settings.m_nRadiusWhirlPinch, 0);
    EXPECT_EQ(host.settings.m_nPinchWhirlPinch, 100);
    EXPECT_EQ(host.settings.m_nWhirlWhirlPinch, -720);
    EXPECT_EQ(Label(dlg, "radiusValue"), "0%");
    EXPECT_EQ(host.reprocessed, 3);

    Click(dlg, "cancel");
    EXPECT_EQ(host.settings.m_nRadiusWhirlPinch, 100);
    EXPECT_EQ(host.settings.m_nPinchWhirlPinch, -40);
    EXPECT_EQ(host.settings.m_nWhirlWhirlPinch, 90);
    EXPECT_EQ(host.reprocessed, 4);
}

TEST(DisplacementDialogs, EditEffectFindsThemByTheirRows) {
    for (int id : {19, 20, 29}) EXPECT_TRUE(HasEffectDialog(id)) << id;
}
