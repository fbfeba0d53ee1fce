#pragma once
// Writes a preview buffer (R, G, B, top row first) to a file as a binary PPM
// or as a 24-bit BMP, the platform's bitmap layout on disk.
#include <string>

#include "imaging/PreviewBuffer.h"
#include "platform/WinTypes.h"

enum class PreviewFileType { Ppm, Bmp };

// The file appears complete or not at all: it is written beside its final
// name first. False with error saying why.
bool WritePreviewFile(const std::string& path, const PreviewBuffer& preview, CSize size, PreviewFileType type,
                      std::string& error);
