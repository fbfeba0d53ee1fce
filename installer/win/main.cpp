#include "InstallerApp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    CInstallerApp app(hInstance);
    return app.Run();
}
