#include "platform/TreeCtrl.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTreeWidget>

#include "browse/BrowseTree.h"

namespace {

struct TreeFixture : ::testing::Test {
    QTreeWidget widget;
    CTreeCtrl tree;
    TreeFixture() { tree.Attach(&widget); }

    QStringList Texts(HTREEITEM parent) {
        QStringList out;
        for (int i = 0; i < tree.GetChildCount(parent); ++i)
            out << QString::fromStdWString(tree.GetItemText(tree.GetChildItem(parent, i)));
        return out;
    }
};

TEST_F(TreeFixture, SortsAlphabeticallyThenStablyByData) {
    HTREEITEM root = tree.InsertItem(L"root", 0, 0, nullptr);
    for (auto [text, data] : {std::pair{L"b.jpg", ITEM_JPEG}, {L"Zeta", ITEM_FOLDER}, {L"A.jpg", ITEM_JPEG},
                              {L"alpha", ITEM_FOLDER}, {L"a.jpg", ITEM_JPEG}})
        tree.SetItemData(tree.InsertItem(text, 1, 2, root), data);
    tree.SortChildren(root);
    EXPECT_EQ(Texts(root), (QStringList{"A.jpg", "a.jpg", "alpha", "b.jpg", "Zeta"}));
    tree.SortChildrenCB(root, CompareItemKind, 0);
    EXPECT_EQ(Texts(root), (QStringList{"alpha", "Zeta", "A.jpg", "a.jpg", "b.jpg"}));
    EXPECT_EQ(tree.GetParentItem(tree.GetChildItem(root, 0)), root);
    EXPECT_EQ(tree.GetParentItem(root), nullptr);
}

TEST_F(TreeFixture, SortingKeepsSelectionAndOpenItemsWithoutNotifying) {
    HTREEITEM root = tree.InsertItem(L"root", 0, 0, nullptr);
    HTREEITEM b = tree.InsertItem(L"b", 1, 2, root);
    tree.InsertItem(L"inner", 3, 3, b);
    tree.InsertItem(L"a", 1, 2, root);
    tree.Expand(root);
    tree.Expand(b);
    tree.SelectItem(b);
    ASSERT_EQ(tree.GetSelectedItem(), b);

    QSignalSpy changes(&widget, &QTreeWidget::currentItemChanged);
    tree.SortChildren(root);
    EXPECT_EQ(Texts(root), (QStringList{"a", "b"}));
    EXPECT_EQ(changes.count(), 0);
    EXPECT_EQ(tree.GetSelectedItem(), b);
    EXPECT_TRUE(CTreeCtrl::ToItem(b)->isExpanded());
}

TEST(ImageList, CutsCellsAndSeesThroughTheMaskColour) {
    QImage strip(84, 16, QImage::Format_RGB888);
    strip.fill(Qt::white);
    strip.setPixel(18 + 5, 3, qRgb(10, 20, 30));
    CImageList list;
    ASSERT_TRUE(list.Create(strip, 18, 6, QColor(255, 255, 255)));
    EXPECT_EQ(list.GetImageCount(), 4);  // the 12 columns left over make no image
    QImage one = list.GetImage(1).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(one.size(), QSize(18, 16));
    EXPECT_EQ(qAlpha(one.pixel(0, 0)), 0);
    EXPECT_EQ(one.pixel(5, 3), qRgb(10, 20, 30));
    EXPECT_TRUE(list.GetImage(4).isNull());
    EXPECT_FALSE(CImageList().Create(QImage(), 18, 6, Qt::white));
}

}  // namespace
