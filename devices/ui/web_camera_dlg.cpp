#include "devices/ui/web_camera_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <set>

namespace {
constexpr int kBorder = 2; // each side of the preview
constexpr int kMargin = 5; // preview from the dialog's corner
constexpr int kColumnGap = 10;
} // namespace

void CCameraPreview::SetFrame(const BMP_File& frame) {
    QImage img(frame.Width(), frame.Height(), QImage::Format_RGB888);
    if (img.isNull()) {
        m_image = QImage();
        return;
    }
    for (int y = 0; y < frame.Height(); ++y)
        std::memcpy(img.scanLine(y), frame.Row(y), size_t(frame.Width()) * 3);
    m_image = std::move(img);
    update();
}

void CCameraPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().dark());
    if (!m_image.isNull()) p.drawImage(QPoint(kBorder, kBorder), m_image);
}

CWebCameraDlg::CWebCameraDlg(const QString& camera, CameraFormat& format, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_camera(camera), m_format(format) {
    setObjectName("webCamera");
    m_preview = new CCameraPreview(this);
    m_exit = new QPushButton("Exit", this);
    m_freeze = new QPushButton("Freeze", this);
    m_save = new QPushButton("Save and Exit", this);
    m_setup = new QPushButton("Setup Video", this);
    m_pin = new QPushButton("Pin...", this);
    m_filter = new QPushButton("Filter...", this);
    m_status = new QLabel(this);
    connect(m_exit, &QPushButton::clicked, this, &CWebCameraDlg::OnExit);
    connect(m_freeze, &QPushButton::clicked, this, &CWebCameraDlg::OnFreeze);
    connect(m_save, &QPushButton::clicked, this, &CWebCameraDlg::OnSaveAndExit);
    connect(m_setup, &QPushButton::clicked, this, [this] { OpenControls(false, "Video Setup"); });
    connect(m_filter, &QPushButton::clicked, this,
            [this] { OpenControls(true, "Camera Controls"); });
    connect(m_pin, &QPushButton::clicked, this, &CWebCameraDlg::OpenFormat);
    m_errors = new QTimer(this);
    m_errors->setInterval(200);
    connect(m_errors, &QTimer::timeout, this, [this] {
        std::string text;
        if (m_capture.TakeError(&text)) {
            m_capture.Stop();
            QMessageBox::critical(this, "Could not access camera", QString::fromStdString(text));
        }
    });
    LayOut(m_format.width > 0 ? m_format.width : 320, m_format.height > 0 ? m_format.height : 240);
    StartCapture();
    RefreshStatus();
}

CWebCameraDlg::~CWebCameraDlg() {
    m_capture.Stop();
}

void CWebCameraDlg::StartCapture() {
    m_failure.clear();
    m_freeze->setText("Freeze");
    m_capture.SetFrameCallback([this] {
        // One repaint waits at a time; a newer frame is taken when it runs.
        if (!m_framePending.exchange(true))
            QMetaObject::invokeMethod(
                this, [this] { ShowFrame(); }, Qt::QueuedConnection);
    });
    CameraFailure failure;
    if (!m_capture.Start(m_camera.toStdString(), m_format, &failure)) {
        m_failure = QString::fromStdString(failure.text);
        m_failureCaption = QString::fromStdString(failure.caption);
        return;
    }
    m_errors->start();
}

int CWebCameraDlg::exec() {
    if (!m_failure.isEmpty()) {
        // Shown once the dialog is up, so that "Exit" is there to press.
        QTimer::singleShot(0, this,
                           [this] { QMessageBox::critical(this, m_failureCaption, m_failure); });
    }
    return QDialog::exec();
}

void CWebCameraDlg::ShowFrame() {
    m_framePending = false;
    if (!m_capture.Running() || m_capture.Frozen()) return;
    if (!m_capture.CopyFrame(m_frame)) return;
    if (m_frame.Width() + 2 * kBorder != m_preview->width() ||
        m_frame.Height() + 2 * kBorder != m_preview->height())
        LayOut(m_frame.Width(), m_frame.Height());
    m_preview->SetFrame(m_frame);
    if (m_preview->Image().isNull()) {
        m_capture.SetRunning(false);
        QMessageBox::critical(this, "Error", "Create Bitmap Error");
        return;
    }
    m_firstFrame = true;
    ++m_shown;
}

void CWebCameraDlg::LayOut(int w, int h) {
    m_preview->setGeometry(kMargin, kMargin, w + 2 * kBorder, h + 2 * kBorder);
    const int x = kMargin + w + 2 * kBorder + kColumnGap;
    int y = kMargin;
    int widest = 0;
    for (QPushButton* b : {m_exit, m_freeze, m_save, m_setup, m_pin, m_filter})
        widest = std::max(widest, b->sizeHint().width());
    for (QPushButton* b : {m_exit, m_freeze, m_save, m_setup, m_pin, m_filter}) {
        b->setGeometry(b == m_setup ? x - 5 : x, y, widest, b->sizeHint().height());
        y += b->sizeHint().height() + 4;
    }
    const int bottom = std::max(kMargin + h + 2 * kBorder, y);
    const int statusH = m_status->sizeHint().height();
    m_status->setGeometry(kMargin, bottom + 4, x + widest - kMargin, statusH);
    setFixedSize(x + widest + kMargin, bottom + 4 + statusH + kMargin);
}

QString CWebCameraDlg::StatusLine() const {
    return m_status->text();
}

void CWebCameraDlg::RefreshStatus() {
    const auto controls = ListCameraControls(m_capture.DevicePath());
    m_status->setText(QString::fromStdString(CameraStatusLine(ReadZoomPanTilt(controls))));
}

void CWebCameraDlg::OnFreeze() {
    m_capture.SetFrozen(!m_capture.Frozen());
    m_freeze->setText(m_capture.Frozen() ? "UnFreeze" : "Freeze");
}

void CWebCameraDlg::OnExit() {
    m_capture.SetRunning(false);
    m_capture.SetFrozen(false);
    m_errors->stop();
    m_capture.Stop(); // returns once no frame is being written
    QDialog::reject();
}

void CWebCameraDlg::reject() {
    OnExit();
}

void CWebCameraDlg::OnSaveAndExit() {
    // No frame is accepted from here on; the lock of the frame buffer
    // guarantees the copy is one whole frame, the last one shown when frozen.
    m_capture.SetRunning(false);
    if (!m_capture.CopyFrame(m_result)) m_result.Clear();
    m_errors->stop();
    m_capture.Stop();
    QDialog::accept();
}

void CWebCameraDlg::OpenControls(bool cameraClass, const QString& title) {
    const std::string path = m_capture.DevicePath();
    const auto controls = ListCameraControls(path);
    QDialog dlg(this);
    dlg.setWindowTitle(title);
    auto* form = new QFormLayout(&dlg);
    int shown = 0;
    for (const CameraControl& c : controls) {
        if (c.cameraClass != cameraClass) continue;
        const uint32_t id = c.id;
        QWidget* editor = nullptr;
        if (c.kind == CameraControl::Boolean) {
            auto* box = new QCheckBox(&dlg);
            box->setChecked(c.value != 0);
            connect(box, &QCheckBox::toggled, &dlg,
                    [path, id](bool on) { SetCameraControl(path, id, on ? 1 : 0); });
            editor = box;
        } else if (c.kind == CameraControl::Menu) {
            auto* box = new QComboBox(&dlg);
            for (const auto& [value, text] : c.menu)
                box->addItem(QString::fromStdString(text), value);
            box->setCurrentIndex(box->findData(c.value));
            connect(box, &QComboBox::activated, &dlg, [path, id, box](int i) {
                SetCameraControl(path, id, box->itemData(i).toInt());
            });
            editor = box;
        } else if (c.kind == CameraControl::Button) {
            auto* b = new QPushButton(QString::fromStdString(c.name), &dlg);
            connect(b, &QPushButton::clicked, &dlg, [path, id] { SetCameraControl(path, id, 1); });
            editor = b;
        } else {
            auto* s = new QSlider(Qt::Horizontal, &dlg);
            s->setRange(c.min, c.max);
            s->setSingleStep(c.step);
            s->setValue(c.value);
            connect(s, &QSlider::valueChanged, &dlg,
                    [path, id](int v) { SetCameraControl(path, id, v); });
            editor = s;
        }
        editor->setEnabled(!c.readOnly && !c.inactive);
        form->addRow(QString::fromStdString(c.name), editor);
        ++shown;
    }
    if (shown == 0) form->addRow(new QLabel("The camera offers no controls here.", &dlg));
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &dlg);
    connect(close, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    form->addRow(close);
    dlg.exec();
    RefreshStatus();
}

void CWebCameraDlg::OpenFormat() {
    // The sizes and rates the camera offers; the choice is asked of it from
    // now on (and kept by the caller in the user's settings).
    QDialog dlg(this);
    dlg.setWindowTitle("Capture Format");
    auto* form = new QFormLayout(&dlg);
    auto* sizes = new QComboBox(&dlg);
    auto* rates = new QComboBox(&dlg);
    sizes->setObjectName("sizes");
    rates->setObjectName("rates");
    const std::pair<int, int> common[] = {{160, 120},  {176, 144},  {320, 240}, {352, 288},
                                          {640, 360},  {640, 480},  {800, 600}, {1024, 768},
                                          {1280, 720}, {1920, 1080}};
    std::set<std::pair<int, int>> seen;
    for (auto [w, h] : common) {
        sizes->addItem(QString("%1 x %2").arg(w).arg(h), QSize(w, h));
        seen.insert({w, h});
    }
    if (!seen.count({m_format.width, m_format.height}))
        sizes->addItem(QString("%1 x %2").arg(m_format.width).arg(m_format.height),
                       QSize(m_format.width, m_format.height));
    sizes->setCurrentIndex(sizes->findData(QSize(m_format.width, m_format.height)));
    rates->addItem("Camera's own", QVariant::fromValue<qulonglong>(~0ull));
    for (int fps : {5, 10, 15, 20, 25, 30, 60})
        rates->addItem(QString::number(fps), QVariant::fromValue<qulonglong>(10000000ull / fps));
    const int r = rates->findData(QVariant::fromValue<qulonglong>(m_format.frequency));
    rates->setCurrentIndex(r < 0 ? 0 : r);
    form->addRow("Size", sizes);
    form->addRow("Frames per second", rates);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    form->addRow(buttons);
    if (dlg.exec() != QDialog::Accepted) return;
    const QSize size = sizes->currentData().toSize();
    m_format.width = size.width();
    m_format.height = size.height();
    m_format.frequency = rates->currentData().toULongLong();
    m_errors->stop();
    m_capture.Stop();
    StartCapture();
    if (!m_failure.isEmpty()) QMessageBox::critical(this, m_failureCaption, m_failure);
}
