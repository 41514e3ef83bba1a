#include "imageops/ui/emboss_redeye_dlg.h"

CAdvancedEmbossDlg::CAdvancedEmbossDlg(CDialogHost& host, QWidget* parent)
    : CEffectParamDlg("Advanced Emboss", host, parent) {
    ProcessingSettings& s = Settings();
    auto* grid = new QGridLayout;
    AddRealSlider(grid, 0, "Azimuth", 0, 360, "azimuth", s.m_fAzimuthEmboss);
    AddRealSlider(grid, 1, "Elevation", 0, 180, "elevation", s.m_fElevationEmboss);
    AddRealSlider(grid, 2, "Depth", 1, 100, "depth", s.m_fDepthEmboss);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(
        AddRadios("", {{"BumpMap", "bumpMap"}, {"Emboss", "emboss"}}, s.m_bRadioEmboss));
    layout->addWidget(AcceptCancelButtons(this));
}

CRedEyeDlg::CRedEyeDlg(CDialogHost& host, QWidget* parent)
    : CEffectParamDlg("Red EYE Remover", host, parent) {
    auto* grid = new QGridLayout;
    AddSlider(grid, 0, "Treshold:", 0, 100, "threshold", Settings().m_nRedEyeThreshold,
              [](int v) { return QString::asprintf("%d", v); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this));
}
