#pragma once
// What the GO! command decides before it writes anything: the output file's
// path, whether that file would be the source itself, and the rectangle of
// source pixels to export. The main window and the command-line tool share it
// so that both produce the same file for the same frame.
#include <string>

#include "platform/WinTypes.h"
#include "print/WholePrint.h"

// A half rounds down: the fraction is narrowed to single precision and must
// exceed 0.5 to round up. Values beyond the 32-bit range saturate.
int32_t RoundToInt(float v);

// folder: a device folder path ending with a backslash ("\" for the root).
// The suffix goes before the first dot of the source's name, not counting a
// dot that begins the name; a name without such a dot keeps no suffix. A
// HEIF name's extension becomes .jpg.
std::wstring MakeOutputPath(const std::wstring& folder, const std::wstring& sourcePath,
                            const std::wstring& suffix);

// True when writing outputPath would destroy the source: the same text, or
// another spelling of the same file (the device ignores case; a link or a
// hard link leads to the same host file).
bool IsSourceFile(const std::wstring& outputPath, const std::wstring& sourcePath);

// The frame rectangle rcSource given the format's exact proportions
// (widthCm x heightCm): an edge lying on the photograph's right or bottom
// border stays there, and the result is cut to the sw x sh photograph. Empty
// (all 0) when nothing of it lies on the photograph.
CRect MakeExportRect(const CRect& rcSource, const CSize& sizeSource, float widthCm, float heightCm);

// The resolution a print of widthCm x heightCm gets from pixels: the smaller
// of the two sides', rounded. They differ only by rounding, unless a
// hand-made frame was cut by the photograph's border; the smaller one is
// what the whole print gets at least.
long DotsPerInch(CSize pixels, float widthCm, float heightCm);

// Labs refuse or warn below about this many dots per inch.
constexpr int LOW_PRINT_DPI = 150;

enum class ExportPlanResult {
    Ready,             // write plan.outputPath from plan.rcExport
    OverwritesSource,  // refuse: "You cannot overwrite the file, ..."
    EmptyRect,         // nothing to write; stop without a message
};

struct ExportPlan {
    std::wstring outputPath;
    CRect rcExport;
    // The new file: rcExport's pixels alone, or the whole photograph with
    // white around it.
    WholePrint print;
};

// The steps of the export command in their order: name, refusal, rectangle.
// wholePhotograph: the frame is left aside; the whole photograph goes on a
// print of the format's proportions.
ExportPlanResult PlanExport(const std::wstring& folder, const std::wstring& sourcePath,
                            const std::wstring& suffix, const CRect& rcSource, const CSize& sizeSource,
                            float widthCm, float heightCm, ExportPlan& plan, bool wholePhotograph = false);
