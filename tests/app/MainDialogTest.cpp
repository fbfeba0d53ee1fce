// The main window driven as a user drives it, headless.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include "app/MainDialog.h"
#include "imaging/DibBitmap.h"
#include "resources/MainTemplate.h"
#include "support/GuiTestSupport.h"

using guitest::MessageRecorder;
using guitest::Pump;
using guitest::WhenModal;

namespace {

// Puts a photograph of sw x sh into the window as the open command would,
// without a file: a gradient preview of the size the pipeline would choose.
void LoadFakePhotograph(CMainDialog& dlg, int sw, int sh) {
    const CRect a = dlg.GetPreviewArea();
    CSize box(std::min(a.Width(), 800), std::min(a.Height(), 600));
    int pw = box.cx, ph = (box.cx * sh) / sw;
    if (ph > box.cy) {
        ph = box.cy;
        pw = (box.cy * sw) / sh;
    }
    dlg.m_sizePreview = {pw, ph};
    dlg.m_sizeSource = {sw, sh};
    dlg.m_preview.Resize(size_t(pw) * ph * 3);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            uint8_t* p = dlg.m_preview.Data() + (size_t(y) * pw + x) * 3;
            p[0] = uint8_t(x * 255 / pw);
            p[1] = uint8_t(y * 255 / ph);
            p[2] = 128;
        }
    dlg.m_hbmPreview = CreateBitmapFromRgb(dlg.m_preview.Data(), pw, ph);
    dlg.m_hbmAdjusted = CreateBitmapFromRgb(dlg.m_preview.Data(), pw, ph);
    dlg.m_bLoaded = TRUE;
    dlg.m_strSourcePath = L"\\DCIM\\fake.jpg";
    dlg.FitFrameToImage();
    dlg.Invalidate();
    Pump();
}

// Runs the window with a script, then closes it with the cross.
intptr_t RunWith(CMainDialog& dlg, const std::function<void(QWidget*)>& script) {
    WhenModal([&](QWidget* w) {
        if (!w) return;
        Pump();
        script(w);
        if (dlg.IsRunning()) {
            dlg.m_bBusy = FALSE;
            dlg.SendCommand(IDCANCEL);
        }
    });
    return dlg.DoModal();
}

QComboBox* Combo(CMainDialog& d) { return qobject_cast<QComboBox*>(d.GetDlgItemWidget(IDC_FORMAT)); }
QCheckBox* Check(CMainDialog& d) { return qobject_cast<QCheckBox*>(d.GetDlgItemWidget(IDC_CORRECT_LAB)); }
QString Status(CMainDialog& d) { return qobject_cast<QLabel*>(d.GetDlgItemWidget(IDC_STATUS))->text(); }

void PickFormat(CMainDialog& d, int index) {
    QComboBox* c = Combo(d);
    c->setCurrentIndex(index);
    emit c->activated(index);
}

}  // namespace

TEST(MainWindow, StartsFullScreenWithDefaults) {
    CMainDialog dlg;
    const intptr_t result = RunWith(dlg, [&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Trimora 1.1");
        EXPECT_EQ(w->geometry(), QApplication::primaryScreen()->geometry());
        EXPECT_EQ(Status(dlg), "Selected format: 15.2x10.2 cm");
        EXPECT_EQ(Combo(dlg)->count(), 34);
        EXPECT_EQ(Combo(dlg)->currentText(), "10x15 cm");
        EXPECT_EQ(Combo(dlg)->itemData(33).toLongLong(), 33);
        EXPECT_TRUE(Check(dlg)->isChecked());
        EXPECT_EQ(dlg.m_nFormat, 2);
        EXPECT_FALSE(dlg.m_bLoaded);

        // The preview area lies between the icons and the status line, and
        // the splash picture sits centred in it with a white border.
        const CRect a = dlg.GetPreviewArea();
        const QRect status = dlg.GetDlgItemWidget(IDC_STATUS)->geometry();
        const QRect go = dlg.GetDlgItemWidget(IDC_GO)->geometry();
        const QRect whole = dlg.GetDlgItemWidget(IDC_WHOLE)->geometry();
        EXPECT_EQ(a.top, std::max(go.bottom(), whole.bottom()) + 1 + 2);
        EXPECT_EQ(a.bottom, status.top() - 2);
        EXPECT_EQ(a.left, 2);
        EXPECT_EQ(a.right, w->width() - 2);
        EXPECT_GT(status.bottom(), w->height() - 40);
        const QImage shot = dlg.GrabClient();
        const CRect s = CentreRect(a, 180, 195);
        EXPECT_EQ(shot.pixelColor(s.left - 1, s.top - 1), QColor(255, 255, 255));
        EXPECT_EQ(shot.pixelColor(s.right, s.bottom), QColor(255, 255, 255));
        EXPECT_EQ(shot.pixelColor(a.left - 1, a.top + 3), QColor(127, 127, 127));
        EXPECT_EQ(shot.pixelColor(a.right, a.bottom), QColor(127, 127, 127));
        if (const char* dir = getenv("TRIMORA_SHOTS")) shot.save(QString(dir) + "/main_start.png");
    });
    EXPECT_EQ(result, IDCANCEL);
}

TEST(MainWindow, APaintTakesTheWholeScreenBack) {
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget* w) {
        w->setGeometry(10, 10, 200, 150);
        dlg.Invalidate();
        Pump(100);
        EXPECT_EQ(w->geometry(), QApplication::primaryScreen()->geometry());
        EXPECT_EQ(dlg.GetPreviewArea().right, w->width() - 2);
    });
}

TEST(MainWindow, EnterAndOkLeaveItRunningCrossEndsIt) {
    CMainDialog dlg;
    bool stillRunning = false;
    bool closedByCross = false;
    RunWith(dlg, [&](QWidget* w) {
        QTest::keyClick(w, Qt::Key_Return);
        QTest::keyClick(Combo(dlg), Qt::Key_Enter);
        dlg.SendCommand(IDOK);
        Pump();
        stillRunning = dlg.IsRunning();
        // A tap on the cross picture is the cancel command.
        QTest::mouseClick(dlg.GetDlgItemWidget(IDCANCEL), Qt::LeftButton);
        closedByCross = !dlg.IsRunning();
    });
    EXPECT_TRUE(stillRunning);
    EXPECT_TRUE(closedByCross);
}

TEST(MainWindow, CrossAndCloseBoxDoNothingWhileBusy) {
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget* w) {
        dlg.m_bBusy = TRUE;
        QTest::mouseClick(dlg.GetDlgItemWidget(IDCANCEL), Qt::LeftButton);
        w->close();
        QTest::keyClick(w, Qt::Key_Escape);
        Pump();
        EXPECT_TRUE(dlg.IsRunning());
        dlg.m_bBusy = FALSE;
        w->close();
        EXPECT_FALSE(dlg.IsRunning());
    });
}

TEST(MainWindow, EscapeLeavesItRunningCtrlQAndTheCloseBoxEndIt) {
    {
        CMainDialog dlg;
        bool runningAfterEscape = false;
        RunWith(dlg, [&](QWidget* w) {
            LoadFakePhotograph(dlg, 1600, 1200);
            QTest::keyClick(Combo(dlg), Qt::Key_Down);
            const CRect placed = dlg.m_frame.m_rect;
            // The list opened and closed with Escape, then Escape once more.
            Combo(dlg)->showPopup();
            QTest::keyClick(Combo(dlg)->view(), Qt::Key_Escape);
            QTest::keyClick(Combo(dlg), Qt::Key_Escape);
            QTest::keyClick(w, Qt::Key_Escape);
            Pump();
            runningAfterEscape = dlg.IsRunning();
            EXPECT_EQ(dlg.m_frame.m_rect, placed);
            QTest::keyClick(Check(dlg), Qt::Key_Q, Qt::ControlModifier);
            EXPECT_FALSE(dlg.IsRunning());
        });
        EXPECT_TRUE(runningAfterEscape);
    }
    CMainDialog dlg;
    bool closed = false;
    RunWith(dlg, [&](QWidget* w) {
        w->close();  // what the window manager's close box and Alt+F4 send
        closed = !dlg.IsRunning();
    });
    EXPECT_TRUE(closed);
}

TEST(MainWindow, PictureTipsShortcutsAndTenStepArrows) {
    CMainDialog dlg;
    MessageRecorder messages;
    RunWith(dlg, [&](QWidget* w) {
        const std::pair<int, QString> tips[] = {{IDC_OPEN, "Open a photograph"},
                                                {IDC_ROTATE, "Turn the frame"},
                                                {IDC_ADJUST, "Adjust tones"},
                                                {IDC_GO, "Create the framed file"},
                                                {IDCANCEL, "Close"}};
        for (const auto& [id, tip] : tips) EXPECT_EQ(dlg.GetDlgItemWidget(id)->toolTip(), tip) << id;

        LoadFakePhotograph(dlg, 1600, 1200);
        CRect r = dlg.m_frame.m_rect;
        Combo(dlg)->setFocus();
        QTest::keyClick(Combo(dlg), Qt::Key_Down, Qt::ShiftModifier);
        EXPECT_EQ(dlg.m_frame.m_rect, CRect(r.left, r.top + 10, r.right, r.bottom + 10));
        EXPECT_EQ(dlg.m_rcSource.top, (10 * 1200) / dlg.m_sizePreview.cy);
        QTest::keyClick(Combo(dlg), Qt::Key_Up);
        EXPECT_EQ(dlg.m_frame.m_rect.top, r.top + 9);
        QTest::keyClick(Combo(dlg), Qt::Key_Up, Qt::ShiftModifier);  // stops at the photograph's top
        EXPECT_EQ(dlg.m_frame.m_rect, r);
        EXPECT_EQ(Combo(dlg)->currentIndex(), 2);

        QTest::keyClick(w, Qt::Key_R, Qt::ControlModifier);
        EXPECT_TRUE(dlg.m_bRotated);
        r = dlg.m_frame.m_rect;
        QTest::keyClick(w, Qt::Key_Right, Qt::ShiftModifier);
        EXPECT_EQ(dlg.m_frame.m_rect.left, r.left + 10);

        // Each of these opens its dialog; the titles tell which.
        QStringList opened;
        for (Qt::Key key : {Qt::Key_O, Qt::Key_T, Qt::Key_G}) {
            WhenModal(
                [&](QWidget* d) {
                    ASSERT_NE(d, nullptr);
                    opened << d->windowTitle();
                    d->close();
                },
                w);
            QTest::keyClick(Combo(dlg), key, Qt::ControlModifier);
            Pump();
        }
        EXPECT_EQ(opened, (QStringList{"Select source file", "Image adjustment", "Select folder for placing the file"}));
        EXPECT_TRUE(messages.messages.empty());
        EXPECT_TRUE(dlg.IsRunning());
    });
}

TEST(MainWindow, FormatCorrectionAndTurn) {
    CMainDialog dlg;
    MessageRecorder messages;
    RunWith(dlg, [&](QWidget*) {
        // Without a photograph: the status line follows, the turn is refused.
        QTest::mouseClick(Check(dlg), Qt::LeftButton, {}, QPoint(4, Check(dlg)->height() / 2));
        EXPECT_FALSE(dlg.m_bCorrectLab);
        EXPECT_EQ(Status(dlg), "Selected format: 15.0x10.0 cm");
        PickFormat(dlg, 13);
        EXPECT_EQ(Status(dlg), "Selected format: 29.7x21.0 cm");
        QTest::mouseClick(dlg.GetDlgItemWidget(IDC_ROTATE), Qt::LeftButton);
        ASSERT_EQ(messages.messages.size(), 1u);
        EXPECT_EQ(messages.messages[0].text, L"Image not loaded");
        EXPECT_EQ(messages.messages[0].caption, L"Warning");
        EXPECT_EQ(messages.messages[0].icon, MessageIcon::None);
        EXPECT_FALSE(dlg.m_bRotated);

        // With one: each change fits the frame anew at the top-left corner.
        PickFormat(dlg, 2);
        QTest::mouseClick(Check(dlg), Qt::LeftButton, {}, QPoint(4, Check(dlg)->height() / 2));
        LoadFakePhotograph(dlg, 1600, 1200);
        EXPECT_EQ(dlg.m_rcSource, CRect(0, 0, 1600, 1073));
        QTest::mouseClick(dlg.GetDlgItemWidget(IDC_ROTATE), Qt::LeftButton);
        EXPECT_TRUE(dlg.m_bRotated);
        EXPECT_EQ(Status(dlg), "Selected format: 10.2x15.2 cm");
        EXPECT_EQ(dlg.m_rcSource, CRect(0, 0, 805, 1200));

        // A format picked during an export changes the text only.
        dlg.m_bBusy = TRUE;
        PickFormat(dlg, 0);
        EXPECT_EQ(dlg.m_nFormat, 0);
        EXPECT_EQ(Status(dlg), "Selected format: 8.9x12.7 cm");
        EXPECT_EQ(dlg.m_rcSource, CRect(0, 0, 805, 1200));
        QTest::mouseClick(dlg.GetDlgItemWidget(IDC_ROTATE), Qt::LeftButton);
        EXPECT_TRUE(dlg.m_bRotated);
        dlg.m_bBusy = FALSE;
    });
}

TEST(MainWindow, ArrowKeysMoveTheFrameWhateverHasTheFocus) {
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget*) {
        LoadFakePhotograph(dlg, 1600, 1200);
        const CRect fitted = dlg.m_frame.m_rect;
        Combo(dlg)->setFocus();
        QTest::keyClick(Combo(dlg), Qt::Key_Down);
        EXPECT_EQ(Combo(dlg)->currentIndex(), 2);
        EXPECT_EQ(dlg.m_frame.m_rect.top, fitted.top + 1);
        Check(dlg)->setFocus();
        QTest::keyClick(Check(dlg), Qt::Key_Up);
        EXPECT_EQ(dlg.m_frame.m_rect, fitted);
        // Still during an export: the export has its own copy of the rectangle.
        dlg.m_bBusy = TRUE;
        QTest::keyClick(Combo(dlg), Qt::Key_Down);
        EXPECT_EQ(dlg.m_frame.m_rect.top, fitted.top + 1);
        dlg.m_bBusy = FALSE;
    });
}

TEST(MainWindow, DraggingAHandlePastTheBordersKeepsTheFrameOnThePhotograph) {
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget* w) {
        LoadFakePhotograph(dlg, 1600, 1200);
        const CRect image = dlg.GetImageRect();
        // Shrink the frame with the bottom-right handle, then pull it far out.
        const CRect f = dlg.m_frame.m_rect;
        QPoint handle(f.right - 2, f.bottom - 2);
        QTest::mousePress(w, Qt::LeftButton, {}, handle);
        QTest::mouseMove(w, handle - QPoint(f.Width() / 2, f.Height() / 2));
        QTest::mouseRelease(w, Qt::LeftButton, {}, handle - QPoint(f.Width() / 2, f.Height() / 2));
        const CRect small = dlg.m_frame.m_rect;
        EXPECT_LT(small.Width(), f.Width());
        EXPECT_EQ(dlg.m_rcSource.left, 0);

        handle = QPoint(small.right - 2, small.bottom - 2);
        QTest::mousePress(w, Qt::LeftButton, {}, handle);
        for (int s = 10; s <= 600; s += 10) QTest::mouseMove(w, handle + QPoint(s, s));
        QTest::mouseRelease(w, Qt::LeftButton, {}, handle + QPoint(600, 600));
        const CRect r = dlg.m_frame.m_rect;
        EXPECT_LE(r.right, image.right);
        EXPECT_LE(r.bottom, image.bottom);
        EXPECT_NEAR(double(r.Height()) / r.Width(), 10.2 / 15.2, 0.03);
        EXPECT_LE(dlg.m_rcSource.right, 1600);
        EXPECT_LE(dlg.m_rcSource.bottom, 1200);

        // Moving the whole frame into the top-left corner and beyond.
        const QPoint mid((r.left + r.right) / 2, (r.top + r.bottom) / 2);
        QTest::mousePress(w, Qt::LeftButton, {}, mid);
        for (int s = 10; s <= 400; s += 10) QTest::mouseMove(w, mid - QPoint(s, s));
        QTest::mouseRelease(w, Qt::LeftButton, {}, mid - QPoint(400, 400));
        EXPECT_EQ(dlg.m_frame.m_rect.TopLeft(), image.TopLeft());
        EXPECT_EQ(dlg.m_frame.m_rect.Width(), r.Width());
        EXPECT_EQ(dlg.m_rcSource.left, 0);
        EXPECT_EQ(dlg.m_rcSource.top, 0);
        if (const char* dir = getenv("TRIMORA_SHOTS")) dlg.GrabClient().save(QString(dir) + "/main_frame.png");
    });
}

TEST(MainWindow, ProgressLineAcrossThePreviewArea) {
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget*) {
        const CRect a = dlg.GetPreviewArea();
        const QColor red(255, 0, 0);
        dlg.DrawProgress(0);
        Pump();
        EXPECT_NE(dlg.GrabClient().pixelColor(a.left, a.top + 2), red);
        dlg.DrawProgress(50);
        Pump();
        QImage shot = dlg.GrabClient();
        EXPECT_EQ(shot.pixelColor(a.left, a.top + 2), red);
        EXPECT_EQ(shot.pixelColor(a.left + a.Width() / 2 - 1, a.top + 2), red);
        EXPECT_NE(shot.pixelColor(a.left + a.Width() / 2 + 1, a.top + 2), red);
        dlg.DrawProgress(100);
        Pump();
        shot = dlg.GrabClient();
        EXPECT_EQ(shot.pixelColor(a.right - 1, a.top + 2), red);
        EXPECT_NE(shot.pixelColor(a.left, a.top + 1), red);
        // A paint of the whole window removes it.
        dlg.Invalidate();
        Pump();
        EXPECT_NE(dlg.GrabClient().pixelColor(a.left + 5, a.top + 2), red);
    });
}

// Run again on a 240 x 320 screen (see CMakeLists.txt): everything the status
// row holds stays whole, apart and on the screen, and so do the new pictures.
TEST(Handheld, TheStatusRowAndThePicturesFitTheSmallScreen) {
    if (QApplication::primaryScreen()->size() != QSize(240, 320)) GTEST_SKIP() << "needs the 240 x 320 screen";
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget* w) {
        LoadFakePhotograph(dlg, 1600, 1200);
        PickFormat(dlg, 16);  // B3: few dots per inch, the longest resolution text
        QTest::keyClick(w, Qt::Key_PageDown);
        auto* dpi = qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_RESOLUTION));
        EXPECT_TRUE(dpi->text().endsWith(" dpi low")) << dpi->text().toStdString();
        EXPECT_FALSE(dlg.m_strNotice.empty());
        std::vector<QWidget*> parts;
        for (int id : {IDC_STATUS, IDC_RESOLUTION, IDC_NOTICE, IDC_PREVIOUS, IDC_NEXT}) {
            QWidget* part = dlg.GetDlgItemWidget(id);
            EXPECT_TRUE(w->rect().contains(part->geometry())) << id;
            for (QWidget* other : parts) EXPECT_FALSE(part->geometry().intersects(other->geometry())) << id;
            parts.push_back(part);
        }
        for (QLabel* text : {qobject_cast<QLabel*>(dlg.GetDlgItemWidget(IDC_STATUS)), dpi})
            EXPECT_GE(text->width(), text->sizeHint().width());
        const QRect all = dlg.GetDlgItemWidget(IDC_GO_ALL)->geometry();
        // On the pictures' row, between the check box and the bent arrow.
        EXPECT_EQ(all.y(), dlg.GetDlgItemWidget(IDC_ROTATE)->y());
        for (int id : {IDC_CORRECT_LAB, IDC_ROTATE, IDC_OPEN})
            EXPECT_FALSE(all.intersects(dlg.GetDlgItemWidget(id)->geometry())) << id;
        const CRect a = dlg.GetPreviewArea();
        EXPECT_EQ(a.bottom, dlg.GetDlgItemWidget(IDC_STATUS)->y() - 2);
        EXPECT_GT(a.Height(), 200);
        if (const char* dir = getenv("TRIMORA_SHOTS")) dlg.GrabClient().save(QString(dir) + "/handheld.png");
    });
}

// The whole photograph's box on the handheld's screen: whole, clear of every
// other control, above the preview area; the print shown inside the area.
TEST(Handheld, TheWholePhotographsBoxFitsTheSmallScreen) {
    if (QApplication::primaryScreen()->size() != QSize(240, 320)) GTEST_SKIP() << "needs the 240 x 320 screen";
    CMainDialog dlg;
    RunWith(dlg, [&](QWidget* w) {
        LoadFakePhotograph(dlg, 1600, 1200);
        auto* whole = qobject_cast<QCheckBox*>(dlg.GetDlgItemWidget(IDC_WHOLE));
        ASSERT_NE(whole, nullptr);
        EXPECT_TRUE(whole->isVisible());
        EXPECT_TRUE(w->rect().contains(whole->geometry()));
        EXPECT_GE(whole->width(), whole->sizeHint().width());
        for (QWidget* other : w->findChildren<QWidget*>()) {
            const QVariant id = other->property("trimoraId");
            if (other == whole || !id.isValid() || !other->isVisible()) continue;
            EXPECT_FALSE(whole->geometry().intersects(other->geometry())) << id.toInt();
        }
        EXPECT_GT(dlg.GetPreviewArea().top, whole->geometry().bottom());
        EXPECT_GT(dlg.GetPreviewArea().Height(), 180);

        dlg.m_bRotated = TRUE;
        dlg.UpdateFormatStatus();
        QTest::keyClick(w, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
        ASSERT_TRUE(dlg.m_bWholePhoto);
        Pump();
        const QImage shot = dlg.GrabClient();
        const CRect a = dlg.GetPreviewArea();
        // Portrait 10x15 on a 4:3 photograph: white above and below it.
        EXPECT_EQ(shot.pixelColor((a.left + a.right) / 2, a.top + 2), QColor(255, 255, 255));
        EXPECT_EQ(shot.pixelColor((a.left + a.right) / 2, a.bottom - 3), QColor(255, 255, 255));
        if (const char* dir = getenv("TRIMORA_SHOTS")) shot.save(QString(dir) + "/handheld_whole.png");
    });
}

// On the small screen the format list stays above the pictures' row, and the
// storage browser lies whole on the screen, its caption included.
TEST(Handheld, TheFormatListAndTheBrowserFitTheSmallScreen) {
    if (QApplication::primaryScreen()->size() != QSize(240, 320)) GTEST_SKIP() << "needs the 240 x 320 screen";
    CMainDialog dlg;
    MessageRecorder messages;
    RunWith(dlg, [&](QWidget* w) {
        const QRect combo = Combo(dlg)->geometry();
        for (int id : {IDC_GO_ALL, IDC_ROTATE, IDC_ADJUST, IDC_GO, IDC_CORRECT_LAB})
            EXPECT_FALSE(combo.intersects(dlg.GetDlgItemWidget(id)->geometry())) << id;
        EXPECT_GE(combo.height(), Combo(dlg)->fontMetrics().height());
        LoadFakePhotograph(dlg, 1600, 1200);
        QRect frame, client;
        WhenModal(
            [&](QWidget* browser) {
                ASSERT_NE(browser, nullptr);
                Pump();
                frame = browser->frameGeometry();
                client = browser->geometry();
                QDialog* b = qobject_cast<QDialog*>(browser);
                if (const char* dir = getenv("TRIMORA_SHOTS")) browser->grab().save(QString(dir) + "/handheld_browser.png");
                b->reject();
            },
            w);
        dlg.SendCommand(IDC_GO);
        const QRect screen = QApplication::primaryScreen()->availableGeometry();
        EXPECT_TRUE(screen.contains(frame));
        // Where no window manager has drawn a caption yet (X11 alone), there
        // is room above the client area for one.
        const int caption = w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w);
        EXPECT_GE(client.top() - screen.top(), caption);
        EXPECT_LE(client.bottom(), screen.bottom());
    });
}

// The card's question and closing message on the small screen: the box lies
// whole on it, the question offers Yes and No alone, and each line of the
// text starts a line of its own, wrapped as far as the screen allows.
TEST(Handheld, TheCardsQuestionAndMessageFitTheSmallScreen) {
    if (QApplication::primaryScreen()->size() != QSize(240, 320)) GTEST_SKIP() << "needs the 240 x 320 screen";
    const QStringList message = {"2 files were created in \"\\Kiosk card\\DCIM\\100TRIMO\\\".",
                                 "The print marks \"\\Kiosk card\\MISC\\AUTPRINT.MRK\" ask for 4 prints.",
                                 "The order has photographs in 2 print formats (10x15 cm, A4), but a kiosk prints "
                                 "a card's whole order in one size: put each format on a card of its own."};
    auto look = [](const char* shotName, const QStringList& paragraphs, QStringList* buttons) {
        WhenModal([=](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            Pump();
            EXPECT_TRUE(QApplication::primaryScreen()->availableGeometry().contains(box->frameGeometry()));
            if (const char* dir = getenv("TRIMORA_SHOTS")) box->grab().save(QString(dir) + "/" + shotName);
            for (QAbstractButton* b : box->buttons()) buttons->append(b->text().remove('&'));
            // Greedy lines: none could have taken the next one's first word,
            // except the last of each paragraph.
            const QLabel* label = box->findChild<QLabel*>("qt_msgbox_label");
            EXPECT_TRUE(box->rect().contains(label->geometry()));
            const QStringList lines = label->text().split('\n');
            const QFontMetrics metrics(label->font());
            int widest = 0;
            for (const QString& line : lines) widest = std::max(widest, metrics.horizontalAdvance(line));
            QString sofar;
            int paragraph = 0;
            for (int i = 0; i + 1 < lines.size(); ++i) {
                sofar += (sofar.isEmpty() ? "" : " ") + lines[i];
                if (paragraph < paragraphs.size() && sofar == paragraphs[paragraph]) {
                    sofar.clear();
                    ++paragraph;
                    continue;
                }
                const QString joined = lines[i] + " " + lines[i + 1].section(' ', 0, 0);
                EXPECT_GE(metrics.horizontalAdvance(joined), widest - 2) << joined.toStdString();
            }
            box->button(box->buttons().contains(box->button(QMessageBox::No)) ? QMessageBox::No : QMessageBox::Ok)
                ->click();
        });
    };
    QStringList okButtons, questionButtons;
    look("handheld_card_message.png", message, &okButtons);
    ShowMessageBox(message.join('\n').toStdWString(), {}, MessageIcon::Information);
    EXPECT_EQ(okButtons, QStringList{"OK"});
    const QStringList question = {"The card already has print marks (\\Kiosk card\\MISC\\AUTPRINT.MRK).",
                                  "Replace them with this order?"};
    look("handheld_card_question.png", question, &questionButtons);
    EXPECT_EQ(AskYesNo(question.join('\n').toStdWString()), Answer::No);
    EXPECT_EQ(questionButtons, (QStringList{"Yes", "No"}));
}
