#include "platform/DeviceFs.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <fstream>
#include <map>

#include "tests/platform/TempFolder.h"

namespace {

std::string ReadAll(FILE* f) {
    std::string s;
    char buf[64];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
}

std::map<std::wstring, uint32_t> List(const std::wstring& pattern, bool* ok = nullptr) {
    std::vector<devfs::FindData> found;
    bool result = devfs::FindFiles(pattern, found);
    if (ok) *ok = result;
    std::map<std::wstring, uint32_t> byName;
    for (const auto& f : found) byName[f.name] = f.attributes;
    return byName;
}

TEST(DeviceFsPaths, ResolvesStoredNamesWhateverTheCaseAskedFor) {
    TempStorage s;
    s.File("DCIM/IMG_0001.JPG", "upper");
    s.File("dcim2/sub/photo.jpg", "lower");

    EXPECT_EQ(devfs::ToHostPath(L"\\dcim\\img_0001.jpg"), s.Host("DCIM/IMG_0001.JPG"));
    EXPECT_EQ(devfs::ToHostPath(L"\\DCIM2\\SUB\\PHOTO.JPG"), s.Host("dcim2/sub/photo.jpg"));
    EXPECT_EQ(devfs::ToHostPath(L"\\Dcim\\"), s.Host("DCIM/"));
    EXPECT_EQ(devfs::ToHostPath(L"\\"), s.Root() + "/");

    FILE* f = devfs::OpenFile(L"\\dcim\\img_0001.jpg", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ReadAll(f), "upper");
}

TEST(DeviceFsPaths, NewFileLandsBesideItsSourceUnderTheGivenName) {
    TempStorage s;
    s.File("DCIM/IMG_0001.JPG");

    EXPECT_EQ(devfs::ToHostPath(L"\\dcim\\img_0001_10x15.jpg"), s.Host("DCIM/img_0001_10x15.jpg"));
    FILE* f = devfs::OpenFile(L"\\dcim\\img_0001_10x15.jpg", "wb");
    ASSERT_NE(f, nullptr);
    fputs("out", f);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(s.Host("DCIM/img_0001_10x15.jpg")));
    // A missing folder is not invented: the file cannot be made there.
    EXPECT_EQ(devfs::OpenFile(L"\\nowhere\\a.jpg", "wb"), nullptr);
}

TEST(DeviceFsPaths, ExactSpellingWinsOverOtherCases) {
    TempStorage s;
    s.File("a.jpg", "small");
    s.File("A.JPG", "capital");
    EXPECT_EQ(devfs::ToHostPath(L"\\a.jpg"), s.Host("a.jpg"));
    EXPECT_EQ(devfs::ToHostPath(L"\\A.JPG"), s.Host("A.JPG"));
    // Neither spelling given: the choice is still the same every time.
    EXPECT_EQ(devfs::ToHostPath(L"\\a.JPG"), s.Host("A.JPG"));
}

TEST(DeviceFsPaths, NonAsciiNamesFoldToo) {
    TempStorage s;
    s.File("ÄPFEL/Über.jpg", "u");
    EXPECT_EQ(devfs::ToHostPath(L"\\äpfel\\über.JPG"), s.Host("ÄPFEL/Über.jpg"));
}

TEST(DeviceFsPaths, NeverLeadsAboveTheStorageRoot) {
    TempStorage s;
    s.File("inside.jpg");
    EXPECT_EQ(devfs::ToHostPath(L"\\..\\..\\etc\\passwd"), s.Host("etc/passwd"));
    EXPECT_EQ(devfs::ToHostPath(L"\\a\\..\\..\\inside.jpg"), s.Host("inside.jpg"));
    EXPECT_EQ(devfs::ToHostPath(std::wstring(L"\\inside.jpg\0/../x", 17)), s.Host("inside.jpg"));
}

TEST(DeviceFsPaths, DefaultRootIsTheHostRoot) {
    std::string before = devfs::GetStorageRoot();
    devfs::SetStorageRoot("");
    EXPECT_EQ(devfs::GetStorageRoot(), "/");
    devfs::SetStorageRoot("/tmp///");
    EXPECT_EQ(devfs::GetStorageRoot(), "/tmp");
    devfs::SetStorageRoot(before);
}

TEST(DeviceFsFind, GivesNamesAndAttributeBits) {
    TempStorage s;
    s.File("photo.jpg");
    s.Folder("DCIM");
    s.File(".hidden.jpg");
    s.Folder(".thumbs");
    s.Link("DCIM", "linked");
    s.Link("missing-target", "broken.jpg");
    s.Link("loop.jpg", "loop.jpg");
    ASSERT_EQ(mkfifo(s.Host("pipe.jpg").c_str(), 0644), 0);

    bool ok = false;
    auto found = List(L"\\*.*", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(found.size(), 8u);
    EXPECT_EQ(found[L"photo.jpg"], FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(found[L"DCIM"], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[L".hidden.jpg"], FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(found[L".thumbs"], FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[L"linked"], FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[L"broken.jpg"], FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(found[L"loop.jpg"], FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(found[L"pipe.jpg"], FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(found.count(L"."), 0u);
    EXPECT_EQ(found.count(L".."), 0u);
}

TEST(DeviceFsFind, SocketsAreSystemEntries) {
    TempStorage s;
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string path = s.Host("sock.jpg");
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::copy(path.begin(), path.end(), addr.sun_path);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(List(L"\\*.*")[L"sock.jpg"], FILE_ATTRIBUTE_SYSTEM);
    close(fd);
}

TEST(DeviceFsFind, PatternsMatchCaseInsensitively) {
    TempStorage s;
    s.File("Sub/IMG_0001.JPG");
    s.File("sub/x");  // a second folder, differing only by case, is not merged
    s.File("Sub/notes.txt");
    s.File("Sub/README");
    s.File("Sub/a.jpg.bak");

    auto jpg = List(L"\\SUB\\*.jpg");
    EXPECT_EQ(jpg.size(), 1u);
    EXPECT_EQ(jpg.count(L"IMG_0001.JPG"), 1u);
    EXPECT_EQ(List(L"\\Sub\\*.*").size(), 4u);  // names without a dot too
    EXPECT_EQ(List(L"\\Sub\\?????.txt").size(), 1u);
    EXPECT_EQ(List(L"\\Sub\\*.jpg*").size(), 2u);
}

TEST(DeviceFsFind, UnreadableFoldersGiveFalse) {
    TempStorage s;
    s.File("file.jpg");
    s.File("locked/inside.jpg");
    chmod(s.Host("locked").c_str(), 0);

    bool ok = true;
    EXPECT_TRUE(List(L"\\missing\\*.*", &ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_TRUE(List(L"\\file.jpg\\*.*", &ok).empty());
    EXPECT_FALSE(ok);
    {
        Unprivileged user;
        if (!Unprivileged::Locks(s.Host("locked"))) GTEST_SKIP() << "folder permissions do not apply";
        EXPECT_TRUE(List(L"\\locked\\*.*", &ok).empty());
        EXPECT_FALSE(ok);
        // The folder itself still shows in its parent.
        EXPECT_EQ(List(L"\\*.*")[L"locked"], FILE_ATTRIBUTE_DIRECTORY);
    }
}

TEST(DeviceFsFind, NamesADevicePathCannotHoldAreSkipped) {
    TempStorage s;
    s.File("good.jpg");
    s.File("bad\xff\xfe.jpg");
    s.File("half\xc3.jpg");
    s.File("back\\slash.jpg");
    s.File("Ünïcode.jpg");

    auto found = List(L"\\*.*");
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(found.count(L"good.jpg"), 1u);
    EXPECT_EQ(found.count(L"\u00dcn\u00efcode.jpg"), 1u);
    // Resolving beside such names neither fails nor picks them.
    EXPECT_EQ(devfs::ToHostPath(L"\\GOOD.JPG"), s.Host("good.jpg"));
}

TEST(DeviceFsNames, LowerCaseAndOrder) {
    EXPECT_EQ(devfs::LowerName(L"IMG_0001.JPG"), L"img_0001.jpg");
    EXPECT_EQ(devfs::LowerName(L"\u00c4RGER \u0416"), L"\u00e4rger \u0436");
    EXPECT_LT(devfs::CompareNames(L"alpha", L"Beta"), 0);
    EXPECT_GT(devfs::CompareNames(L"beta", L"ALPHA"), 0);
    EXPECT_LT(devfs::CompareNames(L"ab", L"abc"), 0);
    EXPECT_EQ(devfs::CompareNames(L"same", L"same"), 0);
    // Same letters, different case: still a fixed order.
    EXPECT_EQ(devfs::CompareNames(L"A", L"a"), -devfs::CompareNames(L"a", L"A"));
    EXPECT_NE(devfs::CompareNames(L"A", L"a"), 0);
}

}  // namespace
