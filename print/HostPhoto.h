#pragma once
// A photograph named by a host path (on the command line, or dropped on the
// window) as the storage browser would have handed it over: a device path
// under a storage root.
#include <string>

struct HostPhoto {
    std::string root;         // the storage root that holds the photograph
    std::wstring devicePath;  // its device path there
    std::string error;        // why it cannot be named; empty when it can
};

// root empty: the root of the file system the photograph lies on, the way a
// camera's card is the handheld's storage. Otherwise the photograph must lie
// inside root. The file need not exist (opening it then fails as a pick of a
// vanished file does); its folder must.
HostPhoto LocateHostPhoto(const std::string& hostPath, const std::string& root);
