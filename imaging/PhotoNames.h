#pragma once
// The names under which photographs are found: JPEGs and the phone
// photographs of the HEIF family. A file is still told by its content when
// it is opened; these names only decide what is offered.
#include <string>
#include <string_view>

// A lower-cased extension without its dot: heic, heif, hif, avif.
bool IsHeifExtension(std::string_view lowerExtension);
// The name ends in one of those extensions, in any case.
bool HasHeifExtension(std::wstring_view name);
