#include "print/PhotoFolder.h"

#include "browse/BrowseTree.h"
#include "platform/DeviceFs.h"
#include "platform/Strings.h"

std::wstring FolderOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? L"\\" : path.substr(0, slash + 1);
}

std::wstring NameOfPath(const std::wstring& path) {
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

FolderPlace LocatePhotograph(const std::wstring& path) {
    FolderPlace place;
    place.folder = FolderOfPath(path);
    place.names = ListFolderPhotographs(place.folder);
    // The list holds lower-cased names; a photograph named on the command
    // line may come in its host spelling.
    const std::wstring name = devfs::LowerName(NameOfPath(path));
    const int count = static_cast<int>(place.names.size());
    place.next = count;
    for (int i = 0; i < count; ++i) {
        const int order = devfs::CompareNames(place.names[static_cast<size_t>(i)], name);
        if (order == 0) {
            place.index = i;
            place.next = i + 1;
            break;
        }
        if (order > 0) {
            place.next = i;
            break;
        }
    }
    return place;
}

std::vector<std::wstring> NeighbourPhotographs(const FolderPlace& place, int direction) {
    std::vector<std::wstring> paths;
    const int count = static_cast<int>(place.names.size());
    if (direction > 0) {
        for (int i = place.next; i < count; ++i) paths.push_back(place.folder + place.names[static_cast<size_t>(i)]);
    } else {
        const int first = place.index >= 0 ? place.index - 1 : place.next - 1;
        for (int i = first; i >= 0; --i) paths.push_back(place.folder + place.names[static_cast<size_t>(i)]);
    }
    return paths;
}

std::wstring PhotoTitle(const std::wstring& path, const FolderPlace& place) {
    const std::wstring name = NameOfPath(path);
    if (place.index < 0) return name;
    return FormatW(L"%ls (%d of %d)", place.names[static_cast<size_t>(place.index)].c_str(), place.index + 1,
                   static_cast<int>(place.names.size()));
}
