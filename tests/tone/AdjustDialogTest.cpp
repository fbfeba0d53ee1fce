#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "imaging/DibBitmap.h"
#include "resources/AdjustTemplate.h"
#include "tone/AdjustDialog.h"
#include "tone/Presets.h"

namespace {

// Stands in for the main window; counts the repaints asked of it.
struct OwnerWnd : CWnd {
    using CWnd::CWnd;
    int invalidations = 0;
    void Invalidate() override { ++invalidations; }
};

// The main window's side of the dialog: the state it hands over by address.
struct Owner {
    static constexpr int W = 5, H = 3;
    QWidget widget;
    OwnerWnd wnd{&widget};
    ToneCurve curve;
    int32_t preset = PRESET_INDEX_NONE;
    BOOL showAdjusted = TRUE;
    PreviewBuffer preview;
    HBITMAP adjusted = nullptr;

    Owner() {
        preview.Resize(W * H * 3);
        for (size_t j = 0; j < preview.Size(); ++j) preview[j] = static_cast<uint8_t>(j * 17);
        adjusted = CreateBitmapFromRgb(preview.Data(), W, H);
        widget.resize(100, 100);
    }
    ~Owner() { DeleteObject(adjusted); }

    void Hand(CAdjustDialog& dlg) {
        dlg.m_pCurve = &curve;
        dlg.m_bPreview = showAdjusted;
        dlg.m_pPreviewFlag = &showAdjusted;
        dlg.m_pPresetIndex = &preset;
        dlg.m_pPreview = &preview;
        dlg.m_phAdjusted = &adjusted;
        dlg.m_nWidth = W;
        dlg.m_nHeight = H;
    }
};

// Runs the dialog modally and works it from inside the modal loop, the way a
// user would: the actions run once the dialog is the active modal window.
// Returns the modal result.
intptr_t RunModal(CAdjustDialog& dlg, std::function<void(CAdjustDialog&)> actions) {
    bool done = false;
    std::function<void()> poll = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !dlg.IsRunning()) {
            QTimer::singleShot(5, poll);
            return;
        }
        actions(dlg);
        done = true;
        // A last resort so a failing test ends instead of hanging.
        if (dlg.IsRunning()) dlg.EndDialog(99);
    };
    QTimer::singleShot(0, poll);
    const intptr_t result = dlg.DoModal();
    EXPECT_TRUE(done);
    return result;
}

QComboBox* List(CAdjustDialog& dlg) { return qobject_cast<QComboBox*>(dlg.GetDlgItemWidget(IDC_PRESET)); }
QCheckBox* PreviewBox(CAdjustDialog& dlg) { return qobject_cast<QCheckBox*>(dlg.GetDlgItemWidget(IDC_PREVIEW)); }

// A pick as the user makes it: open the list, tap the entry.
void Pick(CAdjustDialog& dlg, int index) {
    QComboBox* list = List(dlg);
    ASSERT_NE(list, nullptr);
    list->showPopup();
    QAbstractItemView* view = list->view();
    ASSERT_TRUE(view->isVisible());
    const QRect item = view->visualRect(list->model()->index(index, 0));
    ASSERT_TRUE(item.isValid()) << index;
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, item.center());
    QApplication::processEvents();
    ASSERT_EQ(list->currentIndex(), index);
}

void Apply(CAdjustDialog& dlg) {
    auto* button = qobject_cast<QPushButton*>(dlg.GetDlgItemWidget(IDOK));
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton);
}

void Cancel(CAdjustDialog& dlg) { QTest::keyClick(dlg.DialogWidget(), Qt::Key_Escape); }

void ExpectTable(const ToneCurve& curve, int itemData) {
    ToneCurve want;
    ASSERT_TRUE(ApplyPreset(want, itemData));
    want.UpdateLut();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(curve.m_lut[i], want.m_lut[i]) << i;
}

// Every pixel of the adjusted bitmap is the preview's pixel mapped through
// the preset's table (itemData -1: the identity).
void ExpectAdjustedFrom(const Owner& owner, int itemData) {
    ToneCurve want;
    if (itemData >= 0) ApplyPreset(want, itemData);
    want.UpdateLut();
    ASSERT_NE(owner.adjusted, nullptr);
    for (int y = 0; y < Owner::H; ++y)
        for (int x = 0; x < Owner::W; ++x) {
            const uint8_t* p = &owner.preview[(y * Owner::W + x) * 3];
            const uint32_t rgb = (uint32_t(want.m_lut[p[0]]) << 16) | (uint32_t(want.m_lut[p[1]]) << 8) |
                                 uint32_t(want.m_lut[p[2]]);
            ASSERT_EQ(GetDibPixel(owner.adjusted, x, y), rgb) << "pixel " << x << "," << y;
        }
}

bool IsBlack(const QImage& img, int x, int y) { return (img.pixel(x, y) & 0xFFFFFF) == 0; }

TEST(AdjustDialog, TemplateAndFirstOpening) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    HBITMAP before = owner.adjusted;
    const intptr_t result = RunModal(dlg, [&](CAdjustDialog& d) {
        EXPECT_EQ(d.DialogWidget()->windowTitle(), QString("Image adjustment"));
        QComboBox* list = List(d);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->count(), 13);
        EXPECT_EQ(list->currentIndex(), 0);
        EXPECT_EQ(list->itemText(0), QString("Click here to select..."));
        EXPECT_EQ(list->itemText(12), QString("Invert"));
        EXPECT_EQ(d.m_cbPreset.GetItemData(0), PRESET_PROMPT);
        EXPECT_EQ(d.m_cbPreset.GetItemData(12), 11);
        EXPECT_TRUE(PreviewBox(d)->isChecked());
        EXPECT_FALSE(d.GetDlgItemWidget(IDC_CURVE_FRAME)->isVisible());
        EXPECT_FALSE(d.m_rcCurve.IsRectEmpty());
        Apply(d);
    });
    // "Apply" with the list untouched changes nothing and closes as cancelled.
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(owner.wnd.invalidations, 0);
    EXPECT_EQ(owner.preset, PRESET_INDEX_NONE);
    EXPECT_EQ(owner.curve.m_nPoints, 2);
    EXPECT_EQ(owner.adjusted, before);
    EXPECT_EQ(owner.showAdjusted, TRUE);
}

TEST(AdjustDialog, ApplyStoresTheListIndexAndTheCurve) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    const intptr_t result = RunModal(dlg, [&](CAdjustDialog& d) {
        Pick(d, 3);  // "Dark"
        // The pick rebuilds the adjusted bitmap at once, the main curve not yet.
        EXPECT_EQ(owner.curve.m_nPoints, 2);
        ExpectAdjustedFrom(owner, 2);
        Pick(d, 12);  // "Invert"
        ExpectAdjustedFrom(owner, 11);
        Apply(d);
    });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(owner.preset, 12);  // the list index, not the item data 11
    EXPECT_EQ(owner.curve.m_nPoints, 3);
    EXPECT_EQ(owner.curve.m_y[0], 255.0);
    ExpectTable(owner.curve, 11);
    ExpectAdjustedFrom(owner, 11);
}


TEST(AdjustDialog, CancelAfterPicksRestoresTheAdjustedViewButKeepsThePreviewClick) {
    Owner owner;
    ASSERT_TRUE(ApplyPreset(owner.curve, 2));  // the image already has "Dark"
    owner.preset = 3;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    const intptr_t result = RunModal(dlg, [&](CAdjustDialog& d) {
        EXPECT_EQ(List(d)->currentIndex(), 3);
        EXPECT_EQ(d.m_workCurve.m_y[1], 82.0);
        Pick(d, 6);  // "Bright"
        ExpectAdjustedFrom(owner, 5);
        QTest::mouseClick(PreviewBox(d), Qt::LeftButton);
        EXPECT_EQ(owner.showAdjusted, FALSE);
        Pick(d, 9);  // "Low contrast"
        ExpectAdjustedFrom(owner, 8);
        owner.wnd.invalidations = 0;
        Cancel(d);
        EXPECT_EQ(owner.wnd.invalidations, 1);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(owner.preset, 3);
    EXPECT_EQ(owner.curve.m_nPoints, 3);
    EXPECT_EQ(owner.curve.m_y[1], 82.0);
    ExpectAdjustedFrom(owner, 2);
    EXPECT_EQ(owner.showAdjusted, FALSE);
}

TEST(AdjustDialog, CloseBoxIsCancel) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    const intptr_t result = RunModal(dlg, [&](CAdjustDialog& d) {
        Pick(d, 2);
        d.DialogWidget()->close();
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(owner.preset, PRESET_INDEX_NONE);
    ExpectAdjustedFrom(owner, -1);
}

TEST(AdjustDialog, PreviewClearedThenAPick) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    RunModal(dlg, [&](CAdjustDialog& d) {
        QTest::mouseClick(PreviewBox(d), Qt::LeftButton);
        EXPECT_EQ(owner.showAdjusted, FALSE);
        EXPECT_EQ(owner.wnd.invalidations, 1);
        Pick(d, 8);  // "High contrast"
        // The adjusted bitmap is rebuilt even though the plain one is shown.
        ExpectAdjustedFrom(owner, 7);
        EXPECT_EQ(owner.showAdjusted, FALSE);
        EXPECT_EQ(owner.wnd.invalidations, 2);
        QTest::mouseClick(PreviewBox(d), Qt::LeftButton);
        EXPECT_EQ(owner.showAdjusted, TRUE);
        Apply(d);
    });
    EXPECT_EQ(owner.preset, 8);
    ExpectTable(owner.curve, 7);
}

TEST(AdjustDialog, PromptAfterAPresetKeepsThatCurve) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    RunModal(dlg, [&](CAdjustDialog& d) {
        Pick(d, 11);  // "Highlights more dark"
        HBITMAP picked = owner.adjusted;
        const int invalidations = owner.wnd.invalidations;
        Pick(d, 0);  // "Click here to select..."
        EXPECT_EQ(owner.adjusted, picked);
        EXPECT_EQ(owner.wnd.invalidations, invalidations);
        EXPECT_EQ(d.m_workCurve.m_nPoints, 4);
        EXPECT_EQ(d.m_workCurve.m_y[2], 200.0);
        Apply(d);
    });
    EXPECT_EQ(owner.preset, 0);
    ExpectTable(owner.curve, 10);
    EXPECT_EQ(owner.curve.m_lut[220], 199);

    // The next opening shows the prompt, with that curve in the display.
    CAdjustDialog again(&owner.wnd);
    owner.Hand(again);
    RunModal(again, [&](CAdjustDialog& d) {
        EXPECT_EQ(List(d)->currentIndex(), 0);
        EXPECT_EQ(d.m_workCurve.m_nPoints, 4);
        EXPECT_EQ(d.m_workCurve.m_x[1], 184.0);
        Cancel(d);
    });
    EXPECT_EQ(owner.preset, 0);
    ExpectAdjustedFrom(owner, 10);
}

TEST(AdjustDialog, ApplyAfterNoneGivesTheIdentity) {
    Owner owner;
    ASSERT_TRUE(ApplyPreset(owner.curve, 11));
    owner.preset = 12;
    owner.showAdjusted = FALSE;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    RunModal(dlg, [&](CAdjustDialog& d) {
        EXPECT_EQ(List(d)->currentIndex(), 12);
        EXPECT_FALSE(PreviewBox(d)->isChecked());
        Pick(d, 1);  // "None"
        ExpectAdjustedFrom(owner, -1);
        Apply(d);
    });
    EXPECT_EQ(owner.preset, 1);
    EXPECT_EQ(owner.curve.m_nPoints, 2);
    EXPECT_EQ(owner.curve.m_y[0], 0.0);
    EXPECT_EQ(owner.curve.m_y[1], 255.0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(owner.curve.m_lut[i], i);
}

TEST(AdjustDialog, CurveToScreenMapping) {
    CAdjustDialog dlg;
    dlg.m_rcCurve = CRect(10, 20, 265, 120);  // 255 wide, 100 high
    for (int v : {0, 1, 77, 254, 255}) EXPECT_EQ(dlg.CurveToX(v), 10 + v);
    EXPECT_EQ(dlg.CurveToY(0), 120);
    EXPECT_EQ(dlg.CurveToY(255), 20);
    EXPECT_EQ(dlg.CurveToY(3), 119);   // 300 / 255 truncates to 1
    EXPECT_EQ(dlg.CurveToY(128), 70);  // 12800 / 255 = 50.19
    dlg.m_rcCurve = CRect(0, 0, 100, 100);
    EXPECT_EQ(dlg.CurveToX(254), 99);
}

// The curve display, read back from the dialog's picture.
TEST(AdjustDialog, DisplayShowsOutlineSquaresAndCurve) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    QImage identity, invert;
    CRect rc;
    RunModal(dlg, [&](CAdjustDialog& d) {
        rc = d.m_rcCurve;
        identity = d.DialogWidget()->grab().toImage();
        Pick(d, 12);
        QApplication::processEvents();
        invert = d.DialogWidget()->grab().toImage();
        const QString dir = qEnvironmentVariable("TRIMORA_GRAB_DIR");
        if (!dir.isEmpty()) {
            identity.save(QDir(dir).filePath("adjust-identity.png"));
            invert.save(QDir(dir).filePath("adjust-invert.png"));
        }
        for (int i = 0; i < 256; ++i) ASSERT_EQ(d.CurveToX(i), rc.left + (i * rc.Width()) / 255);
        Cancel(d);
    });
    ASSERT_GT(rc.Width(), 20);
    ASSERT_GT(rc.Height(), 20);
    auto x = [&](int v) { return rc.left + (v * rc.Width()) / 255; };
    auto y = [&](int v) { return rc.bottom - (v * rc.Height()) / 255; };

    for (const QImage* img : {&identity, &invert}) {
        // The outline sits one pixel outside the display (two on the left).
        EXPECT_TRUE(IsBlack(*img, rc.left - 2, rc.top + 5));
        EXPECT_TRUE(IsBlack(*img, rc.right, rc.top + 5));
        EXPECT_TRUE(IsBlack(*img, rc.left + 30, rc.top - 1));
        EXPECT_TRUE(IsBlack(*img, rc.left + 30, rc.bottom + 1));
        EXPECT_FALSE(IsBlack(*img, rc.left - 3, rc.top + 5));
        EXPECT_FALSE(IsBlack(*img, rc.left + 30, rc.bottom + 2));
    }

    // Identity: hollow squares at the two corners and a line between them.
    for (const CPoint& p : {CPoint(x(0), y(0)), CPoint(x(255), y(255))}) {
        EXPECT_TRUE(IsBlack(identity, p.x - 2, p.y - 2));
        EXPECT_TRUE(IsBlack(identity, p.x + 1, p.y + 1));
    }
    const int mid = x(128);
    const int midY = y(0) - ((mid - x(0)) * (y(0) - y(255))) / (x(255) - x(0));
    bool onLine = false;
    for (int dy = -1; dy <= 1; ++dy) onLine = onLine || IsBlack(identity, mid, midY + dy);
    EXPECT_TRUE(onLine);
    EXPECT_FALSE(IsBlack(identity, x(200), y(40)));

    // "Invert": 256 dots along the curve, a square at each of its three points.
    ToneCurve want;
    ApplyPreset(want, 11);
    for (int i = 0; i < 256; i += 5)
        ASSERT_TRUE(IsBlack(invert, x(i), y(TruncateLevel(want.m_spline.Evaluate(i))))) << i;
    EXPECT_TRUE(IsBlack(invert, x(122) - 2, y(122) - 2));
    EXPECT_TRUE(IsBlack(invert, x(0) + 1, y(255) + 1));
    EXPECT_FALSE(IsBlack(invert, x(60), y(60)));
}

TEST(AdjustDialog, EveryArrowKeyMovesOneEntryAndPreviewsIt) {
    Owner owner;
    CAdjustDialog dlg(&owner.wnd);
    owner.Hand(dlg);
    RunModal(dlg, [&](CAdjustDialog& d) {
        // Keys go where the focus is, as they do for a user.
        auto focused = [&] { return d.DialogWidget()->focusWidget(); };
        ASSERT_NE(focused(), nullptr);
        for (int i = 0; i < 6; ++i) QTest::keyClick(focused(), Qt::Key_Down);
        EXPECT_EQ(List(d)->currentText(), QString("Bright"));
        ExpectAdjustedFrom(owner, 5);
        QTest::keyClick(focused(), Qt::Key_Up);
        EXPECT_EQ(List(d)->currentText(), QString("Little bright"));
        ExpectAdjustedFrom(owner, 4);
        Apply(d);
    });
    EXPECT_EQ(owner.preset, 5);
}

TEST(AdjustDialog, DialogWithoutAnImageStillRuns) {
    // Guards against a caller that hands over no preview: picks and cancel
    // must not touch what is not there.
    ToneCurve curve;
    int32_t preset = PRESET_INDEX_NONE;
    CAdjustDialog dlg;
    dlg.m_pCurve = &curve;
    dlg.m_pPresetIndex = &preset;
    RunModal(dlg, [&](CAdjustDialog& d) {
        Pick(d, 4);
        Cancel(d);
    });
    EXPECT_EQ(preset, PRESET_INDEX_NONE);
}

}  // namespace
