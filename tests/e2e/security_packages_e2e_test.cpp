// The TLS package's place in the LSA's list through the real msiexec: install,
// removal and a rollback forced late in the installation.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "frame/handles.h"
#include "support/installer_run.h"
#include "support/registry_sandbox.h"

namespace {

using namespace kvca::test;
using namespace std::string_literals;

const std::wstring kLsa = L"SYSTEM\\CurrentControlSet\\Control\\Lsa";
const std::wstring kProviders = L"SYSTEM\\CurrentControlSet\\Control\\SecurityProviders";

// The lists as a Windows 7 machine has them (Wine starts with kerberos and
// schannel only, and no provider list).
const std::wstring kWindowsPackages = L"kerberos\0msv1_0\0schannel\0wdigest\0tspkg\0pku2u\0\0"s;
const std::wstring kWindowsProviders = L"credssp.dll\0"s;
const std::wstring kWithKvssl = L"kerberos\0msv1_0\0wdigest\0tspkg\0pku2u\0kvssl\0\0"s;
const std::wstring kSchannelLast = L"kerberos\0msv1_0\0wdigest\0tspkg\0pku2u\0schannel\0\0"s;

void SetValue(const std::wstring& key, const wchar_t* name, DWORD type, const std::wstring& data) {
  kvca::RegKey opened;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(), nullptr);
  RegSetValueExW(opened.get(), name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                 static_cast<DWORD>(data.size() * sizeof(wchar_t)));
}

std::wstring ValueData(const std::wstring& key, const wchar_t* name, DWORD expectedType) {
  DWORD type = 0;
  std::wstring data;
  if (!ReadRawValue(HKEY_LOCAL_MACHINE, key, name, type, data)) return L"<missing>";
  return type == expectedType ? data : L"<type " + std::to_wstring(type) + L">";
}

// Puts a value back as it was (or deletes it) when the test ends.
class RestoredValue {
 public:
  RestoredValue(std::wstring key, const wchar_t* name) : key_(std::move(key)), name_(name) {
    existed_ = ReadRawValue(HKEY_LOCAL_MACHINE, key_, name_, type_, data_);
  }
  ~RestoredValue() {
    kvca::RegKey opened;
    if (existed_)
      SetValue(key_, name_, type_, data_);
    else if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, KEY_SET_VALUE, opened.put()) == ERROR_SUCCESS)
      RegDeleteValueW(opened.get(), name_);
  }

 private:
  std::wstring key_;
  const wchar_t* name_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::wstring data_;
};

class SecurityPackagesE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    SetValue(kLsa, L"Security Packages", REG_MULTI_SZ, kWindowsPackages);
    SetValue(kProviders, L"SecurityProviders", REG_SZ, kWindowsProviders);
  }
  std::wstring Packages() { return ValueData(kLsa, L"Security Packages", REG_MULTI_SZ); }

  RestoredValue packages_{kLsa, L"Security Packages"};
  RestoredValue providers_{kProviders, L"SecurityProviders"};
};

// Lines "Action ended <time>: <action>. Return value 1." Wine logs one when it
// schedules a deferred or rollback action and one each time the script runs it.
size_t SucceededRuns(const MsiexecRun& run, const std::string& action) {
  size_t count = 0;
  for (const std::string& line : run.log)
    count += line.rfind("Action ended ", 0) == 0 && line.find(": " + action + ". Return value 1.") != std::string::npos;
  return count;
}

TEST_F(SecurityPackagesE2E, InstallAppendsKvsslAndRemovalPutsSchannelBack) {
  MsiexecRun install = InstallReferencePackage();
  EXPECT_EQ(0u, install.result.exitCode);
  EXPECT_EQ(2u, SucceededRuns(install, "SslRegInstall")) << install.Excerpt("SslReg");
  EXPECT_EQ(2u, SucceededRuns(install, "SslRegister")) << "Wine's LSA refuses the package";
  EXPECT_EQ(1u, SucceededRuns(install, "SslRegRollback")) << "scheduled, never run";
  EXPECT_EQ(kWithKvssl, Packages());

  // What an earlier version of the product left in both lists goes at removal too.
  SetValue(kLsa, L"Security Packages", REG_MULTI_SZ, L"kerberos\0msv1_0\0wdigest\0tspkg\0pku2u\0kvssl\0kvtls\0\0"s);
  SetValue(kProviders, L"SecurityProviders", REG_SZ, L"credssp.dll, kvssp.dll\0"s);
  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_EQ(2u, SucceededRuns(removal, "SslRegUninstall")) << removal.Excerpt("SslReg");
  EXPECT_EQ(kSchannelLast, Packages());
  EXPECT_EQ(kWindowsProviders, ValueData(kProviders, L"SecurityProviders", REG_SZ));
}

TEST_F(SecurityPackagesE2E, ForcedRollbackTakesKvsslOutAndPutsSchannelBack) {
  MsiexecRun install = InstallReferencePackage(L"FORCEROLLBACK=1");
  EXPECT_EQ(1603u, install.result.exitCode);
  EXPECT_EQ(2u, SucceededRuns(install, "SslRegInstall")) << install.Excerpt("SslReg");
  EXPECT_EQ(2u, SucceededRuns(install, "SslRegRollback")) << install.Excerpt("SslReg");
  EXPECT_EQ(kSchannelLast, Packages());
}

}  // namespace
