#pragma once
// Bitmap and icon resources by number, from the program's Qt resources.
#include <QIcon>
#include <QPixmap>

// Loads bitmap resource id (":/bitmaps/bmp<id>.png"); a null pixmap when the
// program has no such picture.
QPixmap LoadBitmapResource(int id);
// Icon resource id (":/bitmaps/icon<id>.png").
QIcon LoadIconResource(int id);
