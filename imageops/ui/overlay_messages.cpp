// Messages of the overlay dialogs and the picture previews they share.

#include "imageops/ui/overlay_dialogs.h"
#include "imageops/ui/overlay_picture.h"

#include <QImage>
#include <QMessageBox>
#include <QPixmap>

namespace {

OverlayMessageSink& Sink() {
    static OverlayMessageSink sink;
    return sink;
}

} // namespace

void SetOverlayMessageSink(OverlayMessageSink sink) {
    Sink() = std::move(sink);
}

void ShowOverlayMessage(QWidget* parent, const QString& caption, const QString& text) {
    if (Sink()) {
        Sink()(parent, caption, text);
        return;
    }
    QMessageBox::warning(parent, caption, text);
}

QPixmap OverlayPicturePixmap(const BMP_File& picture, int side) {
    if (picture.Empty()) return {};
    // The pixels are red, green, blue rows without gaps: exactly RGB888 with a
    // row length of three bytes per pixel.
    const QImage view(picture.Bytes(), picture.Width(), picture.Height(), picture.Width() * 3,
                      QImage::Format_RGB888);
    return QPixmap::fromImage(
        view.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
