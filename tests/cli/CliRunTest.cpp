// trimora-cli's commands run in-process on photographs made for the test.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <jpeglib.h>

#include "TestJpeg.h"
#include "cli/Commands.h"
#include "cli/Result.h"
#include "imaging/TestJpeg.h"
#include "app/PipelineWrappers.h"
#include "imaging/Pipeline.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"

namespace {

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(FILE* f) {
    std::string text;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text;
}

CliResult Cli(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    CliStreams s;
    s.out = std::tmpfile();
    s.err = std::tmpfile();
    CliResult r;
    r.status = RunCli(static_cast<int>(argv.size()), argv.data(), s);
    r.out = ReadAll(s.out);
    r.err = ReadAll(s.err);
    return r;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool Near(Rgb p, int r, int g, int b, int tolerance = 3) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance && std::abs(p.b - b) <= tolerance;
}

Rgb Grey(int x, int y) {
    (void)x, (void)y;
    return {128, 128, 128};
}

class CliRun : public ::testing::Test {
protected:
    void SetUp() override {
        storage.Folder("in");
        storage.Folder("out");
    }
    std::string In(const std::string& name) const { return storage.Host("in/" + name); }
    std::string Out(const std::string& name) const { return storage.Host("out/" + name); }
    std::string Photo(const std::string& name, int w = 1600, int h = 1200, const PixelFn& pixel = Grey) {
        const std::string path = In(name);
        EXPECT_TRUE(WriteTestJpeg(path, w, h, pixel));
        return path;
    }
    TempStorage storage;
};

TEST(CliCommands, FormatsListsEveryFormatWithBothSizesAndItsSuffix) {
    const CliResult r = Cli({"formats"});
    ASSERT_EQ(r.status, 0);
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 34u);
    EXPECT_EQ(lines[0], "0\t9x13 cm\t12.7x8.9 cm\t13x9 cm\t_9x13");
    EXPECT_EQ(lines[2], "2\t10x15 cm\t15.2x10.2 cm\t15x10 cm\t_10x15");
    EXPECT_EQ(lines[18], "18\tEnvelope #10\t24.13x10.4775 cm\t24.13x10.4775 cm\t_Envelope10");
    EXPECT_EQ(lines[33], "33\tUS C 17x22 in\t55.88x43.18 cm\t55.88x43.18 cm\t_US_C");
}

TEST(CliCommands, CurvePrintsThePresetsTable) {
    CliResult r = Cli({"curve", "--preset", "Bright"});
    ASSERT_EQ(r.status, 0);
    auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[0], "0");
    EXPECT_EQ(lines[122], "162");
    EXPECT_EQ(lines[224], "238");
    EXPECT_EQ(lines[255], "255");

    lines = Lines(Cli({"curve", "--preset", "12"}).out);
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[0], "255");
    EXPECT_EQ(lines[128], "115");

    // The list's prompt and "None" leave the identity.
    for (const char* preset : {"0", "none"}) {
        lines = Lines(Cli({"curve", "--preset", preset}).out);
        ASSERT_EQ(lines.size(), 256u);
        EXPECT_EQ(lines[77], "77");
    }
}

TEST(CliCommands, UsageErrorsExitWithTwo) {
    EXPECT_EQ(Cli({}).status, 2);
    EXPECT_EQ(Cli({"export", "x.jpg"}).status, 2);
    const CliResult r = Cli({"curve", "--preset", "Sepia"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Sepia"), std::string::npos);
    EXPECT_EQ(Cli({"export", "--help"}).status, 0);
}

TEST_F(CliRun, ExportWritesTheCentredFrameAndSaysWhatItWrote) {
    // Dark above row 63, light below: tells a frame at the top from a centred one.
    const PixelFn bands = [](int, int y) { return y < 63 ? Rgb{20, 20, 20} : Rgb{230, 230, 230}; };
    const std::string photo = Photo("p.jpg", 1600, 1200, bands);

    // Centred by default: the frame starts at row (1200 - 1073) / 2 = 63.
    CliResult r = Cli({"export", photo, "--to", storage.Host("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Out("p_10x15.jpg") + "\t1600x1074 px\t15.2x10.2 cm\t267 dpi\n");
    DecodedJpeg out;
    ASSERT_TRUE(DecodeTestJpeg(Out("p_10x15.jpg"), out));
    EXPECT_EQ(out.width, 1600);
    EXPECT_EQ(out.height, 1074);
    EXPECT_TRUE(Near(out.At(800, 2), 230, 230, 230));
    EXPECT_TRUE(r.err.empty()) << r.err;

    // The program's fit at the top-left corner.
    r = Cli({"export", photo, "--to", storage.Host("out"), "--frame", "fit"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(DecodeTestJpeg(Out("p_10x15.jpg"), out));
    EXPECT_EQ(out.height, 1074);
    EXPECT_TRUE(Near(out.At(800, 10), 20, 20, 20));
}

TEST_F(CliRun, ResolutionBelowTheLabsLimitIsWarnedOfNamingPhotographFormatAndDpi) {
    const std::string photo = Photo("p.jpg");
    // A4 from 1600 pixels: 1600 x 2.54 / 29.7 = 136.8 dpi.
    CliResult r = Cli({"export", photo, "--to", storage.Host("out"), "--format", "A4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, Out("p_A4.jpg") + "\t1600x1131 px\t29.7x21.0 cm\t137 dpi\n");
    EXPECT_EQ(r.err, "trimora-cli: " + photo + ": low resolution for A4: 137 dpi, below 150 dpi\n");

    // The limit is the user's; the reported dpi itself is what is compared.
    EXPECT_EQ(Cli({"export", photo, "--to", storage.Host("out"), "--format", "A4", "--min-dpi", "137"}).err, "");
    r = Cli({"export", photo, "--to", storage.Host("out"), "--format", "A4", "--min-dpi", "138"});
    EXPECT_NE(r.err.find("137 dpi, below 138 dpi"), std::string::npos) << r.err;
}

TEST_F(CliRun, JsonGivesEveryPhotographItsObjectInTheGivenOrder) {
    const std::string good = Photo("good.jpg");
    const std::string missing = In("missing.jpg");
    // A Latin-1 name: no UTF-8, and a quote to escape.
    const std::string odd = Photo("\xE9t\xE9\"q.jpg");
    storage.Folder("empty");

    const CliResult r = Cli({"export", good, missing, odd, storage.Host("empty"), "--to", storage.Host("out"),
                             "--format", "A4", "--json", "--jobs", "2"});
    EXPECT_EQ(r.status, 1);
    auto hex = [](const std::string& s) {
        std::string h;
        char b[3];
        for (unsigned char c : s) std::snprintf(b, sizeof b, "%02x", c), h += b;
        return h;
    };
    auto quoted = [](std::string s) {
        std::string q;
        for (char c : s) {
            if (c == '\xE9') q += "\xEF\xBF\xBD";
            else if (c == '"') q += "\\\"";
            else q += c;
        }
        return q;
    };
    const std::string warning = ",\"warnings\":[\"low resolution for A4: 137 dpi, below 150 dpi\"]";
    const std::vector<std::string> expected = {
        "{\"source\":\"" + storage.Host("empty") + "\",\"ok\":false,\"error\":\"no JPEG files in this folder\","
        "\"warnings\":[]}",
        "{\"source\":\"" + good + "\",\"ok\":true,\"output\":\"" + Out("good_A4.jpg") +
            "\",\"width_px\":1600,\"height_px\":1131,\"width_cm\":29.7,\"height_cm\":21,\"dpi\":137" + warning +
            ",\"lossless\":null}",
        "{\"source\":\"" + missing + "\",\"ok\":false,\"error\":\"cannot open the photograph: No such file or directory\","
        "\"warnings\":[]}",
        // Device paths are Unicode: such a name cannot be exported, but
        // its object is still valid JSON and names the exact bytes.
        "{\"source\":\"" + quoted(odd) + "\",\"source_hex\":\"" + hex(odd) +
            "\",\"ok\":false,\"error\":\"the name is not valid UTF-8\",\"warnings\":[]}",
    };
    EXPECT_EQ(Lines(r.out), expected);
    EXPECT_TRUE(IsUtf8(r.out));
    // The messages are those a run without --json gives.
    EXPECT_NE(r.err.find(missing + ": cannot open the photograph"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("empty: no JPEG files in this folder"), std::string::npos) << r.err;
}

TEST_F(CliRun, ExportTakesAFrameInSourcePixelsAndTheOtherSettings) {
    const PixelFn marks = [](int x, int y) {
        if (x < 100) return Rgb{250, 0, 0};
        if (y < 50) return Rgb{0, 0, 250};
        return Rgb{128, 128, 128};
    };
    const std::string photo = Photo("m.jpg", 1600, 1200, marks);
    CliResult r = Cli({"export", photo, "--to", storage.Host("out"), "--no-lab-correction", "--frame",
                       "100,50,1300,850", "--format", "A4"});
    ASSERT_EQ(r.status, 0) << r.err;
    // A4 is 29.7 x 21: the height follows from the width, 1200 x 21 / 29.7.
    EXPECT_EQ(r.out, Out("m_A4.jpg") + "\t1200x848 px\t29.7x21.0 cm\t103 dpi\n");
    DecodedJpeg out;
    ASSERT_TRUE(DecodeTestJpeg(Out("m_A4.jpg"), out));
    EXPECT_EQ(out.width, 1200);
    EXPECT_TRUE(Near(out.At(4, 4), 128, 128, 128));

    // Portrait with a curve: grey 128 comes out as the inverted curve's 115.
    const std::string grey = Photo("g.jpg");
    r = Cli({"export", grey, "--to", storage.Host("out"), "--portrait", "--preset", "Invert", "--quality", "90"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(DecodeTestJpeg(Out("g_10x15.jpg"), out));
    EXPECT_EQ(out.width, 805);
    EXPECT_EQ(out.height, 1200);
    EXPECT_TRUE(Near(out.At(400, 600), 115, 115, 115));
}

TEST_F(CliRun, BadPhotographsFailAloneEachSayingWhy) {
    const std::string good = Photo("good.jpg");
    const std::string small = Photo("small.jpg", 799, 600);
    const std::string text = In("text.jpg");
    storage.File("in/text.jpg", "these are not the pixels you are looking for");
    const std::string cut = In("cut.jpg");
    const std::string whole = Slurp(Photo("whole.jpg"));
    storage.File("in/cut.jpg", whole.substr(0, whole.size() / 3));
    const std::string missing = In("missing.jpg");

    const CliResult r = Cli({"export", small, text, good, missing, cut, "--to", storage.Host("out"), "--jobs", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(Out("good_10x15.jpg") + "\t1600x1074 px"), std::string::npos);
    EXPECT_NE(r.err.find(small + ": Image must be lagrer then 800x600"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(text + ": "), std::string::npos);
    EXPECT_NE(r.err.find(missing + ": "), std::string::npos);
    EXPECT_TRUE(Exists(Out("good_10x15.jpg")));
    EXPECT_FALSE(Exists(Out("small_10x15.jpg")));
    EXPECT_FALSE(Exists(Out("text_10x15.jpg")));
    EXPECT_FALSE(Exists(Out("missing_10x15.jpg")));
    // A cut-off photograph either exports what could be decoded or fails;
    // what it leaves behind is a whole JPEG in any case.
    if (Exists(Out("cut_10x15.jpg"))) {
        DecodedJpeg out;
        EXPECT_TRUE(DecodeTestJpeg(Out("cut_10x15.jpg"), out));
    }
}

TEST_F(CliRun, DestinationsThatCannotBeWrittenFail) {
    const std::string photo = Photo("p.jpg");
    CliResult r = Cli({"export", photo, "--to", storage.Host("nowhere")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a folder"), std::string::npos);

    storage.Folder("out/p_10x15.jpg");
    r = Cli({"export", photo, "--to", storage.Host("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("Cannot create file"), std::string::npos);
}

TEST_F(CliRun, NeverWritesOverAPhotograph) {
    const std::string dotOnly = Photo(".jpg");
    const std::string before = Slurp(dotOnly);
    CliResult r = Cli({"export", dotOnly, "--to", storage.Host("in")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You cannot overwrite the file, please select another folder."), std::string::npos);
    EXPECT_EQ(Slurp(dotOnly), before);

    // Another spelling of the source: a link in the destination.
    const std::string photo = Photo("p.jpg");
    const std::string original = Slurp(photo);
    storage.Link(photo, "out/p_10x15.jpg");
    r = Cli({"export", photo, "--to", storage.Host("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("You cannot overwrite the file"), std::string::npos);
    EXPECT_EQ(Slurp(photo), original);
}

TEST_F(CliRun, NoTwoJobsWriteTheSameFileOrReadWhatAnotherWrites) {
    const std::string a = Photo("a.jpg");
    const std::string aOut = Photo("a_10x15.jpg", 1200, 1600);
    const std::string aOutBefore = Slurp(aOut);

    CliResult r = Cli({"export", a, aOut, a, "--to", storage.Host("in"), "--jobs", "3"});
    EXPECT_EQ(r.status, 1);
    // a.jpg would replace a_10x15.jpg while it is being read; the repeat of
    // a.jpg would write its file a second time.
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{In("a_10x15_10x15.jpg") + "\t1200x805 px\t15.2x10.2 cm\t200 dpi"}));
    EXPECT_EQ(Slurp(aOut), aOutBefore);
    EXPECT_EQ(Lines(r.err).size(), 2u) << r.err;
}

TEST_F(CliRun, ParallelRunWritesEveryFileOnceInTheGivenOrder) {
    std::vector<std::string> args = {"export"};
    std::vector<std::string> expected;
    for (int i = 0; i < 12; ++i) {
        const int w = 800 + 97 * i, h = 600 + 61 * i;
        const std::string name = "img_" + std::to_string(100 + i);
        Photo(name + ".jpg", w, h);
        expected.push_back(name);
    }
    args.push_back(storage.Host("in"));  // a folder stands for its photographs
    args.insert(args.end(), {"--to", storage.Host("out"), "--jobs", "4", "--format", "9x13", "--no-lab-correction"});
    const CliResult r = Cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string out = Out(expected[i] + "_9x13.jpg");
        EXPECT_EQ(lines[i].substr(0, out.size() + 1), out + "\t");
        DecodedJpeg decoded;
        ASSERT_TRUE(DecodeTestJpeg(out, decoded)) << out;
        EXPECT_NE(lines[i].find("\t" + std::to_string(decoded.width) + "x" + std::to_string(decoded.height) + " px"),
                  std::string::npos);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.Host("out")),
                            std::filesystem::directory_iterator()),
              12);
}

TEST_F(CliRun, PreviewWritesTheDecodersBufferExactly) {
    const PixelFn ramp = [](int x, int y) {
        return Rgb{static_cast<uint8_t>(x % 256), static_cast<uint8_t>(y % 256), static_cast<uint8_t>((x + y) % 256)};
    };
    const std::string photo = Photo("r.jpg", 1600, 1200, ramp);
    CliResult r = Cli({"preview", photo, "--box", "237x230", "--out", Out("r.ppm")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "preview 237x177 source 1600x1200\n");

    std::wstring device;
    ASSERT_TRUE(FromUtf8(photo, device));
    for (wchar_t& c : device)
        if (c == L'/') c = L'\\';
    CSize box(237, 230), size;
    PreviewBuffer expected;
    NullProgressSink sink;
    ASSERT_EQ(LoadPreview(device, box, size, expected, sink), 1);
    const std::string ppm = Slurp(Out("r.ppm"));
    const std::string head = "P6\n237 177\n255\n";
    ASSERT_EQ(ppm.size(), head.size() + expected.Size());
    EXPECT_EQ(ppm.substr(0, head.size()), head);
    EXPECT_EQ(ppm.substr(head.size()), std::string(reinterpret_cast<const char*>(expected.Data()), expected.Size()));

    ASSERT_EQ(Cli({"preview", photo, "--box", "237x230", "--out", Out("r.bmp")}).status, 0);
    const std::string bmp = Slurp(Out("r.bmp"));
    const size_t stride = (237 * 3 + 3) & ~3u;
    ASSERT_EQ(bmp.size(), 54 + stride * 177);
    EXPECT_EQ(bmp.substr(0, 2), "BM");
    // Bottom row first, B, G, R.
    const size_t top = 54 + stride * 176;
    EXPECT_EQ(static_cast<uint8_t>(bmp[top + 0]), expected[2]);
    EXPECT_EQ(static_cast<uint8_t>(bmp[top + 2]), expected[0]);
    const size_t last = (176 * 237 + 236) * 3;
    EXPECT_EQ(static_cast<uint8_t>(bmp[54 + 236 * 3 + 1]), expected[last + 1]);
}

TEST_F(CliRun, PreviewOfABadPhotographWritesNothing) {
    const std::string small = Photo("s.jpg", 800, 599);
    const CliResult r = Cli({"preview", small, "--box", "236x230", "--out", Out("s.ppm")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Image must be lagrer then 800x600"), std::string::npos);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(storage.Host("out")),
                            std::filesystem::directory_iterator()),
              0);
}

// The photograph up to the end of its scan header: no image data at all.
std::string HeaderOnly(const std::string& jpeg) {
    const size_t sos = jpeg.find("\xff\xda");
    const size_t length = (static_cast<uint8_t>(jpeg[sos + 2]) << 8) | static_cast<uint8_t>(jpeg[sos + 3]);
    return jpeg.substr(0, sos + 2 + length);
}

TEST_F(CliRun, DamagedPhotographsAreNamedWithTheDamageAndRefusedWhenStrict) {
    const std::string whole = Slurp(Photo("whole.jpg", 1600, 1200, [](int x, int y) {
        return Rgb{uint8_t(x * 3 + y), uint8_t(x ^ y), uint8_t(y * 5)};
    }));
    std::string corrupt = whole;
    for (size_t i = whole.size() / 2; i < whole.size() / 2 + 400; ++i) corrupt[i] = static_cast<char>(i * 37);
    storage.File("in/corrupt.jpg", corrupt);
    storage.File("in/truncated.jpg", HeaderOnly(whole));
    // 445 bytes that claim 65500 x 65500 pixels.
    storage.File("in/claims.jpg", WithClaimedSize(HeaderOnly(whole), 65500, 65500));
    const std::string to = storage.Host("out");

    CliResult r = Cli({"export", In("corrupt.jpg"), In("truncated.jpg"), "--to", to});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Lines(r.out).size(), 2u);
    EXPECT_NE(r.err.find(In("corrupt.jpg") + ": warning: the photograph is damaged (Corrupt JPEG data"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(In("truncated.jpg") + ": warning: the photograph is damaged (Premature end of JPEG file"),
              std::string::npos) << r.err;
    DecodedJpeg out;
    EXPECT_TRUE(DecodeTestJpeg(Out("truncated_10x15.jpg"), out));
    EXPECT_EQ(out.At(800, 500).r, 128);  // all grey

    std::filesystem::remove(Out("corrupt_10x15.jpg"));
    std::filesystem::remove(Out("truncated_10x15.jpg"));
    r = Cli({"export", In("corrupt.jpg"), In("truncated.jpg"), In("claims.jpg"), In("whole.jpg"), "--to", to,
             "--strict"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), std::vector<std::string>{Out("whole_10x15.jpg") + "\t1600x1074 px\t15.2x10.2 cm\t267 dpi"});
    EXPECT_EQ(Lines(r.err).size(), 3u) << r.err;
    EXPECT_NE(r.err.find(In("claims.jpg") + ": refused (--strict): the photograph is damaged: Premature end of JPEG file"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(In("corrupt.jpg") + ": refused (--strict): the photograph is damaged: Corrupt JPEG data"),
              std::string::npos) << r.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(to), std::filesystem::directory_iterator()), 1);

    // For scripts, the damage is among the warnings and the refusal is the error.
    r = Cli({"export", In("truncated.jpg"), In("corrupt.jpg"), "--to", to, "--json"});
    EXPECT_NE(r.out.find("\"warnings\":[\"warning: the photograph is damaged (Premature end of JPEG file"),
              std::string::npos) << r.out;
    r = Cli({"export", In("corrupt.jpg"), "--to", to, "--json", "--strict"});
    EXPECT_EQ(r.out.find("{\"source\":\"" + In("corrupt.jpg") +
                         "\",\"ok\":false,\"error\":\"refused (--strict): the photograph is damaged: Corrupt JPEG data"),
              0u) << r.out;

    r = Cli({"preview", In("corrupt.jpg"), "--box", "200x200", "--out", Out("p.ppm")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find(In("corrupt.jpg") + ": warning: the photograph is damaged"), std::string::npos) << r.err;
    r = Cli({"preview", In("corrupt.jpg"), "--box", "200x200", "--out", Out("q.ppm"), "--strict"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused (--strict)"), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Out("q.ppm")));
}

// A JPEG of two components, which no photograph has.
std::string TwoComponentJpeg(int width, int height) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &data, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = 2;
    cinfo.in_color_space = JCS_UNKNOWN;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width) * 2, 100);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<char*>(data), size);
    free(data);
    return bytes;
}

TEST_F(CliRun, FailuresSayWhetherThePhotographOrTheNewFileFailedAndWhy) {
    storage.File("in/two.jpg", TwoComponentJpeg(800, 600));
    JpegRecipe progressive;
    progressive.width = progressive.height = 64;
    progressive.progressive = true;
    storage.File("in/vast.jpg", WithClaimedSize(EncodeJpeg(progressive), 60000, 60000));
    storage.File("in/text.jpg", "these are not the pixels you are looking for");
    const std::string photo = Photo("p.jpg");
    storage.Folder("out/p_10x15.jpg");

    CliResult r = Cli({"export", In("two.jpg"), In("vast.jpg"), In("text.jpg"), photo, "--to", storage.Host("out")});
    EXPECT_EQ(r.status, 1);
    const std::string expected[] = {
        In("two.jpg") + ": cannot decode the photograph: a JPEG with 2 colour components is not a colour or "
                        "greyscale photograph",
        In("vast.jpg") + ": cannot decode the photograph: it needs more than the 1024 MiB of memory the decoder",
        In("text.jpg") + ": cannot decode the photograph: Not a JPEG file",
        photo + ": Cannot create file " + Out("p_10x15.jpg") + ": Is a directory",
    };
    for (const std::string& line : expected) EXPECT_NE(r.err.find(line), std::string::npos) << line << "\n" << r.err;

    std::filesystem::remove(Out("p_10x15.jpg"));
    storage.Folder("locked");
    chmod(storage.Host("locked").c_str(), 0555);
    {
        Unprivileged user;
        if (geteuid() == 0) GTEST_SKIP() << "cannot drop root here";
        r = Cli({"export", photo, "--to", storage.Host("locked")});
    }
    // A folder that takes no file is refused once, before any photograph.
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trimora-cli: " + storage.Host("locked") + ": cannot write into this folder: Permission denied\n");
}

// The destination folder turns read-only while a photograph is written
// (encoded, or cut losslessly): the run says which unfinished file it had to
// leave, on the error stream and among the photograph's warnings.
TEST_F(CliRun, TemporaryLeftInAFolderTurnedReadOnlyIsNamed) {
    // Noise, so that even the cut takes a while to write.
    const std::string photo = Photo("p.jpg", 6000, 4000, [](int x, int y) {
        const unsigned v = (unsigned(x) * 2654435761u) ^ (unsigned(y) * 40503u);
        return Rgb{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
    });
    const std::string folder = storage.Host("shut");
    storage.Folder("shut");
    if (geteuid() == 0 && chown(folder.c_str(), 65534, 65534) != 0) GTEST_SKIP() << "cannot give the folder away";
    for (bool json : {false, true}) {
        chmod(folder.c_str(), 0755);
        CliResult r;
        std::string left;
        {
            Unprivileged user;
            if (geteuid() == 0) GTEST_SKIP() << "cannot drop root here";
            // Shut as soon as the export has made its temporary.
            std::atomic<bool> done{false};
            std::thread watcher([&] {
                while (!done)
                    for (const auto& e : std::filesystem::directory_iterator(folder))
                        if (e.path().extension() == ".tmp") {
                            chmod(folder.c_str(), 0555);
                            left = e.path().string();
                            return;
                        }
            });
            std::vector<std::string> args = {"export", photo, "--to", folder};
            if (json) args.insert(args.end(), {"--json", "--lossless"});
            r = Cli(args);
            done = true;
            watcher.join();
        }
        ASSERT_FALSE(left.empty());
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(Exists(left));
        const std::string named =
            "the unfinished file " + left + " cannot be removed (Permission denied); delete it by hand";
        if (json)
            EXPECT_NE(r.out.find("\"warnings\":[\"" + named + "\"]"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(photo + ": Cannot create file " + folder + "/p_10x15.jpg: Permission denied"),
                  std::string::npos) << r.err;
        EXPECT_NE(r.err.find(photo + ": " + named), std::string::npos) << r.err;
        chmod(folder.c_str(), 0755);
        std::filesystem::remove(left);
    }
}

}  // namespace
