// Parsing the command line: what is accepted, and what is a usage error.
#include <gtest/gtest.h>

#include "cli/Args.h"

namespace {

bool Parse(std::vector<std::string> args, CliOptions& o, std::string* error = nullptr) {
    std::string e;
    const bool ok = ParseArgs(args, o, e);
    if (error) *error = e;
    return ok;
}

TEST(Args, ExportDefaultsAreThoseTheProgramStartsWithButForACentredFrame) {
    CliOptions o;
    ASSERT_TRUE(Parse({"export", "a.jpg", "b.jpg", "--to", "out"}, o));
    EXPECT_EQ(o.command, CliCommand::Export);
    EXPECT_EQ(o.photos, (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(o.toDir, "out");
    EXPECT_EQ(o.format, 2);
    EXPECT_FALSE(o.portrait);
    EXPECT_TRUE(o.correctLab);
    EXPECT_EQ(o.preset, PRESET_INDEX_NONE);
    EXPECT_EQ(o.frameMode, FrameMode::Center);
    EXPECT_EQ(o.quality, 95);
    EXPECT_EQ(o.jobs, 0);
    EXPECT_EQ(o.minDpi, 150);
    EXPECT_FALSE(o.json);

    ASSERT_TRUE(Parse({"export", "a", "--to", "o", "--frame", "fit", "--min-dpi=300", "--json"}, o));
    EXPECT_EQ(o.frameMode, FrameMode::Fit);
    EXPECT_EQ(o.minDpi, 300);
    EXPECT_TRUE(o.json);
}

TEST(Args, ExportOptionsInAnyOrderAndBothSpellings) {
    CliOptions o;
    ASSERT_TRUE(Parse({"export", "--format=A4", "--portrait", "a.jpg", "--no-lab-correction", "--preset", "bright",
                       "--frame", "10,-20,300,400", "--quality=80", "--jobs", "3", "--to=out", "--", "-odd.jpg"},
                      o));
    EXPECT_EQ(o.format, 13);
    EXPECT_TRUE(o.portrait);
    EXPECT_FALSE(o.correctLab);
    EXPECT_EQ(o.preset, 6);
    EXPECT_EQ(o.frameMode, FrameMode::Given);
    EXPECT_EQ(o.frame, CRect(10, -20, 300, 400));
    EXPECT_EQ(o.quality, 80);
    EXPECT_EQ(o.jobs, 3);
    EXPECT_EQ(o.photos, (std::vector<std::string>{"a.jpg", "-odd.jpg"}));

    ASSERT_TRUE(Parse({"export", "a", "--to", "o", "--format", "Envelope #10", "--frame", "center"}, o));
    EXPECT_EQ(o.format, 18);
    EXPECT_EQ(o.frameMode, FrameMode::Center);
    ASSERT_TRUE(Parse({"export", "a", "--to", "o", "--format", "33", "--preset", "12"}, o));
    EXPECT_EQ(o.format, 33);
    EXPECT_EQ(o.preset, 12);
}

TEST(Args, BadValuesAreUsageErrors) {
    CliOptions o;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"crop"},
        {"export", "a.jpg"},
        {"export", "--to", "out"},
        {"export", "a", "--to"},
        {"export", "a", "--to", "o", "--format", "34"},
        {"export", "a", "--to", "o", "--format", "11x17"},
        {"export", "a", "--to", "o", "--preset", "13"},
        {"export", "a", "--to", "o", "--preset", "Sepia"},
        {"export", "a", "--to", "o", "--frame", "1,2,3"},
        {"export", "a", "--to", "o", "--min-dpi", "-1"},
        {"export", "a", "--to", "o", "--min-dpi", "lots"},
        {"export", "a", "--to", "o", "--json=yes"},
        {"preview", "a", "--box", "10x10", "--out", "a.ppm", "--json"},
        {"export", "a", "--to", "o", "--frame", "1,2,3,4,5"},
        {"export", "a", "--to", "o", "--frame", "1,2,x,4"},
        {"export", "a", "--to", "o", "--frame", "0,0,2147483648,4"},
        {"export", "a", "--to", "o", "--quality", "101"},
        {"export", "a", "--to", "o", "--quality", "9x"},
        {"export", "a", "--to", "o", "--jobs", "0"},
        {"export", "a", "--to", "o", "--portrait=yes"},
        {"export", "a", "--to", "o", "--box", "10x10"},
        {"preview", "a.jpg", "--box", "236x177"},
        {"preview", "a.jpg", "--box", "801x600", "--out", "p.ppm"},
        {"preview", "a.jpg", "--box", "236x0", "--out", "p.ppm"},
        {"preview", "a.jpg", "--box", "236x177", "--out", "p.png"},
        {"preview", "a.jpg", "b.jpg", "--box", "236x177", "--out", "p.ppm"},
        {"curve"},
        {"curve", "--preset", "Bright", "extra"},
        {"formats", "extra"},
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(Parse(args, o, &error)) << ::testing::PrintToString(args);
        EXPECT_FALSE(error.empty());
    }
}

TEST(Args, HelpForTheProgramAndForEachCommand) {
    CliOptions o;
    ASSERT_TRUE(Parse({"--help"}, o));
    EXPECT_TRUE(o.help);
    EXPECT_EQ(o.command, CliCommand::None);
    ASSERT_TRUE(Parse({"export", "--help"}, o));
    EXPECT_TRUE(o.help);
    EXPECT_EQ(o.command, CliCommand::Export);
    for (CliCommand c : {CliCommand::None, CliCommand::Formats, CliCommand::Export, CliCommand::Preview,
                         CliCommand::Curve})
        EXPECT_NE(HelpText(c).find("Usage: trimora-cli"), std::string::npos);
}

TEST(Args, PreviewBoxAndOutput) {
    CliOptions o;
    ASSERT_TRUE(Parse({"preview", "p.jpg", "--box", "800x600", "--out", "x.bmp"}, o));
    EXPECT_EQ(o.box, CSize(800, 600));
    EXPECT_EQ(o.out, "x.bmp");
}

}  // namespace

namespace {

TEST(Args, VersionAlone) {
    CliOptions o;
    ASSERT_TRUE(Parse({"--version"}, o));
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(Parse({"--version", "export"}, o));
    EXPECT_FALSE(Parse({"formats", "--version"}, o));
    EXPECT_EQ(VersionText(), "trimora-cli " TRIMORA_VERSION "\n");
}

}  // namespace
