#include "imageops/ui/effect_dialogs.h"

#include "imageops/ui/adjust_color_dlg.h"
#include "imageops/ui/blur_setting_dlg.h"
#include "imageops/ui/color_filter_dlg.h"
#include "imageops/ui/displacement_dialogs.h"
#include "imageops/ui/emboss_redeye_dlg.h"
#include "imageops/ui/painterly_dlgs.h"
#include "imageops/ui/perspective_dlg.h"
#include "imageops/ui/supernova_dlg.h"
#include "imageops/ui/tone_dialogs.h"
#include "imageops/ui/video_dlg.h"
#include "imageops/ui/wind_vangogh_dlg.h"

#include "imageops/effect_table.h"

#include <cstring>

namespace {

using OpenFn = void (*)(CDialogHost&, QWidget*);

template <class Dlg> void Open(CDialogHost& host, QWidget* parent) {
    Dlg d(host, parent);
    d.exec();
}
template <CBrightnessContrastDlg::Kind K>
void OpenBrightnessContrast(CDialogHost& host, QWidget* parent) {
    CBrightnessContrastDlg d(K, host, parent);
    d.exec();
}

struct DialogEntry {
    const char* caption; // the dialog name of the effect table's row
    OpenFn open;
};

// The widget side of the effect table: a row's dialog name leads here, so an
// effect is declared once, in its table row, and its dialog is found by name.
const DialogEntry kDialogs[] = {
    {"Blur Setting", Open<CBlurSettingDlg>},
    {"Adjust Brightness", OpenBrightnessContrast<CBrightnessContrastDlg::Kind::Brightness>},
    {"Adjust Contrast", OpenBrightnessContrast<CBrightnessContrastDlg::Kind::Contrast>},
    {"Adjust HSB", Open<CAdjustHsbDlg>},
    {"Wind", Open<CWindDlg>},
    {"Van Gogh", Open<CVanGoghDlg>},
    {"Advanced Emboss", Open<CAdvancedEmbossDlg>},
    {"Red EYE Remover", Open<CRedEyeDlg>},
    {"Video", Open<CVideoDlg>},
    {"Super Nova", Open<CSuperNovaDlg>},
    {"Oilify", Open<COilifyDlg>},
    {"Cubism", Open<CCubismDlg>},
    {"Soft Glow", Open<CSoftGlowDlg>},
    {"Neon", Open<CNeonDlg>},
    {"Waves", Open<CWaveEffectDlg>},
    {"Ripple", Open<CRippleEffectDlg>},
    {"Whirl & Pinch", Open<CWhirlPinchEffectDlg>},
};

OpenFn Find(int effectId) {
    const EffectRow* row = FindEffect(effectId);
    if (!row || !row->dialog || !row->Available()) return nullptr;
    for (const DialogEntry& d : kDialogs)
        if (std::strcmp(d.caption, row->dialog) == 0) return d.open;
    return nullptr;
}

} // namespace

bool HasEffectDialog(int effectId) {
    return Find(effectId) != nullptr;
}

bool OpenEffectDialog(int effectId, CDialogHost& host, QWidget* parent) {
    const OpenFn open = Find(effectId);
    if (!open) return false;
    open(host, parent);
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
