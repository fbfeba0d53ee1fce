// Photographs stored on their side: the mapping between upright and stored
// pixels, reading the tag, and the export and lossless cut of turned sources.
#include <gtest/gtest.h>

#include <fcntl.h>
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
#include "imaging/Pipeline.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

OrientationTag TagOf(const std::string& tiff) {
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    return ReadOrientationTag(Bytes(payload), payload.size());
}

TEST(Orientation, MapsEveryPixelAndRectangleAsTheTagSays) {
    const int W = 5, H = 3;
    std::vector<uint8_t> ids(W * H);
    for (int i = 0; i < W * H; ++i) ids[i] = static_cast<uint8_t>(i);
    for (int tag = 1; tag <= 8; ++tag) {
        SCOPED_TRACE(tag);
        const Orientation turn(tag);
        const CSize upright = turn.UprightSize(CSize(W, H));
        EXPECT_EQ(upright, tag >= 5 ? CSize(H, W) : CSize(W, H));
        const std::vector<uint8_t> expected = TurnUpright(ids, W, H, tag, 1);
        for (int y = 0; y < upright.cy; ++y) {
            for (int x = 0; x < upright.cx; ++x) {
                const CPoint p = turn.StoredPixel(x, y, CSize(W, H));
                ASSERT_EQ(p.y * W + p.x, expected[y * upright.cx + x]) << x << "," << y;
                // A one-pixel rectangle lands on that pixel, and back.
                const CRect one(x, y, x + 1, y + 1);
                EXPECT_EQ(turn.ToStored(one, CSize(W, H)), CRect(p.x, p.y, p.x + 1, p.y + 1));
                EXPECT_EQ(turn.ToUpright(CRect(p.x, p.y, p.x + 1, p.y + 1), CSize(W, H)), one);
            }
        }
        // A larger rectangle covers exactly the stored pixels of its own.
        const CRect r(1, 0, upright.cx, 2);
        const CRect s = turn.ToStored(r, CSize(W, H));
        EXPECT_EQ(s.Width() * s.Height(), r.Width() * r.Height());
        for (int y = r.top; y < r.bottom; ++y)
            for (int x = r.left; x < r.right; ++x)
                EXPECT_TRUE(s.PtInRect(turn.StoredPixel(x, y, CSize(W, H))));
        EXPECT_EQ(turn.ToUpright(s, CSize(W, H)), r);
    }
    EXPECT_TRUE(Orientation(0).IsUpright());
    EXPECT_TRUE(Orientation(9).IsUpright());
}

// exiv2 must never speak: the program's own messages say what went wrong.
class StderrCapture {
public:
    StderrCapture() {
        std::fflush(stderr);
        m_saved = dup(2);
        std::FILE* f = std::tmpfile();
        m_fd = dup(fileno(f));
        std::fclose(f);
        dup2(m_fd, 2);
    }
    std::string Take() {
        std::fflush(stderr);
        dup2(m_saved, 2);
        close(m_saved);
        std::string text;
        lseek(m_fd, 0, SEEK_SET);
        char buf[512];
        ssize_t n;
        while ((n = read(m_fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        close(m_fd);
        return text;
    }

private:
    int m_saved = -1, m_fd = -1;
};

TEST(Orientation, TagIsReadFromEitherByteOrderAndDamageCountsAsUpright) {
    StderrCapture capture;
    for (int tag = 1; tag <= 8; ++tag) {
        for (const bool big : {false, true}) {
            const OrientationTag t = TagOf(OrientationTiff(tag, big));
            EXPECT_EQ(t.orientation.Tag(), tag);
            EXPECT_FALSE(t.damaged);
        }
    }
    struct Bad {
        const char* what;
        std::string tiff;
    };
    const std::string good = OrientationTiff(6);
    const Bad bad[] = {
        {"zero", OrientationTiff(0)},
        {"out of range", OrientationTiff(9, true)},
        {"huge", OrientationTiff(65535)},
        {"text instead of a number", OrientationTiff(6, false, 2)},
        {"no TIFF header", "garbage, not TIFF at all"},
        {"IFD beyond the end", good.substr(0, 4) + std::string("\xff\xff\xff\x7f", 4) + good.substr(8)},
        {"cut short", good.substr(0, 5)},
    };
    for (const Bad& b : bad) {
        const OrientationTag t = TagOf(b.tiff);
        EXPECT_TRUE(t.orientation.IsUpright()) << b.what;
        EXPECT_TRUE(t.damaged || b.tiff.size() > 8) << b.what;
    }
    EXPECT_TRUE(TagOf(OrientationTiff(9)).damaged);
    EXPECT_TRUE(TagOf(OrientationTiff(6, false, 2)).damaged);
    EXPECT_TRUE(TagOf("garbage, not TIFF at all").damaged);
    // No EXIF at all, or EXIF without the tag: upright and nothing wrong.
    const std::string noExif = "http://ns.adobe.com/xap/1.0/";
    EXPECT_FALSE(ReadOrientationTag(Bytes(noExif), noExif.size()).damaged);
    std::string withoutTag = good;
    withoutTag[8] = 1;  // the IFD holds one entry, ImageDescription
    EXPECT_FALSE(TagOf(withoutTag).damaged);
    EXPECT_EQ(capture.Take(), "");
}

TEST(Orientation, MarkingUprightChangesOnlyTheTagsValue) {
    for (const bool big : {false, true}) {
        const std::string tiff = OrientationTiff(6, big);
        std::string payload = std::string("Exif\0\0", 6) + tiff;
        std::vector<JOCTET> exif(payload.begin(), payload.end());
        ASSERT_TRUE(MarkExifUpright(exif));
        const std::string expected = std::string("Exif\0\0", 6) + OrientationTiff(1, big);
        EXPECT_EQ(std::string(exif.begin(), exif.end()), expected);
    }
    // A record that does not hold together stays as it was.
    const std::string cut = std::string("Exif\0\0", 6) + OrientationTiff(6).substr(0, 20);
    std::vector<JOCTET> exif(cut.begin(), cut.end());
    EXPECT_FALSE(MarkExifUpright(exif));
    EXPECT_EQ(std::string(exif.begin(), exif.end()), cut);
}

class Cores : public SpareCores {
public:
    bool Claim() override {
        ++claimed;
        return true;
    }
    void Release() override {}
    std::atomic<int> claimed{0};
};

class TurnedExport : public ::testing::Test {
protected:
    void SetUp() override { storage.Folder("out"); }

    // Writes the source tagged, and the upright picture of its plain decode.
    void Source(const JpegSpec& recipe, int tag) {
        WriteFile(storage.Host("src.jpg"), WithExif(EncodeJpeg(recipe), OrientationTiff(tag)));
        const bool cmyk = recipe.colour == Colour::CmykAdobe || recipe.colour == Colour::CmykPlain;
        const Decoded d = DecodeFully(storage.Host("src.jpg"), cmyk);
        ASSERT_EQ(d.width, recipe.width);
        const std::vector<uint8_t> rgb = cmyk ? CmykPixelsToRgb(d.pixels, recipe.colour == Colour::CmykAdobe) : d.pixels;
        upright = TurnUpright(rgb, d.width, d.height, tag);
        width = tag >= 5 ? d.height : d.width;
        height = tag >= 5 ? d.width : d.height;
    }

    std::string Expected(const CRect& c, const ToneCurve* tone = nullptr) const {
        std::vector<uint8_t> crop = CropRgb(upright, width, c.left, c.top, c.right, c.bottom);
        if (tone && tone->m_nPoints > 2)
            for (uint8_t& v : crop) v = static_cast<uint8_t>(tone->m_lut[v]);
        return EncodePlain(crop.data(), c.Width(), c.Height(), 95);
    }

    TempStorage storage;
    ToneCurve curve;
    NullProgressSink quiet;
    int width = 0, height = 0;
    std::vector<uint8_t> upright;
};

// Every turn, every chroma layout, frames off the grid: the file is what a
// plain encoder writes for the upright crop of a plain full decode.
TEST_F(TurnedExport, FileIsAPlainEncodeOfTheUprightCrop) {
    const JpegSpec sources[] = {
        {1203, 901, 2, 2},  // 4:2:0
        {1203, 901, 2, 1},  // 4:2:2
        {1001, 757, 1, 1},  // 4:4:4
    };
    for (const JpegSpec& recipe : sources) {
        for (int tag = 1; tag <= 8; ++tag) {
            SCOPED_TRACE(testing::Message() << recipe.hSamp << "x" << recipe.vSamp << " tag " << tag);
            Source(recipe, tag);
            const CRect frames[] = {
                {0, 0, width, height},
                {1, 3, width - 5, height - 7},
                {width - 3, height - 2, width, height},  // at the bottom right
                {0, 0, 1, 1},
                {37, 101, 37 + 333, 101 + 251},
            };
            for (const CRect& c : frames) {
                ASSERT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, curve, 95), 1);
                ASSERT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c))
                    << c.left << "," << c.top << "," << c.right << "," << c.bottom;
            }
        }
    }
}

// Grey and CMYK sources, a tone curve, and the encoder on a thread of its
// own: the same file, and the progress line still reaches its end.
TEST_F(TurnedExport, ColourLayoutsToneCurveAndTheSecondThreadKeepTheFile) {
    ApplyPreset(curve, *FindPresetByIndex(1));
    curve.UpdateLut();
    const JpegSpec sources[] = {
        {1001, 803, 2, 2, false, 0, 90, Colour::Grey},
        {1001, 803, 2, 2, false, 0, 90, Colour::CmykAdobe},
        {1001, 803, 2, 2, false, 0, 90, Colour::CmykPlain},
        {1203, 901, 2, 2, true},  // progressive
    };
    for (const JpegSpec& recipe : sources) {
        for (const int tag : {2, 3, 6, 7}) {
            SCOPED_TRACE(testing::Message() << static_cast<int>(recipe.colour) << " tag " << tag);
            Source(recipe, tag);
            const CRect c(11, 5, width - 20, height - 9);
            Cores cores;
            ExportExtras extras;
            extras.cores = &cores;
            RecordingSink sink;
            PhotoReport report;
            ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", c, sink, curve, 95, extras, &report), 1);
            EXPECT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c, &curve));
            EXPECT_GT(cores.claimed.load(), 0);
            ASSERT_FALSE(sink.percents.empty());
            EXPECT_TRUE(std::is_sorted(sink.percents.begin(), sink.percents.end()));
            EXPECT_LE(sink.percents.back(), 100);
            EXPECT_GE(sink.percents.back(), 90);
            EXPECT_FALSE(report.damagedOrientation);
        }
    }
}

TEST_F(TurnedExport, FrameIsCheckedAgainstTheUprightSizeAndDamagedTagsAreStored) {
    Source({1203, 901, 2, 2}, 6);  // upright 901 x 1203
    PhotoReport report;
    EXPECT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", CRect(0, 0, 1000, 800), quiet, curve, 95, &report), 0);
    EXPECT_EQ(report.failure, PhotoReport::Failure::FrameOutside);
    EXPECT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", CRect(0, 0, 901, 1203), quiet, curve, 95), 1);

    // Out of range: exported as stored, and the caller hears of it.
    Source({1203, 901, 2, 2}, 1);
    WriteFile(storage.Host("src.jpg"), WithExif(EncodeJpeg({1203, 901, 2, 2}), OrientationTiff(9)));
    const CRect c(3, 3, 1100, 900);
    report = PhotoReport();
    ASSERT_EQ(ExportFramedImage(L"\\src.jpg", L"\\out\\f.jpg", c, quiet, curve, 95, &report), 1);
    EXPECT_EQ(ReadFile(storage.Host("out/f.jpg")), Expected(c));
    EXPECT_TRUE(report.damagedOrientation);
}

// The kept EXIF must not turn the already upright pixels a second time.
TEST_F(TurnedExport, KeptExifSaysUpright) {
    Source({1203, 901, 2, 2}, 8);
    ExportExtras extras;
    extras.keepMetadata = true;
    ASSERT_EQ(ExportFramedImageWith(L"\\src.jpg", L"\\out\\f.jpg", CRect(0, 0, 500, 600), quiet, curve, 95, extras),
              1);
    SourceMetadata kept;
    std::vector<std::string> dropped;
    ASSERT_TRUE(ReadSourceMetadata(L"\\out\\f.jpg", false, true, 500, 600, kept, dropped));
    ASSERT_FALSE(kept.exif.empty());
    EXPECT_EQ(ReadOrientationTag(kept.exif.data(), kept.exif.size()).orientation.Tag(), 1);
}

// The lossless cut: its pixels are the upright picture's, at the place the
// cut says, with no blocks left unturned.
TEST_F(TurnedExport, LosslessCutHoldsTheUprightPixels) {
    const JpegSpec sources[] = {
        {1024, 768, 2, 2, false, 0, 95},  // whole iMCUs: every turn is exact
        {1001, 757, 2, 1, false, 0, 95},  // partial iMCUs at the right and bottom
        {1001, 757, 1, 1, false, 0, 95, Colour::Grey},
    };
    for (const JpegSpec& recipe : sources) {
        for (int tag = 1; tag <= 8; ++tag) {
            SCOPED_TRACE(testing::Message() << recipe.width << " tag " << tag);
            Source(recipe, tag);
            const CRect frames[] = {{0, 0, width, height}, {21, 35, width - 40, height - 3}, {5, 7, 300, 200}};
            for (const CRect& c : frames) {
                ExportExtras extras;
                LosslessCut cut;
                std::string error;
                ASSERT_EQ(ExportLossless(L"\\src.jpg", L"\\out\\l.jpg", c, extras, cut, error), 1) << error;
                const CRect& w = cut.written;
                EXPECT_LE(w.left, c.left + 16);
                EXPECT_GE(w.right, c.right - 16);
                EXPECT_LE(w.right, width);
                EXPECT_LE(w.bottom, height);
                if (!cut.clipped) {
                    EXPECT_EQ(w.Width(), c.Width());
                    EXPECT_EQ(w.left + cut.shiftX, c.left);
                    EXPECT_EQ(w.top + cut.shiftY, c.top);
                }
                const Decoded d = DecodeFully(storage.Host("out/l.jpg"), false);
                ASSERT_EQ(d.width, w.Width());
                ASSERT_EQ(d.height, w.Height());
                const std::vector<uint8_t> want = CropRgb(upright, width, w.left, w.top, w.right, w.bottom);
                // Turned blocks decode as the upright ones up to rounding in
                // the inverse DCT and chroma upsampling; an unturned block
                // would be far off. The outermost pixels of the cut lose
                // their chroma neighbours outside it, turned or not.
                int worst = 0;
                double total = 0;
                for (int y = 1; y + 1 < w.Height(); ++y) {
                    for (int x = 1; x + 1 < w.Width(); ++x) {
                        for (int ch = 0; ch < 3; ++ch) {
                            const size_t i = (static_cast<size_t>(y) * w.Width() + x) * 3 + ch;
                            const int diff = std::abs(int(want[i]) - int(d.pixels[i]));
                            worst = std::max(worst, diff);
                            total += diff;
                        }
                    }
                }
                EXPECT_LE(worst, 4);
                EXPECT_LT(total / want.size(), 1.0);
                if (tag == 1) {
                    EXPECT_EQ(worst, 0);
                }
            }
        }
    }
}

}  // namespace
