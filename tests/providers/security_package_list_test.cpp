// The LSA package list editors against a sandboxed HKEY_LOCAL_MACHINE: the
// multi-string written back is compared byte for byte.
#include <gtest/gtest.h>

#define SECURITY_WIN32
#include <windows.h>
#include <msi.h>
#include <security.h>

#include <string>
#include <vector>

#include "frame/action.h"
#include "frame/handles.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

KVCA_ACTION SslRegInstall(MSIHANDLE);
KVCA_ACTION SslRegUninstall(MSIHANDLE);
KVCA_ACTION TlsRegUninstall(MSIHANDLE);
KVCA_ACTION SslRegister(MSIHANDLE);

namespace {

using namespace kvca::test;
using Action = UINT(__stdcall*)(MSIHANDLE);

const std::wstring kLsa = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const wchar_t kPackages[] = L"Security Packages";

// Entries each with its NUL, then the final NUL; no entries is a single NUL.
std::wstring MultiSz(const std::vector<std::wstring>& entries) {
  std::wstring data;
  for (const std::wstring& entry : entries) data += entry + L'\0';
  return data + L'\0';
}

struct Stored {
  UINT result;
  DWORD type;
  std::wstring data;
};

// Stores `data` as the list, runs `action` on the sandbox, reads the value back.
Stored RunOnList(Action action, DWORD type, const std::wstring& data) {
  RegistrySandbox sandbox;
  kvca::RegKey lsa;
  RegCreateKeyExW(sandbox.machine(), kLsa.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, lsa.put(), nullptr);
  RegSetValueExW(lsa.get(), kPackages, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size() * sizeof(wchar_t)));
  Stored after = {};
  {
    RegistrySandbox::Redirect redirect(sandbox);
    after.result = action(0);
  }
  ReadRawValue(sandbox.machine(), kLsa, kPackages, after.type, after.data);
  return after;
}

struct ListCase {
  Action action;
  std::vector<std::wstring> before;
  std::vector<std::wstring> after;
};

TEST(SecurityPackageList, EditsEntriesByteExact) {
  const ListCase cases[] = {
      {SslRegInstall, {L"kerberos", L"msv1_0", L"schannel", L"wdigest"}, {L"kerberos", L"msv1_0", L"wdigest", L"kvssl"}},
      {SslRegInstall, {L"schannel"}, {L"kvssl"}},
      {SslRegInstall, {L"itcssp", L"schannel"}, {L"schannel", L"kvssl"}},
      {SslRegInstall, {L"schannel", L"kvssl"}, {L"kvssl"}},
      {SslRegInstall, {L"kvssl", L"schannel"}, {L"kvssl"}},
      {SslRegInstall, {}, {L"kvssl"}},
      {SslRegInstall, {L"Schannel", L"KVSSL"}, {L"Schannel", L"KVSSL", L"kvssl"}},
      {SslRegInstall, {L"schannel", L"mykvssl"}, {L"mykvssl", L"kvssl"}},
      {SslRegInstall, {L"kvssl", L"kvssl"}, {L"kvssl", L"kvssl"}},
      {SslRegUninstall, {L"kerberos", L"kvssl", L"wdigest"}, {L"kerberos", L"wdigest", L"schannel"}},
      {SslRegUninstall, {L"kvssl"}, {L"schannel"}},
      {SslRegUninstall, {L"kvssl", L"kvssl", L"schannel"}, {L"kvssl", L"schannel"}},
      {SslRegUninstall, {}, {L"schannel"}},
      {TlsRegUninstall, {L"kerberos", L"kvtls", L"kvssl"}, {L"kerberos", L"kvssl"}},
      {TlsRegUninstall, {L"kerberos", L"kvtls_old"}, {L"kerberos", L"kvtls_old"}},
      {TlsRegUninstall, {}, {}},
  };
  for (const ListCase& each : cases) {
    const std::wstring before = MultiSz(each.before);
    const Stored stored = RunOnList(each.action, REG_MULTI_SZ, before);
    EXPECT_EQ(0u, stored.result);
    EXPECT_EQ(DWORD{REG_MULTI_SZ}, stored.type);
    EXPECT_EQ(MultiSz(each.after), stored.data) << "list before: " << ::testing::PrintToString(before);
  }
}

TEST(SecurityPackageList, WritesBackTheTypeThatWasRead) {
  // A list stored as binary data, and a value with no data at all.
  Stored binary = RunOnList(SslRegInstall, REG_BINARY, MultiSz({L"schannel", L"msv1_0"}));
  EXPECT_EQ(DWORD{REG_BINARY}, binary.type);
  EXPECT_EQ(MultiSz({L"msv1_0", L"kvssl"}), binary.data);

  Stored noData = RunOnList(TlsRegUninstall, REG_MULTI_SZ, std::wstring());
  EXPECT_EQ(0u, noData.result);
  EXPECT_EQ(MultiSz({}), noData.data);
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

}  // namespace
