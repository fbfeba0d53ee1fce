#include "InstallerApp.h"

#include "InstallerDialog.h"

// The dialog is the whole program. The standard controls it uses already look
// three-dimensional and it hosts no ActiveX controls, so there is nothing to
// enable before running it.
BOOL CInstallerApp::InitInstance()
{
    CInstallerDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop after the dialog: the program ends here.
    return FALSE;
}
