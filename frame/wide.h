// What the actions do to text. The wide string is std::wstring (UTF-16 on
// Windows); a count beyond the text is cut to the text, "not found" is -1.
#pragma once

#include <windows.h>

#include <string>

namespace kvca {

std::wstring Left(const std::wstring& text, size_t count);
std::wstring Right(const std::wstring& text, size_t count);
std::wstring Mid(const std::wstring& text, size_t first, size_t count = std::wstring::npos);

// Case-sensitive search from a position; -1 when not found.
int Find(const std::wstring& text, wchar_t ch, size_t from = 0);
int Find(const std::wstring& text, const std::wstring& part, size_t from = 0);

// Replaces every occurrence of `from` by `to`; returns how many were replaced.
int ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);

bool EqualsNoCase(const std::wstring& a, const std::wstring& b);

// printf-style fill with Microsoft's rules: in the wide format %s is a wide
// string and a null one prints "(null)".
std::wstring Format(const wchar_t* pattern, ...);
std::wstring FormatV(const wchar_t* pattern, va_list args);

// Text in the calling thread's ANSI code page.
std::wstring FromAnsi(const char* text);
std::wstring FromAnsi(const char* text, size_t length);

}  // namespace kvca
