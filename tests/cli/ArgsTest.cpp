// Parsing the command line: what is accepted, and what is a usage error.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>

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

namespace {

std::string UsageError(std::vector<std::string> args) {
    CliOptions o;
    std::string error;
    return ParseArgs(args, o, error) ? "(accepted)" : error;
}

// "--portrait auto" takes only that word: a photograph after the switch
// stays a photograph, in its place.
TEST(Args, PortraitAutoAndFormatNamesWithoutSpaces) {
    CliOptions o;
    ASSERT_TRUE(Parse({"export", "a.jpg", "--portrait", "b.jpg", "--to", "o", "--format", "10x15cm"}, o));
    EXPECT_TRUE(o.portrait);
    EXPECT_FALSE(o.autoPortrait);
    EXPECT_EQ(o.photos, (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(o.format, 2);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"export", "a", "--portrait", "auto", "--to", "o"},
                                                 std::vector<std::string>{"export", "a", "--portrait=auto", "--to", "o"},
                                                 std::vector<std::string>{"export", "--portrait", "--portrait", "auto", "a",
                                                                          "--to", "o"}}) {
        ASSERT_TRUE(Parse(args, o)) << ::testing::PrintToString(args);
        EXPECT_TRUE(o.autoPortrait);
        EXPECT_FALSE(o.portrait);
        EXPECT_EQ(o.photos, std::vector<std::string>{"a"});
    }
}

// The message names what is wrong, as the hand-written parser did; the
// first wrong word of the line is the one named.
TEST(Args, UsageErrorsNameTheOffendingWord) {
    EXPECT_EQ(UsageError({"export", "a", "--to", "o", "--bogus"}), "unknown option '--bogus' for export");
    EXPECT_EQ(UsageError({"export", "-5.jpg", "--to", "o"}), "unknown option '-5.jpg' for export");
    EXPECT_EQ(UsageError({"preview", "a", "--json=yes"}), "unknown option '--json' for preview");
    EXPECT_EQ(UsageError({"export", "a", "--to", "o", "--portrait=yes"}), "option --portrait takes no value");
    EXPECT_EQ(UsageError({"export", "a", "--to=", "b"}), "--to needs a folder");
    EXPECT_EQ(UsageError({"export", "a", "--to"}), "option --to needs a value");
    EXPECT_EQ(UsageError({"export", "a", "--to", "o", "--quality", "9x", "--jobs", "0"}),
              "--quality takes 0 to 100, not '9x'");
    EXPECT_EQ(UsageError({"export", "a", "--quality", "101", "--bogus", "--to"}), "--quality takes 0 to 100, not '101'");
    EXPECT_EQ(UsageError({"export", "a", "--quality", "100", "--help=x"}), "unknown option '--help' for export");
    EXPECT_EQ(UsageError({"export", "a", "--to", "o", "--format", "11x17"}),
              "no print format '11x17' (see 'trimora-cli formats')");
    EXPECT_EQ(UsageError({"export", "a", "--to", "o", "--lossless", "--preset", "0"}),
              "--lossless cannot apply a tone preset: it does not decode the photograph");
    // A value is taken whatever it looks like; "--" after the options ends them.
    CliOptions o;
    ASSERT_TRUE(Parse({"export", "--to", "--", "--frame", "-10,-20,300,400", "a", "--", "--json"}, o));
    EXPECT_EQ(o.toDir, "--");
    EXPECT_EQ(o.frame, CRect(-10, -20, 300, 400));
    EXPECT_EQ(o.photos, (std::vector<std::string>{"a", "--json"}));
    EXPECT_FALSE(o.json);
    // Help ends the line's reading, but not before an error ahead of it.
    EXPECT_TRUE(Parse({"export", "--help", "--bogus"}, o));
    EXPECT_TRUE(o.help);
    EXPECT_EQ(UsageError({"export", "--quality", "101", "--help"}), "--quality takes 0 to 100, not '101'");
}

std::string SourceFile(const std::string& path) {
    std::ifstream in(std::string(TRIMORA_SOURCE_DIR) + "/" + path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// name as a whole word of text: not the start of a longer option.
bool Mentions(const std::string& text, const std::string& name) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        const char next = at + name.size() < text.size() ? text[at + name.size()] : ' ';
        if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-') return true;
    }
    return false;
}

std::set<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return std::set<std::string>(std::istream_iterator<std::string>(in), {});
}

// The bash completion offers each command exactly the parser's options,
// completes the value of each option that takes one, and offers the fixed
// words; the help, the man page and the README name every option.
TEST(Args, CompletionManPageReadmeAndHelpAgreeWithTheParser) {
    const std::string completion = SourceFile("desktop/completions/trimora-cli");
    std::string man = SourceFile("desktop/man/trimora-cli.1");
    for (size_t at = man.find("\\-"); at != std::string::npos; at = man.find("\\-", at)) man.erase(at, 1);
    const std::string readme = SourceFile("README.md");
    ASSERT_FALSE(completion.empty() || man.empty() || readme.empty());

    std::set<std::string> takesValue, completedValue;
    const std::regex valueCase(R"(\n +(--[a-z-]+(?: \| --[a-z-]+)*)\)\n)");
    for (std::sregex_iterator it(completion.begin(), completion.end(), valueCase), end; it != end; ++it)
        for (const std::string& word : Words((*it)[1].str()))
            if (word != "|") completedValue.insert(word);
    const size_t commands = completion.find("case $command in");
    ASSERT_NE(commands, std::string::npos);
    for (const std::string& name : CommandNames()) {
        SCOPED_TRACE(name);
        const CliCommand command = [&] {
            CliOptions o;
            std::string error;
            ParseArgs({name, "--help"}, o, error);
            return o.command;
        }();
        const size_t block = completion.find("\n        " + name + ")", commands);
        ASSERT_NE(block, std::string::npos);
        const size_t open = completion.find("options=\"", block) + 9;
        std::set<std::string> offered = Words(completion.substr(open, completion.find('"', open) - open));
        std::set<std::string> parsed;
        for (const CliOptionInfo& option : CommandOptions(command)) {
            parsed.insert(option.name);
            if (!option.value.empty() || !option.words.empty()) takesValue.insert(option.name);
            if (!option.words.empty()) {
                EXPECT_TRUE(Mentions(completion, "-W \"" + option.words + "\"")) << option.name;
            }
            EXPECT_TRUE(Mentions(man, option.name)) << option.name;
            EXPECT_TRUE(Mentions(readme, option.name)) << option.name;
            if (option.name != "--help") {
                EXPECT_TRUE(Mentions(HelpText(command), option.name)) << option.name;
            }
        }
        EXPECT_EQ(offered, parsed);
        EXPECT_TRUE(Mentions(completion, name)) << name;
    }
    EXPECT_EQ(completedValue, takesValue);
    EXPECT_TRUE(Mentions(man, "--portrait auto"));
    EXPECT_TRUE(Mentions(readme, "--portrait auto"));
}

}  // namespace
