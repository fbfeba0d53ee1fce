#include "app/TrimoraApp.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/MainDialog.h"
#include "imaging/TempFile.h"
#include "platform/DeviceFs.h"

BOOL CTrimoraApp::InitInstance() {
    CMainDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the program ends with the main window.
    return FALSE;
}

namespace {
CTrimoraApp theApp;

void Usage(FILE* to) {
    std::fputs("Usage: trimora [--root DIR]\n"
               "  --root DIR  the folder shown as the device's storage (default: /)\n",
               to);
}
}  // namespace

int main(int argc, char** argv) {
    TempFile::InstallSignalCleanup();  // a signal or a size limit leaves no half-written export behind
    std::string root = "/";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--root") && i + 1 < argc) {
            root = argv[++i];
        } else if (!std::strncmp(argv[i], "--root=", 7)) {
            root = argv[i] + 7;
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            Usage(stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] == '-') {
            // Qt's own options (-platform, -style ...) use one dash; anything
            // else with two is a mistake worth saying so.
            std::fprintf(stderr, "trimora: unknown option %s\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }
    struct stat st {};
    if (stat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "trimora: %s is not a folder\n", root.c_str());
        return 2;
    }
    devfs::SetStorageRoot(root);
    return theApp.Run(argc, argv);
}
