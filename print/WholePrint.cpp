#include "print/WholePrint.h"

#include <algorithm>
#include <cmath>

#include "print/CropFrame.h"
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

WholePrintView FitWholePrint(const CRect& area, const WholePrint& whole, CSize photo, CSize preview) {
    WholePrintView view;
    if (photo.cx <= 0 || photo.cy <= 0 || whole.print.cx <= 0 || whole.print.cy <= 0) return view;
    const double scale = std::min({double(preview.cx) / photo.cx, double(preview.cy) / photo.cy,
                                   double(area.Width()) / whole.print.cx, double(area.Height()) / whole.print.cy});
    auto scaled = [scale](int32_t v, int32_t most) {
        return std::clamp(static_cast<int32_t>(std::lround(v * scale)), 1, std::max(1, most));
    };
    const int32_t printW = scaled(whole.print.cx, area.Width());
    const int32_t printH = scaled(whole.print.cy, area.Height());
    view.print = CentreRect(area, printW, printH);
    const int32_t photoW = scaled(photo.cx, printW);
    const int32_t photoH = scaled(photo.cy, printH);
    view.photo = CentreRect(view.print, photoW, photoH);
    return view;
}
