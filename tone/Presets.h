#pragma once
// The fixed tone curves the user picks from, in the order of the adjustment
// dialog's list. The list index is what the main window stores; the item data
// is what selects the curve.
#include <string>
#include <string_view>

class ToneCurve;

constexpr int PRESET_PROMPT = -2;      // item data of the "Click here to select..." entry
constexpr int PRESET_INDEX_NONE = -2;  // stored list index while nothing was applied yet
constexpr int TONE_PRESET_COUNT = 13;  // list entries, the prompt included
constexpr int MAX_PRESET_POINTS = 4;

struct TonePreset {
    const wchar_t* text;  // the list text
    int itemData;         // PRESET_PROMPT, or 0..11
    int nPoints;          // 0 for the prompt
    double x[MAX_PRESET_POINTS];
    double y[MAX_PRESET_POINTS];
};

// The list entry at listIndex (0..12), or null.
const TonePreset* FindPresetByIndex(int listIndex);
// The entry with item data p (0..11, or PRESET_PROMPT), or null.
const TonePreset* FindPresetByItemData(int itemData);
// The entry whose text matches, ignoring ASCII case; null when none does.
const TonePreset* FindPresetByName(std::wstring_view name);
const TonePreset* FindPresetByName(std::string_view name);
// List index of an entry found above.
int PresetListIndex(const TonePreset* preset);

// Writes the points of the preset with item data p into the curve and
// rebuilds its spline; slots beyond them keep their values. The caller
// recomputes the table. Item data outside 0..11 leaves the curve untouched
// and returns false.
bool ApplyPreset(ToneCurve& curve, int itemData);
bool ApplyPreset(ToneCurve& curve, const TonePreset& preset);
