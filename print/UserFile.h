#pragma once
// Files the user hands over or keeps (order files, a card's print marks):
// read whole with a size limit, written the safe way, and the relative paths
// inside them turned into device paths that stay where they belong.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Reads a regular file of at most limit bytes. False with the reason (the
// caller names the file) when it cannot be read or is larger.
bool ReadUserFile(const std::wstring& devicePath, size_t limit, std::string& bytes, std::wstring& error);

// Writes bytes to a temporary beside the file and renames it over the file:
// an earlier file of that name stays whole when anything fails. False with
// the reason.
bool WriteUserFile(const std::wstring& devicePath, std::string_view bytes, std::wstring& error);

// The components of a device path ("\DCIM\a.jpg" gives DCIM, a.jpg); both
// separators split, empty components are dropped.
std::vector<std::wstring> DevicePathParts(std::wstring_view path);

// The device path of relative (separated by "/" or "\") read from folder (a
// device folder path). ".." may climb, but never above the first floor
// components of folder: false then, and for an absolute relative path.
bool ResolveRelativePath(const std::wstring& folder, std::wstring_view relative, size_t floor, std::wstring& out);

// The path of target (a device path) relative to folder, "/"-separated;
// names compare as the device's do, whatever their case.
std::string RelativePathUtf8(const std::wstring& folder, const std::wstring& target);
