// The sitting without a window: what it keeps per photograph, the folder
// walk, and the whole order written through the one export path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/ExportPlan.h"
#include "app/PhotoFolder.h"
#include "app/PrintOrder.h"
#include "tests/imaging/TestJpeg.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"

namespace {

PhotoSettings Framed(int format, CSize size, CRect frame, BOOL rotated = FALSE) {
    PhotoSettings s;
    s.nFormat = format;
    s.bRotated = rotated;
    s.sizeSource = size;
    s.rcSource = frame;
    return s;
}

void AddPhoto(const TempStorage& storage, const std::string& relative, int w, int h, uint32_t seed) {
    JpegSpec recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.seed = seed;
    storage.File(relative, EncodeJpeg(recipe));
}

// Records the red line and the counts as the window would show them.
class Recorder : public ProgressSink {
public:
    void PumpOneMessage() override {}
    void DrawProgress(int percent) override { line.push_back(percent); }
    std::vector<int> line;
};

}  // namespace

TEST(PrintOrder, KeepsEachPhotographOnceInTheOrderFirstSeenWhateverTheCase) {
    PrintOrder order;
    PhotoSettings a = Framed(13, {1600, 1200}, {10, 20, 810, 586}, TRUE);
    ASSERT_TRUE(ApplyPreset(a.curve, *FindPresetByName(std::string_view("Bright"))));
    a.curve.UpdateLut();  // a table of its own
    a.nPreset = 6;
    order.Keep(L"\\DCIM\\img_0001.jpg", a);
    order.Keep(L"\\DCIM\\img_0002.jpg", Framed(2, {1000, 800}, {0, 0, 1000, 670}));
    // Coming back under another spelling of the same file replaces, not adds.
    PhotoSettings moved = a;
    moved.rcSource.OffsetRect(5, 0);
    order.Keep(L"\\dcim\\IMG_0001.JPG", moved);

    ASSERT_EQ(order.GetCount(), 2u);
    EXPECT_EQ(order.GetPath(0), L"\\DCIM\\img_0001.jpg");
    const PhotoSettings* kept = order.Find(L"\\DCIM\\IMG_0001.jpg");
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->rcSource, CRect(15, 20, 815, 586));
    EXPECT_EQ(kept->nFormat, 13);
    EXPECT_TRUE(kept->bRotated);
    EXPECT_EQ(kept->nPreset, 6);
    EXPECT_EQ(0, std::memcmp(kept->curve.m_lut, a.curve.m_lut, sizeof(ToneLut)));
    EXPECT_EQ(order.Find(L"\\DCIM\\img_0003.jpg"), nullptr);
}

TEST(PhotoFolder, WalksTheFolderInTheBrowsersOrderWithoutWrapping) {
    TempStorage storage;
    storage.File("DCIM/IMG_0003.JPG");
    storage.File("DCIM/img_0001.jpg");
    storage.File("DCIM/b.jpg.txt");    // listed by the browser, so walked too
    storage.File("DCIM/.hidden.jpg");  // not listed
    storage.File("DCIM/notes.txt");
    storage.Folder("DCIM/zz.jpg");     // a folder, whatever its name
    storage.File("DCIM/photo.jpeg");   // not listed, but can be opened from outside

    const FolderPlace place = LocatePhotograph(L"\\DCIM\\img_0003.jpg");
    EXPECT_EQ(place.names, (std::vector<std::wstring>{L"b.jpg.txt", L"img_0001.jpg", L"img_0003.jpg"}));
    EXPECT_EQ(PhotoTitle(L"\\DCIM\\img_0003.jpg", place), L"img_0003.jpg (3 of 3)");
    EXPECT_TRUE(NeighbourPhotographs(place, 1).empty());
    EXPECT_EQ(NeighbourPhotographs(place, -1),
              (std::vector<std::wstring>{L"\\DCIM\\img_0001.jpg", L"\\DCIM\\b.jpg.txt"}));

    // The host's spelling of a name finds its place all the same.
    const FolderPlace first = LocatePhotograph(L"\\DCIM\\B.JPG.TXT");
    EXPECT_EQ(first.index, 0);
    EXPECT_TRUE(NeighbourPhotographs(first, -1).empty());

    // One the browser does not list steps to its alphabetical neighbours.
    const FolderPlace outside = LocatePhotograph(L"\\DCIM\\photo.jpeg");
    EXPECT_EQ(outside.index, -1);
    EXPECT_EQ(PhotoTitle(L"\\DCIM\\photo.jpeg", outside), L"photo.jpeg");
    EXPECT_EQ(NeighbourPhotographs(outside, 1), std::vector<std::wstring>{});
    EXPECT_EQ(NeighbourPhotographs(outside, -1).front(), L"\\DCIM\\img_0003.jpg");

    EXPECT_TRUE(LocatePhotograph(L"\\Gone\\a.jpg").names.empty());
}

class WriteOrderTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddPhoto(m_storage, "DCIM/img_0001.jpg", 1600, 1200, 3);
        AddPhoto(m_storage, "DCIM/img_0002.jpg", 1200, 1600, 4);
        AddPhoto(m_storage, "DCIM/100/img_0003.jpg", 1000, 800, 5);
        m_storage.Folder("Out");
    }
    // What GO! writes for one photograph with these settings.
    std::string WhatGoWrites(const std::wstring& source, const PhotoSettings& s, const std::string& name) {
        ExportPlan plan;
        const float w = m_formats.FrameWidthCm(s.nFormat, s.bRotated, s.bCorrectLab);
        const float h = m_formats.FrameHeightCm(s.nFormat, s.bRotated, s.bCorrectLab);
        EXPECT_EQ(PlanExport(L"\\Single\\", source, PrintFormatSuffixes().at(s.nFormat), s.rcSource, s.sizeSource,
                             w, h, plan),
                  ExportPlanResult::Ready);
        m_storage.Folder("Single");
        NullProgressSink none;
        ToneCurve curve;
        curve.Assign(s.curve);
        EXPECT_EQ(ExportFramedImage(source, plan.outputPath, plan.rcExport, none, curve, 95), 1);
        return ReadFile(m_storage.Host("Single/" + name));
    }

    TempStorage m_storage;
    PrintFormatTable m_formats;
};

TEST_F(WriteOrderTest, EachPhotographWithItsOwnSettingsAsGoWritesIt) {
    PrintOrder order;
    PhotoSettings first = Framed(13, {1600, 1200}, {100, 50, 1100, 757});
    ASSERT_TRUE(ApplyPreset(first.curve, *FindPresetByName(std::string_view("Bright"))));
    first.curve.UpdateLut();
    order.Keep(L"\\DCIM\\img_0001.jpg", first);
    order.Keep(L"\\DCIM\\img_0002.jpg", Framed(2, {1200, 1600}, {0, 0, 805, 1200}, TRUE));
    order.Keep(L"\\DCIM\\100\\img_0003.jpg", Framed(0, {1000, 800}, {0, 100, 1000, 784}));

    Recorder line;
    std::vector<std::pair<size_t, size_t>> counts;
    const auto results = WriteOrder(order, L"\\Out\\", m_formats, line,
                                    [&](size_t i, size_t n) { counts.emplace_back(i, n); });
    ASSERT_EQ(results.size(), 3u);
    for (const OrderResult& r : results) EXPECT_TRUE(r.ok) << ToUtf8(r.why);
    EXPECT_EQ(counts, (std::vector<std::pair<size_t, size_t>>{{0, 3}, {1, 3}, {2, 3}}));
    // One line over the whole order: it only grows, and ends full.
    ASSERT_FALSE(line.line.empty());
    EXPECT_TRUE(std::is_sorted(line.line.begin(), line.line.end()));
    EXPECT_LE(line.line.front(), 34);
    EXPECT_EQ(line.line.back(), 100);

    EXPECT_EQ(results[0].outputPath, L"\\Out\\img_0001_A4.jpg");
    EXPECT_TRUE(ReadFile(m_storage.Host("Out/img_0001_A4.jpg")) ==
                WhatGoWrites(L"\\DCIM\\img_0001.jpg", first, "img_0001_A4.jpg"));
    EXPECT_TRUE(ReadFile(m_storage.Host("Out/img_0002_10x15.jpg")) ==
                WhatGoWrites(L"\\DCIM\\img_0002.jpg", order.GetSettings(1), "img_0002_10x15.jpg"));
    EXPECT_TRUE(ReadFile(m_storage.Host("Out/img_0003_9x13.jpg")) ==
                WhatGoWrites(L"\\DCIM\\100\\img_0003.jpg", order.GetSettings(2), "img_0003_9x13.jpg"));
    EXPECT_EQ(OrderMessage(results, L"\\Out\\"), L"3 files were created in \"\\Out\\\".");
}

TEST_F(WriteOrderTest, FailuresAreNamedAndNoFileOfTheOrderIsLostToAnother) {
    AddPhoto(m_storage, "DCIM/100/img_0001.jpg", 1000, 800, 9);  // the same name in another folder
    PrintOrder order;
    order.Keep(L"\\DCIM\\img_0001.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    order.Keep(L"\\DCIM\\100\\img_0001.jpg", Framed(2, {1000, 800}, {0, 0, 1000, 670}));
    order.Keep(L"\\DCIM\\img_0002.jpg", Framed(2, {1200, 1600}, {0, 0, 1200, 805}));
    order.Keep(L"\\DCIM\\100\\img_0003.jpg", Framed(2, {1000, 800}, {0, 0, 1000, 670}));
    std::filesystem::remove(m_storage.Host("DCIM/img_0002.jpg"));  // gone since it was framed

    Recorder line;
    const auto results = WriteOrder(order, L"\\Out\\", m_formats, line);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_TRUE(results[0].ok);
    EXPECT_FALSE(results[1].ok);
    EXPECT_FALSE(results[2].ok);
    EXPECT_TRUE(results[3].ok);
    // The first photograph's file is its own, not the second's.
    const Decoded written = DecodeFully(m_storage.Host("Out/img_0001_10x15.jpg"), false);
    EXPECT_EQ(written.width, 1600);
    EXPECT_FALSE(std::filesystem::exists(m_storage.Host("Out/img_0002_10x15.jpg")));
    EXPECT_EQ(OrderMessage(results, L"\\Out\\"),
              L"2 files were created in \"\\Out\\\".\n"
              L"img_0001.jpg: another photograph of the order has the same file name\n"
              L"img_0002.jpg: cannot be read (No such file or directory)");

    // Written beside the photographs, a new file must not replace one of them.
    PrintOrder beside;
    AddPhoto(m_storage, "DCIM/img_0001_10x15.jpg", 1000, 800, 11);
    const std::string before = ReadFile(m_storage.Host("DCIM/img_0001_10x15.jpg"));
    beside.Keep(L"\\DCIM\\img_0001.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    beside.Keep(L"\\DCIM\\img_0001_10x15.jpg", Framed(2, {1000, 800}, {0, 0, 1000, 670}));
    const auto same = WriteOrder(beside, L"\\DCIM\\", m_formats, line);
    EXPECT_FALSE(same[0].ok);
    EXPECT_EQ(same[0].why, L"the new file would overwrite another photograph of the order");
    EXPECT_TRUE(same[1].ok);
    EXPECT_EQ(ReadFile(m_storage.Host("DCIM/img_0001_10x15.jpg")), before);
    EXPECT_EQ(OrderMessage({same[0]}, L"\\DCIM\\").substr(0, 30), L"No file was created in \"\\DCIM\\");
}
