#include "print/PrintFormatTable.h"

#include <algorithm>
#include <cwctype>

namespace {
struct Row {
    const wchar_t* name;
    float shortSide, longSide, shortCorrection, longCorrection;
    const wchar_t* suffix;
};

// Sides and corrections as the nearest floats to these decimals.
const Row kRows[PRINT_FORMAT_COUNT] = {
    {L"9x13 cm", 9.0f, 13.0f, -0.1f, -0.3f, L"_9x13"},
    {L"10x13.5 cm", 10.0f, 13.5f, 0.2f, 0.0f, L"_10x13"},
    {L"10x15 cm", 10.0f, 15.0f, 0.2f, 0.2f, L"_10x15"},
    {L"13x18 cm", 13.0f, 18.0f, -0.3f, -0.2f, L"_13x18"},
    {L"13x19 cm", 13.0f, 19.0f, -0.3f, 0.5f, L"_13x19"},
    {L"15x20 cm", 15.0f, 20.0f, 0.2f, 0.4f, L"_15x20"},
    {L"15x21 cm", 15.0f, 21.0f, 0.2f, 0.0f, L"_15x21"},
    {L"15x23 cm", 15.0f, 23.0f, 0.2f, 0.5f, L"_15x23"},
    {L"20x27 cm", 20.0f, 27.0f, 0.3f, 0.3f, L"_20x27"},
    {L"20x30 cm", 20.0f, 30.0f, 0.3f, 0.5f, L"_20x30"},
    {L"25x38 cm", 25.0f, 38.0f, 0.4f, 0.1f, L"_25x38"},
    {L"A6", 10.5f, 14.8f, 0, 0, L"_A6"},
    {L"A5", 14.8f, 21.0f, 0, 0, L"_A5"},
    {L"A4", 21.0f, 29.7f, 0, 0, L"_A4"},
    {L"B5", 17.6f, 25.0f, 0, 0, L"_B5"},
    {L"B4", 25.0f, 35.3f, 0, 0, L"_B4"},
    {L"B3", 35.3f, 50.0f, 0, 0, L"_B3"},
    {L"Envelope", 13.2f, 22.0f, 0, 0, L"_Envelope"},
    {L"Envelope #10", 10.4775f, 24.13f, 0, 0, L"_Envelope10"},
    {L"Envelope C6", 11.4f, 16.2f, 0, 0, L"_EnvelopeC6"},
    {L"Envelope DL", 11.0f, 22.0f, 0, 0, L"_EnvelopeDL"},
    {L"Executive", 18.415f, 26.67f, 0, 0, L"_Executive"},
    {L"Half Letter", 13.97f, 21.59f, 0, 0, L"_HalfLetter"},
    {L"Index Card 5x8 in", 12.7f, 20.32f, 0, 0, L"_IndexCard5x8"},
    {L"Index Card 8x10 in", 20.32f, 25.4f, 0, 0, L"_IndexCard8x10"},
    {L"Legal", 21.59f, 35.56f, 0, 0, L"_Legal"},
    {L"Letter", 21.59f, 27.94f, 0, 0, L"_Letter"},
    {L"Panoramic", 21.0f, 59.4f, 0, 0, L"_Panoramic"},
    {L"Photo Paper 4x6 in", 10.16f, 15.24f, 0, 0, L"_PhotoPaper4x6"},
    {L"Photo Paper 10x15 mm", 10.0f, 15.0f, 0, 0, L"_PhotoPaper10x15"},
    {L"Photo Paper 20x35 mm", 20.0f, 35.0f, 0, 0, L"_PhotoPaper20x35"},
    {L"Super A3/B", 32.9f, 48.3f, 0, 0, L"_SuperA3B"},
    {L"US B 11x27 in", 27.94f, 43.18f, 0, 0, L"_US_B"},
    {L"US C 17x22 in", 43.18f, 55.88f, 0, 0, L"_US_C"},
};

constexpr int kCorrectedRows = 11;

std::wstring Lower(const std::wstring& s) {
    std::wstring out = s;
    for (wchar_t& c : out) c = static_cast<wchar_t>(std::towlower(c));
    return out;
}
}  // namespace

PrintFormatTable::PrintFormatTable() {
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i) {
        m_fShort[i] = kRows[i].shortSide;
        m_fLong[i] = kRows[i].longSide;
    }
    for (int i = 0; i < kCorrectedRows; ++i) {
        m_fShortCorrection[i] = kRows[i].shortCorrection;
        m_fLongCorrection[i] = kRows[i].longCorrection;
    }
    for (int i = kCorrectedRows; i < PRINT_FORMAT_COUNT; ++i) {
        m_fShortCorrection[i] = 0.0f;
        m_fLongCorrection[i] = 0.0f;
    }
}

float PrintFormatTable::FrameWidthCm(int i, BOOL rotated, BOOL correctLab) const {
    if (!rotated) return m_fLong[i] + (correctLab ? m_fLongCorrection[i] : 0.0f);
    return m_fShort[i] + (correctLab ? m_fShortCorrection[i] : 0.0f);
}

float PrintFormatTable::FrameHeightCm(int i, BOOL rotated, BOOL correctLab) const {
    if (!rotated) return m_fShort[i] + (correctLab ? m_fShortCorrection[i] : 0.0f);
    return m_fLong[i] + (correctLab ? m_fLongCorrection[i] : 0.0f);
}

const wchar_t* PrintFormatName(int index) {
    if (index < 0 || index >= PRINT_FORMAT_COUNT) return L"";
    return kRows[index].name;
}

const std::map<int, std::wstring>& PrintFormatSuffixes() {
    static const std::map<int, std::wstring> suffixes = [] {
        std::map<int, std::wstring> m;
        for (int i = 0; i < PRINT_FORMAT_COUNT; ++i) m[i] = kRows[i].suffix;
        return m;
    }();
    return suffixes;
}

int FindPrintFormat(const std::wstring& nameOrSuffix) {
    std::wstring key = Lower(nameOrSuffix);
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i)
        if (Lower(kRows[i].name) == key) return i;
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i)
        if (Lower(kRows[i].suffix + 1) == key) return i;
    // "10x15cm" and "10 x 15 cm" as typed for "10x15 cm".
    auto spaceless = [](std::wstring s) {
        s.erase(std::remove(s.begin(), s.end(), L' '), s.end());
        return s;
    };
    for (int i = 0; i < PRINT_FORMAT_COUNT; ++i)
        if (spaceless(Lower(kRows[i].name)) == spaceless(key)) return i;
    return -1;
}
