#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "browse/BrowseDialog.h"
#include "platform/MessageBox.h"
#include "resources/BrowseTemplate.h"
#include "tests/platform/TempFolder.h"

namespace {

class BrowseDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = SetMessageBoxHandler([this](const MessageRequest& r) {
            m_messages.push_back(r);
            return 1;
        });
        m_storage.File("DCIM/IMG_0001.JPG");
        m_storage.File("DCIM/notes.txt");
        m_storage.File("A/B/x.jpg");
        m_storage.File("zeta/y.jpg");
        m_storage.File("alpha.jpg");
        m_storage.File(".secret.jpg");
    }
    void TearDown() override { SetMessageBoxHandler(m_previous); }

    // Runs the dialog and works it from inside its modal loop, as a user
    // would, once it is the active modal window. Returns the modal result.
    intptr_t Run(CBrowseDialog& dlg, const std::function<void(CBrowseDialog&)>& actions) {
        bool done = false;
        std::function<void()> poll = [&] {
            if (!QApplication::activeModalWidget() || !dlg.IsRunning()) {
                QTimer::singleShot(5, poll);
                return;
            }
            actions(dlg);
            done = true;
            if (dlg.IsRunning()) dlg.EndDialog(99);  // a failing test ends instead of hanging
        };
        QTimer::singleShot(0, poll);
        intptr_t result = dlg.DoModal();
        EXPECT_TRUE(done);
        return result;
    }

    static QTreeWidget* Tree(CBrowseDialog& dlg) { return dlg.m_tree.Tree(); }

    static QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text) {
        for (int i = 0; i < parent->childCount(); ++i)
            if (parent->child(i)->text(0) == text) return parent->child(i);
        return nullptr;
    }

    // A tap on the item's row.
    static void Tap(CBrowseDialog& dlg, QTreeWidgetItem* item) {
        ASSERT_NE(item, nullptr);
        QTreeWidget* t = Tree(dlg);
        t->scrollToItem(item);
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(item).center());
    }

    static void Press(CBrowseDialog& dlg, int id) {
        auto* b = qobject_cast<QPushButton*>(dlg.GetDlgItemWidget(id));
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }

    static QStringList Texts(QTreeWidgetItem* parent) {
        QStringList out;
        for (int i = 0; i < parent->childCount(); ++i) out << parent->child(i)->text(0);
        return out;
    }

    TempStorage m_storage;
    std::vector<MessageRequest> m_messages;
    MessageBoxHandler m_previous;
};

TEST_F(BrowseDialogTest, OpensOnTheDeviceRootAndCancelReturnsNothing) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FILE;
    dlg.m_strTitle = L"Select source file";
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        EXPECT_EQ(d.DialogWidget()->windowTitle(), "Select source file");
        QTreeWidget* t = Tree(d);
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(t->topLevelItemCount(), 1);
        QTreeWidgetItem* root = t->topLevelItem(0);
        EXPECT_EQ(root->text(0), "Pocket PC");
        EXPECT_TRUE(root->isExpanded());
        EXPECT_EQ(Texts(root), (QStringList{"A", "DCIM", "zeta", "alpha.jpg"}));
        EXPECT_EQ(d.m_tree.GetSelectedItem(), nullptr);
        EXPECT_EQ(d.m_strFolder, L"\\");

        // Four pictures, white see-through; folders change picture while selected.
        EXPECT_EQ(d.m_imageList.GetImageCount(), 4);
        EXPECT_EQ(d.m_imageList.GetImage(1).toImage().pixelColor(0, 0).alpha(), 0);
        QTreeWidgetItem* dcim = Child(root, "DCIM");
        int image = -1, selected = -1;
        d.m_tree.GetItemImage(CTreeCtrl::ToHandle(dcim), image, selected);
        EXPECT_EQ(image, 1);
        EXPECT_EQ(selected, 2);
        EXPECT_EQ(dcim->icon(0).pixmap(18, 16, QIcon::Selected).toImage(),
                  d.m_imageList.GetImage(2).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied));
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(dlg.m_strPath.empty());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BrowseDialogTest, FileModePicksAJpegFromATappedFolder) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FILE;
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        QTreeWidgetItem* root = Tree(d)->topLevelItem(0);
        QTreeWidgetItem* dcim = Child(root, "DCIM");
        ASSERT_NE(dcim, nullptr);
        EXPECT_EQ(dcim->childCount(), 0);  // not read before it is tapped
        Tap(d, dcim);
        EXPECT_EQ(d.m_strFolder, L"\\DCIM\\");
        EXPECT_EQ(Texts(dcim), QStringList{"img_0001.jpg"});
        EXPECT_TRUE(dcim->isExpanded());

        Press(d, IDOK);
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages[0].text, L"You must select the file");
        EXPECT_EQ(m_messages[0].caption, L"Warning");
        EXPECT_EQ(m_messages[0].icon, MessageIcon::Information);
        EXPECT_EQ(m_messages[0].owner, &d);
        EXPECT_TRUE(d.IsRunning());
        EXPECT_EQ(Tree(d)->currentItem(), dcim);

        Tap(d, Child(dcim, "img_0001.jpg"));
        Press(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strPath, L"\\DCIM\\img_0001.jpg");
    EXPECT_EQ(m_messages.size(), 1u);
}

// A double-click (or double tap) on a row: press, release, press as a double
// click, release, as the window system delivers it.
void DoubleTap(QTreeWidget* t, QTreeWidgetItem* item) {
    t->scrollToItem(item);
    const QPoint at = t->visualItemRect(item).center();
    QTest::mousePress(t->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(t->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(t->viewport(), Qt::LeftButton, {}, at);
    QApplication::processEvents();
}

TEST_F(BrowseDialogTest, DoubleClickOpensAndClosesFoldersAcceptsFilesAndTheTreeGrowsWithTheWindow) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FILE;
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        QTreeWidget* t = Tree(d);
        QTreeWidgetItem* root = t->topLevelItem(0);

        // Maximised: the tree takes the room, the buttons keep to the corner.
        QWidget* w = d.DialogWidget();
        const QRect tree0 = t->geometry();
        const QRect ok0 = d.GetDlgItemWidget(IDOK)->geometry();
        w->resize(w->width() + 300, w->height() + 200);
        QApplication::processEvents();
        EXPECT_EQ(t->geometry(), tree0.adjusted(0, 0, 300, 200));
        EXPECT_EQ(d.GetDlgItemWidget(IDOK)->geometry(), ok0.translated(300, 200));

        // An unread folder: the first tap reads and opens it, and the
        // double-click leaves it open.
        QTreeWidgetItem* dcim = Child(root, "DCIM");
        DoubleTap(t, dcim);
        EXPECT_EQ(Texts(dcim), QStringList{"img_0001.jpg"});
        EXPECT_TRUE(dcim->isExpanded());
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        DoubleTap(t, dcim);
        EXPECT_FALSE(dcim->isExpanded());
        DoubleTap(t, dcim);
        EXPECT_TRUE(dcim->isExpanded());
        EXPECT_TRUE(d.IsRunning());
        EXPECT_TRUE(m_messages.empty());

        DoubleTap(t, Child(dcim, "img_0001.jpg"));
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strPath, L"\\DCIM\\img_0001.jpg");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BrowseDialogTest, FolderModeRefusesUntilAFolderIsPicked) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FOLDER;
    dlg.m_strTitle = L"Select folder for placing the file";
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        // The tree has the focus, which makes the root current but not selected.
        Press(d, IDOK);
        ASSERT_EQ(m_messages.size(), 1u);
        EXPECT_EQ(m_messages.back().text, L"Item not selected");

        QTreeWidgetItem* root = Tree(d)->topLevelItem(0);
        Tap(d, Child(root, "alpha.jpg"));
        Press(d, IDOK);
        ASSERT_EQ(m_messages.size(), 2u);
        EXPECT_EQ(m_messages.back().text, L"You must select the folder");

        QTreeWidgetItem* a = Child(root, "A");
        Tap(d, a);
        Tap(d, Child(a, "B"));
        EXPECT_TRUE(d.IsRunning());
        // Enter is OK.
        QTest::keyClick(Tree(d), Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strPath, L"\\A\\B\\");
    EXPECT_EQ(m_messages.size(), 2u);
}

TEST_F(BrowseDialogTest, FolderModeAcceptsTheRootAndKeepsTheTreeAsRead) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FOLDER;
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        QTreeWidgetItem* root = Tree(d)->topLevelItem(0);
        QTreeWidgetItem* zeta = Child(root, "zeta");
        Tap(d, zeta);
        EXPECT_EQ(Texts(zeta), QStringList{"y.jpg"});
        m_storage.File("zeta/late.jpg");
        zeta->setExpanded(false);  // the user folds it
        Tap(d, root);
        Tap(d, zeta);
        EXPECT_EQ(Texts(zeta), QStringList{"y.jpg"});
        EXPECT_FALSE(zeta->isExpanded());
        Tap(d, root);
        Press(d, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dlg.m_strPath, L"\\");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BrowseDialogTest, EscapeCancelsAfterAPick) {
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FOLDER;
    intptr_t result = Run(dlg, [&](CBrowseDialog& d) {
        Tap(d, Child(Tree(d)->topLevelItem(0), "DCIM"));
        QTest::keyClick(Tree(d), Qt::Key_Escape);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(dlg.m_strPath.empty());
}

TEST_F(BrowseDialogTest, StartsOnTheGivenPathSelectedAndOnNothingWhenItHasGone) {
    // A photograph, named as the camera wrote it: its item, its folder open.
    CBrowseDialog file;
    file.m_nMode = BROWSE_FILE;
    file.m_strStartPath = L"\\DCIM\\IMG_0001.JPG";
    intptr_t result = Run(file, [&](CBrowseDialog& d) {
        EXPECT_TRUE(Tree(d)->currentItem()->isSelected());
        EXPECT_EQ(Texts(Tree(d)->currentItem()->parent()), QStringList{"img_0001.jpg"});
        QTest::keyClick(Tree(d), Qt::Key_Return);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(file.m_strPath, L"\\DCIM\\img_0001.jpg");

    // A folder removed since: nothing is selected, so Return cannot write
    // somewhere else.
    CBrowseDialog gone;
    gone.m_nMode = BROWSE_FOLDER;
    gone.m_strStartPath = L"\\A\\Gone\\";
    result = Run(gone, [&](CBrowseDialog& d) {
        EXPECT_EQ(d.m_tree.GetSelectedItem(), nullptr);
        QTest::keyClick(Tree(d), Qt::Key_Return);
        EXPECT_TRUE(d.IsRunning());
        Press(d, IDCANCEL);
    });
    EXPECT_EQ(result, IDCANCEL);
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0].text, L"Item not selected");
}

// TRIMORA_SHOT_DIR=/some/folder saves the opened dialog as a picture to look at.
TEST_F(BrowseDialogTest, Screenshot) {
    const QByteArray dir = qgetenv("TRIMORA_SHOT_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set TRIMORA_SHOT_DIR to save a picture";
    CBrowseDialog dlg;
    dlg.m_nMode = BROWSE_FILE;
    dlg.m_strTitle = L"Select source file";
    Run(dlg, [&](CBrowseDialog& d) {
        QTreeWidgetItem* root = Tree(d)->topLevelItem(0);
        Tap(d, Child(root, "A"));
        Tap(d, Child(root, "DCIM"));
        Tap(d, Child(Child(root, "DCIM"), "img_0001.jpg"));
        Tap(d, Child(root, "DCIM"));
        QApplication::processEvents();
        d.DialogWidget()->grab().save(QString::fromUtf8(dir) + "/browse_dialog.png");
        Press(d, IDCANCEL);
    });
}

}  // namespace
