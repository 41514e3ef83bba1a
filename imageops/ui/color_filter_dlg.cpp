#include "imageops/ui/color_filter_dlg.h"

#include "imageops/color.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

int32_t& Bound(ColorFilterSettings& f, int index) {
    int32_t* fields[6] = {&f.m_nRMax, &f.m_nRMin, &f.m_nGMax, &f.m_nGMin, &f.m_nBMax, &f.m_nBMin};
    return *fields[index];
}

} // namespace

CColorFilterDlg::CColorFilterDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_ColorFilterDlg),
      preview_(host.Settings().m_bColorFilter != 0) {
    setWindowTitle("Color Filter");

    auto* channels = new QVBoxLayout;
    const char* captions[3] = {"Red", "Green", "Blue"};
    const char* names[3] = {"red", "green", "blue"};
    for (int c = 0; c < 3; ++c) {
        auto* group = new QGroupBox(captions[c]);
        auto* grid = new QGridLayout(group);
        for (int k = 0; k < 2; ++k) {
            const int index = 2 * c + k;
            const bool isMax = k == 0;
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setRange(0, 255);
            slider->setMinimumWidth(200);
            slider->setObjectName(QString(names[c]) + (isMax ? "Max" : "Min"));
            auto* edit = new QSpinBox;
            edit->setRange(0, 255);
            edit->setObjectName(slider->objectName() + "Edit");
            grid->addWidget(new QLabel(isMax ? "Max" : "Min"), k, 0);
            grid->addWidget(slider, k, 1);
            grid->addWidget(edit, k, 2);
            sliders_[size_t(index)] = slider;
            edits_[size_t(index)] = edit;
            auto moved = [this, c, isMax](int v) {
                if (updating_) return;
                MoveColorFilterBound(host_.Settings().m_ColorFilterDlg, c, isMax, v);
                Changed();
            };
            connect(slider, &QSlider::valueChanged, this, moved);
            connect(edit, &QSpinBox::valueChanged, this, moved);
        }
        channels->addWidget(group);
    }

    auto* modeBox = new QGroupBox("Filter mode");
    auto* modeLayout = new QVBoxLayout(modeBox);
    mode_ = new QButtonGroup(this);
    auto* keep = new QRadioButton("Keep color");
    auto* erase = new QRadioButton("Erase color");
    keep->setObjectName("keepColor");
    erase->setObjectName("eraseColor");
    mode_->addButton(keep, 0);
    mode_->addButton(erase, 1);
    modeLayout->addWidget(keep);
    modeLayout->addWidget(erase);
    connect(mode_, &QButtonGroup::idClicked, this, [this](int id) {
        host_.Settings().m_ColorFilterDlg.ftype = id;
        Changed();
    });

    synchro_ = new QCheckBox("Synchronously");
    synchro_->setObjectName("synchronously");
    connect(synchro_, &QCheckBox::toggled, this, [this](bool on) {
        if (updating_) return;
        host_.Settings().m_ColorFilterDlg.m_bSynchro = on ? 1 : 0;
        Changed();
    });

    auto* rangeBox = new QGroupBox("Range");
    auto* rangeLayout = new QVBoxLayout(rangeBox);
    auto addButton = [&](const char* text, const char* name, auto action) {
        auto* b = new QPushButton(text);
        b->setObjectName(name);
        b->setAutoDefault(false);
        rangeLayout->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, action] {
            action(host_.Settings().m_ColorFilterDlg);
            Changed();
        });
    };
    addButton("Default color", "defaultColor",
              [this](ColorFilterSettings& f) { SetColorFilterToColor(f, defaultColor_); });
    addButton("Increase on 10", "increase10",
              [](ColorFilterSettings& f) { WidenColorFilter(f, 10); });
    addButton("Decrease on 10", "decrease10",
              [](ColorFilterSettings& f) { NarrowColorFilter(f, 10); });
    addButton("Increase on 5", "increase5", [](ColorFilterSettings& f) { WidenColorFilter(f, 5); });
    addButton("Decrease on 5", "decrease5",
              [](ColorFilterSettings& f) { NarrowColorFilter(f, 5); });

    auto* box = new QDialogButtonBox;
    QPushButton* ok = box->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("ok");
    ok->setDefault(true);
    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* side = new QVBoxLayout;
    side->addWidget(modeBox);
    side->addWidget(synchro_);
    side->addWidget(rangeBox);
    auto* top = new QHBoxLayout;
    top->addLayout(channels);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(box);
    Refresh();
}

void CColorFilterDlg::Refresh() {
    updating_ = true;
    ColorFilterSettings& f = host_.Settings().m_ColorFilterDlg;
    for (int i = 0; i < 6; ++i) {
        sliders_[size_t(i)]->setValue(Bound(f, i));
        edits_[size_t(i)]->setValue(Bound(f, i));
    }
    if (QAbstractButton* b = mode_->button(f.ftype != 0 ? 1 : 0)) b->setChecked(true);
    synchro_->setChecked(f.m_bSynchro != 0);
    updating_ = false;
}

void CColorFilterDlg::Changed() {
    Refresh();
    if (preview_) host_.Reprocess();
}

void CColorFilterDlg::reject() {
    host_.Settings().m_ColorFilterDlg = opening_;
    if (preview_) host_.Reprocess();
    QDialog::reject();
}
