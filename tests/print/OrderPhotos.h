#pragma once
// Photographs on a temporary storage and the settings they are framed with,
// for the tests of the print order and of the batch writer.
#include <string>

#include "print/PhotoSettings.h"
#include "tests/imaging/TestJpeg.h"
#include "tests/platform/TempFolder.h"

inline PhotoSettings Framed(int format, CSize size, CRect frame, BOOL rotated = FALSE) {
    PhotoSettings s;
    s.nFormat = format;
    s.bRotated = rotated;
    s.sizeSource = size;
    s.rcSource = frame;
    return s;
}

inline void AddPhoto(const TempStorage& storage, const std::string& relative, int w, int h, uint32_t seed) {
    JpegRecipe recipe;
    recipe.width = w;
    recipe.height = h;
    recipe.seed = seed;
    storage.File(relative, EncodeJpeg(recipe));
}
