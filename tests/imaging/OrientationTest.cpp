// Photographs stored on their side: the mapping between upright and stored
// pixels, reading the tag, and the export and lossless cut of turned sources.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "TestJpeg.h"
#include "TurnedJpeg.h"
#include "imaging/Export.h"
#include "imaging/Metadata.h"
#include "imaging/Orientation.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

OrientationTag TagOf(const std::string& tiff) {
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    return ReadOrientationTag(reinterpret_cast<const uint8_t*>(payload.data()), payload.size());
}

// Damage counts as upright and is said; exiv2 itself never speaks.
TEST(Orientation, TagIsReadInEitherByteOrderAndDamageCountsAsUpright) {
    std::fflush(stderr);
    const int saved = dup(2);
    std::FILE* capture = std::tmpfile();
    dup2(fileno(capture), 2);
    for (int tag = 1; tag <= 8; ++tag)
        for (const bool big : {false, true}) EXPECT_EQ(TagOf(OrientationTiff(tag, big)).orientation.Tag(), tag);
    std::string noTag = OrientationTiff(6);
    noTag[8] = 1;  // the IFD holds ImageDescription alone
    EXPECT_FALSE(TagOf(noTag).damaged);
    EXPECT_FALSE(TagOf(OrientationTiff(8)).damaged);
    const std::string damaged[] = {OrientationTiff(0), OrientationTiff(9, true), OrientationTiff(6, false, 2),
                                   "not TIFF at all", OrientationTiff(6).substr(0, 5)};
    for (const std::string& tiff : damaged) {
        const OrientationTag t = TagOf(tiff);
        EXPECT_TRUE(t.damaged && t.orientation.IsUpright()) << tiff.size();
    }
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(std::ftell(capture), 0L);
    std::fclose(capture);
}

class Cores : public SpareCores {
public:
    bool Claim() override { return ++claimed > 0; }
    void Release() override {}
    std::atomic<int> claimed{0};
};

class TurnedExport : public ::testing::Test {
protected:
    void SetUp() override { storage.Folder("out"); }

    // Writes the source tagged, and the upright picture of its plain decode.
    void Source(const JpegRecipe& recipe, int tag) {
        WriteFile(storage.Host("src.jpg"), WithExif(EncodeJpeg(recipe), OrientationTiff(tag)));
        const bool cmyk = recipe.colour == Colour::CmykAdobe || recipe.colour == Colour::CmykPlain;
        const Decoded d = DecodeFully(storage.Host("src.jpg"), cmyk);
        upright = TurnUpright(cmyk ? CmykPixelsToRgb(d.pixels, recipe.colour == Colour::CmykAdobe) : d.pixels, d.width,
                              d.height, tag);
        const bool swap = tag >= 5 && tag <= 8;
        width = swap ? d.height : d.width;
        height = swap ? d.width : d.height;
    }

    std::string Expected(const CRect& c) const {
        std::vector<uint8_t> crop = CropRgb(upright, width, c.left, c.top, c.right, c.bottom);
        if (curve.m_nPoints > 2)
            for (uint8_t& v : crop) v = static_cast<uint8_t>(curve.m_lut[v]);
        return EncodePlain(crop.data(), c.Width(), c.Height(), 95);
    }

    TempStorage storage;
    ToneCurve curve;
    NullProgressSink quiet;
    int width = 0, height = 0;
    std::vector<uint8_t> upright;
};

// Every turn, chroma layout and colour layout, frames off the grid, a tone
// curve and the encoder's own thread: the file is what a plain encoder
// writes for the upright crop of a plain full decode.
TEST_F(TurnedExport, FileIsAPlainEncodeOfTheUprightCrop) {
    JpegRecipe grey{1001, 803}, cmyk{1001, 803}, plain{1001, 803};
    grey.colour = Colour::Grey;
    cmyk.colour = Colour::CmykAdobe;
    plain.colour = Colour::CmykPlain;
    const JpegRecipe sources[] = {{1203, 901, 2, 2}, {1203, 901, 2, 1}, {1001, 757, 1, 1}, grey, cmyk, plain};
    for (const JpegRecipe& recipe : sources) {
        for (int tag = 1; tag <= 8; ++tag) {
            SCOPED_TRACE(testing::Message() << recipe.hSamp << "x" << recipe.vSamp << " colour "
                                            << static_cast<int>(recipe.colour) << " tag " << tag);
            Source(recipe, tag);
            const CSize stored = tag >= 5 ? CSize(height, width) : CSize(width, height);
            const CRect r(1, 2, width - 3, 9);
            EXPECT_EQ(Orientation(tag).ToUpright(Orientation(tag).ToStored(r, stored), stored), r);
            const CRect frames[] = {{0, 0, width, height}, {1, 3, width - 5, height - 7}, {width - 3, height - 2, width, height}, {37, 101, 370, 352}};
            for (const CRect& c : frames) {
                ASSERT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, curve, 95), 1);
                ASSERT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c)) << c.left << "," << c.top;
            }
        }
    }
    ApplyPreset(curve, *FindPresetByIndex(1));
    curve.UpdateLut();
    for (const int tag : {2, 7}) {
        Source(cmyk, tag);
        Cores cores;
        ExportExtras extras;
        extras.cores = &cores;
        RecordingSink sink;
        const CRect c(11, 5, width - 20, height - 9);
        ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", c, sink, ExportLevels(curve).Table(), 95, extras), 1);
        EXPECT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c));
        EXPECT_GT(cores.claimed.load(), 0);
        EXPECT_TRUE(std::is_sorted(sink.percents.begin(), sink.percents.end()));
        EXPECT_GE(sink.percents.back(), 90);
    }
}

// Tall enough for a second decoder to take the frame's lower rows: the file
// is still the plain encode, and a photograph damaged in those rows comes
// out, and is reported, as with one thread.
TEST_F(TurnedExport, SecondDecoderWritesTheSameFile) {
    JpegRecipe grey{1203, 1107}, cmyk{1203, 1107};
    grey.colour = Colour::Grey;
    cmyk.colour = Colour::CmykAdobe;
    const JpegRecipe sources[] = {{1203, 1107, 2, 2}, {1203, 1107, 2, 1}, {1203, 1107, 1, 1}, grey, cmyk};
    for (const JpegRecipe& recipe : sources) {
        for (int tag = 3; tag <= 8; ++tag) {
            SCOPED_TRACE(testing::Message() << recipe.hSamp << "x" << recipe.vSamp << " colour "
                                            << static_cast<int>(recipe.colour) << " tag " << tag);
            Source(recipe, tag);
            for (const CRect& c : {CRect(0, 0, width, height), CRect(3, 1, width - 5, height - 2)}) {
                Cores cores;
                ExportExtras extras;
                extras.cores = &cores;
                ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, nullptr, 95, extras), 1);
                ASSERT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c)) << c.left << "," << c.top;
                EXPECT_GE(cores.claimed.load(), 2);  // the second decoder and the encoder
            }
        }
    }
    for (const int tag : {3, 6}) {
        SCOPED_TRACE(tag);
        Source({1203, 1107, 2, 2}, tag);
        std::string cut = ReadFile(storage.Host("src.jpg"));
        cut.resize(cut.size() * 9 / 10);
        WriteFile(storage.Host("src.jpg"), cut);
        const CRect c(0, 0, width, height);
        PhotoReport alone, shared;
        ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, nullptr, 95, ExportExtras(), &alone),
                  1);
        const std::string one = ReadFile(storage.Host("out/f.jpg"));
        Cores cores;
        ExportExtras extras;
        extras.cores = &cores;
        ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, nullptr, 95, extras, &shared), 1);
        EXPECT_EQ(ReadFile(storage.Host("out/f.jpg")), one);
        EXPECT_GT(alone.damageWarnings, 0);
        EXPECT_EQ(shared.damageWarnings, alone.damageWarnings);
        EXPECT_EQ(shared.firstDamage, alone.firstDamage);
    }
}

TEST_F(TurnedExport, FrameIsUprightDamagedTagsAreStoredAndKeptExifSaysUpright) {
    Source({1203, 901, 2, 2}, 6);  // upright 901 x 1203
    PhotoReport report;
    EXPECT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", CRect(0, 0, 1000, 800), quiet, curve, 95, &report), 0);
    EXPECT_EQ(report.failure, PhotoReport::Failure::FrameOutside);
    ExportExtras extras;
    extras.keepMetadata = true;
    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", CRect(0, 0, 500, 600), quiet, ExportLevels(curve).Table(), 95, extras), 1);
    SourceMetadata kept;
    std::vector<std::string> dropped;
    WrittenImage written;
    written.width = 500;
    written.height = 600;
    ASSERT_TRUE(ReadSourceMetadata(L"\\out\\f.jpg", false, true, written, kept, dropped));
    EXPECT_EQ(ReadOrientationTag(kept.exif.data(), kept.exif.size()).orientation.Tag(), 1);

    Source({1203, 901, 2, 2}, 9);  // out of range: as stored, and said
    report = PhotoReport();
    ASSERT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", CRect(3, 3, 1100, 900), quiet, curve, 95, &report), 1);
    EXPECT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(CRect(3, 3, 1100, 900)));
    EXPECT_TRUE(report.damagedOrientation);
}

// The lossless cut holds the upright pixels at the place it says, with no
// block left unturned: partial iMCUs that a turn brings to the left or top
// stay out of it.
TEST_F(TurnedExport, LosslessCutHoldsTheUprightPixels) {
    JpegRecipe grey{1001, 757, 1, 1, false, 0, 95};
    grey.colour = Colour::Grey;
    const JpegRecipe sources[] = {{1024, 768, 2, 2, false, 0, 95}, {1001, 757, 2, 1, false, 0, 95}, grey};
    for (const JpegRecipe& recipe : sources) {
        for (int tag = 1; tag <= 8; ++tag) {
            SCOPED_TRACE(testing::Message() << recipe.width << " tag " << tag);
            Source(recipe, tag);
            for (const CRect& c : {CRect(0, 0, width, height), CRect(21, 35, width - 40, height - 3)}) {
                LosslessCut cut;
                std::string error;
                ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\l.jpg", c, ExportExtras(), cut, error), 1) << error;
                const CRect& w = cut.written;
                EXPECT_TRUE(w.left <= c.left + 15 && w.right <= width && w.bottom <= height);
                if (!cut.clipped) {
                    EXPECT_TRUE(w.Width() == c.Width() && w.left + cut.shiftX == c.left && w.top + cut.shiftY == c.top);
                }
                const Decoded d = DecodeFully(storage.Host("out/l.jpg"), false);
                ASSERT_TRUE(d.width == w.Width() && d.height == w.Height());
                const std::vector<uint8_t> want = CropRgb(upright, width, w.left, w.top, w.right, w.bottom);
                // Up to rounding in the inverse DCT and chroma upsampling; the
                // outermost pixels lose their chroma neighbours, turned or not.
                int worst = 0;
                for (int y = 1; y + 1 < w.Height(); ++y)
                    for (size_t i = 3; i + 3 < static_cast<size_t>(w.Width()) * 3; ++i) {
                        const size_t at = static_cast<size_t>(y) * w.Width() * 3 + i;
                        worst = std::max(worst, std::abs(int(want[at]) - int(d.pixels[at])));
                    }
                EXPECT_LE(worst, tag == 1 ? 0 : 4);
            }
        }
    }
}

// Where a turned cut starts is where its record says, found by matching the
// cut's pixels in the upright photograph: frame minus shift. A frame reaching
// into the partial blocks a mirroring turn cannot move goes right or down
// past them, by less than one iMCU, and keeps its size where there is room.
TEST_F(TurnedExport, LosslessRecordSaysWhereTheCutStarts) {
    const JpegRecipe sources[] = {{1001, 757, 2, 1, false, 0, 95},
                                {1003, 759, 2, 2, false, 0, 95},
                                {1001, 757, 1, 1, false, 0, 95},
                                {1005, 755, 1, 2, false, 0, 95}};
    for (const JpegRecipe& recipe : sources) {
        for (int tag = 2; tag <= 8; ++tag) {
            Source(recipe, tag);
            const CRect frames[] = {{3, 5, 603, 405}, {0, 0, width - 20, height - 30}, {21, 35, 621, 435}};
            for (const CRect& c : frames) {
                SCOPED_TRACE(testing::Message() << recipe.hSamp << "x" << recipe.vSamp << " tag " << tag << " frame "
                                                << c.left << "," << c.top);
                LosslessCut cut;
                std::string error;
                ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\l.jpg", c, ExportExtras(), cut, error), 1) << error;
                const Decoded d = DecodeFully(storage.Host("out/l.jpg"), false);
                ASSERT_TRUE(d.width == cut.written.Width() && d.height == cut.written.Height());
                // A 24 x 24 patch from inside the cut, against every place
                // within an iMCU of the frame's corner.
                constexpr int PATCH = 24, INSET = 8;
                long best = -1;
                int foundX = 0, foundY = 0;
                for (int y = std::max(c.top - 16, 0); y <= c.top + 16; ++y)
                    for (int x = std::max(c.left - 16, 0); x <= c.left + 16; ++x) {
                        long sum = 0;
                        for (int py = 0; py < PATCH && (best < 0 || sum < best); ++py)
                            for (int px = 0; px < PATCH * 3; ++px) {
                                const size_t at = (size_t(y + INSET + py) * width + x + INSET) * 3 + px;
                                const size_t in = (size_t(INSET + py) * d.width + INSET) * 3 + px;
                                sum += std::abs(int(upright[at]) - int(d.pixels[in]));
                            }
                        if (best < 0 || sum < best) best = sum, foundX = x, foundY = y;
                    }
                EXPECT_LE(best, PATCH * PATCH * 3);  // one level a sample at most, on average
                EXPECT_EQ(c.left - cut.shiftX, foundX);
                EXPECT_EQ(c.top - cut.shiftY, foundY);
                EXPECT_EQ(cut.written.left, foundX);
                EXPECT_EQ(cut.written.top, foundY);
                EXPECT_TRUE(std::abs(cut.shiftX) <= 15 && std::abs(cut.shiftY) <= 15);
                // The size shrinks only where the photograph ends.
                EXPECT_EQ(cut.clipped, cut.written.Width() != c.Width() || cut.written.Height() != c.Height());
                EXPECT_TRUE(cut.written.Width() == c.Width() || cut.written.right == width);
                EXPECT_TRUE(cut.written.Height() == c.Height() || cut.written.bottom == height);
            }
        }
    }
}

}  // namespace

