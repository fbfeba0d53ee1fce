#include "print/HostPhoto.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/DeviceFs.h"
#include "platform/Strings.h"

namespace {

std::string Canonical(const std::string& path, std::string& error) {
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer)) {
        error = path + ": " + std::strerror(errno);
        return {};
    }
    return buffer;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// Walks up while the folders stay on the same device: the last one is where
// that file system is mounted.
std::string MountPointOf(const std::string& folder) {
    std::string here = folder;
    struct stat st {};
    if (stat(here.c_str(), &st) != 0) return "/";
    while (here != "/") {
        const std::string up = ParentOf(here);
        struct stat above {};
        if (stat(up.c_str(), &above) != 0 || above.st_dev != st.st_dev) break;
        here = up;
    }
    return here;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

}  // namespace

HostPhoto LocateHostPhoto(const std::string& hostPath, const std::string& root) {
    HostPhoto out;
    const size_t slash = hostPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? hostPath : hostPath.substr(slash + 1);
    const std::string folderGiven =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : hostPath.substr(0, slash));
    if (name.empty() || name == "." || name == "..") {
        out.error = hostPath + ": not a photograph";
        return out;
    }
    // The folder is resolved, the name is not: a link to a photograph keeps
    // its own name, as the browser lists it.
    const std::string folder = Canonical(folderGiven, out.error);
    if (folder.empty()) return out;

    out.root = root.empty() ? MountPointOf(folder) : Canonical(root, out.error);
    if (out.root.empty()) return out;
    std::string relative;
    if (out.root == "/") {
        relative = folder.substr(1);
    } else if (folder == out.root) {
        relative.clear();
    } else if (folder.compare(0, out.root.size() + 1, out.root + "/") == 0) {
        relative = folder.substr(out.root.size() + 1);
    } else {
        out.error = hostPath + ": not inside the storage root " + out.root;
        return out;
    }

    std::wstring device = L"\\";
    std::wstring component;
    size_t start = 0;
    while (start < relative.size()) {
        const size_t end = std::min(relative.find('/', start), relative.size());
        if (!FromUtf8(relative.substr(start, end - start), component) || component.find(L'\\') != std::wstring::npos) {
            out.error = hostPath + ": the folder's name cannot be shown in the storage";
            return out;
        }
        device += component + L"\\";
        start = end + 1;
    }
    if (!FromUtf8(name, component) || component.find(L'\\') != std::wstring::npos) {
        out.error = hostPath + ": the name cannot be shown in the storage";
        return out;
    }
    // The browser shows JPEG names in lower case, and names resolve whatever
    // their case; only a second file spelled exactly so keeps the given case,
    // so that the photograph opened is the one named.
    const std::wstring lower = devfs::LowerName(component);
    if (lower != component && Exists(folder + "/" + ToUtf8(lower))) out.devicePath = device + component;
    else out.devicePath = device + lower;
    return out;
}
