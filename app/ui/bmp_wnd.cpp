#include "app/ui/bmp_wnd.h"

#include "app/ui/result_viewer.h"
#include "app/view_frames.h"
#include "imageops/image_on_top.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace {

QRect ToQRect(const IntRect& r) {
    return QRect(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
}

const QColor kFrameColors[5] = {QColor(255, 255, 255), QColor(255, 220, 0), QColor(0, 220, 255),
                                QColor(255, 80, 200), QColor(120, 255, 120)};

} // namespace

QRect CTracker::HandleRect(Hit h) const {
    const IntRect& r = *m_rect;
    const int cx = (r.left + r.right) / 2, cy = (r.top + r.bottom) / 2;
    QPoint c;
    switch (h) {
    case TopLeft:
        c = QPoint(r.left, r.top);
        break;
    case Top:
        c = QPoint(cx, r.top);
        break;
    case TopRight:
        c = QPoint(r.right, r.top);
        break;
    case Right:
        c = QPoint(r.right, cy);
        break;
    case BottomRight:
        c = QPoint(r.right, r.bottom);
        break;
    case Bottom:
        c = QPoint(cx, r.bottom);
        break;
    case BottomLeft:
        c = QPoint(r.left, r.bottom);
        break;
    case Left:
        c = QPoint(r.left, cy);
        break;
    default:
        return {};
    }
    return QRect(c.x() - kHandle / 2, c.y() - kHandle / 2, kHandle, kHandle);
}

CTracker::Hit CTracker::HitTest(QPoint p) const {
    if (!m_rect) return None;
    for (int h = TopLeft; h <= Left; ++h)
        if (HandleRect(Hit(h)).adjusted(-2, -2, 2, 2).contains(p)) return Hit(h);
    const IntRect& r = *m_rect;
    if (p.x() >= r.left && p.x() < r.right && p.y() >= r.top && p.y() < r.bottom) return Inside;
    return None;
}

bool CTracker::Begin(QPoint p) {
    m_hit = HitTest(p);
    if (m_hit == None) return false;
    m_start = p;
    m_startRect = *m_rect;
    return true;
}

bool CTracker::Track(QPoint p, QSize client) {
    if (m_hit == None || !m_rect) return false;
    const int dx = p.x() - m_start.x(), dy = p.y() - m_start.y();
    IntRect r = m_startRect;
    // The frame stays 5 pixels inside the client area (so at most the client
    // area less 10 pixels each way), so that its 5-pixel inflation, the
    // rectangle the pipeline uses, never reaches past the view: beyond it there
    // is no picture, only black.
    constexpr int kIn = kFrameInflation;
    const int loX = kIn, hiX = std::max(loX, client.width() - kIn);
    const int loY = kIn, hiY = std::max(loY, client.height() - kIn);
    constexpr int kMin = 4;
    if (m_hit == Inside) {
        const int w = std::min(r.Width(), hiX - loX), h = std::min(r.Height(), hiY - loY);
        r.left = std::clamp(r.left + dx, loX, hiX - w);
        r.top = std::clamp(r.top + dy, loY, hiY - h);
        r.right = r.left + w;
        r.bottom = r.top + h;
    } else {
        // A frame that has been placed outside (a file made elsewhere) comes
        // back inside as soon as one of its edges is dragged.
        const auto edge = [](int v, int lo, int hi) { return std::clamp(v, lo, std::max(lo, hi)); };
        if (m_hit == TopLeft || m_hit == Left || m_hit == BottomLeft)
            r.left = edge(r.left + dx, loX, std::min(r.right, hiX) - kMin);
        if (m_hit == TopRight || m_hit == Right || m_hit == BottomRight)
            r.right = edge(r.right + dx, std::max(r.left, loX) + kMin, hiX);
        if (m_hit == TopLeft || m_hit == Top || m_hit == TopRight)
            r.top = edge(r.top + dy, loY, std::min(r.bottom, hiY) - kMin);
        if (m_hit == BottomLeft || m_hit == Bottom || m_hit == BottomRight)
            r.bottom = edge(r.bottom + dy, std::max(r.top, loY) + kMin, hiY);
    }
    if (r == *m_rect) return false;
    *m_rect = r;
    return true;
}

void CTracker::Draw(QPainter& painter, const QColor& color) const {
    if (!m_rect) return;
    QPen pen(color, 1, Qt::DashLine);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(ToQRect(*m_rect));
    painter.setPen(Qt::black);
    painter.setBrush(color);
    for (int h = TopLeft; h <= Left; ++h) painter.drawRect(HandleRect(Hit(h)));
}

CBmpWnd::CBmpWnd(Role role, ProcessingSettings& settings, CBmpWndHost& host, QWidget* parent)
    : QWidget(parent), m_role(role), m_settings(settings), m_host(host) {
    m_trackers[0].Bind(&m_settings.m_cBmpWndOriginal.m_cRectTracker);
    for (int i = 0; i < 3; ++i)
        m_trackers[size_t(i) + 1].Bind(&m_settings.m_cBmpWndDestination[i].m_cLightTracker);
    setMinimumSize(160, 120);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(false);
}

namespace {
qint64 gDisplayBitmapLimit = std::numeric_limits<qint64>::max();
} // namespace

void CBmpWnd::SetDisplayBitmapLimit(qint64 bytes) {
    gDisplayBitmapLimit = bytes;
}

bool CBmpWnd::SetImage(const BMP_File& image) {
    QImage bitmap;
    if (!image.Empty()) {
        // The display bitmap has 4 bytes per pixel.
        if (qint64(image.Width()) * qint64(image.Height()) * 4 > gDisplayBitmapLimit) return false;
        bitmap = QImageFromBmp(image);
        if (bitmap.isNull()) return false;
    }
    m_bitmap = std::move(bitmap);
    update();
    return true;
}

void CBmpWnd::SetOverlay(const BMP_File* overlay, IntRect* frame, const float* transparency) {
    m_overlay = overlay;
    m_transparency = transparency;
    m_trackers[4].Bind(frame);
    update();
}

bool CBmpWnd::FrameShown(int frame) const {
    if (frame == 4) return m_role == Original && m_overlay && m_trackers[4].Rect();
    if (frame == 0) return m_role == Original && m_settings.m_cBmpWndOriginal.m_bCrop;
    return m_role == Destination && m_settings.m_cBmpWndDestination[frame - 1].m_bLight;
}

void CBmpWnd::FramesFromFractions() {
    // Each view recomputes only its own frames.
    if (m_role == Original) {
        auto& o = m_settings.m_cBmpWndOriginal;
        o.m_cRectTracker =
            FrameFromFractions(o.CroprcT, o.CroprcL, o.CroprcB, o.CroprcR, width(), height());
    } else {
        for (auto& d : m_settings.m_cBmpWndDestination)
            d.m_cLightTracker = FrameFromFractions(d.LightrcT, d.LightrcL, d.LightrcB, d.LightrcR,
                                                   width(), height());
    }
}

void CBmpWnd::FractionsFromFrames() {
    if (m_role == Original) {
        auto& o = m_settings.m_cBmpWndOriginal;
        FractionsFromFrame(o.m_cRectTracker, width(), height(), o.CroprcT, o.CroprcL, o.CroprcB,
                           o.CroprcR);
    } else {
        for (auto& d : m_settings.m_cBmpWndDestination)
            FractionsFromFrame(d.m_cLightTracker, width(), height(), d.LightrcT, d.LightrcL,
                               d.LightrcB, d.LightrcR);
    }
}

void CBmpWnd::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Dark));
    if (!m_bitmap.isNull()) {
        // Stretched to the whole view; the aspect ratio is not kept, so the
        // frames map linearly onto the picture.
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (FrameShown(4)) {
            // The overlay is blended at view scale exactly as "Put Image" will
            // blend it at full size.
            QImage shown = m_bitmap.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .convertToFormat(QImage::Format_RGB32);
            BlendScaledIntoBGRA(shown.bits(), shown.width(), shown.height(),
                                size_t(shown.bytesPerLine()), *m_overlay, *m_trackers[4].Rect(),
                                m_transparency ? *m_transparency : 100.0f);
            p.drawImage(0, 0, shown);
        } else {
            p.drawImage(rect(), m_bitmap);
        }
    }
    for (int f = 0; f < 5; ++f)
        if (FrameShown(f)) m_trackers[size_t(f)].Draw(p, kFrameColors[f]);
}

CColor24 CBmpWnd::ColorAt(QPoint p) const {
    if (m_bitmap.isNull() || width() <= 0 || height() <= 0) return CColor24();
    const int x = std::clamp(p.x() * m_bitmap.width() / width(), 0, m_bitmap.width() - 1);
    const int y = std::clamp(p.y() * m_bitmap.height() / height(), 0, m_bitmap.height() - 1);
    const QRgb c = m_bitmap.pixel(x, y);
    return CColor24(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
}

void CBmpWnd::mousePressEvent(QMouseEvent* e) {
    const QPoint p = e->position().toPoint();
    if (e->button() == Qt::LeftButton) {
        // The placement frame lies on top of the others, so it is hit first.
        for (int f : {4, 0, 1, 2, 3})
            if (m_dragging < 0 && FrameShown(f) && m_trackers[size_t(f)].Begin(p)) m_dragging = f;
        if (m_host.ReplaceColorMode()) m_host.OnColorPicked(this, true, ColorAt(p));
    } else if (e->button() == Qt::RightButton && m_host.ReplaceColorMode()) {
        m_host.OnColorPicked(this, false, ColorAt(p));
    }
}

void CBmpWnd::mouseMoveEvent(QMouseEvent* e) {
    if (m_dragging < 0) return;
    if (m_trackers[size_t(m_dragging)].Track(e->position().toPoint(), size())) {
        // Moving the placement frame changes only this view's drawing.
        if (m_dragging != 4) {
            FractionsFromFrames();
            m_host.OnFrameChanged(this);
        }
        update();
    }
}

void CBmpWnd::mouseReleaseEvent(QMouseEvent*) {
    if (m_dragging < 0) return;
    m_trackers[size_t(m_dragging)].End();
    m_dragging = -1;
    FractionsFromFrames();
}

void CBmpWnd::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) m_host.OnViewDoubleClicked(this);
}

void CBmpWnd::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    // Frames keep their relative place; an edge on the view's limit stays on
    // it, so a frame nobody narrowed still covers the whole view.
    const QSize old = e->oldSize();
    auto& o = m_settings.m_cBmpWndOriginal;
    std::array<IntRect, 4> before{o.m_cRectTracker};
    for (int i = 0; i < 3; ++i)
        before[size_t(i) + 1] = m_settings.m_cBmpWndDestination[i].m_cLightTracker;
    FramesFromFractions();
    if (!old.isValid() || old.width() <= 0 || old.height() <= 0) return;
    auto keep = [&](IntRect& frame, const IntRect& was) {
        frame = FrameAfterResize(was, frame, old.width(), old.height(), width(), height());
    };
    if (m_role == Original) {
        keep(o.m_cRectTracker, before[0]);
    } else {
        for (int i = 0; i < 3; ++i)
            keep(m_settings.m_cBmpWndDestination[i].m_cLightTracker, before[size_t(i) + 1]);
    }
    FractionsFromFrames();
    // The rectangles the pipeline uses are in view pixels: they follow.
    m_host.OnFrameChanged(this);
}
