#include "app/TrimoraApp.h"

#include <QTimer>
#include <cstdio>

#include "app/CommandLine.h"
#include "print/HostPhoto.h"
#include "app/MainDialog.h"
#include "app/PipelineWrappers.h"
#include "imaging/PreviewBuffer.h"
#include "imaging/TempFile.h"
#include "platform/DeviceFs.h"

BOOL CTrimoraApp::InitInstance() {
    CMainDialog dlg;
    m_pMainWnd = &dlg;
    // A photograph from the command line opens once the window is up, as if
    // the user had picked it first thing.
    if (!m_strStartPhoto.empty())
        QTimer::singleShot(0, [&dlg, photo = m_strStartPhoto] { dlg.OpenHostPhotograph(photo); });
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // No message loop of our own: the program ends with the main window.
    return FALSE;
}

namespace {
CTrimoraApp theApp;
}  // namespace

int main(int argc, char** argv) {
    TempFile::InstallSignalCleanup();
    SetOutOfMemoryHandler(ShowOutOfMemory);  // a signal or a size limit leaves no half-written export behind
    StartOptions options;
    if (const int status = ParseCommandLine(argc, argv, options); status >= 0) return status;
    std::string root = options.root.empty() ? "/" : options.root;
    if (!options.photo.empty()) {
        // The storage is the photograph's own (its card, say), so that the
        // browser and GO! go on in device paths.
        const HostPhoto photo = LocateHostPhoto(options.photo, options.root);
        if (photo.error.empty()) root = photo.root;
        else std::fprintf(stderr, "trimora: %s\n", photo.error.c_str());
        theApp.m_strStartPhoto = options.photo;
    }
    devfs::SetStorageRoot(root);
    QuietRuntimeDir();
    return theApp.Run(argc, argv);
}
