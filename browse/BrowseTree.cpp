#include "browse/BrowseTree.h"

#include "print/Dpof.h"
#include "print/OrderFile.h"
#include "imaging/PhotoNames.h"
#include "platform/MessageBox.h"

namespace {
const wchar_t ROOT_TEXT[] = L"Pocket PC";
constexpr size_t ROOT_TEXT_LEN = 9;

void ShowWarning(const wchar_t* text, CWnd* owner) {
    ShowMessageBox(text, L"Warning", MessageIcon::Information, owner);
}
}  // namespace

int CompareItemKind(intptr_t lParam1, intptr_t lParam2, intptr_t) {
    if (lParam1 == lParam2) return 0;
    return lParam1 < lParam2 ? -1 : 1;
}

uint32_t ClassifyEntry(const devfs::FindData& entry, std::wstring& shown) {
    if (entry.name == L"." || entry.name == L"..") return 0;
    if (entry.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) return 0;
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        shown = entry.name;
        return ITEM_FOLDER;
    }
    shown = devfs::LowerName(entry.name);
    if (IsOrderFilePath(shown) || IsPrintMarksPath(shown)) return ITEM_ORDER;
    // Anywhere in the name, not only as its extension: photo.jpg.txt is
    // shown. Phone photographs by their extension.
    return shown.find(L".jpg") == std::wstring::npos && !HasHeifExtension(shown) ? 0 : ITEM_JPEG;
}

void FillFolder(TreeControl& tree, const std::wstring& folderPath, HTREEITEM parent) {
    std::vector<devfs::FindData> entries;
    if (!devfs::FindFiles(folderPath + L"*.*", entries)) return;

    std::wstring name;
    for (const devfs::FindData& entry : entries) {
        const uint32_t kind = ClassifyEntry(entry, name);
        if (kind == ITEM_FOLDER) {
            HTREEITEM item = tree.InsertItem(name, IMAGE_FOLDER, IMAGE_FOLDER_OPEN, parent);
            tree.SetItemData(item, ITEM_FOLDER);
        } else if (kind == ITEM_JPEG || kind == ITEM_ORDER) {
            HTREEITEM item = tree.InsertItem(name, IMAGE_FILE, IMAGE_FILE, parent);
            tree.SetItemData(item, kind);
        }
    }
}

std::vector<std::wstring> ListFolderPhotographs(const std::wstring& folderPath) {
    std::vector<std::wstring> names;
    std::vector<devfs::FindData> entries;
    if (!devfs::FindFiles(folderPath + L"*.*", entries)) return names;
    std::wstring name;
    for (const devfs::FindData& entry : entries)
        if (ClassifyEntry(entry, name) == ITEM_JPEG) names.push_back(name);
    // The tree's alphabetical pass; the kinds pass changes nothing among files.
    SortItemsByText(names, [](const std::wstring& n) { return n; });
    return names;
}

void SortFolderItems(TreeControl& tree, HTREEITEM parent) {
    tree.SortChildren(parent);
    // Stable, so each kind keeps the alphabetical order of the first pass.
    tree.SortChildrenCB(parent, CompareItemKind, 0);
}

void GetItemPath(const TreeControl& tree, HTREEITEM item, std::wstring& path) {
    for (HTREEITEM it = item; it; it = tree.GetParentItem(it)) {
        path.insert(0, 1, L'\\');
        path.insert(0, tree.GetItemText(it));
    }
    // One left-to-right pass, as a string replace does: the caller's leading
    // backslash meets the item's trailing one.
    std::wstring folded;
    folded.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        folded += path[i];
        if (path[i] == L'\\' && i + 1 < path.size() && path[i + 1] == L'\\') ++i;
    }
    path = std::move(folded);
    if (path.compare(0, ROOT_TEXT_LEN, ROOT_TEXT) == 0) path.erase(0, ROOT_TEXT_LEN);
}

HTREEITEM InitBrowseTree(TreeControl& tree, std::wstring& strFolder) {
    strFolder = L"\\";
    HTREEITEM root = tree.InsertItem(ROOT_TEXT, IMAGE_DEVICE, IMAGE_DEVICE, nullptr);
    tree.SetItemData(root, ITEM_FOLDER);
    FillFolder(tree, strFolder, root);
    SortFolderItems(tree, root);
    tree.Expand(root);
    return root;
}

void ReadOnSelection(TreeControl& tree, HTREEITEM item, std::wstring& strFolder) {
    if (!item) return;
    std::wstring path = L"\\";
    GetItemPath(tree, item, path);
    if (path.empty() || path[0] != L'\\') path.insert(0, 1, L'\\');
    // A read folder is left as the user left it, collapsed or not.
    if (tree.ItemHasChildren(item)) return;
    strFolder = path;
    FillFolder(tree, strFolder, item);
    SortFolderItems(tree, item);
    tree.Expand(item);
}

HTREEITEM RevealPath(TreeControl& tree, HTREEITEM root, const std::wstring& path, std::wstring& strFolder) {
    if (!root || path.empty() || path[0] != L'\\') return nullptr;
    HTREEITEM item = root;
    size_t from = 1;
    while (from < path.size()) {
        size_t end = path.find(L'\\', from);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring name = path.substr(from, end - from);
        from = end + 1;
        if (name.empty()) continue;
        // What a tap on the folder does: read it the first time, open it.
        ReadOnSelection(tree, item, strFolder);
        tree.Expand(item);
        // The exact spelling first: the host may hold "a" and "A" side by side.
        const std::wstring lower = devfs::LowerName(name);
        HTREEITEM found = nullptr;
        for (int i = 0; i < tree.GetChildCount(item); ++i) {
            HTREEITEM child = tree.GetChildItem(item, i);
            const std::wstring text = tree.GetItemText(child);
            if (text == name) {
                found = child;
                break;
            }
            if (!found && devfs::LowerName(text) == lower) found = child;
        }
        if (!found) return nullptr;
        item = found;
    }
    return item;
}

BOOL AcceptSelection(const TreeControl& tree, int nMode, std::wstring& strPath, CWnd* owner) {
    HTREEITEM item = tree.GetSelectedItem();
    if (!item) {
        ShowWarning(L"Item not selected", owner);
        return FALSE;
    }
    const uint32_t kind = tree.GetItemData(item);
    if (nMode == BROWSE_FOLDER && kind != ITEM_FOLDER) {
        ShowWarning(L"You must select the folder", owner);
        return FALSE;
    }
    if (nMode == BROWSE_FILE && kind != ITEM_JPEG && kind != ITEM_ORDER) {
        ShowWarning(L"You must select the file", owner);
        return FALSE;
    }
    std::wstring path;
    GetItemPath(tree, item, path);
    if (nMode == BROWSE_FILE && path.size() > 1 && path.back() == L'\\') path.pop_back();
    strPath = std::move(path);
    return TRUE;
}
