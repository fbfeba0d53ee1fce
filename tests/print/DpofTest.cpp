// A card's print marks: written exactly, read back, read as cameras write
// them, and the card's next DCF folder and file numbers.
#include <gtest/gtest.h>

#include <filesystem>

#include "print/CardOrder.h"
#include "print/Dpof.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"

namespace {

size_t Entries(const std::string& folder) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

}  // namespace

TEST(Dpof, WrittenTextIsExactAndReadsBack) {
    std::tm when{};
    when.tm_year = 2026 - 1900;
    when.tm_mon = 11;
    when.tm_mday = 8;
    when.tm_hour = 4;
    when.tm_min = 30;
    when.tm_sec = 5;
    const std::vector<DpofPrint> prints = {{L"\\Card\\DCIM\\100TRIMO\\TRIM0001.JPG", 1},
                                           {L"\\Card\\DCIM\\100TRIMO\\TRIM0002.JPG", 3}};
    const std::string text = DpofText(prints, L"\\Card\\", when);
    EXPECT_EQ(text,
              "[HDR]\r\n"
              "GEN REV = 01.10\r\n"
              "GEN CRT = \"Trimora\" -" TRIMORA_VERSION "\r\n"
              "GEN DTM = 2026:12:08:04:30:05\r\n"
              "\r\n"
              "[JOB]\r\n"
              "PRT PID = 001\r\n"
              "PRT TYP = STD\r\n"
              "PRT QTY = 001\r\n"
              "IMG FMT = EXIF2 -J\r\n"
              "<IMG SRC = \"../DCIM/100TRIMO/TRIM0001.JPG\">\r\n"
              "\r\n"
              "[JOB]\r\n"
              "PRT PID = 002\r\n"
              "PRT TYP = STD\r\n"
              "PRT QTY = 003\r\n"
              "IMG FMT = EXIF2 -J\r\n"
              "<IMG SRC = \"../DCIM/100TRIMO/TRIM0002.JPG\">\r\n");

    std::vector<DpofJob> jobs;
    std::wstring error;
    ASSERT_TRUE(ParseDpof(text, jobs, error)) << ToUtf8(error);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].type, "STD");
    EXPECT_EQ(jobs[1].quantity, 3);
    EXPECT_EQ(jobs[1].line, 13);
    EXPECT_EQ(jobs[1].sources, std::vector<std::string>{"../DCIM/100TRIMO/TRIM0002.JPG"});
}

// Marks written onto a card read back; nothing that is not a DCF path on the
// card goes into them.
TEST(Dpof, MarksWrittenOntoACardReadBack) {
    TempStorage storage;
    storage.File("card/DCIM/100TRIMO/TRIM0001.JPG", "jpeg");
    storage.File("card/DCIM/100TRIMO/TRIM0002.JPG", "jpeg");
    const std::vector<DpofPrint> prints = {{L"\\card\\DCIM\\100TRIMO\\TRIM0001.JPG", 2},
                                           {L"\\card\\DCIM\\100TRIMO\\TRIM0002.JPG", 1}};
    std::wstring error;
    ASSERT_TRUE(WriteDpofMarks(L"\\card\\", prints, false, error)) << ToUtf8(error);
    DpofMarks marks;
    ASSERT_TRUE(ReadDpofMarks(L"\\card\\MISC\\AUTPRINT.MRK", marks, error)) << ToUtf8(error);
    ASSERT_EQ(marks.prints.size(), 2u);
    EXPECT_EQ(marks.prints[0].copies, 2);
    EXPECT_EQ(devfs::LowerName(marks.prints[1].path), L"\\card\\dcim\\100trimo\\trim0002.jpg");
    EXPECT_TRUE(marks.notes.empty()) << ToUtf8(marks.notes);

    const std::string first = storage.Read("card/MISC/AUTPRINT.MRK");
    EXPECT_FALSE(WriteDpofMarks(L"\\card\\", {{L"\\other\\DCIM\\100TRIMO\\TRIM0001.JPG", 1}}, true, error));
    EXPECT_FALSE(WriteDpofMarks(L"\\card\\", {{L"\\card\\DCIM\\Ölberg.JPG", 1}}, true, error));
    EXPECT_EQ(storage.Read("card/MISC/AUTPRINT.MRK"), first);
}

// As a camera writes them: revision 1.00, LF or CRLF, upper-case 8.3 names
// on a card whose files the host lists in lower case, an index print, a
// missing photograph and a path that leaves the card.
TEST(Dpof, CameraMarksBecomePrintsAndTheRestIsNamed) {
    TempStorage storage;
    storage.File("card/dcim/100canon/img_0001.jpg", "jpeg");
    storage.File("card/dcim/100canon/img_0002.jpg", "jpeg");
    storage.File("outside.jpg", "jpeg");
    storage.File("card/misc/autprint.mrk",
                 "[HDR]\r\nGEN REV = 01.00\r\nGEN CRT = \"Canon PowerShot A70\" -01.00\r\n"
                 "GEN DTM = 2005:06:01:10:00:00\r\n\r\n"
                 "[JOB]\r\nPRT PID = 001\r\nPRT TYP = STD\r\nPRT QTY = 002\r\nIMG FMT = EXIF2 -J\r\n"
                 "<IMG SRC = \"../DCIM/100CANON/IMG_0001.JPG\">\r\n\r\n"
                 "[JOB]\r\nPRT PID = 002\r\nPRT TYP = IDX\r\nIMG FMT = EXIF2 -J\r\n"
                 "<IMG SRC = \"../DCIM/100CANON/IMG_0001.JPG\">\r\n<IMG SRC = \"../DCIM/100CANON/IMG_0002.JPG\">\r\n"
                 "\n[JOB]\nPRT PID = 003\nPRT TYP = STD\nPRT QTY = 001\n<IMG SRC = \"../DCIM/100CANON/IMG_0002.JPG\">\n"
                 "[JOB]\nPRT TYP = STD\nPRT QTY = 001\n<IMG SRC = \"../DCIM/100CANON/IMG_0009.JPG\">\n"
                 "[JOB]\nPRT TYP = STD\nPRT QTY = 001\n<IMG SRC = \"../../outside.jpg\">\n"
                 "[JOB]\nPRT TYP = SIZ\nPRT QTY = 001\n<IMG SRC = \"../DCIM/100CANON/IMG_0002.JPG\">\n"
                 "[JOB]\nPRT TYP = STD\nPRT QTY = 0\n<IMG SRC = \"../DCIM/100CANON/IMG_0002.JPG\">\n");
    DpofMarks marks;
    std::wstring error;
    ASSERT_TRUE(ReadDpofMarks(L"\\card\\MISC\\AUTPRINT.MRK", marks, error)) << ToUtf8(error);
    ASSERT_EQ(marks.prints.size(), 2u);
    EXPECT_EQ(marks.prints[0].path, L"\\card\\dcim\\100canon\\img_0001.jpg");
    EXPECT_EQ(marks.prints[0].copies, 2);
    EXPECT_EQ(marks.prints[1].path, L"\\card\\dcim\\100canon\\img_0002.jpg");
    EXPECT_EQ(marks.prints[1].copies, 1);
    const std::string notes = ToUtf8(marks.notes);
    EXPECT_NE(notes.find("Job 2 (line 13): an index print, skipped"), std::string::npos) << notes;
    EXPECT_NE(notes.find("Job 4 (line 25): \"../DCIM/100CANON/IMG_0009.JPG\" is missing"), std::string::npos)
        << notes;
    EXPECT_NE(notes.find("Job 5 (line 29): \"../../outside.jpg\" is not a path on the card"), std::string::npos)
        << notes;
    EXPECT_NE(notes.find("Job 6 (line 33): a print of type \"SIZ\", skipped"), std::string::npos) << notes;
    EXPECT_NE(notes.find("Job 7 (line 37): its quantity is not a number"), std::string::npos) << notes;

    // Opened as an order: each with its copies and the caller's frame; one
    // that cannot be read is named.
    EXPECT_TRUE(IsPrintMarksPath(L"\\card\\misc\\autprint.mrk"));
    PrintOrder order;
    const std::wstring unread = OrderFromMarks(
        marks,
        [](const std::wstring& path, PhotoSettings& s) {
            s.rcSource = CRect(0, 0, 5, 5);
            return path.find(L"0001") == std::wstring::npos;
        },
        order);
    ASSERT_EQ(order.GetCount(), 1u);
    EXPECT_EQ(order.GetCopies(0), 1);
    EXPECT_EQ(order.GetSettings(0).rcSource, CRect(0, 0, 5, 5));
    EXPECT_NE(unread.find(L"\n\\card\\dcim\\100canon\\img_0001.jpg"), std::wstring::npos);
}

TEST(Dpof, MarksThatAreNotACamerasAreRefused) {
    TempStorage storage;
    storage.File("MISC/AUTPRINT.MRK", "[HDR]\r\nGEN REV = 01.10\r\n" + std::string(10 << 20, ' '));
    storage.File("MISC/OTHER.MRK", "[JOB]\r\nPRT TYP = STD\r\n");
    storage.File("MISC/NEWER.MRK", "[HDR]\r\nGEN REV = 02.00\r\n");
    const struct {
        const wchar_t* path;
        const char* says;
    } cases[] = {
        {L"\\MISC\\AUTPRINT.MRK", "too large"},
        {L"\\MISC\\OTHER.MRK", "no [HDR] section"},
        {L"\\MISC\\NEWER.MRK", "revision \"02.00\""},
        {L"\\MISC\\NONE.MRK", "No such file"},
        {L"\\MISC", "not a file"},
    };
    for (const auto& c : cases) {
        DpofMarks marks;
        std::wstring error;
        EXPECT_FALSE(ReadDpofMarks(c.path, marks, error)) << c.says;
        EXPECT_NE(ToUtf8(error).find(c.says), std::string::npos) << ToUtf8(error);
        EXPECT_TRUE(marks.prints.empty());
    }
}

// The new folder comes after the card's highest DCF folder, its names after
// the highest file number; names that are not DCF's do not count.
TEST(Dpof, CardPlanNumbersAfterWhatIsThere) {
    TempStorage storage;
    CardPlan plan;
    std::wstring error;
    ASSERT_TRUE(PlanCard(L"\\", 2, plan, error));
    EXPECT_EQ(plan.folder, L"\\DCIM\\100TRIMO\\");
    EXPECT_EQ(plan.names, (std::vector<std::wstring>{L"TRIM0001.JPG", L"TRIM0002.JPG"}));
    EXPECT_FALSE(plan.hasMarks);

    storage.File("dcim/100canon/img_0041.jpg");
    storage.File("dcim/100canon/img_0042.thm");
    storage.File("dcim/101_pana/P1010007.JPG");
    storage.File("dcim/10ABCDEF/IMG_9000.JPG");  // not a DCF folder
    storage.File("dcim/099ABCDE/IMG_9001.JPG");  // nor this
    storage.File("dcim/100canon/IMG_90000.JPG");  // not a DCF name
    storage.Folder("dcim/102ABC.E");
    storage.File("misc/autprint.mrk");
    ASSERT_TRUE(PlanCard(L"\\", 2, plan, error));
    EXPECT_EQ(plan.folder, L"\\DCIM\\102TRIMO\\");
    EXPECT_EQ(plan.names, (std::vector<std::wstring>{L"TRIM0043.JPG", L"TRIM0044.JPG"}));
    EXPECT_TRUE(plan.hasMarks);

    storage.File("dcim/101_pana/P1019998.JPG");
    ASSERT_TRUE(PlanCard(L"\\", 3, plan, error));
    EXPECT_EQ(plan.names.front(), L"TRIM0001.JPG");

    storage.Folder("dcim/999LAST_");
    EXPECT_FALSE(PlanCard(L"\\", 1, plan, error));
    EXPECT_NE(error.find(L"999"), std::wstring::npos);
    EXPECT_FALSE(PlanCard(L"\\", 1000, plan, error));
}

TEST(Dpof, SeveralFormatsAreWarnedAbout) {
    PrintOrder order;
    PhotoSettings s;
    order.Keep(L"\\a.jpg", s);
    order.Keep(L"\\b.jpg", s);
    EXPECT_EQ(MixedFormatsWarning(order), L"");
    s.nFormat = 3;
    order.Keep(L"\\c.jpg", s);
    const std::wstring warning = MixedFormatsWarning(order);
    EXPECT_NE(warning.find(L"2 print formats (10x15 cm, 13x18 cm)"), std::wstring::npos) << ToUtf8(warning);
    EXPECT_NE(warning.find(L"one size"), std::wstring::npos);
}

// The whole card: the photographs under their DCF names, the marks for those
// written with their copies; marks already there stop a second order before
// anything is written, unless replacing them was agreed.
TEST(Dpof, OrderOntoACardWritesFilesThenMarks) {
    TempStorage storage;
    storage.File("card/DCIM/100CANON/IMG_0007.JPG");
    PrintOrder order;
    for (const wchar_t* name : {L"\\p\\a.jpg", L"\\p\\b.jpg", L"\\p\\c.jpg"}) order.Keep(name, PhotoSettings());
    order.SetCopies(2, 3);
    std::vector<std::wstring> asked;
    auto writer = [&](size_t i, const std::wstring& output) {
        asked.push_back(output);
        if (i == 1) return false;
        std::FILE* f = devfs::OpenFile(output, "wb");
        std::fputs("jpeg", f);
        std::fclose(f);
        return true;
    };
    CardPlan plan;
    std::vector<bool> written;
    std::wstring error;
    ASSERT_TRUE(WriteOrderToCard(order, L"\\card\\", false, writer, plan, written, error)) << ToUtf8(error);
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"\\card\\DCIM\\101TRIMO\\TRIM0008.JPG",
                                                L"\\card\\DCIM\\101TRIMO\\TRIM0009.JPG",
                                                L"\\card\\DCIM\\101TRIMO\\TRIM0010.JPG"}));
    EXPECT_EQ(written, (std::vector<bool>{true, false, true}));
    const std::string marks = storage.Read("card/MISC/AUTPRINT.MRK");
    EXPECT_NE(marks.find("PRT QTY = 001\r\nIMG FMT = EXIF2 -J\r\n<IMG SRC = \"../DCIM/101TRIMO/TRIM0008.JPG\">"),
              std::string::npos);
    EXPECT_NE(marks.find("PRT PID = 002\r\nPRT TYP = STD\r\nPRT QTY = 003\r\nIMG FMT = EXIF2 -J\r\n"
                         "<IMG SRC = \"../DCIM/101TRIMO/TRIM0010.JPG\">"),
              std::string::npos);
    EXPECT_EQ(marks.find("TRIM0009"), std::string::npos);

    asked.clear();
    EXPECT_FALSE(WriteOrderToCard(order, L"\\card\\", false, writer, plan, written, error));
    EXPECT_NE(error.find(L"already has print marks"), std::wstring::npos);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(Entries(storage.Host("card/DCIM")), 2u);
    EXPECT_EQ(storage.Read("card/MISC/AUTPRINT.MRK"), marks);

    // Nothing written: no empty folder, the marks as they were.
    EXPECT_FALSE(WriteOrderToCard(order, L"\\card\\", true, [](size_t, const std::wstring&) { return false; }, plan,
                                  written, error));
    EXPECT_EQ(Entries(storage.Host("card/DCIM")), 2u);
    EXPECT_EQ(storage.Read("card/MISC/AUTPRINT.MRK"), marks);

    ASSERT_TRUE(WriteOrderToCard(order, L"\\card\\", true, writer, plan, written, error)) << ToUtf8(error);
    EXPECT_EQ(plan.folder, L"\\card\\DCIM\\102TRIMO\\");
    EXPECT_NE(storage.Read("card/MISC/AUTPRINT.MRK").find("102TRIMO/TRIM0011.JPG"), std::string::npos);
}

