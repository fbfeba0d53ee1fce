#pragma once
// The words trimora-cli uses for what the engine found out about a
// photograph: why it failed (the photograph itself, or the file to be
// written), and the damage it patched up.
#include <string>

#include "imaging/Pipeline.h"

// Why the operation failed, naming the destination when that is what failed.
std::string FailureText(const PhotoReport& report, const std::string& destination);

// The warning for a photograph decoded with damaged data; empty when there
// was none.
std::string DamageText(const PhotoReport& report);

// The warning for a photograph whose EXIF orientation could not be used.
std::string DamagedOrientationText();
