#pragma once
// The full-screen result viewer: the original and the full-size result on one
// screen-sized window, switched with the space bar, so the user can compare them
// at the largest size the screen allows.

#include "app/bmp_file.h"

#include <QDialog>
#include <QImage>
#include <QRect>

// An image as Qt draws it: 32-bit, alpha 255, the same colours.
QImage QImageFromBmp(const BMP_File& image);

class CResultViewer : public QDialog {
    Q_OBJECT
public:
    // Copies both images; the caller's images may change while the viewer is open.
    CResultViewer(const BMP_File& original, const BMP_File& result, QWidget* parent = nullptr);

    // False while the original is shown (the state the viewer opens in).
    bool ShowingResult() const { return m_showingResult; }
    // Where the shown image is drawn: fitted to the window, ratio kept, centred.
    QRect ImageRect() const;

    static constexpr QRgb kBackground = 0xFFEEEEEE;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    const QImage& Shown() const { return m_showingResult ? m_result : m_original; }

    QImage m_original;
    QImage m_result;
    bool m_showingResult = false;
};

// Shows the viewer modally over the whole screen of `parent` (or the primary
// screen) and returns when the user closes it with Escape.
void ShowResultViewer(const BMP_File& original, const BMP_File& result, QWidget* parent);
