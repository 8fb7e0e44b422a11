// DelSecurityProviders30KC1 against a sandboxed HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>

#include <windows.h>
#include <msi.h>

#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "support/registry_sandbox.h"

KVCA_ACTION DelSecurityProviders30KC1(MSIHANDLE);

namespace {

using namespace kvca::test;

const std::wstring kProviders = L"SYSTEM\\CurrentControlSet\\Control\\SecurityProviders";

struct ProviderCase {
  DWORD type;
  std::wstring before;
  DWORD typeAfter;
  std::wstring after;
};

TEST(SecurityProviders, RemovesEveryKvsspEntry) {
  const ProviderCase cases[] = {
      {REG_SZ, L"credssp.dll, kvssp.dll, msapsspc.dll", REG_SZ, L"credssp.dll, msapsspc.dll"},
      {REG_SZ, L"a.dll, kvssp.dll, kvssp.dll", REG_SZ, L"a.dll"},
      {REG_EXPAND_SZ, L"%windir%\\a.dll, kvssp.dll", REG_SZ, L"%windir%\\a.dll"},
      // Nothing to remove: not written at all, so the type stays.
      {REG_EXPAND_SZ, L"kvssp.dll, credssp.dll", REG_EXPAND_SZ, L"kvssp.dll, credssp.dll"},
      {REG_EXPAND_SZ, L"credssp.dll, KVSSP.dll", REG_EXPAND_SZ, L"credssp.dll, KVSSP.dll"},
  };
  for (const ProviderCase& each : cases) {
    RegistrySandbox sandbox;
    kvca::RegKey key;
    RegCreateKeyExW(sandbox.machine(), kProviders.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    RegSetValueExW(key.get(), L"SecurityProviders", 0, each.type, reinterpret_cast<const BYTE*>(each.before.c_str()),
                   static_cast<DWORD>((each.before.size() + 1) * sizeof(wchar_t)));
    UINT result;
    {
      RegistrySandbox::Redirect redirect(sandbox);
      result = DelSecurityProviders30KC1(0);
    }
    DWORD type = 0;
    std::wstring data;
    ReadRawValue(sandbox.machine(), kProviders, L"SecurityProviders", type, data);
    EXPECT_EQ(0u, result) << each.before;
    EXPECT_EQ(each.typeAfter, type) << each.before;
    EXPECT_EQ(each.after + L'\0', data);
  }
}

TEST(SecurityProviders, LeavesAMachineWithoutTheListAlone) {
  RegistrySandbox sandbox;
  RegistrySandbox::Redirect redirect(sandbox);
  EXPECT_EQ(0u, DelSecurityProviders30KC1(0));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProviders));
}

}  // namespace
