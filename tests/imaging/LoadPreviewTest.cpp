#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "TestJpeg.h"
#include "TurnedJpeg.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "platform/MessageBox.h"
#include "platform/WaitCursor.h"
#include "tests/platform/TempFolder.h"

namespace {

// The preview as the box-average rule defines it, computed from a plain full
// decode: band k starts where step added k times (in single precision)
// truncates to, unless the previous band already reaches past that row.
struct Reference {
    int pw = 0, ph = 0;
    float step = 0;
    int rowsPerBand = 0;
    std::vector<int> bandStarts;
    int nextStart = 0;  // where a band after the last would start
    std::vector<uint8_t> pixels;
};

int ColumnStart(int x, float step) { return static_cast<int>(static_cast<float>(x) * step); }

Reference BoxAverage(const std::vector<uint8_t>& rgb, int W, int H, int boxW, int boxH) {
    Reference r;
    r.pw = boxW;
    r.ph = boxW * H / W;
    if (r.ph > boxH) {
        r.ph = boxH;
        r.pw = boxH * W / H;
    }
    r.step = 1.0f / (static_cast<float>(r.pw) / static_cast<float>(W));
    r.rowsPerBand = static_cast<int>(std::floor(static_cast<double>(r.step)));
    r.pixels.assign(static_cast<size_t>(r.pw) * r.ph * 3, 0);
    float acc = 0;
    int start = 0;
    for (int k = 0; k < r.ph; ++k) {
        r.bandStarts.push_back(start);
        if (start + r.rowsPerBand <= H) {
            for (int x = 0; x < r.pw; ++x) {
                const int x0 = ColumnStart(x, r.step), x1 = ColumnStart(x + 1, r.step);
                for (int ch = 0; ch < 3; ++ch) {
                    long sum = 0;
                    for (int y = start; y < start + r.rowsPerBand; ++y)
                        for (int c = x0; c < x1; ++c) sum += rgb[(static_cast<size_t>(y) * W + c) * 3 + ch];
                    r.pixels[(static_cast<size_t>(k) * r.pw + x) * 3 + ch] =
                        static_cast<uint8_t>(sum / ((x1 - x0) * r.rowsPerBand));
                }
            }
        }
        acc += r.step;
        start = std::max(static_cast<int>(acc), start + r.rowsPerBand);
    }
    r.nextStart = start;
    return r;
}

class LoadPreviewTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxHandler([this](const MessageRequest& m) {
            messages.push_back(m);
            return 1;
        });
    }
    void TearDown() override { SetMessageBoxHandler(nullptr); }

    std::wstring Make(const JpegRecipe& recipe, const std::string& name = "photo.jpg") {
        WriteFile(storage.Host(name), EncodeJpeg(recipe));
        return L"\\" + std::wstring(name.begin(), name.end());
    }

    // Loads and checks the result byte for byte against the reference.
    void ExpectMatchesReference(const JpegRecipe& recipe, int boxW, int boxH) {
        SCOPED_TRACE(::testing::Message() << recipe.width << "x" << recipe.height << " samp " << recipe.hSamp << "x"
                                          << recipe.vSamp << " prog " << recipe.progressive << " rst "
                                          << recipe.restartRows << " colour " << static_cast<int>(recipe.colour));
        const std::wstring path = Make(recipe);
        const bool cmyk = recipe.colour == Colour::CmykAdobe || recipe.colour == Colour::CmykPlain ||
                          recipe.colour == Colour::Ycck;
        Decoded full = DecodeFully(storage.Host("photo.jpg"), cmyk);
        ASSERT_EQ(full.width, recipe.width);
        std::vector<uint8_t> rgb =
            cmyk ? CmykPixelsToRgb(full.pixels, recipe.colour != Colour::CmykPlain) : full.pixels;
        Reference ref = BoxAverage(rgb, full.width, full.height, boxW, boxH);

        CSize box(boxW, boxH), source;
        PreviewBuffer preview;
        RecordingSink sink;
        ASSERT_EQ(LoadPreview(path, box, source, preview, sink), 1);
        EXPECT_EQ(source, CSize(recipe.width, recipe.height));
        EXPECT_EQ(box, CSize(ref.pw, ref.ph));
        ASSERT_EQ(preview.Size(), ref.pixels.size());
        size_t differing = 0;
        for (size_t i = 0; i < ref.pixels.size(); ++i) differing += preview[i] != ref.pixels[i];
        EXPECT_EQ(differing, 0u);
    }

    TempStorage storage;
    std::vector<MessageRequest> messages;
};

TEST(BoxAverageReference, WindowsOfTheWorked1600x1200Example) {
    const float step = 1.0f / (236.0f / 1600.0f);
    EXPECT_FLOAT_EQ(step, 6.7796612f);
    const int starts[] = {0, 6, 13, 20, 27, 33, 40};
    for (int x = 0; x < 7; ++x) EXPECT_EQ(ColumnStart(x, step), starts[x]);
    EXPECT_EQ(ColumnStart(235, step), 1593);
    EXPECT_EQ(ColumnStart(236, step), 1600);

    std::vector<uint8_t> grey(1600 * 1200 * 3, 77);
    Reference r = BoxAverage(grey, 1600, 1200, 236, 230);
    EXPECT_EQ(r.pw, 236);
    EXPECT_EQ(r.ph, 177);
    EXPECT_EQ(r.rowsPerBand, 6);
    const std::vector<int> firstBands = {0, 6, 13, 20, 27, 33, 40, 47};
    EXPECT_EQ(std::vector<int>(r.bandStarts.begin(), r.bandStarts.begin() + 8), firstBands);
    EXPECT_EQ(r.bandStarts.back(), 1193);
    for (uint8_t v : r.pixels) ASSERT_EQ(v, 77);
}

TEST_F(LoadPreviewTest, PreviewEqualsBoxAveragesOfAPlainDecode) {
    ExpectMatchesReference({1600, 1200, 2, 2}, 236, 230);
    ExpectMatchesReference({1200, 1600, 2, 1}, 236, 230);           // portrait, 4:2:2
    ExpectMatchesReference({1001, 757, 1, 1}, 236, 230);            // odd sizes, 4:4:4
    ExpectMatchesReference({800, 600, 2, 2, true}, 236, 230);       // progressive
    ExpectMatchesReference({1203, 901, 2, 2, false, 3}, 240, 180);  // restart markers
    ExpectMatchesReference({2400, 1000, 2, 2}, 240, 600);           // integer step: no skipped rows
    ExpectMatchesReference({801, 3000, 2, 2}, 236, 230);            // last bands run out of rows
    ExpectMatchesReference({1601, 1199, 2, 2}, 800, 600);           // step just above 2
    ExpectMatchesReference({1600, 1200, 2, 2}, 5, 600);             // bands of 320 rows
    ExpectMatchesReference({1030, 800, 1, 1}, 4, 600);              // 257 rows by 258 columns: the largest 16-bit sums
    ExpectMatchesReference({1000, 700, 2, 2}, 800, 600);            // bands of one row, some skipped
}

TEST_F(LoadPreviewTest, GreyAndCmykSourcesArePhotographsLikeAnyOther) {
    JpegRecipe grey{1024, 768};
    grey.colour = Colour::Grey;
    ExpectMatchesReference(grey, 236, 230);
    for (Colour c : {Colour::CmykAdobe, Colour::CmykPlain, Colour::Ycck}) {
        JpegRecipe recipe{900, 700};
        recipe.colour = c;
        ExpectMatchesReference(recipe, 236, 230);
    }
}

TEST_F(LoadPreviewTest, CmykPreviewShowsTheColoursOfTheSamePictureInRgb) {
    // Same picture, stored as RGB and as CMYK both ways round: the previews
    // must agree up to compression noise, which catches an inverted or
    // channel-swapped conversion that the byte comparison above cannot.
    CSize rgbBox(200, 150), s;
    PreviewBuffer rgbPreview;
    RecordingSink sink;
    ASSERT_EQ(LoadPreview(Make({1000, 750}, "rgb.jpg"), rgbBox, s, rgbPreview, sink), 1);
    for (Colour c : {Colour::CmykAdobe, Colour::CmykPlain, Colour::Ycck}) {
        JpegRecipe recipe{1000, 750};
        recipe.colour = c;
        CSize box(200, 150);
        PreviewBuffer preview;
        ASSERT_EQ(LoadPreview(Make(recipe, "cmyk.jpg"), box, s, preview, sink), 1);
        ASSERT_EQ(preview.Size(), rgbPreview.Size());
        double diff = 0;
        for (size_t i = 0; i < preview.Size(); ++i) diff += std::abs(preview[i] - rgbPreview[i]);
        EXPECT_LT(diff / preview.Size(), 4.0) << static_cast<int>(c);
    }
}

TEST_F(LoadPreviewTest, SizeRuleRefusesSmallPhotographsWithItsMessage) {
    struct Case {
        int w, h;
        bool accepted;
    } cases[] = {{800, 600, true}, {799, 600, false}, {800, 599, false}, {600, 800, false}, {3000, 700, true}, {1200, 1600, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h);
        messages.clear();
        CSize box(236, 230), source(-1, -2);
        PreviewBuffer preview;
        preview.Resize(5);
        preview[0] = 9;
        RecordingSink sink;
        const int ok = LoadPreview(Make({c.w, c.h}), box, source, preview, sink);
        EXPECT_EQ(ok, c.accepted ? 1 : 0);
        if (c.accepted) {
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(source, CSize(c.w, c.h));
        } else {
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].text, L"Image must be lagrer then 800x600");
            EXPECT_EQ(messages[0].caption, L"Warning");
            EXPECT_EQ(messages[0].icon, MessageIcon::None);
            EXPECT_EQ(box, CSize(236, 230));
            EXPECT_EQ(source, CSize(-1, -2));
            ASSERT_EQ(preview.Size(), 5u);
            EXPECT_EQ(preview[0], 9);
        }
    }
    EXPECT_EQ(CWaitCursor::Depth(), 0);
}

TEST_F(LoadPreviewTest, PreviewSizeFollowsTheBoxAndTheOrientation) {
    CSize box(236, 230), source;
    PreviewBuffer preview;
    RecordingSink sink;
    ASSERT_EQ(LoadPreview(Make({1200, 1600}), box, source, preview, sink), 1);
    EXPECT_EQ(box, CSize(172, 230));
    EXPECT_EQ(preview.Size(), 172u * 230 * 3);

    box = CSize(236, 230);
    ASSERT_EQ(LoadPreview(Make({801, 3000}), box, source, preview, sink), 1);
    EXPECT_EQ(box, CSize(61, 230));
    // Rows 228 and 229 have no complete band of source rows and stay black.
    for (size_t i = 228u * 61 * 3; i < preview.Size(); ++i) ASSERT_EQ(preview[i], 0);
}

TEST_F(LoadPreviewTest, ProgressRisesOnceThroughEachPercentAndPumpsBetweenRows) {
    CSize box(236, 230), source;
    PreviewBuffer preview;
    RecordingSink sink;
    ASSERT_EQ(LoadPreview(Make({1600, 1200}), box, source, preview, sink), 1);
    ASSERT_FALSE(sink.percents.empty());
    EXPECT_EQ(sink.percents.front(), 0);
    for (size_t i = 1; i < sink.percents.size(); ++i) EXPECT_GT(sink.percents[i], sink.percents[i - 1]);
    EXPECT_LE(sink.percents.back(), 99);
    // One pump per row that the main loop reads: every row but those skipped
    // between bands.
    Reference ref = BoxAverage(std::vector<uint8_t>(1600 * 1200 * 3), 1600, 1200, 236, 230);
    int skipped = 0;
    ref.bandStarts.push_back(std::min(ref.nextStart, 1200));
    for (size_t k = 1; k < ref.bandStarts.size(); ++k)
        skipped += ref.bandStarts[k] - ref.bandStarts[k - 1] - ref.rowsPerBand;
    EXPECT_EQ(sink.pumps, 1200 - skipped);
}

TEST_F(LoadPreviewTest, FilesThatAreNoPhotographFailQuietly) {
    const std::string good = EncodeJpeg({1000, 800});
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "This is not a JPEG file at all, just some text.\n"},
        {"header cut", good.substr(0, 100)},
        {"damaged header", good.substr(0, 2) + std::string(200, '\x17') + good.substr(202)},
        // Would need some 10 GiB of coefficients before the first row.
        {"giant progressive", WithClaimedSize(EncodeJpeg({64, 64, 2, 2, true}), 60000, 60000)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(storage.Host("bad.jpg"), c.bytes);
        CSize box(236, 230), source(-1, -1);
        PreviewBuffer preview;
        RecordingSink sink;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(LoadPreview(L"\\bad.jpg", box, source, preview, sink), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_TRUE(messages.empty());
        EXPECT_EQ(source, CSize(-1, -1));
        EXPECT_TRUE(preview.Empty());
    }
    CSize box(236, 230), source;
    PreviewBuffer preview;
    RecordingSink sink;
    EXPECT_EQ(LoadPreview(L"\\missing.jpg", box, source, preview, sink), 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(CWaitCursor::Depth(), 0);
}

TEST_F(LoadPreviewTest, DamagedDataStillGivesAPictureAndPrintsNothing) {
    const std::string good = EncodeJpeg({1000, 800});
    const std::string truncated = good.substr(0, good.size() / 2);
    std::string corrupt = good;
    for (size_t i = corrupt.size() / 3; i < corrupt.size() / 3 + 64; ++i) corrupt[i] = static_cast<char>(i * 7);
    // A second image glued on where the first one's end marker was: the
    // library calls that fatal, but only after the last row.
    const std::string glued = good.substr(0, good.size() - 2) + good;
    for (const std::string* bytes : std::initializer_list<const std::string*>{&truncated, &corrupt, &glued}) {
        WriteFile(storage.Host("damaged.jpg"), *bytes);
        CSize box(236, 230), source;
        PreviewBuffer preview;
        RecordingSink sink;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(LoadPreview(L"\\damaged.jpg", box, source, preview, sink), 1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(source, CSize(1000, 800));
        EXPECT_EQ(preview.Size(), static_cast<size_t>(box.cx) * box.cy * 3);
    }
}

TEST_F(LoadPreviewTest, UniformGreyStaysTheSameGrey) {
    // Quality 100 at 4:4:4 keeps a flat grey exactly flat through the codec.
    std::vector<uint8_t> grey(1000 * 800 * 3, 131);
    WriteFile(storage.Host("grey.jpg"), EncodePlain(grey.data(), 1000, 800, 100));
    Decoded d = DecodeFully(storage.Host("grey.jpg"), false);
    const uint8_t v = d.pixels[0];
    for (uint8_t p : d.pixels) ASSERT_EQ(p, v);
    CSize box(236, 230), source;
    PreviewBuffer preview;
    RecordingSink sink;
    ASSERT_EQ(LoadPreview(L"\\grey.jpg", box, source, preview, sink), 1);
    for (size_t i = 0; i < preview.Size(); ++i) ASSERT_EQ(preview[i], v);
}

}  // namespace

// A photograph stored on its side previews as if its decoded pixels were the
// upright ones, byte for byte.
class TurnedPreviewTest : public LoadPreviewTest {
protected:
    void ExpectUpright(JpegRecipe recipe, int tag, int boxW, int boxH, Colour colour = Colour::YCbCr) {
        recipe.colour = colour;
        SCOPED_TRACE(::testing::Message() << recipe.width << "x" << recipe.height << " colour "
                                          << static_cast<int>(colour) << " tag " << tag << " box " << boxW);
        WriteFile(storage.Host("turned.jpg"), WithExif(EncodeJpeg(recipe), OrientationTiff(tag)));
        const bool cmyk = colour == Colour::CmykAdobe || colour == Colour::CmykPlain;
        const Decoded full = DecodeFully(storage.Host("turned.jpg"), cmyk);
        const std::vector<uint8_t> rgb = cmyk ? CmykPixelsToRgb(full.pixels, colour == Colour::CmykAdobe) : full.pixels;
        const CSize upright = tag >= 5 ? CSize(full.height, full.width) : CSize(full.width, full.height);
        const Reference ref =
            BoxAverage(TurnUpright(rgb, full.width, full.height, tag), upright.cx, upright.cy, boxW, boxH);
        CSize box(boxW, boxH), source;
        PreviewBuffer preview;
        RecordingSink sink;
        ASSERT_EQ(LoadPreview(L"\\turned.jpg", box, source, preview, sink), 1);
        EXPECT_EQ(source, upright);
        EXPECT_EQ(box, CSize(ref.pw, ref.ph));
        ASSERT_EQ(preview.Size(), ref.pixels.size());
        EXPECT_TRUE(std::equal(ref.pixels.begin(), ref.pixels.end(), preview.Data()));
        EXPECT_TRUE(std::is_sorted(sink.percents.begin(), sink.percents.end()));
    }
};

TEST_F(TurnedPreviewTest, EveryTurnPreviewsTheUprightPicture) {
    for (int tag = 1; tag <= 8; ++tag) {
        ExpectUpright({1203, 901, 2, 2}, tag, 800, 600);   // bands of one row, some skipped
        ExpectUpright({1601, 1199, 2, 1}, tag, 236, 230);  // odd sizes, 4:2:2
        ExpectUpright({1030, 800, 1, 1}, tag, 4, 600);     // windows of 258 stored rows or columns
        ExpectUpright({800, 1030, 1, 1}, tag, 4, 600);
        ExpectUpright({1600, 1200, 2, 2}, tag, 5, 600);    // bands of hundreds of rows
    }
    for (int tag : {3, 6, 7}) {
        ExpectUpright({1024, 768}, tag, 236, 230, Colour::Grey);
        ExpectUpright({900, 700}, tag, 236, 230, Colour::CmykAdobe);
        ExpectUpright({900, 700}, tag, 300, 600, Colour::CmykPlain);
    }
}

TEST_F(TurnedPreviewTest, SizeRuleIsTheStoredSizesAndADamagedTagIsStored) {
    CSize box(236, 230), source;
    PreviewBuffer preview;
    RecordingSink sink;
    WriteFile(storage.Host("a.jpg"), WithExif(EncodeJpeg({600, 800}), OrientationTiff(6)));  // upright 800 x 600
    EXPECT_EQ(LoadPreview(L"\\a.jpg", box, source, preview, sink), 0);
    EXPECT_EQ(messages.size(), 1u);
    WriteFile(storage.Host("b.jpg"), WithExif(EncodeJpeg({800, 600}), OrientationTiff(6)));  // upright 600 x 800
    ASSERT_EQ(LoadPreview(L"\\b.jpg", box, source, preview, sink), 1);
    EXPECT_EQ(source, CSize(600, 800));

    // A 6 stored as text: the photograph as stored, and the caller hears of it.
    WriteFile(storage.Host("c.jpg"), WithExif(EncodeJpeg({1000, 700}), OrientationTiff(6, false, 2)));
    PhotoReport report;
    ASSERT_EQ(LoadPreview(L"\\c.jpg", box, source, preview, sink, &report), 1);
    EXPECT_TRUE(report.damagedOrientation);
    EXPECT_EQ(source, CSize(1000, 700));
}
