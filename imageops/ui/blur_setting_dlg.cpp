#include "imageops/ui/blur_setting_dlg.h"

#include <QDialogButtonBox>
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

    auto* box = new QDialogButtonBox;
    QPushButton* ok = box->addButton("OK", QDialogButtonBox::AcceptRole);
    QPushButton* cancel = box->addButton("Cancel", QDialogButtonBox::RejectRole);
    ok->setObjectName("ok");
    cancel->setObjectName("cancel");
    ok->setDefault(true);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(box);
}

void CBlurSettingDlg::accept() {
    host_.Settings().m_nBlurSize = 2 * size_.slider->value();
    host_.Reprocess();
    QDialog::accept();
}
