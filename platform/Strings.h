#pragma once
// The program's strings are wide; the host file system and terminals speak UTF-8.
#include <string>
#include <string_view>

std::string ToUtf8(std::wstring_view text);
// Returns false (and leaves out nothing silently: out is empty) when bytes are
// not valid UTF-8.
bool FromUtf8(std::string_view bytes, std::wstring& out);
std::wstring FromUtf8(std::string_view bytes);  // invalid sequences become U+FFFD

// printf-style formatting of wide strings, e.g. FormatW(L"%.1fx%.1f cm", w, h).
std::wstring FormatW(const wchar_t* format, ...);
