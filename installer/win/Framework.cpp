#include "Framework.h"

#include <utility>

void DDX_Text(CDataExchange* pDX, int nIDC, std::string& value)
{
    const HWND control = GetDlgItem(pDX->m_hDlg, nIDC);
    if (!control)
        return;
    if (!pDX->m_bSaveAndValidate) {
        SetWindowTextA(control, value.c_str());
        return;
    }
    const int length = GetWindowTextLengthA(control);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = GetWindowTextA(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    value = std::move(text);
}

CDialog::CDialog(UINT nIDTemplate, HWND hParent)
    : m_nIDTemplate(nIDTemplate), m_hParent(hParent)
{
}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    return DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(m_nIDTemplate),
                           m_hParent, &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

const MessageMap* CDialog::GetMessageMap() const
{
    return nullptr;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    if (!m_hWnd)
        return FALSE;
    CDataExchange dx(m_hWnd, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::EndDialog(int nResult)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, nResult);
}

void CDialog::Default()
{
    m_bDefault = true;
}

bool CDialog::Dispatch(UINT message, WPARAM wParam, INT_PTR& result)
{
    const UINT code = HIWORD(wParam);
    const UINT id = LOWORD(wParam);
    for (const MessageMap* map = GetMessageMap(); map; map = map->base) {
        for (const MessageMapEntry& entry : map->entries) {
            if (entry.message != message)
                continue;
            if (message == WM_COMMAND && (entry.code != code || entry.id != id))
                continue;
            // Handlers may pump messages (a message box does), so each level
            // keeps its own request for default processing.
            const bool outer = std::exchange(m_bDefault, false);
            if (entry.onQueryIcon)
                result = reinterpret_cast<INT_PTR>((this->*entry.onQueryIcon)());
            else
                (this->*entry.onNotify)();
            const bool wantsDefault = std::exchange(m_bDefault, outer);
            if (wantsDefault)
                return false;
            if (!entry.onQueryIcon)
                result = TRUE;
            return true;
        }
    }
    if (message == WM_COMMAND && code == BN_CLICKED) {
        if (id == IDOK) {
            OnOK();
            result = TRUE;
            return true;
        }
        if (id == IDCANCEL) {
            OnCancel();
            result = TRUE;
            return true;
        }
    }
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        self->m_hWnd = hWnd;
        return self->OnInitDialog();
    }
    auto* self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hWnd, DWLP_USER));
    if (!self)
        return FALSE;  // messages that come before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hWnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    }
    INT_PTR result = FALSE;
    return self->Dispatch(message, wParam, result) ? result : FALSE;
}

int CWinApp::Run()
{
    if (!InitInstance())
        return ExitInstance();
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    ExitInstance();
    return static_cast<int>(msg.wParam);
}
