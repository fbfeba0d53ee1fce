// trimora-cli order: an order file or a card's print marks written as the
// window writes the whole order, into a folder or onto a card for a kiosk.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TestJpeg.h"
#include "print/OrderFile.h"
#include "print/PrintOrder.h"
#include "platform/ProgressSink.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

Outcome Cli(const TempStorage& storage, const std::string& args) {
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    const int status = std::system((std::string("'") + TRIMORA_CLI + "' " + args + " >'" + out + "' 2>'" + err + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, storage.Read("stdout"), storage.Read("stderr")};
}

std::string Q(const std::string& path) { return "'" + path + "'"; }

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void Photo(const TempStorage& storage, const std::string& relative, int w, int h, int seed) {
    std::filesystem::create_directories(std::filesystem::path(storage.Host(relative)).parent_path());
    ASSERT_TRUE(WriteTestJpeg(storage.Host(relative), w, h, [seed](int x, int y) {
        return Rgb{uint8_t(x * seed), uint8_t(y + seed), uint8_t((x ^ y) + seed)};
    }));
}

// Two photographs, each with its own format, orientation, frame and curve;
// the second wanted three times.
PrintOrder TwoPhotographs(const TempStorage& storage) {
    Photo(storage, "photos/a.jpg", 1600, 1200, 3);
    Photo(storage, "photos/b.jpg", 1200, 1600, 7);
    PrintOrder order;
    PhotoSettings a;
    a.nFormat = FindPrintFormat(L"A4");
    a.sizeSource = CSize(1600, 1200);
    a.rcSource = CRect(120, 80, 1420, 1000);
    order.Keep(L"\\photos\\a.jpg", a);
    PhotoSettings b;
    b.nFormat = FindPrintFormat(L"13x18");
    b.bRotated = TRUE;
    b.bCorrectLab = FALSE;
    b.sizeSource = CSize(1200, 1600);
    b.rcSource = CRect(0, 200, 1100, 1600);
    b.nPreset = 2;
    ApplyPreset(b.curve, *FindPresetByIndex(2));
    order.Keep(L"\\photos\\b.jpg", b);
    order.SetCopies(1, 3);
    return order;
}

// What the window's Ctrl+Shift+G writes for the order, by file name.
std::vector<std::string> WindowFiles(const TempStorage& storage, const PrintOrder& order) {
    storage.Folder("window");
    NullProgressSink none;
    std::vector<std::string> names;
    for (const OrderResult& r : WriteOrder(order, L"\\window\\", PrintFormatTable(), none)) {
        EXPECT_TRUE(r.ok) << ToUtf8(r.why);
        names.push_back(devfs::ToHostPath(r.outputPath).substr(storage.Host("window/").size()));
    }
    return names;
}

TEST(CliOrder, AnOrderFileWritesTheWindowsFilesWithTheirCopies) {
    TempStorage storage;
    const PrintOrder order = TwoPhotographs(storage);
    storage.Folder("orders");
    std::wstring error;
    ASSERT_TRUE(SaveOrderFile(order, L"\\orders\\sitting.json", error)) << ToUtf8(error);
    const std::vector<std::string> window = WindowFiles(storage, order);
    ASSERT_EQ(window.size(), 2u);
    storage.Folder("out");

    Outcome run = Cli(storage, "order " + Q(storage.Host("orders/sitting.json")) + " --to " + Q(storage.Host("out")) + " --json");
    EXPECT_EQ(run.status, 0) << run.err;
    // Each photograph's warning names its own format.
    EXPECT_EQ(run.err, "trimora-cli: " + storage.Host("photos/a.jpg") + ": low resolution for A4: 111 dpi, below 150 dpi\n");
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    const int copies[] = {1, 3};
    for (size_t i = 0; i < 2; ++i) {
        const nlohmann::ordered_json json = nlohmann::ordered_json::parse(lines[i]);
        EXPECT_EQ(json["source"], storage.Host(i == 0 ? "photos/a.jpg" : "photos/b.jpg"));
        EXPECT_EQ(json["output"], storage.Host("out/" + window[i]));
        EXPECT_EQ(json.back(), copies[i]);  // the last key, after what export gives
        EXPECT_EQ(std::prev(json.end()).key(), "copies");
        EXPECT_TRUE(storage.Read("out/" + window[i]) == storage.Read("window/" + window[i])) << window[i];
    }

    // One photograph gone: named, the other still written the same.
    std::filesystem::remove(storage.Host("photos/a.jpg"));
    storage.Folder("gone");
    run = Cli(storage, "order " + Q(storage.Host("orders/sitting.json")) + " --to " + Q(storage.Host("gone")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(storage.Host("photos/a.jpg")), std::string::npos) << run.err;
    EXPECT_EQ(Names(storage.Host("gone")), std::vector<std::string>{window[1]});
    EXPECT_TRUE(storage.Read("gone/" + window[1]) == storage.Read("window/" + window[1]));
    EXPECT_EQ(run.out, storage.Host("gone/" + window[1]) + "\t1100x1523 px\t13.0x18.0 cm\t215 dpi\t3 copies\n");

    // A file cut short is refused as a whole, and nothing is written.
    const std::string text = storage.Read("orders/sitting.json");
    storage.File("orders/cut.json", text.substr(0, text.size() / 2));
    storage.Folder("cut");
    run = Cli(storage, "order " + Q(storage.Host("orders/cut.json")) + " --to " + Q(storage.Host("cut")));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cut.json"), std::string::npos) << run.err;
    EXPECT_TRUE(Names(storage.Host("cut")).empty());

    EXPECT_EQ(Cli(storage, "order " + Q(storage.Host("orders/sitting.json"))).status, 2);
    EXPECT_EQ(Cli(storage, "order x.json --to a --card b").status, 2);
    EXPECT_EQ(Cli(storage, "order x.json --to a --replace-marks").status, 2);
}

// The marks as a kiosk reads them: the header, CRLF lines, one standard
// job per photograph with its copies, naming the DCF file.
void ExpectMarks(const std::string& marks, const std::vector<std::string>& files, const std::vector<int>& copies) {
    EXPECT_EQ(marks.rfind("[HDR]\r\nGEN REV = 01.10\r\nGEN CRT = \"Trimora\"", 0), 0u) << marks;
    EXPECT_EQ(std::count(marks.begin(), marks.end(), '\n'), std::count(marks.begin(), marks.end(), '\r'));
    EXPECT_NE(marks.find("\r\nGEN DTM = "), std::string::npos);
    const std::regex job(
        "\\[JOB\\]\r\nPRT PID = (\\d{3})\r\nPRT TYP = STD\r\nPRT QTY = (\\d{3})\r\nIMG FMT = EXIF2 -J\r\n"
        "<IMG SRC = \"\\.\\./DCIM/(\\d{3}TRIMO/TRIM\\d{4}\\.JPG)\">\r\n");
    std::vector<std::string> named;
    std::vector<int> quantities;
    for (std::sregex_iterator it(marks.begin(), marks.end(), job), end; it != end; ++it) {
        named.push_back((*it)[3]);
        quantities.push_back(std::stoi((*it)[2]));
    }
    EXPECT_EQ(named, files);
    EXPECT_EQ(quantities, copies);
}

TEST(CliOrder, OntoACardWithItsMarksKeptUnlessReplaced) {
    TempStorage storage;
    const PrintOrder order = TwoPhotographs(storage);
    std::wstring error;
    ASSERT_TRUE(SaveOrderFile(order, L"\\sitting.json", error)) << ToUtf8(error);
    const std::vector<std::string> window = WindowFiles(storage, order);
    Photo(storage, "card/DCIM/100CANON/IMG_0007.JPG", 800, 600, 1);
    const std::string card = storage.Host("card");

    Outcome run = Cli(storage, "order " + Q(storage.Host("sitting.json")) + " --card " + Q(card));
    EXPECT_EQ(run.status, 0) << run.err;
    // A kiosk prints one size per order: A4 and 13x18 are two.
    EXPECT_NE(run.err.find("kiosk"), std::string::npos) << run.err;
    EXPECT_EQ(Names(card + "/DCIM"), (std::vector<std::string>{"100CANON", "101TRIMO"}));
    EXPECT_EQ(Names(card + "/DCIM/101TRIMO"), (std::vector<std::string>{"TRIM0008.JPG", "TRIM0009.JPG"}));
    EXPECT_TRUE(storage.Read("card/DCIM/101TRIMO/TRIM0008.JPG") == storage.Read("window/" + window[0]));
    EXPECT_TRUE(storage.Read("card/DCIM/101TRIMO/TRIM0009.JPG") == storage.Read("window/" + window[1]));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind(card + "/DCIM/101TRIMO/TRIM0008.JPG\t", 0), 0u);
    EXPECT_EQ(lines[0].substr(lines[0].size() - 7), "\t1 copy");
    const std::string marks = storage.Read("card/MISC/AUTPRINT.MRK");
    ExpectMarks(marks, {"101TRIMO/TRIM0008.JPG", "101TRIMO/TRIM0009.JPG"}, {1, 3});

    // Marks already there: refused, nothing changed.
    run = Cli(storage, "order " + Q(storage.Host("sitting.json")) + " --card " + Q(card));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("print marks"), std::string::npos) << run.err;
    EXPECT_EQ(storage.Read("card/MISC/AUTPRINT.MRK"), marks);
    EXPECT_EQ(Names(card + "/DCIM"), (std::vector<std::string>{"100CANON", "101TRIMO"}));

    run = Cli(storage, "order " + Q(storage.Host("sitting.json")) + " --card " + Q(card) + " --replace-marks");
    EXPECT_EQ(run.status, 0) << run.err;
    ExpectMarks(storage.Read("card/MISC/AUTPRINT.MRK"), {"102TRIMO/TRIM0010.JPG", "102TRIMO/TRIM0011.JPG"}, {1, 3});
}

// A camera's marks (upper-case names for files stored in lower case, an
// index print, a photograph deleted since) are an order: each photograph
// framed as export frames it.
TEST(CliOrder, ACamerasMarksAreWrittenAsExportWritesThePhotographs) {
    TempStorage storage;
    Photo(storage, "card/DCIM/100CAMER/img_0001.jpg", 1600, 1200, 5);
    Photo(storage, "card/DCIM/100CAMER/img_0002.jpg", 1200, 1600, 9);
    auto job = [](int n, const char* type, int quantity, const char* file) {
        return "\r\n[JOB]\r\nPRT PID = 00" + std::to_string(n) + "\r\nPRT TYP = " + type + "\r\nPRT QTY = 00" +
               std::to_string(quantity) + "\r\nIMG FMT = EXIF2 -J\r\n<IMG SRC = \"../DCIM/100CAMER/" + file + "\">\r\n";
    };
    storage.File("card/MISC/AUTPRINT.MRK", "[HDR]\r\nGEN REV = 01.00\r\nGEN CRT = \"CAMERA\" -1.0\r\n" +
                                              job(1, "STD", 2, "IMG_0001.JPG") + job(2, "IDX", 1, "IMG_0001.JPG") +
                                              job(3, "STD", 1, "IMG_0002.JPG") + job(4, "STD", 1, "IMG_0003.JPG"));
    storage.Folder("order");
    storage.Folder("export");

    Outcome run = Cli(storage, "order " + Q(storage.Host("card/MISC/AUTPRINT.MRK")) + " --to " + Q(storage.Host("order")) +
                               " --format 13x18 --json");
    // The index print is skipped as asked; the photograph gone is a failure.
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("Job 2 (line 12): an index print, skipped"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("IMG_0003.JPG\" is missing, skipped"), std::string::npos) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(nlohmann::json::parse(lines[0])["copies"], 2);
    EXPECT_EQ(nlohmann::json::parse(lines[1])["copies"], 1);

    const std::string photos = storage.Host("card/DCIM/100CAMER/");
    run = Cli(storage, "export " + Q(photos + "img_0001.jpg") + " " + Q(photos + "img_0002.jpg") + " --to " +
                           Q(storage.Host("export")) + " --format 13x18");
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> names{"img_0001_13x18.jpg", "img_0002_13x18.jpg"};
    EXPECT_EQ(Names(storage.Host("order")), names);
    for (const std::string& name : names)
        EXPECT_TRUE(storage.Read("order/" + name) == storage.Read("export/" + name)) << name;
}

}  // namespace
