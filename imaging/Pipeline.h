#pragma once
// The two long operations on a photograph: decoding it into a small preview,
// and writing its framed part as a new JPEG. Both stream rows; neither holds
// the whole picture.
#include <string>

#include "imaging/PreviewBuffer.h"
#include "platform/ProgressSink.h"
#include "platform/WinTypes.h"

class ToneCurve;

// box: in, the largest preview the caller can show (1..800 x 1..600); out, the
// preview's size. sourceSize: out, the photograph's size. Returns 1 or 0.
int LoadPreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                ProgressSink& progress);

// crop: source pixels, right and bottom exclusive, inside the photograph.
// Returns 1 when the destination was written completely.
int ExportFramedImage(const std::wstring& sourcePath, const std::wstring& destinationPath,
                      const CRect& crop, ProgressSink& progress, ToneCurve& curve, int quality);
