#include "frame/wide.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace kvca {

std::wstring Left(const std::wstring& text, size_t count) { return text.substr(0, count); }

std::wstring Right(const std::wstring& text, size_t count) {
  return count >= text.size() ? text : text.substr(text.size() - count);
}

std::wstring Mid(const std::wstring& text, size_t first, size_t count) {
  return first >= text.size() ? std::wstring() : text.substr(first, count);
}

static int ToIndex(size_t position) {
  return position == std::wstring::npos ? -1 : static_cast<int>(position);
}

int Find(const std::wstring& text, wchar_t ch, size_t from) { return ToIndex(text.find(ch, from)); }

int Find(const std::wstring& text, const std::wstring& part, size_t from) {
  return ToIndex(text.find(part, from));
}

int ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to) {
  if (from.empty()) return 0;
  int count = 0;
  for (size_t at = text.find(from); at != std::wstring::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
    ++count;
  }
  return count;
}

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::wstring FormatV(const wchar_t* pattern, va_list args) {
  va_list probe;
  va_copy(probe, args);
  int length = _vscwprintf(pattern, probe);
  va_end(probe);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  _vsnwprintf(&text[0], text.size(), pattern, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::wstring Format(const wchar_t* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  std::wstring text = FormatV(pattern, args);
  va_end(args);
  return text;
}

std::wstring FromAnsi(const char* text, size_t length) {
  if (length == 0) return std::wstring();
  int count = MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), nullptr, 0);
  std::wstring wide(static_cast<size_t>(count), L'\0');
  if (count > 0) MultiByteToWideChar(CP_THREAD_ACP, 0, text, static_cast<int>(length), &wide[0], count);
  return wide;
}

std::wstring FromAnsi(const char* text) { return text ? FromAnsi(text, std::strlen(text)) : std::wstring(); }

}  // namespace kvca
