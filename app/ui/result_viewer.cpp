#include "app/ui/result_viewer.h"

#include "app/print_layout.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

QImage QImageFromBmp(const BMP_File& image) {
    if (image.Empty()) return QImage();
    QImage out(image.Width(), image.Height(), QImage::Format_RGB32);
    if (out.isNull()) return out; // too large to allocate: nothing is drawn
    for (int y = 0; y < image.Height(); ++y) {
        const CColor24* src = image.Row(y);
        auto* dst = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < image.Width(); ++x) dst[x] = qRgb(src[x].r, src[x].g, src[x].b);
    }
    return out;
}

namespace {

QScreen* ScreenFor(QWidget* parent) {
    if (parent && parent->screen()) return parent->screen();
    return QGuiApplication::primaryScreen();
}

} // namespace

CResultViewer::CResultViewer(const BMP_File& original, const BMP_File& result, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), m_original(QImageFromBmp(original)),
      m_result(QImageFromBmp(result)) {
    setModal(true);
    setFocusPolicy(Qt::StrongFocus);
    // Paint every pixel ourselves: no flicker from the style's background.
    setAttribute(Qt::WA_OpaquePaintEvent);
    if (QScreen* screen = ScreenFor(parent)) setGeometry(screen->geometry());
}

QRect CResultViewer::ImageRect() const {
    const QImage& img = Shown();
    const PlacementRect r = FitCentred(img.width(), img.height(), width(), height());
    return QRect(r.x, r.y, r.width, r.height);
}

void CResultViewer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgba(kBackground));
    const QImage& img = Shown();
    if (img.isNull()) return;
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(ImageRect(), img);
}

void CResultViewer::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Space:
        // Holding the bar down would make the two images flicker.
        if (!event->isAutoRepeat()) {
            m_showingResult = !m_showingResult;
            update();
        }
        event->accept();
        return;
    case Qt::Key_Alt:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event); // Escape rejects and closes
    }
}

void CResultViewer::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Alt || event->key() == Qt::Key_Space) {
        event->accept();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void ShowResultViewer(const BMP_File& original, const BMP_File& result, QWidget* parent) {
    CResultViewer viewer(original, result, parent);
    viewer.setWindowState(viewer.windowState() | Qt::WindowFullScreen);
    viewer.exec();
}
