#pragma once
// A photograph among the others of its folder, in the order the storage
// browser lists them: where it stands, and which ones come next.
#include <string>
#include <vector>

// "\DCIM\img_0001.jpg" -> "\DCIM\" (the root: "\"), and -> "img_0001.jpg".
std::wstring FolderOfPath(const std::wstring& path);
std::wstring NameOfPath(const std::wstring& path);

struct FolderPlace {
    std::wstring folder;              // with its final backslash
    std::vector<std::wstring> names;  // the folder's photographs, as listed
    int index = -1;                   // the photograph's place, -1 when not listed
    int next = 0;                     // the first listed name after it
};

// Reads the photograph's folder afresh.
FolderPlace LocatePhotograph(const std::wstring& path);

// The photographs after (direction > 0) or before it, nearest first, as
// device paths. Neither end wraps round.
std::vector<std::wstring> NeighbourPhotographs(const FolderPlace& place, int direction);

// The window's title for it: "img_0003.jpg (3 of 12)", or the name alone when
// the browser would not list it.
std::wstring PhotoTitle(const std::wstring& path, const FolderPlace& place);
