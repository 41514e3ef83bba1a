#include "imageops/ui/perspective_dlg.h"
#include "imageops/ui/dialog_buttons.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cmath>

CPerspectiveDlg::CPerspectiveDlg(CDialogHost& host, QWidget* parent)
    : QDialog(parent), host_(host), openingVertical_(host.Settings().m_bPerspectiveVertical),
      openingAngle_(host.Settings().m_fAnglePerspective) {
    setWindowTitle("Set Perspective");
    const ProcessingSettings& s = host.Settings();

    auto* radios = new QHBoxLayout;
    axis_ = new QButtonGroup(this);
    auto* vertical = new QRadioButton("Vertical");
    auto* horizontal = new QRadioButton("Horizontal");
    vertical->setObjectName("vertical");
    horizontal->setObjectName("horizontal");
    axis_->addButton(vertical, 1);
    axis_->addButton(horizontal, 0);
    radios->addWidget(vertical);
    radios->addWidget(horizontal);
    (s.m_bPerspectiveVertical ? vertical : horizontal)->setChecked(true);
    connect(axis_, &QButtonGroup::idClicked, this, [this](int id) {
        host_.Settings().m_bPerspectiveVertical = id;
        host_.Reprocess();
    });

    auto* grid = new QGridLayout;
    angle_ = AddSliderRow(grid, 0, "Angle:", 0, 180, "angle",
                          [](int p) { return QString::asprintf("%.1f", double(p - 90)); });
    const double start = std::isfinite(s.m_fAnglePerspective) ? s.m_fAnglePerspective + 90.0 : 90.0;
    angle_.slider->setValue(int(std::trunc(start)));
    angle_.Show();
    connect(angle_.slider, &QSlider::valueChanged, this, [this](int p) {
        host_.Settings().m_fAnglePerspective = float(p - 90);
        angle_.Show();
        host_.Reprocess();
    });

    QDialogButtonBox* box = AcceptCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(radios);
    layout->addLayout(grid);
    layout->addWidget(box);
}

void CPerspectiveDlg::reject() {
    host_.Settings().m_bPerspectiveVertical = openingVertical_;
    host_.Settings().m_fAnglePerspective = openingAngle_;
    host_.Reprocess();
    QDialog::reject();
}
