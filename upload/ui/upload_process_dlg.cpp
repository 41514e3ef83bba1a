#include "upload/ui/upload_process_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CUploadProcessDlg::CUploadProcessDlg(UploadRequest request, UploadServer server,
                                     UploadOptions options, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Uploading");
    m_job = std::make_unique<CUploadJob>(std::move(request), std::move(server), std::move(options),
                                         *this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Image uploading. Please wait...", this));
    auto* row = new QHBoxLayout;
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    m_percent = new QLabel("0%", this);
    m_percent->setMinimumWidth(40);
    row->addWidget(m_bar, 1);
    row->addWidget(m_percent);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::rejected, this, &CUploadProcessDlg::reject);
    layout->addWidget(buttons);
    m_timer = new QTimer(this);
    m_timer->setInterval(500);
    connect(m_timer, &QTimer::timeout, this, &CUploadProcessDlg::Poll);
    resize(360, sizeHint().height());
}

CUploadProcessDlg::~CUploadProcessDlg() {
    // The worker reports to this object: it must be gone before we are.
    m_stop = true;
    m_job.reset();
}

void CUploadProcessDlg::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (m_started) return;
    m_started = true;
    m_job->Start();
    m_timer->start();
}

void CUploadProcessDlg::SetProgress(int percent) {
    // The worker may not touch widgets; the window's own thread sets them.
    QMetaObject::invokeMethod(
        this,
        [this, percent] {
            m_bar->setValue(percent);
            m_percent->setText(QString::number(percent));
        },
        Qt::QueuedConnection);
}

void CUploadProcessDlg::Poll() {
    if (!m_job->IsFinished()) return;
    m_timer->stop();
    accept();
}

void CUploadProcessDlg::reject() {
    m_timer->stop();
    m_cancelled = true;
    m_stop = true;
    // The worker sees the stop within a fraction of a second, closes the
    // connection and returns.
    m_job->Wait();
    QDialog::reject();
}
