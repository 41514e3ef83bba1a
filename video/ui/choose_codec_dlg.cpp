#include "video/ui/choose_codec_dlg.h"

#include "video/avi_encoders.h"

#include <algorithm>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

CChooseCodecDlg::CChooseCodecDlg(const AviCodecOptions& initial, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Choose codec");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Compressor:", this));
    m_list = new QListWidget(this);
    const auto& encoders = AviEncoders();
    int selected = encoders.empty() ? -1 : 0;
    for (size_t i = 0; i < encoders.size(); ++i) {
        const AviEncoderInfo& e = encoders[i];
        auto* item = new QListWidgetItem(
            QString::fromStdString(e.description + " (" + e.name + ")"), m_list);
        item->setData(Qt::UserRole, QString::fromStdString(e.name));
        if (e.name == initial.encoder) selected = int(i);
    }
    layout->addWidget(m_list);

    auto* grid = new QGridLayout;
    m_quality = new QSpinBox(this);
    m_quality->setRange(0, 100);
    m_quality->setValue(std::clamp(initial.quality, 0, 100));
    grid->addWidget(new QLabel("Compression quality:", this), 0, 0);
    grid->addWidget(m_quality, 0, 1);
    m_keyFrames = new QCheckBox("Key frame every", this);
    m_keyFrameInterval = new QSpinBox(this);
    m_keyFrameInterval->setRange(1, 10000);
    m_keyFrameInterval->setSuffix(" frames");
    m_keyFrames->setChecked(initial.keyFrameInterval > 0);
    m_keyFrameInterval->setValue(initial.keyFrameInterval > 0 ? initial.keyFrameInterval : 15);
    grid->addWidget(m_keyFrames, 1, 0);
    grid->addWidget(m_keyFrameInterval, 1, 1);
    m_dataRate = new QCheckBox("Data rate", this);
    m_kilobytes = new QSpinBox(this);
    m_kilobytes->setRange(1, 1000000);
    m_kilobytes->setSuffix(" KB/sec");
    m_dataRate->setChecked(initial.kilobytesPerSecond > 0);
    m_kilobytes->setValue(initial.kilobytesPerSecond > 0 ? initial.kilobytesPerSecond : 300);
    grid->addWidget(m_dataRate, 2, 0);
    grid->addWidget(m_kilobytes, 2, 1);
    layout->addLayout(grid);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_list, &QListWidget::currentRowChanged, this, [this] { UpdateControls(); });
    connect(m_keyFrames, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(m_dataRate, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    m_list->setCurrentRow(selected);
    UpdateControls();
}

void CChooseCodecDlg::UpdateControls() {
    const int row = m_list->currentRow();
    const auto& encoders = AviEncoders();
    const AviEncoderInfo* e =
        row >= 0 && size_t(row) < encoders.size() ? &encoders[size_t(row)] : nullptr;
    // Only what the chosen encoder takes can be set; nothing to choose, no OK.
    m_ok->setEnabled(e != nullptr);
    m_quality->setEnabled(e && e->usesQuality);
    m_keyFrames->setEnabled(e && e->usesKeyFrames);
    m_keyFrameInterval->setEnabled(e && e->usesKeyFrames && m_keyFrames->isChecked());
    m_dataRate->setEnabled(e && e->usesDataRate);
    m_kilobytes->setEnabled(e && e->usesDataRate && m_dataRate->isChecked());
}

AviCodecOptions CChooseCodecDlg::Options() const {
    AviCodecOptions o;
    if (QListWidgetItem* item = m_list->currentItem())
        o.encoder = item->data(Qt::UserRole).toString().toStdString();
    o.quality = m_quality->value();
    o.keyFrameInterval = m_keyFrameInterval->isEnabled() ? m_keyFrameInterval->value() : 0;
    o.kilobytesPerSecond = m_kilobytes->isEnabled() ? m_kilobytes->value() : 0;
    return o;
}

bool ChooseAviCodec(QWidget* parent, AviCodecOptions& options) {
    CChooseCodecDlg dlg(options, parent);
    if (dlg.exec() != QDialog::Accepted) return false;
    options = dlg.Options();
    return true;
}
