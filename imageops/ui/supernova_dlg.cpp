#include "imageops/ui/supernova_dlg.h"

#include "imageops/supernova.h"
#include "imageops/ui/dialog_buttons.h"

#include <QColorDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// Without a picture the centre is not limited beyond what any picture could
// need.
constexpr int kUnlimited = 65535;

QSpinBox* CentreEdit(const char* name, int size, int value) {
    auto* spin = new QSpinBox;
    spin->setObjectName(name);
    spin->setRange(0, size > 0 ? size - 1 : kUnlimited);
    spin->setValue(value);
    return spin;
}

QString Number(int v) {
    return QString::number(v);
}

} // namespace

CSuperNovaDlg::CSuperNovaDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), opening_(host.Settings().m_nvals),
      openingColor_(host.Settings().m_NovaColor) {
    setWindowTitle("Super Nova");
    const SuperNovaValues& v = host.Settings().m_nvals;
    const auto [width, height] = host.PictureSize();

    auto* centre = new QGroupBox("Nova Center");
    auto* centreLayout = new QHBoxLayout(centre);
    x_ = CentreEdit("x", width, v.xcenter);
    y_ = CentreEdit("y", height, v.ycenter);
    centreLayout->addWidget(new QLabel("X:"));
    centreLayout->addWidget(x_);
    centreLayout->addWidget(new QLabel("Y:"));
    centreLayout->addWidget(y_);
    connect(x_, &QSpinBox::valueChanged, this, [this](int value) {
        host_.Settings().m_nvals.xcenter = value;
        host_.Reprocess();
    });
    connect(y_, &QSpinBox::valueChanged, this, [this](int value) {
        host_.Settings().m_nvals.ycenter = value;
        host_.Reprocess();
    });

    color_ = new QPushButton("Select Color");
    color_->setObjectName("selectColor");
    color_->setAutoDefault(false);
    connect(color_, &QPushButton::clicked, this, [this] { ChooseColor(); });

    auto* grid = new QGridLayout;
    radius_ = AddSliderRow(grid, 0, "Radius:", 1, 100, "radius", Number);
    spokes_ = AddSliderRow(grid, 1, "Spokes:", 1, 1024, "spokes", Number);
    hue_ = AddSliderRow(grid, 2, "Random Hue:", 0, 360, "randomHue", Number);
    struct Binding {
        SliderRow* row;
        int32_t SuperNovaValues::*field;
    };
    for (Binding b :
         {Binding{&radius_, &SuperNovaValues::radius}, Binding{&spokes_, &SuperNovaValues::nspoke},
          Binding{&hue_, &SuperNovaValues::randomhue}}) {
        b.row->slider->setValue(v.*b.field);
        b.row->Show();
        connect(b.row->slider, &QSlider::valueChanged, this, [this, b](int value) {
            host_.Settings().m_nvals.*b.field = value;
            b.row->Show();
            host_.Reprocess();
        });
    }

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(centre);
    layout->addWidget(color_);
    layout->addLayout(grid);
    layout->addWidget(AcceptCancelButtons(this));
    ShowColor();
}

void CSuperNovaDlg::ShowColor() {
    const uint32_t c = uint32_t(host_.Settings().m_NovaColor);
    const QColor q(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
    color_->setStyleSheet(QString("QPushButton { border-left: 16px solid %1; }").arg(q.name()));
}

void CSuperNovaDlg::ChooseColor() {
    const uint32_t c = uint32_t(host_.Settings().m_NovaColor);
    const QColor initial(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
    const QColor chosen = QColorDialog::getColor(initial, this, "Select Color");
    if (!chosen.isValid()) return;
    SetNovaColor(host_.Settings(), uint8_t(chosen.red()), uint8_t(chosen.green()),
                 uint8_t(chosen.blue()));
    ShowColor();
    host_.Reprocess();
}

void CSuperNovaDlg::reject() {
    host_.Settings().m_nvals = opening_;
    host_.Settings().m_NovaColor = openingColor_;
    host_.Reprocess();
    QDialog::reject();
}
