#include "resources/BrowseTemplate.h"

namespace {
DialogTemplate MakeBrowseTemplate() {
    DialogTemplate t;
    t.id = IDD_BROWSE;
    t.caption = L"Dialog";  // the dialog always replaces it with its title
    t.cx = 129;
    t.cy = 126;
    t.fontName = L"System";
    t.fontPoints = 8;
    // Lines and buttons, but none at the root: the single "Pocket PC" item
    // stands alone at the left edge.
    t.controls = {
        {IDC_TREE, ControlKind::TreeView, L"Tree1", 0, 4, 4, 121, 100,
         WS_VISIBLE_ | WS_BORDER_ | WS_TABSTOP_ | TVS_HASLINES | TVS_HASBUTTONS},
        {IDOK, ControlKind::DefPushButton, L"OK", 0, 49, 108, 38, 14, WS_VISIBLE_ | WS_TABSTOP_},
        {IDCANCEL, ControlKind::PushButton, L"Cancel", 0, 92, 108, 33, 14, WS_VISIBLE_ | WS_TABSTOP_},
    };
    return t;
}
}  // namespace

const DialogTemplate& BrowseTemplate() {
    static const DialogTemplate tmpl = MakeBrowseTemplate();
    return tmpl;
}
