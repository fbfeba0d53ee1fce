#pragma once
// The handheld's storage, laid over a folder of the host (the storage root).
// Device paths are wide strings with backslashes rooted at "\"; folder paths
// end with a backslash. Names resolve case-insensitively, as on the device.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

namespace devfs {

void SetStorageRoot(const std::string& hostFolder);
const std::string& GetStorageRoot();

// The host path for a device path. Components that exist are found whatever
// their case; a missing last component (a file about to be created) is kept
// as given.
std::string ToHostPath(const std::wstring& devicePath);

// fopen on a device path.
FILE* OpenFile(const std::wstring& devicePath, const char* mode);

struct FindData {
    std::wstring name;
    uint32_t attributes = 0;
};

// Lists a folder given as a pattern such as L"\\DCIM\\*.*". Returns false when
// the folder cannot be read. Names that are not valid UTF-8 are left out.
bool FindFiles(const std::wstring& pattern, std::vector<FindData>& out);

}  // namespace devfs
