// Identifiers of the installer's resources and controls.
#pragma once

#define IDD_INSTALLER_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_README 1000
#define IDC_INSTALL 1001
