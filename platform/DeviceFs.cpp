#include "platform/DeviceFs.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wctype.h>

#include <memory>

#include "platform/Strings.h"

namespace devfs {

namespace {

std::string& Root() {
    static std::string root = "/";
    return root;
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// towlower depends on the process locale, which Qt sets from the environment;
// the device's mapping must not change with LANG, so a fixed locale is used.
locale_t CaseLocale() {
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

wchar_t LowerChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    locale_t loc = CaseLocale();
    return loc ? static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc)) : c;
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

std::string JoinHost(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// The stored spelling of `name` inside host folder `folder`: the exact name
// when it exists, otherwise the (byte-wise first) entry equal to it but for
// case. Empty when there is none or the folder cannot be read.
std::string FindStoredName(const std::string& folder, const std::string& name) {
    struct stat st;
    const std::string exact = JoinHost(folder, name);
    if (lstat(exact.c_str(), &st) == 0) return name;

    std::wstring wanted;
    if (!FromUtf8(name, wanted)) return {};
    wanted = LowerName(wanted);

    DirHandle dir(opendir(folder.c_str()));
    if (!dir) return {};
    std::string best;
    std::wstring wide;
    while (dirent* e = readdir(dir.get())) {
        std::string_view entry(e->d_name);
        if (!FromUtf8(entry, wide) || wide.size() != wanted.size()) continue;
        if (LowerName(wide) != wanted) continue;
        if (best.empty() || entry < best) best = entry;
    }
    return best;
}

// Win32-style wildcard match on already lower-cased strings.
bool MatchPattern(std::wstring_view pattern, std::wstring_view name) {
    size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::wstring_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

uint32_t AttributesOf(int dirFd, const dirent* e) {
    uint32_t attributes = 0;
    if (e->d_name[0] == '.') attributes |= FILE_ATTRIBUTE_HIDDEN;
    unsigned char type = e->d_type;
    if (type == DT_LNK || type == DT_UNKNOWN) {
        // Follow links: a link to a folder is a folder; one that leads nowhere
        // (or round in a loop) is neither file nor folder.
        struct stat st;
        if (fstatat(dirFd, e->d_name, &st, 0) != 0) type = DT_UNKNOWN;
        else if (S_ISDIR(st.st_mode)) type = DT_DIR;
        else if (S_ISREG(st.st_mode)) type = DT_REG;
        else type = DT_UNKNOWN;
    }
    if (type == DT_DIR) attributes |= FILE_ATTRIBUTE_DIRECTORY;
    else if (type != DT_REG) attributes |= FILE_ATTRIBUTE_SYSTEM;
    return attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
}

}  // namespace

void SetStorageRoot(const std::string& hostFolder) {
    std::string r = hostFolder.empty() ? std::string("/") : hostFolder;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    Root() = r;
}

const std::string& GetStorageRoot() { return Root(); }

std::wstring LowerName(std::wstring_view name) {
    std::wstring out(name);
    for (wchar_t& c : out) c = LowerChar(c);
    return out;
}

int CompareNames(std::wstring_view a, std::wstring_view b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        wchar_t ca = LowerChar(a[i]), cb = LowerChar(b[i]);
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

std::string ToHostPath(const std::wstring& devicePath) {
    // A C path ends at the first NUL; so does a device path.
    std::wstring_view path(devicePath.c_str());

    std::vector<std::wstring> parts;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && IsSeparator(path[i])) ++i;
        size_t start = i;
        while (i < path.size() && !IsSeparator(path[i])) ++i;
        if (i == start) break;
        std::wstring part(path.substr(start, i - start));
        if (part == L".") continue;
        if (part == L"..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(part));
    }
    const bool folderPath = !path.empty() && IsSeparator(path.back());

    std::string host = Root();
    bool resolving = true;  // once a folder is missing, nothing below it can be found
    for (const std::wstring& part : parts) {
        std::string name = ToUtf8(part);
        if (resolving) {
            std::string stored = FindStoredName(host, name);
            if (stored.empty()) resolving = false;
            else name = std::move(stored);
        }
        host = JoinHost(host, name);
    }
    if (folderPath && host.back() != '/') host += '/';
    return host;
}

FILE* OpenFile(const std::wstring& devicePath, const char* mode) {
    return std::fopen(ToHostPath(devicePath).c_str(), mode);
}

FILE* OpenRegularFile(const std::wstring& devicePath, const char** kind) {
    if (kind) *kind = nullptr;
    const int fd = ::open(ToHostPath(devicePath).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        if (kind) {
            *kind = S_ISDIR(st.st_mode)    ? "a folder"
                    : S_ISFIFO(st.st_mode) ? "a FIFO"
                    : S_ISSOCK(st.st_mode) ? "a socket"
                    : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                                                                 : "not a regular file";
        }
        ::close(fd);
        errno = error;
        return nullptr;
    }
    // Reads of a regular file never wait anyway; the flag goes so that
    // nothing downstream ever sees EAGAIN.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

bool FindFiles(const std::wstring& pattern, std::vector<FindData>& out) {
    out.clear();
    std::wstring_view whole(pattern.c_str());
    size_t cut = whole.find_last_of(L"\\/");
    std::wstring folder = cut == std::wstring_view::npos ? std::wstring(L"\\")
                                                         : std::wstring(whole.substr(0, cut + 1));
    std::wstring namePattern(cut == std::wstring_view::npos ? whole : whole.substr(cut + 1));
    if (namePattern.empty() || namePattern == L"*.*") namePattern = L"*";
    namePattern = LowerName(namePattern);
    const bool matchAll = namePattern == L"*";

    DirHandle dir(opendir(ToHostPath(folder).c_str()));
    if (!dir) return false;
    const int fd = dirfd(dir.get());

    std::wstring name;
    while (dirent* e = readdir(dir.get())) {
        std::string_view raw(e->d_name);
        if (raw == "." || raw == "..") continue;
        if (!FromUtf8(raw, name)) continue;
        if (name.find(L'\\') != std::wstring::npos) continue;
        if (!matchAll && !MatchPattern(namePattern, LowerName(name))) continue;
        out.push_back(FindData{name, AttributesOf(fd, e)});
    }
    return true;
}

}  // namespace devfs
