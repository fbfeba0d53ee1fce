// The photograph opened once: what its header tells, that an export with
// everything asked of it reads nothing but the opened file, and that the
// engine reports instead of speaking to the user.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "TestJpeg.h"
#include "TurnedJpeg.h"
#include "imaging/ColourProfile.h"
#include "imaging/Export.h"
#include "imaging/SourcePhoto.h"
#include "platform/MessageBox.h"
#include "platform/WaitCursor.h"
#include "tests/platform/TempFolder.h"

namespace {

class SourcePhotoTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHandler([this](const MessageRequest&) {
            ++boxes;
            return 1;
        });
        storage.Folder("out");
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }

    TempStorage storage;
    int boxes = 0;
};

TEST_F(SourcePhotoTest, HeaderTellsTheUprightSizeTheTurnAndTheMarkers) {
    WriteFile(storage.Host("turned.jpg"), WithExif(EncodeJpeg({1000, 700}), OrientationTiff(6)));
    SourcePhoto source;
    PhotoReport report;
    ASSERT_TRUE(source.Open(L"\\turned.jpg", report));
    const PhotoFacts& facts = source.Facts();
    EXPECT_EQ(facts.stored, CSize(1000, 700));
    EXPECT_EQ(facts.Upright(), CSize(700, 1000));
    EXPECT_EQ(facts.turn.Tag(), 6);
    EXPECT_FALSE(facts.damagedOrientation);
    EXPECT_FALSE(facts.markers.exif.empty());
    EXPECT_TRUE(facts.markers.icc.empty());
    // The size rule looks at the size as stored: 1000 x 700 passes.
    EXPECT_FALSE(facts.TooSmall());

    // What cannot be opened, or is no JPEG, says so in the report.
    SourcePhoto missing;
    EXPECT_FALSE(missing.Open(L"\\missing.jpg", report));
    EXPECT_EQ(report.failure, PhotoReport::Failure::SourceUnreadable);
    WriteFile(storage.Host("text.jpg"), "no photograph");
    SourcePhoto text;
    PhotoReport undecodable;
    EXPECT_FALSE(text.Open(L"\\text.jpg", undecodable));
    EXPECT_EQ(undecodable.failure, PhotoReport::Failure::SourceUndecodable);
}

TEST_F(SourcePhotoTest, ExportKeepsTheMarkersReadWhenTheFileWasOpened) {
    WriteFile(storage.Host("src.jpg"), WithExif(EncodeJpeg({1000, 800}), OrientationTiff(8)));
    SourcePhoto source;
    PhotoReport report;
    ASSERT_TRUE(source.Open(L"\\src.jpg", report));
    // Another file under the photograph's name: an export that opened it
    // again would find no EXIF there, or other pixels.
    std::filesystem::rename(storage.Host("src.jpg"), storage.Host("gone.jpg"));
    WriteFile(storage.Host("src.jpg"), EncodeJpeg(JpegRecipe()));

    ExportExtras extras;
    extras.keepMetadata = true;
    extras.recordDpi = 300;
    std::vector<std::string> warnings;
    extras.warnings = &warnings;
    NullProgressSink quiet;
    ASSERT_EQ(ExportFrame(source, L"\\out\\a.jpg", CRect(0, 0, 800, 1000), quiet, nullptr, 95, extras, report), 1);
    EXPECT_TRUE(warnings.empty());
    SourceMetadata kept;
    WrittenImage image;
    ASSERT_TRUE(ReadSourceMetadata(L"\\out\\a.jpg", false, true, image, kept, warnings));
    EXPECT_FALSE(kept.exif.empty());
    const Decoded written = DecodeFully(storage.Host("out/a.jpg"), false);
    EXPECT_EQ(written.width, 800);
    EXPECT_EQ(written.height, 1000);
}

TEST_F(SourcePhotoTest, EngineReportsTheSizeRuleAndShowsNothing) {
    JpegRecipe small;
    small.width = 640;
    small.height = 480;
    WriteFile(storage.Host("small.jpg"), EncodeJpeg(small));
    CSize box(236, 230), size(-1, -1);
    PreviewBuffer preview;
    NullProgressSink quiet;
    PhotoReport report;
    EXPECT_EQ(DecodePreview(L"\\small.jpg", box, size, preview, quiet, report), 0);
    EXPECT_EQ(report.failure, PhotoReport::Failure::SourceTooSmall);
    EXPECT_EQ(size, CSize(-1, -1));

    // The rule alone, from the header, as trimora-cli asks it.
    SourcePhoto source;
    PhotoReport opened, rule;
    ASSERT_TRUE(source.Open(L"\\small.jpg", opened));
    EXPECT_EQ(CheckSizeRule(source, rule), 0);
    EXPECT_EQ(rule.failure, PhotoReport::Failure::SourceTooSmall);
    SourcePhoto large;
    WriteFile(storage.Host("large.jpg"), EncodeJpeg(JpegRecipe()));
    ASSERT_TRUE(large.Open(L"\\large.jpg", opened));
    EXPECT_EQ(CheckSizeRule(large, rule), 1);

    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(CWaitCursor::Depth(), 0);
}

TEST(ProfileSpace, OneReadingOfTheHeadersColourSpace) {
    std::vector<JOCTET> icc(128, 0);
    const auto name = [&](const char* code) {
        std::copy(code, code + 4, icc.begin() + 16);
        return SpaceOfProfile(icc);
    };
    EXPECT_EQ(name("RGB "), ProfileSpace::Rgb);
    EXPECT_EQ(name("GRAY"), ProfileSpace::Grey);
    EXPECT_EQ(name("CMYK"), ProfileSpace::Cmyk);
    EXPECT_EQ(name("Lab "), ProfileSpace::Other);
    EXPECT_EQ(ProfileSpaceCode(icc), "Lab ");
    // Too short for a header: nothing to read.
    icc.resize(127);
    EXPECT_EQ(SpaceOfProfile(icc), ProfileSpace::Unknown);
    EXPECT_EQ(ProfileSpaceCode(icc), "");
}

}  // namespace
