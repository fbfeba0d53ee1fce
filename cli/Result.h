#pragma once
// What trimora-cli says about one photograph of an export. One record feeds
// both the tab-separated line and the JSON line, so the two never disagree.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "print/ExportPlan.h"  // DotsPerInch: the window shows the same figure
#include "platform/WinTypes.h"

// How far a lossless cut moved the frame onto the source's block grid.
struct LosslessShift {
    int left = 0;          // pixels the frame's left edge moved to the left (negative: right)
    int up = 0;            // pixels its top edge moved up (negative: down)
    bool clipped = false;  // its size had to shrink at the photograph's edge
};

struct ExportRecord {
    std::string source;  // the photograph as the user named it
    bool ok = false;
    std::string error;   // why nothing was written, when !ok

    // The written file, when ok.
    std::string output;  // its path on the host
    CSize pixels;
    float widthCm = 0.0f;  // the print
    float heightCm = 0.0f;
    long dpi = 0;

    // What the user should know about a file that was written anyway.
    std::vector<std::string> warnings;
    std::optional<LosslessShift> lossless;

    // Prints wanted of a photograph of an order; 0 for one that is not.
    int copies = 0;
};

// Adds the warning that labs give below minDpi (0: none) and returns its
// text, or returns "" when the resolution is enough.
std::string WarnOfLowResolution(ExportRecord& record, const std::string& formatName, int minDpi);

// "12 px left" for 12, "12 px right" for -12 (back "left", forward "right").
std::string Moved(int pixels, const char* back, const char* forward);

// The warning for a lossless cut that moved right or down rather than left
// and up; "" when it did not.
std::string MovedInwardText(const LosslessShift& shift);

// "output<TAB>WxH px<TAB>W.WxH.H cm<TAB>N dpi", then the lossless shift, then
// an order's copies ("3 copies").
std::string TabLine(const ExportRecord& record);

// One JSON object on one line, no newline at its end.
std::string JsonLine(const ExportRecord& record);

// bytes as a JSON string, quotes included. Bytes that are not UTF-8 become
// U+FFFD, so the result is always valid UTF-8 and valid JSON.
std::string JsonString(std::string_view bytes);

bool IsUtf8(std::string_view bytes);
