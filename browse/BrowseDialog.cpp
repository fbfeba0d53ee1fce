#include "browse/BrowseDialog.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItem>
#include <algorithm>

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
    MapNotify(IDC_TREE, NM_DBLCLK, [this] { OnDblClkTree(); });
}

CBrowseDialog::~CBrowseDialog() = default;

void CBrowseDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TREE, m_tree);
}

BOOL CBrowseDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    SetWindowText(m_strTitle);
    PlaceOnScreen();

    // A missing picture leaves the tree without pictures, nothing worse.
    m_imageList.Create(LoadBitmapResource(IDB_BROWSE_IMAGES).toImage(), 18, 6, QColor(255, 255, 255));
    m_tree.SetImageList(&m_imageList, TVSIL_NORMAL);
    for (const ControlTemplate& c : Template().controls)
        if (c.id == IDC_TREE) m_tree.SetTreeStyle(c.style);

    // Builds the root, reads the device root into it and expands it; selects nothing.
    HTREEITEM root = InitBrowseTree(m_tree, m_strFolder);
    if (!m_strStartPath.empty()) {
        // The same reads as the user's taps would make; a path that has gone
        // leaves its folders open and nothing selected, so that OK cannot
        // quietly pick another folder.
        if (HTREEITEM start = RevealPath(m_tree, root, m_strStartPath, m_strFolder)) {
            m_tree.SelectItem(start);
            // Scrolled to once the window has its size.
            QTimer::singleShot(0, DialogWidget(), [this, start] {
                if (QTreeWidget* t = m_tree.Tree()) t->scrollToItem(CTreeCtrl::ToItem(start));
            });
        }
    }
    return TRUE;
}

void CBrowseDialog::PlaceOnScreen() {
    // The toolkit would centre the dialog by its client area before the
    // window manager has said how tall the caption is; on a small screen
    // that puts the caption above the screen's top. Placed here, before it
    // shows, the position is the frame's, and the frame is reckoned with.
    QDialog* w = DialogWidget();
    QScreen* screen = w ? w->screen() : nullptr;
    if (!screen) return;
    const QRect avail = screen->availableGeometry();
    const int border = w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w) + 2;
    const int caption = w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w) + border;
    const int frameW = w->width() + 2 * border;
    const int frameH = w->height() + caption + border;
    w->move(avail.x() + std::max(0, (avail.width() - frameW) / 2), avail.y() + std::max(0, (avail.height() - frameH) / 2));
}

void CBrowseDialog::FillFolder(const std::wstring& folderPath, HTREEITEM parent) {
    ::FillFolder(m_tree, folderPath, parent);
}

void CBrowseDialog::SortFolderItems(HTREEITEM parent) { ::SortFolderItems(m_tree, parent); }

void CBrowseDialog::GetItemPath(HTREEITEM item, std::wstring& path) const {
    ::GetItemPath(m_tree, item, path);
}

void CBrowseDialog::OnSelChangedTree(const NMTREEVIEW* pNMTreeView, LRESULT* pResult) {
    if (pNMTreeView && pNMTreeView->itemNew) {
        const bool wasRead = m_tree.ItemHasChildren(pNMTreeView->itemNew);
        ReadOnSelection(m_tree, pNMTreeView->itemNew, m_strFolder);
        if (!wasRead && m_tree.ItemHasChildren(pNMTreeView->itemNew)) {
            m_hJustOpened = pNMTreeView->itemNew;
            m_openedAt.start();
        }
    }
    if (pResult) *pResult = 0;
}

void CBrowseDialog::OnDblClkTree() {
    HTREEITEM item = m_tree.GetSelectedItem();
    if (!item) return;
    if (m_tree.GetItemData(item) == ITEM_JPEG) {
        OnOK();
        return;
    }
    // The first tap of this double-click has just read and opened the
    // folder: toggling now would close it again at once.
    if (item == m_hJustOpened && m_openedAt.isValid() && m_openedAt.elapsed() <= QApplication::doubleClickInterval())
        return;
    if (QTreeWidgetItem* it = CTreeCtrl::ToItem(item)) it->setExpanded(!it->isExpanded());
}

void CBrowseDialog::OnShowLayout() {
    // The tree takes whatever the window gains (a maximised browser shows
    // more of the card); the buttons keep to the bottom-right corner.
    QDialog* w = DialogWidget();
    if (!w) return;
    const CRect whole = MapDialogRect({0, 0, Template().cx, Template().cy});
    const int dx = std::max(0, w->width() - whole.right);
    const int dy = std::max(0, w->height() - whole.bottom);
    for (const ControlTemplate& c : Template().controls) {
        QWidget* control = GetDlgItemWidget(c.id);
        if (!control) continue;
        const CRect r = MapDialogRect({c.x, c.y, c.x + c.cx, c.y + c.cy});
        if (c.id == IDC_TREE)
            control->setGeometry(r.left, r.top, r.Width() + dx, r.Height() + dy);
        else
            control->setGeometry(r.left + dx, r.top + dy, r.Width(), r.Height());
    }
}

void CBrowseDialog::OnOK() {
    // A refusal has been shown; the dialog stays open with its selection.
    if (!AcceptSelection(m_tree, m_nMode, m_strPath, this)) return;
    CDialog::OnOK();
}
