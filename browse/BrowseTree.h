#pragma once
// The storage browser's tree logic: what goes into the tree, in which order,
// which path an item stands for, and what OK accepts. Written against the tree
// control's operations only, so the dialog's tree and a test's run the same code.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/DeviceFs.h"
#include "platform/WinTypes.h"

class CWnd;

// What the user must pick.
constexpr int BROWSE_FOLDER = 0;
constexpr int BROWSE_FILE = 1;

// Item data: the kind of a tree item. The root counts as a folder.
constexpr uint32_t ITEM_FOLDER = 1;
constexpr uint32_t ITEM_JPEG = 3;

// Pictures of bitmap 136.
constexpr int IMAGE_DEVICE = 0;
constexpr int IMAGE_FOLDER = 1;
constexpr int IMAGE_FOLDER_OPEN = 2;
constexpr int IMAGE_FILE = 3;

struct TreeItemTag;
using HTREEITEM = TreeItemTag*;  // null: no item (as a parent: the top level)

using PFNTVCOMPARE = int (*)(intptr_t lParam1, intptr_t lParam2, intptr_t lParamSort);

// The tree control's operations the browser uses.
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

// Folders before files: -1, 0 or +1 over item data.
int CompareItemKind(intptr_t lParam1, intptr_t lParam2, intptr_t lParamSort);

// Reads one folder (path ends with a backslash) into the tree under `parent`:
// folders as they are named, files whose lower-cased name contains ".jpg"
// lower-cased; hidden and system entries left out. A folder that cannot be
// read adds nothing.
void FillFolder(TreeControl& tree, const std::wstring& folderPath, HTREEITEM parent);

// Folders first, then files, each alphabetical.
void SortFolderItems(TreeControl& tree, HTREEITEM parent);

// Puts the device path of `item` in front of `path`.
void GetItemPath(const TreeControl& tree, HTREEITEM item, std::wstring& path);

// Builds the root item and reads the device root into it; sets `strFolder`.
HTREEITEM InitBrowseTree(TreeControl& tree, std::wstring& strFolder);

// Reads `item`'s folder the first time it is selected (and again while it has
// no children).
void ReadOnSelection(TreeControl& tree, HTREEITEM item, std::wstring& strFolder);

// The OK command's checks. On a valid selection writes its path into
// `strPath` and returns TRUE; otherwise shows why (owned by `owner`) and
// returns FALSE, leaving `strPath` alone.
BOOL AcceptSelection(const TreeControl& tree, int nMode, std::wstring& strPath, CWnd* owner);
