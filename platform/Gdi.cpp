#include "platform/Gdi.h"

#include <cstdlib>
#include <cstring>
#include <new>

HBITMAP CreateDIBSection(const BITMAPINFO* info, uint32_t /*usage*/, void** ppBits) {
    if (ppBits) *ppBits = nullptr;
    if (!info) return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biWidth <= 0 || h.biHeight == 0 || (h.biBitCount != 24 && h.biBitCount != 32) ||
        h.biCompression != BI_RGB)
        return nullptr;
    int64_t rows = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
    int64_t stride = ((int64_t(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    int64_t bytes = stride * rows;
    if (bytes > (int64_t(1) << 31)) return nullptr;
    auto* bits = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(bytes), 1));
    if (!bits) return nullptr;
    auto* dib = new (std::nothrow) DibObject{h, bits, static_cast<int32_t>(stride)};
    if (!dib) {
        std::free(bits);
        return nullptr;
    }
    if (ppBits) *ppBits = bits;
    return dib;
}

BOOL DeleteObject(HBITMAP bitmap) {
    if (!bitmap) return FALSE;
    std::free(bitmap->bits);
    delete bitmap;
    return TRUE;
}

uint32_t GetDibPixel(HBITMAP bitmap, int32_t x, int32_t y) {
    if (!bitmap) return 0;
    const BITMAPINFOHEADER& h = bitmap->header;
    int32_t rows = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    if (x < 0 || x >= h.biWidth || y < 0 || y >= rows) return 0;
    int32_t memRow = h.biHeight > 0 ? rows - 1 - y : y;
    const uint8_t* p = bitmap->bits + int64_t(memRow) * bitmap->stride + int64_t(x) * (h.biBitCount / 8);
    return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}
