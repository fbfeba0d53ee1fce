#pragma once
#include "platform/Dialog.h"

// The application object: runs the main window for the program's whole life.
class CTrimoraApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
