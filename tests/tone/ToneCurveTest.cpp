#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "tone/ToneCurve.h"

namespace {

void SetPoints(ToneCurve& curve, std::vector<std::pair<double, double>> points) {
    curve.m_nPoints = static_cast<int>(points.size());
    for (size_t k = 0; k < points.size(); ++k) {
        curve.m_x[k] = points[k].first;
        curve.m_y[k] = points[k].second;
    }
    curve.UpdateSpline();
}

TEST(CubicSpline, EmptyAndSmallSplinesEvaluateToZero) {
    CubicSpline spline;
    EXPECT_EQ(spline.Capacity(), 0);
    EXPECT_EQ(spline.Evaluate(100.0), 0.0);

    const double xs[] = {0, 255};
    const double ys[] = {0, 255};
    spline.SetKnots(2, xs, ys);
    EXPECT_EQ(spline.Capacity(), 0);
    EXPECT_EQ(spline.M(), nullptr);
    EXPECT_EQ(spline.Evaluate(100.0), 0.0);
}

TEST(CubicSpline, BlockIsOneAllocationLaidOutMThenXThenY) {
    CubicSpline spline;
    const double xs[] = {0, 60, 184, 255};
    const double ys[] = {0, 45, 220, 255};
    spline.SetKnots(4, xs, ys);
    ASSERT_EQ(spline.Capacity(), 4);
    EXPECT_EQ(spline.X(), spline.M() + 4);
    EXPECT_EQ(spline.Y(), spline.M() + 8);
    EXPECT_EQ(spline.Y()[2], 220.0);
}

TEST(CubicSpline, BlockOnlyGrowsAndReserveEmptiesTheKnots) {
    CubicSpline spline;
    const double xs4[] = {0, 60, 184, 255};
    const double ys4[] = {0, 45, 220, 255};
    spline.SetKnots(4, xs4, ys4);
    const double* block = spline.M();

    const double xs3[] = {0, 122, 255};
    const double ys3[] = {0, 102, 255};
    spline.SetKnots(3, xs3, ys3);
    EXPECT_EQ(spline.M(), block);
    EXPECT_EQ(spline.Capacity(), 4);
    EXPECT_EQ(spline.KnotCount(), 3);
    EXPECT_EQ(spline.X()[1], 122.0);

    spline.Reserve(2);
    EXPECT_EQ(spline.KnotCount(), 0);
    EXPECT_EQ(spline.Capacity(), 4);

    // Beyond capacity, knots are dropped rather than written past the block.
    spline.Reserve(3);
    for (int k = 0; k < 6; ++k) spline.AddKnot(k, k);
    EXPECT_EQ(spline.KnotCount(), 4);
    EXPECT_EQ(spline.Y()[3], 3.0);
}

TEST(CubicSpline, SetKnotsWithTwoPointsKeepsEarlierKnots) {
    CubicSpline spline;
    const double xs[] = {0, 122, 255};
    const double ys[] = {0, 102, 255};
    spline.SetKnots(3, xs, ys);
    const double m1 = spline.M()[1];
    const double other[] = {0, 255};
    spline.SetKnots(2, other, other);
    EXPECT_EQ(spline.KnotCount(), 3);
    EXPECT_EQ(spline.M()[1], m1);
    EXPECT_EQ(spline.Y()[1], 102.0);
}

TEST(CubicSpline, SecondDerivativesAndExtensions) {
    CubicSpline spline;
    const double xs[] = {0, 122, 255};
    const double ys[] = {0, 102, 255};
    spline.SetKnots(3, xs, ys);
    EXPECT_EQ(spline.M()[0], 0.0);
    EXPECT_EQ(spline.M()[1], 0x1.e4ac89f493ccdp-9);  // about 0.0036978
    EXPECT_EQ(spline.M()[2], 0.0);

    // Straight lines beyond the end knots, along the end slopes.
    EXPECT_EQ(spline.Evaluate(-10.0), -0x1.e6f62fc5f0aa3p+2);  // about -7.6088
    EXPECT_EQ(spline.Evaluate(265.0), 0x1.0b52cc68a250bp+8);   // about 267.3234
    EXPECT_NEAR(spline.Evaluate(-10.0), -7.6088, 1e-4);
    EXPECT_NEAR(spline.Evaluate(265.0), 267.3234, 1e-4);
    EXPECT_EQ(spline.Evaluate(255.0), 255.0);
    EXPECT_EQ(spline.Evaluate(0.0), 0.0);
    EXPECT_EQ(spline.Evaluate(121.5), 0x1.96076a24116fcp+6);
}

TEST(CubicSpline, InnerKnotUsesTheIntervalToItsRight) {
    CubicSpline spline;
    const double xs[] = {0, 60, 184, 255};
    const double ys[] = {0, 45, 220, 255};
    spline.SetKnots(4, xs, ys);
    EXPECT_EQ(spline.FindInterval(0.0), 0);
    EXPECT_EQ(spline.FindInterval(59.999), 0);
    EXPECT_EQ(spline.FindInterval(60.0), 1);
    EXPECT_EQ(spline.FindInterval(184.0), 2);
    EXPECT_EQ(spline.FindInterval(254.0), 2);
}

TEST(ToneCurve, IdentityOnConstruction) {
    ToneCurve curve;
    EXPECT_EQ(curve.m_nPoints, 2);
    EXPECT_EQ(curve.m_x[0], 0.0);
    EXPECT_EQ(curve.m_y[0], 0.0);
    EXPECT_EQ(curve.m_x[1], 255.0);
    EXPECT_EQ(curve.m_y[1], 255.0);
    curve.UpdateSpline();
    curve.UpdateLut();
    EXPECT_EQ(curve.m_spline.Capacity(), 0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(curve.m_lut[i], i);
}

TEST(ToneCurve, TwoPointsGiveTheIdentityWhateverThePoints) {
    ToneCurve curve;
    SetPoints(curve, {{0, 255}, {255, 0}});
    curve.UpdateLut();
    for (int i = 0; i < 256; ++i) ASSERT_EQ(curve.m_lut[i], i);
}

TEST(ToneCurve, LastKnotLevelIsExact) {
    ToneCurve curve;
    SetPoints(curve, {{0, 10}, {100, 90}, {200, 180}, {255, 240}});
    curve.UpdateLut();
    EXPECT_EQ(curve.m_lut[255], 240);
}

TEST(ToneCurve, AssignCopiesEverySlotAndRebuilds) {
    ToneCurve source;
    for (int k = 0; k < MAX_TONE_POINTS; ++k) {
        source.m_x[k] = 1000.0 + k;
        source.m_y[k] = 2000.0 + k;
    }
    SetPoints(source, {{0, 0}, {122, 82}, {255, 255}});
    source.UpdateLut();

    ToneCurve copy;
    copy.Assign(source);
    EXPECT_EQ(copy.m_nPoints, 3);
    EXPECT_EQ(std::memcmp(copy.m_x, source.m_x, sizeof copy.m_x), 0);
    EXPECT_EQ(std::memcmp(copy.m_y, source.m_y, sizeof copy.m_y), 0);
    EXPECT_EQ(copy.m_x[47], 1047.0);
    EXPECT_EQ(copy.m_spline.KnotCount(), 3);
    EXPECT_EQ(std::memcmp(copy.m_lut, source.m_lut, sizeof copy.m_lut), 0);
    EXPECT_EQ(source.m_x[3], 1003.0);  // the source is left alone

    // Back to two points: the spline keeps its knots, the table is the identity.
    ToneCurve identity;
    copy.Assign(identity);
    EXPECT_EQ(copy.m_spline.KnotCount(), 3);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(copy.m_lut[i], i);
}

// A curve kept for a photograph is a plain copy: it owns its own spline, so
// the curve it came from can change, grow or go without touching it.
TEST(ToneCurve, CopiesAndMovesLikeAValue) {
    auto source = std::make_unique<ToneCurve>();
    SetPoints(*source, {{0, 0}, {60, 45}, {184, 220}, {255, 255}});
    source->UpdateLut();
    const ToneCurve copy = *source;
    EXPECT_NE(copy.m_spline.M(), source->m_spline.M());
    ASSERT_EQ(std::memcmp(copy.m_lut, source->m_lut, sizeof copy.m_lut), 0);

    // The source takes a larger spline, then is gone; the copy still
    // evaluates its own knots.
    SetPoints(*source, {{0, 0}, {35, 60}, {75, 90}, {150, 170}, {255, 255}});
    ToneCurve moved = std::move(*source);
    source.reset();
    EXPECT_EQ(moved.m_spline.KnotCount(), 5);
    ToneCurve again = copy;
    again.UpdateLut();
    EXPECT_EQ(again.m_lut[60], 45);
    EXPECT_EQ(again.m_lut[184], 220);
    EXPECT_EQ(std::memcmp(again.m_lut, copy.m_lut, sizeof again.m_lut), 0);
    again = moved;  // a larger spline assigned over a smaller one
    EXPECT_EQ(again.m_spline.Capacity(), 5);
    EXPECT_EQ(again.m_spline.X()[3], 150.0);
}

TEST(ToneCurve, LevelsOutsideTheSquareAreHeldAtTheEnds) {
    EXPECT_EQ(TruncateLevel(254.9999), 254);
    EXPECT_EQ(TruncateLevel(-0.5), 0);
    EXPECT_EQ(TruncateLevel(-7.6), 0);
    EXPECT_EQ(TruncateLevel(267.3), 255);
    EXPECT_EQ(TruncateLevel(0.0 / 0.0), 0);

    // An overshooting curve must not wrap round when a consumer keeps the low byte.
    ToneCurve curve;
    SetPoints(curve, {{0, 0}, {20, 250}, {255, 255}});
    curve.UpdateLut();
    for (int i = 0; i < 256; ++i) {
        ASSERT_GE(curve.m_lut[i], 0);
        ASSERT_LE(curve.m_lut[i], 255);
    }
    EXPECT_EQ(curve.m_lut[255], 255);
}

TEST(ToneCurve, MapThroughLutMapsEveryByteAlike) {
    ToneLut lut;
    for (int i = 0; i < 256; ++i) lut[i] = 255 - i;
    const uint8_t src[] = {0, 10, 255, 10, 128, 0};
    uint8_t dst[6] = {};
    MapThroughLut(lut, src, dst, 6);
    const uint8_t want[] = {255, 245, 0, 245, 127, 255};
    EXPECT_EQ(std::memcmp(dst, want, 6), 0);

    uint8_t inPlace[] = {1, 2, 3};
    MapThroughLut(lut, inPlace, inPlace, 3);
    EXPECT_EQ(inPlace[2], 252);
}

}  // namespace
