#include "imageops/ui/painterly_dlgs.h"

#include "imageops/ui/dialog_buttons.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

QString Number(int v) {
    return QString::number(v);
}

// Settings kept in hundredths, shown as the real value.
QString Hundredths(int v) {
    return QString::asprintf("%.2f", v / 100.0);
}

// A slider position for a real setting: whole part, held in the slider's range.
int SliderPosition(double v, const QSlider* s) {
    if (!std::isfinite(v)) return s->minimum();
    return int(std::clamp(std::trunc(v), double(s->minimum()), double(s->maximum())));
}

} // namespace

// ---------------------------------------------------------------------------

COilifyDlg::COilifyDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_ovals) {
    setWindowTitle("Oilify");
    const OilifyValues& v = host.Settings().m_ovals;
    auto* grid = new QGridLayout;
    mask_ = AddSliderRow(grid, 0, "Mask Size:", 3, 50, "maskSize", Number);
    exponent_ = AddSliderRow(grid, 1, "Exponent:", 1, 20, "exponent", Number);
    for (auto [row, value, field] : {std::tuple{&mask_, v.mask_size, &OilifyValues::mask_size},
                                     std::tuple{&exponent_, v.exponent, &OilifyValues::exponent}}) {
        row->slider->setValue(SliderPosition(value, row->slider));
        row->Show();
        connect(row->slider, &QSlider::valueChanged, this, [this, row, field](int value) {
            host_.Settings().m_ovals.*field = double(value);
            row->Show();
            host_.Reprocess();
        });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    struct Check {
        const char* text;
        const char* name;
        int32_t OilifyValues::*field;
    };
    for (Check c : {Check{"Mask-size Map", "maskSizeMap", &OilifyValues::use_mask_size_map},
                    Check{"Exponent Map", "exponentMap", &OilifyValues::use_exponent_map},
                    Check{"Intensity Algorithm", "intensity", &OilifyValues::mode}}) {
        auto* box = new QCheckBox(c.text);
        box->setObjectName(c.name);
        box->setChecked(v.*c.field != 0);
        connect(box, &QCheckBox::toggled, this, [this, c](bool on) {
            host_.Settings().m_ovals.*c.field = on ? 1 : 0;
            host_.Reprocess();
        });
        layout->addWidget(box);
    }
    layout->addWidget(AcceptCancelButtons(this));
}

void COilifyDlg::reject() {
    host_.Settings().m_ovals = opening_;
    host_.Reprocess();
    QDialog::reject();
}

// ---------------------------------------------------------------------------

CCubismDlg::CCubismDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), openingSize_(host.Settings().m_fTresholdCubism),
      openingStrength_(host.Settings().m_fStrengthCubism) {
    setWindowTitle("Cubism");
    auto* grid = new QGridLayout;
    struct Control {
        const char* caption;
        const char* name;
        int max;
        float ProcessingSettings::*field;
    };
    int row = 0;
    for (Control s :
         {Control{"Size of Element:", "size", 100, &ProcessingSettings::m_fTresholdCubism},
          Control{"Strength:", "strength", 10, &ProcessingSettings::m_fStrengthCubism}}) {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setObjectName(s.name);
        slider->setRange(0, s.max);
        slider->setMinimumWidth(160);
        auto* edit = new QDoubleSpinBox;
        edit->setObjectName(QString(s.name) + "Edit");
        edit->setDecimals(1);
        edit->setRange(0.0, s.max);
        edit->setSingleStep(0.1);
        grid->addWidget(new QLabel(s.caption), row, 0);
        grid->addWidget(slider, row, 1);
        grid->addWidget(edit, row, 2);
        ++row;
        pairs_.push_back(Pair{slider, edit, s.field});
    }
    for (size_t i = 0; i < pairs_.size(); ++i) {
        const Pair p = pairs_[i];
        Show(p, host.Settings().*p.field);
        connect(p.slider, &QSlider::valueChanged, this, [this, p](int value) {
            if (updating_) return;
            host_.Settings().*p.field = float(value);
            Show(p, float(value));
            host_.Reprocess();
        });
        connect(p.edit, &QDoubleSpinBox::valueChanged, this, [this, p](double value) {
            if (updating_) return;
            host_.Settings().*p.field = float(value);
            Show(p, float(value));
            host_.Reprocess();
        });
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this));
}

void CCubismDlg::Show(const Pair& p, float value) {
    updating_ = true;
    p.slider->setValue(SliderPosition(value, p.slider));
    p.edit->setValue(std::isfinite(value) ? value : 0.0);
    updating_ = false;
}

void CCubismDlg::reject() {
    host_.Settings().m_fTresholdCubism = openingSize_;
    host_.Settings().m_fStrengthCubism = openingStrength_;
    host_.Reprocess();
    QDialog::reject();
}

// ---------------------------------------------------------------------------

CIntSettingsDlg::CIntSettingsDlg(const char* title, std::vector<Row> rows, CDialogHost& host,
                                 QWidget* parent)
    : QDialog(parent), host_(host), rows_(std::move(rows)) {
    setWindowTitle(title);
    auto* grid = new QGridLayout;
    sliders_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
        const Row& r = rows_[i];
        opening_.push_back(host.Settings().*r.field);
        SliderRow& s = sliders_[i];
        s = AddSliderRow(grid, int(i), r.caption, r.min, r.max, r.name, r.format);
        s.slider->setValue(host.Settings().*r.field);
        s.Show();
        connect(s.slider, &QSlider::valueChanged, this, [this, i](int value) {
            host_.Settings().*rows_[i].field = value;
            sliders_[i].Show();
            host_.Reprocess();
        });
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this));
}

void CIntSettingsDlg::reject() {
    for (size_t i = 0; i < rows_.size(); ++i) host_.Settings().*rows_[i].field = opening_[i];
    host_.Reprocess();
    QDialog::reject();
}

CSoftGlowDlg::CSoftGlowDlg(CDialogHost& host, QWidget* parent)
    : CIntSettingsDlg(
          "Soft Glow",
          {{"Radius:", 1, 50, "radius", &ProcessingSettings::m_nRadiusSoftGlow, Number},
           {"Brightness:::", 0, 100, "brightness", &ProcessingSettings::m_nBrightnessSoftGlow,
            Number},
           {"Sharpness:", 0, 100, "sharpness", &ProcessingSettings::m_nSharpnessSoftGlow, Number}},
          host, parent) {}

CNeonDlg::CNeonDlg(CDialogHost& host, QWidget* parent)
    : CIntSettingsDlg(
          "Neon",
          {{"Radius:", 0, 6400, "radius", &ProcessingSettings::m_nRadiusNeon, Hundredths},
           {"Amount:", 0, 100, "amount", &ProcessingSettings::m_nAmountNeon, Hundredths}},
          host, parent) {}
