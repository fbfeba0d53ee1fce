// Stands in for the application manager in the installer's Wine tests: it
// writes the command line it was started with to "cmdline.txt" beside itself.
// The file is written under another name and then renamed, so the test never
// reads half of it.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(nullptr, self, sizeof self);
    if (length == 0 || length >= sizeof self)
        return 2;
    std::string folder(self, length);
    folder.resize(folder.find_last_of('\\') + 1);

    const std::string partial = folder + "cmdline.partial";
    const std::string record = folder + "cmdline.txt";
    const HANDLE file = CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    const char* line = GetCommandLineA();
    DWORD written = 0;
    const BOOL ok = WriteFile(file, line, lstrlenA(line), &written, nullptr);
    CloseHandle(file);
    if (!ok || !MoveFileExA(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING))
        return 4;
    return 0;
}
