#include "imageops/ui/adjust_color_dlg.h"
#include "imageops/ui/dialog_buttons.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CAdjustColorDlg::CAdjustColorDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_ca) {
    setWindowTitle("Adjust Color");
    ColorAdjustment& ca = host.Settings().m_ca;

    auto* flagBox = new QGroupBox;
    auto* flagLayout = new QHBoxLayout(flagBox);
    flags_ = new QButtonGroup(this);
    const char* flagNames[3] = {"None", "Negative", "Log Filter"};
    const char* flagObjects[3] = {"none", "negative", "logFilter"};
    for (int i = 0; i < 3; ++i) {
        auto* b = new QRadioButton(flagNames[i]);
        b->setObjectName(flagObjects[i]);
        flags_->addButton(b, i);
        flagLayout->addWidget(b);
    }
    if (ca.caFlags <= 2) flags_->button(ca.caFlags)->setChecked(true);
    connect(flags_, &QButtonGroup::idClicked, this, [this](int id) {
        host_.Settings().m_ca.caFlags = uint16_t(id);
        host_.Reprocess();
    });

    illuminant_ = new QComboBox;
    illuminant_->setObjectName("illuminant");
    illuminant_->addItems({"Default", "A", "B", "C", "D50", "D55", "D65", "D75", "F2"});
    illuminant_->setCurrentIndex(ca.caIlluminantIndex <= 8 ? ca.caIlluminantIndex : 0);
    connect(illuminant_, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (i < 0) return;
        host_.Settings().m_ca.caIlluminantIndex = uint16_t(i);
        host_.Reprocess();
    });

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel("Illuminant:"), 0, 0);
    grid->addWidget(illuminant_, 0, 1, 1, 2);

    // The unsigned fields are shown as they are; the signed ones run 0..200 on
    // the slider and stand for the field plus 100.
    struct Field {
        const char* caption;
        const char* name;
        int min, max;
        bool offset;
        uint16_t ColorAdjustment::*u;
        int16_t ColorAdjustment::*s;
    };
    const Field fields[] = {
        {"Red Gamma:", "redGamma", 2500, 65000, false, &ColorAdjustment::caRedGamma, nullptr},
        {"Green Gamma:", "greenGamma", 2500, 65000, false, &ColorAdjustment::caGreenGamma, nullptr},
        {"Blue Gamma:", "blueGamma", 2500, 65000, false, &ColorAdjustment::caBlueGamma, nullptr},
        {"Reference Black:", "referenceBlack", 0, 4000, false, &ColorAdjustment::caReferenceBlack,
         nullptr},
        {"Reference White:", "referenceWhite", 6000, 10000, false,
         &ColorAdjustment::caReferenceWhite, nullptr},
        {"Contrast:", "contrast", 0, 200, true, nullptr, &ColorAdjustment::caContrast},
        {"Brightness:", "brightness", 0, 200, true, nullptr, &ColorAdjustment::caBrightness},
        {"Colorfulness:", "colorfulness", 0, 200, true, nullptr, &ColorAdjustment::caColorfulness},
        {"Red Green Tint:", "redGreenTint", 0, 200, true, nullptr,
         &ColorAdjustment::caRedGreenTint},
    };
    rows_.reserve(std::size(fields));
    for (const Field& f : fields) {
        const int row = int(rows_.size()) + 1;
        const bool offset = f.offset;
        rows_.push_back(AddSliderRow(grid, row, f.caption, f.min, f.max, f.name, [offset](int v) {
            return QString::number(offset ? v - 100 : v);
        }));
        SliderRow& r = rows_.back();
        r.slider->setValue(offset ? ca.*f.s + 100 : int(ca.*f.u));
        r.Show();
        const size_t index = rows_.size() - 1;
        connect(r.slider, &QSlider::valueChanged, this, [this, f, index](int v) {
            ColorAdjustment& c = host_.Settings().m_ca;
            if (f.offset)
                c.*f.s = int16_t(v - 100);
            else
                c.*f.u = uint16_t(v);
            rows_[index].Show();
            host_.Reprocess();
        });
    }

    QDialogButtonBox* box = AcceptCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(flagBox);
    layout->addLayout(grid);
    layout->addWidget(box);
}

void CAdjustColorDlg::reject() {
    host_.Settings().m_ca = opening_;
    host_.Reprocess();
    QDialog::reject();
}
