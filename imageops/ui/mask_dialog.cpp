// "Select Mask".

#include "imageops/data_paths.h"
#include "imageops/overlays.h"
#include "imageops/ui/dialog_buttons.h"
#include "imageops/ui/overlay_dialogs.h"
#include "imageops/ui/overlay_picture.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPreviewSide = 128;

// The list entry of a stored name: the same path, or failing that the same
// file name (a configuration made where the program lived elsewhere).
int FindEntry(const std::vector<std::string>& paths, const std::string& stored) {
    if (stored.empty()) return -1;
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == stored) return int(i);
    const std::string resolved = ResolveDataPicture(stored, kMasksFolder);
    for (size_t i = 0; i < paths.size(); ++i)
        if (paths[i] == resolved) return int(i);
    return -1;
}

} // namespace

CSelectMaskDlg::CSelectMaskDlg(CDialogHost& host, QWidget* parent) : QDialog(parent), host_(host) {
    setWindowTitle("Select Mask");
    const ProcessingSettings& s = host.Settings();
    openingName_ = s.m_sMaskName;
    openingInvert_ = s.bInvertMask;
    openingOpacity_ = s.fOpacityMask;

    folderFound_ = !ExistingDataFolders(kMasksFolder).empty();
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    list_ = new QListWidget(this);
    list_->setObjectName("masks");
    list_->setMinimumSize(200, 200);
    for (const DataPicture& p : ListDataPictures(kMasksFolder, MaskPictureExtensions())) {
        list_->addItem(QString::fromStdString(p.name));
        paths_.push_back(p.path);
    }
    top->addWidget(list_);
    preview_ = new QLabel(this);
    preview_->setObjectName("preview");
    preview_->setFixedSize(kPreviewSide, kPreviewSide);
    preview_->setAlignment(Qt::AlignCenter);
    top->addWidget(preview_);
    layout->addLayout(top);

    invert_ = new QCheckBox("Invert", this);
    invert_->setObjectName("invert");
    invert_->setChecked(s.bInvertMask != 0);
    layout->addWidget(invert_);

    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("Opacity:", this));
    opacity_ = new QSlider(Qt::Horizontal, this);
    opacity_->setObjectName("opacity");
    opacity_->setRange(0, 100);
    // The slider is the mask's strength: full right means the opacity floor 0.
    const float floorA = std::isfinite(s.fOpacityMask) ? s.fOpacityMask : 0.0f;
    opacity_->setValue(std::clamp(int(std::lround((1.0 - floorA) * 100.0)), 0, 100));
    row->addWidget(opacity_);
    opacityValue_ = new QLabel(QString::asprintf("%.2f", double(s.fOpacityMask)), this);
    opacityValue_->setObjectName("opacityValue");
    opacityValue_->setMinimumWidth(40);
    row->addWidget(opacityValue_);
    layout->addLayout(row);

    layout->addWidget(AcceptCancelButtons(this));

    // Show the current mask without choosing it again.
    const int current = FindEntry(paths_, s.m_sMaskName);
    if (current >= 0) {
        list_->setCurrentRow(current);
        BMP_File pic;
        if (LoadOverlayPicture(paths_[size_t(current)], pic))
            preview_->setPixmap(OverlayPicturePixmap(pic, kPreviewSide));
    }

    connect(list_, &QListWidget::currentRowChanged, this, [this](int r) { Choose(r); });
    connect(invert_, &QCheckBox::toggled, this, [this](bool on) {
        host_.Settings().bInvertMask = on ? 1 : 0;
        host_.Reprocess();
    });
    connect(opacity_, &QSlider::valueChanged, this, [this](int p) {
        ProcessingSettings& st = host_.Settings();
        st.fOpacityMask = float(1.0 - p / 100.0);
        opacityValue_->setText(QString::asprintf("%.2f", double(st.fOpacityMask)));
        host_.Reprocess();
    });
}

void CSelectMaskDlg::ReportFolderProblems() {
    if (!folderFound_)
        ShowOverlayMessage(this, "Error", "Can't find 'Masks' subdirectory!");
    else if (paths_.empty())
        ShowOverlayMessage(this, "Error", "No Border Files!");
}

void CSelectMaskDlg::Choose(int row) {
    if (row < 0 || size_t(row) >= paths_.size()) return;
    BMP_File pic;
    if (!LoadOverlayPicture(paths_[size_t(row)], pic)) {
        ShowOverlayMessage(this, "Error", "Can't load a Mask!");
        return;
    }
    preview_->setPixmap(OverlayPicturePixmap(pic, kPreviewSide));
    host_.Settings().m_sMaskName = paths_[size_t(row)];
    host_.Reprocess();
}

void CSelectMaskDlg::reject() {
    ProcessingSettings& s = host_.Settings();
    if (s.m_sMaskName != openingName_ || s.bInvertMask != openingInvert_ ||
        s.fOpacityMask != openingOpacity_) {
        s.m_sMaskName = openingName_;
        s.bInvertMask = openingInvert_;
        s.fOpacityMask = openingOpacity_;
        host_.Reprocess();
    }
    QDialog::reject();
}

void OpenMaskDialog(CDialogHost& host, QWidget* parent) {
    CSelectMaskDlg dlg(host, parent);
    dlg.ReportFolderProblems();
    dlg.exec();
}
