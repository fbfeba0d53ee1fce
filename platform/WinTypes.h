#pragma once
// The handful of value types the handheld platform gave the program: 32-bit
// booleans, points, sizes and rectangles with right and bottom exclusive.
#include <cstdint>

using BOOL = int32_t;
// libjpeg's headers define these the same way; guarding keeps either include
// order working.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct CPoint {
    int32_t x = 0;
    int32_t y = 0;
    CPoint() = default;
    CPoint(int32_t x_, int32_t y_) : x(x_), y(y_) {}
    bool operator==(const CPoint&) const = default;
};

struct CSize {
    int32_t cx = 0;
    int32_t cy = 0;
    CSize() = default;
    CSize(int32_t w, int32_t h) : cx(w), cy(h) {}
    bool operator==(const CSize&) const = default;
};

struct CRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    CRect() = default;
    CRect(int32_t l, int32_t t, int32_t r, int32_t b) : left(l), top(t), right(r), bottom(b) {}
    CRect(CPoint topLeft, CPoint bottomRight)
        : left(topLeft.x), top(topLeft.y), right(bottomRight.x), bottom(bottomRight.y) {}

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    CPoint TopLeft() const { return {left, top}; }
    CPoint BottomRight() const { return {right, bottom}; }
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool PtInRect(CPoint p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    void InflateRect(int32_t dx, int32_t dy) { left -= dx; top -= dy; right += dx; bottom += dy; }
    void OffsetRect(int32_t dx, int32_t dy) { left += dx; right += dx; top += dy; bottom += dy; }
    void NormalizeRect() {
        if (left > right) { int32_t t = left; left = right; right = t; }
        if (top > bottom) { int32_t t = top; top = bottom; bottom = t; }
    }
    bool operator==(const CRect&) const = default;
};
