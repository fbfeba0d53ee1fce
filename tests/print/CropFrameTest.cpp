#include <gtest/gtest.h>

#include "print/CropFrame.h"
#include "print/PrintFormatTable.h"

namespace {
// The frame over a fixed preview area, as on a 240 x 320 handheld.
class Model : public FrameModel {
public:
    Model(int sw, int sh, int pw, int ph, CRect area = {2, 46, 238, 276}) : m_area(area) {
        m_sizeSource = {sw, sh};
        m_sizePreview = {pw, ph};
        m_bLoaded = TRUE;
        SetFormat(2, FALSE, TRUE);
    }
    void SetFormat(int index, BOOL rotated, BOOL correct) {
        PrintFormatTable t;
        m_frame.m_fWidthCm = t.FrameWidthCm(index, rotated, correct);
        m_frame.m_fHeightCm = t.FrameHeightCm(index, rotated, correct);
        FitFrameToImage();
    }
    CRect GetPreviewArea() const override { return m_area; }
    void Redraw() override { ++redraws; }

    // A whole drag as the stylus makes it: press, moves, lift.
    bool Drag(CPoint from, std::initializer_list<CPoint> path) {
        if (!m_frame.BeginTrack(from)) return false;
        for (CPoint p : path) m_frame.TrackTo(p);
        return m_frame.EndTrack();
    }
    CRect m_area;
    int redraws = 0;
};

const CRect kImage(2, 73, 238, 250);
}  // namespace

TEST(CropFrameFit, LargestFrameAtTopLeft) {
    Model m(1600, 1200, 236, 177);
    EXPECT_EQ(m.GetImageRect(), kImage);
    EXPECT_EQ(m.m_rcSource, CRect(0, 0, 1600, 1073));
    EXPECT_EQ(m.m_frame.m_rect, CRect(2, 73, 238, 231));
    m.SetFormat(2, FALSE, FALSE);
    EXPECT_EQ(m.m_rcSource, CRect(0, 0, 1600, 1066));
    m.SetFormat(2, TRUE, TRUE);
    EXPECT_EQ(m.m_rcSource, CRect(0, 0, 805, 1200));
    m.SetFormat(2, TRUE, FALSE);
    EXPECT_EQ(m.m_rcSource, CRect(0, 0, 800, 1200));

    Model portrait(1200, 1600, 172, 230);
    EXPECT_EQ(portrait.m_rcSource, CRect(0, 0, 1200, 805));
}

TEST(CropFrameFit, NothingWhileNoPhotograph) {
    Model m(1600, 1200, 236, 177);
    m.m_bLoaded = FALSE;
    m.m_rcSource = {1, 2, 3, 4};
    m.FitFrameToImage();
    EXPECT_EQ(m.m_rcSource, CRect(1, 2, 3, 4));
    m.OnMoveDown();
    EXPECT_EQ(m.m_rcSource, CRect(1, 2, 3, 4));
    EXPECT_EQ(m.redraws, 0);
}

TEST(CropFrameKeys, StepsSlideBackAtTheBorder) {
    Model m(1600, 1200, 236, 177);
    m.OnMoveRight();
    EXPECT_EQ(m.m_frame.m_rect, CRect(2, 73, 238, 231));
    EXPECT_EQ(m.m_rcSource, CRect(0, 0, 1600, 1071));
    EXPECT_EQ(m.redraws, 1);

    Model d(1600, 1200, 236, 177);
    d.OnMoveDown();
    EXPECT_EQ(d.m_frame.m_rect, CRect(2, 74, 238, 232));
    EXPECT_EQ(d.m_rcSource, CRect(0, 6, 1600, 1077));
}

TEST(CropFrameKeys, HoldingAKeyNeverLeavesThePhotograph) {
    for (int rotated = 0; rotated < 2; ++rotated) {
        Model m(1600, 1200, 236, 177);
        m.SetFormat(13, rotated, TRUE);
        const CRect start = m.m_frame.m_rect;
        for (int i = 0; i < 300; ++i) m.OnMoveDown();
        for (int i = 0; i < 300; ++i) m.OnMoveRight();
        EXPECT_LE(m.m_rcSource.right, 1600);
        EXPECT_LE(m.m_rcSource.bottom, 1200);
        EXPECT_EQ(m.m_frame.m_rect.Width(), start.Width());
        EXPECT_EQ(m.m_frame.m_rect.Height(), start.Height());
        for (int i = 0; i < 300; ++i) m.OnMoveUp();
        for (int i = 0; i < 300; ++i) m.OnMoveLeft();
        EXPECT_EQ(m.m_frame.m_rect.TopLeft(), kImage.TopLeft());
        EXPECT_EQ(m.m_rcSource.left, 0);
        EXPECT_EQ(m.m_rcSource.top, 0);
    }
}

TEST(CropFrameDrag, PressWithoutMovementChangesNothing) {
    Model m(1600, 1200, 236, 177);
    const CRect before = m.m_rcSource;
    EXPECT_FALSE(m.Drag({100, 150}, {}));
    EXPECT_FALSE(m.Drag({100, 150}, {{100, 150}}));
    EXPECT_EQ(m.m_rcSource, before);
    // Outside the frame nothing is hit at all.
    EXPECT_EQ(m.m_frame.HitTest({100, 240}), -1);
    EXPECT_EQ(m.m_frame.HitTest({100, 150}), 8);
    EXPECT_EQ(m.m_frame.HitTest({3, 74}), 0);
    EXPECT_EQ(m.m_frame.HitTest({237, 230}), 2);
}

TEST(CropFrameDrag, ShrinkStopsAtTenPixels) {
    Model m(1600, 1200, 236, 177);
    // Bottom-right corner inward, one pixel at a time, far past ten pixels.
    std::vector<CPoint> path;
    for (int x = 236; x > 0; --x) path.push_back({x, 229});
    ASSERT_TRUE(m.m_frame.BeginTrack({236, 229}));
    for (CPoint p : path) {
        m.m_frame.TrackTo(p);
        ASSERT_GE(m.m_frame.m_rect.Width(), 10);
        ASSERT_GE(m.m_frame.m_rect.Height(), 10);
    }
    EXPECT_TRUE(m.m_frame.EndTrack());
    EXPECT_LT(m.m_frame.m_rect.Width(), 16);
    EXPECT_EQ(m.m_rcSource.left, 0);
}

// Every handle dragged far past every border, in steps: the frame stays on
// the photograph (within the pixel truncation costs) and keeps the format.
TEST(CropFrameDrag, EveryHandlePastEveryBorderStaysInside) {
    for (int format : {2, 13, 27}) {
        for (int rotated = 0; rotated < 2; ++rotated) {
            for (int handle = 0; handle < 9; ++handle) {
                for (int dir = 0; dir < 8; ++dir) {
                    Model m(1600, 1200, 236, 177);
                    m.SetFormat(format, rotated, TRUE);
                    // Start from a small centred frame so every border can be reached.
                    const float ratio = m.m_frame.m_fHeightCm / m.m_frame.m_fWidthCm;
                    const int w = ratio > 1.0f ? int(400 / ratio) : 400;
                    m.m_rcSource = {600, 400, 600 + w, 400 + int(w * ratio)};
                    m.UpdateFrameRect();
                    const CRect start = m.m_frame.m_rect;
                    const CRect h = m.m_frame.GetHandleRect(handle);
                    const CPoint from = handle == 8 ? CPoint{(start.left + start.right) / 2, (start.top + start.bottom) / 2}
                                                    : CPoint{(h.left + h.right) / 2, (h.top + h.bottom) / 2};
                    ASSERT_EQ(m.m_frame.HitTest(from), handle);
                    static const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
                    static const int dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
                    ASSERT_TRUE(m.m_frame.BeginTrack(from));
                    for (int s = 1; s <= 400; s += 3) {
                        m.m_frame.TrackTo({from.x + dx[dir] * s, from.y + dy[dir] * s});
                        const CRect r = m.m_frame.m_rect;
                        SCOPED_TRACE(testing::Message() << "format " << format << " rot " << rotated << " handle "
                                                        << handle << " dir " << dir << " step " << s);
                        ASSERT_GE(r.left, kImage.left - 1);
                        ASSERT_GE(r.top, kImage.top - 1);
                        ASSERT_LE(r.right, kImage.right + 1);
                        ASSERT_LE(r.bottom, kImage.bottom + 1);
                        ASSERT_GE(r.Width(), 10);
                        ASSERT_GE(r.Height(), 10);
                        ASSERT_GE(m.m_rcSource.left, -7);
                        ASSERT_GE(m.m_rcSource.top, -7);
                        ASSERT_LE(m.m_rcSource.right, 1600 + 7);
                        ASSERT_LE(m.m_rcSource.bottom, 1200 + 7);
                        if (handle != 8) {
                            // Whichever side follows, it is off by at most the one
                            // pixel its truncation costs.
                            ASSERT_NEAR(r.Height(), r.Width() * ratio, 1.0f + ratio);
                        } else {
                            ASSERT_EQ(r.Width(), start.Width());
                            ASSERT_EQ(r.Height(), start.Height());
                        }
                    }
                    m.m_frame.EndTrack();
                }
            }
        }
    }
}

TEST(CropFrameDrag, BottomRightOutwardEndsInsideWithProportions) {
    Model m(1600, 1200, 236, 177);
    m.m_rcSource = {0, 0, 800, 536};
    m.UpdateFrameRect();
    const CRect r0 = m.m_frame.m_rect;
    EXPECT_TRUE(m.Drag({r0.right - 2, r0.bottom - 2}, {{200, 200}, {260, 270}, {300, 320}}));
    const CRect r = m.m_frame.m_rect;
    EXPECT_LE(r.right, kImage.right);
    EXPECT_LE(r.bottom, kImage.bottom);
    EXPECT_NEAR(double(r.Height()) / r.Width(), 10.2 / 15.2, 0.02);
    EXPECT_LE(m.m_rcSource.right, 1600);
    EXPECT_LE(m.m_rcSource.bottom, 1200);
}

TEST(CropFrameGeometry, CentreRectTruncatesHalves) {
    EXPECT_EQ(CentreRect({2, 46, 238, 276}, 236, 177), CRect(2, 73, 238, 250));
    EXPECT_EQ(CentreRect({0, 0, 11, 11}, 3, 3), CRect(4, 4, 7, 7));
    EXPECT_EQ(CentreRect({-5, -5, 0, 0}, 2, 2), CRect(-3, -3, -1, -1));
}
