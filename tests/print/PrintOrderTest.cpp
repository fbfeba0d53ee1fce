// The sitting without a window: what it keeps per photograph, and the whole
// order written through the one export path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "print/ExportPlan.h"
#include "print/OrderFile.h"
#include "print/PhotoFolder.h"
#include "print/PrintOrder.h"
#include "app/PipelineWrappers.h"
#include "tests/imaging/TestJpeg.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"
#include "tests/print/OrderPhotos.h"
#include "tone/Presets.h"

namespace {

// Records the red line and the counts as the window would show them.
class Recorder : public ProgressSink {
public:
    void PumpOneMessage() override {}
    void DrawProgress(int percent) override { line.push_back(percent); }
    std::vector<int> line;
};

}  // namespace

// Every photograph as GO! writes it with its own settings; none lost to another.
TEST(WriteOrder, EachPhotographAsGoWritesItAndNoFileIsLostToAnother) {
    TempStorage storage;
    AddPhoto(storage, "DCIM/img_0001.jpg", 1600, 1200, 3);
    AddPhoto(storage, "DCIM/100/img_0001.jpg", 1000, 800, 9);  // the same name in another folder
    AddPhoto(storage, "DCIM/img_0002.jpg", 1200, 1600, 4);
    AddPhoto(storage, "DCIM/100/img_0003.jpg", 1000, 800, 5);
    storage.Folder("Out");
    storage.Folder("Single");
    const PrintFormatTable formats;
    auto whatGoWrites = [&](const std::wstring& source, const PhotoSettings& s, const std::string& name) {
        ExportPlan plan;
        PlanExport(L"\\Single\\", source, PrintFormatSuffixes().at(s.nFormat), s.rcSource, s.sizeSource,
                   formats.FrameWidthCm(s.nFormat, s.bRotated, s.bCorrectLab),
                   formats.FrameHeightCm(s.nFormat, s.bRotated, s.bCorrectLab), plan);
        NullProgressSink none;
        ToneCurve curve = s.curve;
        EXPECT_EQ(ExportFramedImage(source, plan.outputPath, plan.rcExport, none, curve, 95), 1);
        return ReadFile(storage.Host("Single/" + name));
    };

    PrintOrder order;
    PhotoSettings first = Framed(13, {1600, 1200}, {100, 50, 1100, 757});
    ASSERT_TRUE(ApplyPreset(first.curve, *FindPresetByName(std::string_view("Bright"))));
    first.curve.UpdateLut();
    order.Keep(L"\\DCIM\\img_0001.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    order.Keep(L"\\DCIM\\100\\img_0001.jpg", Framed(13, {1000, 800}, {0, 0, 1000, 707}));
    order.Keep(L"\\DCIM\\img_0002.jpg", Framed(2, {1200, 1600}, {0, 0, 805, 1200}, TRUE));
    order.Keep(L"\\DCIM\\100\\img_0003.jpg", Framed(0, {1000, 800}, {0, 100, 1000, 784}, TRUE));
    // Coming back under another spelling replaces what was kept.
    order.Keep(L"\\dcim\\IMG_0001.JPG", first);
    ASSERT_EQ(order.GetCount(), 4u);
    EXPECT_EQ(order.Find(L"\\DCIM\\img_0001.jpg")->nPreset, first.nPreset);
    std::filesystem::remove(storage.Host("DCIM/img_0002.jpg"));  // gone since it was framed

    Recorder line;
    std::vector<size_t> counts;
    const auto results = WriteOrder(order, L"\\Out\\", formats, line, [&](size_t i, size_t n) {
        EXPECT_EQ(n, 4u);
        counts.push_back(i);
    });
    EXPECT_EQ(counts, (std::vector<size_t>{0, 1, 2, 3}));
    // One line over the whole order: it only grows, and ends full.
    EXPECT_TRUE(std::is_sorted(line.line.begin(), line.line.end()));
    EXPECT_EQ(line.line.back(), 100);
    EXPECT_TRUE(ReadFile(storage.Host("Out/img_0001_A4.jpg")) ==
                whatGoWrites(L"\\DCIM\\img_0001.jpg", first, "img_0001_A4.jpg"));
    EXPECT_TRUE(ReadFile(storage.Host("Out/img_0003_9x13.jpg")) ==
                whatGoWrites(L"\\DCIM\\100\\img_0003.jpg", order.GetSettings(3), "img_0003_9x13.jpg"));
    const std::wstring root = FromUtf8(storage.Root());
    EXPECT_EQ(OrderMessage(results, L"\\Out\\"),
              L"2 files were created in \"\\Out\\\".\n" + root + L"/DCIM/100/img_0001.jpg: skipped: " + root +
                  L"/Out/img_0001_A4.jpg is already written for " + root + L"/DCIM/img_0001.jpg\n" + root +
                  L"/DCIM/img_0002.jpg: cannot open the photograph: No such file or directory\n" + root +
                  L"/DCIM/img_0001.jpg: low resolution for A4: 86 dpi, below 150 dpi\n" + root +
                  L"/DCIM/100/img_0003.jpg: low resolution for 9x13 cm: 140 dpi, below 150 dpi");

    // Written beside the photographs, a new file must not replace one of them.
    PrintOrder beside;
    AddPhoto(storage, "Out/img_0003_A4.jpg", 1600, 1200, 11);
    AddPhoto(storage, "Out/.jpg", 1600, 1200, 12);  // a name that takes no suffix
    const std::string before = ReadFile(storage.Host("Out/img_0003_A4.jpg"));
    beside.Keep(L"\\DCIM\\100\\img_0003.jpg", first);
    beside.Keep(L"\\Out\\img_0003_A4.jpg", first);
    beside.Keep(L"\\Out\\.jpg", first);
    const auto refused = WriteOrder(beside, L"\\Out\\", formats, line);
    EXPECT_EQ(refused[0].why, L"skipped: its output would replace " + root +
                                  L"/Out/img_0003_A4.jpg, which is exported in the same run");
    EXPECT_TRUE(refused[1].ok);
    EXPECT_EQ(refused[2].why, L"You cannot overwrite the file, please select another folder.");
    EXPECT_EQ(ReadFile(storage.Host("Out/img_0003_A4.jpg")), before);
}

// A sitting saved and opened again writes exactly the files it wrote, each
// photograph with its own frame, orientation and curve.
TEST(WriteOrder, AnOrderSavedAndReopenedWritesTheSameFiles) {
    TempStorage storage;
    AddPhoto(storage, "DCIM/img_0001.jpg", 1600, 1200, 21);
    AddPhoto(storage, "DCIM/Größe/img_0002.jpg", 1200, 1600, 22);
    storage.Folder("First");
    storage.Folder("Second");
    storage.Folder("Orders");
    PrintOrder order;
    PhotoSettings custom = Framed(3, {1600, 1200}, {123, 45, 1500, 1031});
    custom.curve.m_nPoints = 3;
    custom.curve.m_x[1] = 101.37;
    custom.curve.m_y[1] = 140.0625;
    custom.curve.m_x[2] = 255;
    custom.curve.m_y[2] = 250;
    custom.curve.UpdateSpline();  // as the adjustment dialog leaves a curve it changed
    order.Keep(L"\\DCIM\\img_0001.jpg", custom);
    PhotoSettings preset = Framed(0, {1200, 1600}, {10, 0, 1190, 1560}, TRUE);
    preset.bCorrectLab = FALSE;
    ASSERT_TRUE(ApplyPreset(preset.curve, *FindPresetByName(std::string_view("High contrast"))));
    order.Keep(L"\\DCIM\\Größe\\img_0002.jpg", preset);
    order.SetCopies(1, 3);

    const PrintFormatTable formats;
    NullProgressSink none;
    const auto first = WriteOrder(order, L"\\First\\", formats, none);
    std::wstring error;
    ASSERT_TRUE(SaveOrderFile(order, L"\\Orders\\sitting.json", error)) << ToUtf8(error);
    PrintOrder reopened;
    ASSERT_TRUE(LoadOrderFile(L"\\Orders\\sitting.json", reopened, error)) << ToUtf8(error);
    EXPECT_EQ(LeaveOutChangedPhotographs(reopened,
                                         [](const std::wstring& path, CSize& size) {
                                             size = path.find(L"0001") != std::wstring::npos ? CSize(1600, 1200)
                                                                                             : CSize(1200, 1600);
                                             return true;
                                         }),
              L"");
    EXPECT_EQ(reopened.GetCopies(1), 3);
    const auto second = WriteOrder(reopened, L"\\Second\\", formats, none);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_TRUE(first[i].ok && second[i].ok) << i;
        EXPECT_EQ(NameOfPath(second[i].outputPath), NameOfPath(first[i].outputPath));
        const std::string name = ToUtf8(NameOfPath(first[i].outputPath));
        EXPECT_TRUE(ReadFile(storage.Host("Second/" + name)) == ReadFile(storage.Host("First/" + name))) << name;
    }
}
