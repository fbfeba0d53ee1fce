#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "TestJpeg.h"
#include "imaging/TempFile.h"
#include "platform/Strings.h"
#include "tests/platform/TempFolder.h"

namespace {

std::vector<std::string> Entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    return names;
}

TEST(TempFileTest, TemporaryNameFitsAFileNameAndCutsOnlyBetweenCharacters) {
    EXPECT_EQ(TempFile::TemporaryName("img_10x15.jpg", 42, 7, NAME_MAX), ".img_10x15.jpg.42-7.tmp");
    // Two-byte letters, so that every other cut would split one.
    std::string name;
    for (int i = 0; i < 120; ++i) name += "\xc3\xa9";
    name += ".jpg";
    for (size_t max : {size_t(NAME_MAX), size_t(100), size_t(101)}) {
        const std::string temp = TempFile::TemporaryName(name, 4194304, 4000000000u, max);
        EXPECT_LE(temp.size(), max);
        EXPECT_GE(temp.size(), max - 1);
        std::wstring wide;
        EXPECT_TRUE(FromUtf8(temp, wide)) << temp;
        EXPECT_TRUE(temp.starts_with(".\xc3\xa9") && temp.ends_with(".4194304-4000000000.tmp")) << temp;
    }
}

TEST(TempFileTest, CommitReplacesTheTargetAndDiscardLeavesNothing) {
    TempStorage storage;
    // Any name the folder takes can be the target, however long.
    const std::string target = storage.Host(std::string(240, 'n') + "_10x15.jpg");
    WriteFile(target, "old");
    chmod(target.c_str(), 0604);
    {
        TempFile file;
        ASSERT_TRUE(file.Create(target)) << file.Error();
        EXPECT_EQ(Entries(storage.Root()).size(), 2u);
        ASSERT_EQ(std::fputs("new", file.Stream()), 1);
        ASSERT_TRUE(file.Commit()) << file.Error();
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(Entries(storage.Root()).size(), 1u);
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0604u);

    {
        TempFile dropped;
        ASSERT_TRUE(dropped.Create(target));
        std::fputs("half", dropped.Stream());
    }  // not committed: removed
    TempFile failed;
    ASSERT_TRUE(failed.Create(target));
    failed.SetError(ENOSPC);
    EXPECT_FALSE(failed.Commit());
    EXPECT_EQ(failed.Error(), ENOSPC);
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(Entries(storage.Root()).size(), 1u);

    TempFile nowhere;
    EXPECT_FALSE(nowhere.Create(storage.Host("missing/x.jpg")));
    EXPECT_EQ(nowhere.Error(), ENOENT);
}

}  // namespace
