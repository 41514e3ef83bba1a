#include "imageops/ui/tone_dialogs.h"
#include "imageops/ui/dialog_buttons.h"

#include <QPushButton>
#include <QVBoxLayout>

CBrightnessContrastDlg::CBrightnessContrastDlg(Kind kind, CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host) {
    ProcessingSettings& s = host.Settings();
    if (kind == Kind::Brightness) {
        setWindowTitle("Adjust Brightness");
        fields_ = {&s.m_nBrightR, &s.m_nBrightG, &s.m_nBrightB};
    } else {
        setWindowTitle("Adjust Contrast");
        fields_ = {&s.m_nContrastR, &s.m_nContrastG, &s.m_nContrastB};
    }
    for (size_t i = 0; i < 3; ++i) opening_[i] = *fields_[i];

    auto* grid = new QGridLayout;
    const char* captions[3] = {"Red", "Green", "Blue"};
    const char* names[3] = {"red", "green", "blue"};
    for (int i = 0; i < 3; ++i) {
        SliderRow& r = rows_[size_t(i)];
        r = AddSliderRow(grid, i, captions[i], 0, 100, names[i], PercentText);
        r.slider->setValue(*fields_[size_t(i)]);
        r.Show();
        connect(r.slider, &QSlider::valueChanged, this, [this, i](int v) { OnSlider(i, v); });
    }
    lock_ = new QCheckBox("Lock");
    lock_->setObjectName("lock");
    lock_->setChecked(true);
    connect(lock_, &QCheckBox::toggled, this, [this](bool on) { OnLock(on); });

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(lock_);
    layout->addWidget(AcceptCancelButtons(this, "Apply"));
}

void CBrightnessContrastDlg::OnSlider(int index, int value) {
    if (updating_) return;
    if (lock_->isChecked()) {
        // The other two follow; one preview for the whole move.
        updating_ = true;
        for (int i = 0; i < 3; ++i)
            if (i != index) rows_[size_t(i)].slider->setValue(value);
        updating_ = false;
    }
    Store();
}

void CBrightnessContrastDlg::OnLock(bool on) {
    if (!on) return;
    updating_ = true;
    rows_[1].slider->setValue(rows_[0].slider->value());
    rows_[2].slider->setValue(rows_[0].slider->value());
    updating_ = false;
    Store();
}

void CBrightnessContrastDlg::Store() {
    for (size_t i = 0; i < 3; ++i) {
        *fields_[i] = rows_[i].slider->value();
        rows_[i].Show();
    }
    host_.Reprocess();
}

void CBrightnessContrastDlg::reject() {
    for (size_t i = 0; i < 3; ++i) *fields_[i] = opening_[i];
    host_.Reprocess();
    QDialog::reject();
}

CAdjustHsbDlg::CAdjustHsbDlg(CDialogHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setWindowTitle("Adjust HSB");
    ProcessingSettings& s = host.Settings();
    fields_ = {&s.m_nHue, &s.m_nSaturation, &s.m_nBrightness};
    for (size_t i = 0; i < 3; ++i) opening_[i] = *fields_[i];

    auto* grid = new QGridLayout;
    const char* captions[3] = {"Hue:", "Saturation:", "Brightness:"};
    const char* names[3] = {"hue", "saturation", "brightness"};
    for (int i = 0; i < 3; ++i) {
        SliderRow& r = rows_[size_t(i)];
        r = AddSliderRow(grid, i, captions[i], 0, 100, names[i], PercentText);
        r.slider->setValue(*fields_[size_t(i)]);
        r.Show();
        connect(r.slider, &QSlider::valueChanged, this, [this, i](int v) {
            *fields_[size_t(i)] = v;
            rows_[size_t(i)].Show();
            host_.Reprocess();
        });
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this, "Apply"));
}

void CAdjustHsbDlg::reject() {
    for (size_t i = 0; i < 3; ++i) *fields_[i] = opening_[i];
    host_.Reprocess();
    QDialog::reject();
}
