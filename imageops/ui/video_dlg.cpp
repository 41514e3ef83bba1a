#include "imageops/ui/video_dlg.h"

CVideoDlg::CVideoDlg(CDialogHost& host, QWidget* parent) : CEffectParamDlg("Video", host, parent) {
    VideoEffectValues& v = Settings().m_vvals;
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(AddRadios("Pattern",
                                {{"Staggered", "staggered"},
                                 {"Large Staggered", "largeStaggered"},
                                 {"Striped", "striped"},
                                 {"Wide-Striped", "wideStriped"},
                                 {"Long-staggered", "longStaggered"},
                                 {"3 x 3", "threeByThree"},
                                 {"Large 3 x 3", "largeThreeByThree"},
                                 {"Dots", "dots"},
                                 {"Hex", "hex"}},
                                v.pattern_number));
    layout->addWidget(AddCheck("Additive", "additive", v.additive));
    layout->addWidget(AddCheck("Rotated", "rotated", v.rotated));
    layout->addWidget(AcceptCancelButtons(this));
}
