#include "frame/registry.h"

namespace kvca {

LONG ReadRegString(HKEY key, const wchar_t* name, std::wstring& value) {
  if (key == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD type = 0;
  DWORD bytes = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;

  value.clear();
  if (bytes == 0) return ERROR_SUCCESS;
  // The room holds byte size / 2 characters and the second query is told that
  // many bytes. An odd byte count is therefore one byte too large for it: the
  // query itself answers ERROR_MORE_DATA, and that answer is returned. The data
  // test below catches what the query did deliver: a value rewritten between
  // the two queries, or one without its terminating NUL.
  std::wstring buffer(bytes / sizeof(wchar_t), L'\0');
  bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  result = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &bytes);
  if (result != ERROR_SUCCESS) return result;
  size_t count = bytes / sizeof(wchar_t);
  if (bytes % sizeof(wchar_t) != 0 || count == 0 || buffer[count - 1] != L'\0')
    return ERROR_INVALID_DATA;
  buffer.resize(count - 1);
  value = std::move(buffer);
  return ERROR_SUCCESS;
}

LONG WriteRegString(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG WriteRegDword(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

}  // namespace kvca
