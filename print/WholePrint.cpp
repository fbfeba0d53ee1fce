#include "print/WholePrint.h"

#include <algorithm>

#include "print/ExportPlan.h"

WholePrint MakeWholePrint(CSize photo, float widthCm, float heightCm) {
    WholePrint whole;
    const int32_t w = photo.cx, h = photo.cy;
    // The ratio first and the product then, in single precision: the same
    // arithmetic as the export rectangle's.
    const int32_t tall = RoundToInt((heightCm / widthCm) * static_cast<float>(w));
    if (tall >= h)
        whole.print = CSize(w, tall);
    else
        whole.print = CSize(std::max(w, RoundToInt((widthCm / heightCm) * static_cast<float>(h))), h);
    const int32_t left = (whole.print.cx - w) / 2;
    const int32_t top = (whole.print.cy - h) / 2;
    whole.photo = CRect(left, top, left + w, top + h);
    return whole;
}

WhiteMargins MarginsAround(const WholePrint& whole) {
    WhiteMargins m;
    m.left = whole.photo.left;
    m.top = whole.photo.top;
    m.right = whole.print.cx - whole.photo.right;
    m.bottom = whole.print.cy - whole.photo.bottom;
    return m;
}
