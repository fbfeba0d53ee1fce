#include "platform/Strings.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

std::string ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {
// Decodes one sequence at bytes[i]; returns its length, 0 when it is invalid.
size_t DecodeOne(std::string_view bytes, size_t i, uint32_t& cp) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char c = b(i);
    size_t len;
    uint32_t min;
    if (c < 0x80) { cp = c; return 1; }
    if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; min = 0x10000; }
    else return 0;
    if (i + len > bytes.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}
}  // namespace

bool FromUtf8(std::string_view bytes, std::wstring& out) {
    out.clear();
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp;
        size_t n = DecodeOne(bytes, i, cp);
        if (n == 0) { out.clear(); return false; }
        out += static_cast<wchar_t>(cp);
        i += n;
    }
    return true;
}

std::wstring FromUtf8(std::string_view bytes) {
    std::wstring out;
    for (size_t i = 0; i < bytes.size();) {
        uint32_t cp;
        size_t n = DecodeOne(bytes, i, cp);
        if (n == 0) { cp = 0xFFFD; n = 1; }
        out += static_cast<wchar_t>(cp);
        i += n;
    }
    return out;
}

std::wstring FormatW(const wchar_t* format, ...) {
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list args;
        va_start(args, format);
        int n = std::vswprintf(buf.data(), buf.size(), format, args);
        va_end(args);
        // vswprintf reports -1 both for errors and for a buffer too small.
        if (n >= 0 && static_cast<size_t>(n) < buf.size()) return std::wstring(buf.data(), n);
        if (buf.size() > (1u << 20)) return {};
        buf.resize(buf.size() * 2);
    }
}
