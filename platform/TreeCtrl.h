#pragma once
// The tree control and its image list, on a QTreeWidget.
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <vector>

#include "platform/Dialog.h"
#include "platform/TreeControl.h"

class QTreeWidget;
class QTreeWidgetItem;

// A strip of equal-width pictures cut from one bitmap; pixels of the mask
// colour are transparent.
class CImageList {
public:
    // Cuts `bitmap` into images `cx` pixels wide (a last partial image is
    // dropped). `grow` is how many images the list would grow by; a list cut
    // from a bitmap never grows, so it is only kept. False on an empty bitmap.
    BOOL Create(const QImage& bitmap, int cx, int grow, QColor mask);
    int GetImageCount() const { return static_cast<int>(m_images.size()); }
    // Image i with transparency; a null pixmap when i is out of range.
    QPixmap GetImage(int i) const;
    int GrowBy() const { return m_grow; }

private:
    std::vector<QPixmap> m_images;
    int m_grow = 0;
};

constexpr int TVSIL_NORMAL = 0;

class CTreeCtrl : public CWnd, public TreeControl {
public:
    QTreeWidget* Tree() const;

    HTREEITEM InsertItem(const std::wstring& text, int image, int selectedImage, HTREEITEM parent) override;
    BOOL SetItemData(HTREEITEM item, uint32_t data) override;
    uint32_t GetItemData(HTREEITEM item) const override;
    std::wstring GetItemText(HTREEITEM item) const override;
    HTREEITEM GetParentItem(HTREEITEM item) const override;
    // The item the user selected: the tree's current item, while it is also
    // selected (taking the focus makes an item current without selecting it).
    HTREEITEM GetSelectedItem() const override;
    BOOL ItemHasChildren(HTREEITEM item) const override;
    BOOL SortChildren(HTREEITEM parent) override;
    BOOL SortChildrenCB(HTREEITEM parent, PFNTVCOMPARE compare, intptr_t param) override;
    BOOL Expand(HTREEITEM item) override;

    // Makes the item current and selected, as a tap does.
    BOOL SelectItem(HTREEITEM item);
    HTREEITEM GetCurrentItem() const;
    HTREEITEM GetRootItem() const;  // first top-level item
    int GetChildCount(HTREEITEM item) const override;
    HTREEITEM GetChildItem(HTREEITEM item, int index) const override;
    void GetItemImage(HTREEITEM item, int& image, int& selectedImage) const;

    // The list is not owned; it must outlive the tree's use of it.
    void SetImageList(const CImageList* list, int which);
    // Applies TVS_ bits: lines (drawn by the classic style) and lines at the
    // root; Qt always shows expand buttons where an item has children.
    void SetTreeStyle(uint32_t style);

    static QTreeWidgetItem* ToItem(HTREEITEM h) { return reinterpret_cast<QTreeWidgetItem*>(h); }
    static HTREEITEM ToHandle(QTreeWidgetItem* i) { return reinterpret_cast<HTREEITEM>(i); }

private:
    QTreeWidgetItem* Container(HTREEITEM parent) const;
    void Reorder(HTREEITEM parent, std::vector<QTreeWidgetItem*>& order);
    void ApplyIcon(QTreeWidgetItem* item) const;

    const CImageList* m_pImageList = nullptr;
    // Icons built once per image pair: 10,000 items share a handful.
    mutable std::vector<std::pair<std::pair<int, int>, QIcon>> m_icons;
};
