#pragma once
// Device-independent bitmaps as the handheld's graphics interface had them:
// a header, pixel memory owned by the handle, deleted with DeleteObject.
#include <cstdint>

#include "platform/WinTypes.h"

struct BITMAPINFOHEADER {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t DIB_RGB_COLORS = 0;

// The object behind a bitmap handle. Rows are bottom-up when biHeight > 0,
// each padded to a multiple of 4 bytes.
struct DibObject {
    BITMAPINFOHEADER header;
    uint8_t* bits = nullptr;
    int32_t stride = 0;  // bytes per row
};
using HBITMAP = DibObject*;

// Creates a 24-bit (or 32-bit) bottom-up or top-down DIB; returns null and
// leaves *ppBits null when the header is unusable or memory is short.
HBITMAP CreateDIBSection(const BITMAPINFO* info, uint32_t usage, void** ppBits);
BOOL DeleteObject(HBITMAP bitmap);
// Reads pixel (x, y), y = 0 the top row, as 0x00RRGGBB; for tests and drawing.
uint32_t GetDibPixel(HBITMAP bitmap, int32_t x, int32_t y);
