// The CSP's service and the system checks in the reference package, installed,
// rolled back and removed with the real msiexec.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "frame/handles.h"
#include "support/installer_run.h"

namespace {

using namespace kvca::test;

const wchar_t kService[] = L"kvcsp2";

bool ServiceExists() {
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  kvca::ServiceHandle service(OpenServiceW(manager.get(), kService, SERVICE_QUERY_STATUS));
  return service.valid();
}

void ForgetService() {
  kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  kvca::ServiceHandle service(OpenServiceW(manager.get(), kService, DELETE));
  if (service) DeleteService(service.get());
}

std::string Ended(const std::string& action) { return ": " + action + ". Return value 1."; }

// Index of the last log line that holds `part`, or -1.
long LastLine(const MsiexecRun& run, const std::string& part) {
  long found = -1;
  for (size_t i = 0; i < run.log.size(); ++i)
    if (run.log[i].find(part) != std::string::npos) found = static_cast<long>(i);
  return found;
}

TEST(ReferencePackageServices, InstallCreatesTheCspServiceAndRemovalDeletesIt) {
  ForgetService();
  MsiexecRun install = InstallReferencePackage();
  ASSERT_EQ(0u, install.result.exitCode) << install.Excerpt("rror");
  EXPECT_TRUE(install.LogContains(Ended("CheckDll"))) << install.Excerpt("CheckDll");
  EXPECT_TRUE(install.LogContains(Ended("CheckVipNet"))) << install.Excerpt("CheckVipNet");
  EXPECT_FALSE(install.LogContains("Property(S): VIPNETFOUND")) << "no other vendor's CSP here";
  EXPECT_TRUE(install.LogHas("Property(S): MsiCreateService = kvcsp2/Korvex CSP Service"));

  {
    kvca::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    kvca::ServiceHandle service(OpenServiceW(manager.get(), kService, SERVICE_QUERY_CONFIG));
    ASSERT_TRUE(service.valid()) << install.Excerpt("MsiCreateService");
    BYTE block[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(block);
    DWORD size = 0;
    ASSERT_TRUE(QueryServiceConfigW(service.get(), config, sizeof block, &size));
    EXPECT_EQ(0x110u, config->dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config->dwStartType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config->dwErrorControl);
    EXPECT_STREQ(L"%SystemRoot%\\system32\\svchost.exe -k kvcsp", config->lpBinaryPathName);
    EXPECT_STREQ(L"Korvex CSP Service", config->lpDisplayName);
    EXPECT_STREQ(L"LocalSystem", config->lpServiceStartName);
  }

  MsiexecRun removal = RemoveReferencePackage();
  EXPECT_EQ(0u, removal.result.exitCode);
  EXPECT_FALSE(removal.LogContains(": MsiCreateService.")) << "created at the first installation only";
  EXPECT_FALSE(ServiceExists()) << removal.Excerpt("Services");
  ForgetService();
}

TEST(ReferencePackageServices, ForcedRollbackDeletesTheCspService) {
  ForgetService();
  MsiexecRun install = InstallReferencePackage(L"FORCEROLLBACK=1");
  EXPECT_EQ(1603u, install.result.exitCode);
  EXPECT_TRUE(install.LogContains(Ended("MsiCreateService"))) << install.Excerpt("MsiCreateService");
  EXPECT_TRUE(install.LogHas("Property(S): MsiCreateServiceRollback = kvcsp2"));
  // The rollback action runs once more, from the rollback script, after the failed step.
  const long failed = LastLine(install, ": ForceRollback. Return value 0.");
  ASSERT_NE(-1, failed) << install.Excerpt("ForceRollback");
  EXPECT_LT(failed, LastLine(install, Ended("MsiCreateServiceRollback"))) << install.Excerpt("ollback");
  EXPECT_FALSE(ServiceExists());
  ForgetService();
}

// Makes "secur32.dll" unloadable for every msiexec.exe process (the custom
// action servers included) through Wine's per-program DLL overrides: Wine reads
// WINEDLLOVERRIDES only from the environment a Wine process starts with from
// Linux, not from one set by a Windows parent.
class Secur32DisabledForMsiexec {
 public:
  Secur32DisabledForMsiexec() {
    RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key_.put(), nullptr);
    RegSetValueExW(key_.get(), L"secur32", 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), sizeof(wchar_t));
  }
  ~Secur32DisabledForMsiexec() { RegDeleteValueW(key_.get(), L"secur32"); }
  bool valid() const { return key_.valid(); }

 private:
  static constexpr const wchar_t* kKey = L"Software\\Wine\\AppDefaults\\msiexec.exe\\DllOverrides";
  kvca::RegKey key_;
};

// Without "secur32.dll" the installation stops at CheckDll, before anything
// changes the machine.
TEST(ReferencePackageServices, CheckDllStopsTheInstallationWhenALibraryIsMissing) {
  ForgetService();
  MsiexecRun install;
  {
    Secur32DisabledForMsiexec disabled;
    ASSERT_TRUE(disabled.valid());
    install = InstallReferencePackage();
  }
  EXPECT_EQ(1603u, install.result.exitCode);
  EXPECT_TRUE(install.LogHas("The system library secur32.dll could not be loaded, error code 126."))
      << install.Excerpt("CheckDll");
  EXPECT_FALSE(install.LogContains(": CheckVipNet.")) << "nothing runs after the failed check";
  EXPECT_FALSE(ServiceExists());
  if (install.result.exitCode == 0) RemoveReferencePackage();
}

}  // namespace
