#pragma once
// The command line names host files; the engine opens device paths. With the
// storage root at "/" a host path maps onto a device path one to one, as long
// as its name can be spelt in one (valid UTF-8, no backslash).
#include <string>
#include <vector>

// Device path for a host file or folder (relative to the working folder).
// Folders come back ending with a backslash. False when the name has no
// device spelling; error then says why.
bool HostToDevicePath(const std::string& hostPath, bool folder, std::wstring& devicePath, std::string& error);

// The photographs directly inside a host folder (.jpg/.jpeg and
// .heic/.heif/.hif/.avif, any case), sorted by name. False when the folder cannot be read.
bool ListJpegFiles(const std::string& hostFolder, std::vector<std::string>& files);

bool IsHostFolder(const std::string& hostPath);

// Drops from files[from...] (one folder's listing) every file this program
// could have written from another file of that listing: the name the export
// gives that file, with any print format's suffix. Returns how many.
size_t DropOwnExports(std::vector<std::string>& files, size_t from);

// 0 when a new file can be made in the host folder, else why not (an errno
// value). It makes and removes an empty file there, as the export would
// make its temporary.
int FolderRefusesFiles(const std::string& hostFolder);
