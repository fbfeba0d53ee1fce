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

    // For scripts: the failure is a JSON line too, after the written one.
    EXPECT_EQ(RunCliProcess("export '" + photo + "' '" + storage.Host("none.jpg") + "' --to '" + storage.Host("out") +
                                "' --json",
                            out, err),
              1);
    EXPECT_EQ(Slurp(out), "{\"source\":\"" + photo + "\",\"ok\":true,\"output\":\"" + storage.Host("out/p_10x15.jpg") +
                              "\",\"width_px\":1024,\"height_px\":687,\"width_cm\":15.2,\"height_cm\":10.2,\"dpi\":171,"
                              "\"warnings\":[],\"lossless\":null}\n"
                              "{\"source\":\"" + storage.Host("none.jpg") +
                              "\",\"ok\":false,\"error\":\"cannot open: No such file or directory\",\"warnings\":[]}\n");
    EXPECT_NE(Slurp(err).find("none.jpg: cannot open"), std::string::npos);

    EXPECT_EQ(RunCliProcess("export --to", out, err), 2);
    EXPECT_EQ(RunCliProcess("formats", out, err), 0);
}

}  // namespace
