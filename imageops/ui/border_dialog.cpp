// "Set Border".

#include "imageops/data_paths.h"
#include "imageops/overlays.h"
#include "imageops/ui/overlay_dialogs.h"
#include "imageops/ui/overlay_picture.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kPreviewSide = 96;

int FindEntry(const std::vector<std::string>& paths, const std::string& stored) {
    if (stored.empty()) return -1;
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == stored) return int(i);
    const std::string resolved = ResolveDataPicture(stored, kBorderFolder);
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == resolved) return int(i);
    return -1;
}

} // namespace

CSetBorderDlg::CSetBorderDlg(CDialogHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setWindowTitle("Set Border");
    ProcessingSettings& s = host.Settings();
    // Without a thickness the frame would have no width at all.
    if (s.m_nBorderPlacement[kBorderPlacementThickness] < 1)
        s.m_nBorderPlacement[kBorderPlacementThickness] = kDefaultThickness;
    int mode = s.m_nBorderPlacement[kBorderPlacementMode];
    if (mode < kBorderOnTop || mode > kBorderAround) mode = kBorderOnTop;

    folderFound_ = !ExistingDataFolders(kBorderFolder).empty();
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    list_ = new QListWidget(this);
    list_->setObjectName("borders");
    list_->setMinimumSize(180, 160);
    for (const DataPicture& p : ListDataPictures(kBorderFolder, BorderPictureExtensions())) {
        list_->addItem(QString::fromStdString(p.name));
        paths_.push_back(p.path);
    }
    top->addWidget(list_);
    auto* side = new QVBoxLayout;
    preview_ = new QLabel(this);
    preview_->setObjectName("preview");
    preview_->setFixedSize(kPreviewSide, kPreviewSide);
    preview_->setAlignment(Qt::AlignCenter);
    side->addWidget(preview_);
    size_ = new QLabel(this);
    size_->setObjectName("imageSize");
    side->addWidget(size_);
    side->addStretch();
    top->addLayout(side);
    layout->addLayout(top);

    auto* group = new QGroupBox("How to draw border?", this);
    auto* radios = new QVBoxLayout(group);
    const char* texts[3] = {"On top of image", "Stretch image", "Around of image"};
    const char* ids[3] = {"onTop", "stretch", "around"};
    for (int m = 0; m < 3; ++m) {
        modes_[m] = new QRadioButton(texts[m], group);
        modes_[m]->setObjectName(ids[m]);
        radios->addWidget(modes_[m]);
    }
    modes_[mode]->setChecked(true);
    layout->addWidget(group);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Border thickness:", this));
    thickness_ = new QSpinBox(this);
    thickness_->setObjectName("thickness");
    // In pixels of the border picture; the band grows with the image.
    thickness_->setRange(1, 500);
    thickness_->setValue(s.m_nBorderPlacement[kBorderPlacementThickness]);
    row->addWidget(thickness_);
    row->addStretch();
    layout->addLayout(row);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("OK", QDialogButtonBox::AcceptRole)->setObjectName("ok");
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    const int current = FindEntry(paths_, s.m_sBorderName);
    if (current >= 0) {
        list_->setCurrentRow(current);
        BMP_File pic;
        if (LoadOverlayPicture(paths_[size_t(current)], pic)) {
            preview_->setPixmap(OverlayPicturePixmap(pic, kPreviewSide));
            size_->setText(QString::asprintf("Image size: %d x %d", pic.Width(), pic.Height()));
        }
    }

    connect(list_, &QListWidget::currentRowChanged, this, [this](int r) { Choose(r); });
    for (QRadioButton* r : modes_)
        connect(r, &QRadioButton::toggled, this, [this](bool on) {
            if (on) StorePlacement();
        });
    connect(thickness_, &QSpinBox::valueChanged, this, [this](int) { StorePlacement(); });
}

void CSetBorderDlg::ReportFolderProblems() {
    if (!folderFound_)
        ShowOverlayMessage(this, "Error", "Can't find 'Border' subdirectory!");
    else if (paths_.empty())
        ShowOverlayMessage(this, "Error", "No Border Files!");
}

void CSetBorderDlg::Choose(int row) {
    if (row < 0 || size_t(row) >= paths_.size()) return;
    BMP_File pic;
    if (!LoadOverlayPicture(paths_[size_t(row)], pic)) {
        ShowOverlayMessage(this, "Error", "Can't load Border!");
        return;
    }
    preview_->setPixmap(OverlayPicturePixmap(pic, kPreviewSide));
    size_->setText(QString::asprintf("Image size: %d x %d", pic.Width(), pic.Height()));
    host_.Settings().m_sBorderName = paths_[size_t(row)];
    host_.Reprocess();
}

void CSetBorderDlg::StorePlacement() {
    ProcessingSettings& s = host_.Settings();
    for (int m = 0; m < 3; ++m)
        if (modes_[m]->isChecked()) s.m_nBorderPlacement[kBorderPlacementMode] = m;
    s.m_nBorderPlacement[kBorderPlacementThickness] = thickness_->value();
    host_.Reprocess();
}

void OpenBorderDialog(CDialogHost& host, QWidget* parent) {
    CSetBorderDlg dlg(host, parent);
    dlg.ReportFolderProblems();
    dlg.exec();
}
