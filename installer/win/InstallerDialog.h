#pragma once

#include "Framework.h"
#include "resource.h"

#include <string>

// Shows the read-me that ships beside the installer and, on request, starts the
// desktop synchronisation software's application manager with the package
// description that ships beside it too.
class CInstallerDialog : public CDialog {
public:
    enum { IDD = IDD_INSTALLER_DIALOG };

    explicit CInstallerDialog(HWND hParent = nullptr);
    ~CInstallerDialog() override;

    std::string m_strReadme;
    HICON m_hIcon;

protected:
    const MessageMap* GetMessageMap() const override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnInstall();
};
