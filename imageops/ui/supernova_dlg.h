#pragma once
// "Super Nova": the star's centre (limited by the picture size), its colour
// through the colour chooser, radius, number of spokes and random hue. Every
// change is written into the settings and previewed; Cancel puts back the
// values the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QDialog>

class QPushButton;
class QSpinBox;

class CSuperNovaDlg : public QDialog {
public:
    CSuperNovaDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;
    // Opens the colour chooser; a chosen colour is stored and previewed.
    void ChooseColor();

private:
    void ShowColor();

    CDialogHost& host_;
    SuperNovaValues opening_;
    int32_t openingColor_;
    QSpinBox* x_;
    QSpinBox* y_;
    QPushButton* color_;
    SliderRow radius_, spokes_, hue_;
};
