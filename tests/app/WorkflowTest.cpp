// The whole program driven through its real dialogs: open a photograph from
// a storage card, frame it, adjust it, export it, and look at the file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "print/ExportPlan.h"
#include "print/WholePrint.h"
#include "print/CropFrame.h"
#include "print/OrderFile.h"
#include "app/MainDialog.h"
#include "imaging/DibImage.h"
#include "imaging/TestJpeg.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "resources/MainTemplate.h"
#include "support/GuiTestSupport.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"

namespace fs = std::filesystem;
using guitest::MessageRecorder;
using guitest::Repeat;
using guitest::Pump;
using guitest::WhenModal;

namespace {

QWidget* Item(QWidget* dialog, int id) {
    for (QWidget* w : dialog->findChildren<QWidget*>())
        if (w->property("trimoraId").isValid() && w->property("trimoraId").toInt() == id) return w;
    return nullptr;
}

void Tap(QWidget* w) {
    ASSERT_NE(w, nullptr);
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(w->width() / 2, w->height() / 2));
}

// In a storage browser: taps the items of a device path one by one (each
// tap reads that folder), then OK; an empty path taps Cancel.
void BrowseTo(QWidget* browser, const QStringList& names) {
    ASSERT_NE(browser, nullptr);
    auto* tree = browser->findChild<QTreeWidget*>();
    ASSERT_NE(tree, nullptr);
    if (names.isEmpty()) {
        Tap(Item(browser, IDCANCEL));
        return;
    }
    QTreeWidgetItem* item = tree->topLevelItem(0);
    tree->setCurrentItem(item);
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
}

// Arms the storage browser the next command opens over the window w: it
// must stand on `on` (anywhere, when empty), and Return takes it.
void ReturnInBrowser(QWidget* w, const QString& on = {}) {
    WhenModal(
        [on](QWidget* browser) {
            ASSERT_NE(browser, nullptr);
            auto* tree = browser->findChild<QTreeWidget*>();
            if (!on.isEmpty()) {
                ASSERT_NE(tree->currentItem(), nullptr);
                EXPECT_EQ(tree->currentItem()->text(0), on);
            }
            QTest::keyClick(tree, Qt::Key_Return);
        },
        w);
}

class Workflow : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/trimora-flow-XXXXXX";
        m_root = mkdtemp(tmpl);
        fs::create_directories(m_root + "/DCIM");
        fs::create_directories(m_root + "/Storage Card");
        devfs::SetStorageRoot(m_root);
    }
    void TearDown() override {
        devfs::SetStorageRoot("/");
        fs::remove_all(m_root);
    }
    // A photograph on the card, as a camera names it.
    std::string AddPhoto(const std::string& name, int w, int h, uint32_t seed = 7) {
        JpegRecipe recipe;
        recipe.width = w;
        recipe.height = h;
        recipe.seed = seed;
        const std::string path = m_root + "/DCIM/" + name;
        WriteFile(path, EncodeJpeg(recipe));
        return path;
    }

    // Runs the program; script runs once it shows, then the cross ends it.
    void Run(const std::function<void(CMainDialog&, QWidget*)>& script) {
        CMainDialog dlg;
        WhenModal([&](QWidget* w) {
            ASSERT_NE(w, nullptr);
            Pump();
            script(dlg, w);
            if (dlg.IsRunning()) Tap(dlg.GetDlgItemWidget(IDCANCEL));
            if (dlg.IsRunning()) dlg.EndDialog(IDCANCEL);
        });
        dlg.DoModal();
    }

    // Taps an icon whose command opens a browser, and answers the browser.
    void TapAndBrowse(CMainDialog& dlg, int icon, const QStringList& names) {
        WhenModal([&](QWidget* browser) { BrowseTo(browser, names); }, dlg.DialogWidget());
        Tap(dlg.GetDlgItemWidget(icon));
        Pump();
    }
    // The same for a key of the window w.
    void PressAndBrowse(QWidget* w, Qt::Key key, Qt::KeyboardModifiers modifiers, const QStringList& names) {
        WhenModal([&](QWidget* browser) { BrowseTo(browser, names); }, w);
        QTest::keyClick(w, key, modifiers);
        Pump();
    }

    std::string m_root;
};

// What the export must hold: the source's pixels in E, through the curve's
// table, encoded as a plain encoder does at quality 95.
std::string ExpectedExport(const std::string& source, const CRect& e, const ToneCurve* curve) {
    Decoded full = DecodeFully(source, false);
    std::vector<uint8_t> crop = CropRgb(full.pixels, full.width, e.left, e.top, e.right, e.bottom);
    if (curve)
        for (uint8_t& v : crop) v = static_cast<uint8_t>(curve->m_lut[v]);
    return EncodePlain(crop.data(), e.Width(), e.Height(), 95);
}

}  // namespace

TEST_F(Workflow, OpenFrameAdjustAndExport) {
    const std::string source = AddPhoto("IMG_0001.JPG", 1600, 1200);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        EXPECT_TRUE(messages.messages.empty());
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0001.jpg");
        EXPECT_EQ(dlg.m_sizeSource, CSize(1600, 1200));
        EXPECT_EQ(dlg.m_rcSource, CRect(0, 0, 1600, 1073));

        // A4, turned to portrait, moved with keys and with a drag.
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        combo->setCurrentIndex(13);
        emit combo->activated(13);
        Tap(dlg.GetDlgItemWidget(IDC_ROTATE));
        EXPECT_TRUE(dlg.m_bRotated);
        for (int i = 0; i < 5; ++i) QTest::keyClick(combo, Qt::Key_Right);
        QTest::keyClick(combo, Qt::Key_Down);
        const CRect f = dlg.m_frame.m_rect;
        const QPoint mid((f.left + f.right) / 2, (f.top + f.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, mid);
        QTest::mouseMove(w, mid + QPoint(7, 3));
        QTest::mouseRelease(w, Qt::LeftButton, {}, mid + QPoint(7, 3));
        EXPECT_EQ(dlg.m_frame.m_rect.left, f.left + 7);
        const CRect framed = dlg.m_rcSource;
        EXPECT_GT(framed.left, 0);
        if (const char* dir = getenv("TRIMORA_SHOTS")) dlg.GrabClient().save(QString(dir) + "/workflow_framed.png");

        // "Bright", applied.
        WhenModal(
            [&](QWidget* adjust) {
                auto* presets = adjust->findChild<QComboBox*>();
                ASSERT_NE(presets, nullptr);
                const int bright = presets->findText("Bright");
                ASSERT_EQ(bright, 6);
                presets->setCurrentIndex(bright);
                emit presets->activated(bright);
                Tap(Item(adjust, IDOK));
            },
            w);
        Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
        EXPECT_EQ(dlg.m_nPreset, 6);
        EXPECT_EQ(dlg.m_curve.m_nPoints, 3);

        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, L"File \"\\Storage Card\\img_0001_A4.jpg\" was created.");
        EXPECT_EQ(messages.messages[0].caption, L"Trimora");

        const std::string out = m_root + "/Storage Card/img_0001_A4.jpg";
        ASSERT_TRUE(fs::exists(out));
        const CRect e = MakeExportRect(framed, dlg.m_sizeSource, dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm());
        const Decoded written = DecodeFully(out, false);
        EXPECT_EQ(written.width, e.Width());
        EXPECT_EQ(written.height, e.Height());
        EXPECT_TRUE(ReadFile(out) == ExpectedExport(source, e, &dlg.m_curve)) << "exported bytes differ";
        // Nothing changed by the export.
        EXPECT_EQ(dlg.m_rcSource, framed);
        EXPECT_TRUE(dlg.m_bLoaded);
    });
}

// A curve applied to one photograph stays in force for the next, and the
// window shows the next one through it, as GO! writes it.
TEST_F(Workflow, TheCurveInForceShowsOnTheNextPhotographAndTheExportLineReachesTheEnd) {
    AddPhoto("img_0001.jpg", 1200, 900);
    AddPhoto("img_0002.jpg", 1600, 1200, 11);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        WhenModal(
            [&](QWidget* adjust) {
                auto* presets = adjust->findChild<QComboBox*>();
                ASSERT_NE(presets, nullptr);
                const int invert = presets->findText("Invert");
                presets->setCurrentIndex(invert);
                emit presets->activated(invert);
                Tap(Item(adjust, IDOK));
            },
            w);
        Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
        ASSERT_EQ(dlg.m_nPreset, 12);

        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0002.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        ASSERT_TRUE(dlg.m_bShowAdjusted);
        Pump(50);
        const int pw = dlg.m_sizePreview.cx, ph = dlg.m_sizePreview.cy;
        const QImage adjusted = DibToQImage(dlg.m_hbmAdjusted, pw, ph);
        const QImage shot = dlg.GrabClient();
        const CRect image = dlg.GetImageRect();
        const CRect f = dlg.m_frame.m_rect;
        int compared = 0;
        for (int y = 0; y < ph; y += 7)
            for (int x = 0; x < pw; x += 5) {
                const uint8_t* p = dlg.m_preview.Data() + (size_t(y) * pw + x) * 3;
                const QColor want(dlg.m_curve.m_lut[p[0]] & 0xFF, dlg.m_curve.m_lut[p[1]] & 0xFF,
                                  dlg.m_curve.m_lut[p[2]] & 0xFF);
                ASSERT_EQ(adjusted.pixelColor(x, y), want) << x << "," << y;
                // On the screen too, away from the frame's outline and handles.
                const int sx = image.left + x, sy = image.top + y;
                if (std::abs(sx - f.left) < 8 || std::abs(sx - f.right) < 8 || std::abs(sy - f.top) < 8 ||
                    std::abs(sy - f.bottom) < 8)
                    continue;
                ASSERT_EQ(shot.pixelColor(sx, sy), want) << x << "," << y;
                ++compared;
            }
        EXPECT_GT(compared, 500);

        // The fitted frame ends well above the photograph's last row; the
        // line still reaches the end of the preview area once the file is
        // written.
        ASSERT_LT(dlg.m_rcSource.bottom, 1200 * 9 / 10);
        const CRect a = dlg.GetPreviewArea();
        QColor lineEnd, lineMiddle;
        messages.onMessage = [&](const MessageRequest&) {
            const QImage now = dlg.GrabClient();
            lineEnd = now.pixelColor(a.right - 1, a.top + 2);
            lineMiddle = now.pixelColor(a.left + a.Width() / 2, a.top + 2);
        };
        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(lineMiddle, QColor(255, 0, 0));
        EXPECT_EQ(lineEnd, QColor(255, 0, 0));
    });
}

TEST_F(Workflow, CancelledBrowsersChangeNothing) {
    AddPhoto("img_0001.jpg", 1000, 800);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget*) {
        TapAndBrowse(dlg, IDC_OPEN, {});
        EXPECT_FALSE(dlg.m_bLoaded);
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        const CRect before = dlg.m_rcSource;
        TapAndBrowse(dlg, IDC_OPEN, {});
        EXPECT_TRUE(dlg.m_bLoaded);
        EXPECT_EQ(dlg.m_rcSource, before);
        TapAndBrowse(dlg, IDC_GO, {});
        EXPECT_TRUE(messages.messages.empty());
        EXPECT_EQ(fs::directory_iterator(m_root + "/Storage Card"), fs::directory_iterator());
    });
}

TEST_F(Workflow, RefusedAndBrokenPhotographs) {
    AddPhoto("img_0001.jpg", 1000, 800);
    AddPhoto("small.jpg", 799, 600);
    WriteFile(m_root + "/DCIM/notes.jpg", "this is not a photograph\n");
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget*) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "small.jpg"});
        ASSERT_EQ(messages.Texts(),
                  (std::vector<std::wstring>{L"Image must be lagrer then 800x600", L"Cannot open this file"}));
        EXPECT_EQ(messages.messages[1].caption, L"Warning");
        EXPECT_EQ(messages.messages[1].icon, MessageIcon::Information);
        EXPECT_FALSE(dlg.m_bLoaded);
        EXPECT_EQ(dlg.m_hbmPreview, nullptr);

        messages.messages.clear();
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "notes.jpg"});
        EXPECT_EQ(messages.Texts(), std::vector<std::wstring>{L"Cannot open this file"});
        EXPECT_FALSE(dlg.m_bLoaded);

        messages.messages.clear();
        Tap(dlg.GetDlgItemWidget(IDC_GO));
        Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
        EXPECT_EQ(messages.Texts(), (std::vector<std::wstring>{L"Image not loaded", L"Image not loaded"}));
        EXPECT_TRUE(dlg.IsRunning());
    });
}

TEST_F(Workflow, ADamagedPhotographOpensWithOneWarning) {
    const std::string whole = ReadFile(AddPhoto("whole.jpg", 1000, 800));
    WriteFile(m_root + "/DCIM/cut.jpg", whole.substr(0, whole.size() / 2));
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget*) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "whole.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        EXPECT_TRUE(messages.messages.empty());
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "cut.jpg"});
        EXPECT_TRUE(dlg.m_bLoaded);
        ASSERT_EQ(messages.Texts(), std::vector<std::wstring>{L"Image is damaged, its missing part is shown grey"});
        EXPECT_EQ(messages.messages[0].caption, L"Warning");
        EXPECT_EQ(messages.messages[0].icon, MessageIcon::Information);
    });
}

TEST_F(Workflow, ExportBesideTheSourceTwiceAndTheNameThatWouldOverwrite) {
    AddPhoto("img_0001.jpg", 1200, 900);
    AddPhoto(".jpg", 1200, 900, 9);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget*) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        TapAndBrowse(dlg, IDC_GO, {"DCIM"});
        const std::string out = m_root + "/DCIM/img_0001_10x15.jpg";
        ASSERT_TRUE(fs::exists(out));
        const std::string first = ReadFile(out);
        QTest::keyClick(dlg.DialogWidget(), Qt::Key_Down);
        TapAndBrowse(dlg, IDC_GO, {"DCIM"});
        EXPECT_NE(ReadFile(out), first);  // replaced, with the moved frame
        EXPECT_EQ(messages.messages.size(), 2u);

        // The name that gets no suffix would be the source itself. The
        // browser hides names that begin with a dot, so the photograph comes
        // in as a command-line or older open would leave it.
        messages.messages.clear();
        dlg.m_strSourcePath = L"\\DCIM\\.jpg";
        const std::string before = ReadFile(m_root + "/DCIM/.jpg");
        TapAndBrowse(dlg, IDC_GO, {"DCIM"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, L"You cannot overwrite the file, please select another folder.");
        EXPECT_EQ(messages.messages[0].caption, L"Warning:");
        EXPECT_EQ(ReadFile(m_root + "/DCIM/.jpg"), before);

        // The same file by another spelling: a folder that links to DCIM.
        fs::create_directory_symlink(m_root + "/DCIM", m_root + "/Alias");
        messages.messages.clear();
        TapAndBrowse(dlg, IDC_GO, {"Alias"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].caption, L"Warning:");
        EXPECT_EQ(ReadFile(m_root + "/DCIM/.jpg"), before);
    });
}

TEST_F(Workflow, FrameMovedDuringAnExportDoesNotChangeTheFile) {
    const std::string source = AddPhoto("img_0001.jpg", 2400, 1800);
    MessageRecorder messages;
    int keysWhileBusy = 0;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        QTest::keyClick(w, Qt::Key_Down);
        const CRect atStart = dlg.m_rcSource;
        const CRect e = MakeExportRect(atStart, dlg.m_sizeSource, dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm());
        WhenModal(
            [&](QWidget* browser) {
                Repeat([&] {
                    if (!dlg.m_bBusy) return !messages.messages.empty();
                    ++keysWhileBusy;
                    QTest::keyClick(w, Qt::Key_Down);
                    QTest::keyClick(w, Qt::Key_Down);
                    return true;
                });
                BrowseTo(browser, {"Storage Card"});
            },
            w);
        Tap(dlg.GetDlgItemWidget(IDC_GO));
        EXPECT_GT(keysWhileBusy, 0);
        EXPECT_NE(dlg.m_rcSource, atStart);  // the keys did move the frame
        const std::string out = m_root + "/Storage Card/img_0001_10x15.jpg";
        EXPECT_TRUE(ReadFile(out) == ExpectedExport(source, e, nullptr)) << "exported bytes differ";
    });
}

TEST_F(Workflow, CommandsDuringADecodeDoNothing) {
    AddPhoto("big.jpg", 2400, 1800);
    MessageRecorder messages;
    int tapsWhileBusy = 0;
    Run([&](CMainDialog& dlg, QWidget*) {
        // Once the browser has gone, the decode runs; taps arrive through its
        // event pump.
        WhenModal(
            [&](QWidget* browser) {
                Repeat([&] {
                    if (dlg.m_bLoaded) return true;  // too late: the decode is over
                    if (!dlg.m_bBusy) return false;
                    ++tapsWhileBusy;
                    Tap(dlg.GetDlgItemWidget(IDCANCEL));
                    Tap(dlg.GetDlgItemWidget(IDC_OPEN));
                    Tap(dlg.GetDlgItemWidget(IDC_GO));
                    Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
                    Tap(dlg.GetDlgItemWidget(IDC_ROTATE));
                    return true;
                });
                BrowseTo(browser, {"DCIM", "big.jpg"});
            },
            dlg.DialogWidget());
        Tap(dlg.GetDlgItemWidget(IDC_OPEN));
        EXPECT_TRUE(dlg.IsRunning());
        EXPECT_TRUE(dlg.m_bLoaded);
        EXPECT_FALSE(dlg.m_bRotated);
    });
    EXPECT_EQ(tapsWhileBusy, 1);
    EXPECT_TRUE(messages.messages.empty());
}

namespace {
QString Title(CMainDialog& dlg) { return dlg.DialogWidget()->windowTitle(); }
QString Resolution(CMainDialog& dlg) {
    return qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_RESOLUTION))->text();
}
}  // namespace

TEST_F(Workflow, PageKeysWalkTheFolderAndEachPhotographComesBackAsLeft) {
    AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    WriteFile(m_root + "/DCIM/img_0003.jpg", "not a photograph\n");
    AddPhoto("img_0004.jpg", 799, 600, 12);
    AddPhoto("img_0005.jpg", 1000, 800, 13);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget*) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        EXPECT_EQ(Title(dlg), "img_0001.jpg (1 of 5)");
        // 1600 x 1074 pixels over 15.2 x 10.2 cm, as trimora-cli says it.
        EXPECT_EQ(Resolution(dlg), "267 dpi");

        // The keys belong to the window, not to the format list.
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_PageUp);
        EXPECT_EQ(combo->currentIndex(), 2);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0001.jpg");
        EXPECT_EQ(dlg.m_strNotice, L"This is the folder's first photograph");

        combo->setCurrentIndex(13);
        emit combo->activated(13);
        EXPECT_EQ(Resolution(dlg), "137 dpi low");
        for (int i = 0; i < 3; ++i) QTest::keyClick(combo, Qt::Key_Down);
        const CRect left = dlg.m_rcSource;
        const CRect leftOnScreen = dlg.m_frame.m_rect;
        ASSERT_GT(left.top, 0);

        // A photograph seen for the first time takes what is in force.
        QTest::keyClick(combo, Qt::Key_PageDown);
        EXPECT_EQ(combo->currentIndex(), 13);
        EXPECT_EQ(Title(dlg), "img_0002.jpg (2 of 5)");
        EXPECT_EQ(dlg.m_rcSource, FitSourceRect(1200, 900, dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm()));
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        QTest::keyClick(dlg.DialogWidget(), Qt::Key_Right);
        const CRect second = dlg.m_rcSource;

        // Two that cannot be opened are passed over, said in one line.
        QTest::keyClick(combo, Qt::Key_PageDown);
        EXPECT_EQ(Title(dlg), "img_0005.jpg (5 of 5)");
        EXPECT_EQ(dlg.m_nFormat, 0);
        EXPECT_EQ(dlg.m_strNotice,
                  L"Skipped img_0003.jpg: not a JPEG, or damaged; img_0004.jpg: smaller than 800x600");
        QTest::keyClick(combo, Qt::Key_PageDown);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0005.jpg");

        QTest::keyClick(combo, Qt::Key_PageUp);
        EXPECT_EQ(Title(dlg), "img_0002.jpg (2 of 5)");
        EXPECT_EQ(dlg.m_rcSource, second);
        QTest::keyClick(combo, Qt::Key_PageUp);
        EXPECT_EQ(Title(dlg), "img_0001.jpg (1 of 5)");
        EXPECT_EQ(dlg.m_rcSource, left);
        EXPECT_EQ(dlg.m_nFormat, 13);
        EXPECT_EQ(combo->currentIndex(), 13);
        EXPECT_EQ(Resolution(dlg), "137 dpi low");
        EXPECT_EQ(qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_STATUS))->text(), "Selected format: 29.7x21.0 cm");
        // The frame on the screen is the kept one, not a fitted one.
        EXPECT_EQ(dlg.m_frame.m_rect, leftOnScreen);
        EXPECT_EQ(dlg.m_order.GetCount(), 3u);
        if (const char* dir = getenv("TRIMORA_SHOTS")) dlg.GrabClient().save(QString(dir) + "/sitting_back.png");
    });
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Workflow, GoRemembersTheFolderAndTheOrderWritesEveryPhotographAsGoDoes) {
    AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    AddPhoto("img_0003.jpg", 1000, 800, 13);
    MessageRecorder messages;
    std::vector<std::wstring> counts;
    int crossTaps = 0;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        QTest::keyClick(w, Qt::Key_R, Qt::ControlModifier);
        QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier);
        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        const std::string out = m_root + "/Storage Card/img_0001_10x15.jpg";
        const std::string byGo = ReadFile(out);
        fs::remove(out);

        // The second GO!: the folder is there already, Return writes.
        ReturnInBrowser(w, "Storage Card");
        QTest::keyClick(w, Qt::Key_G, Qt::ControlModifier);
        EXPECT_TRUE(ReadFile(out) == byGo);
        // The open picture starts on the photograph itself.
        WhenModal(
            [&](QWidget* browser) {
                auto* tree = browser->findChild<QTreeWidget*>();
                EXPECT_EQ(tree->currentItem()->text(0), "img_0001.jpg");
                Tap(Item(browser, IDCANCEL));
            },
            w);
        QTest::keyClick(w, Qt::Key_O, Qt::ControlModifier);
        ASSERT_EQ(messages.messages.size(), 2u);

        QTest::keyClick(w, Qt::Key_PageDown);
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        combo->setCurrentIndex(13);
        emit combo->activated(13);
        QTest::keyClick(w, Qt::Key_PageDown);
        QTest::keyClick(w, Qt::Key_Down);
        const CRect third = dlg.m_rcSource;
        const CSize thirdSize = dlg.m_sizeSource;
        fs::remove(out);

        WhenModal(
            [&](QWidget* browser) {
                EXPECT_EQ(browser->windowTitle(), "Select folder for placing the files");
                Repeat([&] {
                    if (!dlg.m_bBusy) return !messages.messages.empty() && messages.messages.size() > 2;
                    if (counts.empty() || counts.back() != dlg.m_strNotice) counts.push_back(dlg.m_strNotice);
                    if (crossTaps++ == 0) Tap(dlg.GetDlgItemWidget(IDCANCEL));
                    return false;
                });
                QTest::keyClick(browser->findChild<QTreeWidget*>(), Qt::Key_Return);
            },
            w);
        QTest::keyClick(w, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(dlg.IsRunning());
        ASSERT_EQ(messages.messages.size(), 3u);
        // Two of them at A4 are below what labs accept; the message says which.
        const std::wstring root = FromUtf8(m_root);
        EXPECT_EQ(messages.messages[2].text, L"3 files were created in \"\\Storage Card\\\".\n" + root +
                                                 L"/DCIM/img_0002.jpg: low resolution for A4: 77 dpi, below 150 dpi\n" +
                                                 root + L"/DCIM/img_0003.jpg: low resolution for A4: 68 dpi, below 150 dpi");
        EXPECT_EQ(messages.messages[2].caption, L"Trimora");
        EXPECT_EQ(messages.messages[2].icon, MessageIcon::Information);  // two prints worth a look
        EXPECT_TRUE(dlg.m_strNotice.empty());

        // Each file as GO! writes it with that photograph's own settings.
        EXPECT_TRUE(ReadFile(out) == byGo);
        EXPECT_TRUE(ReadFile(m_root + "/Storage Card/img_0003_A4.jpg") ==
                    ExpectedExport(m_root + "/DCIM/img_0003.jpg",
                                   MakeExportRect(third, thirdSize, dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm()),
                                   nullptr));
        EXPECT_TRUE(fs::exists(m_root + "/Storage Card/img_0002_A4.jpg"));
    });
    EXPECT_GT(crossTaps, 0);
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts.back(), L"3 of 3");
}

// A photograph left and come back to shows its frame on the very pixels it
// was left on, wherever it was dragged, and GO! then writes the same file.
TEST_F(Workflow, AFrameComesBackExactlyWhereItWasLeft) {
    AddPhoto("img_0001.jpg", 3000, 2000);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        const std::string out = m_root + "/Storage Card/img_0001_10x15.jpg";
        // A smaller frame, with room to move every way.
        const CRect handle = dlg.m_frame.GetHandleRect(2);
        const QPoint corner((handle.left + handle.right) / 2, (handle.top + handle.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, corner);
        QTest::mouseMove(w, corner - QPoint(dlg.m_frame.m_rect.Width() / 2, 0));
        QTest::mouseRelease(w, Qt::LeftButton, {}, corner - QPoint(dlg.m_frame.m_rect.Width() / 2, 0));
        QTest::keyClick(w, Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier);
        ASSERT_LT(dlg.m_rcSource.Width(), 2000);
        int differed = 0;
        for (const QPoint by : {QPoint(13, 9), QPoint(29, 4), QPoint(-17, 11), QPoint(5, 23), QPoint(-7, -31)}) {
            const CRect f = dlg.m_frame.m_rect;
            const QPoint mid((f.left + f.right) / 2, (f.top + f.bottom) / 2);
            QTest::mousePress(w, Qt::LeftButton, {}, mid);
            QTest::mouseMove(w, mid + by);
            QTest::mouseRelease(w, Qt::LeftButton, {}, mid + by);
            const CRect placed = dlg.m_frame.m_rect;
            const CRect kept = dlg.m_rcSource;
            TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
            const std::string before = ReadFile(out);

            QTest::keyClick(w, Qt::Key_PageDown);
            ASSERT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0002.jpg");
            QTest::keyClick(w, Qt::Key_PageUp);
            ASSERT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0001.jpg");
            EXPECT_EQ(dlg.m_frame.m_rect, placed) << by.x() << "," << by.y();
            EXPECT_EQ(dlg.m_rcSource, kept);
            differed += !(CRect(dlg.SourceToClient(kept.left, kept.top),
                                dlg.SourceToClient(kept.right, kept.bottom)) == placed);
            // A step there and back: from the right pixels it ends on the
            // frame that was left.
            QTest::keyClick(w, Qt::Key_Left);
            QTest::keyClick(w, Qt::Key_Right);
            QTest::keyClick(w, Qt::Key_Up);
            QTest::keyClick(w, Qt::Key_Down);
            EXPECT_EQ(dlg.m_rcSource, kept);
            fs::remove(out);
            TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
            EXPECT_TRUE(ReadFile(out) == before) << "the file differs after coming back";
        }
        // The truncating way back would have moved at least one of them.
        EXPECT_GT(differed, 0);
    });
}

// GO! starts beside the photograph, and the status row's notice says where
// the file went on this computer, or why it did not; the curve in force is
// named beside the resolution, on this photograph and the next, in the
// status line's own font.
TEST_F(Workflow, GoSaysWhereTheFileWentOrWhyNotAndTheCurveInForceIsNamed) {
    AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    fs::create_directories(m_root + "/Storage Card/img_0001_10x15.jpg");  // in the way
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        auto* curve = qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_CURVE));
        auto* status = qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_STATUS));
        auto* dpi = qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_RESOLUTION));
        EXPECT_EQ(curve->text(), "");

        ReturnInBrowser(w, "DCIM");
        Tap(dlg.GetDlgItemWidget(IDC_GO));
        ASSERT_EQ(messages.Texts(), std::vector<std::wstring>{L"File \"\\DCIM\\img_0001_10x15.jpg\" was created."});
        const std::string written = m_root + "/DCIM/img_0001_10x15.jpg";
        EXPECT_TRUE(fs::exists(written));
        fs::remove(written);  // not a photograph of the walk below
        EXPECT_EQ(dlg.m_strNotice, L"Created " + QString::fromStdString(written).toStdWString());

        messages.messages.clear();
        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        EXPECT_EQ(messages.Texts(), std::vector<std::wstring>{L"Cannot create file"});
        EXPECT_EQ(dlg.m_strNotice, QString::fromStdString(m_root + "/Storage Card/img_0001_10x15.jpg")
                                       .toStdWString() + L": cannot create the file (Is a directory)");

        // "Bright", applied: named, and still named on the next photograph.
        const QFont font = status->font();
        WhenModal(
            [&](QWidget* adjust) {
                auto* presets = adjust->findChild<QComboBox*>();
                presets->setCurrentIndex(presets->findText("Bright"));
                emit presets->activated(presets->currentIndex());
                Tap(Item(adjust, IDOK));
            },
            w);
        Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
        EXPECT_EQ(curve->text(), "Tone: Bright");
        QTest::keyClick(w, Qt::Key_PageDown);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0002.jpg");
        EXPECT_EQ(curve->text(), "Tone: Bright");
        EXPECT_FALSE(curve->geometry().intersects(dpi->geometry()));
        EXPECT_FALSE(curve->geometry().intersects(dlg.GetDlgItemWidget(IDC_NOTICE)->geometry()));

        // Low and not low again, in one font.
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        for (int format : {13, 2, 16, 2}) {
            combo->setCurrentIndex(format);
            emit combo->activated(format);
            for (QLabel* label : {dpi, curve, status}) {
                EXPECT_EQ(label->font(), font) << format;
                EXPECT_EQ(label->fontInfo().pixelSize(), status->fontInfo().pixelSize()) << format;
            }
        }
        EXPECT_TRUE(dpi->text().endsWith("dpi")) << dpi->text().toStdString();

        // A curve that is no preset's any more is still said to be there.
        dlg.m_curve.m_y[1] += 3;
        WhenModal([&](QWidget* adjust) { Tap(Item(adjust, IDOK)); }, w);
        Tap(dlg.GetDlgItemWidget(IDC_ADJUST));
        EXPECT_EQ(curve->text(), "Tone: own curve");
    });
}

namespace {
// The window, with a hand in its progress line: the export's progress is
// where a test can act while the file is being written.
class WatchedWindow : public CMainDialog {
public:
    void DrawProgress(int percent) override {
        if (onProgress && m_bBusy) onProgress();
        CMainDialog::DrawProgress(percent);
    }
    std::function<void()> onProgress;
};
}  // namespace

// The destination folder turns read-only while GO! writes: the notice names
// the unfinished file it had to leave there.
TEST_F(Workflow, GoNamesTheTemporaryItCouldNotRemove) {
    AddPhoto("img_0001.jpg", 2400, 1800);
    const std::string folder = m_root + "/Storage Card";
    chmod(m_root.c_str(), 0755);
    if (chown(folder.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give the folder away";
    MessageRecorder messages;
    std::string left;
    WatchedWindow dlg;
    dlg.onProgress = [&] {
        if (!left.empty()) return;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().extension() == ".tmp") {
                left = e.path().string();
                chmod(folder.c_str(), 0555);
            }
    };
    WhenModal([&](QWidget*) {
        Pump();
        Unprivileged user;
        if (geteuid() == 0) {
            dlg.EndDialog(IDCANCEL);
            return;
        }
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        dlg.EndDialog(IDCANCEL);
    });
    dlg.DoModal();
    if (left.empty() && messages.messages.empty()) GTEST_SKIP() << "cannot drop root here";
    ASSERT_FALSE(left.empty());
    EXPECT_TRUE(fs::exists(left));
    EXPECT_EQ(messages.Texts(), std::vector<std::wstring>{L"Cannot create file"});
    const std::wstring named = QString::fromStdString("; the unfinished file " + left +
                                                      " cannot be removed (Permission denied); delete it by hand")
                                   .toStdWString();
    EXPECT_TRUE(dlg.m_strNotice.ends_with(named)) << QString::fromStdWString(dlg.m_strNotice).toStdString();
    chmod(folder.c_str(), 0755);
}

namespace {
// trimora-cli run on host paths; its exit status.
int RunCli(const std::string& args) {
    const std::string command = std::string("'") + TRIMORA_CLI + "' " + args + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

// The whole photograph: the window shows the white print and the frame
// rests; the dpi is the print's; GO! writes what trimora-cli writes; each
// photograph keeps its choice, and the whole order writes it.
TEST_F(Workflow, TheWholePhotographOnWhiteAsTrimoraCliWritesIt) {
    const std::string source = AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    fs::create_directories(m_root + "/Order");
    fs::create_directories(m_root + "/cli");
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        ASSERT_TRUE(dlg.m_bLoaded);
        Tap(dlg.GetDlgItemWidget(IDC_ROTATE));  // 10.2 x 15.2 cm: white above and below
        QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier);
        const CRect framed = dlg.m_rcSource, frameRect = dlg.m_frame.m_rect;
        auto* whole = qobject_cast<QCheckBox*>(dlg.GetDlgItemWidget(IDC_WHOLE));
        ASSERT_NE(whole, nullptr);
        EXPECT_EQ(whole->text(), "Whole photograph");
        EXPECT_NE(whole->toolTip().indexOf("(Ctrl+Shift+W)"), -1);
        EXPECT_FALSE(whole->isChecked());

        QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(whole->isChecked());
        EXPECT_TRUE(dlg.m_bWholePhoto);
        // The frame rests: neither a drag nor the arrows move it.
        const QPoint mid((frameRect.left + frameRect.right) / 2, (frameRect.top + frameRect.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, mid);
        QTest::mouseMove(w, mid - QPoint(20, 30));
        QTest::mouseRelease(w, Qt::LeftButton, {}, mid - QPoint(20, 30));
        QTest::keyClick(w, Qt::Key_Left, Qt::ShiftModifier);
        QTest::keyClick(w, Qt::Key_Down);
        EXPECT_EQ(dlg.m_rcSource, framed);
        EXPECT_EQ(dlg.m_frame.m_rect, frameRect);
        // The print: 1600 x 2384 pixels over 10.2 x 15.2 cm.
        const WholePrint print = MakeWholePrint(CSize(1600, 1200), dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm());
        ASSERT_EQ(print.print, CSize(1600, 2384));
        EXPECT_EQ(Resolution(dlg), QString("%1 dpi").arg(DotsPerInch(print.print, 10.2f, 15.2f)));

        // On the screen: white paper of the print's proportions, the
        // photograph in its middle, no frame.
        Pump(50);
        const QImage shot = dlg.GrabClient();
        if (const char* dir = getenv("TRIMORA_SHOTS")) shot.save(QString(dir) + "/workflow_whole.png");
        const WholePrintView view = FitWholePrint(dlg.GetPreviewArea(), print, dlg.m_sizeSource, dlg.m_sizePreview);
        EXPECT_NEAR(double(view.print.Height()) / view.print.Width(), 2384.0 / 1600, 0.02);
        const QColor white(255, 255, 255);
        const int cx = (view.print.left + view.print.right) / 2;
        EXPECT_EQ(shot.pixelColor(cx, view.print.top + 2), white);
        EXPECT_EQ(shot.pixelColor(cx, view.print.bottom - 3), white);
        EXPECT_EQ(shot.pixelColor(view.photo.left + 1, view.photo.top - 2), white);
        EXPECT_NE(shot.pixelColor(view.print.left - 3, (view.print.top + view.print.bottom) / 2), white);
        // The photograph's middle, as its preview has it (scaled, so nearly).
        const uint8_t* p =
            dlg.m_preview.Data() + (size_t(dlg.m_sizePreview.cy / 2) * dlg.m_sizePreview.cx + dlg.m_sizePreview.cx / 2) * 3;
        const QColor seen = shot.pixelColor((view.photo.left + view.photo.right) / 2, (view.photo.top + view.photo.bottom) / 2);
        EXPECT_NEAR(seen.red(), p[0], 40);
        EXPECT_NEAR(seen.green(), p[1], 40);

        TapAndBrowse(dlg, IDC_GO, {"Storage Card"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, L"File \"\\Storage Card\\img_0001_10x15.jpg\" was created.");
        const std::string byGo = ReadFile(m_root + "/Storage Card/img_0001_10x15.jpg");
        ASSERT_EQ(RunCli("export '" + source + "' --to '" + m_root + "/cli' --frame whole --portrait"), 0);
        EXPECT_TRUE(byGo == ReadFile(m_root + "/cli/img_0001_10x15.jpg")) << "GO! and trimora-cli differ";
        const Decoded written = DecodeFully(m_root + "/Storage Card/img_0001_10x15.jpg", false);
        EXPECT_EQ(written.width, 1600);
        EXPECT_EQ(written.height, 2384);

        // A photograph seen first takes the choice in force; cleared there,
        // each comes back as it was left.
        QTest::keyClick(w, Qt::Key_PageDown);
        ASSERT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0002.jpg");
        EXPECT_TRUE(whole->isChecked());
        Tap(whole);
        EXPECT_FALSE(dlg.m_bWholePhoto);
        const CRect second = dlg.m_rcSource;
        QTest::keyClick(w, Qt::Key_PageUp);
        EXPECT_TRUE(whole->isChecked());
        EXPECT_TRUE(dlg.m_bWholePhoto);
        EXPECT_EQ(Resolution(dlg), QString("%1 dpi").arg(DotsPerInch(print.print, 10.2f, 15.2f)));

        messages.messages.clear();
        TapAndBrowse(dlg, IDC_GO_ALL, {"Order"});
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, L"2 files were created in \"\\Order\\\".");
        EXPECT_TRUE(ReadFile(m_root + "/Order/img_0001_10x15.jpg") == byGo);
        EXPECT_TRUE(ReadFile(m_root + "/Order/img_0002_10x15.jpg") ==
                    ExpectedExport(m_root + "/DCIM/img_0002.jpg",
                                   MakeExportRect(second, CSize(1200, 900), dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm()),
                                   nullptr));

        // Cleared, the frame is back where it was left, and moves again.
        QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_FALSE(dlg.m_bWholePhoto);
        EXPECT_EQ(dlg.m_rcSource, framed);
        QTest::keyClick(w, Qt::Key_Left);
        EXPECT_NE(dlg.m_rcSource, framed);
    });
}

// A sitting saved with Ctrl+S and opened in a new window comes back as it was
// left: the first photograph with its frame on the same pixels, the copies,
// and Ctrl+Shift+G writes the very files the first sitting wrote. A
// photograph gone since is named once and left out; - down to none takes one
// out of the order.
TEST_F(Workflow, AnOrderSavedAndOpenedInANewWindowWritesTheSameFiles) {
    AddPhoto("img_0001.jpg", 3000, 2000);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    const std::string first = m_root + "/Storage Card/img_0001_10x15.jpg";
    const std::string second = m_root + "/Storage Card/img_0002_A4.jpg";
    auto writeAll = [&](CMainDialog& dlg, QWidget* w) {
        PressAndBrowse(w, Qt::Key_G, Qt::ControlModifier | Qt::ShiftModifier, {"Storage Card"});
        EXPECT_TRUE(dlg.IsRunning());
    };
    MessageRecorder messages;
    CRect placed, kept;
    std::string firstBytes, secondBytes;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        // A smaller frame, dragged off the grid the preview maps to.
        const CRect handle = dlg.m_frame.GetHandleRect(2);
        const QPoint corner((handle.left + handle.right) / 2, (handle.top + handle.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, corner);
        QTest::mouseMove(w, corner - QPoint(dlg.m_frame.m_rect.Width() / 3, 0));
        QTest::mouseRelease(w, Qt::LeftButton, {}, corner - QPoint(dlg.m_frame.m_rect.Width() / 3, 0));
        const CRect f = dlg.m_frame.m_rect;
        const QPoint mid((f.left + f.right) / 2, (f.top + f.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, mid);
        QTest::mouseMove(w, mid + QPoint(29, 13));
        QTest::mouseRelease(w, Qt::LeftButton, {}, mid + QPoint(29, 13));
        placed = dlg.m_frame.m_rect;
        kept = dlg.m_rcSource;

        QTest::keyClick(w, Qt::Key_PageDown);
        ASSERT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0002.jpg");
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        combo->setCurrentIndex(13);
        emit combo->activated(13);
        auto* resolution = qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_RESOLUTION));
        const QString dpi = resolution->text();
        QTest::keyClick(w, Qt::Key_Plus, Qt::ShiftModifier);  // + on the main keyboard
        QTest::keyClick(w, Qt::Key_Plus, Qt::KeypadModifier);
        EXPECT_EQ(resolution->text(), dpi + QString::fromUtf8(" \u00d73"));
        writeAll(dlg, w);
        firstBytes = ReadFile(first);
        secondBytes = ReadFile(second);
        ASSERT_FALSE(firstBytes.empty());
        ASSERT_FALSE(secondBytes.empty());

        // Ctrl+S: the browser stands on the photograph's folder; Return saves.
        ReturnInBrowser(w, "DCIM");
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
        EXPECT_EQ(dlg.m_strNotice, L"Order of 2 saved as " + FromUtf8(m_root) + L"/DCIM/order.trimora");
    });
    // Saved: closing asks nothing.
    EXPECT_TRUE(messages.questions.empty());
    ASSERT_EQ(messages.messages.size(), 1u);  // the order's closing message
    const std::string text = ReadFile(m_root + "/DCIM/order.trimora");
    EXPECT_NE(text.find("\"copies\": 3"), std::string::npos) << text;
    fs::remove(first);
    fs::remove(second);

    Run([&](CMainDialog& dlg, QWidget* w) {
        dlg.OpenHostPhotograph(m_root + "/DCIM/order.trimora");
        Pump();
        ASSERT_TRUE(dlg.m_bLoaded);
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0001.jpg");
        EXPECT_EQ(dlg.m_frame.m_rect, placed);
        EXPECT_EQ(dlg.m_rcSource, kept);
        ASSERT_EQ(dlg.m_order.GetCount(), 2u);
        EXPECT_EQ(dlg.m_order.GetCopies(1), 3);
        writeAll(dlg, w);
        EXPECT_TRUE(ReadFile(first) == firstBytes);
        EXPECT_TRUE(ReadFile(second) == secondBytes);
        fs::remove(first);
        fs::remove(second);

        // - once more than there are copies: the photograph leaves the
        // order, and walking off it does not put it back.
        QTest::keyClick(w, Qt::Key_Minus);
        EXPECT_EQ(dlg.m_order.GetCount(), 1u);
        QTest::keyClick(w, Qt::Key_PageDown);
        QTest::keyClick(w, Qt::Key_PageUp);
        EXPECT_EQ(dlg.m_order.GetCount(), 1u);
        writeAll(dlg, w);
        EXPECT_FALSE(fs::exists(first));
        EXPECT_TRUE(ReadFile(second) == secondBytes);
    });
    // One photograph, unsaved: nothing to ask.
    EXPECT_TRUE(messages.questions.empty());

    fs::remove(m_root + "/DCIM/img_0001.jpg");
    messages.messages.clear();
    Run([&](CMainDialog& dlg, QWidget*) {
        dlg.OpenHostPhotograph(m_root + "/DCIM/order.trimora");
        Pump();
        EXPECT_EQ(dlg.m_strSourcePath, L"\\DCIM\\img_0002.jpg");
        EXPECT_EQ(dlg.m_order.GetCount(), 1u);
    });
    ASSERT_EQ(messages.messages.size(), 1u);
    EXPECT_NE(messages.messages[0].text.find(L"img_0001.jpg"), std::wstring::npos) << messages.messages[0].text;
}

// Closing with an unsaved order of two photographs asks once: Cancel stays,
// Yes saves through the same browser and then closes.
TEST_F(Workflow, ClosingAnUnsavedOrderAsksWhetherToSaveIt) {
    AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        QTest::keyClick(w, Qt::Key_PageDown);
        messages.answer = Answer::Cancel;
        Tap(dlg.GetDlgItemWidget(IDCANCEL));
        ASSERT_TRUE(dlg.IsRunning());
        ASSERT_EQ(messages.questions.size(), 1u);
        EXPECT_EQ(messages.questions[0].text, L"The order of 2 photographs is not saved. Save it?");

        messages.answer = Answer::Yes;
        ReturnInBrowser(w);
        QTest::keyClick(w, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_FALSE(dlg.IsRunning());
        EXPECT_EQ(messages.questions.size(), 2u);
    });
    PrintOrder saved;
    std::wstring error;
    ASSERT_TRUE(LoadOrderFile(L"\\DCIM\\order.trimora", saved, error)) << ToUtf8(error);
    EXPECT_EQ(saved.GetCount(), 2u);
    EXPECT_TRUE(messages.messages.empty());
}

// Ctrl+L lists the order with the prints per format; a photograph taken out
// there is out of what Ctrl+Shift+G writes. A camera's print marks open as an
// order: its photographs with their quantities as copies, each framed as a
// photograph opened for the first time is.
TEST_F(Workflow, TheOrderListTakesOutAndACamerasMarksOpenAsAnOrder) {
    AddPhoto("IMG_0001.JPG", 1600, 1200);
    AddPhoto("IMG_0002.JPG", 1200, 900, 11);
    fs::create_directories(m_root + "/MISC");
    WriteFile(m_root + "/MISC/AUTPRINT.MRK",
              "[HDR]\r\nGEN REV = 01.00\r\nGEN CRT = \"CAMERA\"\r\nGEN DTM = 2026:01:02:03:04:05\r\n"
              "[JOB]\r\nPRT PID = 001\r\nPRT TYP = STD\r\nPRT QTY = 002\r\nIMG FMT = EXIF2 -J\r\n"
              "<IMG SRC = \"../DCIM/IMG_0002.JPG\">\r\n"
              "[JOB]\r\nPRT PID = 002\r\nPRT TYP = STD\r\nPRT QTY = 001\r\nIMG FMT = EXIF2 -J\r\n"
              "<IMG SRC = \"../DCIM/IMG_0001.JPG\">\r\n");
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        auto* combo = qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_FORMAT));
        combo->setCurrentIndex(13);
        emit combo->activated(13);
        dlg.OpenHostPhotograph(m_root + "/MISC/AUTPRINT.MRK");
        Pump();
        ASSERT_EQ(dlg.m_order.GetCount(), 2u);
        EXPECT_EQ(dlg.m_strSourcePath, dlg.m_order.GetPath(0));
        EXPECT_NE(devfs::LowerName(dlg.m_strSourcePath).find(L"img_0002.jpg"), std::wstring::npos);
        EXPECT_EQ(dlg.m_order.GetCopies(0), 2);
        EXPECT_EQ(dlg.m_order.GetCopies(1), 1);
        const PhotoSettings& second = dlg.m_order.GetSettings(1);
        EXPECT_EQ(second.nFormat, 13);
        EXPECT_EQ(second.rcSource, FitSourceRect(1600, 1200, dlg.GetFrameWidthCm(), dlg.GetFrameHeightCm()));
        EXPECT_TRUE(messages.messages.empty());

        WhenModal(
            [&](QWidget* list) {
                ASSERT_NE(list, nullptr);
                auto* tree = list->findChild<QTreeWidget*>();
                ASSERT_EQ(tree->topLevelItemCount(), 2);
                EXPECT_EQ(tree->topLevelItem(0)->text(2), "2");
                bool totals = false;
                for (QLabel* label : list->findChildren<QLabel*>()) totals = totals || label->text() == "Prints A4: 3";
                EXPECT_TRUE(totals);
                tree->setCurrentItem(tree->topLevelItem(1));
                for (QPushButton* b : list->findChildren<QPushButton*>())
                    if (b->text() == "Take out") Tap(b);
                EXPECT_EQ(tree->topLevelItemCount(), 1);
                for (QPushButton* b : list->findChildren<QPushButton*>())
                    if (b->text() == "Close") Tap(b);
            },
            w);
        QTest::keyClick(w, Qt::Key_L, Qt::ControlModifier);
        ASSERT_EQ(dlg.m_order.GetCount(), 1u);
        // Walking onto the photograph taken out does not put it back.
        QTest::keyClick(w, Qt::Key_PageUp);
        QTest::keyClick(w, Qt::Key_PageDown);
        EXPECT_EQ(dlg.m_order.GetCount(), 1u);
    });
}

// Ctrl+Shift+K: the order onto a card for a kiosk, in a new DCF folder with
// the print marks, the very files trimora-cli's order --card writes. Marks
// already on the card go only when the user says Yes; a photograph that
// cannot be written is named and left out of the marks.
TEST_F(Workflow, CtrlShiftKWritesTheOrderOntoACardAndAsksBeforeReplacingItsMarks) {
    const std::string first = AddPhoto("img_0001.jpg", 1600, 1200);
    AddPhoto("img_0002.jpg", 1200, 900, 11);
    fs::create_directories(m_root + "/Card");
    fs::create_directories(m_root + "/CliCard");
    const std::string card = m_root + "/Card/";
    // Two marks files agree but for the moment they were written.
    auto undated = [](std::string marks) {
        const size_t at = marks.find("GEN DTM = ");
        return at == std::string::npos ? marks : marks.erase(at, marks.find('\n', at) - at);
    };
    MessageRecorder messages;
    Run([&](CMainDialog& dlg, QWidget* w) {
        QTest::keyClick(w, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(messages.Texts(), std::vector<std::wstring>{L"Image not loaded"});
        messages.messages.clear();

        TapAndBrowse(dlg, IDC_OPEN, {"DCIM", "img_0001.jpg"});
        QTest::keyClick(w, Qt::Key_PageDown);
        QTest::keyClick(w, Qt::Key_Plus, Qt::ShiftModifier);
        QTest::keyClick(w, Qt::Key_Plus, Qt::KeypadModifier);
        WhenModal([&](QWidget* browser) {
            EXPECT_EQ(browser->windowTitle(), "Select the card for the kiosk");
            BrowseTo(browser, {"Card"});
        }, w);
        QTest::keyClick(w, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(messages.Texts(), std::vector<std::wstring>{L"2 files were created in \"\\Card\\DCIM\\100TRIMO\\\".\n"
                                                              L"The print marks \"\\Card\\MISC\\AUTPRINT.MRK\" ask for 4 prints."});
        EXPECT_TRUE(messages.questions.empty());
        const std::string marks = ReadFile(card + "MISC/AUTPRINT.MRK");
        EXPECT_NE(marks.find("PRT QTY = 001\r\nIMG FMT = EXIF2 -J\r\n<IMG SRC = \"../DCIM/100TRIMO/TRIM0001.JPG\">\r\n"),
                  std::string::npos) << marks;
        EXPECT_NE(marks.find("PRT QTY = 003\r\nIMG FMT = EXIF2 -J\r\n<IMG SRC = \"../DCIM/100TRIMO/TRIM0002.JPG\">\r\n"),
                  std::string::npos) << marks;

        // trimora-cli's order --card of the same order, saved with Ctrl+S:
        // the same images and, but for the date, the same marks.
        ReturnInBrowser(w, "DCIM");
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
        ASSERT_EQ(RunCli("order '" + m_root + "/DCIM/order.trimora' --card '" + m_root + "/CliCard'"), 0);
        for (const char* name : {"TRIM0001.JPG", "TRIM0002.JPG"}) {
            const std::string ours = ReadFile(card + "DCIM/100TRIMO/" + name);
            EXPECT_TRUE(!ours.empty() && ours == ReadFile(m_root + "/CliCard/DCIM/100TRIMO/" + name)) << name;
        }
        EXPECT_EQ(undated(marks), undated(ReadFile(m_root + "/CliCard/MISC/AUTPRINT.MRK")));

        // Again onto that card, the browser on it: No keeps everything.
        messages.messages.clear();
        ReturnInBrowser(w, "Card");
        QTest::keyClick(w, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(messages.questions.size(), 1u);
        EXPECT_EQ(messages.questions[0].text,
                  L"The card already has print marks (\\Card\\MISC\\AUTPRINT.MRK).\nReplace them with this order?");
        EXPECT_FALSE(messages.questions[0].offerCancel);
        EXPECT_TRUE(messages.messages.empty());
        EXPECT_EQ(dlg.m_strNotice, L"The card is left as it was");
        EXPECT_EQ(ReadFile(card + "MISC/AUTPRINT.MRK"), marks);
        EXPECT_FALSE(fs::exists(card + "DCIM/101TRIMO"));

        // Yes replaces them, with the photograph that could be written.
        fs::remove(first);
        messages.answer = Answer::Yes;
        ReturnInBrowser(w, "Card");
        QTest::keyClick(w, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text,
                  L"1 file was created in \"\\Card\\DCIM\\101TRIMO\\\".\n"
                  L"The print marks \"\\Card\\MISC\\AUTPRINT.MRK\" ask for 3 prints.\n" +
                      FromUtf8(first) + L": cannot open the photograph: No such file or directory");
        EXPECT_EQ(messages.messages[0].icon, MessageIcon::Information);
        const std::string replaced = ReadFile(card + "MISC/AUTPRINT.MRK");
        EXPECT_EQ(replaced.find("100TRIMO"), std::string::npos) << replaced;
        EXPECT_NE(replaced.find("PRT QTY = 003\r\nIMG FMT = EXIF2 -J\r\n<IMG SRC = \"../DCIM/101TRIMO/TRIM0004.JPG\">"),
                  std::string::npos) << replaced;
        EXPECT_TRUE(ReadFile(card + "DCIM/101TRIMO/TRIM0004.JPG") == ReadFile(card + "DCIM/100TRIMO/TRIM0002.JPG"));
    });
}
