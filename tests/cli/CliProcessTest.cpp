// The real program: exit statuses, and nothing but result lines on a pipe.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include <lcms2.h>

#include "TestJpeg.h"
#include "imaging/TestHeif.h"
#include "imaging/TestJpeg.h"
#include "imaging/TurnedJpeg.h"
#include "print/PrintFormatTable.h"
#include "tests/platform/TempFolder.h"

namespace {

int RunCliProcess(const std::string& args, const std::string& outFile, const std::string& errFile) {
    const std::string command = std::string("'") + TRIMORA_CLI + "' " + args + " >'" + outFile + "' 2>'" + errFile + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliProcess, ExitStatusAndPlainOutputOnAPipe) {
    TempStorage storage;
    storage.Folder("out");
    const std::string photo = storage.Host("p.jpg");
    ASSERT_TRUE(WriteTestJpeg(photo, 1024, 768, [](int x, int) { return Rgb{uint8_t(x), 90, 200}; }));
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");

    EXPECT_EQ(RunCliProcess("export '" + photo + "' --to '" + storage.Host("out") + "' --jobs 2", out, err), 0);
    EXPECT_EQ(Slurp(out), storage.Host("out/p_10x15.jpg") + "\t1024x687 px\t15.2x10.2 cm\t171 dpi\n");
    EXPECT_EQ(Slurp(err), "");

    EXPECT_EQ(RunCliProcess("export '" + photo + "' '" + storage.Host("none.jpg") + "' --to '" + storage.Host("out") + "'",
                  out, err),
              1);
    EXPECT_NE(Slurp(err).find("none.jpg"), std::string::npos);

    // For scripts: the failure is a JSON line too, after the written one.
    EXPECT_EQ(RunCliProcess("export '" + photo + "' '" + storage.Host("none.jpg") + "' --to '" + storage.Host("out") +
                                "' --json",
                            out, err),
              1);
    EXPECT_EQ(Slurp(out), "{\"source\":\"" + photo + "\",\"ok\":true,\"output\":\"" + storage.Host("out/p_10x15.jpg") +
                              "\",\"width_px\":1024,\"height_px\":687,\"width_cm\":15.2,\"height_cm\":10.2,\"dpi\":171,"
                              "\"warnings\":[],\"lossless\":null}\n"
                              "{\"source\":\"" + storage.Host("none.jpg") +
                              "\",\"ok\":false,\"error\":\"cannot open the photograph: No such file or directory\",\"warnings\":[]}\n");
    EXPECT_NE(Slurp(err).find("none.jpg: cannot open the photograph"), std::string::npos);

    EXPECT_EQ(RunCliProcess("export --to", out, err), 2);
    EXPECT_EQ(RunCliProcess("formats", out, err), 0);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Starts the program with the signals a shell's foreground job gets, its
// error stream into a file.
pid_t Start(const std::vector<std::string>& args, const std::string& errFile) {
    std::vector<const char*> argv{TRIMORA_CLI};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(err, 2);
        dup2(null, 1);
        execv(TRIMORA_CLI, const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    return pid;
}

// The wait status, or -1 (after killing it) when it has not ended in time.
int WaitFor(pid_t pid, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

TEST(CliProcess, WhatIsNotAFileIsRefusedAtOnce) {
    TempStorage storage;
    storage.Folder("out");
    const std::string fifo = storage.Host("pipe.jpg"), err = storage.Host("stderr");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    storage.Folder("folder.jpg");
    const std::vector<std::vector<std::string>> runs = {
        {"export", fifo, "--to", storage.Host("out")},
        {"preview", fifo, "--box", "100x100", "--out", storage.Host("out/p.ppm")},
        {"preview", storage.Host("folder.jpg"), "--box", "100x100", "--out", storage.Host("out/p.ppm")},
        {"export", "/dev/zero", "--to", storage.Host("out")},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[1]);
        const int status = WaitFor(Start(args, err), 20);
        ASSERT_NE(status, -1) << "still waiting for the file after 20 s";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        const std::string text = Slurp(err);
        EXPECT_NE(text.find(args[1] + ": cannot read the photograph: it is a"), std::string::npos) << text;
        EXPECT_TRUE(Entries(storage.Host("out")).empty());
    }
    EXPECT_NE(Slurp(err).find("a device, not a file"), std::string::npos);
}

TEST(CliProcess, AFileSizeLimitFailsTheWriteAndKeepsTheEarlierFile) {
    TempStorage storage;
    storage.Folder("out");
    const std::string photo = storage.Host("p.jpg"), out = storage.Host("stdout"), err = storage.Host("stderr");
    ASSERT_TRUE(WriteTestJpeg(photo, 1600, 1200, [](int x, int y) { return Rgb{uint8_t(x * y), uint8_t(x), 7}; }));
    std::ofstream(storage.Host("out/p_10x15.jpg")) << "earlier";
    std::ofstream(storage.Host("out/p.bmp")) << "earlier";
    // 20 blocks of 512 bytes: far less than either file.
    const std::string limited = "ulimit -f 20; exec '" + std::string(TRIMORA_CLI) + "' ";
    const std::string runs[] = {
        "export " + Quoted(photo) + " --to " + Quoted(storage.Host("out")),
        "preview " + Quoted(photo) + " --box 800x600 --out " + Quoted(storage.Host("out/p.bmp")),
    };
    for (const std::string& args : runs) {
        SCOPED_TRACE(args);
        const std::string command = "sh -c \"" + limited + args + "\" >'" + out + "' 2>'" + err + "'";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_NE(Slurp(err).find("File too large"), std::string::npos) << Slurp(err);
        EXPECT_EQ(Entries(storage.Host("out")), (std::vector<std::string>{"p.bmp", "p_10x15.jpg"}));
        EXPECT_EQ(Slurp(storage.Host("out/p_10x15.jpg")), "earlier");
        EXPECT_EQ(Slurp(storage.Host("out/p.bmp")), "earlier");
    }
    EXPECT_NE(Slurp(err).find(storage.Host("out/p.bmp")), std::string::npos);
}

TEST(CliProcess, SignalsInTheMiddleOfAnExportLeaveNoTemporary) {
    TempStorage storage;
    storage.Folder("out");
    const std::string photo = storage.Host("big.jpg"), err = storage.Host("stderr");
    // 24 MP of noise: seconds of work, and a large file written all along.
    uint32_t state = 1;
    ASSERT_TRUE(WriteTestJpeg(photo, 6000, 4000, [&state](int, int) {
        state = state * 1664525u + 1013904223u;
        return Rgb{uint8_t(state >> 24), uint8_t(state >> 16), uint8_t(state >> 8)};
    }));
    const std::string folder = storage.Host("out");
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        const pid_t pid = Start({"export", photo, "--to", folder}, err);
        // Until the temporary holds part of the new file.
        bool writing = false;
        for (int i = 0; i < 4000 && !writing; ++i) {
            for (const std::string& name : Entries(folder)) {
                struct stat st {};
                if (name[0] == '.' && stat((folder + "/" + name).c_str(), &st) == 0 && st.st_size > 65536)
                    writing = true;
            }
            if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ASSERT_TRUE(writing);
        kill(pid, sig);
        const int status = WaitFor(pid, 30);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_TRUE(Entries(folder).empty()) << Entries(folder).front();
    }
}

TEST(CliProcess, LongNamesExportAndNamesDifferingInCaseDoNotShareAFile) {
    TempStorage storage;
    storage.Folder("in");
    storage.Folder("out");
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    auto pixel = [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 40}; };
    std::string accented;
    for (int i = 0; i < 118; ++i) accented += "\xc3\xa9";
    const std::string longNames[] = {std::string(236, 'n') + ".jpg", accented + ".jpg"};
    for (const std::string& name : longNames) {
        ASSERT_EQ(name.size() >= 240, true);
        const std::string photo = storage.Host("in/" + name);
        ASSERT_TRUE(WriteTestJpeg(photo, 1024, 768, pixel));
        EXPECT_EQ(RunCliProcess("export " + Quoted(photo) + " --to " + Quoted(storage.Host("out")), out, err), 0)
            << Slurp(err);
        const std::string written = name.substr(0, name.size() - 4) + "_10x15.jpg";
        EXPECT_EQ(Entries(storage.Host("out")), std::vector<std::string>{written});
        std::filesystem::remove(photo);
        std::filesystem::remove(storage.Host("out/" + written));
    }

    // The storage takes img_10x15.jpg and IMG_10x15.jpg for one file: the
    // second photograph would replace the first one's export.
    ASSERT_TRUE(WriteTestJpeg(storage.Host("in/img.jpg"), 1024, 768, pixel));
    ASSERT_TRUE(WriteTestJpeg(storage.Host("in/IMG.jpg"), 1024, 768, pixel));
    EXPECT_EQ(RunCliProcess("export " + Quoted(storage.Host("in")) + " --to " + Quoted(storage.Host("out")), out, err),
              1);
    EXPECT_EQ(Entries(storage.Host("out")), std::vector<std::string>{"IMG_10x15.jpg"});
    EXPECT_EQ(Slurp(out), storage.Host("out/IMG_10x15.jpg") + "\t1024x687 px\t15.2x10.2 cm\t171 dpi\n");
    EXPECT_NE(Slurp(err).find(storage.Host("in/img.jpg") + ": skipped"), std::string::npos) << Slurp(err);
}

// The options a lab's batch uses, as the real program runs them.
TEST(CliProcess, TwoThreadsLosslessAndDensityEndToEnd) {
    TempStorage storage;
    for (const char* dir : {"one", "two", "dpi", "cut"}) storage.Folder(dir);
    const std::string photo = storage.Host("p.jpg");
    ASSERT_TRUE(WriteTestJpeg(photo, 1600, 1200, [](int x, int y) { return Rgb{uint8_t(x ^ y), uint8_t(y), 200}; }));
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    auto run = [&](const std::string& args) { return RunCliProcess("export '" + photo + "' " + args, out, err); };

    EXPECT_EQ(run("--to '" + storage.Host("cut") + "' --lossless --preset Bright"), 2);
    EXPECT_NE(Slurp(err).find("--lossless"), std::string::npos);

    // One photograph: with two workers its encoder gets the second core.
    ASSERT_EQ(run("--to '" + storage.Host("one") + "' --jobs 1"), 0);
    ASSERT_EQ(run("--to '" + storage.Host("two") + "' --jobs 2"), 0);
    const std::string single = Slurp(storage.Host("one/p_10x15.jpg"));
    EXPECT_GT(single.size(), 1000u);
    EXPECT_TRUE(single == Slurp(storage.Host("two/p_10x15.jpg")));

    // The density recorded is the resolution the line reports.
    ASSERT_EQ(run("--to '" + storage.Host("dpi") + "' --format A4 --record-dpi"), 0);
    EXPECT_EQ(Slurp(out), storage.Host("dpi/p_A4.jpg") + "\t1600x1131 px\t29.7x21.0 cm\t137 dpi\n");
    const std::string file = Slurp(storage.Host("dpi/p_A4.jpg"));
    ASSERT_EQ(file.compare(6, 5, std::string("JFIF\0", 5)), 0);
    EXPECT_EQ(file.substr(13, 5), std::string("\x01\x00\x89\x00\x89", 5));

    // Centred, the frame's top is row 63; the cut starts on the block grid.
    ASSERT_EQ(run("--to '" + storage.Host("cut") + "' --lossless --frame center"), 0);
    const std::string line = Slurp(out);
    const std::string head = storage.Host("cut/p_10x15.jpg") + "\t1600x1074 px\t15.2x10.2 cm\t267 dpi\tlossless, moved 0 px left and ";
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << line;
    const int up = std::atoi(line.c_str() + head.size());
    EXPECT_EQ(line.substr(head.size()), std::to_string(up) + " px up\n");
    EXPECT_TRUE(up == 7 || up == 15) << up;  // 8 or 16 rows to an iMCU
    DecodedJpeg cut;
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("cut/p_10x15.jpg"), cut));
    EXPECT_EQ(cut.width, 1600);
    EXPECT_EQ(cut.height, 1074);

    // The same shift in the JSON object.
    ASSERT_EQ(run("--to '" + storage.Host("cut") + "' --lossless --json"), 0);
    EXPECT_NE(Slurp(out).find(",\"dpi\":267,\"warnings\":[],\"lossless\":{\"left\":0,\"up\":" + std::to_string(up) +
                              ",\"clipped\":false}}\n"),
              std::string::npos)
        << Slurp(out);
}

// An Adobe RGB photograph comes out in sRGB, without its profile; asked to
// keep the profile, the program writes the source's pixels and the profile.
// A damaged profile counts as none and is said, in JSON too.
TEST(CliProcess, WideGamutPhotographIsConvertedOrKeepsItsProfile) {
    TempStorage storage;
    for (const char* dir : {"plain", "srgb", "kept", "damaged"}) storage.Folder(dir);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE adobe = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(adobe, nullptr, &size);
    std::string icc(size, '\0');
    cmsSaveProfileToMem(adobe, icc.data(), &size);
    cmsCloseProfile(adobe);
    cmsFreeToneCurve(gamma);

    const std::string jpeg = EncodeJpeg({1600, 1200});
    WriteFile(storage.Host("plain/p.jpg"), jpeg);
    WriteFile(storage.Host("p.jpg"), WithIccProfile(jpeg, icc));
    WriteFile(storage.Host("damaged/p.jpg"), WithIccProfile(jpeg, icc.substr(0, 300)));
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    auto run = [&](const std::string& photo, const std::string& args) {
        return RunCliProcess("export '" + storage.Host(photo) + "' " + args, out, err);
    };
    ASSERT_EQ(run("plain/p.jpg", "--to '" + storage.Host("plain") + "'"), 0);
    ASSERT_EQ(run("p.jpg", "--to '" + storage.Host("srgb") + "'"), 0);
    EXPECT_EQ(Slurp(err), "");
    ASSERT_EQ(run("p.jpg", "--keep-profile --to '" + storage.Host("kept") + "'"), 0);
    const std::string converted = Slurp(storage.Host("srgb/p_10x15.jpg"));
    EXPECT_EQ(converted.find("ICC_PROFILE"), std::string::npos);
    EXPECT_NE(Slurp(storage.Host("kept/p_10x15.jpg")).find(icc), std::string::npos);
    DecodedJpeg plain, srgb, kept;
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("plain/p_10x15.jpg"), plain));
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("srgb/p_10x15.jpg"), srgb));
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("kept/p_10x15.jpg"), kept));
    EXPECT_TRUE(kept.rgb == plain.rgb);
    EXPECT_FALSE(srgb.rgb == plain.rgb);

    ASSERT_EQ(run("damaged/p.jpg", "--to '" + storage.Host("damaged") + "' --json"), 0);
    const std::string warning = "its colour profile is damaged; its colours are taken as sRGB";
    EXPECT_NE(Slurp(out).find("\"warnings\":[\"" + warning + "\"]"), std::string::npos) << Slurp(out);
    EXPECT_EQ(Slurp(err), "trimora-cli: " + storage.Host("damaged/p.jpg") + ": " + warning + "\n");
    EXPECT_TRUE(Slurp(storage.Host("damaged/p_10x15.jpg")) == Slurp(storage.Host("plain/p_10x15.jpg")));

    // A camera's Adobe RGB record ("uncalibrated", index R03) kept with the
    // converted pixels says sRGB, as the pixels now are.
    if (std::system("command -v exiftool >/dev/null") != 0) GTEST_SKIP() << "exiftool is needed";
    storage.Folder("meta");
    ASSERT_EQ(std::system(("exiftool -q -overwrite_original -ColorSpace#=65535 -InteropIndex=R03 '" +
                           storage.Host("p.jpg") + "'")
                              .c_str()),
              0);
    ASSERT_EQ(run("p.jpg", "--keep-metadata --to '" + storage.Host("meta") + "'"), 0);
    ASSERT_EQ(std::system(("exiftool -s3 -n -ColorSpace -InteropIndex '" + storage.Host("meta/p_10x15.jpg") +
                           "' > '" + out + "'")
                              .c_str()),
              0);
    EXPECT_EQ(Slurp(out), "1\nR98\n");
}

}  // namespace

namespace {

int JsonInt(const std::string& line, const std::string& key) {
    const size_t at = line.find("\"" + key + "\":");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + key.size() + 3);
}

}  // namespace

// A portrait stored on its side: measured, framed (given or centred),
// previewed and written upright; a damaged tag is warned of and the
// photograph taken as stored.
TEST(CliProcess, TurnedPhotographIsExportedUpright) {
    TempStorage storage;
    storage.Folder("out");
    const std::string photo = storage.Host("p.jpg"), bad = storage.Host("bad.jpg");
    WriteFile(photo, WithExif(EncodeJpeg({1200, 800, 2, 2}), OrientationTiff(6)));
    WriteFile(bad, WithExif(EncodeJpeg({1200, 800, 2, 2}), OrientationTiff(6, false, 2)));
    const std::vector<uint8_t> upright = TurnUpright(DecodeFully(photo, false).pixels, 1200, 800, 6);  // 800 x 1200
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    const std::string to = " --to " + Quoted(storage.Host("out")) + " --json";

    for (const std::string frame : {"", " --frame 10,300,500,1150"}) {
        ASSERT_EQ(RunCliProcess("export " + Quoted(photo) + to + " --portrait" + frame, out, err), 0) << Slurp(err);
        const int w = JsonInt(Slurp(out), "width_px"), h = JsonInt(Slurp(out), "height_px");
        const int left = frame.empty() ? (800 - w) / 2 : 10, top = frame.empty() ? (1200 - h) / 2 : 300;
        EXPECT_TRUE(frame.empty() ? w == 800 && h > 1150 : top + h > 800) << w << "x" << h;
        const std::vector<uint8_t> crop = CropRgb(upright, 800, left, top, left + w, top + h);
        EXPECT_TRUE(ReadFile(storage.Host("out/p_10x15.jpg")) == EncodePlain(crop.data(), w, h, 95));
        EXPECT_EQ(Slurp(out).find("orientation"), std::string::npos);
    }
    ASSERT_EQ(RunCliProcess("preview " + Quoted(photo) + " --box 800x600 --out " + Quoted(storage.Host("p.ppm")),
                            out, err),
              0);
    EXPECT_NE(Slurp(out).find("source 800x1200"), std::string::npos);

    ASSERT_EQ(RunCliProcess("export " + Quoted(bad) + to, out, err), 0);
    const std::string warning = "warning: the photograph's EXIF orientation is damaged; it is taken as stored";
    EXPECT_NE(Slurp(err).find("bad.jpg: " + warning), std::string::npos) << Slurp(err);
    EXPECT_NE(Slurp(out).find("\"warnings\":[\"" + warning + "\"]"), std::string::npos) << Slurp(out);
    EXPECT_EQ(JsonInt(Slurp(out), "width_px"), 1192);  // 10x15 across the stored 1200 x 800
}

// --frame whole, as a lab's customer uses it: each print keeps the
// photograph's full side, has the format's proportions within a pixel and
// the dpi of its pixels on its line; inside lies the photograph (upright)
// within 2 levels of the source on average, around it white, exactly 255
// where no block of the photograph's reaches.
TEST(CliProcess, TheWholePhotographOnAWhitePrint) {
    TempStorage storage;
    storage.Folder("out");
    struct Case {
        std::string name;
        int width, height, tag;  // as stored
        std::string options;
        int format;
        bool portrait, barsAbove;
    };
    const Case cases[] = {
        {"land.jpg", 1500, 1000, 1, "--format 13x18", 3, false, true},
        {"land.jpg", 1500, 1000, 1, "--portrait", 2, true, true},
        {"port.jpg", 1000, 1500, 1, "--format 20x30", 9, false, false},
        {"turned.jpg", 1000, 1500, 6, "--format 13x18", 3, false, true},  // 1500 x 1000 upright
        {"odd.jpg", 1001, 777, 1, "--format A4 --no-lab-correction --quality 90", 13, false, false},
    };
    PrintFormatTable table;
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + " " + c.options);
        const std::string photo = storage.Host(c.name);
        // Smooth light and shade with texture of a few pixels, as photographs have.
        ASSERT_TRUE(WriteTestJpeg(photo, c.width, c.height, [&](int x, int y) {
            return Rgb{uint8_t(x * 255 / c.width), uint8_t(128 + 90 * std::sin(x / 7.0) * std::cos(y / 11.0)),
                       uint8_t(y * 255 / c.height)};
        }));
        if (c.tag != 1) WriteFile(photo, WithExif(ReadFile(photo), OrientationTiff(c.tag)));
        const std::vector<uint8_t> upright = TurnUpright(DecodeFully(photo, false).pixels, c.width, c.height, c.tag);
        const int w = c.tag >= 5 ? c.height : c.width, h = c.tag >= 5 ? c.width : c.height;

        ASSERT_EQ(RunCliProcess("export " + Quoted(photo) + " --to " + Quoted(storage.Host("out")) + " --frame whole " +
                                    c.options,
                                out, err),
                  0)
            << Slurp(err);
        const std::string line = Slurp(out);
        const size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << line;
        const std::string written = line.substr(0, tab);
        int pw = 0, ph = 0, dpi = 0;
        float cmW = 0, cmH = 0;
        ASSERT_EQ(std::sscanf(line.c_str() + tab, "\t%dx%d px\t%fx%f cm\t%d dpi", &pw, &ph, &cmW, &cmH, &dpi), 5)
            << line;
        const bool correct = c.options.find("--no-lab-correction") == std::string::npos;
        const float W = table.FrameWidthCm(c.format, c.portrait, correct);
        const float H = table.FrameHeightCm(c.format, c.portrait, correct);
        if (c.barsAbove) {
            EXPECT_EQ(pw, w);
            EXPECT_GT(ph, h);
            EXPECT_LE(std::abs(ph - pw * double(H) / W), 1.0);
        } else {
            EXPECT_EQ(ph, h);
            EXPECT_GT(pw, w);
            EXPECT_LE(std::abs(pw - ph * double(W) / H), 1.0);
        }
        EXPECT_EQ(dpi, std::lround(std::min(pw * 2.54 / W, ph * 2.54 / H)));

        DecodedJpeg print;
        ASSERT_TRUE(DecodeTestJpeg(written, print)) << written;
        ASSERT_EQ(print.width, pw);
        ASSERT_EQ(print.height, ph);
        const int left = (pw - w) / 2, top = (ph - h) / 2;
        double difference = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k)
                    difference += std::abs(int(print.rgb[(size_t(y + top) * pw + x + left) * 3 + k]) -
                                           int(upright[(size_t(y) * w + x) * 3 + k]));
        EXPECT_LE(difference / (double(w) * h * 3), 2.0);
        // White, exactly, beyond the blocks the photograph reaches and their
        // neighbours (whose colour the decoder blends into the next rows);
        // nearly white up to the photograph's edge.
        int exact = 0;
        double near = 0, nearCount = 0;
        for (int y = 0; y < ph; ++y)
            for (int x = 0; x < pw; ++x) {
                const int across = std::max(left / 16 - x / 16, x / 16 - (left + w - 1) / 16);
                const int down = std::max(top / 16 - y / 16, y / 16 - (top + h - 1) / 16);
                if (across <= 0 && down <= 0) continue;
                const Rgb p = print.At(x, y);
                if (across > 1 || down > 1) {
                    ASSERT_TRUE(p.r == 255 && p.g == 255 && p.b == 255) << x << "," << y;
                    ++exact;
                } else if (x < left || x >= left + w || y < top || y >= top + h) {
                    near += p.r + p.g + p.b;
                    nearCount += 3;
                }
            }
        EXPECT_GT(exact, 8 * std::max(pw, ph));
        EXPECT_GT(near / nearCount, 250.0);
    }

    // As for a cut: the line in JSON, and the kept EXIF says the print's size.
    const std::string photo = storage.Host("turned.jpg");
    ASSERT_EQ(RunCliProcess("export " + Quoted(photo) + " --to " + Quoted(storage.Host("out")) +
                                " --frame whole --portrait --json --record-dpi --keep-metadata",
                            out, err),
              0)
        << Slurp(err);
    EXPECT_EQ(JsonInt(Slurp(out), "width_px"), 1500);
    EXPECT_EQ(JsonInt(Slurp(out), "height_px"), 2235);  // 1500 x 15.2 / 10.2
    EXPECT_EQ(JsonInt(Slurp(out), "dpi"), 373);  // the print's: its rows give a little less
    if (std::system("command -v exiftool >/dev/null") == 0) {
        ASSERT_EQ(std::system(("exiftool -s3 -ExifImageWidth -ExifImageHeight -XResolution " +
                               Quoted(storage.Host("out/turned_10x15.jpg")) + " >" + Quoted(out))
                                  .c_str()),
                  0);
        EXPECT_EQ(Slurp(out), "1500\n2235\n373\n");
    }

    // Not cut from the blocks: there is white to encode.
    EXPECT_EQ(RunCliProcess("export " + Quoted(photo) + " --to " + Quoted(storage.Host("out")) +
                                " --frame whole --lossless",
                            out, err),
              2);
    EXPECT_NE(Slurp(err).find("--lossless cannot put the whole photograph on white"), std::string::npos) << Slurp(err);
}

namespace {

double MeanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / static_cast<double>(a.size());
}

}  // namespace

// Phone photographs made from a portrait JPEG (by heif-enc, and stored on
// their side by libheif with an EXIF that still says 6) come out as the
// JPEG's own export does: upright once, same size, sRGB without a profile,
// the EXIF's Make kept and no turning tag. What cannot be exported says why
// and leaves nothing behind.
TEST(CliProcess, PhonePhotographsExportAsTheirJpegTwin) {
    if (std::system("command -v heif-enc >/dev/null && command -v exiftool >/dev/null") != 0)
        GTEST_SKIP() << "heif-enc and exiftool are needed";
    TempStorage storage;
    const int w = 960, h = 1280;
    const std::vector<uint8_t> upright = PhonePhoto(w, h);
    const std::string twin = storage.Host("p.jpg");
    WriteFile(twin, EncodePlain(upright.data(), w, h, 95));
    ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Make=Phonemaker " + Quoted(twin)).c_str()), 0);
    const std::string enc = "heif-enc -q 95 -p chroma=444 " + Quoted(twin);
    ASSERT_EQ(std::system((enc + " -o " + Quoted(storage.Host("p.heic")) + " >/dev/null").c_str()), 0);
    const bool avif = std::system((enc + " -A -o " + Quoted(storage.Host("p.avif")) + " >/dev/null 2>&1").c_str()) == 0;
    // The twin's pixels stored on their side, turned 90 degrees clockwise
    // when shown, with the twin's EXIF saying so too.
    DecodedJpeg decoded;
    ASSERT_TRUE(DecodeTestJpeg(twin, decoded));
    std::vector<uint8_t> side(decoded.rgb.size());
    for (int sy = 0; sy < w; ++sy)
        for (int sx = 0; sx < h; ++sx)
            std::memcpy(&side[(size_t(sy) * h + sx) * 3], &decoded.rgb[(size_t(sx) * w + (w - 1 - sy)) * 3], 3);
    ASSERT_TRUE(TurnUpright(side, h, w, 6) == decoded.rgb);
    const std::string tagged = storage.Host("tagged.jpg"), exif = storage.Host("exif");
    WriteFile(tagged, ReadFile(twin));
    ASSERT_EQ(std::system(("exiftool -q -overwrite_original -Orientation#=6 " + Quoted(tagged) + " && exiftool -b -EXIF " +
                           Quoted(tagged) + " > " + Quoted(exif))
                              .c_str()),
              0);
    HeifRecipe turned;
    turned.width = h;
    turned.height = w;
    turned.orientation = heif_orientation_rotate_90_cw;
    turned.exifTiff = ReadFile(exif);
    ASSERT_TRUE(WriteTestHeif(turned, side, storage.Host("turned.HEIC")));

    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    auto exportTo = [&](const std::string& photo, const std::string& folder, const std::string& args = "") {
        storage.Folder(folder);
        return RunCliProcess("export " + Quoted(storage.Host(photo)) + " --portrait --keep-metadata --to " +
                                 Quoted(storage.Host(folder)) + args,
                             out, err);
    };
    ASSERT_EQ(exportTo("p.jpg", "jpeg"), 0) << Slurp(err);
    DecodedJpeg expected;
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("jpeg/p_10x15.jpg"), expected));
    std::vector<std::pair<std::string, std::string>> phones = {{"p.heic", "p_10x15.jpg"},
                                                              {"turned.HEIC", "turned_10x15.jpg"}};
    if (avif) phones.emplace_back("p.avif", "p_10x15.jpg");
    for (const auto& [photo, written] : phones) {
        SCOPED_TRACE(photo);
        const std::string folder = "from-" + photo;
        ASSERT_EQ(exportTo(photo, folder), 0) << Slurp(err);
        EXPECT_EQ(Entries(storage.Host(folder)), std::vector<std::string>{written});
        const std::string path = storage.Host(folder + "/" + written);
        DecodedJpeg got;
        ASSERT_TRUE(DecodeTestJpeg(path, got));
        EXPECT_EQ(got.width, expected.width);
        EXPECT_EQ(got.height, expected.height);
        EXPECT_LT(MeanDifference(got.rgb, expected.rgb), 2.5);
        EXPECT_EQ(Slurp(path).find("ICC_PROFILE"), std::string::npos);
        ASSERT_EQ(std::system(("exiftool -s3 -n -Make -Orientation " + Quoted(path) + " > " + Quoted(out)).c_str()),
                  0);
        const std::string tags = Slurp(out);
        EXPECT_TRUE(tags == "Phonemaker\n" || tags == "Phonemaker\n1\n") << tags;
    }
    // A frame away from the left edge, through a tone curve: the same.
    const std::string framed = " --frame 100,200,700,1100 --preset 3";
    ASSERT_EQ(exportTo("p.jpg", "framed-jpeg", framed), 0) << Slurp(err);
    ASSERT_EQ(exportTo("turned.HEIC", "framed-heic", framed), 0) << Slurp(err);
    DecodedJpeg framedJpeg, framedHeic;
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("framed-jpeg/p_10x15.jpg"), framedJpeg));
    ASSERT_TRUE(DecodeTestJpeg(storage.Host("framed-heic/turned_10x15.jpg"), framedHeic));
    EXPECT_EQ(framedHeic.width, framedJpeg.width);
    EXPECT_LT(MeanDifference(framedHeic.rgb, framedJpeg.rgb), 2.5);

    ASSERT_EQ(RunCliProcess("preview " + Quoted(storage.Host("turned.HEIC")) + " --box 800x600 --out " +
                                Quoted(storage.Host("p.ppm")),
                            out, err),
              0);
    EXPECT_NE(Slurp(out).find("source 960x1280"), std::string::npos) << Slurp(out);

    // Refused, each with its reason, and nothing written.
    WriteFile(storage.Host("cut.heic"), ReadFile(storage.Host("p.heic")).substr(0, 20000));
    std::string noise(50000, '\0');
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 7919u + i / 13) & 0xff);
    WriteFile(storage.Host("noise.heic"), noise);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"p.heic", "no JPEG data to cut"}, {"cut.heic", "cannot decode the photograph: it is incomplete"}, {"noise.heic", "cannot decode"}};
    for (const auto& [photo, reason] : refused) {
        SCOPED_TRACE(photo);
        const std::string folder = "refused-" + photo;
        EXPECT_EQ(exportTo(photo, folder, photo == "p.heic" ? " --lossless" : ""), 1);
        EXPECT_NE(Slurp(err).find(photo + ": "), std::string::npos) << Slurp(err);
        EXPECT_NE(Slurp(err).find(reason), std::string::npos) << Slurp(err);
        EXPECT_TRUE(Entries(storage.Host(folder)).empty());
    }
}

namespace {

// A mixed folder as a phone leaves it: a landscape, a portrait, and a
// portrait stored on its side. With --portrait auto each is framed as it
// stands; exported into its own folder twice, the first run's files are
// not taken for photographs.
TEST(CliProcess, MixedFolderTakesEachOrientationAndSkipsItsOwnExports) {
    TempStorage storage;
    storage.Folder("in");
    const std::string in = storage.Host("in"), out = storage.Host("stdout"), err = storage.Host("stderr");
    auto pixel = [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 90}; };
    ASSERT_TRUE(WriteTestJpeg(storage.Host("in/a_sunset.jpg"), 1024, 768, pixel));
    ASSERT_TRUE(WriteTestJpeg(storage.Host("in/b_tower.jpg"), 900, 1200, pixel));
    WriteFile(storage.Host("in/c_turned.jpg"), WithExif(EncodeJpeg({1200, 800, 2, 2}), OrientationTiff(6)));

    const std::string args = "export " + Quoted(in) + " --to " + Quoted(in) + " --portrait auto --format 10x15cm --json";
    ASSERT_EQ(RunCliProcess(args, out, err), 0) << Slurp(err);
    EXPECT_EQ(Slurp(err), "");
    const std::vector<std::string> sizes = {"\"width_px\":1024,\"height_px\":687", "\"width_px\":805,\"height_px\":1200",
                                            "\"width_px\":800,\"height_px\":1192"};
    for (const std::string& size : sizes) EXPECT_NE(Slurp(out).find(size), std::string::npos) << size << Slurp(out);

    ASSERT_EQ(RunCliProcess(args, out, err), 0) << Slurp(err);
    EXPECT_EQ(Slurp(err), "trimora-cli: " + in +
                              ": skipped 3 files this program wrote (a photograph's name with a print format's "
                              "suffix, beside it)\n");
    EXPECT_EQ(Entries(in), (std::vector<std::string>{"a_sunset.jpg", "a_sunset_10x15.jpg", "b_tower.jpg",
                                                     "b_tower_10x15.jpg", "c_turned.jpg", "c_turned_10x15.jpg"}));
    // A photograph named like an export, with nothing it was made from
    // beside it, is a photograph.
    std::filesystem::remove(storage.Host("in/b_tower.jpg"));
    ASSERT_EQ(RunCliProcess(args, out, err), 0) << Slurp(err);
    EXPECT_NE(Slurp(out).find("b_tower_10x15_10x15.jpg"), std::string::npos) << Slurp(out);
    EXPECT_NE(Slurp(err).find("skipped 2 files"), std::string::npos) << Slurp(err);
}

// A folder no file can be made in is refused before any photograph is
// read, in one line, as a --to that is no folder is.
TEST(CliProcess, UnwritableDestinationIsRefusedOnce) {
    TempStorage storage;
    storage.Folder("locked");
    const std::string out = storage.Host("stdout"), err = storage.Host("stderr");
    auto pixel = [](int x, int y) { return Rgb{uint8_t(x), uint8_t(y), 90}; };
    ASSERT_TRUE(WriteTestJpeg(storage.Host("a.jpg"), 1024, 768, pixel));
    ASSERT_TRUE(WriteTestJpeg(storage.Host("b.jpg"), 1024, 768, pixel));
    // The superuser writes into a folder of mode 555; sysfs refuses even him.
    std::string locked = storage.Host("locked");
    ASSERT_EQ(chmod(locked.c_str(), 0555), 0);
    if (geteuid() == 0) locked = "/sys";
    if (!std::filesystem::is_directory(locked)) GTEST_SKIP() << locked;
    for (const std::string json : {"", " --json"}) {
        const std::string args = "export " + Quoted(storage.Host("a.jpg")) + " " + Quoted(storage.Host("b.jpg")) +
                                 " --to " + Quoted(locked) + json;
        EXPECT_EQ(RunCliProcess(args, out, err), 1);
        EXPECT_EQ(Slurp(out), "");
        const std::string head = "trimora-cli: " + locked + ": cannot write into this folder: ";
        const std::string text = Slurp(err);
        EXPECT_EQ(text.compare(0, head.size(), head), 0) << text;
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }
}

}  // namespace
