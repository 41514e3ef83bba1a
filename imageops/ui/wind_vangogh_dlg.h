#pragma once
// "Wind" and "Van Gogh": the parameters of the two streaking effects.

#include "imageops/ui/effect_param_dlg.h"

class CWindDlg : public CEffectParamDlg {
public:
    CWindDlg(CDialogHost& host, QWidget* parent = nullptr);
};

class CVanGoghDlg : public CEffectParamDlg {
public:
    CVanGoghDlg(CDialogHost& host, QWidget* parent = nullptr);
};
