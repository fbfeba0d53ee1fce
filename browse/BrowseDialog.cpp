#include "browse/BrowseDialog.h"

#include "platform/Resources.h"
#include "resources/BrowseTemplate.h"

CBrowseDialog::CBrowseDialog(CWnd* pParent) : CDialog(BrowseTemplate(), pParent) {
    MapNotify(IDC_TREE, TVN_SELCHANGED, [this] {
        NMTREEVIEW nm;
        nm.itemOld = m_hLastSelected;
        nm.itemNew = m_tree.GetCurrentItem();
        m_hLastSelected = nm.itemNew;
        LRESULT result = 0;
        OnSelChangedTree(&nm, &result);
    });
}

CBrowseDialog::~CBrowseDialog() = default;

void CBrowseDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TREE, m_tree);
}

BOOL CBrowseDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(m_strTitle);

    // A missing picture leaves the tree without pictures, nothing worse.
    m_imageList.Create(LoadBitmapResource(IDB_BROWSE_IMAGES).toImage(), 18, 6, QColor(255, 255, 255));
    m_tree.SetImageList(&m_imageList, TVSIL_NORMAL);
    for (const ControlTemplate& c : Template().controls)
        if (c.id == IDC_TREE) m_tree.SetTreeStyle(c.style);

    // Builds the root, reads the device root into it and expands it; selects nothing.
    InitBrowseTree(m_tree, m_strFolder);
    return TRUE;
}

void CBrowseDialog::FillFolder(const std::wstring& folderPath, HTREEITEM parent) {
    ::FillFolder(m_tree, folderPath, parent);
}

void CBrowseDialog::SortFolderItems(HTREEITEM parent) { ::SortFolderItems(m_tree, parent); }

void CBrowseDialog::GetItemPath(HTREEITEM item, std::wstring& path) const {
    ::GetItemPath(m_tree, item, path);
}

void CBrowseDialog::OnSelChangedTree(const NMTREEVIEW* pNMTreeView, LRESULT* pResult) {
    if (pNMTreeView && pNMTreeView->itemNew) ReadOnSelection(m_tree, pNMTreeView->itemNew, m_strFolder);
    if (pResult) *pResult = 0;
}

void CBrowseDialog::OnOK() {
    // A refusal has been shown; the dialog stays open with its selection.
    if (!AcceptSelection(m_tree, m_nMode, m_strPath, this)) return;
    CDialog::OnOK();
}
