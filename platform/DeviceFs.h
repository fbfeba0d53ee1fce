#pragma once
// The handheld's storage, laid over a folder of the host (the storage root).
// Device paths are wide strings with backslashes rooted at "\"; folder paths
// end with a backslash. Names resolve case-insensitively, as on the device.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

namespace devfs {

void SetStorageRoot(const std::string& hostFolder);
const std::string& GetStorageRoot();

// The host path for a device path. Components that exist are found whatever
// their case (an exact match wins when the host holds several spellings); a
// missing last component (a file about to be created) is kept as given.
// "." and ".." never lead above the storage root; "/" separates like "\".
// A device path ending in a separator gives a host path ending in "/".
std::string ToHostPath(const std::wstring& devicePath);

// fopen on a device path.
FILE* OpenFile(const std::wstring& devicePath, const char* mode);

// Opens a photograph for reading ("rb") without ever waiting: a FIFO with no
// writer, or a device, would block fopen for good. Anything that is not a
// regular file is refused: null with errno EISDIR (a folder) or EINVAL, and
// kind, when given, names what was found ("a folder", "a FIFO", "a device",
// "a socket"). Null with errno set as by open otherwise.
FILE* OpenRegularFile(const std::wstring& devicePath, const char** kind = nullptr);

struct FindData {
    std::wstring name;
    uint32_t attributes = 0;
};

// Lists a folder given as a pattern such as L"\\DCIM\\*.*" ("*" and "?" match
// case-insensitively; "*.*" matches every name, dotted or not). Returns false
// when the folder cannot be read. "." and ".." are not listed. Names that are
// not valid UTF-8, or that hold a backslash, cannot be named by a device path
// and are left out.
//
// Attributes: hidden when the name begins with "."; directory for folders and
// links to folders; system for anything that is neither a regular file nor a
// folder (devices, sockets, pipes, broken links); normal when none applies.
bool FindFiles(const std::wstring& pattern, std::vector<FindData>& out);

// The device's lower-case mapping of names: A-Z to a-z, and the other
// alphabets' capitals to their small letters.
std::wstring LowerName(std::wstring_view name);

// Orders two names as the device's lists do: case-insensitively, with the
// exact text breaking ties so that the order is total. Returns <0, 0 or >0.
int CompareNames(std::wstring_view a, std::wstring_view b);

}  // namespace devfs
