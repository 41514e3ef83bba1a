#include "imageops/ui/effect_dialogs.h"

#include "imageops/ui/adjust_color_dlg.h"
#include "imageops/ui/blur_setting_dlg.h"
#include "imageops/ui/color_filter_dlg.h"
#include "imageops/ui/perspective_dlg.h"
#include "imageops/ui/tone_dialogs.h"

#include <array>

namespace {

using OpenFn = void (*)(CDialogHost&, QWidget*);

template <class Dlg> void Run(Dlg& dlg) {
    dlg.exec();
}

struct DialogRow {
    int effectId;
    OpenFn open;
};

// One row per effect with a parameter dialog, keyed by effect id.
const std::array<DialogRow, 4> kDialogs = {{
    {0,
     [](CDialogHost& h, QWidget* p) {
         CBlurSettingDlg d(h, p);
         Run(d);
     }},
    {1,
     [](CDialogHost& h, QWidget* p) {
         CBrightnessContrastDlg d(CBrightnessContrastDlg::Kind::Brightness, h, p);
         Run(d);
     }},
    {2,
     [](CDialogHost& h, QWidget* p) {
         CBrightnessContrastDlg d(CBrightnessContrastDlg::Kind::Contrast, h, p);
         Run(d);
     }},
    {3,
     [](CDialogHost& h, QWidget* p) {
         CAdjustHsbDlg d(h, p);
         Run(d);
     }},
}};

const DialogRow* Find(int effectId) {
    for (const DialogRow& r : kDialogs)
        if (r.effectId == effectId) return &r;
    return nullptr;
}

} // namespace

bool HasEffectDialog(int effectId) {
    return Find(effectId) != nullptr;
}

bool OpenEffectDialog(int effectId, CDialogHost& host, QWidget* parent) {
    const DialogRow* row = Find(effectId);
    if (!row) return false;
    row->open(host, parent);
    return true;
}

void OpenAdjustColorDialog(CDialogHost& host, QWidget* parent) {
    CAdjustColorDlg d(host, parent);
    d.exec();
}

void OpenColorFilterDialog(CDialogHost& host, QWidget* parent) {
    CColorFilterDlg d(host, parent);
    d.exec();
}

void OpenPerspectiveDialog(CDialogHost& host, QWidget* parent) {
    CPerspectiveDlg d(host, parent);
    d.exec();
}
