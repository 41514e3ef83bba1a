#include "imageops/ui/blur_setting_dlg.h"
#include "imageops/ui/dialog_buttons.h"

#include <QPushButton>
#include <QVBoxLayout>

CBlurSettingDlg::CBlurSettingDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host) {
    setWindowTitle("Blur Setting");
    auto* grid = new QGridLayout;
    size_ = AddSliderRow(grid, 0, "Size:", 3, 29, "size",
                         [](int v) { return QString::asprintf("%d", v); });
    // The slider shows half the size; the default 5 opens at the minimum 3.
    size_.slider->setValue(host.Settings().m_nBlurSize / 2);
    size_.Show();
    connect(size_.slider, &QSlider::valueChanged, this, [this] { size_.Show(); });

    QDialogButtonBox* box = AcceptCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(box);
}

void CBlurSettingDlg::accept() {
    host_.Settings().m_nBlurSize = 2 * size_.slider->value();
    host_.Reprocess();
    QDialog::accept();
}
