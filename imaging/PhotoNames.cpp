#include "imaging/PhotoNames.h"

#include <array>
#include <cwctype>

namespace {
constexpr std::array<std::string_view, 4> HEIF_EXTENSIONS = {"heic", "heif", "hif", "avif"};
}  // namespace

bool IsHeifExtension(std::string_view lowerExtension) {
    for (std::string_view e : HEIF_EXTENSIONS)
        if (lowerExtension == e) return true;
    return false;
}

bool HasHeifExtension(std::wstring_view name) {
    const size_t dot = name.rfind(L'.');
    if (dot == std::wstring_view::npos || name.size() - dot - 1 > 4) return false;
    std::string extension;
    for (wchar_t c : name.substr(dot + 1)) {
        if (c > 0x7f) return false;
        extension += static_cast<char>(std::towlower(static_cast<wint_t>(c)));
    }
    return IsHeifExtension(extension);
}
