#pragma once
// "Adjust Color": edits the colour adjustment record with live preview; Cancel
// puts back the record the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDialog>

#include <vector>

class CAdjustColorDlg : public QDialog {
public:
    CAdjustColorDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    ColorAdjustment opening_;
    QButtonGroup* flags_;
    QComboBox* illuminant_;
    std::vector<SliderRow> rows_;
};
