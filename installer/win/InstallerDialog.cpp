#include "InstallerDialog.h"

#include "InstallerLogic.h"

#include <shellapi.h>

namespace {

constexpr char APP_MANAGER_KEY[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CEAPPMGR.EXE";
constexpr char MSG_CANNOT_INSTALL[] =
    "Cannot install the file automatically, please put CAB-file manually on PocketPC";
constexpr char MSG_NOT_INSTALLED[] =
    "ActiveSync not installed.\n"
    "Cannot install the file automatically, please put CAB-file manually on PocketPC";
constexpr char WARNING_CAPTION[] = "Warning";

// Room for the longest classic Windows path and its terminating zero.
constexpr DWORD PATH_BUFFER = 261;

// The full path of this program. A path longer than the classic limit would be
// cut short in the first buffer, so the buffer grows until the path fits.
std::string ModulePath()
{
    std::string path(PATH_BUFFER, '\0');
    for (;;) {
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size() || path.size() >= 32768) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey()
    {
        if (m_hKey)
            RegCloseKey(m_hKey);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    bool Open(HKEY parent, const char* subKey, REGSAM access)
    {
        return RegOpenKeyExA(parent, subKey, 0, access, &m_hKey) == ERROR_SUCCESS;
    }
    HKEY Get() const { return m_hKey; }

private:
    HKEY m_hKey = nullptr;
};

class PaintDC {
public:
    explicit PaintDC(HWND hWnd) : m_hWnd(hWnd), m_hDC(BeginPaint(hWnd, &m_ps)) {}
    ~PaintDC() { EndPaint(m_hWnd, &m_ps); }
    PaintDC(const PaintDC&) = delete;
    PaintDC& operator=(const PaintDC&) = delete;

    HDC Get() const { return m_hDC; }

private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
    HDC m_hDC;
};

void ShowWarning(HWND owner, const char* text)
{
    MessageBoxA(owner, text, WARNING_CAPTION, MB_OK);
}

}  // namespace

CInstallerDialog::CInstallerDialog(HWND hParent)
    : CDialog(IDD, hParent),
      m_hIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)))
{
}

// The icon is a shared resource icon; the system owns it.
CInstallerDialog::~CInstallerDialog() = default;

const MessageMap* CInstallerDialog::GetMessageMap() const
{
    static const MessageMapEntry entries[] = {
        OnPaintEntry(&CInstallerDialog::OnPaint),
        OnQueryDragIconEntry(&CInstallerDialog::OnQueryDragIcon),
        OnClickedEntry(IDC_INSTALL, &CInstallerDialog::OnInstall),
    };
    static const MessageMap map{CDialog::GetMessageMap(), entries};
    return &map;
}

void CInstallerDialog::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_README, m_strReadme);
}

BOOL CInstallerDialog::OnInitDialog()
{
    CDialog::OnInitDialog();

    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // A missing read-me is no error: the box just stays empty.
    const std::string exePath = ModulePath();
    if (exePath.empty() || !installer::LoadReadme(installer::ReadmePathFor(exePath), m_strReadme))
        return TRUE;
    UpdateData(FALSE);

    return TRUE;  // the focus goes to the first tab stop, "Close"
}

// Enter in the read-me box produces the OK command; it must not end the program.
void CInstallerDialog::OnOK() {}

void CInstallerDialog::OnPaint()
{
    if (!IsIconic(m_hWnd)) {
        Default();
        return;
    }
    PaintDC dc(m_hWnd);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.Get()), 0);

    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect{};
    GetClientRect(m_hWnd, &rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    DrawIcon(dc.Get(), x, y, m_hIcon);
}

HCURSOR CInstallerDialog::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CInstallerDialog::OnInstall()
{
    RegistryKey key;
    if (!key.Open(HKEY_LOCAL_MACHINE, APP_MANAGER_KEY, KEY_READ)) {
        ShowWarning(m_hWnd, MSG_NOT_INSTALLED);
        return;
    }

    // One byte more than the query may fill, so the path read is always
    // terminated, whatever type or length the value has.
    char appManager[PATH_BUFFER] = {};
    DWORD size = PATH_BUFFER - 1;
    if (RegQueryValueExA(key.Get(), nullptr, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(appManager), &size) != ERROR_SUCCESS) {
        ShowWarning(m_hWnd, MSG_NOT_INSTALLED);
        return;
    }

    const std::string commandLine = installer::InstallCommandLine(ModulePath());
    const HINSTANCE started = ShellExecuteA(m_hWnd, "open", appManager, commandLine.c_str(),
                                            nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<INT_PTR>(started) <= 32)
        ShowWarning(m_hWnd, MSG_CANNOT_INSTALL);

    // The application manager runs on its own; the installer's work is done
    // whether or not it could be started.
    EndDialog(1);
}
