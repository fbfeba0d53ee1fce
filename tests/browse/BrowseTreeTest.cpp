#include "browse/BrowseTree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/MessageBox.h"
#include "tests/browse/FakeTree.h"
#include "tests/platform/TempFolder.h"

namespace {

using Texts = std::vector<std::wstring>;

class BrowseTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = SetMessageBoxHandler([this](const MessageRequest& r) {
            m_messages.push_back(r);
            return 1;
        });
    }
    void TearDown() override { SetMessageBoxHandler(m_previous); }

    HTREEITEM Init() { return InitBrowseTree(m_tree, m_folder); }
    // Selects an item as a tap does: the selection, then its notification.
    void Select(HTREEITEM item) {
        m_tree.Select(item);
        ReadOnSelection(m_tree, item, m_folder);
    }
    std::wstring PathOf(HTREEITEM item, std::wstring start = {}) {
        GetItemPath(m_tree, item, start);
        return start;
    }
    // Runs the OK checks; returns the path, or the message shown.
    std::wstring Accept(int mode) {
        std::wstring path;
        m_messages.clear();
        if (AcceptSelection(m_tree, mode, path, nullptr)) {
            EXPECT_TRUE(m_messages.empty());
            return path;
        }
        EXPECT_TRUE(path.empty());
        EXPECT_EQ(m_messages.size(), 1u);
        if (m_messages.empty()) return L"(no message)";
        EXPECT_EQ(m_messages[0].caption, L"Warning");
        EXPECT_EQ(m_messages[0].icon, MessageIcon::Information);
        return L"message: " + m_messages[0].text;
    }

    TempStorage m_storage;
    FakeTree m_tree;
    std::wstring m_folder;
    std::vector<MessageRequest> m_messages;
    MessageBoxHandler m_previous;
};

TEST_F(BrowseTreeTest, RootIsTheDeviceReadAtOnceAndNothingSelected) {
    m_storage.File("DCIM/IMG_0001.JPG");
    m_storage.File("a.jpg");
    HTREEITEM root = Init();

    ASSERT_NE(root, nullptr);
    EXPECT_EQ(m_tree.Texts(nullptr), Texts{L"Pocket PC"});
    const auto& r = m_tree.Item(root);
    EXPECT_EQ(r.image, 0);
    EXPECT_EQ(r.selectedImage, 0);
    EXPECT_EQ(r.data, ITEM_FOLDER);
    EXPECT_EQ(r.expandCount, 1);
    EXPECT_EQ(m_folder, L"\\");
    EXPECT_EQ(m_tree.GetSelectedItem(), nullptr);
    EXPECT_EQ(m_tree.Texts(root), (Texts{L"DCIM", L"a.jpg"}));
    // Only the root is read: DCIM's file is not in the tree yet.
    EXPECT_EQ(m_tree.Count(), 3u);

    const auto& dcim = m_tree.Item(m_tree.Find(root, L"DCIM"));
    EXPECT_EQ(dcim.image, 1);
    EXPECT_EQ(dcim.selectedImage, 2);
    EXPECT_EQ(dcim.data, ITEM_FOLDER);
    const auto& file = m_tree.Item(m_tree.Find(root, L"a.jpg"));
    EXPECT_EQ(file.image, 3);
    EXPECT_EQ(file.selectedImage, 3);
    EXPECT_EQ(file.data, ITEM_JPEG);
}

TEST_F(BrowseTreeTest, ShowsFoldersAndNamesContainingJpgLowerCased) {
    m_storage.File("IMG_0001.JPG");
    m_storage.File("photo.jpeg");
    m_storage.File("photo.jpg.txt");
    m_storage.File("notes.txt");
    m_storage.File("xjpg");
    m_storage.Folder("Plain Folder");
    m_storage.Folder("folder.JPG");  // a folder keeps its name and kind
    m_storage.File("Ünicode.JPG");
    m_storage.File("bad\xff.jpg");
    HTREEITEM root = Init();

    EXPECT_EQ(m_tree.Texts(root),
              (Texts{L"folder.JPG", L"Plain Folder", L"img_0001.jpg", L"photo.jpg.txt", L"\u00fcnicode.jpg"}));
    EXPECT_EQ(m_tree.Item(m_tree.Find(root, L"folder.JPG")).data, ITEM_FOLDER);
}

TEST_F(BrowseTreeTest, HiddenAndSystemEntriesNeverShow) {
    m_storage.File(".hidden.jpg");
    m_storage.File(".hiddenfolder/a.jpg");
    m_storage.Link("nowhere", "broken.jpg");
    m_storage.Link("nowhere", "brokenfolder");
    ASSERT_EQ(mkfifo(m_storage.Host("pipe.jpg").c_str(), 0644), 0);
    m_storage.File("real/inner.jpg");
    m_storage.Link("real", "linked");
    m_storage.Link("real/inner.jpg", "alias.jpg");
    HTREEITEM root = Init();

    EXPECT_EQ(m_tree.Texts(root), (Texts{L"linked", L"real", L"alias.jpg"}));
    HTREEITEM linked = m_tree.Find(root, L"linked");
    Select(linked);
    EXPECT_EQ(m_tree.Texts(linked), Texts{L"inner.jpg"});
}

TEST_F(BrowseTreeTest, FoldersFirstThenFilesEachAlphabetical) {
    for (const char* f : {"alpha.jpg", "Beta.jpg", "c.jpg", "a.jpg"}) m_storage.File(f);
    for (const char* d : {"zeta", "Alpha", "mid", "beta"}) m_storage.Folder(d);
    HTREEITEM root = Init();
    EXPECT_EQ(m_tree.Texts(root), (Texts{L"Alpha", L"beta", L"mid", L"zeta", L"a.jpg", L"alpha.jpg",
                                         L"beta.jpg", L"c.jpg"}));
}

TEST_F(BrowseTreeTest, ItemPaths) {
    m_storage.File("DCIM/IMG_0001.JPG");
    m_storage.File("A/B/c.jpg");
    HTREEITEM root = Init();
    HTREEITEM dcim = m_tree.Find(root, L"DCIM");
    Select(dcim);
    HTREEITEM file = m_tree.Find(dcim, L"img_0001.jpg");
    ASSERT_NE(file, nullptr);

    EXPECT_EQ(PathOf(root), L"\\");
    EXPECT_EQ(PathOf(dcim), L"\\DCIM\\");
    EXPECT_EQ(PathOf(file), L"\\DCIM\\img_0001.jpg\\");
    // From a single backslash, the doubled one folds away.
    EXPECT_EQ(PathOf(root, L"\\"), L"\\");
    EXPECT_EQ(PathOf(dcim, L"\\"), L"\\DCIM\\");
    EXPECT_EQ(PathOf(file, L"\\"), L"\\DCIM\\img_0001.jpg\\");
    // Whatever the string holds stays behind the item's path.
    EXPECT_EQ(PathOf(dcim, L"new.jpg"), L"\\DCIM\\new.jpg");

    HTREEITEM a = m_tree.Find(root, L"A");
    Select(a);
    HTREEITEM b = m_tree.Find(a, L"B");
    EXPECT_EQ(PathOf(b), L"\\A\\B\\");
}

TEST_F(BrowseTreeTest, SelectionReadsAFolderOnlyOnce) {
    m_storage.File("DCIM/one.jpg");
    m_storage.Folder("empty");
    HTREEITEM root = Init();
    HTREEITEM dcim = m_tree.Find(root, L"DCIM");

    Select(dcim);
    EXPECT_EQ(m_folder, L"\\DCIM\\");
    EXPECT_EQ(m_tree.Texts(dcim), Texts{L"one.jpg"});
    EXPECT_EQ(m_tree.Item(dcim).expandCount, 1);

    // Made while the dialog is open: not seen, the folder is not read again.
    m_storage.File("DCIM/two.jpg");
    Select(root);
    Select(dcim);
    EXPECT_EQ(m_tree.Texts(dcim), Texts{L"one.jpg"});
    EXPECT_EQ(m_tree.Item(dcim).expandCount, 1);
    EXPECT_EQ(m_tree.Item(root).expandCount, 1);
    EXPECT_EQ(m_folder, L"\\DCIM\\");

    // A folder still empty is read again each time it is selected.
    HTREEITEM empty = m_tree.Find(root, L"empty");
    Select(empty);
    EXPECT_TRUE(m_tree.Texts(empty).empty());
    m_storage.File("empty/late.jpg");
    Select(empty);
    EXPECT_EQ(m_tree.Texts(empty), Texts{L"late.jpg"});

    // Selecting a file reads its "folder", which is none.
    HTREEITEM one = m_tree.Find(dcim, L"one.jpg");
    size_t before = m_tree.Count();
    Select(one);
    EXPECT_EQ(m_tree.Count(), before);
    EXPECT_EQ(m_folder, L"\\DCIM\\one.jpg\\");

    Select(nullptr);  // selection cleared: nothing happens
    EXPECT_EQ(m_tree.Count(), before);
}

TEST_F(BrowseTreeTest, UnreadableFolderAddsNothingAndSaysNothing) {
    m_storage.File("locked/a.jpg");
    chmod(m_storage.Host("locked").c_str(), 0);
    Unprivileged user;
    if (!Unprivileged::Locks(m_storage.Host("locked"))) GTEST_SKIP() << "folder permissions do not apply";
    HTREEITEM root = Init();
    HTREEITEM locked = m_tree.Find(root, L"locked");
    ASSERT_NE(locked, nullptr);
    Select(locked);
    EXPECT_TRUE(m_tree.Texts(locked).empty());
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BrowseTreeTest, WholeDeviceUnreadableLeavesTheRootAlone) {
    devfs::SetStorageRoot(m_storage.Host("does-not-exist"));
    HTREEITEM root = Init();
    EXPECT_EQ(m_tree.Count(), 1u);
    EXPECT_EQ(PathOf(root), L"\\");
    EXPECT_TRUE(m_messages.empty());
}

TEST_F(BrowseTreeTest, OkChecksTheSelectionAgainstTheMode) {
    m_storage.File("DCIM/IMG_0001.JPG", "photo bytes");
    m_storage.File("A/B/x.jpg");
    HTREEITEM root = Init();

    EXPECT_EQ(Accept(BROWSE_FILE), L"message: Item not selected");
    EXPECT_EQ(Accept(BROWSE_FOLDER), L"message: Item not selected");

    Select(root);
    EXPECT_EQ(Accept(BROWSE_FOLDER), L"\\");
    EXPECT_EQ(Accept(BROWSE_FILE), L"message: You must select the file");

    HTREEITEM dcim = m_tree.Find(root, L"DCIM");
    Select(dcim);
    EXPECT_EQ(Accept(BROWSE_FOLDER), L"\\DCIM\\");
    EXPECT_EQ(Accept(BROWSE_FILE), L"message: You must select the file");

    Select(m_tree.Find(dcim, L"img_0001.jpg"));
    EXPECT_EQ(Accept(BROWSE_FOLDER), L"message: You must select the folder");
    std::wstring picked = Accept(BROWSE_FILE);
    EXPECT_EQ(picked, L"\\DCIM\\img_0001.jpg");
    // The lower-cased path still opens the file stored in capitals.
    FILE* f = devfs::OpenFile(picked, "rb");
    ASSERT_NE(f, nullptr);
    char buf[32] = {};
    EXPECT_EQ(fread(buf, 1, sizeof buf, f), 11u);
    fclose(f);
    EXPECT_STREQ(buf, "photo bytes");

    HTREEITEM a = m_tree.Find(root, L"A");
    Select(a);
    Select(m_tree.Find(a, L"B"));
    EXPECT_EQ(Accept(BROWSE_FOLDER), L"\\A\\B\\");
}

TEST(CompareItemKind, OrdersByItemData) {
    EXPECT_EQ(CompareItemKind(ITEM_FOLDER, ITEM_FOLDER, 0), 0);
    EXPECT_EQ(CompareItemKind(ITEM_FOLDER, ITEM_JPEG, 0), -1);
    EXPECT_EQ(CompareItemKind(ITEM_JPEG, ITEM_FOLDER, 0), 1);
}

}  // namespace
