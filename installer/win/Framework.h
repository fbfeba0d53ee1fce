// A thin application and dialog layer over plain Win32, in the shape the
// installer is written against: an application object that runs one modal
// dialog, dialogs built from templates with a message map of handlers, and
// data exchange between controls and members.
#pragma once

#include <windows.h>

#include <span>
#include <string>

class CDialog;

// One direction of data exchange: towards the members when saving, towards
// the controls otherwise.
class CDataExchange {
public:
    CDataExchange(HWND hDlg, BOOL bSaveAndValidate)
        : m_hDlg(hDlg), m_bSaveAndValidate(bSaveAndValidate) {}

    HWND m_hDlg;
    BOOL m_bSaveAndValidate;
};

// Exchanges the text of control `nIDC` with `value`.
void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value);

// A message map routes window messages to member handlers. Only the handler
// shapes the installer needs exist: plain notifications and the drag-icon query.
struct MessageMapEntry {
    UINT message;
    UINT code;  // WM_COMMAND: the notification code
    UINT id;    // WM_COMMAND: the control identifier
    void (CDialog::*onNotify)();
    HCURSOR (CDialog::*onQueryIcon)();
};

struct MessageMap {
    const MessageMap* base;
    std::span<const MessageMapEntry> entries;
};

template <class D>
constexpr MessageMapEntry OnPaintEntry(void (D::*handler)())
{
    return {WM_PAINT, 0, 0, static_cast<void (CDialog::*)()>(handler), nullptr};
}

template <class D>
constexpr MessageMapEntry OnQueryDragIconEntry(HCURSOR (D::*handler)())
{
    return {WM_QUERYDRAGICON, 0, 0, nullptr, static_cast<HCURSOR (CDialog::*)()>(handler)};
}

template <class D>
constexpr MessageMapEntry OnClickedEntry(UINT id, void (D::*handler)())
{
    return {WM_COMMAND, BN_CLICKED, id, static_cast<void (CDialog::*)()>(handler), nullptr};
}

// A modal dialog built from a dialog template in the program's resources.
class CDialog {
public:
    explicit CDialog(UINT nIDTemplate, HWND hParent = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog until it ends; returns the value given to EndDialog, or
    // -1 when the dialog could not be created.
    INT_PTR DoModal();

    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    virtual const MessageMap* GetMessageMap() const;
    virtual void DoDataExchange(CDataExchange* pDX);
    // Copies the members into the controls; a nonzero result lets the system
    // put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void EndDialog(int nResult);
    // Called from a handler: let the system's dialog handling process the
    // current message as if no handler had taken it.
    void Default();

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    bool Dispatch(UINT message, WPARAM wParam, INT_PTR& result);

    UINT m_nIDTemplate;
    HWND m_hParent;
    bool m_bDefault = false;
};

// The application object: InitInstance does the program's work; when it
// reports false the program ends without a message loop.
class CWinApp {
public:
    explicit CWinApp(HINSTANCE hInstance) : m_hInstance(hInstance) {}
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Initialises, runs the message loop if asked to, and gives the exit code.
    int Run();

    HINSTANCE m_hInstance;
    CDialog* m_pMainWnd = nullptr;

protected:
    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
};
