#include "platform/DeviceFs.h"

#include "platform/Strings.h"

namespace devfs {

namespace {
std::string& Root() {
    static std::string root = "/";
    return root;
}
}  // namespace

void SetStorageRoot(const std::string& hostFolder) {
    std::string r = hostFolder.empty() ? std::string("/") : hostFolder;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    Root() = r;
}

const std::string& GetStorageRoot() { return Root(); }

std::string ToHostPath(const std::wstring& devicePath) {
    std::string rel = ToUtf8(devicePath);
    for (char& c : rel)
        if (c == '\\') c = '/';
    std::string root = Root();
    if (root == "/") root.clear();
    if (rel.empty() || rel[0] != '/') rel.insert(rel.begin(), '/');
    return root + rel;
}

FILE* OpenFile(const std::wstring& devicePath, const char* mode) {
    return std::fopen(ToHostPath(devicePath).c_str(), mode);
}

bool FindFiles(const std::wstring&, std::vector<FindData>& out) {
    out.clear();
    return false;
}

}  // namespace devfs
