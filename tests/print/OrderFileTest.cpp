// Order files: what a sitting keeps comes back whole, and damaged files are
// refused with a message that says what is wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "print/OrderFile.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"
#include "tone/Presets.h"

namespace {

PhotoSettings Settings(int format, BOOL rotated, BOOL lab, CSize size, CRect frame) {
    PhotoSettings s;
    s.nFormat = format;
    s.bRotated = rotated;
    s.bCorrectLab = lab;
    s.sizeSource = size, s.rcSource = frame;
    return s;
}

// An order file of one photograph whose entry is entry (JSON members).
std::string OneEntry(const std::string& entry, const std::string& version = "1") {
    return "{\"version\": " + version + ", \"photographs\": [{" + entry + "}]}";
}

const std::string kGood =
    "\"path\": \"a.jpg\", \"format\": \"10x15\", \"orientation\": \"landscape\", \"labCorrection\": true, "
    "\"size\": {\"width\": 1600, \"height\": 1200}, \"frame\": {\"left\": 0, \"top\": 0, \"right\": 1600, "
    "\"bottom\": 1067}, \"curve\": {\"preset\": \"None\"}, \"copies\": 1";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

}  // namespace

// Every field of every photograph, paths relative to the file (upwards too),
// UTF-8 names, custom and preset curves, copies and the last destination.
TEST(OrderFile, SavedOrderComesBackWithEveryField) {
    TempStorage storage;
    storage.Folder("Orders");
    PrintOrder order;
    PhotoSettings first = Settings(13, TRUE, FALSE, CSize(4000, 3000), CRect(10, 20, 2110, 2990));
    first.curve.m_nPoints = 3;
    first.curve.m_x[1] = 37.25;
    first.curve.m_y[1] = 80.125;
    first.curve.m_x[2] = 255;
    first.curve.m_y[2] = 240;
    order.Keep(L"\\Orders\\Sommer\\Ölberg ✓.jpg", first);
    PhotoSettings second = Settings(3, FALSE, TRUE, CSize(1600, 1200), CRect(0, 0, 1600, 1200));
    ApplyPreset(second.curve, 2);
    second.nPreset = PresetListIndex(FindPresetByItemData(2));
    order.Keep(L"\\DCIM\\100CANON\\img_0001.jpg", second);
    order.SetCopies(1, 3);
    order.m_strLastFolder = L"\\Prints\\";

    std::wstring error;
    ASSERT_TRUE(SaveOrderFile(order, L"\\Orders\\sitting.json", error)) << ToUtf8(error);
    const std::string text = storage.Read("Orders/sitting.json");
    EXPECT_NE(text.find("\"path\": \"Sommer/Ölberg ✓.jpg\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"path\": \"../DCIM/100CANON/img_0001.jpg\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"format\": \"13x18\""), std::string::npos) << text;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.Host("Orders")), {}), 1);

    PrintOrder loaded;
    ASSERT_TRUE(LoadOrderFile(L"\\Orders\\sitting.json", loaded, error)) << ToUtf8(error);
    ASSERT_EQ(loaded.GetCount(), 2u);
    EXPECT_EQ(loaded.m_strLastFolder, L"\\Prints\\");
    for (size_t i = 0; i < 2; ++i) {
        const PhotoSettings& was = order.GetSettings(i);
        const PhotoSettings& now = loaded.GetSettings(i);
        EXPECT_EQ(loaded.GetPath(i), order.GetPath(i));
        EXPECT_EQ(loaded.GetCopies(i), order.GetCopies(i));
        EXPECT_EQ(now.nFormat, was.nFormat);
        EXPECT_EQ(now.bRotated, was.bRotated);
        EXPECT_EQ(now.bCorrectLab, was.bCorrectLab);
        EXPECT_EQ(now.sizeSource, was.sizeSource);
        EXPECT_EQ(now.rcSource, was.rcSource);
        EXPECT_EQ(now.nPreset, was.nPreset);
        ASSERT_EQ(now.curve.m_nPoints, was.curve.m_nPoints);
        for (int k = 0; k < was.curve.m_nPoints; ++k) {
            EXPECT_EQ(now.curve.m_x[k], was.curve.m_x[k]);
            EXPECT_EQ(now.curve.m_y[k], was.curve.m_y[k]);
        }
        ToneCurve expected;
        expected.Assign(was.curve);
        EXPECT_EQ(0, std::memcmp(now.curve.m_lut, expected.m_lut, sizeof expected.m_lut)) << i;
    }
}

// Files written by hand or by a later version: formats by name or suffix in
// any case, a preset without points, fields this version does not know.
TEST(OrderFile, ReadsWhatLaterVersionsAndPeopleWrite) {
    std::string text = OneEntry(Replace(Replace(kGood, "\"10x15\"", "\"13X18 cm\""), "\"None\"", "\"dark\"") +
                                ", \"note\": \"for Grandma\", \"whole\": {\"white\": true}");
    text = Replace(text, "{\"version\": 1,", "{\"version\": 1, \"savedBy\": [\"Trimora\", 9],");
    PrintOrder order;
    std::wstring error;
    ASSERT_TRUE(ParseOrderFile(text, L"\\DCIM\\o.json", order, error)) << ToUtf8(error);
    ASSERT_EQ(order.GetCount(), 1u);
    EXPECT_EQ(order.GetPath(0), L"\\DCIM\\a.jpg");
    EXPECT_EQ(order.GetSettings(0).nFormat, 3);
    EXPECT_EQ(order.GetSettings(0).nPreset, PresetListIndex(FindPresetByName(std::string_view("Dark"))));
    ToneCurve dark;
    ApplyPreset(dark, 2);
    dark.UpdateLut();
    EXPECT_EQ(0, std::memcmp(order.GetSettings(0).curve.m_lut, dark.m_lut, sizeof dark.m_lut));

    // The storage's root as the last destination, beside an order there.
    order.m_strLastFolder = L"\\";
    PrintOrder again;
    ASSERT_TRUE(ParseOrderFile(OrderFileText(order, L"\\o.json"), L"\\o.json", again, error)) << ToUtf8(error);
    EXPECT_EQ(again.m_strLastFolder, L"\\");
    EXPECT_EQ(again.GetPath(0), L"\\DCIM\\a.jpg");
}

TEST(OrderFile, DamagedFilesAreRefusedWithWhatIsWrong) {
    PrintOrder good;
    good.Keep(L"\\DCIM\\a.jpg", Settings(2, FALSE, TRUE, CSize(1600, 1200), CRect(0, 0, 1600, 1067)));
    const std::string saved = OrderFileText(good, L"\\DCIM\\o.json");
    const struct {
        std::string text;
        const char* says;
    } cases[] = {
        {"", "empty"},
        {saved.substr(0, saved.size() / 2), "cut short"},
        {"{\"version\": 1, \"photographs\": [} ", "not valid JSON"},
        {"[1, 2]", "no \"version\""},
        {"{\"version\": 1e999}", "not valid JSON"},
        {OneEntry(kGood, "2"), "newer Trimora"},
        {OneEntry(kGood, "\"1\""), "\"version\""},
        {"{\"version\": 1}", "\"photographs\""},
        {OneEntry(Replace(kGood, ", \"copies\": 1", "")), "photograph 1 (a.jpg): \"copies\" is missing"},
        {OneEntry(Replace(kGood, "\"copies\": 1", "\"copies\": -2")), "\"copies\" must be"},
        {OneEntry(Replace(kGood, "\"copies\": 1", "\"copies\": 1.5")), "\"copies\" must be"},
        {OneEntry(Replace(kGood, "\"copies\": 1", "\"copies\": 18446744073709551615")), "\"copies\" must be"},
        {OneEntry(Replace(kGood, "\"bottom\": 1067", "\"bottom\": 1201")), "not inside the photograph's 1600x1200"},
        {OneEntry(Replace(kGood, "\"left\": 0", "\"left\": -1")), "\"frame\" must hold"},
        {OneEntry(Replace(kGood, "\"width\": 1600", "\"width\": 0")), "\"size\""},
        {OneEntry(Replace(kGood, "\"10x15\"", "\"10x16\"")), "unknown print format \"10x16\""},
        {OneEntry(Replace(kGood, "\"landscape\"", "\"sideways\"")), "\"orientation\""},
        {OneEntry(Replace(kGood, "true", "1")), "\"labCorrection\""},
        {OneEntry(Replace(kGood, "\"a.jpg\"", "\"../../etc/passwd\"")), "names no file inside the storage"},
        {OneEntry(Replace(kGood, "\"a.jpg\"", "\"/etc/passwd\"")), "names no file inside the storage"},
        {OneEntry(Replace(kGood, "\"a.jpg\"", "\"a\\u0000.jpg\"")), "names no file inside the storage"},
        {OneEntry(Replace(kGood, "{\"preset\": \"None\"}", "{\"preset\": \"Sepia\"}")), "\"curve\""},
        {OneEntry(Replace(kGood, "{\"preset\": \"None\"}", "{\"points\": [[0, 0], [0, 9], [255, 255]]}")),
         "x rising"},
        {"{\"version\": 1, \"photographs\": [{" + kGood + "}, {" + Replace(kGood, "a.jpg", "A.JPG") + "}]}",
         "photograph 2 (A.JPG): named twice"},
        {std::string(200, '[') + std::string(200, ']'), "nests too deep"},
    };
    for (const auto& c : cases) {
        PrintOrder order;
        std::wstring error;
        EXPECT_FALSE(ParseOrderFile(c.text, L"\\DCIM\\o.json", order, error)) << c.text;
        EXPECT_NE(ToUtf8(error).find(c.says), std::string::npos) << ToUtf8(error) << "\n" << c.text;
        EXPECT_EQ(order.GetCount(), 0u) << c.text;
    }
}

// The photographs gone or changed are named and taken out; the others keep
// everything, copies included.
TEST(OrderFile, GoneAndChangedPhotographsAreNamedAndLeftOut) {
    PrintOrder order;
    order.Keep(L"\\DCIM\\gone.jpg", Settings(2, FALSE, TRUE, CSize(1600, 1200), CRect(0, 0, 10, 10)));
    order.Keep(L"\\DCIM\\kept.jpg", Settings(5, TRUE, TRUE, CSize(1600, 1200), CRect(1, 2, 30, 40)));
    order.Keep(L"\\DCIM\\turned.jpg", Settings(2, FALSE, TRUE, CSize(1600, 1200), CRect(0, 0, 10, 10)));
    order.SetCopies(1, 4);
    const std::wstring message = LeaveOutChangedPhotographs(order, [](const std::wstring& path, CSize& size) {
        if (path == L"\\DCIM\\gone.jpg") return false;
        size = path == L"\\DCIM\\turned.jpg" ? CSize(1200, 1600) : CSize(1600, 1200);
        return true;
    });
    ASSERT_EQ(order.GetCount(), 1u);
    EXPECT_EQ(order.GetPath(0), L"\\DCIM\\kept.jpg");
    EXPECT_EQ(order.GetCopies(0), 4);
    EXPECT_EQ(order.GetSettings(0).rcSource, CRect(1, 2, 30, 40));
    EXPECT_NE(message.find(L"\\DCIM\\gone.jpg: missing"), std::wstring::npos) << ToUtf8(message);
    EXPECT_NE(message.find(L"\\DCIM\\turned.jpg: now 1200x1600 pixels, framed at 1600x1200"), std::wstring::npos);
    EXPECT_EQ(message.find(L"kept.jpg"), std::wstring::npos);
}
