// The installer's logic that needs no Windows: where the read-me lies, how its
// lines are joined for the edit box, and the command line handed to the
// application manager. The Win32 front end and the native unit tests share it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace installer {

// A path taken apart the way the C runtime's _splitpath does it: drive ("C:"
// or empty), folder (up to and including the last '\' or '/'), base name and
// extension (from the last '.' of the final component, dot included).
struct PathParts {
    std::string drive;
    std::string dir;
    std::string fname;
    std::string ext;
};

PathParts SplitPath(std::string_view path);

// Joins the parts the way _makepath does: a separator is added after a folder
// that lacks one, and a dot before an extension that lacks one. Unlike the C
// runtime it has no length limits.
std::string MakePath(std::string_view drive, std::string_view dir,
                     std::string_view fname, std::string_view ext);

// "readme.txt" in the folder of the given executable.
std::string ReadmePathFor(std::string_view exePath);

// The argument for the application manager: the full path of "Trimora.ini" in
// the folder of the given executable, enclosed in double quotes.
std::string InstallCommandLine(std::string_view exePath);

// Appends every line of `content` to `text`, each followed by CR LF. Lines end
// at LF, and a CR right before the LF belongs to the line end, as when the
// file is read in text mode; the last line needs no line end. NUL bytes are
// dropped, since the edit box would stop showing text at the first one.
void AppendReadmeLines(std::string_view content, std::string& text);

// A read-me is a page or two; this bounds what a stray huge file can cost.
inline constexpr std::size_t MAX_README_BYTES = 1024 * 1024;

// Reads the file at `path` (at most MAX_README_BYTES of it) and appends its
// lines to `text` as AppendReadmeLines does. Returns false, leaving `text`
// alone, when the file cannot be opened or read.
bool LoadReadme(const std::string& path, std::string& text);

}  // namespace installer
