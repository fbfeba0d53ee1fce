// The whole program driven through its real dialogs: open a photograph from
// a storage card, frame it, adjust it, export it, and look at the file.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <unistd.h>

#include "app/ExportPlan.h"
#include "app/MainDialog.h"
#include "imaging/DibImage.h"
#include "imaging/TestJpeg.h"
#include "platform/DeviceFs.h"
#include "resources/MainTemplate.h"
#include "support/GuiTestSupport.h"
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
        JpegSpec recipe;
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
