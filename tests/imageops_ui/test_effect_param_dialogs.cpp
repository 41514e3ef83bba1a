// The parameter dialogs of Wind, Van Gogh, Advanced Emboss, Red Eye Removal
// and Video: their controls, ranges and starting values, a preview on every
// change, and Cancel putting back the values the dialog opened with.

#include "imageops/ui/emboss_redeye_dlg.h"
#include "imageops/ui/video_dlg.h"
#include "imageops/ui/wind_vangogh_dlg.h"
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

TEST(WindDlg, ControlsWriteAndPreviewCancelRestores) {
    Host host;
    host.settings.m_nThresholdWind = 33;
    CWindDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Wind");
    for (const char* text : {"Threshold:", "Strength:"}) EXPECT_TRUE(HasLabel(dlg, text)) << text;
    ExpectRange(dlg, "threshold", 0, 50, 33);
    ExpectRange(dlg, "strength", 1, 100, 20);
    EXPECT_EQ(Find<QLabel>(dlg, "thresholdValue")->text(), "33");
    EXPECT_TRUE(Find<QRadioButton>(dlg, "wind")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "left")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "leading")->isChecked());
    EXPECT_EQ(Find<QRadioButton>(dlg, "blast")->text(), "Blast");
    EXPECT_EQ(Find<QRadioButton>(dlg, "trailing")->text(), "Trailing");
    EXPECT_EQ(host.reprocessed, 0);

    Find<QSlider>(dlg, "threshold")->setValue(12);
    EXPECT_EQ(host.settings.m_nThresholdWind, 12);
    EXPECT_EQ(Find<QLabel>(dlg, "thresholdValue")->text(), "12");
    Find<QSlider>(dlg, "strength")->setValue(77);
    Click(dlg, "blast");
    Click(dlg, "right");
    Click(dlg, "both");
    EXPECT_EQ(host.settings.m_nStrengthWind, 77);
    EXPECT_EQ(host.settings.m_nAlgorithmWind, 1);
    EXPECT_EQ(host.settings.m_nDirectionWind, 1);
    EXPECT_EQ(host.settings.m_nEdgeWind, 0);
    EXPECT_EQ(host.reprocessed, 5);

    Click(dlg, "cancel");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_EQ(host.settings.m_nThresholdWind, 33);
    EXPECT_EQ(host.settings.m_nStrengthWind, 20);
    EXPECT_EQ(host.settings.m_nAlgorithmWind, 0);
    EXPECT_EQ(host.settings.m_nDirectionWind, 0);
    EXPECT_EQ(host.settings.m_nEdgeWind, 1);
    EXPECT_EQ(host.reprocessed, 6);
}

TEST(WindDlg, OkKeepsTheValues) {
    Host host;
    CWindDlg dlg(host);
    dlg.show();
    Click(dlg, "trailing");
    Click(dlg, "ok");
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(host.settings.m_nEdgeWind, 2);
    EXPECT_EQ(host.reprocessed, 1);
}

TEST(VanGoghDlg, ControlsWriteAndPreviewCancelRestores) {
    Host host;
    CVanGoghDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Van Gogh");
    for (const char* text : {"Filter Length:", "Noise Magnitude:", "Integration Steps:",
                             "Minimum Value:", "Maximum Value:"})
        EXPECT_TRUE(HasLabel(dlg, text)) << text;
    for (const char* title : {"Effect Channel", "Effect Operator", "Effect Convolve"})
        EXPECT_TRUE(HasGroup(dlg, title)) << title;
    ExpectRange(dlg, "filterLength", 0, 64, 5);
    ExpectRange(dlg, "noiseMagnitude", 1, 5, 2);
    ExpectRange(dlg, "integrationSteps", 1, 40, 25);
    ExpectRange(dlg, "minimumValue", -100, 0, -25);
    ExpectRange(dlg, "maximumValue", 0, 100, 25);
    EXPECT_TRUE(Find<QRadioButton>(dlg, "brightness")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "gradient")->isChecked());
    EXPECT_TRUE(Find<QRadioButton>(dlg, "withSourceImage")->isChecked());
    EXPECT_EQ(Find<QRadioButton>(dlg, "withWhiteNoise")->text(), "With White Noise");
    EXPECT_EQ(Find<QRadioButton>(dlg, "derivative")->text(), "Derivative");

    Find<QSlider>(dlg, "filterLength")->setValue(0);
    Find<QSlider>(dlg, "noiseMagnitude")->setValue(5);
    Find<QSlider>(dlg, "integrationSteps")->setValue(8);
    Find<QSlider>(dlg, "minimumValue")->setValue(-100);
    Find<QSlider>(dlg, "maximumValue")->setValue(60);
    Click(dlg, "hue");
    Click(dlg, "derivative");
    Click(dlg, "withWhiteNoise");
    const ProcessingSettings& s = host.settings;
    EXPECT_EQ(s.m_nfiltlenVangogh, 0);
    EXPECT_EQ(s.m_nnoisemagVangogh, 5);
    EXPECT_EQ(s.m_nintstepsVangogh, 8);
    EXPECT_EQ(s.m_nminvVangogh, -100);
    EXPECT_EQ(s.m_nmaxvVangogh, 60);
    EXPECT_EQ(s.m_n_channelVangogh, 0);
    EXPECT_EQ(s.m_n_operatorVangogh, 0);
    EXPECT_EQ(s.m_n_convolveVangogh, 0);
    EXPECT_EQ(host.reprocessed, 8);
    EXPECT_EQ(Find<QLabel>(dlg, "minimumValueValue")->text(), "-100");

    dlg.reject();
    const ProcessingSettings d;
    EXPECT_EQ(s.m_nfiltlenVangogh, d.m_nfiltlenVangogh);
    EXPECT_EQ(s.m_nnoisemagVangogh, d.m_nnoisemagVangogh);
    EXPECT_EQ(s.m_nintstepsVangogh, d.m_nintstepsVangogh);
    EXPECT_EQ(s.m_nminvVangogh, d.m_nminvVangogh);
    EXPECT_EQ(s.m_nmaxvVangogh, d.m_nmaxvVangogh);
    EXPECT_EQ(s.m_n_channelVangogh, d.m_n_channelVangogh);
    EXPECT_EQ(s.m_n_operatorVangogh, d.m_n_operatorVangogh);
    EXPECT_EQ(s.m_n_convolveVangogh, d.m_n_convolveVangogh);
    EXPECT_EQ(host.reprocessed, 9);
}

TEST(AdvancedEmbossDlg, RealSlidersShowOneDecimalAndCancelRestores) {
    Host host;
    host.settings.m_fAzimuthEmboss = 12.7f;
    host.settings.m_fElevationEmboss = 45.25f;
    host.settings.m_bRadioEmboss = 1;
    CAdvancedEmbossDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Advanced Emboss");
    for (const char* text : {"Azimuth", "Elevation", "Depth"}) EXPECT_TRUE(HasLabel(dlg, text));
    ExpectRange(dlg, "azimuth", 0, 360, 12);
    ExpectRange(dlg, "elevation", 0, 180, 45);
    ExpectRange(dlg, "depth", 1, 100, 1);
    // The labels show the stored values until a slider moves.
    EXPECT_EQ(Find<QLabel>(dlg, "azimuthValue")->text(), "12.7");
    EXPECT_EQ(Find<QLabel>(dlg, "depthValue")->text(), "1.0");
    EXPECT_TRUE(Find<QRadioButton>(dlg, "emboss")->isChecked());
    EXPECT_EQ(Find<QRadioButton>(dlg, "bumpMap")->text(), "BumpMap");

    Find<QSlider>(dlg, "azimuth")->setValue(270);
    Find<QSlider>(dlg, "elevation")->setValue(90);
    Find<QSlider>(dlg, "depth")->setValue(100);
    Click(dlg, "bumpMap");
    EXPECT_EQ(host.settings.m_fAzimuthEmboss, 270.0f);
    EXPECT_EQ(host.settings.m_fElevationEmboss, 90.0f);
    EXPECT_EQ(host.settings.m_fDepthEmboss, 100.0f);
    EXPECT_EQ(host.settings.m_bRadioEmboss, 0);
    EXPECT_EQ(Find<QLabel>(dlg, "azimuthValue")->text(), "270.0");
    EXPECT_EQ(host.reprocessed, 4);

    Click(dlg, "cancel");
    EXPECT_EQ(host.settings.m_fAzimuthEmboss, 12.7f);
    EXPECT_EQ(host.settings.m_fElevationEmboss, 45.25f);
    EXPECT_EQ(host.settings.m_fDepthEmboss, 1.0f);
    EXPECT_EQ(host.settings.m_bRadioEmboss, 1);
    EXPECT_EQ(host.reprocessed, 5);
}

TEST(RedEyeDlg, ThresholdSliderAndCancel) {
    Host host;
    CRedEyeDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Red EYE Remover");
    EXPECT_TRUE(HasLabel(dlg, "Treshold:"));
    ExpectRange(dlg, "threshold", 0, 100, 50);
    EXPECT_EQ(Find<QLabel>(dlg, "thresholdValue")->text(), "50");
    Find<QSlider>(dlg, "threshold")->setValue(7);
    EXPECT_EQ(host.settings.m_nRedEyeThreshold, 7);
    EXPECT_EQ(Find<QLabel>(dlg, "thresholdValue")->text(), "7");
    EXPECT_EQ(host.reprocessed, 1);
    dlg.reject();
    EXPECT_EQ(host.settings.m_nRedEyeThreshold, 50);
    EXPECT_EQ(host.reprocessed, 2);
}

TEST(VideoDlg, PatternsAndChecksCancelRestores) {
    Host host;
    host.settings.m_vvals.pattern_number = 4;
    CVideoDlg dlg(host);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Video");
    EXPECT_TRUE(HasGroup(dlg, "Pattern"));
    QList<QRadioButton*> radios = dlg.findChildren<QRadioButton*>();
    const QStringList texts = {
        "Staggered", "Large Staggered", "Striped", "Wide-Striped", "Long-staggered",
        "3 x 3",     "Large 3 x 3",     "Dots",    "Hex"};
    ASSERT_EQ(radios.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(radios[i]->text(), texts[i]);
        EXPECT_EQ(radios[i]->isChecked(), i == 4) << i;
    }
    QCheckBox* additive = Find<QCheckBox>(dlg, "additive");
    QCheckBox* rotated = Find<QCheckBox>(dlg, "rotated");
    ASSERT_TRUE(additive && rotated);
    EXPECT_EQ(additive->text(), "Additive");
    EXPECT_EQ(rotated->text(), "Rotated");
    EXPECT_FALSE(additive->isChecked());

    Press(radios[8]);
    EXPECT_EQ(host.settings.m_vvals.pattern_number, 8);
    Press(additive);
    Press(rotated);
    EXPECT_EQ(host.settings.m_vvals.additive, 1);
    EXPECT_EQ(host.settings.m_vvals.rotated, 1);
    EXPECT_EQ(host.reprocessed, 3);
    Press(additive);
    EXPECT_EQ(host.settings.m_vvals.additive, 0);

    Click(dlg, "cancel");
    EXPECT_EQ(host.settings.m_vvals.pattern_number, 4);
    EXPECT_EQ(host.settings.m_vvals.additive, 0);
    EXPECT_EQ(host.settings.m_vvals.rotated, 0);
    EXPECT_EQ(host.reprocessed, 5);
}
