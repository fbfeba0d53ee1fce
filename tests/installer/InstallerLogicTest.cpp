#include "InstallerLogic.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace installer;

namespace {

// A folder of the test's own whose name holds spaces, removed afterwards.
class ReadmeFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::temp_directory_path() /
                (std::string("trimora installer ") + info->name() + " " +
                 std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string Write(const std::string& bytes)
    {
        const fs::path path = m_dir / "readme.txt";
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    fs::path m_dir;
};

}  // namespace

TEST(InstallerPaths, ReadmeAndPackageDescriptionLieBesideTheExecutable)
{
    EXPECT_EQ(ReadmePathFor("C:\\Setup\\installer.exe"), "C:\\Setup\\readme.txt");
    EXPECT_EQ(InstallCommandLine("C:\\Setup\\installer.exe"), "\"C:\\Setup\\Trimora.ini\"");

    // Spaces and dots in folder names must survive untouched.
    const std::string spaced = "D:\\Program Files\\Trimora 1.2 Setup\\installer.exe";
    EXPECT_EQ(ReadmePathFor(spaced), "D:\\Program Files\\Trimora 1.2 Setup\\readme.txt");
    EXPECT_EQ(InstallCommandLine(spaced),
              "\"D:\\Program Files\\Trimora 1.2 Setup\\Trimora.ini\"");

    // Root of a drive, a network share, forward slashes, a native path.
    EXPECT_EQ(InstallCommandLine("E:\\installer.exe"), "\"E:\\Trimora.ini\"");
    EXPECT_EQ(ReadmePathFor("\\\\lab server\\share\\installer.exe"),
              "\\\\lab server\\share\\readme.txt");
    EXPECT_EQ(ReadmePathFor("C:/Setup/installer.exe"), "C:/Setup/readme.txt");
    EXPECT_EQ(InstallCommandLine("/home/lab/my setup/installer"),
              "\"/home/lab/my setup/Trimora.ini\"");

    // No folder at all: the files are looked for relative to the current one.
    EXPECT_EQ(ReadmePathFor("installer.exe"), "readme.txt");
    EXPECT_EQ(InstallCommandLine("installer.exe"), "\"Trimora.ini\"");
}

TEST(InstallerPaths, LongPathsAreNotCut)
{
    std::string folder = "C:";
    for (int i = 0; i < 40; ++i)
        folder += "\\a rather long folder name";
    const std::string exe = folder + "\\installer.exe";
    ASSERT_GT(exe.size(), 1000u);
    EXPECT_EQ(ReadmePathFor(exe), folder + "\\readme.txt");
    EXPECT_EQ(InstallCommandLine(exe), "\"" + folder + "\\Trimora.ini\"");
}

TEST(InstallerPaths, SplitAndMakeBehaveLikeTheCRuntime)
{
    const PathParts parts = SplitPath("C:\\My Setup\\v1.0\\installer.setup.exe");
    EXPECT_EQ(parts.drive, "C:");
    EXPECT_EQ(parts.dir, "\\My Setup\\v1.0\\");
    EXPECT_EQ(parts.fname, "installer.setup");
    EXPECT_EQ(parts.ext, ".exe");

    const PathParts bare = SplitPath("C:installer");
    EXPECT_EQ(bare.drive, "C:");
    EXPECT_EQ(bare.dir, "");
    EXPECT_EQ(bare.fname, "installer");
    EXPECT_EQ(bare.ext, "");

    // A dot in a folder name is no extension.
    EXPECT_EQ(SplitPath("C:\\v1.0\\installer").ext, "");

    EXPECT_EQ(MakePath("C:", "\\Setup", "readme", "txt"), "C:\\Setup\\readme.txt");
    EXPECT_EQ(MakePath("C", "\\Setup\\", "readme", ".txt"), "C:\\Setup\\readme.txt");
    EXPECT_EQ(MakePath("", "", "readme", ""), "readme");
}

TEST(ReadmeLines, EveryLineIsFollowedByCrLf)
{
    auto join = [](std::string_view content) {
        std::string text;
        AppendReadmeLines(content, text);
        return text;
    };
    EXPECT_EQ(join("one\ntwo\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(join("one\r\ntwo\r\n"), "one\r\ntwo\r\n");
    EXPECT_EQ(join("one\r\ntwo\nthree"), "one\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(join("last line without end"), "last line without end\r\n");
    EXPECT_EQ(join(""), "");

    // Empty lines are lines too.
    EXPECT_EQ(join("\n"), "\r\n");
    EXPECT_EQ(join("a\n\n\nb"), "a\r\n\r\n\r\nb\r\n");
    EXPECT_EQ(join("\r\n\r\n"), "\r\n\r\n");

    // Text mode only folds a CR that stands right before the LF.
    EXPECT_EQ(join("a\rb\n"), "a\rb\r\n");
    EXPECT_EQ(join("a\r\r\n"), "a\r\r\n");

    // 8-bit text passes as it is; NUL bytes would hide the rest of the text.
    EXPECT_EQ(join(std::string_view("caf\xe9 \x01\0x\n", 9)), "caf\xe9 \x01x\r\n");
}

TEST(ReadmeLines, AppendsToWhatIsAlreadyThere)
{
    std::string text = "kept\r\n";
    AppendReadmeLines("more", text);
    EXPECT_EQ(text, "kept\r\nmore\r\n");
}

TEST_F(ReadmeFileTest, ReadsCrLfAndLfFiles)
{
    std::string text;
    ASSERT_TRUE(LoadReadme(Write("Trimora\r\n\r\nInstall it.\nNo end"), text));
    EXPECT_EQ(text, "Trimora\r\n\r\nInstall it.\r\nNo end\r\n");
}

TEST_F(ReadmeFileTest, EmptyFileGivesEmptyText)
{
    std::string text;
    EXPECT_TRUE(LoadReadme(Write(""), text));
    EXPECT_EQ(text, "");
}

TEST_F(ReadmeFileTest, MissingOrUnreadableFileLeavesTextAlone)
{
    std::string text = "untouched";
    EXPECT_FALSE(LoadReadme((m_dir / "readme.txt").string(), text));
    EXPECT_FALSE(LoadReadme((m_dir / "no such folder" / "readme.txt").string(), text));
    fs::create_directory(m_dir / "readme.txt");
    EXPECT_FALSE(LoadReadme((m_dir / "readme.txt").string(), text));
    EXPECT_EQ(text, "untouched");
}

TEST_F(ReadmeFileTest, HugeFileIsCutAtTheLimit)
{
    std::string big(MAX_README_BYTES + 4096, 'x');
    for (std::size_t i = 99; i < big.size(); i += 100)
        big[i] = '\n';
    std::string text;
    ASSERT_TRUE(LoadReadme(Write(big), text));
    // 99 characters and a line end per hundred bytes read, plus the cut line.
    EXPECT_LE(text.size(), MAX_README_BYTES + MAX_README_BYTES / 100 + 2);
    EXPECT_GE(text.size(), MAX_README_BYTES);
    EXPECT_EQ(text.substr(0, 101), std::string(99, 'x') + "\r\n");
}
