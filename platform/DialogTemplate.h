#pragma once
// Dialog templates as data: what a dialog resource held on the handheld.
// Positions and sizes are dialog units; one builder turns them into widgets.
#include <cstdint>
#include <string>
#include <vector>

enum class ControlKind {
    StaticText,   // left-aligned label
    Picture,      // static showing a bitmap resource; with SS_NOTIFY it reports taps
    CheckBox,     // automatic check box
    ComboBox,     // drop-down list without edit field; cy includes the open list
    PushButton,
    DefPushButton,
    GroupBox,
    TreeView,
    Edit,         // multi-line read-only text
};

// Style bits the builder honours.
constexpr uint32_t WS_VISIBLE_ = 0x10000000;
constexpr uint32_t WS_BORDER_ = 0x00800000;
constexpr uint32_t WS_TABSTOP_ = 0x00010000;
constexpr uint32_t WS_GROUP_ = 0x00020000;
constexpr uint32_t WS_VSCROLL_ = 0x00200000;
constexpr uint32_t SS_NOTIFY_ = 0x00000100;

struct ControlTemplate {
    int id = -1;
    ControlKind kind = ControlKind::StaticText;
    std::wstring text;     // label, or empty
    int bitmapId = 0;      // Picture: the bitmap resource shown
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t style = WS_VISIBLE_;
};

struct DialogTemplate {
    int id = 0;
    std::wstring caption;
    int cx = 0, cy = 0;           // dialog units
    std::wstring fontName = L"System";
    int fontPoints = 8;
    bool okButtonInCaption = false;
    std::vector<ControlTemplate> controls;
};

// Notification codes the dialogs route on, as the handheld framework named them.
constexpr int BN_CLICKED = 0;
constexpr int STN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int TVN_SELCHANGED = -402;
constexpr int TVN_ITEMEXPANDING = -405;
constexpr int NM_DBLCLK = -3;  // a double-click (or double tap) on a tree item

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
