#pragma once
// "Color Filter": the six bounds of the colour filter with sliders and edit
// fields, the filter mode, the synchronous switch and the range buttons. Every
// change is written into the settings and, when the filter is on, previewed.
// Closing without OK puts back the bounds the dialog opened with.

#include "imageops/ui/dialog_host.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QSlider>
#include <QSpinBox>

#include <array>

class CColorFilterDlg : public QDialog {
public:
    CColorFilterDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;
    // The colour "Default color" sets the bounds to; white unless the main
    // window picked another.
    void SetDefaultColor(CColor24 c) { defaultColor_ = c; }

private:
    void Changed();
    void Refresh();

    CDialogHost& host_;
    ColorFilterSettings opening_;
    CColor24 defaultColor_ = CColor24(255, 255, 255);
    bool preview_; // the filter is switched on in the main window
    // Per channel: max, then min.
    std::array<QSlider*, 6> sliders_{};
    std::array<QSpinBox*, 6> edits_{};
    QButtonGroup* mode_;
    QCheckBox* synchro_;
    bool updating_ = false;
};
