// The security package and provider list actions against a sandboxed
// HKEY_LOCAL_MACHINE: what they write back is compared byte for byte.
#include <gtest/gtest.h>

#define SECURITY_WIN32
#include <windows.h>
#include <msi.h>
#include <security.h>

#include <string>

#include "frame/action.h"
#include "frame/handles.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

KVCA_ACTION SslRegInstall(MSIHANDLE);
KVCA_ACTION SslRegUninstall(MSIHANDLE);
KVCA_ACTION TlsRegUninstall(MSIHANDLE);
KVCA_ACTION SslRegister(MSIHANDLE);
KVCA_ACTION DelSecurityProviders30KC1(MSIHANDLE);

namespace {

using namespace kvca::test;
using namespace std::string_literals;
using Action = UINT(__stdcall*)(MSIHANDLE);

const std::wstring kLsa = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const std::wstring kProviders = L"SYSTEM\\CurrentControlSet\\Control\\SecurityProviders";

struct Case {
  Action action;
  DWORD type;
  std::wstring before;  // every byte stored, as stored
  DWORD typeAfter;
  std::wstring after;
};

// Stores the case's value under `key`, runs its action on the sandbox and
// compares the result, the type and every byte of the value afterwards.
void Check(const Case& each, const std::wstring& key, const wchar_t* name) {
  RegistrySandbox sandbox;
  kvca::RegKey stored;
  RegCreateKeyExW(sandbox.machine(), key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, stored.put(), nullptr);
  RegSetValueExW(stored.get(), name, 0, each.type, reinterpret_cast<const BYTE*>(each.before.data()),
                 static_cast<DWORD>(each.before.size() * sizeof(wchar_t)));
  UINT result;
  {
    RegistrySandbox::Redirect redirect(sandbox);
    result = each.action(0);
  }
  DWORD type = 0;
  std::wstring data;
  ReadRawValue(sandbox.machine(), key, name, type, data);
  const std::string before = ::testing::PrintToString(each.before);
  EXPECT_EQ(0u, result) << before;
  EXPECT_EQ(each.typeAfter, type) << before;
  EXPECT_EQ(each.after, data) << before;
}

TEST(SecurityPackageList, EditsEntriesByteExact) {
  const DWORD multi = REG_MULTI_SZ;
  const Case cases[] = {
      {SslRegInstall, multi, L"kerberos\0msv1_0\0schannel\0wdigest\0\0"s, multi, L"kerberos\0msv1_0\0wdigest\0kvssl\0\0"s},
      {SslRegInstall, multi, L"schannel\0\0"s, multi, L"kvssl\0\0"s},
      {SslRegInstall, multi, L"itcssp\0schannel\0\0"s, multi, L"schannel\0kvssl\0\0"s},
      {SslRegInstall, multi, L"schannel\0kvssl\0\0"s, multi, L"kvssl\0\0"s},
      {SslRegInstall, multi, L"kvssl\0schannel\0\0"s, multi, L"kvssl\0\0"s},
      {SslRegInstall, multi, L"\0"s, multi, L"kvssl\0\0"s},
      {SslRegInstall, multi, L"Schannel\0KVSSL\0\0"s, multi, L"Schannel\0KVSSL\0kvssl\0\0"s},
      {SslRegInstall, multi, L"schannel\0mykvssl\0\0"s, multi, L"mykvssl\0kvssl\0\0"s},
      {SslRegInstall, REG_BINARY, L"schannel\0msv1_0\0\0"s, REG_BINARY, L"msv1_0\0kvssl\0\0"s},
      {SslRegUninstall, multi, L"kerberos\0kvssl\0wdigest\0\0"s, multi, L"kerberos\0wdigest\0schannel\0\0"s},
      {SslRegUninstall, multi, L"kvssl\0\0"s, multi, L"schannel\0\0"s},
      {SslRegUninstall, multi, L"kvssl\0kvssl\0schannel\0\0"s, multi, L"kvssl\0schannel\0\0"s},
      {TlsRegUninstall, multi, L"kerberos\0kvtls\0kvssl\0\0"s, multi, L"kerberos\0kvssl\0\0"s},
      {TlsRegUninstall, multi, L"kerberos\0kvtls_old\0\0"s, multi, L"kerberos\0kvtls_old\0\0"s},
      {TlsRegUninstall, multi, L""s, multi, L"\0"s},  // no data at all: the empty list
  };
  for (const Case& each : cases) Check(each, kLsa, L"Security Packages");
}

TEST(SecurityPackageList, CreatesNothingWithoutTheValue) {
  for (Action action : {SslRegInstall, SslRegUninstall, TlsRegUninstall}) {
    RegistrySandbox sandbox;
    RegistrySandbox::Redirect redirect(sandbox);
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, action(0)) << "no Lsa key";
    kvca::RegKey lsa;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLsa.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, lsa.put(), nullptr);
    EXPECT_EQ(UINT{ERROR_FILE_NOT_FOUND}, action(0)) << "no value";
    EXPECT_EQ(L"", ValueNames(HKEY_LOCAL_MACHINE, kLsa));
  }
}

TEST(SecurityPackageList, RollbackIsTheUninstallExportedTwice) {
  kvca::ModuleHandle library(LoadLibraryW(LibraryPath().c_str()));
  ASSERT_TRUE(library.valid());
  EXPECT_NE(nullptr, GetProcAddress(library.get(), "SslRegRollback"));
  EXPECT_EQ(GetProcAddress(library.get(), "SslRegUninstall"), GetProcAddress(library.get(), "SslRegRollback"));
}

// The running LSA refuses a package that is not there (Windows) or answers
// E_NOTIMPL (Wine: AddSecurityPackageW is a stub); the action succeeds anyway.
TEST(SslRegister, SucceedsWhateverTheLsaAnswers) {
  SECURITY_PACKAGE_OPTIONS options = {sizeof options, SECPKG_OPTIONS_TYPE_LSA, 0, 0, nullptr};
  wchar_t package[] = L"kvssl";
  EXPECT_NE(SEC_E_OK, AddSecurityPackageW(package, &options));
  EXPECT_EQ(0u, SslRegister(0));
}

TEST(SecurityProviders, RemovesEveryKvsspEntryAndWritesOnlyWhenOneWasThere) {
  const DWORD sz = REG_SZ, expand = REG_EXPAND_SZ;
  const Case cases[] = {
      {DelSecurityProviders30KC1, sz, L"credssp.dll, kvssp.dll, msapsspc.dll\0"s, sz, L"credssp.dll, msapsspc.dll\0"s},
      {DelSecurityProviders30KC1, sz, L"a.dll, kvssp.dll, kvssp.dll\0"s, sz, L"a.dll\0"s},
      {DelSecurityProviders30KC1, expand, L"%windir%\\a.dll, kvssp.dll\0"s, sz, L"%windir%\\a.dll\0"s},
      // Nothing removed, nothing written: the type stays.
      {DelSecurityProviders30KC1, expand, L"kvssp.dll, credssp.dll\0"s, expand, L"kvssp.dll, credssp.dll\0"s},
      {DelSecurityProviders30KC1, expand, L"credssp.dll, KVSSP.dll\0"s, expand, L"credssp.dll, KVSSP.dll\0"s},
  };
  for (const Case& each : cases) Check(each, kProviders, L"SecurityProviders");

  RegistrySandbox sandbox;
  RegistrySandbox::Redirect redirect(sandbox);
  EXPECT_EQ(0u, DelSecurityProviders30KC1(0)) << "no provider list";
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kProviders));
}

}  // namespace
