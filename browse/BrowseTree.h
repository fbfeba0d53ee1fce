#pragma once
// The storage browser's tree logic: what goes into the tree, in which order,
// which path an item stands for, and what OK accepts. Written against the tree
// control's operations only, so the dialog's tree and a test's run the same code.
#include <cstdint>
#include <string>

#include "platform/TreeControl.h"

class CWnd;

// What the user must pick.
constexpr int BROWSE_FOLDER = 0;
constexpr int BROWSE_FILE = 1;

// Item data: the kind of a tree item. The root counts as a folder.
constexpr uint32_t ITEM_FOLDER = 1;
constexpr uint32_t ITEM_JPEG = 3;
// A print order: an order file, or a card's print marks. Picked to open, it
// stands for its photographs.
constexpr uint32_t ITEM_ORDER = 4;

// Pictures of bitmap 136.
constexpr int IMAGE_DEVICE = 0;
constexpr int IMAGE_FOLDER = 1;
constexpr int IMAGE_FOLDER_OPEN = 2;
constexpr int IMAGE_FILE = 3;

// What the browser makes of one folder entry: ITEM_FOLDER, ITEM_JPEG,
// ITEM_ORDER, or 0 for an entry it leaves out. `shown` gets the item's text.
uint32_t ClassifyEntry(const devfs::FindData& entry, std::wstring& shown);

// The JPEG files of a folder (path ends with a backslash) by the names and in
// the order the browser lists them. Empty when the folder cannot be read.
std::vector<std::wstring> ListFolderPhotographs(const std::wstring& folderPath);

// Folders before files: -1, 0 or +1 over item data.
int CompareItemKind(intptr_t lParam1, intptr_t lParam2, intptr_t lParamSort);

// Reads one folder (path ends with a backslash) into the tree under `parent`:
// folders as they are named, files whose lower-cased name contains ".jpg"
// or ends in a HEIF extension lower-cased; hidden and system entries left out. A folder that cannot be
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

// Opens the tree down to a device path (a folder ending with a backslash, or
// a file), reading each folder on the way as a tap on it would, and returns
// the path's item, or null when some part of it is not in the tree (the
// folders found are still read and expanded). Names match whatever their case.
HTREEITEM RevealPath(TreeControl& tree, HTREEITEM root, const std::wstring& path, std::wstring& strFolder);

// The OK command's checks. On a valid selection writes its path into
// `strPath` and returns TRUE; otherwise shows why (owned by `owner`) and
// returns FALSE, leaving `strPath` alone.
BOOL AcceptSelection(const TreeControl& tree, int nMode, std::wstring& strPath, CWnd* owner);
