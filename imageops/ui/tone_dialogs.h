#pragma once
// "Adjust Brightness", "Adjust Contrast" and "Adjust HSB": three sliders each,
// written into the settings and previewed on every move; Cancel puts back the
// values the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QCheckBox>
#include <QDialog>

#include <array>

class CBrightnessContrastDlg : public QDialog {
public:
    enum class Kind { Brightness, Contrast };
    CBrightnessContrastDlg(Kind kind, CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    void OnSlider(int index, int value);
    void OnLock(bool on);
    void Store();

    CDialogHost& host_;
    std::array<int32_t*, 3> fields_;
    std::array<int32_t, 3> opening_;
    std::array<SliderRow, 3> rows_;
    QCheckBox* lock_;
    bool updating_ = false;
};

class CAdjustHsbDlg : public QDialog {
public:
    CAdjustHsbDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    std::array<int32_t*, 3> fields_;
    std::array<int32_t, 3> opening_;
    std::array<SliderRow, 3> rows_;
};
