#pragma once
// A mask or border picture shown small in its dialog.

#include "app/bmp_file.h"

#include <QPixmap>

// The picture scaled to fit a side x side square, or a null pixmap when empty.
QPixmap OverlayPicturePixmap(const BMP_File& picture, int side);
