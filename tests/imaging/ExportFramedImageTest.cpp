#include <gtest/gtest.h>

#include <algorithm>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "TestJpeg.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "platform/WaitCursor.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"
#include "tone/ToneCurve.h"

namespace {

class ExportTest : public ::testing::Test {
protected:
    // Writes the source, decodes it plainly once for the expectations.
    void Source(const JpegRecipe& recipe) {
        WriteFile(storage.Host("src.jpg"), EncodeJpeg(recipe));
        const bool cmyk = recipe.colour == Colour::CmykAdobe || recipe.colour == Colour::CmykPlain ||
                          recipe.colour == Colour::Ycck;
        Decoded d = DecodeFully(storage.Host("src.jpg"), cmyk);
        ASSERT_EQ(d.width, recipe.width);
        width = d.width;
        height = d.height;
        pixels = cmyk ? CmykPixelsToRgb(d.pixels, recipe.colour != Colour::CmykPlain) : d.pixels;
    }

    std::string Expected(const CRect& c, const ToneCurve* curve = nullptr, int quality = 95) const {
        std::vector<uint8_t> crop = CropRgb(pixels, width, c.left, c.top, c.right, c.bottom);
        if (curve && curve->m_nPoints > 2)
            for (uint8_t& v : crop) v = static_cast<uint8_t>(curve->m_lut[v]);
        return EncodePlain(crop.data(), c.Width(), c.Height(), quality);
    }

    int Export(const CRect& crop, ProgressSink& sink, int quality = 95, const wchar_t* dest = L"\\out\\frame.jpg") {
        return ExportFramedImage(L"\\src.jpg", dest, crop, sink, curve, quality);
    }

    int Export(const CRect& crop) { return Export(crop, quiet); }

    std::vector<std::string> FolderEntries(const std::string& relative) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(storage.Host(relative)))
            names.push_back(e.path().filename().string());
        return names;
    }

    void SetUp() override { storage.Folder("out"); }

    TempStorage storage;
    ToneCurve curve;
    NullProgressSink quiet;
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// The file must be what a plain encoder writes for the crop of a plain full
// decode, whatever parts of the source the export chose not to decode.
TEST_F(ExportTest, FileIsByteIdenticalToAPlainEncodeOfTheCrop) {
    const JpegRecipe sources[] = {
        {1600, 1200, 2, 2},            // 4:2:0
        {1203, 901, 2, 1},             // 4:2:2, odd sizes
        {1001, 757, 1, 1},             // 4:4:4
        {1203, 901, 1, 2},             // 4:4:0
        {1203, 901, 2, 2, true},       // progressive
        {1203, 901, 2, 1, true},       // progressive 4:2:2
        {1203, 901, 2, 2, false, 1},   // restart markers every row of MCUs
        {1203, 901, 2, 1, false, 2},
        {900, 1300, 2, 2},             // portrait
    };
    for (const JpegRecipe& recipe : sources) {
        Source(recipe);
        const int W = width, H = height;
        const CRect crops[] = {
            {0, 0, W, H},
            {1, 1, W - 1, H - 1},
            {17, 33, 18, 300},         // one pixel wide
            {0, 7, 1, 300},            // one and two wide at the left edge, where a
            {0, 0, 2, H},              // narrow window loses smooth upsampling
            {31, 5, 33, 6},            // two wide, one high
            {16, 16, 32, 32},          // exactly on block edges
            {15, 15, 49, 77},          // one off them on every side
            {W - 2, H - 3, W, H},      // the bottom-right corner
            {0, H / 3, W, H / 3 + 400},// full width, stopping early
            {W / 2 + 1, 0, W, H / 2 + 3},
            {333, 211, 334 + 517, 212 + 389},
        };
        for (const CRect& c : crops) {
            SCOPED_TRACE(::testing::Message() << W << "x" << H << " samp " << recipe.hSamp << "x" << recipe.vSamp
                                              << " prog " << recipe.progressive << " rst " << recipe.restartRows
                                              << " crop " << c.left << "," << c.top << "," << c.right << ","
                                              << c.bottom);
            ASSERT_EQ(Export(c), 1);
            EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c));
        }
    }
}

TEST_F(ExportTest, RandomCropsOfSmallPicturesMatchToo) {
    // Many more frame positions than above, on pictures small enough to be
    // quick; every subsampling libjpeg upsamples smoothly is among them.
    const JpegRecipe sources[] = {
        {203, 151, 2, 2}, {203, 151, 2, 1}, {203, 151, 1, 2}, {203, 151, 4, 1},
        {203, 151, 2, 2, true, 1}, {198, 130, 2, 1, true}, {197, 161, 2, 2, false, 2},
    };
    uint32_t state = 12345;
    auto next = [&state](int n) {
        state = state * 1103515245u + 12345u;
        return static_cast<int>((state >> 8) % static_cast<uint32_t>(n));
    };
    for (const JpegRecipe& recipe : sources) {
        Source(recipe);
        for (int i = 0; i < 40; ++i) {
            const int w = 1 + next(i % 4 == 0 ? 3 : width), h = 1 + next(height);
            const int l = next(width - w + 1), t = next(height - h + 1);
            const CRect c(l, t, l + w, t + h);
            SCOPED_TRACE(::testing::Message() << width << "x" << height << " samp " << recipe.hSamp << "x" << recipe.vSamp
                                              << " crop " << l << "," << t << "," << l + w << "," << t + h);
            ASSERT_EQ(Export(c), 1);
            ASSERT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c));
        }
    }
}

TEST_F(ExportTest, GreyAndCmykSourcesExportAsRgbPhotographs) {
    for (Colour colour : {Colour::Grey, Colour::CmykAdobe, Colour::CmykPlain, Colour::Ycck}) {
        JpegRecipe recipe{1001, 801};
        recipe.colour = colour;
        Source(recipe);
        for (const CRect& c : {CRect(0, 0, 1001, 801), CRect(101, 51, 700, 500)}) {
            SCOPED_TRACE(static_cast<int>(colour));
            ASSERT_EQ(Export(c), 1);
            EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c));
        }
    }
}

TEST_F(ExportTest, WorkedExampleAgainstCjpeg) {
    // libjpeg-turbo's own command-line encoder at quality 95 writes exactly
    // the file the export must write.
    if (::system("command -v cjpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "cjpeg not installed";
    Source({1600, 1200, 2, 2});
    const CRect c(100, 50, 1300, 850);
    ASSERT_EQ(Export(c), 1);
    std::vector<uint8_t> crop = CropRgb(pixels, width, 100, 50, 1300, 850);
    std::string ppm = "P6\n1200 800\n255\n";
    ppm.append(reinterpret_cast<const char*>(crop.data()), crop.size());
    WriteFile(storage.Host("crop.ppm"), ppm);
    const std::string cmd = "cjpeg -quality 95 -outfile " + storage.Host("cjpeg.jpg") + " " + storage.Host("crop.ppm");
    ASSERT_EQ(::system(cmd.c_str()), 0);
    EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == ReadFile(storage.Host("cjpeg.jpg")));
    Decoded out = DecodeFully(storage.Host("out/frame.jpg"), false);
    EXPECT_EQ(out.width, 1200);
    EXPECT_EQ(out.height, 800);
}

TEST_F(ExportTest, ToneCurveIsAppliedOnlyWithMoreThanTwoPoints) {
    Source({1203, 901, 2, 2});
    const CRect c(7, 9, 1000, 700);
    ASSERT_EQ(Export(c), 1);
    EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c));

    const TonePreset* invert = FindPresetByName("Invert");
    ASSERT_NE(invert, nullptr);
    ASSERT_TRUE(ApplyPreset(curve, *invert));
    ASSERT_GT(curve.m_nPoints, 2);
    ASSERT_EQ(Export(c), 1);
    // The export rebuilt the table from the curve it was given.
    EXPECT_EQ(curve.m_lut[0] & 0xFF, 255);
    EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c, &curve));

    ApplyPreset(curve, *FindPresetByItemData(1));
    ASSERT_EQ(Export(c, quiet, 80), 1);
    EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(c, &curve, 80));
}

// The export stops decoding after the frame's last row, so the line counts
// the rows down to there and reaches the end whatever the frame.
TEST_F(ExportTest, ProgressRunsFromZeroThroughEachPercentOnceTo100OverTheRowsWorkedThrough) {
    Source({1000, 1200, 2, 2});
    RecordingSink whole;
    ASSERT_EQ(Export(CRect(0, 0, 1000, 1200), whole), 1);
    std::vector<int> all(101);
    for (int i = 0; i <= 100; ++i) all[i] = i;
    EXPECT_EQ(whole.percents, all);
    EXPECT_EQ(whole.pumps, 1200);

    for (const CRect& c : {CRect(0, 700, 1000, 1000), CRect(5, 1100, 6, 1200), CRect(0, 0, 1000, 12)}) {
        RecordingSink sink;
        ASSERT_EQ(Export(c, sink), 1);
        ASSERT_FALSE(sink.percents.empty());
        EXPECT_EQ(sink.percents.front(), 0);
        for (size_t i = 1; i < sink.percents.size(); ++i) EXPECT_GT(sink.percents[i], sink.percents[i - 1]);
        EXPECT_EQ(sink.percents.back(), 100);
        // Rows above the frame count too: its first row is not 0 percent.
        if (c.top > 0) {
            EXPECT_NE(std::find(sink.percents.begin(), sink.percents.end(), c.top * 100 / c.bottom),
                      sink.percents.end());
        }
        EXPECT_GE(sink.pumps, c.Height());
    }
    EXPECT_EQ(CWaitCursor::Depth(), 0);
}

TEST_F(ExportTest, ExistingDestinationIsReplacedWithoutLeftovers) {
    Source({1000, 800});
    WriteFile(storage.Host("out/frame.jpg"), "old contents");
    chmod(storage.Host("out/frame.jpg").c_str(), 0640);
    ASSERT_EQ(Export(CRect(0, 0, 1000, 800)), 1);
    EXPECT_TRUE(ReadFile(storage.Host("out/frame.jpg")) == Expected(CRect(0, 0, 1000, 800)));
    EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{"frame.jpg"});
    struct stat st;
    ASSERT_EQ(stat(storage.Host("out/frame.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A new file gets the permissions fopen would have given it.
    const mode_t mask = umask(027);
    ASSERT_EQ(Export(CRect(0, 0, 10, 10), quiet, 95, L"\\out\\new.jpg"), 1);
    umask(mask);
    ASSERT_EQ(stat(storage.Host("out/new.jpg").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(ExportTest, BadSourcesFailWithoutTouchingTheDestination) {
    const std::string good = EncodeJpeg({1000, 800});
    const std::string cases[] = {"", "not a jpeg", good.substr(0, 150),
                                 WithClaimedSize(EncodeJpeg({64, 64, 2, 2, true}), 60000, 60000)};
    WriteFile(storage.Host("out/frame.jpg"), "precious");
    for (const std::string& bytes : cases) {
        WriteFile(storage.Host("src.jpg"), bytes);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Export(CRect(0, 0, 800, 600)), 0);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(ReadFile(storage.Host("out/frame.jpg")), "precious");
        EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{"frame.jpg"});
    }
    NullProgressSink sink;
    EXPECT_EQ(ExportFramedImage(L"\\nothing.jpg", L"\\out\\frame.jpg", CRect(0, 0, 10, 10), sink, curve, 95), 0);
    // A frame reaching outside the photograph is refused rather than skipped
    // or cropped past its end.
    WriteFile(storage.Host("src.jpg"), good);
    EXPECT_EQ(Export(CRect(0, 0, 1001, 800)), 0);
    EXPECT_EQ(Export(CRect(0, 800, 1000, 0x7fffffff)), 0);
    EXPECT_EQ(Export(CRect(-1, 0, 10, 10)), 0);
    EXPECT_EQ(ReadFile(storage.Host("out/frame.jpg")), "precious");
    EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{"frame.jpg"});
}

TEST_F(ExportTest, DamagedSourceDataStillExportsQuietly) {
    const std::string good = EncodeJpeg({1000, 800});
    std::string corrupt = good;
    for (size_t i = corrupt.size() / 3; i < corrupt.size() / 3 + 64; ++i) corrupt[i] = static_cast<char>(i * 7);
    // A second image where the end marker was: jpeg_finish_decompress would
    // call that fatal after every row was encoded.
    const std::string glued = good.substr(0, good.size() - 2) + good;
    for (const std::string* bytes : std::initializer_list<const std::string*>{&corrupt, &glued}) {
        WriteFile(storage.Host("src.jpg"), *bytes);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Export(CRect(0, 0, 1000, 800)), 1);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    }
    WriteFile(storage.Host("src.jpg"), good.substr(0, good.size() / 2));
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Export(CRect(0, 0, 1000, 800)), 1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    Decoded out = DecodeFully(storage.Host("out/frame.jpg"), false);
    EXPECT_EQ(out.height, 800);
}

TEST_F(ExportTest, UnwritableDestinationFailsAndLeavesNothing) {
    Source({1000, 800});
    // No such folder, and a "folder" that is a file.
    EXPECT_EQ(ExportFramedImage(L"\\src.jpg", L"\\nowhere\\frame.jpg", CRect(0, 0, 900, 600),
                                quiet, curve, 95), 0);
    storage.File("plain", "x");
    EXPECT_EQ(ExportFramedImage(L"\\src.jpg", L"\\plain\\frame.jpg", CRect(0, 0, 900, 600),
                                quiet, curve, 95), 0);
    // A destination that is a folder cannot be replaced by the new file.
    storage.Folder("out/frame.jpg");
    EXPECT_EQ(Export(CRect(0, 0, 900, 600)), 0);
    EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{"frame.jpg"});
    EXPECT_TRUE(std::filesystem::is_directory(storage.Host("out/frame.jpg")));

    // A folder the user may not write into (root may write anywhere).
    storage.Folder("locked");
    WriteFile(storage.Host("locked/frame.jpg"), "precious");
    chmod(storage.Host("locked").c_str(), 0555);
    {
        Unprivileged user;
        if (geteuid() == 0) GTEST_SKIP() << "cannot drop root here";
        EXPECT_EQ(Export(CRect(0, 0, 900, 600), quiet, 95, L"\\locked\\frame.jpg"), 0);
    }
    EXPECT_EQ(ReadFile(storage.Host("locked/frame.jpg")), "precious");
    EXPECT_EQ(FolderEntries("locked"), std::vector<std::string>{"frame.jpg"});
}

TEST_F(ExportTest, WriteFailingHalfWayKeepsTheOldFileAndLeavesNoTemporary) {
    Source({1600, 1200});
    WriteFile(storage.Host("out/frame.jpg"), "precious");
    for (const long limit : {0L, 700L, 100000L}) {
        SCOPED_TRACE(limit);
        EXPECT_EQ(ExitStatusWithFileLimit(limit,
                                          [&] {
                                              NullProgressSink sink;
                                              return Export(CRect(0, 0, 1600, 1200), sink) == 0 ? 42 : 1;
                                          }),
                  42);
        EXPECT_EQ(ReadFile(storage.Host("out/frame.jpg")), "precious");
        EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{"frame.jpg"});
    }
}

// A FIFO with no writer would block a plain fopen for good; the program's
// decoders must turn it (and any other non-file) away at once.
TEST_F(ExportTest, OnlyRegularFilesAreReadAndNothingWaits) {
    ASSERT_EQ(mkfifo(storage.Host("pipe.jpg").c_str(), 0644), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20);
        int wrong = 0;
        for (const wchar_t* path : {L"\\pipe.jpg", L"\\out"}) {
            PhotoReport preview, exported;
            CSize box(200, 200), size;
            PreviewBuffer buffer;
            wrong += LoadPreview(path, box, size, buffer, quiet, &preview) != 0;
            wrong += ExportFramedImage(path, L"\\out\\frame.jpg", CRect(0, 0, 10, 10), quiet, curve, 95, &exported) != 0;
            for (const PhotoReport* r : {&preview, &exported})
                wrong += r->failure != PhotoReport::Failure::SourceNotRegular ||
                         r->detail != (path[1] == L'p' ? "a FIFO" : "a folder");
        }
        _exit(wrong);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(FolderEntries("out"), std::vector<std::string>{});
}

}  // namespace
