#include "resources/MainTemplate.h"

const DialogTemplate& MainTemplate() {
    static const DialogTemplate t = [] {
        constexpr uint32_t tap = WS_VISIBLE_ | WS_BORDER_ | SS_NOTIFY_;
        DialogTemplate d;
        d.id = IDD_MAIN;
        d.caption = L"Trimora 1.1";
        d.cx = 141;
        d.cy = 186;
        d.okButtonInCaption = true;
        d.controls = {
            {IDC_FORMAT, ControlKind::ComboBox, L"", 0, 45, 2, 73, 138, WS_VISIBLE_ | WS_VSCROLL_ | WS_TABSTOP_},
            {IDC_CORRECT_LAB, ControlKind::CheckBox, L"Correct lab fieds", 0, 2, 18, 67, 9, WS_VISIBLE_ | WS_TABSTOP_},
            {IDC_STATUS, ControlKind::StaticText, L"Static", 0, 2, 173, 115, 9, WS_VISIBLE_ | WS_GROUP_},
            {IDC_OPEN, ControlKind::Picture, L"", IDB_OPEN, 2, 2, 15, 12, tap},
            {IDCANCEL, ControlKind::Picture, L"", IDB_CROSS, 124, 2, 15, 12, tap},
            {-1, ControlKind::StaticText, L"Format:", 0, 19, 3, 26, 8, WS_VISIBLE_ | WS_GROUP_},
            {IDC_ROTATE, ControlKind::Picture, L"", IDB_TURN, 88, 16, 15, 12, tap},
            {IDC_ADJUST, ControlKind::Picture, L"", IDB_SUN, 104, 16, 15, 12, tap},
            {IDC_GO, ControlKind::Picture, L"", IDB_GO, 120, 16, 19, 12, tap},
            // The status line's row is laid out at run time, by the window's width.
            {IDC_RESOLUTION, ControlKind::StaticText, L"", 0, 2, 164, 40, 9, WS_VISIBLE_ | WS_GROUP_},
            {IDC_CURVE, ControlKind::StaticText, L"", 0, 44, 164, 40, 9, WS_VISIBLE_ | WS_GROUP_},
            {IDC_NOTICE, ControlKind::StaticText, L"", 0, 44, 164, 70, 9, WS_VISIBLE_ | WS_GROUP_},
            {IDC_GO_ALL, ControlKind::Picture, L"", IDB_GO_ALL, 71, 16, 15, 12, tap},
            {IDC_PREVIOUS, ControlKind::Picture, L"", IDB_PREVIOUS, 120, 164, 9, 9, tap},
            {IDC_NEXT, ControlKind::Picture, L"", IDB_NEXT, 130, 164, 9, 9, tap},
        };
        return d;
    }();
    return t;
}
