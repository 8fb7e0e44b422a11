#include <gtest/gtest.h>

#include "frame/registry.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca;

void SetRaw(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
  ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes));
}

TEST(ReadRegString, TakesStringsAsStoredAndRefusesOtherData) {
  test::RegistrySandbox sandbox;
  HKEY key = sandbox.machine();
  const DWORD number = 7;
  const wchar_t expand[] = L"%SystemRoot%\\kvssp.dll";
  const wchar_t onlyNul[] = L"";
  const wchar_t unterminated[] = {L'a', L'b'};
  const char odd[] = "abc";
  SetRaw(key, L"dword", REG_DWORD, &number, sizeof number);
  SetRaw(key, L"expand", REG_EXPAND_SZ, expand, sizeof expand);
  SetRaw(key, L"nul", REG_SZ, onlyNul, sizeof onlyNul);
  SetRaw(key, L"nodata", REG_SZ, nullptr, 0);
  SetRaw(key, L"unterminated", REG_SZ, unterminated, sizeof unterminated);
  SetRaw(key, L"odd", REG_SZ, odd, 3);

  std::wstring value = L"before";
  EXPECT_EQ(ERROR_INVALID_DATA, ReadRegString(key, L"dword", value));
  EXPECT_EQ(L"before", value);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRegString(key, L"missing", value));
  EXPECT_EQ(L"before", value);
  EXPECT_EQ(ERROR_INVALID_PARAMETER, ReadRegString(nullptr, L"expand", value));
  EXPECT_EQ(L"before", value);

  EXPECT_EQ(ERROR_SUCCESS, ReadRegString(key, L"expand", value));
  EXPECT_EQ(L"%SystemRoot%\\kvssp.dll", value);
  EXPECT_EQ(ERROR_SUCCESS, ReadRegString(key, L"nul", value));
  EXPECT_EQ(L"", value);
  value = L"before";
  EXPECT_EQ(ERROR_SUCCESS, ReadRegString(key, L"nodata", value));
  EXPECT_EQ(L"", value);

  value = L"before";
  EXPECT_EQ(ERROR_INVALID_DATA, ReadRegString(key, L"unterminated", value));
  EXPECT_EQ(L"", value);
  // Three bytes do not fit a room of one character: the second query refuses them.
  value = L"before";
  EXPECT_EQ(ERROR_MORE_DATA, ReadRegString(key, L"odd", value));
  EXPECT_EQ(L"", value);
}

TEST(RegistrySandbox, RedirectsTheMachineKeyOnlyWhileInScope) {
  test::RegistrySandbox sandbox;
  {
    test::RegistrySandbox::Redirect redirect(sandbox);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\kvca-probe", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, key.put(), nullptr));
  }
  EXPECT_TRUE(test::KeyExists(sandbox.machine(), L"SOFTWARE\\kvca-probe"));
  EXPECT_FALSE(test::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\kvca-probe"));
}

}  // namespace
