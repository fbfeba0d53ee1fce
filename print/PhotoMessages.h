#pragma once
// The words both programs use for what happened to a photograph: why it
// failed (the photograph itself, the file to be written, or a clash in a
// batch), the damage the decoder patched up, a print of low resolution.
// trimora-cli prints them after its name and the photograph's; the window's
// whole order lists them after the photograph's name.
#include <string>

#include "imaging/Pipeline.h"

// Why the operation failed, naming the destination when that is what failed.
std::string FailureText(const PhotoReport& report, const std::string& destination);

// The same in a few words, for the window's one-line notice.
std::wstring PhotoFailureText(const PhotoReport& report);

// The warning for a photograph decoded with damaged data; empty when there
// was none.
std::string DamageText(const PhotoReport& report);

// The warning for a photograph whose EXIF orientation could not be used.
std::string DamagedOrientationText();

// The warning labs would give: a print of formatName at dpi, below minDpi.
std::string LowResolutionText(const std::string& formatName, long dpi, int minDpi);

// The refusals of a batch. output: the file the photograph would write;
// other, otherOutput: the photograph it meets and the file that one writes.
std::string SameOutputText(const std::string& output, const std::string& other, const std::string& otherOutput);
std::string ReplacesPhotographText(const std::string& other);
std::string OverwritesSourceText();
std::string EmptyFrameText();
std::string NoFormatText();
