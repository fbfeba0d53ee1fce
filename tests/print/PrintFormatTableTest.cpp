#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "print/PrintFormatTable.h"

namespace {
// The status line's text for a format, as the window formats it.
std::string Status(const PrintFormatTable& t, int i, BOOL rotated, BOOL correct) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.1fx%.1f", double(t.FrameWidthCm(i, rotated, correct)),
                  double(t.FrameHeightCm(i, rotated, correct)));
    return buf;
}
}  // namespace

TEST(PrintFormatTable, StatusTextsForCorrectedAndPlainFormats) {
    PrintFormatTable t;
    EXPECT_EQ(Status(t, 2, FALSE, TRUE), "15.2x10.2");
    EXPECT_EQ(Status(t, 2, FALSE, FALSE), "15.0x10.0");
    EXPECT_EQ(Status(t, 2, TRUE, FALSE), "10.0x15.0");
    EXPECT_EQ(Status(t, 0, FALSE, TRUE), "12.7x8.9");
    EXPECT_EQ(Status(t, 4, FALSE, TRUE), "19.5x12.7");
    EXPECT_EQ(Status(t, 10, FALSE, TRUE), "38.1x25.4");
    EXPECT_EQ(Status(t, 6, FALSE, TRUE), "21.0x15.2");
    // Formats without a lab correction read the same either way.
    for (BOOL k : {FALSE, TRUE}) {
        EXPECT_EQ(Status(t, 13, FALSE, k), "29.7x21.0");
        EXPECT_EQ(Status(t, 22, FALSE, k), "21.6x14.0");
        EXPECT_EQ(Status(t, 18, FALSE, k), "24.1x10.5");
        EXPECT_EQ(Status(t, 27, FALSE, k), "59.4x21.0");
        EXPECT_EQ(Status(t, 28, FALSE, k), "15.2x10.2");
    }
}

TEST(PrintFormatTable, ValuesAreSinglePrecisionSums) {
    PrintFormatTable t;
    EXPECT_EQ(t.m_fShort[18], 10.4775f);
    EXPECT_DOUBLE_EQ(double(t.m_fShort[18]), 10.47749996185302734375);
    EXPECT_EQ(t.FrameWidthCm(2, FALSE, TRUE), 15.0f + 0.2f);
    EXPECT_EQ(t.FrameHeightCm(0, TRUE, TRUE), 13.0f + -0.3f);
    for (int i = 11; i < PRINT_FORMAT_COUNT; ++i) {
        EXPECT_EQ(t.m_fShortCorrection[i], 0.0f) << i;
        EXPECT_EQ(t.m_fLongCorrection[i], 0.0f) << i;
    }
}

TEST(PrintFormatTable, NamesSuffixesAndLookup) {
    EXPECT_STREQ(PrintFormatName(2), L"10x15 cm");
    EXPECT_STREQ(PrintFormatName(33), L"US C 17x22 in");
    EXPECT_EQ(PrintFormatSuffixes().size(), 34u);
    EXPECT_EQ(PrintFormatSuffixes().at(1), L"_10x13");
    EXPECT_EQ(PrintFormatSuffixes().at(32), L"_US_B");
    EXPECT_EQ(FindPrintFormat(L"10x15 cm"), 2);
    EXPECT_EQ(FindPrintFormat(L"10x15"), 2);
    EXPECT_EQ(FindPrintFormat(L"a4"), 13);
    EXPECT_EQ(FindPrintFormat(L"Envelope #10"), 18);
    EXPECT_EQ(FindPrintFormat(L"nonsense"), -1);
    // Names as typed without their spaces, or with others.
    EXPECT_EQ(FindPrintFormat(L"10x15cm"), 2);
    EXPECT_EQ(FindPrintFormat(L"10 X 15 CM"), 2);
    EXPECT_EQ(FindPrintFormat(L"10x13.5cm"), 1);
    EXPECT_EQ(FindPrintFormat(L"PhotoPaper10x15mm"), 29);
    EXPECT_EQ(FindPrintFormat(L"10x15mm"), -1);
}
