#include "platform/TreeCtrl.h"

#include <QSignalBlocker>
#include <QStyle>
#include <QStyleFactory>
#include <QTreeWidget>

namespace {
constexpr int ROLE_DATA = Qt::UserRole;
constexpr int ROLE_IMAGE = Qt::UserRole + 1;
constexpr int ROLE_SELECTED_IMAGE = Qt::UserRole + 2;
}  // namespace

// ---------------------------------------------------------------- image list

BOOL CImageList::Create(const QImage& bitmap, int cx, int grow, QColor mask) {
    m_images.clear();
    m_grow = grow;
    if (bitmap.isNull() || cx <= 0) return FALSE;
    QImage argb = bitmap.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = mask.rgb() & 0xFFFFFF;
    for (int y = 0; y < argb.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if ((row[x] & 0xFFFFFF) == key) row[x] = 0;
    }
    for (int i = 0; (i + 1) * cx <= argb.width(); ++i)
        m_images.push_back(QPixmap::fromImage(argb.copy(i * cx, 0, cx, argb.height())));
    return m_images.empty() ? FALSE : TRUE;
}

QPixmap CImageList::GetImage(int i) const {
    if (i < 0 || i >= GetImageCount()) return {};
    return m_images[static_cast<size_t>(i)];
}

// ---------------------------------------------------------------- tree

QTreeWidget* CTreeCtrl::Tree() const { return qobject_cast<QTreeWidget*>(m_pWidget.data()); }

QTreeWidgetItem* CTreeCtrl::Container(HTREEITEM parent) const {
    if (parent) return ToItem(parent);
    QTreeWidget* t = Tree();
    return t ? t->invisibleRootItem() : nullptr;
}

void CTreeCtrl::ApplyIcon(QTreeWidgetItem* item) const {
    if (!m_pImageList) {
        item->setIcon(0, QIcon());
        return;
    }
    const std::pair<int, int> key{item->data(0, ROLE_IMAGE).toInt(), item->data(0, ROLE_SELECTED_IMAGE).toInt()};
    for (const auto& [k, icon] : m_icons) {
        if (k == key) {
            item->setIcon(0, icon);
            return;
        }
    }
    // The view draws the Selected mode while the item is selected: that is the
    // tree control's "selected image".
    QIcon icon;
    QPixmap normal = m_pImageList->GetImage(key.first);
    QPixmap selected = m_pImageList->GetImage(key.second);
    if (!normal.isNull()) icon.addPixmap(normal, QIcon::Normal);
    if (!selected.isNull()) icon.addPixmap(selected, QIcon::Selected);
    m_icons.emplace_back(key, icon);
    item->setIcon(0, icon);
}

HTREEITEM CTreeCtrl::InsertItem(const std::wstring& text, int image, int selectedImage, HTREEITEM parent) {
    QTreeWidgetItem* container = Container(parent);
    if (!container) return nullptr;
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdWString(text));
    item->setData(0, ROLE_DATA, 0u);
    item->setData(0, ROLE_IMAGE, image);
    item->setData(0, ROLE_SELECTED_IMAGE, selectedImage);
    ApplyIcon(item);
    container->addChild(item);
    return ToHandle(item);
}

BOOL CTreeCtrl::SetItemData(HTREEITEM item, uint32_t data) {
    if (!item) return FALSE;
    ToItem(item)->setData(0, ROLE_DATA, data);
    return TRUE;
}

uint32_t CTreeCtrl::GetItemData(HTREEITEM item) const {
    return item ? ToItem(item)->data(0, ROLE_DATA).toUInt() : 0;
}

std::wstring CTreeCtrl::GetItemText(HTREEITEM item) const {
    return item ? ToItem(item)->text(0).toStdWString() : std::wstring();
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
    return item ? ToHandle(ToItem(item)->parent()) : nullptr;
}

HTREEITEM CTreeCtrl::GetCurrentItem() const {
    QTreeWidget* t = Tree();
    return t ? ToHandle(t->currentItem()) : nullptr;
}

HTREEITEM CTreeCtrl::GetSelectedItem() const {
    QTreeWidget* t = Tree();
    if (!t || !t->currentItem() || !t->currentItem()->isSelected()) return nullptr;
    return ToHandle(t->currentItem());
}

BOOL CTreeCtrl::ItemHasChildren(HTREEITEM item) const {
    return item && ToItem(item)->childCount() > 0 ? TRUE : FALSE;
}

void CTreeCtrl::Reorder(HTREEITEM parent, std::vector<QTreeWidgetItem*>& order) {
    QTreeWidgetItem* container = Container(parent);
    QTreeWidget* t = Tree();
    // Taking items out of the tree forgets which was current and which were
    // open; a sort must not look like a selection change to the dialog.
    const QSignalBlocker quiet(t);
    QTreeWidgetItem* current = t->currentItem();
    const bool currentSelected = current && current->isSelected();
    std::vector<QTreeWidgetItem*> open;
    for (QTreeWidgetItem* item : order)
        if (item->isExpanded()) open.push_back(item);
    // Taken out and put back in one batch each rather than item by item,
    // which matters for a folder of 10,000 files.
    QList<QTreeWidgetItem*> taken = container->takeChildren();
    (void)taken;
    container->addChildren(QList<QTreeWidgetItem*>(order.begin(), order.end()));
    for (QTreeWidgetItem* item : open) item->setExpanded(true);
    if (current && t->currentItem() != current) {
        t->setCurrentItem(current, 0, currentSelected ? QItemSelectionModel::ClearAndSelect
                                                      : QItemSelectionModel::NoUpdate);
    }
}

BOOL CTreeCtrl::SortChildren(HTREEITEM parent) {
    QTreeWidgetItem* container = Container(parent);
    if (!container) return FALSE;
    std::vector<std::pair<std::wstring, QTreeWidgetItem*>> keyed;
    keyed.reserve(static_cast<size_t>(container->childCount()));
    for (int i = 0; i < container->childCount(); ++i)
        keyed.emplace_back(container->child(i)->text(0).toStdWString(), container->child(i));
    SortItemsByText(keyed, [](const auto& k) -> const std::wstring& { return k.first; });
    std::vector<QTreeWidgetItem*> order;
    order.reserve(keyed.size());
    for (auto& k : keyed) order.push_back(k.second);
    Reorder(parent, order);
    return TRUE;
}

BOOL CTreeCtrl::SortChildrenCB(HTREEITEM parent, PFNTVCOMPARE compare, intptr_t param) {
    QTreeWidgetItem* container = Container(parent);
    if (!container || !compare) return FALSE;
    std::vector<QTreeWidgetItem*> order;
    order.reserve(static_cast<size_t>(container->childCount()));
    for (int i = 0; i < container->childCount(); ++i) order.push_back(container->child(i));
    SortItemsByData(order, compare, param, [](QTreeWidgetItem* i) { return i->data(0, ROLE_DATA).toUInt(); });
    Reorder(parent, order);
    return TRUE;
}

BOOL CTreeCtrl::Expand(HTREEITEM item) {
    if (!item) return FALSE;
    ToItem(item)->setExpanded(true);
    return TRUE;
}

BOOL CTreeCtrl::SelectItem(HTREEITEM item) {
    QTreeWidget* t = Tree();
    if (!t) return FALSE;
    t->setCurrentItem(ToItem(item));
    return TRUE;
}

HTREEITEM CTreeCtrl::GetRootItem() const {
    QTreeWidget* t = Tree();
    return t && t->topLevelItemCount() > 0 ? ToHandle(t->topLevelItem(0)) : nullptr;
}

int CTreeCtrl::GetChildCount(HTREEITEM item) const {
    QTreeWidgetItem* c = Container(item);
    return c ? c->childCount() : 0;
}

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item, int index) const {
    QTreeWidgetItem* c = Container(item);
    return c && index >= 0 && index < c->childCount() ? ToHandle(c->child(index)) : nullptr;
}

void CTreeCtrl::GetItemImage(HTREEITEM item, int& image, int& selectedImage) const {
    image = selectedImage = -1;
    if (!item) return;
    image = ToItem(item)->data(0, ROLE_IMAGE).toInt();
    selectedImage = ToItem(item)->data(0, ROLE_SELECTED_IMAGE).toInt();
}

void CTreeCtrl::SetImageList(const CImageList* list, int which) {
    if (which != TVSIL_NORMAL) return;
    m_pImageList = list;
    m_icons.clear();
    QTreeWidget* t = Tree();
    if (!t) return;
    if (list && list->GetImageCount() > 0) t->setIconSize(list->GetImage(0).size());
    std::vector<QTreeWidgetItem*> pending{t->invisibleRootItem()};
    while (!pending.empty()) {
        QTreeWidgetItem* it = pending.back();
        pending.pop_back();
        for (int i = 0; i < it->childCount(); ++i) {
            ApplyIcon(it->child(i));
            pending.push_back(it->child(i));
        }
    }
}

void CTreeCtrl::SetTreeStyle(uint32_t style) {
    QTreeWidget* t = Tree();
    if (!t) return;
    t->setRootIsDecorated((style & TVS_LINESATROOT) != 0);
    if (style & TVS_HASLINES) {
        // The classic style draws dotted lines between items and boxed +/-
        // buttons, as the handheld's tree did; the tree owns its style.
        if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
            classic->setParent(t);
            t->setStyle(classic);
        }
    }
}
