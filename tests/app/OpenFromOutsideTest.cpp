// Photographs from outside the browser: the command line, and drops.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

#include "app/CommandLine.h"
#include "print/HostPhoto.h"
#include "app/MainDialog.h"
#include "imaging/TestHeif.h"
#include "imaging/TestJpeg.h"
#include "imaging/TurnedJpeg.h"
#include "platform/DeviceFs.h"
#include "platform/TempFolder.h"
#include "resources/MainTemplate.h"
#include "support/GuiTestSupport.h"

using guitest::MessageRecorder;
using guitest::Pump;
using guitest::WhenModal;

namespace {

void Tap(QWidget* w) {
    ASSERT_NE(w, nullptr);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->width() / 2, w->height() / 2));
}

QWidget* Item(QWidget* dialog, int id) {
    for (QWidget* w : dialog->findChildren<QWidget*>())
        if (w->property("trimoraId").isValid() && w->property("trimoraId").toInt() == id) return w;
    return nullptr;
}

// Picks a device path in the open command's browser, item by item.
void PickInBrowser(CMainDialog& dlg, const QStringList& names) {
    WhenModal(
        [&](QWidget* browser) {
            ASSERT_NE(browser, nullptr);
            auto* tree = browser->findChild<QTreeWidget*>();
            QTreeWidgetItem* item = tree->topLevelItem(0);
            for (const QString& name : names) {
                QTreeWidgetItem* next = nullptr;
                for (int i = 0; i < item->childCount(); ++i)
                    if (item->child(i)->text(0) == name) next = item->child(i);
                ASSERT_NE(next, nullptr) << name.toStdString();
                item = next;
                tree->scrollToItem(item);
                QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
            }
            Tap(Item(browser, IDOK));
        },
        dlg.DialogWidget());
    Tap(dlg.GetDlgItemWidget(IDC_OPEN));
    Pump();
}

void RunWindow(CMainDialog& dlg, const std::function<void(QWidget*)>& script) {
    WhenModal([&](QWidget* w) {
        ASSERT_NE(w, nullptr);
        Pump();
        script(w);
        if (dlg.IsRunning()) dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
}

// Drags a file over the window and lets it go; true when the window took it.
bool Drop(QWidget* window, const std::string& hostPath) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(hostPath))});
    const QPoint at(window->width() / 2, window->height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(window, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, {});
    QApplication::sendEvent(window, &drop);
    Pump(50);
    return drop.isAccepted();
}

struct Seen {
    BOOL loaded;
    std::wstring path, status;
    CRect source;
    CSize preview;
    std::vector<uint8_t> pixels;
    QImage screen;
};

Seen Look(CMainDialog& dlg) {
    dlg.UpdateData(TRUE);
    return {dlg.m_bLoaded,
            dlg.m_strSourcePath,
            dlg.m_strStatus,
            dlg.m_rcSource,
            dlg.m_sizePreview,
            std::vector<uint8_t>(dlg.m_preview.Data(), dlg.m_preview.Data() + dlg.m_preview.Size()),
            dlg.GrabClient()};
}

TEST(OpenFromOutside, AHostPathOpensExactlyAsThePickInTheBrowser) {
    TempStorage card;
    JpegRecipe recipe;
    recipe.width = 1600;
    recipe.height = 1200;
    card.Folder("DCIM");
    WriteFile(card.Host("DCIM/IMG_0001.JPG"), EncodeJpeg(recipe));
    MessageRecorder messages;
    CMainDialog dlg;
    RunWindow(dlg, [&](QWidget*) {
        dlg.OpenHostPhotograph(card.Host("DCIM/IMG_0001.JPG"));
        Pump();
        const Seen outside = Look(dlg);
        ASSERT_TRUE(outside.loaded);
        EXPECT_EQ(outside.path, L"\\DCIM\\img_0001.jpg");
        EXPECT_EQ(outside.source, CRect(0, 0, 1600, 1073));
        EXPECT_EQ(outside.status, L"Selected format: 15.2x10.2 cm");

        PickInBrowser(dlg, {"DCIM", "img_0001.jpg"});
        const Seen picked = Look(dlg);
        EXPECT_EQ(outside.path, picked.path);
        EXPECT_EQ(outside.source, picked.source);
        EXPECT_EQ(outside.preview, picked.preview);
        EXPECT_EQ(outside.status, picked.status);
        EXPECT_TRUE(outside.pixels == picked.pixels);
        EXPECT_TRUE(outside.screen == picked.screen) << "the window shows something else";
        EXPECT_TRUE(messages.messages.empty());
    });
}

TEST(OpenFromOutside, APhotographThatCannotBeOpenedLeavesTheSplash) {
    TempStorage card;
    JpegRecipe good, small;
    small.width = 799;
    WriteFile(card.Host("good.jpg"), EncodeJpeg(good));
    WriteFile(card.Host("small.jpg"), EncodeJpeg(small));
    card.File("text.jpg", "not a photograph");
    TempStorage elsewhere;  // the storage root is the last one made
    WriteFile(elsewhere.Host("far.jpg"), EncodeJpeg(good));
    devfs::SetStorageRoot(card.Root());

    MessageRecorder messages;
    CMainDialog dlg;
    RunWindow(dlg, [&](QWidget*) {
        const QImage splash = dlg.GrabClient();
        dlg.OpenHostPhotograph(card.Host("good.jpg"));
        ASSERT_TRUE(dlg.m_bLoaded);
        dlg.OpenHostPhotograph(card.Host("small.jpg"));
        EXPECT_FALSE(dlg.m_bLoaded);
        EXPECT_EQ(messages.Texts(),
                  (std::vector<std::wstring>{L"Image must be lagrer then 800x600", L"Cannot open this file"}));
        messages.messages.clear();
        for (const char* name : {"text.jpg", "missing.jpg"}) {
            dlg.OpenHostPhotograph(card.Host(name));
            EXPECT_FALSE(dlg.m_bLoaded);
            EXPECT_EQ(messages.Texts(), std::vector<std::wstring>{L"Cannot open this file"}) << name;
            messages.messages.clear();
        }
        Pump();
        EXPECT_TRUE(dlg.GrabClient() == splash) << "not back on the splash";

        // Outside the storage the photograph has no device path: refused, and
        // what is open stays open.
        dlg.OpenHostPhotograph(card.Host("good.jpg"));
        dlg.OpenHostPhotograph(elsewhere.Host("far.jpg"));
        EXPECT_EQ(messages.Texts(), std::vector<std::wstring>{L"Cannot open this file"});
        EXPECT_TRUE(dlg.m_bLoaded);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\good.jpg");
    });
}

TEST(OpenFromOutside, ADroppedJpegOpensUnlessTheWindowIsBusy) {
    TempStorage card;
    JpegRecipe recipe;
    WriteFile(card.Host("a.jpeg"), EncodeJpeg(recipe));
    card.File("notes.txt", "text");
    MessageRecorder messages;
    CMainDialog dlg;
    RunWindow(dlg, [&](QWidget* w) {
        EXPECT_FALSE(Drop(w, card.Host("notes.txt")));
        dlg.m_bBusy = TRUE;
        EXPECT_FALSE(Drop(w, card.Host("a.jpeg")));
        dlg.m_bBusy = FALSE;
        EXPECT_FALSE(dlg.m_bLoaded);
        EXPECT_TRUE(Drop(w, card.Host("a.jpeg")));
        EXPECT_TRUE(dlg.m_bLoaded);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\a.jpeg");
        EXPECT_TRUE(messages.messages.empty());
    });
}

// A phone's photograph, stored on its side with the turn in its properties
// and an EXIF that says the same: opened from the command line upright and
// named in the title, listed by the browser beside the JPEGs, taken by a drop.
TEST(OpenFromOutside, APhonePhotographOpensUprightFromTheLineTheBrowserAndADrop) {
    TempStorage card;
    card.Folder("DCIM");
    HeifRecipe recipe;
    recipe.width = 1200;
    recipe.height = 900;
    recipe.orientation = heif_orientation_rotate_90_cw;
    recipe.exifTiff = OrientationTiff(6);
    ASSERT_TRUE(WriteTestHeif(recipe, PhonePhoto(recipe.width, recipe.height), card.Host("DCIM/cw.heic")));
    WriteFile(card.Host("DCIM/img_0001.jpg"), EncodeJpeg(JpegRecipe()));
    MessageRecorder messages;
    CMainDialog dlg;
    RunWindow(dlg, [&](QWidget* w) {
        dlg.OpenHostPhotograph(card.Host("DCIM/cw.heic"));
        Pump();
        const Seen outside = Look(dlg);
        ASSERT_TRUE(outside.loaded);
        EXPECT_EQ(outside.path, L"\\DCIM\\cw.heic");
        EXPECT_EQ(outside.preview.cx * 4, outside.preview.cy * 3) << "upright once: 900 x 1200";
        EXPECT_TRUE(w->windowTitle().contains("cw.heic")) << w->windowTitle().toStdString();

        PickInBrowser(dlg, {"DCIM", "cw.heic"});
        EXPECT_TRUE(Look(dlg).pixels == outside.pixels);
        dlg.OnNextPhotograph();
        Pump();
        EXPECT_EQ(Look(dlg).path, L"\\DCIM\\img_0001.jpg");
        EXPECT_TRUE(Drop(w, card.Host("DCIM/cw.heic")));
        EXPECT_EQ(Look(dlg).path, L"\\DCIM\\cw.heic");
        EXPECT_TRUE(messages.messages.empty());
    });
}

// ---------------------------------------------------------------- the storage of a host path

ino_t Inode(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

TEST(HostPhoto, NamesThePhotographInItsStorage) {
    TempStorage t;
    t.File("Card/DCIM/100CAM/IMG_7.JPG");
    t.File("Card/DCIM/Both.jpg", "upper");
    t.File("Card/DCIM/both.jpg", "lower");
    t.Link(t.Host("Card/DCIM"), "shortcut");

    HostPhoto p = LocateHostPhoto(t.Host("Card/DCIM/100CAM/IMG_7.JPG"), t.Host("Card"));
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.devicePath, L"\\DCIM\\100CAM\\img_7.jpg");
    // A second spelling in the folder keeps the one that was named.
    EXPECT_EQ(LocateHostPhoto(t.Host("Card/DCIM/Both.jpg"), t.Host("Card")).devicePath, L"\\DCIM\\Both.jpg");
    // Through a link to a folder inside the storage.
    p = LocateHostPhoto(t.Host("shortcut/100CAM/IMG_7.JPG"), t.Host("Card"));
    EXPECT_EQ(p.devicePath, L"\\DCIM\\100CAM\\img_7.jpg");

    EXPECT_NE(LocateHostPhoto(t.Host("Card/DCIM/100CAM/IMG_7.JPG"), t.Host("Card/DCIM/100CAM/x")).error, "");
    EXPECT_NE(LocateHostPhoto(t.Host("Card/DCIM/100CAM/IMG_7.JPG"), t.Host("Other")).error, "");
    EXPECT_NE(LocateHostPhoto(t.Host("Card/DCIM/100CAM/IMG_7.JPG"), t.Host("Card/DCIM/100CAM/IMG_7.JPG")).error, "");
    EXPECT_NE(LocateHostPhoto(t.Host("Card/NoSuchFolder/a.jpg"), t.Host("Card")).error, "");

    // Without a root: the file system's own, and the device path leads back
    // to the same file there.
    p = LocateHostPhoto(t.Host("Card/DCIM/100CAM/IMG_7.JPG"), "");
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(t.Host("Card").compare(0, p.root.size(), p.root), 0) << p.root;
    devfs::SetStorageRoot(p.root);
    EXPECT_EQ(Inode(devfs::ToHostPath(p.devicePath)), Inode(t.Host("Card/DCIM/100CAM/IMG_7.JPG")));
    devfs::SetStorageRoot(t.Root());
}

// ---------------------------------------------------------------- the command line

struct Parsed {
    int status;
    StartOptions options;
    std::string out, err;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "trimora");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    Parsed p;
    char *outText = nullptr, *errText = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE* out = open_memstream(&outText, &outSize);
    FILE* err = open_memstream(&errText, &errSize);
    p.status = ParseCommandLine(int(argv.size()), argv.data(), p.options, out, err);
    fclose(out);
    fclose(err);
    p.out = outText;
    p.err = errText;
    free(outText);
    free(errText);
    return p;
}

TEST(CommandLine, PhotographRootVersionHelpAndQtOptions) {
    TempStorage t;
    Parsed p = Parse({"-platform", "offscreen", "--root", t.Root(), "photo.jpg"});
    EXPECT_EQ(p.status, -1);
    EXPECT_EQ(p.options.root, t.Root());
    EXPECT_EQ(p.options.photo, "photo.jpg");
    p = Parse({"--style=Fusion", "--display", ":3"});
    EXPECT_EQ(p.status, -1);
    EXPECT_EQ(p.options.photo, "");
    EXPECT_EQ(p.options.root, "");

    p = Parse({"--version"});
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.out, "trimora " TRIMORA_VERSION "\n");
    p = Parse({"--help"});
    EXPECT_EQ(p.status, 0);
    for (const char* shown : {"Usage: trimora [options] [PHOTO]", "--root <DIR>", "PHOTO", "--platform <name>"})
        EXPECT_NE(p.out.find(shown), std::string::npos) << shown;

    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"a.jpg", "b.jpg"}, {"--root"}, {"--root", t.Host("none")}}) {
        p = Parse(bad);
        EXPECT_EQ(p.status, 2) << bad[0];
        EXPECT_EQ(p.err.rfind("trimora: ", 0), 0u) << p.err;
        EXPECT_EQ(p.out, "");
    }
}

}  // namespace
