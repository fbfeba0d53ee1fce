#include "InstallerLogic.h"

#include <fstream>
#include <vector>

namespace installer {
namespace {

constexpr std::string_view README_NAME = "readme";
constexpr std::string_view README_EXT = "txt";
constexpr std::string_view PACKAGE_DESCRIPTION = "Trimora.ini";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Drive and folder of `path` as one string: everything up to the last separator.
std::string FolderOf(std::string_view path)
{
    const PathParts parts = SplitPath(path);
    return parts.drive + parts.dir;
}

}  // namespace

PathParts SplitPath(std::string_view path)
{
    PathParts parts;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const std::size_t lastSep = path.find_last_of("\\/");
    if (lastSep != std::string_view::npos) {
        parts.dir = path.substr(0, lastSep + 1);
        path.remove_prefix(lastSep + 1);
    }
    const std::size_t dot = path.rfind('.');
    if (dot != std::string_view::npos) {
        parts.ext = path.substr(dot);
        path = path.substr(0, dot);
    }
    parts.fname = path;
    return parts;
}

std::string MakePath(std::string_view drive, std::string_view dir,
                     std::string_view fname, std::string_view ext)
{
    std::string path;
    path.reserve(drive.size() + dir.size() + fname.size() + ext.size() + 3);
    if (!drive.empty()) {
        path += drive.substr(0, 1);
        path += ':';
    }
    if (!dir.empty()) {
        path += dir;
        if (!IsSeparator(dir.back()))
            path += '\\';
    }
    path += fname;
    if (!ext.empty()) {
        if (ext.front() != '.')
            path += '.';
        path += ext;
    }
    return path;
}

std::string ReadmePathFor(std::string_view exePath)
{
    const PathParts parts = SplitPath(exePath);
    return MakePath(parts.drive, parts.dir, README_NAME, README_EXT);
}

std::string InstallCommandLine(std::string_view exePath)
{
    std::string line = "\"";
    line += FolderOf(exePath);
    line += PACKAGE_DESCRIPTION;
    line += '"';
    return line;
}

void AppendReadmeLines(std::string_view content, std::string& text)
{
    while (!content.empty()) {
        const std::size_t lf = content.find('\n');
        std::string_view line = content.substr(0, lf);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        for (const char c : line) {
            if (c != '\0')
                text += c;
        }
        text += "\r\n";
        content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
    }
}

bool LoadReadme(const std::string& path, std::string& text)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::vector<char> content(MAX_README_BYTES);
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (file.bad())
        return false;
    content.resize(static_cast<std::size_t>(file.gcount()));
    AppendReadmeLines(std::string_view(content.data(), content.size()), text);
    return true;
}

}  // namespace installer
