#include <gtest/gtest.h>

#include <string>

#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

const int kFullTables[12][256] = {
#include "PresetTables.inc"
};

void ApplyAndTabulate(ToneCurve& curve, int itemData) {
    ASSERT_TRUE(ApplyPreset(curve, itemData));
    curve.UpdateLut();
}

TEST(Presets, ListTextsAndItemData) {
    const wchar_t* texts[] = {L"Click here to select...", L"None", L"Little dark", L"Dark", L"Dark more",
                              L"Little bright", L"Bright", L"Bright more", L"High contrast",
                              L"Low contrast", L"Shadows more light", L"Highlights more dark", L"Invert"};
    for (int i = 0; i < TONE_PRESET_COUNT; ++i) {
        const TonePreset* p = FindPresetByIndex(i);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(std::wstring(p->text), texts[i]);
        EXPECT_EQ(p->itemData, i == 0 ? PRESET_PROMPT : i - 1);
        EXPECT_EQ(PresetListIndex(p), i);
    }
    EXPECT_EQ(FindPresetByIndex(-1), nullptr);
    EXPECT_EQ(FindPresetByIndex(13), nullptr);
}

TEST(Presets, LookUpByName) {
    EXPECT_EQ(PresetListIndex(FindPresetByName(L"Invert")), 12);
    EXPECT_EQ(PresetListIndex(FindPresetByName("highlights more dark")), 11);
    EXPECT_EQ(PresetListIndex(FindPresetByName("NONE")), 1);
    EXPECT_EQ(FindPresetByName("Dark mor"), nullptr);
    EXPECT_EQ(FindPresetByName("Dark moreX"), nullptr);
    EXPECT_EQ(FindPresetByName(""), nullptr);
    EXPECT_EQ(FindPresetByItemData(11)->text, std::wstring(L"Invert"));
}

TEST(Presets, SampledTablesAtSelectedInputs) {
    const int inputs[12] = {0, 16, 32, 64, 96, 122, 128, 160, 192, 224, 240, 255};
    const int want[12][12] = {
        {0, 16, 32, 64, 96, 122, 128, 160, 192, 224, 240, 255},
        {0, 12, 24, 50, 77, 102, 107, 141, 178, 216, 236, 255},
        {0, 8, 17, 36, 59, 82, 87, 123, 165, 209, 233, 255},
        {0, 4, 9, 22, 40, 62, 67, 105, 151, 202, 229, 255},
        {0, 19, 39, 77, 114, 142, 148, 178, 205, 231, 243, 255},
        {0, 23, 46, 91, 132, 162, 168, 196, 218, 238, 246, 255},
        {0, 27, 54, 105, 151, 182, 188, 214, 232, 245, 250, 255},
        {0, 9, 20, 49, 93, 134, 144, 192, 227, 245, 250, 255},
        {0, 24, 47, 83, 100, 107, 109, 121, 149, 197, 226, 255},
        {0, 30, 56, 83, 103, 122, 127, 155, 187, 221, 238, 255},
        {0, 17, 33, 67, 98, 122, 127, 153, 176, 204, 229, 255},
        {255, 236, 218, 183, 148, 121, 115, 85, 55, 27, 13, 0},
    };
    ToneCurve curve;
    for (int p = 0; p < 12; ++p) {
        ApplyAndTabulate(curve, p);
        for (int c = 0; c < 12; ++c)
            EXPECT_EQ(curve.m_lut[inputs[c]], want[p][c]) << "preset " << p << " input " << inputs[c];
    }
}

TEST(Presets, EveryEntryOfEveryTable) {
    // Applied one after another onto the same curve, as the dialog does, so
    // leftovers of a longer preset must not leak into a shorter one.
    ToneCurve curve;
    for (int p : {7, 1, 11, 2, 8, 3, 9, 4, 10, 5, 0, 6, 11}) {
        ApplyAndTabulate(curve, p);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(curve.m_lut[i], kFullTables[p][i]) << "preset " << p << " input " << i;
    }
}

TEST(Presets, TruncationAtKnots) {
    ToneCurve curve;
    ApplyAndTabulate(curve, 11);  // "Invert"
    EXPECT_EQ(curve.m_lut[122], 121);
    EXPECT_EQ(curve.m_lut[128], 115);
    ApplyAndTabulate(curve, 10);  // "Highlights more dark"
    EXPECT_EQ(curve.m_lut[220], 199);
    EXPECT_EQ(curve.m_lut[184], 171);
    ApplyAndTabulate(curve, 7);  // "High contrast"
    EXPECT_EQ(curve.m_lut[60], 45);
    EXPECT_EQ(curve.m_lut[184], 220);
}

TEST(Presets, SecondDerivativesAtInnerKnots) {
    struct Want {
        int preset;
        double m1, m2;  // exact doubles of the step-by-step solution
    };
    const Want wants[] = {
        {1, 0x1.e4ac89f493ccdp-9, 0},        {2, 0x1.e4ac89f493ccfp-8, 0},
        {3, 0x1.6b8167776ed9bp-7, 0},        {4, -0x1.e4ac89f493ccdp-9, 0},
        {5, -0x1.e4ac89f493ccdp-8, 0},       {6, -0x1.6b8167776ed9cp-7, 0},
        {11, 0x1.0a9218aceae3fp-9, 0},       {7, 0x1.1d3416b3a67acp-6, -0x1.422809d538ec4p-6},
        {8, -0x1.6a3148ade0f1ap-6, 0x1.91764a81c3447p-6}, {9, -0x1.48ea6bab7fe2dp-5, 0x1.84282911ac228p-8},
        {10, -0x1.222b28fc0ce3ap-8, 0x1.124ba06b3a713p-5},
    };
    ToneCurve curve;
    for (const Want& w : wants) {
        ASSERT_TRUE(ApplyPreset(curve, w.preset));
        const CubicSpline& s = curve.m_spline;
        const int n = s.KnotCount();
        EXPECT_EQ(s.M()[0], 0.0);
        EXPECT_EQ(s.M()[n - 1], 0.0);
        EXPECT_EQ(s.M()[1], w.m1) << "preset " << w.preset;
        if (n == 4) {
            EXPECT_EQ(s.M()[2], w.m2) << "preset " << w.preset;
        }
    }
    ASSERT_TRUE(ApplyPreset(curve, 7));
    EXPECT_NEAR(curve.m_spline.M()[1], 0.01740744, 5e-9);
    EXPECT_NEAR(curve.m_spline.M()[2], -0.01966287, 5e-9);
}

TEST(Presets, PromptAndUnknownItemDataLeaveTheCurveAlone) {
    ToneCurve curve;
    ASSERT_TRUE(ApplyPreset(curve, 8));
    curve.m_x[10] = 77.0;
    const double m1 = curve.m_spline.M()[1];
    EXPECT_FALSE(ApplyPreset(curve, PRESET_PROMPT));
    EXPECT_FALSE(ApplyPreset(curve, 12));
    EXPECT_FALSE(ApplyPreset(curve, *FindPresetByIndex(0)));
    EXPECT_EQ(curve.m_nPoints, 4);
    EXPECT_EQ(curve.m_y[1], 80.0);
    EXPECT_EQ(curve.m_spline.M()[1], m1);

    // A shorter preset leaves the slots past its points as they were.
    ASSERT_TRUE(ApplyPreset(curve, 0));  // "None"
    EXPECT_EQ(curve.m_nPoints, 2);
    EXPECT_EQ(curve.m_x[2], 184.0);
    EXPECT_EQ(curve.m_x[10], 77.0);
}

}  // namespace
