#include "app/PipelineWrappers.h"

#include <cstdlib>

#include "imaging/Export.h"
#include "platform/MessageBox.h"
#include "platform/WaitCursor.h"
#include "tone/ToneCurve.h"

void ShowOutOfMemory() {
    // An empty caption: the box carries no caption of its own.
    ShowMessageBox(L"out of memory");
}

int LoadPreview(const std::wstring& path, CSize& box, CSize& sourceSize, PreviewBuffer& preview,
                ProgressSink& progress, PhotoReport* report) {
    CWaitCursor wait;
    PhotoReport ignored;
    PhotoReport& result = report ? *report : ignored;
    const int ok = DecodePreview(path, box, sourceSize, preview, progress, result);
    if (result.failure == PhotoReport::Failure::SourceTooSmall)
        ShowMessageBox(L"Image must be lagrer then 800x600", L"Warning");
    if (result.failure == PhotoReport::Failure::OutOfMemory) {
        ShowOutOfMemory();
        std::exit(1);
    }
    return ok;
}

int ExportFramedImage(const std::wstring& sourcePath, const std::wstring& destinationPath, const CRect& crop,
                      ProgressSink& progress, ToneCurve& curve, int quality, PhotoReport* report,
                      std::vector<std::string>* warnings) {
    CWaitCursor wait;
    const ToneLevels tone = ExportLevels(curve);
    ExportExtras extras;
    extras.warnings = warnings;
    return ExportFramedImageWith(sourcePath, destinationPath, crop, progress, tone.Table(), quality, extras, report);
}
