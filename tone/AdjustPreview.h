#pragma once
// The adjusted view of a preview: every byte of the preview mapped through a
// curve's table, turned into a bitmap for the main window to draw.
#include <cstdint>

#include "imaging/PreviewBuffer.h"
#include "platform/Gdi.h"
#include "tone/ToneCurve.h"

// out becomes as long as preview; byte j = low 8 bits of lut[preview[j]].
void MapPreviewThroughLut(const ToneLut& lut, const PreviewBuffer& preview, ByteBuffer& out);

// Recomputes the curve's table, maps the preview through it and replaces the
// bitmap in *phAdjusted (the old one is deleted) with one made from the
// mapped pixels at width x height. A preview that does not hold width x
// height pixels leaves *phAdjusted as it was and returns false, rather than
// reading past the buffer.
bool RenderAdjustedBitmap(ToneCurve& curve, const PreviewBuffer& preview, int32_t width, int32_t height,
                          HBITMAP* phAdjusted);
