#include "imageops/ui/wind_vangogh_dlg.h"

#include <QHBoxLayout>

CWindDlg::CWindDlg(CDialogHost& host, QWidget* parent) : CEffectParamDlg("Wind", host, parent) {
    ProcessingSettings& s = Settings();
    auto* grid = new QGridLayout;
    AddSlider(grid, 0, "Threshold:", 0, 50, "threshold", s.m_nThresholdWind);
    AddSlider(grid, 1, "Strength:", 1, 100, "strength", s.m_nStrengthWind);

    auto* groups = new QHBoxLayout;
    groups->addWidget(
        AddRadios("Algorithm", {{"Wind", "wind"}, {"Blast", "blast"}}, s.m_nAlgorithmWind));
    groups->addWidget(
        AddRadios("Direction", {{"Left", "left"}, {"Right", "right"}}, s.m_nDirectionWind));
    groups->addWidget(
        AddRadios("Edge", {{"Both", "both"}, {"Leading", "leading"}, {"Trailing", "trailing"}},
                  s.m_nEdgeWind));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(groups);
    layout->addWidget(AcceptCancelButtons(this));
}

CVanGoghDlg::CVanGoghDlg(CDialogHost& host, QWidget* parent)
    : CEffectParamDlg("Van Gogh", host, parent) {
    ProcessingSettings& s = Settings();
    auto* grid = new QGridLayout;
    AddSlider(grid, 0, "Filter Length:", 0, 64, "filterLength", s.m_nfiltlenVangogh);
    AddSlider(grid, 1, "Noise Magnitude:", 1, 5, "noiseMagnitude", s.m_nnoisemagVangogh);
    AddSlider(grid, 2, "Integration Steps:", 1, 40, "integrationSteps", s.m_nintstepsVangogh);
    AddSlider(grid, 3, "Minimum Value:", -100, 0, "minimumValue", s.m_nminvVangogh);
    AddSlider(grid, 4, "Maximum Value:", 0, 100, "maximumValue", s.m_nmaxvVangogh);

    auto* groups = new QHBoxLayout;
    groups->addWidget(
        AddRadios("Effect Channel",
                  {{"Hue", "hue"}, {"Saturation", "saturation"}, {"Brightness", "brightness"}},
                  s.m_n_channelVangogh));
    groups->addWidget(AddRadios("Effect Operator",
                                {{"Derivative", "derivative"}, {"Gradient", "gradient"}},
                                s.m_n_operatorVangogh));
    groups->addWidget(AddRadios(
        "Effect Convolve",
        {{"With White Noise", "withWhiteNoise"}, {"With Source Image", "withSourceImage"}},
        s.m_n_convolveVangogh));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(groups);
    layout->addWidget(AcceptCancelButtons(this));
}
