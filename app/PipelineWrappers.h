#pragma once
// The preview and the export as the window calls them: the engine's
// operations, with the wait cursor held around them and the engine's
// reasons turned into the window's message boxes.
#include <string>
#include <vector>

#include "imaging/Pipeline.h"

class ToneCurve;

// box: in, the largest preview the caller can show (1..800 x 1..600); out, the
// preview's size. sourceSize: out, the photograph's size. Both, and the
// preview, are upright (turned as its EXIF Orientation says). A photograph
// below 800 x 600 is refused with "Image must be lagrer then 800x600";
// running out of memory says "out of memory" and ends the program. Returns
// 1 or 0.
int LoadPreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                ProgressSink& progress, PhotoReport* report = nullptr);

// crop: upright source pixels, right and bottom exclusive, inside the
// photograph; the new file holds them upright and needs no orientation tag.
// The curve's table is rebuilt first. Returns 1 when the destination was
// written completely. warnings, when given, hears what went wrong beside
// the file (a temporary that could not be removed).
int ExportFramedImage(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                      ProgressSink& progress, ToneCurve& curve, int quality, PhotoReport* report = nullptr,
                      std::vector<std::string>* warnings = nullptr);

// "out of memory" in a box without a caption: what the window shows before
// the program ends when a buffer cannot be had (SetOutOfMemoryHandler).
void ShowOutOfMemory();
