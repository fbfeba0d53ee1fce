#pragma once
// The tree control's operations as the program uses them, without Qt: the
// browser's logic is written against this, the dialog's tree (CTreeCtrl) and
// the tests' in-memory tree implement it.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceFs.h"
#include "platform/WinTypes.h"

struct TreeItemTag;
using HTREEITEM = TreeItemTag*;  // null: no item (as a parent: the top level)

using PFNTVCOMPARE = int (*)(intptr_t lParam1, intptr_t lParam2, intptr_t lParamSort);

// Tree view styles, as the handheld's tree control had them.
constexpr uint32_t TVS_HASBUTTONS = 0x0001;
constexpr uint32_t TVS_HASLINES = 0x0002;
constexpr uint32_t TVS_LINESATROOT = 0x0004;

class TreeControl {
public:
    virtual ~TreeControl() = default;
    // Inserts an item as the last child of `parent` (null: last top-level item).
    virtual HTREEITEM InsertItem(const std::wstring& text, int image, int selectedImage,
                                 HTREEITEM parent) = 0;
    virtual BOOL SetItemData(HTREEITEM item, uint32_t data) = 0;
    virtual uint32_t GetItemData(HTREEITEM item) const = 0;
    virtual std::wstring GetItemText(HTREEITEM item) const = 0;
    virtual HTREEITEM GetParentItem(HTREEITEM item) const = 0;
    virtual HTREEITEM GetSelectedItem() const = 0;
    virtual BOOL ItemHasChildren(HTREEITEM item) const = 0;
    // The direct children of an item, in the tree's order.
    virtual int GetChildCount(HTREEITEM item) const = 0;
    virtual HTREEITEM GetChildItem(HTREEITEM item, int index) const = 0;
    // Orders the direct children alphabetically by text.
    virtual BOOL SortChildren(HTREEITEM parent) = 0;
    // Orders the direct children by `compare` over their item data; stable.
    virtual BOOL SortChildrenCB(HTREEITEM parent, PFNTVCOMPARE compare, intptr_t param) = 0;
    virtual BOOL Expand(HTREEITEM item) = 0;
};

// Sort helpers for tree controls, so every tree orders alike. `text(x)` and
// `data(x)` give an item's text and item data.
template <class T, class TextOf>
void SortItemsByText(std::vector<T>& items, TextOf text) {
    std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) {
        return devfs::CompareNames(text(a), text(b)) < 0;
    });
}

template <class T, class DataOf>
void SortItemsByData(std::vector<T>& items, PFNTVCOMPARE compare, intptr_t param, DataOf data) {
    std::stable_sort(items.begin(), items.end(), [&](const T& a, const T& b) {
        return compare(static_cast<intptr_t>(data(a)), static_cast<intptr_t>(data(b)), param) < 0;
    });
}
