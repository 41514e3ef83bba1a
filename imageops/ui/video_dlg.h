#pragma once
// "Video": the phosphor pattern, and whether it is additive or rotated.

#include "imageops/ui/effect_param_dlg.h"

class CVideoDlg : public CEffectParamDlg {
public:
    CVideoDlg(CDialogHost& host, QWidget* parent = nullptr);
};
