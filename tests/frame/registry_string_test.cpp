#include <gtest/gtest.h>

#include <string>

#include "frame/handles.h"
#include "frame/registry.h"

namespace {

using namespace kvca;
using namespace std::string_literals;

struct Shape {
  const wchar_t* name;
  DWORD type;
  std::string bytes;  // stored as they are
  LONG result;
  const wchar_t* value;  // what the wide string holds afterwards
};

TEST(ReadRegString, TakesStringsAsStoredAndRefusesOtherData) {
  const Shape shapes[] = {
      // Another type, or no value at all: the wide string keeps what it had.
      {L"dword", REG_DWORD, "\x07\0\0\0"s, ERROR_INVALID_DATA, L"before"},
      {L"missing", REG_NONE, "", ERROR_FILE_NOT_FOUND, L"before"},
      // Texts as stored: nothing expanded.
      {L"expand", REG_EXPAND_SZ, "%\0S\0R\0%\0\\\0a\0\0\0"s, ERROR_SUCCESS, L"%SR%\\a"},
      {L"plain", REG_SZ, "k\0v\0\0\0"s, ERROR_SUCCESS, L"kv"},
      {L"nul", REG_SZ, "\0\0"s, ERROR_SUCCESS, L""},
      {L"nodata", REG_SZ, "", ERROR_SUCCESS, L""},
      // Data that is no NUL-terminated UTF-16 text: the wide string is emptied.
      {L"unterminated", REG_SZ, "a\0b\0"s, ERROR_INVALID_DATA, L""},
      // Three bytes do not fit a room of one character: the second query refuses them.
      {L"odd", REG_SZ, "abc", ERROR_MORE_DATA, L""},
  };
  const wchar_t scratch[] = L"Software\\kvca-read-reg-string";
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, scratch, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, key.put(), nullptr));
  // RegSetValueExW completes a text whose terminator follows it in memory:
  // a guard after the bytes keeps them as they are.
  for (const Shape& shape : shapes) {
    const std::string guarded = shape.bytes + "\x01\x01";
    if (shape.type != REG_NONE)
      RegSetValueExW(key.get(), shape.name, 0, shape.type, reinterpret_cast<const BYTE*>(guarded.data()),
                     static_cast<DWORD>(shape.bytes.size()));
  }

  for (const Shape& shape : shapes) {
    std::wstring value = L"before";
    EXPECT_EQ(shape.result, ReadRegString(key.get(), shape.name, value)) << shape.name;
    EXPECT_EQ(shape.value, value) << shape.name;
  }
  std::wstring value = L"before";
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ReadRegString(nullptr, L"plain", value));
  EXPECT_EQ(L"before", value);
  RegDeleteTreeW(HKEY_CURRENT_USER, scratch);
}

}  // namespace
