#pragma once
// The parameter dialogs of Oilify, Cubism, Soft Glow and Neon. Every change
// of a control is written into the settings and previewed; Cancel puts back
// the values the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QDoubleSpinBox;

class COilifyDlg : public QDialog {
public:
    COilifyDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    OilifyValues opening_;
    SliderRow mask_, exponent_;
};

class CCubismDlg : public QDialog {
public:
    CCubismDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    // A slider of whole numbers with an edit beside it that also takes tenths.
    struct Pair {
        QSlider* slider;
        QDoubleSpinBox* edit;
        float ProcessingSettings::*field;
    };
    void Show(const Pair& p, float value);

    CDialogHost& host_;
    float openingSize_, openingStrength_;
    std::vector<Pair> pairs_;
    bool updating_ = false;
};

// Sliders over whole-number settings: "Soft Glow" and "Neon".
class CIntSettingsDlg : public QDialog {
public:
    struct Row {
        const char* caption;
        int min, max;
        const char* name;
        int32_t ProcessingSettings::*field;
        QString (*format)(int);
    };
    CIntSettingsDlg(const char* title, std::vector<Row> rows, CDialogHost& host,
                    QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    std::vector<Row> rows_;
    std::vector<int32_t> opening_;
    std::vector<SliderRow> sliders_;
};

class CSoftGlowDlg : public CIntSettingsDlg {
public:
    CSoftGlowDlg(CDialogHost& host, QWidget* parent = nullptr);
};

class CNeonDlg : public CIntSettingsDlg {
public:
    CNeonDlg(CDialogHost& host, QWidget* parent = nullptr);
};
