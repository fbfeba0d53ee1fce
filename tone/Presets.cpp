#include "tone/Presets.h"

#include <type_traits>

#include "tone/ToneCurve.h"

namespace {
const TonePreset kPresets[TONE_PRESET_COUNT] = {
    {L"Click here to select...", PRESET_PROMPT, 0, {}, {}},
    {L"None", 0, 2, {0, 255}, {0, 255}},
    {L"Little dark", 1, 3, {0, 122, 255}, {0, 102, 255}},
    {L"Dark", 2, 3, {0, 122, 255}, {0, 82, 255}},
    {L"Dark more", 3, 3, {0, 122, 255}, {0, 62, 255}},
    {L"Little bright", 4, 3, {0, 122, 255}, {0, 142, 255}},
    {L"Bright", 5, 3, {0, 122, 255}, {0, 162, 255}},
    {L"Bright more", 6, 3, {0, 122, 255}, {0, 182, 255}},
    {L"High contrast", 7, 4, {0, 60, 184, 255}, {0, 45, 220, 255}},
    {L"Low contrast", 8, 4, {0, 60, 184, 255}, {0, 80, 140, 255}},
    {L"Shadows more light", 9, 4, {0, 35, 75, 255}, {0, 60, 90, 255}},
    {L"Highlights more dark", 10, 4, {0, 184, 220, 255}, {0, 171, 200, 255}},
    // Not the exact complement: the middle point sits below the straight line.
    {L"Invert", 11, 3, {0, 122, 255}, {255, 122, 0}},
};

template <typename Char>
bool SameIgnoringAsciiCase(const wchar_t* text, std::basic_string_view<Char> name) {
    auto lower = [](unsigned long c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    size_t i = 0;
    for (; text[i] != L'\0'; ++i) {
        if (i == name.size()) return false;
        using U = std::make_unsigned_t<Char>;
        if (lower(static_cast<unsigned long>(text[i])) != lower(static_cast<U>(name[i]))) return false;
    }
    return i == name.size();
}

template <typename Char>
const TonePreset* FindByName(std::basic_string_view<Char> name) {
    for (const TonePreset& p : kPresets)
        if (SameIgnoringAsciiCase(p.text, name)) return &p;
    return nullptr;
}
}  // namespace

const TonePreset* FindPresetByIndex(int listIndex) {
    if (listIndex < 0 || listIndex >= TONE_PRESET_COUNT) return nullptr;
    return &kPresets[listIndex];
}

const TonePreset* FindPresetByItemData(int itemData) {
    for (const TonePreset& p : kPresets)
        if (p.itemData == itemData) return &p;
    return nullptr;
}

const TonePreset* FindPresetByName(std::wstring_view name) { return FindByName(name); }
const TonePreset* FindPresetByName(std::string_view name) { return FindByName(name); }

int PresetListIndex(const TonePreset* preset) {
    if (preset < kPresets || preset >= kPresets + TONE_PRESET_COUNT) return -1;
    return static_cast<int>(preset - kPresets);
}

bool ApplyPreset(ToneCurve& curve, const TonePreset& preset) {
    if (preset.itemData < 0 || preset.itemData > 11 || preset.nPoints < 2) return false;
    curve.m_nPoints = preset.nPoints;
    for (int k = 0; k < preset.nPoints; ++k) {
        curve.m_x[k] = preset.x[k];
        curve.m_y[k] = preset.y[k];
    }
    curve.UpdateSpline();
    return true;
}

bool ApplyPreset(ToneCurve& curve, int itemData) {
    if (itemData < 0 || itemData > 11) return false;
    const TonePreset* preset = FindPresetByItemData(itemData);
    return preset != nullptr && ApplyPreset(curve, *preset);
}
