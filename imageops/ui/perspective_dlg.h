#pragma once
// "Set Perspective": vertical or horizontal, and the angle on a slider 0..180
// standing for -90..90 degrees; every change is written and previewed. Cancel
// puts back the values the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QButtonGroup>
#include <QDialog>

class CPerspectiveDlg : public QDialog {
public:
    CPerspectiveDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    int32_t openingVertical_;
    float openingAngle_;
    QButtonGroup* axis_;
    SliderRow angle_;
};
