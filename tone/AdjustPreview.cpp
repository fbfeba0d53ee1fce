#include "tone/AdjustPreview.h"

#include "imaging/DibBitmap.h"
#include "platform/WaitCursor.h"

void MapPreviewThroughLut(const ToneLut& lut, const PreviewBuffer& preview, ByteBuffer& out) {
    out.Resize(preview.Size());
    if (preview.Size() != 0) MapThroughLut(lut, preview.Data(), out.Data(), preview.Size());
}

bool RenderAdjustedBitmap(ToneCurve& curve, const PreviewBuffer& preview, int32_t width, int32_t height,
                          HBITMAP* phAdjusted) {
    curve.UpdateLut();
    if (phAdjusted == nullptr || width <= 0 || height <= 0) return false;
    const uint64_t needed = static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 3u;
    if (preview.Size() < needed) return false;

    CWaitCursor wait;
    ByteBuffer mapped;
    MapPreviewThroughLut(curve.m_lut, preview, mapped);
    DeleteObject(*phAdjusted);
    *phAdjusted = CreateBitmapFromRgb(mapped.Data(), width, height);
    return true;
}
