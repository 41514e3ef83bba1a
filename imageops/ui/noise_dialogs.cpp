// "Set Noise" and "RGB Noise".

#include "imageops/ui/dialog_buttons.h"
#include "imageops/ui/overlay_dialogs.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {

QSlider* PercentSlider(QWidget* parent, int value) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setRange(0, 100);
    s->setValue(std::clamp(value, 0, 100));
    s->setMinimumWidth(220);
    return s;
}

} // namespace

// ---------------------------------------------------------------------------

CSetNoiseDlg::CSetNoiseDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_nStrengthNoise) {
    setWindowTitle("Set Noise");
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Strength", this));
    strength_ = PercentSlider(this, opening_);
    strength_->setObjectName("strength");
    row->addWidget(strength_);
    layout->addLayout(row);

    layout->addWidget(AcceptCancelButtons(this));

    connect(strength_, &QSlider::valueChanged, this, [this](int v) {
        host_.Settings().m_nStrengthNoise = v;
        host_.Reprocess();
    });
}

void CSetNoiseDlg::reject() {
    if (host_.Settings().m_nStrengthNoise != opening_) {
        host_.Settings().m_nStrengthNoise = opening_;
        host_.Reprocess();
    }
    QDialog::reject();
}

void OpenNoiseDialog(CDialogHost& host, QWidget* parent) {
    CSetNoiseDlg dlg(host, parent);
    dlg.exec();
}

// ---------------------------------------------------------------------------

CRGBNoiseDlg::CRGBNoiseDlg(CDialogHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setWindowTitle("RGB Noise");
    const ProcessingSettings& s = host.Settings();
    opening_[0] = s.m_nSliderNoiseR;
    opening_[1] = s.m_nSliderNoiseG;
    opening_[2] = s.m_nSliderNoiseB;

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const char* names[3] = {"Red:", "Green:", "Blue:"};
    const char* ids[3] = {"red", "green", "blue"};
    for (int c = 0; c < 3; ++c) {
        grid->addWidget(new QLabel(names[c], this), c, 0);
        sliders_[c] = PercentSlider(this, opening_[c]);
        sliders_[c]->setObjectName(ids[c]);
        grid->addWidget(sliders_[c], c, 1);
        values_[c] = new QLabel(QString::asprintf("%d%%", sliders_[c]->value()), this);
        values_[c]->setObjectName(QString(ids[c]) + "Value");
        values_[c]->setMinimumWidth(40);
        grid->addWidget(values_[c], c, 2);
    }
    layout->addLayout(grid);
    lock_ = new QCheckBox("Lock", this);
    lock_->setObjectName("lock");
    lock_->setChecked(true);
    layout->addWidget(lock_);

    layout->addWidget(AcceptCancelButtons(this, "Apply"));

    for (int c = 0; c < 3; ++c)
        connect(sliders_[c], &QSlider::valueChanged, this, [this, c](int v) { Moved(c, v); });
    connect(lock_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) return;
        // Locking brings green and blue to red.
        syncing_ = true;
        sliders_[1]->setValue(sliders_[0]->value());
        sliders_[2]->setValue(sliders_[0]->value());
        syncing_ = false;
        Store();
    });
}

void CRGBNoiseDlg::Moved(int channel, int value) {
    values_[channel]->setText(QString::asprintf("%d%%", value));
    if (syncing_) return;
    if (lock_->isChecked()) {
        syncing_ = true;
        for (int c = 0; c < 3; ++c)
            if (c != channel) sliders_[c]->setValue(value);
        syncing_ = false;
    }
    Store();
}

void CRGBNoiseDlg::Store() {
    ProcessingSettings& s = host_.Settings();
    s.m_nSliderNoiseR = sliders_[0]->value();
    s.m_nSliderNoiseG = sliders_[1]->value();
    s.m_nSliderNoiseB = sliders_[2]->value();
    host_.Reprocess();
}

void CRGBNoiseDlg::reject() {
    ProcessingSettings& s = host_.Settings();
    if (s.m_nSliderNoiseR != opening_[0] || s.m_nSliderNoiseG != opening_[1] ||
        s.m_nSliderNoiseB != opening_[2]) {
        s.m_nSliderNoiseR = opening_[0];
        s.m_nSliderNoiseG = opening_[1];
        s.m_nSliderNoiseB = opening_[2];
        host_.Reprocess();
    }
    QDialog::reject();
}

void OpenRGBNoiseDialog(CDialogHost& host, QWidget* parent) {
    CRGBNoiseDlg dlg(host, parent);
    dlg.exec();
}
