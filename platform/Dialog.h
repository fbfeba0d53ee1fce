#pragma once
// The dialog framework the program was written for, on Qt Widgets: modal
// dialogs built from templates, controls found by id, commands routed to
// handlers, data exchange, accelerators, the application object.
#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/DialogTemplate.h"
#include "platform/WinTypes.h"

class QApplication;
class QComboBox;
class QCheckBox;
class QPainter;
class QPixmap;
class QImage;
class CDialog;

// A window as the program sees it: a handle onto a widget.
class CWnd {
public:
    CWnd() = default;
    explicit CWnd(QWidget* widget) : m_pWidget(widget) {}
    virtual ~CWnd() = default;

    QWidget* Widget() const { return m_pWidget; }
    void Attach(QWidget* widget) { m_pWidget = widget; }
    bool IsAttached() const { return m_pWidget != nullptr; }

    CRect GetClientRect() const;
    CRect GetWindowRect() const;               // outer rectangle, screen coordinates
    void ScreenToClient(CRect& rect) const;
    void ClientToScreen(CRect& rect) const;
    void MoveWindow(int x, int y, int cx, int cy);
    void ShowWindow(bool show);
    void EnableWindow(bool enable);
    void SetFocus();
    void SetWindowText(const std::wstring& text);
    std::wstring GetWindowText() const;
    virtual void Invalidate();                 // repaint the whole window soon
    void UpdateWindow();                       // repaint now if anything is pending

protected:
    QPointer<QWidget> m_pWidget;
};

// Combo box, drop-down list: entries with item data, as the framework had them.
class CComboBox : public CWnd {
public:
    int AddString(const std::wstring& text);   // index of the new entry
    int GetCount() const;
    int GetCurSel() const;                     // -1 (CB_ERR) when nothing is selected
    int SetCurSel(int index);
    intptr_t GetItemData(int index) const;
    int SetItemData(int index, intptr_t data);
    std::wstring GetLBText(int index) const;
    void ResetContent();
    QComboBox* Combo() const;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int state);
};

// Data exchange between controls and members, in either direction.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
void DDX_Check(CDataExchange* pDX, int id, BOOL& value);
void DDX_Text(CDataExchange* pDX, int id, std::wstring& value);
// A list's selection as an index (-1: none).
void DDX_CBIndex(CDataExchange* pDX, int id, int32_t& index);

struct Accelerator {
    int key;            // Qt::Key
    int command;        // command id sent to the dialog
    int modifiers = 0;  // Qt::KeyboardModifiers that must be held, exactly
};

class CDialog : public CWnd {
public:
    CDialog(const DialogTemplate& tmpl, CWnd* parent = nullptr);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Builds the window and its controls, runs OnInitDialog, then a modal
    // loop until EndDialog. Returns the result (IDOK 1, IDCANCEL 2).
    virtual intptr_t DoModal();
    void EndDialog(int result);
    bool IsRunning() const { return m_bRunning; }

    CWnd* GetDlgItem(int id);                  // null when the template has no such control
    QWidget* GetDlgItemWidget(int id) const;
    void CheckDlgButton(int id, int state);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void CenterWindow();
    void SetIcon(const QPixmap& icon, BOOL bigIcon);

    // Dialog units to pixels, from the dialog font's metrics.
    CRect MapDialogRect(const CRect& dlu) const;
    int BaseUnitX() const { return m_baseX; }
    int BaseUnitY() const { return m_baseY; }

    const DialogTemplate& Template() const { return m_template; }
    CWnd* GetParent() const { return m_pParent; }

    // Sends a command as a control, a menu or an accelerator would.
    void SendCommand(int id, int code = BN_CLICKED);

    // For the application's accelerator handling; true when consumed.
    virtual BOOL PreTranslateMessage(QObject* target, QEvent* event);

    // The dialog's own window widget (valid while running).
    QDialog* DialogWidget() const;

    // Draws on the client area at once, outside a paint, the way a device
    // context for the client area did: what is drawn stays until the next
    // paint. The window keeps its picture in a surface for that.
    void DrawOnClient(const std::function<void(QPainter&)>& draw);
    // The client area's picture as it is now (for tests and screenshots).
    QImage GrabClient() const;

protected:
    virtual BOOL OnInitDialog();               // base: builds the data binding (UpdateData(FALSE))
    virtual void OnOK();                       // base: UpdateData(TRUE), EndDialog(IDOK)
    virtual void OnCancel();                   // base: EndDialog(IDCANCEL)
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnPaint(QPainter& painter);   // called inside a paint event
    virtual void OnLButtonDown(unsigned flags, CPoint point);
    virtual void OnMouseMove(unsigned flags, CPoint point);
    virtual void OnLButtonUp(unsigned flags, CPoint point);
    virtual void OnDestroy();
    virtual void OnShowLayout() {}             // after the window got a new size

    // The message map: a command (control tap, button, accelerator) or a
    // control notification bound to a handler.
    void MapCommand(int id, std::function<void()> handler);
    void MapNotify(int id, int code, std::function<void()> handler);

    // Accelerators: key presses anywhere in the dialog, also inside its
    // controls, that become commands before the control sees them.
    void SetAccelerators(std::vector<Accelerator> table) { m_accel = std::move(table); }
    BOOL TranslateAccelerator(QObject* target, QEvent* event);

private:
    friend class DialogWindow;
    void Build();
    void Route(int id, int code);

    DialogTemplate m_template;
    CWnd* m_pParent;
    std::unique_ptr<QDialog> m_dialog;
    std::map<int, CWnd> m_items;
    std::map<std::pair<int, int>, std::function<void()>> m_map;
    std::vector<Accelerator> m_accel;
    int m_baseX = 6;
    int m_baseY = 13;
    int m_result = IDCANCEL;
    bool m_bRunning = false;
    QObject* m_pFilter = nullptr;
    std::unique_ptr<QImage> m_surface;
    bool m_bBlitOnly = false;
    bool m_bFullPaint = true;

public:
    void Invalidate() override;
};

// The application object: owns the QApplication, runs InitInstance.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    virtual BOOL InitInstance() = 0;
    // Runs the program: builds the QApplication, calls InitInstance, and
    // destroys the QApplication again before returning.
    int Run(int& argc, char** argv);

    CWnd* m_pMainWnd = nullptr;
    // Offers an event to the main window's pre-translation; true when consumed.
    bool PreTranslate(QObject* target, QEvent* event);
    // Runs idle processing (deferred deletes, posted events of the framework).
    void OnIdle(long count);
    QApplication* App() const { return m_app.get(); }
    static CWinApp* Current();

private:
    std::unique_ptr<QApplication> m_app;
};

// Installs the Qt message box and wait cursor behind the core's hooks.
void InstallGuiPlatformHooks();
