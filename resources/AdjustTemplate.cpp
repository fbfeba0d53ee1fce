#include "resources/AdjustTemplate.h"

namespace {
DialogTemplate MakeAdjustTemplate() {
    DialogTemplate t;
    t.id = IDD_ADJUST;
    t.caption = L"Image adjustment";
    t.cx = 94;
    t.cy = 110;
    t.fontName = L"System";
    t.fontPoints = 8;
    // Tab order is template order.
    t.controls = {
        {IDOK, ControlKind::DefPushButton, L"Apply", 0, 51, 96, 40, 11, WS_VISIBLE_ | WS_TABSTOP_},
        {IDC_CURVE_FRAME, ControlKind::GroupBox, L"Curve here", 0, 3, 18, 88, 75, WS_VISIBLE_},
        // The height includes the opened list.
        {IDC_PRESET, ControlKind::ComboBox, L"", 0, 3, 3, 88, 74, WS_VISIBLE_ | WS_VSCROLL_ | WS_TABSTOP_},
        {IDC_PREVIEW, ControlKind::CheckBox, L"Preview", 0, 3, 97, 41, 10, WS_VISIBLE_ | WS_TABSTOP_},
    };
    return t;
}
}  // namespace

const DialogTemplate& AdjustTemplate() {
    static const DialogTemplate tmpl = MakeAdjustTemplate();
    return tmpl;
}
