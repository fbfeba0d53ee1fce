#pragma once
// What the user chose for one photograph. A plain value: it is copied into
// the print order, back into the window, and into each item of a batch.
#include <cstdint>

#include "print/PrintFormatTable.h"
#include "platform/WinTypes.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

// The choices that go with a photograph wherever its frame lies. A new
// setting is a new member here; the window, the order and the batch carry it
// along without another word.
struct PrintChoice {
    int32_t nFormat = DEFAULT_PRINT_FORMAT;
    BOOL bRotated = FALSE;
    BOOL bCorrectLab = TRUE;
    ToneCurve curve;
    int32_t nPreset = PRESET_INDEX_NONE;
};

// ... and with its frame: what one photograph holds when the user leaves it.
struct PhotoSettings : PrintChoice {
    CSize sizeSource;  // the photograph the frame was laid on
    CRect rcSource;    // the frame, in source pixels
    // The frame on the screen as it was left, and the preview's place then.
    // Mapped back from rcSource it could land a pixel off; with the window
    // as it was, it comes back on the same pixels.
    CRect rcFrame;
    CRect rcImage;
};
