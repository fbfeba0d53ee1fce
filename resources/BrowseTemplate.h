#pragma once
// Dialog resource 135: the storage browser's tree with OK and Cancel.
#include "platform/DialogTemplate.h"
#include "platform/TreeControl.h"

constexpr int IDD_BROWSE = 135;
constexpr int IDB_BROWSE_IMAGES = 136;  // the tree's pictures: device, folder, open folder, file
constexpr int IDC_TREE = 1012;

const DialogTemplate& BrowseTemplate();
