#include "print/UserFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imaging/TempFile.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

std::wstring ErrnoText(int error) { return FromUtf8(std::strerror(error)); }

}  // namespace

bool ReadUserFile(const std::wstring& devicePath, size_t limit, std::string& bytes, std::wstring& error) {
    bytes.clear();
    const char* kind = nullptr;
    std::unique_ptr<FILE, FileCloser> file(devfs::OpenRegularFile(devicePath, &kind));
    if (!file) {
        error = kind ? L"not a file but " + FromUtf8(kind) : ErrnoText(errno);
        return false;
    }
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        if (bytes.size() + got > limit) {
            error = FormatW(L"too large (more than %zu KB)", limit / 1024);
            bytes.clear();
            return false;
        }
        bytes.append(chunk, got);
    }
    if (std::ferror(file.get())) {
        error = ErrnoText(errno ? errno : EIO);
        bytes.clear();
        return false;
    }
    return true;
}

bool WriteUserFile(const std::wstring& devicePath, std::string_view bytes, std::wstring& error) {
    TempFile out;
    if (out.Create(devfs::ToHostPath(devicePath))) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.Stream()) != bytes.size()) out.SetError(errno ? errno : EIO);
        if (out.Error() == 0 && out.Commit()) return true;
    }
    error = ErrnoText(out.Error() ? out.Error() : EIO);
    if (!out.LeftBehind().empty()) error += L"\n" + FromUtf8(LeftBehindText(out));
    return false;
}

std::vector<std::wstring> DevicePathParts(std::wstring_view path) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool ResolveRelativePath(const std::wstring& folder, std::wstring_view relative, size_t floor, std::wstring& out) {
    if (relative.empty() || relative.front() == L'\\' || relative.front() == L'/') return false;
    std::vector<std::wstring> parts = DevicePathParts(folder);
    if (floor > parts.size()) return false;
    for (std::wstring& part : DevicePathParts(relative)) {
        if (part == L".") continue;
        if (part == L"..") {
            if (parts.size() <= floor) return false;
            parts.pop_back();
            continue;
        }
        // A NUL would cut the host path short and name another file.
        if (part.find(L'\0') != std::wstring::npos) return false;
        parts.push_back(std::move(part));
    }
    out.clear();
    for (const std::wstring& part : parts) out += L"\\" + part;
    if (out.empty()) out = L"\\";
    return true;
}

std::string RelativePathUtf8(const std::wstring& folder, const std::wstring& target) {
    const std::vector<std::wstring> from = DevicePathParts(folder);
    const std::vector<std::wstring> to = DevicePathParts(target);
    size_t same = 0;
    while (same < from.size() && same + 1 < to.size() && devfs::LowerName(from[same]) == devfs::LowerName(to[same]))
        ++same;
    std::string out;
    for (size_t i = same; i < from.size(); ++i) out += "../";
    for (size_t i = same; i < to.size(); ++i) out += ToUtf8(to[i]) + (i + 1 < to.size() ? "/" : "");
    return out.empty() ? "." : out;
}
