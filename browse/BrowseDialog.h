#pragma once
// The storage browser: a tree of the device's folders and JPEG files from
// which the user picks a file to open or a folder to write into.
#include <QElapsedTimer>
#include <string>

#include "browse/BrowseTree.h"
#include "platform/Dialog.h"
#include "platform/TreeCtrl.h"

// The tree's selection-changed notification.
struct NMTREEVIEW {
    HTREEITEM itemOld = nullptr;
    HTREEITEM itemNew = nullptr;
};
using LRESULT = intptr_t;

class CBrowseDialog : public CDialog {
public:
    explicit CBrowseDialog(CWnd* pParent = nullptr);
    ~CBrowseDialog() override;

    CTreeCtrl m_tree;
    int m_nMode = BROWSE_FILE;  // set by the caller before the run
    std::wstring m_strTitle;
    std::wstring m_strPath;     // the result, written only when OK is accepted
    // Where the tree opens: a folder (ending with a backslash) or a file,
    // selected and shown. Empty: the device root, nothing selected.
    std::wstring m_strStartPath;
    CImageList m_imageList;
    std::wstring m_strFolder;   // the folder read into the tree last

    void FillFolder(const std::wstring& folderPath, HTREEITEM parent);
    void SortFolderItems(HTREEITEM parent);
    void GetItemPath(HTREEITEM item, std::wstring& path) const;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnSelChangedTree(const NMTREEVIEW* pNMTreeView, LRESULT* pResult);
    void OnDblClkTree();
    void OnShowLayout() override;
    // Centred on the screen by its frame, caption included.
    void PlaceOnScreen();

private:
    HTREEITEM m_hLastSelected = nullptr;  // the notification's old item
    // The folder that the last selection read and opened, and when.
    HTREEITEM m_hJustOpened = nullptr;
    QElapsedTimer m_openedAt;
};
