#include <gtest/gtest.h>

#include "platform/WaitCursor.h"
#include "tone/AdjustPreview.h"
#include "tone/Presets.h"

namespace {

PreviewBuffer MakePreview(int w, int h) {
    PreviewBuffer preview;
    preview.Resize(static_cast<size_t>(w) * h * 3);
    for (size_t j = 0; j < preview.Size(); ++j) preview[j] = static_cast<uint8_t>(j * 37 + 5);
    return preview;
}

TEST(AdjustPreview, MapsEveryByteThroughTheTable) {
    PreviewBuffer preview = MakePreview(7, 2);
    ToneCurve curve;
    ASSERT_TRUE(ApplyPreset(curve, 11));  // "Invert"
    curve.UpdateLut();
    ByteBuffer mapped;
    MapPreviewThroughLut(curve.m_lut, preview, mapped);
    ASSERT_EQ(mapped.Size(), preview.Size());
    for (size_t j = 0; j < preview.Size(); ++j) ASSERT_EQ(mapped[j], curve.m_lut[preview[j]]) << j;
}

TEST(AdjustPreview, ReplacesTheBitmapWithTheMappedPreview) {
    const int w = 5, h = 3;  // not a multiple of 4: rows are padded in the bitmap
    PreviewBuffer preview = MakePreview(w, h);
    HBITMAP adjusted = nullptr;  // nothing to delete the first time

    ToneCurve curve;
    ASSERT_TRUE(ApplyPreset(curve, 9));  // "Shadows more light"; table not yet computed
    ASSERT_TRUE(RenderAdjustedBitmap(curve, preview, w, h, &adjusted));
    ASSERT_NE(adjusted, nullptr);
    EXPECT_EQ(curve.m_lut[35], 60);  // the render computed the table
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &preview[(y * w + x) * 3];
            const uint32_t want = (uint32_t(curve.m_lut[p[0]]) << 16) | (uint32_t(curve.m_lut[p[1]]) << 8) |
                                  uint32_t(curve.m_lut[p[2]]);
            ASSERT_EQ(GetDibPixel(adjusted, x, y), want) << x << "," << y;
        }
    EXPECT_EQ(CWaitCursor::Depth(), 0);

    // A second render deletes the first bitmap (leak and double-free checkers
    // see this) and maps from the preview again, not from the last result.
    ToneCurve identity;
    ASSERT_TRUE(RenderAdjustedBitmap(identity, preview, w, h, &adjusted));
    const uint8_t* p = &preview[0];
    EXPECT_EQ(GetDibPixel(adjusted, 0, 0), (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]);
    DeleteObject(adjusted);
}

TEST(AdjustPreview, ShortPreviewLeavesTheBitmapAlone) {
    PreviewBuffer preview = MakePreview(4, 4);
    HBITMAP adjusted = nullptr;
    ToneCurve curve;
    ASSERT_TRUE(RenderAdjustedBitmap(curve, preview, 4, 4, &adjusted));
    HBITMAP before = adjusted;
    const uint32_t pixel = GetDibPixel(adjusted, 3, 3);

    EXPECT_FALSE(RenderAdjustedBitmap(curve, preview, 4, 5, &adjusted));
    EXPECT_FALSE(RenderAdjustedBitmap(curve, preview, 0, 4, &adjusted));
    PreviewBuffer empty;
    EXPECT_FALSE(RenderAdjustedBitmap(curve, empty, 4, 4, &adjusted));
    EXPECT_EQ(adjusted, before);
    EXPECT_EQ(GetDibPixel(adjusted, 3, 3), pixel);
    EXPECT_FALSE(RenderAdjustedBitmap(curve, preview, 4, 4, nullptr));
    DeleteObject(adjusted);
}

}  // namespace
