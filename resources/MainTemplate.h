#pragma once
// Dialog resource 102: the main window, and the numbers of its parts.
#include "platform/DialogTemplate.h"

constexpr int IDD_MAIN = 102;
constexpr int IDR_ACCELERATOR = 133;
constexpr int IDB_SPLASH = 134;
constexpr int IDB_CROSS = 138;
constexpr int IDB_OPEN = 139;
constexpr int IDB_TURN = 140;
constexpr int IDB_SUN = 141;
constexpr int IDB_GO = 142;
constexpr int IDI_MAIN = 128;

constexpr int IDC_OPEN = 1001;
constexpr int IDC_FORMAT = 1003;
constexpr int IDC_CORRECT_LAB = 1004;
constexpr int IDC_ROTATE = 1007;
constexpr int IDC_GO = 1008;
constexpr int IDC_STATUS = 1010;
constexpr int IDC_ADJUST = 1013;

constexpr int ID_MOVE_LEFT = 32776;
constexpr int ID_MOVE_RIGHT = 32777;
constexpr int ID_MOVE_UP = 32778;
constexpr int ID_MOVE_DOWN = 32779;
// Shift with an arrow: ten steps at once.
constexpr int ID_MOVE_LEFT_FAR = 32780;
constexpr int ID_MOVE_RIGHT_FAR = 32781;
constexpr int ID_MOVE_UP_FAR = 32782;
constexpr int ID_MOVE_DOWN_FAR = 32783;

const DialogTemplate& MainTemplate();
