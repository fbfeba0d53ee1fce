#pragma once
// The print formats a lab offers, with each side's lab correction: what a lab
// actually trims differs a little from the nominal size, so the frame can be
// corrected to match the print.
#include <map>
#include <string>

#include "platform/WinTypes.h"

constexpr int PRINT_FORMAT_COUNT = 34;
constexpr int DEFAULT_PRINT_FORMAT = 2;  // "10x15 cm"

class PrintFormatTable {
public:
    PrintFormatTable();

    // Frame sides in cm for a format, orientation and correction: landscape
    // puts the long side across. Each is one single-precision addition.
    float FrameWidthCm(int index, BOOL rotated, BOOL correctLab) const;
    float FrameHeightCm(int index, BOOL rotated, BOOL correctLab) const;

    float m_fShort[PRINT_FORMAT_COUNT];
    float m_fLong[PRINT_FORMAT_COUNT];
    float m_fShortCorrection[PRINT_FORMAT_COUNT];
    float m_fLongCorrection[PRINT_FORMAT_COUNT];
};

// The names, in list order; shown in the format combo box.
const wchar_t* PrintFormatName(int index);
// The suffixes the export inserts into the file name, by format index.
const std::map<int, std::wstring>& PrintFormatSuffixes();
// Index of a format by its name or by its suffix without the underscore,
// case-insensitively ("10x15 cm", "10x15", "A4"), then by its name with
// spaces ignored ("10x15cm"); -1 when there is none.
int FindPrintFormat(const std::wstring& nameOrSuffix);
