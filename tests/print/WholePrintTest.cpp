// The whole photograph on a print of the format's proportions: which side
// stays, how the other grows, where the photograph sits, and how the window
// shows it.
#include <gtest/gtest.h>

#include <cmath>

#include "print/ExportPlan.h"
#include "print/PrintFormatTable.h"
#include "print/WholePrint.h"

namespace {

class Whole : public ::testing::Test {
protected:
    WholePrint Print(CSize photo, int format, bool rotated, bool correct = true) {
        return MakeWholePrint(photo, table.FrameWidthCm(format, rotated, correct),
                              table.FrameHeightCm(format, rotated, correct));
    }
    PrintFormatTable table;
};

TEST_F(Whole, TheSideThatFillsTheFormatStaysTheOtherGrows) {
    // A 3:2 landscape photograph in 13x18 (17.8 x 12.7 cm): white above and
    // below, 3000 x 12.7 / 17.8 = 2140.4 rows.
    WholePrint w = Print(CSize(3000, 2000), 3, false);
    EXPECT_EQ(w.print, CSize(3000, 2140));
    EXPECT_EQ(w.photo, CRect(0, 70, 3000, 2070));
    // The same in a portrait 10x15 (10.2 x 15.2 cm): 4470.6 rows, the odd
    // white row going below.
    w = Print(CSize(3000, 2000), 2, true);
    EXPECT_EQ(w.print, CSize(3000, 4471));
    EXPECT_EQ(w.photo, CRect(0, 1235, 3000, 3235));
    // A portrait photograph in a landscape 20x30 (30.5 x 20.3 cm): white
    // left and right.
    w = Print(CSize(2000, 3000), 9, false);
    EXPECT_EQ(w.print, CSize(4507, 3000));
    EXPECT_EQ(w.photo, CRect(1253, 0, 3253, 3000));
    // Odd sizes: 777 x 1.41428... = 1098.9 columns in A4.
    w = Print(CSize(1001, 777), 13, false);
    EXPECT_EQ(w.print, CSize(1099, 777));
    EXPECT_EQ(w.photo, CRect(49, 0, 1050, 777));
    // Already of the format's proportions: no white at all, as a full cut.
    w = Print(CSize(1500, 1000), 2, false, false);
    EXPECT_EQ(w.print, CSize(1500, 1000));
    EXPECT_EQ(w.photo, CRect(0, 0, 1500, 1000));
    EXPECT_TRUE(MarginsAround(w).Empty());
    w = Print(CSize(1501, 1001), 2, false, false);  // 1501.5 rounds down: the photograph wins
    EXPECT_EQ(w.print, CSize(1501, 1001));
}

// Every format, both ways, with and without the correction, over many
// photograph sizes: one side is the photograph's, the print is never
// smaller, its proportions are the format's within a pixel, the photograph
// lies in the middle, and the dpi the print gets is its filled side's.
TEST_F(Whole, ProportionsWithinAPixelForEveryFormatAndSize) {
    const CSize photos[] = {{800, 600},   {600, 800},   {1000, 1000}, {4000, 3000}, {3000, 4000},
                            {6000, 4000}, {4001, 6007}, {65500, 801}, {801, 65500}, {1237, 3331}};
    for (int format = 0; format < PRINT_FORMAT_COUNT; ++format)
        for (bool rotated : {false, true})
            for (bool correct : {false, true})
                for (const CSize photo : photos) {
                    const float W = table.FrameWidthCm(format, rotated, correct);
                    const float H = table.FrameHeightCm(format, rotated, correct);
                    const WholePrint w = MakeWholePrint(photo, W, H);
                    SCOPED_TRACE(testing::Message() << format << " " << rotated << correct << " " << photo.cx << "x"
                                                    << photo.cy << " -> " << w.print.cx << "x" << w.print.cy);
                    EXPECT_TRUE(w.print.cx == photo.cx || w.print.cy == photo.cy);
                    EXPECT_GE(w.print.cx, photo.cx);
                    EXPECT_GE(w.print.cy, photo.cy);
                    // The grown side, against its exact length.
                    const double exactH = double(w.print.cx) * H / W, exactW = double(w.print.cy) * W / H;
                    EXPECT_TRUE(std::abs(w.print.cy - exactH) <= 1.0 || std::abs(w.print.cx - exactW) <= 1.0);
                    EXPECT_EQ(w.photo.Width(), photo.cx);
                    EXPECT_EQ(w.photo.Height(), photo.cy);
                    EXPECT_EQ(w.photo.left, (w.print.cx - photo.cx) / 2);
                    EXPECT_EQ(w.photo.top, (w.print.cy - photo.cy) / 2);
                    const WhiteMargins m = MarginsAround(w);
                    EXPECT_LE(std::abs(m.left - m.right), 1);
                    EXPECT_LE(std::abs(m.top - m.bottom), 1);
                    EXPECT_EQ(m.left + m.right + photo.cx, w.print.cx);
                    EXPECT_EQ(m.top + m.bottom + photo.cy, w.print.cy);
                    const double filled = w.print.cx == photo.cx && w.print.cy > photo.cy
                                              ? photo.cx * 2.54 / W
                                              : photo.cy * 2.54 / H;
                    EXPECT_NEAR(DotsPerInch(w.print, W, H), filled, 1.0);
                }
}

TEST_F(Whole, ThePlanTakesTheWholePhotographAndStillRefusesTheSource) {
    const float W = table.FrameWidthCm(2, TRUE, TRUE), H = table.FrameHeightCm(2, TRUE, TRUE);
    ExportPlan plan;
    // The frame is left aside, however it lies.
    ASSERT_EQ(PlanExport(L"\\Out\\", L"\\DCIM\\img_0001.jpg", PrintFormatSuffixes().at(2), CRect(100, 100, 300, 400),
                         CSize(1600, 1200), W, H, plan, true),
              ExportPlanResult::Ready);
    EXPECT_EQ(plan.outputPath, L"\\Out\\img_0001_10x15.jpg");
    EXPECT_EQ(plan.rcExport, CRect(0, 0, 1600, 1200));
    EXPECT_EQ(plan.print.print, CSize(1600, 2384));
    EXPECT_EQ(plan.print.photo, CRect(0, 592, 1600, 1792));
    // A cut's print is its rectangle.
    ASSERT_EQ(PlanExport(L"\\Out\\", L"\\DCIM\\img_0001.jpg", PrintFormatSuffixes().at(2), CRect(0, 0, 805, 1200),
                         CSize(1600, 1200), W, H, plan),
              ExportPlanResult::Ready);
    EXPECT_EQ(plan.print.print, CSize(plan.rcExport.Width(), plan.rcExport.Height()));
    EXPECT_TRUE(MarginsAround(plan.print).Empty());
    EXPECT_EQ(PlanExport(L"\\DCIM\\", L"\\DCIM\\.jpg", PrintFormatSuffixes().at(2), CRect(), CSize(1600, 1200), W, H,
                         plan, true),
              ExportPlanResult::OverwritesSource);
}

TEST_F(Whole, TheWindowShowsThePrintAtThePreviewsScaleOrSmaller) {
    const CRect area(2, 60, 238, 280);  // 236 x 220
    // 1600 x 1200 in landscape 10x15: a print 1788 x 1200 that fits at the
    // preview's scale (236 / 1600): the preview itself, unscaled, in it.
    WholePrint w = Print(CSize(1600, 1200), 2, false);
    const CSize preview(236, 177);
    WholePrintView v = FitWholePrint(CRect(2, 60, 400, 280), w, CSize(1600, 1200), preview);
    EXPECT_EQ(v.photo.Width(), 236);
    EXPECT_EQ(v.photo.Height(), 177);
    EXPECT_NEAR(double(v.print.Width()) / v.print.Height(), 1788.0 / 1200.0, 0.01);
    // Portrait 10x15 needs 2384 rows: the whole print shrinks into the area.
    w = Print(CSize(1600, 1200), 2, true);
    v = FitWholePrint(area, w, CSize(1600, 1200), preview);
    EXPECT_EQ(v.print.Height(), 220);
    EXPECT_EQ(v.print.top, 60);
    EXPECT_NEAR(double(v.print.Width()) / v.print.Height(), 1600.0 / 2384.0, 0.01);
    EXPECT_EQ(v.photo.Width(), v.print.Width());
    EXPECT_NEAR(v.photo.Height(), 220.0 * 1200 / 2384, 1.0);
    EXPECT_LE(std::abs((v.photo.top - v.print.top) - (v.print.bottom - v.photo.bottom)), 1);
    EXPECT_LE(std::abs((v.print.left - area.left) - (area.right - v.print.right)), 1);
    // Nothing to show: nothing drawn.
    v = FitWholePrint(area, WholePrint(), CSize(), preview);
    EXPECT_TRUE(v.print.IsRectEmpty());
}

}  // namespace
