#include "imaging/DibImage.h"

#include <algorithm>

QImage DibToQImage(HBITMAP bitmap, int width, int height) {
    if (!bitmap || !bitmap->bits || bitmap->header.biBitCount != 24) return QImage();
    const BITMAPINFOHEADER& h = bitmap->header;
    const int rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    width = std::min(width, static_cast<int>(h.biWidth));
    height = std::min(height, rows);
    if (width <= 0 || height <= 0) return QImage();

    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return image;
    for (int y = 0; y < height; ++y) {
        const int memRow = h.biHeight > 0 ? rows - 1 - y : y;
        const uint8_t* src = bitmap->bits + static_cast<size_t>(memRow) * bitmap->stride;
        auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x, src += 3) dst[x] = qRgb(src[2], src[1], src[0]);
    }
    return image;
}
