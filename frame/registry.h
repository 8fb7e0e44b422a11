// Reading registry string values into wide strings.
#pragma once

#include <windows.h>

#include <string>

namespace kvca {

// Reads a REG_SZ or REG_EXPAND_SZ value as stored (nothing expanded).
// Not open key: 87 and `value` unchanged; query failure: its code, `value`
// unchanged; another type: 13, `value` unchanged; an odd byte count: 234
// (ERROR_MORE_DATA) and `value` empty; data that is not a NUL-terminated
// UTF-16 text: 13 and `value` empty.
LONG ReadRegString(HKEY key, const wchar_t* name, std::wstring& value);

// Writes a REG_SZ value with its terminating NUL.
LONG WriteRegString(HKEY key, const wchar_t* name, const std::wstring& value);
LONG WriteRegDword(HKEY key, const wchar_t* name, DWORD value);

}  // namespace kvca
