#pragma once
// "Advanced Emboss" and "Red EYE Remover": the parameters of the relief shading
// and of the red-eye correction.

#include "imageops/ui/effect_param_dlg.h"

class CAdvancedEmbossDlg : public CEffectParamDlg {
public:
    CAdvancedEmbossDlg(CDialogHost& host, QWidget* parent = nullptr);
};

class CRedEyeDlg : public CEffectParamDlg {
public:
    CRedEyeDlg(CDialogHost& host, QWidget* parent = nullptr);
};
