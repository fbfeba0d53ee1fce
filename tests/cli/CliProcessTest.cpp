// The real program: exit statuses, and nothing but result lines on a pipe.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sys/wait.h>

#include "TestJpeg.h"
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

    EXPECT_EQ(RunCliProcess("export --to", out, err), 2);
    EXPECT_EQ(RunCliProcess("formats", out, err), 0);
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
}

}  // namespace
