#pragma once
// "Blur Setting": one slider "Size:" 3..29. Moving it only updates its label;
// OK stores twice the position as the blur size and previews.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QDialog>

class CBlurSettingDlg : public QDialog {
public:
    CBlurSettingDlg(CDialogHost& host, QWidget* parent = nullptr);
    void accept() override;

private:
    CDialogHost& host_;
    SliderRow size_;
};
