#pragma once
// The image views: the original view (left, with the crop frame) and the
// destination view (right, with the three light frames). A view shows a bitmap
// stretched to its whole area and lets the user drag and resize its frames; the
// frames live in the settings record (in view pixels and as fractions of the
// view) so that configurations carry them.

#include "app/bmp_file.h"
#include "app/settings.h"

#include <QImage>
#include <QWidget>

#include <array>

class CBmpWnd;

// What a view reports to the main window.
class CBmpWndHost {
public:
    virtual ~CBmpWndHost() = default;
    // A frame moved or changed size (called on every step of a drag).
    virtual void OnFrameChanged(CBmpWnd* view) = 0;
    virtual void OnViewDoubleClicked(CBmpWnd* view) = 0;
    // Replace Color mode: a left click picks the source colour, a right click
    // the target colour. Returns whether the mode is on.
    virtual bool ReplaceColorMode() const = 0;
    virtual void OnColorPicked(CBmpWnd* view, bool source, CColor24 color) = 0;
};

// A rectangle the user drags by its inside and resizes by its eight handles.
class CTracker {
public:
    enum Hit {
        None = -1,
        TopLeft,
        Top,
        TopRight,
        Right,
        BottomRight,
        Bottom,
        BottomLeft,
        Left,
        Inside
    };

    explicit CTracker(IntRect* rect = nullptr) : m_rect(rect) {}
    void Bind(IntRect* rect) { m_rect = rect; }
    IntRect* Rect() const { return m_rect; }

    Hit HitTest(QPoint p) const;
    // Starts a drag at p; false when p misses the frame.
    bool Begin(QPoint p);
    // Moves the drag to p within a client area of the given size. Returns
    // whether the rectangle changed.
    bool Track(QPoint p, QSize client);
    void End() { m_hit = None; }
    bool Tracking() const { return m_hit != None; }
    void Draw(class QPainter& painter, const QColor& color) const;

    static constexpr int kHandle = 7;

private:
    QRect HandleRect(Hit h) const;
    IntRect* m_rect;
    Hit m_hit = None;
    QPoint m_start;
    IntRect m_startRect;
};

class CBmpWnd : public QWidget {
    Q_OBJECT
public:
    enum Role { Original, Destination };

    CBmpWnd(Role role, ProcessingSettings& settings, CBmpWndHost& host, QWidget* parent = nullptr);

    Role ViewRole() const { return m_role; }
    // Shows an image (copied into a display bitmap); an empty image clears it.
    // Returns false, and keeps showing what it showed, when the display
    // bitmap cannot be made.
    bool SetImage(const BMP_File& image);
    // The largest display bitmap, in bytes, that a view makes; a larger one
    // fails as an allocation does when memory runs out. Unlimited unless set
    // (tests set it to see that failure without filling the memory).
    static void SetDisplayBitmapLimit(qint64 bytes);
    const QImage& Bitmap() const { return m_bitmap; }

    // Frames from the fractions in the settings and the current size (after a
    // configuration load or a resize).
    void FramesFromFractions();
    // Fractions from the current frames.
    void FractionsFromFrames();

    // The picture laid on top of the original view while the user places it:
    // drawn blended inside the placement frame. nullptr hides it.
    void SetOverlay(const BMP_File* overlay, IntRect* frame, const float* transparency);

    // Which frames this view shows.
    // 0 = crop (original view), 1..3 = lights, 4 = placement frame (original view)
    bool FrameShown(int frame) const;
    // Test hooks: simulate what a mouse drag does.
    CTracker& Tracker(int frame) { return m_trackers[size_t(frame)]; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    CColor24 ColorAt(QPoint p) const;

    Role m_role;
    ProcessingSettings& m_settings;
    CBmpWndHost& m_host;
    QImage m_bitmap;
    std::array<CTracker, 5> m_trackers; // crop, light 1, light 2, light 3, placement
    const BMP_File* m_overlay = nullptr;
    const float* m_transparency = nullptr;
    int m_dragging = -1;
};
