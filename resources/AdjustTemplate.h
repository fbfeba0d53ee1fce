#pragma once
// Dialog resource 137: "Image adjustment", the tone preset pop-up.
#include "platform/DialogTemplate.h"

constexpr int IDD_ADJUST = 137;
constexpr int IDC_CURVE_FRAME = 1014;  // group box marking the curve display, hidden
constexpr int IDC_PRESET = 1015;       // drop-down list of presets
constexpr int IDC_PREVIEW = 1016;      // "Preview" check box

const DialogTemplate& AdjustTemplate();
