// "Mosaic Setting".

#include "imageops/ui/dialog_buttons.h"
#include "imageops/ui/overlay_dialogs.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

CMosaicSettingDlg::CMosaicSettingDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_nMosaicSize) {
    setWindowTitle("Mosaic Setting");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Size:", this));
    size_ = new QSlider(Qt::Horizontal, this);
    size_->setObjectName("size");
    // Position p stands for cells of p + 1 pixels.
    size_->setRange(1, 120);
    size_->setValue(opening_ - 1);
    size_->setMinimumWidth(240);
    row->addWidget(size_);
    value_ = new QLabel(QString::asprintf("%d", opening_), this);
    value_->setObjectName("sizeValue");
    value_->setMinimumWidth(32);
    row->addWidget(value_);
    layout->addLayout(row);

    layout->addWidget(AcceptCancelButtons(this));

    connect(size_, &QSlider::valueChanged, this, [this](int p) {
        ProcessingSettings& s = host_.Settings();
        s.m_nMosaicSize = p + 1;
        value_->setText(QString::asprintf("%d", s.m_nMosaicSize));
        if (s.bMosaic) host_.Reprocess();
    });
}

void CMosaicSettingDlg::reject() {
    ProcessingSettings& s = host_.Settings();
    if (s.m_nMosaicSize != opening_) {
        s.m_nMosaicSize = opening_;
        if (s.bMosaic) host_.Reprocess();
    }
    QDialog::reject();
}

void OpenMosaicDialog(CDialogHost& host, QWidget* parent) {
    CMosaicSettingDlg dlg(host, parent);
    dlg.exec();
}
