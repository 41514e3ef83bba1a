#pragma once
// "Waves", "Ripple" and "Whirl & Pinch": the parameters of the displacement
// effects. Every control writes its setting and previews at once; Cancel puts
// back the values the dialog opened with.

#include "imageops/ui/dialog_host.h"
#include "imageops/ui/slider_row.h"

#include <QDialog>

#include <cstdint>

class QButtonGroup;
class QCheckBox;

class CWaveEffectDlg : public QDialog {
public:
    CWaveEffectDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    struct Values {
        int32_t amplitude, wavelength, phase;
        uint8_t smear, reflective;
    };
    Values Read() const;
    void Write(const Values& v);

    CDialogHost& host_;
    Values opening_;
};

class CRippleEffectDlg : public QDialog {
public:
    CRippleEffectDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    struct Values {
        int32_t amplitude, period, phaseShift, edges;
        uint8_t antialias, retain, horizontal, sawtooth;
    };
    Values Read() const;
    void Write(const Values& v);

    CDialogHost& host_;
    Values opening_;
};

class CWhirlPinchEffectDlg : public QDialog {
public:
    CWhirlPinchEffectDlg(CDialogHost& host, QWidget* parent = nullptr);
    void reject() override;

private:
    CDialogHost& host_;
    int32_t radius_, pinch_, whirl_; // as the dialog opened
};
