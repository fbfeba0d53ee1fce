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
constexpr int IDB_GO_ALL = 143;
constexpr int IDB_PREVIOUS = 144;
constexpr int IDB_NEXT = 145;
constexpr int IDI_MAIN = 128;

constexpr int IDC_OPEN = 1001;
constexpr int IDC_FORMAT = 1003;
constexpr int IDC_CORRECT_LAB = 1004;
constexpr int IDC_ROTATE = 1007;
constexpr int IDC_GO = 1008;
constexpr int IDC_STATUS = 1010;
constexpr int IDC_ADJUST = 1013;
// The status line's neighbours: the print's resolution, and a short notice.
constexpr int IDC_RESOLUTION = 1014;
constexpr int IDC_NOTICE = 1015;
// Every photograph of the sitting at once; the folder's previous and next.
constexpr int IDC_GO_ALL = 1016;
constexpr int IDC_PREVIOUS = 1017;
constexpr int IDC_NEXT = 1018;
// The tone curve in force, named beside the resolution.
constexpr int IDC_CURVE = 1019;
// The whole photograph on a white print instead of the frame.
constexpr int IDC_WHOLE = 1020;

constexpr int ID_MOVE_LEFT = 32776;
constexpr int ID_MOVE_RIGHT = 32777;
constexpr int ID_MOVE_UP = 32778;
constexpr int ID_MOVE_DOWN = 32779;
// Shift with an arrow: ten steps at once.
constexpr int ID_MOVE_LEFT_FAR = 32780;
constexpr int ID_MOVE_RIGHT_FAR = 32781;
constexpr int ID_MOVE_UP_FAR = 32782;
constexpr int ID_MOVE_DOWN_FAR = 32783;
// The whole photograph's check box from the keyboard.
constexpr int ID_WHOLE_PHOTO = 32784;
// Keys of the print order.
constexpr int ID_SAVE_ORDER = 32785;
constexpr int ID_MORE_COPIES = 32786;
constexpr int ID_FEWER_COPIES = 32787;
constexpr int ID_LIST_ORDER = 32788;
constexpr int ID_CARD_ORDER = 32789;

const DialogTemplate& MainTemplate();
