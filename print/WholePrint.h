#pragma once
// The whole photograph on a print of the format's proportions: nothing is
// cut off and nothing scaled; white fills what the photograph leaves free.
#include "imaging/Export.h"
#include "platform/WinTypes.h"

struct WholePrint {
    CSize print;  // the print's pixels
    CRect photo;  // where the photograph lies on it
};

// photo: the upright photograph's pixels; widthCm x heightCm: the frame's
// sides as the window and the command line give them (lab correction and
// orientation applied). The photograph's side that fills the format stays;
// the other grows to the format's proportions, rounded as the export
// rectangle rounds (so a photograph already of those proportions gets no
// border), never below the photograph's own. The photograph sits in the
// middle, a half pixel going left and up.
WholePrint MakeWholePrint(CSize photo, float widthCm, float heightCm);

// The white the export puts around the photograph for this print (none for
// a print that is the photograph).
WhiteMargins MarginsAround(const WholePrint& whole);

// The print as the window shows it in area (client pixels), given the
// photograph's preview size: at the preview's own scale where the print
// fits, smaller where it does not; the print centred in area, the
// photograph centred on the print.
struct WholePrintView {
    CRect print;
    CRect photo;
};
WholePrintView FitWholePrint(const CRect& area, const WholePrint& whole, CSize photo, CSize preview);
