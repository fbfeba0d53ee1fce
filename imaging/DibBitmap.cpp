#include "imaging/DibBitmap.h"

#include <cstddef>

CDibBitmap::~CDibBitmap() { Release(); }

void CDibBitmap::Release() {
    if (!m_hBitmap) return;
    // No memory device context is ever made here, so there is nothing to
    // put back into one.
    m_pMemDC = nullptr;
    m_hOldBitmap = nullptr;
    DeleteObject(m_hBitmap);
    m_hBitmap = nullptr;
    m_pBits = nullptr;
}

int CDibBitmap::Create(int32_t width, int32_t height) {
    Release();
    m_strideWidth = ((width + 3) / 4) * 4;
    m_width = width;
    m_height = height;

    BITMAPINFO info;
    BITMAPINFOHEADER& h = info.bmiHeader;
    h.biSize = 40;
    h.biWidth = m_strideWidth;
    h.biHeight = m_height;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<uint32_t>(m_strideWidth) * static_cast<uint32_t>(m_height) * 3;
    h.biXPelsPerMeter = 3780;
    h.biYPelsPerMeter = 3780;
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    info.bmiColors[0] = RGBQUAD{};

    void* bits = nullptr;
    m_hBitmap = CreateDIBSection(&info, DIB_RGB_COLORS, &bits);
    m_pBits = m_hBitmap ? static_cast<uint8_t*>(bits) : nullptr;
    return 1;
}

void CDibBitmap::FillFromRgb(const uint8_t* data, int32_t width, int32_t height) {
    Create(width, height);
    if (!m_pBits || !data) return;
    const size_t stride = static_cast<size_t>(m_strideWidth) * 3;
    for (int32_t i = 0; i < height; ++i) {
        const uint8_t* src = data + static_cast<size_t>(i) * width * 3;
        uint8_t* dst = m_pBits + static_cast<size_t>(height - 1 - i) * stride;
        for (int32_t k = 0; k < width; ++k, src += 3, dst += 3) {
            dst[2] = src[0];
            dst[1] = src[1];
            dst[0] = src[2];
        }
    }
}

HBITMAP CDibBitmap::Detach() {
    HBITMAP bitmap = m_hBitmap;
    m_hBitmap = nullptr;
    m_pBits = nullptr;
    return bitmap;
}

HBITMAP CreateBitmapFromRgb(const uint8_t* data, int32_t width, int32_t height) {
    CDibBitmap dib;
    dib.FillFromRgb(data, width, height);
    return dib.Detach();
}

HBITMAP CreateBitmapFromRgb(const PreviewBuffer& preview, int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || preview.Size() < static_cast<size_t>(width) * height * 3) return nullptr;
    return CreateBitmapFromRgb(preview.Data(), width, height);
}
