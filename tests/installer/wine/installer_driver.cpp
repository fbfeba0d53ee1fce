// Works the Trimora installer's dialog the way a person would, from another
// process, and checks what it shows and does. Run under Wine by run_case.sh,
// which prepares the registry for each case:
//     installer_driver CASE INSTALLER_EXE RECORD_FILE
// INSTALLER_EXE is the built installer, copied by the driver into a folder of
// the case; RECORD_FILE is where the stand-in application manager writes the
// command line it was started with. Exit code 0 means every check passed.
#include <windows.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char DIALOG_CAPTION[] = "Trimora for Pocket PC";
constexpr char WARNING_CAPTION[] = "Warning";
constexpr char MSG_NOT_INSTALLED[] =
    "ActiveSync not installed.\nCannot install the file automatically, please put CAB-file manually on PocketPC";
constexpr char MSG_CANNOT_INSTALL[] =
    "Cannot install the file automatically, please put CAB-file manually on PocketPC";

constexpr int ID_CLOSE = 2;
constexpr int ID_README = 1000;
constexpr int ID_INSTALL = 1001;

constexpr DWORD START_TIMEOUT_MS = 60000;  // a cold Wine may take its time
constexpr DWORD STEP_TIMEOUT_MS = 15000;

int g_failures = 0;

struct Fatal {};

void Report(const char* kind, const char* format, va_list args)
{
    std::printf("%s: ", kind);
    std::vprintf(format, args);
    std::printf("\n");
    std::fflush(stdout);
}

void Check(bool ok, const char* format, ...)
{
    if (ok)
        return;
    ++g_failures;
    va_list args;
    va_start(args, format);
    Report("FAIL", format, args);
    va_end(args);
}

// A failed check after which the case cannot go on.
void Require(bool ok, const char* format, ...)
{
    if (ok)
        return;
    ++g_failures;
    va_list args;
    va_start(args, format);
    Report("FAIL", format, args);
    va_end(args);
    throw Fatal{};
}

void Note(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Report("step", format, args);
    va_end(args);
}

// Polls `done` every 20 ms until it holds or `timeoutMs` has passed.
bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done())
            return true;
        if (GetTickCount64() >= end)
            return false;
        Sleep(20);
    }
}

std::string Printable(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

std::string ClassOf(HWND hWnd)
{
    char name[256] = {};
    GetClassNameA(hWnd, name, sizeof name);
    return name;
}

// Window text read through messages, as any other process would.
std::string TextOf(HWND hWnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length))
        return "<no answer>";
    std::vector<char> text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(hWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 5000, &copied))
        return "<no answer>";
    return std::string(text.data(), copied);
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid)
{
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND hWnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hWnd, &owner);
            if (owner == s->pid)
                s->found.push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindDialogOf(DWORD pid, const char* caption)
{
    for (HWND hWnd : TopLevelWindowsOf(pid)) {
        char title[256] = {};
        GetWindowTextA(hWnd, title, sizeof title);
        if (ClassOf(hWnd) == "#32770" && std::strcmp(title, caption) == 0 && IsWindowVisible(hWnd))
            return hWnd;
    }
    return nullptr;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND hWnd, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND FocusOf(HWND hWnd)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(hWnd, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

// Whether the left end of the window's caption, where the small icon sits,
// holds strongly red pixels. Wine draws the caption itself in the tests' prefix.
bool CaptionShowsRed(HWND hWnd)
{
    RECT rect{};
    GetWindowRect(hWnd, &rect);
    const int side = GetSystemMetrics(SM_CYCAPTION) + GetSystemMetrics(SM_CYFRAME) + 4;
    const HDC screen = GetDC(nullptr);
    const HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = side;
    info.bmiHeader.biHeight = -side;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    int red = 0;
    if (bitmap) {
        const HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, side, side, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const BYTE*>(bits);
        for (int i = 0; i < side * side; ++i) {
            const BYTE b = pixels[4 * i], g = pixels[4 * i + 1], r = pixels[4 * i + 2];
            if (r >= 170 && g <= 90 && b <= 90)
                ++red;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return red >= 4;
}

std::string ReadAll(const std::string& path)
{
    std::string content;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            content.append(buffer, n);
        std::fclose(f);
    }
    return content;
}

bool WriteAll(const std::string& path, const std::string& content)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && ok;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolders(const std::string& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
}

// A started process; it does not outlive the case, whatever happens to it.
class Process {
public:
    Process() = default;
    ~Process()
    {
        if (!pi.hProcess)
            return;
        if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 99);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    PROCESS_INFORMATION pi{};
};

// The installer under test, running from a folder of its own.
class Installer {
public:
    Installer(const std::string& folder, const std::string& workingFolder)
    {
        const std::string exe = folder + "\\installer.exe";
        std::string commandLine = "\"" + exe + "\"";
        STARTUPINFOA si{};
        si.cb = sizeof si;
        Require(CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               workingFolder.c_str(), &si, &m_pi),
                "cannot start %s (error %lu)", exe.c_str(), GetLastError());
        Require(WaitUntil(START_TIMEOUT_MS,
                          [&] { return (m_dialog = FindDialogOf(m_pi.dwProcessId, DIALOG_CAPTION)) != nullptr || Exited(); }),
                "the dialog \"%s\" did not appear", DIALOG_CAPTION);
        Require(m_dialog != nullptr, "the installer ended before showing its dialog");
        Note("dialog shown");
    }
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    HWND Dialog() const { return m_dialog; }
    HWND Item(int id) const { return GetDlgItem(m_dialog, id); }
    DWORD Pid() const { return m_pi.dwProcessId; }

    bool Exited() const { return WaitForSingleObject(m_pi.hProcess, 0) == WAIT_OBJECT_0; }

    // Waits for the program to end and checks that it ended normally.
    void ExpectExit(const char* after)
    {
        const bool ended = WaitForSingleObject(m_pi.hProcess, STEP_TIMEOUT_MS) == WAIT_OBJECT_0;
        Require(ended, "the installer did not end after %s", after);
        DWORD code = 0;
        GetExitCodeProcess(m_pi.hProcess, &code);
        Check(code == 0, "the installer ended with exit code 0x%lx after %s", code, after);
    }

    // The dialog is still there, usable, and handling messages: it takes the
    // focus when asked to.
    void ExpectStillOpen(const char* after)
    {
        Sleep(500);
        Require(!Exited(), "the installer ended after %s", after);
        Require(IsWindow(m_dialog) && IsWindowVisible(m_dialog), "the dialog closed after %s", after);
        Check(IsWindowEnabled(m_dialog), "the dialog is disabled after %s", after);
        Require(MoveFocus(Item(ID_README)), "the dialog stopped answering after %s", after);
    }

    // Asks the dialog to move the focus, as Tab would, and waits until it has.
    // Messages posted to a thread are handled in order, so this also tells
    // that everything posted before has been handled.
    bool MoveFocus(HWND control)
    {
        PostMessageA(m_dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        return WaitUntil(STEP_TIMEOUT_MS, [&] { return FocusOf(m_dialog) == control || Exited(); }) &&
               FocusOf(m_dialog) == control;
    }

    void PressKey(HWND control, UINT vk, UINT scanCode)
    {
        const LPARAM down = 1 | (static_cast<LPARAM>(scanCode) << 16);
        const LPARAM up = down | (1L << 30) | (1L << 31);
        PostMessageA(control, WM_KEYDOWN, vk, down);
        PostMessageA(control, WM_KEYUP, vk, up);
    }

    void Click(int id)
    {
        Require(Item(id) != nullptr, "no control %d", id);
        PostMessageA(Item(id), BM_CLICK, 0, 0);
    }

    HWND WaitForWarning()
    {
        HWND box = nullptr;
        WaitUntil(STEP_TIMEOUT_MS, [&] { return (box = FindDialogOf(Pid(), WARNING_CAPTION)) != nullptr || Exited(); });
        return box;
    }

private:
    Process m_process;
    PROCESS_INFORMATION& m_pi = m_process.pi;
    HWND m_dialog = nullptr;
};

// Checks a message box of the installer and dismisses it with its OK button.
void ExpectWarning(Installer& installer, const char* expectedText)
{
    const HWND box = installer.WaitForWarning();
    Require(box != nullptr, "no \"%s\" message box appeared", WARNING_CAPTION);
    Note("message box shown");
    Check(GetWindow(box, GW_OWNER) == installer.Dialog(), "the message box is not owned by the dialog");
    Check(!IsWindowEnabled(installer.Dialog()), "the dialog is not disabled behind its message box");

    std::string text;
    int buttons = 0;
    bool icon = false;
    for (HWND child : ChildrenOf(box)) {
        if (!IsWindowVisible(child))
            continue;
        const std::string cls = ClassOf(child);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (cls == "Button") {
            ++buttons;
            Check(TextOf(child) == "OK", "unexpected button \"%s\" in the message box", TextOf(child).c_str());
        } else if (cls == "Static") {
            if ((style & SS_TYPEMASK) == SS_ICON) {
                if (SendMessageA(child, STM_GETICON, 0, 0) != 0)
                    icon = true;
            } else if (!TextOf(child).empty()) {
                text = TextOf(child);
            }
        }
    }
    Check(text == expectedText, "message box text is \"%s\", expected \"%s\"", Printable(text).c_str(),
          Printable(expectedText).c_str());
    Check(buttons == 1, "the message box has %d buttons, expected only OK", buttons);
    Check(!icon, "the message box shows an icon");

    PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    Require(WaitUntil(STEP_TIMEOUT_MS, [&] { return !IsWindow(box) || !IsWindowVisible(box); }),
            "the message box did not close");
}

// What the stand-in application manager recorded, once it has.
std::string WaitForRecord(const std::string& record)
{
    WaitUntil(STEP_TIMEOUT_MS, [&] { return Exists(record); });
    return ReadAll(record);
}

void ExpectAppManagerStartedWith(const std::string& record, const std::string& packagePath)
{
    const std::string line = WaitForRecord(record);
    Require(!line.empty(), "the application manager was not started (no %s)", record.c_str());
    Note("application manager started: %s", line.c_str());

    const std::string quoted = "\"" + packagePath + "\"";
    Check(line.size() > quoted.size() && line.compare(line.size() - quoted.size(), quoted.size(), quoted) == 0 &&
              line[line.size() - quoted.size() - 1] == ' ',
          "the command line does not end with the quoted package description %s", quoted.c_str());

    // What the application manager itself gets to see: exactly one argument.
    std::wstring wide(line.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), wide.data(),
                                    static_cast<int>(wide.size())));
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(wide.c_str(), &argc);
    Require(argv != nullptr, "cannot parse the recorded command line");
    std::wstring expected(packagePath.begin(), packagePath.end());
    Check(argc == 2, "the application manager got %d arguments, expected 1", argc - 1);
    Check(argc >= 2 && expected == argv[argc - 1], "the application manager's argument is not %s",
          packagePath.c_str());
    LocalFree(argv);
}

// ---------------------------------------------------------------- the cases

struct Context {
    std::string installerSource;
    std::string record;
};

// A folder holding a copy of the installer and, if given, a read-me; and a
// working folder elsewhere whose own read-me must never be shown.
struct Setup {
    std::string folder;
    std::string workingFolder;
};

Setup Prepare(const Context& ctx, const std::string& folder, const std::string* readme)
{
    MakeFolders(folder);
    DeleteFileA((folder + "\\readme.txt").c_str());
    Require(CopyFileA(ctx.installerSource.c_str(), (folder + "\\installer.exe").c_str(), FALSE),
            "cannot copy %s into %s", ctx.installerSource.c_str(), folder.c_str());
    if (readme)
        Require(WriteAll(folder + "\\readme.txt", *readme), "cannot write the read-me");
    const std::string working = "C:\\trimora test working folder";
    MakeFolders(working);
    Require(WriteAll(working + "\\readme.txt", "the working folder's read-me\r\n"), "cannot write the decoy read-me");
    DeleteFileA(ctx.record.c_str());
    return {folder, working};
}

// The icon, and the manifest that keeps Windows from asking for administrator
// rights, as it would for a program named "installer" without one; Wine never
// asks, so only the resource itself can tell.
void CaseResources(const Context& ctx)
{
    const HMODULE module =
        LoadLibraryExA(ctx.installerSource.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    Require(module != nullptr, "cannot load %s as data (error %lu)", ctx.installerSource.c_str(), GetLastError());

    Check(FindResourceA(module, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */) != nullptr,
          "no icon group 128");
    const HICON icon = static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(128), IMAGE_ICON, 32, 32, 0));
    Check(icon != nullptr, "icon 128 cannot be loaded");
    if (icon)
        DestroyIcon(icon);

    const HRSRC manifest = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24) /* RT_MANIFEST */);
    Require(manifest != nullptr, "no manifest");
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                           SizeofResource(module, manifest));
    Check(text.find("level=\"asInvoker\"") != std::string::npos,
          "the manifest does not keep the installer from asking for administrator rights");
    FreeLibrary(module);
}

void CaseReadmeShown(const Context& ctx)
{
    const std::string readme =
        "Trimora read-me\r\n"
        "a line ended the Unix way\n"
        "\n"
        "\ttabbed, with a stray CR\r in it\r\n"
        "last line without an end";
    const std::string shown =
        "Trimora read-me\r\n"
        "a line ended the Unix way\r\n"
        "\r\n"
        "\ttabbed, with a stray CR\r in it\r\n"
        "last line without an end\r\n";
    const Setup setup = Prepare(ctx, "C:\\Trimora Setup\\Shown read-me", &readme);
    Installer installer(setup.folder, setup.workingFolder);

    const std::string text = TextOf(installer.Item(ID_README));
    Check(text == shown, "the read-me box shows \"%s\", expected \"%s\"", Printable(text).c_str(),
          Printable(shown).c_str());
    Check(WaitUntil(STEP_TIMEOUT_MS, [&] { return FocusOf(installer.Dialog()) == installer.Item(ID_CLOSE); }),
          "the focus is not on \"Close\" at start");

    // Window icons cannot be asked for across processes under Wine, so look at
    // the screen: the caption shows the small icon, whose crop frame is red.
    Check(WaitUntil(STEP_TIMEOUT_MS, [&] { return CaptionShowsRed(installer.Dialog()); }),
          "the caption does not show the application icon");

    // Minimised, the dialog paints its icon itself; it must come back whole.
    // Whether Wine minimises at all depends on its window handling under a
    // bare X server, and on a loaded machine it sometimes does not: then
    // there is nothing to paint minimised, and only that part is left out.
    PostMessageA(installer.Dialog(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    if (WaitUntil(STEP_TIMEOUT_MS, [&] { return IsIconic(installer.Dialog()) != FALSE; })) {
        RedrawWindow(installer.Dialog(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        PostMessageA(installer.Dialog(), WM_SYSCOMMAND, SC_RESTORE, 0);
        Check(WaitUntil(STEP_TIMEOUT_MS, [&] { return !IsIconic(installer.Dialog()); }), "the dialog did not restore");
    } else {
        std::printf("note: Wine did not minimise the dialog; painting while minimised not checked\n");
    }
    installer.ExpectStillOpen("minimising and restoring");
    Check(TextOf(installer.Item(ID_README)) == shown, "the read-me changed after restoring");

    installer.Click(ID_CLOSE);
    installer.ExpectExit("\"Close\"");
    Check(!Exists(ctx.record), "\"Close\" started the application manager");
}

void CaseReadmeMissingInstallWorks(const Context& ctx)
{
    const Setup setup = Prepare(ctx, "C:\\TrimoraNoReadme", nullptr);
    Installer installer(setup.folder, setup.workingFolder);
    const std::string text = TextOf(installer.Item(ID_README));
    Check(text.empty(), "the read-me box shows \"%s\" without a read-me", Printable(text).c_str());

    installer.Click(ID_INSTALL);
    ExpectAppManagerStartedWith(ctx.record, "C:\\TrimoraNoReadme\\Trimora.ini");
    installer.ExpectExit("starting the application manager");
}

void CaseInstallStartsAppManager(const Context& ctx)
{
    const std::string readme = "Install me.\r\n";
    const std::string folder = "C:\\Trimora Setup 1.0\\Pocket PC package";
    const Setup setup = Prepare(ctx, folder, &readme);
    Installer installer(setup.folder, setup.workingFolder);

    installer.Click(ID_INSTALL);
    ExpectAppManagerStartedWith(ctx.record, folder + "\\Trimora.ini");
    installer.ExpectExit("starting the application manager");
    Check(FindDialogOf(installer.Pid(), WARNING_CAPTION) == nullptr, "a warning was shown");
}

// Install while the application manager cannot be found: a warning, and the
// dialog stays until the user closes it.
void CaseNotInstalled(const Context& ctx, const char* folder)
{
    const std::string readme = "Install me.\r\n";
    const Setup setup = Prepare(ctx, folder, &readme);
    Installer installer(setup.folder, setup.workingFolder);

    installer.Click(ID_INSTALL);
    ExpectWarning(installer, MSG_NOT_INSTALLED);
    installer.ExpectStillOpen("the \"ActiveSync not installed.\" message");

    // A second try gives the same answer.
    installer.Click(ID_INSTALL);
    ExpectWarning(installer, MSG_NOT_INSTALLED);
    installer.ExpectStillOpen("the second \"ActiveSync not installed.\" message");

    // The window's close box ends it like "Close".
    PostMessageA(installer.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
    installer.ExpectExit("the close box");
    Check(!Exists(ctx.record), "something was started");
}

void CaseAppManagerMissing(const Context& ctx)
{
    const std::string readme = "Install me.\r\n";
    const Setup setup = Prepare(ctx, "C:\\Trimora Setup\\Missing manager", &readme);
    Installer installer(setup.folder, setup.workingFolder);

    installer.Click(ID_INSTALL);
    ExpectWarning(installer, MSG_CANNOT_INSTALL);
    installer.ExpectExit("the \"Cannot install\" message");
}

void CaseEnterAndEscape(const Context& ctx)
{
    const std::string readme = "Press Enter here.\r\nNothing happens.\r\n";
    const Setup setup = Prepare(ctx, "C:\\Trimora Setup\\Keys", &readme);
    Installer installer(setup.folder, setup.workingFolder);
    const HWND edit = installer.Item(ID_README);

    Require(installer.MoveFocus(edit), "the read-me box did not take the focus");
    installer.PressKey(edit, VK_RETURN, 0x1C);
    // Moving the focus afterwards tells when the key has been handled.
    Require(installer.MoveFocus(installer.Item(ID_INSTALL)), "the dialog stopped answering after Enter");
    installer.ExpectStillOpen("Enter in the read-me box");

    // The OK command itself, as Enter gives it on Windows, does nothing either.
    PostMessageA(installer.Dialog(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    installer.ExpectStillOpen("the OK command");
    Check(FindDialogOf(installer.Pid(), WARNING_CAPTION) == nullptr, "a warning was shown");

    Require(installer.MoveFocus(edit), "the read-me box did not take the focus");
    installer.PressKey(edit, VK_ESCAPE, 0x01);
    installer.ExpectExit("Escape");
    Check(!Exists(ctx.record), "a key started the application manager");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::printf("usage: installer_driver CASE INSTALLER_EXE RECORD_FILE\n");
        return 2;
    }
    const std::string name = argv[1];
    const Context ctx{argv[2], argv[3]};

    const struct {
        const char* name;
        std::function<void(const Context&)> run;
    } cases[] = {
        {"resources", CaseResources},
        {"readme_shown", CaseReadmeShown},
        {"readme_missing_install_works", CaseReadmeMissingInstallWorks},
        {"install_starts_appmgr", CaseInstallStartsAppManager},
        {"key_missing", [](const Context& c) { CaseNotInstalled(c, "C:\\Trimora Setup\\No key"); }},
        {"key_without_default", [](const Context& c) { CaseNotInstalled(c, "C:\\Trimora Setup\\No default"); }},
        {"appmgr_missing", CaseAppManagerMissing},
        {"enter_and_escape", CaseEnterAndEscape},
    };
    for (const auto& c : cases) {
        if (name != c.name)
            continue;
        try {
            c.run(ctx);
        } catch (const Fatal&) {
        }
        std::printf("%s: %s (%d failed checks)\n", name.c_str(), g_failures ? "FAILED" : "passed", g_failures);
        return g_failures ? 1 : 0;
    }
    std::printf("unknown case %s\n", name.c_str());
    return 2;
}
