#pragma once
// Preview pixels (R, G, B, top row first) as a drawable 24-bit
// device-independent bitmap (B, G, R, bottom row first, rows padded).
#include <cstdint>

#include "imaging/PreviewBuffer.h"
#include "platform/Gdi.h"

class CDibBitmap {
public:
    CDibBitmap() = default;
    virtual ~CDibBitmap();
    CDibBitmap(const CDibBitmap&) = delete;
    CDibBitmap& operator=(const CDibBitmap&) = delete;

    // Always 1. Without pixel memory (the platform refused the bitmap)
    // m_pBits stays null and FillFromRgb writes nothing.
    int Create(int32_t width, int32_t height);
    void FillFromRgb(const uint8_t* data, int32_t width, int32_t height);
    // Hands the bitmap to the caller, who deletes it with DeleteObject.
    HBITMAP Detach();

    int32_t m_width = 0;
    int32_t m_height = 0;
    int32_t m_strideWidth = 0;  // pixels per memory row: width rounded up to 4
    uint8_t* m_pBits = nullptr;
    HBITMAP m_hBitmap = nullptr;
    // A memory device context with the bitmap selected, for a drawing path
    // that wants one; the conversion never makes one, so they stay null.
    void* m_pMemDC = nullptr;
    HBITMAP m_hOldBitmap = nullptr;

private:
    void Release();
};

// A new bitmap of width x height from PreviewBuffer-layout data; the caller
// owns it (DeleteObject). Null when the platform could not make one.
HBITMAP CreateBitmapFromRgb(const uint8_t* data, int32_t width, int32_t height);

// The same from a PreviewBuffer; null when it holds fewer than
// width x height pixels.
HBITMAP CreateBitmapFromRgb(const PreviewBuffer& preview, int32_t width, int32_t height);
