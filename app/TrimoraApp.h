#pragma once
#include <string>

#include "platform/Dialog.h"

// The application object: runs the main window for the program's whole life.
class CTrimoraApp : public CWinApp {
public:
    BOOL InitInstance() override;

    // Host path of a photograph to open at start; empty for none.
    std::string m_strStartPhoto;
};
