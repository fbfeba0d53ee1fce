// The export command's decisions: output name, overwrite refusal, export
// rectangle. Shared by the main window and trimora-cli.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <limits>
#include <utility>

#include "print/ExportPlan.h"
#include "print/PrintFormatTable.h"
#include "tests/platform/TempFolder.h"

namespace {

const std::wstring& Suffix(int format) { return PrintFormatSuffixes().at(format); }

TEST(OutputPath, SuffixGoesBeforeTheFirstDotOfTheName) {
    EXPECT_EQ(MakeOutputPath(L"\\Storage Card\\", L"\\DCIM\\img_0001.jpg", Suffix(2)),
              L"\\Storage Card\\img_0001_10x15.jpg");
    EXPECT_EQ(MakeOutputPath(L"\\DCIM\\", L"\\DCIM\\img_0001.jpg", Suffix(2)), L"\\DCIM\\img_0001_10x15.jpg");
    EXPECT_EQ(MakeOutputPath(L"\\", L"\\DCIM\\img_0001.jpg", Suffix(31)), L"\\img_0001_SuperA3B.jpg");
    EXPECT_EQ(MakeOutputPath(L"\\Out\\", L"\\DCIM\\img.0001.jpg", Suffix(2)), L"\\Out\\img_10x15.0001.jpg");
    // Dots in the folder's name do not count.
    EXPECT_EQ(MakeOutputPath(L"\\a.b\\", L"\\x.y\\photo.jpeg", Suffix(32)), L"\\a.b\\photo_US_B.jpeg");
}

TEST(OutputPath, APhonePhotographIsNamedAsTheJpegItBecomes) {
    // Only the extension says so; a name merely holding one keeps its own.
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"\\DCIM\\img_0001.heic", L"\\Out\\img_0001_10x15.jpg"}, {L"\\DCIM\\IMG.0001.HEIF", L"\\Out\\IMG_10x15.0001.jpg"},
        {L"\\DCIM\\a.hif", L"\\Out\\a_10x15.jpg"},                 {L"\\DCIM\\a.avif", L"\\Out\\a_10x15.jpg"},
        {L"\\DCIM\\a.heic.png", L"\\Out\\a_10x15.heic.png"},
    };
    for (const auto& [source, output] : cases) EXPECT_EQ(MakeOutputPath(L"\\Out\\", source, Suffix(2)), output) << source;
    EXPECT_EQ(MakeOutputPath(L"\\x.heic\\", L"\\DCIM\\README", Suffix(2)), L"\\x.heic\\README");
}

TEST(OutputPath, NameWithoutADotAfterItsFirstCharacterKeepsNoSuffix) {
    EXPECT_EQ(MakeOutputPath(L"\\DCIM\\", L"\\DCIM\\.jpg", Suffix(2)), L"\\DCIM\\.jpg");
    EXPECT_EQ(MakeOutputPath(L"\\Out\\", L"\\DCIM\\README", Suffix(2)), L"\\Out\\README");
    EXPECT_EQ(MakeOutputPath(L"\\Out\\", L"\\DCIM\\..jpg", Suffix(23)), L"\\Out\\._IndexCard5x8.jpg");
    EXPECT_EQ(MakeOutputPath(L"\\Out\\", L"\\DCIM\\", Suffix(2)), L"\\Out\\");
}

TEST(RoundToInt, AHalfRoundsDownAndTheFractionIsSinglePrecision) {
    EXPECT_EQ(RoundToInt(1073.68f), 1074);
    EXPECT_EQ(RoundToInt(1501.5f), 1501);
    EXPECT_EQ(RoundToInt(2.5f), 2);
    EXPECT_EQ(RoundToInt(2.5000002f), 3);
    EXPECT_EQ(RoundToInt(7.0f), 7);
    EXPECT_EQ(RoundToInt(-1.5f), -2);
    EXPECT_EQ(RoundToInt(-1.4f), -1);
    EXPECT_EQ(RoundToInt(0.0f), 0);
}

TEST(RoundToInt, OutOfRangeValuesSaturate) {
    EXPECT_EQ(RoundToInt(1e20f), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(RoundToInt(-1e20f), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(RoundToInt(std::nanf("")), 0);
    EXPECT_EQ(RoundToInt(INFINITY), 0);
}

class ExportRect : public ::testing::Test {
protected:
    CRect Rect(const CRect& source, CSize size, int format, bool correct, bool rotated = false) {
        return MakeExportRect(source, size, table.FrameWidthCm(format, rotated, correct),
                              table.FrameHeightCm(format, rotated, correct));
    }
    PrintFormatTable table;
};

TEST_F(ExportRect, FittedFramesGetTheFormatsExactProportions) {
    const CSize photo(1600, 1200);
    EXPECT_EQ(Rect(CRect(0, 0, 1600, 1073), photo, 2, true), CRect(0, 0, 1600, 1074));
    EXPECT_EQ(Rect(CRect(0, 0, 1600, 1066), photo, 2, false), CRect(0, 0, 1600, 1067));
    // Full height: the width follows, and 1.5 x 1001 = 1501.5 rounds down.
    EXPECT_EQ(Rect(CRect(0, 0, 1501, 1001), CSize(2000, 1001), 2, false), CRect(0, 0, 1501, 1001));
    // Portrait on a portrait photograph, full height.
    EXPECT_EQ(Rect(CRect(0, 0, 1066, 1600), CSize(1200, 1600), 2, false, true), CRect(0, 0, 1067, 1600));
}

TEST_F(ExportRect, EdgesOnTheRightOrBottomBorderStayThere) {
    EXPECT_EQ(Rect(CRect(0, 127, 1600, 1200), CSize(1600, 1200), 2, true), CRect(0, 126, 1600, 1200));
    EXPECT_EQ(Rect(CRect(499, 0, 2000, 1001), CSize(2000, 1001), 2, false), CRect(499, 0, 2000, 1001));
    EXPECT_EQ(Rect(CRect(500, 0, 2000, 1001), CSize(2000, 1001), 2, false), CRect(499, 0, 2000, 1001));
}

TEST_F(ExportRect, IsCutToThePhotographOrEmptyOutsideIt) {
    const CSize photo(1600, 1200);
    // Rounding up pushes the bottom past the photograph.
    EXPECT_EQ(Rect(CRect(0, 200, 1600, 1273), photo, 2, true), CRect(0, 200, 1600, 1200));
    EXPECT_EQ(Rect(CRect(-100, -50, 500, 350), photo, 2, false), CRect(0, 0, 500, 350));
    EXPECT_EQ(Rect(CRect(1700, 10, 1900, 100), photo, 2, false), CRect());
    EXPECT_EQ(Rect(CRect(900, 500, 100, 900), photo, 2, false), CRect());
    // Sides beyond 32 bits neither wrap nor trap.
    const int32_t big = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(Rect(CRect(-big, 10, big, 20), photo, 2, false), CRect(0, 10, 1600, 1200));
}

class SourceFile : public ::testing::Test {
protected:
    void SetUp() override {
        storage.File("DCIM/IMG_0001.JPG", "photo");
        storage.File("DCIM/.jpg", "photo");
        storage.File("DCIM/other.jpg", "another photo");
        storage.Folder("Out");
    }
    TempStorage storage;
};

TEST_F(SourceFile, SameTextOrAnotherSpellingOfTheSameFileIsTheSource) {
    EXPECT_TRUE(IsSourceFile(L"\\DCIM\\IMG_0001.JPG", L"\\DCIM\\IMG_0001.JPG"));
    EXPECT_TRUE(IsSourceFile(L"\\dcim\\img_0001.jpg", L"\\DCIM\\IMG_0001.JPG"));
    storage.Link(storage.Host("DCIM/IMG_0001.JPG"), "Out/IMG_0001_10x15.JPG");
    EXPECT_TRUE(IsSourceFile(L"\\Out\\IMG_0001_10x15.JPG", L"\\DCIM\\IMG_0001.JPG"));
    ASSERT_EQ(::link(storage.Host("DCIM/other.jpg").c_str(), storage.Host("Out/other_A4.jpg").c_str()), 0);
    EXPECT_TRUE(IsSourceFile(L"\\Out\\other_A4.jpg", L"\\DCIM\\other.jpg"));
}

TEST_F(SourceFile, OtherFilesAndFilesStillToBeMadeAreNot) {
    EXPECT_FALSE(IsSourceFile(L"\\DCIM\\other.jpg", L"\\DCIM\\IMG_0001.JPG"));
    EXPECT_FALSE(IsSourceFile(L"\\Out\\IMG_0001_10x15.JPG", L"\\DCIM\\IMG_0001.JPG"));
    EXPECT_FALSE(IsSourceFile(L"\\DCIM\\IMG_0001_10x15.JPG", L"\\DCIM\\IMG_0001.JPG"));
}

TEST_F(SourceFile, PlanRefusesBeforeLookingAtTheRectangle) {
    PrintFormatTable table;
    const float w = table.FrameWidthCm(2, FALSE, TRUE), h = table.FrameHeightCm(2, FALSE, TRUE);
    ExportPlan plan;
    EXPECT_EQ(PlanExport(L"\\dcim\\", L"\\DCIM\\.jpg", Suffix(2), CRect(), CSize(1600, 1200), w, h, plan),
              ExportPlanResult::OverwritesSource);
    EXPECT_EQ(plan.outputPath, L"\\dcim\\.jpg");

    EXPECT_EQ(PlanExport(L"\\Out\\", L"\\DCIM\\IMG_0001.JPG", Suffix(2), CRect(1700, 0, 1800, 50),
                         CSize(1600, 1200), w, h, plan),
              ExportPlanResult::EmptyRect);

    ASSERT_EQ(PlanExport(L"\\Out\\", L"\\DCIM\\IMG_0001.JPG", Suffix(2), CRect(0, 0, 1600, 1073),
                         CSize(1600, 1200), w, h, plan),
              ExportPlanResult::Ready);
    EXPECT_EQ(plan.outputPath, L"\\Out\\IMG_0001_10x15.JPG");
    EXPECT_EQ(plan.rcExport, CRect(0, 0, 1600, 1074));
}

}  // namespace
