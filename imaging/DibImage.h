#pragma once
// Drawing a preview bitmap with Qt: a copy of its picture (the padding
// columns left out) that QPainter::drawImage puts on screen 1:1.
#include <QImage>

#include "platform/Gdi.h"

// width x height: the picture inside the bitmap (CDibBitmap's m_width and
// m_height), at most the bitmap's own size. A null image for a null bitmap.
QImage DibToQImage(HBITMAP bitmap, int width, int height);
