#pragma once

#include "Framework.h"

class CInstallerApp : public CWinApp {
public:
    using CWinApp::CWinApp;

protected:
    BOOL InitInstance() override;
};
