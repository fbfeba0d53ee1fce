#include "cli/HostPaths.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cerrno>
#include <filesystem>
#include <set>

#include "imaging/PhotoNames.h"
#include "platform/Strings.h"
#include "print/ExportPlan.h"
#include "print/PrintFormatTable.h"

bool HostToDevicePath(const std::string& hostPath, bool folder, std::wstring& devicePath, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path abs = fs::absolute(fs::path(hostPath), ec);
    if (ec) {
        error = "cannot resolve the path: " + ec.message();
        return false;
    }
    // Lexical only: links stay as given, so the output is named after what
    // the user named, as the handheld's browser would show it.
    std::string text = abs.lexically_normal().string();
    if (text.find('\\') != std::string::npos) {
        error = "a name holding a backslash cannot be given to the engine";
        return false;
    }
    std::wstring wide;
    if (!FromUtf8(text, wide)) {
        error = "the name is not valid UTF-8";
        return false;
    }
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    while (wide.size() > 1 && wide.back() == L'\\') wide.pop_back();
    if (folder && wide.back() != L'\\') wide.push_back(L'\\');
    devicePath = std::move(wide);
    return true;
}

bool IsHostFolder(const std::string& hostPath) {
    struct stat st {};
    return ::stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {
bool HasPhotoExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == "jpg" || ext == "jpeg" || IsHeifExtension(ext);
}
}  // namespace

bool ListJpegFiles(const std::string& hostFolder, std::vector<std::string>& files) {
    DIR* dir = ::opendir(hostFolder.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (!HasPhotoExtension(name)) continue;
        std::string path = hostFolder;
        if (path.empty() || path.back() != '/') path.push_back('/');
        path += name;
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(path);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    files.insert(files.end(), names.begin(), names.end());
    return true;
}

size_t DropOwnExports(std::vector<std::string>& files, size_t from) {
    // The names are compared as the export makes them, from the bare name.
    auto bareName = [](const std::string& path) { return path.substr(path.rfind('/') + 1); };
    std::set<std::string> exports;
    for (size_t i = from; i < files.size(); ++i) {
        std::wstring name;
        if (!FromUtf8(bareName(files[i]), name)) continue;
        for (const auto& [index, suffix] : PrintFormatSuffixes()) {
            const std::wstring exported = MakeOutputPath(L"", name, suffix);
            if (exported != name) exports.insert(ToUtf8(exported));
        }
    }
    const auto kept = std::stable_partition(files.begin() + static_cast<long>(from), files.end(), [&](const std::string& f) {
        return exports.count(bareName(f)) == 0;
    });
    const size_t dropped = static_cast<size_t>(files.end() - kept);
    files.erase(kept, files.end());
    return dropped;
}

int FolderRefusesFiles(const std::string& hostFolder) {
    // Not named as an export's temporary: nothing that watches for those
    // (or cleans them up) mistakes it for one, and it lives for two calls.
    std::string name = hostFolder + "/.trimora-cli-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return errno;
    ::close(fd);
    ::unlink(name.c_str());
    return 0;
}
