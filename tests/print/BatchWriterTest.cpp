// The batch writer under both front ends: every output name planned before
// anything is written, the clashes refused in trimora-cli's words, and the
// window's whole-order message built on it.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "print/BatchWriter.h"
#include "print/PrintOrder.h"
#include "platform/Strings.h"
#include "tests/imaging/TestJpeg.h"
#include "tests/platform/TempFolder.h"
#include "tests/print/OrderPhotos.h"

namespace {

BatchItem Item(const TempStorage& storage, const std::wstring& source, int format = DEFAULT_PRINT_FORMAT) {
    BatchItem item;
    item.source = source;
    item.display = "shown as " + devfs::ToHostPath(source).substr(storage.Root().size() + 1);
    item.settings.nFormat = format;
    return item;
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// Fits each item's frame to its photograph and writes what is not refused;
// the reasons, in order, "" for a file written.
std::vector<std::string> WriteAll(BatchWriter& batch) {
    std::vector<std::string> said;
    for (size_t i = 0; i < batch.GetCount(); ++i) {
        PhotoSettings& s = batch.GetItem(i).settings;
        if (s.sizeSource.cx == 0) {
            s.sizeSource = CSize(1000, 800);
            s.rcSource = CRect(0, 0, 1000, 671);
        }
        ExportPlan plan;
        const BatchRefusal refusal = batch.GetItem(i).source.empty() ? BatchRefusal::None : batch.Prepare(i, plan);
        if (refusal != BatchRefusal::None) {
            said.push_back(batch.RefusalText(i, refusal));
            continue;
        }
        if (batch.GetItem(i).source.empty()) {
            said.push_back("not in the batch");
            continue;
        }
        NullProgressSink none;
        PhotoReport report;
        said.push_back(batch.Write(i, plan, none, 95, ExportExtras(), report) ? "" : "not written");
    }
    return said;
}

}  // namespace

TEST(BatchWriter, NoPhotographLosesItsFileOrItsSourceToAnother) {
    TempStorage storage;
    for (const char* name : {"a/img_1.jpg", "b/img_1.jpg", "a/IMG_2.jpg", "b/img_2.jpg", "a/p.jpg", "a/img_3.jpg",
                             "b/img_3.jpg", "Out/p_10x15.jpg"})
        AddPhoto(storage, name, 1000, 800, static_cast<uint32_t>(std::hash<std::string>()(name)));
    const std::string before = ReadFile(storage.Host("Out/p_10x15.jpg"));
    const std::string root = storage.Root();

    std::vector<BatchItem> items = {Item(storage, L"\\a\\img_1.jpg"),
                                    Item(storage, L"\\b\\img_1.jpg"),  // one name, two folders
                                    Item(storage, L"\\a\\IMG_2.jpg"),
                                    Item(storage, L"\\b\\img_2.jpg"),  // the device takes both for one file
                                    Item(storage, L"\\a\\p.jpg"),      // would replace the next one
                                    Item(storage, L"\\Out\\p_10x15.jpg"),
                                    BatchItem(),  // refused by its caller already
                                    Item(storage, L"\\a\\img_3.jpg", 13),
                                    Item(storage, L"\\b\\img_3.jpg")};  // another format: another name
    BatchWriter batch(L"\\Out\\", std::move(items));
    EXPECT_EQ(batch.GetEntry(1).refusal, BatchRefusal::SameOutput);
    EXPECT_EQ(batch.GetEntry(1).other, 0u);
    EXPECT_EQ(batch.GetEntry(3).refusal, BatchRefusal::SameOutput);
    EXPECT_EQ(batch.GetEntry(4).refusal, BatchRefusal::ReplacesPhotograph);
    EXPECT_EQ(batch.GetEntry(4).other, 5u);
    EXPECT_EQ(batch.GetEntry(6).outputPath, L"");

    EXPECT_EQ(WriteAll(batch),
              (std::vector<std::string>{
                  "",
                  "skipped: " + root + "/Out/img_1_10x15.jpg is already written for shown as a/img_1.jpg",
                  "",
                  "skipped: " + root + "/Out/img_2_10x15.jpg is already written for shown as a/IMG_2.jpg (as " +
                      root + "/Out/IMG_2_10x15.jpg: the storage takes both names for one file)",
                  "skipped: its output would replace shown as Out/p_10x15.jpg, which is exported in the same run",
                  "",
                  "not in the batch",
                  "",
                  "",
              }));
    EXPECT_EQ(ReadFile(storage.Host("Out/p_10x15.jpg")), before);
    EXPECT_EQ(FilesIn(storage.Host("Out")),
              (std::set<std::string>{"img_1_10x15.jpg", "IMG_2_10x15.jpg", "p_10x15.jpg", "p_10x15_10x15.jpg",
                                     "img_3_A4.jpg", "img_3_10x15.jpg"}));

    // Written once more into the same folder, an existing output is no clash
    // (it is replaced, as GO! replaces it), but the same file is still one
    // file whatever its spelling, and a link to a photograph is that photograph.
    storage.Link(storage.Host("a/img_1.jpg"), "Out/img_1_A4.jpg");
    BatchWriter again(L"\\Out\\", {Item(storage, L"\\a\\IMG_2.jpg"), Item(storage, L"\\b\\img_2.jpg"),
                                   Item(storage, L"\\b\\img_1.jpg", 13), Item(storage, L"\\a\\img_1.jpg")});
    EXPECT_EQ(again.GetEntry(0).refusal, BatchRefusal::None);
    EXPECT_EQ(again.GetEntry(1).refusal, BatchRefusal::SameOutput);
    EXPECT_EQ(again.GetEntry(2).refusal, BatchRefusal::ReplacesPhotograph);
    EXPECT_EQ(again.GetEntry(2).other, 3u);

    // Its own source, and a frame off the photograph, when it comes to writing.
    AddPhoto(storage, "a/.jpg", 1000, 800, 7);
    BatchWriter own(L"\\a\\", {Item(storage, L"\\a\\.jpg"), Item(storage, L"\\a\\img_3.jpg")});
    own.GetItem(1).settings.sizeSource = CSize(1000, 800);
    own.GetItem(1).settings.rcSource = CRect(1200, 0, 2200, 671);
    EXPECT_EQ(WriteAll(own), (std::vector<std::string>{"You cannot overwrite the file, please select another folder.",
                                                       "the frame lies outside the photograph; nothing to export"}));
    EXPECT_FALSE(std::filesystem::exists(storage.Host("a/img_3_10x15.jpg")));
}

// The whole order's message: the files, each refusal naming both
// photographs' folders, and each print a lab would frown on.
TEST(WriteOrder, MessageNamesBothFoldersOfARefusedNameAndEachLowOrDamagedPrint) {
    TempStorage storage;
    AddPhoto(storage, "DCIM/img_0001.jpg", 1600, 1200, 3);
    AddPhoto(storage, "DCIM/100/img_0001.jpg", 1600, 1200, 4);
    AddPhoto(storage, "DCIM/img_0002.jpg", 1000, 800, 5);
    JpegRecipe recipe;
    recipe.width = 1600;
    recipe.height = 1200;
    const std::string whole = EncodeJpeg(recipe);
    storage.File("DCIM/img_0003.jpg", whole.substr(0, whole.size() / 2));
    storage.Folder("Out");

    PrintOrder order;
    order.Keep(L"\\DCIM\\img_0001.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    order.Keep(L"\\DCIM\\100\\img_0001.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    order.Keep(L"\\DCIM\\img_0002.jpg", Framed(13, {1000, 800}, {0, 0, 1000, 707}));
    order.Keep(L"\\DCIM\\img_0003.jpg", Framed(2, {1600, 1200}, {0, 0, 1600, 1073}));
    NullProgressSink none;
    const auto results = WriteOrder(order, L"\\Out\\", PrintFormatTable(), none);
    const std::wstring root = FromUtf8(storage.Root());
    EXPECT_EQ(OrderMessage(results, L"\\Out\\"),
              L"3 files were created in \"\\Out\\\".\n" + root + L"/DCIM/100/img_0001.jpg: skipped: " + root +
                  L"/Out/img_0001_10x15.jpg is already written for " + root + L"/DCIM/img_0001.jpg\n" + root +
                  L"/DCIM/img_0002.jpg: low resolution for A4: 86 dpi, below 150 dpi\n" + root +
                  L"/DCIM/img_0003.jpg: warning: the photograph is damaged (Premature end of JPEG file, and 1 more); its "
                  L"missing part is grey");
}
